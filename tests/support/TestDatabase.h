// A private database for one test, on either storage backend, so that one
// test suite runs against both.
//
//   TestDatabase db(TestBackend::Postgres);   // skips when no cluster is set
//   auto service = Service::Open(db.Url());
//
// SQLite: a private in-memory database (Storage::Memory) or a fresh file in a
// private temporary directory (Storage::File, for a `trd serve` child).
// PostgreSQL: a fresh schema in the cluster named by TRD_TEST_PG_URL (set by
// scripts/with-postgres, which `make test` runs the tests under); the URL
// makes it the connection's search path. The destructor drops the schema or
// removes the directory.
//
// Available(Postgres) is false when TRD_TEST_PG_URL is unset; tests then skip
// their PostgreSQL cases with a message saying so.
#pragma once

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>

#include "TempTree.h"

namespace trd::test {

enum class TestBackend { Sqlite, Postgres };

inline const char* BackendName(TestBackend b) { return b == TestBackend::Sqlite ? "Sqlite" : "Postgres"; }

class TestDatabase {
 public:
  enum class Storage { Memory, File };

  static bool Available(TestBackend b) { return b == TestBackend::Sqlite || !ClusterUrl().empty(); }
  static std::string ClusterUrl() {
    const char* url = std::getenv("TRD_TEST_PG_URL");
    return url ? url : "";
  }
  static constexpr const char* kSkipMessage =
      "no PostgreSQL cluster: TRD_TEST_PG_URL is unset (make test runs the tests under scripts/with-postgres)";

  explicit TestDatabase(TestBackend backend, Storage storage = Storage::Memory) : backend_(backend) {
    if (backend == TestBackend::Sqlite) {
      if (storage == Storage::Memory) {
        url_ = ":memory:";
        return;
      }
      dir_.emplace("trd-db");
      url_ = "sqlite:" + dir_->Path("trd.sqlite");
      return;
    }
    const std::string base = ClusterUrl();
    if (base.empty()) throw std::runtime_error(kSkipMessage);
    static std::atomic<int> counter{0};
    schema_ = "t" + std::to_string(getpid()) + "_" + std::to_string(counter++) + "_" +
              std::to_string(std::random_device{}() % 100000);
    Admin("CREATE SCHEMA " + schema_);
    url_ = base + (base.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" + schema_;
  }

  ~TestDatabase() {
    if (!schema_.empty()) {
      try {
        Admin("DROP SCHEMA " + schema_ + " CASCADE");
      } catch (...) {
      }
    }
  }
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  // The --db argument / OpenDatabase URL of this database.
  const std::string& Url() const { return url_; }
  TestBackend Backend() const { return backend_; }
  const std::string& Schema() const { return schema_; }

  // Runs SQL on the cluster outside the test's schema (as the superuser).
  static void Admin(const std::string& sql) {
    PGconn* c = PQconnectdb(ClusterUrl().c_str());
    std::string err;
    PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr);  // "drop cascades to ..."
    if (PQstatus(c) != CONNECTION_OK) {
      err = PQerrorMessage(c);
    } else {
      PGresult* r = PQexec(c, sql.c_str());
      if (PQresultStatus(r) != PGRES_COMMAND_OK && PQresultStatus(r) != PGRES_TUPLES_OK)
        err = PQresultErrorMessage(r);
      PQclear(r);
    }
    PQfinish(c);
    if (!err.empty()) throw std::runtime_error("TestDatabase: " + sql + ": " + err);
  }

 private:
  TestBackend backend_;
  std::string url_;
  std::string schema_;
  std::optional<TempTree> dir_;
};

}  // namespace trd::test
