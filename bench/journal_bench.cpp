// What the journal (server/Journal.h: the history, the translation memory,
// the review state) costs `trd harvest`: a tree of 2,000 files
// (BenchHarvest.h; TRD_HARVEST_FILES) harvested into a fresh database (every
// text new), then again (every text stored), by trd and by its baseline
// trd_unjournalled (the same program with a journal that writes nothing,
// bench/journal_off), in-process on the database (--db): SQLite (a fresh
// file) and PostgreSQL (TRD_TEST_PG_URL, as scripts/with-postgres gives it;
// skipped without it). The two programs take turns, TRD_JOURNAL_ROUNDS
// rounds (default 3), so that the load of a shared machine falls on both.
//
// Counters per backend: first_wall_ratio, second_wall_ratio (the median over
// the rounds of trd's wall time over the baseline's), first_cpu_ratio,
// second_cpu_ratio (the same of the CPU time of trd harvest and, on
// PostgreSQL, its backends: steadier on a shared machine), and each
// program's median wall seconds. Target: at most 1.2.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchHarvest.h"
#include "server/Database.h"

namespace {

using trd::bench::Harvest;
using trd::bench::Result;
using trd::bench::Postmaster;
using trd::bench::PostgresUrl;
using trd::bench::Tree;

enum class Program { Journalled, Unjournalled };
const std::string& Exe(Program p) {
  static const std::string exes[] = {TRD_EXE, TRD_UNJOURNALLED_EXE};
  return exes[int(p)];
}


int Rounds() {
  const char* env = std::getenv("TRD_JOURNAL_ROUNDS");
  return env && std::atoi(env) > 0 ? std::atoi(env) : 3;
}

// A database without the server's tables: a fresh SQLite file, or the
// PostgreSQL database with its tables dropped.
struct FreshDatabase {
  explicit FreshDatabase(bool postgres) {
    if (!postgres) {
      url = temp.Path("trd.sqlite");
      return;
    }
    url = PostgresUrl();
    const auto database = trd::server::OpenDatabase(url);
    auto session = database->Acquire();
    for (const char* table : {"TRDPROPRIEDADE", "TRDVERSAO", "TRDIDIOMA", "TRDMEMORIA", "TRDHISTORICO", "TRDREVISAO"})
      session->Execute(std::string("DROP TABLE IF EXISTS ") + table + " CASCADE");
  }
  trd::test::TempTree temp{"trd-journal-bench"};
  std::string url;
};

// The CPU seconds of the run: the child's, and on PostgreSQL its backends'
// (the children of the cluster's postmaster).
struct Times {
  double wall = 0, cpu = 0;
};

Times Timed(const Tree& tree, const FreshDatabase& db, Program p, bool postgres) {
  trd::bench::Watched watched;
  if (postgres) watched.children_of = Postmaster();
  const Result r = Harvest(tree.root.string(), {"--db", db.url}, {}, watched, Exe(p));
  double cpu = r.cpu_seconds;
  if (!r.progress.empty() && r.progress.back().cpu >= 0 && r.run_start_cpu >= 0) cpu = r.progress.back().cpu;
  return {r.wall_seconds, cpu};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void Run(benchmark::State& state, bool postgres) {
  if (postgres && PostgresUrl().empty()) return state.SkipWithError("TRD_TEST_PG_URL is unset");
  static Tree tree;
  std::vector<double> ratios[4];  // first wall, second wall, first cpu, second cpu
  std::vector<double> seconds[2][2];  // [program][run] wall
  for (auto _ : state) {
    for (int round = 0; round < Rounds(); ++round) {
      Times t[2][2];
      for (Program p : {Program::Journalled, Program::Unjournalled}) {
        FreshDatabase db(postgres);
        t[int(p)][0] = Timed(tree, db, p, postgres);
        t[int(p)][1] = Timed(tree, db, p, postgres);
        for (int run : {0, 1}) seconds[int(p)][run].push_back(t[int(p)][run].wall);
      }
      for (int run : {0, 1}) {
        ratios[run].push_back(t[0][run].wall / t[1][run].wall);
        ratios[2 + run].push_back(t[0][run].cpu / t[1][run].cpu);
      }
    }
    state.SetIterationTime(1);
  }
  state.counters["first_wall_ratio"] = Median(ratios[0]);
  state.counters["second_wall_ratio"] = Median(ratios[1]);
  state.counters["first_cpu_ratio"] = Median(ratios[2]);
  state.counters["second_cpu_ratio"] = Median(ratios[3]);
  state.counters["first_s"] = Median(seconds[0][0]);
  state.counters["first_s_baseline"] = Median(seconds[1][0]);
  state.counters["second_s"] = Median(seconds[0][1]);
  state.counters["second_s_baseline"] = Median(seconds[1][1]);
  state.counters["files"] = tree.files;
}

void BM_Journal_Sqlite(benchmark::State& st) { Run(st, false); }
void BM_Journal_Postgres(benchmark::State& st) { Run(st, true); }

BENCHMARK(BM_Journal_Sqlite)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Journal_Postgres)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
