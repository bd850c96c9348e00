#include "ExchangeRecords.h"

#include <algorithm>
#include <iterator>
#include <map>

#include "Journal.h"
#include "Memory.h"
#include "Records.h"
#include "Review.h"
#include "Schema.h"
#include "TextFold.h"

namespace trd::server {
namespace {

using namespace protocol;

// Names for the statements below, from the interface (protocol/Record.h).
const std::string& kTable = TranslationTable().name;
const std::string& kProgram = Column(kCdPrograma);
const std::string& kForm = Column(kNmFormulario);
const std::string& kState = Column(kIdSitTraducao);
const std::string& kValue = Column(kStValorProp);
const std::string& kSource = Column(kStAgrValProp);
const std::string& kTime = Column(kDtUltAtuTrad);
const std::string& kLanguage = Column(kIdIdioma);
// The key but the language, in key order (the pages' order within a language).
const std::string kKeyColumns =
    ColumnList(std::vector<RecordField>{kCdPrograma, kNmFormulario, kNmComponente, kNmPropriedade, kNrValorProp});
const std::string kKeyMarks = "(?, ?, ?, ?, ?)";
const std::string kTranslated = "'" + std::string(kStateTranslated) + "'";
const std::string& kReviewState = ReviewStateFields()[0].name;
const std::string kApproved = "'" + std::string(kReviewApproved) + "'";
// The order of the pages "recent": records never stamped last, then the
// latest change first.
const std::string kNeverStampedLast = "CASE WHEN " + kTime + " IS NULL THEN 1 ELSE 0 END";

std::string CreateIndex(std::string_view what, const std::string& columns) {
  return "CREATE INDEX IF NOT EXISTS " + IndexName(TranslationTable(), what) + " ON " + kTable + " (" + columns + ")";
}

// The indexes (docs/server.md): IX_..._IDIOMA serves the pages in key order
// and the coverage counts of a language; the text index the look-ups by
// language and source text (SetTraducoes, GetRegTextos) and, on
// SQLite, the pages by text in their order (GetTextos).
//
// On SQLite one index by text, language and key (IX_..._TEXTOS) serves them
// all: a look-up gives both its leading columns; a page of one language
// walks the texts in order and skips the other languages' entries, and its
// order names the language after the text (fixed, so the same order), so
// that the index gives it unsorted. A second index of every text, by
// language first, would double what each new record writes at a random
// place of the file: IX_..._TEXTO, which databases of before hold, is
// dropped on start.
//
// A PostgreSQL B-tree entry holds at most about 2.7 kB, less than a source
// text may take, so there the text index holds its MD5 digest (compared
// first, then the text itself) and the pages by text sort.
std::string LanguageIndex() { return CreateIndex("IDIOMA", kLanguage + ", " + kKeyColumns); }
std::string TextIndex(Backend b) {
  return b == Backend::Postgres ? CreateIndex("TEXTO", kLanguage + ", md5(" + kSource + ")")
                                : CreateIndex("TEXTOS", kSource + ", " + kLanguage + ", " + kKeyColumns);
}
std::string FormerLanguageTextIndex() { return "DROP INDEX IF EXISTS " + IndexName(TranslationTable(), "TEXTO"); }

// The progress page's indexes: IX_..._COBERTURA covers the coverage counts
// (per language: a scan of the index, not of the table; per program: a range
// of it); IX_..._RECENTES is the order of the pages "recent" (the
// expression must stay the one RecordsPage sorts by), so that the latest
// changes of a language are read, not sorted.
std::string CoverageIndex() { return CreateIndex("COBERTURA", kLanguage + ", " + kProgram + ", " + kState); }
// protocol::Translatable's records turned round, as a condition on the
// source text for the backend: no source, an empty one, or one holding a
// character no exchange file carries. PostgreSQL text holds neither U+0000
// nor malformed UTF-8, and the wire brings the server no malformed text.
// SQLite's empty text is tested by its length (0 also for a text that starts
// with U+0000, which the last test takes anyway), never as `= ''`: SQLite
// weighs a partial index whose condition compares the source text with a
// constant for every statement comparing it with a parameter, and then
// prepares that statement again at each use to see whether the value bound
// is that constant (every look-up of a text, a new record's among them).
std::string Untranslatable(Backend b) {
  return "(" + kSource + " IS NULL OR " +
         (b == Backend::Postgres ? kSource + " = '' OR strpos(" + kSource + ", chr(4)) > 0"
                                 : "length(" + kSource + ") = 0 OR instr(" + kSource + ", char(4)) > 0 OR instr(" +
                                       kSource + ", char(0)) > 0") +
         ")";
}
// The records counted apart, few in a table: the coverage takes them off
// its counts without reading the source texts. Its condition is
// Untranslatable's, which the counts repeat word for word; the index of the
// condition before (`= ''` on SQLite too) is dropped on start.
std::string UntranslatableIndex(Backend b) {
  return CreateIndex("NAOTRADUZIVEIS", kLanguage + ", " + kProgram + ", " + kState) + " WHERE " + Untranslatable(b);
}
std::string FormerUntranslatableIndex() {
  return "DROP INDEX IF EXISTS " + IndexName(TranslationTable(), "NAOTRADUZIVEL");
}
std::string RecentIndex() {
  return CreateIndex("RECENTES", kLanguage + ", (" + kNeverStampedLast + "), " + kTime + " DESC, " + kKeyColumns);
}

// The condition "the source text is ?" for the backend: parameters the text
// once (SQLite) or twice (PostgreSQL: digest, then text).
std::string SourceIs(Backend b) {
  return b == Backend::Postgres ? "md5(" + kSource + ") = md5(CAST(? AS TEXT)) AND " + kSource + " = ?"
                                : kSource + " = ?";
}
void AddSource(Backend b, std::vector<FieldValue>& params, const std::string& source) {
  params.emplace_back(source);
  if (b == Backend::Postgres) params.emplace_back(source);
}

// Texts compare by code point on both backends (SQLite's own order).
std::string Ordered(Backend b, const std::string& column) {
  return b == Backend::Postgres ? column + " COLLATE \"C\"" : column;
}

void AddKey(std::vector<FieldValue>& params, const RecordKey& k) {
  params.insert(params.end(), {k.program, k.form, k.component, k.property, k.number});
}

std::string StateCondition(StateFilter f) {
  switch (f) {
    case StateFilter::All: return "";
    case StateFilter::Translated: return " AND " + kState + " = " + kTranslated;
    case StateFilter::Untranslated:
      return " AND (" + kState + " IS NULL OR " + kState + " <> " + kTranslated + ")";
    // The review state's columns: of the listings that join them (ReviewJoin).
    case StateFilter::Unreviewed:
      return " AND " + kState + " = " + kTranslated + " AND (" + kReviewState + " IS NULL OR " + kReviewState +
             " <> " + kApproved + ")";
    case StateFilter::Approved:
      return " AND " + kState + " = " + kTranslated + " AND " + kReviewState + " = " + kApproved;
  }
  return "";
}

std::vector<FieldType> RecordTypes() {
  std::vector<FieldType> t;
  for (const FieldDef& f : RecordFields()) t.push_back(f.type);
  return t;
}

const std::string& SelectRecords() {
  static const std::string s = "SELECT " + ColumnList(RecordFields()) + " FROM " + kTable + " WHERE ";
  return s;
}

// The records of a page, ended by `bytes` as well as by the query's LIMIT:
// the rows past kMaxPageBytes are never held.
Packet Page(Session& s, const std::string& sql, const std::vector<FieldValue>& params, PageBytes& bytes) {
  static const std::vector<FieldType> types = RecordTypes();
  return Packet{RecordFields(), s.QueryWhile(sql, params, types, [&](const Row& r) { return bytes.Add(r); })};
}

// The listings with the review state beside the record fields
// (ReviewedRecordFields).
std::vector<FieldType> ReviewedTypes() {
  std::vector<FieldType> t;
  for (const FieldDef& f : ReviewedRecordFields()) t.push_back(f.type);
  return t;
}

const std::string& ReviewedColumns() {
  static const std::string s = ColumnList(RecordFields()) + ", " + ReviewColumns();
  return s;
}

const std::string& SelectReviewed() {
  static const std::string s = "SELECT " + ReviewedColumns() + " FROM " + kTable + ReviewJoin() + " WHERE ";
  return s;
}

// As Page, with the review state.
Packet ReviewedPage(Session& s, const std::string& sql, const std::vector<FieldValue>& params, PageBytes& bytes) {
  static const std::vector<FieldType> types = ReviewedTypes();
  return Packet{ReviewedRecordFields(),
                s.QueryWhile(sql, params, types, [&](const Row& r) { return bytes.Add(r); })};
}

double CountOf(const FieldValue& v) {
  const auto* d = std::get_if<double>(&v);
  return d ? *d : 0;
}

const std::string& TextOf(const FieldValue& v) {
  static const std::string empty;
  const auto* t = std::get_if<std::string>(&v);
  return t ? *t : empty;
}

std::string ChangeAt(std::size_t i, std::size_t n) {
  return "change " + std::to_string(i + 1) + " of " + std::to_string(n);
}

// Where each field of `want` is in `list` (found by name, in any order).
// Raises FieldError naming the list ("the list of changes") when one is
// missing or of another type.
std::vector<std::size_t> FieldsAt(const Packet& list, const std::vector<FieldDef>& want, std::string_view what) {
  std::vector<std::size_t> at(want.size());
  for (std::size_t f = 0; f < want.size(); ++f) {
    int i = list.FieldIndex(want[f].name);
    if (i < 0) throw FieldError("the list of " + std::string(what) + " lacks the field " + want[f].name);
    if (list.fields[std::size_t(i)].type != want[f].type)
      throw FieldError("the list's field " + want[f].name + " is " + TypeName(list.fields[std::size_t(i)].type) +
                       ", not " + TypeName(want[f].type));
    at[f] = std::size_t(i);
  }
  return at;
}

}  // namespace

Packet ReviewedRecordOfKey(Session& s, const RecordKey& key) {
  static const std::string sql = SelectReviewed() + TranslationTable().KeyCondition();
  static const std::vector<FieldType> types = ReviewedTypes();
  std::vector<FieldValue> params;
  AddKey(params, key);
  params.emplace_back(key.language);  // the table key's order: the key fields, then the language
  return Packet{ReviewedRecordFields(), s.Query(sql, params, types)};
}

Packet RecordsPage(Session& s, const RecordsQuery& q) {
  std::vector<FieldValue> params{q.language};
  std::string sql = SelectReviewed() + kLanguage + " = ?" + StateCondition(q.state);
  if (!q.programs.empty()) {
    sql += " AND " + kProgram + " IN (";
    for (std::size_t i = 0; i < q.programs.size(); ++i) {
      sql += i ? ", ?" : "?";
      params.emplace_back(q.programs[i]);
    }
    // The same programs' range as bounds of the key index: after the last
    // page a look for more then ends at the last program instead of reading
    // the rest of the language.
    const auto [low, high] = std::minmax_element(q.programs.begin(), q.programs.end());
    sql += ") AND " + kProgram + " BETWEEN ? AND ?";
    params.emplace_back(*low);
    params.emplace_back(*high);
  }
  if (!q.form.empty()) {
    sql += " AND " + kForm + " = ?";
    params.emplace_back(q.form);
  }
  if (q.order == RecordOrder::Key) {
    if (q.after) {
      sql += " AND (" + kKeyColumns + ") > " + kKeyMarks;
      AddKey(params, q.after->key);
    }
    sql += " ORDER BY " + kKeyColumns;
  } else {
    // Newest first, the records never stamped last; key order among equals.
    if (q.after && q.after->time) {
      sql += " AND (" + kTime + " IS NULL OR " + kTime + " < ? OR (" + kTime + " = ? AND (" + kKeyColumns + ") > " +
             kKeyMarks + "))";
      params.insert(params.end(), {*q.after->time, *q.after->time});
      AddKey(params, q.after->key);
    } else if (q.after) {
      sql += " AND " + kTime + " IS NULL AND (" + kKeyColumns + ") > " + kKeyMarks;
      AddKey(params, q.after->key);
    }
    sql += " ORDER BY " + kNeverStampedLast + ", " + kTime + " DESC, " + kKeyColumns;
  }
  // The page size is a whole number the caller bounded, not request text.
  sql += " LIMIT " + std::to_string(q.page);
  PageBytes bytes;
  return ReviewedPage(s, sql, params, bytes);
}

Packet Coverage(Session& s, const std::string& language, const std::vector<std::string>& programs) {
  // Every record by state (the coverage index), then the untranslatable ones
  // by state (their partial index), taken off.
  static const std::string counts =
      "COUNT(*), SUM(CASE WHEN " + kState + " = " + kTranslated + " THEN 1 ELSE 0 END) FROM " + kTable;
  const std::string apart = " AND " + Untranslatable(s.Kind());
  const std::vector<FieldType> types{FieldType::String, FieldType::Float, FieldType::Float};
  struct Counts {
    double all = 0, translated = 0, apart = 0, apart_translated = 0;
  };
  Packet p{CoverageFields(), {}};
  auto add = [&](FieldValue lang, FieldValue program, const Counts& c) {
    const double total = c.all - c.apart, translated = c.translated - c.apart_translated;
    p.rows.push_back({std::move(lang), std::move(program), total, translated, total - translated, c.apart});
  };
  std::map<std::string, Counts> per;
  auto count = [&](const std::string& by, const std::string& where, std::span<const FieldValue> params) {
    const std::string select = "SELECT " + by + ", " + counts + " WHERE " + where;
    for (const Row& r : s.Query(select + " GROUP BY " + by, params, types)) {
      Counts& c = per[TextOf(r[0])];
      c.all = CountOf(r[1]);
      c.translated = CountOf(r[2]);
    }
    for (const Row& r : s.Query(select + apart + " GROUP BY " + by, params, types)) {
      Counts& c = per[TextOf(r[0])];
      c.apart = CountOf(r[1]);
      c.apart_translated = CountOf(r[2]);
    }
  };
  if (!language.empty()) {
    std::vector<FieldValue> params{language};
    std::string where = kLanguage + " = ?";
    if (!programs.empty()) {
      where += " AND " + kProgram + " IN (";
      for (std::size_t i = 0; i < programs.size(); ++i) {
        where += i ? ", ?" : "?";
        params.emplace_back(programs[i]);
      }
      where += ")";
    }
    count(kProgram, where, params);
    for (const auto& [program, c] : per) add(language, program, c);
    return p;
  }
  const FieldType code_type[] = {FieldType::String};
  const TableDef& languages = LanguageTable();
  for (const Row& r : s.Query("SELECT " + Column(languages, kLangCode) + " FROM " + languages.name, {}, code_type))
    per[TextOf(r[0])];
  count(kLanguage, kLanguage + " IS NOT NULL", {});
  for (const auto& [code, c] : per) add(code, std::monostate{}, c);
  return p;
}

namespace {

// The WHERE clause of a texts listing without its cursor: the language and
// the filter.
std::string TextsWhere(Backend b, const TextsQuery& q, std::vector<FieldValue>& params) {
  std::string sql = kSource + " IS NOT NULL";
  if (!q.language.empty()) {
    // On SQLite the language is a filter on the text index, never a seek
    // (the unary plus): by language SQLite would take the coverage index and
    // sort the whole language for each page.
    sql += (b == Backend::Sqlite ? " AND +" : " AND ") + kLanguage + " = ?";
    params.emplace_back(q.language);
  }
  if (q.filter.empty()) return sql;
  switch (q.match) {
    case TextMatch::Folded:
      sql += (b == Backend::Postgres ? " AND strpos(" : " AND instr(") + FoldedColumn(b, kSource) +
             ", CAST(? AS TEXT)) > 0";
      params.emplace_back(FoldedText(q.filter));
      return sql;
    case TextMatch::IgnoreAsciiCase:
      // SQLite's lower() folds A-Z only; PostgreSQL's does so under "C".
      sql += b == Backend::Postgres
                 ? " AND strpos(lower(" + kSource + " COLLATE \"C\"), lower(CAST(? AS TEXT) COLLATE \"C\")) > 0"
                 : " AND instr(lower(" + kSource + "), lower(?)) > 0";
      break;
    case TextMatch::Exact:
      sql += b == Backend::Postgres ? " AND strpos(" + kSource + ", CAST(? AS TEXT)) > 0"
                                    : " AND instr(" + kSource + ", ?) > 0";
      break;
  }
  params.emplace_back(q.filter);
  return sql;
}

}  // namespace

Packet TextsPage(Session& s, const TextsQuery& q) {
  const Backend b = s.Kind();
  std::vector<FieldValue> params;
  std::string sql = SelectRecords() + TextsWhere(b, q, params);
  // The text index's order: the language after the text, fixed when the
  // listing is of one language (the cursor then holds it too).
  const std::string order = Ordered(b, kSource) + ", " + kLanguage + ", " + kKeyColumns;
  if (q.after) {
    sql += " AND (" + order + ") > (?, ?, ?, ?, ?, ?, ?)";
    params.emplace_back(q.after->source);
    params.emplace_back(q.language.empty() ? q.after->key.language : q.language);
    AddKey(params, q.after->key);
  }
  sql += " ORDER BY " + order + " LIMIT " + std::to_string(q.page);
  PageBytes bytes;
  return Page(s, sql, params, bytes);
}

std::int64_t CountTexts(Session& s, const TextsQuery& q) {
  std::vector<FieldValue> params;
  const std::string sql =
      "SELECT COUNT(DISTINCT " + kSource + ") FROM " + kTable + " WHERE " + TextsWhere(s.Kind(), q, params);
  const FieldType types[] = {FieldType::Float};
  const std::vector<Row> rows = s.Query(sql, params, types);
  const auto* n = rows.empty() ? nullptr : std::get_if<double>(&rows[0][0]);
  return n ? std::int64_t(*n) : 0;
}

Packet RecordsOfTexts(Session& s, const TextRecordsQuery& q) {
  const Backend b = s.Kind();
  if (q.after && !q.texts.empty() && q.after->source != q.texts.front())
    throw ProtocolError("the cursor is not one this listing gave (another text); start again with an empty cursor");
  // The texts go to the join as a VALUES list. Its length is rounded up to a
  // power of two (padded with nulls, which join nothing), so that a handful
  // of statements serves every list and the backends' statement caches
  // hold them.
  constexpr std::size_t kChunk = 256;
  Packet out{ReviewedRecordFields(), {}};
  PageBytes bytes;
  for (std::size_t start = 0; start < q.texts.size() && out.rows.size() < q.page && !bytes.Full();
       start += kChunk) {
    const std::size_t n = std::min(kChunk, q.texts.size() - start);
    std::size_t slots = 1;
    while (slots < n) slots *= 2;
    std::vector<FieldValue> params;
    std::string values;
    for (std::size_t i = 0; i < slots; ++i) {
      values += i ? ", " : "";
      values += "(CAST(? AS DOUBLE PRECISION), CAST(? AS TEXT))";
      params.emplace_back(double(start + i));
      if (i < n)
        params.emplace_back(q.texts[start + i]);
      else
        params.emplace_back(std::monostate{});
    }
    std::string sql = "WITH q(n, s) AS (VALUES " + values + ") SELECT " + ReviewedColumns() +
                      " FROM q JOIN TRDPROPRIEDADE ON IDIDIOMA = ? AND " +
                      (b == Backend::Postgres ? "md5(STAGRVALPROP) = md5(q.s) AND STAGRVALPROP = q.s"
                                              : "STAGRVALPROP = q.s");
    params.emplace_back(q.language);
    if (!q.programs.empty()) {
      sql += " AND CDPROGRAMA IN (";
      for (std::size_t i = 0; i < q.programs.size(); ++i) {
        sql += i ? ", ?" : "?";
        params.emplace_back(q.programs[i]);
      }
      sql += ")";
    }
    sql += ReviewJoin();
    if (q.after && start == 0) {
      sql += " WHERE (q.n > 0 OR (" + kKeyColumns + ") > " + kKeyMarks + ")";
      AddKey(params, q.after->key);
    }
    sql += " ORDER BY q.n, " + kKeyColumns + " LIMIT " + std::to_string(q.page - out.rows.size());
    Packet p = ReviewedPage(s, sql, params, bytes);
    std::move(p.rows.begin(), p.rows.end(), std::back_inserter(out.rows));
  }
  return out;
}

Packet SetTranslations(Session& s, const std::string& language, const Packet& changes, SetMode mode,
                       const Attribution& by) {
  const DateTime when = by.when;
  const auto& want = TranslationChangeFields();
  const std::size_t n = changes.rows.size();
  if (n > kMaxTranslationChanges)
    throw ProtocolError("the list holds " + std::to_string(n) + " changes; at most " +
                        std::to_string(kMaxTranslationChanges) + " are taken at once");
  const std::vector<std::size_t> at = FieldsAt(changes, want, "changes");

  // Every change is checked before any is applied.
  struct Item {
    std::optional<RecordKey> key;
    std::string source, translation;
  };
  std::vector<Item> items;
  items.reserve(n);
  for (std::size_t r = 0; r < n; ++r) {
    const Row& row = changes.rows[r];
    if (row.size() != changes.fields.size()) throw ProtocolError(ChangeAt(r, n) + ": the row does not match the fields");
    auto value = [&](int f) -> const FieldValue& { return row[at[std::size_t(f)]]; };
    auto null = [&](int f) { return std::holds_alternative<std::monostate>(value(f)); };
    Item item;
    const int key_fields[] = {kChgProgram, kChgForm, kChgComponent, kChgProperty, kChgNumber};
    const auto given = std::count_if(std::begin(key_fields), std::end(key_fields), [&](int f) { return !null(f); });
    if (given != 0 && given != 5)
      throw ProtocolError(ChangeAt(r, n) + ": give the record's whole key (" + kProgram + " to " +
                          Column(kNrValorProp) + ") or none of it");
    if (null(kChgSource)) throw FieldError(ChangeAt(r, n) + ": " + kSource + " is null");
    if (null(kChgTranslation)) throw FieldError(ChangeAt(r, n) + ": " + kValue + " is null");
    auto text = [&](int f) -> const std::string& {
      const auto* t = std::get_if<std::string>(&value(f));
      if (!t) throw FieldError(ChangeAt(r, n) + ": " + want[std::size_t(f)].name + " is not text");
      return *t;
    };
    if (given == 5) {
      const auto* number = std::get_if<double>(&value(kChgNumber));
      if (!number) throw FieldError(ChangeAt(r, n) + ": " + Column(kNrValorProp) + " is not a number");
      item.key = RecordKey{text(kChgProgram), text(kChgForm), text(kChgComponent), text(kChgProperty), *number,
                           language};
    }
    item.source = text(kChgSource);
    item.translation = text(kChgTranslation);
    CheckFits(want[kChgTranslation], item.translation, ChangeAt(r, n));
    items.push_back(std::move(item));
  }

  const Backend b = s.Kind();
  const std::string already_case =
      "CASE WHEN " + kState + " = " + kTranslated + " AND " + kValue + " = ? THEN 1 ELSE 0 END";
  const std::string not_already = "(" + kState + " IS NULL OR " + kState + " <> " + kTranslated + " OR " + kValue +
                                  " IS NULL OR " + kValue + " <> ?)";
  const std::string count_text = "SELECT COUNT(*), SUM(" + already_case + ") FROM " + kTable + " WHERE " +
                                 kLanguage + " = ? AND " + SourceIs(b);
  const std::string text_condition = kLanguage + " = ? AND " + SourceIs(b) + " AND " + not_already;
  const std::string read_text = SelectRecords() + text_condition;
  const std::string set_translation =
      "UPDATE " + kTable + " SET " + kValue + " = ?, " + kState + " = " + kTranslated + ", " + kTime + " = ? WHERE ";
  const std::string update_text = set_translation + text_condition;
  const std::string read_key = SelectRecords() + TranslationTable().KeyCondition();
  const std::string update_key = set_translation + TranslationTable().KeyCondition();
  const FieldType count_types[] = {FieldType::Float, FieldType::Float};
  static const std::vector<FieldType> record_types = RecordTypes();

  std::optional<Transaction> tx;
  if (mode == SetMode::Apply) tx.emplace(s);
  Journal journal(s, by);
  // Each record `rows` held before, as it is now translated.
  auto journal_translated = [&](std::vector<Row>& rows, const std::string& translation) {
    for (Row& before : rows) {
      Row after = before;
      after[kStValorProp] = translation;
      after[kIdSitTraducao] = std::string(kStateTranslated);
      after[kDtUltAtuTrad] = when;
      journal.Changed(std::move(before), std::move(after));
    }
  };
  Packet result{TranslationOutcomeFields(), {}};
  result.rows.reserve(n);
  for (const Item& item : items) {
    SetOutcome outcome = SetOutcome::Stale;
    double translated = 0, already = 0;
    // A source longer than the column is held by no record.
    const bool can_exist = Fits(RecordFields()[kStAgrValProp], item.source);
    if (!item.key && can_exist) {
      std::vector<FieldValue> params{item.translation, language};
      AddSource(b, params, item.source);
      auto rows = s.Query(count_text, params, count_types);
      const double total = rows.empty() ? 0 : CountOf(rows[0][0]);
      already = rows.empty() ? 0 : CountOf(rows[0][1]);
      translated = total - already;
      if (total > 0) outcome = translated > 0 ? SetOutcome::Translated : SetOutcome::Already;
      if (mode == SetMode::Apply && translated > 0) {
        std::vector<FieldValue> read{language};
        AddSource(b, read, item.source);
        read.emplace_back(item.translation);
        std::vector<Row> rows = s.Query(read_text, read, record_types);
        std::vector<FieldValue> up{item.translation, when};
        up.insert(up.end(), read.begin(), read.end());
        translated = double(s.Execute(update_text, up));
        journal_translated(rows, item.translation);
      }
    } else if (item.key) {
      std::vector<FieldValue> params;
      AddKey(params, *item.key);
      params.emplace_back(language);
      auto rows = s.Query(read_key, params, record_types);
      if (rows.empty()) {
        outcome = SetOutcome::Missing;
      } else if (TextOf(rows[0][kStAgrValProp]) != item.source ||
                 !std::holds_alternative<std::string>(rows[0][kStAgrValProp])) {
        outcome = SetOutcome::Stale;
      } else if (TextOf(rows[0][kIdSitTraducao]) == kStateTranslated &&
                 rows[0][kStValorProp] == FieldValue{item.translation}) {
        outcome = SetOutcome::Already;
        already = 1;
      } else {
        outcome = SetOutcome::Translated;
        translated = 1;
        if (mode == SetMode::Apply) {
          std::vector<FieldValue> up{item.translation, when};
          AddKey(up, *item.key);
          up.emplace_back(language);
          s.Execute(update_key, up);
          journal_translated(rows, item.translation);
        }
      }
    }
    // A translation of a text no record holds (any more) is still the
    // translator's work: the memory keeps it for when the text comes back.
    if (mode == SetMode::Apply && (outcome == SetOutcome::Stale || outcome == SetOutcome::Missing))
      Remember(s, language, item.source, item.translation, by, MemoryWrite::KeepFirst);
    result.rows.push_back({std::string(SetOutcomeName(outcome)), translated, already});
  }
  if (tx) tx->Commit();
  return result;
}

Packet RetireRecords(Session& s, const std::string& language, const Packet& records, const Attribution& by) {
  const std::vector<std::size_t> at = FieldsAt(records, RetireFields(), "records");
  const std::size_t n = records.rows.size();
  auto record_at = [n](std::size_t r) { return "record " + std::to_string(r + 1) + " of " + std::to_string(n); };
  // Every record is checked before any is removed.
  struct Item {
    RecordKey key;
    FieldValue source;
  };
  std::vector<Item> items;
  items.reserve(n);
  for (std::size_t r = 0; r < n; ++r) {
    const Row& row = records.rows[r];
    if (row.size() != records.fields.size()) throw ProtocolError(record_at(r) + ": the row does not match the fields");
    auto text = [&](int f) -> const std::string& {
      const auto* t = std::get_if<std::string>(&row[at[std::size_t(f)]]);
      if (!t) throw FieldError(record_at(r) + ": " + RetireFields()[std::size_t(f)].name + " is not text");
      return *t;
    };
    const auto* number = std::get_if<double>(&row[at[kRetNumber]]);
    if (!number) throw FieldError(record_at(r) + ": " + Column(kNrValorProp) + " is not a number");
    const FieldValue& source = row[at[kRetSource]];
    if (!std::holds_alternative<std::monostate>(source)) text(kRetSource);
    items.push_back({RecordKey{text(kRetProgram), text(kRetForm), text(kRetComponent), text(kRetProperty), *number,
                               language},
                     source});
  }

  const std::string read_key = SelectRecords() + TranslationTable().KeyCondition();
  const std::string remove_key = "DELETE FROM " + kTable + " WHERE " + TranslationTable().KeyCondition();
  static const std::vector<FieldType> record_types = RecordTypes();
  Transaction tx(s);
  Journal journal(s, by);
  Packet result{RetireOutcomeFields(), {}};
  result.rows.reserve(n);
  for (const Item& item : items) {
    std::vector<FieldValue> key;
    AddKey(key, item.key);
    key.emplace_back(language);
    std::vector<Row> rows = s.Query(read_key, key, record_types);
    RetireOutcome outcome = RetireOutcome::Missing;
    if (!rows.empty()) outcome = rows[0][kStAgrValProp] == item.source ? RetireOutcome::Retired : RetireOutcome::Changed;
    if (outcome == RetireOutcome::Retired) {
      s.Execute(remove_key, key);
      // A translated record's translation stays in the memory.
      journal.Changed(std::move(rows[0]), std::nullopt);
    }
    result.rows.push_back({std::string(RetireOutcomeName(outcome))});
  }
  tx.Commit();
  return result;
}

Packet ReviewRecords(Session& s, const std::string& language, ReviewAction action, const Packet& records,
                     const Attribution& by) {
  const auto& want = ReviewListFields();
  const std::size_t n = records.rows.size();
  if (n > kMaxTranslationChanges)
    throw ProtocolError("the list holds " + std::to_string(n) + " records; at most " +
                        std::to_string(kMaxTranslationChanges) + " are taken at once");
  const std::vector<std::size_t> at = FieldsAt(records, want, "records");
  auto entry_at = [n](std::size_t r) { return "entry " + std::to_string(r + 1) + " of " + std::to_string(n); };

  // Every entry is checked before any is applied.
  struct Item {
    std::optional<RecordKey> key;
    std::optional<std::string> source, translation;  // none: any
  };
  std::vector<Item> items;
  items.reserve(n);
  for (std::size_t r = 0; r < n; ++r) {
    const Row& row = records.rows[r];
    if (row.size() != records.fields.size()) throw ProtocolError(entry_at(r) + ": the row does not match the fields");
    auto value = [&](int f) -> const FieldValue& { return row[at[std::size_t(f)]]; };
    auto null = [&](int f) { return std::holds_alternative<std::monostate>(value(f)); };
    auto text = [&](int f) -> const std::string& {
      const auto* t = std::get_if<std::string>(&value(f));
      if (!t) throw FieldError(entry_at(r) + ": " + want[std::size_t(f)].name + " is not text");
      return *t;
    };
    const int key_fields[] = {kRvwProgram, kRvwForm, kRvwComponent, kRvwProperty, kRvwNumber};
    const auto given = std::count_if(std::begin(key_fields), std::end(key_fields), [&](int f) { return !null(f); });
    if (given != 0 && given != 5)
      throw ProtocolError(entry_at(r) + ": give the record's whole key (" + kProgram + " to " + Column(kNrValorProp) +
                          ") or none of it");
    Item item;
    if (given == 5) {
      const auto* number = std::get_if<double>(&value(kRvwNumber));
      if (!number) throw FieldError(entry_at(r) + ": " + Column(kNrValorProp) + " is not a number");
      item.key = RecordKey{text(kRvwProgram), text(kRvwForm), text(kRvwComponent), text(kRvwProperty), *number,
                           language};
    } else if (null(kRvwSource)) {
      throw FieldError(entry_at(r) + ": " + kSource + " is null; give the source text or the record's key");
    }
    if (!null(kRvwSource)) item.source = text(kRvwSource);
    if (!null(kRvwTranslation)) item.translation = text(kRvwTranslation);
    items.push_back(std::move(item));
  }

  const Backend b = s.Kind();
  const std::string read_key = SelectReviewed() + TranslationTable().KeyCondition();
  const std::string read_text = SelectReviewed() + kLanguage + " = ? AND " + SourceIs(b);
  static const std::vector<FieldType> types = ReviewedTypes();
  const std::string state(ReviewStateOf(action));

  Transaction tx(s);
  Journal journal(s, by);
  Packet result{ReviewOutcomeFields(), {}};
  result.rows.reserve(n);
  for (const Item& item : items) {
    std::vector<Row> rows;
    if (item.key) {
      std::vector<FieldValue> key;
      AddKey(key, *item.key);
      key.emplace_back(language);
      rows = s.Query(read_key, key, types);
    } else if (Fits(RecordFields()[kStAgrValProp], *item.source)) {
      std::vector<FieldValue> params{language};
      AddSource(b, params, *item.source);
      rows = s.Query(read_text, params, types);
    }
    // The outcome of the records concerned, the most telling first:
    // reviewed over already over changed over untranslated.
    ReviewOutcome outcome = rows.empty() ? ReviewOutcome::Missing : ReviewOutcome::Untranslated;
    double reviewed = 0;
    auto weigh = [&](ReviewOutcome o) {
      auto rank = [](ReviewOutcome x) {
        switch (x) {
          case ReviewOutcome::Reviewed: return 4;
          case ReviewOutcome::Already: return 3;
          case ReviewOutcome::Changed: return 2;
          case ReviewOutcome::Untranslated: return 1;
          case ReviewOutcome::Missing: return 0;
        }
        return 0;
      };
      if (rank(o) > rank(outcome)) outcome = o;
    };
    for (Row& row : rows) {
      const bool same_source = !item.source || row[kStAgrValProp] == FieldValue{*item.source};
      if (!same_source) {
        weigh(ReviewOutcome::Changed);
      } else if (TextOf(row[kIdSitTraducao]) != kStateTranslated) {
        weigh(ReviewOutcome::Untranslated);
      } else if (item.translation && row[kStValorProp] != FieldValue{*item.translation}) {
        weigh(ReviewOutcome::Changed);
      } else if (row[kRevState] == FieldValue{state}) {
        weigh(ReviewOutcome::Already);
      } else {
        weigh(ReviewOutcome::Reviewed);
        row.resize(kRecordFieldCount);
        journal.Reviewed(row, state);
        ++reviewed;
      }
    }
    result.rows.push_back({std::string(ReviewOutcomeName(outcome)), reviewed});
  }
  tx.Commit();
  return result;
}

void EnsureExchangeIndexes(Session& s) {
  s.Execute(LanguageIndex());
  if (s.Kind() == Backend::Sqlite) s.Execute(FormerLanguageTextIndex());
  s.Execute(TextIndex(s.Kind()));
  s.Execute(CoverageIndex());
  s.Execute(FormerUntranslatableIndex());
  s.Execute(UntranslatableIndex(s.Kind()));
  s.Execute(RecentIndex());
}

}  // namespace trd::server
