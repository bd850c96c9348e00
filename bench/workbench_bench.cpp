// The workbench's two actions on a table of kRecords records (two
// languages, kPrograms programs, about a third of ENG translated, the
// translation memory holding the translated texts), answered in process as
// the HTTP front's worker answers them (WebFront.h), on SQLite (a file) and
// PostgreSQL (TRD_TEST_PG_URL, e.g. under scripts/with-postgres; skipped
// without it), each side by side with a baseline in the same run:
//   TableRead    one plain pass over the table (every record counted, and
//                the translated ones: one statement)
//   OpenText     GET /texto of an untranslated record: the record, every
//                record of its text, the suggestions (records and memory),
//                the other language, the history, the HTML
//   SaveAndNext  POST /texto: the checks, the conditional set of every
//                record holding the text (journalled), the look-up of the
//                next untranslated record of the program; a new record each
//                iteration
//   *VsTableRead the action and the baseline alternated: counters action_ms,
//                table_read_ms and their ratio
// The target is under 50 ms of server time per action.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include "../tests/support/TestDatabase.h"
#include "server/BrowserSessions.h"
#include "server/Database.h"
#include "server/History.h"
#include "server/Html.h"
#include "server/Memory.h"
#include "server/ProgressPage.h"
// After ProgressPage.h: its Coverage (a type) is a function there.
#include "server/ExchangeRecords.h"
#include "server/Schema.h"
#include "server/Service.h"
#include "server/Suggestions.h"
#include "server/WebFront.h"
#include "server/WorkList.h"

namespace {

using namespace trd;

constexpr int kRecords = 200000;
constexpr int kPrograms = 400;
const char* const kLanguages[] = {"POR", "ENG"};
const std::string kFormKey(64, 'a');

std::string Source(int n, int program) {
  return "Texto " + std::to_string(n % 20000) + " do programa " + std::to_string(program);
}

struct Fixture {
  std::unique_ptr<test::TestDatabase> db;
  std::shared_ptr<server::Service> service;
  std::unique_ptr<server::BrowserSessions> sessions;
  int next_program = 0;  // SaveAndNext works through the programs in turn
  std::vector<std::string> open_targets;

  explicit Fixture(test::TestBackend backend) {
    db = std::make_unique<test::TestDatabase>(backend, test::TestDatabase::Storage::File);
    service = server::Service::Open(db->Url());  // the schema and its indexes
    sessions = std::make_unique<server::BrowserSessions>(service->Storage());
    auto s = service->Storage().Acquire();
    server::Transaction tx(*s);
    const std::string insert = "INSERT INTO TRDPROPRIEDADE (" +
                               protocol::ColumnList(server::TranslationTable().fields) +
                               ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
    const int per_language = kRecords / 2;
    const server::Attribution by{"ana", server::Origin::Import, DateTime::Now()};
    for (int i = 0; i < kRecords; ++i) {
      const int l = i / per_language;
      const int n = i - l * per_language;
      const std::string language = kLanguages[l];
      const int program = n % kPrograms;
      const bool translated = language == "ENG" && n % 3 == 0;
      const std::string source = Source(n, program);
      const FieldValue row[] = {"PROG" + std::to_string(program),
                                "FRM" + std::to_string(program),
                                "COMPONENTE" + std::to_string(n / kPrograms),
                                std::string(n % 2 ? "Caption" : "Hint"),
                                double(0),
                                std::string(translated ? "T" : "N"),
                                translated ? "Translation " + source : source,
                                source,
                                DateTime::FromParts(2026, 1 + n % 12, 1 + n % 28, n % 24, n % 60),
                                language};
      s->Execute(insert, row);
      if (translated) server::Remember(*s, language, source, "Translation " + source, by,
                                       server::MemoryWrite::Latest);
    }
    tx.Commit();
    // Untranslated ENG records, spread over the programs.
    for (int n = 1; open_targets.size() < 500; n += 3 * 37) {
      const int program = n % kPrograms;
      open_targets.push_back("/texto?idioma=ENG&programa=PROG" + std::to_string(program) + "&formulario=FRM" +
                             std::to_string(program) + "&componente=COMPONENTE" + std::to_string(n / kPrograms) +
                             "&propriedade=" + (n % 2 ? "Caption" : "Hint") + "&numero=0");
    }
  }

