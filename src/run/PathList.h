// The selected files of a run, held off the heap: a tree of tens of
// thousands of files costs a run no more memory than a tree of a few.
//
// Paths are appended to an unnamed temporary file in TMPDIR (else /tmp),
// gone when the list is destroyed, each path followed by a NUL byte (no path
// holds one), and read back through a buffer of a fixed size. A run reads its
// list in order from the first path, so a read of path n right after path
// n - 1 (or n again) costs no seek; a read further back starts again from
// the first path. Without a temporary directory, or when a write fails, the
// paths are kept in memory in the same form.
//
// Not for use by two threads at once: reading moves the list's cursor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace trd::run {

class PathList {
 public:
  PathList();
  // The paths of `paths`, in order: a list of the screen's or a test's.
  PathList(const std::vector<std::string>& paths);  // NOLINT: implicit, as a vector was taken before
  PathList(std::vector<std::string>&& paths);       // NOLINT: frees `paths` as it goes
  ~PathList();
  PathList(PathList&& other) noexcept;
  PathList& operator=(PathList&& other) noexcept;
  PathList(const PathList&) = delete;
  PathList& operator=(const PathList&) = delete;

  void Add(std::string_view path);
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  // Path n (< size()).
  std::string operator[](std::size_t n) const;
  // The paths as a vector (for a caller that needs them all at once).
  std::vector<std::string> Paths() const;

 private:
  void Flush() const;          // writes the pending bytes out
  void ToMemory() const;       // leaves the file: its bytes go on in memory
  void Rewind() const;         // the cursor back to path 0
  bool NextPath(std::string& path) const;  // the path at the cursor; moves on

  int file_ = -1;                  // -1: memory_ holds the bytes
  std::size_t count_ = 0;
  mutable std::string memory_;     // the bytes, without a file
  mutable std::string pending_;    // bytes not yet written to the file
  mutable std::uint64_t written_ = 0;
  // The cursor: the next path's index and byte, and a window of bytes read.
  mutable std::size_t next_ = 0;
  mutable std::uint64_t at_ = 0;
  mutable std::string window_;
  mutable std::size_t window_at_ = 0;  // the cursor's byte in window_
  mutable std::string current_;        // path next_ - 1
};

}  // namespace trd::run
