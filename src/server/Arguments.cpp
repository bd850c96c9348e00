#include "Arguments.h"

#include <charconv>
#include <chrono>
#include <cmath>

#include "platform/Errors.h"
#include "platform/Text.h"

namespace trd::server {
namespace {

[[noreturn]] void WrongKind(const Value& v, ArgName what, std::string_view expected) {
  throw ProtocolError(what.Text() + " must be " + std::string(expected) + ", got " + KindName(v));
}

// Reads 1..max_digits digits at s[pos]; advances pos.
bool Digits(std::string_view s, std::size_t& pos, std::size_t min_digits, std::size_t max_digits, int& out) {
  std::size_t start = pos;
  out = 0;
  while (pos < s.size() && pos - start < max_digits && s[pos] >= '0' && s[pos] <= '9')
    out = out * 10 + (s[pos++] - '0');
  return pos - start >= min_digits;
}

bool Expect(std::string_view s, std::size_t& pos, char c) {
  if (pos >= s.size() || s[pos] != c) return false;
  ++pos;
  return true;
}

}  // namespace

std::string ArgName::Text() const {
  return "argument " + std::to_string(index + 1) + " (" + name + ")";
}

std::string TextArg(const Value& v, ArgName what) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  WrongKind(v, what, "text");
}

std::optional<double> ParseDecimal(std::string_view s) {
  s = text::Trim(s);
  std::string buf(s);
  if (buf.find('.') == std::string::npos) {
    if (auto comma = buf.find(','); comma != std::string::npos && buf.find(',', comma + 1) == std::string::npos)
      buf[comma] = '.';
  }
  if (buf.empty()) return std::nullopt;
  const char* first = buf.data();
  if (*first == '+' && buf.size() > 1 && buf[1] != '-') ++first;
  double d = 0;
  auto [end, ec] = std::from_chars(first, buf.data() + buf.size(), d, std::chars_format::fixed);
  if (ec != std::errc() || end != buf.data() + buf.size() || !std::isfinite(d)) return std::nullopt;
  return d;
}

double NumberArg(const Value& v, ArgName what) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return double(*i);
  if (const auto* d = std::get_if<double>(&v)) {
    if (!std::isfinite(*d)) throw ProtocolError(what.Text() + " is not a finite number");
    return *d;
  }
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (auto d = ParseDecimal(*s)) return *d;
    throw ProtocolError(what.Text() + ": \"" + *s + "\" is not a number");
  }
  WrongKind(v, what, "a number (integer, float or decimal text)");
}

std::optional<DateTime> ParseLocaleDateTime(std::string_view s) {
  s = text::Trim(s);
  std::size_t p = 0;
  int d, mo, y, h = 0, mi = 0, se = 0, ms = 0;
  if (!Digits(s, p, 1, 2, d) || !Expect(s, p, '/') || !Digits(s, p, 1, 2, mo) || !Expect(s, p, '/') ||
      !Digits(s, p, 4, 4, y))
    return std::nullopt;
  if (p < s.size()) {
    if (!Expect(s, p, ' ')) return std::nullopt;
    while (p < s.size() && s[p] == ' ') ++p;
    if (!Digits(s, p, 1, 2, h) || !Expect(s, p, ':') || !Digits(s, p, 2, 2, mi)) return std::nullopt;
    if (p < s.size()) {
      if (!Expect(s, p, ':') || !Digits(s, p, 2, 2, se)) return std::nullopt;
      if (p < s.size() && (!Expect(s, p, '.') || !Digits(s, p, 3, 3, ms))) return std::nullopt;
    }
    if (p != s.size()) return std::nullopt;
  }
  std::chrono::year_month_day ymd{std::chrono::year{y}, std::chrono::month{unsigned(mo)},
                                  std::chrono::day{unsigned(d)}};
  if (!ymd.ok() || h > 23 || mi > 59 || se > 59) return std::nullopt;
  return DateTime::FromParts(y, mo, d, h, mi, se, ms);
}

DateTime DateTimeArg(const Value& v, ArgName what) {
  if (const auto* dt = std::get_if<DateTime>(&v)) return *dt;
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (auto dt = ParseLocaleDateTime(*s)) return *dt;
    if (auto dt = DateTime::FromIso(text::Trim(*s))) return *dt;
    throw ProtocolError(what.Text() + ": \"" + *s +
                        "\" is not a date-time (dd/mm/yyyy hh:nn:ss or ISO 8601)");
  }
  WrongKind(v, what, "a date-time or its text");
}

}  // namespace trd::server
