// The server's users, TRDUSUARIO: who may call the server besides the holder
// of its own token, with which role (Roles.h).
//
//   NMUSUARIO   the user's name (50), the key; what the memory and the
//               history record as who made a change
//   IDPAPEL     the role's name (RoleName)
//   FLATIVO     "S" enabled, "N" disabled: a disabled user's token is refused
//   CDTOKEN     the public part of the user's token (16 hex digits), in
//               clear, unique: finds the user of a token without a scan
//   HSTOKEN     Argon2id hash (crypto_pwhash_str) of the whole token
//   HSSENHA     Argon2id hash of the password; null until one is set
//   DTCRIACAO   when the user was added
//
// A token reads "trd_" + CDTOKEN + "_" + 48 hex digits of secret, drawn from
// libsodium's randombytes_buf; only its hash is stored, so it is shown once,
// when made. Argon2id is slow by design: a server verifies a token once and
// then recognises it by a keyed BLAKE2b digest held in its memory
// (TokenVerifier), still reading the user's row on every request so that a
// user disabled or given a new token is refused at once.
#pragma once

#include <cstddef>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Database.h"
#include "Roles.h"
#include "platform/DateTime.h"
#include "platform/Errors.h"

namespace trd::server {

// A user named by a command that does not exist, or a name taken already,
// or a name or password that cannot be used: the message says which.
class UserError : public Error {
 public:
  using Error::Error;
};

struct UserInfo {
  std::string name;
  Role role = Role::Reader;
  bool enabled = true;
  bool has_password = false;
  DateTime created;
};

// Creates TRDUSUARIO and its index when missing (in EnsureSchema's
// transaction).
void EnsureUsers(Session& s);

// Adds an enabled user and returns the personal token, the only time it is
// known. Throws UserError when the name is empty, too long or taken.
std::string AddUser(Session& s, std::string_view name, Role role);
// Every user, by name.
std::vector<UserInfo> ListUsers(Session& s);
// Throws UserError when no user has the name.
void DisableUser(Session& s, std::string_view name);
// Throws UserError when no user has the name or the password is empty.
void SetPassword(Session& s, std::string_view name, std::string_view password);
// Whether the user exists, is enabled and `password` is theirs.
bool PasswordMatches(Session& s, std::string_view name, std::string_view password);
// The user (name and role) when PasswordMatches; nullopt otherwise.
std::optional<Caller> UserOfPassword(Session& s, std::string_view name, std::string_view password);

// Recognises users' tokens. Thread-safe; one per server.
class TokenVerifier {
 public:
  TokenVerifier();

  enum class Verdict { Unknown, Disabled, Known };
  struct Holder {
    Verdict verdict = Verdict::Unknown;
    Caller caller;  // when Known
  };
  // The user whose token `token` is. Unknown for any text that is no user's
  // token (the server's own token included).
  Holder Verify(Session& s, std::string_view token);

 private:
  // Digest of a verified token -> the hash it was verified against.
  std::mutex mutex_;
  std::unordered_map<std::string, std::string> verified_;
  std::list<std::string> order_;  // oldest first, to bound the map
  unsigned char key_[32];
};

}  // namespace trd::server
