#include "Endpoint.h"

#include "Errors.h"

namespace trd {
namespace {

int ParsePort(std::string_view p, std::string_view text, AnyPort any_port) {
  if (p.empty() || p.size() > 5) throw Error("no valid port in \"" + std::string(text) + "\"");
  int port = 0;
  for (char c : p) {
    if (c < '0' || c > '9') throw Error("no valid port in \"" + std::string(text) + "\"");
    port = port * 10 + (c - '0');
  }
  if (port > 65535 || (port == 0 && any_port == AnyPort::Refuse))
    throw Error("port out of range in \"" + std::string(text) + "\"");
  return port;
}

}  // namespace

Endpoint ParseEndpoint(std::string_view text, int default_port, AnyPort any_port) {
  std::string_view s = text;
  if (s.starts_with("http://")) s.remove_prefix(7);
  while (!s.empty() && s.back() == '/') s.remove_suffix(1);
  Endpoint e;
  e.port = default_port;
  if (s.starts_with("[")) {  // [v6-address]:port
    auto close = s.find(']');
    if (close == std::string_view::npos) throw Error("unclosed \"[\" in \"" + std::string(text) + "\"");
    e.host = std::string(s.substr(1, close - 1));
    std::string_view rest = s.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') throw Error("malformed address \"" + std::string(text) + "\"");
      e.port = ParsePort(rest.substr(1), text, any_port);
    }
  } else {
    auto colon = s.rfind(':');
    e.host = std::string(colon == std::string_view::npos ? s : s.substr(0, colon));
    if (colon != std::string_view::npos) e.port = ParsePort(s.substr(colon + 1), text, any_port);
  }
  if (e.host.empty()) throw Error("no host in \"" + std::string(text) + "\"");
  if (e.host.find('/') != std::string::npos) throw Error("malformed address \"" + std::string(text) + "\"");
  return e;
}

}  // namespace trd
