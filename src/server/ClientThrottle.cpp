#include "ClientThrottle.h"

#include <algorithm>

namespace trd::server {

ClientThrottle::Verdict ClientThrottle::Failed(const std::string& address, Clock::time_point now) {
  if (states_.size() > kSweepAbove) Sweep(now);
  State& s = states_[address];
  if (s.failures > 0 && now - s.next > kForgetAfter) s = {};
  ++s.failures;
  const int doublings = std::min(s.failures - 1, 16);
  const auto delay = std::min<std::chrono::milliseconds>(kFirstDelay * (1 << doublings), kMaxDelay);
  s.next = std::max(s.next, now) + delay;
  return {s.next, delay, s.failures};
}

void ClientThrottle::Succeeded(const std::string& address) { states_.erase(address); }

void ClientThrottle::Sweep(Clock::time_point now) {
  std::erase_if(states_, [&](const auto& entry) { return now - entry.second.next > kForgetAfter; });
}

}  // namespace trd::server
