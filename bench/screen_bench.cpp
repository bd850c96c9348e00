// The harvesting screen's run against `trd harvest`, on the same trees and
// the same kind of server (a `trd serve` child on loopback, SQLite):
//   Screen/<tree>/<run>/harvest_batch     `trd harvest --server URL`
//   Screen/<tree>/<run>/harvest_per_text  the same with --per-text
//   Screen/<tree>/<run>/screen            the real window, offscreen, in a
//                                         host main window like trd-client's:
//                                         the directory listed, every file
//                                         moved, "POR-Português" chosen, the
//                                         import button clicked, the question
//                                         answered Yes
// tree: one_file (one form of 1,000 texts, none repeated) or files_200 (200
// forms of 50 texts, bench/BenchHarvest.h); run: new (a fresh database for
// each of the three) or stored (the same tree again on the database the new
// run left). The wall time of a `trd harvest` counts its whole process
// (start, listing, language list, run, stamp); the screen's counts the click
// to the closing message and the stamp. loop_s is the run's own "elapsed"
// (the summary's: from the question to the end of the file loop) for both.
// After the runs a table gives the screen's time over each `trd harvest`
// path's, per tree and run. Not a test: nothing is asserted beyond each run
// seeing every text.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMdiArea>
#include <QProgressBar>
#include <QToolButton>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <regex>

#include "../tests/support/ServerProcess.h"
#include "BenchHarvest.h"
#include "screen/Cli_trd00500.h"
#include "shared/gui/DirectoryChooser.h"
#include "shared/gui/Host.h"

namespace {

using trd::bench::Harvest;
namespace fs = std::filesystem;

enum class TreeKind { OneFile, Files200 };
enum class RunKind { New, Stored };
enum class Path { Batch, PerText, Screen };

const char* Name(TreeKind t) { return t == TreeKind::OneFile ? "one_file" : "files_200"; }
const char* Name(RunKind r) { return r == RunKind::New ? "new" : "stored"; }
const char* Name(Path p) { return p == Path::Batch ? "harvest_batch" : p == Path::PerText ? "harvest_per_text" : "screen"; }

// One form of `texts` labels, every caption its own.
std::string BigForm(int texts) {
  std::string s = "object frmGrande: TForm\n  Caption = 'Tela grande'\n";
  for (int i = 1; i < texts; ++i)
    s += "  object lbl" + std::to_string(i) + ": TLabel\n    Caption = 'Rótulo número " + std::to_string(i) +
         " da tela grande'\n  end\n";
  return s + "end\n";
}

struct BenchTree {
  explicit BenchTree(TreeKind kind) {
    if (kind == TreeKind::Files200) {
      many.emplace(200);
      root = many->root;
    } else {
      one.emplace("trd-screen-bench");
      one->Write("Cli/Src/Grande.dfm", BigForm(1000));
      root = one->Dir();
    }
  }
  std::optional<trd::bench::Tree> many;
  std::optional<trd::test::TempTree> one;
  fs::path root;
};

class Chooser final : public trd::gui::DirectoryChooser {
 public:
  std::optional<QString> Choose(QWidget*) override { return dir; }
  QString dir;
};

// Answers Yes and keeps the closing message's details.
class YesDialogs final : public trd::shared::Dialogs {
 public:
  trd::shared::MsgAnswer Show(std::string_view text, trd::shared::MsgType, trd::shared::MsgButtons buttons) override {
    last = std::string(text);
    return buttons == trd::shared::MsgButtons::YesNo ? trd::shared::MsgAnswer::Yes : trd::shared::MsgAnswer::Ok;
  }
  trd::shared::MsgAnswer ShowDetailed(std::string_view text, std::string_view details, trd::shared::MsgType type,
                                      trd::shared::MsgButtons buttons) override {
    details_ = std::string(details);
    return Show(text, type, buttons);
  }
  std::string last, details_;
};

long Counted(const std::string& details, const char* label) {
  std::smatch m;
  const std::regex re(std::string(label) + ": (\\d+)");
  return std::regex_search(details, m, re) ? std::stol(m[1]) : -1;
}
double ElapsedOf(const std::string& details) {
  std::smatch m;
  static const std::regex re("Tempo decorrido: (\\d+),(\\d+) s");
  return std::regex_search(details, m, re) ? std::stod(m[1].str() + "." + m[2].str()) : -1;
}

struct Timed {
  double wall_s = 0;
  double loop_s = 0;
  long texts = 0;
};

// The screen's run in a host main window, as trd-client shows it.
Timed ScreenRun(const fs::path& root, const std::string& server_url) {
  using namespace trd;
  setenv("TRD_SERVER", server_url.c_str(), 1);
  QMainWindow host;
  host.setObjectName(gui::kHostObjectName);
  host.setCentralWidget(new QMdiArea(&host));
  host.resize(1280, 800);
  host.show();
  gui::InstallQtServices();
  gui::ScreenServices& module = gui::ModuleServices();
  auto dialogs = std::make_shared<YesDialogs>();
  module.services.dialogs = dialogs;
  module.services.main_window = &host;
  auto chooser = std::make_shared<Chooser>();
  chooser->dir = QString::fromStdString(root.string());
  gui::SetDirectoryChooser(chooser);

  screen::Cli_trd00500::CriaLeDfmRel();
  screen::TfrmLeDfmRel& screen = *screen::Cli_trd00500::frmLeDfmRel;
  screen.sbtDiretorio->click();
  screen.sbtTudoDir->click();
  screen.cbbIdioma->setCurrentIndex(screen.cbbIdioma->findText(QStringLiteral("POR-Português")));
  QApplication::processEvents();
  const auto start = std::chrono::steady_clock::now();
  screen.sbtImportExport->click();
  Timed t;
  t.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  t.loop_s = ElapsedOf(dialogs->details_);
  t.texts = Counted(dialogs->details_, "Textos vistos");
  if (dialogs->last != "Todos os arquivos foram importados com sucesso!")
    throw std::runtime_error("the screen's run did not succeed: " + dialogs->last + "\n" + dialogs->details_);
  delete screen::Cli_trd00500::frmLeDfmRel->Container();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QApplication::processEvents();
  gui::SetDirectoryChooser(nullptr);
  module.services.main_window = nullptr;
  return t;
}

Timed HarvestRun(const fs::path& root, const std::string& server_url, Path path) {
  std::vector<std::string> extra;
  if (path == Path::PerText) extra.push_back("--per-text");
  const trd::bench::Result r = Harvest(root.string(), {"--server", server_url}, extra);
  return {r.wall_seconds, r.summary["elapsed_seconds"].get<double>(), r.summary["texts_seen"].get<long>()};
}

struct Key {
  TreeKind tree;
  RunKind run;
  bool operator<(const Key& o) const { return std::tie(tree, run) < std::tie(o.tree, o.run); }
};

struct Context {
  std::map<TreeKind, std::unique_ptr<BenchTree>> trees;
  // One server per (tree, path): the new run fills it, the stored run reads it.
  std::map<std::pair<TreeKind, Path>, std::unique_ptr<trd::test::ServerProcess>> servers;
  std::map<Key, std::map<Path, Timed>> measured;

