// Keyed message table of a screen (the client's TMessages): entries are
// "key|text"; the key is compared exactly. Texts may hold "%s" for the
// values FormatMessage puts in.
#pragma once

#include <initializer_list>
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
  // Whether the table has an entry of that key.
  bool Has(std::string_view key) const;
  // The entry "key|text" of that key, for building another table from this
  // one (each text is written in one table only).
  std::string Entry(std::string_view key) const;
  // Shows the entry's text in a modal dialog and returns the answer.
  MsgAnswer ShowMsg(Dialogs& dialogs, std::string_view key, MsgType type, MsgButtons buttons,
                    int help = 0) const;

 private:
  const std::string* Find(std::string_view key) const;
  std::vector<std::string> entries_;
};

// `pattern` with its "%s" replaced by the arguments, in order; further "%s"
// stay, further arguments are dropped, and a "%s" inside an argument is not
// replaced again.
std::string FormatMessage(std::string pattern, std::initializer_list<std::string_view> args);

}  // namespace trd::shared
