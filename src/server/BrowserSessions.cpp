#include "BrowserSessions.h"

#include <sodium.h>

#include <array>
#include <stdexcept>

namespace trd::server {
namespace {

constexpr std::size_t kIdBytes = 32;
constexpr std::size_t kNameChars = 12;
// A session's last use is written at most this often, so that a page
// reloaded every few seconds does not write every time.
constexpr std::int64_t kTouchEveryMs = 60'000;

const char* const kCreate =
    "CREATE TABLE IF NOT EXISTS TRDSESSAO (IDSESSAO VARCHAR(64) NOT NULL PRIMARY KEY, NMUSUARIO VARCHAR(50),"
    " IDPAPEL VARCHAR(20) NOT NULL, NRENDERECO VARCHAR(64), DTCRIACAO TIMESTAMP NOT NULL,"
    " DTULTUSO TIMESTAMP NOT NULL)";

void InitSodium() {
  if (sodium_init() < 0) throw std::runtime_error("libsodium cannot be initialised");
}

std::string Hex(const unsigned char* bytes, std::size_t n) {
  std::string out(n * 2 + 1, '\0');
  sodium_bin2hex(out.data(), out.size(), bytes, n);
  out.pop_back();
  return out;
}

// The digest the table holds for an id.
std::string Digest(std::string_view id) {
  std::array<unsigned char, 32> digest;
  crypto_generichash(digest.data(), digest.size(), reinterpret_cast<const unsigned char*>(id.data()), id.size(),
                     nullptr, 0);
  return Hex(digest.data(), digest.size());
}

// Whether `id` could be one of ours: 64 lower-case hex digits. Anything else
// is not looked up.
bool WellFormed(std::string_view id) {
  return id.size() == kIdBytes * 2 && id.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

FieldValue UserValue(const Caller& caller) {
  return caller.user.empty() ? FieldValue{} : FieldValue{caller.user};
}

std::string TextOf(const FieldValue& v) {
  const auto* s = std::get_if<std::string>(&v);
  return s ? *s : std::string();
}

}  // namespace

void EnsureSessionTable(Session& s) { s.Execute(kCreate); }

BrowserSessions::BrowserSessions(Database& db, std::chrono::milliseconds idle) : db_(db), idle_(idle) {
  InitSodium();
}

std::string BrowserSessions::Open(const Caller& caller, std::string_view address) {
  std::array<unsigned char, kIdBytes> bytes;
  randombytes_buf(bytes.data(), bytes.size());
  std::string id = Hex(bytes.data(), bytes.size());
  const DateTime now = DateTime::Now();
  auto s = db_.Acquire();
  const FieldValue expired[] = {DateTime{now.ms - idle_.count()}};
  s->Execute("DELETE FROM TRDSESSAO WHERE DTULTUSO < ?", expired);
  const FieldValue row[] = {Digest(id),
                            UserValue(caller),
                            std::string(RoleName(caller.role)),
                            std::string(address.substr(0, 64)),
                            now,
                            now};
  s->Execute(
      "INSERT INTO TRDSESSAO (IDSESSAO, NMUSUARIO, IDPAPEL, NRENDERECO, DTCRIACAO, DTULTUSO)"
      " VALUES (?, ?, ?, ?, ?, ?)",
      row);
  return id;
}

std::optional<Caller> BrowserSessions::Find(std::string_view id) {
  if (!WellFormed(id)) return std::nullopt;
  const std::string digest = Digest(id);
  auto s = db_.Acquire();
  static const FieldType kTypes[] = {FieldType::String, FieldType::String, FieldType::DateTime};
  const FieldValue key[] = {digest};
  const auto rows = s->Query("SELECT NMUSUARIO, IDPAPEL, DTULTUSO FROM TRDSESSAO WHERE IDSESSAO = ?", key, kTypes);
  if (rows.empty()) return std::nullopt;
  const DateTime now = DateTime::Now();
  const auto* last_used = std::get_if<DateTime>(&rows[0][2]);
  const auto role = RoleNamed(TextOf(rows[0][1]));
  if (!last_used || now.ms - last_used->ms > idle_.count() || !role) {
    s->Execute("DELETE FROM TRDSESSAO WHERE IDSESSAO = ?", key);
    return std::nullopt;
  }
  if (now.ms - last_used->ms > kTouchEveryMs) {
    const FieldValue touch[] = {now, digest};
    s->Execute("UPDATE TRDSESSAO SET DTULTUSO = ? WHERE IDSESSAO = ?", touch);
  }
  return Caller{TextOf(rows[0][0]), *role};
}

void BrowserSessions::End(std::string_view id) {
  if (!WellFormed(id)) return;
  const FieldValue key[] = {Digest(id)};
  db_.Acquire()->Execute("DELETE FROM TRDSESSAO WHERE IDSESSAO = ?", key);
}

std::vector<SessionListing> BrowserSessions::List() {
  static const FieldType kTypes[] = {FieldType::String, FieldType::String, FieldType::String,
                                     FieldType::String, FieldType::DateTime, FieldType::DateTime};
  const auto rows = db_.Acquire()->Query(
      "SELECT IDSESSAO, NMUSUARIO, IDPAPEL, NRENDERECO, DTCRIACAO, DTULTUSO FROM TRDSESSAO"
      " ORDER BY DTULTUSO DESC, IDSESSAO",
      {}, kTypes);
  std::vector<SessionListing> out;
  for (const Row& r : rows) {
    SessionListing l;
    l.name = TextOf(r[0]).substr(0, kNameChars);
    l.caller.user = TextOf(r[1]);
    l.caller.role = RoleNamed(TextOf(r[2])).value_or(Role::Reader);
    l.address = TextOf(r[3]);
    if (const auto* d = std::get_if<DateTime>(&r[4])) l.created = *d;
    if (const auto* d = std::get_if<DateTime>(&r[5])) l.last_used = *d;
    out.push_back(std::move(l));
  }
  return out;
}

int BrowserSessions::EndNamed(std::string_view name_prefix) {
  if (name_prefix.size() < 4 || name_prefix.size() > kNameChars ||
      name_prefix.find_first_not_of("0123456789abcdef") != std::string_view::npos)
    return 0;
  // A prefix of hex digits: no LIKE wildcard can be in it.
  const FieldValue pattern[] = {std::string(name_prefix) + "%"};
  return int(db_.Acquire()->Execute("DELETE FROM TRDSESSAO WHERE IDSESSAO LIKE ?", pattern));
}

int BrowserSessions::EndAll() { return int(db_.Acquire()->Execute("DELETE FROM TRDSESSAO")); }

}  // namespace trd::server
