#include "Vanished.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <future>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string_view>

#include "ExchangeClient.h"
#include "ExchangeRows.h"
#include "exchange/KeyText.h"
#include "platform/TemporaryFile.h"
#include "platform/Text.h"
#include "protocol/Methods.h"
#include "protocol/RecordBatch.h"
#include "server/Arguments.h"
#include "store/RecordRule.h"

namespace trd::cli {
namespace {

using namespace protocol;

// Coverage requests out at once while vanished records are looked for: a
// server reads them side by side (it has a read connection per core).
constexpr std::size_t kCountsAtOnce = 2;

class Observer final : public Transport {
 public:
  Observer(std::unique_ptr<Transport> inner, SeenKeys& seen) : inner_(std::move(inner)), seen_(seen) {}

  std::string Exchange(const std::string& request) override { return inner_->Exchange(request); }
  Value Call(const wire::Request& request) override {
    if (text::EqualsIgnoreCase(request.method, kSetPropriedArq)) {
      Value answer = inner_->Call(request);
      NoteBatch(request, answer);
      return answer;
    }
    Note(request);
    return inner_->Call(request);
  }

 private:
  void Note(const wire::Request& r) {
    // GetPropried / GetPropriedRel: program, form, component, property,
    // number, value, language.
    if (r.args.size() != 7) return;
    if (!text::EqualsIgnoreCase(r.method, kGetPropried) && !text::EqualsIgnoreCase(r.method, kGetPropriedRel)) return;
    const std::string* t[5];
    for (int i : {0, 1, 2, 3, 6}) {
      t[i == 6 ? 4 : i] = std::get_if<std::string>(&r.args[std::size_t(i)]);
      if (!t[i == 6 ? 4 : i]) return;
    }
    try {
      const double number = server::NumberArg(r.args[4], server::ArgName{4, "number"});
      seen_.Note(RecordKey{*t[0], *t[1], *t[2], *t[3], number, *t[4]});
    } catch (const std::exception&) {
      // A number the server refuses too: that look-up fails the run anyway.
    }
  }

  // SetPropriedArq: language, then a packet of one file's texts (or part of
  // them, or several files' texts) whose rows start with the key
  // (protocol/RecordBatch.h), then for several files their counts; the
  // answer an outcome per text, in the same order.
  void NoteBatch(const wire::Request& r, const Value& answer) {
    if (r.args.size() != 2 && r.args.size() != 3) return;
    const auto* language = std::get_if<std::string>(&r.args[0]);
    const auto* texts = std::get_if<Packet>(&r.args[1]);
    if (!language || !texts) return;
    const auto* outcomes = std::get_if<Packet>(&answer);
    if (outcomes && outcomes->rows.size() != texts->rows.size()) outcomes = nullptr;
    RecordKey key;  // its strings' room reused from row to row
    key.language = *language;
    for (std::size_t i = 0; i < texts->rows.size(); ++i) {
      const Row& row = texts->rows[i];
      if (row.size() <= std::size_t(kBatchNumber)) continue;
      const std::string* t[4];
      bool whole = true;
      for (int i : {kBatchProgram, kBatchForm, kBatchComponent, kBatchProperty})
        whole = whole && (t[i] = std::get_if<std::string>(&row[std::size_t(i)])) != nullptr;
      const auto* number = std::get_if<double>(&row[kBatchNumber]);
      if (!whole || !number) continue;
      KeyHeld held = KeyHeld::Unknown;
      if (outcomes && !outcomes->rows[i].empty())
        if (const auto* name = std::get_if<std::string>(&outcomes->rows[i][kBatchOutcome]))
          if (auto outcome = store::OutcomeNamed(*name); outcome && *outcome != store::RecordOutcome::Skipped)
            held = KeyHeld::Yes;
      key.program = *t[0];
      key.form = *t[1];
      key.component = *t[2];
      key.property = *t[3];
      key.number = *number;
      seen_.Note(key, held);
    }
  }

