#include "KeyCheck.h"

#include "platform/Text.h"

#include <algorithm>
#include <cstdio>

#include "Records.h"
#include "protocol/Failures.h"

namespace trd::server {
namespace {

using protocol::FailureCode;
using protocol::ServerFailureError;

bool IsControl(int c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

std::string CodePointName(int c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", unsigned(c));
  return buf;
}

// The text with each control character written as <U+XXXX>, for a message
// that must stay on one line.
std::string Shown(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x20 || b == 0x7F) {
      out += "<" + CodePointName(b) + ">";
    } else if (b == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80) {
      out += "<" + CodePointName(static_cast<unsigned char>(text[++i])) + ">";
    } else {
      out += char(b);
    }
  }
  return out;
}

}  // namespace

int FirstControlCharacter(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      if (IsControl(b)) return b;
    } else if (b == 0xC2 && i + 1 < text.size()) {
      // U+0080..U+009F are C2 80..C2 9F in UTF-8.
      const auto next = static_cast<unsigned char>(text[i + 1]);
      if (IsControl(next)) return next;
    }
  }
  return -1;
}

void CheckKeyParts(const protocol::RecordKey& key, std::string_view what) {
  const struct {
    const char* name;
    const std::string& value;
  } parts[] = {{"program", key.program}, {"form", key.form}, {"component", key.component}, {"property", key.property}};
  for (const auto& part : parts) {
    if (part.value.empty())
      throw ServerFailureError(FailureCode::InvalidKey,
                               std::string(what) + ": the " + part.name +
                                   " of the key is empty; every record needs a program, form, component and "
                                   "property (nothing was stored)");
    if (const int c = FirstControlCharacter(part.value); c >= 0)
      throw ServerFailureError(FailureCode::InvalidKey,
                               std::string(what) + ": the " + part.name + " \"" + Shown(part.value) +
                                   "\" holds the control character " + CodePointName(c) +
                                   "; key parts must be printable text (nothing was stored)");
  }
}

ListedLanguages::ListedLanguages(Session& s) {
  for (const Row& row : Languages(s).rows)
    if (const auto* code = std::get_if<std::string>(&row[protocol::kLangCode])) codes_.push_back(*code);
}

void ListedLanguages::Check(std::string_view language, std::string_view what) const {
  // Letter case aside, as the screen's language box matches a typed code
  // (a code typed in lower case has always been stored as typed).
  if (std::any_of(codes_.begin(), codes_.end(), [&](const std::string& c) { return text::EqualsIgnoreCase(c, language); }))
    return;
  std::string listed;
  for (const std::string& c : codes_) listed += (listed.empty() ? "" : ", ") + c;
  throw ServerFailureError(FailureCode::UnknownLanguage,
                           std::string(what) + ": the language \"" + Shown(language) +
                               "\" is not one of the server's (" + (listed.empty() ? "none" : listed) +
                               "); records are stored only in a listed language (nothing was stored)");
}

}  // namespace trd::server
