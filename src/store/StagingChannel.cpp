#include "StagingChannel.h"

#include <cstdint>
#include <optional>

#include "DryRun.h"
#include "Record.h"
#include "RecordBatch.h"
#include "platform/Text.h"
#include "protocol/Methods.h"
#include "shared/Services.h"

namespace trd::store {
namespace {

std::string NumberText(const RecordKey& key) { return std::to_string(std::int64_t(key.number)); }

}  // namespace

StagingChannel::StagingChannel(Store& store, RecordTables tables, ChannelStyle style)
    : store_(store), tables_(tables), style_(style) {}

shared::HideBusy StagingChannel::ReportsHide(shared::HideBusy when) const {
  return style_.busy_off == ChannelStyle::BusyOff::AfterLookupsAndFailures ? when : shared::HideBusy::Never;
}

bool StagingChannel::HoldsValue(const RecordKey& key, const RecordText& text) {
  {
    shared::BusyGuard busy_off(store_.Services());
    Lookup(store_.Services(), tables_.by_value, tables_.records, tables_.by_value_method,
           {key.program, key.form, key.component, key.property, NumberText(key), shared::RTrim(text.value),
            key.language});
  }
  return !tables_.by_value.IsEmpty();
}

std::optional<std::string> StagingChannel::SourceOfKey(const RecordKey& key) {
  {
    shared::BusyGuard busy_off(store_.Services(), ReportsHide(shared::HideBusy::Always));
    Lookup(store_.Services(), tables_.by_key, tables_.records, tables_.by_key_method,
           {key.program, key.form, key.component, key.property, NumberText(key), key.language});
  }
  if (tables_.by_key.IsEmpty()) return std::nullopt;
  return tables_.by_key.AsString(protocol::FieldName(protocol::kStAgrValProp));
}

RecordResult StagingChannel::Apply(const RecordKey& key, std::string_view text) {
  if (store_.dry_run) return store_.dry_run->Apply(*this, key, text);
  if (!store_.batch) return ApplyRecordRule(*this, key, text);
  const RecordText t(text);
  store_.batch->Add(key, t, Accepts(key, t) ? protocol::Declined::No : protocol::Declined::Yes,
                    LooksUpTranslation(t) ? protocol::TranslationLookUp::Yes : protocol::TranslationLookUp::No);
  return {};
}

bool StagingChannel::LooksUpTranslation(const RecordText& text) const {
  // A text that had to be cut is longer than any stored source text: the
  // look-up of the whole text could find nothing (and may not even fit a
  // request), so it is not sent.
  return style_.translation_source == ChannelStyle::TranslationSource::Value || text.value.size() == text.read.size();
}

void StagingChannel::DeleteRecord(const RecordKey&) { tables_.by_key.Delete(); }

void StagingChannel::InsertRecord(const RecordKey& key, const RecordText& text) {
  // The send settles what it can (RecordRace); a key_taken refusal left
  // standing means the key holds another text now: the result check raises
  // it as KeyTakenError, and the rule looks at the key again.
  PostNewRecord(tables_.created, key, text.value);
}

std::optional<std::string> StagingChannel::FindTranslation(const RecordKey& key, const RecordText& text) {
  if (!LooksUpTranslation(text)) return std::nullopt;
  const bool whole = style_.translation_source == ChannelStyle::TranslationSource::WholeText;
  shared::BusyGuard busy_off(store_.Services(), ReportsHide(shared::HideBusy::OnFailure));
  const std::string source(whole ? text.read : text.value);
  Lookup(store_.Services(), tables_.translated, tables_.translations, protocol::kGetUpdRelDfm,
         {source, key.language});
  if (tables_.translated.IsEmpty()) return std::nullopt;
  return tables_.translated.AsString(protocol::FieldName(protocol::kStValorProp));
}

void StagingChannel::StoreTranslation(const RecordKey& key, const std::string& translation) {
  shared::BusyGuard busy_off(store_.Services(), ReportsHide(shared::HideBusy::OnFailure));
  const bool typed = style_.update_arguments == ChannelStyle::UpdateArguments::Typed;
  Value number = typed ? Value(std::int64_t(key.number)) : Value(NumberText(key));
  Value now = typed ? Value(DateTime::Now()) : Value(DateTimeToText(DateTime::Now(), *style_.dates));
  Value result = tables_.translations.Call(
      protocol::kUpdateRelDfm, {key.program, key.form, key.component, key.property, std::move(number),
                                key.language, translation, std::string(protocol::kStateTranslated), std::move(now)});
  store_.Services().CheckResultServ(result, true, 0);
}

void StagingChannel::Reached(RuleStep step, const RecordText& text) {
  if (step == RuleStep::StoredMeanwhile) ++store_.stats.already_stored;  // stored by another client
  if (step == RuleStep::Skipped) ++store_.stats.skipped;
  Notice(step, text);
}

}  // namespace trd::store
