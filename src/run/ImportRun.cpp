#include "ImportRun.h"

#include <cstdio>
#include <exception>
#include <optional>

#include "extract/FormScanner.h"
#include "formfile/FormStream.h"
#include "platform/Errors.h"
#include "platform/Path.h"
#include "platform/SourceFile.h"
#include "platform/Text.h"
#include "protocol/Methods.h"
#include "protocol/Record.h"
#include "store/Languages.h"
#include "store/RecordBatch.h"
#include "shared/Services.h"

namespace trd::run {
namespace {

using Clock = std::chrono::steady_clock;

// The result check stays quiet while the run reports failures itself.
class QuietResultCheck {
 public:
  explicit QuietResultCheck(shared::Services& services) : services_(services), saved_(services.result_check) {
    services_.result_check = shared::ReportFailure::Silent;
  }
  ~QuietResultCheck() { services_.result_check = saved_; }
  QuietResultCheck(const QuietResultCheck&) = delete;
  QuietResultCheck& operator=(const QuietResultCheck&) = delete;

 private:
  shared::Services& services_;
  shared::ReportFailure saved_;
};

// The host's Running state: entered at construction, left once, by Leave()
// or, on an error path, by the destructor.
class RunningState {
 public:
  explicit RunningState(RunHost& host) : host_(host) { host_.EnterRunning(); }
  ~RunningState() {
    try {
      Leave();
    } catch (...) {  // already leaving by an error; that one goes on
    }
  }
  RunningState(const RunningState&) = delete;
  RunningState& operator=(const RunningState&) = delete;
  void Leave() {
    if (!active_) return;
    active_ = false;
    host_.LeaveRunning();
  }

 private:
  RunHost& host_;
  bool active_ = true;
};

// The staging tables of new records, open for one run: created cdsPropRel
// first, closed cdsPropProp first. A posted row stays in its table once the
// server has it; nothing reads it again, so the tables are emptied after
// every file and a run's memory does not grow with the size of the tree.
class StagingTables {
 public:
  explicit StagingTables(store::Store& store) : store_(store) { Open(); }
  ~StagingTables() { Close(); }
  StagingTables(const StagingTables&) = delete;
  StagingTables& operator=(const StagingTables&) = delete;
  void Close() {
    store_.cdsPropProp.Close();
    store_.cdsPropRel.Close();
  }
  void Empty() {
    Close();
    Open();
  }

 private:
  void Open() {
    store_.cdsPropRel.CreateDataSet();
    store_.cdsPropProp.CreateDataSet();
  }

  store::Store& store_;
};

// The store's record path for one run (Store::batch, Store::dry_run): set
// at construction, cleared on every way out.
class RecordPathScope {
 public:
  RecordPathScope(const RunRequest& request) : store_(request.store) {
    switch (request.record_path) {
      case RecordPath::PerText: break;
      case RecordPath::Batch:
        batch_.emplace(store_, request.language);
        store_.batch = &*batch_;
        break;
      case RecordPath::DryRun:
        dry_run_.emplace(store_, request.dry_run_notes);
        store_.dry_run = &*dry_run_;
        break;
    }
  }
  ~RecordPathScope() {
    store_.batch = nullptr;
    store_.dry_run = nullptr;
  }
  RecordPathScope(const RecordPathScope&) = delete;
  RecordPathScope& operator=(const RecordPathScope&) = delete;

  // After a file was read: its batch goes out.
  void FileRead() {
    if (batch_) batch_->Send();
  }
  // After a file failed while it was read: nothing of it goes out.
  void FileFailed() {
    if (batch_) batch_->Discard();
  }

