// The translators' loop at scale: `trd export` and `trd import` (PO and
// XLIFF) of a table of N records (N/5 distinct source texts, each held by 5
// records) in one language, against a `trd serve` child on loopback.
//
// Per benchmark (one iteration each; a fresh copy of the table per import):
//   seconds          wall time of the command
//   x_baseline       seconds / those of one plain read of the same table
//                    (`sqlite3 DB "SELECT * FROM TRDPROPRIEDADE"` to
//                    /dev/null, BM_PlainRead, measured in the same run)
//   client_peak_MiB  peak RSS of the `trd` command (wait4)
//   server_anon_MiB  the server's peak anonymous memory during the command
//                    (RssAnon sampled every 5 ms: its heap, SQLite's page
//                    cache (at most 64 MiB) included, without the database
//                    file's mapped pages)
//   client_cpu_s, server_cpu_s  CPU seconds of each side: steadier than the
//                    wall time on a shared machine
// Memory is flat in the table's size when the 200,000-record figures match
// the 100,000 ones (TRD_LOOP_SIZES=100000,200000,400000 adds a size). Aims: export under 5 s, import under 20 s at 100,000.
//
// Build: cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release
// -DTRD_BENCH=ON; run build-bench/bench/loop_bench (sqlite3 must be on PATH).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "../tests/support/ServerProcess.h"
#include "../tests/support/TempTree.h"
#include "exchange/Exchange.h"
#include "server/Schema.h"
#include "server/Service.h"

namespace {

namespace fs = std::filesystem;
using namespace trd;

// A field of /proc/PID/status in MiB; 0 when unknown.
double StatusMib(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with(field + ":")) return std::atof(line.c_str() + field.size() + 1) / 1024.0;
  return 0;
}

// CPU seconds (user + system) a process has used so far; 0 when unknown.
double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const auto close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(line.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i)
    if (i == 14 || i == 15) ticks += std::atof(field.c_str());  // utime, stime
  return ticks / double(sysconf(_SC_CLK_TCK));
}

