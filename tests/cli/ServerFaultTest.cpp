// The server and its clients under faults: a server killed in the middle of
// a harvest or of an import, restarted under an open connection, a database that cannot be
// opened, a server that is down or never answers. The servers are real
// `trd serve` children on the database of ServerDatabase.h.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "platform/Connection.h"
#include "platform/Errors.h"
#include "platform/Wire.h"
#include "protocol/Methods.h"
#include "server/Service.h"
#include "support/ChildProcess.h"
#include "support/FakeHttpServer.h"
#include "support/RawHttp.h"
#include "support/ServerDatabase.h"
#include "support/ServerProcess.h"
#include "support/StoredRecords.h"
#include "support/TempTree.h"

namespace trd::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using Clock = std::chrono::steady_clock;

const std::string kForms = "Trd00200.rdmLeituraDfm";


// A form text file of `texts` labels; every third text repeats one of an
// earlier form, so that runs also reuse translations.
std::string Form(const std::string& name, int texts) {
  std::string s = "object " + name + ": TForm\n";
  for (int i = 0; i < texts; ++i) {
    std::string caption =
        i % 3 == 0 ? "Texto comum " + std::to_string(i) : "Texto " + std::to_string(i) + " de " + name;
    s += "  object lbl" + std::to_string(i) + ": TLabel\n    Caption = '" + caption + "'\n  end\n";
  }
  return s + "end\n";
}

// Every stored column but the time of the last change, one line per record.
// The rows of the history: one per change of a record.
std::size_t HistoryRows(const std::string& db_url) {
  const FieldType count[] = {FieldType::Float};
  auto rows = server::OpenDatabase(db_url)->Acquire()->Query("SELECT COUNT(*) FROM TRDHISTORICO", {}, count);
  return std::size_t(std::get<double>(rows.at(0).at(0)));
}

std::vector<std::string> AllRows(const std::string& db_url) {
  std::vector<std::string> rows;
  for (const StoredRecord& r : ReadRecords(db_url))
    rows.push_back(r.Line() + " | " + r.translation + " | " + r.state + " | " + r.language);
  return rows;
}

// "ok" or what SQLite found wrong.
std::string IntegrityCheck(const std::string& path) {
  sqlite3* db = nullptr;
  std::string result;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    result = std::string("cannot open: ") + sqlite3_errmsg(db);
  } else {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK) {
      while (sqlite3_step(st) == SQLITE_ROW)
        result += (result.empty() ? "" : "\n") + std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    } else {
      result = sqlite3_errmsg(db);
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return result;
}

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  Clock::duration took{};
};

// Runs `trd ARGS` to its end, without TRD_SERVER or a token from the
// test's environment.
Outcome Trd(std::vector<std::string> args, std::vector<std::string> env = {}) {
  args.insert(args.begin(), TRD_EXE);
  env.insert(env.begin(), {"TRD_SERVER=", "TRD_TOKEN=", "TRD_TOKEN_FILE="});
  const auto started = Clock::now();
  ChildProcess child(args, env);
  Outcome o;
  o.status = child.Wait();
  o.out = child.Out();
  o.err = child.Err();
  o.took = Clock::now() - started;
  return o;
}

// A loopback port nothing listens on.
int ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

// ---- A server killed in the middle of a harvest ----------------------------

