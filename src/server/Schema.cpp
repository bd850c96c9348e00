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

// The translation look-up: records of one language by source text. A
// PostgreSQL B-tree entry holds at most about 2.7 kB, less than a source text
// may take, so there the index hashes the text (equality is all the look-up
// needs).
const char* const kSourceIndex[] = {
    "CREATE INDEX IF NOT EXISTS IX_TRDPROPRIEDADE_ORIGEM ON TRDPROPRIEDADE (IDIDIOMA, STAGRVALPROP)",
    "CREATE INDEX IF NOT EXISTS IX_TRDPROPRIEDADE_ORIGEM ON TRDPROPRIEDADE USING HASH (STAGRVALPROP)",
};

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
const std::string& TranslationsOfSource() {
  static const std::string s =
      "SELECT STAGRVALPROP, STVALORPROP FROM TRDPROPRIEDADE"
      " WHERE IDIDIOMA = ? AND IDSITTRADUCAO = 'T' AND STAGRVALPROP = ?"
      " ORDER BY CASE WHEN DTULTATUTRAD IS NULL THEN 1 ELSE 0 END, DTULTATUTRAD DESC";
  return s;
}
}  // namespace sql

void EnsureSchema(Session& session) {
  Transaction tx(session);
  for (const char* stmt : kCreateStatements) session.Execute(stmt);
  session.Execute(kSourceIndex[session.Kind() == Backend::Postgres ? 1 : 0]);
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
