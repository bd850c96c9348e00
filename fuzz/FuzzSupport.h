// Shared pieces of the fuzz targets. A target lets only the failure a reader
// promises for bad input (FormatError, ProtocolError) pass; any other
// exception escapes to libFuzzer, which reports it as a crash, and so does a
// broken round-trip property (Require).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace trd::fuzz {

// Aborts, naming the property, when it does not hold.
inline void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::abort();
  }
}

// Lines of canonical form text as one document.
inline std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) {
    out += l;
    out += '\n';
  }
  return out;
}

// Splits text at line feeds, dropping a carriage return before one.
inline std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t nl = text.find('\n', start);
    std::string_view line = text.substr(start, nl == std::string_view::npos ? nl : nl - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out.emplace_back(line);
    if (nl == std::string_view::npos) break;
    start = nl + 1;
  }
  return out;
}

}  // namespace trd::fuzz
