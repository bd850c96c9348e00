#include "HttpSession.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/status.hpp>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <algorithm>
#include <exception>
#include <limits>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "HeapRelease.h"
#include "WebFront.h"
#include "platform/Wire.h"

namespace trd::server {
namespace {

namespace bhttp = beast::http;
using tcp = net::ip::tcp;

// Read when an idle connection wakes; the parser asks for more as it needs.
constexpr std::size_t kFirstRead = 1024;
// Bytes read ahead of the parser at most: headers are limited to
// kMaxHeaderBytes, and a body moves on into the request as it arrives, so
// only a chunk header or trailer without end could fill this.
constexpr std::size_t kBufferLimit = 128 * 1024;
// An idle connection keeps at most this much of its read buffer.
constexpr std::size_t kIdleBufferKeep = 16 * 1024;
// How long the rest of a refused request is read and dropped before the
// connection closes.
constexpr auto kLinger = std::chrono::seconds(2);

// The next request of a connection is read only once its client has taken
// the answer before, but for this much: a client that sends requests and
// never reads holds one answer on the server, not one per request.
constexpr std::size_t kUntakenAllowance = 64 * 1024;
// How often a connection whose answer is not taken yet looks again.
constexpr auto kTakenPoll = std::chrono::milliseconds(20);

constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

bool SameAscii(beast::string_view a, std::string_view b) {
  return beast::iequals(a, beast::string_view(b.data(), b.size()));
}

std::string_view View(beast::string_view s) { return {s.data(), s.size()}; }

enum class KeepAliveHeader { No, Yes };

using Headers = std::vector<std::pair<std::string, std::string>>;

// An answer as it goes on the wire: status line, Content-Type,
// Content-Length, the Connection header where the version needs it, the
// `extra` headers, body (none for HEAD, the Content-Length still its size).
std::string FormatAnswer(unsigned version, int status, std::string_view content_type, std::string_view body,
                         KeepAliveHeader keep_alive, AnswerBody body_out, const Headers& extra = {}) {
  const auto reason = bhttp::obsolete_reason(bhttp::int_to_status(unsigned(status)));
  std::string out;
  out.reserve(128 + body.size());
  out += version == 10 ? "HTTP/1.0 " : "HTTP/1.1 ";
  out += std::to_string(status);
  out += ' ';
  out.append(reason.data(), reason.size());
  out += "\r\nContent-Type: ";
  out += content_type;
  out += "\r\nContent-Length: ";
  out += std::to_string(body.size());
  if (keep_alive == KeepAliveHeader::No && version != 10) out += "\r\nConnection: close";
  if (keep_alive == KeepAliveHeader::Yes && version == 10) out += "\r\nConnection: keep-alive";
  for (const auto& [name, value] : extra) {
    out += "\r\n";
    out += name;
    out += ": ";
    out += value;
  }
  out += "\r\n\r\n";
  if (body_out == AnswerBody::Send) out += body;
  return out;
}

// A browsing worker runs at a lower scheduling priority (nice +10, once per
// thread): when searches take their processor, a harvest's changes still
// get most of it, and the searches what is left.
void YieldToChanges() {
  static thread_local const bool lowered = [] {
    return ::setpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)), 10) == 0;
  }();
  (void)lowered;
}

}  // namespace

std::size_t HttpFront::BrowsingWorkers(int threads) {
  const int processors = int(std::thread::hardware_concurrency());
  return std::size_t(std::clamp(processors - 1, 1, std::max(1, threads)));
}

HttpSession::HttpSession(HttpFront& front, tcp::socket socket)
    : front_(front), stream_(std::move(socket)), buffer_(kBufferLimit), delay_(front.io) {
  front_.sessions.insert(this);
  beast::error_code no_address;
  const auto peer = stream_.socket().remote_endpoint(no_address);
  if (!no_address) {
    const auto a = peer.address();
    address_ = a.is_v6() && a.to_v6().is_v4_mapped()
                   ? net::ip::make_address_v4(net::ip::v4_mapped, a.to_v6()).to_string()
                   : a.to_string();
  }
  // Synchronous writes (the workers' answers) return at once rather than
  // wait; asynchronous operations are not affected.
  beast::error_code ignored;
  stream_.socket().non_blocking(true, ignored);
}

