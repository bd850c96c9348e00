#include "DryRun.h"

#include "StagingChannel.h"
#include "Store.h"
#include "platform/Text.h"

namespace trd::store {

class SimulatedChannel final : public RecordChannel {
 public:
  SimulatedChannel(DryRun& run, StagingChannel& staging) : run_(run), staging_(staging) {}

  bool HoldsValue(const RecordKey& key, const RecordText& text) override {
    const auto* held = Held(key);
    if (!held) return staging_.HoldsValue(key, text);  // counted from the answer
    RunStats& stats = run_.store_.stats;
    ++stats.texts_seen;
    const bool holds = held->has_value() && text::TrimTrailingBlanks(**held) == text::TrimTrailingBlanks(text.value);
    if (holds) ++stats.already_stored;
    return holds;
  }
  bool Accepts(const RecordKey& key, const RecordText& text) override { return staging_.Accepts(key, text); }
  std::optional<std::string> SourceOfKey(const RecordKey& key) override {
    const auto* held = Held(key);
    before = held ? *held : staging_.SourceOfKey(key);
    return before;
  }
  void DeleteRecord(const RecordKey& key) override {
    run_.keys_[key] = std::nullopt;
    ++run_.store_.stats.replaced;
  }
  void InsertRecord(const RecordKey& key, const RecordText& text) override {
    run_.keys_[key] = text.value;
    ++run_.store_.stats.created;
  }
  std::optional<std::string> FindTranslation(const RecordKey& key, const RecordText& text) override {
    return staging_.FindTranslation(key, text);
  }
  void StoreTranslation(const RecordKey&, const std::string& t) override {
    translation = t;
    ++run_.store_.stats.translations_reused;
  }
  void Reached(RuleStep step, const RecordText& text) override { staging_.Reached(step, text); }

  std::optional<std::string> before;
  std::optional<std::string> translation;

 private:
  const std::optional<std::string>* Held(const RecordKey& key) const {
    auto it = run_.keys_.find(key);
    return it == run_.keys_.end() ? nullptr : &it->second;
  }

  DryRun& run_;
  StagingChannel& staging_;
};

DryRun::DryRun(Store& store, Observer observer) : store_(store), observer_(std::move(observer)) {}

RecordResult DryRun::Apply(StagingChannel& staging, const RecordKey& key, std::string_view text) {
  SimulatedChannel channel(*this, staging);
  const RecordResult result = ApplyRecordRule(channel, key, text);
  if (observer_) {
    const RecordText t(text);
    observer_(DryRunNote{key, t.value, result, channel.before, channel.translation});
  }
  return result;
}

}  // namespace trd::store
