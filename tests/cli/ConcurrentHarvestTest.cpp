// Several people harvesting at once against one `trd serve`: K `trd harvest`
// processes started together, on the same tree or on trees of their own.
//
// Whatever the interleaving, every run must end (no hang: each runs under a
// deadline) and go through its list, and the translation table afterwards
// must hold exactly what one uninterrupted run per tree on a fresh database
// gives: no record lost, none extra, none half-changed (source, translation,
// state), one version row. The database starts with records that make the
// runs take every path of a new text: an older text under a key of the tree
// (replaced through SetVerProp), plain new texts and, where said, stored
// translations to reuse (GetUpdRelDfm + UpdateRelDfm). The runs' counters are
// checked against the texts they saw.
//
// The storage comes from TestDatabase: a SQLite file in a temporary
// directory, and, when TRD_TEST_PG_URL names a PostgreSQL cluster, a fresh
// schema in it as well (skipped otherwise).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/Connection.h"
#include "platform/Text.h"
#include "protocol/Methods.h"
#include "protocol/Record.h"
#include "store/Record.h"
#include "support/ChildGroup.h"
#include "support/ServerProcess.h"
#include "support/StoredRecords.h"
#include "support/TempTree.h"
#include "support/TestDatabase.h"

namespace trd::test {
namespace {

namespace fs = std::filesystem;

constexpr int kFormFiles = 12;
constexpr int kFiles = kFormFiles + 1;  // and the form of one key with several texts
constexpr int kRepeatedTexts = 3;       // the texts of that key
constexpr int kTextsPerFile = 40;
constexpr int kShared = 4;  // distinct texts that have a stored translation
const std::chrono::seconds kDeadline{180};

// A form whose captions are mostly its own, every fifth one a text with a
// stored translation ("Salvar N").
std::string FormText(const std::string& form, int file) {
  std::string s = "object " + form + ": TForm\n";
  for (int i = 0; i < kTextsPerFile; ++i) {
    std::string caption = i % 5 == 0 ? "Salvar " + std::to_string(i % kShared)
                                     : "Texto " + std::to_string(i) + " da tela " + std::to_string(file);
    s += "  object lbl" + std::to_string(i) + ": TLabel\n    Caption = '" + caption + "'\n  end\n";
  }
  return s + "end\n";
}

// Component LBL of form FRMCHAVE gets kRepeatedTexts texts under one key.
const char kOneKeySeveralTexts[] =
    "object frmChave: TForm\n"
    "  object pnlA: TPanel\n    object lbl: TLabel\n      Caption = 'Primeiro texto'\n    end\n  end\n"
    "  object pnlB: TPanel\n    object lbl: TLabel\n      Caption = 'Segundo texto'\n    end\n  end\n"
    "  object pnlC: TPanel\n    object lbl: TLabel\n      Caption = 'Terceiro texto'\n    end\n  end\n"
    "end\n";

// Name of file `file` of tree `tree` without ".dfm": the program code of its
// records, upper-cased (as are the form and component names).
std::string FileStem(int tree, int file) { return "T" + std::to_string(tree) + "Tela" + std::to_string(file); }

Row SeedRow(std::string program, std::string form, std::string component, std::string source, std::string translation,
            std::string state) {
  return {std::move(program),
          std::move(form),
          std::move(component),
          std::string("Caption"),
          0.0,
          std::move(state),
          std::move(translation),
          std::move(source),
          DateTime::FromParts(2020, 1, 2, 3),
          std::string("POR")};
}

// Everything of a record but its time, which differs from run to run.
std::vector<std::string> Table(const std::string& url) {
  std::vector<std::string> out;
  for (const StoredRecord& r : ReadRecords(url))
    out.push_back(r.key + " " + r.language + " " + r.state + " [" + r.source + "] -> [" + r.translation + "]");
  return out;
}

std::size_t VersionRows(const std::string& url) {
  static const std::vector<FieldType> kTypes{FieldType::DateTime};
  auto db = server::OpenDatabase(url);
  return db->Acquire()->Query("SELECT DTGERARQTRAD FROM TRDVERSAO", {}, kTypes).size();
}

// A `trd serve` child on `url`.
ServerProcess ServeOn(const std::string& url) {
  ServerProcessOptions options;
  options.db = url;
  return ServerProcess(options);
}

struct RunEnd {
  ChildGroup::Ended process;
  nlohmann::json summary;  // null when standard output was no JSON object
};

// Every run ended by itself, went through its whole list and says so in its
// summary; a run that did not is described with its own words, once.
void ExpectAllCompleted(const std::vector<RunEnd>& ends, int files = kFiles) {
  for (std::size_t i = 0; i < ends.size(); ++i) {
    const RunEnd& e = ends[i];
    const std::string who = "run " + std::to_string(i) + " of " + std::to_string(ends.size());
    if (e.process.timed_out) {
      ADD_FAILURE() << who << " did not end within " << kDeadline.count() << " s:\n" << e.process.err;
    } else if (e.summary.is_null()) {
      ADD_FAILURE() << who << " ended with status " << e.process.status << " and no summary:\n" << e.process.err;
    } else if (e.process.status != 0 || e.summary["outcome"] != "completed") {
      ADD_FAILURE() << who << " ended with status " << e.process.status << ", " << e.summary["outcome"] << " after "
                    << e.summary["files_read"] << " files: " << e.summary.value("failed_file", "") << ": "
                    << e.summary.value("error", "");
    } else {
      EXPECT_EQ(e.summary["files_read"], files) << who;
      EXPECT_EQ(e.summary["version_stamped"], true) << who;
    }
  }
}

enum class Path { Batch, PerText };

class ConcurrentHarvest : public ::testing::TestWithParam<std::tuple<TestBackend, Path>> {
 protected:
  void SetUp() override {
    if (!TestDatabase::Available(Backend())) GTEST_SKIP() << TestDatabase::kSkipMessage;
  }
  static TestBackend Backend() { return std::get<0>(GetParam()); }
  static Path RecordPath() { return std::get<1>(GetParam()); }