  BenchTree& TreeOf(TreeKind kind) {
    auto& t = trees[kind];
    if (!t) t = std::make_unique<BenchTree>(kind);
    return *t;
  }
  trd::test::ServerProcess& ServerOf(TreeKind tree, Path path, RunKind run) {
    auto& s = servers[{tree, path}];
    if (run == RunKind::New || !s) {
      s.reset();
      s = std::make_unique<trd::test::ServerProcess>();
      if (run == RunKind::Stored) HarvestRun(TreeOf(tree).root, s->Url(), Path::Batch);  // filtered-out new run
    }
    return *s;
  }
};
Context& Shared() {
  static Context c;
  return c;
}

void Measure(benchmark::State& state, TreeKind tree, RunKind run, Path path) {
  Context& c = Shared();
  for (auto _ : state) {
    const fs::path& root = c.TreeOf(tree).root;
    const std::string url = c.ServerOf(tree, path, run).Url();
    const Timed t = path == Path::Screen ? ScreenRun(root, url) : HarvestRun(root, url, path);
    state.SetIterationTime(t.wall_s);
    state.counters["texts"] = double(t.texts);
    state.counters["loop_s"] = t.loop_s;
    state.counters["texts_per_s"] = t.wall_s > 0 ? double(t.texts) / t.wall_s : 0;
    c.measured[{tree, run}][path] = t;
  }
}

void PrintRatios() {
  std::printf("\ntree       run     screen_s  batch_s  per_text_s  screen/batch  screen/per_text  (loop: screen/batch)\n");
  for (const auto& [key, paths] : Shared().measured) {
    auto at = [&paths](Path p) -> const Timed* {
      auto it = paths.find(p);
      return it == paths.end() ? nullptr : &it->second;
    };
    const Timed* s = at(Path::Screen);
    const Timed* b = at(Path::Batch);
    const Timed* p = at(Path::PerText);
    if (!s) continue;
    std::printf("%-10s %-7s %8.2f %8.2f %11.2f %13.2f %16.2f %12.2f\n", Name(key.tree), Name(key.run), s->wall_s,
                b ? b->wall_s : 0, p ? p->wall_s : 0, b ? s->wall_s / b->wall_s : 0, p ? s->wall_s / p->wall_s : 0,
                b && b->loop_s > 0 ? s->loop_s / b->loop_s : 0);
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  for (TreeKind tree : {TreeKind::OneFile, TreeKind::Files200})
    for (RunKind run : {RunKind::New, RunKind::Stored})
      for (Path path : {Path::Batch, Path::PerText, Path::Screen}) {
        const std::string name =
            std::string("Screen/") + Name(tree) + "/" + Name(run) + "/" + Name(path);
        benchmark::RegisterBenchmark(name.c_str(), Measure, tree, run, path)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kSecond);
      }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  PrintRatios();
  benchmark::Shutdown();
  return 0;
}
