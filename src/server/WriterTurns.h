// The turns on a database's one writing connection (SqliteDatabase.cpp),
// given in the order they were asked for, and the groups of transactions
// committed together.
//
// A turn is Alone (a session of Database::Acquire: whatever it does, it holds
// the writer until it ends) or Together (one write transaction of a session
// of Database::AcquireTogether). The Together turns that follow each other in
// the line share one transaction, a group: the first opens it, each applies
// its work in a savepoint of it, and a turn that ends with another Together
// turn next in line (and room in the group) passes the writer on with the
// transaction still open; otherwise it commits the group. A turn of the group
// learns how the commit went (Await) before its caller is answered, so a
// write is reported stored only once it is.
//
// Nobody is overtaken: a turn waits for those asked for before it, and a
// work waits for at most the rest of its group (kMaxGroup works).
//
// Thread-safe; a turn may end on another thread than the one that began it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace trd::server {

class WriterTurns {
 public:
  static constexpr std::size_t kMaxGroup = 8;

  enum class Kind { Alone, Together };

  // What the works of one group share: how its transaction ended.
  class Group {
   public:
    // Blocks until the group's transaction ended; throws StorageError with
    // the failure's message when it was not committed.
    void Await();
    // Sets how the transaction ended (an empty failure: committed) and wakes
    // the members; the first call counts.
    void End(std::string failure);

   private:
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    std::string failure_;
  };

  // Blocks until the caller's turn. A Together turn then finds the open group
  // (group() not null: its transaction is open on the writer) or opens none
  // yet (null: the caller begins the transaction and calls Opened).
  void Enter(Kind kind);
  std::shared_ptr<Group> group() const { return group_; }
  void Opened(std::shared_ptr<Group> group);

  // Ends a Together turn whose work is done (released or rolled back to its
  // savepoint): true when the writer passed to the next turn in line, the
  // transaction still open, and the caller awaits the group; false when the
  // caller is to end the group's transaction (commit it, Close, Leave).
  bool PassOn();
  // The group's transaction ended (committed, rolled back or lost): the
  // next Together turn opens a new one. Called by the writer's holder.
  std::shared_ptr<Group> Close();
  // Ends the caller's turn: the next in line takes the writer.
  void Leave();

 private:
  struct Waiter {
    Kind kind;
    std::condition_variable woken;
  };

  std::mutex mutex_;
  std::deque<Waiter*> line_;  // in the order they came
  bool held_ = false;
  // Touched by the writer's holder only.
  std::shared_ptr<Group> group_;
  std::size_t members_ = 0;
};

}  // namespace trd::server
