// The translation property record as client and server exchange it: the ten
// fields with their types and widths (the shape of the look-up packets, the
// change sets and the translation table), the key, and the other packets of
// the interface. Widths are in characters (code points).
#pragma once

#include <compare>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Value.h"

namespace trd::protocol {

// Field positions in record order.
enum RecordField : int {
  kCdPrograma,      // program code: the source file's name up to its first "." (20)
  kNmFormulario,    // form name (50)
  kNmComponente,    // component name (50)
  kNmPropriedade,   // property path (50)
  kNrValorProp,     // position of the text within the property (float, whole values)
  kIdSitTraducao,   // state: kStateNew or kStateTranslated (1)
  kStValorProp,     // the text in the record's language (4000)
  kStAgrValProp,    // the source text (4000)
  kDtUltAtuTrad,    // time of the last change (date-time)
  kIdIdioma,        // language code (3)
  kRecordFieldCount
};

// Width of the two text fields; clients cut longer texts to it.
inline constexpr std::size_t kMaxValueLength = 4000;

inline constexpr std::string_view kStateNew = "N";
inline constexpr std::string_view kStateTranslated = "T";

// The ten fields, in record order.
const std::vector<FieldDef>& RecordFields();
// The name of one of them.
const std::string& FieldName(RecordField field);
// The key fields, in key order: program, form, component, property, number,
// language (the arguments of the look-up by key).
const std::vector<RecordField>& KeyFields();

// The translation look-up's packet: STAGRVALPROP, STVALORPROP.
const std::vector<FieldDef>& TranslationFields();
// The language list: IDIDIOMA (3), DSIDIOMA (30), IDIPROP (3).
const std::vector<FieldDef>& LanguageFields();
enum LanguageField : int { kLangCode, kLangName, kLangProperty };
// The version record: DTGERARQTRAD (date-time).
const std::vector<FieldDef>& VersionFields();
enum VersionField : int { kVersionStamp };

// The server's tables of these fields: the translation table (the records),
// the languages and the version record (docs/server.md).
inline constexpr std::string_view kTranslationTable = "TRDPROPRIEDADE";
inline constexpr std::string_view kLanguageTable = "TRDIDIOMA";
inline constexpr std::string_view kVersionTable = "TRDVERSAO";

// The program code of a source file as written: its file name up to its
// first "." (Cadastro.Clientes.dfm gives Cadastro), as text (text::PathText:
// a name that is not UTF-8 is read as Windows-1252). Records hold it
// upper-cased.
std::string ProgramCode(std::string_view path);

// "NAME1, NAME2, ...": the names of `fields` in order.
std::string ColumnList(const std::vector<FieldDef>& fields);
// The same of record fields.
std::string ColumnList(const std::vector<RecordField>& fields);

// The key of a record.
struct RecordKey {
  std::string program;    // CDPROGRAMA
  std::string form;       // NMFORMULARIO
  std::string component;  // NMCOMPONENTE
  std::string property;   // NMPROPRIEDADE
  double number = 0;      // NRVALORPROP
  std::string language;   // IDIDIOMA

  friend bool operator==(const RecordKey&, const RecordKey&) = default;
  // Field by field in the order above (a map's key).
  friend auto operator<=>(const RecordKey&, const RecordKey&) = default;
};

}  // namespace trd::protocol