  // Writes tree `tree` (with a copy of the samples when said) and returns
  // its directory.
  enum class Samples { No, Yes };
  std::string Tree(int tree, Samples samples = Samples::No) {
    fs::path root = dir_.Dir() / ("tree" + std::to_string(tree) + (samples == Samples::Yes ? "s" : ""));
    if (samples == Samples::Yes && !fs::exists(root))
      fs::copy(fs::path(TRD_SOURCE_DIR) / "samples", root, fs::copy_options::recursive);
    fs::path src = root / "Cli" / "Src";
    fs::create_directories(src);
    for (int f = 0; f < kFormFiles; ++f)
      std::ofstream(src / (FileStem(tree, f) + ".dfm"), std::ios::binary) << FormText("frmTela" + std::to_string(f), f);
    std::ofstream(src / ("T" + std::to_string(tree) + "Chave.dfm"), std::ios::binary) << kOneKeySeveralTexts;
    return root.string();
  }

  // The records a run finds on the server before it starts: the stored
  // translations (unless None), and an older text under the key of the
  // second caption of every file of the trees.
  enum class Translations { Stored, None };
  static void Seed(const ServerProcess& server, const std::vector<int>& trees, Translations translations) {
    ChangeSet cs{protocol::RecordFields(), {}};
    for (int i = 0; translations == Translations::Stored && i < kShared; ++i) {
      std::string n = std::to_string(i);
      cs.changes.push_back(
          {ChangeKind::Insert, {}, SeedRow("DICIONARIO", "frmDic", "lbl" + n, "Salvar " + n, "Save " + n, "T")});
    }
    for (int t : trees)
      for (int f = 0; f < kFormFiles; ++f) {
        std::string stem = text::UpperAscii(FileStem(t, f));
        cs.changes.push_back(
            {ChangeKind::Insert,
             {},
             SeedRow(stem, "FRMTELA" + std::to_string(f), "LBL1", "Texto antigo", "Texto antigo", "N")});
      }
    Connection c("seed", std::string(protocol::kModuleForms));
    c.host = server.Host();
    c.port = server.Port();
    Value result = c.Call("SetPropried", {Value(std::move(cs))});
    if (const auto* f = std::get_if<ServerFailure>(&result)) throw std::runtime_error("seeding: " + f->message);
  }

  // Starts one `trd harvest` per tree at once and waits for all of them.
  static std::vector<RunEnd> HarvestAtOnce(const ServerProcess& server, const std::vector<std::string>& trees) {
    ChildGroup group(kDeadline);
    for (const std::string& tree : trees) {
      std::vector<std::string> args{TRD_EXE, "harvest", tree, "--lang", "POR", "--yes", "--server", server.Url(), "--json"};
      if (RecordPath() == Path::PerText) args.push_back("--per-text");
      group.Start(args, {"TRD_SERVER="});
    }
    std::vector<RunEnd> ends;
    for (ChildGroup::Ended& e : group.WaitAll()) {
      RunEnd end{std::move(e), nullptr};
      end.summary = nlohmann::json::parse(end.process.out, nullptr, false);
      if (end.summary.is_discarded()) end.summary = nullptr;
      ends.push_back(std::move(end));
    }
    return ends;
  }

