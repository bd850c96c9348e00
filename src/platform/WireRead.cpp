#include "WireRead.h"

#include <charconv>
#include <cstdint>
#include <memory>
#include <utility>

#include <simdjson.h>

namespace trd::wire {
namespace {

namespace od = simdjson::ondemand;

// Messages up to this size reuse a parser kept by the thread; larger ones
// (a harvest's batch, an import) get one of their own, freed with them, so
// that no thread keeps the room of the largest message it ever read.
constexpr std::size_t kKeptParserBytes = 64 << 10;

// Every read below stops at the first thing it does not expect (an error
// code of the parser, a member it does not follow, a bound exceeded) by
// answering false; the caller then takes the document path.

// A JSON number as the document path reads it: a token without fraction or
// exponent is an integer (a double when beyond 64 bits), any other a double,
// correctly rounded; "-0" is the integer 0. The token is read here, not by
// the parser, whose reading differs on such cases ("-0" a double; a
// twenty-digit mantissa with a fraction read as 0 by Debian 12's version).
struct Number {
  enum class Kind { Signed, Unsigned, Float } kind = Kind::Signed;
  std::int64_t i = 0;
  std::uint64_t u = 0;
  double d = 0;
  double AsDouble() const { return kind == Kind::Signed ? double(i) : kind == Kind::Unsigned ? double(u) : d; }
  // The integer as a signed 64-bit value; false for a double or one beyond.
  bool AsInt64(std::int64_t& out) const {
    if (kind == Kind::Float || (kind == Kind::Unsigned && u > std::uint64_t(INT64_MAX))) return false;
    out = kind == Kind::Signed ? i : std::int64_t(u);
    return true;
  }
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// JSON's grammar: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
bool ParseNumber(std::string_view t, Number& out) {
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\n' || t.back() == '\r'))
    t.remove_suffix(1);
  std::size_t at = 0;
  auto digits = [&] {
    const std::size_t from = at;
    while (at < t.size() && IsDigit(t[at])) ++at;
    return at > from;
  };
  if (at < t.size() && t[at] == '-') ++at;
  const std::size_t int_at = at;
  if (!digits() || (t[int_at] == '0' && at - int_at > 1)) return false;
  bool integer = true;
  if (at < t.size() && t[at] == '.') {
    ++at;
    if (!digits()) return false;
    integer = false;
  }
  if (at < t.size() && (t[at] == 'e' || t[at] == 'E')) {
    ++at;
    if (at < t.size() && (t[at] == '+' || t[at] == '-')) ++at;
    if (!digits()) return false;
    integer = false;
  }
  if (at != t.size()) return false;
  const char* first = t.data();
  const char* last = t.data() + t.size();
  if (integer) {
    if (t[0] == '-') {
      if (auto r = std::from_chars(first, last, out.i); r.ec == std::errc() && r.ptr == last) {
        out.kind = Number::Kind::Signed;
        return true;
      }
    } else if (auto r = std::from_chars(first, last, out.u); r.ec == std::errc() && r.ptr == last) {
      out.kind = Number::Kind::Unsigned;
      return true;
    }
  }
  const auto r = std::from_chars(first, last, out.d);
  out.kind = Number::Kind::Float;
  return r.ec == std::errc() && r.ptr == last;  // out of range: the document path's
}

bool ReadNumber(od::value& v, Number& out) {
  od::json_type type;
  return !v.type().get(type) && type == od::json_type::number && ParseNumber(v.raw_json_token(), out);
}

bool IsNull(od::value& v) {
  bool null = false;
  return !v.is_null().get(null) && null;
}

bool ReadText(od::value& v, std::string& out) {
  std::string_view s;
  if (v.get_string().get(s)) return false;
  out.assign(s);
  return true;
}

// each(item) for every item of the array `v`, while it answers true.
template <typename Each>
bool ForEachItem(od::value& v, Each each) {
  od::array a;
  if (v.get_array().get(a)) return false;
  for (auto item : a) {
    od::value x;
    if (item.get(x) || !each(x)) return false;
  }
  return true;
}

// each(name, value) for every member of the object `v`, while it answers
// true.
template <typename Each, typename Object>
bool ForEachMember(Object& v, Each each) {
  od::object o;
  if (v.get_object().get(o)) return false;
  for (auto member : o) {
    std::string_view key;
    od::value x;
    if (member.unescaped_key().get(key) || member.value().get(x) || !each(key, x)) return false;
  }
  return true;
}

bool ReadDateTime(od::value& v, DateTime& out) {
  std::string_view s;
  if (v.get_string().get(s)) return false;
  const auto dt = DateTime::FromIso(std::string(s));
  if (!dt) return false;
  out = *dt;
  return true;
}

// A definition: [name, "string"|"float"|"datetime", size].
bool ReadField(od::value& v, FieldDef& f) {
  int at = 0;
  const bool read = ForEachItem(v, [&](od::value& x) {
    if (at == 0) {
      if (!ReadText(x, f.name)) return false;
    } else if (at == 1) {
      std::string_view type;
      if (x.get_string().get(type)) return false;
      if (type == "string") f.type = FieldType::String;
      else if (type == "float") f.type = FieldType::Float;
      else if (type == "datetime") f.type = FieldType::DateTime;
      else return false;
    } else if (at == 2) {
      Number n;
      std::int64_t size = 0;
      if (!ReadNumber(x, n) || !n.AsInt64(size) || size < 0 || size > kMaxFieldSize) return false;
      f.size = int(size);
    } else {
      return false;
    }
    ++at;
    return true;
  });
  return read && at == 3;
}

bool ReadCell(od::value& v, const FieldDef& f, Row& row) {
  od::json_type type;
  if (v.type().get(type)) return false;
  if (type == od::json_type::null) {
    if (!IsNull(v)) return false;
    row.emplace_back();
    return true;
  }
  switch (f.type) {
    case FieldType::String: {
      std::string s;
      if (type != od::json_type::string || !ReadText(v, s)) return false;
      row.emplace_back(std::move(s));
      return true;
    }
    case FieldType::Float: {
      Number n;
      if (!ReadNumber(v, n)) return false;
      row.emplace_back(n.AsDouble());
      return true;
    }
    case FieldType::DateTime: {
      DateTime dt;
      if (type != od::json_type::string || !ReadDateTime(v, dt)) return false;
      row.emplace_back(dt);
      return true;
    }
  }
  return false;
}

// A packet: {"fields": [...], "rows": [...]}, the fields first.
bool ReadPacket(od::value& v, Packet& p) {
  bool seen_fields = false, seen_rows = false;
  auto field = [&](od::value& d) {
    FieldDef f;
    if (p.fields.size() >= kMaxFields || !ReadField(d, f)) return false;
    p.fields.push_back(std::move(f));
    return true;
  };
  auto row = [&](od::value& cells) {
    Row& r = p.rows.emplace_back();
    r.reserve(p.fields.size());
    return ForEachItem(cells, [&](od::value& c) {
             return r.size() < p.fields.size() && ReadCell(c, p.fields[r.size()], r);
           }) &&
           r.size() == p.fields.size();
  };
  const bool read = ForEachMember(v, [&](std::string_view key, od::value& x) {
    if (key == "fields" && !seen_fields) {
      seen_fields = true;
      return ForEachItem(x, field);
    }
    if (key == "rows" && seen_fields && !seen_rows) {
      seen_rows = true;
      return ForEachItem(x, row);
    }
    return false;
  });
  return read && seen_fields && seen_rows;
}

// An argument or a result: a JSON scalar, or a tagged value of one member
// ("float", "datetime", "failure", "packet"; a change set is the document
// path's).
bool ReadValue(od::value& v, Value& out) {
  od::json_type type;
  if (v.type().get(type)) return false;
  switch (type) {
    case od::json_type::null:
      if (!IsNull(v)) return false;
      out = std::monostate{};
      return true;
    case od::json_type::boolean: {
      bool b;
      if (v.get_bool().get(b)) return false;
      out = b;
      return true;
    }
    case od::json_type::number: {
      Number n;
      std::int64_t i = 0;
      if (!ReadNumber(v, n)) return false;
      if (n.AsInt64(i)) out = i;
      else if (n.kind == Number::Kind::Float) out = n.d;
      else return false;  // an integer past INT64_MAX: the document path's
      return true;
    }
    case od::json_type::string: {
      std::string s;
      if (!ReadText(v, s)) return false;
      out = std::move(s);
      return true;
    }
    case od::json_type::array: return false;
    case od::json_type::object: break;
  }
  bool seen = false;
  const bool read = ForEachMember(v, [&](std::string_view tag, od::value& x) {
    if (seen) return false;
    seen = true;
    if (tag == "float") {
      Number n;
      if (!ReadNumber(x, n)) return false;
      out = n.AsDouble();
    } else if (tag == "datetime") {
      DateTime dt;
      if (!ReadDateTime(x, dt)) return false;
      out = dt;
    } else if (tag == "failure") {
      std::string s;
      if (!ReadText(x, s)) return false;
      out = ServerFailure{std::move(s)};
    } else if (tag == "packet") {
      Packet p;
      if (!ReadPacket(x, p)) return false;
      out = std::move(p);
    } else {
      return false;
    }
    return true;
  });
  return read && seen;
}

// Reads the message's object with `member(key, value)` for each member, then
// makes sure nothing follows it.
template <typename Member>
bool ReadMessage(std::string_view body, Member member) {
  const simdjson::padded_string text(body);
  thread_local od::parser kept;
  std::unique_ptr<od::parser> own;  // kKeptParserBytes
  od::parser& parser = body.size() > kKeptParserBytes ? *(own = std::make_unique<od::parser>()) : kept;
  od::document doc;
  if (parser.iterate(text).get(doc)) return false;
  if (!ForEachMember(doc, member)) return false;
  // Past the object's end: no more tokens (the location is out of bounds).
  const char* after = nullptr;
  return doc.current_location().get(after) != simdjson::SUCCESS;
}

}  // namespace

std::optional<Request> ReadRequest(std::string_view body) {
  Request r;
  bool seen_module = false, seen_method = false, seen_args = false;
  const bool read = ReadMessage(body, [&](std::string_view key, od::value& v) {
    if (key == "module" && !seen_module) {
      seen_module = true;
      return ReadText(v, r.module);
    }
    if (key == "method" && !seen_method) {
      seen_method = true;
      return ReadText(v, r.method);
    }
    if (key != "args" || seen_args) return false;
    seen_args = true;
    return ForEachItem(v, [&](od::value& a) {
      return r.args.size() < kMaxArguments && ReadValue(a, r.args.emplace_back());
    });
  });
  if (!read || !seen_module || !seen_method || !seen_args) return std::nullopt;
  return r;
}

std::optional<Value> ReadResult(std::string_view body) {
  Value result;
  bool seen = false;
  const bool read = ReadMessage(body, [&](std::string_view key, od::value& v) {
    if (key != "result" || seen) return false;
    seen = true;
    return ReadValue(v, result);
  });
  if (!read || !seen) return std::nullopt;
  return result;
}

}  // namespace trd::wire
