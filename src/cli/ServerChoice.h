// Which translation server a command talks to, as `trd harvest`, `trd
// export`, `trd import`, `trd status` and `trd check` take it:
//   --server URL  a running `trd serve` (http://HOST:PORT; port 8211 when
//                 none is given, as for TRD_SERVER);
//   --db URL      the server in this process, on that database;
//   neither       TRD_SERVER when set, else --db var/trd.sqlite.
#pragma once

#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "InProcessServer.h"
#include "platform/Endpoint.h"

namespace trd::cli {

struct ServerOptions {
  std::string server;
  std::string db;
};

// Adds --server and --db (which exclude each other) to `cmd`.
void AddServerOptions(CLI::App* cmd, ServerOptions& options);

// The server chosen by the options: an endpoint reached over HTTP, or a
// service in this process. Opening the database may throw trd::Error naming
// it; a malformed TRD_SERVER or --server throws Error too.
class ServerChoice {
 public:
  explicit ServerChoice(const ServerOptions& options);

  // Transports for connections to the chosen server (an empty factory stands
  // for HTTP, see Connection).
  TransportFactory Transports() const { return local_ ? local_->Transports() : TransportFactory(); }
  const Endpoint& Address() const { return endpoint_; }

 private:
  std::optional<InProcessServer> local_;
  Endpoint endpoint_;
};

}  // namespace trd::cli
