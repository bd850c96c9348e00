#include "Record.h"

#include "platform/Text.h"

namespace trd::store {

void PostNewRecord(DataSet& table, const RecordKey& key, std::string_view value) {
  table.Insert();
  try {
    table.SetField("CDPROGRAMA", key.program);
    table.SetField("NMFORMULARIO", key.form);
    table.SetField("NMCOMPONENTE", key.component);
    table.SetField("NMPROPRIEDADE", key.property);
    table.SetField("NRVALORPROP", key.number);
    table.SetField("IDSITTRADUCAO", std::string(protocol::kStateNew));
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
