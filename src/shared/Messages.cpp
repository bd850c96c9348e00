#include "Messages.h"

namespace trd::shared {

std::string TMessages::Msg(std::string_view key) const {
  for (const auto& e : entries_) {
    auto bar = e.find('|');
    if (bar != std::string::npos && std::string_view(e).substr(0, bar) == key) return e.substr(bar + 1);
  }
  return std::string(key);
}

MsgAnswer TMessages::ShowMsg(std::string_view key, MsgType type, MsgButtons buttons, int) const {
  return GetDialogs().Show(Msg(key), type, buttons);
}

}  // namespace trd::shared
