#include "Users.h"

#include <sodium.h>

#include "Records.h"
#include "Schema.h"

namespace trd::server {
namespace {

enum UserField { kName, kRole, kEnabled, kTokenId, kTokenHash, kPasswordHash, kCreated };

const TableDef& UserTable() {
  static const TableDef t{"TRDUSUARIO",
                          {{"NMUSUARIO", FieldType::String, 50},
                           {"IDPAPEL", FieldType::String, 10},
                           {"FLATIVO", FieldType::String, 1},
                           {"CDTOKEN", FieldType::String, 16},
                           {"HSTOKEN", FieldType::String, int(crypto_pwhash_STRBYTES)},
                           {"HSSENHA", FieldType::String, int(crypto_pwhash_STRBYTES)},
                           {"DTCRIACAO", FieldType::DateTime, 0}},
                          {kName},
                          {kRole, kEnabled, kTokenId, kTokenHash, kCreated}};
  return t;
}

const std::string& Col(UserField f) { return Column(UserTable(), f); }

constexpr std::string_view kEnabledFlag = "S", kDisabledFlag = "N";
constexpr std::string_view kTokenPrefix = "trd_";
constexpr std::size_t kIdBytes = 8, kSecretBytes = 24;

void Init() {
  if (sodium_init() < 0) throw Error("libsodium could not be initialised");
}

std::string Hex(const unsigned char* bytes, std::size_t n) {
  std::string s(n * 2 + 1, '\0');
  sodium_bin2hex(s.data(), s.size(), bytes, n);
  s.pop_back();
  return s;
}

std::string RandomHex(std::size_t bytes) {
  std::vector<unsigned char> b(bytes);
  randombytes_buf(b.data(), b.size());
  return Hex(b.data(), b.size());
}

std::string Hash(std::string_view secret) {
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(out, secret.data(), secret.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
    throw Error("not enough memory to hash a secret");
  return out;
}

bool HashMatches(const std::string& hash, std::string_view secret) {
  return crypto_pwhash_str_verify(hash.c_str(), secret.data(), secret.size()) == 0;
}

// The public id of a well-formed token; nullopt for any other text.
std::optional<std::string> TokenId(std::string_view token) {
  if (!token.starts_with(kTokenPrefix)) return std::nullopt;
  token.remove_prefix(kTokenPrefix.size());
  if (token.size() != kIdBytes * 2 + 1 + kSecretBytes * 2 || token[kIdBytes * 2] != '_') return std::nullopt;
  for (std::size_t i = 0; i < token.size(); ++i) {
    const char c = token[i];
    if (i != kIdBytes * 2 && !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
  }
  return std::string(token.substr(0, kIdBytes * 2));
}

void CheckName(std::string_view name) {
  if (name.empty()) throw UserError("a user needs a name");
  if (!Fits(UserTable().fields[kName], name))
    throw UserError("the user name \"" + std::string(name) + "\" is longer than " +
                    std::to_string(UserTable().fields[kName].size) + " characters");
}

const std::string& SelectColumns() {
  static const std::string s = Col(kName) + ", " + Col(kRole) + ", " + Col(kEnabled) + ", " + Col(kTokenHash) +
                               ", " + Col(kPasswordHash) + ", " + Col(kCreated);
  return s;
}
constexpr FieldType kSelectTypes[] = {FieldType::String, FieldType::String, FieldType::String,
                                      FieldType::String, FieldType::String, FieldType::DateTime};

struct Stored {
  UserInfo info;
  std::string token_hash;
  std::string password_hash;
};

Stored StoredOf(const Row& r) {
  Stored s;
  s.info.name = std::get<std::string>(r[0]);
  // A role name written by a later version is read as the least one.
  s.info.role = RoleNamed(std::get<std::string>(r[1])).value_or(Role::Reader);
  s.info.enabled = std::get<std::string>(r[2]) == kEnabledFlag;
  s.token_hash = std::get<std::string>(r[3]);
  if (const auto* p = std::get_if<std::string>(&r[4])) s.password_hash = *p;
  s.info.has_password = !s.password_hash.empty();
  if (const auto* d = std::get_if<DateTime>(&r[5])) s.info.created = *d;
  return s;
}

std::optional<Stored> ByField(Session& s, UserField f, std::string_view value) {
  const FieldValue params[] = {std::string(value)};
  auto rows = s.Query("SELECT " + SelectColumns() + " FROM " + UserTable().name + " WHERE " + Col(f) + " = ?",
                      params, kSelectTypes);
  if (rows.empty()) return std::nullopt;
  return StoredOf(rows.front());
}

void Update(Session& s, std::string_view name, UserField f, std::string value) {
  const FieldValue params[] = {std::move(value), std::string(name)};
  if (s.Execute("UPDATE " + UserTable().name + " SET " + Col(f) + " = ? WHERE " + Col(kName) + " = ?", params) == 0)
    throw UserError("no user is named \"" + std::string(name) + "\"");
}

}  // namespace

void EnsureUsers(Session& s) {
  Init();
  s.Execute(CreateStatement(UserTable()));
  s.Execute("CREATE UNIQUE INDEX IF NOT EXISTS " + IndexName(UserTable(), "TOKEN") + " ON " + UserTable().name +
            " (" + Col(kTokenId) + ")");
}

std::string AddUser(Session& s, std::string_view name, Role role) {
  Init();
  CheckName(name);
  const std::string id = RandomHex(kIdBytes);
  const std::string token = std::string(kTokenPrefix) + id + "_" + RandomHex(kSecretBytes);
  const FieldValue params[] = {std::string(name), std::string(RoleName(role)), std::string(kEnabledFlag), id,
                               Hash(token), DateTime::Now()};
  try {
    s.Execute("INSERT INTO " + UserTable().name + " (" + Col(kName) + ", " + Col(kRole) + ", " + Col(kEnabled) +
                  ", " + Col(kTokenId) + ", " + Col(kTokenHash) + ", " + Col(kCreated) + ") VALUES (?, ?, ?, ?, ?, ?)",
              params);
  } catch (const DuplicateKeyError&) {
    throw UserError("a user named \"" + std::string(name) + "\" exists already");
  }
  return token;
}

std::vector<UserInfo> ListUsers(Session& s) {
  std::vector<UserInfo> users;
  for (const Row& r : s.Query("SELECT " + SelectColumns() + " FROM " + UserTable().name + " ORDER BY " + Col(kName),
                              {}, kSelectTypes))
    users.push_back(StoredOf(r).info);
  return users;
}

void DisableUser(Session& s, std::string_view name) { Update(s, name, kEnabled, std::string(kDisabledFlag)); }

void SetPassword(Session& s, std::string_view name, std::string_view password) {
  Init();
  if (password.empty()) throw UserError("the password is empty");
  if (!ByField(s, kName, name)) throw UserError("no user is named \"" + std::string(name) + "\"");
  Update(s, name, kPasswordHash, Hash(password));
}

bool PasswordMatches(Session& s, std::string_view name, std::string_view password) {
  return UserOfPassword(s, name, password).has_value();
}

std::optional<Caller> UserOfPassword(Session& s, std::string_view name, std::string_view password) {
  Init();
  auto user = ByField(s, kName, name);
  if (!user || !user->info.enabled || user->password_hash.empty() || !HashMatches(user->password_hash, password))
    return std::nullopt;
  return Caller{user->info.name, user->info.role};
}

TokenVerifier::TokenVerifier() {
  Init();
  crypto_generichash_keygen(key_);
}

TokenVerifier::Holder TokenVerifier::Verify(Session& s, std::string_view token) {
  const std::optional<std::string> id = TokenId(token);
  if (!id) return {};
  const std::optional<Stored> user = ByField(s, kTokenId, *id);
  if (!user) return {};

  unsigned char digest[crypto_generichash_BYTES];
  crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(token.data()), token.size(), key_,
                     sizeof key_);
  const std::string known(reinterpret_cast<const char*>(digest), sizeof digest);
  bool verified = false;
  {
    std::lock_guard lock(mutex_);
    auto it = verified_.find(known);
    // The hash is public; what proves the token is that its digest was
    // stored after a verification against this very hash.
    verified = it != verified_.end() && it->second.size() == user->token_hash.size() &&
               sodium_memcmp(it->second.data(), user->token_hash.data(), it->second.size()) == 0;
  }
  if (!verified) {
    if (!HashMatches(user->token_hash, token)) return {};
    constexpr std::size_t kRemembered = 4096;
    std::lock_guard lock(mutex_);
    if (verified_.insert_or_assign(known, user->token_hash).second) {
      order_.push_back(known);
      if (order_.size() > kRemembered) {
        verified_.erase(order_.front());
        order_.pop_front();
      }
    }
  }
  if (!user->info.enabled) return {Verdict::Disabled, {}};
  return {Verdict::Known, Caller{user->info.name, user->info.role}};
}

}  // namespace trd::server
