#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "shared/Messages.h"
#include "shared/Services.h"
#include "support/Scoped.h"

namespace trd::shared {
namespace {

struct ScriptedDialogs : Dialogs {
  std::vector<std::string> shown;
  MsgAnswer answer = MsgAnswer::Yes;
  MsgAnswer Show(std::string_view text, MsgType, MsgButtons) override {
    shown.emplace_back(text);
    return answer;
  }
};

TEST(ResultCheck, PassesPayloadAndRaisesFailuresWithTheServerMessage) {
  auto dialogs = std::make_shared<ScriptedDialogs>();
  Services services;
  services.dialogs = dialogs;
  Value ok = Packet{};
  EXPECT_EQ(&services.CheckResultServ(ok, true, 0), &ok);

  Value bad = ServerFailure{"chave duplicada"};
  EXPECT_THROW(
      {
        try {
          services.CheckResultServ(bad, true, 0);
        } catch (const ServerError& e) {
          EXPECT_STREQ(e.what(), "chave duplicada");
          throw;
        }
      },
      ServerFailureError);
  EXPECT_TRUE(dialogs->shown.empty());

  services.result_check = ReportFailure::Show;
  EXPECT_THROW(services.CheckResultServ(bad, true, 0), ServerFailureError);
  ASSERT_EQ(dialogs->shown.size(), 1u);
  // The Portuguese cause first, the server's own message after it.
  EXPECT_EQ(dialogs->shown[0], "O servidor de tradução recusou a operação.\nDetalhe técnico: chave duplicada");
}

// A run's calls each show and hide the indicator; held, it goes up once and
// comes down once, at the end, even when the run ends by an exception.
TEST(HeldBusy, PutsTheIndicatorUpOnceAndTakesItDownAtTheEnd) {
  struct Counting : BusyIndicator {
    std::vector<std::string> calls;
    void Show(void*, ShowAviKind kind) override { calls.push_back("show " + std::to_string(int(kind))); }
    void Hide() override { calls.push_back("hide"); }
  };
  auto counting = std::make_shared<Counting>();
  Services services;
  services.busy = counting;
  try {
    HeldBusy held(services);
    for (int call = 0; call < 3; ++call) BusyGuard busy(services, ShowAviKind::Transfer);
    { BusyGuard busy(services, ShowAviKind::Search); }
    throw Error("the run ends by a failure");
  } catch (const Error&) {
  }
  EXPECT_EQ(counting->calls, (std::vector<std::string>{"show 1", "show 0", "hide"}));
  EXPECT_EQ(services.busy, counting);
  { HeldBusy unused(services); }  // nothing shown: nothing hidden
  EXPECT_EQ(counting->calls.size(), 3u);
}

TEST(Messages, LooksUpByExactKeyAndFallsBackToTheKey) {
  TMessages msg({"Idi_Inv|Idioma inválido.", "ARQ_DUP|O arquivo %s está duplicado|x"});
  EXPECT_EQ(msg.Msg("Idi_Inv"), "Idioma inválido.");
  EXPECT_EQ(msg.Msg("ARQ_DUP"), "O arquivo %s está duplicado|x");  // first bar splits
  EXPECT_EQ(msg.Msg("idi_inv"), "idi_inv");
  EXPECT_EQ(msg.Msg("Nao_Import"), "Nao_Import");

  Services services;
  auto dialogs = std::make_shared<ScriptedDialogs>();
  services.dialogs = dialogs;
  EXPECT_EQ(msg.ShowMsg(*dialogs, "Idi_Inv", MsgType::Confirmation, MsgButtons::YesNo), MsgAnswer::Yes);
  EXPECT_THROW(services.MensErro("Arquivo já selecionado.", true), Abort);
  EXPECT_EQ(dialogs->shown, (std::vector<std::string>{"Idioma inválido.", "Arquivo já selecionado."}));
}

TEST(TextHelpers, RTrimEmpty) {
  EXPECT_EQ(RTrim("Salvar  \t "), "Salvar  \t");
  EXPECT_EQ(RTrim("   "), "");
  EXPECT_TRUE(EmptyString(""));
  EXPECT_FALSE(EmptyString(" "));
}

TEST(ServerAddress, ComesFromTrdServerOrTheDefault) {
  auto address = [](const std::optional<std::string>& value) {
    test::ScopedEnv env("TRD_SERVER", value);
    const Endpoint e = ServerFromEnvironment();
    return e.host + " " + std::to_string(e.port);
  };
  EXPECT_EQ(address(std::nullopt), "127.0.0.1 " + std::to_string(kDefaultPort));
  EXPECT_EQ(address("http://tradutor.local:9000/"), "tradutor.local 9000");
  EXPECT_EQ(address("tradutor.local"), "tradutor.local " + std::to_string(kDefaultPort));  // as trd serve listens
  EXPECT_EQ(kDefaultPort, 8211);
  EXPECT_EQ(address("[::1]:8211"), "::1 8211");
  EXPECT_THROW(address("localhost:70000"), Error);
  EXPECT_THROW(address("http://:80"), Error);
}

}  // namespace
}  // namespace trd::shared
