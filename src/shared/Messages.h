// Keyed message table of a screen (the client's TMessages): entries are
// "key|text"; the key is compared exactly.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Services.h"

namespace trd::shared {

class TMessages {
 public:
  TMessages() = default;
  explicit TMessages(std::vector<std::string> entries) : entries_(std::move(entries)) {}

  void Add(std::string entry) { entries_.push_back(std::move(entry)); }
  const std::vector<std::string>& Entries() const { return entries_; }

  // The text of the entry with that key; a missing key yields the key itself,
  // so that a forgotten entry still shows something recognisable.
  std::string Msg(std::string_view key) const;
  // Shows the entry's text in a modal dialog and returns the answer.
  MsgAnswer ShowMsg(std::string_view key, MsgType type, MsgButtons buttons, int help = 0) const;

 private:
  std::vector<std::string> entries_;
};

}  // namespace trd::shared
