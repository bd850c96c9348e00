// N clients harvesting at once against one `trd serve` child: each client is
// a thread with its own kept-alive HTTP connections (the client's transport,
// one per data module, as a run has), storing M texts with the call sequence
// of a text seen for the first time:
//   GetPropried (miss), GetVerProp, SetVerProp (delete, when the key holds an
//   older text: every tenth key is seeded with one), SetPropried (insert of
//   one record), GetUpdRelDfm.
// Cases, each for N = 1, 2, 4, 8 (Echo also 16):
//   Echo/N      POST /echo round trips of a look-up-sized body by N threads:
//               the floor the HTTP stack sets, measured in the same run
//   Disjoint/N  every client its own keys (people harvesting different trees)
//   Shared/N    every client the same keys in the same order (the same tree):
//               clients race to delete and insert the same key
//   Crowd/I/N   Disjoint/N while I further connections are open, kept alive
//               and idle (each made one request first), as a team's open
//               screens leave them: I = 0 and 1000, N = 16. Counters besides
//               those below: max_us (the slowest call), rss_before_mib and
//               rss_mib (the server's resident memory before and after the
//               idle connections opened, before the clients start),
//               peak_rss_mib (the server's peak so far, VmHWM). Compare
//               p50/p99 with Echo/16.
//   Servers/S/N Disjoint/N with the clients spread over S `trd serve` on
//               the one database (client c to server c mod S): S = 1 and 2,
//               N = 8; what a second server behind a load balancer gives
//               (run with TRD_BENCH_DB set to PostgreSQL for a team's case).
// Counters: texts_per_s (all clients' texts over the wall time),
// calls_per_s, p50_us / p99_us over every call, insert_p50_us /
// insert_p99_us over SetPropried alone (with the re-read and resend after a
// lost race), dup_key (inserts refused: the key exists) and no_record
// (deletes refused: the key is gone), the lost races, which the store's
// answer (store::RecordRace, as in a harvest run) takes as sent when the
// table holds what the change meant; errors (failures left after that, any
// call; a run would end on the first), and, read from the database
// afterwards, duplicates (keys stored more than once: must be 0), missing
// (keys of the case without a record: 0 when every text was stored by some
// client).
//
// TRD_BENCH_DB: the server's --db (default a fresh SQLite file in a temporary
// directory); keys carry a run tag so that a database that persists
// (PostgreSQL) can be used again. TRD_BENCH_TEXTS: M (default 2000).
// TRD_BENCH_SERVER: the trd executable that serves (default the one built
// beside this benchmark), to measure another build against the same clients.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "../tests/support/RawHttp.h"
#include "../tests/support/ServerProcess.h"
#include "platform/Connection.h"
#include "platform/Wire.h"
#include "protocol/Methods.h"
#include "protocol/Record.h"
#include "server/Database.h"
#include "store/Record.h"
#include "store/Store.h"

namespace {

using namespace trd;
using Clock = std::chrono::steady_clock;

int TextsPerClient() {
  const char* env = std::getenv("TRD_BENCH_TEXTS");
  return env && std::atoi(env) > 0 ? std::atoi(env) : 2000;
}

struct Fixture {
  std::string db_url;  // for reading the table afterwards
  std::unique_ptr<test::ServerProcess> server;
  std::unique_ptr<test::ServerProcess> second;  // started by the first case that needs it
  std::string tag;  // keeps the keys of this run apart from earlier runs'

