#include "WriterTurns.h"

#include <utility>

#include "platform/Errors.h"

namespace trd::server {

void WriterTurns::Group::Await() {
  std::unique_lock lock(mutex_);
  ended_.wait(lock, [&] { return done_; });
  if (!failure_.empty()) throw StorageError(failure_);
}

void WriterTurns::Group::End(std::string failure) {
  {
    std::lock_guard lock(mutex_);
    if (done_) return;
    done_ = true;
    failure_ = std::move(failure);
  }
  ended_.notify_all();
}

void WriterTurns::Enter(Kind kind) {
  Waiter me{kind, {}};
  std::unique_lock lock(mutex_);
  line_.push_back(&me);
  me.woken.wait(lock, [&] { return !held_ && line_.front() == &me; });
  line_.pop_front();
  held_ = true;
  if (kind == Kind::Together) ++members_;
}

void WriterTurns::Opened(std::shared_ptr<Group> group) {
  group_ = std::move(group);
  members_ = 1;
}

bool WriterTurns::PassOn() {
  std::lock_guard lock(mutex_);
  if (!group_ || members_ >= kMaxGroup || line_.empty() || line_.front()->kind != Kind::Together) return false;
  held_ = false;
  line_.front()->woken.notify_one();
  return true;
}

std::shared_ptr<WriterTurns::Group> WriterTurns::Close() {
  members_ = 0;
  return std::exchange(group_, nullptr);
}

void WriterTurns::Leave() {
  std::lock_guard lock(mutex_);
  held_ = false;
  if (!line_.empty()) line_.front()->woken.notify_one();
}

}  // namespace trd::server