TEST(ServerKilled, MidHarvestTheRunFailsNamingTheServerAndARerunConverges) {
  constexpr int kFiles = 30;
  constexpr int kTexts = 60;
  TempTree tree{"trd-fault"};
  for (int f = 0; f < kFiles; ++f) {
    std::string name = "F" + std::to_string(100 + f);
    tree.Write("Cli/Src/" + name + ".dfm", Form("frm" + name, kTexts));
  }
  auto harvest = [&](const ServerProcess& server) {
    // Text by text, so that a file takes long enough for the kill to fall
    // inside the run (a file's batch takes a few milliseconds).
    return std::make_unique<ChildProcess>(std::vector<std::string>{TRD_EXE, "harvest", tree.Path(), "--lang", "POR",
                                                                   "--yes", "--json", "--per-text", "--server",
                                                                   server.Url()},
                                          std::vector<std::string>{"TRD_SERVER=", "TRD_TOKEN=", "TRD_TOKEN_FILE="});
  };

  // What an uninterrupted run on a fresh database stores.
  ServerDatabase reference;
  {
    ServerProcess server({.db = reference.Url()});
    auto run = harvest(server);
    ASSERT_EQ(run->Wait(), 0) << run->Err();
  }
  const std::vector<std::string> expected = AllRows(reference.Url());
  ASSERT_EQ(expected.size(), std::size_t(kFiles * kTexts));

  // Killed three times, each time further on and at another moment of a
  // file (a file takes some tens of milliseconds); every run after the first
  // finds the earlier files stored already.
  ServerDatabase db;
  for (auto [kill_at, delay_ms] : {std::pair{4, 0}, {12, 15}, {22, 40}}) {
    SCOPED_TRACE("server killed " + std::to_string(delay_ms) + " ms after file " + std::to_string(kill_at));
    ServerProcess server({.db = db.Url()});
    auto run = harvest(server);
    ASSERT_TRUE(run->WaitForError("[" + std::to_string(kill_at) + "/" + std::to_string(kFiles) + "]")) << run->Err();
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    server.Stop(SIGKILL);
    const auto killed = Clock::now();
    EXPECT_EQ(run->Wait(), 1) << run->Err();
    EXPECT_LT(Clock::now() - killed, std::chrono::seconds(5));  // no hang on the dead server
    EXPECT_THAT(run->Err(), HasSubstr("translation server at " + server.Host() + ":" + std::to_string(server.Port())));
    EXPECT_THAT(run->Err(), HasSubstr("Erro ao importar o arquivo "));
    auto summary = nlohmann::json::parse(run->Out());
    EXPECT_EQ(summary["outcome"], "failed");
    EXPECT_EQ(summary["version_stamped"], false);

    if (db.IsSqlite()) {
      EXPECT_EQ(IntegrityCheck(db.SqlitePath()), "ok");
    }
    // Nothing the server confirmed is lost: the records it answered as
    // created are all there (one more when the kill fell between a commit
    // and its answer).
    const std::size_t stored = ReadRecords(db.Url()).size();
    RecordProperty("records_after_kill_at_" + std::to_string(kill_at), int(stored));
    RecordProperty("error_after_kill_at_" + std::to_string(kill_at), summary.value("error", ""));
    EXPECT_GE(stored, summary["new"].get<std::size_t>() + summary["already_stored"].get<std::size_t>() -
                          summary["replaced"].get<std::size_t>());
    EXPECT_LT(stored, expected.size());
    // Each record was created once, with its history row in the same
    // transaction: the kill parts neither from the other.
    EXPECT_EQ(HistoryRows(db.Url()), stored);
  }

  ServerProcess server({.db = db.Url()});
  auto rerun = harvest(server);
  ASSERT_EQ(rerun->Wait(), 0) << rerun->Err();
  EXPECT_EQ(nlohmann::json::parse(rerun->Out())["outcome"], "completed");
  EXPECT_EQ(AllRows(db.Url()), expected);
  EXPECT_EQ(HistoryRows(db.Url()), expected.size());
  EXPECT_TRUE(ReadVersion(db.Url()).has_value());
}

// ---- A server killed in the middle of an import ----------------------------

// A count of the database (the first column of the first row of `sql`).
std::size_t Count(const std::string& db_url, const std::string& sql) {
  const FieldType count[] = {FieldType::Float};
  auto rows = server::OpenDatabase(db_url)->Acquire()->Query(sql, {}, count);
  return std::size_t(std::get<double>(rows.at(0).at(0)));
}

