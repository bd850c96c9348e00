// The import run end to end against a real translation server on loopback.
#include <gmock/gmock.h>
#include <sys/stat.h>

#include "RunFixture.h"
#include "authoring/FormBinaryWrite.h"
#include "authoring/ReportWrite.h"
#include "formfile/FormStream.h"
#include "platform/Connection.h"
#include "platform/SourceFile.h"
#include "protocol/Methods.h"

namespace trd::test {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

const std::string kSamples = std::string(TRD_SOURCE_DIR) + "/samples";

std::vector<std::string> GoldenLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) out.push_back(line);
  return out;
}

std::vector<std::string> WithPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& l : lines)
    if (l.rfind(prefix, 0) == 0) out.push_back(l);
  return out;
}

TEST_F(RunTest, SamplesGiveTheExpectedRecordsAndAVersion) {
  std::vector<std::string> paths = SelectAll(kSamples);
  ASSERT_EQ(paths.size(), 10u);
  run::Summary s = Run(paths);

  EXPECT_EQ(Records(), GoldenLines(std::string(TRD_SOURCE_DIR) + "/tests/run/samples.records"));
  EXPECT_EQ(s.outcome, run::Outcome::Completed);
  EXPECT_EQ(s.files_read, 10);
  EXPECT_EQ(s.files_not_read + s.files_failed, 0);
  EXPECT_EQ(s.stats.created, long(Records().size()));
  EXPECT_EQ(s.stats.already_stored, 0);
  EXPECT_EQ(Version(), Today());  // the empty version packet gave a new row
  ASSERT_EQ(dialogs->shown.size(), 2u);
  EXPECT_EQ(dialogs->shown[1].text, "Todos os arquivos foram importados com sucesso!");
  EXPECT_THAT(dialogs->shown[1].details, HasSubstr("Arquivos lidos: 10\n"));
  EXPECT_EQ(host.events.front(), "max 0");
  EXPECT_EQ(host.events.back(), "position 0");
}

TEST_F(RunTest, SecondRunCreatesNothingAndStampsAgain) {
  std::vector<std::string> paths = SelectAll(kSamples);
  run::Summary first = Run(paths);
  std::vector<std::string> before = Records();
  BackdateVersion(server.DatabasePath());

  run::Summary second = Run(paths);
  EXPECT_EQ(Records(), before);
  EXPECT_EQ(second.stats.created, 0);
  EXPECT_EQ(second.stats.replaced, 0);
  EXPECT_EQ(second.stats.texts_seen, first.stats.texts_seen);
  EXPECT_EQ(second.stats.already_stored, first.stats.created);  // the rest is never recorded (menu hints)
  EXPECT_EQ(Version(), Today());
}

TEST_F(RunTest, ChangedCaptionInACopyReplacesOneRecord) {
  SourceTree tree;
  std::string path = tree.Write("Cli/Src/Ficha.dfm", FormText("frmFicha: TForm", "Caption = 'Ficha'\nHint = 'Dica'"));
  Run({path});
  tree.Write("Cli/Src/Ficha.dfm", FormText("frmFicha: TForm", "Caption = 'Ficha do cliente'\nHint = 'Dica'"));

  run::Summary s = Run({path});
  EXPECT_EQ(s.stats.replaced, 1);
  EXPECT_EQ(s.stats.created, 1);
  EXPECT_EQ(s.stats.already_stored, 1);
  EXPECT_THAT(Records(), ElementsAre("FICHA/FRMFICHA/FRMFICHA/Caption/0=Ficha do cliente",
                                     "FICHA/FRMFICHA/FRMFICHA/Hint/0=Dica"));
}

TEST_F(RunTest, StoredTranslationIsReusedForTheSameTextInAnotherForm) {
  SourceTree tree;
  Run({tree.Write("Cli/Src/Um.dfm", FormText("frmUm: TForm", "Caption = 'Fechar'"))});
  Connection translations("netUpdRelDfm", std::string(protocol::kModuleTranslations));
  translations.host = server.Host();
  translations.port = server.Port();
  services.CheckResultServ(translations.Call(
      "UpdateRelDfm", {std::string("UM"), std::string("FRMUM"), std::string("FRMUM"), std::string("Caption"),
                       std::int64_t(0), std::string("POR"), std::string("Encerrar"), std::string("T"),
                       DateTime::Now()}));

  run::Summary s = Run({tree.Write("Cli/Src/Dois.dfm", FormText("frmDois: TForm", "Caption = 'Fechar'"))});
  EXPECT_EQ(s.stats.translations_reused, 1);
  std::vector<StoredRecord> records = ReadRecords(server.DatabasePath());
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].key, "DOIS/FRMDOIS/FRMDOIS/Caption/0");
  EXPECT_EQ(records[0].source, "Fechar");
  EXPECT_EQ(records[0].translation, "Encerrar");
  EXPECT_EQ(records[0].state, "T");
}

