// `trd harvest` against a `trd serve` child on loopback, on a generated
// source tree (a quarter of the forms binary, the rest text):
//   FirstRun   a fresh database: every text is new
//   SecondRun  the same tree again: every text is stored already
// Counters: texts (seen), texts_per_s (texts over the child's wall time),
// loop_texts_per_s (over the run's own elapsed time, without start-up and
// discovery) and peak_rss_MiB of the `trd harvest` child (wait4 rusage).
//
// The tree and the child: BenchHarvest.h.
#include <benchmark/benchmark.h>

#include "../tests/support/ServerProcess.h"
#include "BenchHarvest.h"

namespace {

using trd::bench::Harvest;
using trd::bench::Result;
using trd::bench::Tree;

// One tree and one server for both runs, in this order.
struct Setup {
  Tree tree;
  trd::test::ServerProcess server;
};
Setup& Shared() {
  static Setup setup;
  return setup;
}

void Report(benchmark::State& state, const Result& r) {
  state.SetIterationTime(r.wall_seconds);
  double texts = r.summary["texts_seen"].get<double>();
  double loop = r.summary["elapsed_seconds"].get<double>();
  state.counters["files"] = r.summary["files_read"].get<double>();
  state.counters["texts"] = texts;
  state.counters["new"] = r.summary["new"].get<double>();
  state.counters["texts_per_s"] = texts / r.wall_seconds;
  state.counters["loop_texts_per_s"] = loop > 0 ? texts / loop : 0;
  state.counters["peak_rss_MiB"] = r.peak_rss_mib;
}

void FirstRun(benchmark::State& state) {
  Setup& s = Shared();
  for (auto _ : state) Report(state, Harvest(s.tree.root.string(), {"--server", s.server.Url()}));
}

void SecondRun(benchmark::State& state) {
  Setup& s = Shared();
  for (auto _ : state) Report(state, Harvest(s.tree.root.string(), {"--server", s.server.Url()}));
}

BENCHMARK(FirstRun)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(SecondRun)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
