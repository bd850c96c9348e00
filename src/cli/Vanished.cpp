#include "Vanished.h"

#include <cmath>
#include <map>
#include <set>

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
  // them) whose rows start with the key (protocol/RecordBatch.h); the answer
  // an outcome per text, in the same order.
  void NoteBatch(const wire::Request& r, const Value& answer) {
    if (r.args.size() != 2) return;
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
std::string FormText(const std::string& program, const std::string& form) { return program + '\x1f' + form; }
}  // namespace

void SeenKeys::Note(const RecordKey& key, KeyHeld held) {
  auto [it, fresh] = keys_.try_emplace(exchange::KeyText(key), held);
  if (fresh) forms_.insert(FormText(key.program, key.form));
  if (held == KeyHeld::Yes && (fresh || it->second != KeyHeld::Yes)) {
    it->second = KeyHeld::Yes;
    ++held_[key.program];
  }
}

std::size_t SeenKeys::HeldIn(const std::string& program) const {
  const auto it = held_.find(program);
  return it == held_.end() ? 0 : it->second;
}

bool SeenKeys::HasForm(const std::string& program, const std::string& form) const {
  return forms_.count(FormText(program, form)) != 0;
}

bool SeenKeys::Contains(const RecordKey& key) const { return keys_.count(exchange::KeyText(key)) != 0; }

Vanished FindVanished(const ServerChoice& server, const SeenKeys& seen, const run::Summary& summary,
                      const std::vector<std::string>& paths, const std::string& language, bool keep_list,
                      VanishedScope scope) {
  Vanished v;
  if (summary.outcome != run::Outcome::Completed || summary.files_read != summary.files_selected) {
    v.why_not = "a execução não leu todos os arquivos por inteiro";
    return v;
  }
  std::set<std::string> read;  // the programs of the files read
  for (const std::string& p : paths) read.insert(text::UpperAscii(ProgramCode(p)));
  ExchangeClient client(server);
  std::set<std::string> programs = read;
  std::map<std::string, double> records;  // by program, every record of the language
  for (const Row& r : client.Coverage(language).rows)
    if (const auto* program = std::get_if<std::string>(&r.at(kCovProgram))) {
      const auto* total = std::get_if<double>(&r.at(kCovTotal));
      const auto* apart = std::get_if<double>(&r.at(kCovUntranslatable));
      records[*program] = (total ? *total : 0) + (apart ? *apart : 0);
      if (scope == VanishedScope::EveryProgram) programs.insert(*program);
    }
  v.programs = programs.size();
  // The server takes up to 100 program codes at once.
  std::vector<std::string> batch;
  auto flush = [&] {
    if (batch.empty()) return;
    client.ForEachRecord({language, StateFilter::All, batch}, [&](const Row& r) {
      const RecordKey key = KeyOfRecord(r);
      if (seen.Contains(key)) return;
      ++v.count;
      if (!keep_list) return;
      const GoneWhy why = !read.count(key.program)                ? GoneWhy::Program
                          : !seen.HasForm(key.program, key.form) ? GoneWhy::Form
                                                                  : GoneWhy::Text;
      v.records.push_back({key, RowText(r, kStAgrValProp),
                           std::holds_alternative<std::monostate>(r.at(kStAgrValProp)), why});
    });
    batch.clear();
  };
  for (const std::string& p : programs) {
    // Every record of the program is one the run left holding a record:
    // none vanished.
    const auto it = records.find(p);
    if (double(seen.HeldIn(p)) == (it == records.end() ? 0 : it->second)) continue;
    batch.push_back(p);
    if (batch.size() == 100) flush();
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