  // The table one uninterrupted run per tree, one after the other, leaves in
  // a fresh, seeded database; and the texts each of those runs saw.
  std::vector<std::string> Reference(const std::vector<int>& trees, Translations translations,
                                     std::vector<nlohmann::json>* summaries = nullptr, Samples samples = Samples::No) {
    TestDatabase db(Backend(), TestDatabase::Storage::File);
    ServerProcess server = ServeOn(db.Url());
    Seed(server, trees, translations);
    for (int t : trees) {
      std::vector<RunEnd> end = HarvestAtOnce(server, {Tree(t, samples)});
      EXPECT_EQ(end[0].process.status, 0) << end[0].process.err;
      if (summaries) summaries->push_back(end[0].summary);
    }
    return Table(db.Url());
  }

  // Eight runs on one tree with the samples: the same texts in the same
  // order, so that they race on every key.
  void SameTreeAtOnce(Translations translations) {
    constexpr int kRuns = 8;
    constexpr int kSampleFiles = 10;
    std::vector<nlohmann::json> one_run;
    const std::vector<std::string> reference = Reference({0}, translations, &one_run, Samples::Yes);
    const long seen = one_run.at(0).value("texts_seen", -1L);
    // The texts not declined (not worth translating): stored already or new.
    const long kept = one_run[0].value("already_stored", -1L) + one_run[0].value("new", -1L);
    ASSERT_GT(reference.size(),
              std::size_t((translations == Translations::Stored ? kShared : 0) + kFormFiles * kTextsPerFile + 1));

    TestDatabase db(Backend(), TestDatabase::Storage::File);
    ServerProcess server = ServeOn(db.Url());
    Seed(server, {0}, translations);
    const std::string tree = Tree(0, Samples::Yes);
    std::vector<RunEnd> ends = HarvestAtOnce(server, std::vector<std::string>(kRuns, tree));

    ExpectAllCompleted(ends, kFiles + kSampleFiles);
    for (const RunEnd& e : ends) {
      if (e.summary.is_null() || e.process.status != 0) continue;
      EXPECT_EQ(e.summary["texts_seen"], seen);  // each run looked at every text
      // Every text was either found stored (by the look-up, or when its insert
      // met the same text another run had stored first) or stored by this run.
      EXPECT_EQ(e.summary["already_stored"].get<long>() + e.summary["new"].get<long>(), kept);
    }
    EXPECT_EQ(Table(db.Url()), reference);
    EXPECT_EQ(VersionRows(db.Url()), 1u);
  }

  TempTree dir_{"trd-concurrent"};
};

TEST_P(ConcurrentHarvest, RunsOnTheSameTreeEndWithTheTableOneRunGives) { SameTreeAtOnce(Translations::None); }

// With translations to reuse, a run that finds its own text under the key
// (stored by another run since its look-up by value) must leave that record
// alone: deleting and re-inserting it would break another run's UpdateRelDfm
// of the key in between.
TEST_P(ConcurrentHarvest, RunsOnTheSameTreeReusingTranslationsEndWithTheTableOneRunGives) {
  SameTreeAtOnce(Translations::Stored);
}

TEST_P(ConcurrentHarvest, RunsOnTreesOfTheirOwnEndWithTheTableSuccessiveRunsGive) {
  const std::vector<int> trees{0, 1, 2, 3, 4, 5, 6, 7};
  const std::vector<std::string> reference = Reference(trees, Translations::Stored);
  ASSERT_EQ(reference.size(), std::size_t(kShared + trees.size() * (kFormFiles * kTextsPerFile + 1)));

  TestDatabase db(Backend(), TestDatabase::Storage::File);
  ServerProcess server = ServeOn(db.Url());
  Seed(server, trees, Translations::Stored);
  std::vector<std::string> dirs;
  for (int t : trees) dirs.push_back(Tree(t));
  std::vector<RunEnd> ends = HarvestAtOnce(server, dirs);

  ExpectAllCompleted(ends);
  for (const RunEnd& e : ends) {
    if (e.summary.is_null()) continue;
    // No key is shared between trees: nothing found stored, every older text
    // replaced once (and the key of several texts twice), every stored
    // translation reused where its text occurs.
    EXPECT_EQ(e.summary["new"], kFormFiles * kTextsPerFile + kRepeatedTexts);
    EXPECT_EQ(e.summary["replaced"], kFormFiles + kRepeatedTexts - 1);
    EXPECT_EQ(e.summary["translations_reused"], kFormFiles * kTextsPerFile / 5);
  }
  EXPECT_EQ(Table(db.Url()), reference);
  EXPECT_EQ(VersionRows(db.Url()), 1u);
}

INSTANTIATE_TEST_SUITE_P(BackendsAndPaths, ConcurrentHarvest,
                         ::testing::Combine(::testing::Values(TestBackend::Sqlite, TestBackend::Postgres),
                                            ::testing::Values(Path::Batch, Path::PerText)),
                         [](const auto& info) {
                           return std::string(BackendName(std::get<0>(info.param))) +
                                  (std::get<1>(info.param) == Path::Batch ? "Batch" : "PerText");
                         });

}  // namespace
}  // namespace trd::test
