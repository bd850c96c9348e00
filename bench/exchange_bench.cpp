// Exchange files: writing and reading units per text (five keys each) and
// per key, 10,000 and 100,000 of them, in PO and XLIFF; units per second
// and the heap the writer holds at its peak (held_KiB), which must not grow
// with the number of units. 20,000 units per text are the distinct texts of a
// 100,000-record language; 100,000 per key are its records.
//
// Baseline: the same texts and key texts copied raw to the same output, the
// floor any format pays. Compare the figures as ratios to it, measured in the
// same run.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "exchange/Exchange.h"
#include "exchange/KeyText.h"

namespace {

using namespace trd::exchange;

// An output that counts what it is given and keeps nothing.
class NullBuffer : public std::streambuf {
 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  int overflow(int c) override { return c; }
};

trd::protocol::RecordKey KeyOf(std::size_t i) {
  return {"PROG" + std::to_string(i % 400),
          "FRMPROG" + std::to_string(i % 400),
          "COMPONENTE" + std::to_string(i),
          "Caption",
          0,
          "ENG"};
}

Unit MakeUnit(std::size_t i, bool per_key, std::size_t keys_per_text) {
  std::string source = "Texto de exemplo número " + std::to_string(i) + " com acentuação";
  std::string translation = "Sample text number " + std::to_string(i);
  if (per_key) return UnitForRecord(KeyOf(i), source, translation);
  std::vector<trd::protocol::RecordKey> keys;
  for (std::size_t k = 0; k < keys_per_text; ++k) keys.push_back(KeyOf(i * keys_per_text + k));
  return UnitForText(source, keys, {translation});
}

std::size_t HeapInUse() { return mallinfo2().uordblks; }

constexpr std::size_t kKeysPerText = 5;

// Args: format (0 PO, 1 XLIFF, 2 raw baseline), shape (0 per text, 1 per
// key), units.
void Write(benchmark::State& state) {
  const int format = static_cast<int>(state.range(0));
  const bool per_key = state.range(1) == 1;
  const auto units = static_cast<std::size_t>(state.range(2));
  std::size_t held = 0;
  for (auto _ : state) {
    NullBuffer buffer;
    std::ostream out(&buffer);
    const std::size_t before = HeapInUse();
    std::unique_ptr<UnitWriter> writer;
    if (format < 2)
      writer = MakeWriter(format == 0 ? Format::Po : Format::Xliff, out, {.language = "ENG"}, "bench");
    for (std::size_t i = 0; i < units; ++i) {
      Unit u = MakeUnit(i, per_key, kKeysPerText);
      if (writer) {
        writer->Add(u);
      } else {
        out << u.source << *u.translation;
        for (const auto& k : u.keys) out << KeyText(k);
      }
      if (i % 997 == 0) held = std::max(held, HeapInUse() - std::min(before, HeapInUse()));
    }
    if (writer) writer->Finish();
  }
  state.counters["units/s"] =
      benchmark::Counter(double(units), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["held_KiB"] = double(held) / 1024;
}
BENCHMARK(Write)
    ->ArgsProduct({{2, 0, 1}, {0}, {20000}})
    ->ArgsProduct({{2, 0, 1}, {1}, {10000, 100000}})
    ->Unit(benchmark::kMillisecond);

// Args: format (0 PO, 1 XLIFF), shape (0 per text, 1 per key), units.
void Read(benchmark::State& state) {
  const Format format = state.range(0) == 0 ? Format::Po : Format::Xliff;
  const bool per_key = state.range(1) == 1;
  const auto units = static_cast<std::size_t>(state.range(2));
  const std::string path = (std::filesystem::temp_directory_path() / "trd-exchange-bench").string();
  {
    std::ofstream out(path, std::ios::binary);
    auto writer = MakeWriter(format, out, {.language = "ENG"}, path);
    for (std::size_t i = 0; i < units; ++i) writer->Add(MakeUnit(i, per_key, kKeysPerText));
    writer->Finish();
  }
  for (auto _ : state) {
    std::size_t n = 0;
    ReadUnits(path, [&](Unit&& u) { n += u.keys.size(); });
    benchmark::DoNotOptimize(n);
  }
  std::filesystem::remove(path);
  state.counters["units/s"] =
      benchmark::Counter(double(units), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(Read)
    ->ArgsProduct({{0, 1}, {0}, {20000}})
    ->ArgsProduct({{0, 1}, {1}, {100000}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
