// The record rule over a scripted channel: which operations each outcome
// takes, in which order, and with which text. A server-side channel and a
// dry run rely on exactly this sequence.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "store/RecordRule.h"

namespace trd::store {
namespace {

// Answers from a script and writes down every call as "Op(text)".
class ScriptedChannel final : public RecordChannel {
 public:
  bool holds_value = false;
  bool accepts = true;
  std::optional<std::string> source_of_key;
  std::optional<std::string> translation;
  std::vector<std::string> calls;
  // Races: the next `taken` inserts find the key taken, after which the key
  // holds `held_by_other`.
  int taken = 0;
  std::optional<std::string> held_by_other;

  bool HoldsValue(const RecordKey&, const RecordText& t) override {
    Note("HoldsValue", t.value);
    return holds_value;
  }
  bool Accepts(const RecordKey&, const RecordText& t) override {
    Note("Accepts", t.read);
    return accepts;
  }
  std::optional<std::string> SourceOfKey(const RecordKey&) override {
    Note("SourceOfKey");
    return source_of_key;
  }
  void DeleteRecord(const RecordKey&) override { Note("DeleteRecord"); }
  void InsertRecord(const RecordKey&, const RecordText& t) override {
    Note("InsertRecord", t.value);
    if (taken == 0) return;
    --taken;
    source_of_key = held_by_other;
    throw KeyTakenError("duplicate key");
  }
  std::optional<std::string> FindTranslation(const RecordKey&, const RecordText& t) override {
    Note("FindTranslation", t.read);
    return translation;
  }
  void StoreTranslation(const RecordKey&, const std::string& s) override { Note("StoreTranslation", s); }
  void Reached(RuleStep step, const RecordText&) override {
    Note(step == RuleStep::StoredAlready ? "Reached:StoredAlready"
         : step == RuleStep::StoredMeanwhile ? "Reached:StoredMeanwhile"
                                             : "Reached:Creating");
  }

 private:
  void Note(std::string op, std::string_view text = {}) {
    calls.push_back(text.empty() ? op : op + "(" + std::string(text) + ")");
  }
};

const RecordKey kKey{"CADASTRO", "FRMCAD", "BTNOK", "Caption", 0, "POR"};

TEST(RecordRule, EachOutcomeTakesItsStepsInOrder) {
  struct Case {
    const char* name;
    bool holds_value, accepts;
    std::optional<std::string> source_of_key, translation;
    RecordResult result;
    std::vector<std::string> calls;
  };
  const std::vector<Case> cases = {
      {"stored already", true, true, std::nullopt, std::nullopt, {RecordOutcome::StoredAlready},
       {"HoldsValue(Gravar)", "Reached:StoredAlready"}},
      {"declined", false, false, std::nullopt, std::nullopt, {RecordOutcome::Skipped},
       {"HoldsValue(Gravar)", "Accepts(Gravar)"}},
      {"stored meanwhile, trailing blanks aside", false, true, "Gravar  ", std::nullopt,
       {RecordOutcome::StoredMeanwhile},
       {"HoldsValue(Gravar)", "Accepts(Gravar)", "SourceOfKey", "Reached:StoredMeanwhile"}},
      {"new key", false, true, std::nullopt, std::nullopt, {RecordOutcome::Created},
       {"HoldsValue(Gravar)", "Accepts(Gravar)", "SourceOfKey", "Reached:Creating", "InsertRecord(Gravar)",
        "FindTranslation(Gravar)"}},
      {"another text under the key, translation reused", false, true, "Salvar", "Save",
       {RecordOutcome::Replaced, TranslationReuse::Reused},
       {"HoldsValue(Gravar)", "Accepts(Gravar)", "SourceOfKey", "DeleteRecord", "Reached:Creating",
        "InsertRecord(Gravar)", "FindTranslation(Gravar)", "StoreTranslation(Save)"}},
  };
  for (const Case& c : cases) {
    ScriptedChannel channel;
    channel.holds_value = c.holds_value;
    channel.accepts = c.accepts;
    channel.source_of_key = c.source_of_key;
    channel.translation = c.translation;
    EXPECT_EQ(ApplyRecordRule(channel, kKey, "Gravar"), c.result) << c.name;
    EXPECT_EQ(channel.calls, c.calls) << c.name;
  }
}

TEST(RecordRule, ALongTextIsStoredCutAndReadWhole) {
  const std::string text = std::string(3999, 'a') + "\xC3\xA7" + "bb";  // 4002 characters
  const std::string cut = std::string(3999, 'a') + "\xC3\xA7";
  ScriptedChannel channel;
  channel.source_of_key = cut + " ";  // the record of the key holds the cut text: stored meanwhile
  EXPECT_EQ(ApplyRecordRule(channel, kKey, text).outcome, RecordOutcome::StoredMeanwhile);
  EXPECT_EQ(channel.calls.front(), "HoldsValue(" + cut + ")");
  EXPECT_EQ(channel.calls[1], "Accepts(" + text + ")");
}

TEST(RecordRule, AKeyTakenMeanwhileIsLookedAtAgain) {
  {  // another run stored the same text: stored meanwhile, nothing overruled
    ScriptedChannel channel;
    channel.taken = 1;
    channel.held_by_other = "Gravar";
    EXPECT_EQ(ApplyRecordRule(channel, kKey, "Gravar"), RecordResult{RecordOutcome::StoredMeanwhile});
    EXPECT_EQ(channel.calls, (std::vector<std::string>{"HoldsValue(Gravar)", "Accepts(Gravar)", "SourceOfKey",
                                                       "Reached:Creating", "InsertRecord(Gravar)", "SourceOfKey",
                                                       "Reached:StoredMeanwhile"}));
  }
  {  // another run stored another text: replaced, and counted so
    ScriptedChannel channel;
    channel.taken = 1;
    channel.held_by_other = "Salvar";
    EXPECT_EQ(ApplyRecordRule(channel, kKey, "Gravar"), RecordResult{RecordOutcome::Replaced});
    EXPECT_EQ(channel.calls, (std::vector<std::string>{"HoldsValue(Gravar)", "Accepts(Gravar)", "SourceOfKey",
                                                       "Reached:Creating", "InsertRecord(Gravar)", "SourceOfKey",
                                                       "DeleteRecord", "Reached:Creating", "InsertRecord(Gravar)",
                                                       "FindTranslation(Gravar)"}));
  }
  {  // a key that is always taken again ends the rule after kRuleTries inserts
    ScriptedChannel channel;
    channel.taken = kRuleTries;
    EXPECT_THROW(ApplyRecordRule(channel, kKey, "Gravar"), KeyTakenError);
    EXPECT_EQ(std::count(channel.calls.begin(), channel.calls.end(), "InsertRecord(Gravar)"), kRuleTries);
  }
}

}  // namespace
}  // namespace trd::store
