// Report files: the element classes, the file layout and its round trip
// through report text, the element order, the refusal of malformed files,
// and the loader's replacement of the report loaded before.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "ReportFixture.h"
#include "authoring/ReportWrite.h"
#include "formfile/FormText.h"
#include "platform/Errors.h"
#include "platform/SourceFile.h"
#include "report/ReportClasses.h"
#include "report/ReportLoader.h"

namespace trd::report {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::Report;
using ::testing::StartsWith;
using testing::TempDir;

TEST(ReportClasses, DerivedClassesTakeTheirBaseKindAndOtherClassesArePassedOver) {
  EXPECT_EQ(Classify("TDesignQuickReport"), ElementKind::DesignReport);
  EXPECT_EQ(Classify("TQRLabel"), ElementKind::Label);
  EXPECT_EQ(Classify("tqrlabel"), ElementKind::Label);
  EXPECT_EQ(Classify("TQRSysData"), ElementKind::SysData);
  EXPECT_EQ(Classify("TQRMemo"), ElementKind::Memo);
  EXPECT_EQ(Classify("TQRRichText"), ElementKind::RichText);
  EXPECT_EQ(Classify("TQRDesignExpr"), ElementKind::Expression);
  EXPECT_EQ(Classify("TQRDesignLabel"), ElementKind::Label);
  for (const char* other : {"TQRBand", "TQRExpr", "TQRDBText", "TQRShape", "TQRLabelX", ""})
    EXPECT_EQ(Classify(other), ElementKind::Other) << other;
  // Every derived class reaches a taken class through its chain of bases.
  for (const DerivedClass& d : KnownDerivedClasses()) {
    EXPECT_NE(Classify(d.class_name), ElementKind::Other) << d.class_name;
    EXPECT_EQ(Classify(d.class_name), Classify(d.base)) << d.class_name;
  }
}

constexpr std::string_view kSales = R"(object rptVendas: TDesignQuickReport
  ReportTitle = 'Relatório de Vendas'
  object bndTitulo: TQRBand
    object lblTitulo: TQRLabel
      Caption = 'Relatório de Vendas'
    end
    object pnlGrupo: TQRChildBand
      object TQRMemo
        Lines.Strings = (
          'Linha #1'
          'Ação')
      end
    end
    object sysData: TQRSysData
    end
  end
  object TQRLabel
    Caption = '日本語'#9'x'
  end
end
)";

TEST(ReportFile, StartsWithTheSignatureAndRoundTripsThroughReportText) {
  std::string bytes = ReportFromText(kSales, "Vendas.txt");
  ASSERT_GE(bytes.size(), 6u);
  EXPECT_EQ(bytes.substr(0, 6), std::string("\x51\xB2TPF0", 6));
  EXPECT_EQ(ReadSignature(bytes), kReportFileID);

  std::vector<std::string> lines = ReportToText(bytes, "Vendas.qr2");
  EXPECT_EQ(lines, form::FormToText(form::ParseFormText(kSales, "Vendas.txt")));
  std::string again;
  for (const auto& l : lines) again += l + "\n";
  EXPECT_EQ(ReportFromText(again, "again.txt"), bytes);
}

TEST(ReportFile, ContentListsEveryObjectDepthFirstWithItsTexts) {
  ReportContent c = ContentOf(ReadReportTree(ReportFromText(kSales, "v"), "v"), "v");
  EXPECT_EQ(c.title, "Relatório de Vendas");
  std::vector<std::string> order;
  for (const auto& e : c.elements) order.push_back(e.name + ":" + e.class_name);
  EXPECT_THAT(order, ElementsAre("bndTitulo:TQRBand", "lblTitulo:TQRLabel", "pnlGrupo:TQRChildBand",
                                 ":TQRMemo", "sysData:TQRSysData", ":TQRLabel"));
  EXPECT_EQ(c.elements[0].kind, ElementKind::Other);
  EXPECT_TRUE(c.elements[0].texts.empty());
  EXPECT_THAT(c.elements[3].texts, ElementsAre("Linha #1", "Ação"));
  EXPECT_THAT(c.elements[4].texts, ElementsAre(""));           // no Text: one empty text
  EXPECT_THAT(c.elements[5].texts, ElementsAre("日本語\tx"));  // stored as UTF-16, read as UTF-8
}

TEST(ReportFile, MalformedFilesAreRefusedNamingTheFileAndTheProblem) {
  const std::string good = ReportFromText(kSales, "v");
  struct Case {
    const char* what;
    std::string bytes;
    const char* message;
  };
  const Case cases[] = {
      {"empty", "", "offset 0: 0 byte(s) are too few"},
      {"one byte", "\x51", "offset 0: 1 byte(s) are too few"},
      {"other signature", "XY" + good.substr(2),
       "signature 0x5958 is not the report signature 0xB251"},
      {"truncated", good.substr(0, good.size() / 2), "offset "},
      {"no stream", good.substr(0, 2) + "TPF", "offset 2"},
      {"bytes after the end", good + "!", "1 byte(s) after the end of the report"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      ReportToText(c.bytes, "Rel/Vendas.qr2");
      ADD_FAILURE() << "no error";
    } catch (const FormatError& e) {
      EXPECT_THAT(e.what(), StartsWith("Rel/Vendas.qr2: "));
      EXPECT_THAT(e.what(), HasSubstr(c.message));
    }
  }
}

