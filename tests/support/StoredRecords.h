// What a translation server's SQLite file holds, read straight from the file
// (the server's methods look records up by key or value only). Safe while the
// server runs: SQLite lets a second connection read a WAL database.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Record.h"
#include "server/Database.h"
#include "server/Schema.h"

namespace trd::test {

struct StoredRecord {
  std::string key;          // "PROGRAM/FORM/COMPONENT/PROPERTY/NUMBER"
  std::string source;       // STAGRVALPROP
  std::string translation;  // STVALORPROP
  std::string state;        // IDSITTRADUCAO
  std::string language;     // IDIDIOMA

  // "KEY=SOURCE", the form golden files and expectations use; line breaks
  // of the source written as \r and \n.
  std::string Line() const {
    std::string line = key + "=";
    for (char c : source) {
      if (c == '\r')
        line += "\\r";
      else if (c == '\n')
        line += "\\n";
      else
        line += c;
    }
    return line;
  }
};

inline std::string TextOf(const FieldValue& v) {
  const auto* s = std::get_if<std::string>(&v);
  return s ? *s : std::string();
}

// One row of the translation table as the server holds it.
struct Stored {
  std::string program, form, component, property;
  double number = 0;
  std::string state, value, source, language;
};

// Every record of the session's translation table in creation order (SQLite
// keeps it in rowid).
inline std::vector<Stored> RecordsInCreationOrder(server::Session& session) {
  const server::TableDef& table = server::TranslationTable();
  std::vector<FieldType> types;
  for (const FieldDef& f : table.fields) types.push_back(f.type);
  std::vector<Stored> out;
  for (const Row& r : session.Query("SELECT " + protocol::ColumnList(table.fields) + " FROM " + table.name +
                                        " ORDER BY rowid",
                                    {}, types)) {
    const auto* number = std::get_if<double>(&r[server::kNrValorProp]);
    out.push_back(Stored{TextOf(r[server::kCdPrograma]), TextOf(r[server::kNmFormulario]),
                         TextOf(r[server::kNmComponente]), TextOf(r[server::kNmPropriedade]), number ? *number : 0,
                         TextOf(r[server::kIdSitTraducao]), TextOf(r[server::kStValorProp]),
                         TextOf(r[server::kStAgrValProp]), TextOf(r[server::kIdIdioma])});
  }
  return out;
}

// Every record, ordered by key.
inline std::vector<StoredRecord> ReadRecords(const std::string& db_path) {
  static const std::vector<FieldType> kTypes(9, FieldType::String);
  auto db = server::OpenDatabase(db_path);
  auto session = db->Acquire();
  std::vector<Row> rows = session->Query(
      "SELECT CDPROGRAMA, NMFORMULARIO, NMCOMPONENTE, NMPROPRIEDADE, CAST(CAST(NRVALORPROP AS INTEGER) AS TEXT), "
      "STAGRVALPROP, STVALORPROP, IDSITTRADUCAO, IDIDIOMA FROM TRDPROPRIEDADE",
      {}, kTypes);
  std::vector<StoredRecord> out;
  for (const Row& r : rows) {
    out.push_back({TextOf(r[0]) + "/" + TextOf(r[1]) + "/" + TextOf(r[2]) + "/" + TextOf(r[3]) + "/" + TextOf(r[4]),
                   TextOf(r[5]), TextOf(r[6]), TextOf(r[7]), TextOf(r[8])});
  }
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.key < b.key; });
  return out;
}

inline std::vector<std::string> RecordLines(const std::string& db_path) {
  std::vector<std::string> out;
  for (const StoredRecord& r : ReadRecords(db_path)) out.push_back(r.Line());
  return out;
}

// The version stamp, or nullopt when the server holds none.
inline std::optional<DateTime> ReadVersion(const std::string& db_path) {
  static const std::vector<FieldType> kTypes{FieldType::DateTime};
  auto db = server::OpenDatabase(db_path);
  auto session = db->Acquire();
  std::vector<Row> rows = session->Query("SELECT DTGERARQTRAD FROM TRDVERSAO", {}, kTypes);
  if (rows.empty()) return std::nullopt;
  const auto* t = std::get_if<DateTime>(&rows.front()[0]);
  return t ? std::optional<DateTime>(*t) : std::nullopt;
}

// Sets the version stamp to an old date, so that a later stamp shows.
inline void BackdateVersion(const std::string& db_path) {
  auto db = server::OpenDatabase(db_path);
  auto session = db->Acquire();
  const FieldValue old = DateTime::FromParts(2001, 2, 3);
  session->Execute("UPDATE TRDVERSAO SET DTGERARQTRAD = ?", {&old, 1});
}

}  // namespace trd::test