TEST(ServerKilled, MidImportEveryTranslationStoredHasItsHistoryRowAndNoOther) {
  // Enough texts for several of the import's batches (one transaction each).
  constexpr int kTexts = 40000;
  ServerDatabase db;
  {
    auto service = server::Service::Open(db.Url());
    ChangeSet cs{server::TranslationTable().fields, {}};
    for (int i = 0; i < kTexts; ++i)
      cs.changes.push_back(Change{ChangeKind::Insert,
                                  {},
                                  {std::string("CADASTRO"), std::string("FRMCADASTRO"), "lbl" + std::to_string(i),
                                   std::string("Caption"), 0.0, std::string("N"), std::string(""),
                                   "Texto " + std::to_string(i), DateTime::FromParts(2024, 1, 1), std::string("ENG")}});
    const Value args[] = {cs};
    ASSERT_TRUE(std::holds_alternative<std::monostate>(service->Call(protocol::kModuleForms, protocol::kSetPropried, args)));
  }
  TempTree dir{"trd-fault-import"};
  std::string po = "msgid \"\"\nmsgstr \"\"\n\"Language: en\\n\"\n\"Content-Type: text/plain; charset=UTF-8\\n\"\n";
  for (int i = 0; i < kTexts; ++i)
    po += "\nmsgid \"Texto " + std::to_string(i) + "\"\nmsgstr \"Text " + std::to_string(i) + "\"\n";
  dir.Write("eng.po", po);
  const std::vector<std::string> import{TRD_EXE, "import", dir.Path("eng.po"), "--lang", "ENG", "--json", "--server"};
  const std::vector<std::string> env{"TRD_SERVER=", "TRD_TOKEN=", "TRD_TOKEN_FILE="};

  const std::string translated = "SELECT COUNT(*) FROM TRDPROPRIEDADE WHERE IDSITTRADUCAO = 'T'";
  const std::string imported = "SELECT COUNT(*) FROM TRDHISTORICO WHERE IDORIGEM = 'importacao'";
  // History rows of an import whose record does not hold the translation
  // they tell of.
  const std::string orphans =
      "SELECT COUNT(*) FROM TRDHISTORICO h WHERE IDORIGEM = 'importacao' AND NOT EXISTS (SELECT 1 FROM "
      "TRDPROPRIEDADE p WHERE p.CDPROGRAMA = h.CDPROGRAMA AND p.NMFORMULARIO = h.NMFORMULARIO AND p.NMCOMPONENTE = "
      "h.NMCOMPONENTE AND p.NMPROPRIEDADE = h.NMPROPRIEDADE AND p.NRVALORPROP = h.NRVALORPROP AND p.IDIDIOMA = "
      "h.IDIDIOMA AND p.IDSITTRADUCAO = 'T' AND p.STVALORPROP = h.STVALORPROP)";
  {
    ServerProcess server({.db = db.Url()});
    std::vector<std::string> args = import;
    args.push_back(server.Url());
    ChildProcess run(args, env);
    // Killed once some batches are in and others are not.
    std::size_t stored = 0;
    for (const auto until = Clock::now() + std::chrono::seconds(120); Clock::now() < until;) {
      stored = Count(db.Url(), translated);
      if (stored > 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    server.Stop(SIGKILL);
    EXPECT_EQ(run.Wait(), 1) << run.Err();
    EXPECT_THAT(run.Err(), HasSubstr("translation server at " + server.Host()));
    stored = Count(db.Url(), translated);
    RecordProperty("translated_when_killed", int(stored));
    ASSERT_GT(stored, 0u);
    EXPECT_LT(stored, std::size_t(kTexts)) << "the import ended before the kill: nothing was tested";
    EXPECT_EQ(Count(db.Url(), imported), stored);
    EXPECT_EQ(Count(db.Url(), orphans), 0u);
  }
  // Restarted, the same import applies the rest; what was in counts as
  // already there, with no second history row.
  ServerProcess server({.db = db.Url()});
  std::vector<std::string> args = import;
  args.push_back(server.Url());
  ChildProcess rerun(args, env);
  ASSERT_EQ(rerun.Wait(), 0) << rerun.Err();
  EXPECT_EQ(Count(db.Url(), translated), std::size_t(kTexts));
  EXPECT_EQ(Count(db.Url(), imported), std::size_t(kTexts));
  EXPECT_EQ(Count(db.Url(), orphans), 0u);
}

// ---- A server at its connection limit, slow clients ------------------------

TEST(ServerBusy, BeyondItsConnectionLimitAClientShowsWhyAndSlowClientsAreDropped) {
  ServerProcess server({.db = ":memory:", .extra_args = {"--max-connections", "4", "--request-timeout", "0.5"}});
  std::vector<std::unique_ptr<RawHttp>> held;
  for (int i = 0; i < 4; ++i) {
    held.push_back(std::make_unique<RawHttp>(server.Port()));
    ASSERT_TRUE(held.back()->Send(RawHttp::Post("/echo", "x")));
    ASSERT_EQ(held.back()->Read(std::chrono::seconds(2)).status, 200);
  }
  const std::vector<std::string> languages{"call", "--server", server.Url(), kForms, "GetIdiLeDfm"};
  Outcome busy = Trd(languages);
  EXPECT_EQ(busy.status, 1);
  EXPECT_THAT(busy.err, HasSubstr("server busy: 4 connections are open, as many as it accepts; try again later"));

  held.clear();
  Outcome served;
  for (int attempt = 0; attempt < 20 && served.status != 0; ++attempt) served = Trd(languages);
  EXPECT_EQ(served.status, 0) << served.err;

  RawHttp silent(server.Port());
  EXPECT_TRUE(silent.ClosedWithin(std::chrono::seconds(3)));
}

// ---- A server restarted under an open connection ---------------------------

TEST(ServerRestarted, AnOpenConnectionCarriesOnWithoutReopening) {
  ServerDatabase db;
  auto first = std::make_unique<ServerProcess>(ServerProcessOptions{.db = db.Url()});
  const int port = first->Port();
  Connection conn("test", kForms);
  conn.host = first->Host();
  conn.port = port;
  ASSERT_TRUE(std::holds_alternative<Packet>(conn.Call("GetIdiLeDfm", {})));

  for (int sig : {SIGKILL, SIGTERM}) {
    SCOPED_TRACE(sig == SIGKILL ? "killed" : "stopped");
    first->Stop(sig);
    first = std::make_unique<ServerProcess>(
        ServerProcessOptions{.db = db.Url(), .listen = "127.0.0.1:" + std::to_string(port)});
    ASSERT_TRUE(conn.Connected());  // the same connection object, never reopened by the caller
    Value languages = conn.Call("GetIdiLeDfm", {});
    ASSERT_TRUE(std::holds_alternative<Packet>(languages)) << wire::ToJson(languages).dump();
    EXPECT_EQ(std::get<Packet>(languages).rows.size(), 3u);
  }

  // A change as the first call after a restart goes through once: the
  // closed kept-alive socket is noticed before the request goes out.
  first->Stop(SIGKILL);
  first = std::make_unique<ServerProcess>(
      ServerProcessOptions{.db = db.Url(), .listen = "127.0.0.1:" + std::to_string(port)});
  ChangeSet stamp;
  stamp.fields = {{"DTGERARQTRAD", FieldType::DateTime, 0}};
  stamp.changes.push_back({ChangeKind::Insert, {}, {DateTime::FromParts(2024, 5, 6)}});
  Value done = conn.Call("SetVersao", {stamp});
  EXPECT_TRUE(std::holds_alternative<std::monostate>(done)) << wire::ToJson(done).dump();
  EXPECT_EQ(ReadVersion(db.Url()), DateTime::FromParts(2024, 5, 6));
}

// When and how often the client sends a request again, against a peer that
// breaks the connection at exact moments.
class Resend : public ::testing::Test {
 protected:
  static FakeHttpServer::Step Answer() { return {FakeHttpServer::Kind::Answer, R"({"result":null})"}; }
  static FakeHttpServer::Step Close() { return {FakeHttpServer::Kind::Close, ""}; }

  Value Call(const FakeHttpServer& peer, Connection& conn, const std::string& method) {
    conn.host = "127.0.0.1";
    conn.port = peer.Port();
    return conn.Call(method, {});
  }
};

TEST_F(Resend, ALookUpBrokenOnAKeptAliveConnectionIsSentOnceMoreOnAFreshOne) {
  FakeHttpServer peer({Answer(), Close(), Answer()});
  Connection conn("test", kForms);
  Call(peer, conn, "GetIdiLeDfm");
  EXPECT_TRUE(std::holds_alternative<std::monostate>(Call(peer, conn, "GetVerProp")));
  EXPECT_EQ(peer.Requests(), 3);
  EXPECT_EQ(peer.Connections(), 2);
  EXPECT_EQ(peer.Bodies()[1], peer.Bodies()[2]);
}

TEST_F(Resend, AChangeIsNeverSentTwice) {
  for (const char* method : {"SetVerProp", "SetVersao", "UpdateRelDfm"}) {
    SCOPED_TRACE(method);
    FakeHttpServer peer({Answer(), Close(), Answer()});
    Connection conn("test", kForms);
    Call(peer, conn, "GetIdiLeDfm");
    try {
      Call(peer, conn, method);
      ADD_FAILURE() << "no ConnectionError";
    } catch (const ConnectionError& e) {
      EXPECT_THAT(e.what(), HasSubstr("lost the connection to the translation server at 127.0.0.1:" +
                                      std::to_string(peer.Port())));
    }
    EXPECT_EQ(peer.Requests(), 2);  // the server may have applied it: the caller decides
    // The connection is usable again at once.
    EXPECT_TRUE(std::holds_alternative<std::monostate>(Call(peer, conn, "GetIdiLeDfm")));
  }
}

TEST_F(Resend, OnlyOnceAndNotOnAFreshConnection) {
  {
    FakeHttpServer peer({Answer(), Close(), Close(), Answer()});
    Connection conn("test", kForms);
    Call(peer, conn, "GetIdiLeDfm");
    EXPECT_THROW(Call(peer, conn, "GetIdiLeDfm"), ConnectionError);
    EXPECT_EQ(peer.Requests(), 3);
  }
  {
    // A fresh connection that breaks under a request: the server failed on
    // it, not an idle connection; the request is not repeated.
    FakeHttpServer peer({Close(), Answer()});
    Connection conn("test", kForms);
    EXPECT_THROW(Call(peer, conn, "GetIdiLeDfm"), ConnectionError);
    EXPECT_EQ(peer.Requests(), 1);
  }
}

// ---- Unusable database, unreachable or silent server ------------------------

TEST(ServerStart, ADatabaseThatCannotBeUsedEndsTheServerNamingIt) {
  TempTree tree{"trd-fault"};
  const std::string not_a_database =
      tree.Write("garbage.sqlite", std::string(4096, 'x') + "this is not a SQLite database file\n");
  const std::string under_a_file = tree.Write("plain-file", "x") + "/sub/trd.sqlite";
  std::filesystem::create_directories(tree.Path("a-directory.sqlite"));
  for (const std::string& db : {not_a_database, under_a_file, tree.Path("a-directory.sqlite")}) {
    SCOPED_TRACE(db);
    Outcome o = Trd({"serve", "--db", db, "--listen", "127.0.0.1:0"});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr(db));
    EXPECT_THAT(o.err, HasSubstr("database"));
    EXPECT_THAT(o.out, Not(HasSubstr("listening on")));
    EXPECT_LT(o.took, std::chrono::seconds(10));
  }
  // The in-process server of `trd harvest --db` says the same.
  tree.Write("src/Cli/Src/A.dfm", Form("frmA", 1));
  Outcome o = Trd({"harvest", tree.Path("src"), "--lang", "POR", "--yes", "--db", not_a_database});
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("trd harvest: cannot use the database " + not_a_database));
}

