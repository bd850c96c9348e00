#include "Roles.h"

#include <utility>

#include "platform/Text.h"

namespace trd::server {
namespace {

constexpr std::pair<Role, std::string_view> kRoles[] = {
    {Role::Reader, "reader"},       {Role::Translator, "translator"}, {Role::Reviewer, "reviewer"},
    {Role::Harvester, "harvester"}, {Role::Admin, "admin"},
};

}  // namespace

std::string_view RoleName(Role role) {
  for (const auto& [r, name] : kRoles)
    if (r == role) return name;
  return {};
}

std::optional<Role> RoleNamed(std::string_view name) {
  for (const auto& [r, n] : kRoles)
    if (text::EqualsIgnoreCase(n, name)) return r;
  return std::nullopt;
}

std::string RoleNames() {
  std::string s;
  for (const auto& [r, name] : kRoles) s += (s.empty() ? "" : ", ") + std::string(name);
  return s;
}

bool Permits(Role role, Permission p) {
  switch (role) {
    case Role::Admin: return true;
    case Role::Reader: return p == Permission::Read;
    case Role::Translator: return p == Permission::Read || p == Permission::Translate;
    case Role::Reviewer: return p == Permission::Read || p == Permission::Translate || p == Permission::Review;
    case Role::Harvester: return p == Permission::Read || p == Permission::Harvest;
  }
  return false;
}

std::string_view PermissionName(Permission p) {
  switch (p) {
    case Permission::Read: return "read";
    case Permission::Translate: return "translate";
    case Permission::Review: return "review";
    case Permission::Harvest: return "harvest";
    case Permission::Administer: return "administer";
  }
  return {};
}

}  // namespace trd::server
