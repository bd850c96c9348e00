// PostgreSQL backend of the server's storage (libpq).
//
// A pool of connections, opened as sessions ask for them up to `connections`;
// a session holds one connection for its life, so several requests run at
// once, each on its own connection. A connection found broken when its session
// ends is closed and replaced by a fresh one on the next Acquire, so a
// database restart costs the requests in flight, not the server.
//
// Statements are prepared once per connection and SQL text ("?" rewritten to
// "$1", "$2", ...). Values travel as text: numbers with 17 significant digits,
// date-times as ISO 8601 (the columns are TIMESTAMP without time zone, and
// hold the client's local time as the SQLite backend does).
//
// Begin() takes a transaction-wide advisory lock, so write transactions run
// one at a time as on SQLite: two change sets touching the same keys in
// different orders can never deadlock halfway. Reads outside a transaction
// do not wait for it.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "Database.h"

namespace trd::server {

struct PostgresOptions {
  int connections = 16;                       // the most connections held at once
  std::chrono::seconds connect_timeout{10};   // unless the URL sets connect_timeout
};

// Opens the database of a libpq connection URI ("postgresql://USER@HOST:PORT/DB",
// "postgresql:///DB?host=/socket/dir", ...). Connects once at once, so that a
// server that cannot reach its database fails at start. Throws StorageError
// naming the database (without its password).
std::unique_ptr<Database> OpenPostgres(const std::string& url, PostgresOptions options = {});

// The URL with its password, if any, replaced by "***": for messages.
std::string RedactPassword(std::string_view url);

}  // namespace trd::server
