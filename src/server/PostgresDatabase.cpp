#include "PostgresDatabase.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace trd::server {
namespace {

// Writers take this advisory lock for their transaction; the number only has
// to be the same for every server sharing the database ("TRD" in ASCII).
// Sent with the BEGIN as one query string, so that a write transaction costs
// one round trip to start: the explicit BEGIN keeps the transaction open
// after the string's last statement, and a lock that fails leaves it failed,
// to be rolled back like any other.
constexpr const char* kBeginWriting = "BEGIN; SELECT pg_advisory_xact_lock(5526084)";

struct ResultFree {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

std::string Trimmed(const char* s) {
  std::string m = s ? s : "";
  while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
  return m;
}

// "?" placeholders become "$1", "$2", ...; text in single quotes, double
// quotes or comments is left as it is. Returns the placeholder count in `n`.
std::string ToPositional(std::string_view sql, int& n) {
  std::string out;
  out.reserve(sql.size() + 16);
  n = 0;
  char quote = 0;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    char c = sql[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '?') {
      out += '$' + std::to_string(++n);
      continue;
    }
    out += c;
  }
  return out;
}

// PostgreSQL writes "YYYY-MM-DD HH:MM:SS" with up to six fraction digits
// (none when zero); DateTime keeps milliseconds.
std::optional<DateTime> ParseTimestamp(std::string_view s) {
  if (s.size() <= 19) return DateTime::FromIso(s);
  if (s[19] != '.') return std::nullopt;
  std::string iso(s.substr(0, 20));
  std::string_view frac = s.substr(20);
  for (std::size_t i = 0; i < 3; ++i) iso += i < frac.size() ? frac[i] : '0';
  for (char c : frac)
    if (c < '0' || c > '9') return std::nullopt;
  return DateTime::FromIso(iso);
}

std::string NumberText(double d) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", d);
  return buf;
}

// A column of `rows` as a PostgreSQL array literal ("{"a","b",NULL}"):
// every element quoted, '"' and '\' escaped with a backslash; numbers and
// date-times written as a parameter of their type would be.
std::string ArrayOf(std::span<const Row> rows, std::size_t column) {
  std::string out = "{";
  for (const Row& row : rows) {
    if (out.size() > 1) out += ',';
    const FieldValue& v = row[column];
    if (std::holds_alternative<std::monostate>(v)) {
      out += "NULL";
      continue;
    }
    out += '"';
    if (const auto* s = std::get_if<std::string>(&v)) {
      for (char c : *s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
      }
    } else if (const auto* d = std::get_if<double>(&v)) {
      out += NumberText(*d);
    } else {
      out += std::get<DateTime>(v).ToIso();
    }
    out += '"';
  }
  return out + "}";
}

const char* ArrayType(FieldType type) {
  switch (type) {
    case FieldType::Float: return "DOUBLE PRECISION[]";
    case FieldType::DateTime: return "TIMESTAMP[]";
    case FieldType::String: break;
  }
  return "VARCHAR[]";
}

