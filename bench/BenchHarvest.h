// The harvest benchmarks' source tree and their `trd harvest` child.
//
// Tree: form files (TRD_HARVEST_FILES, default 2000, or the count given) of
// 50 texts each, a quarter of them binary, in folders ("modules") of 100
// under Cli/Src. Like a client's real tree, texts repeat across forms:
//   shared by every form   the 20 button hints ("Executa a ação 3 e grava o
//                          resultado"), as real forms share "Salvar" and
//                          "Fechar";
//   shared by some         the 4 combo-box items, by the forms of one module
//                          (100 forms); the 4 grid column titles, by every
//                          tenth form (n % 10 alike);
//   unique to one form     the form's caption, the 20 button captions and
//                          the combo box's hint.
// Harvest: runs `trd harvest` as a child process and returns its JSON
// summary, its wall time, its peak RSS (wait4 rusage) and its progress: the
// plain progress line it writes per file when standard error is not a
// terminal, stamped as it arrives.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "../tests/support/TempTree.h"
#include "authoring/FormBinaryWrite.h"
#include "formfile/FormStream.h"

extern char** environ;

namespace trd::bench {

// TRD_TEST_PG_URL, as scripts/with-postgres sets it; empty without it.
inline std::string PostgresUrl() {
  const char* env = std::getenv("TRD_TEST_PG_URL");
  return env ? env : "";
}

// The postmaster of the cluster scripts/with-postgres started (its socket
// directory holds the data directory), whose children do the database work
// of a PostgreSQL run; 0 when unknown.
inline pid_t Postmaster() {
  const std::string url = PostgresUrl();
  const std::size_t at = url.find("host=");
  if (at == std::string::npos) return 0;
  const std::string dir = url.substr(at + 5, url.find('&', at) - at - 5);
  std::ifstream pid_file(dir + "/data/postmaster.pid");
  pid_t pid = 0;
  pid_file >> pid;
  return pid;
}

namespace fs = std::filesystem;
constexpr int kTextsPerForm = 50;
constexpr int kFormsPerModule = 100;

inline int FileCount() {
  const char* env = std::getenv("TRD_HARVEST_FILES");
  return env && std::atoi(env) > 0 ? std::atoi(env) : 2000;
}

// 50 texts: the form's caption, 20 buttons (caption and hint), a combo box
// with a hint and 4 items, 4 grid columns.
inline std::string FormText(int n) {
  const std::string id = std::to_string(n);
  const std::string module = std::to_string(n / kFormsPerModule);
  const std::string kind = std::to_string(n % 10);
  std::string s = "object frmTela" + id + ": TForm\n  Caption = 'Tela número " + id + " do sistema'\n";
  for (int i = 0; i < 20; ++i) {
    const std::string c = std::to_string(i);
    s += "  object btnAcao" + c + ": TButton\n    Caption = 'Ação " + c + " da tela " + id +
         "'\n    Hint = 'Executa a ação " + c + " e grava o resultado'\n  end\n";
  }
  s += "  object cbbTipo: TComboBox\n    Hint = 'Tipo do lançamento " + id + "'\n    Items.Strings = (\n";
  for (int i = 0; i < 4; ++i)
    s += "      'Opção " + std::to_string(i) + " do módulo " + module + (i == 3 ? "')\n" : "'\n");
  s += "  end\n  object grdDados: TDBGrid\n    Columns = <\n";
  for (int i = 0; i < 4; ++i)
    s += "      item\n        Title.Caption = 'Coluna " + std::to_string(i) + " das grades de tipo " + kind +
         "'\n      end" + (i == 3 ? ">\n" : "\n");
  return s + "  end\nend\n";
}

// Forms `first` to `first + files - 1`: trees of distinct first forms have
// distinct file names, so distinct program codes.
struct Tree {
  Tree() : Tree(FileCount()) {}
  explicit Tree(int files, int first = 0) : files(files) {
    for (int n = first; n < first + files; ++n) {
      fs::path dir = root / "Cli" / "Src" / ("Modulo" + std::to_string(n / kFormsPerModule));
      fs::create_directories(dir);
      std::string text = FormText(n);
      std::string name = "Tela" + std::to_string(n) + ".dfm";
      std::string bytes = n % 4 == 0 ? trd::form::FormTextToBinary(text, trd::form::ResourceHeader::With, name) : text;
      std::ofstream((dir / name), std::ios::binary) << bytes;
    }
  }
  const int files;
  trd::test::TempTree dir{"trd-harvest-bench"};
  const fs::path& root = dir.Dir();
};

// Peak resident set of a running process of ours, in MiB (0 when unknown),
// and its reset, so that the next peak is one run's own.
inline double PeakRssMiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;  // kB
  return 0;
}
// User and system time a running process of ours has used so far, in seconds.
inline double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t close = all.rfind(')');  // the command name may hold blanks
  if (close == std::string::npos) return 0;
  std::istringstream fields(all.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; fields >> field && i <= 15; ++i)
    if (i == 14 || i == 15) ticks += std::atof(field.c_str());  // utime, stime
  return ticks / double(sysconf(_SC_CLK_TCK));
}
inline void ResetPeakRss(pid_t pid) { std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5"; }

// The processes whose CPU time a run costs besides the harvest itself: the
// `trd serve` child, and a database server's processes (every child of the
// PostgreSQL postmaster, read afresh at each sample: its backends come and
// go with the connections).
struct Watched {
  std::vector<pid_t> pids;
  pid_t children_of = 0;
};

inline double CpuSeconds(const Watched& w) {
  double total = 0;
  for (pid_t pid : w.pids) total += CpuSeconds(pid);
  if (w.children_of <= 0) return total;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = all.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(all.substr(close + 2));
    std::string state, parent;
    if (fields >> state >> parent && std::atoi(parent.c_str()) == w.children_of) total += CpuSeconds(std::atoi(name.c_str()));
  }
  return total;
}


