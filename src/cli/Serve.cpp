// trd serve: the translation server over HTTP.
//
// On start it prints exactly one line to standard output,
// "listening on http://HOST:PORT", once the socket listens (so that a caller
// that asked for port 0 learns the port). SIGINT and SIGTERM stop it: the
// listening socket closes, requests in flight finish, exit status 0.
// It raises its soft limit of open files to the hard one first, so that
// thousands of connections fit, and holds its heap to a few arenas
// (server/HeapRelease.h), so that its memory after large answers does not
// grow with --threads.
//
// Nothing a request carries reaches the file system or a shell: the database
// and the token file are named on the command line (or in the environment)
// only, and request values reach the storage as bound SQL parameters.
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <future>
#include <iostream>
#include <optional>
#include <thread>

#include "Commands.h"
#include "ServiceDatabase.h"
#include "platform/Connection.h"
#include "platform/Errors.h"
#include "server/HeapRelease.h"
#include "server/HttpServer.h"
#include "server/Service.h"
#include "shared/Services.h"

namespace trd::cli {
namespace {

struct ServeArgs {
  std::string db = "var/trd.sqlite";
  std::string listen = "127.0.0.1:" + std::to_string(shared::kDefaultPort);
  int threads = 16;
  std::size_t max_request_mib = server::kDefaultMaxRequestBytes >> 20;
  std::size_t max_connections = server::kDefaultMaxConnections;
  std::size_t max_connections_per_address = server::kDefaultMaxConnectionsPerAddress;
  double request_timeout_s = 30;
  std::string token_file;
  std::vector<std::string> public_names;
};

// The token requests must carry: the file of --token-file, else the one the
// environment sets (TokenFromEnvironment); empty when none is set. A token
// file open to other users is used, with a warning.
std::string ServerToken(const ServeArgs& args) {
  std::optional<TokenSetting> setting;
  if (!args.token_file.empty()) {
    setting.emplace();
    setting->file = args.token_file;
    setting->token = ReadTokenFile(setting->file, &setting->too_open);
  } else {
    setting = TokenFromEnvironment();
  }
  if (!setting) return {};
  if (setting->too_open)
    std::cerr << "trd serve: warning: the token file " << setting->file
              << " grants access to its group or others; restrict it with chmod 600\n";
  return setting->token;
}

// Raises the soft limit of open files to the hard one (each connection is a
// file descriptor) and warns when even that leaves no room for
// `max_connections`. Returns the limit now in force.
rlim_t RaiseOpenFileLimit(std::size_t max_connections) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  // The database, the standard streams and the listening socket need a few.
  constexpr rlim_t kReserve = 64;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < rlim_t(max_connections) + kReserve)
    std::cerr << "trd serve: warning: at most " << limit.rlim_cur << " open files are allowed (ulimit -n), fewer than "
              << max_connections << " connections (--max-connections) need; clients beyond wait to be accepted\n";
  return limit.rlim_cur;
}

bool IsLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.starts_with("127.");
}

