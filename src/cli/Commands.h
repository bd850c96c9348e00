// Subcommands of `trd`. Each Add* registers one subcommand on the app; the
// callback it installs sets the process exit status through `exit_code`.
#pragma once

#include <CLI/CLI.hpp>

namespace trd::cli {

void AddServe(CLI::App& app, int& exit_code);    // trd serve
void AddCall(CLI::App& app, int& exit_code);     // trd call
void AddConvert(CLI::App& app, int& exit_code);  // trd convert
void AddExtract(CLI::App& app, int& exit_code);  // trd extract
void AddMkReport(CLI::App& app, int& exit_code); // trd mkreport
void AddHarvest(CLI::App& app, int& exit_code);  // trd harvest
void AddExport(CLI::App& app, int& exit_code);   // trd export
void AddImport(CLI::App& app, int& exit_code);   // trd import
void AddStatus(CLI::App& app, int& exit_code);   // trd status
void AddCheck(CLI::App& app, int& exit_code);    // trd check
void AddRetire(CLI::App& app, int& exit_code);   // trd retire
void AddUser(CLI::App& app, int& exit_code);     // trd user
void AddHistory(CLI::App& app, int& exit_code);  // trd history
void AddReview(CLI::App& app, int& exit_code);   // trd review
void AddSession(CLI::App& app, int& exit_code);  // trd session

}  // namespace trd::cli
