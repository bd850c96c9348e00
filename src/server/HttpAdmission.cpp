#include "HttpAdmission.h"

#include <algorithm>
#include <random>

#include "platform/Endpoint.h"
#include "platform/Errors.h"
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

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return out;
}

// The authority of an Origin ("http://host:port" -> "host:port"); nullopt
// for "null" and anything else that is not an http(s) origin.
std::optional<std::string_view> OriginAuthority(std::string_view origin) {
  for (std::string_view scheme : {"http://", "https://"})
    if (origin.size() > scheme.size() && SameAscii(origin.substr(0, scheme.size()), scheme))
      return origin.substr(scheme.size());
  return std::nullopt;
}

// Whether a request that changes something was sent by a page of another
// origin: the browser says so in Origin or Sec-Fetch-Site. A request
// without either comes from a program, not from a page.
bool FromAnotherSite(const RequestHead& head) {
  const std::string_view fetch_site = Trimmed(head.fetch_site);
  if (SameAscii(fetch_site, "cross-site") || SameAscii(fetch_site, "same-site")) return true;
  const std::string_view origin = Trimmed(head.origin);
  if (origin.empty()) return false;
  const auto authority = OriginAuthority(origin);
  return !authority || !head.host || !SameAscii(*authority, Trimmed(*head.host));
}

// The media type of a Content-Type value, without its parameters.
std::string_view MediaType(std::string_view content_type) {
  return Trimmed(content_type.substr(0, content_type.find(';')));
}

}  // namespace

ServerNames MakeServerNames(const std::vector<std::string>& public_names, std::string_view listen_host, int port) {
  ServerNames names;
  auto add = [&](ServerName name) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
  };
  for (const std::string& text : public_names) {
    Endpoint e;
    try {
      e = ParseEndpoint(text, port);
    } catch (const Error& error) {
      throw Error("--public-name " + text + ": not a host name or HOST:PORT (" + error.what() + ")");
    }
    add({Lower(e.host), e.port});
  }
  if (!public_names.empty()) return names;
  if (listen_host != "0.0.0.0" && listen_host != "::" && !listen_host.empty()) add({Lower(listen_host), port});
  for (const char* host : {"localhost", "127.0.0.1", "::1"}) add({host, port});
  return names;
}

bool NamesServer(std::string_view host_header, const ServerNames& names, int port) {
  host_header = Trimmed(host_header);
  if (host_header.empty()) return false;
  Endpoint e;
  try {
    e = ParseEndpoint(host_header, port);
  } catch (const Error&) {
    return false;
  }
  ServerName asked{Lower(e.host), e.port};
  return std::find(names.begin(), names.end(), asked) != names.end();
}

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
  if (route == Route::Login) return std::min(kMaxFormBytes, max_body_bytes);
  if (route == Route::Save || route == Route::Review || route == Route::Check)
    return std::min(kMaxWorkFormBytes, max_body_bytes);
  return max_body_bytes;
}

bool IsPageRoute(Route route) { return route != Route::Call && route != Route::Echo; }

namespace {
// GET, or HEAD: the same answer without its body (AnswerBody).
bool IsRead(std::string_view method) { return method == "GET" || method == "HEAD"; }
}  // namespace

AnswerBody AnswerBodyFor(std::string_view method) { return method == "HEAD" ? AnswerBody::Omit : AnswerBody::Send; }

std::variant<Admission, Refusal> Admit(const RequestHead& head, const Credentials& credentials,
                                       const ServerNames& names, int port, std::size_t max_body_bytes) {
  if (!head.host) return Refuse(400, FailureCode::Malformed, "malformed HTTP request: no Host header");
  if (!NamesServer(*head.host, names, port))
    return Refuse(421, FailureCode::Refused,
                  "request refused: " + Quoted(*head.host) +
                      " is not a name of this server (trd serve --public-name NAME names it)");
  if (head.method != "GET" && head.method != "HEAD" && FromAnotherSite(head))
    return Refuse(403, FailureCode::Unauthorized,
                  "request refused: sent by a page of another site (Origin " + Quoted(head.origin) +
                      ", Sec-Fetch-Site " + Quoted(head.fetch_site) + ")");

  const std::string_view path = head.target.substr(0, head.target.find('?'));
  std::optional<Route> route;
  if (head.method == "POST" && path == "/call") route = Route::Call;
  else if (head.method == "POST" && path == "/echo") route = Route::Echo;
  else if (IsRead(head.method) && path == "/") route = Route::Page;
  else if (IsRead(head.method) && path == "/painel.css") route = Route::Style;
  else if (head.method == "POST" && path == "/entrar") route = Route::Login;
  else if (head.method == "POST" && path == "/sair") route = Route::Logout;
  else if (IsRead(head.method) && path == "/textos") route = Route::WorkList;
  else if (IsRead(head.method) && path == "/texto") route = Route::TextView;
  else if (head.method == "POST" && path == "/texto") route = Route::Save;
  else if (head.method == "POST" && path == "/revisar") route = Route::Review;
  else if (head.method == "POST" && path == "/verificar") route = Route::Check;
  else if (IsRead(head.method) && path == "/bancada.js") route = Route::Script;
  else if (IsRead(head.method)) route = Route::Missing;

  Access access = Access::Granted;
  if (!credentials.token.empty()) {
    // Another X-Trd-Token may be a user's (Unverified); without one, the
    // session cookie may name an open session (Session).
    if (!SameToken(head.token, credentials.token))
      access = !head.token.empty()                                ? Access::Unverified
               : CookieValue(head.cookie, kSessionCookie).empty() ? Access::Denied
                                                                  : Access::Session;
  } else if (!head.token.empty()) {
    access = Access::Unverified;
  }
  const bool open_route = route && IsPageRoute(*route);
  // A user's token opens the data routes; the page knows the server's token
  // and its sessions only, and an unknown path is no user's business either.
  const bool user_route = route && (*route == Route::Call || *route == Route::Echo);
  if (!user_route && access == Access::Unverified)
    access = credentials.token.empty() ? Access::Granted : Access::Denied;
  if (access == Access::Denied && !open_route) return WrongToken();
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
  if (*route == Route::Call && !SameAscii(MediaType(head.content_type), "application/json"))
    return Refuse(415, FailureCode::Unsupported,
                  "request refused: POST /call takes Content-Type: application/json, not " +
                      Quoted(head.content_type));
  return Admission{*route, access};
}

Refusal WrongToken() {
  return Refuse(403, FailureCode::Unauthorized, "request refused: missing or wrong X-Trd-Token");
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

Refusal TooManyConnectionsFrom(std::string_view address, std::size_t limit) {
  return Refuse(503, FailureCode::Busy,
                "server busy: " + std::to_string(limit) + " connections are open from " + std::string(address) +
                    ", as many as one client address may hold (--max-connections-per-address); close some or "
                    "try again later");
}

Refusal InternalError(std::string_view why) {
  return Refuse(500, FailureCode::Internal, "internal error: " + std::string(why));
}

}  // namespace trd::server
