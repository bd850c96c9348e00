#include "RecordRule.h"

#include <utility>

#include "platform/Text.h"

namespace trd::store {

RecordText::RecordText(std::string_view read)
    : read(read), value(text::Left(read, protocol::kMaxValueLength)) {}

namespace {

constexpr std::pair<RecordOutcome, std::string_view> kOutcomeNames[] = {
    {RecordOutcome::StoredAlready, "stored_already"}, {RecordOutcome::StoredMeanwhile, "stored_meanwhile"},
    {RecordOutcome::Skipped, "skipped"},              {RecordOutcome::Created, "created"},
    {RecordOutcome::Replaced, "replaced"},
};

}  // namespace

std::string_view OutcomeName(RecordOutcome outcome) {
  for (const auto& [o, name] : kOutcomeNames)
    if (o == outcome) return name;
  return {};
}

std::optional<RecordOutcome> OutcomeNamed(std::string_view name) {
  for (const auto& [o, n] : kOutcomeNames)
    if (n == name) return o;
  return std::nullopt;
}

Storable StorableText(std::string_view value) {
  return value.find('\0') == std::string_view::npos ? Storable::Yes : Storable::No;
}

RecordResult ApplyRecordRule(RecordChannel& channel, const RecordKey& key, std::string_view text) {
  const RecordText t(text);
  if (StorableText(t.value) == Storable::No) {
    channel.Reached(RuleStep::Skipped, t);
    return {RecordOutcome::Skipped};
  }
  if (channel.HoldsValue(key, t)) {
    channel.Reached(RuleStep::StoredAlready, t);
    return {RecordOutcome::StoredAlready};
  }
  if (!channel.Accepts(key, t)) {
    channel.Reached(RuleStep::Skipped, t);
    return {RecordOutcome::Skipped};
  }

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
