// The WAL checkpoints of a SQLite file served by one writing connection, run
// off the writer's thread.
//
// SQLite by default checkpoints inside the commit that takes the WAL past
// 1,000 pages: that commit copies the pages back into the database file and
// waits for the disk twice, with the server's writer held, so every call
// waiting for the writer waits with it (hundreds of milliseconds on a busy
// disk). Constructed on the writing connection, a WalCheckpointer replaces
// that automatic checkpoint (sqlite3_wal_hook):
// - a commit that leaves `due_pages` or more in the WAL wakes the
//   checkpointer's thread, which runs a PASSIVE checkpoint on a connection of
//   its own, beside the writer and the readers; the writer starts the WAL
//   afresh at its next transaction once every page was copied back;
// - a commit that leaves `limit_pages` or more (the writes outran the thread)
//   checkpoints on the writer itself, as SQLite would have, so the WAL stays
//   bounded; the thread has copied most of the pages by then.
// A reader holding an old snapshot keeps its pages in the WAL either way, as
// with SQLite's own checkpoints. What a commit makes durable is unchanged: the
// commit itself, in the WAL. A failed checkpoint leaves its pages for the next.
//
// The destructor removes the hook and stops the thread; destroy it before the
// writing connection closes. Other processes on the same file keep their own
// checkpoints (theirs, or SQLite's automatic ones).
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

struct sqlite3;

namespace trd::server {

struct WalLimits {
  int due_pages = 1000;     // SQLite's own threshold
  int limit_pages = 10000;  // about 40 MB of WAL with 4 KiB pages
};

class WalCheckpointer {
 public:
  // Opens a connection of its own to `path` (a file in WAL mode). Throws
  // StorageError when it cannot.
  WalCheckpointer(const std::string& path, sqlite3* writer, WalLimits limits);
  ~WalCheckpointer();
  WalCheckpointer(const WalCheckpointer&) = delete;
  WalCheckpointer& operator=(const WalCheckpointer&) = delete;

 private:
  static int Committed(void* self, sqlite3* db, const char* schema, int pages);
  void Loop();

  sqlite3* own_ = nullptr;  // the thread's connection
  sqlite3* writer_;
  const WalLimits limits_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool due_ = false, stop_ = false;
  std::thread thread_;  // last: started once the rest is set
};

}  // namespace trd::server
