// A scripted HTTP peer on loopback for transport tests: it accepts
// connections on 127.0.0.1 (a free port) and meets each request it reads with
// the next step of its script. The steps cover what a real server does when
// it is restarted, crashes or hangs, at an exact moment:
//   Answer   200 with the body, connection kept alive
//   Close    closes the connection after reading the request, no answer
//   Silent   reads the request and never answers (holds the connection)
// When the script runs out, the last step repeats. Requests() counts the
// requests read (their bodies are kept), Connections() the connections
// accepted. One connection is served at a time, by one thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace trd::test {

class FakeHttpServer {
 public:
  enum class Kind { Answer, Close, Silent };
  struct Step {
    Kind kind = Kind::Answer;
    std::string body;
  };

  explicit FakeHttpServer(std::vector<Step> script) : script_(std::move(script)) {
    if (script_.empty()) throw std::runtime_error("FakeHttpServer: empty script");
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listen_fd_, 8) != 0 || getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      throw std::runtime_error("FakeHttpServer: cannot listen");
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }

  ~FakeHttpServer() {
    stop_ = true;
    thread_.join();
    close(listen_fd_);
  }

  FakeHttpServer(const FakeHttpServer&) = delete;
  FakeHttpServer& operator=(const FakeHttpServer&) = delete;

  int Port() const { return port_; }
  int Requests() const {
    std::lock_guard lock(mutex_);
    return int(bodies_.size());
  }
  std::vector<std::string> Bodies() const {
    std::lock_guard lock(mutex_);
    return bodies_;
  }
  int Connections() const { return connections_; }

 private:
  // Waits for `fd` to be readable; false when stopping.
  bool WaitReadable(int fd) {
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 20) > 0) return true;
    }
    return false;
  }

  void Serve() {
    while (WaitReadable(listen_fd_)) {
      int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      ++connections_;
      ServeConnection(fd);
      close(fd);
    }
  }

  // Reads one request: headers, then Content-Length bytes of body. False when
  // the peer closed first.
  bool ReadRequest(int fd, std::string& pending, std::string& body) {
    std::size_t end;
    while ((end = pending.find("\r\n\r\n")) == std::string::npos)
      if (!ReadMore(fd, pending)) return false;
    std::size_t length = 0;
    std::string head = pending.substr(0, end);
    for (std::size_t at = 0; (at = head.find('\n', at)) != std::string::npos; ++at) {
      std::string line = head.substr(at + 1, head.find('\r', at + 1) - at - 1);
      if (line.size() > 15 && strncasecmp(line.c_str(), "content-length:", 15) == 0)
        length = std::strtoul(line.c_str() + 15, nullptr, 10);
    }
    while (pending.size() < end + 4 + length)
      if (!ReadMore(fd, pending)) return false;
    body = pending.substr(end + 4, length);
    pending.erase(0, end + 4 + length);
    return true;
  }

  bool ReadMore(int fd, std::string& into) {
    if (!WaitReadable(fd)) return false;
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    into.append(buf, std::size_t(n));
    return true;
  }

  void ServeConnection(int fd) {
    std::string pending;
    std::string body;
    while (ReadRequest(fd, pending, body)) {
      Step step;
      {
        std::lock_guard lock(mutex_);
        step = script_[std::min(bodies_.size(), script_.size() - 1)];
        bodies_.push_back(body);
      }
      switch (step.kind) {
        case Kind::Answer: {
          std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                              std::to_string(step.body.size()) + "\r\nConnection: keep-alive\r\n\r\n" + step.body;
          if (write(fd, reply.data(), reply.size()) != ssize_t(reply.size())) return;
          break;
        }
        case Kind::Close:
          return;
        case Kind::Silent:
          while (WaitReadable(fd)) {
            char buf[4096];
            if (read(fd, buf, sizeof buf) <= 0) return;
          }
          return;
      }
    }
  }

  std::vector<Step> script_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> bodies_;
  std::thread thread_;
};

}  // namespace trd::test
