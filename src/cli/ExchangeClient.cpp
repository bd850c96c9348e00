#include "ExchangeClient.h"

#include <cstdint>
#include <iterator>
#include <unordered_set>

#include "ExchangeRows.h"

#include "platform/Errors.h"
#include "platform/Text.h"
#include "protocol/Failures.h"
#include "protocol/Methods.h"

namespace trd::cli {

using namespace protocol;

namespace {
// Pages of the listings: the largest the server answers.
constexpr std::int64_t kPage = std::int64_t(kMaxPageRows);

std::string Join(const std::vector<std::string>& v, std::string_view sep) {
  std::string s;
  for (const auto& x : v) s += (s.empty() ? "" : std::string(sep)) + x;
  return s;
}
}  // namespace

ExchangeClient::ExchangeClient(const ServerChoice& server)
    : exchange_("exchange", std::string(kModuleExchange), server.Transports()),
      forms_("forms", std::string(kModuleForms), server.Transports()) {
  for (Connection* c : {&exchange_, &forms_}) {
    c->host = server.Address().host;
    c->port = server.Address().port;
  }
}

Value ExchangeClient::Call(Connection& c, std::string_view method, std::vector<Value> args) {
  Value v = c.Call(method, std::move(args));
  if (const auto* f = std::get_if<ServerFailure>(&v))
    protocol::RaiseFailure(ServerFailure{"the server failed: " + f->message, f->code});
  return v;
}

Packet ExchangeClient::Page(std::string_view method, std::vector<Value> args) {
  Value v = Call(exchange_, method, std::move(args));
  if (auto* p = std::get_if<Packet>(&v)) return std::move(*p);
  throw ProtocolError(std::string(method) + " answered a " + KindName(v) + ", not a packet");
}

std::vector<std::string> ExchangeClient::Languages() {
  Value v = Call(forms_, kGetIdiLeDfm, {});
  const auto* p = std::get_if<Packet>(&v);
  if (!p) throw ProtocolError(std::string(kGetIdiLeDfm) + " answered no packet");
  std::vector<std::string> codes;
  for (const Row& r : p->rows)
    if (const auto* s = std::get_if<std::string>(&r.at(0))) codes.push_back(*s);
  return codes;
}

std::string ExchangeClient::KnownLanguage(const std::string& code) {
  const std::vector<std::string> known = Languages();
  for (const auto& k : known)
    if (text::EqualsIgnoreCase(k, code)) return k;
  throw Error("unknown language \"" + code + "\"; the server knows " + Join(known, ", "));
}

void ExchangeClient::ForEachRecord(const RecordFilter& f, const std::function<void(const Row&)>& visit) {
  std::string cursor;
  for (;;) {
    Packet p = Page(kGetRegistros, {f.language, std::string(StateFilterName(f.state)), Join(f.programs, ","),
                                    std::string(), std::string(RecordOrderName(RecordOrder::Key)), cursor, kPage});
    for (const Row& r : p.rows) visit(r);
    if (IsLastPage(p, std::size_t(kPage))) return;
    cursor = CursorAfter(CursorKind::Key, p.rows.back());
  }
}

void ExchangeClient::ForEachText(
    const std::string& language,
    const std::function<void(const std::string& source, const std::vector<Row>& records)>& visit) {
  std::string cursor;
  std::string source;
  std::vector<Row> records;  // of `source`, which may continue on the next page
  for (;;) {
    Packet p = Page(kGetTextos, {language, std::string(), std::string(TextMatchName(TextMatch::Exact)), cursor, kPage});
    for (Row& r : p.rows) {
      if (!records.empty() && RowText(r, kStAgrValProp) != source) {
        visit(source, records);
        records.clear();
      }
      if (records.empty()) source = RowText(r, kStAgrValProp);
      records.push_back(std::move(r));
    }
    if (IsLastPage(p, std::size_t(kPage))) break;
    cursor = CursorAfter(CursorKind::Text, records.back());
  }
  if (!records.empty()) visit(source, records);
}

void ExchangeClient::InBatches(const std::vector<std::string>& texts,
                               const std::function<void(std::size_t, std::size_t)>& ask) {
  for (std::size_t first = 0; first < texts.size();) {
    std::size_t last = first, bytes = 0;
    while (last < texts.size() && last - first < kMaxTextsAsked && (last == first || bytes + texts[last].size() + 64 <= kBatchBytes))
      bytes += texts[last++].size() + 64;
    ask(first, last);
    first = last;
  }
}

std::vector<ExchangeClient::TextRecords> ExchangeClient::RecordsOfTexts(const std::string& language,
                                                                       const std::string& programs,
                                                                       const std::vector<std::string>& texts) {
  std::vector<TextRecords> out;
  InBatches(texts, [&](std::size_t first, std::size_t last) {
    std::string cursor;
    while (first < last) {
      Packet asked{TextListFields(), {}};
      for (std::size_t i = first; i < last; ++i) asked.rows.push_back({texts[i]});
      Packet p = Page(kGetRegTextos, {language, programs, std::move(asked), cursor, kPage});
      for (Row& r : p.rows) {
        const std::string source = RowText(r, kStAgrValProp);
        if (out.empty() || out.back().source != source) out.push_back({source, {}});
        out.back().records.push_back(std::move(r));
      }
      if (IsLastPage(p, std::size_t(kPage))) break;
      // A full page: the last text may go on; ask again from it.
      const Row& last_row = out.back().records.back();
      while (first < last && texts[first] != out.back().source) ++first;
      cursor = CursorAfter(CursorKind::Text, last_row);
    }
  });
  return out;
}

void ExchangeClient::ForEachTextInKeyOrder(const std::string& language, const std::vector<std::string>& programs,
                                           const std::function<void(std::vector<TextRecords>&)>& visit) {
  // Texts seen, by two independent 64-bit hashes of each.
  struct PairHash {
    std::size_t operator()(const std::pair<std::uint64_t, std::uint64_t>& p) const { return p.first; }
  };
  std::unordered_set<std::pair<std::uint64_t, std::uint64_t>, PairHash> seen;
  auto fnv = [](const std::string& s) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return h;
  };
  const std::string program_list = Join(programs, ",");
  std::string cursor;
  for (;;) {
    Packet p = Page(kGetRegistros, {language, std::string(StateFilterName(StateFilter::All)), program_list,
                                    std::string(), std::string(RecordOrderName(RecordOrder::Key)), cursor, kPage});
    std::vector<std::string> fresh;
    for (const Row& r : p.rows) {
      const auto* s = std::get_if<std::string>(&r.at(kStAgrValProp));
      if (s && seen.insert({std::hash<std::string>{}(*s), fnv(*s)}).second) fresh.push_back(*s);
    }
    if (!fresh.empty()) {
      std::vector<TextRecords> batch = RecordsOfTexts(language, program_list, fresh);
      visit(batch);
    }
    if (IsLastPage(p, std::size_t(kPage))) return;
    cursor = CursorAfter(CursorKind::Key, p.rows.back());
  }
}

