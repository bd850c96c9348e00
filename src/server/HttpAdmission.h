// What the HTTP front decides about a request from its headers alone, before
// a byte of its body is kept, and the failure responses of the HTTP layer.
//
// The routes (a query is ignored in the path):
//   POST /call, POST /echo   the data modules and the echo; need the token
//   GET /                    the progress page (WebFront.h): without the
//                            token it asks for it and shows nothing else
//   GET /painel.css          the page's style sheet
//   POST /entrar             the token form: sets the session cookie
//   POST /sair               forgets the session cookie
// The page's four routes are open to everyone, so that a browser can be
// asked for the token; everything else needs it.
//
// Admit() checks, in this order:
//   1. the token (when the server has one), for every route but the page's:
//      X-Trd-Token must equal it, or the session cookie (SessionCookieName)
//      must hold the server's session secret; both compared in constant
//      time; or X-Trd-Token is a user's token (Access::Unverified)    403
//   2. the method and path                                            404
//   3. the body's encoding: no Content-Encoding but "identity", no
//      Transfer-Encoding but "chunked"; compressed bodies are refused,
//      so that no body can inflate beyond what arrived                415
//   4. the declared size: a Content-Length over the limit             413
// A chunked body is bounded while it arrives (BodyTooLarge, 413).
//
// Every refusal carries a failure response in the wire encoding with its
// code (docs/protocol.md, protocol/Failures.h: unauthorized, no_method,
// unsupported, too_large, malformed, busy, internal), so that a client shows
// the reason and decides by the code, not by a bare status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace trd::server {

enum class Route { Call, Echo, Page, Style, Login, Logout };

// Whether the request proved it knows the token (or none is required).
// Unverified: X-Trd-Token holds another text, which may be a user's token
// (Users.h); the front asks the service whose it is before it reads the
// body, and refuses it (403) when it is nobody's while the server has a
// token, or a disabled user's.
enum class Access { Granted, Denied, Unverified };

// The name of the cookie a browser keeps its session in, once the token
// form was answered with the right token. Its value is the server's session
// secret, never the token itself.
inline constexpr std::string_view kSessionCookie = "trd_sessao";

// What the server compares a request's credentials with. `token` empty: none
// is required (and there is no session). `session` is a random secret drawn
// at start (NewSessionSecret), valid while the server runs.
struct Credentials {
  std::string token;
  std::string session;
};

// The parts of a request's headers that admission looks at.
struct RequestHead {
  std::string_view method;
  std::string_view target;
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
std::variant<Admission, Refusal> Admit(const RequestHead& head, const Credentials& credentials,
                                       std::size_t max_body_bytes);

// The largest body the token form (POST /entrar) takes.
inline constexpr std::size_t kMaxFormBytes = 4096;
// The body limit of a route.
std::size_t BodyLimit(Route route, std::size_t max_body_bytes);

// A fresh session secret: 32 random bytes as hex, from the system's source
// of randomness.
std::string NewSessionSecret();

// The value of cookie `name` in a Cookie header ("a=1; b=2"); empty when
// absent.
std::string_view CookieValue(std::string_view cookie_header, std::string_view name);

// Whether `given` equals `token`, in a time that depends on the lengths only,
// so that the answer time does not tell how much of a guessed token was right.
bool SameToken(std::string_view given, std::string_view token);

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
// The method or the service failed unexpectedly (500).
Refusal InternalError(std::string_view why);

}  // namespace trd::server