class PgConnection {
 public:
  PgConnection(const std::string& url, const PostgresOptions& options) {
    // The URL comes last so that what it sets wins over these defaults.
    const std::string timeout = std::to_string(options.connect_timeout.count());
    const char* keys[] = {"connect_timeout", "client_encoding", "application_name", "dbname", nullptr};
    const char* values[] = {timeout.c_str(), "UTF8", "trd serve", url.c_str(), nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    if (!conn_) throw StorageError("cannot connect to the PostgreSQL database " + RedactPassword(url) + ": out of memory");
    if (PQstatus(conn_) != CONNECTION_OK) {
      std::string msg = Trimmed(PQerrorMessage(conn_));
      PQfinish(conn_);
      throw StorageError("cannot connect to the PostgreSQL database " + RedactPassword(url) + ": " + msg);
    }
    // CREATE ... IF NOT EXISTS answers with notices; they are not failures.
    PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
    try {
      Exec("SET datestyle TO ISO");
    } catch (...) {
      PQfinish(conn_);
      throw;
    }
  }
  ~PgConnection() { PQfinish(conn_); }
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  bool Broken() const { return PQstatus(conn_) != CONNECTION_OK; }

  // Whether an idle connection is still usable. The server sends nothing
  // unasked to an idle connection except when it ends it (a restart, an
  // administrator's terminate: a FATAL message, then end of file), so an
  // idle socket with anything to read is given up.
  bool StillUsable() {
    if (Broken()) return false;
    pollfd p{PQsocket(conn_), POLLIN, 0};
    return poll(&p, 1, 0) == 0;
  }
  bool InTransaction() const { return PQtransactionStatus(conn_) != PQTRANS_IDLE; }

  // Runs SQL without parameters (transaction control, settings).
  Result Exec(const char* sql) {
    Result r(PQexec(conn_, sql));
    Check(r.get(), sql);
    return r;
  }

  Result Run(std::string_view sql, std::span<const FieldValue> params) {
    Values v = Bind(sql, params);
    Result r(PQexecPrepared(conn_, v.statement, int(params.size()), v.values.data(), nullptr, nullptr, 0));
    Check(r.get(), sql);
    return r;
  }

  // Runs a query whose rows arrive one by one (libpq's single-row mode):
  // `take` gets each row's one-row result until it answers false; the rest
  // is read and dropped, so that only one row is held at a time. Raises the
  // query's failure once the connection is ready again.
  void RunRows(std::string_view sql, std::span<const FieldValue> params, const std::function<bool(PGresult*)>& take) {
    Values v = Bind(sql, params);
    if (!PQsendQueryPrepared(conn_, v.statement, int(params.size()), v.values.data(), nullptr, nullptr, 0))
      Check(nullptr, sql);
    PQsetSingleRowMode(conn_);
    bool wanted = true;
    std::exception_ptr failed;
    while (PGresult* raw = PQgetResult(conn_)) {
      Result r(raw);
      const ExecStatusType status = PQresultStatus(raw);
      if (status == PGRES_SINGLE_TUPLE) {
        if (wanted && !failed) {
          try {
            wanted = take(raw);
          } catch (...) {
            failed = std::current_exception();
          }
        }
        continue;
      }
      if (status == PGRES_TUPLES_OK || failed) continue;
      try {
        Check(raw, sql);
      } catch (...) {
        failed = std::current_exception();
      }
    }
    if (Broken() && !failed) Check(nullptr, sql);
    if (failed) std::rethrow_exception(failed);
  }

 private:
  // A statement's parameters as libpq takes them (text format); `texts`
  // holds what `values` points to.
  struct Values {
    const char* statement = nullptr;
    std::vector<std::string> texts;
    std::vector<const char*> values;
  };

  Values Bind(std::string_view sql, std::span<const FieldValue> params) {
    const Statement& st = Prepare(sql);
    if (std::size_t(st.params) != params.size())
      throw StorageError("statement expects " + std::to_string(st.params) + " parameters, got " +
                         std::to_string(params.size()));
    Values out;
    out.statement = st.name.c_str();
    out.texts.resize(params.size());
    out.values.assign(params.size(), nullptr);
    for (std::size_t i = 0; i < params.size(); ++i) {
      const FieldValue& v = params[i];
      if (std::holds_alternative<std::monostate>(v)) continue;
      if (const auto* s = std::get_if<std::string>(&v)) {
        // A NUL cannot travel in text format, nor be stored in a text column.
        if (s->find('\0') != std::string::npos)
          throw StorageError("parameter " + std::to_string(i + 1) + " holds a NUL character");
        out.values[i] = s->c_str();
        continue;
      }
      if (const auto* d = std::get_if<double>(&v))
        out.texts[i] = NumberText(*d);
      else
        out.texts[i] = std::get<DateTime>(v).ToIso();
    }
    // Pointed to once the texts no longer move.
    for (std::size_t i = 0; i < params.size(); ++i)
      if (!out.texts[i].empty()) out.values[i] = out.texts[i].c_str();
    return out;
  }

  struct Statement {
    std::string name;
    int params = 0;
  };

  const Statement& Prepare(std::string_view sql) {
    if (auto it = statements_.find(std::string(sql)); it != statements_.end()) return it->second;
    Statement st;
    std::string text = ToPositional(sql, st.params);
    st.name = "trd" + std::to_string(statements_.size());
    Result r(PQprepare(conn_, st.name.c_str(), text.c_str(), 0, nullptr));
    Check(r.get(), sql);
    return statements_.emplace(std::string(sql), std::move(st)).first->second;
  }

  void Check(PGresult* r, std::string_view sql) {
    ExecStatusType status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return;
    if (Broken())
      throw StorageError("the connection to the PostgreSQL database was lost: " + Trimmed(PQerrorMessage(conn_)));
    std::string msg = "PostgreSQL: " + Trimmed(r ? PQresultErrorMessage(r) : PQerrorMessage(conn_));
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    if (state && std::string_view(state) == "23505") throw DuplicateKeyError(msg);
    throw StorageError(msg + " (in \"" + std::string(sql) + "\")");
  }

  PGconn* conn_ = nullptr;
  std::unordered_map<std::string, Statement> statements_;
};

// When a table's statistics are due (Session::Grew): the rows added since
// they were last taken, against the table's size then. Thread-safe; one
// session at a time takes a table's statistics.
class StatisticsDue {
 public:
  // Below this size a table is read whole by any plan; statistics matter
  // once it has grown past it.
  static constexpr double kFirstRows = 1000;

