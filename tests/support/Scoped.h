// RAII guards for the process state tests change: an environment variable,
// and any object reached through a global accessor. What was there before
// comes back when the guard goes, also when the test fails half-way.
//
//   ScopedEnv server("TRD_SERVER", url);              // unset: std::nullopt
//   ScopedValue services(gui::ModuleServices(), fake);
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>

namespace trd::test {

class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* old = getenv(name_.c_str())) saved_ = old;
    Set(value);
  }
  ~ScopedEnv() { Set(saved_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const std::optional<std::string>& value) {
    if (value)
      setenv(name_.c_str(), value->c_str(), 1);
    else
      unsetenv(name_.c_str());
  }
  std::string name_;
  std::optional<std::string> saved_;
};

template <class T>
class ScopedValue {
 public:
  ScopedValue(T& target, T value) : target_(target), saved_(std::move(target)) { target_ = std::move(value); }
  ~ScopedValue() { target_ = std::move(saved_); }
  ScopedValue(const ScopedValue&) = delete;
  ScopedValue& operator=(const ScopedValue&) = delete;

 private:
  T& target_;
  T saved_;
};

}  // namespace trd::test