// Found by fuzzing: a report with a property named "Captio." (one flipped
// bit) loaded, yet its report text could not be read back. A name form text
// cannot hold marks a damaged file.
TEST(ReportFile, PropertyNamesThatReportTextCannotHoldAreRefused) {
  const std::string file = std::string("\x51\xB2TPF0\x12TDesignQuickReport\x00", 26) +
                           "\x07" "Captio." "\x06\x01x" + std::string("\x00\x00", 2);
  try {
    ReportToText(file, "Rel/Vendas.qr2");
    ADD_FAILURE() << "no error";
  } catch (const FormatError& e) {
    EXPECT_THAT(e.what(), StartsWith("Rel/Vendas.qr2: offset 26: invalid property name"));
  }
  TempDir dir;
  ReportLoader loader;
  EXPECT_THROW(loader.Load(dir.Write("Vendas.qr2", file)), FormatError);
}

TEST(ReportFile, TextsOfTheWrongShapeAndNonReportRootsAreRefused) {
  struct Case {
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {"object frm: TForm\nend\n",
       "the root object is of class TForm, expected TDesignQuickReport"},
      {"object r: TDesignQuickReport\n ReportTitle = 5\nend\n",
       "the report (TDesignQuickReport): ReportTitle must be a string, found a number"},
      {Report("object lblX: TQRLabel\n Caption = 12\n end"),
       "TQRLabel lblX: Caption must be a string, found a number"},
      {Report("object TQRMemo\n Lines.Strings = 'abc'\n end"),
       "unnamed TQRMemo: Lines.Strings must be a list of strings, found a string"},
      {Report("object e: TQRDesignExpr\n Messages.Strings = ('a' True)\n end"),
       "TQRDesignExpr e: Messages.Strings line 1 must be a string, found the identifier True"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    try {
      ReportFromText(c.text, "Vendas.txt");
      ADD_FAILURE() << "no error";
    } catch (const FormatError& e) {
      EXPECT_THAT(e.what(), StartsWith("Vendas.txt: "));
      EXPECT_THAT(e.what(), HasSubstr(c.message));
    }
  }
}

TEST(ReportLoader, HoldsTheDesignReportFirstAndReplacesTheReportOnEveryLoad) {
  TempDir dir;
  ReportLoader loader;
  ASSERT_EQ(loader.Components().size(), 1u);  // before any load
  EXPECT_EQ(loader.Components()[0].name, "QuickReport");
  EXPECT_EQ(loader.Components()[0].kind, ElementKind::DesignReport);
  EXPECT_EQ(loader.Title(), "");

  // A path far beyond 255 characters is read whole.
  std::string deep =
      std::string(120, 'a') + "/" + std::string(120, 'b') + "/" + std::string(60, 'c');
  std::string first = dir.WriteReport(
      deep + "/Vendas.qr2", Report("object lblA: TQRLabel\n Caption = 'A'\n end", "'Primeiro'"));
  ASSERT_GT(first.size(), 300u);
  loader.Load(first);
  EXPECT_EQ(loader.Title(), "Primeiro");
  ASSERT_EQ(loader.Components().size(), 3u);
  EXPECT_EQ(loader.Components()[2].name, "lblA");

  std::string second = dir.WriteReport("Compras.qr2", Report("object TQRMemo\n end", ""));
  loader.Load(second);
  EXPECT_EQ(loader.Title(), "");
  ASSERT_EQ(loader.Components().size(), 3u);
  EXPECT_EQ(loader.Components()[2].class_name, "TQRMemo");

  // A failed load leaves nothing of the report before it.
  std::string bytes = ReportFromText(Report("object lblB: TQRLabel\n end"), "x");
  std::string broken = dir.Write("Broken.qr2", bytes.substr(0, bytes.size() - 3));
  EXPECT_THROW(loader.Load(broken), FormatError);
  ASSERT_EQ(loader.Components().size(), 1u);
  EXPECT_EQ(loader.Title(), "");

  try {
    loader.Load(dir.Path("Falta.qr2"));
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_THAT(e.what(), HasSubstr("Falta.qr2: cannot open"));
  }
}

// The shipped samples are the output of mkreport for the texts beside them.
TEST(ReportSamples, EachReportFileMatchesItsText) {
  std::filesystem::path samples = std::filesystem::path(TRD_SOURCE_DIR) / "samples" / "Rel";
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(samples)) {
    if (entry.path().extension() != ".txt") continue;
    SCOPED_TRACE(entry.path().filename().string());
    std::filesystem::path qr2 = entry.path();
    qr2.replace_extension(".qr2");
    std::string text = ReadSourceFile(entry.path().string());
    EXPECT_EQ(ReadSourceFile(qr2.string()), ReportFromText(text, entry.path().string()));
    ++checked;
  }
  EXPECT_GE(checked, 3);
}

}  // namespace
}  // namespace trd::report
