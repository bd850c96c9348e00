#include "Exchange.h"

#include <array>
#include <cmath>

#include <nlohmann/json.hpp>

#include "platform/Errors.h"
#include "platform/Text.h"

namespace trd::protocol {
namespace {

template <class E, std::size_t N>
std::optional<E> ParseName(std::string_view s, const std::array<std::string_view, N>& names) {
  for (std::size_t i = 0; i < N; ++i)
    if (text::EqualsIgnoreCase(s, names[i])) return E(i);
  return std::nullopt;
}

constexpr std::array<std::string_view, 5> kStateFilters = {"all", "translated", "untranslated", "unreviewed",
                                                           "approved"};
constexpr std::array<std::string_view, 2> kOrders = {"key", "recent"};
constexpr std::array<std::string_view, 3> kMatches = {"exact", "ascii-nocase", "folded"};
constexpr std::array<std::string_view, 2> kModes = {"apply", "dry-run"};
constexpr std::array<std::string_view, 4> kOutcomes = {"translated", "already", "stale", "missing"};
constexpr std::array<std::string_view, 3> kRetireOutcomes = {"retired", "missing", "changed"};
constexpr std::array<std::string_view, 2> kReviewActions = {"approve", "send-back"};
constexpr std::array<std::string_view, 5> kReviewOutcomes = {"reviewed", "already", "untranslated", "changed",
                                                             "missing"};

FieldDef Count(const char* name) { return {name, FieldType::Float, 0}; }

const std::string& TextAt(const Row& r, RecordField f) {
  if (const auto* s = std::get_if<std::string>(&r.at(std::size_t(f)))) return *s;
  throw ProtocolError("the record's " + FieldName(f) + " is not text");
}

}  // namespace

std::optional<StateFilter> ParseStateFilter(std::string_view s) {
  if (s.empty()) return StateFilter::All;
  return ParseName<StateFilter>(s, kStateFilters);
}
std::string_view StateFilterName(StateFilter f) { return kStateFilters[std::size_t(f)]; }

std::optional<RecordOrder> ParseRecordOrder(std::string_view s) {
  if (s.empty()) return RecordOrder::Key;
  return ParseName<RecordOrder>(s, kOrders);
}
std::string_view RecordOrderName(RecordOrder o) { return kOrders[std::size_t(o)]; }

std::optional<TextMatch> ParseTextMatch(std::string_view s) {
  if (s.empty()) return TextMatch::Exact;
  return ParseName<TextMatch>(s, kMatches);
}
std::string_view TextMatchName(TextMatch m) { return kMatches[std::size_t(m)]; }

std::optional<SetMode> ParseSetMode(std::string_view s) { return ParseName<SetMode>(s, kModes); }
std::string_view SetModeName(SetMode m) { return kModes[std::size_t(m)]; }

std::optional<SetOutcome> ParseSetOutcome(std::string_view s) { return ParseName<SetOutcome>(s, kOutcomes); }
std::string_view SetOutcomeName(SetOutcome o) { return kOutcomes[std::size_t(o)]; }

const std::vector<FieldDef>& CoverageFields() {
  static const std::vector<FieldDef> f = {RecordFields()[kIdIdioma], RecordFields()[kCdPrograma],
                                          Count("NRTOTAL"), Count("NRTRADUZIDO"), Count("NRPENDENTE"),
                                          Count("NRNAOTRADUZIVEL")};
  return f;
}

const std::vector<FieldDef>& TranslationChangeFields() {
  const auto& r = RecordFields();
  static const std::vector<FieldDef> f = {r[kCdPrograma],   r[kNmFormulario], r[kNmComponente],
                                          r[kNmPropriedade], r[kNrValorProp], r[kStAgrValProp],
                                          r[kStValorProp]};
  return f;
}

const std::vector<FieldDef>& TranslationOutcomeFields() {
  static const std::vector<FieldDef> f = {{"IDRESULTADO", FieldType::String, 10}, Count("NRTRADUZIDO"),
                                          Count("NRJATRADUZIDO")};
  return f;
}

const std::vector<FieldDef>& RetireFields() {
  const auto& r = RecordFields();
  static const std::vector<FieldDef> f = {r[kCdPrograma],    r[kNmFormulario], r[kNmComponente],
                                          r[kNmPropriedade], r[kNrValorProp], r[kStAgrValProp]};
  return f;
}

const std::vector<FieldDef>& RetireOutcomeFields() {
  static const std::vector<FieldDef> f = {{"IDRESULTADO", FieldType::String, 10}};
  return f;
}

std::optional<RetireOutcome> ParseRetireOutcome(std::string_view s) {
  return ParseName<RetireOutcome>(s, kRetireOutcomes);
}
std::string_view RetireOutcomeName(RetireOutcome o) { return kRetireOutcomes[std::size_t(o)]; }

const std::vector<FieldDef>& ReviewStateFields() {
  static const std::vector<FieldDef> f = {{"IDSITREVISAO", FieldType::String, 1},
                                          {"NMREVISOR", FieldType::String, 50},
                                          {"DTREVISAO", FieldType::DateTime, 0}};
  return f;
}

const std::vector<FieldDef>& ReviewedRecordFields() {
  static const std::vector<FieldDef> f = [] {
    std::vector<FieldDef> all = RecordFields();
    all.insert(all.end(), ReviewStateFields().begin(), ReviewStateFields().end());
    return all;
  }();
  return f;
}

std::optional<ReviewAction> ParseReviewAction(std::string_view s) { return ParseName<ReviewAction>(s, kReviewActions); }
std::string_view ReviewActionName(ReviewAction a) { return kReviewActions[std::size_t(a)]; }
std::string_view ReviewStateOf(ReviewAction a) {
  return a == ReviewAction::Approve ? kReviewApproved : kReviewSentBack;
}

const std::vector<FieldDef>& ReviewListFields() { return TranslationChangeFields(); }

const std::vector<FieldDef>& ReviewOutcomeFields() {
  static const std::vector<FieldDef> f = {{"IDRESULTADO", FieldType::String, 15}, Count("NRREVISADO")};
  return f;
}

std::optional<ReviewOutcome> ParseReviewOutcome(std::string_view s) {
  return ParseName<ReviewOutcome>(s, kReviewOutcomes);
}
std::string_view ReviewOutcomeName(ReviewOutcome o) { return kReviewOutcomes[std::size_t(o)]; }

const std::vector<FieldDef>& TextListFields() {
  static const std::vector<FieldDef> f = {RecordFields()[kStAgrValProp]};
  return f;
}

const std::vector<FieldDef>& SuggestionFields() {
  static const std::vector<FieldDef> f = {RecordFields()[kStAgrValProp], RecordFields()[kStValorProp],
                                          Count("NRSIMILARIDADE")};
  return f;
}

RecordKey KeyOfRecord(const Row& r) {
  RecordKey k;
  k.program = TextAt(r, kCdPrograma);
  k.form = TextAt(r, kNmFormulario);
  k.component = TextAt(r, kNmComponente);
  k.property = TextAt(r, kNmPropriedade);
  const auto* n = std::get_if<double>(&r.at(kNrValorProp));
  if (!n) throw ProtocolError("the record's NRVALORPROP is not a number");
  k.number = *n;
  k.language = TextAt(r, kIdIdioma);
  return k;
}

// {"k": [program, form, component, property, number, language],
//  "t": "ISO time" or null (Recent), "s": "source text" (Text)}
std::string CursorAfter(CursorKind kind, const Row& record) {
  const RecordKey k = KeyOfRecord(record);
  nlohmann::json j;
  j["k"] = {k.program, k.form, k.component, k.property, k.number, k.language};
  if (kind == CursorKind::Recent) {
    const auto* t = std::get_if<DateTime>(&record.at(kDtUltAtuTrad));
    j["t"] = t ? nlohmann::json(t->ToIso()) : nlohmann::json(nullptr);
  }
  if (kind == CursorKind::Text) j["s"] = TextAt(record, kStAgrValProp);
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<PageCursor> ParseCursor(CursorKind kind, std::string_view cursor) {
  if (cursor.empty()) return std::nullopt;
  auto bad = [](const std::string& why) -> ProtocolError {
    return ProtocolError("the cursor is not one this listing gave (" + why + "); start again with an empty cursor");
  };
  nlohmann::json j = nlohmann::json::parse(cursor, nullptr, false);
  if (!j.is_object() || !j.contains("k")) throw bad("no key");
  const auto& k = j["k"];
  if (!k.is_array() || k.size() != 6 || !k[4].is_number()) throw bad("malformed key");
  for (int i : {0, 1, 2, 3, 5})
    if (!k[std::size_t(i)].is_string()) throw bad("malformed key");
  PageCursor c;
  c.key = RecordKey{k[0], k[1], k[2], k[3], k[4].get<double>(), k[5]};
  if (!std::isfinite(c.key.number)) throw bad("malformed key");
  if (kind == CursorKind::Recent) {
    if (!j.contains("t")) throw bad("no time");
    if (!j["t"].is_null()) {
      if (!j["t"].is_string()) throw bad("malformed time");
      c.time = DateTime::FromIso(j["t"].get<std::string>());
      if (!c.time) throw bad("malformed time");
    }
  }
  if (kind == CursorKind::Text) {
    if (!j.contains("s") || !j["s"].is_string()) throw bad("no source text");
    c.source = j["s"].get<std::string>();
  }
  return c;
}

bool PageBytes::Add(const Row& record) {
  for (const FieldValue& v : record) {
    bytes_ += 16;
    if (const auto* t = std::get_if<std::string>(&v)) bytes_ += t->size();
  }
  return !Full();
}

bool IsLastPage(const Packet& page, std::size_t asked) {
  if (page.rows.size() >= asked) return false;
  PageBytes bytes;
  for (const Row& r : page.rows) bytes.Add(r);
  return !bytes.Full();
}

}  // namespace trd::protocol
