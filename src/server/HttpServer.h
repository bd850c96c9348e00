// HTTP/1.1 front of the translation server.
//
//   POST /call   body: an encoded request; answer 200 with the encoded
//                response (a failure is a failure response, still 200)
//   POST /echo   answers the body unchanged (the floor the HTTP stack sets)
//   GET /, GET /painel.css, POST /entrar, POST /sair
//                the progress page and its token form (WebFront.h)
//
// Asynchronous: one I/O thread reads and writes every connection, and the
// requests that arrived whole run on a pool of `threads` workers (the
// storage work). An open connection costs a socket and a few hundred bytes,
// never a thread, so idle kept-alive connections and slow clients do not
// hold up anybody else. Connections are kept alive (many requests each,
// TCP_NODELAY on); one request at a time per connection.
//
// Time-outs: a request's headers and body must have arrived within
// `request_timeout` of its first byte (of the connection's opening, for its
// first request), otherwise the connection is dropped without an answer; an
// answer must be taken within the same time. A connection idle for
// `keep_alive_timeout` between requests is closed.
//
// Admission (HttpAdmission.h) is decided from the headers before any body is
// kept: the Host (400, 421) and the origin of a write (403), token or
// session cookie (403, the session looked up in the database by a worker;
// the page's routes are open; wrong tokens answered late, ClientThrottle.h),
// path
// (404), compressed bodies (415), declared size (413); a chunked body is
// bounded as it arrives (413); headers over 8 KiB
// get 431, bytes that are not HTTP 400. A refusal closes the connection after
// its answer. Beyond `max_connections` open connections, or
// `max_connections_per_address` from the new one's address, a new one gets
// 503 and is closed. Every refusal carries a failure response.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Service.h"
#include "platform/Endpoint.h"

namespace trd::server {

// The address parser lives with the clients' (platform/Endpoint.h).
using trd::AnyPort;
using trd::Endpoint;
using trd::kDefaultPort;
using trd::ParseEndpoint;

inline constexpr std::size_t kDefaultMaxConnections = 5000;
// A fifth of the default limit: one client machine (one process's idle
// sockets, a script gone wrong) cannot take every slot, while a machine
// running many screens and harvests, or a proxy, still has room.
inline constexpr std::size_t kDefaultMaxConnectionsPerAddress = 1000;
inline constexpr std::size_t kMaxHeaderBytes = 8 * 1024;

struct HttpOptions {
  std::string host = "127.0.0.1";
  int port = kDefaultPort;  // 0: any free port (see HttpServer::Bind)
  std::size_t max_request_bytes = kDefaultMaxRequestBytes;
  int threads = 16;  // requests handled at once (the storage work)
  std::size_t max_connections = kDefaultMaxConnections;
  // Open connections from one client address (IPv4, or IPv6; an IPv4-mapped
  // IPv6 address counts as its IPv4 one), counted at acceptance, before any
  // request or token is read.
  std::size_t max_connections_per_address = kDefaultMaxConnectionsPerAddress;
  std::chrono::milliseconds request_timeout{30000};
  std::chrono::milliseconds keep_alive_timeout{60000};
  std::string token;  // empty: no token required
  // The names clients reach the server by (Host), "NAME" or "NAME:PORT";
  // empty: the listening address, localhost, 127.0.0.1 and ::1
  // (MakeServerNames, HttpAdmission.h).
  std::vector<std::string> public_names;
  // Diagnostics of the front itself (connections refused at the limit, no
  // file descriptor left), one line each; none when empty. Called on the
  // I/O thread.
  std::function<void(const std::string&)> log;
};

class HttpServer {
 public:
  // The service must outlive the server.
  HttpServer(Service& service, HttpOptions options);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds the listening socket and returns its port (the chosen one when the
  // options ask for port 0). Throws ConnectionError when it cannot bind,
  // trd::Error for a public name that cannot be one.
  int Bind();

  // Serves on the bound socket, on the calling thread (the I/O thread),
  // until Stop(); binds first when Bind() was not called. Returns once the
  // listening socket is closed and every request that had arrived whole is
  // answered. Throws ConnectionError when serving fails.
  void Run();

  // Stops Run() (from any thread, also before Run() started: Run() then
  // returns at once). The listening socket closes, idle connections and
  // requests still arriving are dropped, requests that arrived whole are
  // handled and answered (then their connections close).
  void Stop();

  const HttpOptions& Options() const { return options_; }

 private:
  enum class RunState { Idle, Running, Done };
  class Impl;
  HttpOptions options_;
  std::unique_ptr<Impl> impl_;
  int bound_port_ = -1;
  std::atomic<bool> stop_requested_{false};
  std::atomic<RunState> state_{RunState::Idle};
};

}  // namespace trd::server
