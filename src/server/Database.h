// Storage behind the translation server: a small, backend-neutral SQL
// interface with two backends, SQLite (SqliteDatabase.h) and PostgreSQL
// (PostgresDatabase.h).
//
// Contract of the SQL handed to a Session:
// - the portable subset understood by every backend: standard DDL types
//   (VARCHAR(n), DOUBLE PRECISION, TIMESTAMP), CREATE ... IF NOT EXISTS,
//   INSERT ... ON CONFLICT DO NOTHING, RTRIM(x), ORDER BY ... DESC with the
//   order of NULLs stated explicitly;
// - values only through bound parameters, written "?" and bound in order
//   (a backend with numbered placeholders rewrites them); never spliced text.
//
// Values cross the interface as FieldValue: null, text (UTF-8), number or
// date-time. A backend stores a date-time in its own way (SQLite: ISO 8601
// text, which sorts in time order) and converts it back when the caller asks
// for a DateTime column.
//
// Transactions are explicit: Begin/Commit/Rollback on a Session, or the RAII
// Transaction below. Outside a transaction each statement commits by itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Errors.h"
#include "platform/Value.h"

namespace trd::server {

// A statement broke a unique or primary key.
class DuplicateKeyError : public StorageError {
 public:
  using StorageError::StorageError;
};

// The database file the server opened is no longer the file at its path (it
// was deleted or replaced while the server ran): a write would go where
// nobody will find it again, so every write is refused with this.
class DatabaseGoneError : public StorageError {
 public:
  using StorageError::StorageError;
};

enum class Backend { Sqlite, Postgres };

// Exclusive use of one database connection. Not thread-safe; one thread uses
// a session at a time, and a session is released by destroying it.
class Session {
 public:
  virtual ~Session() = default;

  // Runs a statement that returns rows. `columns` gives the type of each
  // result column, in order; a value is converted to it (null stays null).
  // Throws StorageError (DuplicateKeyError for a key violation).
  std::vector<Row> Query(std::string_view sql, std::span<const FieldValue> params,
                         std::span<const FieldType> columns) {
    return QueryWhile(sql, params, columns, {});
  }

  // Query, keeping rows only while `more(the row just read)` says so: the
  // row it answers false for is the last one returned, and no later row is
  // held in memory (SQLite stops stepping; PostgreSQL reads the rest row by
  // row and drops it). An empty `more` keeps every row. For answers bounded
  // in bytes (a page of records, protocol::PageBytes).
  virtual std::vector<Row> QueryWhile(std::string_view sql, std::span<const FieldValue> params,
                                      std::span<const FieldType> columns,
                                      const std::function<bool(const Row&)>& more) = 0;

  // Runs a statement that returns no rows; returns the number of rows it
  // inserted, changed or deleted. Throws like Query.
  virtual std::int64_t Execute(std::string_view sql, std::span<const FieldValue> params = {}) = 0;

  // Inserts `rows` into `table`, each row a value per column of `columns`
  // in that order, leaving out every row whose key is taken (INSERT ... ON
  // CONFLICT DO NOTHING); returns how many rows went in. PostgreSQL sends
  // them as one statement (each column as an array, unnested), prepared once
  // for any number of rows: one round trip for all. Otherwise one INSERT a
  // row, in order. Throws like Execute.
  virtual std::int64_t InsertNew(std::string_view table, std::span<const FieldDef> columns,
                                 std::span<const Row> rows);

  // A write transaction: Begin takes the write lock at once, so that two
  // writers never deadlock halfway. Nested transactions are not supported.
  // Begin, and Execute of a writing statement outside a transaction, raise
  // DatabaseGoneError when the database is no longer where it was opened.
  virtual void Begin() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;

  // Tells the backend that a committed change added about `rows` rows to
  // `table`; called outside a transaction. PostgreSQL plans a prepared
  // statement once for the life of its connection, from the table's
  // statistics, and a fresh table has none: the plans made then read the
  // wrong index for the rest of the run. So it takes the table's statistics
  // anew (ANALYZE) whenever the table has about doubled since they were last
  // taken (from 1,000 rows on; a few times per run, each reading a bounded
  // sample). SQLite's plans do not depend on statistics: nothing to do.
  // Never throws: statistics not taken leave the plans as they were.
  virtual void Grew(std::string_view table, std::int64_t rows) {
    (void)table;
    (void)rows;
  }

  // Which backend runs the SQL: for the few statements (an index, and the
  // look-up that uses it) that cannot be written the same way for all.
  virtual Backend Kind() const = 0;

 protected:
  // "INSERT INTO table (c1, c2, ...)", the start of InsertNew's statements,
  // once each of `rows` holds a value per column; throws StorageError when
  // one does not.
  static std::string InsertInto(std::string_view table, std::span<const FieldDef> columns,
                                std::span<const Row> rows);
};

// A database: hands out sessions. Thread-safe.
class Database {
 public:
  virtual ~Database() = default;
  // Blocks until a connection is free and returns a session on it.
  virtual std::unique_ptr<Session> Acquire() = 0;
  // A session for reading only (no Begin, no writing statement), which need
  // not wait for the writers: SQLite gives one of a few read connections
  // beside the writer (a file in WAL mode), PostgreSQL one of its pool.
  virtual std::unique_ptr<Session> AcquireReader() { return Acquire(); }
  // A session for the calls that write in whole transactions (Begin to
  // Commit) and may have their transactions committed together with other
  // such sessions'. SQLite (a file): statements outside a transaction read
  // beside the writer; each transaction waits for its turn on the writer in
  // the order asked and runs in a savepoint of a transaction shared with the
  // turns next to it (WriterTurns.h); Commit returns once that one is
  // committed, and a transaction rolled back leaves nothing. Otherwise a
  // session of Acquire().
  virtual std::unique_ptr<Session> AcquireTogether() { return Acquire(); }
  // Where the data lives, for messages ("sqlite:/path/trd.sqlite").
  virtual std::string Describe() const = 0;
};

// Commits on Commit(); rolls back when destroyed uncommitted (an exception
// left the scope). Rollback failures in the destructor are swallowed: the
// backend discards the open transaction with the connection anyway.
class Transaction {
 public:
  explicit Transaction(Session& session);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit();

 private:
  Session& session_;
  bool open_ = true;
};

// Opens the database named by `url`:
//   "sqlite:PATH", a plain PATH, or ":memory:" (a private in-memory database);
//   "postgresql://..." or "postgres://..." (a libpq connection URI).
// The schema is not touched here (see Schema.h). Throws StorageError when the
// database cannot be opened or the scheme is unknown.
std::unique_ptr<Database> OpenDatabase(std::string_view url);

}  // namespace trd::server
