// trd serve's peak memory under clients that ask for the largest page of
// records and never read the answer (docs/server.md, "Bounded memory"):
//   Unread/25   a `trd serve` child on a SQLite table of kRecords records
//               whose texts hold 4000 characters (a page of 5000 would be
//               some 80 MB); one client reads one page whole (the baseline,
//               baseline_mib: VmHWM after it), then 25 clients each send 3
//               requests for the largest page at once and never read;
//               peak_mib is VmHWM once the server answered what they let
//               it, ratio peak/baseline. The goal: under 150 MiB.
// TRD_UNREAD_EXE names another trd executable to serve (an older build, to
// compare).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <thread>

#include "../tests/support/ServerProcess.h"
#include "../tests/support/TempTree.h"
#include "../tests/support/UnreadPages.h"

namespace {

constexpr int kRecords = 5000;

void Unread(benchmark::State& state) {
  const int clients = int(state.range(0));
  trd::test::TempTree dir("trd-unread-bench");
  const std::string db = dir.Path("trd.sqlite");
  trd::test::SeedLargeRecords(db, kRecords, 4000);
  double baseline = 0, peak = 0;
  for (auto _ : state) {
    const char* exe = std::getenv("TRD_UNREAD_EXE");
    trd::test::ServerProcess server({.exe = exe ? exe : "", .db = db});
    {
      trd::test::RawHttp reader(server.Port());
      reader.Send(trd::test::LargestPageRequest());
      if (reader.Read(std::chrono::seconds(30)).status != 200) state.SkipWithError("the page was not answered");
    }
    baseline = double(trd::test::StatusKiB(server.Pid(), "VmHWM")) / 1024;
    trd::test::UnreadPages unread(server.Port(), clients, 3);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    peak = double(trd::test::StatusKiB(server.Pid(), "VmHWM")) / 1024;
  }
  state.counters["baseline_mib"] = baseline;
  state.counters["peak_mib"] = peak;
  state.counters["ratio"] = baseline > 0 ? peak / baseline : 0;
}
BENCHMARK(Unread)->Arg(25)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
