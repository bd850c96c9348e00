#include "Record.h"

#include "platform/Path.h"
#include "platform/Text.h"

namespace trd::protocol {
namespace {

FieldDef Text(const char* name, int size) { return {name, FieldType::String, size}; }

}  // namespace

const std::vector<FieldDef>& RecordFields() {
  static const std::vector<FieldDef> f = {Text("CDPROGRAMA", 20),
                                          Text("NMFORMULARIO", 50),
                                          Text("NMCOMPONENTE", 50),
                                          Text("NMPROPRIEDADE", 50),
                                          {"NRVALORPROP", FieldType::Float, 0},
                                          Text("IDSITTRADUCAO", 1),
                                          Text("STVALORPROP", int(kMaxValueLength)),
                                          Text("STAGRVALPROP", int(kMaxValueLength)),
                                          {"DTULTATUTRAD", FieldType::DateTime, 0},
                                          Text("IDIDIOMA", 3)};
  return f;
}

const std::string& FieldName(RecordField field) { return RecordFields()[std::size_t(field)].name; }

const std::vector<RecordField>& KeyFields() {
  static const std::vector<RecordField> k = {kCdPrograma,    kNmFormulario, kNmComponente,
                                             kNmPropriedade, kNrValorProp,  kIdIdioma};
  return k;
}

const std::vector<FieldDef>& TranslationFields() {
  static const std::vector<FieldDef> f = {RecordFields()[kStAgrValProp], RecordFields()[kStValorProp]};
  return f;
}

const std::vector<FieldDef>& LanguageFields() {
  // The language code is the record's IDIDIOMA.
  static const std::vector<FieldDef> f = {RecordFields()[kIdIdioma], Text("DSIDIOMA", 30),
                                          Text("IDIPROP", 3)};
  return f;
}

const std::vector<FieldDef>& VersionFields() {
  static const std::vector<FieldDef> f = {{"DTGERARQTRAD", FieldType::DateTime, 0}};
  return f;
}

std::string ProgramCode(std::string_view path) {
  const std::string name = text::PathText(FileName(path));
  return name.substr(0, name.find('.'));
}

std::string ColumnList(const std::vector<FieldDef>& fields) {
  std::string s;
  for (const FieldDef& f : fields) {
    if (!s.empty()) s += ", ";
    s += f.name;
  }
  return s;
}

std::string ColumnList(const std::vector<RecordField>& fields) {
  std::string s;
  for (RecordField f : fields) {
    if (!s.empty()) s += ", ";
    s += FieldName(f);
  }
  return s;
}

}  // namespace trd::protocol
