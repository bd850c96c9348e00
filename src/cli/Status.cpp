#include "Commands.h"
namespace trd::cli {
void AddStatus(CLI::App&, int&) {}
void AddCheck(CLI::App&, int&) {}
}
