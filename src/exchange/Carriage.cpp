#include "Carriage.h"

#include <cstdio>

#include "platform/Text.h"
#include "protocol/Translatable.h"

namespace trd::exchange {
namespace {

bool XmlChar(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

std::string CodePoint(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

}  // namespace

std::optional<std::string> Uncarried(std::string_view text, Format format) {
  if (!text::IsValidUtf8(text)) return "is not well-formed UTF-8";
  std::size_t character = 0;
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = text::DecodeUtf8(text, i);
    ++character;
    bool carried = format == Format::Po ? !protocol::NoExchangeFileCarries(c) : XmlChar(c);
    if (!carried)
      return "holds " + CodePoint(c) + " at character " + std::to_string(character) + ", which " +
             std::string(FormatName(format)) + " cannot carry";
  }
  return std::nullopt;
}

bool Admit(const Unit& unit, Format format, WriteSummary& summary) {
  if (unit.source.empty()) {
    ++summary.empty_sources;
    return false;
  }
  auto why = Uncarried(unit.source, format);
  std::string what = "the source ";
  if (!why && unit.translation) {
    why = Uncarried(*unit.translation, format);
    what = "the translation ";
  }
  if (!why && format == Format::Xliff) {
    why = Uncarried(unit.id, format);
    what = "the id ";
  }
  if (!why) return true;
  summary.left_out.push_back({IdOf(unit), what + *why});
  return false;
}

}  // namespace trd::exchange
