// The translation server inside the command's own process: every connection
// made while an InProcessServer lives reaches `service` through the
// in-process transport (same encoding, no socket). The process-wide transport
// factory is restored when it ends.
#pragma once

#include <memory>
#include <string>

#include "platform/Connection.h"
#include "server/Service.h"

namespace trd::cli {

class InProcessServer {
 public:
  explicit InProcessServer(std::shared_ptr<server::Service> service) : service_(std::move(service)) {
    SetTransportFactory([svc = service_](const std::string&, int) { return MakeInProcessTransport(svc->Handler()); });
  }
  ~InProcessServer() { SetTransportFactory(nullptr); }
  InProcessServer(const InProcessServer&) = delete;
  InProcessServer& operator=(const InProcessServer&) = delete;

  server::Service& Service() { return *service_; }

 private:
  std::shared_ptr<server::Service> service_;
};

}  // namespace trd::cli