TEST_F(RunTest, AnswerNoReadsNothingAndStillStamps) {
  run::Summary s = Run(SelectAll(kSamples), shared::MsgAnswer::No);
  EXPECT_EQ(s.outcome, run::Outcome::Declined);
  EXPECT_EQ(s.files_not_read, 10);
  EXPECT_THAT(Records(), IsEmpty());
  EXPECT_EQ(Version(), Today());
  EXPECT_THAT(host.events, ElementsAre("max 0"));
  EXPECT_EQ(dialogs->shown.size(), 1u);  // the question only
}

TEST_F(RunTest, CorruptFormEndsTheLoopNamingTheFileInOneDialog) {
  SourceTree tree;
  std::string a = tree.Write("Cli/Src/A.dfm", FormText("frmA: TForm", "Caption = 'Primeira'"));
  std::string b = tree.Write("Cli/Src/B.dfm", std::string("\xFF\x0A\x00TPF0\x07TfrmB", 13));
  std::string c = tree.Write("Cli/Src/C.dfm", FormText("frmC: TForm", "Caption = 'Terceira'"));
  services.result_check = shared::ReportFailure::Show;

  run::Summary s = Run({a, b, c});
  EXPECT_EQ(services.result_check, shared::ReportFailure::Show);
  EXPECT_THAT(Records(), ElementsAre("A/FRMA/FRMA/Caption/0=Primeira"));
  ASSERT_EQ(dialogs->shown.size(), 2u);
  const Dialog& closing = dialogs->shown[1];
  EXPECT_EQ(closing.type, shared::MsgType::Error);
  EXPECT_THAT(closing.text, StartsWith("Erro ao importar o arquivo " + b + ": "));
  EXPECT_THAT(closing.text.substr(b.size()), Not(HasSubstr(b)));  // the path once
  EXPECT_THAT(closing.details, HasSubstr("Arquivos com erro: 1\n"));
  EXPECT_EQ(s.outcome, run::Outcome::Failed);
  EXPECT_EQ(s.failed_file, b);
  EXPECT_EQ(s.files_read, 1);
  EXPECT_EQ(s.files_not_read, 1);
  EXPECT_THAT(host.events, Not(Contains("file C.dfm")));
  EXPECT_EQ(Version(), Today());
}

TEST_F(RunTest, ServerFailureInTheLoopIsShownOnceEvenWhenTheCheckShowsFailures) {
  SourceTree tree;
  std::string name(60, 'x');  // wider than the component column
  std::string path = tree.Write("Cli/Src/Longo.dfm", FormText(name + ": TForm", "Caption = 'Texto'"));
  services.result_check = shared::ReportFailure::Show;
  run::Summary s = Run({path});
  ASSERT_EQ(dialogs->shown.size(), 2u);
  EXPECT_THAT(dialogs->shown[1].text,
              AllOf(StartsWith("Erro ao importar o arquivo " + path + ": "), HasSubstr("GetPropried")));
  EXPECT_EQ(s.outcome, run::Outcome::Failed);
}

TEST_F(RunTest, CancelAfterTheFirstOfThreeFilesReadsNoMore) {
  SourceTree tree;
  std::vector<std::string> paths;
  for (const char* n : {"A", "B", "C"})
    paths.push_back(tree.Write(std::string("Cli/Src/") + n + ".dfm",
                               FormText(std::string("frm") + n + ": TForm", std::string("Caption = 'Tela ") + n + "'")));
  host.on_position = [this](int position) {
    if (position == 1) cancel = true;
  };

  run::Summary s = Run(paths);
  EXPECT_THAT(Records(), ElementsAre("A/FRMA/FRMA/Caption/0=Tela A"));
  EXPECT_THAT(host.events, Not(Contains("file B.dfm")));
  EXPECT_EQ(s.outcome, run::Outcome::Cancelled);
  EXPECT_EQ(s.files_read, 1);
  EXPECT_EQ(s.files_not_read, 2);
  EXPECT_EQ(dialogs->Texts().back(), "Importação cancelada pelo usuário.");
  EXPECT_EQ(Version(), Today());
}

