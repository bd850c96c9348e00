#include <cstdlib>

#include <gtest/gtest.h>

#include "shared/Messages.h"
#include "shared/Services.h"

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
  Value ok = Packet{};
  EXPECT_EQ(&CheckResultServ(ok, true, 0), &ok);

  auto dialogs = std::make_shared<ScriptedDialogs>();
  SetDialogs(dialogs);
  SetResultCheckReporting(ReportFailure::Silent);
  Value bad = ServerFailure{"chave duplicada"};
  EXPECT_THROW(
      {
        try {
          CheckResultServ(bad, true, 0);
        } catch (const ServerError& e) {
          EXPECT_STREQ(e.what(), "chave duplicada");
          throw;
        }
      },
      ServerFailureError);
  EXPECT_TRUE(dialogs->shown.empty());

  SetResultCheckReporting(ReportFailure::Show);
  EXPECT_THROW(CheckResultServ(bad, true, 0), ServerFailureError);
  ASSERT_EQ(dialogs->shown.size(), 1u);
  EXPECT_EQ(dialogs->shown[0], "chave duplicada");
  SetResultCheckReporting(ReportFailure::Silent);
  SetDialogs(nullptr);
}

TEST(Messages, LooksUpByExactKeyAndFallsBackToTheKey) {
  TMessages msg({"Idi_Inv|Idioma inválido.", "ARQ_DUP|O arquivo %s está duplicado|x"});
  EXPECT_EQ(msg.Msg("Idi_Inv"), "Idioma inválido.");
  EXPECT_EQ(msg.Msg("ARQ_DUP"), "O arquivo %s está duplicado|x");  // first bar splits
  EXPECT_EQ(msg.Msg("idi_inv"), "idi_inv");
  EXPECT_EQ(msg.Msg("Nao_Import"), "Nao_Import");

  auto dialogs = std::make_shared<ScriptedDialogs>();
  SetDialogs(dialogs);
  EXPECT_EQ(msg.ShowMsg("Idi_Inv", MsgType::Confirmation, MsgButtons::YesNo), MsgAnswer::Yes);
  EXPECT_THROW(MensErro("Arquivo já selecionado.", true), Abort);
  EXPECT_EQ(dialogs->shown, (std::vector<std::string>{"Idioma inválido.", "Arquivo já selecionado."}));
  SetDialogs(nullptr);
}

TEST(TextHelpers, RightRTrimEmpty) {
  EXPECT_EQ(Right("ação", 2), "ão");
  EXPECT_EQ(Right("a", 2), "a");
  EXPECT_EQ(RTrim("Salvar  \t "), "Salvar  \t");
  EXPECT_EQ(RTrim("   "), "");
  EXPECT_TRUE(EmptyString(""));
  EXPECT_FALSE(EmptyString(" "));
}

TEST(ServerAddress, ComesFromTrdServerOrTheDefault) {
  unsetenv("TRD_SERVER");
  EXPECT_EQ(WebURL(), "127.0.0.1");
  EXPECT_EQ(WebPort(), kDefaultPort);
  setenv("TRD_SERVER", "http://tradutor.local:9000/", 1);
  EXPECT_EQ(WebURL(), "tradutor.local");
  EXPECT_EQ(WebPort(), 9000);
  setenv("TRD_SERVER", "localhost:70000", 1);
  EXPECT_THROW(WebPort(), Error);
  setenv("TRD_SERVER", "http://:80", 1);
  EXPECT_THROW(WebURL(), Error);
  unsetenv("TRD_SERVER");
}

}  // namespace
}  // namespace trd::shared
