// The record rule's channel on the client's side: the rule's operations as
// look-ups into staging tables and their sends (store/Store.h), for form
// files or for report files.
//
//   step 1  look-up by value (key, value without trailing blanks) into
//           `by_value`; a row means stored already
//   step 3  look-up by key into `by_key`; its first row's STAGRVALPROP
//   step 4  delete of that row (the delete sends itself, RecordRace settling
//           a race with another client)
//   step 5  a row posted into `created` (the post sends itself, likewise); a
//           duplicate key the send leaves standing is KeyTakenError
//   step 6  GetUpdRelDfm into `translated`, then UpdateRelDfm with the first
//           row's STVALORPROP, its result checked
// The look-ups send the number as decimal text. A stored meanwhile text is
// counted in the store's statistics as stored already; the server's answers
// count the rest (Store::stats).
//
// Forms and reports differ in a few arguments and in the busy indicator
// (ChannelStyle); what they show and which texts they decline is theirs
// (subclasses: Accepts, Notice).
#pragma once

#include <string_view>

#include "RecordRule.h"
#include "Store.h"
#include "platform/DateTimeText.h"

namespace trd::store {

struct ChannelStyle {
  // The source text of the translation look-up: the record's value (forms)
  // or the whole text as read (reports; a text longer than kMaxValueLength
  // is not looked up, since no stored source text can equal it).
  enum class TranslationSource { Value, WholeText } translation_source = TranslationSource::Value;
  // UpdateRelDfm's number and time: an integer and a date-time (forms), or
  // decimal text and the time as text in the locale's default format
  // (reports; `dates` gives the format).
  enum class UpdateArguments { Typed, Text } update_arguments = UpdateArguments::Typed;
  const DateTimeText* dates = nullptr;
  // When the busy indicator is turned off: after the look-up by value only
  // (forms), or after both look-ups and when a step of the translation
  // fails (reports).
  enum class BusyOff { AfterValueLookup, AfterLookupsAndFailures } busy_off = BusyOff::AfterValueLookup;
};

class StagingChannel : public RecordChannel {
 public:
  StagingChannel(Store& store, RecordTables tables, ChannelStyle style);

  // The rule for `text` under `key` the way the store's run says
  // (Store::batch, Store::dry_run): over this channel text by text; or
  // gathered into the batch, step 2 decided here (the result then is the
  // server's, later: RecordResult{} is returned); or simulated.
  RecordResult Apply(const RecordKey& key, std::string_view text);
  // Whether step 6 looks a translation of `text` up at all.
  bool LooksUpTranslation(const RecordText& text) const;

  bool HoldsValue(const RecordKey& key, const RecordText& text) override;
  std::optional<std::string> SourceOfKey(const RecordKey& key) override;
  void DeleteRecord(const RecordKey& key) override;
  void InsertRecord(const RecordKey& key, const RecordText& text) override;
  std::optional<std::string> FindTranslation(const RecordKey& key, const RecordText& text) override;
  void StoreTranslation(const RecordKey& key, const std::string& translation) override;
  void Reached(RuleStep step, const RecordText& text) final;

 protected:
  // What the extraction shows at a step (status line, pending events).
  virtual void Notice(RuleStep step, const RecordText& text) {}

 private:
  // `when` for reports, Never for forms (ChannelStyle::BusyOff).
  shared::HideBusy ReportsHide(shared::HideBusy when) const;

  Store& store_;
  RecordTables tables_;
  ChannelStyle style_;
};

}  // namespace trd::store