std::vector<Row> ExchangeClient::Suggestions(const std::string& language, const std::vector<std::string>& texts) {
  std::vector<Row> out;
  InBatches(texts, [&](std::size_t first, std::size_t last) {
    // An answer cut at the page's byte bound holds the first texts' rows.
    while (first < last) {
      Packet asked{TextListFields(), {}};
      for (std::size_t i = first; i < last; ++i) asked.rows.push_back({texts[i]});
      Packet p = Page(kGetSugestoes, {language, std::move(asked)});
      if (p.rows.empty() || p.rows.size() > last - first)
        throw ProtocolError(std::string(kGetSugestoes) + " answered " + std::to_string(p.rows.size()) +
                            " suggestions for " + std::to_string(last - first) + " texts");
      first += p.rows.size();
      std::move(p.rows.begin(), p.rows.end(), std::back_inserter(out));
    }
  });
  return out;
}

namespace {

// The rows of `coverage` of `programs` (every row when none is named).
Packet CoverageOf(Packet coverage, const std::vector<std::string>& programs) {
  if (programs.empty()) return coverage;
  const std::unordered_set<std::string> wanted(programs.begin(), programs.end());
  std::erase_if(coverage.rows, [&](const Row& r) {
    const auto* program = std::get_if<std::string>(&r.at(kCovProgram));
    return !program || !wanted.count(*program);
  });
  return coverage;
}

}  // namespace

