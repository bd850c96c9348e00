#include "Record.h"

#include <array>
#include <string>

namespace trd::store {

void PostNewRecord(DataSet& table, const RecordKey& key, std::string_view value) {
  table.Insert();
  try {
    std::array<FieldValue, protocol::kRecordFieldCount> fields = {
        key.program,     key.form,           key.component,      key.property,    key.number,
        std::string(protocol::kStateNew), std::string(value), std::string(value), DateTime::Now(), key.language};
    for (std::size_t i = 0; i < fields.size(); ++i)
      table.SetField(protocol::RecordFields()[i].name, std::move(fields[i]));
  } catch (...) {
    table.Cancel();
    throw;
  }
  table.Post();
}

}  // namespace trd::store
