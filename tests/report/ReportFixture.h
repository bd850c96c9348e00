// Report tests: report files made from report text in a private directory,
// and report imports against the real translation server on an in-memory
// database, text by text as the screen sends them. The in-process transport goes through a recording handler that
// notes every request before the service answers it, and can answer one
// chosen method with a failure instead.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "authoring/ReportWrite.h"
#include "platform/Connection.h"
#include "platform/Wire.h"
#include "protocol/Methods.h"
#include "protocol/Record.h"
#include "report/ReportFile.h"
#include "report/ReportImport.h"
#include "server/Service.h"
#include "shared/Services.h"
#include "store/Record.h"
#include "store/Languages.h"
#include "store/Store.h"
#include "store/TextChannels.h"
#include "support/StoredRecords.h"
#include "support/TempTree.h"

namespace trd::report::testing {

// A private temporary directory that also writes report files from report
// text.
class TempDir : public test::TempTree {
 public:
  TempDir() : TempTree("trd-report") {}
  // A report file built from report text.
  std::string WriteReport(const std::string& name, std::string_view text) const {
    return Write(name, ReportFromText(text, name));
  }
};

// Report text of a design report holding `body` in one band.
inline std::string Report(std::string_view body, std::string_view title = "'Relatório'") {
  std::string s = "object rptTeste: TDesignQuickReport\n";
  if (!title.empty()) s += "  ReportTitle = " + std::string(title) + "\n";
  s += "  object bndDetalhe: TQRBand\n";
  s += body;
  s += "\n  end\nend\n";
  return s;
}

struct RecordingDialogs : shared::Dialogs {
  struct Shown {
    std::string text;
    shared::MsgType type;
    shared::MsgButtons buttons;
  };
  std::vector<Shown> shown;
  shared::MsgAnswer Show(std::string_view text, shared::MsgType type,
                         shared::MsgButtons buttons) override {
    shown.push_back({std::string(text), type, buttons});
    return shared::MsgAnswer::Ok;
  }
};

struct RecordingBusy : shared::BusyIndicator {
  bool visible = false;
  void Show(void*, shared::ShowAviKind) override { visible = true; }
  void Hide() override { visible = false; }
};

using test::Stored;

class ImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    services.dialogs = dialogs;
    services.busy = busy;
    store::Lookup(services, store.cdsIdiLeDfm, store.NetTradRelDfm, "GetIdiLeDfm", {});
    calls.clear();
  }

  // The server's answer to one request, recorded first; fail_method is
  // refused instead.
  std::string Answer(std::string_view body) {
    wire::Request r = wire::DecodeRequest(body);
    calls.push_back(r);
    if (r.method == fail_method) return wire::EncodeFailure("recusado pelo servidor");
    return service->Handle(body);
  }

  // The language box checked as the import run checks it.
  ReportRun Run() {
    return ReportRun{channel,
                     services,
                     messages,
                     store::CheckLanguage(store.cdsIdiLeDfm, language_box) == store::LanguageCheck::Known
                         ? LanguageCheck::Known
                         : LanguageCheck::Unknown,
                     language,
                     [this](const std::string& s) { status.push_back(s); },
                     [this] { ++events; },
                     [this] { ++focus; }};
  }

  ReportOutcome Import(const std::string& path) { return importer.ImportRel(Run(), path); }

  std::vector<std::string> Methods() const {
    std::vector<std::string> m;
    for (const auto& c : calls) m.push_back(c.method);
    return m;
  }
  const std::vector<Value>& ArgsOf(std::string_view method, std::size_t n = 0) const {
    for (const auto& c : calls)
      if (c.method == method && n-- == 0) return c.args;
    throw std::runtime_error("no such call: " + std::string(method));
  }
  static std::string Text(const Value& v) {
    const auto* s = std::get_if<std::string>(&v);
    return s ? *s : "<" + std::string(KindName(v)) + ">";
  }

  // Stores a translated record directly, as an earlier run would have.
  void SeedTranslation(const std::string& source, const std::string& translation) {
    Row row = {std::string("OUTRO"),
               std::string("QrDesign"),
               std::string("lblOutro"),
               std::string("TQRLabel"),
               0.0,
               std::string("T"),
               translation,
               source,
               DateTime::FromParts(2024, 1, 2, 3, 4, 5),
               language};
    ChangeSet cs{protocol::RecordFields(), {Change{ChangeKind::Insert, {}, row}}};
    const Value args[] = {Value(cs)};
    service->Call(protocol::kModuleReports, "SetPropriedRel", args);
  }

  // The translation table in creation order; of one program when given.
  std::vector<Stored> Records(std::string_view program = {}) {
    std::vector<Stored> out;
    for (Stored& s : test::RecordsInCreationOrder(*service->Storage().Acquire()))
      if (program.empty() || s.program == program) out.push_back(std::move(s));
    return out;
  }

  // "component/property/number=value" of the records of a program.
  std::vector<std::string> Summary(std::string_view program) {
    std::vector<std::string> out;
    for (const auto& r : Records(program))
      out.push_back(r.component + "/" + r.property + "/" + std::to_string(int(r.number)) + "=" +
                    r.value);
    return out;
  }

  std::shared_ptr<server::Service> service = server::Service::Open(":memory:");
  std::shared_ptr<RecordingDialogs> dialogs = std::make_shared<RecordingDialogs>();
  std::shared_ptr<RecordingBusy> busy = std::make_shared<RecordingBusy>();
  shared::Services services;
  store::Store store{services, InProcessTransports([this](std::string_view body) { return Answer(body); })};
  shared::TMessages messages{{"Idi_Inv|Idioma inválido."}};
  std::string language_box = "POR-Português";
  std::string language = "POR";
  DateTimeText dates;
  store::PerTextChannel channel{store, dates};  // the screen's calls, text by text
  ReportImporter importer;
  TempDir dir;

  std::vector<wire::Request> calls;
  std::string fail_method;
  std::vector<std::string> status;
  int events = 0;
  int focus = 0;
};

}  // namespace trd::report::testing
