// The module Pkg_trd00500: the two screen units and the exported entry
// procedure. The host loads the module at run time (dlopen / QLibrary) and
// calls IniProc with no arguments to open the harvesting screen; a failure to
// create the screen leaves IniProc as a C++ exception derived from
// std::exception, for the host to report.
//
// Loading initializes the units once, the review screen's unit before the
// import screen's; unloading finalizes them in the reverse order. The module
// brings its own copy of the shared services and installs their Qt side at
// the first IniProc, when the host's application and main window exist.
#include "Cli_trd00500.h"
#include "Cli_trd00501.h"
#include "shared/gui/Host.h"

namespace {

struct Units {
  Units() {
    trd::screen::Cli_trd00501::UnitInitialization();
    trd::screen::Cli_trd00500::UnitInitialization();
  }
  ~Units() {
    trd::screen::Cli_trd00500::UnitFinalization();
    trd::screen::Cli_trd00501::UnitFinalization();
  }
};

const Units units;

}  // namespace

extern "C" __attribute__((visibility("default"))) void IniProc() {
  trd::gui::InstallQtServices();
  trd::screen::Cli_trd00500::IniProc();
}
