// The WAL checkpoints of a SQLite file served by one writing connection, run
// off the writer's thread.
//
// SQLite by default checkpoints inside the commit that takes the WAL past
// 1,000 pages: that commit copies the pages back into the database file and
// waits for the disk twice, with the server's writer held, so every call
// waiting for the writer waits with it (hundreds of milliseconds on a busy
// disk). Constructed on the writing connection, a WalCheckpointer replaces
// that automatic checkpoint (sqlite3_wal_hook):
// - a commit that leaves `due_pages` or more in the WAL beyond those it held
//   when the thread was last woken (so that a page written again and again
//   is copied once per `due_pages`, not once per commit) wakes the
//   checkpointer's thread, which runs a PASSIVE checkpoint on a connection of
//   its own, beside the writer and the readers; the writer starts the WAL
//   afresh at its next transaction once every page was copied back;
// - a commit that leaves `limit_pages` or more (the writes outran the thread,
//   or readers kept it from copying the last pages back) checkpoints on the
//   writer itself, RESTART: it copies what the thread left and waits briefly
//   (`restart_wait`) for the readers of the WAL's pages to end, so that the
//   next write starts the WAL afresh. Under steady reads the WAL otherwise
//   never starts afresh, grows past the limit, and every later commit
//   checkpoints on the writer. The thread has copied most of the pages by
//   then.
// A reader holding an old snapshot keeps its pages in the WAL either way, as
// with SQLite's own checkpoints. What a commit makes durable is unchanged: the
// commit itself, in the WAL. A failed checkpoint leaves its pages for the next.
//
// The destructor removes the hook and stops the thread; destroy it before the
// writing connection closes. Other processes on the same file keep their own
// checkpoints (theirs, or SQLite's automatic ones).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

struct sqlite3;

namespace trd::server {

struct WalLimits {
  // SQLite's own threshold is 1,000; more lets the pages a harvest writes
  // again and again (its indexes' by text) be copied back once for several
  // commits (at 1,000, 16 harvests at once took 9-13% more of the server's
  // processor time than at 4,000).
  int due_pages = 4000;
  int limit_pages = 10000;  // about 40 MB of WAL with 4 KiB pages
  // How long the writer's checkpoint at the limit waits for readers (and for
  // the thread's checkpoint) before it leaves the rest to the next commit.
  std::chrono::milliseconds restart_wait{20};
};

class WalCheckpointer {
 public:
  // Opens a connection of its own to `path` (a file in WAL mode). Throws
  // StorageError when it cannot. `writer_busy_timeout` is the writer's own
  // busy time-out, set again after each of its checkpoints.
  WalCheckpointer(const std::string& path, sqlite3* writer, WalLimits limits,
                  std::chrono::milliseconds writer_busy_timeout);
  ~WalCheckpointer();
  WalCheckpointer(const WalCheckpointer&) = delete;
  WalCheckpointer& operator=(const WalCheckpointer&) = delete;

 private:
  static int Committed(void* self, sqlite3* db, const char* schema, int pages);
  void Loop();

  sqlite3* own_ = nullptr;  // the thread's connection
  sqlite3* writer_;
  const WalLimits limits_;
  const std::chrono::milliseconds writer_busy_timeout_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool due_ = false, stop_ = false;
  // The WAL's pages when the thread was last woken: a checkpoint that
  // readers kept from copying the last pages back is not asked again at
  // every commit (each costs two waits for the disk), only `due_pages` later.
  int covered_ = 0;
  std::thread thread_;  // last: started once the rest is set
};

}  // namespace trd::server
