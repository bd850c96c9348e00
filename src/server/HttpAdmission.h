// What the HTTP front decides about a request from its headers alone, before
// a byte of its body is kept, and the failure responses of the HTTP layer.
//
// Admit() checks, in this order:
//   1. the token (when the server has one): X-Trd-Token must equal it,
//      compared in constant time                                      403
//   2. the method and path: POST /call or POST /echo (a query is ignored) 404
//   3. the body's encoding: no Content-Encoding but "identity", no
//      Transfer-Encoding but "chunked"; compressed bodies are refused,
//      so that no body can inflate beyond what arrived                415
//   4. the declared size: a Content-Length over the limit             413
// A chunked body is bounded while it arrives (BodyTooLarge, 413).
//
// Every refusal carries a failure response in the wire encoding
// (docs/protocol.md), so that a client shows the reason, not a bare status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace trd::server {

enum class Route { Call, Echo };

// The parts of a request's headers that admission looks at.
struct RequestHead {
  std::string_view method;
  std::string_view target;
  std::string_view token;              // X-Trd-Token; empty when absent
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

// The route of the request, or why it is refused. `token` empty: none is
// required.
std::variant<Route, Refusal> Admit(const RequestHead& head, std::string_view token, std::size_t max_body_bytes);

// Whether `given` equals `token`, in a time that depends on the lengths only,
// so that the answer time does not tell how much of a guessed token was right.
bool SameToken(std::string_view given, std::string_view token);

// A chunked body that grew over the limit while it arrived (413).
Refusal BodyTooLarge(std::size_t max_body_bytes);
// Headers larger than the limit (431).
Refusal HeadersTooLarge(std::size_t max_header_bytes);
// Bytes that are not an HTTP/1.1 request (400).
Refusal MalformedHttp(std::string_view why);
// A connection beyond the limit of open connections (503).
Refusal TooManyConnections(std::size_t limit);
// The method or the service failed unexpectedly (500).
Refusal InternalError(std::string_view why);

}  // namespace trd::server
