#include "RecordRule.h"

#include "platform/Text.h"

namespace trd::store {

RecordText::RecordText(std::string_view read)
    : read(read), value(text::Left(read, protocol::kMaxValueLength)) {}

RecordResult ApplyRecordRule(RecordChannel& channel, const RecordKey& key, std::string_view text) {
  const RecordText t(text);
  if (channel.HoldsValue(key, t)) {
    channel.Reached(RuleStep::StoredAlready, t);
    return {RecordOutcome::StoredAlready};
  }
  if (!channel.Accepts(key, t)) return {RecordOutcome::Skipped};

  bool replaced = false;
  for (int tries = 1;; ++tries) {
    const std::optional<std::string> held = channel.SourceOfKey(key);
    if (held && text::TrimTrailingBlanks(*held) == text::TrimTrailingBlanks(t.value)) {
      channel.Reached(RuleStep::StoredMeanwhile, t);
      return {RecordOutcome::StoredMeanwhile};
    }
    if (held) {
      channel.DeleteRecord(key);
      replaced = true;
    }
    channel.Reached(RuleStep::Creating, t);
    try {
      channel.InsertRecord(key, t);
      break;
    } catch (const KeyTakenError&) {
      if (tries == kRuleTries) throw;
    }
  }
  RecordResult result{replaced ? RecordOutcome::Replaced : RecordOutcome::Created};
  if (std::optional<std::string> translation = channel.FindTranslation(key, t)) {
    channel.StoreTranslation(key, *translation);
    result.translation = TranslationReuse::Reused;
  }
  return result;
}

}  // namespace trd::store
