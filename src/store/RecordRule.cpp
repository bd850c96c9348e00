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
  if (!channel.Accepts(key, t)) {
    channel.Reached(RuleStep::Skipped, t);
    return {RecordOutcome::Skipped};
  }

  const std::optional<std::string> held = channel.SourceOfKey(key);
  if (held && text::TrimTrailingBlanks(*held) == text::TrimTrailingBlanks(t.value)) {
    channel.Reached(RuleStep::StoredMeanwhile, t);
    return {RecordOutcome::StoredMeanwhile};
  }
  if (held) channel.DeleteRecord(key);

  channel.Reached(RuleStep::Creating, t);
  channel.InsertRecord(key, t);
  RecordResult result{held ? RecordOutcome::Replaced : RecordOutcome::Created};
  if (std::optional<std::string> translation = channel.FindTranslation(key, t)) {
    channel.StoreTranslation(key, *translation);
    result.translation = TranslationReuse::Reused;
  }
  return result;
}

}  // namespace trd::store
