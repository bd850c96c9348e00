// trd retire --lang CODE DIR [--apply] [--json] [--server URL | --db URL]
//
// The records of a language whose text is gone from the sources: DIR's
// source subtrees are discovered and read as `trd harvest` reads them
// (run/FileDiscovery.h, run/ImportRun.h), but the texts only have their
// keys noted (nothing is looked up or written per text); then every record
// of the language is compared with them (cli/Vanished.h, VanishedScope::
// EveryProgram). A record is gone when no file of its program is in the
// tree, when its program's files hold no longer its form, or when its form
// was read without its text. Only a reading of every file in full judges:
// a file that fails, or Ctrl-C, retires nothing (exit status 1 or 130).
//
// By default a dry run: the records are listed and nothing changes. With
// --apply they are removed in one transaction (RetRegistros, the harvest
// permission); each still holding the source text listed is removed, one
// stored again meanwhile is kept. Their translations stay in the
// translation memory, so a text that comes back takes its translation at
// the next harvest.
//
// Output (standard output): "Sumidos: N" with the records, the count per
// program and why, then "Retirados: N" (and "Mantidos" and "Já ausentes"
// when some were) or the dry run's line; with --json one object:
// "language", "dry_run", "files_read", "programs", "vanished",
// "vanished_records" ([{key, source, why: program|form|text}]), "by_program"
// ([{program, records, program_gone, form_gone, text_gone}]) and, with
// --apply, "retired", "kept_changed", "missing".
// Exit status: 0 done; 1 failure (no file in DIR, a file not read, the
// server); 2 unknown language; 130 cancelled.
#include <iostream>
#include <map>
#include <memory>
#include <string>

#include "Commands.h"
#include "ExchangeClient.h"
#include "HarvestConsole.h"
#include "HarvestInterrupt.h"
#include "ServerChoice.h"
#include "Vanished.h"
#include "exchange/KeyText.h"
#include "platform/DateTimeText.h"
#include "platform/Text.h"
#include "protocol/Methods.h"
#include "report/ReportImport.h"
#include "run/ImportRun.h"
#include "run/SelectionLists.h"
#include "shared/Services.h"
#include "store/Languages.h"
#include "store/Store.h"

namespace trd::cli {
namespace {

using namespace protocol;

enum ExitStatus { kDone = 0, kFailed, kUnknownLanguage, kCancelled = kCancelledStatus };

struct RetireOptions {
  std::string directory;
  std::string language;
  ServerOptions servers;
  bool apply = false;
  bool json = false;
};

// The reading's messages on standard error start with this: the reading
// itself writes nothing, whatever --apply does afterwards.
constexpr std::string_view kReadingPrefix = "Leitura para retirada, nada foi gravado na leitura: ";

// A channel that only notes the keys of the texts (declined ones too, as a
// harvest's requests carry them): the reading of a retirement.
class KeyChannel final : public store::TextChannel {
 public:
  KeyChannel(SeenKeys& seen, std::string language) : seen_(seen), language_(std::move(language)) {}
  void Take(const FoundText& text, TextWatcher&) override {
    RecordKey key = text.key;
    key.language = language_;
    seen_.Note(key);
  }
  store::ChannelEffect Effect() const override { return store::ChannelEffect::WritesNothing; }

