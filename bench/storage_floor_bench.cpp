// How close a harvest comes to what the storage itself can do, on a
// generated tree (BenchHarvest.h; TRD_FLOOR_FILES files, default 2,000: some
// 100,000 records):
//   insert floor  the rows a first harvest stored, inserted again into a
//                 fresh database with the server's own schema and indexes
//                 by one connection in one transaction, one prepared
//                 statement (SQLite's C interface, nothing of ours between)
//   read floor    one read of those rows (SELECT of every column, each
//                 value taken, none kept)
//   first, second `trd harvest` of the tree into a fresh database and again
//                 (every text stored), in process (--db) and served (a
//                 `trd serve` child on loopback)
// TRD_FLOOR_TREE=DIR keeps a copy of the generated tree there, for profiling
// `trd harvest` and `trd serve` on the same texts.
// Counters: the floors and the harvests' wall times in seconds, and the
// ratios first/insert floor and second/read floor (goals: 2 and 1.5), all
// measured in the same run. Each time is the least of TRD_FLOOR_REPEAT
// rounds (default 3) of every measure, one after another, so that a moment
// of another program's load on a shared machine falls on one round of one
// measure, not on the ratio.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "../tests/support/ServerProcess.h"
#include "BenchHarvest.h"
#include "server/Schema.h"
#include "server/Service.h"

namespace {

using Clock = std::chrono::steady_clock;

int Files() {
  const char* env = std::getenv("TRD_FLOOR_FILES");
  return env && *env ? std::atoi(env) : 2000;
}

int Rounds() {
  const char* env = std::getenv("TRD_FLOOR_REPEAT");
  return env && std::atoi(env) > 0 ? std::atoi(env) : 3;
}

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

struct Db {
  explicit Db(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot open " + path);
  }
  ~Db() { sqlite3_close(db); }
  void Exec(const std::string& sql) const {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string m = err ? err : "?";
      sqlite3_free(err);
      throw std::runtime_error(sql + ": " + m);
    }
  }
  sqlite3* db = nullptr;
};

struct Stmt {
  Stmt(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK)
      throw std::runtime_error(sql + ": " + sqlite3_errmsg(db));
  }
  ~Stmt() { sqlite3_finalize(s); }
  sqlite3_stmt* s = nullptr;
};

// Every column of every record, as SQLite holds them.
struct Cell {
  int type = SQLITE_NULL;
  std::string text;
  double number = 0;
};
using Rows = std::vector<std::vector<Cell>>;

std::string Columns() {
  std::string s;
  for (const auto& f : trd::server::TranslationTable().fields) s += (s.empty() ? "" : ", ") + f.name;
  return s;
}

// Every column of every record.
std::string SelectAll() { return "SELECT " + Columns() + " FROM " + trd::server::TranslationTable().name; }

