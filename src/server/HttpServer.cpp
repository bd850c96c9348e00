#include "HttpServer.h"

#include <httplib.h>

#include <thread>

#include "platform/Errors.h"
#include "platform/Wire.h"

namespace trd::server {
namespace {

constexpr const char* kJson = "application/json";

// Compares in time that depends on the lengths only, so that the answer time
// does not tell how much of a guessed token was right.
bool SameToken(std::string_view given, std::string_view token) {
  unsigned char diff = given.size() == token.size() ? 0 : 1;
  for (std::size_t i = 0; i < given.size(); ++i)
    diff |= static_cast<unsigned char>(given[i] ^ token[i % token.size()]);
  return diff == 0;
}

}  // namespace

class HttpServer::Impl {
 public:
  httplib::Server svr;
};

HttpServer::HttpServer(Service& service, HttpOptions options)
    : options_(std::move(options)), impl_(std::make_unique<Impl>()) {
  auto& svr = impl_->svr;
  const int threads = std::max(1, options_.threads);
  svr.new_task_queue = [threads] { return new httplib::ThreadPool(std::size_t(threads)); };
  svr.set_tcp_nodelay(true);
  // SO_REUSEADDR only: httplib's default SO_REUSEPORT would let a second
  // server bind the same port and silently share its clients.
  svr.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  // A client keeps one connection for a whole import run.
  svr.set_keep_alive_max_count(std::numeric_limits<std::size_t>::max());
  svr.set_keep_alive_timeout(options_.keep_alive_timeout.count());
  svr.set_payload_max_length(options_.max_request_bytes);

  const std::string token = options_.token;
  auto authorized = [token](const httplib::Request& req, httplib::Response& res) {
    if (token.empty() || SameToken(req.get_header_value("X-Trd-Token"), token)) return true;
    res.status = 403;
    res.set_content(wire::EncodeFailure("request refused: missing or wrong X-Trd-Token"), kJson);
    return false;
  };

  svr.Post("/call", [&service, authorized](const httplib::Request& req, httplib::Response& res) {
    if (!authorized(req, res)) return;
    res.set_content(service.Handle(req.body), kJson);
  });
  svr.Post("/echo", [authorized](const httplib::Request& req, httplib::Response& res) {
    if (!authorized(req, res)) return;
    res.set_content(req.body, "application/octet-stream");
  });

  // Errors of the HTTP layer itself (unknown path, body over the limit, a
  // handler that threw) answer in the wire format too, so that a client shows
  // the reason rather than a bare status.
  const std::size_t limit = options_.max_request_bytes;
  svr.set_error_handler(httplib::Server::HandlerWithResponse(
      [limit](const httplib::Request& req, httplib::Response& res) {
    if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    std::string message;
    switch (res.status) {
      case 404: message = "no such service: " + req.method + " " + req.path + " (use POST /call)"; break;
      case 413:
        message = "request refused: the body exceeds the limit of " + std::to_string(limit) + " bytes";
        break;
      default: message = "HTTP " + std::to_string(res.status); break;
    }
    res.set_content(wire::EncodeFailure(message), kJson);
    return httplib::Server::HandlerResponse::Handled;
  }));
  svr.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
    std::string message = "internal error";
    try {
      if (ep) std::rethrow_exception(ep);
    } catch (const std::exception& e) {
      message += std::string(": ") + e.what();
    } catch (...) {
    }
    res.status = 500;
    res.set_content(wire::EncodeFailure(message), kJson);
  });
}

HttpServer::~HttpServer() { Stop(); }

int HttpServer::Bind() {
  if (bound_port_ >= 0) return bound_port_;
  auto& svr = impl_->svr;
  int port = options_.port;
  if (port == 0) {
    port = svr.bind_to_any_port(options_.host);
  } else if (!svr.bind_to_port(options_.host, port)) {
    port = -1;
  }
  if (port < 0)
    throw ConnectionError("cannot listen on " + options_.host + ":" + std::to_string(options_.port) +
                          " (address in use, or not an address of this machine)");
  bound_port_ = port;
  return port;
}

void HttpServer::Run() {
  Bind();
  RunState idle = RunState::Idle;
  if (!state_.compare_exchange_strong(idle, RunState::Starting))
    throw ConnectionError("the HTTP server runs once");
  if (stop_requested_) {
    state_ = RunState::Done;
    return;
  }
  bool ok = impl_->svr.listen_after_bind();
  state_ = RunState::Done;
  if (!ok && !stop_requested_) throw ConnectionError("the HTTP server stopped listening");
}

void HttpServer::Stop() {
  stop_requested_ = true;
  // Run() may be between its check of the request and the listening loop;
  // httplib's stop() only reaches a server that runs.
  while (state_ == RunState::Starting && !impl_->svr.is_running())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  impl_->svr.stop();
}

}  // namespace trd::server
