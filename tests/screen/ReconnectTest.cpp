// The harvesting screen stays open while its translation server goes away
// and comes back on the same address: the run that meets the dead server
// fails with the server named, and the next one works without reopening the
// screen.
#include <gmock/gmock.h>

#include <fstream>
#include <memory>
#include <optional>

#include "ScreenTest.h"
#include "platform/Connection.h"
#include "support/ServerDatabase.h"
#include "support/ServerProcess.h"
#include "support/StoredRecords.h"

namespace trd::test {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

const std::string kSamples = std::string(TRD_SOURCE_DIR) + "/samples";

class ReconnectTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    gui::ModuleServices().transports = {};  // HTTP to the server below
    server = std::make_unique<ServerProcess>(ServerProcessOptions{.db = db.Url()});
    address.emplace("TRD_SERVER", server->Url());
  }

  // A new server on the database and address of the one before.
  void Restart() {
    const std::string listen = server->Host() + ":" + std::to_string(server->Port());
    server->Stop(SIGKILL);
    server = std::make_unique<ServerProcess>(ServerProcessOptions{.db = db.Url(), .listen = listen});
  }

  void Import(screen::TfrmLeDfmRel& screen) {
    dialogs->shown.clear();
    dialogs->answers.push_back(shared::MsgAnswer::Yes);
    screen.sbtImportExport->click();
  }

  ServerDatabase db;
  std::unique_ptr<ServerProcess> server;
  std::optional<ScopedEnv> address;
};

TEST_F(ReconnectTest, ARestartedServerIsReachedAgainFromTheOpenScreen) {
  auto& screen = Open();
  ListDirectory(screen, kSamples);
  screen.sbtTudoDir->click();
  screen.cbbIdioma->setCurrentIndex(screen.cbbIdioma->findText(QStringLiteral("POR-Português")));
  ASSERT_EQ(screen.lsbSelec->count(), 10);

  // The server dies with the screen open: the run fails at its first call
  // and says which server it could not reach.
  const std::string where = server->Host() + ":" + std::to_string(server->Port());
  server->Stop(SIGKILL);
  Import(screen);
  // The question, then one message in Portuguese (no second one from the
  // version stamp, which could only fail the same way).
  ASSERT_EQ(dialogs->shown.size(), 2u);
  EXPECT_THAT(dialogs->shown.back().text,
              AllOf(HasSubstr("o servidor de tradução não pôde ser alcançado"),
                    HasSubstr("translation server at " + where)));
  EXPECT_TRUE(screen.isVisible());
  EXPECT_TRUE(screen.sbtImportExport->isEnabled());

  // Back on the same address: the same screen harvests everything.
  server = std::make_unique<ServerProcess>(ServerProcessOptions{.db = db.Url(), .listen = where});
  Import(screen);
  ASSERT_FALSE(dialogs->shown.empty());
  EXPECT_EQ(dialogs->shown.back().text, "Todos os arquivos foram importados com sucesso!");
  std::ifstream golden(std::string(TRD_SOURCE_DIR) + "/tests/run/samples.records");
  std::vector<std::string> expected;
  for (std::string line; std::getline(golden, line);)
    if (!line.empty()) expected.push_back(line);
  EXPECT_EQ(RecordLines(db.Url()), expected);

  // Restarted between two runs: the kept-alive connections of the screen
  // are replaced without a failure.
  Restart();
  Import(screen);
  ASSERT_FALSE(dialogs->shown.empty());
  EXPECT_EQ(dialogs->shown.back().text, "Todos os arquivos foram importados com sucesso!");
  EXPECT_THAT(dialogs->shown.back().details, HasSubstr("Novos: 0\n"));
  EXPECT_EQ(RecordLines(db.Url()), expected);
}

}  // namespace
}  // namespace trd::test
