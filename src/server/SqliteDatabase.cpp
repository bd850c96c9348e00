#include "SqliteDatabase.h"
#include "TextFold.h"
#include "WalCheckpointer.h"
#include "WriterTurns.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace trd::server {
namespace {

std::string Message(sqlite3* db, std::string_view what) {
  return std::string(what) + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
}

struct StringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

// The cache holds the statements of the server's fixed SQL. Change sets with
// unusual field lists make statements of their own; past this many, those
// are prepared for one use only.
constexpr std::size_t kMaxCachedStatements = 256;

enum class Cached { Yes, No };

struct Prepared {
  sqlite3_stmt* stmt;
  Cached cached;
};

// Ends one use of a statement, however the use ends: a cached statement is
// reset (so that no read stays open on the connection and the next use starts
// clean), an uncached one finalized.
class StatementUse {
 public:
  explicit StatementUse(Prepared p) : stmt_(p.stmt), cached_(p.cached) {}
  ~StatementUse() {
    if (cached_ == Cached::No) {
      sqlite3_finalize(stmt_);
      return;
    }
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_;
  Cached cached_;
};

// Which file a path names: device and inode.
struct FileIdentity {
  dev_t device;
  ino_t inode;
  bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> IdentityAt(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

// SQLite's allocation statistics take one process-wide mutex on every
// allocation of every connection. A look-up's worker runs at a lower
// priority (HttpSession.cpp) and can be preempted holding it, stalling the
// writer of a harvest behind it; nothing here reads the statistics, so they
// are off (before the library first initialises: a process that opened a
// database earlier keeps its setting, which is only slower).
void ConfigureLibraryOnce() {
  static const bool configured = [] { return sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK; }();
  (void)configured;
}

class SqliteConnection {
 public:
  SqliteConnection(const std::string& path, const SqliteOptions& options) {
    ConfigureLibraryOnce();
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
      std::string msg = Message(db_, "cannot open the SQLite database " + path);
      sqlite3_close_v2(db_);
      throw StorageError(msg);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, int(options.busy_timeout.count()));
    try {
      // An in-memory database answers "memory" here and keeps its own journal.
      Exec("PRAGMA journal_mode=WAL");
      Exec("PRAGMA synchronous=NORMAL");
      // A bounded page cache and no memory mapping: the process's memory then
      // stays the same however large the table grows (mapped pages of the
      // file count as the process's own once touched, and a harvest touches
      // the whole table). Pages beyond the cache come from the operating
      // system's file cache, which a harvest's look-ups (near each other in
      // key order, file by file) seldom need. The writer's cache is no larger
      // than a reader's: a first harvest of 20,000 forms took no more time
      // with 4 MiB than with 16 (23.1 s against 23.8), in 13 MiB less memory.
      Exec("PRAGMA cache_size=-4096");
      Exec("PRAGMA mmap_size=0");
      Exec("PRAGMA foreign_keys=ON");
      RegisterFoldFunction(db_);
    } catch (...) {
      sqlite3_close_v2(db_);
      throw;
    }
    if (path != ":memory:") {
      std::error_code ec;
      path_ = std::filesystem::absolute(path, ec).lexically_normal().string();
      if (ec) path_ = path;
      identity_ = IdentityAt(path_);
    }
  }

  ~SqliteConnection() {
    for (auto& [sql, stmt] : cache_) sqlite3_finalize(stmt);
    sqlite3_close_v2(db_);
  }

  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  void Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
      std::string msg = std::string(sql) + ": " + (err ? err : sqlite3_errmsg(db_));
      sqlite3_free(err);
      throw StorageError(msg);
    }
  }

