// The HTTP front in this process, reached with raw HTTP as slow, idle and
// hostile clients would: they must not hold up anybody else, nor get a body
// read (or buffered) before the token and the size are checked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "platform/Wire.h"
#include "server/HttpServer.h"
#include "server/Records.h"
#include "server/Schema.h"
#include "server/Service.h"
#include "support/RawHttp.h"
#include "support/ServerProcess.h"
#include "support/TempTree.h"
#include "support/UnreadPages.h"

namespace trd::server {
namespace {

using ::testing::HasSubstr;
using test::RawHttp;
using namespace std::chrono_literals;

const std::string kLanguages = R"({"module":"Trd00200.rdmLeituraDfm","method":"GetIdiLeDfm","args":[]})";
const std::string kToken = "s3cret-token";

std::string FailureOf(const RawHttp::Answer& a) {
  Value v = wire::DecodeResponse(a.body);
  const auto* f = std::get_if<ServerFailure>(&v);
  return f ? f->message : "(no failure)";
}

// The code a refusal carries, for programs to decide by.
std::string CodeOf(const RawHttp::Answer& a) {
  Value v = wire::DecodeResponse(a.body);
  const auto* f = std::get_if<ServerFailure>(&v);
  return f ? f->code : "(no failure)";
}

class HttpFront : public ::testing::Test {
 protected:
  void Start(HttpOptions options) {
    service_ = Service::Open(":memory:");
    options.host = "127.0.0.1";
    options.port = 0;
    server_ = std::make_unique<HttpServer>(*service_, std::move(options));
    port_ = server_->Bind();
    runner_ = std::thread([this] { server_->Run(); });
  }

  void TearDown() override {
    if (!server_) return;
    server_->Stop();
    runner_.join();
  }

  // A call on a fresh connection, answered within `timeout`.
  RawHttp::Answer Languages(std::chrono::milliseconds timeout = 2s, std::string_view headers = "") {
    RawHttp c(port_);
    c.Send(RawHttp::Post("/call", kLanguages, headers));
    return c.Read(timeout);
  }

  int port_ = 0;

 private:
  std::shared_ptr<Service> service_;
  std::unique_ptr<HttpServer> server_;
  std::thread runner_;
};

TEST_F(HttpFront, IdleAndSlowConnectionsDoNotHoldUpOthers) {
  Start({.threads = 4});
  // Many more than the workers: kept alive after a request, or dribbling
  // their headers.
  std::vector<std::unique_ptr<RawHttp>> idle;
  for (int i = 0; i < 300; ++i) {
    idle.push_back(std::make_unique<RawHttp>(port_));
    ASSERT_TRUE(idle.back()->Send(RawHttp::Post("/echo", "hello")));
    ASSERT_EQ(idle.back()->Read(5s).status, 200) << "connection " << i;
  }
  std::vector<std::unique_ptr<RawHttp>> slow;
  for (int i = 0; i < 50; ++i) {
    slow.push_back(std::make_unique<RawHttp>(port_));
    slow.back()->Send("POST /call HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ");
  }

  const auto started = std::chrono::steady_clock::now();
  RawHttp::Answer a = Languages();
  EXPECT_EQ(a.outcome, RawHttp::Outcome::Answered);
  EXPECT_EQ(a.status, 200);
  EXPECT_THAT(a.body, HasSubstr("Português"));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);