TEST(ClientTimeouts, AServerThatIsDownFailsAtOnceWithItsAddress) {
  const int port = ClosedPort();
  const std::string where = "127.0.0.1:" + std::to_string(port);
  Outcome call = Trd({"call", "--server", where, kForms, "GetIdiLeDfm"});
  EXPECT_EQ(call.status, 1);
  EXPECT_THAT(call.err, HasSubstr("cannot reach the translation server at " + where));
  EXPECT_LT(call.took, std::chrono::seconds(5));

  TempTree tree{"trd-fault"};
  tree.Write("Cli/Src/A.dfm", Form("frmA", 1));
  Outcome harvest = Trd({"harvest", tree.Path(), "--lang", "POR", "--yes", "--server", "http://" + where});
  EXPECT_EQ(harvest.status, 1);
  EXPECT_THAT(harvest.err, HasSubstr("cannot reach the translation server at " + where));
  EXPECT_LT(harvest.took, std::chrono::seconds(5));
}

TEST(ClientTimeouts, AServerThatNeverAnswersMeetsTheReadTimeout) {
  FakeHttpServer silent({{FakeHttpServer::Kind::Silent, ""}});
  const std::string where = "127.0.0.1:" + std::to_string(silent.Port());
  Outcome o = Trd({"call", "--server", where, kForms, "GetIdiLeDfm"}, {"TRD_READ_TIMEOUT_MS=400"});
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("the translation server at " + where + " did not answer within 400 ms"));
  EXPECT_GE(o.took, std::chrono::milliseconds(400));
  EXPECT_LT(o.took, std::chrono::seconds(5));
  EXPECT_EQ(silent.Requests(), 1);  // a timed-out look-up is not sent again
}

