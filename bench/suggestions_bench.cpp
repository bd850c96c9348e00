// Suggestions from the translation memory: GetSugestoes for 20,000 texts
// (half of them a memory text with a word dropped, added or changed, half
// new word sequences) against a memory of 200,000 entries of one language,
// through the service as `trd export` asks (batches of 5000), on SQLite (a
// file) and PostgreSQL (TRD_TEST_PG_URL, e.g. under scripts/with-postgres;
// skipped without it). Counter: found, the texts that got a suggestion.
//
// Baseline: the same 20,000 texts looked up exactly in the memory (the
// harvest's fallback look-up), in the same run: the suggestions' time as a
// ratio to it says what the similarity search costs.
//
// Words come from the captions of the corpus's forms when it is present
// (TRD_CORPUS_DIR in the environment names another copy of it, for a work
// tree beside which there is none), else from a list of their own; the texts
// are the same on every run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "protocol/Exchange.h"
#include "protocol/Methods.h"
#include "server/Database.h"
#include "server/Memory.h"
#include "server/Service.h"

namespace {

using namespace trd;

constexpr std::size_t kMemory = 200000;
constexpr std::size_t kTexts = 20000;
constexpr std::size_t kBatch = 5000;

std::vector<std::string> Words() {
  std::set<std::string> words;
  const char* elsewhere = std::getenv("TRD_CORPUS_DIR");
  const std::filesystem::path corpus = std::filesystem::path(elsewhere ? elsewhere : TRD_CORPUS_DIR) / "dfm";
  if (std::filesystem::exists(corpus)) {
    const std::regex caption("(Caption|Hint) = '([^']*)'"), word("[A-Za-z]{3,}");
    for (const auto& f : std::filesystem::recursive_directory_iterator(corpus)) {
      if (!f.is_regular_file() || f.path().extension() != ".dfm") continue;
      std::ifstream in(f.path(), std::ios::binary);
      for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (!std::regex_search(line, m, caption)) continue;
        const std::string text = m[2];
        for (auto w = std::sregex_iterator(text.begin(), text.end(), word); w != std::sregex_iterator(); ++w)
          words.insert(w->str());
      }
    }
  }
  if (words.size() < 500)
    for (int i = 0; i < 3000; ++i) words.insert("palavra" + std::to_string(i * 7919 % 10007));
  return {words.begin(), words.end()};
}

struct Data {
  std::vector<std::string> memory, texts;
};

const Data& TheData() {
  static const Data d = [] {
    Data d;
    const auto words = Words();
    std::mt19937 random(20260501);
    auto pick = [&] { return words[random() % words.size()]; };
    auto text = [&] {
      std::string t = pick();
      for (int n = int(random() % 6); n > 0; --n) t += " " + pick();
      return t;
    };
    std::set<std::string> seen;
    while (d.memory.size() < kMemory)
      if (std::string t = text(); seen.insert(t).second) d.memory.push_back(t);
    for (std::size_t i = 0; i < kTexts; ++i) {
      if (i % 2) {
        d.texts.push_back(text());
        continue;
      }
      std::string t = d.memory[random() % d.memory.size()];
      const std::size_t blank = t.find(' ', random() % t.size());
      if (blank == std::string::npos)
        t += " " + pick();  // add a word
      else if (random() % 2)
        t.erase(blank, t.find(' ', blank + 1) - blank);  // drop one
      else
        t.insert(blank, " " + pick());  // add one in the middle
      d.texts.push_back(t);
    }
    return d;
  }();
  return d;
}

// A service on a database holding the memory (made once per backend).
std::shared_ptr<server::Service> Served(bool postgres) {
  static std::shared_ptr<server::Service> cache[2];
  auto& s = cache[postgres ? 1 : 0];
  if (s) return s;
  std::string url;
  if (postgres) {
    const char* pg = std::getenv("TRD_TEST_PG_URL");
    if (!pg) return nullptr;
    url = pg;
  } else {
    const auto file = std::filesystem::temp_directory_path() / "trd-suggestions-bench.sqlite";
    std::filesystem::remove(file);
    url = "sqlite:" + file.string();
  }
  // A fresh database: a new SQLite file; the PostgreSQL database as a
  // throwaway cluster gives it.
  auto db = std::shared_ptr<server::Database>(server::OpenDatabase(url));
  s = std::make_shared<server::Service>(db);  // creates the schema and the index
  auto session = db->Acquire();
  server::Transaction tx(*session);
  const auto& memory = TheData().memory;
  constexpr std::size_t kRows = 200;
  for (std::size_t at = 0; at < memory.size(); at += kRows) {
    std::string sql = "INSERT INTO TRDMEMORIA (IDIDIOMA, STAGRVALPROP, STVALORPROP, DTULTATUTRAD, IDORIGEM) VALUES ";
    std::vector<FieldValue> params;
    for (std::size_t i = at; i < std::min(at + kRows, memory.size()); ++i) {
      sql += i == at ? "(?, ?, ?, ?, ?)" : ", (?, ?, ?, ?, ?)";
      params.insert(params.end(), {std::string("ENG"), memory[i], "EN " + memory[i], DateTime::FromParts(2026, 1, 1),
                                   std::string("import")});
    }
    session->Execute(sql, params);
  }
  tx.Commit();
  if (postgres) session->Execute("ANALYZE TRDMEMORIA");
  return s;
}

// Args: backend (0 SQLite, 1 PostgreSQL), what (0 suggestions, 1 baseline:
// exact look-ups).
void Suggest(benchmark::State& state) {
  const bool postgres = state.range(0) == 1, baseline = state.range(1) == 1;
  auto service = Served(postgres);
  if (!service) {
    state.SkipWithError("TRD_TEST_PG_URL is unset (run under scripts/with-postgres)");
    return;
  }
  const auto& texts = TheData().texts;
  std::size_t found = 0;
  for (auto _ : state) {
    found = 0;
    if (baseline) {
      auto db = server::OpenDatabase(postgres ? std::getenv("TRD_TEST_PG_URL")
                                              : "sqlite:" + (std::filesystem::temp_directory_path() /
                                                             "trd-suggestions-bench.sqlite").string());
      auto session = db->Acquire();
      for (const auto& t : texts) found += server::Recall(*session, "ENG", t).has_value();
      continue;
    }
    for (std::size_t at = 0; at < texts.size(); at += kBatch) {
      Packet asked{protocol::TextListFields(), {}};
      for (std::size_t i = at; i < std::min(at + kBatch, texts.size()); ++i) asked.rows.push_back({texts[i]});
      const Value args[] = {std::string("ENG"), asked};
      Value v = service->Call(protocol::kModuleExchange, protocol::kGetSugestoes, args);
      for (const Row& r : std::get<Packet>(v).rows) found += !std::holds_alternative<std::monostate>(r[0]);
    }
  }
  state.counters["found"] = double(found);
  state.counters["texts"] = double(texts.size());
}

BENCHMARK(Suggest)
    ->ArgsProduct({{0, 1}, {1, 0}})
    ->ArgNames({"postgres", "baseline"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