HttpSession::~HttpSession() {
  front_.sessions.erase(this);
  if (!counted_) return;
  --front_.serving;
  if (auto it = front_.serving_from.find(address_); it != front_.serving_from.end() && --it->second == 0)
    front_.serving_from.erase(it);
}

void HttpSession::Start() {
  counted_ = true;
  ++front_.serving;
  ++front_.serving_from[address_];
  ReadHead(Clock::now() + front_.options.request_timeout);
}

void HttpSession::Refuse(Refusal refusal) { RefuseAndClose(std::move(refusal)); }

void HttpSession::Stop() {
  if (phase_ != Phase::Handling && phase_ != Phase::Writing) Close();
}

void HttpSession::AwaitRequest() {
  phase_ = Phase::Idle;
  if (buffer_.capacity() > kIdleBufferKeep) buffer_.shrink_to_fit();
  stream_.expires_after(front_.options.keep_alive_timeout);
  stream_.async_read_some(buffer_.prepare(kFirstRead),
                          [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                            if (ec) return self->Close();
                            self->buffer_.commit(n);
                            self->ReadHead(Clock::now() + self->front_.options.request_timeout);
                          });
}

void HttpSession::ReadHead(Clock::time_point deadline) {
  phase_ = Phase::Reading;
  deadline_ = deadline;
  body_out_ = AnswerBody::Send;  // until the method is known
  parser_.emplace();
  parser_->header_limit(std::uint32_t(kMaxHeaderBytes));
  // The declared size is judged by Admit, after the token; the parser would
  // refuse it first. (Not boost::none: Beast 1.74 takes that for a limit of
  // nothing.)
  parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
  stream_.expires_at(deadline_);
  bhttp::async_read_header(stream_, buffer_, *parser_,
                           [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnHead(ec); });
}

void HttpSession::OnHead(beast::error_code ec) {
  if (ec) return Failed(ec);
  const auto& request = parser_->get();
  RequestHead head;
  head.method = View(request.method_string());
  body_out_ = AnswerBodyFor(head.method);
  head.target = View(request.target());
  if (auto host = request.find(bhttp::field::host); host != request.end()) head.host = View(host->value());
  head.origin = View(request[bhttp::field::origin]);
  head.fetch_site = View(request["Sec-Fetch-Site"]);
  head.content_type = View(request[bhttp::field::content_type]);
  head.token = View(request["X-Trd-Token"]);
  head.cookie = View(request[bhttp::field::cookie]);
  head.content_encoding = View(request[bhttp::field::content_encoding]);
  head.transfer_encoding = View(request[bhttp::field::transfer_encoding]);
  if (auto length = parser_->content_length()) head.content_length = *length;
  auto verdict = Admit(head, front_.credentials, front_.names, front_.port, front_.options.max_request_bytes);
  const bool token_given = !front_.credentials.token.empty() && !head.token.empty();
  const bool token_right = token_given && SameToken(head.token, front_.credentials.token);
  if (auto* refusal = std::get_if<Refusal>(&verdict)) {
    if (!token_given || token_right || refusal->status != 403) return RefuseAndClose(std::move(*refusal));
    phase_ = Phase::Refusing;
    return AfterDelay([this, refusal = std::move(*refusal)]() mutable { RefuseAndClose(std::move(refusal)); });
  }
  if (token_right) front_.throttle.Succeeded(address_);
  admission_ = std::get<Admission>(verdict);
  target_.assign(head.target.data(), head.target.size());
  cookie_.assign(head.cookie.data(), head.cookie.size());
  caller_ = Caller{};
  session_id_.clear();
  if (admission_.access == Access::Unverified) return Identify(std::string(head.token));
  if (admission_.access == Access::Session) return LookUpSession(std::string(CookieValue(head.cookie, kSessionCookie)));
  Admitted();
}