// One progress line of the child: `files` done of `total` and `texts` seen
// so far, at `seconds` after the child started; at the start of the file
// loop and at the end of each tenth of the files also the CPU time used so
// far by the child and the watched processes (-1 elsewhere).
struct Tick {
  double seconds = 0;
  int files = 0;
  int total = 0;
  long texts = 0;
  double cpu = -1;
};

struct Result {
  nlohmann::json summary;
  double wall_seconds = 0;
  double peak_rss_mib = 0;
  double cpu_seconds = 0;         // user and system time of the child
  double run_start_seconds = -1;  // the confirmation question: the file loop starts right after
  double run_start_cpu = -1;      // CPU time of the child and the watched processes then
  std::vector<Tick> progress;     // one per file read, in order
};

namespace detail {

// "[12/8000] /path/Tela11.dfm: vistos 600, novos ..." gives 12 and 600.
inline bool ParseProgress(const std::string& line, Tick& tick) {
  if (line.empty() || line[0] != '[') return false;
  const std::size_t seen = line.rfind(": vistos ");
  if (seen == std::string::npos) return false;
  tick.files = std::atoi(line.c_str() + 1);
  const std::size_t slash = line.find('/');
  tick.total = slash == std::string::npos ? 0 : std::atoi(line.c_str() + slash + 1);
  tick.texts = std::atol(line.c_str() + seen + 9);
  return true;
}

}  // namespace detail

// The end of the tenth of `total` files that `files` lies in.
inline int TenthEnd(int files, int total) {
  for (int tenth = 1; tenth <= 10; ++tenth)
    if (const int end = (total * tenth + 9) / 10; files <= end) return end;
  return total;
}

// Runs `trd harvest DIR --lang POR --yes --json` plus `where` (for example
// {"--server", url} or {"--db", path}) and `extra` arguments; throws unless
// it exits 0. The CPU time of `watched` is sampled with the child's. `exe`
// is the program run as trd (a baseline build of it).
inline Result Harvest(const std::string& dir, const std::vector<std::string>& where,
                      const std::vector<std::string>& extra = {}, Watched watched = {},
                      const std::string& exe = TRD_EXE) {
  std::vector<std::string> args{exe, "harvest", dir, "--lang", "POR", "--yes", "--json"};
  args.insert(args.end(), where.begin(), where.end());
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  const auto start = std::chrono::steady_clock::now();
  auto since = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
  pid_t pid = 0;
  int rc = posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  if (rc != 0) {
    close(out[0]);
    close(err[0]);
    throw std::runtime_error("cannot start trd harvest");
  }
  Result r;
  watched.pids.push_back(pid);
  std::string text, errors, line;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  for (int open = 2; open > 0;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int f = 0; f < 2; ++f) {
      if (fds[f].fd < 0 || !(fds[f].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[8192];
      ssize_t n = read(fds[f].fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        close(fds[f].fd);
        fds[f].fd = -1;
        --open;
        continue;
      }
      if (f == 0) {
        text.append(buf, std::size_t(n));
        continue;
      }
      const double now = since();
      for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] != '\n') {
          line += buf[i];
          continue;
        }
        Tick tick{now};
        if (detail::ParseProgress(line, tick)) {
          if (tick.files == TenthEnd(tick.files, tick.total)) tick.cpu = CpuSeconds(watched);
          r.progress.push_back(tick);
        } else if (r.run_start_seconds < 0 && line.find("(--yes)") != std::string::npos) {
          r.run_start_seconds = now;
          r.run_start_cpu = CpuSeconds(watched);
        }
        else if (errors.size() < 4096)
          errors += line + "\n";
        line.clear();
      }
    }
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  r.wall_seconds = since();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("trd harvest failed: " + text + errors);
  r.summary = nlohmann::json::parse(text);
  r.peak_rss_mib = double(usage.ru_maxrss) / 1024.0;  // KiB on Linux
  r.cpu_seconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return r;
}

enum class Per { WallSecond, CpuSecond };

// Texts per second (of wall time, or of CPU time of the child and the
// watched processes) in each tenth of the run's files, the first from the
// start of the file loop; empty when the run did not report its progress.
inline std::vector<double> TenthRates(const Result& r, Per per = Per::WallSecond) {
  std::vector<double> rates;
  if (r.progress.empty() || r.run_start_seconds < 0) return rates;
  const int files = r.progress.back().total;
  Tick last{r.run_start_seconds, 0, files, 0, r.run_start_cpu};
  std::size_t at = 0;
  for (int tenth = 1; tenth <= 10; ++tenth) {
    const int end = (files * tenth + 9) / 10;
    while (at < r.progress.size() && r.progress[at].files < end) ++at;
    if (at == r.progress.size()) break;
    const Tick& t = r.progress[at];
    const double dt = per == Per::WallSecond ? t.seconds - last.seconds : t.cpu - last.cpu;
    rates.push_back(dt > 0 ? double(t.texts - last.texts) / dt : 0);
    last = t;
  }
  return rates;
}

}  // namespace trd::bench
