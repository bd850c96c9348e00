// A relay on loopback that times every HTTP call passing through it, for the
// per-call times of clients it cannot change (a `trd harvest` child):
//
//   CallClock clock;
//   ... start the server, naming clock.Url()'s host and port as its own
//   (trd serve --public-name), then clock.Forward(server.Port()) ...
//   ... run the clients against clock.Url() ...
//   clock.Slowest()   // seconds, from a request's first byte to its answer's
//
// One thread relays every connection (poll), so the relay adds a loopback
// hop each way and no threads that compete with the clients and the server.
// A call is timed from the first byte of a request the client sends (with no
// call outstanding on that connection) to the first byte of the answer: the
// clients send one request at a time per connection and wait for its answer.
// Writes block: the bodies are small against loopback's socket buffers.
// Destruction closes everything and joins the thread.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace trd::bench {

class CallClock {
 public:
  CallClock() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) throw std::runtime_error("CallClock: socket failed");
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = Loopback(0);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener_, 128) != 0)
      throw std::runtime_error("CallClock: cannot listen on loopback");
    socklen_t len = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    if (pipe2(wake_, O_CLOEXEC) != 0) throw std::runtime_error("CallClock: pipe failed");
    thread_ = std::thread([this] { Relay(); });
  }
  ~CallClock() {
    (void)!write(wake_[1], "x", 1);
    thread_.join();
    for (const Link& l : links_) {
      close(l.client);
      close(l.server);
    }
    close(listener_);
    close(wake_[0]);
    close(wake_[1]);
  }
  CallClock(const CallClock&) = delete;
  CallClock& operator=(const CallClock&) = delete;

  // Where the connections accepted from now on go.
  void Forward(int target_port) { target_port_ = target_port; }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // Forgets the calls timed so far.
  void Clear() {
    std::lock_guard lock(mutex_);
    seconds_.clear();
  }
  // The slowest call timed since the last Clear: seconds (0 without any)
  // and method.
  struct Call {
    double seconds = 0;
    std::string method;
  };
  Call Slowest() const {
    std::lock_guard lock(mutex_);
    Call slowest;
    for (const Call& c : seconds_)
      if (c.seconds > slowest.seconds) slowest = c;
    return slowest;
  }
  std::size_t Calls() const {
    std::lock_guard lock(mutex_);
    return seconds_.size();
  }

 private:
  using Clock = std::chrono::steady_clock;
  struct Link {
    int client, server;
    bool waiting = false;  // a request went out, its answer has not begun
    Clock::time_point sent;
    std::string method;  // of the request waiting
  };

  static sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(std::uint16_t(port));
    return a;
  }

  // Copies what `from` has to `to`; false when either end closed. `method`
  // (when given) takes the first "method" member of what was read, if any.
  static bool Pass(int from, int to, std::string* method = nullptr) {
    char buf[65536];
    const ssize_t n = read(from, buf, sizeof buf);
    if (n <= 0) return false;
    if (method) {
      const std::string_view text(buf, std::size_t(n));
      constexpr std::string_view kKey = "\"method\":\"";
      if (const std::size_t at = text.find(kKey); at != std::string_view::npos)
        *method = text.substr(at + kKey.size(), text.find('"', at + kKey.size()) - at - kKey.size());
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(to, buf + done, std::size_t(n - done));
      if (w <= 0) return false;
      done += w;
    }
    return true;
  }

  void Accept() {
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(target_port_);
    if (server < 0 || connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(client);
      if (server >= 0) close(server);
      return;
    }
    int one = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    links_.push_back({client, server, false, {}, {}});
  }

  void Relay() {
    for (;;) {
      std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
      for (const Link& l : links_) {
        fds.push_back({l.client, POLLIN, 0});
        fds.push_back({l.server, POLLIN, 0});
      }
      if (poll(fds.data(), fds.size(), -1) < 0) continue;
      if (fds[0].revents) return;
      const auto now = Clock::now();
      std::vector<Link> kept;
      for (std::size_t i = 0; i < links_.size(); ++i) {
        Link l = links_[i];
        bool open = true;
        if (fds[2 + 2 * i].revents) {
          const bool first = !l.waiting;
          if (first) {
            l.sent = now;
            l.method.clear();
          }
          l.waiting = true;
          open = Pass(l.client, l.server, l.method.empty() ? &l.method : nullptr);
        }
        if (open && fds[3 + 2 * i].revents) {
          if (l.waiting) {
            std::lock_guard lock(mutex_);
            seconds_.push_back({std::chrono::duration<double>(now - l.sent).count(), l.method});
          }
          l.waiting = false;
          open = Pass(l.server, l.client);
        }
        if (open) {
          kept.push_back(l);
        } else {
          close(l.client);
          close(l.server);
        }
      }
      links_ = std::move(kept);
      if (fds[1].revents) Accept();
    }
  }

  std::atomic<int> target_port_{0};
  int listener_ = -1;
  int port_ = 0;
  int wake_[2] = {-1, -1};
  std::vector<Link> links_;  // the relay thread's alone
  mutable std::mutex mutex_;
  std::vector<Call> seconds_;
  std::thread thread_;
};

}  // namespace trd::bench
