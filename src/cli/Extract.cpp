// trd extract [--lang CODE] FILE...: imports form and report files into an
// empty translation store and prints what the store then holds.
//
// The store is the real translation server on a private in-memory database,
// reached through the in-process transport, so every record passes the same
// look-ups and transfers as in a run of the screen. Files are read in the
// order given. A file that starts with the report signature is a report file
// and goes through the report import as a run reads it (its language check
// included: CODE must name a language of the server); one named *.qr2
// without it is not a report ("Nao_Import" on standard error, nothing
// read). Every other file is a form file, whose program code is its file
// name up to its first ".". A file that cannot be read or imported is
// reported on standard error (the records it created before the failure
// stay) and the next file is read; the exit status is then 1.
//
// Output: every record of the translation table in creation order, one JSON
// object per line with the keys CDPROGRAMA, NMFORMULARIO, NMCOMPONENTE,
// NMPROPRIEDADE, NRVALORPROP (integer), IDSITTRADUCAO, STVALORPROP,
// STAGRVALPROP, IDIDIOMA, DTULTATUTRAD (ISO 8601), in this order.
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Commands.h"
#include "InProcessServer.h"
#include "extract/FormScanner.h"
#include "formfile/FormStream.h"
#include "platform/DateTimeText.h"
#include "platform/Errors.h"
#include "platform/SourceFile.h"
#include "protocol/Methods.h"
#include "protocol/Record.h"
#include "report/ReportFile.h"
#include "report/ReportImport.h"
#include "run/ImportRun.h"
#include "server/Schema.h"
#include "server/Service.h"
#include "store/Languages.h"
#include "store/Store.h"

namespace trd::cli {
namespace {

struct ExtractOptions {
  std::string language = "POR";
  std::vector<std::string> files;
};

// A field's value in the output: text as it is, the number as an integer,
// the time in ISO 8601; null as null.
nlohmann::ordered_json Json(const FieldValue& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* n = std::get_if<double>(&v)) return std::int64_t(*n);
  if (const auto* t = std::get_if<DateTime>(&v)) return t->ToIso();
  return nullptr;
}

// The translation table in creation order, read through the storage behind
// the service (the server's methods only look records up by key or value).
void PrintRecords(server::Service& service, std::ostream& out) {
  const server::TableDef& table = server::TranslationTable();
  std::vector<FieldType> types;
  for (const FieldDef& f : table.fields) types.push_back(f.type);
  auto session = service.Storage().Acquire();
  // Rows of the in-memory SQLite table keep their insertion order in rowid.
  std::vector<Row> rows = session->Query(
      "SELECT " + protocol::ColumnList(table.fields) + " FROM " + table.name + " ORDER BY rowid", {}, types);
  // Record order, but the time last.
  static const server::RecordField kOrder[] = {server::kCdPrograma,    server::kNmFormulario,
                                               server::kNmComponente,  server::kNmPropriedade,
                                               server::kNrValorProp,   server::kIdSitTraducao,
                                               server::kStValorProp,   server::kStAgrValProp,
                                               server::kIdIdioma,      server::kDtUltAtuTrad};
  for (const Row& r : rows) {
    nlohmann::ordered_json j;
    for (server::RecordField f : kOrder) j[protocol::FieldName(f)] = Json(r[f]);
    out << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
  }
}

int RunExtract(const ExtractOptions& options) {
  auto service = server::Service::Open(":memory:");
  InProcessServer in_process(service);
  shared::Services services;
  store::Store store(services, in_process.Transports());
  store.cdsPropProp.CreateDataSet();
  store.cdsPropRel.CreateDataSet();
  store::Lookup(services, store.cdsIdiLeDfm, store.NetTradRelDfm, protocol::kGetIdiLeDfm, {});

  const bool cancel = false;
  const DateTimeText dates;
  extract::ScanEnvironment env{store, cancel, options.language, dates, {}, {}};
  report::ReportImporter reports;
  const report::ReportRun report_run{store, run::RunMessages(),
                                     store::BoxTextForCode(store.cdsIdiLeDfm, options.language),
                                     options.language, dates, {}, {}, {}};

  int status = 0;
  for (const std::string& path : options.files) {
    try {
      std::string bytes = ReadSourceFile(path);
      if (report::ReadSignature(bytes) == report::kReportFileID || run::KindOf(path) == run::FileKind::Report) {
        if (reports.ImportRel(report_run, path) == report::ReportOutcome::NotAReport) status = 1;
        continue;
      }
      std::vector<std::string> lines = form::ObjectResourceToText(bytes, path);
      extract::Import(env, lines, protocol::ProgramCode(path));
    } catch (const std::exception& e) {
      std::string what = e.what();
      // Form-file errors already name the file.
      if (what.rfind(path, 0) != 0) what = path + ": " + what;
      std::cerr << "trd extract: " << what << "\n";
      status = 1;
    }
  }
  PrintRecords(*service, std::cout);
  std::cout.flush();
  return status;
}

}  // namespace

void AddExtract(CLI::App& app, int& exit_code) {
  auto options = std::make_shared<ExtractOptions>();
  CLI::App* cmd = app.add_subcommand(
      "extract",
      "import form and report files into an empty in-memory store and print its records as JSON lines");
  cmd->add_option("--lang", options->language, "language code of the run (three characters)")
      ->capture_default_str()
      ->check([](const std::string& s) {
        return s.size() == 3 ? std::string()
                             : std::string("the language code has three characters");
      });
  cmd->add_option("FILE", options->files,
                  "form files (*.dfm, binary or text) and report files (*.qr2), read in this order")
      ->required();
  cmd->callback([options, &exit_code] { exit_code = RunExtract(*options); });
}

}  // namespace trd::cli