// A file's batch: sent when the file is read, so a cancel after it reads no
// more and loses nothing; a batch the server refuses leaves the table as it
// was before that file and ends the run naming it.
TEST_F(RunTest, BatchesGoOutPerFileAndARefusedOneLeavesTheTableAsItWas) {
  record_path = run::RecordPath::Batch;
  SourceTree tree;
  std::vector<std::string> paths;
  for (const char* n : {"A", "B", "C"})
    paths.push_back(tree.Write(std::string("Cli/Src/") + n + ".dfm",
                               FormText(std::string("frm") + n + ": TForm", std::string("Caption = 'Tela ") + n + "'")));
  host.on_position = [this](int position) {
    if (position == 1) cancel = true;
  };
  run::Summary s = Run(paths);
  EXPECT_THAT(Records(), ElementsAre("A/FRMA/FRMA/Caption/0=Tela A"));
  EXPECT_THAT(host.events, Not(Contains("file B.dfm")));
  EXPECT_EQ(s.outcome, run::Outcome::Cancelled);
  EXPECT_EQ(s.stats.created, 1);

  cancel = false;
  host.on_position = nullptr;
  const std::string too_long = tree.Write(
      "Cli/Src/Longo.dfm", "object frmLongo: TForm\n  Caption = 'Primeiro'\n  object " + std::string(51, 'x') +
                               ": TLabel\n    Caption = 'Segundo'\n  end\nend\n");
  s = Run({paths[1], too_long, paths[2]});
  EXPECT_EQ(s.outcome, run::Outcome::Failed);
  EXPECT_EQ(s.failed_file, too_long);
  EXPECT_THAT(s.failure, HasSubstr("NMCOMPONENTE"));
  EXPECT_THAT(Records(), ElementsAre("A/FRMA/FRMA/Caption/0=Tela A", "B/FRMB/FRMB/Caption/0=Tela B"));
}

// Files gathered into one call, one of which the server refuses: the call
// is sent again file by file, the failure lands on its own file, and the
// files around it are stored (or, when a failure ends the run, those after
// it are not). Alike whether the call is answered before the next file is
// read or goes out while it is (the refusal then found a call later).
TEST_F(RunTest, ARefusedFileInACallOfSeveralFailsAloneAndTheOthersAreStored) {
  SourceTree tree;
  std::vector<std::string> paths;
  for (const char* n : {"A", "B", "Longo", "C"})
    paths.push_back(tree.Write(std::string("Cli/Src/") + n + ".dfm",
                               FormText(std::string("frm") + n + ": TForm", std::string("Caption = 'Tela ") + n + "'")));
  paths[2] = tree.Write("Cli/Src/Longo.dfm", "object frmLongo: TForm\n  Caption = 'Primeiro'\n  object " +
                                                 std::string(51, 'x') + ": TLabel\n    Caption = 'Segundo'\n  end\nend\n");
  for (const auto& [policy, sending] : {std::pair{run::FileFailurePolicy::EndRun, store::Sending::InTurn},
                                        std::pair{run::FileFailurePolicy::NextFile, store::Sending::InTurn},
                                        std::pair{run::FileFailurePolicy::EndRun, store::Sending::Ahead},
                                        std::pair{run::FileFailurePolicy::NextFile, store::Sending::Ahead}}) {
    SCOPED_TRACE(sending == store::Sending::Ahead ? "ahead" : "in turn");
    if (policy == run::FileFailurePolicy::EndRun)  // each pair starts on an empty table
      server::OpenDatabase(server.DatabasePath())->Acquire()->Execute("DELETE FROM TRDPROPRIEDADE");
    // Every file in the first call; ahead, the first two files in a call
    // that is out while the next two are read.
    store::BatchChannel channel(store, "POR", {}, sending == store::Sending::Ahead ? 3 : 64, sending);
    dialogs->answers = {shared::MsgAnswer::Yes};
    run::RunRequest request{store, channel, run::RunMessages(), paths,    "POR-Português", "POR", cancel, dates,
                            reports, run::ReportCancel::ReadToEnd, policy};
    const run::Summary s = run::ReadSelection(request, host);
    EXPECT_EQ(s.outcome, run::Outcome::Failed);
    EXPECT_EQ(s.failed_file, paths[2]);
    EXPECT_THAT(s.failure, HasSubstr("NMCOMPONENTE"));
    EXPECT_EQ(s.files_failed, 1);
    if (policy == run::FileFailurePolicy::EndRun) {
      EXPECT_EQ(s.files_read, 2);
      EXPECT_EQ(s.stats.created, 2);
      EXPECT_THAT(Records(), ElementsAre("A/FRMA/FRMA/Caption/0=Tela A", "B/FRMB/FRMB/Caption/0=Tela B"));
    } else {
      EXPECT_EQ(s.files_read, 3);
      EXPECT_EQ(s.stats.created, 1);
      EXPECT_EQ(s.stats.already_stored, 2);
      EXPECT_THAT(Records(), ElementsAre("A/FRMA/FRMA/Caption/0=Tela A", "B/FRMB/FRMB/Caption/0=Tela B",
                                         "C/FRMC/FRMC/Caption/0=Tela C"));
    }
  }
}

