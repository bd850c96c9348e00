#include "Progress.h"

#include <algorithm>

#include "ExchangeRecords.h"
#include "platform/Errors.h"
#include "protocol/Exchange.h"
#include "protocol/Methods.h"

namespace trd::server {
namespace {

using namespace protocol;

// The packet a look-up answered (moved out of the value).
Packet PacketOf(Value v, std::string_view method) {
  auto* p = std::get_if<Packet>(&v);
  if (!p) throw ProtocolError(std::string(method) + " answered " + KindName(v) + ", not a packet");
  return std::move(*p);
}

std::string TextOf(const FieldValue& v) {
  const auto* s = std::get_if<std::string>(&v);
  return s ? *s : std::string();
}

std::int64_t CountOf(const FieldValue& v) {
  const auto* d = std::get_if<double>(&v);
  return d ? std::int64_t(*d) : 0;
}

struct Coverage CoverageOf(const Row& row) {  // the type, not ExchangeRecords.h's look-up
  return {CountOf(row[kCovTotal]), CountOf(row[kCovTranslated]), CountOf(row[kCovUntranslated]),
          CountOf(row[kCovUntranslatable])};
}

ListedRecord ListedOf(const Row& row) {
  ListedRecord r;
  r.key = KeyOfRecord(row);
  r.source = TextOf(row[kStAgrValProp]);
  r.text = TextOf(row[kStValorProp]);
  r.state = TextOf(row[kIdSitTraducao]);
  if (const auto* t = std::get_if<DateTime>(&row[kDtUltAtuTrad])) r.when = *t;
  return r;
}

Value Text(std::string_view s) { return std::string(s); }

}  // namespace

std::vector<LanguageProgress> ProgressReader::Languages() {
  // The names from the language list, the counts from the coverage (which
  // also holds codes the records use without the list knowing them).
  const Packet names = PacketOf(service_.Call(kModuleForms, kGetIdiLeDfm, {}), kGetIdiLeDfm);
  const Value args[] = {Text("")};
  const Packet counts = PacketOf(service_.Call(kModuleExchange, kGetCobertura, args), kGetCobertura);
  std::vector<LanguageProgress> out;
  for (const Row& row : counts.rows) {
    LanguageProgress l{TextOf(row[kCovLanguage]), {}, CoverageOf(row)};
    for (const Row& n : names.rows)
      if (TextOf(n[0]) == l.code) l.name = TextOf(n[1]);
    out.push_back(std::move(l));
  }
  return out;
}

std::vector<ProgramProgress> ProgressReader::Programs(std::string_view language) {
  const Value args[] = {Text(language)};
  const Packet counts = PacketOf(service_.Call(kModuleExchange, kGetCobertura, args), kGetCobertura);
  std::vector<ProgramProgress> out;
  for (const Row& row : counts.rows) out.push_back({TextOf(row[kCovProgram]), CoverageOf(row)});
  return out;
}

std::vector<ListedRecord> ProgressReader::Recent(const std::vector<std::string>& languages, std::size_t limit) {
  // The latest of each language, merged: the latest `limit` of all are
  // among them.
  std::vector<ListedRecord> out;
  if (limit == 0) return out;
  for (const std::string& language : languages) {
    const Value args[] = {Text(language), Text(StateFilterName(StateFilter::All)), Text(""), Text(""),
                          Text(RecordOrderName(RecordOrder::Recent)), Text(""), std::int64_t(limit)};
    const Packet page = PacketOf(service_.Call(kModuleExchange, kGetRegistros, args), kGetRegistros);
    for (const Row& row : page.rows)
      if (std::holds_alternative<DateTime>(row[kDtUltAtuTrad])) out.push_back(ListedOf(row));
  }
  std::stable_sort(out.begin(), out.end(), [](const ListedRecord& a, const ListedRecord& b) { return a.when > b.when; });
  if (out.size() > limit) out.resize(limit);
  return out;
}

SearchPage ProgressReader::Search(std::string_view needle, std::string_view after, std::size_t limit) {
  const Value args[] = {Text(""), Text(needle), Text(TextMatchName(TextMatch::Folded)), Text(after),
                        std::int64_t(limit)};
  const Packet page = PacketOf(service_.Call(kModuleExchange, kGetTextos, args), kGetTextos);
  SearchPage out;
  TextsQuery count;
  count.filter = std::string(needle);
  count.match = TextMatch::Folded;
  out.text_count = CountTexts(*service_.Storage().AcquireReader(), count);
  for (const Row& row : page.rows) {
    ListedRecord r = ListedOf(row);
    if (out.texts.empty() || out.texts.back().source != r.source) out.texts.push_back({r.source, {}});
    out.texts.back().records.push_back(std::move(r));
  }
  if (!page.rows.empty() && !IsLastPage(page, limit)) out.next = CursorAfter(CursorKind::Text, page.rows.back());
  return out;
}

std::optional<DateTime> ProgressReader::LastHarvest() {
  const Packet version = PacketOf(service_.Call(kModuleForms, kGetVersao, {}), kGetVersao);
  if (version.rows.empty() || version.rows[0].empty()) return std::nullopt;
  if (const auto* t = std::get_if<DateTime>(&version.rows[0][0])) return *t;
  return std::nullopt;
}

std::vector<UserActivity> ProgressReader::Activity(int days) {
  const DateTime since{DateTime::Now().ms - std::int64_t(days) * 24 * 3600 * 1000};
  return ActivitySince(*service_.Storage().AcquireReader(), since);
}

}  // namespace trd::server
