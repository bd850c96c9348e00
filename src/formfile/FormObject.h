// Object tree of a component stream: the content of a form file, whether it
// was stored as binary ("TPF0" stream) or as form text.
//
// A stream holds one root object. An object has a kind (object, inherited,
// inline), a name (empty for unnamed objects such as notebook pages), a class
// name, an optional child position, its properties in stream order, then its
// child objects in stream order. A property is a (possibly dotted) name and
// one typed value. All text (names, strings, identifiers) is held as UTF-8;
// binary data is held as raw bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trd::form {

enum class ObjectKind : std::uint8_t { Object, Inherited, Inline };

// Value kinds of the binary component stream. The enumerator values are the
// tag bytes that precede each value in the stream.
enum class ValueKind : std::uint8_t {
  Null = 0,  // also the end-of-list marker, so never an element of a list
  List = 1,  // ( values )
  Int8 = 2,
  Int16 = 3,
  Int32 = 4,
  Extended = 5,  // 80-bit float
  String = 6,    // 8-bit, length byte (Windows-1252)
  Ident = 7,     // identifier: enumeration value, event handler, reference
  False = 8,
  True = 9,
  Binary = 10,   // { hex }
  Set = 11,      // [ names ]
  LString = 12,  // 8-bit, 32-bit length (Windows-1252)
  Nil = 13,
  Collection = 14,  // < item ... end >
  Single = 15,      // 32-bit float, text suffix "s"
  Currency = 16,    // 64-bit integer holding the amount times 10000, suffix "c"
  Date = 17,        // 64-bit float day count, suffix "d"
  WString = 18,     // UTF-16LE, 32-bit count of code units
  Int64 = 19,
  Utf8String = 20,  // UTF-8, 32-bit byte count
  Double = 21,      // 64-bit float
};

inline constexpr std::uint8_t kLastValueKind = 21;

constexpr bool IsIntegerKind(ValueKind k) {
  return k == ValueKind::Int8 || k == ValueKind::Int16 || k == ValueKind::Int32 ||
         k == ValueKind::Int64;
}
constexpr bool IsRealKind(ValueKind k) {
  return k == ValueKind::Extended || k == ValueKind::Double || k == ValueKind::Single ||
         k == ValueKind::Date;
}
constexpr bool IsStringKind(ValueKind k) {
  return k == ValueKind::String || k == ValueKind::LString || k == ValueKind::WString ||
         k == ValueKind::Utf8String;
}
// Kinds written in form text as a bare word: identifiers and the four
// keyword values (False, True, nil, Null).
constexpr bool IsIdentKind(ValueKind k) {
  return k == ValueKind::Ident || k == ValueKind::False || k == ValueKind::True ||
         k == ValueKind::Nil || k == ValueKind::Null;
}

// The narrowest of Int8/Int16/Int32/Int64 that holds v.
ValueKind IntegerKindFor(std::int64_t v);
// The kind the text reader gives a string: String when ASCII only and at
// most 255 bytes, LString when ASCII only and longer, otherwise WString.
ValueKind StringKindFor(std::string_view utf8);
// The form-text spelling of False, True, Nil and Null ("False", "True",
// "nil", "Null"); empty for other kinds.
std::string_view KeywordText(ValueKind k);

// Index written before a collection item ("item [2]"); only Int8..Int32.
struct ItemIndex {
  ValueKind kind = ValueKind::Int8;
  std::int32_t value = 0;
  bool operator==(const ItemIndex&) const = default;
};

struct Property;
struct CollectionItem;

// One typed value. Which members are meaningful depends on `kind`:
//   integer kinds, Currency   -> integer (Currency: amount times 10000)
//   Extended, Double, Single, Date -> real
//   string kinds              -> text (UTF-8; the kind records how it was or
//                                will be stored)
//   Ident                     -> text (the identifier)
//   Binary                    -> text (raw bytes)
//   Set                       -> elements
//   List                      -> list
//   Collection                -> items
//   False, True, Nil, Null    -> nothing
struct Value {
  ValueKind kind = ValueKind::Null;
  std::int64_t integer = 0;
  long double real = 0;
  std::string text;
  std::vector<std::string> elements;
  std::vector<Value> list;
  std::vector<CollectionItem> items;

  static Value Integer(std::int64_t v);  // narrowest integer kind
  static Value Real(ValueKind kind, long double v);
  static Value Currency(std::int64_t ten_thousandths);
  // A string of the given kind; by default StringKindFor(utf8).
  static Value Str(std::string utf8);
  static Value Str(ValueKind kind, std::string utf8);
  static Value Identifier(std::string name);
  static Value Boolean(bool v);
  static Value Keyword(ValueKind kind);  // False, True, Nil or Null
  static Value Bytes(std::string raw);
  static Value SetOf(std::vector<std::string> names);
  static Value ListOf(std::vector<Value> values);
  static Value CollectionOf(std::vector<CollectionItem> items);

  friend bool operator==(const Value&, const Value&);
};

struct Property {
  std::string name;  // possibly dotted: "Font.Name", "Items.Strings"
  Value value;
  friend bool operator==(const Property&, const Property&) = default;
};

struct CollectionItem {
  std::optional<ItemIndex> index;
  std::vector<Property> properties;
  friend bool operator==(const CollectionItem&, const CollectionItem&) = default;
};

struct FormObject {
  ObjectKind kind = ObjectKind::Object;
  std::string name;  // may be empty
  std::string class_name;
  std::optional<std::int32_t> position;  // child position ("[n]") when stored
  std::vector<Property> properties;
  std::vector<FormObject> children;

  // The first property with this exact name, or nullptr.
  const Property* Find(std::string_view property_name) const;
  friend bool operator==(const FormObject&, const FormObject&) = default;
};

}  // namespace trd::form
