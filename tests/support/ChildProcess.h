// A child process for command-line tests: standard input from /dev/null,
// standard output and error captured through pipes (read as they come, so a
// talkative child never blocks), environment entries "NAME=value" set or
// replaced.
//
//   trd::test::ChildProcess child({TRD_EXE, "harvest", dir, "--lang", "POR"});
//   child.WaitForError("1/3");   // until standard error holds the text
//   child.Signal(SIGINT);
//   int status = child.Wait();   // exit status, or 128 + signal
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace trd::test {

class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> args, std::vector<std::string> env = {}) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The inherited environment, without the entries `env` replaces.
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
      std::string entry = *e;
      bool replaced = false;
      for (const std::string& o : env) replaced |= entry.compare(0, o.find('=') + 1, o, 0, o.find('=') + 1) == 0;
      if (!replaced) environment.push_back(std::move(entry));
    }
    environment.insert(environment.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    int rc = posix_spawn(&pid_, args.at(0).c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_fd_ = out[0];
    err_fd_ = err[0];
    if (rc != 0) {
      Close();
      throw std::runtime_error("cannot start " + args.at(0));
    }
  }

  ~ChildProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    Close();
  }

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Reads until standard error holds `text`; false when the child closed it
  // first or `timeout` passed.
  bool WaitForError(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (err_.find(text) == std::string::npos) {
      if (err_fd_ < 0 && out_fd_ < 0) return false;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      Pump(100);
    }
    return true;
  }

  void Signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
  }

  // Waits for the end and returns the exit status (128 + signal when killed).
  int Wait() {
    while (out_fd_ >= 0 || err_fd_ >= 0) Pump(1000);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  const std::string& Out() const { return out_; }
  const std::string& Err() const { return err_; }

 private:
  void Pump(int timeout_ms) {
    pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    if (poll(fds, 2, timeout_ms) <= 0) return;
    ReadFrom(fds[0], out_fd_, out_);
    ReadFrom(fds[1], err_fd_, err_);
  }

  static void ReadFrom(const pollfd& p, int& fd, std::string& into) {
    if (fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR))) return;
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      into.append(buf, std::size_t(n));
    } else if (n == 0 || errno != EINTR) {
      close(fd);
      fd = -1;
    }
  }

  void Close() {
    if (out_fd_ >= 0) close(out_fd_);
    if (err_fd_ >= 0) close(err_fd_);
    out_fd_ = err_fd_ = -1;
  }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  std::string out_;
  std::string err_;
};

}  // namespace trd::test
