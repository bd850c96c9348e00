// The history look-ups: `trd history --text` of a text with 1,000 changes
// (50 records translated 20 times each) and `trd history KEY` of one of its
// records, among 200,000 changes of 20,000 other texts, through the service
// as the command asks (GetHistorico), on SQLite (a file) and PostgreSQL
// (TRD_TEST_PG_URL, e.g. under scripts/with-postgres; skipped without it).
// Counter: changes, the rows answered.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "protocol/Methods.h"
#include "server/Database.h"
#include "server/History.h"
#include "server/Schema.h"
#include "server/Service.h"

namespace {

using namespace trd;

constexpr int kOtherTexts = 20000, kChangesPerOther = 10;
constexpr int kRecords = 50, kChangesPerRecord = 20;
const std::string kText = "Salvar registro";

Row Record(const std::string& component, const std::string& source, const std::string& translation) {
  return {std::string("CADASTRO"), std::string("FRMCADASTRO"), component, std::string("Caption"), 0.0,
          std::string("T"), translation, source, DateTime::Now(), std::string("POR")};
}

void Fill(server::Session& s) {
  server::Transaction tx(s);
  const server::Attribution by{"ana", server::Origin::Import, DateTime::Now()};
  const std::string marks = "?, ?, ?, ?, ?, ?, ?, ?, ?, ?";
  const std::string insert = "INSERT INTO " + server::TranslationTable().name + " (" +
                             protocol::ColumnList(server::TranslationTable().fields) + ") VALUES (" + marks + ")";
  auto changes = [&](const std::string& component, const std::string& source, int n) {
    std::optional<Row> before;
    for (int i = 0; i < n; ++i) {
      Row after = Record(component, source, source + " " + std::to_string(i));
      server::RecordChange(s, before, after, by);
      before = std::move(after);
    }
    // The record as the changes left it: a look-up by text finds the
    // records that hold it through the translation table.
    s.Execute(insert, *before);
  };
  for (int t = 0; t < kOtherTexts; ++t)
    changes("LBL" + std::to_string(t), "texto " + std::to_string(t), kChangesPerOther);
  for (int r = 0; r < kRecords; ++r) changes("BTN" + std::to_string(r), kText, kChangesPerRecord);
  tx.Commit();
}

struct Subject {
  std::filesystem::path dir;
  std::shared_ptr<server::Service> service;
};

Subject& Open(server::Backend backend) {
  static std::unique_ptr<Subject> subjects[2];
  auto& s = subjects[backend == server::Backend::Postgres];
  if (s) return *s;
  s = std::make_unique<Subject>();
  std::string url;
  if (backend == server::Backend::Sqlite) {
    s->dir = std::filesystem::temp_directory_path() / ("trd-history-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(s->dir);
    url = "sqlite:" + (s->dir / "trd.sqlite").string();
  } else {
    const char* pg = std::getenv("TRD_TEST_PG_URL");
    url = pg ? pg : "";
    auto db = server::OpenDatabase(url);
    for (const char* table : {"TRDHISTORICO", "TRDPROPRIEDADE"}) db->Acquire()->Execute(std::string("DROP TABLE IF EXISTS ") + table + " CASCADE");
  }
  s->service = server::Service::Open(url);
  Fill(*s->service->Storage().Acquire());
  return *s;
}

void Run(benchmark::State& state, server::Backend backend, bool by_text) {
  if (backend == server::Backend::Postgres && !std::getenv("TRD_TEST_PG_URL"))
    return state.SkipWithError("TRD_TEST_PG_URL is unset");
  Subject& s = Open(backend);
  std::vector<Value> args = by_text ? std::vector<Value>{std::string("POR"), kText, std::monostate{}, std::monostate{},
                                                         std::monostate{}, std::monostate{}, std::monostate{}}
                                    : std::vector<Value>{std::string("POR"), std::monostate{}, std::string("CADASTRO"),
                                                         std::string("FRMCADASTRO"), std::string("BTN7"),
                                                         std::string("Caption"), 0.0};
  std::size_t rows = 0;
  for (auto _ : state) {
    Value v = s.service->Call(protocol::kModuleExchange, protocol::kGetHistorico, args);
    rows = std::get<Packet>(v).rows.size();
  }
  state.counters["changes"] = double(rows);
}

void BM_HistoryOfText_Sqlite(benchmark::State& st) { Run(st, server::Backend::Sqlite, true); }
void BM_HistoryOfKey_Sqlite(benchmark::State& st) { Run(st, server::Backend::Sqlite, false); }
void BM_HistoryOfText_Postgres(benchmark::State& st) { Run(st, server::Backend::Postgres, true); }
void BM_HistoryOfKey_Postgres(benchmark::State& st) { Run(st, server::Backend::Postgres, false); }

BENCHMARK(BM_HistoryOfText_Sqlite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistoryOfKey_Sqlite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistoryOfText_Postgres)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistoryOfKey_Postgres)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
