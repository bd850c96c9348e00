// trd extract [--lang CODE] FILE...: reads form and report files into an
// empty translation table in memory and prints what the table then holds.
//
// No server, connection or database is involved: the scanners hand their
// texts to a table in memory (store/MemoryTable.h), which applies the record
// rule as the server's table would (a key that gets several texts keeps the
// last one; a key text longer than its column is refused). Files are read
// in the order given. A file that starts with the report signature is a
// report file and goes through the report import as a run reads it; one
// named *.qr2 without it is not a report ("Nao_Import" on standard error,
// nothing read). Every other file is a form file, whose program code is its
// file name up to its first ".". A file that cannot be read or imported is
// reported on standard error (the records it gave before the failure stay)
// and the next file is read; the exit status is then 1. CODE is any code of
// three characters: there is no language list to check it against.
//
// Output: every record of the table in creation order, one JSON object per
// line with the keys CDPROGRAMA, NMFORMULARIO, NMCOMPONENTE, NMPROPRIEDADE,
// NRVALORPROP (integer), IDSITTRADUCAO, STVALORPROP, STAGRVALPROP,
// IDIDIOMA, DTULTATUTRAD (ISO 8601), in this order.
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Commands.h"
#include "extract/FormScanner.h"
#include "formfile/FormStream.h"
#include "platform/DateTimeText.h"
#include "platform/Errors.h"
#include "platform/SourceFile.h"
#include "protocol/Record.h"
#include "report/ReportFile.h"
#include "report/ReportImport.h"
#include "run/ImportRun.h"
#include "shared/Services.h"
#include "store/MemoryTable.h"

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

// The records in creation order: record order, but the time last.
void PrintRecords(const store::MemoryTable& table, std::ostream& out) {
  using namespace protocol;
  static const RecordField kOrder[] = {kCdPrograma,   kNmFormulario, kNmComponente, kNmPropriedade, kNrValorProp,
                                       kIdSitTraducao, kStValorProp,  kStAgrValProp,  kIdIdioma,      kDtUltAtuTrad};
  for (const Row& r : table.Records()) {
    nlohmann::ordered_json j;
    for (RecordField f : kOrder) j[FieldName(f)] = Json(r[f]);
    out << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
  }
}

int RunExtract(const ExtractOptions& options) {
  store::MemoryTable table;
  shared::Services services;
  const bool cancel = false;
  const DateTimeText dates;
  extract::ScanEnvironment env{table, cancel, options.language, dates, {}, {}};
  report::ReportImporter reports;
  const report::ReportRun report_run{table, services, run::RunMessages(), report::LanguageCheck::Known,
                                     options.language, {}, {}, {}};

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
  PrintRecords(table, std::cout);
  std::cout.flush();
  return status;
}

}  // namespace

void AddExtract(CLI::App& app, int& exit_code) {
  auto options = std::make_shared<ExtractOptions>();
  CLI::App* cmd = app.add_subcommand(
      "extract",
      "read form and report files into an empty table in memory and print its records as JSON lines");
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
