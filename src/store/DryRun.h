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
// The translation look-up asks the server, which answers from the records
// of the text and, when none is translated, from its translation memory. A
// record the run would replace is still among those records, where the real
// run finds its translation in the memory instead: the reuse is predicted
// right either way. Known limit: when another record holds the text with an
// older translation, the real run takes that one, the dry run the replaced
// record's; the note names the translation the dry run found.
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
