// Reading files as translators' tools send them back: told apart by
// content, their states and markup understood, and a malformed file refused
// with its name and line before a single unit is returned.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ExchangeFixture.h"
#include "platform/Errors.h"

namespace trd::exchange {
namespace {

using ::testing::HasSubstr;
using testing::Key;
using ::testing::StartsWith;

class ReadFiles : public ::testing::Test {
 protected:
  // The message of the FormatError reading `content` gives.
  std::string Refusal(const std::string& name, const std::string& content) {
    std::string path = dir_.Write(name, content);
    try {
      ReadFile(path);
    } catch (const FormatError& e) {
      return std::string(e.what()).substr(path.size());  // ":LINE: what"
    }
    return "(read without an error)";
  }

  test::TempTree dir_{"trd-exchange"};
};

constexpr char kPoHeader[] =
    "msgid \"\"\n"
    "msgstr \"\"\n"
    "\"Language: en\\n\"\n"
    "\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
    "\n";  // 5 lines

TEST_F(ReadFiles, MalformedPoNamesTheLine) {
  std::string entry =
      "#: CADCLI/FRMCADCLI/A/Caption/0/ENG\nmsgid \"Salvar\"\nmsgstr \"Save\"\n\n";  // lines 6-9
  EXPECT_THAT(Refusal("a.po", kPoHeader + entry + "msgid \"Abrir\nmsgstr \"Open\"\n"),
              StartsWith(":11: end-of-line within string"));
  EXPECT_THAT(Refusal("c.po", kPoHeader + entry + "msgctxt \"menu\"\nmsgid \"Abrir\"\nmsgstr \"Open\"\n"),
              StartsWith(":11: msgctxt \"menu\" is not a record key"));
  EXPECT_THAT(
      Refusal("d.po", kPoHeader + entry + "msgid \"file\"\nmsgid_plural \"files\"\nmsgstr[0] \"x\"\n"),
      StartsWith(":10: a plural entry"));
  EXPECT_THAT(
      Refusal("e.po", "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=ISO-8859-1\\n\"\n\n" + entry),
      StartsWith(":1: the charset is ISO-8859-1"));
  EXPECT_THAT(Refusal("f.po", kPoHeader + entry + "msgid \"Sa\xFFir\"\nmsgstr \"Exit\"\n"),
              StartsWith(":10: invalid multibyte sequence"));
  EXPECT_THAT(Refusal("g.po", kPoHeader + entry + entry), StartsWith(":11: duplicate message definition"));
  EXPECT_THAT(Refusal("h.po", "\xEF\xBB\xBF" + std::string(kPoHeader) + entry),
              StartsWith(":1: the file begins with a byte-order mark"));
}

constexpr char kXliffHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<xliff version=\"1.2\" xmlns=\"urn:oasis:names:tc:xliff:document:1.2\">\n"
    "<file original=\"trd\" datatype=\"plaintext\" source-language=\"pt-BR\" target-language=\"en\">\n"
    "<body>\n";  // 4 lines
constexpr char kXliffTail[] = "</body>\n</file>\n</xliff>\n";

TEST_F(ReadFiles, MalformedXliffNamesTheLine) {
  std::string unit =
      "<trans-unit id=\"u1\">\n<source>Salvar</source>\n<target "
      "state=\"translated\">Save</target>\n</trans-unit>\n";
  EXPECT_THAT(
      Refusal("a.xlf", kXliffHead + unit + "<trans-unit id=\"u2\">\n<source>Abrir</target>\n" + kXliffTail),
      StartsWith(":10: Opening and ending tag mismatch"));
  EXPECT_THAT(
      Refusal("b.xlf",
              kXliffHead + unit +
                  "<trans-unit id=\"u2\">\n<source>Abrir</source>\n"
                  "<target state=\"translated\">Open <ph id=\"1\">&lt;b&gt;</ph></target>\n</trans-unit>\n" +
                  kXliffTail),
      StartsWith(":11: inline code <ph> in <target>"));
  EXPECT_THAT(Refusal("c.xlf", kXliffHead + unit + "<trans-unit>\n<source>Abrir</source>\n</trans-unit>\n" +
                                   kXliffTail),
              StartsWith(":9: a <trans-unit> without id"));
  EXPECT_THAT(
      Refusal("d.xlf", kXliffHead + unit +
                           "<trans-unit id=\"u3\" resname=\"menu\">\n<source>x</source>\n</trans-unit>\n" +
                           kXliffTail),
      StartsWith(":9: resname \"menu\" is not a record key"));
  EXPECT_THAT(
      Refusal("e.xlf", "<?xml version=\"1.0\"?>\n<xliff version=\"2.0\" srcLang=\"pt-BR\">\n</xliff>\n"),
      StartsWith(":2: XLIFF version 2.0"));
  EXPECT_THAT(
      Refusal("f.xlf", "<?xml version=\"1.0\"?>\n<!DOCTYPE xliff [<!ENTITY e \"Salvar\">]>\n" +
                           std::string(kXliffHead).substr(std::string(kXliffHead).find('\n') + 1) +
                           "<trans-unit id=\"u\">\n<source>&e;</source>\n</trans-unit>\n" + kXliffTail),
      HasSubstr("entities are refused"));
  // A "billion laughs" bomb is refused as entities, not as a loop; a file cut
  // short says so wherever the cut falls.
  std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE xliff [\n<!ENTITY a \"aaaaaaaaaa\">\n";
  for (char c = 'b'; c <= 'j'; ++c)
    bomb += std::string("<!ENTITY ") + c + " \"" + [&] {
      std::string r;
      for (int i = 0; i < 10; ++i) r += std::string("&") + char(c - 1) + ";";
      return r;
    }() + "\">\n";
  bomb += "]>\n<xliff version=\"1.2\"><file target-language=\"en\"><body>\n"
          "<trans-unit id=\"u\"><source>&j;</source></trans-unit>\n</body></file></xliff>\n";
  EXPECT_THAT(Refusal("bomb.xlf", bomb), HasSubstr("entities are refused"));
  const std::string whole = kXliffHead + unit + kXliffTail;
  for (std::size_t cut : {std::size_t(100), whole.size() / 2, whole.size() - 12}) {
    SCOPED_TRACE(cut);
    EXPECT_THAT(Refusal("cut.xlf", whole.substr(0, cut)), HasSubstr(": premature end of the file"));
  }
  EXPECT_THAT(
      Refusal("g.xlf", kXliffHead +
                           std::string("<trans-unit id=\"u\">\n<source>a\x01</source>\n</trans-unit>\n") +
                           kXliffTail),
      StartsWith(":6: "));
}

// A page of a long PO file is read apart from the others: an error far in
// names its own line, and every entry of every page is read.
TEST_F(ReadFiles, LongPoIsReadInPagesWithTheLinesOfTheFile) {
  std::string po = kPoHeader;
  for (int i = 0; i < 2500; ++i)
    po += "#: CADCLI/FRMCADCLI/C" + std::to_string(i) + "/Caption/0/ENG\nmsgid \"Texto " + std::to_string(i) +
          "\"\nmsgstr \"Text " + std::to_string(i) + "\"\n\n";  // 4 lines each, from line 6
  ExchangeFile f = ReadFile(dir_.Write("long.po", po));
  ASSERT_EQ(f.units.size(), 2500u);
  EXPECT_EQ(f.info.language, "ENG");
  EXPECT_EQ(f.units[2499].translation, "Text 2499");
  EXPECT_EQ(f.units[1234].keys, std::vector<protocol::RecordKey>{Key("C1234")});
  // Entry 2200 (from 0) begins on line 6 + 4 * 2200; its msgid, the next,
  // loses its closing quote (gettext names the line after, as in one page).
  const std::string msgid = "msgid \"Texto 2200\"";
  const std::size_t at = po.find(msgid);
  EXPECT_THAT(Refusal("bad.po", po.substr(0, at) + "msgid \"Texto 2200" + po.substr(at + msgid.size())),
              StartsWith(":" + std::to_string(8 + 4 * 2200) + ": end-of-line within string"));
  EXPECT_THAT(Refusal("plural.po", po + "msgid \"file\"\nmsgid_plural \"files\"\nmsgstr[0] \"x\"\n"),
              StartsWith(":" + std::to_string(6 + 4 * 2500) + ": a plural entry"));
}

TEST_F(ReadFiles, FormatIsToldByContentAndAnEmptyFileIsRefused) {
  std::string xliff =
      kXliffHead + std::string("<trans-unit id=\"u\"><source>a</source></trans-unit>\n") + kXliffTail;
  EXPECT_EQ(ReadFile(dir_.Write("really-xliff.po", "\xEF\xBB\xBF" + xliff)).info.format, Format::Xliff);
  EXPECT_EQ(ReadFile(dir_.Write("really-po.xlf", std::string(kPoHeader) + "msgid \"a\"\nmsgstr \"\"\n"))
                .info.format,
            Format::Po);
  EXPECT_THAT(Refusal("empty.po", " \n\n"), HasSubstr("the file is empty or blank"));
  EXPECT_THAT(Refusal("html.xlf", "<html><body>Not found</body></html>"), HasSubstr("not an XLIFF file"));
  try {
    ReadFile(dir_.Path("missing.po"));
    ADD_FAILURE() << "a missing file read";
  } catch (const FormatError&) {
    ADD_FAILURE() << "a missing file is not a malformed one";
  } catch (const Error& e) {
    EXPECT_THAT(e.what(), HasSubstr("missing.po: cannot open"));
  }
}

TEST_F(ReadFiles, XliffAsCatToolsReturnIt) {
  std::string key = "CADCLI/FRMCADCLI/A/Caption/0/ENG";
  ExchangeFile f = ReadFile(dir_.Write(
      "cat.xlf",
      kXliffHead +
          std::string(
              "<group id=\"g\"><trans-unit id=\"u1\" approved=\"yes\">\n"
              "<source>Salvar <mrk mtype=\"term\">tudo</mrk></source>\n"
              "<seg-source><mrk mtype=\"seg\" mid=\"1\">Salvar tudo</mrk></seg-source>\n"
              "<target xml:lang=\"en\"><mrk mtype=\"seg\" mid=\"1\">Save <g id=\"1\">all</g></mrk></target>\n"
              "<alt-trans><source>Salvar</source><target>Store</target></alt-trans>\n"
              "<note>checked</note>\n"
              "<context-group purpose=\"location\"><context context-type=\"sourcefile\">x.dfm</context>"
              "<context context-type=\"x-trd-key\">") +
          key +
          "</context></context-group>\n"
          "</trans-unit></group>\n"
          "<trans-unit id=\"u2\"><source>Abrir</source><target state=\"final\">Open</target></trans-unit>\n"
          "<trans-unit id=\"u3\"><source>Fechar</source><target "
          "state=\"needs-review-translation\">Close</target></trans-unit>\n"
          "<trans-unit id=\"u4\"><source>Sair</source><target>Exit</target></trans-unit>\n"
          "<trans-unit id=\"u5\"><source>Ajuda</source><target state=\"new\"/></trans-unit>\n"
          "<trans-unit id=\"u6\"><source>Nome</source><target state=\"signed-off\"></target></trans-unit>\n" +
          kXliffTail));
  EXPECT_EQ(f.info.language, "ENG");
  ASSERT_EQ(f.units.size(), 6u);
  EXPECT_EQ(f.units[0].source, "Salvar tudo");
  EXPECT_EQ(f.units[0].translation, "Save all");
  EXPECT_EQ(f.units[0].state, State::Translated);  // no state, but approved
  EXPECT_EQ(f.units[0].keys, std::vector<protocol::RecordKey>{Key("A")});
  EXPECT_EQ(f.units[1].state, State::Translated);
  EXPECT_EQ(f.units[2].state, State::NeedsReview);
  EXPECT_EQ(f.units[3].state, State::NeedsReview);  // no state, not approved: not applied
  EXPECT_EQ(f.units[3].translation, "Exit");
  EXPECT_EQ(f.units[4].state, State::NeedsTranslation);
  EXPECT_EQ(f.units[4].translation, std::nullopt);
  EXPECT_EQ(f.units[5].translation, "");
  EXPECT_TRUE(Importable(f.units[5]));
}

TEST_F(ReadFiles, PoAsEditorsReturnIt) {
  ExchangeFile f =
      ReadFile(dir_.Write("editor.po", "# Translators' file\n#, fuzzy\n" + std::string(kPoHeader) +
                                           "# translator's note\n"
                                           "#. trd: the translation is the empty text\n"
                                           "#: CADCLI/FRMCADCLI/A/Caption/0/ENG\n"
                                           "#: CADCLI/FRMCADCLI/B/Caption/3/ENG\n"
                                           "msgid \"\"\n\"Linha 1\\n\"\n\"Linha 2\"\n"
                                           "msgstr \"\"\n\"Line 1\\n\"\n\"Line 2\"\n\n"
                                           "#. trd: the translation is the empty text\n"
                                           "msgid \"Nome\"\nmsgstr \"\"\n\n"
                                           "#, fuzzy\nmsgid \"Abrir\"\nmsgstr \"Open\"\n\n"
                                           "#~ msgid \"Velho\"\n#~ msgstr \"Old\"\n"));
  EXPECT_EQ(f.info.language_tag, "en");
  ASSERT_EQ(f.units.size(), 3u);
  EXPECT_EQ(f.units[0].translation, "Line 1\nLine 2");  // a note no longer true is passed over
  EXPECT_EQ(f.units[0].keys, (std::vector<protocol::RecordKey>{Key("A"), Key("B", 3)}));
  EXPECT_EQ(f.units[1].translation, "");
  EXPECT_EQ(f.units[1].state, State::Translated);
  EXPECT_EQ(f.units[2].state, State::NeedsReview);
}

// A PO file saved with CR LF line ends (an editor on Windows) reads as
// gettext reads it: the CR is no part of a reference or a comment.
TEST_F(ReadFiles, PoWithCrLfLineEndsReadsAsWithLf) {
  const std::string lf = std::string(kPoHeader) +
                         "#. trd: the translation is the empty text\n"
                         "#: CADCLI/FRMCADCLI/A/Caption/0/ENG CADCLI/FRMCADCLI/B/Caption/0/ENG\n"
                         "msgid \"Nome\"\nmsgstr \"\"\n\n"
                         "#: CADCLI/FRMCADCLI/C/Caption/0/ENG\n#, fuzzy\n"
                         "msgid \"Abrir\"\nmsgstr \"Open\"\n\n"
                         "msgctxt \"CADCLI/FRMCADCLI/D/Caption/0/ENG\"\n"
                         "msgid \"\"\n\"Linha\\r\\n\"\n\"2\"\nmsgstr \"Line\\r\\n2\"\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  ExchangeFile a = ReadFile(dir_.Write("lf.po", lf)), b = ReadFile(dir_.Write("crlf.po", crlf));
  ASSERT_EQ(b.units.size(), 3u);
  EXPECT_EQ(b.units, a.units);
  EXPECT_EQ(b.units[0].keys, (std::vector<protocol::RecordKey>{Key("A"), Key("B")}));
  EXPECT_TRUE(Importable(b.units[0]));  // the empty translation, by its note
  EXPECT_EQ(b.units[1].state, State::NeedsReview);
  EXPECT_EQ(b.units[2].translation, "Line\r\n2");
  EXPECT_EQ(b.info.language, "ENG");
}

}  // namespace
}  // namespace trd::exchange
