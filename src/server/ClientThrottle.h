// Failed sign-ins and wrong tokens, per client address: each failure is
// answered later than the last, the delay doubling from kFirstDelay up to
// kMaxDelay, so that guessing the token from one address takes ever longer
// (failures sent at once, over many connections, queue behind each other).
// A success resets the address and is itself never delayed: the right token
// is answered at once, whatever was guessed before. Kept per process, in
// memory; used on the I/O thread only.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <unordered_map>

namespace trd::server {

class ClientThrottle {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kFirstDelay{100};
  static constexpr std::chrono::milliseconds kMaxDelay{5000};

  struct Verdict {
    Clock::time_point answer_at;  // when the refusal goes out
    std::chrono::milliseconds delay;
    int failures = 0;  // in a row from the address, this one included
  };

  // A failure from `address` at `now`.
  Verdict Failed(const std::string& address, Clock::time_point now);
  // A success from `address`: its failures are forgotten.
  void Succeeded(const std::string& address);

 private:
  struct State {
    int failures = 0;
    Clock::time_point next;  // the earliest time the next refusal goes out
  };
  // Addresses quiet for this long are forgotten when the table is swept.
  static constexpr std::chrono::minutes kForgetAfter{15};
  static constexpr std::size_t kSweepAbove = 4096;
  void Sweep(Clock::time_point now);

  std::unordered_map<std::string, State> states_;
};

}  // namespace trd::server
