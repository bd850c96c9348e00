// HTTP/1.1 written by hand over a blocking loopback socket, for tests that
// act as a slow or hostile client would: headers dribbled, bodies announced
// and never sent, encodings the server refuses, connections left open.
//
//   trd::test::RawHttp c(port);              // connects to 127.0.0.1:port
//   c.Send("POST /echo HTTP/1.1\r\n...");
//   RawHttp::Answer a = c.Read(std::chrono::seconds(2));
//   if (a.outcome == RawHttp::Outcome::Answered) ... a.status, a.body
//
// Read() takes one response with a Content-Length body (what the server
// sends); a "100 Continue" interim response is skipped and noted.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

namespace trd::test {

class RawHttp {
 public:
  enum class Outcome { Answered, Closed, TimedOut };
  struct Answer {
    Outcome outcome = Outcome::TimedOut;
    int status = 0;
    std::string head;  // status line and headers
    std::string body;
    bool continued = false;  // a "100 Continue" came first
  };

  // `from`: the loopback address the connection comes from (127.0.0.2 is
  // another client machine as far as the server can tell).
  explicit RawHttp(int port, const char* from = nullptr) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 && from) {
      sockaddr_in local{};
      local.sin_family = AF_INET;
      inet_pton(AF_INET, from, &local.sin_addr);
      if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        close(fd_);
        throw std::runtime_error(std::string("RawHttp: cannot bind to ") + from);
      }
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(std::uint16_t(port));
    if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      if (fd_ >= 0) close(fd_);
      throw std::runtime_error("RawHttp: cannot connect to port " + std::to_string(port));
    }
  }
  ~RawHttp() {
    if (fd_ >= 0) close(fd_);
  }
  RawHttp(const RawHttp&) = delete;
  RawHttp& operator=(const RawHttp&) = delete;

  // False when the server closed the connection (or reset it).
  bool Send(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(std::size_t(n));
    }
    return true;
  }

  // A POST of a JSON body with a Content-Length and the given extra header
  // lines (each ending in "\r\n").
  static std::string Post(std::string_view path, std::string_view body, std::string_view headers = "") {
    return "POST " + std::string(path) + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" +
           std::string(headers) +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
  }

  // Body::None reads the headers only: the answer to HEAD, whose
  // Content-Length is that of the body it leaves out.
  enum class Body { Read, None };
  Answer Read(std::chrono::milliseconds timeout, Body body = Body::Read) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Answer answer;
    for (;;) {
      std::size_t end;
      while ((end = pending_.find("\r\n\r\n")) == std::string::npos)
        if (!More(deadline, answer)) return answer;
      const std::string head = pending_.substr(0, end);
      answer.head = head;
      answer.status = head.size() > 12 ? std::atoi(head.c_str() + 9) : 0;
      std::size_t length = 0;
      for (std::size_t at = 0; (at = head.find('\n', at)) != std::string::npos; ++at)
        if (strncasecmp(head.c_str() + at + 1, "content-length:", 15) == 0)
          length = std::strtoul(head.c_str() + at + 16, nullptr, 10);
      if (answer.status == 100) {
        answer.continued = true;
        pending_.erase(0, end + 4);
        continue;
      }
      if (body == Body::None) length = 0;
      while (pending_.size() < end + 4 + length)
        if (!More(deadline, answer)) return answer;
      answer.body = pending_.substr(end + 4, length);
      pending_.erase(0, end + 4 + length);
      answer.outcome = Outcome::Answered;
      return answer;
    }
  }

  // Whether the server closes the connection within `timeout`; what it
  // sends meanwhile is dropped.
  bool ClosedWithin(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Answer ignored;
    while (More(deadline, ignored)) pending_.clear();
    return ignored.outcome == Outcome::Closed;
  }

 private:
  // Reads what arrives until `deadline`; false (and the outcome set) when the
  // connection closed or time ran out.
  bool More(std::chrono::steady_clock::time_point deadline, Answer& answer) {
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) {
        answer.outcome = Outcome::TimedOut;
        return false;
      }
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, int(left)) <= 0) continue;
      char buf[16384];
      ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) {
        answer.outcome = Outcome::Closed;
        return false;
      }
      pending_.append(buf, std::size_t(n));
      return true;
    }
  }

  int fd_ = -1;
  std::string pending_;
};

}  // namespace trd::test
