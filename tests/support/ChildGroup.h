// Several child processes started together and waited for together, each
// under a deadline, for tests of concurrent clients.
//
//   trd::test::ChildGroup group(std::chrono::seconds(120));
//   for (...) group.Start({TRD_EXE, "harvest", ...}, {"TRD_SERVER="});
//   std::vector<ChildGroup::Ended> ends = group.WaitAll();
//
// Every child runs under coreutils `timeout`: past the deadline it gets
// SIGTERM, and SIGKILL 5 s later, so WaitAll always returns. A child ended
// that way reports timed_out (exit status 124 or 137 from `timeout`). The
// children's pipes are drained by one thread per child, so a talkative child
// never blocks another.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"

namespace trd::test {

class ChildGroup {
 public:
  struct Ended {
    int status = -1;  // the child's exit status (128 + signal when killed)
    bool timed_out = false;
    std::string out;
    std::string err;
  };

  explicit ChildGroup(std::chrono::seconds deadline) : deadline_(deadline) {}

  void Start(std::vector<std::string> args, std::vector<std::string> env = {}) {
    args.insert(args.begin(), {"/usr/bin/timeout", "-k", "5", std::to_string(deadline_.count())});
    children_.push_back(std::make_unique<ChildProcess>(std::move(args), std::move(env)));
  }

  std::vector<Ended> WaitAll() {
    std::vector<Ended> ends(children_.size());
    std::vector<std::thread> waiters;
    for (std::size_t i = 0; i < children_.size(); ++i)
      waiters.emplace_back([this, i, &ends] {
        ChildProcess& c = *children_[i];
        Ended& e = ends[i];
        e.status = c.Wait();
        e.timed_out = e.status == 124 || e.status == 137;
        e.out = c.Out();
        e.err = c.Err();
      });
    for (std::thread& t : waiters) t.join();
    children_.clear();
    return ends;
  }

 private:
  std::chrono::seconds deadline_;
  std::vector<std::unique_ptr<ChildProcess>> children_;
};

}  // namespace trd::test
