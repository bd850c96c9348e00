#include "ScreenTest.h"

#include <stdlib.h>

#include <QCoreApplication>
#include <QEvent>
#include <fstream>

#include "platform/Connection.h"
#include "platform/Wire.h"
#include "protocol/Methods.h"
#include "protocol/Record.h"
#include "screen/Cli_trd00501.h"
#include "store/Record.h"

namespace trd::test {

shared::MsgAnswer FakeDialogs::Show(std::string_view text, shared::MsgType type, shared::MsgButtons buttons) {
  shown.push_back({std::string(text), type, buttons});
  if (buttons == shared::MsgButtons::Ok) return shared::MsgAnswer::Ok;
  if (answers.empty()) return shared::MsgAnswer::No;
  shared::MsgAnswer a = answers.front();
  answers.pop_front();
  return a;
}

shared::MsgAnswer FakeDialogs::ShowDetailed(std::string_view text, std::string_view details, shared::MsgType type,
                                            shared::MsgButtons buttons) {
  shared::MsgAnswer answer = Show(text, type, buttons);
  shown.back().details = std::string(details);
  return answer;
}

std::vector<std::string> FakeDialogs::Texts() const {
  std::vector<std::string> out;
  for (const auto& s : shown) out.push_back(s.text);
  return out;
}

std::optional<QString> FakeChooser::Choose(QWidget*) {
  ++opened;
  if (answers.empty()) return std::nullopt;
  QString a = answers.front();
  answers.pop_front();
  if (a.isEmpty()) return std::nullopt;
  return a;
}

Packet LanguagePacket(const std::vector<std::pair<std::string, std::string>>& languages) {
  Packet p;
  p.fields = protocol::LanguageFields();
  for (const auto& [code, description] : languages) p.rows.push_back({code, description, code});
  return p;
}

std::string FakeServer::Handle(std::string_view request) {
  wire::Request r = wire::DecodeRequest(request);
  ++calls[r.method];
  if (r.method != "GetIdiLeDfm") return wire::EncodeFailure("unexpected call " + r.method);
  if (failure) return wire::EncodeFailure(*failure);
  return wire::EncodeResult(Value(LanguagePacket(languages)));
}

gui::ScreenServices ScreenTest::FakeServices() const {
  gui::ScreenServices fake;
  fake.services.dialogs = dialogs;
  fake.transports = InProcessTransports([server = server](std::string_view request) { return server->Handle(request); });
  return fake;
}

void ScreenTest::SetUp() { gui::SetDirectoryChooser(chooser); }

void ScreenTest::TearDown() {
  using namespace screen;
  if (Cli_trd00500::frmLeDfmRel) delete Cli_trd00500::frmLeDfmRel->Container();
  if (Cli_trd00501::frmVerRep) delete Cli_trd00501::frmVerRep->Container();
  Flush();
  EXPECT_FALSE(Cli_trd00500::boStcriado);
  EXPECT_FALSE(Cli_trd00501::boStCriado);
  Cli_trd00500::stIdiLeDfm.clear();
  gui::SetDirectoryChooser(nullptr);
}

screen::TfrmLeDfmRel& ScreenTest::Open() {
  screen::Cli_trd00500::CriaLeDfmRel();
  return *screen::Cli_trd00500::frmLeDfmRel;
}

void Flush() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}

std::vector<std::string> ScreenTest::Items(const QListWidget* list) {
  std::vector<std::string> out;
  for (int i = 0; i < list->count(); ++i) out.push_back(list->item(i)->text().toStdString());
  return out;
}

void ScreenTest::Pick(QListWidget* list, const std::vector<std::string>& tails) {
  for (int i = 0; i < list->count(); ++i) {
    std::string text = list->item(i)->text().toStdString();
    for (const auto& tail : tails)
      if (text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0)
        list->item(i)->setSelected(true);
  }
}

void ScreenTest::ListDirectory(screen::TfrmLeDfmRel& screen, const std::string& dir) {
  chooser->answers.push_back(QString::fromStdString(dir));
  screen.sbtDiretorio->click();
}

void ScreenTest::ExpectAvailableInStep(const screen::TfrmLeDfmRel& screen) {
  ASSERT_TRUE(screen::Cli_trd00500::stlFiles);
  EXPECT_EQ(Items(screen.lsbDisp), *screen::Cli_trd00500::stlFiles);
}

}  // namespace trd::test
