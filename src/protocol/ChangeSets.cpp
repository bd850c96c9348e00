#include "ChangeSets.h"

namespace trd::protocol {
namespace {

const char* KindName(ChangeKind k) {
  switch (k) {
    case ChangeKind::Insert: return "insert";
    case ChangeKind::Modify: return "modify";
    case ChangeKind::Delete: return "delete";
  }
  return "?";
}

}  // namespace

std::string ChangeName(std::size_t index, std::size_t count, ChangeKind kind) {
  return "change " + std::to_string(index + 1) + " of " + std::to_string(count) + " (" + KindName(kind) + ")";
}

}  // namespace trd::protocol