void HttpSession::Identify(std::string token) {
  // The users are in the storage, and a first verification takes a while by
  // design (Users.h): a worker finds the user, the I/O thread goes on.
  phase_ = Phase::Handling;
  net::post(front_.workers, [self = shared_from_this(), token = std::move(token),
                             work = net::make_work_guard(front_.io)]() mutable {
    std::variant<Caller, Refusal> outcome;
    bool wrong = false;  // nobody's token: answered late, as a wrong token is
    try {
      const TokenVerifier::Holder holder = self->front_.service.Identify(token);
      if (holder.verdict == TokenVerifier::Verdict::Known) {
        outcome = holder.caller;
      } else if (holder.verdict == TokenVerifier::Verdict::Disabled) {
        outcome = Unauthorized("the user of this X-Trd-Token is disabled");
      } else if (!self->front_.credentials.token.empty()) {
        outcome = WrongToken();
        wrong = true;
      }
      // A server without a token serves everyone: a text that is nobody's
      // token is no reason to refuse.
    } catch (const std::exception& e) {
      outcome = InternalError(e.what());
    }
    net::io_context& io = self->front_.io;
    net::post(io, [self = std::move(self), outcome = std::move(outcome), wrong]() mutable {
      if (self->phase_ == Phase::Closed) return;
      if (self->front_.stopping) return self->Close();  // the body was not read yet
      self->phase_ = Phase::Reading;
      if (auto* refusal = std::get_if<Refusal>(&outcome)) {
        if (!wrong) return self->RefuseAndClose(std::move(*refusal));
        self->phase_ = Phase::Refusing;
        return self->AfterDelay([self, refusal = std::move(*refusal)]() mutable { self->RefuseAndClose(std::move(refusal)); });
      }
      self->front_.throttle.Succeeded(self->address_);
      self->caller_ = std::get<Caller>(std::move(outcome));
      self->Admitted();
    });
  });
}

void HttpSession::LookUpSession(std::string id) {
  // The sessions are in the storage: a worker looks, the I/O thread goes on.
  phase_ = Phase::Handling;
  net::post(front_.workers, [self = shared_from_this(), id = std::move(id),
                             work = net::make_work_guard(front_.io)]() mutable {
    std::optional<Caller> caller;
    std::optional<Refusal> failed;
    try {
      caller = self->front_.browser_sessions.Find(id);
    } catch (const std::exception& e) {
      failed = InternalError(e.what());
    }
    net::io_context& io = self->front_.io;
    net::post(io, [self = std::move(self), id = std::move(id), caller = std::move(caller),
                   failed = std::move(failed)]() mutable {
      if (self->phase_ == Phase::Closed) return;
      if (self->front_.stopping) return self->Close();  // the body was not read yet
      self->phase_ = Phase::Reading;
      if (failed) return self->RefuseAndClose(std::move(*failed));
      if (caller) {
        self->admission_.access = Access::Granted;
        self->caller_ = std::move(*caller);
        self->session_id_ = std::move(id);
      } else {
        self->admission_.access = Access::Denied;
        const Route route = self->admission_.route;
        if (route == Route::Call || route == Route::Echo) return self->RefuseAndClose(WrongToken());
      }
      self->Admitted();
    });
  });
}

void HttpSession::AfterDelay(std::function<void()> then) {
  const auto verdict = front_.throttle.Failed(address_, ClientThrottle::Clock::now());
  if (front_.options.log)
    front_.options.log("wrong token from " + address_ + " (" + std::to_string(verdict.failures) +
                       " in a row): answered after " + std::to_string(verdict.delay.count()) + " ms");
  delay_.expires_at(verdict.answer_at);
  delay_.async_wait([self = shared_from_this(), then = std::move(then)](beast::error_code) {
    if (self->phase_ == Phase::Closed) return;
    then();
  });
}