  server::WebAnswer Answer(server::Route route, const std::string& target, const std::string& body) {
    server::WebRequest r;
    r.route = route;
    r.access = server::Access::Granted;
    r.target = target;
    r.body = body;
    const std::string cookie = "trd_form=" + kFormKey;
    r.cookie = cookie;
    r.caller = server::Caller{"ana", server::Role::Translator};
    return server::AnswerWeb(r, *service, server::Credentials{"segredo"}, *sessions);
  }

  std::size_t Open(std::size_t i) {
    const server::WebAnswer a = Answer(server::Route::TextView, open_targets[i % open_targets.size()], {});
    if (a.status != 200) throw std::runtime_error("GET /texto answered " + std::to_string(a.status));
    return a.body.size();
  }

  // Saves the first untranslated record of the next program, as its view's
  // form sends it; the answer names the next record.
  void SaveAndNext() {
    const int program = next_program++ % kPrograms;
    auto s = service->Storage().AcquireReader();
    static const FieldType kTypes[] = {FieldType::String, FieldType::String, FieldType::String};
    const FieldValue params[] = {"PROG" + std::to_string(program)};
    auto rows = s->Query(
        "SELECT NMCOMPONENTE, NMPROPRIEDADE, STAGRVALPROP FROM TRDPROPRIEDADE WHERE IDIDIOMA = 'ENG' AND "
        "CDPROGRAMA = ? AND IDSITTRADUCAO = 'N' ORDER BY NMFORMULARIO, NMCOMPONENTE, NMPROPRIEDADE LIMIT 1",
        params, kTypes);
    s.reset();
    if (rows.empty()) throw std::runtime_error("no untranslated record left");
    const std::string source = std::get<std::string>(rows[0][2]);
    const std::string body = std::string(server::kFormKeyField) + "=" + kFormKey +
                             "&idioma=ENG&programa=PROG" + std::to_string(program) + "&formulario=FRM" +
                             std::to_string(program) + "&componente=" +
                             server::html::UrlEncoded(std::get<std::string>(rows[0][0])) + "&propriedade=" +
                             std::get<std::string>(rows[0][1]) + "&numero=0&versao_fonte=" +
                             server::TextDigest(source) + "&traducao=" +
                             server::html::UrlEncoded("Translation " + source);
    const auto t0 = std::chrono::steady_clock::now();
    const server::WebAnswer a = Answer(server::Route::Save, "/texto", body);
    save_time += std::chrono::steady_clock::now() - t0;
    if (a.status != 303) throw std::runtime_error("POST /texto answered " + std::to_string(a.status) + ": " + a.body);
  }
  std::chrono::steady_clock::duration save_time{};

  void TableRead() {
    auto s = service->Storage().Acquire();
    static const FieldType kTypes[] = {FieldType::Float, FieldType::Float};
    auto rows = s->Query("SELECT COUNT(*), SUM(CASE WHEN IDSITTRADUCAO = 'T' THEN 1 ELSE 0 END) FROM TRDPROPRIEDADE",
                         {}, kTypes);
    if (rows.empty() || std::get<double>(rows[0][0]) != kRecords) throw std::runtime_error("the table is not seeded");
  }
};

Fixture* Shared(benchmark::State& state, test::TestBackend backend) {
  if (!test::TestDatabase::Available(backend)) {
    state.SkipWithError("TRD_TEST_PG_URL is unset");
    return nullptr;
  }
  static std::unique_ptr<Fixture> fixtures[2];
  auto& f = fixtures[backend == test::TestBackend::Postgres];
  if (!f) f = std::make_unique<Fixture>(backend);
  return f.get();
}

using ms = std::chrono::duration<double, std::milli>;

void TableRead(benchmark::State& state, test::TestBackend backend) {
  Fixture* f = Shared(state, backend);
  if (!f) return;
  for (auto _ : state) f->TableRead();
}

void OpenText(benchmark::State& state, test::TestBackend backend) {
  Fixture* f = Shared(state, backend);
  if (!f) return;
  std::size_t i = 0, bytes = 0;
  for (auto _ : state) bytes = f->Open(i++);
  state.counters["html_kib"] = double(bytes) / 1024;
}

void OpenVsTableRead(benchmark::State& state, test::TestBackend backend) {
  Fixture* f = Shared(state, backend);
  if (!f) return;
  using Clock = std::chrono::steady_clock;
  Clock::duration action{}, table{};
  std::size_t i = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    f->TableRead();
    const auto t1 = Clock::now();
    f->Open(i++);
    const auto t2 = Clock::now();
    table += t1 - t0;
    action += t2 - t1;
  }
  const double n = double(state.iterations());
  state.counters["action_ms"] = ms(action).count() / n;
  state.counters["table_read_ms"] = ms(table).count() / n;
  state.counters["ratio"] = ms(action).count() / ms(table).count();
}

