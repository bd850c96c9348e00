// The record rule's channel on the client's side: the rule's operations for
// one found text as look-ups into staging tables and their sends
// (store/Store.h), on the form files' tables or the report files'.
//
//   step 1  look-up by value (key, value without trailing blanks) into
//           `by_value`; a row means stored already
//   step 2  the scanner's verdict (FoundText::declined)
//   step 3  look-up by key into `by_key`; its first row's STAGRVALPROP
//   step 4  delete of that row, sent at once (SendDeleted: RecordRace
//           settling a race with another client)
//   step 5  a row posted into `created`, sent at once (SendCreated,
//           likewise); a key_taken refusal the send leaves standing is
//           KeyTakenError
//   step 6  when the text asks for it (FoundText::look_up), GetUpdRelDfm of
//           the value into `translated`, then UpdateRelDfm with the first
//           row's STVALORPROP, its result checked
// The look-ups send the number as decimal text. A stored meanwhile text is
// counted in the store's statistics as stored already, a declined one as
// skipped; the server's answers count the rest (Store::stats). The steps
// that end the rule or come before an insert are told to the scanner's
// watcher.
//
// Forms and reports (FoundText::source) differ in a few arguments and in the
// busy indicator:
//   - UpdateRelDfm's number and time: an integer and a date-time (forms), or
//     decimal text and the time as text in the locale's default format
//     (reports, `dates`);
//   - the busy indicator goes off after the look-up by value only (forms),
//     or after both look-ups and when a step of the translation fails
//     (reports).
#pragma once

#include <optional>
#include <string>

#include "RecordRule.h"
#include "Store.h"
#include "platform/DateTimeText.h"
#include "protocol/FoundText.h"

namespace trd::store {

class StagingChannel final : public RecordChannel {
 public:
  // The references must outlive the channel.
  StagingChannel(Store& store, const DateTimeText& dates, const protocol::FoundText& text,
                 protocol::TextWatcher& watcher);

  bool HoldsValue(const RecordKey& key, const RecordText& text) override;
  bool Accepts(const RecordKey& key, const RecordText& text) override;
  std::optional<std::string> SourceOfKey(const RecordKey& key) override;
  void DeleteRecord(const RecordKey& key) override;
  void InsertRecord(const RecordKey& key, const RecordText& text) override;
  std::optional<std::string> FindTranslation(const RecordKey& key, const RecordText& text) override;
  void StoreTranslation(const RecordKey& key, const std::string& translation) override;
  void Reached(RuleStep step, const RecordText& text) override;

 private:
  // `when` for reports, Never for forms.
  shared::HideBusy ReportsHide(shared::HideBusy when) const;

  Store& store_;
  const DateTimeText& dates_;
  const protocol::FoundText& text_;
  protocol::TextWatcher& watcher_;
  RecordTables tables_;
};

}  // namespace trd::store