// Samples a field of a process's status (RssAnon, VmHWM) every 5 ms until
// stopped; Stop() returns the largest value seen.
class Sampler {
 public:
  Sampler(pid_t pid, std::string field) : thread_([this, pid, field] {
      while (!stop_) {
        peak_ = std::max(peak_.load(), StatusMib(pid, field));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }) {}
  double Stop() {
    stop_ = true;
    thread_.join();
    return peak_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<double> peak_{0};
  std::thread thread_;
};

struct ChildResult {
  double seconds = 0;
  double peak_mib = 0;     // VmHWM sampled while it runs (rusage's maxrss would
                           // include this process's, which the child starts as)
  double cpu_seconds = 0;  // user + system
  std::string out;
};

// Runs a command to its end; its standard output is kept unless `to`
// names a file; throws unless it exits 0.
ChildResult Run(std::vector<std::string> args, const std::string& to = "") {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (to.empty())
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) throw std::runtime_error("cannot start " + args[0]);
  ChildResult r;
  Sampler peak(pid, "VmHWM");
  char buf[4096];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) r.out.append(buf, std::size_t(n));
  close(out[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error(args[0] + " " + args[1] + " failed: " + r.out);
  r.peak_mib = peak.Stop();
  r.cpu_seconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return r;
}

// The table of `records` records, made once per size and copied for each use.
class Tables {
 public:
  std::string Path(const std::string& name) { return dir_.Path(name); }
  std::string Copy(long records) {
    const fs::path& tmpl = Template(records);
    const std::string to = dir_.Path("copy" + std::to_string(++copies_) + ".sqlite");
    fs::copy_file(tmpl, to, fs::copy_options::overwrite_existing);
    return to;
  }
  std::string Template(long records) {
    auto it = made_.find(records);
    if (it != made_.end()) return it->second;
    const std::string path = dir_.Path("table" + std::to_string(records) + ".sqlite");
    {
      auto service = server::Service::Open(path);
      auto session = service->Storage().Acquire();
      server::Transaction tx(*session);
      const std::string insert = "INSERT INTO TRDPROPRIEDADE (" + protocol::ColumnList(protocol::RecordFields()) +
                                 ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
      const long texts = records / 5;
      for (long i = 0; i < records; ++i) {
        const std::string source = "Texto número " + std::to_string(i % texts) + " da tela, com acentuação";
        const FieldValue row[] = {"PROG" + std::to_string(i / 1000),
                                  std::string("FRMTELA"),
                                  "COMP" + std::to_string(i % 1000),
                                  std::string("Caption"),
                                  0.0,
                                  std::string("N"),
                                  source,
                                  source,
                                  DateTime::FromParts(2024, 1, 1),
                                  std::string("ENG")};
        session->Execute(insert, row);
      }
      tx.Commit();
      session->Execute("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    return made_[records] = path;
  }
  // The file a translator sends back: every unit of an export translated.
  std::string Translated(long records, exchange::Format format) {
    const std::string key = std::to_string(records) + (format == exchange::Format::Po ? ".po" : ".xlf");
    auto it = translated_.find(key);
    if (it != translated_.end()) return it->second;
    trd::test::ServerProcess server({.db = Copy(records)});
    const std::string exported = dir_.Path("exported" + key), done = dir_.Path("done" + key);
    Run({TRD_EXE, "export", "--lang", "ENG", "--state", "all", "--format",
         format == exchange::Format::Po ? "po" : "xliff", "--server", server.Url(), "-o", exported});
    exchange::ExchangeFile f = exchange::ReadFile(exported);
    std::ofstream o(done, std::ios::binary);
    auto w = exchange::MakeWriter(format, o, exchange::FileHeader{"ENG"}, done);
    for (auto& u : f.units) {
      u.translation = "Text " + u.source;
      u.state = exchange::State::Translated;
      w->Add(u);
    }
    w->Finish();
    return translated_[key] = done;
  }

 private:
  trd::test::TempTree dir_{"trd-loop-bench"};
  std::map<long, std::string> made_;
  std::map<std::string, std::string> translated_;
  int copies_ = 0;
};

Tables& TheTables() {
  static Tables t;
  return t;
}
std::map<long, double> g_baseline;  // seconds of the plain read, per size

void Report(benchmark::State& state, const ChildResult& r, double server_anon, double server_cpu) {
  state.SetIterationTime(r.seconds);
  state.counters["seconds"] = r.seconds;
  state.counters["client_peak_MiB"] = r.peak_mib;
  state.counters["server_anon_MiB"] = server_anon;
  state.counters["client_cpu_s"] = r.cpu_seconds;
  state.counters["server_cpu_s"] = server_cpu;
  if (double b = g_baseline[state.range(0)]; b > 0) state.counters["x_baseline"] = r.seconds / b;
}

void BM_PlainRead(benchmark::State& state) {
  const std::string db = TheTables().Template(state.range(0));
  for (auto _ : state) {
    ChildResult r = Run({"sqlite3", db, "SELECT * FROM TRDPROPRIEDADE"}, "/dev/null");
    g_baseline[state.range(0)] = r.seconds;
    state.SetIterationTime(r.seconds);
    state.counters["seconds"] = r.seconds;
    state.counters["client_peak_MiB"] = r.peak_mib;
    state.counters["client_cpu_s"] = r.cpu_seconds;
  }
}

void BM_Export(benchmark::State& state, exchange::Format format) {
  trd::test::ServerProcess server({.db = TheTables().Copy(state.range(0))});
  const std::string out = TheTables().Path(format == exchange::Format::Po ? "out.po" : "out.xlf");
  for (auto _ : state) {
    Sampler sampler(server.Pid(), "RssAnon");
    const double server_cpu = CpuSeconds(server.Pid());
    ChildResult r = Run({TRD_EXE, "export", "--lang", "ENG", "--state", "all", "--format",
                         format == exchange::Format::Po ? "po" : "xliff", "--server", server.Url(), "-o", out});
    Report(state, r, sampler.Stop(), CpuSeconds(server.Pid()) - server_cpu);
  }
}

void BM_Import(benchmark::State& state, exchange::Format format) {
  const std::string file = TheTables().Translated(state.range(0), format);
  for (auto _ : state) {
    state.PauseTiming();
    trd::test::ServerProcess server({.db = TheTables().Copy(state.range(0))});
    state.ResumeTiming();
    Sampler sampler(server.Pid(), "RssAnon");
    const double server_cpu = CpuSeconds(server.Pid());
    ChildResult r = Run({TRD_EXE, "import", file, "--lang", "ENG", "--json", "--server", server.Url()});
    Report(state, r, sampler.Stop(), CpuSeconds(server.Pid()) - server_cpu);
    auto j = nlohmann::json::parse(r.out);
    if (j["records_translated"] != state.range(0)) state.SkipWithError("not every record was translated");
  }
}

// TRD_LOOP_SIZES (default "100000,200000"): the table sizes, in records.
void Sizes(benchmark::internal::Benchmark* b) {
  const char* env = std::getenv("TRD_LOOP_SIZES");
  std::istringstream sizes(env && *env ? env : "100000,200000");
  for (std::string n; std::getline(sizes, n, ',');)
    if (std::atol(n.c_str()) >= 5) b->Arg(std::atol(n.c_str()));
  b->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_PlainRead)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Export, po, exchange::Format::Po)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Export, xliff, exchange::Format::Xliff)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Import, po, exchange::Format::Po)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Import, xliff, exchange::Format::Xliff)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
