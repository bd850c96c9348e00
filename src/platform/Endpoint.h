// A server's address as the user writes it: "HOST:PORT", "http://HOST:PORT"
// or "HOST" (then the default port); a trailing "/" is ignored and
// "[::1]:8211" names an IPv6 host. The one parser of addresses: the server's
// --listen, the clients' --server and TRD_SERVER.
#pragma once

#include <string>
#include <string_view>

namespace trd {

struct Endpoint {
  std::string host;  // an IPv6 address without its brackets
  int port = 0;
};

// The translation server's port, for every command and address that names
// none (`trd serve --listen`, `--server`, TRD_SERVER, `trd-client --server`).
inline constexpr int kDefaultPort = 8211;

// Port 0 ("any free port") is refused unless `any_port` allows it. Throws
// trd::Error naming the text for malformed text.
enum class AnyPort { Refuse, Allow };
Endpoint ParseEndpoint(std::string_view text, int default_port, AnyPort any_port = AnyPort::Refuse);

// The address of a translation server a client is to reach: kDefaultPort
// when the text names no port.
inline Endpoint ParseServerAddress(std::string_view text) { return ParseEndpoint(text, kDefaultPort); }

}  // namespace trd
