#include "GettextPo.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Errors.h"

#if defined(__SANITIZE_ADDRESS__)
#define TRD_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TRD_LSAN 1
#endif
#endif
#if TRD_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace trd::exchange::po {
namespace {

std::mutex& LibraryLock() {
  static std::mutex m;
  return m;
}

// The call the handler reports to; set while the lock is held.
GettextCall* current = nullptr;

constexpr std::size_t kNoLine = static_cast<std::size_t>(-1);

// While it lives, the leak check of a sanitizer build passes over what is
// allocated: libgettextpo's own leaks in po_file_read (GettextPo.h). A
// no-op in other builds.
class LibraryLeaksIgnored {
 public:
#if TRD_LSAN
  LibraryLeaksIgnored() { __lsan_disable(); }
  ~LibraryLeaksIgnored() { __lsan_enable(); }
#endif
};

}  // namespace

struct HandlerAccess {
  static void Report(int severity, const char* filename, std::size_t lineno, const char* text) {
    GettextCall* call = current;
    if (severity == PO_SEVERITY_FATAL_ERROR && (call == nullptr || call->operation_ == Operation::Write)) {
      std::fprintf(stderr, "trd: libgettextpo: %s\n", text ? text : "fatal error");
      std::abort();
    }
    if (severity == PO_SEVERITY_WARNING || call == nullptr || call->first_error_) return;
    Problem p;
    if (filename) p.file = filename;
    if (filename && lineno != kNoLine) p.line = lineno;
    p.text = text ? text : "error";
    while (!p.text.empty() && p.text.back() == '\n') p.text.pop_back();
    call->first_error_ = std::move(p);
  }

  static void XError(int severity, po_message_t, const char* filename, std::size_t lineno, std::size_t, int,
                     const char* text) {
    Report(severity, filename, lineno, text);
  }

  static void XError2(int severity, po_message_t, const char* filename1, std::size_t lineno1, std::size_t,
                      int, const char* text1, po_message_t, const char*, std::size_t, std::size_t, int,
                      const char*) {
    Report(severity, filename1, lineno1, text1);
  }
};

namespace {
const po_xerror_handler kHandler = {HandlerAccess::XError, HandlerAccess::XError2};
}  // namespace

void FileFree::operator()(po_file_t file) const {
  for (const char* const* domain = po_file_domains(file); *domain; ++domain) {
    MessageIterator it(po_message_iterator(file, *domain));
    while (po_message_t m = po_next_message(it.get())) po_message_set_msgctxt(m, nullptr);
  }
  po_file_free(file);
}

std::string TakeComments(const char* joined) {
  if (joined == nullptr || *joined == '\0') return {};
  std::string s(joined);
  std::free(const_cast<char*>(joined));
  return s;
}

std::optional<std::string> TakeField(const char* fresh) {
  if (fresh == nullptr) return std::nullopt;
  std::string s(fresh);
  std::free(const_cast<char*>(fresh));
  return s;
}

GettextCall::GettextCall(Operation operation) : lock_(LibraryLock()), operation_(operation) {
  current = this;
}

GettextCall::~GettextCall() { current = nullptr; }

po_xerror_handler_t GettextCall::handler() const { return &kHandler; }

PoFile GettextCall::ReadFile(const std::string& path) {
  [[maybe_unused]] LibraryLeaksIgnored scope;
  return PoFile(po_file_read(path.c_str(), handler()));
}

ScratchFile::ScratchFile() {
  fd_ = memfd_create("trd-po-page", MFD_CLOEXEC);
  if (fd_ < 0) throw Error(std::string("cannot make a scratch file for PO output: ") + std::strerror(errno));
  path_ = "/proc/self/fd/" + std::to_string(fd_);
  // The library opens the file by this path; make sure that works before it
  // tries, since it cannot report the failure safely.
  int probe = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
  if (probe < 0) {
    int e = errno;
    ::close(fd_);
    throw Error("cannot open the scratch file " + path_ + " for PO output: " + std::strerror(e));
  }
  ::close(probe);
}

ScratchFile::~ScratchFile() {
  if (fd_ >= 0) ::close(fd_);
}

void ScratchFile::Replace(std::string_view text) {
  if (::ftruncate(fd_, 0) != 0)
    throw Error(std::string("cannot empty the scratch file for a PO page: ") + std::strerror(errno));
  for (std::size_t at = 0; at < text.size();) {
    ssize_t n = ::pwrite(fd_, text.data() + at, text.size() - at, off_t(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Error(std::string("cannot write the scratch file for a PO page: ") + std::strerror(errno));
    at += std::size_t(n);
  }
}

std::string ScratchFile::Contents() const {
  std::string out;
  char buf[65536];
  for (off_t at = 0;;) {
    ssize_t n = ::pread(fd_, buf, sizeof buf, at);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Error(std::string("cannot read the scratch file for PO output: ") + std::strerror(errno));
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
    at += n;
  }
  return out;
}

}  // namespace trd::exchange::po
