// One connection of the HTTP front from its acceptance to its close, and the
// state the connections of one server share. Internal to the HTTP front
// (HttpServer.cpp); HttpServer.h states the behaviour.
//
// A connection goes through these phases, all driven from the I/O thread:
//   Idle      waits for the first byte of its next request (keep-alive
//             time-out); holds its socket and a small read buffer only
//   Reading   headers, then (once admitted) the body, within the request
//             time-out from the first byte
//   Handling  the whole request is on a worker of the pool; no time-out. The
//             worker sends the answer itself as far as the socket takes it
//             without waiting (all of it, but for large answers), so that
//             the client need not wait for the I/O thread to wake
//   Writing   the rest of the answer goes out, within the request time-out;
//             then, before the next request is read, the client must take
//             the answer (all but 64 KiB of it still in the socket), within
//             the same time: a client that pipelines requests and never
//             reads holds one answer on the server at most
//   Refusing  a refusal goes out, then what the client still sends is read
//             and dropped for a short while (so that the client reads the
//             refusal rather than a reset), then the connection closes
//   Closed
// Every asynchronous operation holds the connection alive (shared_ptr); it
// is destroyed on the I/O thread when the last one ends.
#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <algorithm>
#include <functional>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include <boost/asio/steady_timer.hpp>

#include "BrowserSessions.h"
#include "ClientThrottle.h"
#include "HttpAdmission.h"
#include "HttpServer.h"
#include "Roles.h"
#include "Service.h"
#include "WebFront.h"

namespace trd::server {

namespace net = boost::asio;
namespace beast = boost::beast;

class HttpSession;

// What the connections of one server share. `sessions`, `serving` and
// `throttle` are touched on the I/O thread only; `stopping` is read by the
// workers too.
struct HttpFront {
  HttpFront(Service& service, const HttpOptions& options)
      : service(service),
        options(options),
        credentials{options.token},
        browser_sessions(service.Storage()),
        workers(std::size_t(std::max(1, options.threads))),
        lookups(std::size_t(std::max(1, options.threads))),
        browsing(BrowsingWorkers(options.threads)) {}

  // Browsing requests run at once: one fewer than the processors (at least
  // one, at most `threads`), so that however many clients search, one
  // processor is left to the changes and look-ups clients wait on.
  static std::size_t BrowsingWorkers(int threads);

  Service& service;
  const HttpOptions& options;
  const Credentials credentials;
  BrowserSessions browser_sessions;  // the page's sign-ins, in the database
  ClientThrottle throttle;           // failed sign-ins and wrong tokens per address
  ServerNames names;  // set by HttpServer::Bind, before any connection
  int port = 0;
  std::unordered_set<HttpSession*> sessions;  // every open connection, refused ones too
  std::size_t serving = 0;                    // those that count against max_connections
  // Of those, per client address (HttpSession::Address), for
  // max_connections_per_address; an address leaves when its count is 0.
  std::unordered_map<std::string, std::size_t> serving_from;
  std::atomic<bool> stopping{false};          // answers close their connections
  // Declared last, destroyed first: the workers are joined while the
  // connections and the I/O context they post back to still exist.
  net::io_context io{1};
  net::thread_pool workers;  // changes, sign-ins, token and session look-ups
  // Look-ups (Workload::LookUp): a pool of their own, so that they never
  // stand in line ahead of a harvest's changes, nor behind them (the storage
  // reads them beside the writer, AcquireReader).
  net::thread_pool lookups;
  // Browsing (Workload::Browse) and the page's routes: a few workers at a
  // lower scheduling priority, the rest waiting in their queue, so that a
  // crowd of searches takes neither the processors from the changes nor
  // the queue from the look-ups.
  net::thread_pool browsing;
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(HttpFront& front, net::ip::tcp::socket socket);
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  // Serves requests until the client leaves, a time-out or a refusal; counts
  // against the connection limit meanwhile. The first request's time-out
  // runs from now.
  void Start();
  // Answers `refusal` at once, without reading a request, and closes.
  void Refuse(Refusal refusal);
  // The client's address (an IPv4-mapped IPv6 address as its IPv4 one);
  // empty when the socket could not tell.
  const std::string& Address() const { return address_; }
  // The server stops: a connection without a whole request in hand closes
  // now; one whose request is being handled or answered closes after the
  // answer.
  void Stop();

 private:
  using Clock = std::chrono::steady_clock;
  enum class Phase { Idle, Reading, Handling, Writing, Refusing, Closed };
  enum class KeepAlive { No, Yes };


  void AwaitRequest();
  void ReadHead(Clock::time_point deadline);
  void OnHead(beast::error_code ec);
  // The user of a token that is not the server's, looked up on a worker;
  // then Admitted() or a refusal.
  void Identify(std::string token);
  // The caller of the session the request's cookie names, looked up on a
  // worker; then Admitted() or a refusal.
  void LookUpSession(std::string id);
  // The request may go on: its body is read.
  void Admitted();
  // A wrong token or a failed sign-in: `then` runs once the address's delay
  // (ClientThrottle) has passed.
  void AfterDelay(std::function<void()> then);
  void ReadBody();
  void OnBody(beast::error_code ec);
  void Dispatch(std::string body);
  void Sent(beast::error_code ec, std::size_t sent, KeepAlive keep_alive, SignIn sign_in);
  void OnWritten(beast::error_code ec, KeepAlive keep_alive);
  // Reads the next request once the client has taken the answer (the
  // socket's unsent and unacknowledged bytes are few); closes the connection
  // when it has not by `deadline`.
  void AwaitTaken(Clock::time_point deadline);
  void RefuseAndClose(Refusal refusal);
  void Discard();
  void Failed(beast::error_code ec);
  void Close();

  HttpFront& front_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<beast::http::request_parser<beast::http::string_body>> parser_;
  std::string out_;  // the answer being sent: status line, headers, body
  Clock::time_point deadline_;
  Phase phase_ = Phase::Idle;
  Admission admission_;
  std::string target_;  // of the request being handled, for the page's query
  std::string cookie_;  // its Cookie header, for the page's forms
  Caller caller_;       // who sent it: the token's holder, or the session's caller
  std::string session_id_;  // the open session it came with; empty: none
  std::string address_;     // the client's address
  net::steady_timer delay_;
  unsigned version_ = 11;
  KeepAlive keep_alive_ = KeepAlive::Yes;
  AnswerBody body_out_ = AnswerBody::Send;  // Omit: a HEAD request
  bool counted_ = false;
};

}  // namespace trd::server