int Serve(const ServeArgs& args) {
  server::LimitHeapArenas();  // before any thread starts
  // Signals are taken by sigwait in this thread only; every thread started
  // from here on (the HTTP pool) inherits the block.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGUSR1);  // the server thread ended by itself
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  server::Endpoint at = server::ParseEndpoint(args.listen, shared::kDefaultPort, server::AnyPort::Allow);
  const std::string token = ServerToken(args);
  RaiseOpenFileLimit(args.max_connections);
  server::ServiceOptions service_options;
  service_options.max_request_bytes = args.max_request_mib << 20;
  service_options.log = [](const std::string& message) { std::cerr << "trd serve: " << message << std::endl; };
  auto service = OpenService(args.db, service_options);

  server::HttpOptions http_options;
  http_options.host = at.host;
  http_options.port = at.port;
  http_options.threads = args.threads;
  http_options.max_request_bytes = service_options.max_request_bytes;
  http_options.max_connections = args.max_connections;
  http_options.max_connections_per_address = args.max_connections_per_address;
  http_options.request_timeout = std::chrono::milliseconds(std::llround(args.request_timeout_s * 1000));
  http_options.token = token;
  http_options.public_names = args.public_names;
  http_options.log = [](const std::string& line) { std::cerr << "trd serve: " << line << std::endl; };
  server::HttpServer http(*service, http_options);
  int port = http.Bind();
  if (token.empty() && !IsLoopback(at.host))
    std::cerr << "trd serve: warning: listening on " << at.host
              << " without a token: anyone who reaches this port can change the translation table "
                 "(use --token-file)\n";
  bool v6 = at.host.find(':') != std::string::npos;
  std::cout << "listening on http://" << (v6 ? "[" + at.host + "]" : at.host) << ":" << port << std::endl;
  std::cerr << "trd serve: " << service->Storage().Describe() << "\n";

  std::promise<void> ran;
  std::future<void> done = ran.get_future();
  std::thread runner([&] {
    try {
      http.Run();
      ran.set_value();
    } catch (...) {
      ran.set_exception(std::current_exception());
    }
    kill(getpid(), SIGUSR1);
  });

  int sig = 0;
  sigwait(&stop_signals, &sig);
  // Idle connections close at once; Run() returns once the requests that
  // had arrived are answered (an answer's write has the request time-out).
  http.Stop();
  runner.join();
  done.get();  // raises the server thread's failure
  std::cerr << "trd serve: stopped\n";
  return 0;
}

}  // namespace

void AddServe(CLI::App& app, int& exit_code) {
  auto args = std::make_shared<ServeArgs>();
  auto* cmd = app.add_subcommand("serve", "Run the translation server over HTTP");
  cmd->add_option("--db", args->db,
                  "Database: a SQLite file PATH, sqlite:PATH, :memory:, or a PostgreSQL URI "
                  "postgresql://USER@HOST/DB (its tables are created on first start)")
      ->capture_default_str();
  cmd->add_option("--listen", args->listen, "HOST:PORT to listen on; port 0 picks a free port")
      ->capture_default_str();
  cmd->add_option("--threads", args->threads, "Requests handled at once (workers doing the database work)")
      ->check(CLI::Range(1, 256))
      ->capture_default_str();
  cmd->add_option("--max-connections", args->max_connections,
                  "Open connections accepted at once; beyond, a new one gets 503 and is closed")
      ->check(CLI::Range(1, 1000000))
      ->capture_default_str();
  cmd->add_option("--max-connections-per-address", args->max_connections_per_address,
                  "Open connections accepted at once from one client address, counted before the token; "
                  "beyond, a new one from that address gets 503 and is closed")
      ->check(CLI::Range(1, 1000000))
      ->capture_default_str();
  cmd->add_option("--request-timeout", args->request_timeout_s,
                  "Seconds within which a request's headers and body must arrive, and its answer be taken; "
                  "a slower client is dropped")
      ->check(CLI::Range(0.1, 3600.0))
      ->capture_default_str();
  cmd->add_option("--max-request-mib", args->max_request_mib, "Largest request body accepted, in MiB")
      ->check(CLI::Range(1, 1024))
      ->capture_default_str();
  cmd->add_option("--public-name", args->public_names,
                  "A name clients reach the server by, NAME or NAME:PORT (repeatable); requests naming "
                  "another Host get 421. Default: the --listen address, localhost, 127.0.0.1 and [::1]");
  cmd->add_option("--token-file", args->token_file,
                  "File holding the token every request must carry in X-Trd-Token (one line; keep it chmod 600)");
  cmd->footer(
      "Prints \"listening on http://HOST:PORT\" once listening. SIGINT/SIGTERM stop it. With a token "
      "(--token-file, else TRD_TOKEN, else the file named by TRD_TOKEN_FILE; blanks around it are dropped), "
      "requests must carry it in the X-Trd-Token header; others get 403 before their body is read. Compressed "
      "bodies get 415, bodies over the limit 413. Idle connections close after 60 s. Listens on loopback only "
      "unless --listen names another address.");
  cmd->callback([args, &exit_code] {
    try {
      exit_code = Serve(*args);
    } catch (const std::exception& e) {
      std::cerr << "trd serve: " << e.what() << "\n";
      exit_code = 1;
    }
  });
}

}  // namespace trd::cli
