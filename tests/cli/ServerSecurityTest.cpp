// What `trd serve` lets in: the token (from --token-file or the environment)
// checked on every request, through `trd call` and `trd harvest`; requests
// that declare absurd sizes refused without being processed; the server
// still serving after them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/Wire.h"
#include "support/ChildProcess.h"
#include "support/ServerDatabase.h"
#include "support/ServerProcess.h"
#include "support/StoredRecords.h"
#include "support/TempTree.h"

namespace trd::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::string kForms = "Trd00200.rdmLeituraDfm";
const std::string kToken = "7f3c9a1e-token";
const std::string kRefused = "request refused: missing or wrong X-Trd-Token";

class ServeSecurity : public ::testing::Test {
 protected:
  std::string Write(const std::string& relative, const std::string& text, mode_t mode = 0600) const {
    std::string p = dir_.Write(relative, text);
    chmod(p.c_str(), mode);
    return p;
  }
  std::string Path(const std::string& relative) const { return dir_.Path(relative); }

  // Runs `trd ARGS` to its end; the test's own token settings are dropped
  // unless `env` sets them.
  int Trd(std::vector<std::string> args, std::vector<std::string> env = {}) {
    args.insert(args.begin(), TRD_EXE);
    for (std::string name : {"TRD_SERVER=", "TRD_TOKEN=", "TRD_TOKEN_FILE="})
      if (std::none_of(env.begin(), env.end(), [&](const std::string& e) { return e.starts_with(name); }))
        env.push_back(name);
    ChildProcess child(args, env);
    status = child.Wait();
    out = child.Out();
    err = child.Err();
    return status;
  }

  int status = -1;
  std::string out;
  std::string err;

 private:
  TempTree dir_{"trd-security"};
};

TEST_F(ServeSecurity, TheTokenFileGuardsCallAndHarvest) {
  const std::string token_file = Write("token", kToken + "\n");  // the line break is not part of it
  ServerDatabase db;
  ServerProcess server({.db = db.Url(), .extra_args = {"--token-file", token_file}});
  const std::vector<std::string> languages{"call", "--server", server.Url(), kForms, "GetIdiLeDfm"};

  EXPECT_EQ(Trd(languages), 1);
  EXPECT_THAT(err, HasSubstr(kRefused));
  EXPECT_EQ(Trd(languages, {"TRD_TOKEN=" + kToken + "x"}), 1);
  EXPECT_THAT(err, HasSubstr(kRefused));
  EXPECT_EQ(Trd(languages, {"TRD_TOKEN=" + kToken.substr(1)}), 1);

  EXPECT_EQ(Trd(languages, {"TRD_TOKEN=" + kToken}), 0) << err;
  EXPECT_THAT(out, HasSubstr("\"POR\""));
  EXPECT_EQ(Trd(languages, {"TRD_TOKEN_FILE=" + token_file}), 0) << err;
  EXPECT_EQ(Trd(languages, {"TRD_TOKEN_FILE=" + Path("no-such-file")}), 1);
  EXPECT_THAT(err, HasSubstr("cannot open the token file " + Path("no-such-file")));

  Write("src/Cli/Src/A.dfm", "object frmA: TForm\n  Caption = 'Pedido'\nend\n");
  const std::vector<std::string> harvest{"harvest", Path("src"), "--lang", "POR", "--yes", "--server", server.Url()};
  EXPECT_EQ(Trd(harvest), 1);
  EXPECT_THAT(err, HasSubstr(kRefused));
  EXPECT_EQ(ReadRecords(db.Url()).size(), 0u);
  EXPECT_EQ(Trd(harvest, {"TRD_TOKEN_FILE=" + token_file}), 0) << err;
  EXPECT_EQ(ReadRecords(db.Url()).size(), 1u);
}

