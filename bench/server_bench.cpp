// The translation server's costs, side by side in one run:
//   Echo          POST /echo round trip of a look-up-sized body: the floor the
//                 HTTP stack sets
//   LookupHit     GetPropried of a stored record (encode, HTTP, decode)
//   LookupVsEcho  the two above alternated, with their ratio
//   NewRecord     the path of a text seen for the first time: GetPropried
//                 (miss), GetVerProp, SetPropried (insert), GetUpdRelDfm
//   ServiceLookup the server's own work for LookupHit, in process, no HTTP
//   BareStatement the prepared SQLite statement behind the look-up alone
// The HTTP cases share one kept-alive loopback connection to a `trd serve`
// child on a SQLite file seeded with kSeeded records.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include "../tests/support/ServerProcess.h"
#include "platform/Wire.h"
#include "protocol/Methods.h"
#include "server/Schema.h"
#include "server/Service.h"

namespace {

using namespace trd;
using protocol::kModuleForms;
using protocol::kModuleTranslations;

constexpr int kSeeded = 20000;

Row Record(int i, std::string_view language = "POR") {
  std::string text = "Texto do componente número " + std::to_string(i);
  return {std::string("CADASTRO"),
          std::string("FRMCADASTRO"),
          "COMPONENTE" + std::to_string(i % 500),
          std::string(i % 2 ? "Caption" : "Hint"),
          double(i / 500),
          std::string("N"),
          text,
          text,
          DateTime::FromParts(2024, 5, 1, 10),
          std::string(language)};
}

std::string Text(const FieldValue& v) { return std::get<std::string>(v); }

std::vector<Value> LookupArgs(const Row& r) {
  return {Text(r[0]), Text(r[1]), Text(r[2]), Text(r[3]), std::to_string(std::int64_t(std::get<double>(r[4]))),
          Text(r[7]), Text(r[9])};
}

std::string Encode(std::string_view module, std::string_view method, std::vector<Value> args) {
  return wire::EncodeRequest({std::string(module), std::string(method), std::move(args)});
}

struct Fixture {
  test::ServerProcess server;
  httplib::Client client{server.Host(), server.Port()};

  Fixture() {
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    for (int first = 0; first < kSeeded; first += 1000) {
      ChangeSet cs{server::TranslationTable().fields, {}};
      for (int i = first; i < first + 1000 && i < kSeeded; ++i)
        cs.changes.push_back(Change{ChangeKind::Insert, {}, Record(i)});
      Value v = Post(Encode(kModuleForms, "SetPropried", {cs}));
      if (std::holds_alternative<ServerFailure>(v))
        throw std::runtime_error("seeding failed: " + std::get<ServerFailure>(v).message);
    }
  }

