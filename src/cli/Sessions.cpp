// trd session list [--db URL]             the progress page's open sessions
// trd session end NAME... | --all [--db URL]
//                                         ends sessions: their browsers are
//                                         asked for the token again
//
// Works on the database itself (the one `trd serve --db` serves; every
// server on it honours the change at once). A session is named by the first
// characters of its digest as `list` shows them (at least 4); its id, which
// the browser holds, is never shown. Exit status 0, 1 on failure or when a
// NAME names no session.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "ServiceDatabase.h"
#include "server/BrowserSessions.h"

namespace trd::cli {
namespace {

struct SessionArgs {
  std::string db = "var/trd.sqlite";
  std::vector<std::string> names;
  bool all = false;
};

int List(const SessionArgs& args) {
  auto service = OpenService(args.db);
  server::BrowserSessions sessions(service->Storage());
  const auto listed = sessions.List();
  if (listed.empty()) {
    std::cout << "no open session\n";
    return 0;
  }
  std::cout << "NAME          USER             ROLE        ADDRESS                SIGNED IN                LAST USED\n";
  for (const auto& s : listed) {
    auto column = [](std::string text, std::size_t width) {
      if (text.size() < width) text.resize(width, ' ');
      return text + " ";
    };
    std::cout << column(s.name, 13) << column(s.caller.user.empty() ? "(token)" : s.caller.user, 16)
              << column(std::string(server::RoleName(s.caller.role)), 11) << column(s.address, 22)
              << column(s.created.ToIso(), 24) << s.last_used.ToIso() << "\n";
  }
  return 0;
}

int End(const SessionArgs& args) {
  auto service = OpenService(args.db);
  server::BrowserSessions sessions(service->Storage());
  if (args.all) {
    std::cout << sessions.EndAll() << " session(s) ended\n";
    return 0;
  }
  int status = 0;
  for (const std::string& name : args.names) {
    const int ended = sessions.EndNamed(name);
    if (ended == 0) {
      std::cerr << "trd session end: no session named " << name << " (see trd session list)\n";
      status = 1;
    } else {
      std::cout << name << ": " << ended << " session(s) ended\n";
    }
  }
  return status;
}

}  // namespace

void AddSession(CLI::App& app, int& exit_code) {
  auto args = std::make_shared<SessionArgs>();
  auto* cmd = app.add_subcommand("session", "List or end the progress page's sessions");
  cmd->require_subcommand(1);
  auto* list = cmd->add_subcommand("list", "The open sessions, the most recently used first");
  list->add_option("--db", args->db, "The server's database (as trd serve --db)")->capture_default_str();
  auto* end = cmd->add_subcommand("end", "End sessions by name (as listed), or every one with --all");
  end->add_option("--db", args->db, "The server's database (as trd serve --db)")->capture_default_str();
  auto* names = end->add_option("NAME", args->names, "A session's name, or its first characters (at least 4)");
  auto* all = end->add_flag("--all", args->all, "End every session");
  names->excludes(all);
  auto run = [args, &exit_code](int (*what)(const SessionArgs&), const char* name) {
    try {
      exit_code = what(*args);
    } catch (const std::exception& e) {
      std::cerr << "trd session " << name << ": " << e.what() << "\n";
      exit_code = 1;
    }
  };
  list->callback([run] { run(List, "list"); });
  end->callback([run, args, &exit_code] {
    if (!args->all && args->names.empty()) {
      std::cerr << "trd session end: name a session (trd session list), or --all\n";
      exit_code = 1;
      return;
    }
    run(End, "end");
  });
}

}  // namespace trd::cli
