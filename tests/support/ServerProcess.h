// A `trd serve` child process for tests that need a real server on loopback.
//
//   trd::test::ServerProcess server;            // temp database, free port
//   trd::Connection conn("x", "Trd00200.rdmLeituraDfm");
//   conn.host = server.Host(); conn.port = server.Port();
//
// The constructor starts `TRD_EXE serve --db DB --listen 127.0.0.1:0` (or the
// options' address; the executable path comes from the TRD_EXE macro unless
// given), reads its "listening on http://HOST:PORT" line and returns once the
// server listens;
// it throws std::runtime_error when the child does not announce itself in
// time. Without a database path the server gets a fresh SQLite file in a
// private temporary directory, removed again by the destructor. The destructor
// stops the child with SIGTERM (SIGKILL if it does not end within a few
// seconds) and reaps it. The child's standard error goes to the test's.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TempTree.h"

extern char** environ;

namespace trd::test {

struct ServerProcessOptions {
  std::string exe;            // empty: TRD_EXE
  std::string db;             // empty: a fresh file in a private temp directory
  std::string listen = "127.0.0.1:0";  // a fixed port brings a server back where it was
  std::vector<std::string> extra_args;  // appended to the command line
  std::chrono::milliseconds start_timeout{10000};
};

class ServerProcess {
 public:
  explicit ServerProcess(ServerProcessOptions options = {}) {
    std::string exe = options.exe;
#ifdef TRD_EXE
    if (exe.empty()) exe = TRD_EXE;
#endif
    if (exe.empty()) throw std::runtime_error("ServerProcess: no trd executable (TRD_EXE)");
    db_ = options.db;
    if (db_.empty()) {
      temp_dir_.emplace("trd-server");
      db_ = temp_dir_->Path("trd.sqlite");
    }

    std::vector<std::string> args{exe, "serve", "--db", db_, "--listen", options.listen};
    args.insert(args.end(), options.extra_args.begin(), options.extra_args.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("ServerProcess: pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    int rc = posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_fd_ = fds[0];
    if (rc != 0) {
      pid_ = -1;
      Cleanup();
      throw std::runtime_error("ServerProcess: cannot start " + exe);
    }
    try {
      ReadAnnouncement(options.start_timeout);
    } catch (...) {
      Cleanup();
      throw;
    }
  }

  ~ServerProcess() { Cleanup(); }

  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  const std::string& Host() const { return host_; }
  int Port() const { return port_; }
  std::string Url() const { return "http://" + host_ + ":" + std::to_string(port_); }
  const std::string& DatabasePath() const { return db_; }
  pid_t Pid() const { return pid_; }

  // Sends `sig` and waits for the child to end; returns its wait status
  // (decode with WIFEXITED/WEXITSTATUS), or -1 when it had to be killed after
  // `timeout`. The destructor then only removes the temp directory.
  int Stop(int sig = SIGTERM, std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    if (pid_ <= 0) return status_;
    kill(pid_, sig);
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      int status = 0;
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_ || (r < 0 && errno != EINTR)) {
        status_ = r == pid_ ? status : -1;
        break;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        status_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    return status_;
  }

 private:
  void ReadAnnouncement(std::chrono::milliseconds timeout) {
    const std::string prefix = "listening on http://";
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (line.find('\n') == std::string::npos) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) throw std::runtime_error("ServerProcess: no \"listening on\" line in time");
      pollfd p{out_fd_, POLLIN, 0};
      int r = poll(&p, 1, int(left.count()));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) continue;
      char buf[256];
      ssize_t n = read(out_fd_, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw std::runtime_error("ServerProcess: the server ended before listening: " + line);
      line.append(buf, std::size_t(n));
    }
    line.resize(line.find('\n'));
    if (line.rfind(prefix, 0) != 0) throw std::runtime_error("ServerProcess: unexpected first line: " + line);
    std::string address = line.substr(prefix.size());
    auto colon = address.rfind(':');
    if (colon == std::string::npos) throw std::runtime_error("ServerProcess: no port in: " + line);
    host_ = address.substr(0, colon);
    port_ = std::atoi(address.c_str() + colon + 1);
    if (port_ <= 0) throw std::runtime_error("ServerProcess: no port in: " + line);
  }

  void Cleanup() {
    Stop();
    if (out_fd_ >= 0) close(out_fd_);
    out_fd_ = -1;
    temp_dir_.reset();
  }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int status_ = -1;
  std::string db_;
  std::optional<TempTree> temp_dir_;
  std::string host_;
  int port_ = 0;
};

}  // namespace trd::test