 private:
  store::Store& store_;
  std::optional<store::RecordBatch> batch_;
  std::optional<store::DryRun> dry_run_;
};

// The cause of a failure without the "path: " that most messages start with.
std::string CauseOf(std::string_view what, std::string_view path) {
  if (what.size() > path.size() + 2 && what.substr(0, path.size()) == path &&
      what.substr(path.size(), 2) == ": ")
    what.remove_prefix(path.size() + 2);
  return std::string(what);
}

enum class FailureShown { No, Yes };

struct Failure {
  std::string path;
  std::string cause;
  FailureShown shown = FailureShown::No;
};

// Reads one file of the loop. Returns whether it was read.
enum class FileRead { Read, NotRead };

class FileLoop {
 public:
  FileLoop(const RunRequest& request, RunHost& host)
      : request_(request),
        host_(host),
        scan_{request.store, request.cancel, request.language, request.dates,
              [&host](const std::string& s) { host.Status(s); }, [&host] { host.ProcessEvents(); }},
        report_{request.store,
                request.messages,
                request.language_box_text,
                request.language,
                request.dates,
                [&host](const std::string& s) { host.Status(s); },
                [&host] { host.ProcessEvents(); },
                [&host] { host.FocusLanguageBox(); }} {
    if (request.report_cancel == ReportCancel::BeforeNextText)
      report_.stop_requested = [&cancel = request.cancel] { return cancel; };
  }

  // Reads the file and sends what the record path has gathered of it.
  FileRead ReadFile(int index, const std::string& path, RecordPathScope& path_scope) {
    FileRead read;
    try {
      read = ReadTexts(index, path);
    } catch (...) {
      path_scope.FileFailed();
      throw;
    }
    path_scope.FileRead();
    return read;
  }

 private:
  FileRead ReadTexts(int index, const std::string& path) {
    const FileKind kind = KindOf(path);
    host_.FileStarting(index, path, kind);
    switch (kind) {
      case FileKind::Form: {
        ReadSourceFile(path, bytes_);
        const std::vector<std::string>& lines = form::ObjectResourceToText(bytes_, path, lines_);
        extract::Import(scan_, lines, protocol::ProgramCode(path));
        return FileRead::Read;
      }
      case FileKind::Report:
        return request_.reports.ImportRel(report_, path) == report::ReportOutcome::Read ? FileRead::Read
                                                                                       : FileRead::NotRead;
      case FileKind::Other:
        break;
    }
    return FileRead::NotRead;
  }

  const RunRequest& request_;
  RunHost& host_;
  extract::ScanEnvironment scan_;
  report::ReportRun report_;
  std::string bytes_;            // the file being read
  form::FormTextBuffer lines_;  // its form text, reused for every form file
};

void ShowClosing(shared::Dialogs& dialogs, const shared::TMessages& messages, const Summary& summary,
                 const std::optional<Failure>& failure) {
  const std::string details = SummaryText(summary);
  switch (summary.outcome) {
    case Outcome::Completed:
      dialogs.ShowDetailed(messages.Msg("sucessoGeral"), details, shared::MsgType::Confirmation,
                           shared::MsgButtons::Ok);
      break;
    case Outcome::Failed:
      if (failure && failure->shown == FailureShown::No)
        dialogs.ShowDetailed(
            shared::FormatMessage(messages.Msg("Erro_Import"), {text::PathText(failure->path), failure->cause}),
            details, shared::MsgType::Error, shared::MsgButtons::Ok);
      break;
    case Outcome::Cancelled:
      dialogs.ShowDetailed(messages.Msg("Imp_Canc"), details, shared::MsgType::Information,
                           shared::MsgButtons::Ok);
      break;
    case Outcome::Declined:
      break;
  }
}

}  // namespace

FileKind KindOf(std::string_view path) {
  const std::string_view name = FileName(path);
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return FileKind::Other;
  std::string ext = text::UpperAscii(name.substr(dot));
  if (ext == ".DFM") return FileKind::Form;
  if (ext == ".QR2") return FileKind::Report;
  return FileKind::Other;
}

std::string SummaryText(const Summary& s) {
  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, "%.2f", double(s.elapsed.count()) / 1000.0);
  std::string seconds = elapsed;
  if (std::size_t dot = seconds.find('.'); dot != std::string::npos) seconds[dot] = ',';
  std::string out;
  auto line = [&out](const char* label, long n) { out += label + std::string(": ") + std::to_string(n) + "\n"; };
  line("Arquivos selecionados", s.files_selected);
  line("Arquivos lidos", s.files_read);
  line("Arquivos não lidos", s.files_not_read);
  line("Arquivos com erro", s.files_failed);
  line("Textos vistos", s.stats.texts_seen);
  line("Já gravados", s.stats.already_stored);
  line("Novos", s.stats.created);
  line("Substituídos", s.stats.replaced);
  line("Traduções reaproveitadas", s.stats.translations_reused);
  out += "Tempo decorrido: " + seconds + " s\n";
  return out;
}

