#include "Placeholders.h"

#include <cctype>
#include <optional>

namespace trd::exchange {
namespace {

constexpr std::string_view kFormatTypes = "dueEfgnmpsx";

bool Digit(char c) { return c >= '0' && c <= '9'; }

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Reads digits or "*" at s[i]; the number read, -1 for "*", nullopt for
// neither.
std::optional<long> Count(std::string_view s, std::size_t& i) {
  if (i < s.size() && s[i] == '*') {
    ++i;
    return -1;
  }
  if (i >= s.size() || !Digit(s[i])) return std::nullopt;
  long n = 0;
  for (; i < s.size() && Digit(s[i]); ++i)
    if (n < 1000000) n = n * 10 + (s[i] - '0');
  return n;
}

// A Format-style placeholder at s[at] == '%'; its end and the arguments it
// takes, or nullopt when the "%" starts none.
struct FormatDirective {
  std::size_t end = 0;
  std::vector<std::string> arguments;
};

std::optional<FormatDirective> ReadFormat(std::string_view s, std::size_t at, long& next_arg) {
  std::size_t i = at + 1;
  long arg = next_arg;
  std::vector<std::string> stars;
  auto star = [&] { stars.push_back(std::to_string(arg++) + ":*"); };
  std::size_t mark = i;
  if (auto n = Count(s, i); n && i < s.size() && s[i] == ':') {
    if (*n < 0)
      star();
    else
      arg = *n;
    ++i;
  } else {
    i = mark;
  }
  if (i < s.size() && s[i] == '-') ++i;
  if (auto n = Count(s, i); n && *n < 0) star();
  if (i < s.size() && s[i] == '.') {
    ++i;
    auto n = Count(s, i);
    if (!n) return std::nullopt;
    if (*n < 0) star();
  }
  if (i >= s.size() || kFormatTypes.find(Lower(s[i])) == std::string_view::npos) return std::nullopt;
  FormatDirective directive{i + 1, std::move(stars)};
  directive.arguments.push_back(std::to_string(arg++) + ":" + Lower(s[i]));
  next_arg = arg;
  return directive;
}

// A numbered placeholder at s[at] == '{'; its end, or nullopt.
std::optional<std::size_t> ReadNumbered(std::string_view s, std::size_t at, std::string& argument) {
  std::size_t i = at + 1;
  std::size_t digits = i;
  while (i < s.size() && Digit(s[i])) ++i;
  if (i == digits) return std::nullopt;
  argument = "{" + std::string(s.substr(digits, i - digits)) + "}";
  if (i < s.size() && (s[i] == ',' || s[i] == ':')) {
    std::size_t close = s.find_first_of("{}", i);
    if (close == std::string_view::npos || s[close] != '}') return std::nullopt;
    i = close;
  }
  if (i >= s.size() || s[i] != '}') return std::nullopt;
  return i + 1;
}

}  // namespace

std::vector<Placeholder> Placeholders(std::string_view s) {
  std::vector<Placeholder> out;
  long next_arg = 0;
  for (std::size_t i = 0; i < s.size();) {
    if (s[i] == '%') {
      if (i + 1 < s.size() && s[i + 1] == '%') {
        i += 2;
        continue;
      }
      if (auto directive = ReadFormat(s, i, next_arg)) {
        for (std::string& a : directive->arguments)
          out.push_back({i, std::string(s.substr(i, directive->end - i)), std::move(a)});
        i = directive->end;
        continue;
      }
    } else if (s[i] == '{') {
      if (i + 1 < s.size() && s[i + 1] == '{') {
        i += 2;
        continue;
      }
      std::string argument;
      if (auto end = ReadNumbered(s, i, argument)) {
        out.push_back({i, std::string(s.substr(i, *end - i)), std::move(argument)});
        i = *end;
        continue;
      }
    }
    ++i;
  }
  return out;
}

std::size_t Accelerators(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '&') continue;
    if (i + 1 < s.size() && s[i + 1] == '&')
      ++i;
    else
      ++n;
  }
  return n;
}

}  // namespace trd::exchange