 private:
  SeenKeys& seen_;
  std::string language_;
};

std::string_view WhyName(GoneWhy why) {
  switch (why) {
    case GoneWhy::Program: return "program";
    case GoneWhy::Form: return "form";
    case GoneWhy::Text: return "text";
  }
  return "";
}

struct ProgramCount {
  std::size_t records = 0;
  std::size_t by_why[3] = {0, 0, 0};
};

struct Outcomes {
  std::size_t retired = 0, changed = 0, missing = 0;
};

Outcomes Apply(const ServerChoice& server, const std::string& language, const Vanished& v) {
  Packet records{RetireFields(), {}};
  records.rows.reserve(v.records.size());
  for (const VanishedRecord& r : v.records)
    records.rows.push_back({r.key.program, r.key.form, r.key.component, r.key.property, r.key.number,
                            r.source_null ? FieldValue{} : FieldValue{r.source}});
  Outcomes o;
  if (records.rows.empty()) return o;
  ExchangeClient client(server);
  for (const Row& row : client.Retire(language, std::move(records)).rows) {
    const auto* name = std::get_if<std::string>(&row.at(0));
    const auto outcome = name ? ParseRetireOutcome(*name) : std::nullopt;
    if (!outcome) throw ProtocolError(std::string(kRetRegistros) + " answered an unknown outcome");
    switch (*outcome) {
      case RetireOutcome::Retired: ++o.retired; break;
      case RetireOutcome::Changed: ++o.changed; break;
      case RetireOutcome::Missing: ++o.missing; break;
    }
  }
  return o;
}

void Print(const RetireOptions& options, const std::string& language, const run::Summary& summary,
           const Vanished& v, const Outcomes& done) {
  std::map<std::string, ProgramCount> by_program;
  for (const VanishedRecord& r : v.records) {
    ProgramCount& c = by_program[r.key.program];
    ++c.records;
    ++c.by_why[int(r.why)];
  }
  if (options.json) {
    nlohmann::ordered_json j;
    j["language"] = language;
    j["dry_run"] = !options.apply;
    j["files_read"] = summary.files_read;
    j["programs"] = v.programs;
    AddVanished(j, v, true);
    for (std::size_t i = 0; i < v.records.size(); ++i) j["vanished_records"][i]["why"] = WhyName(v.records[i].why);
    auto programs = nlohmann::ordered_json::array();
    for (const auto& [program, c] : by_program)
      programs.push_back({{"program", program},
                          {"records", c.records},
                          {"program_gone", c.by_why[int(GoneWhy::Program)]},
                          {"form_gone", c.by_why[int(GoneWhy::Form)]},
                          {"text_gone", c.by_why[int(GoneWhy::Text)]}});
    j["by_program"] = std::move(programs);
    if (options.apply) {
      j["retired"] = done.retired;
      j["kept_changed"] = done.changed;
      j["missing"] = done.missing;
    }
    std::cout << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << std::endl;
    return;
  }
  std::cout << "Arquivos lidos: " << summary.files_read << "\n";
  std::cout << "Programas comparados: " << v.programs << "\n";
  PrintVanished(std::cout, v, true);
  for (const auto& [program, c] : by_program) {
    std::cout << "  " << program << ": " << c.records;
    const char* names[] = {"programa sem arquivo", "formulário ausente", "texto sumido"};
    std::string why;
    for (int w = 0; w < 3; ++w)
      if (c.by_why[w]) why += (why.empty() ? "" : ", ") + std::to_string(c.by_why[w]) + " " + names[w];
    std::cout << " (" << why << ")\n";
  }
  if (!options.apply) {
    std::cout << "Simulação, nada foi retirado (--apply retira)\n";
  } else {
    std::cout << "Retirados: " << done.retired << "\n";
    if (done.changed) std::cout << "Mantidos (gravados de novo com outro texto): " << done.changed << "\n";
    if (done.missing) std::cout << "Já ausentes: " << done.missing << "\n";
  }
  std::cout.flush();
}

int RunRetire(const RetireOptions& options) {
  run::TreeSelection selection = run::SelectSourceTree(options.directory);
  if (selection.paths.empty()) {
    std::cerr << "trd retire: no form or report files in the source subtrees of " << options.directory << "\n";
    return kFailed;
  }
  const ServerChoice server(options.servers);
  shared::Services services;
  SeenKeys seen;
  store::Store store(services, server.Transports());
  auto console = std::make_shared<Console>(store, false, kReadingPrefix);
  services.dialogs = console;
  store.OpenConnections(server.Address());
  store::Lookup(services, store.cdsIdiLeDfm, store.NetTradRelDfm, kGetIdiLeDfm, {});

  const std::string box = store::BoxTextForCode(store.cdsIdiLeDfm, options.language);
  const std::string language = store::LanguageCode(box);
  report::ReportImporter reports;
  const DateTimeText dates;
  KeyChannel channel(seen, language);
  run::RunRequest request{store, channel, run::RunMessages(), std::move(selection.paths), box,   language,
                          console->cancel, dates, reports, run::ReportCancel::BeforeNextText};
  run::Summary summary;
  Vanished vanished;
  Outcomes done;
  {
    CancelWatchdog watchdog;
    try {
      summary = run::ReadSelection(request, *console);
    } catch (const shared::Abort&) {
      return kUnknownLanguage;  // "Idioma inválido." is shown
    }
    store.CloseConnections();
    if (summary.outcome == run::Outcome::Cancelled) return kCancelled;
    vanished = FindVanished(server, seen, summary, request.paths, language, true, VanishedScope::EveryProgram);
    if (!vanished.computed) {
      std::cerr << "trd retire: nothing retired: " << vanished.why_not << "\n";
      return kFailed;
    }
    if (options.apply) done = Apply(server, language, vanished);
  }
  Print(options, language, summary, vanished, done);
  return kDone;
}

}  // namespace

void AddRetire(CLI::App& app, int& exit_code) {
  auto options = std::make_shared<RetireOptions>();
  CLI::App* cmd = app.add_subcommand(
      "retire", "list (and with --apply remove) the records whose text is gone from a source tree");
  cmd->add_option("DIR", options->directory, "source directory (its Cli/Src, Rel, Cli/Std/... subtrees are read)")
      ->required()
      ->check(CLI::ExistingDirectory);
  cmd->add_option("--lang", options->language, "language of the records: a code such as POR")->required();
  AddServerOptions(cmd, options->servers);
  cmd->add_flag("--apply", options->apply,
                "remove the records listed, in one transaction (their translations stay in the memory)");
  cmd->add_flag("--json", options->json, "print one JSON object");
  cmd->footer(
      "A dry run unless --apply is given. Without --server or --db: TRD_SERVER when set, else --db var/trd.sqlite. "
      "Exit status: 0 done, 1 error (nothing retired), 2 unknown language, 130 cancelled (Ctrl-C).");
  cmd->callback([options, &exit_code] {
    try {
      exit_code = RunRetire(*options);
    } catch (const std::exception& e) {
      std::cerr << "trd retire: " << e.what() << "\n";
      exit_code = kFailed;
    }
  });
}

}  // namespace trd::cli