  std::unique_ptr<Transport> inner_;
  SeenKeys& seen_;
};

}  // namespace

TransportFactory SeenKeys::Observe(TransportFactory inner) {
  if (!inner) inner = HttpTransports();
  return [this, inner](const std::string& host, int port) -> std::unique_ptr<Transport> {
    return std::make_unique<Observer>(inner(host, port), *this);
  };
}

namespace {

// "PROGRAM/FORM/" of a key text: no field's text holds a "/" (KeyText.h).
std::string_view FormOfKeyText(std::string_view key) {
  const std::size_t program_end = key.find('/');
  const std::size_t form_end = program_end == std::string_view::npos ? program_end : key.find('/', program_end + 1);
  return key.substr(0, form_end == std::string_view::npos ? key.size() : form_end + 1);
}

// Calls `each(held, key text)` for every line of a program's stored keys.
template <typename Each>
void ForEachLine(std::string_view lines, Each each) {
  while (!lines.empty()) {
    const std::size_t end = lines.find('\n');
    const std::string_view line = lines.substr(0, end);
    if (!line.empty()) each(line[0] == '1' ? KeyHeld::Yes : KeyHeld::Unknown, line.substr(1));
    if (end == std::string_view::npos) break;
    lines.remove_prefix(end + 1);
  }
}

// Programs whose slots wait unsorted before they are merged into the sorted
// ones: a look-up walks them one by one.
constexpr std::size_t kRecentSlots = 256;

std::uint64_t HashOf(const std::string& program) { return std::hash<std::string>{}(program); }

constexpr auto kByHash = [](const auto& a, const auto& b) { return a.hash < b.hash; };

}  // namespace

SeenKeys::SeenKeys() : file_(OpenTemporary()) {}

SeenKeys::~SeenKeys() {
  if (file_ >= 0) ::close(file_);
}

void SeenKeys::Note(const RecordKey& key, KeyHeld held) {
  if (!open_ || key.program != program_) Open(key.program);
  const auto it = keys_.try_emplace(exchange::KeyText(key), held).first;
  if (held == KeyHeld::Yes) it->second = KeyHeld::Yes;
}

void SeenKeys::Open(const std::string& program) {
  Close();
  program_ = program;
  open_ = true;
  if (const Slot* slot = Find(program))
    ForEachLine(Bytes(slot->lines_at, slot->lines_size),
                [&](KeyHeld held, std::string_view key) { keys_.emplace(key, held); });
}

void SeenKeys::Close() {
  if (!open_) return;
  open_ = false;
  if (keys_.empty()) return;
  std::string lines;
  std::size_t held = 0;
  for (const auto& [key, h] : keys_) {
    lines += h == KeyHeld::Yes ? '1' : '0';
    lines += key;
    lines += '\n';
    if (h == KeyHeld::Yes) ++held;
  }
  keys_.clear();
  const std::uint64_t lines_at = end_;
  Append(lines);
  if (Slot* slot = Find(program_)) {  // a program noted again: its new block replaces the old
    slot->lines_at = lines_at;
    slot->lines_size = lines.size();
    slot->held = std::uint32_t(held);
    return;
  }
  if (codes_.size() > std::numeric_limits<std::uint32_t>::max() - program_.size())
    throw std::runtime_error("the run's programs' codes outgrew the seen keys' index");
  const auto code_at = std::uint32_t(codes_.size());
  codes_.append(program_).push_back('\0');
  recent_.push_back({HashOf(program_), lines_at, lines.size(), std::uint32_t(held), code_at});
  if (recent_.size() < kRecentSlots) return;
  std::sort(recent_.begin(), recent_.end(), kByHash);
  const std::size_t middle = sorted_.size();
  sorted_.insert(sorted_.end(), recent_.begin(), recent_.end());
  std::inplace_merge(sorted_.begin(), sorted_.begin() + std::ptrdiff_t(middle), sorted_.end(), kByHash);
  recent_.clear();
}

void SeenKeys::Append(const std::string& bytes) {
  if (file_ >= 0 && !WriteAt(file_, bytes, end_)) {
    // No room on disk: what was written goes on in memory.
    spill_.resize(end_);
    if (!ReadAt(file_, spill_, 0)) throw std::runtime_error("the run's seen keys could not be read back");
    ::close(file_);
    file_ = -1;
  }
  if (file_ < 0) spill_ += bytes;
  end_ += bytes.size();
}

std::string SeenKeys::Bytes(std::uint64_t offset, std::uint64_t size) const {
  if (file_ < 0) return spill_.substr(offset, size);
  std::string bytes(size, '\0');
  if (!ReadAt(file_, bytes, offset)) throw std::runtime_error("the run's seen keys could not be read back");
  return bytes;
}

SeenKeys::Slot* SeenKeys::Find(const std::string& program) const {
  const std::uint64_t hash = HashOf(program);
  // By the code's length, not its NUL alone: a code may hold any byte.
  auto matches = [&](const Slot& slot) {
    return slot.hash == hash && codes_.size() - slot.code_at > program.size() &&
           codes_[slot.code_at + program.size()] == '\0' &&
           std::string_view(codes_).substr(slot.code_at, program.size()) == program;
  };
  const Slot key{hash};
  for (auto [it, end] = std::equal_range(sorted_.begin(), sorted_.end(), key, kByHash); it != end; ++it)
    if (matches(*it)) return &*it;
  for (Slot& slot : recent_)
    if (matches(slot)) return &slot;
  return nullptr;
}

std::size_t SeenKeys::HeldIn(const std::string& program) const {
  if (open_ && program == program_) {
    std::size_t held = 0;
    for (const auto& [key, h] : keys_) held += h == KeyHeld::Yes;
    return held;
  }
  const Slot* slot = Find(program);
  return slot ? slot->held : 0;
}

ProgramKeys SeenKeys::KeysOf(const std::string& program) const {
  ProgramKeys p;
  auto take = [&p](KeyHeld, std::string_view key) {
    p.keys.emplace(key);
    p.forms.emplace(FormOfKeyText(key));
  };
  if (open_ && program == program_) {
    for (const auto& [key, held] : keys_) take(held, key);
  } else if (const Slot* slot = Find(program)) {
    ForEachLine(Bytes(slot->lines_at, slot->lines_size), take);
  }
  return p;
}

bool ProgramKeys::Contains(const RecordKey& key) const { return keys.count(exchange::KeyText(key)) != 0; }

bool ProgramKeys::HasForm(const RecordKey& key) const {
  return forms.count(std::string(FormOfKeyText(exchange::KeyText(key)))) != 0;
}

Vanished FindVanished(const ServerChoice& server, const SeenKeys& seen, const run::Summary& summary,
                      const run::PathList& paths, const std::string& language, bool keep_list,
                      VanishedScope scope) {
  Vanished v;
  if (summary.outcome != run::Outcome::Completed || summary.files_read != summary.files_selected) {
    v.why_not = "a execução não leu todos os arquivos por inteiro";
    return v;
  }
  // The programs of the files read, in code order, packed: every code in
  // one block of text, each followed by a NUL, and sorted by its offset (a
  // code costs its letters and four bytes, not a string of its own).
  std::string codes;
  std::vector<std::uint32_t> read;
  read.reserve(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    read.push_back(std::uint32_t(codes.size()));
    codes += text::UpperAscii(ProgramCode(paths[i]));
    codes += '\0';
  }
  codes.shrink_to_fit();
  auto code = [&codes](std::uint32_t at) { return std::string_view(codes.c_str() + at); };
  std::sort(read.begin(), read.end(), [&](std::uint32_t a, std::uint32_t b) { return code(a) < code(b); });
  read.erase(std::unique(read.begin(), read.end(), [&](std::uint32_t a, std::uint32_t b) { return code(a) == code(b); }),
             read.end());
  read.shrink_to_fit();
  auto was_read = [&](const std::string& program) {
    const auto it = std::lower_bound(read.begin(), read.end(), std::string_view(program),
                                     [&](std::uint32_t at, std::string_view p) { return code(at) < p; });
    return it != read.end() && code(*it) == program;
  };
  ExchangeClient client(server);
  // Every record of the language, by program, from a coverage answer.
  auto records_of = [](const Packet& coverage) {
    std::map<std::string, double> records;
    for (const Row& r : coverage.rows)
      if (const auto* program = std::get_if<std::string>(&r.at(kCovProgram))) {
        const auto* total = std::get_if<double>(&r.at(kCovTotal));
        const auto* apart = std::get_if<double>(&r.at(kCovUntranslatable));
        records[*program] = (total ? *total : 0) + (apart ? *apart : 0);
      }
    return records;
  };
  std::vector<std::string> batch;  // programs whose records are read back, kMaxProgramsAsked at most
  std::unordered_map<std::string, ProgramKeys> keys;  // of the batch's programs, read back as their records come
  auto flush = [&] {
    if (batch.empty()) return;
    client.ForEachRecord({language, StateFilter::All, batch}, [&](const Row& r) {
      const RecordKey key = KeyOfRecord(r);
      auto it = keys.find(key.program);
      if (it == keys.end()) it = keys.emplace(key.program, seen.KeysOf(key.program)).first;
      const ProgramKeys& seen_keys = it->second;
      if (seen_keys.Contains(key)) return;
      ++v.count;
      if (!keep_list) return;
      const GoneWhy why = !was_read(key.program)                  ? GoneWhy::Program
                          : !seen_keys.HasForm(key)              ? GoneWhy::Form
                                                                  : GoneWhy::Text;
      v.records.push_back({key, RowText(r, kStAgrValProp),
                           std::holds_alternative<std::monostate>(r.at(kStAgrValProp)), why});
    });
    batch.clear();
    keys.clear();
  };
  // A program all of whose records the run left holding a record has none
  // vanished; the others are read back, in code order.
  auto judge = [&](const std::string& program, const std::map<std::string, double>& records) {
    const auto it = records.find(program);
    if (double(seen.HeldIn(program)) == (it == records.end() ? 0 : it->second)) return;
    batch.push_back(program);
    if (batch.size() == kMaxProgramsAsked) flush();
  };
  if (scope == VanishedScope::EveryProgram) {
    const std::map<std::string, double> records = records_of(client.Coverage(language));
    std::set<std::string> programs;
    for (std::uint32_t at : read) programs.emplace(code(at));
    for (const auto& [program, n] : records) programs.insert(program);
    v.programs = programs.size();
    for (const std::string& p : programs) judge(p, records);
  } else {
    // The run's programs' counts, kMaxProgramsAsked programs at a time: the
    // memory of a batch, whatever the tree's size. Counting is the server's
    // walk over every record of the programs asked, most of this pass, so
    // kCountsAtOnce batches are asked at once, each on a connection of its
    // own (the server reads them on as many read connections), and judged in
    // code order as their answers come.
    v.programs = read.size();
    struct Asked {
      std::vector<std::string> programs;
      std::future<Packet> coverage;
    };
    std::vector<std::unique_ptr<ExchangeClient>> counters;
    for (std::size_t k = 0; k < kCountsAtOnce; ++k) counters.push_back(std::make_unique<ExchangeClient>(server));
    std::deque<Asked> out;  // in code order
    std::size_t asked = 0;
    auto it = read.begin();
    auto ask = [&] {
      Asked a;
      for (; it != read.end() && a.programs.size() < kMaxProgramsAsked; ++it) a.programs.emplace_back(code(*it));
      ExchangeClient& counter = *counters[asked++ % kCountsAtOnce];
      a.coverage = std::async(std::launch::async, [&counter, &language, programs = a.programs] {
        return counter.Coverage(language, programs);
      });
      out.push_back(std::move(a));
    };
    while (it != read.end() || !out.empty()) {
      while (it != read.end() && out.size() < kCountsAtOnce) ask();
      Asked a = std::move(out.front());
      out.pop_front();
      const std::map<std::string, double> records = records_of(a.coverage.get());
      for (const std::string& p : a.programs) judge(p, records);
    }
  }
  flush();
  v.computed = true;
  return v;
}

void PrintVanished(std::ostream& out, const Vanished& v, bool list) {
  if (!v.computed) {
    out << "Sumidos: não verificados (" << v.why_not << ")\n";
    return;
  }
  out << "Sumidos: " << v.count << "\n";
  if (!list) return;
  for (const VanishedRecord& r : v.records) {
    nlohmann::json source = r.source;
    out << "  " << exchange::KeyText(r.key) << " " << source.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
        << "\n";
  }
}

void AddVanished(nlohmann::ordered_json& j, const Vanished& v, bool list) {
  j["vanished"] = v.computed ? nlohmann::ordered_json(v.count) : nlohmann::ordered_json(nullptr);
  if (!v.computed) j["vanished_not_checked"] = v.why_not;
  j["vanished_seconds"] = std::round(v.seconds * 1000) / 1000;
  if (!list || !v.computed) return;
  auto a = nlohmann::ordered_json::array();
  for (const VanishedRecord& r : v.records) a.push_back({{"key", exchange::KeyText(r.key)}, {"source", r.source}});
  j["vanished_records"] = std::move(a);
}

}  // namespace trd::cli