const shared::TMessages& RunMessages() {
  static const shared::TMessages messages({
      "Idi_Inv|Idioma inválido.",
      "CONF_SUBS|A Tabela de tradução possui alguns registros. Serão adicionados novos registros "
      "durante a leitura dos dfm´s e relatórios. Confirma a operação?",
      "sucessoGeral|Todos os arquivos foram importados com sucesso!",
      "Erro_Import|Erro ao importar o arquivo %s: %s",
      "Imp_Canc|Importação cancelada pelo usuário.",
      "ARQ_DUP|Existem arquivos duplicado para o diretório informado. Faça novamente a leitura dos "
      "arquivos, após retirar o(s) arquivo(s) duplicados.",
  });
  return messages;
}

Summary ReadSelection(const RunRequest& request, RunHost& host) {
  store::Store& store = request.store;
  shared::Services& services = store.Services();
  if (store::CheckLanguage(store.cdsIdiLeDfm, request.language_box_text) == store::LanguageCheck::Unknown) {
    host.FocusLanguageBox();
    services.MensErro(request.messages.Msg("Idi_Inv"), true);
  }
  Summary summary;
  const int count = int(request.paths.size());
  summary.files_selected = count;
  summary.files_not_read = count;
  host.SetProgressMax(0);
  if (request.record_path != RecordPath::DryRun &&
      request.messages.ShowMsg(*services.dialogs, "CONF_SUBS", shared::MsgType::Confirmation,
                               shared::MsgButtons::YesNo) != shared::MsgAnswer::Yes)
    return summary;

  StagingTables tables(store);
  store.stats = {};
  host.SetProgressMax(count);
  RunningState running(host);
  host.SetProgressPosition(0);
  const Clock::time_point start = Clock::now();

  std::optional<Failure> failure;
  {
    QuietResultCheck quiet(services);
    RecordPathScope path_scope(request);
    FileLoop loop(request, host);
    for (int i = 0; i < count && !request.cancel; ++i) {
      const std::string& path = request.paths[std::size_t(i)];
      try {
        if (loop.ReadFile(i, path, path_scope) == FileRead::Read) ++summary.files_read;
        tables.Empty();
        host.SetProgressPosition(i + 1);
        host.ProcessEvents();
      } catch (const shared::Abort&) {
        failure = Failure{path, "operation aborted", FailureShown::Yes};  // MensErro has shown it
        break;
      } catch (const std::exception& e) {
        failure = Failure{path, CauseOf(e.what(), path), FailureShown::No};
        break;
      }
    }
  }

  summary.outcome = failure ? Outcome::Failed : request.cancel ? Outcome::Cancelled : Outcome::Completed;
  summary.files_failed = failure ? 1 : 0;
  summary.files_not_read = count - summary.files_read - summary.files_failed;
  summary.stats = store.stats;
  summary.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  if (failure) {
    summary.failed_file = failure->path;
    summary.failure = failure->cause;
  }

  running.Leave();
  ShowClosing(*services.dialogs, request.messages, summary, failure);
  host.SetProgressPosition(0);
  tables.Close();
  return summary;
}

void StampVersion(store::Store& store) {
  {
    shared::BusyGuard busy_off(store.Services());
    store::Lookup(store.Services(), store.cdsVersao, store.NetTradRelDfm, protocol::kGetVersao, {});
  }
  DataSet& version = store.cdsVersao;
  if (version.IsEmpty())
    version.Append();
  else
    version.Edit();
  try {
    version.SetField("DTGERARQTRAD", DateTime::Now().DateOnly());
  } catch (...) {
    version.Cancel();
    throw;
  }
  version.Post();
}

Summary ImportRun(const RunRequest& request, RunHost& host) {
  Summary summary = ReadSelection(request, host);
  StampVersion(request.store);
  return summary;
}

}  // namespace trd::run
