// Test doubles and a fixture for the screens: scripted dialogs and directory
// chooser, an in-process translation server answering GetIdiLeDfm, and
// temporary directory trees.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QToolButton>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Value.h"
#include "screen/Cli_trd00500.h"
#include "shared/Services.h"
#include "shared/gui/DirectoryChooser.h"
#include "shared/gui/Host.h"
#include "support/Scoped.h"
#include "support/TempTree.h"

namespace trd::test {

struct Shown {
  std::string text;
  shared::MsgType type;
  shared::MsgButtons buttons;
  std::string details = {};
};

// Records every dialog; questions take the scripted answers in order (No
// when none is left).
class FakeDialogs final : public shared::Dialogs {
 public:
  shared::MsgAnswer Show(std::string_view text, shared::MsgType type, shared::MsgButtons buttons) override;
  shared::MsgAnswer ShowDetailed(std::string_view text, std::string_view details, shared::MsgType type,
                                 shared::MsgButtons buttons) override;
  std::vector<Shown> shown;
  std::deque<shared::MsgAnswer> answers;
  std::vector<std::string> Texts() const;
};

class FakeChooser final : public gui::DirectoryChooser {
 public:
  std::optional<QString> Choose(QWidget*) override;
  std::deque<QString> answers;  // an empty text or none left: the user cancels
  int opened = 0;
};

// The translation server's side of GetIdiLeDfm: languages to return, or a
// failure to answer with; counts the calls per method.
struct FakeServer {
  std::vector<std::pair<std::string, std::string>> languages{{"POR", "Português"}, {"ENG", "English"}};
  std::optional<std::string> failure;
  std::map<std::string, int> calls;
  std::string Handle(std::string_view request);
};

// A packet of the language table.
Packet LanguagePacket(const std::vector<std::pair<std::string, std::string>>& languages);

// A private temporary directory (support/TempTree.h) with empty files.
class TempDir : public TempTree {
 public:
  TempDir() : TempTree("trd-screen") {}
  std::string Str() const { return Dir().string(); }
  // Creates a file (and its directories); returns its full path.
  std::string Touch(const std::string& relative) const { return Write(relative, "x"); }
  void MakeDir(const std::string& relative) const { std::filesystem::create_directories(Dir() / relative); }
};

// Lets deferred deletions and posted events run.
void Flush();

// Installs the doubles (restored when the test ends) and tears down every
// screen left open.
class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Opens (or shows again) the harvesting screen.
  screen::TfrmLeDfmRel& Open();
  // The items of a list widget, in order.
  static std::vector<std::string> Items(const QListWidget* list);
  // Picks the items of a list widget whose text ends with one of the tails.
  static void Pick(QListWidget* list, const std::vector<std::string>& tails);
  // Lists `dir` through the directory button.
  void ListDirectory(screen::TfrmLeDfmRel& screen, const std::string& dir);
  // lsbDisp and stlFiles name the same files in the same order.
  static void ExpectAvailableInStep(const screen::TfrmLeDfmRel& screen);

  // The module's services for the screens: the fake dialogs, and the fake
  // server in process.
  gui::ScreenServices FakeServices() const;

  std::shared_ptr<FakeDialogs> dialogs = std::make_shared<FakeDialogs>();
  std::shared_ptr<FakeChooser> chooser = std::make_shared<FakeChooser>();
  std::shared_ptr<FakeServer> server = std::make_shared<FakeServer>();
  ScopedValue<gui::ScreenServices> screen_services{gui::ModuleServices(), FakeServices()};
};

}  // namespace trd::test
