// The history on both backends: every change of a record's text, translation
// or state, by whom and how, in the transaction of the change (a change set
// refused halfway leaves none), found by key and by source text.
#include "Fixture.h"
#include "protocol/Exchange.h"
#include "protocol/RecordBatch.h"
#include "server/History.h"

namespace trd::server::testing {
namespace {

class History : public ServiceTest {
 protected:
  Value CallAs(const Caller& caller, std::string_view module, std::string_view method, std::vector<Value> args) {
    return wire::DecodeResponse(
        service->Handle(wire::EncodeRequest({std::string(module), std::string(method), std::move(args)}), caller));
  }
  Packet Told(std::vector<Value> args) {
    Value v = Call(protocol::kModuleExchange, protocol::kGetHistorico, std::move(args));
    if (const auto* f = std::get_if<ServerFailure>(&v)) ADD_FAILURE() << f->message;
    const auto* p = std::get_if<Packet>(&v);
    return p ? *p : Packet{};
  }
  Packet OfKey(const Rec& r) {
    return Told({r.language, std::monostate{}, r.program, r.form, r.component, r.property, r.number});
  }
  Packet OfText(const std::string& source) {
    return Told({std::string("POR"), source, std::monostate{}, std::monostate{}, std::monostate{},
                    std::monostate{}, std::monostate{}});
  }
  // "who how state-before>state translation-before>translation" per change.
  static std::vector<std::string> Lines(const Packet& p) {
    auto text = [](const FieldValue& v) {
      const auto* s = std::get_if<std::string>(&v);
      return s ? *s : std::string("-");
    };
    std::vector<std::string> out;
    for (const Row& r : p.rows)
      out.push_back(text(r[12]) + " " + text(r[14]) + " " + text(r[10]) + ">" + text(r[11]) + " " + text(r[8]) + ">" +
                    text(r[9]));
    return out;
  }
};

TEST_P(History, EveryChangeOfARecordIsToldWithWhoAndHowInItsTransaction) {
  Rec r;
  const Value batch = CallAs(Caller{"eva", Role::Harvester}, kDfm, protocol::kSetPropriedArq,
                             {r.language, Packet{protocol::BatchRecordFields(),
                                                 {{r.program, r.form, r.component, r.property, r.number, r.source,
                                                   std::string("S"), std::string("S")}}}});
  ASSERT_TRUE(std::holds_alternative<Packet>(batch)) << FailureOf(batch);
  const Value set = CallAs(Caller{"ana", Role::Translator}, protocol::kModuleExchange, protocol::kSetTraducoes,
                           {std::string("POR"),
                            Packet{protocol::TranslationChangeFields(),
                                   {{std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{},
                                     std::monostate{}, r.source, std::string("Gravar")}}},
                            std::string("apply")});
  ASSERT_TRUE(std::holds_alternative<Packet>(set)) << FailureOf(set);
  ASSERT_TRUE(std::holds_alternative<std::monostate>(
      Call(kUpd, protocol::kUpdateRelDfm,
           {r.program, r.form, r.component, r.property, std::int64_t(0), r.language, std::string("Guardar"),
            std::string("T"), DateTime::Now()})));
  // The same translation again changes nothing and tells nothing.
  ASSERT_TRUE(std::holds_alternative<std::monostate>(
      Call(kUpd, protocol::kUpdateRelDfm,
           {r.program, r.form, r.component, r.property, std::int64_t(0), r.language, std::string("Guardar"),
            std::string("T"), DateTime::Now()})));

  // A change set refused at its second change leaves neither the first
  // change nor its history.
  Rec other = r, stored = r;
  other.component = "BTNOUTRO";
  stored.state = "T";
  stored.value = "Guardar";
  EXPECT_FALSE(FailureOf(Call(kDfm, "SetPropried", {Changes({Insert(other), Insert(r)})})).empty());
  EXPECT_TRUE(OfKey(other).rows.empty());
  Apply("SetVerProp", Changes({Delete(stored)}));

  EXPECT_EQ(Lines(OfKey(r)), (std::vector<std::string>{"eva colheita ->N ->Salvar", "ana importacao N>T Salvar>Gravar",
                                                       "- chamada T>T Gravar>Guardar", "- colheita T>- Guardar>-"}));
  EXPECT_EQ(Lines(OfText("Salvar")), Lines(OfKey(r)));
  EXPECT_TRUE(OfText("Gravar").rows.empty()) << "a translation is no source text";

  // A record whose text a harvest changed is found by the text it left and
  // by the text it holds.
  Rec moved = r;
  moved.component = "BTNFECHAR";
  for (const char* text : {"Fechar", "Sair"}) {
    const Value v = CallAs(Caller{"eva", Role::Harvester}, kDfm, protocol::kSetPropriedArq,
                           {r.language, Packet{protocol::BatchRecordFields(),
                                               {{moved.program, moved.form, moved.component, moved.property,
                                                 moved.number, std::string(text), std::string("S"), std::string("S")}}}});
    ASSERT_TRUE(std::holds_alternative<Packet>(v)) << FailureOf(v);
  }
  ASSERT_EQ(OfKey(moved).rows.size(), 2u);
  EXPECT_EQ(Lines(OfText("Fechar")), Lines(OfKey(moved)));
  EXPECT_EQ(OfText("Sair").rows.size(), 1u);
}

// A long history comes in pages bounded in bytes, followed by the change
// numbers to the end; a caller that sends no cursor gets it all at once.
TEST_P(History, ALongHistoryIsPagedInBytesAndFollowedToTheEnd) {
  Rec r;
  const int changes = 300;
  {
    auto session = service->Storage().Acquire();
    Row before = r.ToRow();
    for (int i = 0; i < changes; ++i) {
      Row after = before;
      after[kStValorProp] = std::to_string(1000 + i) + std::string(4000 - 4, 'x');
      RecordChange(*session, before, after, Attribution{"ana", Origin::Call, r.when});
      before = std::move(after);
    }
  }
  std::vector<Value> args{r.language, std::monostate{}, r.program, r.form, r.component, r.property, r.number};
  EXPECT_EQ(Told(args).rows.size(), std::size_t(changes));

  args.emplace_back(0.0);
  std::vector<std::string> got;
  for (int guard = 0; guard < 10; ++guard) {
    const Packet p = Told(args);
    ASSERT_EQ(p.fields.size(), HistoryFields().size() + 1);
    ASSERT_LT(p.rows.size(), 140u) << "some 8,000 bytes a change: 1 MiB holds 129";
    for (const Row& row : p.rows) got.push_back(std::get<std::string>(row[9]).substr(0, 4));
    if (protocol::IsLastPage(p, protocol::kHistoryPageRows)) break;
    args.back() = std::get<double>(p.rows.back().back());
  }
  ASSERT_EQ(got.size(), std::size_t(changes));
  for (int i = 0; i < changes; ++i) EXPECT_EQ(got[std::size_t(i)], std::to_string(1000 + i));

  args.back() = -1.0;
  EXPECT_TRUE(std::holds_alternative<ServerFailure>(Call(protocol::kModuleExchange, protocol::kGetHistorico, args)));
}

INSTANTIATE_BACKENDS(History);

}  // namespace
}  // namespace trd::server::testing
