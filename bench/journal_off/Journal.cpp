// The journal with nothing behind it, for the benchmarks' baseline only:
// linked into trd_unjournalled (bench/CMakeLists.txt) ahead of the server
// library, whose own Journal.o it stands in for. A program built with it
// writes no history, no translation memory and no review state: never
// installed, never run on data anyone keeps.
#include "server/Journal.h"

namespace trd::server {

void Journal::Changed(const std::optional<Row>&, const std::optional<Row>&) {}
void Journal::Changed(const std::optional<Row>&, const std::optional<Row>&, const Attribution&) {}
void Journal::Reviewed(const Row&, std::string_view) {}
void Journal::Flush() {}

}  // namespace trd::server
