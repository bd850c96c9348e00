// The translation server's tables (documented in docs/server.md):
//
//   TRDPROPRIEDADE  the translation table: one translatable text of one
//                   property, in one language; key CDPROGRAMA, NMFORMULARIO,
//                   NMCOMPONENTE, NMPROPRIEDADE, NRVALORPROP, IDIDIOMA
//   TRDIDIOMA       the languages the server knows (key IDIDIOMA)
//   TRDVERSAO       the version record: at most one row, DTGERARQTRAD
//   TRDMEMORIA      the translation memory (Memory.h)
//   TRDUSUARIO      the users and their roles (Users.h)
//   TRDHISTORICO    every change of a record (History.h)
//   TRDREVISAO      the review state beside each record (Review.h)
//   TRDSESSAO       the progress page's sign-ins (BrowserSessions.h)
//
// Their fields are those of the interface (protocol/Record.h): the shape of
// the packets the server returns and the fields a change set may carry; the
// tables are created from them. Widths are in characters (code points); the
// server refuses a longer text instead of cutting it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Database.h"
#include "platform/Value.h"
#include "protocol/Record.h"

namespace trd::server {

struct TableDef {
  std::string name;
  std::vector<FieldDef> fields;
  // Indices of the key fields (unique together, never null); empty for the
  // single-row version table.
  std::vector<int> key;
  // Indices of the other fields that may not be null.
  std::vector<int> required;

  int FieldIndex(std::string_view name) const;  // -1 when absent (ASCII case ignored)
  bool IsKey(int field) const;
  // "K1 = ? AND K2 = ? ...": the key fields as a condition with parameters.
  std::string KeyCondition() const;
};

// Field positions in the translation table: the record's (protocol/Record.h).
using protocol::RecordField;
using enum protocol::RecordField;

const TableDef& TranslationTable();  // TRDPROPRIEDADE
const TableDef& LanguageTable();     // TRDIDIOMA
const TableDef& VersionTable();      // TRDVERSAO

// Names as the server's SQL writes them, every one taken from the
// interface's definitions (protocol/Record.h), never spelled again here: a
// record field's column; a table's column by position; "IX_<table>_<what>",
// an index of a table.
inline const std::string& Column(RecordField field) { return protocol::FieldName(field); }
inline const std::string& Column(const TableDef& table, int field) { return table.fields[std::size_t(field)].name; }
std::string IndexName(const TableDef& table, std::string_view what);

// CREATE TABLE IF NOT EXISTS of the table's columns, NOT NULL on the key and
// the required fields, the key as the primary key PK_<table>.
std::string CreateStatement(const TableDef& table);

// Creates the tables and indexes that are missing and seeds the language
// table when it is empty (POR, ENG, ESP), in one transaction. Safe to run on
// every start.
void EnsureSchema(Session& session);

// The statements behind the look-ups, shared with the benchmark that times
// the bare statement.
namespace sql {
// Parameters: the six key fields in key order; result: the ten record fields.
const std::string& RecordsOfKey();
// Parameters: the six key fields, then the source text; trailing blanks of the
// stored source text are ignored.
const std::string& RecordsOfKeyAndSource();
// Parameters: language, source text, and on PostgreSQL the source text once
// more (its index holds a digest of the text, compared first); result
// STAGRVALPROP, STVALORPROP of the translated record of the latest change,
// if any (one row at most).
const std::string& LatestTranslationOfSource(Backend backend);
}  // namespace sql

}  // namespace trd::server
