#include "RecordBatch.h"

#include <variant>

#include "Store.h"
#include "protocol/Methods.h"

namespace trd::store {
namespace {

// A row's share of the encoded request beyond its texts: field separators,
// the number, the flags.
constexpr std::size_t kRowOverhead = 96;

std::string Flag(bool yes) { return std::string(yes ? protocol::kYes : protocol::kNo); }

}  // namespace

RecordBatch::RecordBatch(Store& store, std::string language, PartSize part)
    : store_(store), language_(std::move(language)), part_(part), records_{protocol::BatchRecordFields(), {}} {}

void RecordBatch::Add(const RecordKey& key, const RecordText& text, protocol::Declined declined,
                      protocol::TranslationLookUp look_up) {
  if (StorableText(text.value) == Storable::No) {
    ++unsent_skipped_;
    return;
  }
  const std::size_t bytes = kRowOverhead + key.program.size() + key.form.size() + key.component.size() +
                            key.property.size() + text.value.size();
  if (!records_.rows.empty() && (bytes_ + bytes > part_.bytes || records_.rows.size() >= part_.texts)) Send();
  records_.rows.push_back({key.program, key.form, key.component, key.property, key.number, text.value,
                           Flag(declined == protocol::Declined::No),
                           Flag(look_up == protocol::TranslationLookUp::Yes)});
  bytes_ += bytes;
}

void RecordBatch::Discard() {
  records_.rows.clear();
  bytes_ = 0;
  unsent_skipped_ = 0;
}

void RecordBatch::Send() {
  const long unsent_skipped = unsent_skipped_;
  Packet part{records_.fields, std::move(records_.rows)};
  Discard();
  RunStats& stats = store_.stats;
  stats.texts_seen += unsent_skipped;
  stats.skipped += unsent_skipped;
  if (part.rows.empty()) return;
  const std::size_t sent = part.rows.size();
  const shared::Services& services = store_.Services();
  Value result;
  {
    shared::BusyGuard busy(services, shared::ShowAviKind::Transfer);
    ++calls_;
    result = store_.NetTradRelDfm.Call(protocol::kSetPropriedArq, {Value(language_), Value(std::move(part))});
  }
  const Value& payload = services.CheckResultServ(result, true, 0);
  const auto* outcomes = std::get_if<Packet>(&payload);
  if (!outcomes || outcomes->rows.size() != sent || outcomes->fields != protocol::BatchResultFields())
    throw ServerError(std::string(protocol::kSetPropriedArq) + " did not return one outcome per record (" +
                      std::to_string(sent) + " sent)");
  for (const Row& row : outcomes->rows) {
    const auto* name = std::get_if<std::string>(&row[protocol::kBatchOutcome]);
    const std::optional<RecordOutcome> outcome = name ? OutcomeNamed(*name) : std::nullopt;
    if (!outcome) throw ServerError(std::string(protocol::kSetPropriedArq) + " returned an unknown outcome");
    ++stats.texts_seen;
    switch (*outcome) {
      case RecordOutcome::StoredAlready:
      case RecordOutcome::StoredMeanwhile: ++stats.already_stored; break;
      case RecordOutcome::Skipped: ++stats.skipped; break;
      case RecordOutcome::Replaced: ++stats.replaced; [[fallthrough]];
      case RecordOutcome::Created: ++stats.created; break;
    }
    const auto* reused = std::get_if<std::string>(&row[protocol::kBatchTranslation]);
    if (reused && *reused == protocol::kYes) ++stats.translations_reused;
  }
}

}  // namespace trd::store
