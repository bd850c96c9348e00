// The one place every change the server makes to a record of the
// translation table is told to, in the transaction of the change: it appends
// the change to the history (History.h), writes what it means for the
// translation memory (Memory.h), and takes the record's review state away
// when its text, translation or state changed (Review.h). A reviewer's
// approval or send-back goes through it too (Reviewed).
//
// A change is the record before (none when it was created) and after (none
// when it was deleted), both as the ten record fields in record order. The
// memory remembers a translation the change set (the record is "T" after it
// with a source and translation it did not have "T" before), as `by` says:
// Origin::Reuse only when the memory has no entry yet. A translation the
// change took away (a translated record deleted, or given another text or
// translation) is remembered when the memory lacks it, with who unknown and
// Origin::Record: a translation written before the memory existed, or by
// another program, is still kept when a harvest replaces its record.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Attribution.h"
#include "Database.h"
#include "History.h"

namespace trd::server {

// How the history rows of a journal's changes are written: each at once, or
// together (HistoryRows, History.h) by a journal whose changes all fall in
// one transaction, which then calls Flush before it commits.
enum class HistoryWrite { Each, Together };

class Journal {
 public:
  Journal(Session& session, Attribution by, HistoryWrite write = HistoryWrite::Each)
      : s_(session), by_(std::move(by)), write_(write) {}

  // One record changed. `by` may differ per change (a harvest's record that
  // took a translation over is Origin::Reuse); the journal's own otherwise.
  void Changed(const std::optional<Row>& before, const std::optional<Row>& after);
  void Changed(const std::optional<Row>& before, const std::optional<Row>& after, const Attribution& by);

  // A reviewer gave `record` (the ten record fields, as it is) the review
  // `state`: stored, and written to the history with the state it had.
  void Reviewed(const Row& record, std::string_view state);

  // Writes the history rows kept so far (HistoryWrite::Together).
  void Flush();

  const Attribution& By() const { return by_; }

 private:
  Session& s_;
  Attribution by_;
  HistoryWrite write_;
  HistoryRows rows_;
  // The translation remembered last: the records of one text that take one
  // translation at once remember it once.
  std::string last_;
};

}  // namespace trd::server