  // The idle ones are still kept alive.
  for (int i : {0, 150, 299}) {
    ASSERT_TRUE(idle[std::size_t(i)]->Send(RawHttp::Post("/call", kLanguages)));
    EXPECT_EQ(idle[std::size_t(i)]->Read(2s).status, 200) << "connection " << i;
  }
}

TEST_F(HttpFront, ARequestThatDoesNotArriveInTimeIsDroppedButAnIdleConnectionIsKept) {
  Start({.request_timeout = 1s, .keep_alive_timeout = 60s});

  RawHttp dribbling(port_);
  const auto started = std::chrono::steady_clock::now();
  const std::string head = "POST /call HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
  ASSERT_TRUE(dribbling.Send(head));
  bool closed = false;
  while (!closed && std::chrono::steady_clock::now() - started < 5s)
    closed = !dribbling.Send("a") || dribbling.ClosedWithin(100ms);
  EXPECT_TRUE(closed) << "a client dribbling its headers was still served after 5 s";
  EXPECT_GE(std::chrono::steady_clock::now() - started, 900ms);

  RawHttp silent(port_);  // connects and never sends: the first request is late
  EXPECT_TRUE(silent.ClosedWithin(3s));

  RawHttp body_missing(port_);  // headers whole, the body never comes
  body_missing.Send("POST /call HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100\r\n\r\n{");
  EXPECT_TRUE(body_missing.ClosedWithin(3s));

  // Between requests a connection may idle longer than the request time-out.
  RawHttp kept(port_);
  ASSERT_TRUE(kept.Send(RawHttp::Post("/call", kLanguages)));
  ASSERT_EQ(kept.Read(2s).status, 200);
  std::this_thread::sleep_for(1500ms);
  ASSERT_TRUE(kept.Send(RawHttp::Post("/call", kLanguages)));
  EXPECT_EQ(kept.Read(2s).status, 200);
}

TEST_F(HttpFront, BeyondTheConnectionLimitANewConnectionGetsAClearRefusal) {
  Start({.max_connections = 20});
  std::vector<std::unique_ptr<RawHttp>> open;
  for (int i = 0; i < 20; ++i) {
    open.push_back(std::make_unique<RawHttp>(port_));
    ASSERT_TRUE(open.back()->Send(RawHttp::Post("/echo", "x")));
    ASSERT_EQ(open.back()->Read(2s).status, 200);
  }

  RawHttp::Answer refused = Languages();
  EXPECT_EQ(refused.outcome, RawHttp::Outcome::Answered);
  EXPECT_EQ(refused.status, 503);
  EXPECT_THAT(FailureOf(refused), HasSubstr("server busy: 20 connections are open"));
  EXPECT_EQ(CodeOf(refused), "busy");

  // Once one leaves there is room again.
  open.pop_back();
  RawHttp::Answer served;
  for (int attempt = 0; attempt < 50 && served.status != 200; ++attempt) {
    std::this_thread::sleep_for(20ms);
    served = Languages();
  }
  EXPECT_EQ(served.status, 200);
}

// Clients that ask for the largest page, several at once, and never read:
// the server holds one bounded answer per connection, not a page of 1200
// long records each (some 10 MB here; 90 MiB more in all without the bound).
TEST(HttpFrontMemory, ClientsThatNeverReadTheirPagesLeaveTheServersMemoryBounded) {
  test::TempTree dir("trd-unread");
  const std::string db = dir.Path("trd.sqlite");
  test::SeedLargeRecords(db, 1200, 4000);
  test::ServerProcess server({.db = db});
  {  // one page read whole, so that the baseline holds what any reader costs
    RawHttp reader(server.Port());
    reader.Send(test::LargestPageRequest());
    ASSERT_EQ(reader.Read(10s).status, 200);
  }
  const long baseline = test::StatusKiB(server.Pid(), "VmHWM");
  test::UnreadPages clients(server.Port(), 6, 3);
  std::this_thread::sleep_for(1500ms);  // every first request answered, as far as the sockets take it
  const long grown = test::StatusKiB(server.Pid(), "VmHWM") - baseline;
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer keeps freed memory in quarantine (and its shadow besides):
  // there the peak says nothing of what the server holds.
  (void)grown;
#else
  EXPECT_LT(grown, 40 * 1024) << "peak RSS grew by " << grown / 1024 << " MiB (baseline " << baseline / 1024
                              << " MiB)";
#endif
  RawHttp other(server.Port());  // and it still serves everybody else
  other.Send(RawHttp::Post("/call", kLanguages));
  EXPECT_EQ(other.Read(5s).status, 200);
}

// The progress page of a table of 30,000 records in 3,000 programs, the
// latest of them long texts: under 100 KB (a search that finds them too),
// its programs a page at a time, every program on exactly one page.
TEST(ProgressPageSize, TheProgramsArePagedAndThePageStaysSmallAtAnyTableSize) {
  auto service = Service::Open(":memory:");
  {
    std::vector<Change> changes;
    for (int i = 0; i < 30000; ++i) {
      const std::string text =
          i >= 29975 ? "Longo " + std::to_string(i) + std::string(3988, 'x') : "Texto " + std::to_string(i);
      changes.push_back({ChangeKind::Insert, {},
                         Row{"P" + std::to_string(i % 3000), std::string("FRM"), "C" + std::to_string(i),
                             std::string("Caption"), 0.0, std::string(i % 3 ? "N" : "T"), text, text,
                             DateTime::FromParts(2024, 5, 1, 10, i / 3600, i / 60 % 60, i % 60), std::string("POR")}});
    }
    auto session = service->Storage().Acquire();
    ApplyChangeSet(*session, TranslationTable(), ChangeSet{TranslationTable().fields, std::move(changes)});
  }
  HttpServer server(*service, {.host = "127.0.0.1", .port = 0});
  const int port = server.Bind();
  std::thread runner([&] { server.Run(); });
  std::set<std::string> seen;
  std::size_t largest = 0;
  {  // a search that finds the long texts
    RawHttp c(port);
    c.Send("GET /?idioma=POR&busca=LONGO HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const RawHttp::Answer a = c.Read(10s);
    ASSERT_EQ(a.status, 200);
    EXPECT_NE(a.body.find("25 textos contêm"), std::string::npos);
    largest = a.body.size();
  }
  std::string query = "/?idioma=POR";
  for (int page = 1; page <= 31 && !query.empty(); ++page) {
    RawHttp c(port);
    c.Send("GET " + query + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const RawHttp::Answer a = c.Read(10s);
    ASSERT_EQ(a.status, 200) << query;
    largest = std::max(largest, a.body.size());
    std::size_t rows = 0;
    for (std::size_t at = 0; (at = a.body.find("data-programa=\"", at)) != std::string::npos; ++rows) {
      at += 15;
      EXPECT_TRUE(seen.insert(a.body.substr(at, a.body.find('"', at) - at)).second) << "shown twice, page " << page;
    }
    EXPECT_EQ(rows, 100u) << "page " << page;
    const std::size_t next = a.body.find("class=\"proxima\" href=\"");
    query = next == std::string::npos ? "" : a.body.substr(next + 22, a.body.find('"', next + 22) - next - 22);
    for (std::size_t amp; (amp = query.find("&amp;")) != std::string::npos;) query.replace(amp, 5, "&");
    query = query.substr(0, query.find('#'));
  }
  server.Stop();
  runner.join();
  EXPECT_EQ(seen.size(), 3000u);
  EXPECT_LT(largest, 100u * 1024) << "the largest page holds " << largest << " bytes";
}

// Idle sockets of one client address, without any token, cannot take the
// slots of the others: the cap per address is counted at acceptance.
TEST_F(HttpFront, ConnectionsPerAddressAreCappedBeforeTheToken) {
  Start({.max_connections = 100, .max_connections_per_address = 3, .token = kToken});
  std::vector<std::unique_ptr<RawHttp>> idle;
  for (int i = 0; i < 3; ++i) idle.push_back(std::make_unique<RawHttp>(port_));
  RawHttp::Answer refused = Languages(2s, "X-Trd-Token: " + kToken + "\r\n");
  EXPECT_EQ(refused.status, 503);
  EXPECT_THAT(FailureOf(refused), HasSubstr("3 connections are open from 127.0.0.1"));
  EXPECT_EQ(CodeOf(refused), "busy");

  RawHttp other(port_, "127.0.0.2");  // another client is served
  other.Send(RawHttp::Post("/call", kLanguages, "X-Trd-Token: " + kToken + "\r\n"));
  EXPECT_EQ(other.Read(2s).status, 200);

  idle.pop_back();  // once one leaves, its address has room again
  RawHttp::Answer served;
  for (int attempt = 0; attempt < 50 && served.status != 200; ++attempt) {
    std::this_thread::sleep_for(20ms);
    served = Languages(2s, "X-Trd-Token: " + kToken + "\r\n");
  }
  EXPECT_EQ(served.status, 200);
}

TEST_F(HttpFront, TheTokenAndTheSizeAreJudgedFromTheHeadersBeforeAnyBody) {
  Start({.max_request_bytes = 1 << 20, .token = kToken});
  const std::string with_token = "X-Trd-Token: " + kToken + "\r\n";

  // Announced bodies that are never sent: the answer comes from the headers.
  struct Case {
    std::string headers;
    int status;
    std::string message;
  };
  const std::vector<Case> cases{
      {"Content-Length: 1073741824\r\n", 403, "missing or wrong X-Trd-Token"},
      {"Content-Encoding: gzip\r\nContent-Length: 1048576\r\n", 403, "missing or wrong X-Trd-Token"},
      {"Transfer-Encoding: chunked\r\n", 403, "missing or wrong X-Trd-Token"},
      // Another token may be a user's: looked up once the headers pass.
      {"X-Trd-Token: " + kToken + "x\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n", 403,
       "missing or wrong X-Trd-Token"},
      {with_token + "Content-Encoding: gzip\r\nContent-Length: 1048576\r\n", 415, "compressed bodies are not accepted"},
      {with_token + "Transfer-Encoding: gzip, chunked\r\n", 415, "transfer coding \"gzip, chunked\""},
      {with_token + "Content-Length: 1048577\r\n", 413, "exceeds the limit of 1048576 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.headers);
    RawHttp client(port_);
    client.Send("POST /call HTTP/1.1\r\nHost: 127.0.0.1\r\n" + c.headers + "\r\n");
    RawHttp::Answer a = client.Read(2s);
    ASSERT_EQ(a.outcome, RawHttp::Outcome::Answered);
    EXPECT_EQ(a.status, c.status);
    EXPECT_THAT(FailureOf(a), HasSubstr(c.message));
    EXPECT_EQ(CodeOf(a), c.status == 403 ? "unauthorized" : c.status == 415 ? "unsupported" : "too_large");
    EXPECT_TRUE(client.ClosedWithin(3s));
  }

  // A chunked body is counted as it arrives: refused once over the limit,
  // though it announced no size.
  RawHttp endless(port_);
  endless.Send("POST /echo HTTP/1.1\r\nHost: 127.0.0.1\r\n" + with_token + "Transfer-Encoding: chunked\r\n\r\n");
  const std::string chunk = "10000\r\n" + std::string(0x10000, 'z') + "\r\n";
  for (int i = 0; i < 64 && endless.Send(chunk); ++i) {
  }
  RawHttp::Answer a = endless.Read(3s);
  EXPECT_EQ(a.status, 413);
  EXPECT_THAT(FailureOf(a), HasSubstr("exceeds the limit of 1048576 bytes"));

  // Within the limit, chunked and with "Expect: 100-continue", it is served.
  RawHttp fine(port_);
  fine.Send("POST /echo HTTP/1.1\r\nHost: 127.0.0.1\r\n" + with_token +
            "Transfer-Encoding: chunked\r\nExpect: 100-continue\r\n\r\n");
  fine.Send("5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n");
  RawHttp::Answer echoed = fine.Read(2s);
  EXPECT_EQ(echoed.status, 200);
  EXPECT_TRUE(echoed.continued);
  EXPECT_EQ(echoed.body, "hello world");
  EXPECT_EQ(Languages(2s, with_token).status, 200);
}

// HEAD of the page's routes answers as GET does, without the body: a body
// sent anyway would be read as the start of the next answer.
TEST_F(HttpFront, HeadAnswersThePagesRoutesAsGetWithoutTheBody) {
  Start({});
  // The headers but the per-answer cookie value, in order.
  auto headers = [](const std::string& head) {
    std::string kept;
    for (std::size_t at = 0, end; at < head.size(); at = end + 2) {
      end = std::min(head.find("\r\n", at), head.size());
      const std::string line = head.substr(at, end - at);
      kept += line.rfind("Set-Cookie:", 0) == 0 ? line.substr(0, line.find('=')) : line;
      kept += "\n";
    }
    return kept;
  };
  RawHttp c(port_);
  for (const std::string path : {"/", "/painel.css", "/?busca=Salvar"}) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(c.Send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    const RawHttp::Answer got = c.Read(2s);
    ASSERT_EQ(got.status, 200);
    ASSERT_FALSE(got.body.empty());
    ASSERT_TRUE(c.Send("HEAD " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    const RawHttp::Answer head = c.Read(2s, RawHttp::Body::None);
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(headers(head.head), headers(got.head));
    EXPECT_THAT(head.head, HasSubstr("Content-Length: " + std::to_string(got.body.size())));
  }
  // Nothing of a body came after the last HEAD: the connection answers the
  // next request from its first byte.
  ASSERT_TRUE(c.Send(RawHttp::Post("/call", kLanguages)));
  const RawHttp::Answer next = c.Read(2s);
  EXPECT_EQ(next.status, 200);
  EXPECT_THAT(next.body, HasSubstr("Português"));
}

}  // namespace
}  // namespace trd::server
