// Date and time as text under the workstation's regional settings: the
// conversion of text to a date-time that the value tests use, and the
// default date-time format of the report records' times.
//
// Accepted text (blanks around the whole and between date and time allowed):
//   date:  two or three numbers joined by the date separator, in the order of
//          the short date format; a missing year is the current year; a year
//          of one or two digits lies within 50 years of the current year;
//          optionally followed by blanks and a time;
//   time:  an hour, optionally minutes and then seconds, each after the time
//          separator; an AM or PM marker (ASCII case ignored) may stand before
//          or after it, and then the hour must be 1..12;
//   a lone whole number 0..23 therefore reads as an hour.
// Numbers have at most four digits; the date must exist in the calendar and
// the time must be within a day. The empty text (or blanks only) is rejected.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "DateTime.h"

namespace trd {

enum class DateOrder { DayMonthYear, MonthDayYear, YearMonthDay };

// Regional settings for dates and times; defaults are day/month/year with "/"
// and ":". The screen may change them; readers take them by reference.
struct DateTimeText {
  DateOrder order = DateOrder::DayMonthYear;
  char date_separator = '/';
  char time_separator = ':';
  std::string am_marker = "AM";
  std::string pm_marker = "PM";
};

// Converts `text` to a date-time, or nullopt when it is not one of the
// accepted forms. `current_year` completes dates written without a year and
// anchors two-digit years. A time alone gives that time on day zero
// (1899-12-30, the platform's zero date).
std::optional<DateTime> TextToDateTime(std::string_view text, const DateTimeText& settings,
                                       int current_year);
// The same with the year of the local clock.
std::optional<DateTime> TextToDateTime(std::string_view text, const DateTimeText& settings);

// The locale's default date-time text: "dd/mm/yyyy hh:nn:ss" for the default
// settings; the date part follows the settings' order and separator, the time
// is always 24-hour with the time separator.
std::string DateTimeToText(DateTime value, const DateTimeText& settings);

}  // namespace trd
