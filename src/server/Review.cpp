#include "Review.h"

#include "Schema.h"
#include "protocol/Exchange.h"

namespace trd::server {
namespace {

using namespace protocol;

// The key fields, then the review state fields.
const TableDef& ReviewTable() {
  static const TableDef t = [] {
    TableDef d{std::string(kReviewTable), {}, {}, {}};
    for (RecordField k : KeyFields()) {
      d.key.push_back(int(d.fields.size()));
      d.fields.push_back(RecordFields()[std::size_t(k)]);
    }
    const int state = int(d.fields.size());
    d.fields.insert(d.fields.end(), ReviewStateFields().begin(), ReviewStateFields().end());
    d.required = {state, state + 2};  // the state and its time
    return d;
  }();
  return t;
}

std::vector<FieldValue> KeyOf(const Row& record) {
  std::vector<FieldValue> key;
  for (RecordField k : KeyFields()) key.push_back(record[std::size_t(k)]);
  return key;
}

const std::string& KeyColumns() {
  static const std::string s = ColumnList(KeyFields());
  return s;
}

FieldValue Removed(Session& s, const Row& record) {
  static const std::string sql = "DELETE FROM " + ReviewTable().name + " WHERE " + ReviewTable().KeyCondition() +
                                 " RETURNING " + ReviewStateFields()[0].name;
  static const FieldType types[] = {FieldType::String};
  const std::vector<Row> rows = s.Query(sql, KeyOf(record), types);
  return rows.empty() ? FieldValue{} : rows[0][0];
}

}  // namespace

void EnsureReviews(Session& s) { s.Execute(CreateStatement(ReviewTable())); }

FieldValue ClearReview(Session& s, const Row& record) { return Removed(s, record); }

FieldValue SetReview(Session& s, const Row& record, std::string_view state, const Attribution& by) {
  static const std::string insert = [] {
    std::string marks;
    for (std::size_t i = 0; i < ReviewTable().fields.size(); ++i) marks += i ? ", ?" : "?";
    return "INSERT INTO " + ReviewTable().name + " (" + ColumnList(ReviewTable().fields) + ") VALUES (" + marks + ")";
  }();
  FieldValue before = Removed(s, record);
  std::vector<FieldValue> values = KeyOf(record);
  values.emplace_back(std::string(state));
  values.push_back(by.user.empty() ? FieldValue{} : FieldValue{by.user});
  values.emplace_back(by.when);
  s.Execute(insert, values);
  return before;
}

const std::string& ReviewJoin() {
  static const std::string s = " LEFT JOIN " + ReviewTable().name + " USING (" + KeyColumns() + ")";
  return s;
}

const std::string& ReviewColumns() {
  static const std::string s = ColumnList(ReviewStateFields());
  return s;
}

}  // namespace trd::server
