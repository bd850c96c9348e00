#include "FormObject.h"

#include <cmath>
#include <utility>

namespace trd::form {

ValueKind IntegerKindFor(std::int64_t v) {
  if (v >= -128 && v <= 127) return ValueKind::Int8;
  if (v >= -32768 && v <= 32767) return ValueKind::Int16;
  if (v >= INT32_MIN && v <= INT32_MAX) return ValueKind::Int32;
  return ValueKind::Int64;
}

std::string_view KeywordText(ValueKind k) {
  switch (k) {
    case ValueKind::False:
      return "False";
    case ValueKind::True:
      return "True";
    case ValueKind::Nil:
      return "nil";
    case ValueKind::Null:
      return "Null";
    default:
      return {};
  }
}

Value Value::Integer(std::int64_t v) {
  Value r;
  r.kind = IntegerKindFor(v);
  r.integer = v;
  return r;
}

Value Value::Real(ValueKind kind, long double v) {
  Value r;
  r.kind = kind;
  r.real = v;
  return r;
}

Value Value::Currency(std::int64_t ten_thousandths) {
  Value r;
  r.kind = ValueKind::Currency;
  r.integer = ten_thousandths;
  return r;
}

ValueKind StringKindFor(std::string_view utf8) {
  for (unsigned char c : utf8)
    if (c >= 0x80) return ValueKind::WString;
  return utf8.size() <= 255 ? ValueKind::String : ValueKind::LString;
}

Value Value::Str(std::string utf8) {
  ValueKind kind = StringKindFor(utf8);
  return Str(kind, std::move(utf8));
}

Value Value::Str(ValueKind kind, std::string utf8) {
  Value r;
  r.kind = kind;
  r.text = std::move(utf8);
  return r;
}

Value Value::Identifier(std::string name) {
  Value r;
  r.kind = ValueKind::Ident;
  r.text = std::move(name);
  return r;
}

Value Value::Boolean(bool v) { return Keyword(v ? ValueKind::True : ValueKind::False); }

Value Value::Keyword(ValueKind kind) {
  Value r;
  r.kind = kind;
  return r;
}

Value Value::Bytes(std::string raw) {
  Value r;
  r.kind = ValueKind::Binary;
  r.text = std::move(raw);
  return r;
}

Value Value::SetOf(std::vector<std::string> names) {
  Value r;
  r.kind = ValueKind::Set;
  r.elements = std::move(names);
  return r;
}

Value Value::ListOf(std::vector<Value> values) {
  Value r;
  r.kind = ValueKind::List;
  r.list = std::move(values);
  return r;
}

Value Value::CollectionOf(std::vector<CollectionItem> items) {
  Value r;
  r.kind = ValueKind::Collection;
  r.items = std::move(items);
  return r;
}

bool operator==(const Value& a, const Value& b) {
  if (a.kind != b.kind) return false;
  bool same_real = a.real == b.real || (std::isnan(a.real) && std::isnan(b.real));
  return a.integer == b.integer && same_real && a.text == b.text && a.elements == b.elements &&
         a.list == b.list && a.items == b.items;
}

const Property* FormObject::Find(std::string_view property_name) const {
  for (const Property& p : properties)
    if (p.name == property_name) return &p;
  return nullptr;
}

}  // namespace trd::form
