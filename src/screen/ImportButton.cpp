// The import run of TfrmLeDfmRel (the import button).
//
// The duplicate gate opens the review screen while stlVerRep holds entries.
// The width gate (run/WidthGate.h) comes next: selected files whose names no
// record can hold are shown for review, "ARQ_LARGO" with each file, the
// reason and what to do as details, and the question "ARQ_LARGO_CONT": Yes
// takes them out of lsbSelec and goes on without them, No stops before
// anything is read. Otherwise the run of run/ImportRun.h does the rest (language check, the
// question, the file loop, the closing message with the run's summary as
// its details, the version stamp). When the language list could not be
// fetched so far, it is fetched first; a failure ends the click with its one
// message. The screen lends the run: the items of lsbSelec (taken once; the
// file controls are locked for the run), the language box's text and
// stIdiLeDfm, boCancelar (set by the cancel button while pending events run:
// the scanners let them run once per text; a report stops before its next
// text too), lblStatus, lblArquivo ("Arquivo n de N: NOME"), pgbProgresso
// and a RunScope for the Running state. Errors that leave the run (MensErro's Abort, a failed
// version stamp) go to RunHandler as for every handler.
#include <QCoreApplication>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QToolButton>
#include <algorithm>
#include <optional>

#include "Cli_trd00500.h"
#include "Cli_trd00501.h"
#include "QtListBox.h"
#include "platform/DateTimeText.h"
#include "platform/Path.h"
#include "platform/Text.h"
#include "report/ReportImport.h"
#include "run/ImportRun.h"
#include "run/SelectionLists.h"
#include "run/WidthGate.h"
#include "shared/Services.h"
#include "store/TextChannels.h"

namespace trd::screen {

using namespace Cli_trd00500;

TfrmLeDfmRel::RunScope::RunScope(TfrmLeDfmRel& screen) : screen_(screen) {
  screen_.boImportando = true;
  screen_.sbtImportExport->setEnabled(false);
  screen_.LockControls(Lock::Locked, LockScope::AllControls);
}

TfrmLeDfmRel::RunScope::~RunScope() {
  screen_.lblStatus->clear();
  screen_.lblArquivo->clear();
  screen_.boCancelar = false;
  screen_.boImportando = false;
  screen_.LockControls(Lock::Unlocked, LockScope::AllControls);
  screen_.AplicaRegraImportar();
}

namespace {

// The screen's side of a run.
class ScreenRunHost final : public run::RunHost {
 public:
  explicit ScreenRunHost(TfrmLeDfmRel& screen) : screen_(screen) {}

  void FocusLanguageBox() override { screen_.cbbIdioma->setFocus(); }
  void SetProgressMax(int max) override {
    // A 0..0 range would make the bar show a busy animation; 0..1 at
    // position 0 shows it empty, as a maximum of 0 means.
    screen_.pgbProgresso->setRange(0, std::max(max, 1));
  }
  void SetProgressPosition(int position) override { screen_.pgbProgresso->setValue(position); }
  void EnterRunning() override { running_.emplace(screen_); }
  void LeaveRunning() override { running_.reset(); }
  void FileStarting(int index, const std::string& path, run::FileKind) override {
    screen_.lblArquivo->setText(QStringLiteral("Arquivo %1 de %2: %3")
                                    .arg(index + 1)
                                    .arg(screen_.pgbProgresso->maximum())
                                    .arg(QString::fromStdString(text::PathText(FileName(path)))));
  }
  void Status(const std::string& line) override { screen_.lblStatus->setText(QString::fromStdString(line)); }
  void ProcessEvents() override { QCoreApplication::processEvents(); }

 private:
  TfrmLeDfmRel& screen_;
  std::optional<TfrmLeDfmRel::RunScope> running_;
};

}  // namespace

void TfrmLeDfmRel::sbtImportExportClick() {
  if (run::CheckDuplicates(*stlVerRep) == run::DuplicateGate::Closed) {
    Cli_trd00501::CriaVerRep();
    return;
  }
  // The language list could not be fetched so far: once more now; while the
  // server stays unreachable the run ends with that one message.
  if (cbbIdioma->count() == 0 && !CarregaIdiomas()) return;
  std::vector<std::string> paths;
  paths.reserve(std::size_t(lsbSelec->count()));
  for (int i = 0; i < lsbSelec->count(); ++i) paths.push_back(PathOf(lsbSelec->item(i)));
  const std::vector<run::UnstorableFile> unstorable = run::FindUnstorable(paths);
  if (run::CheckWidths(unstorable) == run::WidthGate::Closed) {
    if (dados_->Services().dialogs->ShowDetailed(msgPadrao.Msg("ARQ_LARGO") + "\n" + msgPadrao.Msg("ARQ_LARGO_CONT"),
                                                 run::UnstorableList(unstorable), shared::MsgType::Warning,
                                                 shared::MsgButtons::YesNo) != shared::MsgAnswer::Yes)
      return;
    for (const run::UnstorableFile& f : unstorable)
      for (int i = 0; i < lsbSelec->count(); ++i)
        if (PathOf(lsbSelec->item(i)) == f.path) {
          delete lsbSelec->takeItem(i);
          break;
        }
    AplicaRegraImportar();
    paths = run::WithoutUnstorable(paths, unstorable);
    if (paths.empty()) return;
  }

  ScreenRunHost host(*this);
  report::ReportImporter reports;
  const DateTimeText dates;
  store::PerTextChannel channel(*dados_, dates);  // the screen's calls, text by text
  run::RunRequest request{*dados_,
                          channel,
                          msgPadrao,
                          std::move(paths),
                          cbbIdioma->currentText().toStdString(),
                          stIdiLeDfm,
                          boCancelar,
                          dates,
                          reports,
                          run::ReportCancel::BeforeNextText};
  run::ImportRun(request, host);
}

}  // namespace trd::screen
