#include "Commands.h"

namespace trd::cli {

void AddCall(CLI::App& app, int& exit_code) {
  app.add_subcommand("call", "(not built yet)");
}

}  // namespace trd::cli
