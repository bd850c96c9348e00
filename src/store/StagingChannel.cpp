#include "StagingChannel.h"

#include <cstdint>

#include "Record.h"
#include "protocol/Methods.h"
#include "shared/Services.h"

namespace trd::store {
namespace {

using protocol::TextSource;

std::string NumberText(const RecordKey& key) { return std::to_string(std::int64_t(key.number)); }

}  // namespace

StagingChannel::StagingChannel(Store& store, const DateTimeText& dates, const protocol::FoundText& text,
                               protocol::TextWatcher& watcher)
    : store_(store),
      dates_(dates),
      text_(text),
      watcher_(watcher),
      tables_(text.source == TextSource::Report ? store.ReportRecords() : store.FormRecords()) {}

shared::HideBusy StagingChannel::ReportsHide(shared::HideBusy when) const {
  return text_.source == TextSource::Report ? when : shared::HideBusy::Never;
}

bool StagingChannel::HoldsValue(const RecordKey& key, const RecordText& text) {
  {
    shared::BusyGuard busy_off(store_.Services());
    Lookup(store_.Services(), tables_.by_value, tables_.records, tables_.by_value_method,
           {key.program, key.form, key.component, key.property, NumberText(key), shared::RTrim(text.value),
            key.language});
  }
  return !tables_.by_value.IsEmpty();
}

bool StagingChannel::Accepts(const RecordKey&, const RecordText&) {
  return text_.declined == protocol::Declined::No;
}

std::optional<std::string> StagingChannel::SourceOfKey(const RecordKey& key) {
  {
    shared::BusyGuard busy_off(store_.Services(), ReportsHide(shared::HideBusy::Always));
    Lookup(store_.Services(), tables_.by_key, tables_.records, tables_.by_key_method,
           {key.program, key.form, key.component, key.property, NumberText(key), key.language});
  }
  if (tables_.by_key.IsEmpty()) return std::nullopt;
  return tables_.by_key.AsString(protocol::FieldName(protocol::kStAgrValProp));
}

void StagingChannel::DeleteRecord(const RecordKey&) {
  tables_.by_key.Delete();
  store_.SendDeleted(tables_);
}

void StagingChannel::InsertRecord(const RecordKey& key, const RecordText& text) {
  // The send settles what it can (RecordRace); a key_taken refusal left
  // standing means the key holds another text now: the result check raises
  // it as KeyTakenError, and the rule looks at the key again.
  PostNewRecord(tables_.created, key, text.value);
  store_.SendCreated(tables_);
}

std::optional<std::string> StagingChannel::FindTranslation(const RecordKey& key, const RecordText& text) {
  // A text that had to be cut is longer than any stored source text: its
  // scanner asks for no look-up (a report's), or for one of the value
  // (a form's).
  if (text_.look_up == protocol::TranslationLookUp::No) return std::nullopt;
  shared::BusyGuard busy_off(store_.Services(), ReportsHide(shared::HideBusy::OnFailure));
  Lookup(store_.Services(), tables_.translated, tables_.translations, protocol::kGetUpdRelDfm,
         {text.value, key.language});
  if (tables_.translated.IsEmpty()) return std::nullopt;
  return tables_.translated.AsString(protocol::FieldName(protocol::kStValorProp));
}

void StagingChannel::StoreTranslation(const RecordKey& key, const std::string& translation) {
  shared::BusyGuard busy_off(store_.Services(), ReportsHide(shared::HideBusy::OnFailure));
  const bool typed = text_.source == TextSource::Form;
  Value number = typed ? Value(std::int64_t(key.number)) : Value(NumberText(key));
  Value now = typed ? Value(DateTime::Now()) : Value(DateTimeToText(DateTime::Now(), dates_));
  Value result = tables_.translations.Call(
      protocol::kUpdateRelDfm, {key.program, key.form, key.component, key.property, std::move(number),
                                key.language, translation, std::string(protocol::kStateTranslated), std::move(now)});
  store_.Services().CheckResultServ(result, true, 0);
}

void StagingChannel::Reached(RuleStep step, const RecordText& text) {
  if (step == RuleStep::StoredMeanwhile) ++store_.stats.already_stored;  // stored by another client
  if (step == RuleStep::Skipped) {
    ++store_.stats.skipped;
    // Seen without the look-up that counts the others (step 0).
    if (StorableText(text.value) == Storable::No) ++store_.stats.texts_seen;
  }
  watcher_.Reached(step);
}

}  // namespace trd::store