  Value Post(const std::string& body) {
    auto res = client.Post("/call", body, "application/json");
    if (!res) throw std::runtime_error("the server did not answer");
    return wire::DecodeResponse(res->body);
  }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

std::size_t Rows(const Value& v) {
  if (const auto* p = std::get_if<Packet>(&v)) return p->rows.size();
  throw std::runtime_error(std::holds_alternative<ServerFailure>(v) ? std::get<ServerFailure>(v).message
                                                                    : "not a packet");
}

void Echo(benchmark::State& state) {
  auto& f = Shared();
  const std::string body = Encode(kModuleForms, "GetPropried", LookupArgs(Record(1234)));
  for (auto _ : state) {
    auto res = f.client.Post("/echo", body, "application/json");
    if (!res || res->body.size() != body.size()) state.SkipWithError("echo failed");
  }
  state.SetItemsProcessed(state.iterations());
}

void LookupHit(benchmark::State& state) {
  auto& f = Shared();
  int i = 0;
  for (auto _ : state) {
    Value v = f.Post(Encode(kModuleForms, "GetPropried", LookupArgs(Record(i))));
    if (Rows(v) != 1) state.SkipWithError("look-up missed");
    i = (i + 7919) % kSeeded;
  }
  state.SetItemsProcessed(state.iterations());
}

// Echo and look-up alternated in one loop, each timed on its own: their ratio
// holds even while other work on the machine comes and goes.
void LookupVsEcho(benchmark::State& state) {
  auto& f = Shared();
  using Clock = std::chrono::steady_clock;
  Clock::duration echo{}, lookup{};
  int i = 0;
  for (auto _ : state) {
    std::string body = Encode(kModuleForms, "GetPropried", LookupArgs(Record(i)));
    auto t0 = Clock::now();
    auto res = f.client.Post("/echo", body, "application/json");
    auto t1 = Clock::now();
    Value v = f.Post(body);
    auto t2 = Clock::now();
    if (!res || Rows(v) != 1) state.SkipWithError("echo or look-up failed");
    echo += t1 - t0;
    lookup += t2 - t1;
    i = (i + 7919) % kSeeded;
  }
  using us = std::chrono::duration<double, std::micro>;
  const double n = double(state.iterations());
  state.counters["echo_us"] = us(echo).count() / n;
  state.counters["lookup_us"] = us(lookup).count() / n;
  state.counters["ratio"] = us(lookup).count() / us(echo).count();
}

void NewRecord(benchmark::State& state) {
  auto& f = Shared();
  static int next = kSeeded;
  for (auto _ : state) {
    Row r = Record(next++, "ENG");
    std::vector<Value> args = LookupArgs(r);
    if (Rows(f.Post(Encode(kModuleForms, "GetPropried", args))) != 0) state.SkipWithError("unexpected hit");
    args.erase(args.begin() + 5);  // by key: no value
    if (Rows(f.Post(Encode(kModuleForms, "GetVerProp", args))) != 0) state.SkipWithError("unexpected record");
    ChangeSet cs{server::TranslationTable().fields, {Change{ChangeKind::Insert, {}, r}}};
    if (!std::holds_alternative<std::monostate>(f.Post(Encode(kModuleForms, "SetPropried", {cs}))))
      state.SkipWithError("insert failed");
    Rows(f.Post(Encode(kModuleTranslations, "GetUpdRelDfm", {Text(r[7]), Text(r[9])})));
  }
  state.SetItemsProcessed(state.iterations());
}

void ServiceLookup(benchmark::State& state) {
  auto& f = Shared();
  auto service = server::Service::Open(f.server.DatabasePath());
  std::vector<std::string> bodies;  // encoding the request is the client's work
  for (int i = 0; i < kSeeded; ++i) bodies.push_back(Encode(kModuleForms, "GetPropried", LookupArgs(Record(i))));
  int i = 0;
  for (auto _ : state) {
    std::string response = service->Handle(bodies[std::size_t(i)]);
    benchmark::DoNotOptimize(response);
    i = (i + 7919) % kSeeded;
  }
  state.SetItemsProcessed(state.iterations());
}

void BareStatement(benchmark::State& state) {
  auto& f = Shared();
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(f.server.DatabasePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    state.SkipWithError("cannot open the database");
    return;
  }
  const std::string& sql = server::sql::RecordsOfKeyAndSource();
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &stmt, nullptr);
  std::vector<Row> records;
  for (int i = 0; i < kSeeded; ++i) records.push_back(Record(i));
  int i = 0;
  for (auto _ : state) {
    const Row& r = records[std::size_t(i)];
    const std::string& program = std::get<std::string>(r[0]);
    const std::string& form = std::get<std::string>(r[1]);
    const std::string& component = std::get<std::string>(r[2]);
    const std::string& property = std::get<std::string>(r[3]);
    const std::string& source = std::get<std::string>(r[7]);
    const std::string& language = std::get<std::string>(r[9]);
    sqlite3_bind_text(stmt, 1, program.c_str(), int(program.size()), SQLITE_STATIC);
    sqlite3_bind_text(stmt, 2, form.c_str(), int(form.size()), SQLITE_STATIC);
    sqlite3_bind_text(stmt, 3, component.c_str(), int(component.size()), SQLITE_STATIC);
    sqlite3_bind_text(stmt, 4, property.c_str(), int(property.size()), SQLITE_STATIC);
    sqlite3_bind_double(stmt, 5, std::get<double>(r[4]));
    sqlite3_bind_text(stmt, 6, language.c_str(), int(language.size()), SQLITE_STATIC);
    sqlite3_bind_text(stmt, 7, source.c_str(), int(source.size()), SQLITE_STATIC);
    int rows = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      ++rows;
      for (int c = 0; c < 10; ++c) benchmark::DoNotOptimize(sqlite3_column_text(stmt, c));
    }
    sqlite3_reset(stmt);
    if (rows != 1) state.SkipWithError("bare look-up missed");
    i = (i + 7919) % kSeeded;
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(Echo)->UseRealTime();
BENCHMARK(LookupHit)->UseRealTime();
BENCHMARK(LookupVsEcho)->UseRealTime();
BENCHMARK(NewRecord)->UseRealTime();
BENCHMARK(ServiceLookup)->UseRealTime();
BENCHMARK(BareStatement)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
