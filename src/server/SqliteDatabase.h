// SQLite backend of the server's storage.
//
// One writing connection, taken in turns in the order asked (WriterTurns.h):
// a session of Acquire() holds it for its whole life, so a transaction is
// never interleaved with other requests; the transactions of the sessions of
// AcquireTogether() that wait next to each other share one transaction, each
// in a savepoint of it. For a file, a read connection per processor (2 to 8)
// (AcquireReader: the look-ups), which WAL lets read the last committed
// state while the writer's transaction runs; a private in-memory database
// reads on its one connection. Opening sets WAL journaling with synchronous=NORMAL (a commit
// costs no fsync; a power loss may lose the last commits but never corrupts
// the file), a bounded page cache, no memory mapping, and a busy timeout so
// that another process holding the file (a second server, the sqlite3 shell)
// makes a statement wait instead of fail. The WAL's checkpoints run on a
// thread of their own (WalCheckpointer.h), not in the writer's commits.
// Prepared statements are cached per SQL text for the life of the connection.
//
// The file's identity (device and inode) is taken at open. Before every write
// transaction, and before a writing statement outside one, the file at the
// path must still be that file: once the file (or its directory) has been
// deleted or replaced, the open file is one nobody will open again, and the
// write is refused with DatabaseGoneError naming the path. Reads go on.
//
// Date-times are stored as ISO 8601 text "YYYY-MM-DDTHH:MM:SS.mmm".
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "Database.h"
#include "WalCheckpointer.h"

namespace trd::server {

struct SqliteOptions {
  std::chrono::milliseconds busy_timeout{5000};
  WalLimits wal;  // when a file's WAL is checkpointed
};

// Opens (creating when missing) the SQLite file at `path`; ":memory:" opens a
// private in-memory database. The parent directory must exist.
// Throws StorageError.
std::unique_ptr<Database> OpenSqlite(const std::string& path, SqliteOptions options = {});

}  // namespace trd::server
