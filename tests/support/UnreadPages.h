// Clients that ask the server for its largest page of records and never read
// the answer, and a table whose pages are large: the load under which the
// server's memory must stay bounded (each connection holds one answer at
// most, and a page is bounded in bytes; docs/server.md "Bounded memory").
//
//   trd::test::SeedLargeRecords(db_path, 2000, 4000);  // 2000 records, 8000-byte texts
//   trd::test::ServerProcess server({.db = db_path});
//   trd::test::UnreadPages clients(server.Port(), 25, 3);  // 25 clients, 3 requests each
//   ... trd::test::StatusKiB(server.Pid(), "VmHWM")
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "RawHttp.h"
#include "platform/Wire.h"
#include "protocol/Exchange.h"
#include "protocol/Methods.h"
#include "server/Records.h"
#include "server/Schema.h"
#include "server/Service.h"

namespace trd::test {

// Stores `count` records of language POR whose source text and translation
// each hold `chars` ASCII characters, into the SQLite file `db_path`.
inline void SeedLargeRecords(const std::string& db_path, int count, std::size_t chars) {
  auto service = server::Service::Open(db_path);
  auto session = service->Storage().Acquire();
  std::vector<Change> changes;
  for (int i = 0; i < count; ++i) {
    std::string text(chars, char('a' + i % 26));
    text.replace(0, 8, std::to_string(10000000 + i));
    changes.push_back({ChangeKind::Insert, {},
                       Row{std::string("PROGRAMA"), std::string("FRMPROGRAMA"), "COMP" + std::to_string(i),
                           std::string("Caption"), 0.0, std::string("N"), text, text,
                           DateTime::FromParts(2024, 5, 1, 10), std::string("POR")}});
  }
  server::ApplyChangeSet(*session, server::TranslationTable(),
                         ChangeSet{server::TranslationTable().fields, std::move(changes)});
}

// A field of /proc/PID/status in KiB ("VmHWM", "VmRSS"); 0 when absent.
inline long StatusKiB(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
  return 0;
}

// The largest page of the language's records, as raw HTTP.
inline std::string LargestPageRequest() {
  const std::string body = wire::EncodeRequest(
      {std::string(protocol::kModuleExchange), std::string(protocol::kGetRegistros),
       {std::string("POR"), std::string("all"), std::string(), std::string(), std::string("key"), std::string(),
        std::int64_t(protocol::kMaxPageRows)}});
  return RawHttp::Post("/call", body);
}

// `clients` connections, each sending `requests` of the largest page at once
// (pipelined) and never reading; they stay open until destroyed.
class UnreadPages {
 public:
  UnreadPages(int port, int clients, int requests) {
    std::string pipelined;
    for (int r = 0; r < requests; ++r) pipelined += LargestPageRequest();
    for (int c = 0; c < clients; ++c) {
      connections_.push_back(std::make_unique<RawHttp>(port));
      connections_.back()->Send(pipelined);
    }
  }

 private:
  std::vector<std::unique_ptr<RawHttp>> connections_;
};

}  // namespace trd::test
