// A scan against the real translation server on an in-memory database,
// reached through the in-process transport, text by text as the screen
// sends them. Every request is recorded before
// the server answers it, so tests can check the order of the server calls;
// a chosen call can be answered with a failure instead.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "extract/FormScanner.h"
#include "platform/Connection.h"
#include "platform/Wire.h"
#include "server/Service.h"
#include "store/Record.h"
#include "store/Store.h"
#include "store/TextChannels.h"
#include "support/StoredRecords.h"

namespace trd::extract::testing {

// Splits form text at line feeds (a carriage return before one is dropped).
inline std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t nl = text.find('\n', start);
    std::string_view line =
        text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out.emplace_back(line);
    if (nl == std::string_view::npos) break;
    start = nl + 1;
  }
  return out;
}

using test::Stored;

class ScanTest : public ::testing::Test {
 protected:
  // The server's answer to one request, recorded first; the chosen call of
  // fail_method is refused instead.
  std::string Answer(std::string_view body) {
    wire::Request r = wire::DecodeRequest(body);
    calls.push_back(r);
    if (r.method == fail_method && ++fail_seen >= fail_on_call) return wire::EncodeFailure("recusado pelo servidor");
    return service->Handle(body);
  }

  ScanEnvironment Env() {
    return ScanEnvironment{channel,
                           cancel,
                           language,
                           dates,
                           [this](const std::string& s) {
                             status.push_back(s);
                             if (on_status) on_status();
                           },
                           [this] {
                             ++events;
                             if (on_events) on_events();
                           }};
  }

  // Scans `text` as the lines of one form file.
  void Scan(std::string_view text, std::string program = "Cadastro") {
    lines = Lines(text);
    Import(Env(), lines, std::move(program));
  }

  // Method names of the recorded calls, in order.
  std::vector<std::string> Methods() const {
    std::vector<std::string> m;
    for (const auto& c : calls) m.push_back(c.method);
    return m;
  }

  // Arguments of the n-th recorded call of `method` (0-based).
  const std::vector<Value>& ArgsOf(std::string_view method, std::size_t n = 0) const {
    for (const auto& c : calls)
      if (c.method == method && n-- == 0) return c.args;
    throw std::runtime_error("no such call: " + std::string(method));
  }

  // The translation table in creation order.
  std::vector<Stored> Records() { return test::RecordsInCreationOrder(*service->Storage().Acquire()); }

  // "COMPONENT/Property/number=value" of every record, for compact checks.
  std::vector<std::string> Summary() {
    std::vector<std::string> out;
    for (const auto& r : Records())
      out.push_back(r.component + "/" + r.property + "/" + std::to_string(int(r.number)) + "=" +
                    r.value);
    return out;
  }

  std::shared_ptr<server::Service> service = server::Service::Open(":memory:");
  shared::Services services;
  store::Store store{services, InProcessTransports([this](std::string_view body) { return Answer(body); })};
  bool cancel = false;
  std::string language = "POR";
  DateTimeText dates;
  store::PerTextChannel channel{store, dates};  // the screen's calls, text by text
  std::vector<std::string> lines;
  std::vector<wire::Request> calls;
  std::vector<std::string> status;
  int events = 0;
  std::function<void()> on_status, on_events;
  std::string fail_method;
  int fail_on_call = 1, fail_seen = 0;
};

}  // namespace trd::extract::testing