// The time of the POST alone (the test's own look-up of what to save aside).
void SaveVsTableRead(benchmark::State& state, test::TestBackend backend) {
  Fixture* f = Shared(state, backend);
  if (!f) return;
  using Clock = std::chrono::steady_clock;
  Clock::duration table{};
  f->save_time = {};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    f->TableRead();
    table += Clock::now() - t0;
    f->SaveAndNext();
  }
  const double n = double(state.iterations());
  state.counters["action_ms"] = ms(f->save_time).count() / n;
  state.counters["table_read_ms"] = ms(table).count() / n;
  state.counters["ratio"] = ms(f->save_time).count() / ms(table).count();
}

// What opening a view costs, part by part (counters in ms a view).
void OpenTextParts(benchmark::State& state, test::TestBackend backend) {
  Fixture* f = Shared(state, backend);
  if (!f) return;
  using Clock = std::chrono::steady_clock;
  Clock::duration record{}, holders{}, suggestions{}, history{};
  int i = 0;
  for (auto _ : state) {
    const int n = 1 + 3 * 37 * (i++ % 500), program = n % kPrograms;
    const protocol::RecordKey key{"PROG" + std::to_string(program), "FRM" + std::to_string(program),
                                  "COMPONENTE" + std::to_string(n / kPrograms), n % 2 ? "Caption" : "Hint", 0, "ENG"};
    auto s = f->service->Storage().AcquireReader();
    const auto t0 = Clock::now();
    const std::string source = server::RecordOfKey(*s, key)->source;
    const auto t1 = Clock::now();
    server::TextRecordsQuery q;
    q.language = "ENG";
    q.texts = {source};
    q.page = 200;
    benchmark::DoNotOptimize(server::RecordsOfTexts(*s, q));
    const auto t2 = Clock::now();
    benchmark::DoNotOptimize(server::Suggestions(*s, "ENG", {source}));
    const auto t3 = Clock::now();
    benchmark::DoNotOptimize(server::HistoryOfKey(*s, key));
    const auto t4 = Clock::now();
    record += t1 - t0;
    holders += t2 - t1;
    suggestions += t3 - t2;
    history += t4 - t3;
  }
  const double n = double(state.iterations());
  state.counters["record_ms"] = ms(record).count() / n;
  state.counters["holders_ms"] = ms(holders).count() / n;
  state.counters["suggestions_ms"] = ms(suggestions).count() / n;
  state.counters["history_ms"] = ms(history).count() / n;
}

BENCHMARK_CAPTURE(OpenTextParts, Sqlite, test::TestBackend::Sqlite)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenTextParts, Postgres, test::TestBackend::Postgres)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(TableRead, Sqlite, test::TestBackend::Sqlite)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenText, Sqlite, test::TestBackend::Sqlite)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenVsTableRead, Sqlite, test::TestBackend::Sqlite)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SaveVsTableRead, Sqlite, test::TestBackend::Sqlite)->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK_CAPTURE(TableRead, Postgres, test::TestBackend::Postgres)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenText, Postgres, test::TestBackend::Postgres)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenVsTableRead, Postgres, test::TestBackend::Postgres)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SaveVsTableRead, Postgres, test::TestBackend::Postgres)->Unit(benchmark::kMillisecond)
    ->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
