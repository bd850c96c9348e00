#include "HttpAdmission.h"

#include <algorithm>
#include <random>

#include "protocol/Failures.h"

namespace trd::server {
namespace {

using protocol::FailureCode;

Refusal Refuse(int status, FailureCode code, std::string_view message) {
  return {status, protocol::EncodeFailure(code, message)};
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? char(a[i] + 32) : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? char(b[i] + 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

// A header value as quoted in a message: long ones are cut.
std::string Quoted(std::string_view value) {
  constexpr std::size_t kShown = 40;
  return "\"" + std::string(value.substr(0, kShown)) + (value.size() > kShown ? "...\"" : "\"");
}

}  // namespace

bool SameToken(std::string_view given, std::string_view token) {
  if (token.empty()) return given.empty();
  unsigned char diff = given.size() == token.size() ? 0 : 1;
  for (std::size_t i = 0; i < given.size(); ++i)
    diff |= static_cast<unsigned char>(given[i] ^ token[i % token.size()]);
  return diff == 0;
}

std::string_view CookieValue(std::string_view cookie_header, std::string_view name) {
  while (!cookie_header.empty()) {
    const std::size_t end = cookie_header.find(';');
    std::string_view pair = Trimmed(cookie_header.substr(0, end));
    cookie_header = end == std::string_view::npos ? std::string_view{} : cookie_header.substr(end + 1);
    const std::size_t eq = pair.find('=');
    if (eq == std::string_view::npos || Trimmed(pair.substr(0, eq)) != name) continue;
    std::string_view value = Trimmed(pair.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return value;
  }
  return {};
}

std::string NewSessionSecret() {
  std::random_device source;  // /dev/urandom (getrandom) on the platforms built for
  static constexpr char kHex[] = "0123456789abcdef";
  std::string secret;
  for (int i = 0; i < 8; ++i) {
    const std::uint32_t word = source();
    for (int shift = 28; shift >= 0; shift -= 4) secret += kHex[(word >> shift) & 0xF];
  }
  return secret;
}

std::size_t BodyLimit(Route route, std::size_t max_body_bytes) {
  return route == Route::Login ? std::min(kMaxFormBytes, max_body_bytes) : max_body_bytes;
}

std::variant<Admission, Refusal> Admit(const RequestHead& head, const Credentials& credentials,
                                       std::size_t max_body_bytes) {
  const std::string_view path = head.target.substr(0, head.target.find('?'));
  std::optional<Route> route;
  if (head.method == "POST" && path == "/call") route = Route::Call;
  else if (head.method == "POST" && path == "/echo") route = Route::Echo;
  else if (head.method == "GET" && path == "/") route = Route::Page;
  else if (head.method == "GET" && path == "/painel.css") route = Route::Style;
  else if (head.method == "POST" && path == "/entrar") route = Route::Login;
  else if (head.method == "POST" && path == "/sair") route = Route::Logout;

  Access access = Access::Granted;
  if (!credentials.token.empty()) {
    const std::string_view cookie = CookieValue(head.cookie, kSessionCookie);
    const bool by_header = SameToken(head.token, credentials.token);
    const bool by_cookie = !cookie.empty() && SameToken(cookie, credentials.session);
    if (!by_header && !by_cookie) access = head.token.empty() ? Access::Denied : Access::Unverified;
  } else if (!head.token.empty()) {
    access = Access::Unverified;
  }
  const bool open_route = route && (*route == Route::Page || *route == Route::Style || *route == Route::Login ||
                                    *route == Route::Logout);
  // The page knows the server's token and its cookie only.
  if (open_route && access == Access::Unverified)
    access = credentials.token.empty() ? Access::Granted : Access::Denied;
  if (access == Access::Denied && !open_route)
    return Refuse(403, FailureCode::Unauthorized, "request refused: missing or wrong X-Trd-Token");
  if (!route)
    return Refuse(
        404, FailureCode::NoMethod,
        "no such service: " + std::string(head.method) + " " + std::string(path.substr(0, 200)) + " (use POST /call)");

  const std::string_view encoding = Trimmed(head.content_encoding);
  if (!encoding.empty() && !SameAscii(encoding, "identity"))
    return Refuse(415, FailureCode::Unsupported,
                  "request refused: compressed bodies are not accepted (Content-Encoding: " + Quoted(encoding) +
                      "); send the body uncompressed");
  const std::string_view transfer = Trimmed(head.transfer_encoding);
  if (!transfer.empty() && !SameAscii(transfer, "chunked"))
    return Refuse(415, FailureCode::Unsupported,
                  "request refused: the transfer coding " + Quoted(transfer) +
                      " is not accepted; send the body uncompressed, with Content-Length or chunked");

  const std::size_t limit = BodyLimit(*route, max_body_bytes);
  if (head.content_length && *head.content_length > limit) return BodyTooLarge(limit);
  return Admission{*route, access};
}

Refusal BodyTooLarge(std::size_t max_body_bytes) {
  return Refuse(413, FailureCode::TooLarge,
                "request refused: the body exceeds the limit of " + std::to_string(max_body_bytes) + " bytes");
}

Refusal HeadersTooLarge(std::size_t max_header_bytes) {
  return Refuse(431, FailureCode::TooLarge,
                "request refused: the headers exceed the limit of " + std::to_string(max_header_bytes) + " bytes");
}

Refusal Unauthorized(std::string_view why) {
  return Refuse(403, FailureCode::Unauthorized, "request refused: " + std::string(why));
}

Refusal MalformedHttp(std::string_view why) {
  return Refuse(400, FailureCode::Malformed, "malformed HTTP request: " + std::string(why));
}

Refusal TooManyConnections(std::size_t limit) {
  return Refuse(503, FailureCode::Busy, "server busy: " + std::to_string(limit) +
                         " connections are open, as many as it accepts; try again later");
}

Refusal InternalError(std::string_view why) {
  return Refuse(500, FailureCode::Internal, "internal error: " + std::string(why));
}

}  // namespace trd::server
