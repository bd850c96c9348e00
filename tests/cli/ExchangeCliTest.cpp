// The translators' loop as a user runs it, on SQLite and PostgreSQL: `trd
// export`, a translator's work (done here programmatically), `trd import`,
// `trd status` and `trd check`.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "exchange/Exchange.h"
#include "exchange/KeyText.h"
#include "protocol/Methods.h"
#include "server/Service.h"
#include "support/ChildProcess.h"
#include "support/StoredRecords.h"
#include "support/TempTree.h"
#include "support/TestDatabase.h"

namespace trd::test {
namespace {

using ::testing::HasSubstr;

const std::string kSamples = std::string(TRD_SOURCE_DIR) + "/samples";

struct Seed {
  std::string program, component, source;
  std::string state = "N";
  std::string value = "";  // "" for the source itself
  std::string language = "ENG";
};

// Texts a translator's tool must hand back exactly.
std::vector<std::string> HardTexts() {
  std::string long_text;
  for (int i = 0; i < 4000; ++i) long_text += i % 2 ? "ã" : "x";
  return {"Ação às 9h — ü", "Linha 1\rLinha 2", "Linha 1\nLinha 2", "Linha 1\r\nLinha 2\r\n", "\tTab\tno meio",
          "Aspas \"duplas\" e 'simples'", "Barra \\ invertida \\n literal", "&Salvar && sair",
          "Arquivo %s de %d, {0}", "  brancos nas pontas  ", "\nquebra no início e no fim\n", long_text};
}

class ExchangeCli : public ::testing::TestWithParam<TestBackend> {
 protected:
  void SetUp() override {
    if (!TestDatabase::Available(GetParam())) GTEST_SKIP() << TestDatabase::kSkipMessage;
    db_.emplace(GetParam(), TestDatabase::Storage::File);
    url = db_->Url();
  }

  int Trd(std::vector<std::string> args) {
    args.insert(args.begin(), TRD_EXE);
    args.push_back("--db");
    args.push_back(url);
    ChildProcess child(args, {"TRD_SERVER="});
    status = child.Wait();
    out = child.Out();
    err = child.Err();
    return status;
  }
  nlohmann::json Json() { return nlohmann::json::parse(out); }

  void Insert(const std::vector<Seed>& seeds) {
    auto service = server::Service::Open(url);
    ChangeSet cs{server::TranslationTable().fields, {}};
    for (const Seed& s : seeds)
      cs.changes.push_back(Change{ChangeKind::Insert,
                                  {},
                                  {s.program, "FRM" + s.program, s.component, std::string("Caption"), 0.0, s.state,
                                   s.value.empty() ? s.source : s.value, s.source,
                                   DateTime::FromParts(2024, 1, 1), s.language}});
    const Value args[] = {cs};
    Value v = service->Call(protocol::kModuleForms, protocol::kSetPropried, args);
    ASSERT_TRUE(std::holds_alternative<std::monostate>(v));
  }
  void SetSource(const std::string& component, const std::string& source) {
    auto db = server::OpenDatabase(url);
    const FieldValue p[] = {source, component};
    db->Acquire()->Execute("UPDATE TRDPROPRIEDADE SET STAGRVALPROP = ? WHERE NMCOMPONENTE = ?", p);
  }

  // component -> {state, translation} of the language's records.
  std::map<std::string, std::pair<std::string, std::string>> Table(const std::string& language = "ENG") {
    std::map<std::string, std::pair<std::string, std::string>> m;
    for (const StoredRecord& r : ReadRecords(url))
      if (r.language == language) m[r.key] = {r.state, r.translation};
    return m;
  }

  // The translator's work: `edit` changes each unit of `from`, written to `to`.
  static void Translate(const std::string& from, const std::string& to,
                        const std::function<void(exchange::Unit&)>& edit, std::vector<exchange::Unit> extra = {}) {
    exchange::ExchangeFile f = exchange::ReadFile(from);
    std::ofstream o(to, std::ios::binary);
    auto w = exchange::MakeWriter(f.info.format, o, exchange::FileHeader{f.info.language.value_or("ENG")}, to);
    for (auto& u : f.units) {
      edit(u);
      w->Add(u);
    }
    for (auto& u : extra) w->Add(u);
    w->Finish();
  }

  std::string Path(const std::string& name) { return dir.Path(name); }