void HttpSession::Admitted() {
  const auto& request = parser_->get();
  // Bounds a chunked body as it arrives.
  parser_->body_limit(std::uint64_t(BodyLimit(admission_.route, front_.options.max_request_bytes)));

  if (!SameAscii(request[bhttp::field::expect], "100-continue")) return ReadBody();
  stream_.expires_at(deadline_);
  net::async_write(stream_, net::buffer(kContinue.data(), kContinue.size()),
                   [self = shared_from_this()](beast::error_code ec, std::size_t) {
                     if (ec) return self->Failed(ec);
                     self->ReadBody();
                   });
}

void HttpSession::ReadBody() {
  stream_.expires_at(deadline_);
  bhttp::async_read(stream_, buffer_, *parser_,
                    [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnBody(ec); });
}

void HttpSession::OnBody(beast::error_code ec) {
  if (ec) return Failed(ec);
  auto& request = parser_->get();
  keep_alive_ = request.keep_alive() ? KeepAlive::Yes : KeepAlive::No;
  version_ = request.version();
  std::string body = std::move(request.body());
  parser_.reset();
  Dispatch(std::move(body));
}

void HttpSession::Dispatch(std::string body) {
  phase_ = Phase::Handling;
  stream_.expires_never();
  // The work guard keeps the I/O thread running (Run() from returning) until
  // the worker has posted back.
  const Route route = admission_.route;
  const Workload load = route == Route::Call ? Service::WorkloadOf(body)
                        : route == Route::Page || route == Route::Style || route == Route::WorkList ||
                                route == Route::TextView || route == Route::Script
                            ? Workload::Browse
                            : Workload::Change;
  net::thread_pool& pool = load == Workload::Browse   ? front_.browsing
                           : load == Workload::LookUp ? front_.lookups
                                                      : front_.workers;
  net::post(pool, [self = shared_from_this(), body = std::move(body), work = net::make_work_guard(front_.io),
                   browsing = load == Workload::Browse]() mutable {
    if (browsing) YieldToChanges();
    int status = 200;
    std::string content_type = "application/json";
    std::string answer;
    Headers extra;
    SignIn sign_in = SignIn::None;
    try {
      const Route route = self->admission_.route;
      if (route == Route::Call) {
        answer = self->front_.service.Handle(body, self->caller_);
      } else if (route == Route::Echo) {
        answer = std::move(body);
        content_type = "application/octet-stream";
      } else {
        WebAnswer web = AnswerWeb({route, self->admission_.access, self->target_, body, self->cookie_,
                                   self->session_id_, self->address_, self->caller_},
                                  self->front_.service, self->front_.credentials, self->front_.browser_sessions);
        sign_in = web.sign_in;
        status = web.status;
        content_type = std::move(web.content_type);
        answer = std::move(web.body);
        extra = std::move(web.headers);
      }
    } catch (const std::exception& e) {  // Handle() does not throw; an allocation might
      Refusal failed = InternalError(e.what());
      status = failed.status;
      answer = std::move(failed.body);
    }
    const KeepAlive keep_alive = self->front_.stopping ? KeepAlive::No : self->keep_alive_;
    self->out_ = FormatAnswer(self->version_, status, content_type, answer,
                              keep_alive == KeepAlive::Yes ? KeepAliveHeader::Yes : KeepAliveHeader::No,
                              self->body_out_, extra);
    const std::size_t answer_bytes = answer.size();
    answer = {};
    ReleaseAfterAnswer(answer_bytes);
    net::io_context& io = self->front_.io;
    if (sign_in == SignIn::Failed) {  // answered late, from the I/O thread
      net::post(io, [self = std::move(self), keep_alive] {
        self->AfterDelay([self, keep_alive] { self->Sent({}, 0, keep_alive, SignIn::Failed); });
      });
      return;
    }
    // The socket is non-blocking and the I/O thread has no operation on it
    // now: what the kernel takes at once goes out from here.
    beast::error_code ec;
    std::size_t sent = 0;
    auto& socket = self->stream_.socket();
    while (sent < self->out_.size() && !ec)
      sent += socket.write_some(net::buffer(self->out_.data() + sent, self->out_.size() - sent), ec);
    if (ec == net::error::would_block || ec == net::error::try_again) ec = {};
    net::post(io, [self = std::move(self), ec, sent, keep_alive, sign_in] {
      self->Sent(ec, sent, keep_alive, sign_in);
    });
  });
}

