// A harvest that shows what it would change and changes nothing: the record
// rule runs over a channel that asks the server only its look-ups (by value,
// by key, translations) and keeps the deletes, inserts and translation
// stores it would have sent in memory, so that later texts of the run (a key
// that gets several texts in one form) see them as the real run would.
//
// The counters (Store::stats) come out as the real run's: the look-ups sent
// are counted from their answers as ever, what the memory answers and what
// would have been sent are counted here.
//
// Known limit: a record the run would replace while it held the latest
// translation of its source text is still found by the translation look-up
// (the server answers the text, not the record), so a later text of that
// source may be told "translation reused" where the real run finds an older
// translation or none.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "RecordRule.h"

namespace trd::store {

class Store;
class StagingChannel;

// What a real run would do with one text.
struct DryRunNote {
  const RecordKey& key;
  std::string_view text;                   // as the record would hold it
  RecordResult result;
  const std::optional<std::string>& held;  // the key's text before (replaced), if looked up
  const std::optional<std::string>& translation;  // the translation reused, if any
};

class DryRun {
 public:
  using Observer = std::function<void(const DryRunNote&)>;
  DryRun(Store& store, Observer observer);

  // The rule for `text` under `key`, over `staging` for its look-ups and
  // decisions (declined texts, translation look-up) but writing nothing.
  RecordResult Apply(StagingChannel& staging, const RecordKey& key, std::string_view text);

 private:
  friend class SimulatedChannel;
  Store& store_;
  Observer observer_;
  // The keys the run has changed: the source text a key would hold, or
  // nullopt when it would hold no record.
  std::map<RecordKey, std::optional<std::string>> keys_;
};

}  // namespace trd::store