  Prepared Prepare(std::string_view sql) {
    if (auto it = cache_.find(sql); it != cache_.end()) return {it->second, Cached::Yes};
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v3(db_, sql.data(), int(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt,
                                &tail);
    if (rc != SQLITE_OK) throw StorageError(Message(db_, "cannot prepare \"" + std::string(sql) + "\""));
    if (!stmt) throw StorageError("empty SQL statement");
    if (tail && std::string_view(tail).find_first_not_of(" \t\r\n;") != std::string_view::npos) {
      sqlite3_finalize(stmt);
      throw StorageError("more than one SQL statement in \"" + std::string(sql) + "\"");
    }
    if (cache_.size() >= kMaxCachedStatements) return {stmt, Cached::No};
    cache_.emplace(std::string(sql), stmt);
    return {stmt, Cached::Yes};
  }

  void Bind(sqlite3_stmt* stmt, std::span<const FieldValue> params) {
    if (int(params.size()) != sqlite3_bind_parameter_count(stmt))
      throw StorageError("statement expects " + std::to_string(sqlite3_bind_parameter_count(stmt)) +
                         " parameters, got " + std::to_string(params.size()));
    for (std::size_t i = 0; i < params.size(); ++i) {
      int n = int(i) + 1;
      int rc = SQLITE_OK;
      const FieldValue& v = params[i];
      if (std::holds_alternative<std::monostate>(v)) {
        rc = sqlite3_bind_null(stmt, n);
      } else if (const auto* s = std::get_if<std::string>(&v)) {
        rc = sqlite3_bind_text64(stmt, n, s->data(), s->size(), SQLITE_STATIC, SQLITE_UTF8);
      } else if (const auto* d = std::get_if<double>(&v)) {
        rc = sqlite3_bind_double(stmt, n, *d);
      } else {
        std::string iso = std::get<DateTime>(v).ToIso();
        rc = sqlite3_bind_text64(stmt, n, iso.data(), iso.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      }
      if (rc != SQLITE_OK) throw StorageError(Message(db_, "cannot bind parameter " + std::to_string(n)));
    }
  }

  // Steps once; true when a row is ready. Raises the step's failure.
  bool Step(sqlite3_stmt* stmt) {
    int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    std::string msg = Message(db_, "SQLite");
    if (rc == SQLITE_CONSTRAINT_PRIMARYKEY || rc == SQLITE_CONSTRAINT_UNIQUE)
      throw DuplicateKeyError(msg);
    throw StorageError(msg);
  }

  static FieldValue Column(sqlite3_stmt* stmt, int i, FieldType type) {
    if (sqlite3_column_type(stmt, i) == SQLITE_NULL) return std::monostate{};
    switch (type) {
      case FieldType::Float: return sqlite3_column_double(stmt, i);
      case FieldType::String: {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
        return std::string(p ? p : "", std::size_t(sqlite3_column_bytes(stmt, i)));
      }
      case FieldType::DateTime: {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
        std::string_view s(p ? p : "", std::size_t(sqlite3_column_bytes(stmt, i)));
        if (auto dt = DateTime::FromIso(s)) return *dt;
        throw StorageError("stored date-time \"" + std::string(s) + "\" is not ISO 8601");
      }
    }
    return std::monostate{};
  }

  sqlite3* db() const { return db_; }

  // Where the next write transaction keeps its savepoints' journal (the
  // pages a savepoint or a statement changed, copied before the change, so
  // that it alone can be undone). SQLite reads the setting as the transaction
  // begins; it cannot change inside one.
  // - File: in memory up to 64 KiB, then a temporary file: bounded memory
  //   whatever one statement changes.
  // - Memory: in memory, whatever its size. For a write group's works
  //   (WriterTurns.h): each work is one savepoint of one call's records,
  //   whose journal past 64 KiB cost a write and, once evicted, a read system
  //   call per page (a tenth of the server's time in a harvest, a quarter
  //   with many at once). It is freed at each work's end; its size is that
  //   of the pages one call changes, bounded by the call's size limit. (A
  //   larger threshold of the library's own is no way out: its journal then
  //   moves to the file in one write larger than its files take, which fails
  //   as "database or disk is full" and rolls the group's transaction back.)
  enum class SubJournal { File, Memory };
  void KeepSubJournal(SubJournal where) {
    if (where == sub_journal_) return;
    Exec(where == SubJournal::Memory ? "PRAGMA temp_store=MEMORY" : "PRAGMA temp_store=DEFAULT");
    sub_journal_ = where;
  }

  // Raises DatabaseGoneError when the file at the path is not the one opened.
  void CheckStillAtPath() const {
    if (!identity_ || IdentityAt(path_) == identity_) return;
    throw DatabaseGoneError("the SQLite database " + path_ +
                            " is no longer the file at that path (it was deleted or replaced while the server "
                            "ran): every change is refused from now on; put the file back or restart the server");
  }

 private:
  sqlite3* db_ = nullptr;
  std::string path_;                       // absolute; empty in memory
  std::optional<FileIdentity> identity_;  // of the file opened; none in memory
  std::unordered_map<std::string, sqlite3_stmt*, StringHash, std::equal_to<>> cache_;
  SubJournal sub_journal_ = SubJournal::File;
};

// The read connections of a file database, handed out one per session.
class ReaderPool {
 public:
  ReaderPool(const std::string& path, const SqliteOptions& options, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      all_.push_back(std::make_unique<SqliteConnection>(path, options));
      free_.push_back(all_.back().get());
    }
  }
  bool Empty() const { return all_.empty(); }
  SqliteConnection& Take() {
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return !free_.empty(); });
    SqliteConnection* c = free_.back();
    free_.pop_back();
    return *c;
  }
  void Give(SqliteConnection& c) {
    {
      std::lock_guard lock(mutex_);
      free_.push_back(&c);
    }
    freed_.notify_one();
  }

