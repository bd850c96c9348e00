// The harvest benchmarks' source tree and their `trd harvest` child.
//
// Tree: TRD_HARVEST_FILES form files (default 2000) of 50 texts each
// (captions, hints, a string list, grid columns), a quarter of them binary,
// in folders of 100 under Cli/Src.
// Harvest: runs `trd harvest` as a child process and returns its JSON summary,
// its wall time and its peak RSS (wait4 rusage).
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "../tests/support/TempTree.h"
#include "authoring/FormBinaryWrite.h"
#include "formfile/FormStream.h"

extern char** environ;

namespace trd::bench {

namespace fs = std::filesystem;
constexpr int kTextsPerForm = 50;

inline int FileCount() {
  const char* env = std::getenv("TRD_HARVEST_FILES");
  return env && std::atoi(env) > 0 ? std::atoi(env) : 2000;
}

// 50 texts: the form's caption, 20 buttons (caption and hint), a combo box
// with a hint and 4 items, 4 grid columns.
inline std::string FormText(int n) {
  const std::string id = std::to_string(n);
  std::string s = "object frmTela" + id + ": TForm\n  Caption = 'Tela número " + id + " do sistema'\n";
  for (int i = 0; i < 20; ++i) {
    const std::string c = std::to_string(i);
    s += "  object btnAcao" + c + ": TButton\n    Caption = 'Ação " + c + " da tela " + id +
         "'\n    Hint = 'Executa a ação " + c + " e grava o resultado'\n  end\n";
  }
  s += "  object cbbTipo: TComboBox\n    Hint = 'Tipo do lançamento " + id + "'\n    Items.Strings = (\n";
  for (int i = 0; i < 4; ++i) s += "      'Opção " + std::to_string(i) + " da lista " + id + (i == 3 ? "')\n" : "'\n");
  s += "  end\n  object grdDados: TDBGrid\n    Columns = <\n";
  for (int i = 0; i < 4; ++i)
    s += "      item\n        Title.Caption = 'Coluna " + std::to_string(i) + " da grade " + id + "'\n      end" +
         (i == 3 ? ">\n" : "\n");
  return s + "  end\nend\n";
}

struct Tree {
  Tree() {
    const int files = FileCount();
    for (int n = 0; n < files; ++n) {
      fs::path dir = root / "Cli" / "Src" / ("Modulo" + std::to_string(n / 100));
      fs::create_directories(dir);
      std::string text = FormText(n);
      std::string name = "Tela" + std::to_string(n) + ".dfm";
      std::string bytes = n % 4 == 0 ? trd::form::FormTextToBinary(text, trd::form::ResourceHeader::With, name) : text;
      std::ofstream((dir / name), std::ios::binary) << bytes;
    }
  }
  trd::test::TempTree dir{"trd-harvest-bench"};
  const fs::path& root = dir.Dir();
};

struct Result {
  nlohmann::json summary;
  double wall_seconds = 0;
  double peak_rss_mib = 0;
};

// Runs `trd harvest DIR --lang POR --yes --json` plus `where` (for example
// {"--server", url} or {"--db", path}) and `extra` arguments; throws unless
// it exits 0.
inline Result Harvest(const std::string& dir, const std::vector<std::string>& where,
                      const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args{TRD_EXE, "harvest", dir, "--lang", "POR", "--yes", "--json"};
  args.insert(args.end(), where.begin(), where.end());
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int rc = posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) throw std::runtime_error("cannot start trd harvest");
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, std::size_t(n));
  close(out[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Result r;
  r.wall_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("trd harvest failed: " + text);
  r.summary = nlohmann::json::parse(text);
  r.peak_rss_mib = double(usage.ru_maxrss) / 1024.0;  // KiB on Linux
  return r;
}

}  // namespace trd::bench
