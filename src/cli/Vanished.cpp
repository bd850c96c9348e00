#include "Vanished.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <stdexcept>
#include <string_view>

#include "ExchangeClient.h"
#include "ExchangeRows.h"
#include "exchange/KeyText.h"
#include "platform/Text.h"
#include "protocol/Methods.h"
#include "protocol/RecordBatch.h"
#include "server/Arguments.h"
#include "store/RecordRule.h"

namespace trd::cli {
namespace {

using namespace protocol;

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
      seen_.Note(RecordKey{*t[0], *t[1], *t[2], *t[3], *number, *language}, held);
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

// An unnamed file in TMPDIR (else /tmp), gone when closed; -1 when none can
// be made.
int OpenTemporary() {
  const char* env = std::getenv("TMPDIR");
  const std::string dir = env && *env ? env : "/tmp";
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string name = dir + "/trd-keys-XXXXXX";
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

bool WriteAll(int fd, const std::string& bytes, std::uint64_t at) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, off_t(at + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += std::size_t(n);
  }
  return true;
}

bool ReadAll(int fd, std::string& bytes, std::uint64_t at) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, off_t(at + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += std::size_t(n);
  }
  return true;
}

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
  if (const auto it = stored_.find(program); it != stored_.end())
    ForEachLine(Lines(it->second), [&](KeyHeld held, std::string_view key) { keys_.emplace(key, held); });
}

void SeenKeys::Close() {
  if (!open_) return;
  open_ = false;
  if (keys_.empty()) return;
  std::string lines;
  Stored at;
  for (const auto& [key, held] : keys_) {
    lines += held == KeyHeld::Yes ? '1' : '0';
    lines += key;
    lines += '\n';
    if (held == KeyHeld::Yes) ++at.held;
  }
  keys_.clear();
  if (file_ >= 0 && !WriteAll(file_, lines, end_)) {
    // No room on disk: what was written goes on in memory.
    spill_.resize(end_);
    if (!ReadAll(file_, spill_, 0)) throw std::runtime_error("the run's seen keys could not be read back");
    ::close(file_);
    file_ = -1;
  }
  if (file_ < 0) spill_ += lines;
  at.offset = end_;
  at.size = lines.size();
  end_ += lines.size();
  stored_[program_] = at;  // a program noted again replaces its earlier lines
}

std::string SeenKeys::Lines(const Stored& at) const {
  if (file_ < 0) return spill_.substr(at.offset, at.size);
  std::string lines(at.size, '\0');
  if (!ReadAll(file_, lines, at.offset)) throw std::runtime_error("the run's seen keys could not be read back");
  return lines;
}

std::size_t SeenKeys::HeldIn(const std::string& program) const {
  if (open_ && program == program_) {
    std::size_t held = 0;
    for (const auto& [key, h] : keys_) held += h == KeyHeld::Yes;
    return held;
  }
  const auto it = stored_.find(program);
  return it == stored_.end() ? 0 : it->second.held;
}

ProgramKeys SeenKeys::KeysOf(const std::string& program) const {
  ProgramKeys p;
  auto take = [&p](KeyHeld, std::string_view key) {
    p.keys.emplace(key);
    p.forms.emplace(FormOfKeyText(key));
  };
  if (open_ && program == program_) {
    for (const auto& [key, held] : keys_) take(held, key);
  } else if (const auto it = stored_.find(program); it != stored_.end()) {
    ForEachLine(Lines(it->second), take);
  }
  return p;
}

bool ProgramKeys::Contains(const RecordKey& key) const { return keys.count(exchange::KeyText(key)) != 0; }

bool ProgramKeys::HasForm(const RecordKey& key) const {
  return forms.count(std::string(FormOfKeyText(exchange::KeyText(key)))) != 0;
}

Vanished FindVanished(const ServerChoice& server, const SeenKeys& seen, const run::Summary& summary,
                      const std::vector<std::string>& paths, const std::string& language, bool keep_list,
                      VanishedScope scope) {
  Vanished v;
  if (summary.outcome != run::Outcome::Completed || summary.files_read != summary.files_selected) {
    v.why_not = "a execução não leu todos os arquivos por inteiro";
    return v;
  }
  // The programs of the files read, in code order: a sorted vector, a
  // program code held in the string itself (no node, no second block).
  std::vector<std::string> read;
  read.reserve(paths.size());
  for (const std::string& p : paths) read.push_back(text::UpperAscii(ProgramCode(p)));
  std::sort(read.begin(), read.end());
  read.erase(std::unique(read.begin(), read.end()), read.end());
  read.shrink_to_fit();
  auto was_read = [&read](const std::string& program) { return std::binary_search(read.begin(), read.end(), program); };
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
    std::set<std::string> programs(read.begin(), read.end());
    for (const auto& [program, n] : records) programs.insert(program);
    v.programs = programs.size();
    for (const std::string& p : programs) judge(p, records);
  } else {
    // The run's programs' counts, kMaxProgramsAsked programs at a time: the
    // memory of a batch, whatever the tree's size.
    v.programs = read.size();
    std::vector<std::string> asked;
    for (auto it = read.begin(); it != read.end();) {
      asked.clear();
      for (; it != read.end() && asked.size() < kMaxProgramsAsked; ++it) asked.push_back(*it);
      const std::map<std::string, double> records = records_of(client.Coverage(language, asked));
      for (const std::string& p : asked) judge(p, records);
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
