// The record paths of `trd harvest` against each other: a file's texts in one
// call (the default), text by text (--per-text, the screen's calls), and the
// dry run (--dry-run). For the same tree and the same table before, the batch
// and per-text paths must leave the same table and print the same summary;
// the dry run must leave the database as it was, byte for byte, and tell
// exactly what the real run then does.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "protocol/Exchange.h"
#include "protocol/Methods.h"
#include "run/ImportRun.h"
#include "server/Database.h"
#include "server/Service.h"
#include "support/ChildProcess.h"
#include "support/ServerProcess.h"
#include "support/StoredRecords.h"
#include "support/TempTree.h"
#include "support/TestDatabase.h"

namespace trd::test {
namespace {

namespace fs = std::filesystem;

const std::string kSamples = std::string(TRD_SOURCE_DIR) + "/samples";
const fs::path kCorpus = fs::path(TRD_CORPUS_DIR) / "dfm";

struct HarvestRun {
  int status = -1;
  std::string out, err;
  nlohmann::json summary;             // the last line of standard output
  std::vector<nlohmann::json> notes;  // the dry run's lines before it
};

// `trd harvest TREE` against `where` ({"--db", PATH} or {"--server", URL}).
HarvestRun HarvestVia(const std::string& tree, const std::vector<std::string>& where,
                      const std::vector<std::string>& extra) {
  std::vector<std::string> args{TRD_EXE, "harvest", tree, "--lang", "POR", "--yes", "--json", "--allow-duplicates"};
  args.insert(args.end(), where.begin(), where.end());
  args.insert(args.end(), extra.begin(), extra.end());
  ChildProcess child(args, {"TRD_SERVER="});
  HarvestRun r;
  r.status = child.Wait();
  r.out = child.Out();
  r.err = child.Err();
  std::istringstream lines(r.out);
  std::vector<nlohmann::json> parsed;
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) parsed.push_back(nlohmann::json::parse(line, nullptr, false));
  if (!parsed.empty()) {
    r.summary = parsed.back();
    parsed.pop_back();
    r.summary.erase("elapsed_seconds");
    r.summary.erase("vanished_seconds");
  }
  r.notes = std::move(parsed);
  return r;
}

HarvestRun Harvest(const std::string& tree, const std::string& db, const std::vector<std::string>& extra) {
  return HarvestVia(tree, {"--db", db}, extra);
}

// Some texts of the samples translated, as a translator would.
void TranslateSome(const std::string& url) {
  auto database = server::OpenDatabase(url);
  database->Acquire()->Execute(
      "UPDATE TRDPROPRIEDADE SET IDSITTRADUCAO = 'T', STVALORPROP = 'Tradução de ' || STAGRVALPROP "
      "WHERE STAGRVALPROP IN ('Pedido de Venda', '&Salvar', 'Cliente:')");
}

// Every text of the table translated through the server, as `trd import`
// does (by source text), so that the translation memory learns them.
void TranslateEverything(const std::string& url) {
  std::set<std::string> sources;
  for (const StoredRecord& r : ReadRecords(url))
    if (!r.source.empty()) sources.insert(r.source);
  Packet changes{protocol::TranslationChangeFields(), {}};
  for (const std::string& source : sources)
    changes.rows.push_back({std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{},
                            std::monostate{}, source, "Tradução de " + source});
  const Value args[] = {std::string("POR"), std::move(changes), std::string("apply")};
  const Value v = server::Service::Open(url)->Call(protocol::kModuleExchange, protocol::kSetTraducoes, args);
  ASSERT_TRUE(std::holds_alternative<Packet>(v));
}

// Every record but its time.
std::vector<std::string> Table(const std::string& db) {
  std::vector<std::string> out;
  for (const StoredRecord& r : ReadRecords(db))
    out.push_back(r.key + " " + r.language + " " + r.state + " [" + r.source + "] -> [" + r.translation + "]");
  return out;
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A form in which component LBL gets three texts under one key: two panels
// hold a label of that name each, and the first holds another under a
// nested panel.
const char kOneKeySeveralTexts[] =
    "object frmChave: TForm\n"
    "  Caption = 'Chaves repetidas'\n"
    "  object pnlA: TPanel\n"
    "    object lbl: TLabel\n      Caption = 'Primeiro texto'\n    end\n"
    "    object pnlC: TPanel\n      object lbl: TLabel\n        Caption = 'Segundo texto'\n      end\n    end\n"
    "  end\n"
    "  object pnlB: TPanel\n"
    "    object lbl: TLabel\n      Caption = 'Terceiro texto'\n    end\n"
    "  end\n"
    "end\n";

class RecordPaths : public ::testing::Test {
 protected:
  // A copy of the samples, with the form above added.
  std::string SampleTree(const std::string& name) {
    const fs::path root = dir_.Dir() / name;
    fs::copy(kSamples, root, fs::copy_options::recursive);
    std::ofstream(root / "Cli" / "Src" / "Chave.dfm", std::ios::binary) << kOneKeySeveralTexts;
    return root.string();
  }

  // The samples with changed texts: a caption changed, one removed, one form
  // new whose texts are stored already under other keys.
  std::string ChangedTree(const std::string& name) {
    const std::string root = SampleTree(name);
    const fs::path pedido = fs::path(root) / "Cli" / "Src" / "Vendas" / "Pedido.dfm";
    std::string text = Bytes(pedido.string());
    auto replace = [&text](const std::string& from, const std::string& to) {
      const std::size_t at = text.find(from);
      ASSERT_NE(at, std::string::npos) << from;
      text.replace(at, from.size(), to);
    };
    replace("Caption = 'Pedido de Venda'", "Caption = 'Pedido de venda alterado'");
    replace("Caption = 'Cliente:'", "Caption = 'Cliente do pedido:'");
    std::ofstream(pedido, std::ios::binary | std::ios::trunc) << text;
    std::ofstream(fs::path(root) / "Cli" / "Src" / "Reuso.dfm", std::ios::binary)
        << "object frmReuso: TForm\n  Caption = 'Pedido de Venda'\n"
           "  object btn: TButton\n    Caption = '&Salvar'\n  end\n"
           "  object lbl: TLabel\n    Caption = 'Cliente:'\n  end\nend\n";
    return root;
  }

  // A database holding the samples (harvested by the reference path), with
  // some texts translated as a translator would.
  std::string BaseDatabase(const std::string& name) {
    const std::string db = dir_.Path(name + ".sqlite");
    const HarvestRun r = Harvest(SampleTree(name + "-tree"), db, {"--per-text"});
    EXPECT_EQ(r.status, 0) << r.err;
    TranslateSome(db);
    return db;
  }

  // Copies `db` (empty: a fresh one) for one run.
  std::string CopyOf(const std::string& db, const std::string& name) {
    const std::string copy = dir_.Path(name + ".sqlite");
    if (!db.empty()) fs::copy_file(db, copy);
    return copy;
  }

  // Harvests `tree` on copies of `db` by the batch, the per-text and the
  // one-call-per-text paths, and expects the same table and summary of
  // each; returns the summary.
  nlohmann::json ExpectSameOutcome(const std::string& tree, const std::string& db, const std::string& name) {
    const std::string per_text_db = CopyOf(db, name + "-per-text");
    const HarvestRun per_text = Harvest(tree, per_text_db, {"--per-text"});
    EXPECT_EQ(per_text.status, 0) << per_text.err;
    for (const char* path : {"", "--one-call-per-text"}) {
      const std::string other_db = CopyOf(db, name + "-other" + path);
      const HarvestRun other = Harvest(tree, other_db, *path ? std::vector<std::string>{path} : std::vector<std::string>{});
      EXPECT_EQ(other.status, 0) << other.err;
      EXPECT_EQ(other.summary, per_text.summary) << name << path;
      EXPECT_EQ(Table(other_db), Table(per_text_db)) << name << path;
    }
    return per_text.summary;
  }

  TempTree dir_{"trd-paths"};
};

TEST_F(RecordPaths, BatchAndPerTextLeaveTheSameTableAndSummary) {
  // Fresh database: every text new; the key of several texts replaced twice.
  nlohmann::json fresh = ExpectSameOutcome(SampleTree("fresh"), "", "fresh");
  EXPECT_EQ(fresh["replaced"], 2);
  EXPECT_GT(fresh["new"], 80);

  // The same tree again: everything stored already but the key of several
  // texts, whose three texts replace each other again.
  const std::string db = BaseDatabase("base");
  nlohmann::json again = ExpectSameOutcome(SampleTree("again"), db, "again");
  EXPECT_EQ(again["new"], 3);
  EXPECT_EQ(again["replaced"], 3);

  // Changed texts, and a new form whose texts have translations to reuse.
  nlohmann::json changed = ExpectSameOutcome(ChangedTree("changed"), db, "changed");
  EXPECT_EQ(changed["replaced"], 2 + 3);
  EXPECT_EQ(changed["translations_reused"], 3);
}

TEST_F(RecordPaths, BatchAndPerTextAgreeOnTheCorpus) {
  if (!fs::is_directory(kCorpus)) GTEST_SKIP() << "no corpus at " << kCorpus;
  // The corpus's form files under Cli/Src, as links, but those whose program
  // code does not fit its column (refused alike by both paths).
  const fs::path tree = dir_.Dir() / "corpus";
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(kCorpus)) {
    const std::string name = e.path().filename().string();
    if (!e.is_regular_file() || name.find('.') > 20) continue;
    const fs::path link = tree / "Cli" / "Src" / fs::relative(e.path(), kCorpus);
    fs::create_directories(link.parent_path());
    fs::create_symlink(e.path(), link);
  }
  // Files that end a run (names that do not fit their columns, files the
  // reader refuses) end it on both paths, the batch path storing none of
  // the file, the per-text path its texts before the fault: they are left
  // out.
  for (int left_out = 0; left_out < 50; ++left_out) {
    const HarvestRun probe = Harvest(tree.string(), CopyOf("", "corpus-probe-" + std::to_string(left_out)), {});
    if (probe.status == 0) break;
    ASSERT_TRUE(probe.summary.contains("failed_file")) << probe.err;
    fs::remove(probe.summary["failed_file"].get<std::string>());
  }
  nlohmann::json summary = ExpectSameOutcome(tree.string(), "", "corpus");
  EXPECT_GT(summary["texts_seen"], 10000);
}

// The whole corpus, every form file under Cli/Src as a link: the files whose
// names are too long for the table are left out before the run, and the run
// goes to its end past the files that fail, naming exactly them.
TEST_F(RecordPaths, TheCorpusHarvestsToTheEndNamingExactlyTheFilesThatFail) {
  if (!fs::is_directory(kCorpus)) GTEST_SKIP() << "no corpus at " << kCorpus;
  const fs::path tree = dir_.Dir() / "whole-corpus";
  int forms = 0;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(kCorpus)) {
    if (!e.is_regular_file() || run::KindOf(e.path().string()) != run::FileKind::Form) continue;
    const fs::path link = tree / "Cli" / "Src" / fs::relative(e.path(), kCorpus);
    fs::create_directories(link.parent_path());
    fs::create_symlink(e.path(), link);
    ++forms;
  }
  const HarvestRun r = Harvest(tree.string(), dir_.Path("whole-corpus.sqlite"), {"--keep-going", "--skip-unstorable"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.summary["outcome"], "failed");
  EXPECT_EQ(r.summary["files_left_out"], 85);
  EXPECT_EQ(r.summary["files_selected"].get<int>() + r.summary["files_left_out"].get<int>(), forms);
  EXPECT_EQ(r.summary["files_read"].get<int>() + r.summary["files_failed"].get<int>(), r.summary["files_selected"]);
  std::map<std::string, std::string> failed;
  for (const nlohmann::json& f : r.summary["failures"])
    failed[fs::path(f["file"].get<std::string>()).lexically_relative(tree / "Cli" / "Src").string()] = f["error"];
  const std::string kWide = "um nome ou texto do arquivo é maior que a sua coluna na tabela de tradução";
  const std::map<std::string, std::string> expected{
      // A component name of 51 characters; UCompraConfirmaCotacao.dfm has it
      // too, but its own name is too long and it is left out before.
      {"alberteije__T2TiERP-1-Delphi/compras/ERP/Cliente/Compras/Tela/UCompraCotacao.dfm", kWide},
      {"project-jedi__jvcl/donations/SIMDView/JvSIMDModifyForm.dfm", "o arquivo está malformado ou incompleto"},
  };
  ASSERT_EQ(failed.size(), expected.size()) << r.summary["failures"].dump(1);
  for (const auto& [file, cause] : expected) {
    ASSERT_TRUE(failed.contains(file)) << file;
    EXPECT_EQ(failed[file].rfind(cause, 0), 0u) << failed[file];
    EXPECT_NE(failed[file].find(". Detalhe técnico: "), std::string::npos) << failed[file];
  }
  EXPECT_GT(r.summary["texts_seen"], 10000);
}

// A batch over the part size goes out in several calls with the same
// outcome: a form of long texts, more in all than one request may carry.
TEST_F(RecordPaths, ALargeFileGoesOutInPartsWithTheSameOutcome) {
  const fs::path root = dir_.Dir() / "large";
  fs::create_directories(root / "Cli" / "Src");
  std::string form = "object frmGrande: TForm\n";
  for (int i = 0; i < 2200; ++i)  // 8.8 MB of texts
    form += "  object lbl" + std::to_string(i) + ": TLabel\n    Caption = '" + std::to_string(i) + " " +
            std::string(3990, char('a' + i % 26)) + "'\n  end\n";
  std::ofstream(root / "Cli" / "Src" / "Grande.dfm", std::ios::binary) << form + "end\n";
  nlohmann::json summary = ExpectSameOutcome(root.string(), "", "large");
  EXPECT_EQ(summary["new"], 2200);
}

// Each note of a dry run against the table before and after the real run.
void ExpectNotesCameTrue(const std::vector<nlohmann::json>& notes, std::vector<StoredRecord> before_records,
                         std::vector<StoredRecord> after_records) {
  auto by_key = [](std::vector<StoredRecord>& records) {
    std::map<std::string, StoredRecord> m;
    for (StoredRecord& r : records) m[r.key] = std::move(r);
    return m;
  };
  const auto before = by_key(before_records), after = by_key(after_records);
  // A key may get several texts: only its last note tells the table after.
  std::map<std::string, const nlohmann::json*> last;
  for (const nlohmann::json& n : notes) {
    const std::string key = n["program"].get<std::string>() + "/" + n["form"].get<std::string>() + "/" +
                            n["component"].get<std::string>() + "/" + n["property"].get<std::string>() + "/" +
                            std::to_string(n["number"].get<long>());
    last[key] = &n;
  }
  for (const auto& [key, note] : last) {
    const nlohmann::json& n = *note;
    const std::string outcome = n["outcome"], text = n["text"];
    const auto was = before.find(key), is = after.find(key);
    if (outcome == "skipped") {
      EXPECT_TRUE(is == after.end() || is->second.source != text) << key;
      continue;
    }
    ASSERT_NE(is, after.end()) << key << " " << outcome;
    EXPECT_EQ(is->second.source, text) << key;
    if (outcome == "stored_already") {
      EXPECT_TRUE(was != before.end() && was->second.source == text) << key;
    }
    if (outcome == "replaced" && notes.size() == last.size()) {
      EXPECT_TRUE(was != before.end() && was->second.source == n["old_text"]) << key;
    }
    if (outcome == "created" && notes.size() == last.size()) {
      EXPECT_EQ(was, before.end()) << key;
    }
    if (n["translation_reused"] == true) {
      EXPECT_EQ(is->second.state, "T") << key;
      EXPECT_EQ(is->second.translation, n["translation"]) << key;
    }
  }
}

TEST_F(RecordPaths, ADryRunChangesNothingAndPredictsTheRealRun) {
  const std::string base = BaseDatabase("dry-base");
  struct Case {
    std::string name, tree, db;
  };
  const std::vector<Case> cases = {
      {"fresh", SampleTree("dry-fresh"), ""},
      {"again", SampleTree("dry-again"), base},
      {"changed", ChangedTree("dry-changed"), base},
  };
  for (const Case& c : cases) {
    const std::string db = CopyOf(c.db, "dry-" + c.name);
    if (c.db.empty()) server::Service::Open(db);  // its tables, no record
    const std::string before_bytes = Bytes(db);
    const std::string before_db = CopyOf(db, "dry-" + c.name + "-before");

    const HarvestRun dry = Harvest(c.tree, db, {"--dry-run"});
    EXPECT_EQ(dry.status, 0) << c.name << ": " << dry.err;
    EXPECT_EQ(Bytes(db), before_bytes) << c.name << ": the dry run changed the database";
    EXPECT_FALSE(fs::exists(db + "-wal") && fs::file_size(db + "-wal") > 0) << c.name;
    EXPECT_NE(dry.err.find("Simulação, nada foi gravado: "), std::string::npos) << dry.err;
    EXPECT_EQ(dry.err.find("Confirma"), std::string::npos) << "a dry run puts no question";
    EXPECT_EQ(dry.summary["dry_run"], true);
    EXPECT_EQ(long(dry.notes.size()), dry.summary["texts_seen"].get<long>()) << c.name;

    const HarvestRun real = Harvest(c.tree, db, {});
    ASSERT_EQ(real.status, 0) << real.err;
    nlohmann::json predicted = dry.summary, done = real.summary;
    for (nlohmann::json* j : {&predicted, &done})
      for (const char* k : {"dry_run", "version_stamped"}) j->erase(k);
    EXPECT_EQ(predicted, done) << c.name;
    ExpectNotesCameTrue(dry.notes, ReadRecords(before_db), ReadRecords(db));
  }
}

// The same through `trd serve` on PostgreSQL: the table stays as it was, and
// the real run does what the dry run said.
TEST_F(RecordPaths, ADryRunAgainstAServerOnPostgresPredictsTheRealRun) {
  if (!TestDatabase::Available(TestBackend::Postgres)) GTEST_SKIP() << TestDatabase::kSkipMessage;
  TestDatabase db(TestBackend::Postgres);
  ServerProcess server({.db = db.Url()});
  const std::vector<std::string> at{"--server", server.Url()};
  ASSERT_EQ(HarvestVia(SampleTree("pg-base"), at, {"--per-text"}).status, 0);
  TranslateSome(db.Url());
  const std::string tree = ChangedTree("pg-changed");

  const std::vector<StoredRecord> before = ReadRecords(db.Url());
  const HarvestRun dry = HarvestVia(tree, at, {"--dry-run"});
  ASSERT_EQ(dry.status, 0) << dry.err;
  EXPECT_EQ(ReadRecords(db.Url()).size(), before.size());
  std::vector<std::string> before_lines;
  for (const StoredRecord& r : before)
    before_lines.push_back(r.key + " " + r.state + " [" + r.source + "] -> [" + r.translation + "]");
  std::vector<std::string> after_dry;
  for (const StoredRecord& r : ReadRecords(db.Url()))
    after_dry.push_back(r.key + " " + r.state + " [" + r.source + "] -> [" + r.translation + "]");
  EXPECT_EQ(after_dry, before_lines) << "the dry run changed the table";
  EXPECT_GT(dry.summary["replaced"].get<long>(), 0);
  EXPECT_GT(dry.summary["translations_reused"].get<long>(), 0);

  const HarvestRun real = HarvestVia(tree, at, {});
  ASSERT_EQ(real.status, 0) << real.err;
  nlohmann::json predicted = dry.summary, done = real.summary;
  for (nlohmann::json* j : {&predicted, &done})
    for (const char* k : {"dry_run", "version_stamped"}) j->erase(k);
  EXPECT_EQ(predicted, done);
  ExpectNotesCameTrue(dry.notes, before, ReadRecords(db.Url()));
}

// A translated tree harvested again changes no translation, on any path,
// though the key of several texts deletes and recreates its record on every
// run (the translation of its last text, held by no other record, comes back
// from the translation memory); the dry run tells exactly that beforehand.
void ExpectReharvestKeepsEveryTranslation(const std::string& tree, const std::vector<std::string>& where,
                                          const std::string& url) {
  const std::vector<std::string> translated = Table(url);
  ASSERT_NE(std::find(translated.begin(), translated.end(),
                      "CHAVE/FRMCHAVE/LBL/Caption/0 POR T [Terceiro texto] -> [Tradução de Terceiro texto]"),
            translated.end());
  for (const std::vector<std::string>& path :
       {std::vector<std::string>{}, {"--per-text"}, {"--one-call-per-text"}}) {
    const std::string name = path.empty() ? "batch" : path.front();
    const std::vector<StoredRecord> before = ReadRecords(url);
    const HarvestRun dry = HarvestVia(tree, where, {"--dry-run"});
    ASSERT_EQ(dry.status, 0) << dry.err;
    const HarvestRun real = HarvestVia(tree, where, path);
    ASSERT_EQ(real.status, 0) << real.err;
    EXPECT_EQ(Table(url), translated) << name;
    EXPECT_EQ(real.summary["replaced"], 3) << name;
    EXPECT_EQ(real.summary["translations_reused"], 1) << name;
    nlohmann::json predicted = dry.summary, done = real.summary;
    for (nlohmann::json* j : {&predicted, &done})
      for (const char* k : {"dry_run", "version_stamped"}) j->erase(k);
    EXPECT_EQ(predicted, done) << name;
    ExpectNotesCameTrue(dry.notes, before, ReadRecords(url));
  }
}

TEST_F(RecordPaths, AReharvestOfATranslatedTreeChangesNoTranslation) {
  const std::string tree = SampleTree("kept");
  const std::string db = CopyOf("", "kept");
  ASSERT_EQ(Harvest(tree, db, {}).status, 0);
  TranslateEverything(db);
  ExpectReharvestKeepsEveryTranslation(tree, {"--db", db}, db);
}

TEST_F(RecordPaths, AReharvestOfATranslatedTreeChangesNoTranslationThroughAServerOnPostgres) {
  if (!TestDatabase::Available(TestBackend::Postgres)) GTEST_SKIP() << TestDatabase::kSkipMessage;
  TestDatabase db(TestBackend::Postgres);
  ServerProcess server({.db = db.Url()});
  const std::string tree = SampleTree("pg-kept");
  ASSERT_EQ(HarvestVia(tree, {"--server", server.Url()}, {}).status, 0);
  TranslateEverything(db.Url());
  ExpectReharvestKeepsEveryTranslation(tree, {"--server", server.Url()}, db.Url());
}

}  // namespace
}  // namespace trd::test
