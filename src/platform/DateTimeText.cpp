#include "DateTimeText.h"

#include <chrono>
#include <cstdio>

#include "Text.h"

namespace trd {
namespace {

// A forward-only reader over the text being converted.
class Cursor {
 public:
  explicit Cursor(std::string_view s) : s_(s) {}

  bool AtEnd() const { return p_ >= s_.size(); }
  std::size_t Pos() const { return p_; }
  void Reset(std::size_t p) { p_ = p; }

  // Skips blanks; true when at least one was skipped.
  bool SkipBlanks() {
    std::size_t start = p_;
    while (p_ < s_.size() && s_[p_] == ' ') ++p_;
    return p_ > start;
  }

  bool Char(char c) {
    if (p_ < s_.size() && s_[p_] == c) {
      ++p_;
      return true;
    }
    return false;
  }

  // One to four decimal digits; `digits` receives how many were read.
  bool Number(int& value, int& digits) {
    std::size_t start = p_;
    value = 0;
    while (p_ < s_.size() && s_[p_] >= '0' && s_[p_] <= '9') {
      value = value * 10 + (s_[p_] - '0');
      ++p_;
      if (p_ - start > 4) return false;
    }
    digits = int(p_ - start);
    return digits > 0;
  }

  bool Word(std::string_view w) {
    if (w.empty() || !text::StartsWithIgnoreCase(s_.substr(p_), w)) return false;
    p_ += w.size();
    return true;
  }

 private:
  std::string_view s_;
  std::size_t p_ = 0;
};

struct TimeOfDay {
  int hour = 0, minute = 0, second = 0;
};

bool DateExists(int y, int m, int d) {
  if (y < 1 || y > 9999) return false;
  std::chrono::year_month_day ymd{std::chrono::year{y}, std::chrono::month{unsigned(m)},
                                  std::chrono::day{unsigned(d)}};
  return ymd.ok();
}

// Two-digit years fall within 50 years of the current one.
int ExpandYear(int year, int digits, int current_year) {
  if (digits > 2) return year;
  int century = current_year / 100 * 100;
  int y = century + year;
  if (y > current_year + 50) y -= 100;
  if (y <= current_year - 50) y += 100;
  return y;
}

// 0 = none, 1 = AM, 2 = PM.
int Marker(Cursor& c, const DateTimeText& st) {
  if (c.Word(st.am_marker)) return 1;
  if (c.Word(st.pm_marker)) return 2;
  return 0;
}

// A time from the cursor to the end of the text.
bool ScanTime(Cursor& c, const DateTimeText& st, TimeOfDay& t) {
  c.SkipBlanks();
  int marker = Marker(c, st);
  if (marker) c.SkipBlanks();
  int digits = 0;
  if (!c.Number(t.hour, digits)) return false;
  t.minute = t.second = 0;
  if (c.Char(st.time_separator)) {
    if (!c.Number(t.minute, digits)) return false;
    if (c.Char(st.time_separator) && !c.Number(t.second, digits)) return false;
  }
  c.SkipBlanks();
  if (!marker) {
    marker = Marker(c, st);
    c.SkipBlanks();
  }
  if (!c.AtEnd()) return false;
  if (marker) {
    if (t.hour < 1 || t.hour > 12) return false;
    t.hour = (t.hour % 12) + (marker == 2 ? 12 : 0);
  }
  return t.hour <= 23 && t.minute <= 59 && t.second <= 59;
}

// A date, optionally followed by a time, from the cursor to the end.
std::optional<DateTime> ScanDateTime(Cursor& c, const DateTimeText& st, int current_year) {
  c.SkipBlanks();
  int n[3] = {0, 0, 0}, digits[3] = {0, 0, 0};
  if (!c.Number(n[0], digits[0]) || !c.Char(st.date_separator) || !c.Number(n[1], digits[1]))
    return std::nullopt;
  int count = 2;
  if (c.Char(st.date_separator)) {
    if (!c.Number(n[2], digits[2])) return std::nullopt;
    count = 3;
  }
  int y = current_year, m = 0, d = 0;
  switch (st.order) {
    case DateOrder::DayMonthYear:
      d = n[0], m = n[1];
      if (count == 3) y = ExpandYear(n[2], digits[2], current_year);
      break;
    case DateOrder::MonthDayYear:
      m = n[0], d = n[1];
      if (count == 3) y = ExpandYear(n[2], digits[2], current_year);
      break;
    case DateOrder::YearMonthDay:
      if (count == 3) {
        y = ExpandYear(n[0], digits[0], current_year), m = n[1], d = n[2];
      } else {
        m = n[0], d = n[1];
      }
      break;
  }
  if (!DateExists(y, m, d)) return std::nullopt;
  bool blank = c.SkipBlanks();
  TimeOfDay t;
  if (!c.AtEnd() && (!blank || !ScanTime(c, st, t))) return std::nullopt;
  return DateTime::FromParts(y, m, d, t.hour, t.minute, t.second);
}

}  // namespace

std::optional<DateTime> TextToDateTime(std::string_view text, const DateTimeText& settings,
                                       int current_year) {
  Cursor c(text);
  if (auto dt = ScanDateTime(c, settings, current_year)) return dt;
  c.Reset(0);
  TimeOfDay t;
  if (!ScanTime(c, settings, t)) return std::nullopt;
  return DateTime::FromParts(1899, 12, 30, t.hour, t.minute, t.second);
}

std::optional<DateTime> TextToDateTime(std::string_view text, const DateTimeText& settings) {
  int y, mo, d, h, mi, s, ms;
  DateTime::Now().Split(y, mo, d, h, mi, s, ms);
  return TextToDateTime(text, settings, y);
}

std::string DateTimeToText(DateTime value, const DateTimeText& settings) {
  int y, mo, d, h, mi, s, ms;
  value.Split(y, mo, d, h, mi, s, ms);
  const char ds = settings.date_separator, ts = settings.time_separator;
  char buf[64];
  switch (settings.order) {
    case DateOrder::DayMonthYear:
      std::snprintf(buf, sizeof buf, "%02d%c%02d%c%04d", d, ds, mo, ds, y);
      break;
    case DateOrder::MonthDayYear:
      std::snprintf(buf, sizeof buf, "%02d%c%02d%c%04d", mo, ds, d, ds, y);
      break;
    case DateOrder::YearMonthDay:
      std::snprintf(buf, sizeof buf, "%04d%c%02d%c%02d", y, ds, mo, ds, d);
      break;
  }
  std::string out = buf;
  std::snprintf(buf, sizeof buf, " %02d%c%02d%c%02d", h, ts, mi, ts, s);
  return out + buf;
}

}  // namespace trd
