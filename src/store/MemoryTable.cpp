#include "MemoryTable.h"

#include <utility>

#include "RecordRule.h"
#include "platform/Text.h"

namespace trd::store {
namespace {

// Refuses a key whose texts do not fit their columns, as the server does.
void CheckKeyWidths(const RecordKey& k) {
  const std::pair<protocol::RecordField, const std::string*> parts[] = {
      {protocol::kCdPrograma, &k.program},     {protocol::kNmFormulario, &k.form},
      {protocol::kNmComponente, &k.component}, {protocol::kNmPropriedade, &k.property},
      {protocol::kIdIdioma, &k.language}};
  for (const auto& [field, text] : parts) {
    const FieldDef& def = protocol::RecordFields()[std::size_t(field)];
    const std::size_t length = text::Length(*text);
    if (length > std::size_t(def.size))
      throw WidthError("the text's key: a text of " + std::to_string(length) + " characters does not fit " +
                       def.name + " (" + std::to_string(def.size) + " characters); it is refused, not cut");
  }
}

}  // namespace

// The rule's operations on the table in memory.
class MemoryChannel final : public RecordChannel {
 public:
  MemoryChannel(MemoryTable& table, const protocol::FoundText& text, protocol::TextWatcher& watcher)
      : table_(table), text_(text), watcher_(watcher) {}

  bool HoldsValue(const RecordKey& key, const RecordText& text) override {
    const std::string* held = Source(key);
    return held && text::TrimTrailingBlanks(*held) == text::TrimTrailingBlanks(text.value);
  }
  bool Accepts(const RecordKey&, const RecordText&) override { return text_.declined == protocol::Declined::No; }
  std::optional<std::string> SourceOfKey(const RecordKey& key) override {
    const std::string* held = Source(key);
    return held ? std::optional<std::string>(*held) : std::nullopt;
  }
  void DeleteRecord(const RecordKey& key) override {
    auto it = table_.by_key_.find(key);
    if (it == table_.by_key_.end()) return;
    table_.rows_.erase(it->second);
    table_.by_key_.erase(it);
  }
  void InsertRecord(const RecordKey& key, const RecordText& text) override {
    table_.rows_.push_back({key.program, key.form, key.component, key.property, key.number,
                            std::string(protocol::kStateNew), text.value, text.value, DateTime::Now(), key.language});
    table_.by_key_[key] = std::prev(table_.rows_.end());
  }
  std::optional<std::string> FindTranslation(const RecordKey&, const RecordText&) override { return std::nullopt; }
  void StoreTranslation(const RecordKey&, const std::string&) override {}
  void Reached(RuleStep step, const RecordText&) override { watcher_.Reached(step); }

 private:
  const std::string* Source(const RecordKey& key) const {
    auto it = table_.by_key_.find(key);
    if (it == table_.by_key_.end()) return nullptr;
    return &std::get<std::string>((*it->second)[protocol::kStAgrValProp]);
  }

  MemoryTable& table_;
  const protocol::FoundText& text_;
  protocol::TextWatcher& watcher_;
};

void MemoryTable::Take(const protocol::FoundText& text, protocol::TextWatcher& watcher) {
  CheckKeyWidths(text.key);
  MemoryChannel channel(*this, text, watcher);
  ApplyRecordRule(channel, text.key, text.text);
}

}  // namespace trd::store