// Every record, kept for the insert floor (not timed).
Rows ReadAll(const std::string& path) {
  Db db(path);
  Stmt q(db.db, SelectAll());
  Rows rows;
  const int n = sqlite3_column_count(q.s);
  while (sqlite3_step(q.s) == SQLITE_ROW) {
    std::vector<Cell> row(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
      Cell& c = row[std::size_t(i)];
      c.type = sqlite3_column_type(q.s, i);
      if (c.type == SQLITE_TEXT) c.text.assign(reinterpret_cast<const char*>(sqlite3_column_text(q.s, i)));
      else if (c.type != SQLITE_NULL) c.number = sqlite3_column_double(q.s, i);
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

// The read floor: one read of every record, each value taken as the sqlite3
// shell takes it to print it (text, number or null) and nothing kept. Keeping
// a million rows of thirteen cells, as ReadAll does, made this floor mostly
// the allocator's time, which moved threefold from run to run.
double ReadFloor(const std::string& path) {
  Db db(path);
  const auto start = Clock::now();
  Stmt q(db.db, SelectAll());
  const int n = sqlite3_column_count(q.s);
  std::size_t bytes = 0;
  double numbers = 0;
  while (sqlite3_step(q.s) == SQLITE_ROW) {
    for (int i = 0; i < n; ++i) {
      const int type = sqlite3_column_type(q.s, i);
      if (type == SQLITE_TEXT) {
        benchmark::DoNotOptimize(sqlite3_column_text(q.s, i));
        bytes += std::size_t(sqlite3_column_bytes(q.s, i));
      } else if (type != SQLITE_NULL) {
        numbers += sqlite3_column_double(q.s, i);
      }
    }
  }
  benchmark::DoNotOptimize(bytes);
  benchmark::DoNotOptimize(numbers);
  return Since(start);
}

// The insert floor: `rows` into a fresh database of the server's schema.
double InsertAll(const std::string& path, const Rows& rows) {
  trd::server::Service::Open(path);  // the schema, its indexes and triggers
  Db db(path);
  db.Exec("PRAGMA journal_mode=WAL");
  db.Exec("PRAGMA synchronous=NORMAL");
  std::string marks;
  for (std::size_t i = 0; i < trd::server::TranslationTable().fields.size(); ++i) marks += i ? ", ?" : "?";
  const auto start = Clock::now();
  db.Exec("BEGIN");
  {
    Stmt ins(db.db, "INSERT INTO " + trd::server::TranslationTable().name + " (" + Columns() + ") VALUES (" + marks +
                        ")");
    for (const auto& row : rows) {
      for (std::size_t i = 0; i < row.size(); ++i) {
        const Cell& c = row[i];
        const int at = int(i) + 1;
        if (c.type == SQLITE_TEXT) sqlite3_bind_text(ins.s, at, c.text.data(), int(c.text.size()), SQLITE_STATIC);
        else if (c.type == SQLITE_NULL) sqlite3_bind_null(ins.s, at);
        else sqlite3_bind_double(ins.s, at, c.number);
      }
      if (sqlite3_step(ins.s) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db.db));
      sqlite3_reset(ins.s);
    }
  }
  db.Exec("COMMIT");
  return Since(start);
}

void StorageFloor(benchmark::State& state) {
  trd::bench::Tree tree(Files());
  if (const char* keep = std::getenv("TRD_FLOOR_TREE"); keep && *keep)
    std::filesystem::copy(tree.root, keep, std::filesystem::copy_options::recursive);
  for (auto _ : state) {
    double db_first = 1e9, db_second = 1e9, serve_first = 1e9, serve_second = 1e9, read_s = 1e9, insert_s = 1e9;
    std::size_t records = 0;
    for (int round = 0; round < Rounds(); ++round) {
      trd::test::TempTree dir("trd-floor-bench");
      const std::string in_process = dir.Path("db.sqlite"), served = dir.Path("serve.sqlite");
      auto least = [](double& so_far, double seconds) { so_far = std::min(so_far, seconds); };
      least(db_first, trd::bench::Harvest(tree.root.string(), {"--db", in_process}).wall_seconds);
      least(db_second, trd::bench::Harvest(tree.root.string(), {"--db", in_process}).wall_seconds);
      {
        trd::test::ServerProcess server({.db = served});
        least(serve_first, trd::bench::Harvest(tree.root.string(), {"--server", server.Url()}).wall_seconds);
        least(serve_second, trd::bench::Harvest(tree.root.string(), {"--server", server.Url()}).wall_seconds);
      }
      least(read_s, ReadFloor(in_process));
      const Rows rows = ReadAll(in_process);
      least(insert_s, InsertAll(dir.Path("floor.sqlite"), rows));
      records = rows.size();
    }
    state.SetIterationTime(db_first);
    state.counters["records"] = double(records);
    state.counters["insert_floor_s"] = insert_s;
    state.counters["read_floor_s"] = read_s;
    state.counters["db_first_s"] = db_first;
    state.counters["serve_first_s"] = serve_first;
    state.counters["db_second_s"] = db_second;
    state.counters["serve_second_s"] = serve_second;
    state.counters["db_first_x"] = db_first / insert_s;
    state.counters["serve_first_x"] = serve_first / insert_s;
    state.counters["db_second_x"] = db_second / read_s;
    state.counters["serve_second_x"] = serve_second / read_s;
  }
}
BENCHMARK(StorageFloor)->Iterations(1)->Unit(benchmark::kSecond)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
