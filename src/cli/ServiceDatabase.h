// The --db argument of `trd serve` and `trd harvest`: opening the server's
// database from it, with failures that name the database.
#pragma once

#include <memory>
#include <string>

#include "server/Service.h"

namespace trd::cli {

// The directory of a SQLite file is created when missing ("var/" on a fresh
// checkout). Nothing is done for :memory: or a connection URL.
void PrepareDatabaseDir(const std::string& url);

// PrepareDatabaseDir, then the service on the database `url`. Throws
// trd::Error whose message names the database, whatever part of the way
// failed (its directory, the file, the schema).
std::shared_ptr<server::Service> OpenService(const std::string& url, const server::ServiceOptions& options = {});

}  // namespace trd::cli
