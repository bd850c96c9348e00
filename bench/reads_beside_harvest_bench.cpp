// A harvest while many clients search the table (docs/server.md, "Several
// clients at once"): look-ups must not queue behind the harvest's changes.
//   Alone      `trd harvest` of kFiles form files (bench/BenchHarvest.h) into
//              a `trd serve` child whose table holds kSeeded records of
//              another language already: a fresh SQLite file, or (with
//              TRD_TEST_PG_URL, as scripts/with-postgres sets it) the
//              PostgreSQL database with the server's tables dropped
//   Searched   the same on a fresh copy of that table, while kSearchers
//              clients each send the progress page's search (GetTextos,
//              every language, ascii-nocase, 60 records a page) one after
//              another until the harvest ends
// Counters: harvest_s (wall time), and for Searched searches (answered
// while the harvest ran), search_ms (their mean latency) and ratio
// (Searched's harvest time over Alone's, measured in the same run; the
// goal is 2 at most). TRD_READS_EXE names another trd executable to serve
// (an older build, to compare).
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "BenchHarvest.h"
#include "../tests/support/ServerProcess.h"
#include "platform/Wire.h"
#include "protocol/Methods.h"
#include "server/Database.h"
#include "server/Records.h"
#include "server/Schema.h"
#include "server/Service.h"

namespace {

constexpr int kFiles = 200;
constexpr int kSeeded = 20000;
constexpr int kSearchers = 100;

// The run's database, empty: a SQLite file in `dir`, or the PostgreSQL
// database with the server's tables dropped.
std::string FreshDatabase(bool postgres, const trd::test::TempTree& dir) {
  if (!postgres) return dir.Path("trd.sqlite");
  const std::string url = trd::bench::PostgresUrl();
  auto database = trd::server::OpenDatabase(url);
  auto session = database->Acquire();
  for (const char* table : {"TRDPROPRIEDADE", "TRDVERSAO", "TRDIDIOMA", "TRDMEMORIA", "TRDHISTORICO", "TRDREVISAO"})
    session->Execute(std::string("DROP TABLE IF EXISTS ") + table + " CASCADE");
  return url;
}

// kSeeded records of language ENG, texts like a form's.
void Seed(const std::string& db) {
  auto service = trd::server::Service::Open(db);
  auto session = service->Storage().Acquire();
  std::vector<trd::Change> changes;
  for (int i = 0; i < kSeeded; ++i) {
    const std::string text = "Grava o cadastro " + std::to_string(i) + " e fecha a janela do módulo " +
                             std::to_string(i % 97);
    changes.push_back({trd::ChangeKind::Insert, {},
                       trd::Row{"PROG" + std::to_string(i % 400), std::string("FRMPROG"), "C" + std::to_string(i),
                                std::string("Caption"), 0.0, std::string("N"), text, text,
                                trd::DateTime::FromParts(2024, 5, 1, 10), std::string("ENG")}});
  }
  trd::server::ApplyChangeSet(*session, trd::server::TranslationTable(),
                              trd::ChangeSet{trd::server::TranslationTable().fields, std::move(changes)});
}

std::string SearchRequest(int n) {
  return trd::wire::EncodeRequest(
      {std::string(trd::protocol::kModuleExchange), std::string(trd::protocol::kGetTextos),
       {std::string(), "JANELA DO MÓDULO " + std::to_string(n % 97), std::string("ascii-nocase"), std::string(),
        std::int64_t(60)}});
}

struct Timed {
  double harvest_s = 0;
  long searches = 0;
  double search_ms = 0;
};

Timed Run(trd::bench::Tree& tree, int searchers, bool postgres) {
  trd::test::TempTree dir("trd-reads-bench");
  const std::string db = FreshDatabase(postgres, dir);
  Seed(db);
  const char* exe = std::getenv("TRD_READS_EXE");
  trd::test::ServerProcess server({.exe = exe ? exe : "", .db = db});
  std::atomic<bool> done{false};
  std::atomic<long> searches{0}, search_us{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < searchers; ++c)
    clients.emplace_back([&, c] {
      httplib::Client client(server.Host(), server.Port());
      client.set_read_timeout(120, 0);
      for (int n = c; !done; n += searchers) {
        const auto started = std::chrono::steady_clock::now();
        auto res = client.Post("/call", SearchRequest(n), "application/json");
        if (!res || res->status != 200) continue;
        if (done) break;
        searches++;
        search_us += std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                            started)
                         .count();
      }
    });
  if (searchers) std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the crowd has arrived
  const trd::bench::Result r = trd::bench::Harvest(tree.root.string(), {"--server", server.Url()});
  done = true;
  for (auto& t : clients) t.join();
  Timed t;
  t.harvest_s = r.wall_seconds;
  t.searches = searches;
  t.search_ms = searches ? double(search_us) / 1000.0 / double(searches) : 0;
  return t;
}

void ReadsBesideHarvest(benchmark::State& state) {
  const bool postgres = state.range(0) == 1;
  if (postgres && trd::bench::PostgresUrl().empty()) return state.SkipWithError("TRD_TEST_PG_URL is unset");
  trd::bench::Tree tree(kFiles);
  Timed alone, searched;
  for (auto _ : state) {
    alone = Run(tree, 0, postgres);
    searched = Run(tree, kSearchers, postgres);
  }
  state.counters["alone_s"] = alone.harvest_s;
  state.counters["searched_s"] = searched.harvest_s;
  state.counters["ratio"] = alone.harvest_s > 0 ? searched.harvest_s / alone.harvest_s : 0;
  state.counters["searches"] = double(searched.searches);
  state.counters["search_ms"] = searched.search_ms;
}
BENCHMARK(ReadsBesideHarvest)->ArgName("postgres")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
