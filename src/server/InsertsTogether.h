// A session that holds back the rows of one table's inserts and sends them
// together (Session::InsertNew) right before the next statement of any kind
// runs, or on Flush: a batch's new records then cost one round trip between
// two reads instead of one each, and every statement still sees every insert
// told before it.
//
// Insert takes for granted that the row's key is free: its caller has read
// that no record holds it, and goes on as if the insert succeeded. When the
// rows sent find a key taken all the same (a writer outside the transaction's
// lock took it meanwhile), the flush raises KeyTakenMeanwhile, before any
// later statement runs: the caller rolls its transaction back and runs it
// again with an insert at a time, whose row count answers key by key.
//
// Transactions are the underlying session's: Begin, Commit and Rollback are
// not passed through here (a flush is due before Commit).
#pragma once

#include <exception>
#include <string>
#include <vector>

#include "Database.h"

namespace trd::server {

class KeyTakenMeanwhile : public std::exception {
 public:
  const char* what() const noexcept override { return "a key taken meanwhile: the transaction is run again"; }
};

class InsertsTogether final : public Session {
 public:
  InsertsTogether(Session& session, std::string table, std::vector<FieldDef> columns)
      : s_(session), table_(std::move(table)), columns_(std::move(columns)) {}

  // Holds `row` (a value per column) for the next flush.
  void Insert(Row row) { rows_.push_back(std::move(row)); }
  // Sends the rows held; raises KeyTakenMeanwhile unless every one went in.
  void Flush();

  std::vector<Row> QueryWhile(std::string_view sql, std::span<const FieldValue> params,
                              std::span<const FieldType> columns,
                              const std::function<bool(const Row&)>& more) override;
  std::int64_t Execute(std::string_view sql, std::span<const FieldValue> params) override;
  std::int64_t InsertNew(std::string_view table, std::span<const FieldDef> columns,
                         std::span<const Row> rows) override;
  void Begin() override;
  void Commit() override;
  void Rollback() override;
  void Grew(std::string_view table, std::int64_t rows) override { s_.Grew(table, rows); }
  Backend Kind() const override { return s_.Kind(); }

 private:
  Session& s_;
  std::string table_;
  std::vector<FieldDef> columns_;
  std::vector<Row> rows_;
};

}  // namespace trd::server
