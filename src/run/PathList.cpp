#include "PathList.h"

#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "platform/TemporaryFile.h"

namespace trd::run {
namespace {

constexpr std::size_t kBlock = 64 * 1024;  // bytes written or read at a time

}  // namespace

PathList::PathList() : file_(OpenTemporary()) {}

PathList::PathList(const std::vector<std::string>& paths) : PathList() {
  for (const std::string& p : paths) Add(p);
}

PathList::PathList(std::vector<std::string>&& paths) : PathList() {
  for (std::string& p : paths) {
    Add(p);
    std::string().swap(p);
  }
  std::vector<std::string>().swap(paths);
}

PathList::~PathList() {
  if (file_ >= 0) ::close(file_);
}

PathList::PathList(PathList&& other) noexcept { *this = std::move(other); }

PathList& PathList::operator=(PathList&& other) noexcept {
  if (this == &other) return *this;
  if (file_ >= 0) ::close(file_);
  file_ = std::exchange(other.file_, -1);
  count_ = std::exchange(other.count_, 0);
  memory_ = std::move(other.memory_);
  pending_ = std::move(other.pending_);
  written_ = std::exchange(other.written_, 0);
  Rewind();
  other.Rewind();
  return *this;
}

void PathList::Add(std::string_view path) {
  std::string& to = file_ >= 0 ? pending_ : memory_;
  to.append(path);
  to.push_back('\0');
  ++count_;
  if (pending_.size() >= kBlock) Flush();
}

void PathList::Flush() const {
  if (file_ < 0 || pending_.empty()) return;
  if (!WriteAt(file_, pending_, written_)) {
    ToMemory();
    return;
  }
  written_ += pending_.size();
  pending_.clear();
  if (pending_.capacity() > 2 * kBlock) std::string().swap(pending_);
}

void PathList::ToMemory() const {
  // No room on disk: what was written goes on in memory.
  memory_.resize(written_);
  if (!ReadAt(file_, memory_, 0)) throw std::runtime_error("the run's list of files could not be read back");
  memory_ += pending_;
  pending_.clear();
  ::close(file_);
  const_cast<int&>(file_) = -1;
  Rewind();  // the cursor's bytes were the file's
}

void PathList::Rewind() const {
  next_ = 0;
  at_ = 0;
  window_.clear();
  window_at_ = 0;
  current_.clear();
}

bool PathList::NextPath(std::string& path) const {
  if (file_ < 0) {
    const std::size_t end = memory_.find('\0', at_);
    if (end == std::string::npos) return false;
    path.assign(memory_, at_, end - at_);
    at_ = end + 1;
    return true;
  }
  for (;;) {
    const std::size_t end = window_.find('\0', window_at_);
    if (end != std::string::npos) {
      path.assign(window_, window_at_, end - window_at_);
      window_at_ = end + 1;
      return true;
    }
    if (at_ >= written_) return false;
    window_.erase(0, window_at_);
    window_at_ = 0;
    const std::size_t kept = window_.size();
    window_.resize(kept + std::size_t(std::min<std::uint64_t>(kBlock, written_ - at_)));
    std::string block(window_.size() - kept, '\0');
    if (!ReadAt(file_, block, at_)) throw std::runtime_error("the run's list of files could not be read back");
    window_.replace(kept, block.size(), block);
    at_ += block.size();
  }
}

std::string PathList::operator[](std::size_t n) const {
  if (n >= count_) throw std::out_of_range("no file " + std::to_string(n) + " in the run's list");
  Flush();
  if (next_ > 0 && n == next_ - 1) return current_;
  if (n < next_) Rewind();
  while (next_ <= n) {
    if (!NextPath(current_)) throw std::runtime_error("the run's list of files could not be read back");
    ++next_;
  }
  return current_;
}

std::vector<std::string> PathList::Paths() const {
  std::vector<std::string> paths;
  paths.reserve(count_);
  for (std::size_t i = 0; i < count_; ++i) paths.push_back((*this)[i]);
  return paths;
}

}  // namespace trd::run
