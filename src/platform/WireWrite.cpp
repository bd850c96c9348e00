#include "WireWrite.h"

#include <charconv>
#include <cmath>

#include "Text.h"

namespace trd::wire {
namespace {

// Where the writer puts its text: a string, or a count of the bytes it
// would hold (the size of an encoding that is never built).
struct ByteCount {
  std::size_t n = 0;
  ByteCount& operator+=(char) { ++n; return *this; }
  ByteCount& operator+=(std::string_view s) { n += s.size(); return *this; }
  void append(const char*, std::size_t k) { n += k; }
  void append(const char* b, const char* e) { n += std::size_t(e - b); }
};

template <class Out>
void AppendString(Out& out, std::string_view s);

template <class Out>
void AppendDouble(Out& out, double d) {
  if (!std::isfinite(d)) {  // JSON has no such numbers; same as the DOM writer
    out += "null";
    return;
  }
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
  std::string_view s(buf, std::size_t(end - buf));
  out += s;
  // Keep a whole double recognisable as a float on the other side.
  if (s.find_first_of(".eE") == std::string_view::npos) out += ".0";
}

template <class Out>
void AppendInt(Out& out, std::int64_t i) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, i);
  out.append(buf, end);
}

template <class Out>
void AppendFields(Out& out, const std::vector<FieldDef>& fields) {
  out += '[';
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) out += ',';
    out += '[';
    AppendString(out, fields[i].name);
    out += ",\"";
    out += TypeName(fields[i].type);
    out += "\",";
    AppendInt(out, fields[i].size);
    out += ']';
  }
  out += ']';
}

template <class Out>
void AppendRow(Out& out, const Row& row) {
  out += '[';
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (i) out += ',';
    const FieldValue& v = row[i];
    if (const auto* s = std::get_if<std::string>(&v)) AppendString(out, *s);
    else if (const auto* d = std::get_if<double>(&v)) AppendDouble(out, *d);
    else if (const auto* t = std::get_if<DateTime>(&v)) AppendString(out, t->ToIso());
    else out += "null";
  }
  out += ']';
}

template <class Out>
void AppendPacket(Out& out, const Packet& p) {
  out += "{\"fields\":";
  AppendFields(out, p.fields);
  out += ",\"rows\":[";
  for (std::size_t i = 0; i < p.rows.size(); ++i) {
    if (i) out += ',';
    AppendRow(out, p.rows[i]);
  }
  out += "]}";
}

template <class Out>
void AppendChangeSet(Out& out, const ChangeSet& c) {
  out += "{\"changes\":[";
  for (std::size_t i = 0; i < c.changes.size(); ++i) {
    const Change& ch = c.changes[i];
    if (i) out += ',';
    out += "{\"kind\":";
    out += ch.kind == ChangeKind::Insert ? "\"insert\"" : ch.kind == ChangeKind::Modify ? "\"modify\"" : "\"delete\"";
    if (ch.kind != ChangeKind::Delete) {
      out += ",\"new\":";
      AppendRow(out, ch.after);
    }
    if (ch.kind != ChangeKind::Insert) {
      out += ",\"old\":";
      AppendRow(out, ch.before);
    }
    out += '}';
  }
  out += "],\"fields\":";
  AppendFields(out, c.fields);
  out += '}';
}

template <class Out>
void AppendString(Out& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  std::size_t i = 0;
  while (i < s.size()) {
    // Copy the longest run that needs no escaping in one go.
    std::size_t run = i;
    while (run < s.size()) {
      unsigned char c = s[run];
      if (c < 0x20 || c == '"' || c == '\\' || c >= 0x80) break;
      ++run;
    }
    out.append(s.data() + i, run - i);
    i = run;
    if (i >= s.size()) break;
    unsigned char c = s[i];
    if (c >= 0x80) {
      std::size_t start = i;
      char32_t cp = text::DecodeUtf8(s, i);
      if (cp == 0xFFFD && i - start == 1) out += "\xEF\xBF\xBD";
      else out.append(s.data() + start, i - start);
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    ++i;
  }
  out += '"';
}

template <class Out>
void AppendValue(Out& out, const Value& v) {
  std::visit(
      [&out](const auto& x) {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) out += "null";
        else if constexpr (std::is_same_v<T, bool>) out += x ? "true" : "false";
        else if constexpr (std::is_same_v<T, std::int64_t>) AppendInt(out, x);
        else if constexpr (std::is_same_v<T, std::string>) AppendString(out, x);
        else if constexpr (std::is_same_v<T, double>) {
          out += "{\"float\":";
          AppendDouble(out, x);
          out += '}';
        } else if constexpr (std::is_same_v<T, DateTime>) {
          out += "{\"datetime\":";
          AppendString(out, x.ToIso());
          out += '}';
        } else if constexpr (std::is_same_v<T, Packet>) {
          out += "{\"packet\":";
          AppendPacket(out, x);
          out += '}';
        } else if constexpr (std::is_same_v<T, ChangeSet>) {
          out += "{\"delta\":";
          AppendChangeSet(out, x);
          out += '}';
        } else {
          out += "{\"failure\":";
          AppendString(out, x.message);
          out += '}';
        }
      },
      v);
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view s) { AppendString(out, s); }

void AppendJsonValue(std::string& out, const Value& v) { AppendValue(out, v); }

std::size_t JsonStringSize(std::string_view s) {
  ByteCount count;
  AppendString(count, s);
  return count.n;
}

std::size_t JsonValueSize(const Value& v) {
  ByteCount count;
  AppendValue(count, v);
  return count.n;
}

}  // namespace trd::wire