TEST_F(RunTest, CancelDuringAReportReadsTheReportToItsEnd) {
  SourceTree tree;
  std::string form = tree.Write("Cli/Src/Depois.dfm", FormText("frmDepois: TForm", "Caption = 'Depois'"));
  host.on_status = [this](const std::string&) { cancel = true; };

  run::Summary s = Run({kSamples + "/Rel/Vendas.qr2", form});
  std::vector<std::string> records = Records();
  EXPECT_THAT(WithPrefix(records, "DEPOIS/"), IsEmpty());
  EXPECT_EQ(WithPrefix(records, "VENDAS/").size(), std::size_t(s.stats.created));
  EXPECT_THAT(records, Contains("VENDAS/QrDesign/__TQRMemo1/TQRMemo/0=Assinatura do gerente"));
  EXPECT_EQ(s.outcome, run::Outcome::Cancelled);
}

TEST_F(RunTest, UnknownLanguageTextStopsBeforeTheQuestion) {
  for (const char* box : {"EN-English", "", "POR-Portugues"}) {
    SCOPED_TRACE(box);
    dialogs->shown.clear();
    host.events.clear();
    EXPECT_THROW(Run(SelectAll(kSamples), shared::MsgAnswer::Yes, box), shared::Abort);
    EXPECT_THAT(dialogs->Texts(), ElementsAre("Idioma inválido."));
    EXPECT_THAT(host.events, ElementsAre("focus"));
  }
  EXPECT_EQ(Version(), std::nullopt);
  EXPECT_THAT(Records(), IsEmpty());
}

TEST_F(RunTest, FilesAreTakenByExtensionAndNamedByProgramCode) {
  SourceTree tree;
  std::vector<std::string> paths = {
      tree.Write("x/Menu.Principal.dfm", FormText("frmMenu: TForm", "Caption = 'Menu'")),
      tree.Write("x/Leia-me.txt", "object frmNao: TForm\nCaption = 'Nao'\nend\n"),
      tree.Write("x/Tela.Dfm", FormText("frmTela: TForm", "Caption = 'Tela'")),
      tree.Write("x/Falso.qr2", "nao sou um relatorio"),
  };
  run::Summary s = Run(paths, shared::MsgAnswer::Yes, "por-português");
  EXPECT_THAT(Records(), ElementsAre("MENU/FRMMENU/FRMMENU/Caption/0=Menu", "TELA/FRMTELA/FRMTELA/Caption/0=Tela"));
  EXPECT_EQ(s.files_read, 2);
  EXPECT_EQ(s.files_not_read, 2);
  EXPECT_EQ(s.outcome, run::Outcome::Completed);
  EXPECT_THAT(host.events, Contains("position 4"));
}