// Personal tokens made with `trd user` beside the server's token: each acts
// with its user's role, through the same clients; a disabled user's is
// refused before anything is read.
TEST_F(ServeSecurity, PersonalTokensCarryTheirUsersRoleUntilDisabled) {
  const std::string token_file = Write("token", kToken + "\n");
  ServerDatabase db;
  ServerProcess server({.db = db.Url(), .extra_args = {"--token-file", token_file}});
  ASSERT_EQ(Trd({"user", "add", "rui", "--role", "reader", "--db", db.Url()}), 0) << err;
  const std::string reader = out.substr(0, out.find('\n'));
  ASSERT_EQ(Trd({"user", "add", "eva", "--role", "harvester", "--db", db.Url()}), 0) << err;
  const std::string harvester = out.substr(0, out.find('\n'));
  EXPECT_EQ(Trd({"user", "add", "eva", "--role", "admin", "--db", db.Url()}), 1);
  EXPECT_THAT(err, HasSubstr("exists already"));
  EXPECT_EQ(Trd({"user", "add", "ivo", "--role", "chefe", "--db", db.Url()}), 1);
  EXPECT_THAT(err, HasSubstr("reader, translator, reviewer, harvester, admin"));

  EXPECT_EQ(Trd({"call", "--server", server.Url(), kForms, "GetIdiLeDfm"}, {"TRD_TOKEN=" + reader}), 0) << err;
  Write("src/Cli/Src/A.dfm", "object frmA: TForm\n  Caption = 'Pedido'\nend\n");
  const std::vector<std::string> harvest{"harvest", Path("src"), "--lang", "POR", "--yes", "--server", server.Url()};
  EXPECT_EQ(Trd(harvest, {"TRD_TOKEN=" + reader}), 1);
  EXPECT_THAT(err, HasSubstr("does not permit harvest"));
  EXPECT_EQ(ReadRecords(db.Url()).size(), 0u);
  EXPECT_EQ(Trd(harvest, {"TRD_TOKEN=" + harvester}), 0) << err;
  EXPECT_EQ(ReadRecords(db.Url()).size(), 1u);

  EXPECT_EQ(Trd({"user", "disable", "eva", "--db", db.Url()}), 0) << err;
  EXPECT_EQ(Trd(harvest, {"TRD_TOKEN=" + harvester}), 1);
  EXPECT_THAT(err, HasSubstr("disabled"));
  EXPECT_EQ(Trd({"call", "--server", server.Url(), kForms, "GetIdiLeDfm"}, {"TRD_TOKEN=" + kToken}), 0) << err;

  ChildProcess typed({"/bin/sh", "-c", "printf 'senha certa\\n' | \"$0\" user set-password rui --db \"$1\"", TRD_EXE,
                      db.Url()});
  EXPECT_EQ(typed.Wait(), 0) << typed.Err();
  EXPECT_EQ(Trd({"user", "list", "--db", db.Url()}), 0) << err;
  EXPECT_THAT(out, HasSubstr("eva\tharvester\tdisabled\tno password"));
  EXPECT_THAT(out, HasSubstr("rui\treader\tenabled\tpassword"));
}

TEST_F(ServeSecurity, ATokenFileThatCannotServeIsRefusedAndAnOpenOneWarned) {
  struct Case {
    std::string file;
    std::string message;
  };
  const std::vector<Case> refused{
      {Write("empty", ""), "is empty"},
      {Write("blank-line", "\r\n"), "is empty"},
      {Write("blanks", "  \t \n"), "is empty but for blanks"},
      {Write("two-lines", "abc\ndef\n"), "control character"},
      {Path("missing"), "cannot open the token file " + Path("missing")},
      {Path(""), "is not a regular file"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(Trd({"serve", "--db", ":memory:", "--listen", "127.0.0.1:0", "--token-file", c.file}), 1);
    EXPECT_THAT(err, HasSubstr(c.message));
    EXPECT_THAT(out, Not(HasSubstr("listening on")));
  }

  const std::string open_file = Write("open-token", kToken + "\n", 0644);
  ChildProcess server({TRD_EXE, "serve", "--db", ":memory:", "--listen", "127.0.0.1:0", "--token-file", open_file});
  ASSERT_TRUE(server.WaitForError("trd serve: sqlite")) << server.Err();  // it serves
  EXPECT_THAT(server.Err(),
              HasSubstr("warning: the token file " + open_file + " grants access to its group or others"));
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(), 0);
}