TEST(ClientTimeouts, AListenerThatNeverAcceptsMeetsTheConnectTimeout) {
  // A backlog of 0 holds one connection that nobody accepts; the kernel
  // drops the handshake of the next, which then waits for its timeout.
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(fd, 0), 0);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  int filler = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const std::string where = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));

  Outcome o = Trd({"call", "--server", where, kForms, "GetIdiLeDfm"},
                  {"TRD_CONNECT_TIMEOUT_MS=300", "TRD_READ_TIMEOUT_MS=300"});
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("cannot reach the translation server at " + where + ": no connection within 300 ms"));
  EXPECT_LT(o.took, std::chrono::seconds(5));
  close(filler);
  close(fd);
}

TEST(ClientTimeouts, AMalformedTimeoutIsNamed) {
  Outcome o = Trd({"call", "--server", "127.0.0.1:1", kForms, "GetIdiLeDfm"}, {"TRD_READ_TIMEOUT_MS=soon"});
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("TRD_READ_TIMEOUT_MS must be a whole number of milliseconds"));
}

// ---- The database file deleted or replaced under a running server ---------

enum class Loss { FolderDeleted, FileReplaced };

TEST(DatabaseGone, EveryWriteIsRefusedNamingThePathAndTheHarvestEndsWithThatError) {
  for (Loss loss : {Loss::FolderDeleted, Loss::FileReplaced}) {
    SCOPED_TRACE(loss == Loss::FolderDeleted ? "folder deleted" : "file replaced");
    TempTree dir{"trd-gone"};
    const std::string db = dir.Path("dados/trd.sqlite");
    ChildProcess server({TRD_EXE, "serve", "--db", db, "--listen", "127.0.0.1:0"},
                        {"TRD_TOKEN=", "TRD_TOKEN_FILE="});
    ASSERT_TRUE(server.WaitForError("trd serve: sqlite:")) << server.Err();
    const std::string prefix = "listening on http://";
    ASSERT_EQ(server.Out().rfind(prefix, 0), 0u) << server.Out();
    const std::string url = "http://" + server.Out().substr(prefix.size(), server.Out().find('\n') - prefix.size());

    TempTree tree{"trd-gone-src"};
    tree.Write("Cli/Src/A.dfm", Form("frmA", 3));
    Outcome first = Trd({"harvest", tree.Path(), "--lang", "POR", "--yes", "--server", url});
    ASSERT_EQ(first.status, 0) << first.err;

    if (loss == Loss::FolderDeleted) {
      std::filesystem::remove_all(dir.Path("dados"));
    } else {  // a copy of the same data takes its place
      std::filesystem::copy_file(db, dir.Path("copia.sqlite"));
      std::filesystem::rename(dir.Path("copia.sqlite"), db);
    }
    tree.Write("Cli/Src/B.dfm", Form("frmB", 3));  // texts to write
    Outcome second = Trd({"harvest", tree.Path(), "--lang", "POR", "--yes", "--server", url, "--json"});
    const std::string gone = "the SQLite database " + db + " is no longer the file at that path";
    EXPECT_EQ(second.status, 1) << second.err;
    EXPECT_THAT(second.err, HasSubstr(gone));
    EXPECT_THAT(second.err, Not(HasSubstr("Todos os arquivos foram importados com sucesso!")));
    auto summary = nlohmann::json::parse(second.out);
    EXPECT_EQ(summary["outcome"], "failed");
    EXPECT_EQ(summary["failed_file"], tree.Path("Cli/Src/B.dfm"));
    EXPECT_EQ(summary["version_stamped"], false);

    // The server goes on answering look-ups, and said it once in its log.
    Outcome lookup = Trd({"call", "--server", url, kForms, "GetIdiLeDfm"});
    EXPECT_EQ(lookup.status, 0) << lookup.err;
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Wait(), 0);
    const std::string log = server.Err();
    EXPECT_THAT(log, HasSubstr("trd serve: " + gone));
    EXPECT_EQ(log.find(gone), log.rfind(gone)) << log;
    if (loss == Loss::FileReplaced) {
      EXPECT_EQ(ReadRecords(db).size(), 3u);  // frmA only: nothing went astray
    }
  }
}

}  // namespace
}  // namespace trd::test