 private:
  std::vector<std::unique_ptr<SqliteConnection>> all_;
  std::vector<SqliteConnection*> free_;
  std::mutex mutex_;
  std::condition_variable freed_;
};

std::vector<Row> QueryOn(SqliteConnection& conn, std::string_view sql, std::span<const FieldValue> params,
                         std::span<const FieldType> columns, const std::function<bool(const Row&)>& more) {
  StatementUse use(conn.Prepare(sql));
  sqlite3_stmt* stmt = use.get();
  if (int(columns.size()) != sqlite3_column_count(stmt))
    throw StorageError("statement returns " + std::to_string(sqlite3_column_count(stmt)) +
                       " columns, the caller expects " + std::to_string(columns.size()));
  conn.Bind(stmt, params);
  std::vector<Row> rows;
  while (conn.Step(stmt)) {
    Row row;
    row.reserve(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i)
      row.push_back(SqliteConnection::Column(stmt, int(i), columns[i]));
    rows.push_back(std::move(row));
    if (more && !more(rows.back())) break;
  }
  return rows;
}

std::int64_t ExecuteOn(SqliteConnection& conn, std::string_view sql, std::span<const FieldValue> params) {
  StatementUse use(conn.Prepare(sql));
  if (sqlite3_get_autocommit(conn.db()) && !sqlite3_stmt_readonly(use.get())) conn.CheckStillAtPath();
  conn.Bind(use.get(), params);
  while (conn.Step(use.get())) {
  }
  return sqlite3_changes64(conn.db());
}

// BEGIN IMMEDIATE on the writer, refused when the file is gone.
void BeginWriting(SqliteConnection& conn, SqliteConnection::SubJournal journal) {
  conn.KeepSubJournal(journal);
  conn.Exec("BEGIN IMMEDIATE");
  try {
    conn.CheckStillAtPath();
  } catch (...) {
    conn.Exec("ROLLBACK");
    throw;
  }
}

// An Alone turn on the writer (WriterTurns.h), for a session's life.
class AloneTurn {
 public:
  explicit AloneTurn(WriterTurns& turns) : turns_(turns) { turns_.Enter(WriterTurns::Kind::Alone); }
  ~AloneTurn() { turns_.Leave(); }
  AloneTurn(const AloneTurn&) = delete;
  AloneTurn& operator=(const AloneTurn&) = delete;

 private:
  WriterTurns& turns_;
};

class SqliteSession final : public Session {
 public:
  // The writer's session: holds the writer's turn for its life.
  SqliteSession(SqliteConnection& conn, WriterTurns& turns) : conn_(conn), turn_(std::in_place, turns) {}
  // A read session on a connection of the pool, given back at its end.
  SqliteSession(SqliteConnection& conn, ReaderPool& pool) : conn_(conn), pool_(&pool) {}

