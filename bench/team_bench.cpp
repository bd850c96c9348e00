// A team's harvest against one shared `trd serve`: the record paths of
// `trd harvest` side by side, on loopback and through a proxy that delays
// every packet (bench/LatencyProxy.h), against the in-process harvest of the
// same tree in the same run.
//
// Tree: bench/BenchHarvest.h (TRD_HARVEST_FILES files, default 2,000, of 50
// texts: 100,000 texts). Cases, each a fresh database, harvested twice: all
// texts new, then all stored already:
//   InProcess            --db FILE --per-text: the server in the harvest's
//                        own process, text by text, the baseline; the
//                        others' ratio_new / ratio_stored are their texts/s
//                        over its texts/s of the same kind
//   InProcess/Batch      --db FILE, one call per file
//   Served/Batch         --server on loopback, one call per file (default)
//   Served/PerText       --server on loopback, --per-text
//   Served/OneCallPerText --server on loopback, --one-call-per-text
//   Proxy/Batch          through the proxy, TRD_BENCH_DELAY_MS each way
//                        (default 5)
//   Proxy/PerText        the same with --per-text, on a tree of
//                        TRD_BENCH_SMALL_FILES files (default 20; a per-text
//                        harvest of 100,000 texts at 5 ms takes an hour);
//                        scaled_seconds is its time scaled to the full
//                        tree's texts (time per text x texts)
//   Proxy/OneCallPerText the same with --one-call-per-text (each text alone
//                        in one call of the batch method)
// Counters: new_per_s / stored_per_s (texts over the harvest's wall time),
// new_s / stored_s (seconds; for Proxy/PerText scaled to the full tree),
// ratio_new / ratio_stored (to InProcess); through the proxy also
// new_ms_per_text / stored_ms_per_text and new_trips_per_text /
// stored_trips_per_text (that time over the proxy's round trip, twice its
// delay: the round trips a text costs); harvest_rss_mib (the harvests'
// peak RSS), serve_rss_mib (trd serve's peak RSS, VmHWM).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "../tests/support/ServerProcess.h"
#include "BenchHarvest.h"
#include "LatencyProxy.h"

namespace trd::bench {
namespace {

int EnvInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && std::atoi(v) > 0 ? std::atoi(v) : fallback;
}

// VmHWM of a process in MiB; 0 when unknown.
double PeakRssMib(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  return 0;
}

// A port free on loopback now.
int FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) != 0)
    throw std::runtime_error("no free port on loopback");
  close(s);
  return ntohs(a.sin_port);
}

Tree& FullTree() {
  static Tree tree;
  return tree;
}

Tree& SmallTree() {
  static std::unique_ptr<Tree> tree = [] {
    const char* saved = std::getenv("TRD_HARVEST_FILES");
    const std::string keep = saved ? saved : "";
    setenv("TRD_HARVEST_FILES", std::to_string(EnvInt("TRD_BENCH_SMALL_FILES", 20)).c_str(), 1);
    auto t = std::make_unique<Tree>();
    if (saved) setenv("TRD_HARVEST_FILES", keep.c_str(), 1); else unsetenv("TRD_HARVEST_FILES");
    return t;
  }();
  return *tree;
}

long Texts(const Result& r) { return r.summary["texts_seen"].get<long>(); }

// The in-process texts/s of the same run: new, stored.
double g_in_process_new = 0, g_in_process_stored = 0;

enum class Where { InProcess, Served, Proxy };

void Harvests(benchmark::State& state, Where where, const std::vector<std::string>& path, bool small) {
  const Tree& tree = small ? SmallTree() : FullTree();
  const long full_texts = long(FileCount()) * kTextsPerForm;
  for (auto _ : state) {
    test::TempTree dir("trd-team-bench");
    const std::string db = dir.Path("trd.sqlite");
    std::optional<test::ServerProcess> server;
    std::optional<LatencyProxy> proxy;
    std::vector<std::string> at{"--db", db};
    if (where != Where::InProcess) {
      test::ServerProcessOptions options;
      options.db = db;
      if (where == Where::Proxy) {
        // The server answers only requests that name it (Host): the proxy,
        // made first on the port the server is then told to listen on,
        // is named as its public name.
        const int port = FreePort();
        proxy.emplace("127.0.0.1", port, std::chrono::milliseconds(EnvInt("TRD_BENCH_DELAY_MS", 5)));
        options.listen = "127.0.0.1:" + std::to_string(port);
        options.extra_args = {"--public-name", "127.0.0.1:" + std::to_string(proxy->Port())};
      }
      server.emplace(options);
      at = {"--server", server->Url()};
      if (where == Where::Proxy) {
        at = {"--server", proxy->Url()};
      }
    }
    const Result fresh = Harvest(tree.root.string(), at, path);
    const Result again = Harvest(tree.root.string(), at, path);
    if (fresh.summary["new"].get<long>() != Texts(fresh) || again.summary["already_stored"].get<long>() != Texts(again))
      state.SkipWithError("the harvests did not find every text new, then every text stored");
    const double new_rate = double(Texts(fresh)) / fresh.wall_seconds;
    const double stored_rate = double(Texts(again)) / again.wall_seconds;
    if (where == Where::InProcess && !path.empty()) {
      g_in_process_new = new_rate;
      g_in_process_stored = stored_rate;
    }
    state.counters["texts"] = double(Texts(fresh));
    state.counters["new_per_s"] = new_rate;
    state.counters["stored_per_s"] = stored_rate;
    const double scale = small ? double(full_texts) / double(Texts(fresh)) : 1.0;
    state.counters["new_s"] = fresh.wall_seconds * scale;
    state.counters["stored_s"] = again.wall_seconds * scale;
    if (g_in_process_new > 0) {
      state.counters["ratio_new"] = new_rate / g_in_process_new;
      state.counters["ratio_stored"] = stored_rate / g_in_process_stored;
    }
    if (where == Where::Proxy) {
      const double round_trip_ms = 2.0 * EnvInt("TRD_BENCH_DELAY_MS", 5);
      state.counters["new_ms_per_text"] = 1000.0 / new_rate;
      state.counters["stored_ms_per_text"] = 1000.0 / stored_rate;
      state.counters["new_trips_per_text"] = 1000.0 / new_rate / round_trip_ms;
      state.counters["stored_trips_per_text"] = 1000.0 / stored_rate / round_trip_ms;
    }
    state.counters["harvest_rss_mib"] = std::max(fresh.peak_rss_mib, again.peak_rss_mib);
    if (server) state.counters["serve_rss_mib"] = PeakRssMib(server->Pid());
  }
}

const std::vector<std::string> kBatch{};
const std::vector<std::string> kPerText{"--per-text"};
const std::vector<std::string> kOneCallPerText{"--one-call-per-text"};

BENCHMARK_CAPTURE(Harvests, InProcess, Where::InProcess, kPerText, false)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(Harvests, InProcess/Batch, Where::InProcess, kBatch, false)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(Harvests, Served/Batch, Where::Served, kBatch, false)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(Harvests, Served/PerText, Where::Served, kPerText, false)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(Harvests, Served/OneCallPerText, Where::Served, kOneCallPerText, false)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(Harvests, Proxy/Batch, Where::Proxy, kBatch, false)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(Harvests, Proxy/PerText, Where::Proxy, kPerText, true)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(Harvests, Proxy/OneCallPerText, Where::Proxy, kOneCallPerText, true)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace trd::bench

BENCHMARK_MAIN();
