// The translation memory on both backends: a translation set once (import,
// call) comes back to any later record of its text, on the batch and the
// per-text paths, after every record that held it was replaced; and a
// database that had translations before the memory existed keeps them.
#include <chrono>
#include <thread>

#include "Fixture.h"
#include "server/Memory.h"
#include "protocol/Exchange.h"
#include "protocol/RecordBatch.h"

namespace trd::server::testing {
namespace {

class Memory : public ServiceTest {
 protected:
  Value Batch(const Rec& r) {
    return Call(kDfm, protocol::kSetPropriedArq,
                {r.language, Packet{protocol::BatchRecordFields(),
                                    {{r.program, r.form, r.component, r.property, r.number, r.source,
                                      std::string("S"), std::string("S")}}}});
  }
  std::string Outcome(const Rec& r) {
    const Value v = Batch(r);
    const auto* p = std::get_if<Packet>(&v);
    if (!p || p->rows.size() != 1) return "failure: " + FailureOf(v);
    return std::get<std::string>(p->rows[0][0]) + "/" + std::get<std::string>(p->rows[0][1]);
  }
  // "state translation" of the key's record.
  std::string Held(const Rec& r) {
    Packet p = ByKey(r);
    if (p.rows.empty()) return "<none>";
    return std::get<std::string>(p.rows[0][kIdSitTraducao]) + " " + std::get<std::string>(p.rows[0][kStValorProp]);
  }
  std::string Offered(const std::string& source) {
    Packet p = Lookup(kUpd, protocol::kGetUpdRelDfm, {source, std::string("POR")});
    return p.rows.empty() ? "<none>" : std::get<std::string>(p.rows[0][1]);
  }
  // "who how" of the memory's entry of the translation.
  std::string Entry(const std::string& source, const std::string& translation) {
    auto session = service->Storage().Acquire();
    const FieldValue params[] = {source, translation};
    const FieldType types[] = {FieldType::String, FieldType::String};
    auto rows = session->Query(
        "SELECT COALESCE(NMUSUARIO, '-'), IDORIGEM FROM TRDMEMORIA WHERE STAGRVALPROP = ? AND STVALORPROP = ?",
        params, types);
    if (rows.size() != 1) return std::to_string(rows.size()) + " entries";
    return std::get<std::string>(rows[0][0]) + " " + std::get<std::string>(rows[0][1]);
  }
  static Rec At(std::string program, std::string source) {
    Rec r;
    r.program = std::move(program);
    r.source = r.value = std::move(source);
    return r;
  }
};

TEST_P(Memory, ATranslationSetOnceOutlivesEveryRecordThatHeldIt) {
  const Rec first = At("CADASTRO", "Salvar");
  ASSERT_EQ(Outcome(first), "created/N");
  const Value set = service->Call(
      protocol::kModuleExchange, protocol::kSetTraducoes,
      std::vector<Value>{std::string("POR"),
                         Packet{protocol::TranslationChangeFields(),
                                {{std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{},
                                  std::monostate{}, std::string("Salvar"), std::string("Gravar registro")}}},
                         std::string("apply")},
      Caller{"ana", Role::Translator});
  ASSERT_TRUE(std::holds_alternative<Packet>(set));
  EXPECT_EQ(Entry("Salvar", "Gravar registro"), "ana importacao");

  // The one record of the text gets another text: no record holds it now.
  ASSERT_EQ(Outcome(At("CADASTRO", "Gravar")), "replaced/N");
  EXPECT_EQ(Offered("Salvar"), "Gravar registro");
  EXPECT_EQ(Outcome(At("PEDIDO", "Salvar")), "created/S");
  EXPECT_EQ(Held(At("PEDIDO", "Salvar")), "T Gravar registro");
  EXPECT_EQ(Entry("Salvar", "Gravar registro"), "ana importacao") << "a reuse is no authorship";

  // A translation set by a call: the per-text path finds it the same way.
  Rec called = At("CLIENTE", "Excluir");
  Apply("SetPropried", Changes({Insert(called)}));
  ASSERT_TRUE(std::holds_alternative<std::monostate>(
      Call(kUpd, protocol::kUpdateRelDfm,
           {called.program, called.form, called.component, called.property, std::int64_t(0), called.language,
            std::string("Apagar"), std::string("T"), DateTime::Now()})));
  EXPECT_EQ(Entry("Excluir", "Apagar"), "- chamada");
  Rec gone = called;
  gone.state = "T";
  gone.value = "Apagar";
  Apply("SetVerProp", Changes({Delete(gone)}));
  EXPECT_EQ(Offered("Excluir"), "Apagar");

  // Translations written before the memory existed (or by another program)
  // are kept too: taken in when the memory is made, and when a harvest
  // replaces their record.
  Rec old_work = At("ANTIGO", "Fechar"), foreign = At("ALHEIO", "Abrir");
  old_work.state = foreign.state = "T";
  old_work.value = "Encerrar";
  foreign.value = "Open";
  auto write_around_the_server = [&](const Rec& r) {
    auto session = service->Storage().Acquire();
    const Row row = r.ToRow();
    session->Execute("INSERT INTO TRDPROPRIEDADE (" + protocol::ColumnList(TranslationTable().fields) +
                         ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                     row);
  };
  service->Storage().Acquire()->Execute("DROP TABLE TRDMEMORIA");
  write_around_the_server(old_work);
  EnsureSchema(*service->Storage().Acquire());  // as the server does when it starts
  EXPECT_EQ(Entry("Salvar", "Gravar registro"), "- registro") << "held by PEDIDO";
  write_around_the_server(foreign);
  ASSERT_EQ(Outcome(At("ANTIGO", "Outro")), "replaced/N");
  ASSERT_EQ(Outcome(At("ALHEIO", "Outro")), "replaced/N");
  EXPECT_EQ(Outcome(At("NOVO", "Fechar")), "created/S");
  EXPECT_EQ(Held(At("NOVO", "Fechar")), "T Encerrar");
  EXPECT_EQ(Offered("Abrir"), "Open");
}

// The latest setting wins; a text translated two ways offers the latest.
TEST_P(Memory, TheLatestTranslationOfATextIsOffered) {
  Rec r = At("CADASTRO", "Salvar");
  Apply("SetPropried", Changes({Insert(r)}));
  for (const char* translation : {"Gravar", "Salvar registro", "Gravar"}) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // times a millisecond apart at least
    ASSERT_TRUE(std::holds_alternative<std::monostate>(
        Call(kUpd, protocol::kUpdateRelDfm,
             {r.program, r.form, r.component, r.property, std::int64_t(0), r.language, std::string(translation),
              std::string("T"), DateTime::Now()})));
  }
  ASSERT_EQ(Outcome(At("CADASTRO", "Outro")), "replaced/N");
  EXPECT_EQ(Offered("Salvar"), "Gravar");
  auto session = service->Storage().Acquire();
  // Many texts at once answer as one at a time: the latest, each place of a
  // repeated text, nothing for an unknown one.
  const auto all = RecallAll(*session, "POR", {"Salvar", "Nunca visto", "Salvar"});
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0], std::optional<std::string>("Gravar"));
  EXPECT_EQ(all[1], std::nullopt);
  EXPECT_EQ(all[2], std::optional<std::string>("Gravar"));
  const FieldType count[] = {FieldType::Float};
  EXPECT_EQ(std::get<double>(session->Query("SELECT COUNT(*) FROM TRDMEMORIA", {}, count).at(0)[0]), 2);
}

INSTANTIATE_BACKENDS(Memory);

}  // namespace
}  // namespace trd::server::testing
