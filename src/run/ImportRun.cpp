#include "ImportRun.h"

#include <cstdio>
#include <deque>
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
#include "shared/Causes.h"
#include "shared/Services.h"

namespace trd::run {
namespace {

using Clock = std::chrono::steady_clock;

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

enum class FailureShown { No, Yes };

struct Failure {
  std::string path;
  std::string cause;
  FailureShown shown = FailureShown::No;
  bool server_unreachable = false;
};

// Reads one file of the loop. Returns whether it was read.
enum class FileRead { Read, NotRead };

// Counts the texts of a form file: a scan that sends nothing, shows nothing
// and lets no event run.
class TextCounter final : public protocol::TextSink {
 public:
  void Take(const protocol::FoundText&, protocol::TextWatcher&) override { ++count; }
  int count = 0;
};

// The channel as the scanners see it when the host follows the texts: each
// text taken is told to the host.
class TextsReadSink final : public protocol::TextSink {
 public:
  TextsReadSink(protocol::TextSink& channel, RunHost& host) : channel_(channel), host_(host) {}
  void Start(int total) {
    read_ = 0;
    total_ = total;
    host_.TextsRead(0, total_);
  }
  void Take(const protocol::FoundText& text, protocol::TextWatcher& watcher) override {
    channel_.Take(text, watcher);
    host_.TextsRead(++read_, total_);
  }

 private:
  protocol::TextSink& channel_;
  RunHost& host_;
  int read_ = 0;
  int total_ = 0;
};

// The scanners' status sink: none for a host that does not show the line,
// so that none is built.
shared::StatusSink StatusOf(RunHost& host) {
  if (!host.ShowsStatus()) return {};
  return [&host](const std::string& s) { host.Status(s); };
}

class FileLoop {
 public:
  // The language box text was checked before the loop (ReadSelection).
  FileLoop(const RunRequest& request, RunHost& host)
      : request_(request),
        host_(host),
        texts_read_(request.channel, host),
        follow_texts_(host.ProgressBy() == ProgressUnit::Texts),
        scan_{follow_texts_ ? static_cast<protocol::TextSink&>(texts_read_) : request.channel, request.cancel,
              request.language, request.dates, StatusOf(host), [&host] { host.ProcessEvents(); }},
        report_{request.channel,
                request.store.Services(),
                request.messages,
                report::LanguageCheck::Known,
                request.language,
                StatusOf(host),
                [&host] { host.ProcessEvents(); },
                [&host] { host.FocusLanguageBox(); }} {
    if (request.report_cancel == ReportCancel::BeforeNextText)
      report_.stop_requested = [&cancel = request.cancel] { return cancel; };
  }