  ~SqliteSession() override {
    // A session given back inside a transaction leaves nothing behind.
    if (!sqlite3_get_autocommit(conn_.db())) sqlite3_exec(conn_.db(), "ROLLBACK", nullptr, nullptr, nullptr);
    if (pool_) pool_->Give(conn_);
  }

  std::vector<Row> QueryWhile(std::string_view sql, std::span<const FieldValue> params,
                              std::span<const FieldType> columns,
                              const std::function<bool(const Row&)>& more) override {
    return QueryOn(conn_, sql, params, columns, more);
  }

  std::int64_t Execute(std::string_view sql, std::span<const FieldValue> params) override {
    return ExecuteOn(conn_, sql, params);
  }

  void Begin() override {
    if (pool_) throw StorageError("a read session cannot begin a write transaction");
    BeginWriting(conn_, SqliteConnection::SubJournal::File);
  }
  void Commit() override { conn_.Exec("COMMIT"); }
  void Rollback() override {
    if (!sqlite3_get_autocommit(conn_.db())) conn_.Exec("ROLLBACK");
  }
  Backend Kind() const override { return Backend::Sqlite; }

 private:
  SqliteConnection& conn_;
  std::optional<AloneTurn> turn_;  // the writer's
  ReaderPool* pool_ = nullptr;     // a reader's
};

// A session of AcquireTogether. Each write transaction is a Together turn on
// the writer (WriterTurns.h): a savepoint in its group's transaction, which
// the last turn of the group commits. What the session runs outside its
// transactions reads on a read connection beside the writer, so a batch that
// finds everything stored takes no turn; a writing statement outside a
// transaction runs in one of its own.
class TogetherSession final : public Session {
 public:
  TogetherSession(SqliteConnection& writer, ReaderPool& readers, WriterTurns& turns)
      : writer_(writer), readers_(readers), turns_(turns) {}

  ~TogetherSession() override {
    if (group_) Rollback();
    if (reader_) {
      if (!sqlite3_get_autocommit(reader_->db())) sqlite3_exec(reader_->db(), "ROLLBACK", nullptr, nullptr, nullptr);
      readers_.Give(*reader_);
    }
  }
  TogetherSession(const TogetherSession&) = delete;
  TogetherSession& operator=(const TogetherSession&) = delete;

  std::vector<Row> QueryWhile(std::string_view sql, std::span<const FieldValue> params,
                              std::span<const FieldType> columns,
                              const std::function<bool(const Row&)>& more) override {
    return QueryOn(group_ ? writer_ : Reader(), sql, params, columns, more);
  }

  std::int64_t Execute(std::string_view sql, std::span<const FieldValue> params) override {
    if (group_) return ExecuteOn(writer_, sql, params);
    SqliteConnection& reader = Reader();
    if (sqlite3_stmt_readonly(StatementUse(reader.Prepare(sql)).get())) return ExecuteOn(reader, sql, params);
    Transaction tx(*this);
    const std::int64_t changed = ExecuteOn(writer_, sql, params);
    tx.Commit();
    return changed;
  }

  void Begin() override {
    if (group_) throw StorageError("nested transactions are not supported");
    if (reader_ && sqlite3_get_autocommit(reader_->db())) readers_.Give(*std::exchange(reader_, nullptr));
    turns_.Enter(WriterTurns::Kind::Together);
    if (!turns_.group()) {
      try {
        BeginWriting(writer_, SqliteConnection::SubJournal::Memory);
      } catch (...) {
        turns_.Leave();
        throw;
      }
      turns_.Opened(std::make_shared<WriterTurns::Group>());
    }
    group_ = turns_.group();
    try {
      writer_.Exec("SAVEPOINT together");
    } catch (...) {
      End(Work::Undone);
      throw;
    }
  }

  // Returns once the group's transaction is committed; throws when it was
  // not (its commit failed, or another work's failure lost it).
  void Commit() override {
    if (!group_) throw StorageError("no transaction to commit");
    try {
      writer_.Exec("RELEASE together");
    } catch (...) {
      Rollback();
      throw;
    }
    End(Work::Kept);
  }

