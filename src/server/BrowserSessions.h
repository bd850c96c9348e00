// The progress page's sign-ins, kept in the database (TRDSESSAO), so that
// they outlive a restart and every `trd serve` on one database honours the
// same ones: no secret of one process decides whether a session is valid.
//
// A session is a random id (32 bytes from libsodium's randombytes, as hex):
// the browser keeps it in its session cookie; the table holds only its
// digest (BLAKE2b, as hex), so that whoever reads the table cannot take a
// session over. Beside it: the caller behind it (Roles.h: the user and
// role; no user for the holder of the server's token), the client address
// that signed in, when, and when it was last used. A session unused for the
// idle time (kSessionIdle) is over: it is deleted when next presented, and
// with every other expired one when a new session opens.
//
//   TRDSESSAO  IDSESSAO VARCHAR(64) the digest (key), NMUSUARIO, IDPAPEL,
//              NRENDERECO, DTCRIACAO, DTULTUSO
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Database.h"
#include "Roles.h"
#include "platform/DateTime.h"

namespace trd::server {

inline constexpr std::chrono::hours kSessionIdle{12};

// Creates TRDSESSAO when missing (part of EnsureSchema).
void EnsureSessionTable(Session& s);

// A session as an administrator sees it: never its id, only the digest's
// first characters, which name it to EndSessions.
struct SessionListing {
  std::string name;  // the first 12 characters of the digest
  Caller caller;
  std::string address;
  DateTime created;
  DateTime last_used;
};

// Thread-safe (each call takes a storage session of its own).
class BrowserSessions {
 public:
  explicit BrowserSessions(Database& db, std::chrono::milliseconds idle = kSessionIdle);

  // Opens a session for `caller` signed in from `address`; returns its id,
  // for the cookie. Throws StorageError.
  std::string Open(const Caller& caller, std::string_view address);
  // The caller behind a session id; nullopt for an unknown or expired one.
  // Marks the session used (at most once a minute). Throws StorageError.
  std::optional<Caller> Find(std::string_view id);
  // Ends the session of an id (signing out); nothing when there is none.
  void End(std::string_view id);

  // Every open session, the most recently used first.
  std::vector<SessionListing> List();
  // Ends the sessions whose name starts with `name_prefix` (at least 4
  // characters, else nothing); returns how many ended.
  int EndNamed(std::string_view name_prefix);
  // Ends every session; returns how many ended.
  int EndAll();

 private:
  Database& db_;
  std::chrono::milliseconds idle_;
};

}  // namespace trd::server
