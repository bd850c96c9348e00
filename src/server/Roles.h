// Who calls the server and what they may do.
//
// A user has one role. What each role permits:
//
//   role         read  translate  review  harvest  administer
//   reader        x
//   translator    x       x
//   reviewer      x       x          x
//   harvester     x                          x
//   admin         x       x          x       x         x
//
//   read        the look-ups, listings, coverage, history, the progress page
//   translate   set translations (trd import, UpdateRelDfm)
//   review      approve a translation or withdraw the approval
//   harvest     create, replace and retire records, stamp the version
//               (trd harvest, trd retire), store a reused translation
//   administer  manage users
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace trd::server {

enum class Role { Reader, Translator, Reviewer, Harvester, Admin };
enum class Permission { Read, Translate, Review, Harvest, Administer };

// "reader", "translator", "reviewer", "harvester", "admin".
std::string_view RoleName(Role role);
// The role of a name (ASCII case ignored); nullopt for any other text.
std::optional<Role> RoleNamed(std::string_view name);
// "reader, translator, reviewer, harvester, admin", for messages.
std::string RoleNames();

bool Permits(Role role, Permission permission);
// "read", "translate", ...: for messages.
std::string_view PermissionName(Permission permission);

// The person behind a request. `user` is empty for the holder of the
// server's own token, and for the command line on the database itself
// (--db): both are administrators whose name the server does not know.
struct Caller {
  std::string user;
  Role role = Role::Admin;
};

}  // namespace trd::server
