// What the record methods (the change sets of SetPropried, SetVerProp and
// their report namesakes; the batch SetPropriedArq) refuse before they write
// anything, so that no record is stored under a key nobody can use:
//
// - a key part (program, form, component, property) that is empty, or holds
//   a control character: C0 (U+0000 to U+001F), DEL (U+007F) or C1 (U+0080
//   to U+009F). Such a key cannot be typed, shown on one line or exported
//   faithfully. Code invalid_key.
// - a language the server does not list (TRDIDIOMA, GetIdiLeDfm): records of
//   it would be invisible to every language-driven read. Code
//   unknown_language.
//
// Deletions are not checked: a record stored before these checks (or by
// another program) can still be removed. Widths are checked elsewhere
// (Records.h, Fits).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Database.h"
#include "protocol/Record.h"

namespace trd::server {

// The first control character of `text` (C0, DEL, C1), as its code point;
// -1 when it has none.
int FirstControlCharacter(std::string_view text);

// Raises protocol::ServerFailureError of code invalid_key when a key part is
// empty or holds a control character; the message starts with `what`
// ("record 3 of 40", "change 2 of 3 (insert), new row") and names the part.
void CheckKeyParts(const protocol::RecordKey& key, std::string_view what);

// The languages the server lists, read once from the session.
class ListedLanguages {
 public:
  explicit ListedLanguages(Session& s);
  // Raises protocol::ServerFailureError of code unknown_language unless
  // `language` is listed, letter case aside (the screen's language box takes
  // a code typed in any case, and its records keep the code as typed).
  void Check(std::string_view language, std::string_view what) const;

 private:
  std::vector<std::string> codes_;
};

}  // namespace trd::server
