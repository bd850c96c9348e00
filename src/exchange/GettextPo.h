// RAII and error capture around GNU gettext's libgettextpo (Debian
// libgettextpo-dev), the library PO files are written and read with.
//
// The library is not thread-safe: it reports problems through a handler it
// keeps in global variables while a call runs. Every call that takes a
// handler runs inside a GettextCall, which holds one process-wide lock and
// collects what the library reports.
//
// Quirks of libgettextpo 0.21 handled here:
//   - po_file_free leaves every msgctxt behind: PoFile clears them first;
//   - po_file_domain_header returns a fresh copy: TakeField;
//   - po_file_read leaks its copy of the file name (and, for a malformed
//     file, some of what it parsed): a few bytes per read, which the
//     sanitizer build's leak check is told to pass over (GettextCall::ReadFile);
//   - po_message_comments and po_message_extracted_comments return a fresh
//     string the caller must free (or a constant "" when there is none):
//     TakeComments copies and frees it; po_header_field's result is always
//     fresh: TakeField;
//   - the handler must not return from a fatal error when writing (the
//     library then crashes): fatal errors while writing end the process
//     with a message. Writes go to a scratch file this process has just
//     opened, so the one fatal error the library has there (cannot create
//     the output file) cannot happen.
#pragma once

#include <gettext-po.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace trd::exchange::po {

struct FileFree {
  void operator()(po_file_t file) const;
};
using PoFile = std::unique_ptr<std::remove_pointer_t<po_file_t>, FileFree>;

struct IteratorFree {
  void operator()(po_message_iterator_t it) const { po_message_iterator_free(it); }
};
using MessageIterator = std::unique_ptr<std::remove_pointer_t<po_message_iterator_t>, IteratorFree>;

// The text of po_message_(extracted_)comments, which is freshly allocated
// unless empty; copied and freed.
std::string TakeComments(const char* joined);
// The result of po_header_field or po_file_domain_header (fresh, or null).
std::optional<std::string> TakeField(const char* fresh);

// A problem libgettextpo reported.
struct Problem {
  std::string file;      // empty when the library named none
  std::size_t line = 0;  // 0 when it named none
  std::string text;
};

enum class Operation { Read, Write };

// One library call under the lock, with the handler that collects errors
// (warnings are dropped).
class GettextCall {
 public:
  explicit GettextCall(Operation operation);
  ~GettextCall();
  GettextCall(const GettextCall&) = delete;
  GettextCall& operator=(const GettextCall&) = delete;

  po_xerror_handler_t handler() const;
  // po_file_read with this call's handler.
  PoFile ReadFile(const std::string& path);
  // The first error reported since the call began.
  const std::optional<Problem>& first_error() const { return first_error_; }

 private:
  friend struct HandlerAccess;
  std::unique_lock<std::mutex> lock_;
  Operation operation_;
  std::optional<Problem> first_error_;
};

// A file in memory (memfd) with a path the library can open and truncate:
// the library writes PO only to a named file.
class ScratchFile {
 public:
  ScratchFile();
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& path() const { return path_; }
  // Everything the file holds now.
  std::string Contents() const;
  // Makes `text` all the file holds (for the library to read it by path).
  void Replace(std::string_view text);

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace trd::exchange::po
