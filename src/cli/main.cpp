// trd: the translation harvester's command line.
#include <exception>
#include <iostream>

#include "Commands.h"

int main(int argc, char** argv) {
  CLI::App app{"trd: harvests the texts of form and report files into the translation server"};
  app.require_subcommand(1);
  int exit_code = 0;
  trd::cli::AddServe(app, exit_code);
  trd::cli::AddCall(app, exit_code);
  trd::cli::AddConvert(app, exit_code);
  trd::cli::AddExtract(app, exit_code);
  trd::cli::AddMkReport(app, exit_code);
  trd::cli::AddHarvest(app, exit_code);
  trd::cli::AddExport(app, exit_code);
  trd::cli::AddImport(app, exit_code);
  trd::cli::AddStatus(app, exit_code);
  trd::cli::AddCheck(app, exit_code);
  trd::cli::AddRetire(app, exit_code);
  trd::cli::AddUser(app, exit_code);
  trd::cli::AddHistory(app, exit_code);
  trd::cli::AddReview(app, exit_code);
  trd::cli::AddSession(app, exit_code);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const std::exception& e) {
    std::cerr << "trd: " << e.what() << "\n";
    return 1;
  }
  return exit_code;
}
