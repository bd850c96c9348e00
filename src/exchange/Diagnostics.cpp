#include "Diagnostics.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Text.h"

namespace trd::exchange {

FormatError Malformed(const std::string& file, std::size_t line, std::string_view what) {
  std::string where = line ? file + ":" + std::to_string(line) : file;
  return FormatError(where + ": " + std::string(what));
}

void RequireReadableFile(const std::string& file) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Error(file + ": cannot open: " + std::strerror(errno));
  struct stat st {};
  bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  if (!regular) throw Error(file + ": cannot open: not a regular file");
}

std::string NotAKeyText(std::string_view what, std::string_view text) {
  return std::string(what) + " " + Quoted(text) +
         " is not a record key (PROGRAM/FORM/COMPONENT/PROPERTY/NUMBER/LANGUAGE)";
}

std::string Quoted(std::string_view text, std::size_t max) {
  std::string_view cut = text::Left(text, max);
  std::string out = "\"";
  for (char c : cut) {
    auto b = static_cast<unsigned char>(c);
    if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\t')
      out += "\\t";
    else if (b < 0x20)
      out += "\\x" + std::string(1, "0123456789abcdef"[b >> 4]) + "0123456789abcdef"[b & 15];
    else
      out += c;
  }
  return out + (cut.size() < text.size() ? "...\"" : "\"");
}

}  // namespace trd::exchange