  void Rollback() override {
    if (!group_) return;
    if (!sqlite3_get_autocommit(writer_.db())) {
      sqlite3_exec(writer_.db(), "ROLLBACK TO together", nullptr, nullptr, nullptr);
      sqlite3_exec(writer_.db(), "RELEASE together", nullptr, nullptr, nullptr);
    }
    try {
      End(Work::Undone);
    } catch (...) {  // the group's failure is the others' to report
    }
  }

  Backend Kind() const override { return Backend::Sqlite; }

 private:
  enum class Work { Kept, Undone };

  SqliteConnection& Reader() {
    if (!reader_) reader_ = &readers_.Take();
    return *reader_;
  }

  // Ends the turn once the work's savepoint is released or rolled back:
  // passes the writer on to the next Together turn, the group's transaction
  // open, or ends the transaction. A kept work learns how the group's commit
  // went: its failure is thrown.
  void End(Work work) {
    const std::shared_ptr<WriterTurns::Group> group = std::exchange(group_, nullptr);
    // SQLite rolls the whole transaction back on some failures (a full disk,
    // an I/O error): the works of the group before this one are lost too.
    const bool lost = sqlite3_get_autocommit(writer_.db()) != 0;
    if (!lost && turns_.PassOn()) {
      if (work == Work::Kept) group->Await();
      return;
    }
    std::string failure;
    if (lost) {
      failure = "the write was undone with the transaction it shared with a write that failed; nothing of it "
                "was stored: send it again";
    } else {
      try {
        writer_.Exec("COMMIT");
      } catch (const std::exception& e) {
        failure = e.what();
        if (!sqlite3_get_autocommit(writer_.db())) sqlite3_exec(writer_.db(), "ROLLBACK", nullptr, nullptr, nullptr);
      }
    }
    turns_.Close();
    group->End(failure);
    turns_.Leave();
    if (work == Work::Kept && !failure.empty()) throw StorageError(failure);
  }

  SqliteConnection& writer_;
  ReaderPool& readers_;
  WriterTurns& turns_;
  SqliteConnection* reader_ = nullptr;        // taken for reads outside a transaction
  std::shared_ptr<WriterTurns::Group> group_;  // while a transaction of the session is open
};

class SqliteDatabase final : public Database {
 public:
  SqliteDatabase(const std::string& path, const SqliteOptions& options)
      : path_(path),
        conn_(path, options),
        readers_(path, options, path == ":memory:" ? 0 : ReaderCount()),
        checkpointer_(path == ":memory:"
                          ? nullptr
                          : std::make_unique<WalCheckpointer>(path, conn_.db(), options.wal, options.busy_timeout)) {}

  std::unique_ptr<Session> Acquire() override {
    return std::make_unique<SqliteSession>(conn_, turns_);
  }

  std::unique_ptr<Session> AcquireTogether() override {
    if (readers_.Empty()) return Acquire();
    return std::make_unique<TogetherSession>(conn_, readers_, turns_);
  }

  std::unique_ptr<Session> AcquireReader() override {
    // A private in-memory database has one connection: reads take turns
    // with the writes on it.
    if (readers_.Empty()) return Acquire();
    return std::make_unique<SqliteSession>(readers_.Take(), readers_);
  }

  std::string Describe() const override { return "sqlite:" + path_; }

 private:
  // Read connections beside the writer, one per processor (2 to 8): WAL
  // lets them read the last committed state while a write transaction runs.
  // More would only share the processors with the writer more thinly.
  static std::size_t ReaderCount() {
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 2, 8);
  }

  std::string path_;
  WriterTurns turns_;
  SqliteConnection conn_;  // opened first: it sets WAL and creates the file
  ReaderPool readers_;
  std::unique_ptr<WalCheckpointer> checkpointer_;  // none in memory; destroyed before conn_ closes
};

}  // namespace

std::unique_ptr<Database> OpenSqlite(const std::string& path, SqliteOptions options) {
  return std::make_unique<SqliteDatabase>(path, options);
}

}  // namespace trd::server
