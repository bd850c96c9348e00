// The scanners on their own, linked without the store, the server or any
// connection: what they hand their sink for a form and a report file (key,
// text, verdict, look-up, kind), and the pending events they let run once
// per text when the sink keeps the texts for later, as the batch does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "authoring/ReportWrite.h"
#include "extract/FormScanner.h"
#include "report/ReportImport.h"
#include "support/TempTree.h"

namespace trd {
namespace {

using ::testing::ElementsAre;

// Keeps every text as "PROGRAM/FORM/COMPONENT/Property/number=text" with its
// flags, and tells the watcher nothing.
struct RecordingSink final : protocol::TextSink {
  void Take(const protocol::FoundText& t, protocol::TextWatcher&) override {
    std::string line = t.key.program + "/" + t.key.form + "/" + t.key.component + "/" + t.key.property + "/" +
                       std::to_string(int(t.key.number)) + "=" + std::string(t.text.substr(0, 20));
    if (t.declined == protocol::Declined::Yes) line += " declined";
    if (t.look_up == protocol::TranslationLookUp::No) line += " no-look-up";
    line += t.source == protocol::TextSource::Report ? " report" : " form";
    texts.push_back(line + " " + t.key.language);
  }
  std::vector<std::string> texts;
};

TEST(ScannerSink, AFormsTextsReachTheSinkWithTheirVerdictsAndEventsRunOncePerText) {
  RecordingSink sink;
  bool cancel = false;
  int events = 0;
  const DateTimeText dates;
  extract::ScanEnvironment env{sink, cancel, "ENG", dates, {}, [&] { ++events; }};
  const std::vector<std::string> lines = {"object frmCad: TForm",
                                          "  Caption = 'Cadastro'",
                                          "  object mnuA: TMenuItem",
                                          "    Caption = '123'",
                                          "    Hint = 'Dica'",
                                          "  end",
                                          "  object memA: TMemo",
                                          "    Lines.Strings = (",
                                          "      'Um'",
                                          "      '')",
                                          "  end",
                                          "end"};
  extract::Import(env, lines, "Cad.Clientes");
  EXPECT_THAT(sink.texts, ElementsAre("CAD/FRMCAD/FRMCAD/Caption/0=Cadastro form ENG",
                                      "CAD/FRMCAD/MNUA/Caption/0=123 declined form ENG",
                                      "CAD/FRMCAD/MNUA/Hint/0=Dica declined form ENG",
                                      "CAD/FRMCAD/MEMA/Lines.Strings/0=Um form ENG",
                                      "CAD/FRMCAD/MEMA/Lines.Strings/1= declined form ENG"));
  EXPECT_EQ(events, 5);

  // A cancel raised by the events stops the scan at the next line.
  sink.texts.clear();
  env.process_events = [&] { cancel = true; };
  extract::Import(env, lines, "Cad");
  EXPECT_EQ(sink.texts.size(), 1u);
}

TEST(ScannerSink, AReportsTextsReachTheSinkAndACutOneAsksForNoLookUp) {
  test::TempTree dir("trd-sink");
  const std::string long_text(protocol::kMaxValueLength + 1, 'x');
  const std::string path = dir.Write(
      "Vendas.qr2", report::ReportFromText("object rptVendas: TDesignQuickReport\n"
                                           "  ReportTitle = 'Vendas'\n"
                                           "  object bnd: TQRBand\n"
                                           "    object lblA: TQRLabel\n"
                                           "      Caption = '" + long_text + "'\n"
                                           "    end\n"
                                           "  end\n"
                                           "end\n",
                                           "Vendas.txt"));
  RecordingSink sink;
  shared::Services services;
  const shared::TMessages messages;
  int events = 0;
  const report::ReportRun run{sink, services, messages, report::LanguageCheck::Known, "POR", {}, [&] { ++events; }, {}};
  report::ReportImporter importer;
  EXPECT_EQ(importer.ImportRel(run, path), report::ReportOutcome::Read);
  EXPECT_THAT(sink.texts, ElementsAre("VENDAS/QrDesign/QuickReport/TDesignQuickReport/0=Vendas report POR",
                                      "VENDAS/QrDesign/lblA/TQRLabel/0=xxxxxxxxxxxxxxxxxxxx no-look-up report POR"));
  EXPECT_EQ(events, 2);
}

}  // namespace
}  // namespace trd
