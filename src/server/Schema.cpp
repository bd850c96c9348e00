#include "Schema.h"

#include <algorithm>

#include "platform/Text.h"

namespace trd::server {
namespace {

FieldDef Text(const char* name, int size) { return {name, FieldType::String, size}; }
FieldDef Float(const char* name) { return {name, FieldType::Float, 0}; }
FieldDef Stamp(const char* name) { return {name, FieldType::DateTime, 0}; }

std::string SelectList(const TableDef& t) {
  std::string s;
  for (const auto& f : t.fields) {
    if (!s.empty()) s += ", ";
    s += f.name;
  }
  return s;
}

std::string KeyCondition(const TableDef& t) {
  std::string s;
  for (int k : t.key) {
    if (!s.empty()) s += " AND ";
    s += t.fields[std::size_t(k)].name + " = ?";
  }
  return s;
}

// DDL in the portable subset (see Database.h). SQLite reads VARCHAR(n) as
// text, DOUBLE PRECISION as real; TIMESTAMP columns hold ISO 8601 text there.
const char* const kCreateStatements[] = {
    "CREATE TABLE IF NOT EXISTS TRDPROPRIEDADE ("
    " CDPROGRAMA VARCHAR(20) NOT NULL,"
    " NMFORMULARIO VARCHAR(50) NOT NULL,"
    " NMCOMPONENTE VARCHAR(50) NOT NULL,"
    " NMPROPRIEDADE VARCHAR(50) NOT NULL,"
    " NRVALORPROP DOUBLE PRECISION NOT NULL,"
    " IDSITTRADUCAO VARCHAR(1),"
    " STVALORPROP VARCHAR(4000),"
    " STAGRVALPROP VARCHAR(4000),"
    " DTULTATUTRAD TIMESTAMP,"
    " IDIDIOMA VARCHAR(3) NOT NULL,"
    " CONSTRAINT PK_TRDPROPRIEDADE PRIMARY KEY"
    " (CDPROGRAMA, NMFORMULARIO, NMCOMPONENTE, NMPROPRIEDADE, NRVALORPROP, IDIDIOMA))",
    "CREATE TABLE IF NOT EXISTS TRDIDIOMA ("
    " IDIDIOMA VARCHAR(3) NOT NULL,"
    " DSIDIOMA VARCHAR(30) NOT NULL,"
    " IDIPROP VARCHAR(3),"
    " CONSTRAINT PK_TRDIDIOMA PRIMARY KEY (IDIDIOMA))",
    "CREATE TABLE IF NOT EXISTS TRDVERSAO (DTGERARQTRAD TIMESTAMP)",
};

// The translation look-up (GetUpdRelDfm): the latest translated record of
// one language and source text. The index holds the translated records only
// (state "T"), by language, text and time of the last change, so that the
// look-up reads one entry however many records share the text. A PostgreSQL
// B-tree entry holds at most about 2.7 kB, less than a source text may take,
// so there it holds the MD5 digest of the text instead, and the look-up
// (sql::LatestTranslationOfSource) finds the digest through the index and
// compares the text itself after.
const char* const kTranslationIndex[] = {
    "CREATE INDEX IF NOT EXISTS IX_TRDPROPRIEDADE_TRADUCAO ON TRDPROPRIEDADE"
    " (IDIDIOMA, STAGRVALPROP, DTULTATUTRAD) WHERE IDSITTRADUCAO = 'T'",
    "CREATE INDEX IF NOT EXISTS IX_TRDPROPRIEDADE_TRADUCAO ON TRDPROPRIEDADE"
    " (IDIDIOMA, md5(STAGRVALPROP), DTULTATUTRAD DESC NULLS LAST) WHERE IDSITTRADUCAO = 'T'",
};
// The index the look-up had before, over every record of a language and text
// (a hash of the text on PostgreSQL): it read all records that share the text
// to find the translated ones. Nothing else uses it; dropped on start.
const char* const kFormerSourceIndex = "DROP INDEX IF EXISTS IX_TRDPROPRIEDADE_ORIGEM";

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

const TableDef& TranslationTable() {
  static const TableDef t{"TRDPROPRIEDADE",
                          {Text("CDPROGRAMA", 20), Text("NMFORMULARIO", 50), Text("NMCOMPONENTE", 50),
                           Text("NMPROPRIEDADE", 50), Float("NRVALORPROP"), Text("IDSITTRADUCAO", 1),
                           Text("STVALORPROP", 4000), Text("STAGRVALPROP", 4000), Stamp("DTULTATUTRAD"),
                           Text("IDIDIOMA", 3)},
                          {kCdPrograma, kNmFormulario, kNmComponente, kNmPropriedade, kNrValorProp,
                           kIdIdioma}};
  return t;
}

const TableDef& LanguageTable() {
  static const TableDef t{
      "TRDIDIOMA", {Text("IDIDIOMA", 3), Text("DSIDIOMA", 30), Text("IDIPROP", 3)}, {0}};
  return t;
}

const TableDef& VersionTable() {
  static const TableDef t{"TRDVERSAO", {Stamp("DTGERARQTRAD")}, {}};
  return t;
}

const std::vector<FieldDef>& TranslationLookupFields() {
  static const std::vector<FieldDef> f{Text("STAGRVALPROP", 4000), Text("STVALORPROP", 4000)};
  return f;
}

namespace sql {
const std::string& RecordsOfKey() {
  static const std::string s = "SELECT " + SelectList(TranslationTable()) +
                               " FROM TRDPROPRIEDADE WHERE " + KeyCondition(TranslationTable());
  return s;
}
const std::string& RecordsOfKeyAndSource() {
  static const std::string s = RecordsOfKey() + " AND RTRIM(STAGRVALPROP) = ?";
  return s;
}
const std::string& LatestTranslationOfSource(Backend backend) {
  // The order is the translation index's own (SQLite keeps NULLs lowest, so
  // they come last walking it backwards), so no sort is needed.
  static const std::string sqlite =
      "SELECT STAGRVALPROP, STVALORPROP FROM TRDPROPRIEDADE"
      " WHERE IDIDIOMA = ? AND IDSITTRADUCAO = 'T' AND STAGRVALPROP = ?"
      " ORDER BY DTULTATUTRAD DESC NULLS LAST LIMIT 1";
  static const std::string postgres =
      "SELECT STAGRVALPROP, STVALORPROP FROM TRDPROPRIEDADE"
      " WHERE IDIDIOMA = ? AND IDSITTRADUCAO = 'T' AND md5(STAGRVALPROP) = md5(CAST(? AS TEXT))"
      " AND STAGRVALPROP = ?"
      " ORDER BY DTULTATUTRAD DESC NULLS LAST LIMIT 1";
  return backend == Backend::Postgres ? postgres : sqlite;
}
}  // namespace sql

void EnsureSchema(Session& session) {
  Transaction tx(session);
  for (const char* stmt : kCreateStatements) session.Execute(stmt);
  session.Execute(kFormerSourceIndex);
  session.Execute(kTranslationIndex[session.Kind() == Backend::Postgres ? 1 : 0]);
  const FieldType count_type[] = {FieldType::Float};
  auto rows = session.Query("SELECT COUNT(*) FROM TRDIDIOMA", {}, count_type);
  if (rows.empty() || std::get<double>(rows[0][0]) == 0) {
    for (const auto& lang : kSeedLanguages) {
      // The language's property code is the language code itself.
      const FieldValue params[] = {std::string(lang.code), std::string(lang.name),
                                   std::string(lang.code)};
      session.Execute("INSERT INTO TRDIDIOMA (IDIDIOMA, DSIDIOMA, IDIPROP) VALUES (?, ?, ?)", params);
    }
  }
  tx.Commit();
}

}  // namespace trd::server
