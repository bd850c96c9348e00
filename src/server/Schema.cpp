#include "Schema.h"

#include <algorithm>

#include "ExchangeRecords.h"
#include "Suggestions.h"
#include "History.h"
#include "Review.h"
#include "BrowserSessions.h"
#include "Memory.h"
#include "Users.h"
#include "platform/Text.h"

namespace trd::server {
namespace {

// A column's type in the portable subset of SQL (see Database.h). SQLite
// reads VARCHAR(n) as text, DOUBLE PRECISION as real; TIMESTAMP columns hold
// ISO 8601 text there.
std::string ColumnType(const FieldDef& f) {
  switch (f.type) {
    case FieldType::String: return "VARCHAR(" + std::to_string(f.size) + ")";
    case FieldType::Float: return "DOUBLE PRECISION";
    case FieldType::DateTime: return "TIMESTAMP";
  }
  return "";
}

}  // namespace

std::string CreateStatement(const TableDef& t) {
  std::string s = "CREATE TABLE IF NOT EXISTS " + t.name + " (";
  for (std::size_t i = 0; i < t.fields.size(); ++i) {
    const int c = int(i);
    if (i) s += ", ";
    s += t.fields[i].name + " " + ColumnType(t.fields[i]);
    if (t.IsKey(c) || std::find(t.required.begin(), t.required.end(), c) != t.required.end()) s += " NOT NULL";
  }
  if (!t.key.empty()) {
    std::string key;
    for (int k : t.key) key += (key.empty() ? "" : ", ") + t.fields[std::size_t(k)].name;
    s += ", CONSTRAINT PK_" + t.name + " PRIMARY KEY (" + key + ")";
  }
  return s + ")";
}

namespace {

// The translation look-up (GetUpdRelDfm): the latest translated record of
// one language and source text. The index holds the translated records only
// (state "T"), by language, text and time of the last change, so that the
// look-up reads one entry however many records share the text. A PostgreSQL
// B-tree entry holds at most about 2.7 kB, less than a source text may take,
// so there it holds the MD5 digest of the text instead, and the look-up
// (sql::LatestTranslationOfSource) finds the digest through the index and
// compares the text itself after.
std::string TranslationIndex(Backend backend) {
  const TableDef& t = TranslationTable();
  const std::string& source = Column(kStAgrValProp);
  return "CREATE INDEX IF NOT EXISTS " + IndexName(t, "TRADUCAO") + " ON " + t.name + " (" + Column(kIdIdioma) +
         ", " + (backend == Backend::Postgres ? "md5(" + source + ")" : source) + ", " + Column(kDtUltAtuTrad) +
         (backend == Backend::Postgres ? " DESC NULLS LAST" : "") + ") WHERE " + Column(kIdSitTraducao) + " = '" +
         std::string(protocol::kStateTranslated) + "'";
}
// The index the look-up had before, over every record of a language and text
// (a hash of the text on PostgreSQL): it read all records that share the text
// to find the translated ones. Nothing else uses it; dropped on start.
std::string FormerSourceIndex() { return "DROP INDEX IF EXISTS " + IndexName(TranslationTable(), "ORIGEM"); }

struct Language {
  const char* code;
  const char* name;
};
const Language kSeedLanguages[] = {
    {"POR", "Português"},
    {"ENG", "English"},
    {"ESP", "Español"},
};

}  // namespace

int TableDef::FieldIndex(std::string_view n) const {
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (text::EqualsIgnoreCase(fields[i].name, n)) return int(i);
  return -1;
}

bool TableDef::IsKey(int field) const { return std::find(key.begin(), key.end(), field) != key.end(); }

std::string TableDef::KeyCondition() const {
  std::string s;
  for (int k : key) s += (s.empty() ? "" : " AND ") + fields[std::size_t(k)].name + " = ?";
  return s;
}

std::string IndexName(const TableDef& table, std::string_view what) {
  return "IX_" + table.name + "_" + std::string(what);
}

const TableDef& TranslationTable() {
  static const TableDef t{std::string(protocol::kTranslationTable), protocol::RecordFields(),
                          std::vector<int>(protocol::KeyFields().begin(), protocol::KeyFields().end()),
                          {}};
  return t;
}

const TableDef& LanguageTable() {
  static const TableDef t{std::string(protocol::kLanguageTable), protocol::LanguageFields(), {protocol::kLangCode},
                          {protocol::kLangName}};
  return t;
}

const TableDef& VersionTable() {
  static const TableDef t{std::string(protocol::kVersionTable), protocol::VersionFields(), {}, {}};
  return t;
}

namespace sql {
const std::string& RecordsOfKey() {
  static const std::string s = "SELECT " + protocol::ColumnList(TranslationTable().fields) + " FROM " +
                               TranslationTable().name + " WHERE " + TranslationTable().KeyCondition();
  return s;
}
const std::string& RecordsOfKeyAndSource() {
  static const std::string s = RecordsOfKey() + " AND RTRIM(" + Column(kStAgrValProp) + ") = ?";
  return s;
}
const std::string& LatestTranslationOfSource(Backend backend) {
  // The order is the translation index's own (SQLite keeps NULLs lowest, so
  // they come last walking it backwards), so no sort is needed.
  const std::string& source = Column(kStAgrValProp);
  static const std::string select = "SELECT " + protocol::ColumnList(protocol::TranslationFields()) + " FROM " +
                                    TranslationTable().name + " WHERE " + Column(kIdIdioma) + " = ? AND " +
                                    Column(kIdSitTraducao) + " = '" + std::string(protocol::kStateTranslated) + "'";
  static const std::string order = " ORDER BY " + Column(kDtUltAtuTrad) + " DESC NULLS LAST LIMIT 1";
  static const std::string sqlite = select + " AND " + source + " = ?" + order;
  static const std::string postgres =
      select + " AND md5(" + source + ") = md5(CAST(? AS TEXT)) AND " + source + " = ?" + order;
  return backend == Backend::Postgres ? postgres : sqlite;
}
}  // namespace sql

void EnsureSchema(Session& session) {
  Transaction tx(session);
  for (const TableDef* t : {&TranslationTable(), &LanguageTable(), &VersionTable()})
    session.Execute(CreateStatement(*t));
  session.Execute(FormerSourceIndex());
  session.Execute(TranslationIndex(session.Kind()));
  EnsureExchangeIndexes(session);
  EnsureMemory(session);
  EnsureSuggestionIndex(session);
  EnsureUsers(session);
  EnsureHistory(session);
  EnsureReviews(session);
  EnsureSessionTable(session);
  const FieldType count_type[] = {FieldType::Float};
  const TableDef& languages = LanguageTable();
  auto rows = session.Query("SELECT COUNT(*) FROM " + languages.name, {}, count_type);
  if (rows.empty() || std::get<double>(rows[0][0]) == 0) {
    for (const auto& lang : kSeedLanguages) {
      // The language's property code is the language code itself.
      const FieldValue params[] = {std::string(lang.code), std::string(lang.name),
                                   std::string(lang.code)};
      session.Execute("INSERT INTO " + languages.name + " (" + protocol::ColumnList(languages.fields) +
                          ") VALUES (?, ?, ?)",
                      params);
    }
  }
  tx.Commit();
}

}  // namespace trd::server
