#include "Value.h"

#include "Text.h"

namespace trd {
namespace {
template <class Defs>
int IndexOf(const Defs& fields, std::string_view name) {
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (text::EqualsIgnoreCase(fields[i].name, name)) return int(i);
  return -1;
}
}  // namespace

int Packet::FieldIndex(std::string_view name) const { return IndexOf(fields, name); }
int ChangeSet::FieldIndex(std::string_view name) const { return IndexOf(fields, name); }

const char* KindName(const Value& v) {
  static constexpr const char* kNames[] = {"null",      "boolean", "integer",    "number",
                                           "text",      "date-time", "data packet", "change set",
                                           "failure"};
  return kNames[v.index()];
}

const char* TypeName(FieldType t) {
  switch (t) {
    case FieldType::String: return "string";
    case FieldType::Float: return "float";
    case FieldType::DateTime: return "datetime";
  }
  return "?";
}

const char* ChangeKindName(ChangeKind k) {
  switch (k) {
    case ChangeKind::Insert: return "insert";
    case ChangeKind::Modify: return "modify";
    case ChangeKind::Delete: return "delete";
  }
  return "?";
}

}  // namespace trd
