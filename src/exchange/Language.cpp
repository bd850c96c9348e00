#include "Language.h"

#include "platform/Text.h"

namespace trd::exchange {
namespace {

struct Known {
  std::string_view code;
  std::string_view bcp47;
  std::string_view posix;
};

constexpr Known kKnown[] = {
    {"POR", "pt-BR", "pt_BR"},
    {"ENG", "en", "en"},
    {"ESP", "es", "es"},
};

constexpr std::string_view kPrivateUse = "x-";

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

std::string LanguageTag(std::string_view code, TagStyle style) {
  for (const Known& k : kKnown)
    if (text::EqualsIgnoreCase(k.code, code))
      return std::string(style == TagStyle::Bcp47 ? k.bcp47 : k.posix);
  return std::string(kPrivateUse) + LowerAscii(code);
}

std::optional<std::string> LanguageCode(std::string_view tag) {
  std::string bcp47(tag);
  for (char& c : bcp47)
    if (c == '_') c = '-';
  for (const Known& k : kKnown)
    if (text::EqualsIgnoreCase(k.bcp47, bcp47)) return std::string(k.code);
  if (bcp47.size() > kPrivateUse.size() && text::StartsWithIgnoreCase(bcp47, kPrivateUse))
    return text::UpperAscii(bcp47.substr(kPrivateUse.size()));
  return std::nullopt;
}

}  // namespace trd::exchange
