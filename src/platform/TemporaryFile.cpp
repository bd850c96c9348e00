#include "TemporaryFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace trd {

int OpenTemporary() {
  const char* env = std::getenv("TMPDIR");
  const std::string dir = env && *env ? env : "/tmp";
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string name = dir + "/trd-run-XXXXXX";
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

bool WriteAt(int fd, const std::string& bytes, std::uint64_t at) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, off_t(at + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += std::size_t(n);
  }
  return true;
}

bool ReadAt(int fd, std::string& bytes, std::uint64_t at) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, off_t(at + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += std::size_t(n);
  }
  return true;
}

}  // namespace trd
