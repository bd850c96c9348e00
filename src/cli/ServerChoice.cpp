#include "ServerChoice.h"

#include "ServiceDatabase.h"
#include "server/HeapRelease.h"
#include "shared/Services.h"

namespace trd::cli {

void AddServerOptions(CLI::App* cmd, ServerOptions& options) {
  auto* server = cmd->add_option("--server", options.server,
                                 "a running `trd serve`, http://HOST:PORT (port 8211 when none is given)");
  cmd->add_option("--db", options.db, "run the server in this process on this database (default var/trd.sqlite)")
      ->excludes(server);
}

ServerChoice::ServerChoice(const ServerOptions& options) {
  const std::optional<Endpoint> setting =
      options.server.empty() && options.db.empty() ? shared::ServerSetting() : std::nullopt;
  if (!options.server.empty())
    endpoint_ = ParseServerAddress(options.server);
  else if (setting)
    endpoint_ = *setting;
  else {
    // The server's storage work runs on this command's threads (a call out
    // while the next files are read, a new thread each): held to the
    // server's few heap arenas as `trd serve` is, so that what a call frees
    // is reused, not kept idle in an arena per thread the run went through.
    server::LimitHeapArenas();
    local_.emplace(OpenService(options.db.empty() ? "var/trd.sqlite" : options.db));
  }
}

}  // namespace trd::cli