TEST_F(RunTest, FileNamesThatAreNotUtf8AreReadAsWindows1252AndKeepTheirCodesApart) {
  SourceTree tree;
  // Latin-1 names on disk: "Ação.dfm" and "Aéeo.dfm" in a folder named in
  // UTF-8, and "Situação.qr2".
  std::vector<std::string> paths = {
      tree.Write("Cli/Src/Relações/A\xE7\xE3o.dfm", FormText("frmAcao: TForm", "Caption = 'Ação'")),
      tree.Write("Cli/Src/Relações/A\xE9""eo.dfm", FormText("frmAeeo: TForm", "Caption = 'Aéeo'")),
      tree.Write("Rel/Situa\xE7\xE3o.qr2", report::ReportFromText(
                                              "object rptSituacao: TDesignQuickReport\n  ReportTitle = 'Situação'\nend\n",
                                              "Situacao.txt")),
  };
  ASSERT_EQ(SelectAll(tree.Root()).size(), 3u);
  run::Summary s = Run(SelectAll(tree.Root()));
  EXPECT_EQ(s.outcome, run::Outcome::Completed) << s.failure;
  EXPECT_THAT(Records(), ElementsAre("AçãO/FRMACAO/FRMACAO/Caption/0=Ação", "AéEO/FRMAEEO/FRMAEEO/Caption/0=Aéeo",
                                     "SITUAçãO/QrDesign/QuickReport/TDesignQuickReport/0=Situação"));

  // A failure names the file as text too; here the folder is Latin-1 as well.
  std::string bad = tree.Write("Cli/Src/Rela\xE7\xF5""es/Inv\xE1lido.dfm", "object frmX: TForm\n  Caption = 'aberto\n");
  s = Run({bad});
  EXPECT_EQ(s.outcome, run::Outcome::Failed);
  EXPECT_THAT(dialogs->Texts().back(),
              StartsWith("Erro ao importar o arquivo " + tree.Root() + "/Cli/Src/Relações/Inválido.dfm: "));
}

TEST_F(RunTest, AFileThatIsNotRegularOrTooLargeEndsTheRunNamingItAndTheLimit) {
  SourceTree tree;
  std::filesystem::create_directories(tree.Path("Cli/Src"));
  const std::string fifo = tree.Path("Cli/Src/Fila.dfm");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string zero = tree.Path("Cli/Src/Zero.dfm");
  std::filesystem::create_symlink("/dev/zero", zero);
  // Sparse files: their size without their bytes.
  const std::string big_form = tree.Write("Cli/Src/Grande.dfm", "object frmGrande: TForm\n");
  std::filesystem::resize_file(big_form, kMaxSourceFileBytes + 1);
  const std::string big_report = tree.Write("Rel/Grande.qr2", "\x51\xB2TPF0");
  std::filesystem::resize_file(big_report, kMaxSourceFileBytes + 1);

  const std::string limit = std::to_string(kMaxSourceFileBytes + 1) + " bytes exceed the limit of 32 MiB";
  for (const auto& [path, cause] : std::vector<std::pair<std::string, std::string>>{
           {fifo, "cannot open: not a regular file"},
           {zero, "cannot open: not a regular file"},
           {big_form, limit},
           {big_report, limit}}) {
    SCOPED_TRACE(path);
    run::Summary s = Run({path});
    EXPECT_EQ(s.outcome, run::Outcome::Failed);
    EXPECT_EQ(s.failed_file, path);
    EXPECT_THAT(s.failure, StartsWith("o arquivo não pôde ser lido. Detalhe técnico: " + cause));
    EXPECT_EQ(dialogs->Texts().back(), "Erro ao importar o arquivo " + path + ": " + s.failure);
  }
  EXPECT_THAT(Records(), IsEmpty());
}

TEST_F(RunTest, AReportTextLongerThanARequestIsStoredCutWithoutATranslationLookUp) {
  SourceTree tree;
  const std::string caption(9 << 20, 'x');  // 9 MiB: more than the server takes in one request
  const std::string path = tree.Write(
      "Rel/Enorme.qr2", report::ReportFromText("object rptEnorme: TDesignQuickReport\n  object lblEnorme: TQRLabel\n"
                                               "    Caption = '" + caption + "'\n  end\nend\n",
                                               "Enorme.txt"));
  run::Summary s = Run({path});
  EXPECT_EQ(s.outcome, run::Outcome::Completed) << s.failure;
  EXPECT_THAT(Records(), Contains("ENORME/QrDesign/lblEnorme/TQRLabel/0=" + caption.substr(0, 4000)));
}

// The binary form samples are the converter's output for the texts beside
// them (scripts/make-samples).
TEST(Samples, BinaryFormsMatchTheirTexts) {
  int checked = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(kSamples)) {
    if (e.path().extension() != ".txt" || e.path().parent_path().filename() == "Rel") continue;
    SCOPED_TRACE(e.path().string());
    std::filesystem::path binary = e.path();
    binary.replace_extension(".dfm");
    std::ifstream text_in(e.path(), std::ios::binary), binary_in(binary, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(text_in)), {});
    std::string bytes((std::istreambuf_iterator<char>(binary_in)), {});
    EXPECT_EQ(bytes, form::FormTextToBinary(text, form::ResourceHeader::With, e.path().string()));
    ++checked;
  }
  EXPECT_GE(checked, 3);
}

}  // namespace
}  // namespace trd::test
