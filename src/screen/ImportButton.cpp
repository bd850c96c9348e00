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
// the scanners offer them once per text, the screen lets them run at screen
// rate; a report stops before its next text too), lblStatus, lblArquivo
// ("Arquivo n de N: NOME"), pgbProgresso (moved by the texts read of a form
// file) and a RunScope for the Running state. The texts take the batch path
// (store/TextChannels.h): a file's texts in one call, a large file's in
// parts of a few hundred, so that a cancel waits for one part at most; a
// cancel keeps the texts read before it, as the text-by-text calls did.
// Errors that leave the run (MensErro's Abort, a failed version stamp) go to
// RunHandler as for every handler.
#include <QCoreApplication>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QToolButton>
#include <algorithm>
#include <chrono>
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

// The texts of a large file go to the server in parts of this many (one
// round trip each): a cancel waits for one part at most.
constexpr std::size_t kPartTexts = 250;

// The screen's side of a run. The run reports every text; the screen shows
// what it reported last at screen rate: the status line, the file line and
// the bar are set, and pending events run, at most once per kFrame (and
// whenever the run lets events run after a pause longer than that), so
// that a run spends its time on the texts rather than on painting. The bar
// counts kStepsPerFile steps per file, moved by the texts read of a form
// file. The busy indicator, once a call of the run has put it up, stays up
// until the run ends (shared::HeldBusy) instead of coming and going with
// every file's call.
class ScreenRunHost final : public run::RunHost {
 public:
  ScreenRunHost(TfrmLeDfmRel& screen, shared::Services& services) : screen_(screen), services_(services) {}

  void FocusLanguageBox() override { screen_.cbbIdioma->setFocus(); }
  void SetProgressMax(int max) override {
    files_ = max;
    // A 0..0 range would make the bar show a busy animation; 0..1 at
    // position 0 shows it empty, as a maximum of 0 means.
    screen_.pgbProgresso->setRange(0, std::max(max, 1) * kStepsPerFile);
  }
  void SetProgressPosition(int position) override {
    position_ = position * kStepsPerFile;
    if (position == 0) screen_.pgbProgresso->setValue(0);  // the start and the end show at once
  }
  void EnterRunning() override {
    running_.emplace(screen_);
    busy_.emplace(services_);
  }
  void LeaveRunning() override {
    busy_.reset();
    running_.reset();
  }
  void FileStarting(int index, const std::string& path, run::FileKind) override {
    file_index_ = index;
    file_line_ = QStringLiteral("Arquivo %1 de %2: %3")
                     .arg(index + 1)
                     .arg(files_)
                     .arg(QString::fromStdString(text::PathText(FileName(path))));
  }
  run::ProgressUnit ProgressBy() const override { return run::ProgressUnit::Texts; }
  void TextsRead(int read, int total) override {
    position_ = file_index_ * kStepsPerFile + (total > 0 ? int(long(kStepsPerFile) * read / total) : 0);
  }
  void Status(const std::string& line) override { status_ = line; }
  void ProcessEvents() override {
    const Clock::time_point now = Clock::now();
    if (now - shown_ < kFrame) return;
    Show();
    QCoreApplication::processEvents();
    shown_ = Clock::now();
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr int kStepsPerFile = 1000;
  static constexpr std::chrono::milliseconds kFrame{40};

  void Show() {
    if (!running_) return;  // the run is over: RunScope cleared the lines
    if (screen_.lblArquivo->text() != file_line_) screen_.lblArquivo->setText(file_line_);
    if (status_ != shown_status_) {
      shown_status_ = status_;
      screen_.lblStatus->setText(QString::fromStdString(status_));
    }
    screen_.pgbProgresso->setValue(position_);
  }

  TfrmLeDfmRel& screen_;
  shared::Services& services_;
  std::optional<TfrmLeDfmRel::RunScope> running_;
  std::optional<shared::HeldBusy> busy_;
  int files_ = 0;
  int file_index_ = 0;
  int position_ = 0;
  QString file_line_;
  std::string status_, shown_status_;
  Clock::time_point shown_{};  // the first events run at once
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

  ScreenRunHost host(*this, dados_->Services());
  report::ReportImporter reports;
  const DateTimeText dates;
  // A file's texts in one call, or in parts of kPartTexts.
  store::BatchChannel channel(*dados_, stIdiLeDfm, store::PartSize{store::RecordBatch::kPartBytes, kPartTexts});
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