void HttpSession::Sent(beast::error_code ec, std::size_t sent, KeepAlive keep_alive, SignIn sign_in) {
  if (sign_in == SignIn::Succeeded) front_.throttle.Succeeded(address_);
  if (ec || phase_ == Phase::Closed) return Close();
  if (sent == out_.size()) return OnWritten({}, keep_alive);
  phase_ = Phase::Writing;
  stream_.expires_after(front_.options.request_timeout);
  net::async_write(stream_, net::buffer(out_.data() + sent, out_.size() - sent),
                   [self = shared_from_this(), keep_alive](beast::error_code ec, std::size_t) {
                     self->OnWritten(ec, keep_alive);
                   });
}

void HttpSession::OnWritten(beast::error_code ec, KeepAlive keep_alive) {
  out_.clear();
  if (out_.capacity() > kIdleBufferKeep) out_.shrink_to_fit();
  if (ec || keep_alive == KeepAlive::No || front_.stopping) return Close();
  AwaitTaken(Clock::now() + front_.options.request_timeout);
}

void HttpSession::AwaitTaken(Clock::time_point deadline) {
  int unsent = 0;
  if (::ioctl(stream_.socket().native_handle(), SIOCOUTQ, &unsent) != 0 || unsent <= int(kUntakenAllowance)) {
    if (buffer_.size() > 0) return ReadHead(Clock::now() + front_.options.request_timeout);  // pipelined
    return AwaitRequest();
  }
  if (Clock::now() >= deadline) return Close();  // the answer was not taken in time
  // Nothing of the client's is read meanwhile; Stop() closes it as an idle one.
  phase_ = Phase::Idle;
  delay_.expires_after(kTakenPoll);
  delay_.async_wait([self = shared_from_this(), deadline](beast::error_code) {
    if (self->phase_ == Phase::Closed) return;
    self->AwaitTaken(deadline);
  });
}

void HttpSession::RefuseAndClose(Refusal refusal) {
  phase_ = Phase::Refusing;
  parser_.reset();
  out_ = FormatAnswer(version_, refusal.status, "application/json", refusal.body, KeepAliveHeader::No, body_out_);
  deadline_ = Clock::now() + kLinger;
  stream_.expires_at(deadline_);
  net::async_write(stream_, net::buffer(out_), [self = shared_from_this()](beast::error_code ec, std::size_t) {
    self->out_ = {};
    if (ec) return self->Close();
    beast::error_code ignored;
    self->stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    self->buffer_.clear();
    self->Discard();
  });
}

void HttpSession::Discard() {
  if (phase_ == Phase::Closed) return;
  stream_.expires_at(deadline_);
  stream_.async_read_some(buffer_.prepare(4096), [self = shared_from_this()](beast::error_code ec, std::size_t) {
    self->buffer_.clear();
    if (ec) return self->Close();
    self->Discard();
  });
}

void HttpSession::Failed(beast::error_code ec) {
  if (phase_ == Phase::Closed) return;
  // A time-out (a slow client) or a client that left: nothing to answer.
  if (ec.category() != bhttp::make_error_code(bhttp::error::bad_target).category() ||
      ec == bhttp::error::end_of_stream || ec == bhttp::error::partial_message)
    return Close();
  if (ec == bhttp::error::header_limit) return RefuseAndClose(HeadersTooLarge(kMaxHeaderBytes));
  if (ec == bhttp::error::body_limit)
    return RefuseAndClose(BodyTooLarge(BodyLimit(admission_.route, front_.options.max_request_bytes)));
  RefuseAndClose(MalformedHttp(ec.message()));
}

void HttpSession::Close() {
  if (phase_ == Phase::Closed) return;
  phase_ = Phase::Closed;
  // The parser stays: a read still in flight holds a reference to it and
  // completes (cancelled) after this; it goes with the session.
  delay_.cancel();
  beast::error_code ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
  stream_.close();
}

}  // namespace trd::server
