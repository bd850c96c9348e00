// The history of the translation table, TRDHISTORICO: one row per change of
// a record's text, translation or state, appended in the transaction of the
// change (Journal.h) and never changed or deleted after.
//
//   NRHISTORICO       row number, in the order of the changes (SQLite
//                     INTEGER PRIMARY KEY, PostgreSQL an identity column)
//   CDPROGRAMA .. IDIDIOMA   the record's key (the translation table's six
//                     key fields, same names and widths)
//   STAGRVALPROPANT   the source text before; null when the change created
//                     the record
//   STAGRVALPROP      the source text after; null when it deleted the record
//   STVALORPROPANT, STVALORPROP        the translation before and after
//   IDSITTRADUCAOANT, IDSITTRADUCAO    the state before and after
//   NMUSUARIO         who (50); null when unknown (the server's own token)
//   DTALTERACAO       when
//   IDORIGEM          how (OriginCode, Attribution.h)
//   IDSITREVISAOANT, IDSITREVISAO      the review state before and after
//                     (Review.h; null: unreviewed). A reviewer's approval
//                     or send-back is a row whose text, translation and
//                     state stay as they were; a change of the record that
//                     took an approval away holds it before, null after.
//
// A look-up by key reads an index by the key and the row number. A look-up
// by text finds the records that ever held the text: those the translation
// table holds with it now (its own text index) and those a row tells the
// text left (the text changed, or the record was deleted; an index by
// language and text before, on PostgreSQL its MD5 digest, over those rows
// only), and reads their changes by key. A record's creation, a new
// translation or state thus add no entry by text: a harvest that creates
// many records writes its rows at the end of the table and of the key index.
// A record another program changed the text of or deleted, outside the
// server, is found only while a row tells it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Attribution.h"
#include "Database.h"
#include "protocol/Record.h"

namespace trd::server {

// Creates TRDHISTORICO and its indexes when missing (in EnsureSchema's
// transaction).
void EnsureHistory(Session& s);

// The review state of a record before and after a change (Review.h): null
// for unreviewed.
struct ReviewChange {
  FieldValue before, after;
};

// Whether a change alters the record's text, translation or state (or
// creates or deletes it): what the history tells, and what takes the
// record's review state away.
bool ChangesRecord(const std::optional<Row>& before, const std::optional<Row>& after);

// Appends the change of one record: `before` none when created, `after` none
// when deleted; both the ten record fields in record order. A change that
// leaves text, translation, state and review state as they were writes
// nothing.
void RecordChange(Session& s, const std::optional<Row>& before, const std::optional<Row>& after,
                  const Attribution& by, const ReviewChange& review = {});

// RecordChange for many changes of one transaction: the rows are kept and
// inserted kRows to a statement (at kRows, and on Flush, which the
// transaction calls before it commits), so that they cost a statement per
// kRows changes and not one each; on PostgreSQL, where a statement is a
// round trip, all of them in one statement on Flush (Session::InsertNew).
// The rows are inserted in the order told, and take their numbers in that
// order, as RecordChange one by one would.
class HistoryRows {
 public:
  static constexpr std::size_t kRows = 50;
  void Add(Session& s, const std::optional<Row>& before, const std::optional<Row>& after, const Attribution& by,
           const ReviewChange& review = {});
  void Flush(Session& s);

 private:
  std::vector<FieldValue> values_;  // the rows' values, one row after the other
  std::size_t rows_ = 0;
};

// The fields of a history packet (GetHistorico), in order: the six key
// fields, then the text, translation and state before and after, who, when,
// how, the review state before and after.
const std::vector<FieldDef>& HistoryFields();

// A page of changes: those numbered after `after` (0: from the first),
// oldest first, at most protocol::kHistoryPageRows and ended at
// protocol::kMaxPageBytes like a page of records (protocol::IsLastPage
// tells the last). Each row carries HistoryFields() and then NRHISTORICO,
// the change's number, which the next page starts after. `after` null: every
// change in one packet of HistoryFields() alone, as servers answered before
// there were pages.
using HistoryCursor = std::optional<double>;

// The changes of the record of `key`.
Packet HistoryOfKey(Session& s, const protocol::RecordKey& key, HistoryCursor after = {});
// The changes of the records of `language` that held `source` before or after
// the change.
Packet HistoryOfText(Session& s, std::string_view language, std::string_view source, HistoryCursor after = {});

// The changes each user made: `user` empty for the changes of no known user
// (the server's own token).
struct UserActivity {
  std::string user;
  std::int64_t changes = 0;
};
// The changes from `since` on, per user, the most active first (then by
// name).
std::vector<UserActivity> ActivitySince(Session& s, const DateTime& since);

}  // namespace trd::server
