#include "Path.h"

namespace trd {

std::string_view FileName(std::string_view path) {
  const std::size_t sep = path.find_last_of("/\\");
  return sep == std::string_view::npos ? path : path.substr(sep + 1);
}

std::string_view DirectoryOf(std::string_view path) {
  const std::size_t sep = path.find_last_of("/\\");
  return sep == std::string_view::npos ? std::string_view() : path.substr(0, sep);
}

}  // namespace trd
