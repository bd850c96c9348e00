// Values that travel between the client and the translation server:
// data packets (the rows a look-up returns), change sets (the pending changes
// of a staging table) and the arguments and results of late-bound calls.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "DateTime.h"

namespace trd {

enum class FieldType { String, Float, DateTime };

struct FieldDef {
  std::string name;
  FieldType type = FieldType::String;
  int size = 0;  // width in characters (code points) for String, 0 otherwise
  bool operator==(const FieldDef&) const = default;
};

// A field's value: null (monostate), text, number or date-time; the kind
// matches the field's type.
using FieldValue = std::variant<std::monostate, std::string, double, DateTime>;
using Row = std::vector<FieldValue>;  // values in field order

struct Packet {
  std::vector<FieldDef> fields;
  std::vector<Row> rows;
  // Index of a field by name (ASCII case ignored); -1 when absent.
  int FieldIndex(std::string_view name) const;
  bool operator==(const Packet&) const = default;
};

enum class ChangeKind { Insert, Modify, Delete };

// One logged change. Insert: `after` holds the new row. Delete: `before`
// holds the row as it was. Modify: both.
struct Change {
  ChangeKind kind = ChangeKind::Insert;
  Row before;
  Row after;
  bool operator==(const Change&) const = default;
};

struct ChangeSet {
  std::vector<FieldDef> fields;
  std::vector<Change> changes;
  int FieldIndex(std::string_view name) const;
  bool operator==(const ChangeSet&) const = default;
};

// A failure answered by the server instead of a result; the result check
// recognises it and raises it. `code` names its kind (the codes and what they
// mean: protocol/Failures.h); empty when the server named none.
struct ServerFailure {
  std::string message;
  std::string code = {};
  bool operator==(const ServerFailure&) const = default;
};

// Argument or result of a late-bound call.
using Value = std::variant<std::monostate, bool, std::int64_t, double, std::string, DateTime,
                           Packet, ChangeSet, ServerFailure>;

// Short name of a value's kind, for messages ("text", "integer", ...).
const char* KindName(const Value& v);
const char* TypeName(FieldType t);
// "insert", "modify", "delete": on the wire and in messages.
const char* ChangeKindName(ChangeKind k);

}  // namespace trd
