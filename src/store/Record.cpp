#include "Record.h"

#include "platform/Text.h"

namespace trd::store {

const std::vector<FieldDef>& RecordFields() {
  static const std::vector<FieldDef> f = {
      {"CDPROGRAMA", FieldType::String, 20},     {"NMFORMULARIO", FieldType::String, 50},
      {"NMCOMPONENTE", FieldType::String, 50},   {"NMPROPRIEDADE", FieldType::String, 50},
      {"NRVALORPROP", FieldType::Float, 0},      {"IDSITTRADUCAO", FieldType::String, 1},
      {"STVALORPROP", FieldType::String, 4000},  {"STAGRVALPROP", FieldType::String, 4000},
      {"DTULTATUTRAD", FieldType::DateTime, 0},  {"IDIDIOMA", FieldType::String, 3}};
  return f;
}

const std::vector<FieldDef>& TranslationFields() {
  static const std::vector<FieldDef> f = {{"STAGRVALPROP", FieldType::String, 4000},
                                          {"STVALORPROP", FieldType::String, 4000}};
  return f;
}

const std::vector<FieldDef>& LanguageFields() {
  static const std::vector<FieldDef> f = {{"IDIDIOMA", FieldType::String, 3},
                                          {"DSIDIOMA", FieldType::String, 30},
                                          {"IDIPROP", FieldType::String, 3}};
  return f;
}

const std::vector<FieldDef>& VersionFields() {
  static const std::vector<FieldDef> f = {{"DTGERARQTRAD", FieldType::DateTime, 0}};
  return f;
}

void PostNewRecord(DataSet& table, const RecordKey& key, std::string_view value) {
  table.Insert();
  try {
    table.SetField("CDPROGRAMA", key.program);
    table.SetField("NMFORMULARIO", key.form);
    table.SetField("NMCOMPONENTE", key.component);
    table.SetField("NMPROPRIEDADE", key.property);
    table.SetField("NRVALORPROP", key.number);
    table.SetField("IDSITTRADUCAO", std::string("N"));
    table.SetField("STVALORPROP", std::string(value));
    table.SetField("STAGRVALPROP", std::string(value));
    table.SetField("DTULTATUTRAD", DateTime::Now());
    table.SetField("IDIDIOMA", key.language);
  } catch (...) {
    table.Cancel();
    throw;
  }
  table.Post();
}

bool HoldsSourceText(const DataSet& found, std::string_view value) {
  return !found.IsEmpty() &&
         text::TrimTrailingBlanks(found.AsString("STAGRVALPROP")) == text::TrimTrailingBlanks(value);
}

}  // namespace trd::store
