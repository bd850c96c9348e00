// The user's side of a failure: a Portuguese cause for the failures this
// product raises (the translation server unreachable or refusing, a source
// file that cannot be read, a malformed file, a name or text wider than its
// column, a text the server's database refused), with the technical message
// after it for whoever has to act on it. One home for these texts: the
// screens' dialogs and the import run's closing message take them from here.
//
//   CauseText(e, path)   "o servidor de tradução não pôde ser alcançado.
//                         Detalhe técnico: translation server at ...":
//                         lower-case, to follow "...: " in a message; `path`,
//                         when the technical message starts with "path: ",
//                         is left out of it (the message names the file)
//   ErrorMessage(e)      "O servidor de tradução não pôde ser alcançado.\n
//                         Detalhe técnico: translation server at ...": a
//                         dialog's whole text
// Other failures (not of this product's types) keep their message alone.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace trd::shared {

std::string CauseText(const std::exception& e, std::string_view path = {});
std::string ErrorMessage(const std::exception& e);

}  // namespace trd::shared
