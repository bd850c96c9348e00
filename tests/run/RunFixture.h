// The import run against a `trd serve` child on loopback, with scripted
// dialogs, a host that records what the run asks of it, and source trees in
// temporary directories.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/DateTimeText.h"
#include "report/ReportImport.h"
#include "run/ImportRun.h"
#include "run/FileDiscovery.h"
#include "run/SelectionLists.h"
#include "shared/Services.h"
#include "store/Store.h"
#include "support/ServerProcess.h"
#include "support/StoredRecords.h"
#include "support/TempTree.h"

namespace trd::test {

struct Dialog {
  std::string text;
  std::string details;
  shared::MsgType type;
};

// Records every dialog; questions take the scripted answers (No when none is
// left).
class ScriptedDialogs final : public shared::Dialogs {
 public:
  shared::MsgAnswer Show(std::string_view text, shared::MsgType type, shared::MsgButtons buttons) override {
    return ShowDetailed(text, {}, type, buttons);
  }
  shared::MsgAnswer ShowDetailed(std::string_view text, std::string_view details, shared::MsgType type,
                                 shared::MsgButtons buttons) override {
    shown.push_back({std::string(text), std::string(details), type});
    if (buttons == shared::MsgButtons::Ok) return shared::MsgAnswer::Ok;
    if (answers.empty()) return shared::MsgAnswer::No;
    shared::MsgAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& d : shown) out.push_back(d.text);
    return out;
  }
  std::vector<Dialog> shown;
  std::deque<shared::MsgAnswer> answers;
};

class RecordingHost final : public run::RunHost {
 public:
  void FocusLanguageBox() override { events.push_back("focus"); }
  void SetProgressMax(int max) override { events.push_back("max " + std::to_string(max)); }
  void SetProgressPosition(int position) override {
    events.push_back("position " + std::to_string(position));
    if (on_position) on_position(position);
  }
  void EnterRunning() override { events.push_back("enter"); }
  void LeaveRunning() override { events.push_back("leave"); }
  void FileStarting(int index, const std::string& path, run::FileKind) override {
    events.push_back("file " + std::filesystem::path(path).filename().string());
  }
  void Status(const std::string& line) override {
    if (on_status) on_status(line);
  }
  std::vector<std::string> events;
  std::function<void(int)> on_position;
  std::function<void(const std::string&)> on_status;
};

// A temporary source tree, removed with everything in it.
class SourceTree : public test::TempTree {
 public:
  SourceTree() : TempTree("trd-run") {}
  std::string Root() const { return Dir().string(); }
  // A copy of the shipped samples.
  void CopySamples() const {
    std::filesystem::copy(std::filesystem::path(TRD_SOURCE_DIR) / "samples", Dir(),
                          std::filesystem::copy_options::recursive);
  }
};

// A form file in text with one object holding the given property lines.
inline std::string FormText(const std::string& header, const std::string& properties) {
  return "object " + header + "\n" + properties + "\nend\n";
}

// Every source file below `dir`, in the order of the selected list.
inline std::vector<std::string> SelectAll(const std::string& dir) {
  run::StringList files;
  run::ListingSink sink;
  sink.found = [&](const std::string& p) { files.push_back(p); };
  run::ListSourceTree(dir, sink);
  run::SortIgnoreCase(files);
  return files;
}

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    services.dialogs = dialogs;
    store.OpenConnections(ParseEndpoint(server.Url(), shared::kDefaultPort));
    store::Lookup(services, store.cdsIdiLeDfm, store.NetTradRelDfm, "GetIdiLeDfm", {});
    store.cdsVersao.CreateDataSet();
  }
  void TearDown() override { store.CloseConnections(); }

  run::Summary Run(std::vector<std::string> paths, shared::MsgAnswer answer = shared::MsgAnswer::Yes,
                   const std::string& box = "POR-Português") {
    dialogs->answers = {answer};
    const std::unique_ptr<store::TextChannel> channel = run::MakeChannel(record_path, store, box.substr(0, 3), dates);
    run::RunRequest request{store, *channel, run::RunMessages(), std::move(paths), box, box.substr(0, 3),
                            cancel, dates,    reports};
    return run::ImportRun(request, host);
  }

  std::vector<std::string> Records() const { return RecordLines(server.DatabasePath()); }
  std::optional<DateTime> Version() const { return ReadVersion(server.DatabasePath()); }
  static DateTime Today() { return DateTime::Now().DateOnly(); }

  ServerProcess server;
  std::shared_ptr<ScriptedDialogs> dialogs = std::make_shared<ScriptedDialogs>();
  shared::Services services;
  store::Store store{services};
  RecordingHost host;
  bool cancel = false;
  run::RecordPath record_path = run::RecordPath::PerText;  // the screen's
  report::ReportImporter reports;
  const DateTimeText dates;
};

}  // namespace trd::test
