// A TCP proxy on loopback that delays every packet by a fixed time in each
// direction, to measure a client against a server as if a network lay
// between them (a round trip costs twice the delay on top of loopback's).
//
//   LatencyProxy proxy("127.0.0.1", server_port, std::chrono::milliseconds(5));
//   ... connect to proxy.Url() ...
//
// It listens on 127.0.0.1 only, on a free port. Each accepted connection
// gets a connection to the target and, per direction, a reader that stamps
// every chunk it reads with its due time and a writer that sends it when
// due, in order; bytes are never reordered, merged chunks keep the earliest
// chunk's due time. Bounded: at most kMaxConnections connections (further
// ones are closed at once) and kMaxQueued bytes waiting per direction (the
// reader waits beyond, as a full network window would). Destruction closes
// everything and joins every thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace trd::bench {

class LatencyProxy {
 public:
  static constexpr int kMaxConnections = 64;
  static constexpr std::size_t kMaxQueued = std::size_t(16) << 20;

  LatencyProxy(std::string target_host, int target_port, std::chrono::microseconds delay)
      : target_host_(std::move(target_host)), target_port_(target_port), delay_(delay) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) throw std::runtime_error("LatencyProxy: socket failed");
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener_, 128) != 0)
      throw std::runtime_error("LatencyProxy: cannot listen on loopback");
    socklen_t len = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
  }

  ~LatencyProxy() {
    stopping_ = true;
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    acceptor_.join();
    std::lock_guard lock(links_mutex_);
    for (auto& l : links_) l->Stop();
    links_.clear();  // joins their threads
  }
  LatencyProxy(const LatencyProxy&) = delete;
  LatencyProxy& operator=(const LatencyProxy&) = delete;

  int Port() const { return port_; }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  using Clock = std::chrono::steady_clock;

  struct Chunk {
    Clock::time_point due;
    std::string bytes;
  };

  // One direction of one connection.
  struct Pipe {
    int from = -1, to = -1;
    std::chrono::microseconds delay{};
    std::mutex m;
    std::condition_variable cv;
    std::deque<Chunk> queue;
    std::size_t queued = 0;
    bool closed = false;  // the reader is done
    std::atomic<bool>* stop = nullptr;

    void Read() {
      char buf[65536];
      for (;;) {
        pollfd p{from, POLLIN, 0};
        if (poll(&p, 1, 100) == 0) {
          if (*stop) break;
          continue;
        }
        const ssize_t n = read(from, buf, sizeof buf);
        if (n <= 0) break;
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return queued < kMaxQueued || *stop; });
        queue.push_back({Clock::now() + delay, std::string(buf, std::size_t(n))});
        queued += std::size_t(n);
        cv.notify_all();
      }
      std::lock_guard lock(m);
      closed = true;
      cv.notify_all();
    }

    void Write() {
      for (;;) {
        Chunk c;
        {
          std::unique_lock lock(m);
          cv.wait(lock, [&] { return !queue.empty() || closed || *stop; });
          if (queue.empty()) break;
          c = std::move(queue.front());
          queue.pop_front();
          queued -= c.bytes.size();
          cv.notify_all();
        }
        std::this_thread::sleep_until(c.due);
        for (std::size_t sent = 0; sent < c.bytes.size();) {
          const ssize_t n = send(to, c.bytes.data() + sent, c.bytes.size() - sent, MSG_NOSIGNAL);
          if (n <= 0) return;
          sent += std::size_t(n);
        }
      }
      shutdown(to, SHUT_WR);
    }
  };

  struct Link {
    int client = -1, server = -1;
    std::atomic<bool> stop{false};
    Pipe up, down;
    std::vector<std::thread> threads;

    Link(int c, int s, std::chrono::microseconds delay) : client(c), server(s) {
      up.from = client, up.to = server, down.from = server, down.to = client;
      up.delay = down.delay = delay;
      up.stop = down.stop = &stop;
      threads.emplace_back([this] { up.Read(); });
      threads.emplace_back([this] { up.Write(); });
      threads.emplace_back([this] { down.Read(); });
      threads.emplace_back([this] { down.Write(); });
    }
    void Stop() {
      stop = true;
      for (Pipe* p : {&up, &down}) {
        std::lock_guard lock(p->m);
        p->cv.notify_all();
      }
    }
    ~Link() {
      Stop();
      for (auto& t : threads) t.join();
      close(client);
      close(server);
    }
  };

  int Connect() const {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(target_port_));
    inet_pton(AF_INET, target_host_.c_str(), &a.sin_addr);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(s);
      return -1;
    }
    return s;
  }

  void Accept() {
    while (!stopping_) {
      const int c = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) {
        if (stopping_) return;
        continue;
      }
      std::lock_guard lock(links_mutex_);
      const int s = int(links_.size()) < kMaxConnections ? Connect() : -1;
      if (s < 0) {
        close(c);
        continue;
      }
      int one = 1;
      setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      links_.push_back(std::make_unique<Link>(c, s, delay_));
    }
  }

  std::string target_host_;
  int target_port_;
  std::chrono::microseconds delay_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::mutex links_mutex_;
  std::vector<std::unique_ptr<Link>> links_;
};

}  // namespace trd::bench
