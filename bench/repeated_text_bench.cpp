// The translation look-up when many records share one source text. One form
// holding a memo of N lines (TRD_REPEATED_LINES, default 20000) is read into a
// fresh database by the real server in process, every line through the whole
// creation sequence (GetPropried, GetVerProp, SetPropried, GetUpdRelDfm, and
// UpdateRelDfm when a translation is found):
//   Distinct    every line a text of its own: the baseline
//   Identical   every line the same text, no translation of it stored
//   Translated  every line the same text, a translation of it stored
//               beforehand: every new record takes it over (state "T"), so
//               the records matching a look-up grow with every line
// on SQLite (a file, as `trd harvest --db` uses it) and, when TRD_TEST_PG_URL
// names a cluster (scripts/with-postgres), on PostgreSQL. Compare the shapes
// of one backend within one run: a look-up that grows with the records
// sharing its text shows as Identical or Translated falling behind Distinct.
// Counter: lines_per_s.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "../tests/support/TestDatabase.h"
#include "extract/FormScanner.h"
#include "formfile/FormStream.h"
#include "platform/Connection.h"
#include "platform/DateTimeText.h"
#include "protocol/Methods.h"
#include "server/Schema.h"
#include "server/Service.h"
#include "shared/Services.h"
#include "store/Store.h"
#include "store/TextChannels.h"

namespace {

using namespace trd;
using test::TestBackend;
using test::TestDatabase;

enum Shape { kDistinct, kIdentical, kTranslated };

constexpr const char* kSharedText = "Total geral do período";

int Lines() {
  const char* env = std::getenv("TRD_REPEATED_LINES");
  return env && std::atoi(env) > 0 ? std::atoi(env) : 20000;
}

// The form text lines of a form with one memo of `lines` lines.
std::vector<std::string> MemoForm(Shape shape, int lines) {
  std::string s = "object frmMemo: TForm\n  object memTexto: TMemo\n    Lines.Strings = (\n";
  for (int i = 0; i < lines; ++i) {
    const std::string text = shape == kDistinct ? "Linha " + std::to_string(i) + " do memorando" : kSharedText;
    s += "      '" + text + "'" + (i + 1 == lines ? ")\n" : "\n");
  }
  s += "  end\nend\n";
  return form::ObjectResourceToText(s, "Memo.dfm");
}

// A translated record of the shared text under a key of another form.
void StoreTranslation(server::Service& service) {
  Row r{std::string("OUTRO"), std::string("FRMOUTRO"), std::string("LBLTOTAL"), std::string("Caption"), 0.0,
        std::string("T"),     std::string("Grand total of the period"), std::string(kSharedText),
        DateTime::FromParts(2024, 5, 1, 10), std::string("POR")};
  ChangeSet cs{server::TranslationTable().fields, {Change{ChangeKind::Insert, {}, std::move(r)}}};
  const Value args[] = {cs};
  service.Call(protocol::kModuleForms, protocol::kSetPropried, args);
}

void ReadMemo(benchmark::State& state, TestBackend backend, Shape shape) {
  if (!TestDatabase::Available(backend)) {
    state.SkipWithError(TestDatabase::kSkipMessage);
    return;
  }
  const int lines = Lines();
  const std::vector<std::string> form = MemoForm(shape, lines);
  const bool cancel = false;
  const DateTimeText dates;
  for (auto _ : state) {
    state.PauseTiming();
    auto db = std::make_unique<TestDatabase>(backend, TestDatabase::Storage::File);
    auto service = server::Service::Open(db->Url());
    if (shape == kTranslated) StoreTranslation(*service);
    shared::Services services;
    store::Store store(services, InProcessTransports(service->Handler()));
    store::PerTextChannel channel(store, dates);
    extract::ScanEnvironment env{channel, cancel, "POR", dates, {}, {}};
    state.ResumeTiming();

    extract::Import(env, form, "Memo");

    state.PauseTiming();
    if (store.stats.created != lines) state.SkipWithError("not every line was stored");
    if (shape == kTranslated && store.stats.translations_reused != lines)
      state.SkipWithError("not every line took the stored translation over");
    service.reset();
    db.reset();
    state.ResumeTiming();
  }
  state.counters["lines_per_s"] = benchmark::Counter(double(lines), benchmark::Counter::kIsIterationInvariantRate);
}

void Register() {
  const struct {
    const char* name;
    TestBackend backend;
  } backends[] = {{"Sqlite", TestBackend::Sqlite}, {"Postgres", TestBackend::Postgres}};
  const struct {
    const char* name;
    Shape shape;
  } shapes[] = {{"Distinct", kDistinct}, {"Identical", kIdentical}, {"Translated", kTranslated}};
  for (const auto& b : backends)
    for (const auto& s : shapes)
      benchmark::RegisterBenchmark((std::string("MemoOf") + s.name + "Lines/" + b.name).c_str(),
                                   [b, s](benchmark::State& st) { ReadMemo(st, b.backend, s.shape); })
          ->Iterations(1)
          ->UseRealTime()
          ->Unit(benchmark::kSecond);
}

}  // namespace

int main(int argc, char** argv) {
  Register();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
