// The thirteen methods' semantics, through Service::Handle on an in-memory
// database.
#include <thread>

#include <nlohmann/json.hpp>

#include "Fixture.h"
#include "platform/Connection.h"

namespace trd::server::testing {
namespace {

using Methods = ServiceTest;

TEST_P(Methods, LanguagesAreSeededWithTheirCodeAsPropertyCode) {
  Packet p = Lookup(kDfm, "GetIdiLeDfm");
  EXPECT_EQ(p.fields, (std::vector<FieldDef>{{"IDIDIOMA", FieldType::String, 3},
                                             {"DSIDIOMA", FieldType::String, 30},
                                             {"IDIPROP", FieldType::String, 3}}));
  EXPECT_EQ(p.rows, (std::vector<Row>{{std::string("ENG"), std::string("English"), std::string("ENG")},
                                      {std::string("ESP"), std::string("Español"), std::string("ESP")},
                                      {std::string("POR"), std::string("Português"), std::string("POR")}}));
}

TEST_P(Methods, VersionRecordIsEmptyThenSetInsertedAndModified) {
  Packet p = Lookup(kDfm, "GetVersao");
  EXPECT_EQ(p.fields, (std::vector<FieldDef>{{"DTGERARQTRAD", FieldType::DateTime, 0}}));
  EXPECT_TRUE(p.rows.empty());

  const std::vector<FieldDef> fields = VersionTable().fields;
  DateTime d1 = DateTime::FromParts(2024, 5, 1), d2 = DateTime::FromParts(2024, 6, 2);
  Apply("SetVersao", ChangeSet{fields, {Change{ChangeKind::Insert, {}, {d1}}}});
  EXPECT_EQ(Lookup(kDfm, "GetVersao").rows, (std::vector<Row>{{d1}}));

  Apply("SetVersao", ChangeSet{fields, {Change{ChangeKind::Modify, {d1}, {d2}}}});
  EXPECT_EQ(Lookup(kDfm, "GetVersao").rows, (std::vector<Row>{{d2}}));

  // The table holds one row whatever the client thought it held.
  Apply("SetVersao", ChangeSet{fields, {Change{ChangeKind::Insert, {}, {d1}}}});
  EXPECT_EQ(Lookup(kDfm, "GetVersao").rows, (std::vector<Row>{{d1}}));
}

TEST_P(Methods, InsertedRecordIsFoundByKeyWhateverTheNumbersSpelling) {
  Rec r;
  r.value = "Gravar";
  Apply("SetPropried", Changes({Insert(r)}));

  Packet p = ByKey(r);
  EXPECT_EQ(p.fields, TranslationTable().fields);
  ASSERT_EQ(p.rows.size(), 1u);
  EXPECT_EQ(p.rows[0], r.ToRow());

  for (Value number : {Value(std::string("0")), Value(std::string("0.0")), Value(std::string(" 0 ")),
                       Value(std::int64_t(0)), Value(0.0)}) {
    Packet q = Lookup(kDfm, "GetVerProp", {r.program, r.form, r.component, r.property, number, r.language});
    EXPECT_EQ(q.rows.size(), 1u) << wire::ToJson(number).dump();
  }

  Rec other_language = r, other_number = r, other_case = r;
  other_language.language = "ENG";
  other_number.number = 1;
  other_case.property = "caption";
  EXPECT_TRUE(ByKey(other_language).rows.empty());
  EXPECT_TRUE(ByKey(other_number).rows.empty());
  EXPECT_TRUE(ByKey(other_case).rows.empty());
}

TEST_P(Methods, LookupByValueIgnoresTrailingBlanksOnly) {
  Rec r;
  r.value = r.source = "Olá, mundo  ";
  Apply("SetPropried", Changes({Insert(r)}));

  Packet hit = ByValue(r, "Olá, mundo");
  ASSERT_EQ(hit.rows.size(), 1u);
  EXPECT_EQ(std::get<std::string>(hit.rows[0][kStAgrValProp]), "Olá, mundo  ");  // stored as sent
  EXPECT_EQ(ByValue(r, "Olá, mundo ").rows.size(), 1u);

  EXPECT_TRUE(ByValue(r, " Olá, mundo").rows.empty());
  EXPECT_TRUE(ByValue(r, "Olá, Mundo").rows.empty());
  EXPECT_TRUE(ByValue(r, "Olá,\tmundo").rows.empty());
  Rec other_key = r;
  other_key.component = "BTNFECHAR";
  EXPECT_TRUE(ByValue(other_key, "Olá, mundo").rows.empty());
  // A value longer than the column cannot be stored, so it matches nothing.
  EXPECT_TRUE(ByValue(r, std::string(4001, 'x')).rows.empty());
}

TEST_P(Methods, TranslationLookupReturnsTheNewestTranslatedRowOfTheLanguage) {
  auto rec = [](std::string component, std::string state, std::string source, std::string value,
                std::string language, int day) {
    Rec r;
    r.component = std::move(component);
    r.state = std::move(state);
    r.source = std::move(source);
    r.value = std::move(value);
    r.language = std::move(language);
    r.when = DateTime::FromParts(2024, 1, day, 12);
    return r;
  };
  Apply("SetPropried", Changes({
                           Insert(rec("A", "T", "Salvar", "Save (old)", "ENG", 1)),
                           Insert(rec("B", "T", "Salvar", "Save (new)", "ENG", 9)),
                           Insert(rec("C", "T", "Salvar", "Save (mid)", "ENG", 5)),
                           Insert(rec("D", "N", "Salvar", "Salvar", "ENG", 20)),         // not translated
                           Insert(rec("E", "T", "Salvar", "Guardar", "ESP", 20)),        // other language
                           Insert(rec("F", "T", "Salvar ", "Save (blank)", "ENG", 20)),  // other text
                       }));

  Packet p = Lookup(kUpd, "GetUpdRelDfm", {std::string("Salvar"), std::string("ENG")});
  EXPECT_EQ(p.fields, (std::vector<FieldDef>{{"STAGRVALPROP", FieldType::String, 4000},
                                             {"STVALORPROP", FieldType::String, 4000}}));
  std::vector<std::string> values;
  for (const auto& row : p.rows) values.push_back(std::get<std::string>(row[1]));
  EXPECT_EQ(values, (std::vector<std::string>{"Save (new)"}));  // the one row the client reads

  // Reports hand over the whole text, which may exceed what a record holds.
  Packet none = Lookup(kUpd, "GetUpdRelDfm", {std::string(5000, 'S'), std::string("ENG")});
  EXPECT_TRUE(none.rows.empty());
}

TEST_P(Methods, StoreTranslationAcceptsEveryNumberAndTimeSpelling) {
  Rec r;
  r.language = "ENG";
  Apply("SetPropried", Changes({Insert(r)}));

  struct Case {
    Value number;
    Value time;
    DateTime expected;
  };
  const Case cases[] = {
      {std::int64_t(0), DateTime::FromParts(2024, 7, 3, 8, 9, 10), DateTime::FromParts(2024, 7, 3, 8, 9, 10)},
      {0.0, std::string("03/07/2024 18:30:05"), DateTime::FromParts(2024, 7, 3, 18, 30, 5)},
      {std::string("0"), std::string("4/7/2024"), DateTime::FromParts(2024, 7, 4)},
      {std::string("0,0"), std::string("2024-07-05T01:02:03"), DateTime::FromParts(2024, 7, 5, 1, 2, 3)},
  };
  int n = 0;
  for (const auto& c : cases) {
    std::string translation = "Save " + std::to_string(++n);
    Value v = Call(kUpd, "UpdateRelDfm",
                   {r.program, r.form, r.component, r.property, c.number, r.language, translation,
                    std::string("T"), c.time});
    ASSERT_TRUE(std::holds_alternative<std::monostate>(v)) << FailureOf(v);
    Packet p = ByKey(r);
    ASSERT_EQ(p.rows.size(), 1u);
    EXPECT_EQ(std::get<std::string>(p.rows[0][kStValorProp]), translation);
    EXPECT_EQ(std::get<std::string>(p.rows[0][kIdSitTraducao]), "T");
    EXPECT_EQ(std::get<DateTime>(p.rows[0][kDtUltAtuTrad]), c.expected);
    EXPECT_EQ(std::get<std::string>(p.rows[0][kStAgrValProp]), r.source);  // source untouched
  }
  // Now translated, the record serves the translation look-up.
  EXPECT_EQ(Lookup(kUpd, "GetUpdRelDfm", {r.source, r.language}).rows.size(), 1u);

  Rec missing = r;
  missing.component = "NOPE";
  std::string msg = Failure(kUpd, "UpdateRelDfm",
                            {missing.program, missing.form, missing.component, missing.property,
                             std::int64_t(0), missing.language, std::string("x"), std::string("T"),
                             DateTime::Now()});
  EXPECT_NE(msg.find("no record of key"), std::string::npos) << msg;
  EXPECT_NE(msg.find("'NOPE'"), std::string::npos) << msg;
}

TEST_P(Methods, DeleteAndModifyActOnTheRowOfTheOldKey) {
  Rec a, b;
  b.component = "BTNFECHAR";
  Apply("SetPropried", Changes({Insert(a), Insert(b)}));

  Apply("SetVerProp", Changes({Delete(a)}));
  EXPECT_TRUE(ByKey(a).rows.empty());
  EXPECT_EQ(ByKey(b).rows.size(), 1u);

  // A modification may change key fields: the row moves to the new key.
  Rec moved = b;
  moved.number = 3;
  moved.value = "Fechar";
  Apply("SetVerProp", Changes({Modify(b, moved)}));
  EXPECT_TRUE(ByKey(b).rows.empty());
  ASSERT_EQ(ByKey(moved).rows.size(), 1u);
  EXPECT_EQ(ByKey(moved).rows[0], moved.ToRow());
}

TEST_P(Methods, ReportModuleWorksOnTheSameTable) {
  Rec r;
  r.form = "QrDesign";
  r.component = "QRLabel1";  // report element names keep their case
  Apply("SetPropriedRel", Changes({Insert(r)}), kRel);

  std::vector<Value> key{r.program, r.form, r.component, r.property, std::string("0"), r.language};
  EXPECT_EQ(Lookup(kRel, "GetVerPropRel", key).rows.size(), 1u);
  EXPECT_EQ(ByKey(r).rows.size(), 1u);
  std::vector<Value> by_value{r.program, r.form, r.component, r.property, std::string("0"), r.source, r.language};
  EXPECT_EQ(Lookup(kRel, "GetPropriedRel", by_value).rows.size(), 1u);

  Apply("SetVerPropRel", Changes({Delete(r)}), kRel);
  EXPECT_TRUE(Lookup(kRel, "GetVerPropRel", key).rows.empty());
}

TEST_P(Methods, WidthsCountCharactersNotBytes) {
  Rec r;
  r.program = std::string();
  for (int i = 0; i < 20; ++i) r.program += "Ç";  // 20 characters, 40 bytes
  r.language = "ÊÑÇ";
  const FieldValue listed[] = {r.language, std::string("Três letras"), r.language};  // records need a listed one
  service->Storage().Acquire()->Execute("INSERT INTO TRDIDIOMA (IDIDIOMA, DSIDIOMA, IDIPROP) VALUES (?, ?, ?)", listed);
  Apply("SetPropried", Changes({Insert(r)}));
  EXPECT_EQ(ByKey(r).rows.size(), 1u);

  r.program += "Ç";
  std::string msg = FailureOf(Call(kDfm, "SetPropried", {Changes({Insert(r)})}));
  EXPECT_NE(msg.find("21 characters"), std::string::npos) << msg;

  // A source text of the full 4000 characters (8000 bytes, more than any
  // B-tree entry holds) is stored, indexed and found by its translation.
  Rec big;
  big.source = big.value = std::string();
  for (int i = 0; i < 4000; ++i) big.source += "ã";
  big.value = "traduzido";
  big.state = "T";
  Apply("SetPropried", Changes({Insert(big)}));
  Packet found = Lookup(kUpd, "GetUpdRelDfm", {big.source, big.language});
  ASSERT_EQ(found.rows.size(), 1u);
  EXPECT_EQ(found.rows[0][1], FieldValue(std::string("traduzido")));
}

TEST_P(Methods, InProcessConnectionRunsTheServerCode) {
  Connection conn("NetTradRelDfm", std::string(kDfm), InProcessTransports(service->Handler()));
  Value v = conn.Call("GetIdiLeDfm", {});
  ASSERT_TRUE(std::holds_alternative<Packet>(v));
  EXPECT_EQ(std::get<Packet>(v).rows.size(), 3u);
}

TEST_P(Methods, ConcurrentRequestsAreSerializedOnTheStorage) {
  constexpr int kThreads = 4, kEach = 50;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        Rec r;
        r.component = "C" + std::to_string(t);
        r.number = i;
        if (!std::holds_alternative<std::monostate>(Call(kDfm, "SetPropried", {Changes({Insert(r)})})) ||
            ByKey(r).rows.size() != 1)
          ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace

INSTANTIATE_BACKENDS(Methods);

}  // namespace trd::server::testing
