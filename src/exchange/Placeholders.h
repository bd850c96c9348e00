// The format placeholders and menu accelerators of a text, as the program
// fills and shows them.
//
// Placeholders:
//   %[index:][-][width][.precision]type   Format style: type one of
//       d u e f g n m p s x (any case); index, width and precision are
//       digits or "*" ("*" takes an argument of its own); "%%" is a percent
//       sign. An index sets the argument; without one a placeholder takes
//       the argument after the previous one.
//   {N} {N,alignment} {N:format}          numbered style; "{{" is a brace.
// Two texts fill the same arguments the same way when the multisets of
// their placeholders' arguments (Placeholder::argument) are equal: "%s %d"
// and "%1:d %0:s" do, "%s %d" and "%d %s" do not.
//
// Accelerators: "&" before a character marks it; "&&" is an ampersand.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace trd::exchange {

struct Placeholder {
  std::size_t at = 0;    // byte offset in the text
  std::string written;   // as in the text: "%-5.2f", "{0:N2}"
  std::string argument;  // what it fills: "2:f" (argument 2, type f), "1:*", "{0}"
};

std::vector<Placeholder> Placeholders(std::string_view text);

// The number of accelerator marks.
std::size_t Accelerators(std::string_view text);

}  // namespace trd::exchange
