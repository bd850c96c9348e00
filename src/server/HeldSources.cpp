#include "HeldSources.h"

#include <algorithm>
#include <utility>

#include "Records.h"
#include "Schema.h"

namespace trd::server {
namespace {

// The key's remaining parts and the source, in this order.
constexpr RecordField kFields[] = {kNmComponente, kNmPropriedade, kNrValorProp, kStAgrValProp};

const std::string& SourcesOfForm() {
  static const std::string sql = [] {
    std::string columns;
    for (RecordField f : kFields) columns += (columns.empty() ? "" : ", ") + Column(f);
    return "SELECT " + columns + " FROM " + TranslationTable().name + " WHERE " + FormCondition();
  }();
  return sql;
}

const std::vector<FieldType>& SourcesTypes() {
  static const std::vector<FieldType> types = [] {
    std::vector<FieldType> t;
    for (RecordField f : kFields) t.push_back(TranslationTable().fields[std::size_t(f)].type);
    return t;
  }();
  return types;
}

// The order of a form's records, and of a key among them: component,
// property, number (the key's parts after the form; byte order).
template <typename A, typename B>
bool PartBefore(const A& a, const B& b) {
  return std::tie(a.component, a.property, a.number) < std::tie(b.component, b.property, b.number);
}

}  // namespace

const std::string& FormCondition() {
  static const std::string condition =
      Column(kCdPrograma) + " = ? AND " + Column(kNmFormulario) + " = ? AND " + Column(kIdIdioma) + " = ?";
  return condition;
}

void HeldSources::Hold(const protocol::RecordKey& first) {
  const auto [form, fresh] = forms_.try_emplace(FormKey{first.program, first.form, first.language});
  if (!fresh) return;
  const FieldValue params[] = {first.program, first.form, first.language};
  std::vector<Row> rows = s_.Query(SourcesOfForm(), params, SourcesTypes());
  std::vector<Held>& held = form->second;
  held.reserve(rows.size());
  for (Row& r : rows) {
    auto* component = std::get_if<std::string>(&r[0]);
    auto* property = std::get_if<std::string>(&r[1]);
    const auto* number = std::get_if<double>(&r[2]);
    if (!component || !property || !number) continue;  // never: key columns hold no nulls
    held.push_back({std::move(*component), std::move(*property), *number, std::move(r[3])});
  }
  std::sort(held.begin(), held.end(), [](const Held& a, const Held& b) { return PartBefore(a, b); });
}

bool HeldSources::Holds(const protocol::RecordKey& key, std::string_view value) {
  const auto form = FormOfKey(forms_, last_, key);
  if (form == forms_.end()) return !RecordsOfKeyAndSource(s_, key, value).rows.empty();
  const std::vector<Held>& held = form->second;
  struct Part {
    std::string_view component, property;
    double number;
  } const part{key.component, key.property, key.number};
  const auto it = std::lower_bound(held.begin(), held.end(), part,
                                   [](const Held& h, const Part& p) { return PartBefore(h, p); });
  if (it == held.end() || PartBefore(part, *it)) return false;
  return HoldsSource(it->source, value);
}

}  // namespace trd::server
