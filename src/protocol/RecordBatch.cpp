#include "RecordBatch.h"

#include "Record.h"
#include "platform/Errors.h"

namespace trd::protocol {

const std::vector<FieldDef>& BatchRecordFields() {
  const std::vector<FieldDef>& r = RecordFields();
  static const std::vector<FieldDef> f = {r[kCdPrograma],   r[kNmFormulario],
                                          r[kNmComponente], r[kNmPropriedade],
                                          r[kNrValorProp],  r[kStAgrValProp],
                                          {"IDACEITA", FieldType::String, 1},
                                          {"IDBUSCATRAD", FieldType::String, 1}};
  return f;
}

const std::vector<FieldDef>& BatchResultFields() {
  static const std::vector<FieldDef> f = {{"IDRESULTADO", FieldType::String, 16},
                                          {"IDTRADUCAO", FieldType::String, 1}};
  return f;
}

std::string FileCountsText(const std::vector<std::size_t>& counts) {
  std::string text;
  for (std::size_t n : counts) text += (text.empty() ? "" : ",") + std::to_string(n);
  return text;
}

std::vector<std::size_t> FileCountsOf(std::string_view text) {
  std::vector<std::size_t> counts;
  std::size_t n = 0;
  bool digits = false;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ',') {
      if (!digits || n == 0) throw ProtocolError("the files' counts must be whole numbers of 1 or more joined by \",\"");
      counts.push_back(n);
      n = 0;
      digits = false;
    } else if (text[i] >= '0' && text[i] <= '9' && n < (std::size_t(1) << 40)) {
      n = n * 10 + std::size_t(text[i] - '0');
      digits = true;
    } else {
      throw ProtocolError("the files' counts must be whole numbers of 1 or more joined by \",\"");
    }
  }
  return counts;
}

}  // namespace trd::protocol
