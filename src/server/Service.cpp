#include "Service.h"

#include <algorithm>
#include <array>

#include "Arguments.h"
#include "ExchangeRecords.h"
#include "History.h"
#include "KeyCheck.h"
#include "Suggestions.h"
#include "Records.h"
#include "Schema.h"
#include "StorageChannel.h"
#include "platform/Text.h"
#include "platform/Wire.h"
#include "platform/WireCarry.h"
#include "protocol/Exchange.h"
#include "protocol/Failures.h"
#include "protocol/Methods.h"

namespace trd::server {
namespace {

using namespace protocol;

using Args = std::span<const Value>;

// What a method works with: the storage session and who called.
struct Context {
  Session& s;
  const Caller& caller;
  // The attribution of a change made now with `origin`.
  Attribution By(Origin origin) const { return Attribution{caller.user, origin, DateTime::Now()}; }
};

using MethodFn = Value (*)(Context&, Args);
using Names = std::span<const char* const>;

// Names of a method's arguments, for messages.
constexpr const char* kLookupByValue[] = {"program", "form",  "component", "property",
                                          "number",  "value", "language"};
constexpr const char* kLookupByKey[] = {"program", "form", "component", "property", "number", "language"};
constexpr const char* kTranslationLookup[] = {"source text", "language"};
constexpr const char* kStoreTranslation[] = {"program",  "form",            "component",
                                             "property", "number",          "language",
                                             "translated text", "state",    "time"};
constexpr const char* kApply[] = {"change set"};
constexpr const char* kRecordsPage[] = {"language", "state", "programs", "form", "order", "cursor", "page size"};
constexpr const char* kCoverage[] = {"language", "programs"};
constexpr const char* kTextsPage[] = {"language", "filter", "match", "cursor", "page size"};
constexpr const char* kSetTranslations[] = {"language", "changes", "mode"};
constexpr const char* kApplyBatch[] = {"language", "records", "files"};
constexpr const char* kTextRecords[] = {"language", "programs", "texts", "cursor", "page size"};
constexpr const char* kSuggestions[] = {"language", "texts"};
constexpr const char* kHistory[] = {"language", "source text", "program", "form",
                                    "component", "property", "number", "after"};
constexpr const char* kRetire[] = {"language", "records"};
constexpr const char* kReview[] = {"language", "action", "records"};

ArgName Arg(std::size_t i, Names names) { return ArgName{i, names[i]}; }

// A text argument that must fit the translation table's `field`.
std::string FittingText(Args a, std::size_t i, int field, Names names) {
  std::string s = TextArg(a[i], Arg(i, names));
  const FieldDef& def = TranslationTable().fields[std::size_t(field)];
  if (!Fits(def, s)) RefuseTooLong(def, s, Arg(i, names).Text());
  return s;
}

// Key arguments: program, form, component, property, number at 0..4; the
// language at `language_at`.
RecordKey KeyArgs(Args a, std::size_t language_at, Names names) {
  RecordKey k;
  k.program = FittingText(a, 0, kCdPrograma, names);
  k.form = FittingText(a, 1, kNmFormulario, names);
  k.component = FittingText(a, 2, kNmComponente, names);
  k.property = FittingText(a, 3, kNmPropriedade, names);
  k.number = NumberArg(a[4], Arg(4, names));
  k.language = FittingText(a, language_at, kIdIdioma, names);
  return k;
}

const ChangeSet& ChangeSetArg(const Value& v) {
  if (const auto* c = std::get_if<ChangeSet>(&v)) return *c;
  throw ProtocolError(std::string("argument 1 (change set) must be a change set, got ") + KindName(v));
}

// ---- The methods ------------------------------------------------------------

Value GetIdiLeDfm(Context& c, Args) { return Languages(c.s); }

Value GetVersao(Context& c, Args) { return Version(c.s); }

Value GetPropried(Context& c, Args a) {
  RecordKey key = KeyArgs(a, 6, kLookupByValue);
  std::string value = TextArg(a[5], Arg(5, kLookupByValue));
  return RecordsOfKeyAndSource(c.s, key, value);
}

Value GetVerProp(Context& c, Args a) { return RecordsOfKey(c.s, KeyArgs(a, 5, kLookupByKey)); }

Value SetVersao(Context& c, Args a) {
  ApplyChangeSet(c.s, VersionTable(), ChangeSetArg(a[0]));
  return std::monostate{};
}

Value SetRecords(Context& c, Args a) {
  const ChangeSet& changes = ChangeSetArg(a[0]);
  ApplyRecordChanges(c.s, changes, c.By(Origin::Harvest));
  c.s.Grew(TranslationTable().name, std::count_if(changes.changes.begin(), changes.changes.end(), [](const Change& ch) {
             return ch.kind == ChangeKind::Insert;
           }));
  return std::monostate{};
}

Value SetPropriedArq(Context& c, Args a) {
  std::string language = FittingText(a, 0, kIdIdioma, kApplyBatch);
  const auto* records = std::get_if<Packet>(&a[1]);
  if (!records) throw ProtocolError(std::string("argument 2 (records) must be a data packet, got ") + KindName(a[1]));
  const std::vector<std::size_t> files =
      a.size() > 2 ? ReadFileCounts(TextArg(a[2], Arg(2, kApplyBatch)), records->rows.size()) : std::vector<std::size_t>{};
  ListedLanguages(c.s).Check(language, Arg(0, kApplyBatch).Text());
  return ApplyRecordBatch(c.s, ReadBatch(*records, language), c.By(Origin::Harvest), files);
}

Value GetUpdRelDfm(Context& c, Args a) {
  std::string source = TextArg(a[0], Arg(0, kTranslationLookup));
  std::string language = FittingText(a, 1, kIdIdioma, kTranslationLookup);
  return TranslationOfSource(c.s, language, source);
}

Value UpdateRelDfm(Context& c, Args a) {
  Names n = kStoreTranslation;
  RecordKey key = KeyArgs(a, 5, n);
  std::string translation = FittingText(a, 6, kStValorProp, n);
  std::string state = FittingText(a, 7, kIdSitTraducao, n);
  DateTime when = DateTimeArg(a[8], Arg(8, n));
  SetRecordTranslation(c.s, key, translation, state, when, c.caller.user);
  return std::monostate{};
}

// ---- The exchange module ----------------------------------------------------

// Text, or null for "none given".
std::string OptionalText(Args a, std::size_t i, Names names) {
  if (std::holds_alternative<std::monostate>(a[i])) return {};
  return TextArg(a[i], Arg(i, names));
}

// A choice given by name (protocol/Exchange.h), "" for its default.
template <class Parse>
auto ChoiceArg(Args a, std::size_t i, Names names, Parse parse, std::string_view choices) {
  std::string s = OptionalText(a, i, names);
  auto v = parse(s);
  if (!v) throw ProtocolError(Arg(i, names).Text() + ": \"" + s + "\" is none of " + std::string(choices));
  return *v;
}

std::size_t PageArg(Args a, std::size_t i, Names names) {
  double d = NumberArg(a[i], Arg(i, names));
  if (d != double(std::int64_t(d)) || d < 1 || d > double(kMaxPageRows))
    throw ProtocolError(Arg(i, names).Text() + " must be a whole number from 1 to " + std::to_string(kMaxPageRows));
  return std::size_t(d);
}

std::string LanguageArg(Args a, std::size_t i, Names names) {
  std::string s = OptionalText(a, i, names);
  const FieldDef& def = TranslationTable().fields[kIdIdioma];
  if (!Fits(def, s)) RefuseTooLong(def, s, Arg(i, names).Text());
  return s;
}

// Program codes separated by commas, blanks around each ignored.
std::vector<std::string> ProgramsArg(Args a, std::size_t i, Names names) {
  std::vector<std::string> codes;
  const std::string s = OptionalText(a, i, names);
  std::size_t start = 0;
  while (start <= s.size()) {
    std::size_t comma = std::min(s.find(',', start), s.size());
    std::string_view code = text::Trim(std::string_view(s).substr(start, comma - start));
    if (!code.empty()) {
      CheckFits(TranslationTable().fields[kCdPrograma], code, Arg(i, names).Text());
      codes.emplace_back(code);
    }
    start = comma + 1;
  }
  if (codes.size() > kMaxProgramsAsked)
    throw ProtocolError(Arg(i, names).Text() + " names " + std::to_string(codes.size()) + " programs; at most " +
                        std::to_string(kMaxProgramsAsked) + " are taken");
  return codes;
}

Value GetRegistros(Context& c, Args a) {
  Names n = kRecordsPage;
  RecordsQuery q;
  q.language = LanguageArg(a, 0, n);
  if (q.language.empty()) throw ProtocolError(Arg(0, n).Text() + " is required");
  q.state = ChoiceArg(a, 1, n, ParseStateFilter, "all, translated, untranslated, unreviewed, approved");
  q.programs = ProgramsArg(a, 2, n);
  q.form = OptionalText(a, 3, n);
  q.order = ChoiceArg(a, 4, n, ParseRecordOrder, "key, recent");
  q.after = ParseCursor(q.order == RecordOrder::Key ? CursorKind::Key : CursorKind::Recent, OptionalText(a, 5, n));
  q.page = PageArg(a, 6, n);
  return RecordsPage(c.s, q);
}

Value GetCobertura(Context& c, Args a) {
  Names n = kCoverage;
  const std::string language = LanguageArg(a, 0, n);
  const std::vector<std::string> programs = a.size() > 1 ? ProgramsArg(a, 1, n) : std::vector<std::string>{};
  if (language.empty() && !programs.empty())
    throw ProtocolError(Arg(1, n).Text() + " needs a language: without one the coverage is per language");
  return Coverage(c.s, language, programs);
}

Value GetTextos(Context& c, Args a) {
  Names n = kTextsPage;
  TextsQuery q;
  q.language = LanguageArg(a, 0, n);
  q.filter = OptionalText(a, 1, n);
  q.match = ChoiceArg(a, 2, n, ParseTextMatch, "exact, ascii-nocase, folded");
  q.after = ParseCursor(CursorKind::Text, OptionalText(a, 3, n));
  q.page = PageArg(a, 4, n);
  return TextsPage(c.s, q);
}

Value SetTraducoes(Context& c, Args a) {
  Names n = kSetTranslations;
  std::string language = LanguageArg(a, 0, n);
  if (language.empty()) throw ProtocolError(Arg(0, n).Text() + " is required");
  const auto* changes = std::get_if<Packet>(&a[1]);
  if (!changes) throw ProtocolError(Arg(1, n).Text() + " must be a packet, got " + KindName(a[1]));
  SetMode mode = ChoiceArg(a, 2, n, ParseSetMode, "apply, dry-run");
  return SetTranslations(c.s, language, *changes, mode, c.By(Origin::Import));
}

// A list of source texts (protocol::TextListFields(), by name), 1 to
// kMaxTextsAsked rows of text.
std::vector<std::string> TextListArg(Args a, std::size_t i, Names names) {
  const auto* p = std::get_if<Packet>(&a[i]);
  if (!p) throw ProtocolError(Arg(i, names).Text() + " must be a packet, got " + KindName(a[i]));
  const std::string& field = TextListFields()[0].name;
  const int at = p->FieldIndex(field);
  if (at < 0) throw FieldError(Arg(i, names).Text() + " lacks the field " + field);
  if (p->rows.empty() || p->rows.size() > kMaxTextsAsked)
    throw ProtocolError(Arg(i, names).Text() + " holds " + std::to_string(p->rows.size()) + " texts; give 1 to " +
                        std::to_string(kMaxTextsAsked));
  std::vector<std::string> texts;
  texts.reserve(p->rows.size());
  for (std::size_t r = 0; r < p->rows.size(); ++r) {
    const auto* t = p->rows[r].size() > std::size_t(at) ? std::get_if<std::string>(&p->rows[r][std::size_t(at)]) : nullptr;
    if (!t) throw FieldError(Arg(i, names).Text() + ": text " + std::to_string(r + 1) + " is not text");
    texts.push_back(*t);
  }
  return texts;
}

Value GetRegTextos(Context& c, Args a) {
  Names n = kTextRecords;
  TextRecordsQuery q;
  q.language = LanguageArg(a, 0, n);
  if (q.language.empty()) throw ProtocolError(Arg(0, n).Text() + " is required");
  q.programs = ProgramsArg(a, 1, n);
  q.texts = TextListArg(a, 2, n);
  q.after = ParseCursor(CursorKind::Text, OptionalText(a, 3, n));
  q.page = PageArg(a, 4, n);
  return RecordsOfTexts(c.s, q);
}

Value GetSugestoes(Context& c, Args a) {
  Names n = kSuggestions;
  std::string language = LanguageArg(a, 0, n);
  if (language.empty()) throw ProtocolError(Arg(0, n).Text() + " is required");
  // An answer ends at the page's byte bound (its first rows, at least one):
  // the caller asks again for the texts after them.
  Packet p = Suggestions(c.s, language, TextListArg(a, 1, n));
  PageBytes bytes;
  std::size_t kept = 0;
  while (kept < p.rows.size() && bytes.Add(p.rows[kept])) ++kept;
  if (kept < p.rows.size()) p.rows.resize(kept + 1);
  return p;
}

// The changes of the record of a key (source text null), or of the records of
// a language that held a source text (key arguments null).
Value GetHistorico(Context& c, Args a) {
  Names n = kHistory;
  std::string language = LanguageArg(a, 0, n);
  if (language.empty()) throw ProtocolError(Arg(0, n).Text() + " is required");
  // Paged when the caller sends a cursor (History.h); a caller of seven
  // arguments gets every change at once, as before there were pages.
  HistoryCursor after;
  if (a.size() > 7) {
    after = NumberArg(a[7], Arg(7, n));
    if (*after < 0 || *after != double(std::int64_t(*after)))
      throw ProtocolError(Arg(7, n).Text() + " must be the number of a change, or 0");
  }
  if (!std::holds_alternative<std::monostate>(a[1]))
    return HistoryOfText(c.s, language, TextArg(a[1], Arg(1, n)), after);
  RecordKey k;
  k.program = FittingText(a, 2, kCdPrograma, n);
  k.form = FittingText(a, 3, kNmFormulario, n);
  k.component = FittingText(a, 4, kNmComponente, n);
  k.property = FittingText(a, 5, kNmPropriedade, n);
  k.number = NumberArg(a[6], Arg(6, n));
  k.language = std::move(language);
  return HistoryOfKey(c.s, k, after);
}

Value RetRegistros(Context& c, Args a) {
  Names n = kRetire;
  std::string language = LanguageArg(a, 0, n);
  if (language.empty()) throw ProtocolError(Arg(0, n).Text() + " is required");
  const auto* records = std::get_if<Packet>(&a[1]);
  if (!records) throw ProtocolError(Arg(1, n).Text() + " must be a packet, got " + KindName(a[1]));
  return RetireRecords(c.s, language, *records, c.By(Origin::Retire));
}

Value SetRevisao(Context& c, Args a) {
  Names n = kReview;
  std::string language = LanguageArg(a, 0, n);
  if (language.empty()) throw ProtocolError(Arg(0, n).Text() + " is required");
  const ReviewAction action = ChoiceArg(a, 1, n, ParseReviewAction, "approve, send-back");
  const auto* records = std::get_if<Packet>(&a[2]);
  if (!records) throw ProtocolError(Arg(2, n).Text() + " must be a packet, got " + KindName(a[2]));
  return ReviewRecords(c.s, language, action, *records, c.By(Origin::Review));
}

// How a method's call takes its session: by what it needs (Database.h), or
// Together, for a method that writes in whole transactions only.
enum class Writes { ByNeed, Together };

struct Method {
  std::string_view module;
  std::string_view name;
  Names params;
  MethodFn fn;
  Permission needs;  // of the caller's role (Roles.h)
  Workload work;     // LookUp or Browse for the methods that read, Change otherwise
  std::size_t optional = 0;  // the last params a caller may leave out (sent by newer callers only)
  Writes writes = Writes::ByNeed;
};

constexpr Workload kChange = Workload::Change, kLookUp = Workload::LookUp, kBrowse = Workload::Browse;
constexpr Permission kRead = Permission::Read, kTranslate = Permission::Translate, kHarvest = Permission::Harvest,
                     kReviewRecords = Permission::Review;

const std::array<Method, 23> kMethods = {{
    {kModuleForms, kGetIdiLeDfm, {}, GetIdiLeDfm, kRead, kLookUp},
    {kModuleForms, kGetVersao, {}, GetVersao, kRead, kLookUp},
    {kModuleForms, kGetPropried, kLookupByValue, GetPropried, kRead, kLookUp},
    {kModuleForms, kGetVerProp, kLookupByKey, GetVerProp, kRead, kLookUp},
    {kModuleForms, kSetVersao, kApply, SetVersao, kHarvest, kChange},
    {kModuleForms, kSetVerProp, kApply, SetRecords, kHarvest, kChange},
    {kModuleForms, kSetPropried, kApply, SetRecords, kHarvest, kChange},
    {kModuleForms, kSetPropriedArq, kApplyBatch, SetPropriedArq, kHarvest, kChange, 1, Writes::Together},
    {kModuleReports, kGetPropriedRel, kLookupByValue, GetPropried, kRead, kLookUp},
    {kModuleReports, kGetVerPropRel, kLookupByKey, GetVerProp, kRead, kLookUp},
    {kModuleReports, kSetVerPropRel, kApply, SetRecords, kHarvest, kChange},
    {kModuleReports, kSetPropriedRel, kApply, SetRecords, kHarvest, kChange},
    {kModuleTranslations, kGetUpdRelDfm, kTranslationLookup, GetUpdRelDfm, kRead, kLookUp},
    {kModuleTranslations, kUpdateRelDfm, kStoreTranslation, UpdateRelDfm, kTranslate, kChange},
    {kModuleExchange, kGetRegistros, kRecordsPage, GetRegistros, kRead, kBrowse},
    {kModuleExchange, kGetCobertura, kCoverage, GetCobertura, kRead, kLookUp, 1},
    {kModuleExchange, kGetTextos, kTextsPage, GetTextos, kRead, kBrowse},
    {kModuleExchange, kSetTraducoes, kSetTranslations, SetTraducoes, kTranslate, kChange},
    {kModuleExchange, kGetRegTextos, kTextRecords, GetRegTextos, kRead, kBrowse},
    {kModuleExchange, kGetSugestoes, kSuggestions, GetSugestoes, kRead, kBrowse},
    {kModuleExchange, kGetHistorico, kHistory, GetHistorico, kRead, kBrowse, 1},
    {kModuleExchange, kRetRegistros, kRetire, RetRegistros, kHarvest, kChange},
    {kModuleExchange, kSetRevisao, kReview, SetRevisao, kReviewRecords, kChange},
}};

const Method& FindMethod(std::string_view module, std::string_view name) {
  bool module_known = false;
  for (const auto& m : kMethods) {
    if (!text::EqualsIgnoreCase(m.module, module)) continue;
    module_known = true;
    if (text::EqualsIgnoreCase(m.name, name)) return m;
  }
  if (!module_known)
    throw ServerFailureError(FailureCode::NoMethod, "unknown module \"" + std::string(module) + "\"; the server has " +
                                                        std::string(kModuleForms) + ", " + std::string(kModuleReports) +
                                                        ", " + std::string(kModuleTranslations) + " and " +
                                                        std::string(kModuleExchange));
  throw ServerFailureError(FailureCode::NoMethod,
                           "module " + std::string(module) + " has no method \"" + std::string(name) + "\"");
}

std::string ParamList(Names params) {
  std::string s;
  for (const char* p : params) s += (s.empty() ? "" : ", ") + std::string(p);
  return s;
}

std::string FailureResponse(const ServerFailure& failure) noexcept {
  try {
    return wire::EncodeResult(failure);
  } catch (...) {
    return R"({"error":"internal error","code":"internal"})";
  }
}

// The code of a failure raised while a request was handled: its own, or the
// one of its type.
FailureCode CodeOf(const Error& e) {
  if (const auto* f = dynamic_cast<const ServerFailureError*>(&e)) return f->Code();
  if (dynamic_cast<const DuplicateKeyError*>(&e)) return FailureCode::KeyTaken;
  if (dynamic_cast<const DatabaseGoneError*>(&e)) return FailureCode::Refused;
  if (dynamic_cast<const StorageError*>(&e)) return FailureCode::Storage;
  if (dynamic_cast<const WidthError*>(&e)) return FailureCode::Width;
  if (dynamic_cast<const FieldError*>(&e) || dynamic_cast<const ProtocolError*>(&e)) return FailureCode::Malformed;
  return FailureCode::Refused;
}

}  // namespace

Service::Service(std::shared_ptr<Database> db, ServiceOptions options)
    : db_(std::move(db)), options_(options) {
  if (!db_) throw StorageError("no database to serve");
  EnsureSchema(*db_->Acquire());
}

std::shared_ptr<Service> Service::Open(std::string_view db_url, ServiceOptions options) {
  return std::make_shared<Service>(OpenDatabase(db_url), options);
}

Value Service::Call(std::string_view module, std::string_view method, std::span<const Value> args,
                    const Caller& caller) {
  const Method& m = FindMethod(module, method);
  if (args.size() > m.params.size() || args.size() + m.optional < m.params.size()) {
    std::string expected = (m.optional ? std::to_string(m.params.size() - m.optional) + " to " : std::string()) +
                           std::to_string(m.params.size()) + " argument" + (m.params.size() == 1 ? "" : "s");
    if (m.params.size() != 0) expected += " (" + ParamList(m.params) + ")";
    throw ProtocolError("expects " + expected + ", got " + std::to_string(args.size()));
  }
  if (!Permits(caller.role, m.needs))
    throw ServerFailureError(FailureCode::Refused,
                             "the role " + std::string(RoleName(caller.role)) + " of " +
                                 (caller.user.empty() ? std::string("the caller") : "user " + caller.user) +
                                 " does not permit " + std::string(PermissionName(m.needs)));
  // The look-ups read beside the writers (a harvest's transaction), not
  // after them.
  auto session = m.needs == Permission::Read       ? db_->AcquireReader()
                 : m.writes == Writes::Together ? db_->AcquireTogether()
                                                : db_->Acquire();
  Context context{*session, caller};
  return m.fn(context, args);
}

std::string Service::Handle(std::string_view body, const Caller& caller) noexcept {
  std::string where;
  try {
    if (body.size() > options_.max_request_bytes) return FailureResponse(TooLarge(body.size()));
    wire::Request req = wire::DecodeRequest(body);
    where = req.module + "." + req.method + ": ";
    return wire::EncodeResult(Call(req.module, req.method, req.args, caller));
  } catch (...) {
    return FailureResponse(Failed(where));
  }
}

Value Service::Answer(const wire::Request& request, const Caller& caller) noexcept {
  std::string where;
  try {
    if (const std::size_t bytes = wire::EncodedRequestSize(request); bytes > options_.max_request_bytes)
      return TooLarge(bytes);
    std::optional<wire::Request> changed;
    const wire::Request& req = wire::Carried(request, changed);
    where = req.module + "." + req.method + ": ";
    return Call(req.module, req.method, req.args, caller);
  } catch (...) {
    return Failed(where);
  }
}

ServerFailure Service::TooLarge(std::size_t bytes) const {
  return Failure(FailureCode::TooLarge, "request refused: " + std::to_string(bytes) + " bytes exceed the limit of " +
                                            std::to_string(options_.max_request_bytes) + " bytes");
}

ServerFailure Service::Failed(const std::string& where) noexcept {
  try {
    throw;
  } catch (const DatabaseGoneError& e) {
    if (options_.log && !gone_logged_.exchange(true)) {
      try {
        options_.log(e.what());
      } catch (...) {
      }
    }
    return Failure(FailureCode::Refused, where + e.what());
  } catch (const Error& e) {
    return Failure(CodeOf(e), where + e.what());
  } catch (const std::exception& e) {
    return Failure(FailureCode::Internal, where + "internal error: " + e.what());
  } catch (...) {
    return Failure(FailureCode::Internal, where + "internal error");
  }
}

TokenVerifier::Holder Service::Identify(std::string_view token) {
  auto session = db_->Acquire();
  return tokens_.Verify(*session, token);
}

Workload Service::WorkloadOf(std::string_view body) noexcept {
  // The first "method" member: "method" then optional blanks, ':', blanks
  // and a string without escapes. A name hidden in an argument can only
  // misplace the request among the workers.
  constexpr std::string_view kKey = "\"method\"";
  const std::size_t at = body.find(kKey);
  if (at == std::string_view::npos) return kChange;
  std::size_t i = at + kKey.size();
  auto blanks = [&] {
    while (i < body.size() && (body[i] == ' ' || body[i] == '\t' || body[i] == '\n' || body[i] == '\r')) ++i;
  };
  blanks();
  if (i >= body.size() || body[i] != ':') return kChange;
  ++i;
  blanks();
  if (i >= body.size() || body[i] != '"') return kChange;
  const std::size_t end = body.find('"', ++i);
  if (end == std::string_view::npos || end - i > 64) return kChange;
  const std::string_view name = body.substr(i, end - i);
  for (const auto& m : kMethods)
    if (text::EqualsIgnoreCase(m.name, name)) return m.work;
  return kChange;
}

RequestHandler Service::Handler() {
  return [this](std::string_view body) { return Handle(body); };
}

ValueHandler Service::Values() {
  return [this](const wire::Request& request) { return Answer(request); };
}

}  // namespace trd::server
