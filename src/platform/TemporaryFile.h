// Unnamed temporary files: where a run keeps what grows with the tree (its
// selected files, the keys it saw) instead of the heap.
//
// OpenTemporary makes a file in TMPDIR (else /tmp) that no name reaches, so
// that it is gone when closed, even after a crash; -1 when none can be made
// (the caller then keeps its bytes in memory). WriteAt and ReadAt move every
// byte asked for at the given offset, or return false (no room on disk, a
// read past the end).
#pragma once

#include <cstdint>
#include <string>

namespace trd {

int OpenTemporary();
bool WriteAt(int fd, const std::string& bytes, std::uint64_t at);
// Fills `bytes` (its size is the count) from offset `at`.
bool ReadAt(int fd, std::string& bytes, std::uint64_t at);

}  // namespace trd