Packet ExchangeClient::Coverage(const std::string& language, const std::vector<std::string>& programs) {
  // Without programs, the request an older server takes too.
  if (programs.empty() || whole_coverage_only_) return CoverageOf(Page(kGetCobertura, {language}), programs);
  try {
    return Page(kGetCobertura, {language, Join(programs, ",")});
  } catch (const ServerFailureError& e) {
    // A server older than the programs argument refuses it as malformed:
    // ask it the whole language from then on and keep the programs asked.
    if (e.Code() != FailureCode::Malformed) throw;
    whole_coverage_only_ = true;
    return CoverageOf(Page(kGetCobertura, {language}), programs);
  }
}

Packet ExchangeClient::HistoryPages(std::vector<Value> args) {
  args.emplace_back(0.0);
  Packet all;
  for (;;) {
    Packet p = Page(kGetHistorico, args);
    if (p.fields.empty() || p.fields.back().name != "NRHISTORICO")
      throw ProtocolError(std::string(kGetHistorico) + " answered a page without the changes' numbers");
    const bool last = IsLastPage(p, protocol::kHistoryPageRows);
    if (!p.rows.empty()) {
      const auto* number = std::get_if<double>(&p.rows.back().back());
      if (!number) throw ProtocolError(std::string(kGetHistorico) + " answered a change without its number");
      args.back() = *number;
    }
    if (all.fields.empty()) all.fields = std::move(p.fields);
    std::move(p.rows.begin(), p.rows.end(), std::back_inserter(all.rows));
    if (last) break;
  }
  // The number was the cursor only.
  all.fields.pop_back();
  for (Row& r : all.rows) r.pop_back();
  return all;
}

Packet ExchangeClient::HistoryOfKey(const RecordKey& key) {
  return HistoryPages({key.language, std::monostate{}, key.program, key.form, key.component, key.property,
                       key.number});
}

Packet ExchangeClient::HistoryOfText(const std::string& language, const std::string& source) {
  return HistoryPages({language, source, std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{},
                       std::monostate{}});
}

Packet ExchangeClient::SetTranslations(const std::string& language, Packet changes, SetMode mode) {
  const std::size_t n = changes.rows.size();
  Packet p = Page(kSetTraducoes, {language, std::move(changes), std::string(SetModeName(mode))});
  if (p.rows.size() != n)
    throw ProtocolError(std::string(kSetTraducoes) + " answered " + std::to_string(p.rows.size()) + " outcomes for " +
                        std::to_string(n) + " changes");
  return p;
}

Packet ExchangeClient::Retire(const std::string& language, Packet records) {
  const std::size_t n = records.rows.size();
  Packet p = Page(kRetRegistros, {language, std::move(records)});
  if (p.rows.size() != n)
    throw ProtocolError(std::string(kRetRegistros) + " answered " + std::to_string(p.rows.size()) + " outcomes for " +
                        std::to_string(n) + " records");
  return p;
}

Packet ExchangeClient::Review(const std::string& language, ReviewAction action, Packet records) {
  const std::size_t n = records.rows.size();
  Packet p = Page(kSetRevisao, {language, std::string(ReviewActionName(action)), std::move(records)});
  if (p.rows.size() != n)
    throw ProtocolError(std::string(kSetRevisao) + " answered " + std::to_string(p.rows.size()) + " outcomes for " +
                        std::to_string(n) + " entries");
  return p;
}

}  // namespace trd::cli
