// The database behind the `trd serve` children of the command-line tests that
// stop, kill and restart servers: the one place that picks the storage, so
// that the same tests run on either backend.
//
//   ServerDatabase db;                      // SQLite file, or see below
//   ServerProcess server({.db = db.Url()});
//   ... restart on db.Url(): the same data ...
//
// TRD_TEST_SERVER_BACKEND=postgres puts it in a fresh schema of the cluster
// named by TRD_TEST_PG_URL (TestDatabase); unset or "sqlite", in a fresh
// SQLite file in a private temporary directory. Either is removed again by
// the destructor. SqlitePath() is empty for PostgreSQL, where file-level
// checks (integrity_check) do not apply.
#pragma once

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "TestDatabase.h"

namespace trd::test {

inline TestBackend ServerTestBackend() {
  const char* env = std::getenv("TRD_TEST_SERVER_BACKEND");
  const std::string name = env ? env : "";
  if (name.empty() || name == "sqlite") return TestBackend::Sqlite;
  if (name == "postgres") return TestBackend::Postgres;
  throw std::runtime_error("TRD_TEST_SERVER_BACKEND must be sqlite or postgres, not " + name);
}

class ServerDatabase {
 public:
  ServerDatabase() : db_(ServerTestBackend(), TestDatabase::Storage::File) {}

  // The --db argument, also good for server::OpenDatabase (ReadRecords).
  const std::string& Url() const { return db_.Url(); }
  bool IsSqlite() const { return db_.Backend() == TestBackend::Sqlite; }
  std::string SqlitePath() const { return IsSqlite() ? Url().substr(std::string("sqlite:").size()) : ""; }

 private:
  TestDatabase db_;
};

}  // namespace trd::test
