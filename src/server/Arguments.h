// Conversion of late-bound call arguments into the values the server works
// with. Each raises ProtocolError naming the argument when the value is of
// the wrong kind or cannot be read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace trd::server {

// Names an argument in messages, "argument 5 (number)"; the text is only
// made when a message needs it.
struct ArgName {
  std::size_t index = 0;  // from 0
  const char* name = "";
  std::string Text() const;
};

// A text argument.
std::string TextArg(const Value& v, ArgName what);

// A number: an integer, a float, or decimal text ("12", "0.0", "1,5"; blanks
// around it ignored). Infinite and NaN values are refused.
double NumberArg(const Value& v, ArgName what);

// A date-time: a date-time value, or text either in the client's default
// locale format "dd/mm/yyyy hh:nn:ss" (see ParseLocaleDateTime) or ISO 8601.
DateTime DateTimeArg(const Value& v, ArgName what);

// Decimal text as above; nullopt when it is not a finite number.
std::optional<double> ParseDecimal(std::string_view s);

// "dd/mm/yyyy", optionally followed by a blank and "hh:nn", "hh:nn:ss" or
// "hh:nn:ss.zzz"; day, month and hour may have one digit. nullopt for other
// text or an impossible date or time.
std::optional<DateTime> ParseLocaleDateTime(std::string_view s);

}  // namespace trd::server
