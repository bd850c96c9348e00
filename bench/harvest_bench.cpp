// The cost of `trd harvest` over the size of the tree, on a generated source
// tree (BenchHarvest.h: a quarter of the forms binary, texts shared by every
// form, by some, unique to one):
//   Harvest/<backend>/<where>/<files>/first   a fresh database: every text new
//   Harvest/<backend>/<where>/<files>/second  the same tree again: all stored
// backend: sqlite (a fresh file), postgres (TRD_TEST_PG_URL, as
// scripts/with-postgres gives it; every table of its schema dropped before
// each size);
// where: db (`trd harvest --db`, the server in the harvest's process) or
// serve (`trd harvest --server` against a `trd serve` child on loopback).
// Sizes: TRD_HARVEST_SIZES, comma-separated file counts (default
// 500,2000,8000). TRD_BENCH_TRD, when set, names a baseline build of trd:
// each first and second run is then measured with it too, right after,
// named .../first/baseline and .../second/baseline (the server child stays
// this build's).
//
// Counters: texts (seen), texts_per_s (over the child's wall time),
// first_tenth and last_tenth (texts per second in the first and last tenth
// of the files, from the child's progress lines), last_over_first (and
// cpu_last_over_first: the same per CPU second of the harvest, the server and
// the PostgreSQL backends, sampled at each tenth; on a shared machine the
// wall clock also counts other programs' turns), and the
// peak RSS of `trd harvest` (harvest_MiB, wait4 rusage) and of `trd serve`
// during the run (serve_MiB, VmHWM reset before the run), and the CPU time
// of each (harvest_cpu_s, serve_cpu_s): on a shared machine a steadier
// measure than the wall time. The table's cpu_s is their sum.
// After the runs a table gives every run's ten tenths and, per backend,
// where and run, the wall and CPU time of each size over those of the size
// before.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <tuple>

#include "../tests/support/ServerProcess.h"
#include "BenchHarvest.h"
#include "server/Database.h"

namespace {

using trd::bench::Harvest;
using trd::bench::Result;
using trd::bench::Postmaster;
using trd::bench::PostgresUrl;
using trd::bench::Tree;

enum class Backend { Sqlite, Postgres };
enum class Where { Db, Serve };
enum class Run { First, Second };

const char* Name(Backend b) { return b == Backend::Sqlite ? "sqlite" : "postgres"; }
const char* Name(Where w) { return w == Where::Db ? "db" : "serve"; }
const char* Name(Run r) { return r == Run::First ? "first" : "second"; }

std::vector<int> Sizes() {
  std::vector<int> sizes;
  const char* env = std::getenv("TRD_HARVEST_SIZES");
  std::stringstream list(env && *env ? env : "500,2000,8000");
  for (std::string item; std::getline(list, item, ',');)
    if (std::atoi(item.c_str()) > 0) sizes.push_back(std::atoi(item.c_str()));
  return sizes;
}



// The database and server of one (size, backend, where): made fresh for the
// first run, used again by the second.
struct Stage {
  Stage(Backend backend, Where where) {
    if (backend == Backend::Sqlite) {
      url = temp.Path("trd.sqlite");
    } else {
      url = PostgresUrl();
      const auto database = trd::server::OpenDatabase(url);  // outlives its session
      auto session = database->Acquire();
      // Every table of the schema: the history and the memory grow with each
      // run as the translation table does, and a size's run starts empty.
      session->Execute(
          "DO $$ DECLARE t text; BEGIN FOR t IN SELECT tablename FROM pg_tables WHERE schemaname = "
          "current_schema() LOOP EXECUTE 'DROP TABLE IF EXISTS ' || quote_ident(t) || ' CASCADE'; END LOOP; END $$");
    }
    if (where == Where::Serve) {
      trd::test::ServerProcessOptions options;
      options.db = url;
      server.emplace(options);
    }
  }
  trd::bench::Watched Watched(Backend backend) const {
    trd::bench::Watched w;
    if (server) w.pids.push_back(server->Pid());
    if (backend == Backend::Postgres) w.children_of = Postmaster();
    return w;
  }
  std::vector<std::string> WhereArgs() const {
    return server ? std::vector<std::string>{"--server", server->Url()} : std::vector<std::string>{"--db", url};
  }
  trd::test::TempTree temp{"trd-harvest-db"};
  std::string url;
  std::optional<trd::test::ServerProcess> server;
};

// The baseline trd of TRD_BENCH_TRD; empty when unset.
std::string BaselineTrd() {
  const char* env = std::getenv("TRD_BENCH_TRD");
  return env ? env : "";
}

struct Measured {
  Backend backend;
  Where where;
  Run run;
  bool baseline;
  int files;
  Result result;
  std::vector<double> tenths;      // texts per wall second
  std::vector<double> cpu_tenths;  // texts per CPU second of every process at work
  double serve_mib = 0;
  double serve_cpu_s = 0;
};

struct Context {
  std::unique_ptr<Tree> tree;
  std::tuple<int, Backend, Where> stage_of{};
  std::unique_ptr<Stage> stage;
  std::vector<Measured> measured;

