// The server over real HTTP: `trd serve` as a child process on loopback,
// reached through trd::Connection, raw HTTP and `trd call`.
#include <httplib.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <thread>

#include "Fixture.h"
#include "platform/Connection.h"
#include "support/ServerProcess.h"
#include "support/TempTree.h"

namespace trd::server::testing {
namespace {

using test::ServerProcess;

class OverHttp : public ::testing::Test {
 protected:
  ServerProcess server;

  std::unique_ptr<Connection> Connect(std::string_view module) {
    auto c = std::make_unique<Connection>("test", std::string(module));
    c->host = server.Host();
    c->port = server.Port();
    return c;
  }
};

std::string MessageOf(const Value& v) {
  const auto* f = std::get_if<ServerFailure>(&v);
  return f ? f->message : std::string("(no failure: ") + KindName(v) + ")";
}

TEST_F(OverHttp, RecordRoundTripAndFailuresOnOneKeptConnection) {
  auto conn = Connect(kDfm);
  Rec r;
  ASSERT_TRUE(std::holds_alternative<std::monostate>(conn->Call("SetPropried", {Changes({Insert(r)})})));

  Value hit = conn->Call("GetPropried", {r.program, r.form, r.component, r.property, std::string("0"), r.source,
                                         r.language});
  ASSERT_TRUE(std::holds_alternative<Packet>(hit)) << MessageOf(hit);
  ASSERT_EQ(std::get<Packet>(hit).rows.size(), 1u);
  EXPECT_EQ(std::get<Packet>(hit).rows[0], r.ToRow());

  // Failures come back as failure values and the same connection goes on.
  EXPECT_NE(MessageOf(conn->Call("SetPropried", {Changes({Insert(r)})})).find("duplicate key"), std::string::npos);
  EXPECT_NE(MessageOf(conn->Call("NoSuchMethod", {})).find("has no method"), std::string::npos);
  Value langs = conn->Call("GetIdiLeDfm", {});
  ASSERT_TRUE(std::holds_alternative<Packet>(langs));
  EXPECT_EQ(std::get<Packet>(langs).rows.size(), 3u);
}

TEST_F(OverHttp, RawHttpErrorsAnswerInTheWireFormat) {
  httplib::Client client(server.Host(), server.Port());
  client.set_keep_alive(true);

  auto echo = client.Post("/echo", "ping \x01 pong", "application/octet-stream");
  ASSERT_TRUE(echo);
  EXPECT_EQ(echo->status, 200);
  EXPECT_EQ(echo->body, "ping \x01 pong");

  auto malformed = client.Post("/call", "{not json", "application/json");
  ASSERT_TRUE(malformed);
  EXPECT_EQ(malformed->status, 200);
  EXPECT_NE(MessageOf(wire::DecodeResponse(malformed->body)).find("not JSON"), std::string::npos);

  auto lost = client.Post("/elsewhere", "{}", "application/json");
  ASSERT_TRUE(lost);
  EXPECT_EQ(lost->status, 404);
  EXPECT_NE(MessageOf(wire::DecodeResponse(lost->body)).find("no such service"), std::string::npos);
}

TEST(OverHttpLimits, OversizedRequestIsRefusedAndTheServerGoesOn) {
  test::ServerProcessOptions options;
  options.extra_args = {"--max-request-mib", "1"};
  ServerProcess server(options);
  Connection conn("test", std::string(kDfm));
  conn.host = server.Host();
  conn.port = server.Port();
  Rec r;
  Value big = conn.Call("GetPropried", {r.program, r.form, r.component, r.property, std::string("0"),
                                        std::string(1 << 20, 'v'), r.language});
  EXPECT_NE(MessageOf(big).find("exceeds the limit of 1048576 bytes"), std::string::npos) << MessageOf(big);
  Value after = conn.Call("GetVersao", {});
  EXPECT_TRUE(std::holds_alternative<Packet>(after)) << MessageOf(after);
}

TEST_F(OverHttp, ConcurrentClientsEachInsertTheirRecords) {
  constexpr int kClients = 4, kEach = 40;
  std::atomic<int> failures{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      auto conn = Connect(kRel);
      for (int i = 0; i < kEach; ++i) {
        Rec r;
        r.component = "CLIENT" + std::to_string(c);
        r.number = i;
        if (!std::holds_alternative<std::monostate>(conn->Call("SetPropriedRel", {Changes({Insert(r)})}))) ++failures;
      }
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(failures.load(), 0);
  auto conn = Connect(kRel);
  for (int c = 0; c < kClients; ++c) {
    Rec last;
    last.component = "CLIENT" + std::to_string(c);
    Value v = conn->Call("GetVerPropRel", {last.program, last.form, last.component, last.property,
                                           std::int64_t(kEach - 1), last.language});
    ASSERT_TRUE(std::holds_alternative<Packet>(v)) << MessageOf(v);
    EXPECT_EQ(std::get<Packet>(v).rows.size(), 1u);
  }
}

TEST(OverHttpLifecycle, TermStopsCleanlyAndTheDataOutlivesTheProcess) {
  test::TempTree dir("trd-http");
  const std::string db = dir.Path("trd.sqlite");
  test::ServerProcessOptions options;
  options.db = db;
  Rec r;
  {
    ServerProcess server(options);
    Connection conn("test", std::string(kDfm));
    conn.host = server.Host();
    conn.port = server.Port();
    ASSERT_TRUE(std::holds_alternative<std::monostate>(conn.Call("SetPropried", {Changes({Insert(r)})})));
    // The connection stays open (kept alive, idle) while the server stops.
    int status = server.Stop(SIGTERM, std::chrono::seconds(10));
    ASSERT_NE(status, -1) << "the server did not end on SIGTERM";
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  {
    ServerProcess server(options);
    Connection conn("test", std::string(kDfm));
    conn.host = server.Host();
    conn.port = server.Port();
    Value v = conn.Call("GetVerProp", {r.program, r.form, r.component, r.property, std::string("0"), r.language});
    ASSERT_TRUE(std::holds_alternative<Packet>(v)) << MessageOf(v);
    EXPECT_EQ(std::get<Packet>(v).rows.size(), 1u);
  }
}

// Runs a shell command; returns its exit status and its standard output and
// error together.
std::pair<int, std::string> RunShell(const std::string& command) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return {-1, out};
  std::array<char, 4096> buf;
  while (std::size_t n = std::fread(buf.data(), 1, buf.size(), p)) out.append(buf.data(), n);
  int status = pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST_F(OverHttp, CallCommandPrintsResultsAndFailures) {
  const std::string call = std::string(TRD_EXE) + " call --server " + server.Url() + " ";

  auto [ok_status, ok_out] = RunShell(call + "Trd00200.rdmLeituraDfm GetIdiLeDfm");
  EXPECT_EQ(ok_status, 0) << ok_out;
  EXPECT_NE(ok_out.find(R"(["POR","Português","POR"])"), std::string::npos) << ok_out;

  // Typed arguments: the translation store takes an integer number and a
  // date-time; the record does not exist, so the server says so.
  auto [miss_status, miss_out] =
      RunShell(call + "Trd00500.rdmLeDfmRel UpdateRelDfm P F C Caption int:0 POR Save T dt:2024-05-01T10:00:00");
  EXPECT_EQ(miss_status, 1);
  EXPECT_NE(miss_out.find("no record of key (CDPROGRAMA 'P'"), std::string::npos) << miss_out;

  auto [bad_status, bad_out] = RunShell(call + "Trd00200.rdmLeituraDfm GetVerProp P F C Caption float:x POR");
  EXPECT_EQ(bad_status, 1);
  EXPECT_NE(bad_out.find("\"float:x\" is not a number"), std::string::npos) << bad_out;

  auto [down_status, down_out] = RunShell(std::string(TRD_EXE) + " call --server 127.0.0.1:1 Trd00200.rdmLeituraDfm GetVersao");
  EXPECT_EQ(down_status, 1);
  EXPECT_NE(down_out.find("cannot reach the translation server"), std::string::npos) << down_out;
}

TEST_F(OverHttp, SecondServerOnTheSamePortIsRefused) {
  auto [status, out] = RunShell("timeout 10 " + std::string(TRD_EXE) + " serve --db :memory: --listen " +
                                server.Host() + ":" + std::to_string(server.Port()));
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("cannot listen on"), std::string::npos) << out;
}

}  // namespace
}  // namespace trd::server::testing
