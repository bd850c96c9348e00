// Many `trd harvest --server` runs at once against one `trd serve` on SQLite,
// against one run alone: what a team harvesting its trees together gets.
// Trees (BenchHarvest.h): TRD_CONC_TREES (default 16) of TRD_CONC_FILES forms
// (default 160) each, with distinct file names, so distinct program codes
// (the texts every form shares are shared across the trees too).
//   AtOnce/<server>/1    tree 0 alone, on a fresh database
//   AtOnce/<server>/N    all N trees at once, on a fresh database
//   InTurn/<server>/N    the same N trees one after another, on a fresh
//                        database: the same work and the same table growth
//                        as at once, without the concurrency (the run alone
//                        meets a table a sixteenth the size)
// server: "built" (the trd beside this benchmark) and, when TRD_BENCH_SERVER
// names another trd executable, "baseline" (that one serves; the harvests
// are always the built trd), run first, so that a change is measured against
// its baseline in the same run.
// The harvests reach the server through a relay (CallClock.h) that times
// every call; alone and at once alike.
// Counters: texts_per_s (texts seen by every run over the wall time from the
// first start to the last end), serve_cpu_s and harvest_cpu_s (the CPU
// time of the server and of every harvest: on a shared machine steadier
// than the wall time), slowest_ms (the slowest call of any run,
// from its request's first byte to its answer's first byte; its method is
// the label), calls, and for
// N runs at once ratio (texts_per_s over that of the run alone, with the
// same server, measured just before) and ratio_in_turn (over that of the N
// runs one after another, measured just before).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../tests/support/ServerProcess.h"
#include "BenchHarvest.h"
#include "CallClock.h"

namespace {

using trd::bench::CallClock;
using trd::bench::Tree;

int EnvInt(const char* name, int fallback) {
  const char* env = std::getenv(name);
  return env && std::atoi(env) > 0 ? std::atoi(env) : fallback;
}

const int kTrees = EnvInt("TRD_CONC_TREES", 16);
const int kFiles = EnvInt("TRD_CONC_FILES", 160);

std::vector<std::unique_ptr<Tree>>& Trees() {
  static std::vector<std::unique_ptr<Tree>> trees = [] {
    std::vector<std::unique_ptr<Tree>> t;
    for (int k = 0; k < kTrees; ++k) t.push_back(std::make_unique<Tree>(kFiles, k * kFiles));
    return t;
  }();
  return trees;
}

std::string ServerExe(const std::string& which) {
  if (which == "baseline") return std::getenv("TRD_BENCH_SERVER");
  return TRD_EXE;
}

std::map<std::string, double>& AloneRate() {
  static std::map<std::string, double> rates;
  return rates;
}
std::map<std::string, double>& InTurnRate() {
  static std::map<std::string, double> rates;
  return rates;
}

enum class Together { AtOnce, InTurn };

void AtOnce(benchmark::State& state, std::string which, Together together) {
  const int runs = int(state.range(0));
  auto& trees = Trees();
  for (auto _ : state) {
    trd::test::ServerProcessOptions options;
    options.exe = ServerExe(which);
    CallClock clock;
    options.extra_args = {"--public-name", clock.HostPort()};
    trd::test::ServerProcess server(options);
    clock.Forward(server.Port());
    std::vector<trd::bench::Result> results(static_cast<std::size_t>(runs));
    std::vector<std::string> errors(static_cast<std::size_t>(runs));
    const double serve_cpu_before = trd::bench::CpuSeconds(server.Pid());
    const auto start = std::chrono::steady_clock::now();
    auto harvest = [&](int k) {
      try {
        results[std::size_t(k)] = trd::bench::Harvest(trees[std::size_t(k)]->root.string(), {"--server", clock.Url()});
      } catch (const std::exception& e) {
        errors[std::size_t(k)] = e.what();
      }
    };
    if (together == Together::InTurn) {
      for (int k = 0; k < runs; ++k) harvest(k);
    } else {
      std::vector<std::jthread> threads;
      for (int k = 0; k < runs; ++k) threads.emplace_back(harvest, k);
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const std::string& e : errors)
      if (!e.empty()) {
        state.SkipWithError(e.c_str());
        return;
      }
    double texts = 0, harvest_cpu = 0;
    for (const auto& r : results) {
      texts += r.summary.value("texts_seen", 0.0);
      harvest_cpu += r.cpu_seconds;
    }
    state.counters["serve_cpu_s"] = trd::bench::CpuSeconds(server.Pid()) - serve_cpu_before;
    state.counters["harvest_cpu_s"] = harvest_cpu;
    const double rate = texts / wall;
    state.counters["texts_per_s"] = rate;
    const CallClock::Call slowest = clock.Slowest();
    state.counters["slowest_ms"] = slowest.seconds * 1000;
    state.SetLabel("slowest: " + slowest.method);
    state.counters["calls"] = double(clock.Calls());
    if (together == Together::InTurn) {
      InTurnRate()[which] = rate;
    } else if (runs == 1) {
      AloneRate()[which] = rate;
    } else {
      if (AloneRate().contains(which)) state.counters["ratio"] = rate / AloneRate()[which];
      if (InTurnRate().contains(which)) state.counters["ratio_in_turn"] = rate / InTurnRate()[which];
    }
  }
}

int Register() {
  std::vector<std::string> servers;
  if (const char* b = std::getenv("TRD_BENCH_SERVER"); b && *b) servers.push_back("baseline");
  servers.push_back("built");
  for (const std::string& which : servers) {
    benchmark::RegisterBenchmark(("InTurn/" + which).c_str(), AtOnce, which, Together::InTurn)
        ->Arg(kTrees)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("AtOnce/" + which).c_str(), AtOnce, which, Together::AtOnce)
        ->Arg(1)
        ->Arg(kTrees)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  return 0;
}
const int registered = Register();

}  // namespace

BENCHMARK_MAIN();
