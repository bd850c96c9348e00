#include "WalCheckpointer.h"

#include <sqlite3.h>

#include "platform/Errors.h"

namespace trd::server {

WalCheckpointer::WalCheckpointer(const std::string& path, sqlite3* writer, WalLimits limits,
                                 std::chrono::milliseconds writer_busy_timeout)
    : writer_(writer), limits_(limits), writer_busy_timeout_(writer_busy_timeout) {
  if (sqlite3_open_v2(path.c_str(), &own_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
    std::string msg = "cannot open the SQLite database " + path + " for its checkpoints: " +
                      (own_ ? sqlite3_errmsg(own_) : "out of memory");
    sqlite3_close_v2(own_);
    throw StorageError(msg);
  }
  // A connection finds the file in WAL mode, and opens its WAL, on its first
  // read; until then SQLite takes a checkpoint asked of it for a no-op.
  if (sqlite3_exec(own_, "PRAGMA schema_version", nullptr, nullptr, nullptr) != SQLITE_OK) {
    std::string msg = "cannot read the SQLite database " + path + " for its checkpoints: " + sqlite3_errmsg(own_);
    sqlite3_close_v2(own_);
    throw StorageError(msg);
  }
  thread_ = std::thread([this] { Loop(); });
  sqlite3_wal_hook(writer_, &Committed, this);
}

WalCheckpointer::~WalCheckpointer() {
  sqlite3_wal_hook(writer_, nullptr, nullptr);
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
  sqlite3_close_v2(own_);
}

// Called by SQLite on the writer's thread after each commit, the write lock
// released; `pages` is what the WAL holds now.
int WalCheckpointer::Committed(void* self, sqlite3* db, const char* schema, int pages) {
  auto* c = static_cast<WalCheckpointer*>(self);
  if (pages >= c->limits_.limit_pages) {
    sqlite3_busy_timeout(db, int(c->limits_.restart_wait.count()));
    sqlite3_wal_checkpoint_v2(db, schema, SQLITE_CHECKPOINT_RESTART, nullptr, nullptr);
    sqlite3_busy_timeout(db, int(c->writer_busy_timeout_.count()));
  } else {
    std::unique_lock lock(c->mutex_);
    if (pages < c->covered_) c->covered_ = 0;  // the WAL started afresh
    if (pages - c->covered_ < c->limits_.due_pages) return SQLITE_OK;
    c->covered_ = pages;
    c->due_ = true;
    lock.unlock();
    c->wake_.notify_one();
  }
  return SQLITE_OK;  // a failed checkpoint is no failure of the commit
}

void WalCheckpointer::Loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stop_ || due_; });
    if (stop_) return;
    due_ = false;
    lock.unlock();
    sqlite3_wal_checkpoint_v2(own_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    lock.lock();
  }
}

}  // namespace trd::server
