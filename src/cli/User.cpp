// trd user add NAME --role ROLE    adds a user; prints the personal token once
// trd user list                    the users: name, role, enabled, password
// trd user disable NAME            the user's token is refused from now on
// trd user set-password NAME       reads the password from the terminal
//                                  (not shown) or from standard input
// (all with --db URL: they act on the server's database itself, as
// `trd serve --db` opens it; server/Users.h)
//
// Exit status 0, 1 on failure (a name taken or unknown, a role that does not
// exist, a database that cannot be opened).
#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <string>

#include "Commands.h"
#include "ServiceDatabase.h"
#include "platform/Errors.h"
#include "server/Users.h"

namespace trd::cli {
namespace {

struct UserArgs {
  std::string db = "var/trd.sqlite";
  std::string name;
  std::string role;
};

std::unique_ptr<server::Session> Open(const UserArgs& a, std::shared_ptr<server::Service>& service) {
  service = OpenService(a.db);
  return service->Storage().Acquire();
}

// One line of standard input; on a terminal asked for and not echoed.
std::string ReadPassword() {
  const bool tty = isatty(STDIN_FILENO);
  termios saved{};
  if (tty) {
    std::cerr << "password: " << std::flush;
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= tcflag_t(~ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  const bool got = bool(std::getline(std::cin, line));
  if (tty) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << "\n";
  }
  if (!got) throw Error("no password given");
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

int Add(const UserArgs& a) {
  const auto role = server::RoleNamed(a.role);
  if (!role) throw Error("no role is named \"" + a.role + "\"; the roles are " + server::RoleNames());
  std::shared_ptr<server::Service> service;
  const std::string token = server::AddUser(*Open(a, service), a.name, *role);
  std::cout << token << std::endl;
  std::cerr << "trd user: " << a.name << " added as " << server::RoleName(*role)
            << "; the token above is shown this once (clients send it as TRD_TOKEN or --token-file)\n";
  return 0;
}

int List(const UserArgs& a) {
  std::shared_ptr<server::Service> service;
  for (const auto& u : server::ListUsers(*Open(a, service)))
    std::cout << u.name << "\t" << server::RoleName(u.role) << "\t" << (u.enabled ? "enabled" : "disabled") << "\t"
              << (u.has_password ? "password" : "no password") << "\t" << u.created.ToIso() << "\n";
  return 0;
}

int Disable(const UserArgs& a) {
  std::shared_ptr<server::Service> service;
  server::DisableUser(*Open(a, service), a.name);
  std::cerr << "trd user: " << a.name << " disabled\n";
  return 0;
}

int SetPassword(const UserArgs& a) {
  std::shared_ptr<server::Service> service;
  auto session = Open(a, service);
  const std::string password = ReadPassword();
  server::SetPassword(*session, a.name, password);
  std::cerr << "trd user: password of " << a.name << " set\n";
  return 0;
}

void Action(CLI::App* cmd, int& exit_code, std::shared_ptr<UserArgs> args, int (*run)(const UserArgs&)) {
  cmd->add_option("--db", args->db, "The server's database (as trd serve --db)")->capture_default_str();
  cmd->callback([args, run, &exit_code] {
    try {
      exit_code = run(*args);
    } catch (const std::exception& e) {
      std::cerr << "trd user: " << e.what() << "\n";
      exit_code = 1;
    }
  });
}

}  // namespace

void AddUser(CLI::App& app, int& exit_code) {
  auto* user = app.add_subcommand("user", "Manage the server's users and their roles (on its database)");
  user->require_subcommand(1);
  auto args = std::make_shared<UserArgs>();

  auto* add = user->add_subcommand("add", "Add a user; prints the personal token once");
  add->add_option("name", args->name, "The user's name")->required();
  add->add_option("--role", args->role, "One of: " + server::RoleNames())->required();
  Action(add, exit_code, args, Add);

  Action(user->add_subcommand("list", "List the users"), exit_code, args, List);

  auto* disable = user->add_subcommand("disable", "Refuse the user's token from now on");
  disable->add_option("name", args->name, "The user's name")->required();
  Action(disable, exit_code, args, Disable);

  auto* password = user->add_subcommand(
      "set-password", "Set the user's password, read from the terminal without echo or from standard input");
  password->add_option("name", args->name, "The user's name")->required();
  Action(password, exit_code, args, SetPassword);
}

}  // namespace trd::cli