// An HTTP header value arrives without the blanks around it, so a token kept
// with them would refuse every client, even one given the same file.
TEST_F(ServeSecurity, BlanksAroundTheTokenAreDroppedAndABlankTokenRefusedAtStart) {
  const std::string token_file = Write("token", " " + kToken + " \t\r\n");
  ServerProcess server({.db = ":memory:", .extra_args = {"--token-file", token_file}});
  const std::vector<std::string> languages{"call", "--server", server.Url(), kForms, "GetIdiLeDfm"};
  EXPECT_EQ(Trd(languages, {"TRD_TOKEN_FILE=" + token_file}), 0) << err;
  EXPECT_EQ(Trd(languages, {"TRD_TOKEN=" + kToken}), 0) << err;
  EXPECT_EQ(Trd(languages, {"TRD_TOKEN=" + kToken + " "}), 0) << err;
  EXPECT_EQ(Trd(languages, {"TRD_TOKEN=" + kToken + "x"}), 1);
  EXPECT_THAT(err, HasSubstr(kRefused));

  EXPECT_EQ(Trd({"serve", "--db", ":memory:", "--listen", "127.0.0.1:0"}, {"TRD_TOKEN=   "}), 1);
  EXPECT_THAT(err, HasSubstr("TRD_TOKEN is empty but for blanks"));
  EXPECT_THAT(out, Not(HasSubstr("listening on")));
}

TEST_F(ServeSecurity, ListeningBeyondLoopbackWithoutATokenIsWarned) {
  ChildProcess server({TRD_EXE, "serve", "--db", ":memory:", "--listen", "0.0.0.0:0"},
                      {"TRD_TOKEN=", "TRD_TOKEN_FILE="});
  ASSERT_TRUE(server.WaitForError("trd serve: sqlite")) << server.Err();
  EXPECT_THAT(server.Err(), HasSubstr("warning: listening on 0.0.0.0 without a token"));
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(), 0);
}

// Raw requests, as a hostile client would write them.
class RequestLimits : public ::testing::Test {
 protected:
  RequestLimits()
      : server({.db = db.Url(), .extra_args = {"--max-request-mib", "1"}}), http("127.0.0.1", server.Port()) {
    http.set_read_timeout(std::chrono::seconds(30));
  }

  // The failure message of the answer to `body`; empty when it succeeded.
  std::string Failure(const std::string& body, int expected_status = 200) {
    auto res = http.Post("/call", body, "application/json");
    if (!res) return "no answer: " + httplib::to_string(res.error());
    EXPECT_EQ(res->status, expected_status);
    Value v = wire::DecodeResponse(res->body);
    const auto* f = std::get_if<ServerFailure>(&v);
    return f ? f->message : "";
  }

  void ExpectStillServing() {
    EXPECT_EQ(Failure(R"({"module":"Trd00200.rdmLeituraDfm","method":"GetIdiLeDfm","args":[]})"), "");
  }

  ServerDatabase db;
  ServerProcess server;
  httplib::Client http;
};

TEST_F(RequestLimits, AbsurdCountsAreRefusedBeforeAnythingIsDone) {
  std::string args;
  for (int i = 0; i < 10000; ++i) args += (i ? ",\"x\"" : "\"x\"");
  EXPECT_EQ(Failure(R"({"module":"Trd00200.rdmLeituraDfm","method":"GetVerProp","args":[)" + args + "]}"),
            "malformed message: the request has 10000 arguments; at most 64 are accepted");

  std::string fields;
  for (int i = 0; i < 5000; ++i)
    fields += std::string(i ? "," : "") + R"(["F)" + std::to_string(i) + R"(","string",1])";
  const std::string delta = R"({"module":"Trd00200.rdmLeituraDfm","method":"SetVerProp","args":[{"delta":{"fields":[)" +
                            fields + R"(],"changes":[]}}]})";
  EXPECT_EQ(Failure(delta), "malformed message: 5000 field definitions; at most 1024 are accepted");

  // Nesting half a million levels deep: refused, not a crash.
  const std::string deep = R"({"module":"m","method":"x","args":[)" + std::string(500000, '[') + "]}";
  EXPECT_THAT(Failure(deep), HasSubstr("malformed message"));

  EXPECT_THAT(Failure(std::string(2 << 20, ' '), 413), HasSubstr("exceeds the limit of 1048576 bytes"));
  ExpectStillServing();
  EXPECT_EQ(ReadRecords(db.Url()).size(), 0u);
}

}  // namespace
}  // namespace trd::test
