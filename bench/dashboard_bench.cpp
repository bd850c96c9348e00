// The progress page of `trd serve` on a table of kRecords records (three
// languages, kPrograms programs, about a third translated), answered in
// process as the HTTP front's worker answers it (WebFront.h), side by side
// with a baseline in the same run:
//   TableRead     one plain pass over the table: every record counted, and
//                 the translated ones (one statement, no grouping; SQLite
//                 reads it from the narrowest index that holds the state)
//   Page          GET /?idioma=ENG: coverage per language and per program,
//                 the latest changes, the HTML
//   PageVsTableRead  the two alternated, with their ratio
//   Search        GET / with a search whose needle many texts hold (a full
//                 page of results), and one that no text holds
//   SearchNextPage  the third page of the common search, by its cursor
// The table is a SQLite file in a temporary directory, filled once per run
// (the slow part of the run). The target is a page in under 200 ms.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include "../tests/support/TempTree.h"
#include "server/Database.h"
#include "server/Html.h"
#include "server/Schema.h"
#include "server/Service.h"
#include "server/WebFront.h"

namespace {

using namespace trd;

constexpr int kRecords = 200000;
constexpr int kPrograms = 400;
const char* const kLanguages[] = {"POR", "ENG", "ESP"};

struct Fixture {
  test::TempTree dir{"trd-dashboard-bench"};
  std::shared_ptr<server::Service> service;

  Fixture() {
    const std::string path = dir.Path("trd.sqlite");
    service = server::Service::Open(path);  // the schema and its indexes
    auto db = server::OpenDatabase(path);
    auto s = db->Acquire();
    server::Transaction tx(*s);
    const std::string insert = "INSERT INTO TRDPROPRIEDADE (" +
                               protocol::ColumnList(server::TranslationTable().fields) +
                               ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
    const int per_language = kRecords / 3;
    for (int i = 0; i < kRecords; ++i) {
      const int l = std::min(i / per_language, 2);  // the last language takes the remainder
      const int n = i - l * per_language;
      const std::string language = kLanguages[l];
      const int program = n % kPrograms;
      // The share translated differs by program and language.
      const bool translated = language != "POR" && (n / kPrograms) % 100 < (program % 97) + (language == "ENG" ? 3 : 0);
      const std::string source = "Texto " + std::to_string(n % 20000) + " do programa " + std::to_string(program);
      const FieldValue row[] = {"PROG" + std::to_string(program),
                                "FRM" + std::to_string(program),
                                "COMPONENTE" + std::to_string(n / kPrograms),
                                std::string(n % 2 ? "Caption" : "Hint"),
                                double(0),
                                std::string(translated ? "T" : "N"),
                                translated ? "Tradução " + source : source,
                                source,
                                DateTime::FromParts(2026, 1 + n % 12, 1 + n % 28, n % 24, n % 60),
                                language};
      s->Execute(insert, row);
    }
    tx.Commit();
  }

  std::string Get(const std::string& target) {
    server::BrowserSessions sessions(service->Storage());
    server::WebAnswer a =
        server::AnswerWeb({server::Route::Page, server::Access::Granted, target, {}}, *service, {}, sessions);
    if (a.status != 200) throw std::runtime_error("GET " + target + " answered " + std::to_string(a.status));
    return a.body;
  }

  void TableRead() {
    auto s = service->Storage().Acquire();
    static const FieldType kTypes[] = {FieldType::Float, FieldType::Float};
    auto rows = s->Query("SELECT COUNT(*), SUM(CASE WHEN IDSITTRADUCAO = 'T' THEN 1 ELSE 0 END) FROM TRDPROPRIEDADE",
                         {}, kTypes);
    if (rows.empty() || std::get<double>(rows[0][0]) != kRecords) throw std::runtime_error("the table is not seeded");
  }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

void TableRead(benchmark::State& state) {
  auto& f = Shared();
  for (auto _ : state) f.TableRead();
}

void Page(benchmark::State& state) {
  auto& f = Shared();
  std::size_t bytes = 0;
  for (auto _ : state) bytes = f.Get("/?idioma=ENG").size();
  state.counters["html_kib"] = double(bytes) / 1024;
}

void PageVsTableRead(benchmark::State& state) {
  auto& f = Shared();
  using Clock = std::chrono::steady_clock;
  Clock::duration page{}, table{};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    f.TableRead();
    const auto t1 = Clock::now();
    benchmark::DoNotOptimize(f.Get("/?idioma=ENG"));
    const auto t2 = Clock::now();
    table += t1 - t0;
    page += t2 - t1;
  }
  using ms = std::chrono::duration<double, std::milli>;
  const double n = double(state.iterations());
  state.counters["page_ms"] = ms(page).count() / n;
  state.counters["table_read_ms"] = ms(table).count() / n;
  state.counters["ratio"] = ms(page).count() / ms(table).count();
}

void Search(benchmark::State& state) {
  auto& f = Shared();
  const std::string needle = state.range(0) ? "TEXTO 1" : "nenhum texto tem isto";
  for (auto _ : state) benchmark::DoNotOptimize(f.Get("/?idioma=ENG&busca=" + server::html::UrlEncoded(needle)));
}

void SearchNextPage(benchmark::State& state) {
  auto& f = Shared();
  // The cursor of the third page, as the page's link carries it.
  std::string target = "/?idioma=ENG&busca=TEXTO+1";
  for (int page = 0; page < 2; ++page) {
    const std::string html = f.Get(target);
    const auto at = html.find("class=\"proxima\" href=\"");
    if (at == std::string::npos) throw std::runtime_error("no next page");
    const auto start = at + 22;
    std::string href = html.substr(start, html.find('"', start) - start);
    for (std::size_t amp; (amp = href.find("&amp;")) != std::string::npos;) href.replace(amp, 5, "&");
    target = href.substr(0, href.find('#'));
  }
  for (auto _ : state) benchmark::DoNotOptimize(f.Get(target));
}

BENCHMARK(TableRead)->Unit(benchmark::kMillisecond);
BENCHMARK(Page)->Unit(benchmark::kMillisecond);
BENCHMARK(PageVsTableRead)->Unit(benchmark::kMillisecond);
BENCHMARK(Search)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(SearchNextPage)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
