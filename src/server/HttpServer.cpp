#include "HttpServer.h"

#include <boost/asio/steady_timer.hpp>
#include <cerrno>
#include <climits>

#include "HttpSession.h"
#include "platform/Errors.h"

namespace trd::server {
namespace {

using tcp = net::ip::tcp;

}  // namespace

// The listening socket, the accept loop and the connection limit.
class HttpServer::Impl {
 public:
  Impl(Service& service, const HttpOptions& options) : front(service, options), acceptor(front.io), pause(front.io) {}

  void Accept() {
    acceptor.async_accept(front.io, [this](beast::error_code ec, tcp::socket socket) {
      OnAccept(ec, std::move(socket));
    });
  }

  void Shutdown() {
    front.stopping = true;
    beast::error_code ignored;
    acceptor.close(ignored);
    pause.cancel();
    const std::vector<HttpSession*> open(front.sessions.begin(), front.sessions.end());
    for (HttpSession* session : open) session->Stop();
  }

  HttpFront front;
  tcp::acceptor acceptor;

 private:
  // Refusals being answered at once; more are closed unanswered.
  static constexpr std::size_t kMaxRefusing = 256;
  static constexpr auto kReportEvery = std::chrono::seconds(60);
  using Clock = std::chrono::steady_clock;

  void OnAccept(beast::error_code ec, tcp::socket socket) {
    if (front.stopping || !acceptor.is_open()) return;
    if (ec) {
      if (ec == net::error::operation_aborted) return;
      if (ec == net::error::no_descriptors || ec.value() == ENFILE || ec == net::error::no_buffer_space ||
          ec == net::error::no_memory) {
        // Out of file descriptors: the waiting clients stay in the backlog
        // until connections close; accepting again at once would spin.
        if (Due(lack_reported_) && front.options.log)
          front.options.log("cannot accept connections: " + ec.message() + " (" +
                            std::to_string(front.sessions.size()) + " open)");
        pause.expires_after(std::chrono::milliseconds(100));
        pause.async_wait([this](beast::error_code e) {
          if (!e) Accept();
        });
        return;
      }
      return Accept();  // one client's failure (it reset before acceptance)
    }
    beast::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    auto session = std::make_shared<HttpSession>(front, std::move(socket));
    const auto from = front.serving_from.find(session->Address());
    const std::size_t from_address = from == front.serving_from.end() ? 0 : from->second;
    if (from_address >= front.options.max_connections_per_address) {
      // Before the token: one client's idle sockets cannot take every slot.
      ++refused_from_address_;
      if (Due(address_reported_)) {
        if (front.options.log)
          front.options.log("refused " + std::to_string(refused_from_address_) + " connection(s) from " +
                            session->Address() + ": " + std::to_string(from_address) +
                            " are open from it, the limit (--max-connections-per-address)");
        refused_from_address_ = 0;
      }
      if (front.sessions.size() - front.serving <= kMaxRefusing)
        session->Refuse(TooManyConnectionsFrom(session->Address(), front.options.max_connections_per_address));
    } else if (front.serving < front.options.max_connections) {
      session->Start();
    } else {
      ++refused_;
      if (Due(busy_reported_)) {
        if (front.options.log)
          front.options.log("refused " + std::to_string(refused_) + " connection(s): " +
                            std::to_string(front.serving) + " are open, the limit (--max-connections)");
        refused_ = 0;
      }
      if (front.sessions.size() - front.serving <= kMaxRefusing)
        session->Refuse(TooManyConnections(front.options.max_connections));
      // otherwise the session ends here and its socket closes unanswered
    }
    Accept();
  }

  // Whether a report last made at `last` may be made again (then it is made
  // now): one line per kind and kReportEvery, however busy the server.
  static bool Due(Clock::time_point& last) {
    const auto now = Clock::now();
    if (last != Clock::time_point() && now - last < kReportEvery) return false;
    last = now;
    return true;
  }

  net::steady_timer pause;
  Clock::time_point busy_reported_;
  Clock::time_point address_reported_;
  std::size_t refused_from_address_ = 0;
  Clock::time_point lack_reported_;
  std::size_t refused_ = 0;
};

HttpServer::HttpServer(Service& service, HttpOptions options)
    : options_(std::move(options)), impl_(std::make_unique<Impl>(service, options_)) {}

HttpServer::~HttpServer() { Stop(); }

int HttpServer::Bind() {
  if (bound_port_ >= 0) return bound_port_;
  tcp::acceptor& acceptor = impl_->acceptor;
  beast::error_code ec;
  tcp::resolver resolver(impl_->front.io);
  const auto found = resolver.resolve(options_.host, std::to_string(options_.port),
                                      tcp::resolver::passive | tcp::resolver::numeric_service, ec);
  for (const auto& entry : found) {
    acceptor.open(entry.endpoint().protocol(), ec);
    if (ec) continue;
    // SO_REUSEADDR only (no SO_REUSEPORT): a second server must not bind the
    // same port and silently share the clients.
    acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) acceptor.bind(entry.endpoint(), ec);
    // The kernel caps the backlog at net.core.somaxconn: the system's maximum.
    if (!ec) acceptor.listen(INT_MAX, ec);
    if (!ec) break;
    beast::error_code ignored;
    acceptor.close(ignored);
  }
  if (ec || !acceptor.is_open())
    throw ConnectionError("cannot listen on " + options_.host + ":" + std::to_string(options_.port) +
                          " (address in use, or not an address of this machine)");
  const int port = acceptor.local_endpoint().port();
  try {
    impl_->front.names = MakeServerNames(options_.public_names, options_.host, port);
  } catch (...) {
    acceptor.close(ec);
    throw;
  }
  impl_->front.port = bound_port_ = port;
  return bound_port_;
}

void HttpServer::Run() {
  Bind();
  RunState idle = RunState::Idle;
  if (!state_.compare_exchange_strong(idle, RunState::Running)) throw ConnectionError("the HTTP server runs once");
  if (!stop_requested_) {
    impl_->Accept();
    try {
      impl_->front.io.run();
    } catch (const std::exception& e) {
      state_ = RunState::Done;
      throw ConnectionError(std::string("the HTTP server stopped: ") + e.what());
    }
  }
  state_ = RunState::Done;
}

void HttpServer::Stop() {
  stop_requested_ = true;
  // On the I/O thread; when Run() has not started yet it finds the request
  // and never accepts.
  net::post(impl_->front.io, [impl = impl_.get()] { impl->Shutdown(); });
}

}  // namespace trd::server