  Tree& TreeOf(int files) {
    if (!tree || tree->files != files) {
      tree.reset();
      tree = std::make_unique<Tree>(files);
    }
    return *tree;
  }
  // A fresh stage for a first run; for a second, the first's (made and
  // filled without measuring when the first was filtered out).
  Stage& StageOf(int files, Backend backend, Where where, Run run) {
    const auto key = std::make_tuple(files, backend, where);
    if (run == Run::First || !stage || stage_of != key) {
      stage.reset();
      stage = std::make_unique<Stage>(backend, where);
      stage_of = key;
      if (run == Run::Second) Harvest(TreeOf(files).root.string(), stage->WhereArgs());
    }
    return *stage;
  }
};
Context& Shared() {
  static Context context;
  return context;
}

void Measure(benchmark::State& state, int files, Backend backend, Where where, Run run, bool baseline) {
  Context& c = Shared();
  for (auto _ : state) {
    state.PauseTiming();
    Tree& tree = c.TreeOf(files);
    Stage& stage = c.StageOf(files, backend, where, run);
    double serve_cpu_before = 0;
    if (stage.server) {
      trd::bench::ResetPeakRss(stage.server->Pid());
      serve_cpu_before = trd::bench::CpuSeconds(stage.server->Pid());
    }
    state.ResumeTiming();
    Measured m{backend, where, run, baseline, files,
               Harvest(tree.root.string(), stage.WhereArgs(), {}, stage.Watched(backend), baseline ? BaselineTrd() : TRD_EXE),
               {}, {}, 0, 0};
    m.tenths = trd::bench::TenthRates(m.result);
    m.cpu_tenths = trd::bench::TenthRates(m.result, trd::bench::Per::CpuSecond);
    if (stage.server) {
      m.serve_mib = trd::bench::PeakRssMiB(stage.server->Pid());
      m.serve_cpu_s = trd::bench::CpuSeconds(stage.server->Pid()) - serve_cpu_before;
    }

    const Result& r = m.result;
    const double texts = r.summary["texts_seen"].get<double>();
    state.SetIterationTime(r.wall_seconds);
    state.counters["texts"] = texts;
    state.counters["new"] = r.summary["new"].get<double>();
    state.counters["texts_per_s"] = texts / r.wall_seconds;
    // The vanished-text pass's share of the run (both from the summary).
    if (r.summary.contains("vanished_seconds") && r.summary["elapsed_seconds"].get<double>() > 0)
      state.counters["vanished_share"] =
          r.summary["vanished_seconds"].get<double>() / r.summary["elapsed_seconds"].get<double>();
    if (!m.tenths.empty()) {
      state.counters["first_tenth"] = m.tenths.front();
      state.counters["last_tenth"] = m.tenths.back();
      state.counters["last_over_first"] = m.tenths.front() > 0 ? m.tenths.back() / m.tenths.front() : 0;
    }
    if (!m.cpu_tenths.empty() && m.cpu_tenths.front() > 0)
      state.counters["cpu_last_over_first"] = m.cpu_tenths.back() / m.cpu_tenths.front();
    state.counters["harvest_MiB"] = r.peak_rss_mib;
    state.counters["serve_MiB"] = m.serve_mib;
    state.counters["harvest_cpu_s"] = r.cpu_seconds;
    state.counters["serve_cpu_s"] = m.serve_cpu_s;
    c.measured.push_back(std::move(m));
  }
}

void PrintTable(const std::vector<Measured>& all) {
  std::printf("\nbackend  where  files  run      wall_s   cpu_s  texts/s  last/1st  harvest_MiB  serve_MiB  texts/s per tenth\n");
  for (const Measured& m : all) {
    const double texts = m.result.summary["texts_seen"].get<double>();
    const double ratio = m.tenths.empty() || m.tenths.front() <= 0 ? 0 : m.tenths.back() / m.tenths.front();
    std::printf("%-8s %-6s %6d  %-6s%s %7.1f %7.1f %8.0f %9.2f %12.1f %10.1f ", Name(m.backend), Name(m.where),
                m.files, Name(m.run), m.baseline ? "b" : " ", m.result.wall_seconds, m.result.cpu_seconds + m.serve_cpu_s,
                texts / m.result.wall_seconds, ratio, m.result.peak_rss_mib, m.serve_mib);
    for (double t : m.tenths) std::printf(" %.0f", t);
    std::printf("\n%-8s %-6s %6d  %-6s  per CPU second of every process at work: %9.2f %26s", "", "", m.files, "",
                m.cpu_tenths.empty() || m.cpu_tenths.front() <= 0 ? 0 : m.cpu_tenths.back() / m.cpu_tenths.front(), "");
    for (double t : m.cpu_tenths) std::printf(" %.0f", t);
    std::printf("\n");
  }
  std::printf("\nwall and CPU time of each size over the size before (same backend, where and run)\n");
  for (const Measured& m : all) {
    const Measured* before = nullptr;
    for (const Measured& o : all)
      if (o.backend == m.backend && o.where == m.where && o.run == m.run && o.baseline == m.baseline && o.files < m.files &&
          (!before || o.files > before->files))
        before = &o;
    if (!before) continue;
    auto cpu = [](const Measured& x) { return x.result.cpu_seconds + x.serve_cpu_s; };
    std::printf("%-8s %-6s %-6s%s %6d / %-6d files: %.2fx wall time, %.2fx CPU time for %.1fx files\n",
                Name(m.backend), Name(m.where), Name(m.run), m.baseline ? "b" : " ", m.files, before->files,
                m.result.wall_seconds / before->result.wall_seconds, cpu(m) / cpu(*before),
                double(m.files) / before->files);
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<Backend> backends{Backend::Sqlite};
  if (!PostgresUrl().empty()) backends.push_back(Backend::Postgres);
  for (int files : Sizes())
    for (Backend backend : backends)
      for (Where where : {Where::Db, Where::Serve})
        for (Run run : {Run::First, Run::Second})
          for (bool baseline : {false, true}) {
            if (baseline && BaselineTrd().empty()) continue;
            const std::string name = std::string("Harvest/") + Name(backend) + "/" + Name(where) + "/" +
                                     std::to_string(files) + "/" + Name(run) + (baseline ? "/baseline" : "");
            benchmark::RegisterBenchmark(name.c_str(), Measure, files, backend, where, run, baseline)
                ->Iterations(1)
                ->UseManualTime()
                ->Unit(benchmark::kSecond);
          }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  PrintTable(Shared().measured);
  benchmark::Shutdown();
  return 0;
}