  Fixture() {
    const char* env = std::getenv("TRD_BENCH_DB");
    test::ServerProcessOptions options;
    if (env && *env) options.db = env;
    if (const char* exe = std::getenv("TRD_BENCH_SERVER"); exe && *exe) options.exe = exe;
    server = std::make_unique<test::ServerProcess>(options);
    db_url = server->DatabasePath();
    tag = std::to_string(getpid() % 100000);
  }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

enum class Keys { Disjoint, Shared };

// The key and text of text `i` of client `client` in a case.
struct Text {
  std::string program;
  std::string component;
  int number;
  std::string value;
};

Text TextOf(const std::string& program, Keys keys, int client, int i) {
  const std::string owner = keys == Keys::Disjoint ? "c" + std::to_string(client) + "_" : "";
  return {program, owner + "lbl" + std::to_string(i / 50), i % 50,
          "Texto de teste " + std::to_string(i) + " do componente " + owner + std::to_string(i / 50)};
}

Row RecordRow(const Text& t, const std::string& value) {
  return {t.program,        std::string("frmBench"), t.component, std::string("Caption"),
          double(t.number), std::string("N"),        value,       value,
          DateTime::Now(),  std::string("POR")};
}

std::vector<Value> KeyArgs(const Text& t) {
  return {t.program,         std::string("frmBench"), t.component, std::string("Caption"), std::to_string(t.number),
          std::string("POR")};
}

// A field of /proc/PID/status ("VmRSS", "VmHWM") in MiB; 0 when unknown.
double StatusMib(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with(field + ":")) return std::atof(line.c_str() + field.size() + 1) / 1024.0;  // kB
  return 0;
}

struct ClientLog {
  std::vector<float> call_us;    // every call
  std::vector<float> insert_us;  // SetPropried
  long errors = 0;
  long dup_key = 0;
  long no_record = 0;
  std::string first_error;  // "METHOD: message"
};

// One call, timed. A failure is counted by kind; a refused record change
// then goes through the store's answer to lost races (store::RecordRace,
// which a harvest run uses), and only a failure that is left counts as an
// error and returns false.
bool Timed(Connection& c, std::string_view method, std::vector<Value> args, ClientLog& log, Value* out = nullptr,
           const store::SendAnswer* race = nullptr) {
  auto t0 = Clock::now();
  Value v;
  try {
    v = c.Call(method, args);
    if (const auto* f = std::get_if<ServerFailure>(&v)) {
      if (f->message.find("duplicate key") != std::string::npos) ++log.dup_key;
      if (f->message.find("no record of key") != std::string::npos) ++log.no_record;
      if (race) v = (*race)(method, std::get<ChangeSet>(args.front()), std::move(v));
    }
  } catch (const std::exception& e) {
    v = ServerFailure{e.what()};
  }
  const float us = std::chrono::duration<float, std::micro>(Clock::now() - t0).count();
  log.call_us.push_back(us);
  if (method == "SetPropried") log.insert_us.push_back(us);
  if (const auto* f = std::get_if<ServerFailure>(&v)) {
    if (!log.errors) log.first_error = std::string(method) + ": " + f->message;
    ++log.errors;
    return false;
  }
  if (out) *out = std::move(v);
  return true;
}

void Client(const test::ServerProcess& server, const std::string& program, Keys keys, int client, int texts,
            std::barrier<>& start, ClientLog& log) {
  Connection forms("NetTradRelDfm", std::string(protocol::kModuleForms));
  Connection translations("netUpdRelDfm", std::string(protocol::kModuleTranslations));
  for (Connection* c : {&forms, &translations}) {
    c->host = server.Host();
    c->port = server.Port();
    c->Open();
  }
  store::RunStats stats;
  const shared::Services services;
  const store::SendAnswer race = store::RecordRace(services, forms, "GetVerProp", stats);
  log.call_us.reserve(std::size_t(texts) * 5);
  log.insert_us.reserve(std::size_t(texts));
  start.arrive_and_wait();
  for (int i = 0; i < texts; ++i) {
    const Text t = TextOf(program, keys, client, i);
    std::vector<Value> by_value = KeyArgs(t);
    by_value.insert(by_value.begin() + 5, t.value);
    Value found;
    if (!Timed(forms, "GetPropried", by_value, log, &found)) continue;
    if (const auto* p = std::get_if<Packet>(&found); p && !p->rows.empty()) continue;  // stored already
    Value old;
    if (!Timed(forms, "GetVerProp", KeyArgs(t), log, &old)) continue;
    if (const auto* p = std::get_if<Packet>(&old); p && !p->rows.empty()) {
      ChangeSet del{protocol::RecordFields(), {Change{ChangeKind::Delete, p->rows.front(), {}}}};
      Timed(forms, "SetVerProp", {Value(std::move(del))}, log, nullptr, &race);
    }
    ChangeSet ins{protocol::RecordFields(), {Change{ChangeKind::Insert, {}, RecordRow(t, t.value)}}};
    if (!Timed(forms, "SetPropried", {Value(std::move(ins))}, log, nullptr, &race)) continue;
    Timed(translations, "GetUpdRelDfm", {t.value, std::string("POR")}, log);
  }
}

float Percentile(std::vector<float>& v, double p) {
  if (v.empty()) return 0;
  auto at = v.begin() + std::ptrdiff_t(double(v.size() - 1) * p);
  std::nth_element(v.begin(), at, v.end());
  return *at;
}

// Every tenth key of the case holds an older text, as a tree harvested
// before holds for the texts that changed since.
void SeedOlderTexts(const test::ServerProcess& server, const std::string& program, Keys keys, int clients, int texts) {
  Connection c("seed", std::string(protocol::kModuleForms));
  c.host = server.Host();
  c.port = server.Port();
  ChangeSet cs{protocol::RecordFields(), {}};
  for (int client = 0; client < (keys == Keys::Shared ? 1 : clients); ++client)
    for (int i = 0; i < texts; i += 10) {
      Text t = TextOf(program, keys, client, i);
      cs.changes.push_back(Change{ChangeKind::Insert, {}, RecordRow(t, "Texto antigo")});
    }
  Value v = c.Call("SetPropried", {Value(std::move(cs))});
  if (const auto* f = std::get_if<ServerFailure>(&v)) throw std::runtime_error("seeding failed: " + f->message);
}

// Keys of `program` stored more than once, and the number of records.
std::pair<long, long> Audit(const std::string& db_url, const std::string& program) {
  auto db = server::OpenDatabase(db_url);
  auto session = db->Acquire();
  static const std::vector<FieldType> kKey{FieldType::String, FieldType::String, FieldType::Float};
  const FieldValue p[] = {program};
  std::vector<Row> rows = session->Query(
      "SELECT NMCOMPONENTE, NMPROPRIEDADE, NRVALORPROP FROM TRDPROPRIEDADE WHERE CDPROGRAMA = ? AND IDIDIOMA = 'POR' "
      "ORDER BY NMCOMPONENTE, NMPROPRIEDADE, NRVALORPROP",
      p, kKey);
  long duplicates = 0;
  for (std::size_t i = 1; i < rows.size(); ++i) duplicates += rows[i] == rows[i - 1];
  return {duplicates, long(rows.size())};
}

// The second server, on the first one's database.
const test::ServerProcess& Second(Fixture& f) {
  if (!f.second) {
    test::ServerProcessOptions options;
    options.db = f.db_url;
    if (const char* exe = std::getenv("TRD_BENCH_SERVER"); exe && *exe) options.exe = exe;
    f.second = std::make_unique<test::ServerProcess>(options);
  }
  return *f.second;
}

void Harvesting(benchmark::State& state, Keys keys, int clients, int idle = 0, int servers = 1) {
  Fixture& f = Shared();
  const int texts = TextsPerClient();
  static int case_number = 0;
  const std::string program = "B" + f.tag + (keys == Keys::Shared ? "S" : "D") + std::to_string(++case_number);
  SeedOlderTexts(*f.server, program, keys, clients, texts);

  // Idle kept-alive connections: each makes one request, then waits.
  const double rss_before_mib = StatusMib(f.server->Pid(), "VmRSS");
  std::vector<std::unique_ptr<test::RawHttp>> crowd;
  long crowd_errors = 0;
  for (int i = 0; i < idle; ++i) {
    crowd.push_back(std::make_unique<test::RawHttp>(f.server->Port()));
    if (!crowd.back()->Send(test::RawHttp::Post("/echo", "idle")) ||
        crowd.back()->Read(std::chrono::seconds(10)).status != 200)
      ++crowd_errors;
  }
  const double rss_mib = StatusMib(f.server->Pid(), "VmRSS");

  auto logs = std::vector<ClientLog>(std::size_t(clients));
  double wall = 0;
  for (auto _ : state) {
    std::barrier<> start(clients + 1);
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
      threads.emplace_back(Client, std::cref(c % servers == 0 ? *f.server : Second(f)), std::cref(program), keys, c,
                           texts, std::ref(start), std::ref(logs[std::size_t(c)]));
    start.arrive_and_wait();
    auto t0 = Clock::now();
    for (std::thread& t : threads) t.join();
    wall = std::chrono::duration<double>(Clock::now() - t0).count();
    state.SetIterationTime(wall);
  }

  ClientLog all;
  for (ClientLog& l : logs) {
    all.call_us.insert(all.call_us.end(), l.call_us.begin(), l.call_us.end());
    all.insert_us.insert(all.insert_us.end(), l.insert_us.begin(), l.insert_us.end());
    all.errors += l.errors;
    all.dup_key += l.dup_key;
    all.no_record += l.no_record;
    if (all.first_error.empty()) all.first_error = l.first_error;
  }
  if (!all.first_error.empty()) state.SetLabel("first error: " + all.first_error);
  const auto [duplicates, records] = Audit(f.db_url, program);
  const long expected = keys == Keys::Shared ? texts : long(clients) * texts;
  // The idle connections were kept alive all along.
  for (auto& c : crowd)
    if (!c->Send(test::RawHttp::Post("/echo", "idle")) || c->Read(std::chrono::seconds(10)).status != 200)
      ++crowd_errors;
  state.counters["clients"] = clients;
  state.counters["servers"] = servers;
  state.counters["idle"] = idle;
  state.counters["idle_errors"] = double(crowd_errors);
  state.counters["rss_before_mib"] = rss_before_mib;
  state.counters["rss_mib"] = rss_mib;
  state.counters["peak_rss_mib"] = StatusMib(f.server->Pid(), "VmHWM");
  state.counters["max_us"] = all.call_us.empty() ? 0 : *std::max_element(all.call_us.begin(), all.call_us.end());
  state.counters["texts"] = double(clients) * texts;
  state.counters["texts_per_s"] = double(clients) * texts / wall;
  state.counters["calls_per_s"] = double(all.call_us.size()) / wall;
  state.counters["p50_us"] = Percentile(all.call_us, 0.50);
  state.counters["p99_us"] = Percentile(all.call_us, 0.99);
  state.counters["insert_p50_us"] = Percentile(all.insert_us, 0.50);
  state.counters["insert_p99_us"] = Percentile(all.insert_us, 0.99);
  state.counters["errors"] = double(all.errors);
  state.counters["dup_key"] = double(all.dup_key);
  state.counters["no_record"] = double(all.no_record);
  state.counters["duplicates"] = double(duplicates);
  state.counters["missing"] = double(expected - records);
}

void Disjoint(benchmark::State& state) { Harvesting(state, Keys::Disjoint, int(state.range(0))); }
void SharedKeys(benchmark::State& state) { Harvesting(state, Keys::Shared, int(state.range(0))); }
void Servers(benchmark::State& state) {
  Harvesting(state, Keys::Disjoint, int(state.range(1)), 0, int(state.range(0)));
}

void Crowd(benchmark::State& state) {
  // Each idle connection is a descriptor here as well as in the server.
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  Harvesting(state, Keys::Disjoint, int(state.range(1)), int(state.range(0)));
}

// N threads, each on its own kept-alive connection, echoing a look-up body
// as often as a client of the cases above calls.
void Echo(benchmark::State& state) {
  Fixture& f = Shared();
  const int clients = int(state.range(0));
  const int calls = TextsPerClient() * 4;
  const std::string body = wire::EncodeRequest(
      {std::string(protocol::kModuleForms),
       "GetPropried",
       {std::string("PROGRAMA"), std::string("frmBench"), std::string("lbl1"), std::string("Caption"), std::string("0"),
        std::string("Texto de teste 1 do componente 1"), std::string("POR")}});
  auto logs = std::vector<std::vector<float>>(std::size_t(clients));
  std::atomic<long> errors{0};
  double wall = 0;
  for (auto _ : state) {
    std::barrier<> start(clients + 1);
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
      threads.emplace_back([&, c] {
        httplib::Client client(f.server->Host(), f.server->Port());
        client.set_keep_alive(true);
        client.set_tcp_nodelay(true);
        std::vector<float>& log = logs[std::size_t(c)];
        log.reserve(std::size_t(calls));
        start.arrive_and_wait();
        for (int i = 0; i < calls; ++i) {
          auto t0 = Clock::now();
          auto res = client.Post("/echo", body, "application/json");
          log.push_back(std::chrono::duration<float, std::micro>(Clock::now() - t0).count());
          if (!res || res->body.size() != body.size()) ++errors;
        }
      });
    start.arrive_and_wait();
    auto t0 = Clock::now();
    for (std::thread& t : threads) t.join();
    wall = std::chrono::duration<double>(Clock::now() - t0).count();
    state.SetIterationTime(wall);
  }
  std::vector<float> all;
  for (auto& l : logs) all.insert(all.end(), l.begin(), l.end());
  state.counters["clients"] = clients;
  state.counters["calls_per_s"] = double(all.size()) / wall;
  state.counters["p50_us"] = Percentile(all, 0.50);
  state.counters["p99_us"] = Percentile(all, 0.99);
  state.counters["errors"] = double(errors);
}

BENCHMARK(Echo)->ArgName("clients")->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(16)->Iterations(1)->UseManualTime()->Unit(
    benchmark::kMillisecond);
BENCHMARK(Disjoint)->ArgName("clients")->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Iterations(1)->UseManualTime()->Unit(
    benchmark::kMillisecond);
BENCHMARK(SharedKeys)
    ->ArgName("clients")
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Crowd)
    ->ArgNames({"idle", "clients"})
    ->Args({0, 16})
    ->Args({1000, 16})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK(Servers)
    ->ArgNames({"servers", "clients"})
    ->Args({1, 8})
    ->Args({2, 8})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