  bool Known(const std::string& table) {
    std::lock_guard lock(mutex_);
    return tables_.contains(table);
  }
  // The table's size as its statistics last saw it (pg_class.reltuples; 0
  // when never taken), learnt once per table.
  void Learn(const std::string& table, double rows) {
    std::lock_guard lock(mutex_);
    tables_.try_emplace(table, Growth{rows > 0 ? rows : 0});
  }
  // Counts `rows` added; true when the caller is to take the statistics now,
  // and then calls Done.
  bool Add(const std::string& table, double rows) {
    std::lock_guard lock(mutex_);
    Growth& g = tables_[table];
    g.added += rows;
    if (g.taking || g.added < std::max(kFirstRows, g.analyzed)) return false;
    g.taking = true;
    g.claimed = g.added;
    return true;
  }
  // The statistics taken (or not: `taken` false counts the rows again later).
  void Done(const std::string& table, bool taken) {
    std::lock_guard lock(mutex_);
    Growth& g = tables_[table];
    g.taking = false;
    if (!taken) return;
    g.analyzed += g.claimed;
    g.added -= g.claimed;
  }

 private:
  struct Growth {
    double analyzed = 0;  // rows when the statistics were last taken
    double added = 0;     // since then
    double claimed = 0;   // of `added`, what the statistics being taken cover
    bool taking = false;
  };
  std::mutex mutex_;
  std::unordered_map<std::string, Growth> tables_;
};

class PostgresDatabase;

class PgSession final : public Session {
 public:
  PgSession(PostgresDatabase& db, std::unique_ptr<PgConnection> conn) : db_(db), conn_(std::move(conn)) {}
  ~PgSession() override;

  std::vector<Row> QueryWhile(std::string_view sql, std::span<const FieldValue> params,
                              std::span<const FieldType> columns,
                              const std::function<bool(const Row&)>& more) override {
    if (more) {
      std::vector<Row> rows;
      conn_->RunRows(sql, params, [&](PGresult* r) {
        CheckColumns(r, columns);
        Row row;
        row.reserve(columns.size());
        for (std::size_t c = 0; c < columns.size(); ++c) row.push_back(Column(r, 0, int(c), columns[c]));
        rows.push_back(std::move(row));
        return more(rows.back());
      });
      return rows;
    }
    Result r = conn_->Run(sql, params);
    CheckColumns(r.get(), columns);
    const int n = PQntuples(r.get());
    std::vector<Row> rows;
    rows.reserve(std::size_t(n));
    for (int i = 0; i < n; ++i) {
      Row row;
      row.reserve(columns.size());
      for (std::size_t c = 0; c < columns.size(); ++c) row.push_back(Column(r.get(), i, int(c), columns[c]));
      rows.push_back(std::move(row));
    }
    return rows;
  }

  std::int64_t Execute(std::string_view sql, std::span<const FieldValue> params) override {
    Result r = conn_->Run(sql, params);
    const char* n = PQcmdTuples(r.get());
    return n && *n ? std::strtoll(n, nullptr, 10) : 0;
  }

  // One statement for all the rows, whatever their number: each column an
  // array parameter, unnested in step ("INSERT ... SELECT * FROM
  // unnest($1, $2, ...)"), so one prepared statement serves every call.
  std::int64_t InsertNew(std::string_view table, std::span<const FieldDef> columns,
                         std::span<const Row> rows) override {
    if (rows.empty()) return 0;
    std::string sql = InsertInto(table, columns, rows) + " SELECT * FROM unnest(";
    std::vector<FieldValue> arrays;
    arrays.reserve(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
      sql += std::string(i ? ", " : "") + "CAST(? AS " + ArrayType(columns[i].type) + ")";
      arrays.emplace_back(ArrayOf(rows, i));
    }
    sql += ") ON CONFLICT DO NOTHING";
    return Execute(sql, arrays);
  }

  void Begin() override {
    conn_->Exec(kBeginWriting);
  }
  void Commit() override {
    Result r = conn_->Exec("COMMIT");
    // COMMIT of a transaction that already failed succeeds as a rollback.
    if (std::string_view(PQcmdStatus(r.get())) == "ROLLBACK")
      throw StorageError("the transaction failed earlier and was rolled back");
  }
  void Rollback() override {
    if (conn_->InTransaction()) conn_->Exec("ROLLBACK");
  }
  Backend Kind() const override { return Backend::Postgres; }

  void Grew(std::string_view table, std::int64_t rows) override;

 private:
  static void CheckColumns(PGresult* r, std::span<const FieldType> columns) {
    if (std::size_t(PQnfields(r)) != columns.size())
      throw StorageError("statement returns " + std::to_string(PQnfields(r)) + " columns, the caller expects " +
                         std::to_string(columns.size()));
  }