  // Reads the file, then tells the channel it is done (or failed).
  FileRead ReadFile(int index, const std::string& path) {
    FileRead read;
    try {
      read = ReadTexts(index, path);
    } catch (...) {
      request_.channel.FileFailed();
      throw;
    }
    request_.channel.FileDone();
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
        if (follow_texts_) texts_read_.Start(CountTexts(lines, path));
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

  int CountTexts(const std::vector<std::string>& lines, const std::string& path) const {
    TextCounter counter;
    static const bool kNeverCancelled = false;
    extract::Import({counter, kNeverCancelled, request_.language, request_.dates, {}, {}}, lines,
                    protocol::ProgramCode(path));
    return counter.count;
  }

  const RunRequest& request_;
  RunHost& host_;
  TextsReadSink texts_read_;
  const bool follow_texts_;
  extract::ScanEnvironment scan_;
  report::ReportRun report_;
  std::string bytes_;            // the file being read
  form::FormTextBuffer lines_;  // its form text, reused for every form file
};

// A file's failure as the run reports it.
Failure FailureOf(const std::exception_ptr& fate, const std::string& path) {
  try {
    std::rethrow_exception(fate);
  } catch (const shared::Abort&) {
    return Failure{path, "operation aborted", FailureShown::Yes};  // MensErro has shown it
  } catch (const std::exception& e) {
    return Failure{path, shared::CauseText(e, path), FailureShown::No,
                   dynamic_cast<const ConnectionError*>(&e) != nullptr};
  }
}

void ShowClosing(shared::Dialogs& dialogs, const shared::TMessages& messages, const Summary& summary,
                 const std::optional<Failure>& failure) {
  const std::string details = SummaryText(summary);
  switch (summary.outcome) {
    case Outcome::Completed:
      dialogs.ShowDetailed(messages.Msg("sucessoGeral"), details, shared::MsgType::Confirmation,
                           shared::MsgButtons::Ok);
      break;
    case Outcome::Failed:
      if (summary.failures.size() > 1 && !(failure && failure->shown == FailureShown::Yes))
        dialogs.ShowDetailed(
            shared::FormatMessage(messages.Msg("Erro_Arquivos"), {std::to_string(summary.failures.size())}),
            details, shared::MsgType::Error, shared::MsgButtons::Ok);
      else if (failure && failure->shown == FailureShown::No)
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
  // Textos vistos = Já gravados + Novos + Substituídos + Ignorados.
  line("Textos vistos", s.stats.texts_seen);
  line("Já gravados", s.stats.already_stored);
  line("Novos", s.stats.NewKeys());
  line("Substituídos", s.stats.replaced);
  line("Ignorados (não traduzíveis ou vazios)", s.stats.skipped);
  line("Traduções reaproveitadas", s.stats.translations_reused);
  out += "Tempo decorrido: " + seconds + " s\n";
  if (s.files_left_out > 0) line("Arquivos deixados de fora (nome longo demais)", s.files_left_out);
  if (!s.failures.empty()) {
    out += "Erros, por arquivo:\n";
    for (const FileFailure& f : s.failures) out += "  " + text::PathText(f.path) + ": " + f.cause + "\n";
  }
  return out;
}

const shared::TMessages& RunMessages() {
  static const shared::TMessages messages({
      "Idi_Inv|Idioma inválido.",
      "CONF_SUBS|A Tabela de tradução possui alguns registros. Serão adicionados novos registros "
      "durante a leitura dos dfm´s e relatórios. Confirma a operação?",
      "sucessoGeral|Todos os arquivos foram importados com sucesso!",
      "Erro_Import|Erro ao importar o arquivo %s: %s",
      "Erro_Arquivos|%s arquivos não puderam ser importados; os demais foram importados. Veja nos detalhes "
      "cada arquivo e a causa.",
      "Imp_Canc|Importação cancelada pelo usuário.",
      "ARQ_DUP|Existem arquivos duplicado para o diretório informado. Faça novamente a leitura dos "
      "arquivos, após retirar o(s) arquivo(s) duplicados.",
      "ARQ_LARGO|Há arquivos selecionados com o nome longo demais para a tabela de tradução: nenhum texto "
      "deles pode ser gravado.",
      "ARQ_LARGO_CONT|Continuar a importação sem esses arquivos?",
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
  if (request.channel.Effect() == store::ChannelEffect::Writes &&
      request.messages.ShowMsg(*services.dialogs, "CONF_SUBS", shared::MsgType::Confirmation,
                               shared::MsgButtons::YesNo) != shared::MsgAnswer::Yes)
    return summary;

  store.stats = {};
  host.SetProgressMax(count);
  RunningState running(host);
  host.SetProgressPosition(0);
  const Clock::time_point start = Clock::now();

  std::optional<Failure> failure;  // the first
  {
    shared::QuietResultCheck quiet(services);  // the closing message reports a failure
    FileLoop loop(request, host);
    request.channel.Start(request.on_failure == FileFailurePolicy::NextFile ? store::AfterFailedFile::NextFile
                                                                            : store::AfterFailedFile::Stop);
    enum class Go { On, End };
    auto failed = [&](const Failure& f) {
      summary.failures.push_back({f.path, f.cause});
      if (!failure) failure = f;
      // Past an unreachable server every file would fail alike; a failure
      // MensErro has shown asked the user already.
      if (request.on_failure == FileFailurePolicy::EndRun || f.shown == FailureShown::Yes || f.server_unreachable) {
        failure = f;
        return Go::End;
      }
      return Go::On;
    };
    // The files done, in order, until the channel settles them.
    struct Done {
      std::string path;
      FileRead read;
    };
    std::deque<Done> done;
    auto settle = [&] {
      for (const store::FileFate& fate : request.channel.TakeSettled()) {
        if (done.empty()) break;  // never: a channel settles only the files it was given
        const Done file = std::move(done.front());
        done.pop_front();
        if (!fate) {
          if (file.read == FileRead::Read) ++summary.files_read;
        } else if (failed(FailureOf(fate, file.path)) == Go::End) {
          return Go::End;
        }
      }
      return Go::On;
    };
    Go go = Go::On;
    for (int i = 0; i < count && !request.cancel && go == Go::On; ++i) {
      const std::string& path = request.paths[std::size_t(i)];
      std::exception_ptr read_failure;
      try {
        done.push_back({path, loop.ReadFile(i, path)});
      } catch (...) {
        read_failure = std::current_exception();
      }
      if (read_failure) {
        // The files done before go out first: their failures come first, and
        // one that ends the run ends it before this file was read.
        request.channel.Flush();
        go = settle();
        if (go == Go::On) go = failed(FailureOf(read_failure, path));
      } else {
        go = settle();
      }
      if (go == Go::On) {
        host.SetProgressPosition(i + 1);
        host.ProcessEvents();
      }
    }
    if (go == Go::On) {
      request.channel.Flush();
      go = settle();
    }
    if (go == Go::End) request.channel.Drop();
  }

  summary.outcome = failure ? Outcome::Failed : request.cancel ? Outcome::Cancelled : Outcome::Completed;
  summary.files_failed = int(summary.failures.size());
  summary.files_not_read = count - summary.files_read - summary.files_failed;
  summary.stats = store.stats;
  summary.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  if (failure) {
    summary.failed_file = summary.failures.front().path;
    summary.failure = summary.failures.front().cause;
    summary.server_unreachable = failure->server_unreachable;
  }

  running.Leave();
  ShowClosing(*services.dialogs, request.messages, summary, failure);
  host.SetProgressPosition(0);
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
    version.SetField(protocol::VersionFields()[protocol::kVersionStamp].name, DateTime::Now().DateOnly());
  } catch (...) {
    version.Cancel();
    throw;
  }
  version.Post();
  store.SendVersion();
}

std::unique_ptr<store::TextChannel> MakeChannel(RecordPath path, store::Store& store, const std::string& language,
                                                const DateTimeText& dates, store::DryRun::Observer dry_run_notes) {
  switch (path) {
    case RecordPath::PerText: return std::make_unique<store::PerTextChannel>(store, dates);
    case RecordPath::Batch:
      return std::make_unique<store::BatchChannel>(store, language, store::PartSize{}, 1, store::Sending::Ahead);
    case RecordPath::TextCall: return std::make_unique<store::TextCallChannel>(store, language, dates);
    case RecordPath::DryRun: return std::make_unique<store::DryRunChannel>(store, dates, std::move(dry_run_notes));
  }
  return nullptr;
}

Summary ImportRun(const RunRequest& request, RunHost& host) {
  if (request.paths.empty()) return {};
  Summary summary = ReadSelection(request, host);
  if (!summary.server_unreachable) StampVersion(request.store);
  return summary;
}

}  // namespace trd::run
