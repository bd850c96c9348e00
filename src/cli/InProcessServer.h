// The translation server inside the command's own process: connections made
// with Transports() reach `service` through the in-process transport (its
// values, held to the checks of the encoding; no socket). The server lives as long as this object, which must
// outlive those connections.
#pragma once

#include <memory>

#include "platform/Connection.h"
#include "server/Service.h"

namespace trd::cli {

class InProcessServer {
 public:
  explicit InProcessServer(std::shared_ptr<server::Service> service) : service_(std::move(service)) {}

  TransportFactory Transports() const { return InProcessTransports(service_->Handler(), service_->Values()); }
  server::Service& Service() { return *service_; }

 private:
  std::shared_ptr<server::Service> service_;
};

}  // namespace trd::cli
