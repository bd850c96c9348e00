#include "DateTime.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace trd {
namespace {

constexpr std::int64_t kDayMs = 86'400'000;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

bool ReadInt(std::string_view s, std::size_t pos, std::size_t n, int& out) {
  if (pos + n > s.size()) return false;
  out = 0;
  for (std::size_t i = pos; i < pos + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

}  // namespace

DateTime DateTime::Now() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  int msec = int(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  return FromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                   local.tm_min, local.tm_sec, msec);
}

DateTime DateTime::FromParts(int year, int month, int day, int hour, int minute, int second,
                             int msec) {
  using namespace std::chrono;
  sys_days d = year_month_day{std::chrono::year{year}, std::chrono::month{unsigned(month)},
                              std::chrono::day{unsigned(day)}};
  std::int64_t days = d.time_since_epoch().count();
  return DateTime{days * kDayMs + ((hour * 60LL + minute) * 60 + second) * 1000 + msec};
}

std::optional<DateTime> DateTime::FromIso(std::string_view s) {
  int y, mo, d, h = 0, mi = 0, se = 0, ms = 0;
  if (!ReadInt(s, 0, 4, y) || s.size() < 10 || s[4] != '-' || !ReadInt(s, 5, 2, mo) ||
      s[7] != '-' || !ReadInt(s, 8, 2, d))
    return std::nullopt;
  std::size_t p = 10;
  if (p < s.size()) {
    if ((s[p] != 'T' && s[p] != ' ') || !ReadInt(s, p + 1, 2, h) || p + 3 >= s.size() ||
        s[p + 3] != ':' || !ReadInt(s, p + 4, 2, mi))
      return std::nullopt;
    p += 6;
    if (p < s.size()) {
      if (s[p] != ':' || !ReadInt(s, p + 1, 2, se)) return std::nullopt;
      p += 3;
      if (p < s.size()) {
        if (s[p] != '.' || !ReadInt(s, p + 1, 3, ms) || p + 4 != s.size()) return std::nullopt;
      }
    }
  }
  std::chrono::year_month_day ymd{std::chrono::year{y}, std::chrono::month{unsigned(mo)},
                                  std::chrono::day{unsigned(d)}};
  if (!ymd.ok() || h > 23 || mi > 59 || se > 59) return std::nullopt;
  return FromParts(y, mo, d, h, mi, se, ms);
}

void DateTime::Split(int& year, int& month, int& day, int& hour, int& minute, int& second,
                     int& msec) const {
  using namespace std::chrono;
  std::int64_t days = FloorDiv(ms, kDayMs);
  std::int64_t rest = ms - days * kDayMs;
  year_month_day ymd{sys_days{std::chrono::days{days}}};
  year = int(ymd.year());
  month = int(unsigned(ymd.month()));
  day = int(unsigned(ymd.day()));
  hour = int(rest / 3'600'000);
  minute = int(rest / 60'000 % 60);
  second = int(rest / 1000 % 60);
  msec = int(rest % 1000);
}

std::string DateTime::ToIso() const {
  int y, mo, d, h, mi, s, m;
  Split(y, mo, d, h, mi, s, m);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", y, mo, d, h, mi, s, m);
  return buf;
}

DateTime DateTime::DateOnly() const { return DateTime{FloorDiv(ms, kDayMs) * kDayMs}; }

}  // namespace trd
