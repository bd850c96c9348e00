#include "InsertsTogether.h"

namespace trd::server {

void InsertsTogether::Flush() {
  if (rows_.empty()) return;
  std::vector<Row> rows = std::move(rows_);
  rows_.clear();
  if (s_.InsertNew(table_, columns_, rows) != std::int64_t(rows.size())) throw KeyTakenMeanwhile();
}

std::vector<Row> InsertsTogether::QueryWhile(std::string_view sql, std::span<const FieldValue> params,
                                             std::span<const FieldType> columns,
                                             const std::function<bool(const Row&)>& more) {
  Flush();
  return s_.QueryWhile(sql, params, columns, more);
}

std::int64_t InsertsTogether::Execute(std::string_view sql, std::span<const FieldValue> params) {
  Flush();
  return s_.Execute(sql, params);
}

std::int64_t InsertsTogether::InsertNew(std::string_view table, std::span<const FieldDef> columns,
                                        std::span<const Row> rows) {
  Flush();
  return s_.InsertNew(table, columns, rows);
}

void InsertsTogether::Begin() { throw StorageError("InsertsTogether: a transaction begins on the session beneath"); }
void InsertsTogether::Commit() { throw StorageError("InsertsTogether: a transaction commits on the session beneath"); }
void InsertsTogether::Rollback() {
  throw StorageError("InsertsTogether: a transaction rolls back on the session beneath");
}

}  // namespace trd::server