  TempTree dir{"trd-exchange"};
  std::optional<TestDatabase> db_;
  std::string url;
  int status = -1;
  std::string out, err;
};

TEST_P(ExchangeCli, SamplesGoOutAndComeBackTranslatedAndTheNextHarvestReusesThem) {
  ASSERT_EQ(Trd({"harvest", kSamples, "--lang", "ENG", "--yes"}), 0) << err;
  const auto harvested = Table();

  for (const std::string ext : {"po", "xlf"}) {
    const std::string file = Path("eng." + ext);
    ASSERT_EQ(Trd({"export", "--lang", "eng", "-o", file}), 0) << err;
    EXPECT_THAT(err, HasSubstr("written to " + file));
    if (ext == "po") {
      ChildProcess msgfmt({TRD_MSGFMT, "--check-format", "--check-header", "-o", "/dev/null", file});
      EXPECT_EQ(msgfmt.Wait(), 0) << msgfmt.Err();
    }
    // An untouched file changes nothing.
    ASSERT_EQ(Trd({"import", file, "--lang", "ENG", "--json"}), 0) << err;
    EXPECT_EQ(Json()["records_translated"], 0);
    EXPECT_GT(Json()["units_skipped"].get<int>(), 50);
    EXPECT_EQ(Table(), harvested);
  }

  // Every unit translated: every record with a text is "T" with it.
  const std::string done = Path("done.po");
  Translate(Path("eng.po"), done, [](exchange::Unit& u) {
    u.translation = "EN " + u.source;
    u.state = exchange::State::Translated;
  });
  ASSERT_EQ(Trd({"import", done, "--lang", "ENG", "--json"}), 0) << err;
  EXPECT_EQ(Json()["units_stale"], 0);
  std::size_t translated = 0;
  for (const StoredRecord& r : ReadRecords(url)) {
    if (r.source.empty()) continue;
    EXPECT_EQ(r.state, "T") << r.key;
    EXPECT_EQ(r.translation, "EN " + r.source) << r.key;
    ++translated;
  }
  EXPECT_EQ(Json()["records_translated"], translated);
  ASSERT_EQ(Trd({"import", done, "--lang", "ENG", "--json"}), 0) << err;  // again: all there already
  EXPECT_EQ(Json()["records_translated"], 0);
  EXPECT_EQ(Json()["records_already"], translated);

  // A new form holding a text of the samples takes its translation over.
  dir.Write("src/Cli/Src/Novo.dfm",
            "object frmNovo: TForm\n  object mniArq: TMenuItem\n    Caption = '&Arquivo'\n  end\nend\n");
  ASSERT_EQ(Trd({"harvest", dir.Path("src"), "--lang", "ENG", "--yes"}), 0) << err;
  EXPECT_EQ(Table()["NOVO/FRMNOVO/MNIARQ/Caption/0"], std::make_pair(std::string("T"), std::string("EN &Arquivo")));
}

TEST_P(ExchangeCli, EveryTextRoundTripsByteForByteThroughPoAndXliffPerTextAndPerKey) {
  const std::vector<std::string> texts = HardTexts();
  for (const std::string format : {"po", "xliff"}) {
    for (const bool per_key : {false, true}) {
      SCOPED_TRACE(format + (per_key ? " per key" : " per text"));
      db_.emplace(GetParam(), TestDatabase::Storage::File);
      url = db_->Url();
      std::vector<Seed> seeds;
      for (std::size_t i = 0; i < texts.size(); ++i) seeds.push_back({"P", "C" + std::to_string(i), texts[i]});
      Insert(seeds);

      const std::string file = Path("out." + format), back = Path("back." + format);
      std::vector<std::string> args{"export", "--lang", "ENG", "--format", format, "-o", file};
      if (per_key) args.push_back("--per-key");
      ASSERT_EQ(Trd(args), 0) << err;
      std::multiset<std::string> sources;
      for (const auto& u : exchange::ReadFile(file).units) sources.insert(u.source);
      EXPECT_EQ(sources, std::multiset<std::string>(texts.begin(), texts.end()));

      // Translated as the source itself, the bytes of both directions show.
      Translate(file, back, [](exchange::Unit& u) {
        u.translation = u.source;
        u.state = exchange::State::Translated;
      });
      ASSERT_EQ(Trd({"import", back, "--lang", "ENG", "--json"}), 0) << err;
      EXPECT_EQ(Json()["units_translated"], texts.size()) << out;
      EXPECT_EQ(Json()["units_stale"], 0) << out;
      for (const StoredRecord& r : ReadRecords(url)) {
        EXPECT_EQ(r.state, "T");
        EXPECT_EQ(r.translation, r.source);
      }
      // And out again as translations.
      args.push_back("--state");
      args.push_back("translated");
      ASSERT_EQ(Trd(args), 0) << err;
      std::multiset<std::string> translations;
      for (const auto& u : exchange::ReadFile(file).units) translations.insert(u.translation.value_or("<none>"));
      EXPECT_EQ(translations, std::multiset<std::string>(texts.begin(), texts.end()));
    }
  }
}

TEST_P(ExchangeCli, StaleFuzzyEmptyAndRepeatedUnitsAreCountedAndNeverApplied) {
  Insert({{"PA", "SALVAR1", "Salvar"}, {"PB", "SALVAR2", "Salvar"}, {"PA", "FECHAR", "Fechar"},
          {"PA", "ABRIR", "Abrir"}, {"PA", "SAIR", "Sair"}});
  // XLIFF: a PO file cannot hold one text twice, an XLIFF file can.
  const std::string file = Path("eng.xlf"), back = Path("back.xlf");
  ASSERT_EQ(Trd({"export", "--lang", "ENG", "-o", file}), 0) << err;
  SetSource("ABRIR", "Abrir arquivo");  // the source changed after the export

  exchange::Unit repeat = exchange::UnitForText("Salvar", {}, {"Save"});
  exchange::Unit conflicting = exchange::UnitForText("Salvar", {}, {"Store"});
  // A translation the table cannot hold: named, not applied (not cut).
  exchange::Unit too_long = exchange::UnitForText("Fechar", {}, {std::string(4001, 'c')});
  Translate(file, back, [](exchange::Unit& u) {
    static const std::map<std::string, std::pair<std::string, exchange::State>> work = {
        {"Salvar", {"Save", exchange::State::Translated}},
        {"Fechar", {"Close", exchange::State::NeedsReview}},  // fuzzy
        {"Abrir", {"Open", exchange::State::Translated}},
        {"Sair", {"", exchange::State::NeedsTranslation}}};
    const auto& w = work.at(u.source);
    u.translation = w.first.empty() ? std::nullopt : std::optional<std::string>(w.first);
    u.state = w.second;
  }, {repeat, conflicting, too_long});

  const auto before = Table();
  for (const bool dry : {true, false}) {
    SCOPED_TRACE(dry ? "dry run" : "import");
    std::vector<std::string> args{"import", back, "--lang", "ENG", "--json"};
    if (dry) args.push_back("--dry-run");
    ASSERT_EQ(Trd(args), 0) << err;
    const auto j = Json();
    EXPECT_EQ(j["units"], 7);
    EXPECT_EQ(j["units_refused"], 1);
    EXPECT_THAT(j["refused"][0]["reason"].get<std::string>(), HasSubstr("4001 characters; STVALORPROP holds 4000"));
    EXPECT_EQ(j["records_translated"], 2);
    EXPECT_EQ(j["units_translated"], 1);
    EXPECT_EQ(j["units_stale"], 1);
    EXPECT_EQ(j["stale"][0]["source"], "Abrir");
    EXPECT_EQ(j["units_skipped"], 2);
    EXPECT_EQ(j["units_repeated"], 2);
    ASSERT_EQ(j["conflicts"].size(), 1u);
    EXPECT_EQ(j["conflicts"][0]["source"], "Salvar");
    if (dry) {
      EXPECT_EQ(Table(), before);
    }
  }
  auto after = Table();
  EXPECT_EQ(after["PA/FRMPA/SALVAR1/Caption/0"].second, "Save");
  EXPECT_EQ(after["PB/FRMPB/SALVAR2/Caption/0"].second, "Save");
  EXPECT_EQ(after["PA/FRMPA/FECHAR/Caption/0"].first, "N");
  EXPECT_EQ(after["PA/FRMPA/ABRIR/Caption/0"], std::make_pair(std::string("N"), std::string("Abrir")));
  EXPECT_EQ(after["PA/FRMPA/SAIR/Caption/0"].first, "N");

  // The text summary says the same.
  ASSERT_EQ(Trd({"import", back, "--lang", "ENG"}), 0) << err;
  EXPECT_THAT(out, HasSubstr("records already so  2 (1 units)"));
  EXPECT_THAT(out, HasSubstr("units stale         1"));
}

TEST_P(ExchangeCli, AMalformedFileOrAFileOfAnotherLanguageChangesNothing) {
  Insert({{"PA", "SALVAR", "Salvar"}, {"PA", "FECHAR", "Fechar"}});
  const auto before = Table();
  const std::string po = dir.Write("bad.po",
                                   "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n"
                                   "msgid \"Salvar\"\nmsgstr \"Save\"\n\nmsgid \"Fechar\nmsgstr \"Close\"\n");
  const std::string xlf = dir.Write(
      "bad.xlf",
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xliff version=\"1.2\" "
      "xmlns=\"urn:oasis:names:tc:xliff:document:1.2\">\n <file original=\"trd\" datatype=\"plaintext\" "
      "source-language=\"pt-BR\" target-language=\"en\">\n  <body>\n   <trans-unit id=\"a\">\n"
      "    <source>Salvar</source>\n    <target state=\"translated\">Save</target>\n   </trans-unit>\n"
      "   <trans-unit id=\"b\">\n    <source>Fechar</source>\n    <target state=\"translated\">Close</tar>\n");
  for (const std::string& file : {po, xlf}) {
    EXPECT_EQ(Trd({"import", file, "--lang", "ENG"}), 1) << out;
    EXPECT_THAT(err, ::testing::ContainsRegex("trd import: " + file + ":[0-9]+: ")) << err;
    EXPECT_EQ(Table(), before);
  }
  // A good file of another language.
  const std::string esp = Path("esp.po");
  ASSERT_EQ(Trd({"export", "--lang", "ESP", "-o", esp}), 0) << err;
  EXPECT_EQ(Trd({"import", esp, "--lang", "ENG"}), 1);
  EXPECT_THAT(err, HasSubstr("is a file for language ESP (es), not ENG; import it with --lang ESP"));
  EXPECT_EQ(Trd({"export", "--lang", "XYZ"}), 1);
  EXPECT_THAT(err, HasSubstr("unknown language \"XYZ\"; the server knows ENG, ESP, POR"));
}

TEST_P(ExchangeCli, StatusCountsAndCheckFindsEachKindOfFault) {
  Insert({{"PA", "S1", "Salvar", "T", "Save"},
          {"PA", "S2", "Salvar", "T", "Store"},
          {"PA", "ST", "Status", "T", "Status"},
          {"PA", "PH", "Arquivo %s", "T", "File"},
          {"PA", "AC", "&Abrir", "T", "Open"},
          {"PB", "BL", " Nome", "T", "Name"},
          {"PB", "LB", "A\nB", "T", "A B"},
          {"PB", "NEW", "Novo"},
          {"PA", "OK", "Salvar", "T", "Guardar", "ESP"}});

  ASSERT_EQ(Trd({"status", "--json"}), 0) << err;
  EXPECT_EQ(Json()["languages"][0], nlohmann::json::parse(R"({"language":"ENG","records":8,"translated":7,
      "untranslated":1,"not_translatable":0,"share_translated":0.875})"));
  EXPECT_EQ(Json()["languages"][2]["records"], 0);
  ASSERT_EQ(Trd({"status", "--lang", "eng", "--json"}), 0) << err;
  EXPECT_EQ(Json()["programs"][1], nlohmann::json::parse(R"({"program":"PB","records":3,"translated":2,
      "untranslated":1,"not_translatable":0,"share_translated":0.6666666666666666})"));
  ASSERT_EQ(Trd({"status", "--lang", "ENG"}), 0) << err;
  EXPECT_THAT(out, ::testing::ContainsRegex("PB +3 +2 +1 +66.6%"));
  EXPECT_THAT(out, ::testing::ContainsRegex("Total +8 +7 +1 +87.5%"));

  EXPECT_EQ(Trd({"check", "--lang", "ENG", "--json"}), 1) << err;
  const nlohmann::json found = Json();
  std::map<std::string, std::set<std::string>> keys;
  for (const auto& f : found["findings"])
    for (const auto& k : f["keys"]) keys[f["check"].get<std::string>()].insert(k.get<std::string>());
  using Keys = std::set<std::string>;
  EXPECT_EQ(keys["inconsistent"], (Keys{"PA/FRMPA/S1/Caption/0/ENG", "PA/FRMPA/S2/Caption/0/ENG"}));
  for (const auto& f : found["findings"]) {
    if (f["check"] == "inconsistent") {
      EXPECT_EQ(f["held"], nlohmann::json::parse(R"([{"translation":"Save","keys":["PA/FRMPA/S1/Caption/0/ENG"]},
          {"translation":"Store","keys":["PA/FRMPA/S2/Caption/0/ENG"]}])"));
    }
  }
  EXPECT_EQ(keys["identical"], (Keys{"PA/FRMPA/ST/Caption/0/ENG"}));
  EXPECT_EQ(keys["placeholders"], (Keys{"PA/FRMPA/PH/Caption/0/ENG"}));
  EXPECT_EQ(keys["accelerators"], (Keys{"PA/FRMPA/AC/Caption/0/ENG"}));
  EXPECT_EQ(keys["blanks"], (Keys{"PB/FRMPB/BL/Caption/0/ENG"}));
  EXPECT_EQ(keys["line-breaks"], (Keys{"PB/FRMPB/LB/Caption/0/ENG"}));
  EXPECT_EQ(keys.size(), 6u);
  EXPECT_EQ(Json()["notices"], 1);
  ASSERT_EQ(Trd({"check", "--lang", "ENG"}), 1);
  EXPECT_THAT(out, HasSubstr("error  placeholders: \"Arquivo %s\" -> \"File\""));
  EXPECT_THAT(out, HasSubstr("\"A\\nB\" -> \"A B\""));  // a line break stays on its line

  // A language without faults: status 0.
  EXPECT_EQ(Trd({"check", "--lang", "ESP"}), 0) << out;
  EXPECT_THAT(out, HasSubstr("ESP: 0 errors, 0 notices"));
}

TEST_P(ExchangeCli, ProgramFilterAndTextsTranslatedOnlyInPartGoOutForReview) {
  Insert({{"PA", "SALVAR1", "Salvar"}, {"PB", "SALVAR2", "Salvar"}, {"PA", "NOVO1", "Novo", "T", "New"},
          {"PB", "NOVO2", "Novo"}, {"PA", "OK", "Ok", "T", "OK"}});
  const std::string file = Path("pb.po");
  ASSERT_EQ(Trd({"export", "--lang", "ENG", "--program", "pb", "-o", file}), 0) << err;
  std::map<std::string, exchange::Unit> units;
  for (auto& u : exchange::ReadFile(file).units) units[u.source] = u;
  ASSERT_EQ(units.size(), 2u);
  ASSERT_EQ(units["Salvar"].keys.size(), 1u);
  EXPECT_EQ(exchange::KeyText(units["Salvar"].keys[0]), "PB/FRMPB/SALVAR2/Caption/0/ENG");

  // "Novo" is translated in PA only: the whole language's file offers the
  // translation for review, and an untouched file changes nothing.
  ASSERT_EQ(Trd({"export", "--lang", "ENG", "-o", file}), 0) << err;
  units.clear();
  for (auto& u : exchange::ReadFile(file).units) units[u.source] = u;
  EXPECT_EQ(units.count("Ok"), 0u);  // translated everywhere: not in an untranslated export
  EXPECT_EQ(units["Novo"].state, exchange::State::NeedsReview);
  EXPECT_EQ(units["Novo"].translation, "New");
  const auto before = Table();
  ASSERT_EQ(Trd({"import", file, "--lang", "ENG", "--json"}), 0) << err;
  EXPECT_EQ(Json()["records_translated"], 0);
  EXPECT_EQ(Table(), before);
}

// A file of texts long gone: counted whole, the first hundred named.
TEST_P(ExchangeCli, StaleUnitsAreCountedAndTheFirstHundredNamed) {
  Insert({{"PA", "SALVAR", "Salvar"}});
  std::vector<exchange::Unit> gone;
  for (int i = 0; i < 150; ++i) gone.push_back(exchange::UnitForText("Texto " + std::to_string(i), {}, {"Text"}));
  {
    std::ofstream o(Path("gone.po"), std::ios::binary);
    auto w = exchange::MakeWriter(exchange::Format::Po, o, exchange::FileHeader{"ENG"}, "gone.po");
    for (const auto& u : gone) w->Add(u);
    w->Finish();
  }
  ASSERT_EQ(Trd({"import", Path("gone.po"), "--lang", "ENG", "--json"}), 0) << err;
  EXPECT_EQ(Json()["units_stale"], 150);
  ASSERT_EQ(Json()["stale"].size(), 100u);
  EXPECT_EQ(Json()["stale"][99]["source"], "Texto 99");
  ASSERT_EQ(Trd({"import", Path("gone.po"), "--lang", "ENG"}), 0) << err;
  EXPECT_THAT(out, HasSubstr("not applied), the first 100 of 150:\n"));
}

// A program of translate-toolkit (Debian translate-toolkit), or "" when it
// is not installed.
std::string Toolkit(const std::string& name) {
  for (const char* dir : {"/usr/bin/", "/usr/local/bin/"})
    if (std::filesystem::exists(std::string(dir) + name)) return std::string(dir) + name;
  return {};
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Files as other tools hand them back import by their texts: a PO saved
// with CR LF line ends, XLIFF 1.1 made from our PO by po2xliff, and a PO made
// from our XLIFF by xliff2po (its references are the XLIFF ids).
TEST_P(ExchangeCli, FilesOtherToolsMakeImportByTheirTexts) {
  const std::string po2xliff = Toolkit("po2xliff"), xliff2po = Toolkit("xliff2po");
  if (po2xliff.empty() || xliff2po.empty()) GTEST_SKIP() << "translate-toolkit is not installed (po2xliff, xliff2po)";
  Insert({{"PA", "SALVAR1", "Salvar"}, {"PB", "SALVAR2", "Salvar"}, {"PA", "OBS", "Observação\r\nlinha 2"},
          {"PA", "ABRIR", "&Abrir"}});
  auto translate = [](exchange::Unit& u) {
    u.translation = "EN " + u.source;
    u.state = exchange::State::Translated;
  };
  // Every file below would translate the 4 records.
  auto imports_all = [&](const std::string& file) {
    ASSERT_EQ(Trd({"import", file, "--lang", "ENG", "--dry-run", "--json"}), 0) << err;
    EXPECT_EQ(Json()["records_translated"], 4) << out;
    EXPECT_EQ(Json()["units_stale"], 0) << out;
  };

  ASSERT_EQ(Trd({"export", "--lang", "ENG", "-o", Path("eng.po")}), 0) << err;
  Translate(Path("eng.po"), Path("done.po"), translate);
  std::string crlf;
  for (char c : Slurp(Path("done.po"))) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  imports_all(dir.Write("crlf.po", crlf));

  ChildProcess to_xliff({po2xliff, "--progress=none", Path("done.po"), Path("tt.xlf")});
  ASSERT_EQ(to_xliff.Wait(), 0) << to_xliff.Err();
  EXPECT_THAT(Slurp(Path("tt.xlf")), HasSubstr("version=\"1.1\""));
  imports_all(Path("tt.xlf"));
  ASSERT_EQ(Trd({"import", Path("tt.xlf"), "--lang", "ENG", "--dry-run", "--json"}), 0);
  EXPECT_EQ(Json()["units"], 3);  // the PO header's unit is no text

  // XLIFF as a CAT tool returns it, approved, then through xliff2po.
  ASSERT_EQ(Trd({"export", "--lang", "ENG", "-o", Path("eng.xlf")}), 0) << err;
  Translate(Path("eng.xlf"), Path("done.xlf"), translate);
  std::string approved = Slurp(Path("done.xlf"));
  for (std::size_t at = 0; (at = approved.find("<trans-unit ", at)) != std::string::npos; at += 12)
    approved.insert(at + 12, "approved=\"yes\" ");
  ChildProcess to_po({xliff2po, "--progress=none", dir.Write("approved.xlf", approved), Path("tt.po")});
  ASSERT_EQ(to_po.Wait(), 0) << to_po.Err();
  imports_all(Path("tt.po"));
}

// What the translator gets in a per-text file: texts in the order of the
// forms (not of the alphabet), every translation of a text translated
// several ways (the most held first), and for a changed text the memory's
// translation of the text it was, as the translators' own tools read them.
// Reviewers on the command line: what they approved goes out approved, what
// they sent back goes out to be reviewed again, naming who sent it back;
// both pass msgfmt and translate-toolkit; an untouched file keeps the
// review, a changed translation takes it away.
TEST_P(ExchangeCli, ReviewedTranslationsGoOutMarkedAndAnUntouchedFileKeepsTheReview) {
  Insert({{"PA", "SALVAR1", "Salvar", "T", "Save"}, {"PB", "SALVAR2", "Salvar", "T", "Save"},
          {"PA", "FECHAR", "Fechar", "T", "Close"}, {"PA", "ABRIR", "Abrir"}});
  ASSERT_EQ(Trd({"review", "approve", "--text", "Salvar", "--lang", "eng"}), 0) << err;
  EXPECT_THAT(out, HasSubstr("Salvar\treviewed\t2"));
  ASSERT_EQ(Trd({"review", "send-back", "PA/FRMPA/FECHAR/Caption/0/ENG", "--json"}), 0) << err;
  EXPECT_EQ(Json()["entries"][0]["outcome"], "reviewed");
  EXPECT_EQ(Trd({"review", "approve", "PA/FRMPA/ABRIR/Caption/0/ENG"}), 2) << err;
  EXPECT_THAT(out, HasSubstr("untranslated"));

  const std::string po = Path("approved.po"), xlf = Path("approved.xlf");
  ASSERT_EQ(Trd({"export", "--lang", "ENG", "--state", "approved", "-o", po}), 0) << err;
  ASSERT_EQ(Trd({"export", "--lang", "ENG", "--state", "approved", "--per-key", "-o", xlf}), 0) << err;
  EXPECT_THAT(Slurp(po), HasSubstr("# aprovado em "));
  ChildProcess msgfmt({TRD_MSGFMT, "--check", "-o", "/dev/null", po});
  EXPECT_EQ(msgfmt.Wait(), 0) << msgfmt.Err();
  EXPECT_THAT(Slurp(xlf), HasSubstr("approved=\"yes\""));
  EXPECT_THAT(Slurp(xlf), HasSubstr("<target state=\"signed-off\">Save</target>"));
  EXPECT_EQ(exchange::ReadFile(po).units.size(), 1u);
  EXPECT_EQ(exchange::ReadFile(xlf).units.size(), 2u);
  if (const std::string xliff2po = Toolkit("xliff2po"); !xliff2po.empty()) {
    ChildProcess convert({xliff2po, "--progress=none", xlf, Path("tt.po")});
    EXPECT_EQ(convert.Wait(), 0) << convert.Err();
    EXPECT_THAT(Slurp(Path("tt.po")), HasSubstr("msgstr \"Save\""));
  }
  ASSERT_EQ(Trd({"export", "--lang", "ENG", "--state", "unreviewed", "-o", Path("todo.po")}), 0) << err;
  const auto todo = exchange::ReadFile(Path("todo.po")).units;
  ASSERT_EQ(todo.size(), 1u);
  EXPECT_EQ(todo[0].source, "Fechar");
  EXPECT_EQ(todo[0].state, exchange::State::NeedsReview);
  EXPECT_THAT(Slurp(Path("todo.po")), HasSubstr("# devolvido em "));
  ChildProcess check_todo({TRD_MSGFMT, "--check", "-o", "/dev/null", Path("todo.po")});
  EXPECT_EQ(check_todo.Wait(), 0) << check_todo.Err();
  ASSERT_EQ(Trd({"export", "--lang", "ENG", "--state", "unreviewed", "--per-key", "-o", Path("todo.xlf")}), 0) << err;
  EXPECT_THAT(Slurp(Path("todo.xlf")), HasSubstr("<target state=\"needs-review-translation\">Close</target>"));
  EXPECT_THAT(Slurp(Path("todo.xlf")), HasSubstr("<note>devolvido em "));

  for (const std::string& file : {po, xlf, Path("todo.po")}) {
    ASSERT_EQ(Trd({"import", file, "--lang", "ENG", "--json"}), 0) << err;
    EXPECT_EQ(Json()["records_translated"], 0);
  }
  ASSERT_EQ(Trd({"export", "--lang", "ENG", "--state", "approved", "-o", po}), 0) << err;
  EXPECT_EQ(exchange::ReadFile(po).units.size(), 1u);
  Translate(po, Path("changed.po"), [](exchange::Unit& u) { u.translation = "Store"; });
  ASSERT_EQ(Trd({"import", Path("changed.po"), "--lang", "ENG", "--json"}), 0) << err;
  EXPECT_EQ(Json()["records_translated"], 2);
  ASSERT_EQ(Trd({"export", "--lang", "ENG", "--state", "approved", "-o", po}), 0) << err;
  EXPECT_TRUE(exchange::ReadFile(po).units.empty());
  ASSERT_EQ(Trd({"history", "PA/FRMPA/SALVAR1/Caption/0/ENG"}), 0) << err;
  EXPECT_THAT(out, HasSubstr("\"Save\" -> \"Store\"\tA -> -"));
}

TEST_P(ExchangeCli, ExportOffersAlternativesAndSuggestionsInReadingOrder) {
  const char* python = "/usr/bin/python3";
  Insert({{"PA", "TITULO", "Zebra listrada"},
          {"PB", "ABRIR", "Abrir o arquivo de clientes"},
          {"PB", "SALVAR1", "Salvar", "T", "Save"},
          {"PC", "SALVAR2", "Salvar", "T", "Store"},
          {"PC", "SALVAR3", "Salvar", "T", "Save"}});
  // A translation set once, then the text changes (a new record holds the
  // new text, as a harvest makes it).
  exchange::Unit open = exchange::UnitForText("Abrir o arquivo de clientes", {}, {"Open the customers file"});
  {
    std::ofstream o(Path("open.po"), std::ios::binary);
    auto w = exchange::MakeWriter(exchange::Format::Po, o, exchange::FileHeader{"ENG"}, "open.po");
    w->Add(open);
    w->Finish();
  }
  ASSERT_EQ(Trd({"import", Path("open.po"), "--lang", "ENG"}), 0) << err;
  Insert({{"PD", "ABRIR", "Abrir o arquivo dos clientes"}});

  ASSERT_EQ(Trd({"export", "--lang", "ENG", "--state", "all", "-o", Path("all.po")}), 0) << err;
  ChildProcess msgfmt({TRD_MSGFMT, "--check-format", "--check-header", "-o", "/dev/null", Path("all.po")});
  EXPECT_EQ(msgfmt.Wait(), 0) << msgfmt.Err();
  std::vector<std::string> order;
  for (const auto& u : exchange::ReadFile(Path("all.po")).units) order.push_back(u.source);
  EXPECT_EQ(order, (std::vector<std::string>{"Zebra listrada", "Abrir o arquivo de clientes", "Salvar",
                                             "Abrir o arquivo dos clientes"}));
  const std::string po = Slurp(Path("all.po"));
  EXPECT_THAT(po, HasSubstr("# trd: 2 records hold \"Save\"\n# trd: 1 record holds \"Store\"\n"));
  EXPECT_THAT(po, HasSubstr("#, fuzzy\n#| msgid \"Abrir o arquivo de clientes\"\nmsgid \"Abrir o arquivo dos clientes\"\n"
                            "msgstr \"Open the customers file\"\n"));

  ASSERT_EQ(Trd({"export", "--lang", "ENG", "--state", "all", "-o", Path("all.xlf")}), 0) << err;
  if (!std::filesystem::exists(python)) GTEST_SKIP() << "no /usr/bin/python3 for polib and translate-toolkit";
  // polib (python3-polib) and translate-toolkit read what a translator's
  // tool would show.
  ChildProcess tools({python, "-c",
                      "import sys, polib\n"
                      "from translate.storage import xliff\n"
                      "for e in polib.pofile(sys.argv[1]):\n"
                      "  if e.previous_msgid: print('po', e.msgid, '|', e.previous_msgid, '|', e.msgstr, '|', e.fuzzy)\n"
                      "for u in xliff.xlifffile.parsefile(sys.argv[2]).units:\n"
                      "  for a in u.getalttrans():\n"
                      "    print('xliff', u.source, '|', a.source, '|', a.target, '|', a.xmlelement.get('match-quality'))\n",
                      Path("all.po"), Path("all.xlf")});
  const int status = tools.Wait();
  if (status != 0 && tools.Err().find("ModuleNotFoundError") != std::string::npos)
    GTEST_SKIP() << "polib or translate-toolkit is not installed: " << tools.Err();
  ASSERT_EQ(status, 0) << tools.Err();
  EXPECT_THAT(tools.Out(), HasSubstr("po Abrir o arquivo dos clientes | Abrir o arquivo de clientes | Open the "
                                     "customers file | True\n"));
  EXPECT_THAT(tools.Out(), ::testing::ContainsRegex("xliff Abrir o arquivo dos clientes \\| Abrir o arquivo de "
                                                    "clientes \\| Open the customers file \\| [5-9][0-9]\n"));
  EXPECT_THAT(tools.Out(), HasSubstr("xliff Salvar | Salvar | Save | None\nxliff Salvar | Salvar | Store | None\n"));

  // Nothing offered is imported by a file sent back untouched.
  const auto before = Table();
  for (const char* file : {"all.po", "all.xlf"}) {
    ASSERT_EQ(Trd({"import", Path(file), "--lang", "ENG", "--json"}), 0) << err;
    EXPECT_EQ(Json()["records_translated"], 0) << file;
  }
  EXPECT_EQ(Table(), before);
}

std::string Form(const std::string& name, const std::vector<std::string>& labels) {
  std::string s = "object " + name + ": TForm\n";
  for (const auto& l : labels) s += "  object " + l + ": TLabel\n    Caption = 'Texto de " + l + "'\n  end\n";
  return s + "end\n";
}

TEST_P(ExchangeCli, TextsRemovedFromAFormReadInFullAreReportedVanishedAndKept) {
  dir.Write("src/Cli/Src/Pedido.dfm", Form("frmPedido", {"lblA", "lblB", "lblC"}));
  // The same program again, its keys noted after another program's.
  dir.Write("src/Cli/Std/Ger/Estoque.dfm", Form("frmEstoque", {"lblF"}));
  dir.Write("src/Cli/Std/Lib/Pedido.Item.dfm", Form("frmItem", {"lblD"}));
  // Hundreds of programs between the two: PEDIDO's keys are found again
  // among many programs' stored keys.
  for (int i = 0; i < 300; ++i)
    dir.Write("src/Cli/Src/Tela" + std::to_string(i) + ".dfm", Form("frmTela" + std::to_string(i), {"lblT"}));
  const std::string other = dir.Write("src/Cli/Src/Cliente.dfm", Form("frmCliente", {"lblE"}));
  ASSERT_EQ(Trd({"harvest", dir.Path("src"), "--lang", "ENG", "--yes", "--json"}), 0) << err;
  EXPECT_EQ(Json()["vanished"], 0);

  // A component removed from one form; another program's file left out of the
  // tree (its program is not read, so nothing of it is judged).
  dir.Write("src/Cli/Src/Pedido.dfm", Form("frmPedido", {"lblA", "lblC"}));
  std::filesystem::remove(other);
  // The same whichever way the texts go to the server (a dry run's summary
  // is its last line, after a line per text).
  for (const char* path : {"", "--per-text", "--dry-run"}) {
    SCOPED_TRACE(path);
    std::vector<std::string> args{"harvest", dir.Path("src"), "--lang", "ENG", "--yes", "--json", "--list-vanished"};
    if (*path) args.push_back(path);
    ASSERT_EQ(Trd(args), 0) << err;
    const std::string last = out.substr(out.rfind('\n', out.size() - 2) == std::string::npos
                                            ? 0
                                            : out.rfind('\n', out.size() - 2) + 1);
    const auto j = nlohmann::json::parse(last);
    EXPECT_EQ(j["vanished"], 1);
    EXPECT_EQ(j["vanished_records"],
              nlohmann::json::parse(R"([{"key":"PEDIDO/FRMPEDIDO/LBLB/Caption/0/ENG","source":"Texto de lblB"}])"));
  }
  ASSERT_EQ(Trd({"harvest", dir.Path("src"), "--lang", "ENG", "--yes", "--list-vanished"}), 0) << err;
  EXPECT_THAT(out, HasSubstr("Sumidos: 1\n  PEDIDO/FRMPEDIDO/LBLB/Caption/0/ENG \"Texto de lblB\"\n"));
  EXPECT_EQ(Table().count("PEDIDO/FRMPEDIDO/LBLB/Caption/0"), 1u);  // never deleted

  // A run that does not read every file in full judges nothing.
  dir.Write("src/Cli/Src/Quebrado.dfm", "object frmQ: TForm\n  Caption = 'aberto\n");
  EXPECT_EQ(Trd({"harvest", dir.Path("src"), "--lang", "ENG", "--yes", "--json"}), 1);
  EXPECT_EQ(Json()["vanished"], nullptr);
}

TEST_P(ExchangeCli, AFullRoundTripBringsStatusTo100WithTheUntranslatableRecordsApart) {
  ASSERT_EQ(Trd({"harvest", kSamples, "--lang", "ENG", "--yes"}), 0) << err;
  // Records no exchange file can give a translator: an empty source, and a
  // text holding U+0004.
  Insert({{"PX", "VAZIO", ""}, {"PX", "CTRL", "Tecla \x04"}, {"PX", "OK", "Confirmar"}});
  ASSERT_EQ(Trd({"export", "--lang", "ENG", "-o", Path("eng.po")}), 0) << err;
  Translate(Path("eng.po"), Path("done.po"), [](exchange::Unit& u) {
    u.translation = "EN " + u.source;
    u.state = exchange::State::Translated;
  });
  ASSERT_EQ(Trd({"import", Path("done.po"), "--lang", "ENG"}), 0) << err;

  ASSERT_EQ(Trd({"status", "--lang", "ENG", "--json"}), 0) << err;
  EXPECT_EQ(Json()["untranslated"], 0);
  EXPECT_EQ(Json()["records"], Json()["translated"]);
  EXPECT_GE(Json()["not_translatable"].get<int>(), 2);
  const auto status = Json();
  for (const auto& p : status["programs"]) {
    if (p["program"] == "PX") {
      EXPECT_EQ(p, nlohmann::json::parse(R"({"program":"PX","records":1,"translated":1,"untranslated":0,
          "not_translatable":2,"share_translated":1.0})"));
    }
  }
  ASSERT_EQ(Trd({"status"}), 0) << err;
  EXPECT_THAT(out, ::testing::ContainsRegex("ENG +[0-9]+ +[0-9]+ +0 +100.0%"));
}

TEST_P(ExchangeCli, RetireListsWhatLeftTheTreeRemovesItOnApplyAndTheMemoryKeepsItsTranslations) {
  dir.Write("src/Cli/Src/Pedido.dfm", Form("frmPedido", {"lblA", "lblB", "lblC"}));
  const std::string item = dir.Write("src/Cli/Src/Pedido.Item.dfm", Form("frmItem", {"lblD"}));
  const std::string other = dir.Write("src/Cli/Src/Cliente.dfm", Form("frmCliente", {"lblE"}));
  ASSERT_EQ(Trd({"harvest", dir.Path("src"), "--lang", "ENG", "--yes"}), 0) << err;
  ASSERT_EQ(Trd({"export", "--lang", "ENG", "-o", Path("eng.po")}), 0) << err;
  Translate(Path("eng.po"), Path("done.po"), [](exchange::Unit& u) {
    u.translation = "EN " + u.source;
    u.state = exchange::State::Translated;
  });
  ASSERT_EQ(Trd({"import", Path("done.po"), "--lang", "ENG"}), 0) << err;

  // A text removed from a form, a form file gone from a program that has
  // another, and a program gone whole.
  dir.Write("src/Cli/Src/Pedido.dfm", Form("frmPedido", {"lblA", "lblC"}));
  std::filesystem::remove(item);
  std::filesystem::remove(other);
  const auto before = Table();
  ASSERT_EQ(Trd({"retire", dir.Path("src"), "--lang", "eng", "--json"}), 0) << err;
  EXPECT_EQ(Json()["dry_run"], true);
  EXPECT_EQ(Json()["vanished"], 3);
  EXPECT_EQ(Json()["vanished_records"], nlohmann::json::parse(R"([
      {"key":"CLIENTE/FRMCLIENTE/LBLE/Caption/0/ENG","source":"Texto de lblE","why":"program"},
      {"key":"PEDIDO/FRMITEM/LBLD/Caption/0/ENG","source":"Texto de lblD","why":"form"},
      {"key":"PEDIDO/FRMPEDIDO/LBLB/Caption/0/ENG","source":"Texto de lblB","why":"text"}])"));
  EXPECT_EQ(Table(), before);  // a dry run changes nothing
  ASSERT_EQ(Trd({"retire", dir.Path("src"), "--lang", "ENG"}), 0) << err;
  EXPECT_THAT(out, HasSubstr("Sumidos: 3\n"));
  EXPECT_THAT(out, HasSubstr("  PEDIDO: 2 (1 formulário ausente, 1 texto sumido)\n"));
  EXPECT_THAT(out, HasSubstr("Simulação, nada foi retirado"));
  EXPECT_EQ(Table(), before);

  // A file that cannot be read in full retires nothing.
  const std::string broken = dir.Write("src/Cli/Src/Quebrado.dfm", "object frmQ: TForm\n  Caption = 'aberto\n");
  EXPECT_EQ(Trd({"retire", dir.Path("src"), "--lang", "ENG", "--apply"}), 1);
  EXPECT_THAT(err, HasSubstr("nothing retired"));
  EXPECT_EQ(Table(), before);
  std::filesystem::remove(broken);

  ASSERT_EQ(Trd({"retire", dir.Path("src"), "--lang", "ENG", "--apply", "--json"}), 0) << err;
  EXPECT_EQ(Json()["retired"], 3);
  auto expected = before;
  for (const char* k : {"CLIENTE/FRMCLIENTE/LBLE/Caption/0", "PEDIDO/FRMITEM/LBLD/Caption/0",
                        "PEDIDO/FRMPEDIDO/LBLB/Caption/0"})
    EXPECT_EQ(expected.erase(k), 1u) << k;
  EXPECT_EQ(Table(), expected);
  ASSERT_EQ(Trd({"retire", dir.Path("src"), "--lang", "ENG", "--json"}), 0) << err;
  EXPECT_EQ(Json()["vanished"], 0);

  // The retired text comes back in another form: its translation is reused.
  dir.Write("src/Cli/Src/Novo.dfm", Form("frmNovo", {"lblE"}));
  ASSERT_EQ(Trd({"harvest", dir.Path("src"), "--lang", "ENG", "--yes"}), 0) << err;
  EXPECT_EQ(Table()["NOVO/FRMNOVO/LBLE/Caption/0"], std::make_pair(std::string("T"), std::string("EN Texto de lblE")));
}

INSTANTIATE_TEST_SUITE_P(Backends, ExchangeCli, ::testing::Values(TestBackend::Sqlite, TestBackend::Postgres),
                         [](const auto& info) { return std::string(BackendName(info.param)); });

}  // namespace
}  // namespace trd::test
