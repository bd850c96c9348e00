// Conversion of binary form files to form text, in MB/s of binary input,
// over the binary form files of the corpus held in memory.
//
// ConvertSideBySide runs the Free Pascal RTL's ObjectBinaryToText (the
// fpc_convert program built from bench/fpc when fpc is installed) on the same
// files for the same number of rounds, and reports both speeds and their
// ratio as counters (MB = 10^6 bytes of binary input per CPU second). The
// main figure converts into one reused vector of lines, as the baseline
// writes into one reused output stream; the "new_vector" figures give each
// file a new vector.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "formfile/FormStream.h"

namespace {

namespace fs = std::filesystem;

struct Corpus {
  std::vector<std::string> paths;
  std::vector<std::string> files;
  std::size_t bytes = 0;
};

const Corpus& BinaryCorpus() {
  static const Corpus corpus = [] {
    Corpus c;
    fs::path root = fs::path(TRD_CORPUS_DIR) / "dfm-binary";
    if (!fs::is_directory(root)) return c;
    for (const auto& e : fs::recursive_directory_iterator(root))
      if (e.is_regular_file()) c.paths.push_back(e.path().string());
    std::sort(c.paths.begin(), c.paths.end());
    for (const std::string& p : c.paths) {
      std::ifstream in(p, std::ios::binary);
      std::ostringstream data;
      data << in.rdbuf();
      c.files.push_back(std::move(data).str());
      c.bytes += c.files.back().size();
    }
    return c;
  }();
  return corpus;
}

// Lines in a new vector per file.
std::size_t ConvertAll(const Corpus& c) {
  std::size_t lines = 0;
  for (const std::string& f : c.files) {
    std::vector<std::string> text = trd::form::ObjectResourceToText(f, "corpus");
    lines += text.size();
    benchmark::DoNotOptimize(text.data());
  }
  return lines;
}

// Lines in one vector reused from file to file, as the import run converts
// its files (and as the baseline reuses one output stream).
std::size_t ConvertAllReusing(const Corpus& c, trd::form::FormTextBuffer& buffer) {
  std::size_t lines = 0;
  for (const std::string& f : c.files) {
    const std::vector<std::string>& text = trd::form::ObjectResourceToText(f, "corpus", buffer);
    lines += text.size();
    benchmark::DoNotOptimize(text.data());
  }
  return lines;
}

void Report(benchmark::State& state, const Corpus& c) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.bytes));
  state.counters["MB/s"] = benchmark::Counter(
      static_cast<double>(c.bytes) * state.iterations() / 1e6, benchmark::Counter::kIsRate);
  state.counters["files"] = static_cast<double>(c.files.size());
}

void ObjectResourceToText(benchmark::State& state) {
  const Corpus& c = BinaryCorpus();
  if (c.files.empty()) return state.SkipWithError("corpus absent");
  for (auto _ : state) benchmark::DoNotOptimize(ConvertAll(c));
  Report(state, c);
}
BENCHMARK(ObjectResourceToText)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void ObjectResourceToTextReusingLines(benchmark::State& state) {
  const Corpus& c = BinaryCorpus();
  if (c.files.empty()) return state.SkipWithError("corpus absent");
  trd::form::FormTextBuffer buffer;
  for (auto _ : state) benchmark::DoNotOptimize(ConvertAllReusing(c, buffer));
  Report(state, c);
}
BENCHMARK(ObjectResourceToTextReusingLines)->Unit(benchmark::kMillisecond)->MinTime(2.0);

#ifdef TRD_FPC_CONVERT
double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double ChildrenCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  auto sec = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
  return sec(u.ru_utime) + sec(u.ru_stime);
}

struct FpcRun {
  double wall_ms = 0;  // as the program measured its conversion loop
  double cpu_s = 0;    // CPU time of the whole child process
  long long bytes = 0;
};

bool RunFpc(const fs::path& list, int rounds, FpcRun& run) {
  std::string cmd =
      std::string(TRD_FPC_CONVERT) + " " + list.string() + " " + std::to_string(rounds);
  double before = ChildrenCpuSeconds();
  FILE* pipe = popen(cmd.c_str(), "r");
  if (!pipe) return false;
  long long ms = 0;
  int got = std::fscanf(pipe, "%lld %lld", &ms, &run.bytes);
  if (pclose(pipe) != 0 || got != 2) return false;
  run.wall_ms = static_cast<double>(ms);
  run.cpu_s = ChildrenCpuSeconds() - before;
  return true;
}

// Both converters on the same files for the same rounds, measured in CPU
// seconds (the machine may be shared): the baseline's start-up (loading the
// files) is measured with zero rounds and subtracted.
void ConvertSideBySide(benchmark::State& state) {
  const Corpus& c = BinaryCorpus();
  if (c.files.empty()) return state.SkipWithError("corpus absent");
  const int rounds = static_cast<int>(state.range(0));
  fs::path list = fs::temp_directory_path() / "trd_convert_bench_files.txt";
  {
    std::ofstream out(list);
    for (const std::string& p : c.paths) out << p << "\n";
  }
  double fpc_mbps = 0, fpc_wall_mbps = 0, trd_mbps = 0, trd_new_mbps = 0;
  trd::form::FormTextBuffer buffer;
  for (auto _ : state) {
    FpcRun idle, busy;
    if (!RunFpc(list, 0, idle) || !RunFpc(list, rounds, busy) || busy.cpu_s <= idle.cpu_s)
      return state.SkipWithError("fpc_convert failed");
    fpc_mbps = static_cast<double>(busy.bytes) / 1e6 / (busy.cpu_s - idle.cpu_s);
    fpc_wall_mbps = static_cast<double>(busy.bytes) / 1e6 / (busy.wall_ms / 1e3);

    double start = ProcessCpuSeconds();
    for (int r = 0; r < rounds; ++r) benchmark::DoNotOptimize(ConvertAllReusing(c, buffer));
    double middle = ProcessCpuSeconds();
    for (int r = 0; r < rounds; ++r) benchmark::DoNotOptimize(ConvertAll(c));
    double end = ProcessCpuSeconds();
    trd_mbps = static_cast<double>(c.bytes) * rounds / 1e6 / (middle - start);
    trd_new_mbps = static_cast<double>(c.bytes) * rounds / 1e6 / (end - middle);
  }
  fs::remove(list);
  state.counters["fpc_MB/s"] = fpc_mbps;
  state.counters["fpc_wall_MB/s"] = fpc_wall_mbps;
  state.counters["trd_MB/s"] = trd_mbps;
  state.counters["ratio"] = trd_mbps / fpc_mbps;
  state.counters["trd_new_vector_MB/s"] = trd_new_mbps;
  state.counters["ratio_new_vector"] = trd_new_mbps / fpc_mbps;
}
BENCHMARK(ConvertSideBySide)->Arg(5)->Iterations(1)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
