// Reading a form or report file whole (or its first bytes): what the import
// run, the report loader and the command line read source files with.
//
// Only regular files are read (links are followed): a FIFO, a device such as
// /dev/zero, a socket or a directory is refused at once, without blocking in
// open() and without reading. A file larger than kMaxSourceFileBytes is
// refused before anything is read (docs/formats.md, "Size limit"): real form
// and report files take a few hundred KB, and everything read is held in
// memory several times over while it is converted.
//
// Failures raise FileError with a message that starts with the path:
//   "PATH: cannot open: REASON"          (missing, unreadable, ...)
//   "PATH: cannot open: not a regular file"
//   "PATH: N bytes exceed the limit of 32 MiB for a form or report file"
//   "PATH: cannot read: REASON"
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace trd {

inline constexpr std::size_t kMaxSourceFileBytes = std::size_t(32) << 20;  // 32 MiB

// Replaces `out` with the bytes of the file (its storage is reused, for
// reading many files in a row).
void ReadSourceFile(std::string_view path, std::string& out);
std::string ReadSourceFile(std::string_view path);

// The first `count` bytes of the file, fewer when it is shorter; the rest is
// not read (the size limit does not apply).
std::string ReadSourceFileHead(std::string_view path, std::size_t count);

}  // namespace trd
