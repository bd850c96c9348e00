#include "Database.h"

#include "PostgresDatabase.h"
#include "SqliteDatabase.h"

namespace trd::server {

Transaction::Transaction(Session& session) : session_(session) { session_.Begin(); }

Transaction::~Transaction() {
  if (!open_) return;
  try {
    session_.Rollback();
  } catch (...) {
  }
}

void Transaction::Commit() {
  session_.Commit();
  open_ = false;
}

std::string Session::InsertInto(std::string_view table, std::span<const FieldDef> columns,
                                std::span<const Row> rows) {
  for (const Row& row : rows)
    if (row.size() != columns.size())
      throw StorageError("a row of " + std::to_string(row.size()) + " values for " + std::to_string(columns.size()) +
                         " columns of " + std::string(table));
  std::string sql = "INSERT INTO " + std::string(table) + " (";
  for (std::size_t i = 0; i < columns.size(); ++i) sql += (i ? ", " : "") + columns[i].name;
  return sql + ")";
}

std::int64_t Session::InsertNew(std::string_view table, std::span<const FieldDef> columns,
                                std::span<const Row> rows) {
  std::string sql = InsertInto(table, columns, rows) + " VALUES (";
  for (std::size_t i = 0; i < columns.size(); ++i) sql += i ? ", ?" : "?";
  sql += ") ON CONFLICT DO NOTHING";
  std::int64_t inserted = 0;
  for (const Row& row : rows) inserted += Execute(sql, row);
  return inserted;
}

std::unique_ptr<Database> OpenDatabase(std::string_view url) {
  if (url.empty()) throw StorageError("no database given");
  if (url == ":memory:") return OpenSqlite(":memory:");
  if (url.starts_with("sqlite:")) {
    std::string_view path = url.substr(7);
    if (path.starts_with("//")) path.remove_prefix(2);  // sqlite://PATH
    if (path.empty()) throw StorageError("no path in database URL \"" + std::string(url) + "\"");
    return OpenSqlite(std::string(path));
  }
  if (url.starts_with("postgresql://") || url.starts_with("postgres://")) return OpenPostgres(std::string(url));
  // A scheme other than these is a backend this build does not have. A
  // single letter before ':' is not a scheme.
  if (auto colon = url.find(':'); colon != std::string_view::npos && colon > 1 &&
                                  url.substr(0, colon).find('/') == std::string_view::npos)
    throw StorageError("unsupported database \"" + std::string(url) +
                       "\": use a file path, sqlite:PATH, :memory: or postgresql://...");
  return OpenSqlite(std::string(url));
}

}  // namespace trd::server
