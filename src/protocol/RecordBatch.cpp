#include "RecordBatch.h"

#include "Record.h"

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

}  // namespace trd::protocol
