// HTTP/1.1 front of the translation server.
//
//   POST /call   body: an encoded request; answer 200 with the encoded
//                response (a failure is a failure response, still 200)
//   POST /echo   answers the body unchanged (the floor the HTTP stack sets)
//
// Connections are kept alive (many requests each, TCP_NODELAY on) and served
// by a thread pool, one connection per thread at a time. A body larger than
// the limit is refused with 413 and a failure response; a request with an
// unknown path gets 404 with a failure response. When a token is set, /call
// and /echo require it in the X-Trd-Token header (403 otherwise).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "Service.h"
#include "platform/Endpoint.h"

namespace trd::server {

// The address parser lives with the clients' (platform/Endpoint.h).
using trd::AnyPort;
using trd::Endpoint;
using trd::ParseEndpoint;

struct HttpOptions {
  std::string host = "127.0.0.1";
  int port = 8211;  // 0: any free port (see HttpServer::Bind)
  std::size_t max_request_bytes = kDefaultMaxRequestBytes;
  int threads = 16;
  std::chrono::seconds keep_alive_timeout{60};
  std::string token;  // empty: no token required
};

class HttpServer {
 public:
  // The service must outlive the server.
  HttpServer(Service& service, HttpOptions options);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds the listening socket and returns its port (the chosen one when the
  // options ask for port 0). Throws ConnectionError when it cannot bind.
  int Bind();

  // Serves on the bound socket until Stop(); binds first when Bind() was not
  // called. Returns once the listening socket is closed. Throws
  // ConnectionError when serving fails.
  void Run();

  // Stops Run() (from any thread, also before Run() started: Run() then
  // returns at once). In-flight requests on other connections finish.
  void Stop();

  const HttpOptions& Options() const { return options_; }

 private:
  enum class RunState { Idle, Starting, Done };
  class Impl;
  HttpOptions options_;
  std::unique_ptr<Impl> impl_;
  int bound_port_ = -1;
  std::atomic<bool> stop_requested_{false};
  std::atomic<RunState> state_{RunState::Idle};
};

}  // namespace trd::server
