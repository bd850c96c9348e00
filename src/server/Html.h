// Text on its way into the progress page and back out of its forms: the one
// home of HTML escaping and of the URL form encoding
// (application/x-www-form-urlencoded) that queries and form bodies use.
//
// Every text that comes from the table or from a request goes through
// AppendEscaped before it reaches the page, in element content and in
// attribute values alike (both quotes are escaped, so an attribute must be
// written in quotes). Nothing else on the page comes from outside.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/DateTime.h"

namespace trd::server::html {

// Appends `text` with & < > " ' written as character references. Bytes that
// are not valid UTF-8 become U+FFFD, so that a browser never reinterprets
// what follows them; control characters other than tab, line feed and
// carriage return are dropped (HTML forbids them).
void AppendEscaped(std::string& out, std::string_view text);
std::string Escaped(std::string_view text);

// A query or form body, decoded: name=value pairs in order ("+" is a blank,
// %XX a byte). A malformed %-sequence stays as it is.
using Form = std::vector<std::pair<std::string, std::string>>;
Form ParseForm(std::string_view encoded);
// The value of the first pair named `name`; empty when absent.
std::string FormValue(const Form& form, std::string_view name);
// The query of a request target ("/?a=1" gives "a=1"; "" without one).
std::string_view QueryOf(std::string_view target);

// `text` encoded for a query value: unreserved characters as they are,
// everything else as %XX.
std::string UrlEncoded(std::string_view text);

// Writes a page bit by bit: fixed markup as is, outside text escaped.
class Writer {
 public:
  Writer& operator<<(std::string_view markup) {
    out_ += markup;
    return *this;
  }
  // Text from the table or the request.
  Writer& Text(std::string_view text) {
    AppendEscaped(out_, text);
    return *this;
  }
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
};

// Who made a change recorded without a user name: the team token of
// `--token-file`, a server without sign-in, or a harvest or import run on
// the database file itself (`--db`). The history cannot tell them apart.
inline constexpr std::string_view kUnnamedAuthor = "sem usuário (token da equipe ou acesso direto)";

// A time as the pages show it, "dd/mm/aaaa hh:mm"; "—" for none.
std::string DateText(const std::optional<DateTime>& when);

// <input type="hidden"> of `name` (markup) holding `value` (escaped).
void Hidden(Writer& w, std::string_view name, std::string_view value);

// The start of every page (Brazilian Portuguese, UTF-8, a phone's width, the
// style sheet /painel.css) with `title` (escaped); the head is left open.
void OpenDocument(Writer& w, std::string_view title);

}  // namespace trd::server::html
