// What the HTTP front decides about a request from its headers alone, before
// a byte of its body is kept, and the failure responses of the HTTP layer.
//
// The routes (a query is ignored in the path):
//   POST /call, POST /echo   the data modules and the echo; need the token
//   GET /                    the progress page (WebFront.h): without the
//                            token it asks for it and shows nothing else
//   GET /painel.css          the page's style sheet
//   HEAD / and /painel.css   as GET: the same status and headers, with the
//                            Content-Length of the GET body, and no body
//   POST /entrar             the token form: sets the session cookie
//   POST /sair               forgets the session cookie
//   GET /textos, GET /texto, POST /texto, POST /revisar, POST /verificar,
//   GET /bancada.js          the workbench (TextPage.h)
//   GET or HEAD elsewhere    the page's "not found" (404, HTML)
// The pages' routes are open to everyone, so that a browser can be asked to
// sign in (the pages show nothing of the table before) and told a path does
// not exist; everything else needs the token.
//
// Admit() checks, in this order:
//   0. the site: a Host header is required (400) and must name the server
//      (ServerNames: --public-name, else its loopback names; 421), so that
//      a page of another site cannot reach it under a name of its own (DNS
//      rebinding). A request other than GET or HEAD whose Origin is not the
//      server's own (the scheme and the Host it was sent to) or whose
//      Sec-Fetch-Site is "cross-site" or "same-site" was sent by a page of
//      another origin: refused, token or not                         403
//   1. the token (when the server has one), for every route but the page's:
//      X-Trd-Token must equal it (compared in constant time), or be a
//      user's token (Access::Unverified, looked up by the front), or the
//      session cookie (kSessionCookie) must name an open session
//      (Access::Session, looked up by the front)                      403
//   2. the method and path (POST elsewhere)                           404
//   3. the body's encoding: no Content-Encoding but "identity", no
//      Transfer-Encoding but "chunked"; compressed bodies are refused,
//      so that no body can inflate beyond what arrived                415
//   4. the declared size: a Content-Length over the limit             413
//   5. POST /call takes Content-Type application/json only, which no form
//      of another site can send without the server's consent       415
// A chunked body is bounded while it arrives (BodyTooLarge, 413).
//
// Every refusal carries a failure response in the wire encoding with its
// code (docs/protocol.md, protocol/Failures.h: unauthorized, no_method,
// unsupported, too_large, malformed, busy, internal; refused for 421), so that a client shows
// the reason and decides by the code, not by a bare status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace trd::server {

enum class Route { Call, Echo, Page, Style, Login, Logout, WorkList, TextView, Save, Review, Check, Script, Missing };

// Whether a route is one of the pages' (WebFront.h), open without the token.
bool IsPageRoute(Route route);

// Whether the request proved it knows the token (or none is required).
// Unverified: X-Trd-Token holds another text, which may be a user's token
// (Users.h); the front asks the service whose it is before it reads the
// body, and refuses it (403) when it is nobody's while the server has a
// token, or a disabled user's.
// Session: it carries a session cookie instead, which the front looks up in
// the database (BrowserSessions.h) before it reads the body; Granted when
// the session is open, else Denied (403 but for the page's routes).
enum class Access { Granted, Denied, Unverified, Session };

// The name of the cookie a browser keeps its session in, once the token
// form was answered with the right token. Its value is the session's id
// (BrowserSessions.h), never the token itself.
inline constexpr std::string_view kSessionCookie = "trd_sessao";

// What the server compares a request's credentials with. `token` empty:
// none is required (and there is no sign-in).
struct Credentials {
  std::string token;
};

// A name the server answers to, as a Host header writes it: a host name or
// address (IPv6 without its brackets, lower case) and the port.
struct ServerName {
  std::string host;
  int port = 0;
  bool operator==(const ServerName&) const = default;
};
using ServerNames = std::vector<ServerName>;

// The names of a server listening on `listen_host`:`port`: each of
// `public_names` ("NAME" or "NAME:PORT", "[::1]:8211"; without a port, the
// server's), else the listening address (unless it is a wildcard),
// localhost, 127.0.0.1 and ::1. Throws trd::Error for a name that cannot
// be one.
ServerNames MakeServerNames(const std::vector<std::string>& public_names, std::string_view listen_host, int port);

// Whether a Host header value names the server. A Host without a port
// names it at its port (clients that leave the port out, and proxies that
// forward the name only).
bool NamesServer(std::string_view host_header, const ServerNames& names, int port);

// The parts of a request's headers that admission looks at.
struct RequestHead {
  std::string_view method;
  std::string_view target;
  std::optional<std::string_view> host;  // nullopt: no Host header
  std::string_view origin;               // empty when absent
  std::string_view fetch_site;           // Sec-Fetch-Site; empty when absent
  std::string_view content_type;         // empty when absent
  std::string_view token;              // X-Trd-Token; empty when absent
  std::string_view cookie;             // Cookie; empty when absent
  std::string_view content_encoding;   // empty when absent
  std::string_view transfer_encoding;  // empty when absent
  std::optional<std::uint64_t> content_length;
};

// An answer that ends the request: the HTTP status and the encoded failure
// response.
struct Refusal {
  int status = 0;
  std::string body;
};

struct Admission {
  Route route = Route::Call;
  Access access = Access::Denied;
};

// The route of the request and whether it carries the token, or why it is
// refused. The body limit of the token form is kMaxFormBytes, whatever
// `max_body_bytes` says.
// `names` and `port`: the server's names and the port it listens on.
std::variant<Admission, Refusal> Admit(const RequestHead& head, const Credentials& credentials,
                                       const ServerNames& names, int port, std::size_t max_body_bytes);

// Whether an answer carries its body: every answer to HEAD omits it (its
// headers still give the Content-Length the body has), refusals too.
enum class AnswerBody { Send, Omit };
AnswerBody AnswerBodyFor(std::string_view method);

// The largest body the token form (POST /entrar) takes.
inline constexpr std::size_t kMaxFormBytes = 4096;
// The largest body the workbench's forms take: a source text and a
// translation of 4000 characters each, percent-encoded, and the key.
inline constexpr std::size_t kMaxWorkFormBytes = 128 * 1024;
// The body limit of a route.
std::size_t BodyLimit(Route route, std::size_t max_body_bytes);

// A fresh secret: 32 random bytes as hex, from the system's source of
// randomness.
std::string NewSessionSecret();

// The value of cookie `name` in a Cookie header ("a=1; b=2"); empty when
// absent.
std::string_view CookieValue(std::string_view cookie_header, std::string_view name);

// Whether `given` equals `token`, in a time that depends on the lengths only,
// so that the answer time does not tell how much of a guessed token was right.
bool SameToken(std::string_view given, std::string_view token);

// A request without the token, or with a wrong one (403).
Refusal WrongToken();
// A chunked body that grew over the limit while it arrived (413).
Refusal BodyTooLarge(std::size_t max_body_bytes);
// Headers larger than the limit (431).
Refusal HeadersTooLarge(std::size_t max_header_bytes);
// A token that is nobody's, or a disabled user's (403).
Refusal Unauthorized(std::string_view why);
// Bytes that are not an HTTP/1.1 request (400).
Refusal MalformedHttp(std::string_view why);
// A connection beyond the limit of open connections (503).
Refusal TooManyConnections(std::size_t limit);
// A connection beyond the limit of open connections from one address (503).
Refusal TooManyConnectionsFrom(std::string_view address, std::size_t limit);
// The method or the service failed unexpectedly (500).
Refusal InternalError(std::string_view why);

}  // namespace trd::server
