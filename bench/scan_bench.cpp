// Throughput of the form-file scanner over the text form files of the corpus,
// in bytes of form text per second. The files are converted to form text once,
// outside the timing.
//
//   BM_ScanNewTexts     every look-up answered "nothing stored" and every
//                       transfer "done" in memory, as values: each text costs
//                       the full creation sequence (four calls); this is the
//                       scanner's own speed
//   BM_ScanNewTextsEncoded  the same answers, but every call goes through the
//                       wire encoding both ways (what the in-process server
//                       path adds)
//   BM_ScanStoredTexts  the real server on an in-memory database that already
//                       holds every text: each text costs one look-up
// Skipped when the corpus is absent.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "extract/FormScanner.h"
#include "formfile/FormStream.h"
#include "platform/Connection.h"
#include "platform/Text.h"
#include "platform/Wire.h"
#include "protocol/Record.h"
#include "server/Service.h"
#include "store/Store.h"
#include "store/TextChannels.h"

namespace {

struct Corpus {
  std::vector<std::vector<std::string>> files;  // form text lines per file
  std::int64_t bytes = 0;                       // form text, one line end per line
};

const Corpus& LoadCorpus() {
  static const Corpus corpus = [] {
    Corpus c;
    namespace fs = std::filesystem;
    fs::path root = fs::path(TRD_CORPUS_DIR) / "dfm";
    if (!fs::exists(root)) return c;
    std::vector<fs::path> paths;
    for (const auto& e : fs::recursive_directory_iterator(root))
      if (e.is_regular_file() && trd::text::EqualsIgnoreCase(e.path().extension().string(), ".dfm"))
        paths.push_back(e.path());
    std::sort(paths.begin(), paths.end());
    for (const auto& p : paths) {
      std::ifstream in(p, std::ios::binary);
      std::ostringstream data;
      data << in.rdbuf();
      std::string bytes = std::move(data).str();
      if (trd::form::DetectFormFormat(bytes) != trd::form::FormFormat::Text) continue;
      try {
        c.files.push_back(trd::form::ObjectResourceToText(bytes, p.string()));
      } catch (const trd::Error&) {
        continue;
      }
      for (const auto& line : c.files.back()) c.bytes += std::int64_t(line.size()) + 1;
    }
    return c;
  }();
  return corpus;
}

// Answers look-ups with an empty packet and transfers with success, without
// decoding the request.
trd::RequestHandler MinimalHandler() {
  static const std::string kEmpty = trd::wire::EncodeResult(trd::Packet{});
  static const std::string kDone = trd::wire::EncodeResult(std::monostate{});
  return [](std::string_view body) -> std::string {
    return body.find("\"method\":\"Get") != std::string_view::npos ? kEmpty : kDone;
  };
}

// Scans every file once; returns how many files stopped with an error (a name
// too long for its column, a value running past the end).
trd::ValueHandler MinimalValueHandler() {
  return [](const trd::wire::Request& r) -> trd::Value {
    if (r.method.rfind("Get", 0) == 0) return trd::Packet{};
    return std::monostate{};
  };
}

int ScanAll(const Corpus& corpus, trd::store::Store& store) {
  const bool cancel = false;
  const trd::DateTimeText dates;
  trd::store::PerTextChannel channel(store, dates);
  trd::extract::ScanEnvironment env{channel, cancel, "POR", dates, {}, {}};
  int failed = 0;
  for (const auto& lines : corpus.files) {
    try {
      trd::extract::Import(env, lines, "Bench");
    } catch (const trd::Error&) {
      ++failed;
    }
  }
  return failed;
}

// Scans the corpus with every call answered "nothing stored" / "done" by the
// transports `factory` makes.
void ScanNew(benchmark::State& state, trd::TransportFactory factory) {
  const Corpus& corpus = LoadCorpus();
  if (corpus.files.empty()) {
    state.SkipWithError("corpus not found under " TRD_CORPUS_DIR);
    return;
  }
  trd::shared::Services services;
  int failed = 0;
  for (auto _ : state) {
    trd::store::Store store(services, factory);
    store.cdsPropProp.CreateDataSet();
    failed = ScanAll(corpus, store);
  }
  state.SetBytesProcessed(state.iterations() * corpus.bytes);
  state.counters["files"] = double(corpus.files.size());
  state.counters["failed"] = failed;
}

void BM_ScanNewTexts(benchmark::State& state) {
  ScanNew(state, [](const std::string&, int) { return trd::MakeValueTransport(MinimalValueHandler()); });
}

void BM_ScanNewTextsEncoded(benchmark::State& state) {
  ScanNew(state, [](const std::string&, int) { return trd::MakeInProcessTransport(MinimalHandler()); });
}

void BM_ScanStoredTexts(benchmark::State& state) {
  const Corpus& corpus = LoadCorpus();
  if (corpus.files.empty()) {
    state.SkipWithError("corpus not found under " TRD_CORPUS_DIR);
    return;
  }
  auto service = trd::server::Service::Open(":memory:");
  const trd::TransportFactory transports = trd::InProcessTransports(service->Handler());
  trd::shared::Services services;
  {
    trd::store::Store store(services, transports);
    store.cdsPropProp.CreateDataSet();
    ScanAll(corpus, store);  // stores every text once
  }
  int failed = 0;
  for (auto _ : state) {
    trd::store::Store store(services, transports);
    store.cdsPropProp.CreateDataSet();
    failed = ScanAll(corpus, store);
  }
  state.SetBytesProcessed(state.iterations() * corpus.bytes);
  state.counters["failed"] = failed;
}

BENCHMARK(BM_ScanNewTexts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanNewTextsEncoded)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanStoredTexts)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
