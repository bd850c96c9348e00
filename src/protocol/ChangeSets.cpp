#include "ChangeSets.h"

namespace trd::protocol {

std::string ChangeName(std::size_t index, std::size_t count, ChangeKind kind) {
  return "change " + std::to_string(index + 1) + " of " + std::to_string(count) + " (" + ChangeKindName(kind) + ")";
}

}  // namespace trd::protocol