  static FieldValue Column(PGresult* r, int row, int col, FieldType type) {
    if (PQgetisnull(r, row, col)) return std::monostate{};
    const char* p = PQgetvalue(r, row, col);
    std::string_view s(p, std::size_t(PQgetlength(r, row, col)));
    switch (type) {
      case FieldType::Float: return std::strtod(p, nullptr);
      case FieldType::String: return std::string(s);
      case FieldType::DateTime:
        if (auto dt = ParseTimestamp(s)) return *dt;
        throw StorageError("stored date-time \"" + std::string(s) + "\" is not a timestamp");
    }
    return std::monostate{};
  }

  PostgresDatabase& db_;
  std::unique_ptr<PgConnection> conn_;
};

class PostgresDatabase final : public Database {
 public:
  PostgresDatabase(std::string url, PostgresOptions options) : url_(std::move(url)), options_(options) {
    if (options_.connections < 1) options_.connections = 1;
    idle_.push_back(std::make_unique<PgConnection>(url_, options_));
    open_ = 1;
  }

  std::unique_ptr<Session> Acquire() override {
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return !idle_.empty() || open_ < options_.connections; });
    while (!idle_.empty()) {
      auto conn = std::move(idle_.back());
      idle_.pop_back();
      if (conn->StillUsable()) return std::make_unique<PgSession>(*this, std::move(conn));
      --open_;  // closed by the server meanwhile: dropped, and replaced below
    }
    ++open_;
    lock.unlock();
    try {
      return std::make_unique<PgSession>(*this, std::make_unique<PgConnection>(url_, options_));
    } catch (...) {
      lock.lock();
      --open_;
      freed_.notify_one();
      throw;
    }
  }

  void Release(std::unique_ptr<PgConnection> conn) {
    std::lock_guard lock(mutex_);
    if (conn->Broken())
      --open_;  // closed as it goes; the next Acquire connects afresh
    else
      idle_.push_back(std::move(conn));
    freed_.notify_one();
  }

  std::string Describe() const override { return RedactPassword(url_); }

  StatisticsDue& Statistics() { return statistics_; }

 private:
  StatisticsDue statistics_;
  std::string url_;
  PostgresOptions options_;
  std::mutex mutex_;
  std::condition_variable freed_;
  std::vector<std::unique_ptr<PgConnection>> idle_;
  int open_ = 0;
};

void PgSession::Grew(std::string_view table, std::int64_t rows) {
  if (rows <= 0) return;
  StatisticsDue& due = db_.Statistics();
  const std::string name(table);
  bool claimed = false;
  try {
    if (!due.Known(name)) {
      static const std::string size = "SELECT reltuples FROM pg_class WHERE oid = to_regclass(CAST(? AS TEXT))";
      const FieldValue params[] = {name};
      const FieldType number[] = {FieldType::Float};
      const std::vector<Row> found = Query(size, params, number);
      const auto* rows_then = found.empty() ? nullptr : std::get_if<double>(&found.front()[0]);
      due.Learn(name, rows_then ? *rows_then : 0);
    }
    claimed = due.Add(name, double(rows));
    if (!claimed) return;
    // The name is one of the server's own tables (Schema.h), never a caller's
    // text: an identifier cannot be a bound parameter.
    conn_->Exec(("ANALYZE " + name).c_str());
    due.Done(name, true);
  } catch (...) {
    if (claimed) due.Done(name, false);
  }
}

PgSession::~PgSession() {
  // A session given back inside a transaction leaves nothing behind.
  try {
    if (!conn_->Broken() && conn_->InTransaction()) conn_->Exec("ROLLBACK");
  } catch (...) {
  }
  db_.Release(std::move(conn_));
}

}  // namespace

std::string RedactPassword(std::string_view url) {
  std::string s(url);
  if (auto scheme = s.find("://"); scheme != std::string::npos) {
    std::size_t start = scheme + 3;
    std::size_t end = s.find_first_of("/?", start);
    if (end == std::string::npos) end = s.size();
    std::size_t at = s.rfind('@', end);
    if (at != std::string::npos && at >= start) {
      std::size_t colon = s.find(':', start);
      if (colon != std::string::npos && colon < at) s.replace(colon + 1, at - colon - 1, "***");
    }
  }
  // password=... as a query parameter or a keyword=value pair.
  for (std::size_t p = s.find("password="); p != std::string::npos; p = s.find("password=", p + 1)) {
    std::size_t v = p + 9;
    std::size_t end = s.find_first_of("& ", v);
    if (end == std::string::npos) end = s.size();
    s.replace(v, end - v, "***");
  }
  return s;
}

std::unique_ptr<Database> OpenPostgres(const std::string& url, PostgresOptions options) {
  return std::make_unique<PostgresDatabase>(url, options);
}

}  // namespace trd::server
