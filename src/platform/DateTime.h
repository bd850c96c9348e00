// Date and time as the client holds it: a local wall-clock instant without a
// time zone, to the millisecond. On the wire it is ISO 8601 text
// "YYYY-MM-DDTHH:MM:SS.mmm".
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trd {

struct DateTime {
  // Milliseconds since 1970-01-01T00:00:00.000 local time.
  std::int64_t ms = 0;

  static DateTime Now();
  static DateTime FromParts(int year, int month, int day, int hour = 0, int minute = 0,
                            int second = 0, int msec = 0);
  // Accepts "YYYY-MM-DD", "YYYY-MM-DDTHH:MM[:SS[.mmm]]" (a blank may stand for
  // the T); nullopt for anything else or an impossible date.
  static std::optional<DateTime> FromIso(std::string_view s);

  std::string ToIso() const;
  DateTime DateOnly() const;
  void Split(int& year, int& month, int& day, int& hour, int& minute, int& second, int& msec) const;

  auto operator<=>(const DateTime&) const = default;
};

}  // namespace trd
