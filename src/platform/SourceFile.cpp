#include "SourceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Errors.h"

namespace trd {
namespace {

// A descriptor open on a regular file, closed with the object.
class RegularFile {
 public:
  // O_NONBLOCK: opening a FIFO without a writer returns at once instead of
  // waiting for one; it is refused just below. Regular files ignore the flag.
  explicit RegularFile(const std::string& path) : path_(path) {
    do {
      fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) throw FileError(path + ": cannot open: " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
      const int err = errno;
      ::close(fd_);
      throw FileError(path + ": cannot open: " + std::strerror(err));
    }
    if (!S_ISREG(st.st_mode)) {
      ::close(fd_);
      throw FileError(path + ": cannot open: not a regular file");
    }
    size_ = std::size_t(st.st_size);
  }
  ~RegularFile() { ::close(fd_); }
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  std::size_t Size() const { return size_; }

  // Appends up to `count` bytes to `out`; fewer only at the end of the file.
  // Room is made for the size measured at open (and one byte more, which
  // shows the end at once), then grown should the file have grown.
  void ReadInto(std::string& out, std::size_t count) {
    const std::size_t start = out.size();
    std::size_t got = 0;
    std::size_t room = std::min(count, size_ + 1);
    bool at_end = false;
    while (!at_end) {
      out.resize(start + room);
      while (got < room) {
        ssize_t n = ::read(fd_, out.data() + start + got, room - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
          const int err = errno;
          out.resize(start);
          throw FileError(path_ + ": cannot read: " + std::strerror(err));
        }
        if (n == 0) {
          at_end = true;
          break;
        }
        got += std::size_t(n);
      }
      if (room == count) break;
      room = std::min(count, room + std::max<std::size_t>(room, 65536));
    }
    out.resize(start + got);
  }

 private:
  const std::string& path_;
  int fd_ = -1;
  std::size_t size_ = 0;
};

[[noreturn]] void RefuseTooLarge(const std::string& path, std::size_t size) {
  throw FileError(path + ": " + std::to_string(size) + " bytes exceed the limit of " +
              std::to_string(kMaxSourceFileBytes >> 20) + " MiB for a form or report file");
}

}  // namespace

void ReadSourceFile(std::string_view path, std::string& out) {
  const std::string p(path);
  RegularFile file(p);
  if (file.Size() > kMaxSourceFileBytes) RefuseTooLarge(p, file.Size());
  out.clear();
  // One byte past the limit tells a file that grew since it was measured.
  file.ReadInto(out, kMaxSourceFileBytes + 1);
  if (out.size() > kMaxSourceFileBytes) {
    const std::size_t size = out.size();
    out.clear();
    RefuseTooLarge(p, size);
  }
}

std::string ReadSourceFile(std::string_view path) {
  std::string out;
  ReadSourceFile(path, out);
  return out;
}

std::string ReadSourceFileHead(std::string_view path, std::size_t count) {
  const std::string p(path);
  RegularFile file(p);
  std::string out;
  file.ReadInto(out, count);
  return out;
}

}  // namespace trd
