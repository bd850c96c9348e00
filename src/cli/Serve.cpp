#include "Commands.h"

namespace trd::cli {

void AddServe(CLI::App& app, int& exit_code) {
  app.add_subcommand("serve", "(not built yet)");
}

}  // namespace trd::cli
