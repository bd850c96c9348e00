// trd call: calls one method of the translation server and prints its result,
// for diagnosis and scripts.
#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Commands.h"
#include "platform/Connection.h"
#include "platform/Errors.h"
#include "platform/Wire.h"
#include "protocol/Methods.h"
#include "server/Arguments.h"
#include "server/HttpServer.h"
#include "shared/Services.h"

namespace trd::cli {
namespace {

struct CallArgs {
  std::string server;
  std::string module;
  std::string method;
  std::vector<std::string> args;
};

const std::string kArgumentHelp =
    "ARG syntax: plain text is a text argument; a prefix gives another kind:\n"
    "  int:N        an integer                   int:0\n"
    "  float:X      a floating-point number      float:1.5\n"
    "  dt:ISO       a date-time                  dt:2024-05-01T10:30:00\n"
    "  json:VALUE   a value in the wire's tagged JSON (a packet, a change set, ...)\n"
    "               json:'{\"delta\":{\"fields\":[[\"DTGERARQTRAD\",\"datetime\",0]],\n"
    "                      \"changes\":[{\"kind\":\"insert\",\"new\":[\"2024-05-01T00:00:00\"]}]}}'\n"
    "  text:T       text that itself starts with one of these prefixes\n"
    "The result is printed as JSON (a data packet as {\"packet\":{\"fields\":...,\"rows\":...}}).\n"
    "A failure is printed on standard error and the exit status is 1.\n"
    "Example: trd call " + std::string(protocol::kModuleForms) + " " + std::string(protocol::kGetVerProp) +
    " CADASTRO FRMCAD BTNOK Caption 0 POR";

Value ParseArg(const std::string& a) {
  auto body = [&](std::size_t n) { return a.substr(n); };
  if (a.starts_with("text:")) return body(5);
  if (a.starts_with("int:")) {
    std::string s = body(4);
    std::size_t used = 0;
    long long v = 0;
    try {
      v = std::stoll(s, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (s.empty() || used != s.size()) throw Error("\"" + a + "\" is not an integer");
    return std::int64_t(v);
  }
  if (a.starts_with("float:")) {
    if (auto d = server::ParseDecimal(body(6))) return *d;
    throw Error("\"" + a + "\" is not a number");
  }
  if (a.starts_with("dt:")) {
    if (auto dt = DateTime::FromIso(body(3))) return *dt;
    throw Error("\"" + a + "\" is not an ISO 8601 date-time (YYYY-MM-DDTHH:MM:SS)");
  }
  if (a.starts_with("json:")) {
    auto j = nlohmann::json::parse(body(5), nullptr, false);
    if (j.is_discarded()) throw Error("\"" + a + "\" is not JSON");
    return wire::FromJson(j);
  }
  return a;
}

std::string Dump(const nlohmann::json& j) {
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Indented JSON that keeps an array of plain values (a row, a field
// definition) on one line, so that a packet reads as a table.
void Pretty(const nlohmann::json& j, int indent, std::string& out) {
  const std::string pad(std::size_t(indent) + 2, ' ');
  if (j.is_object() && !j.empty()) {
    out += "{\n";
    bool first = true;
    for (auto it = j.begin(); it != j.end(); ++it) {
      if (!first) out += ",\n";
      first = false;
      out += pad + Dump(it.key()) + ": ";
      Pretty(it.value(), indent + 2, out);
    }
    out += "\n" + std::string(std::size_t(indent), ' ') + "}";
    return;
  }
  bool flat = !j.is_array() || std::none_of(j.begin(), j.end(), [](const auto& e) { return e.is_structured(); });
  if (flat) {
    out += Dump(j);
    return;
  }
  out += "[\n";
  for (std::size_t i = 0; i < j.size(); ++i) {
    out += (i ? ",\n" : "") + pad;
    Pretty(j[i], indent + 2, out);
  }
  out += "\n" + std::string(std::size_t(indent), ' ') + "]";
}

int Call(const CallArgs& args) {
  std::vector<Value> values;
  values.reserve(args.args.size());
  for (const auto& a : args.args) values.push_back(ParseArg(a));

  Connection conn("trd call", args.module);
  const Endpoint e =
      args.server.empty() ? shared::ServerFromEnvironment() : ParseServerAddress(args.server);
  conn.host = e.host;
  conn.port = e.port;
  Value result = conn.Call(args.method, std::move(values));
  if (const auto* f = std::get_if<ServerFailure>(&result)) {
    std::cerr << "trd call: the server failed: " << f->message << "\n";
    return 1;
  }
  std::string out;
  Pretty(wire::ToJson(result), 0, out);
  std::cout << out << "\n";
  return 0;
}

}  // namespace

void AddCall(CLI::App& app, int& exit_code) {
  auto args = std::make_shared<CallArgs>();
  auto* cmd = app.add_subcommand("call", "Call one method of the translation server and print its result");
  cmd->add_option("--server", args->server,
                  "Server as http://HOST:PORT or HOST:PORT (default: TRD_SERVER, else 127.0.0.1:8211)");
  cmd->add_option("MODULE", args->module, "Data module, e.g. " + std::string(protocol::kModuleForms))->required();
  cmd->add_option("METHOD", args->method, "Method of the module, e.g. " + std::string(protocol::kGetIdiLeDfm))->required();
  cmd->add_option("ARG", args->args, "Arguments, in order (see below)");
  cmd->footer(kArgumentHelp);
  cmd->callback([args, &exit_code] {
    try {
      exit_code = Call(*args);
    } catch (const std::exception& e) {
      std::cerr << "trd call: " << e.what() << "\n";
      exit_code = 1;
    }
  });
}

}  // namespace trd::cli
