#include "Messages.h"

namespace trd::shared {

const std::string* TMessages::Find(std::string_view key) const {
  for (const auto& e : entries_) {
    auto bar = e.find('|');
    if (bar != std::string::npos && std::string_view(e).substr(0, bar) == key) return &e;
  }
  return nullptr;
}

std::string TMessages::Msg(std::string_view key) const {
  const std::string* e = Find(key);
  return e ? e->substr(e->find('|') + 1) : std::string(key);
}

bool TMessages::Has(std::string_view key) const { return Find(key) != nullptr; }

std::string TMessages::Entry(std::string_view key) const { return std::string(key) + "|" + Msg(key); }

MsgAnswer TMessages::ShowMsg(Dialogs& dialogs, std::string_view key, MsgType type, MsgButtons buttons,
                             int) const {
  return dialogs.Show(Msg(key), type, buttons);
}

std::string FormatMessage(std::string pattern, std::initializer_list<std::string_view> args) {
  std::size_t from = 0;
  for (std::string_view a : args) {
    std::size_t at = pattern.find("%s", from);
    if (at == std::string::npos) break;
    pattern.replace(at, 2, a);
    from = at + a.size();
  }
  return pattern;
}

}  // namespace trd::shared
