#include "Commands.h"

namespace trd::cli {

void AddConvert(CLI::App& app, int& exit_code) {
  app.add_subcommand("convert", "(not built yet)");
}

}  // namespace trd::cli
