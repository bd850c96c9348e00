#include "WireCarry.h"

#include <cmath>

#include "Text.h"

namespace trd::wire {
namespace {

// Text the writer copies byte for byte and the reader gives back: valid
// UTF-8 (the writer puts U+FFFD for any other byte). Escaped ASCII control
// characters come back as they were.
bool Unchanged(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    if (text::DecodeUtf8(s, i) == 0xFFFD && i - start == 1) return false;
  }
  return true;
}

// Date-times whose ISO text ("YYYY-MM-DDTHH:MM:SS.mmm", four-digit year)
// reads back as the same instant.
bool Unchanged(const DateTime& t) {
  static const DateTime first = DateTime::FromParts(1, 1, 1);
  static const DateTime last = DateTime::FromParts(9999, 12, 31, 23, 59, 59, 999);
  return first <= t && t <= last;
}

bool Unchanged(const std::vector<FieldDef>& fields) {
  if (fields.size() > kMaxFields) return false;
  for (const FieldDef& f : fields)
    if (f.size < 0 || f.size > kMaxFieldSize || !Unchanged(f.name)) return false;
  return true;
}

// A row the reader takes back as it is: one value per field, of the field's
// kind. (A non-finite number is written as null; a date-time in a text field
// comes back as its text.)
bool Unchanged(const std::vector<FieldDef>& fields, const Row& row) {
  if (row.size() != fields.size()) return false;
  for (std::size_t i = 0; i < row.size(); ++i) {
    const FieldValue& v = row[i];
    if (std::holds_alternative<std::monostate>(v)) continue;
    switch (fields[i].type) {
      case FieldType::String: {
        const auto* s = std::get_if<std::string>(&v);
        if (!s || !Unchanged(*s)) return false;
        break;
      }
      case FieldType::Float: {
        const auto* d = std::get_if<double>(&v);
        if (!d || !std::isfinite(*d)) return false;
        break;
      }
      case FieldType::DateTime: {
        const auto* t = std::get_if<DateTime>(&v);
        if (!t || !Unchanged(*t)) return false;
        break;
      }
    }
  }
  return true;
}

bool Unchanged(const Packet& p) {
  if (!Unchanged(p.fields)) return false;
  for (const Row& r : p.rows)
    if (!Unchanged(p.fields, r)) return false;
  return true;
}

// A change carries `after` unless it deletes and `before` unless it inserts;
// the row it does not carry comes back empty.
bool Unchanged(const ChangeSet& c) {
  if (!Unchanged(c.fields)) return false;
  for (const Change& ch : c.changes) {
    const bool before = ch.kind != ChangeKind::Insert, after = ch.kind != ChangeKind::Delete;
    if (before ? !Unchanged(c.fields, ch.before) : !ch.before.empty()) return false;
    if (after ? !Unchanged(c.fields, ch.after) : !ch.after.empty()) return false;
  }
  return true;
}

}  // namespace

bool CrossesUnchanged(const Value& v) {
  return std::visit(
      [](const auto& x) -> bool {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::string>) return Unchanged(std::string_view(x));
        else if constexpr (std::is_same_v<T, double>) return std::isfinite(x);
        else if constexpr (std::is_same_v<T, DateTime>) return Unchanged(x);
        else if constexpr (std::is_same_v<T, Packet> || std::is_same_v<T, ChangeSet>) return Unchanged(x);
        // A failure inside a message is written without its code.
        else if constexpr (std::is_same_v<T, ServerFailure>) return x.code.empty() && Unchanged(x.message);
        else return true;  // null, true and false, whole numbers
      },
      v);
}

bool CrossesUnchanged(const Request& r) {
  if (r.args.size() > kMaxArguments || !Unchanged(r.module) || !Unchanged(r.method)) return false;
  for (const Value& v : r.args)
    if (!CrossesUnchanged(v)) return false;
  return true;
}

const Request& Carried(const Request& r, std::optional<Request>& changed) {
  if (CrossesUnchanged(r)) return r;
  changed = DecodeRequest(EncodeRequest(r));
  return *changed;
}

Value CarriedResult(Value v) {
  // A failure answer keeps its code (EncodeFailure).
  if (const auto* f = std::get_if<ServerFailure>(&v); f ? Unchanged(f->message) && Unchanged(f->code)
                                                        : CrossesUnchanged(v))
    return v;
  return DecodeResponse(EncodeResult(v));
}

}  // namespace trd::wire
