#include "SelectionLists.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "FileDiscovery.h"
#include "platform/Path.h"
#include "platform/Text.h"

namespace trd::run {
namespace {

bool Less(std::string_view a, std::string_view b) { return text::CompareIgnoreCase(a, b) < 0; }

// The part of a testa entry that names the file: the text before its first "=".
std::string_view RecordedName(std::string_view entry) { return entry.substr(0, entry.find('=')); }

// The case-folded key under which a name or path is indexed: equal keys are
// exactly the texts that EqualsIgnoreCase takes as equal.
std::string Folded(std::string_view s) { return text::UpperAscii(s); }

// testa and selec indexed for MoveIntoSelection, so that a move of all of a
// large tree's files costs no more per file than a move of a few: a look-up
// by folded key instead of a walk over every entry.
class SelectionIndex {
 public:
  explicit SelectionIndex(const SelectionLists& lists) : testa_(lists.testa) {
    for (int i = 0, n = lists.selec.Count(); i < n; ++i) selected_.insert(Folded(lists.selec.Item(i)));
    for (std::size_t i = 0; i < testa_.size(); ++i) AddedToTesta(i);
  }

  bool Selected(std::string_view path) const { return selected_.contains(Folded(path)); }
  void AddedToSelection(std::string_view path) { selected_.insert(Folded(path)); }

  // The directory recorded in testa for a file name, when the name is there
  // (the first entry of the name wins).
  std::optional<std::string> RecordedDirectory(std::string_view name) const {
    auto it = recorded_.find(Folded(name));
    if (it == recorded_.end()) return std::nullopt;
    const std::string& entry = testa_[it->second];
    const std::size_t eq = entry.find('=');
    return eq == std::string::npos ? std::string() : entry.substr(eq + 1);
  }
  void AddedToTesta(std::size_t at) { recorded_.emplace(Folded(RecordedName(testa_[at])), at); }

 private:
  const StringList& testa_;
  std::unordered_set<std::string> selected_;
  std::unordered_map<std::string, std::size_t> recorded_;  // folded name: its first entry in testa
};

}  // namespace

void SortIgnoreCase(StringList& list) { std::stable_sort(list.begin(), list.end(), Less); }

int IndexOfIgnoreCase(const StringList& list, std::string_view s) {
  for (std::size_t i = 0; i < list.size(); ++i)
    if (text::EqualsIgnoreCase(list[i], s)) return int(i);
  return -1;
}

int ListBox::IndexOf(std::string_view path) const {
  for (int i = 0, n = Count(); i < n; ++i)
    if (text::EqualsIgnoreCase(Item(i), path)) return i;
  return -1;
}

int ListBox::InsertPosition(std::string_view path) const {
  int lo = 0;
  int hi = Count();
  while (lo < hi) {  // first item that sorts after `path`
    int mid = lo + (hi - lo) / 2;
    if (Less(path, Item(mid))) hi = mid;
    else lo = mid + 1;
  }
  return lo;
}

void MemoryListBox::Add(const std::string& path) {
  auto at = std::size_t(InsertPosition(path));
  items_.insert(items_.begin() + std::ptrdiff_t(at), path);
  picked_.insert(picked_.begin() + std::ptrdiff_t(at), false);
}

void MemoryListBox::Delete(int n) {
  items_.erase(items_.begin() + n);
  picked_.erase(picked_.begin() + n);
}

void MemoryListBox::Clear() {
  items_.clear();
  picked_.clear();
}

MoveOutcome MoveIntoSelection(SelectionLists& lists, MoveScope scope) {
  SelectionIndex index(lists);
  for (int n = lists.disp.Count() - 1; n >= 0; --n) {
    if (scope == MoveScope::Picked && !lists.disp.Picked(n)) continue;
    const std::string path = lists.disp.Item(n);
    if (index.Selected(path)) return MoveOutcome::AlreadySelected;

    const std::string file(FileName(path));
    const std::string directory(DirectoryOf(path));
    const std::string name = text::PathText(file);  // a Latin-1 and a UTF-8 "Ação.dfm" are one name
    std::optional<std::string> recorded = index.RecordedDirectory(name);
    if (!recorded || recorded->empty()) {
      lists.testa.push_back(name + "=" + directory);
      index.AddedToTesta(lists.testa.size() - 1);
    } else {
      lists.verRep.push_back(directory + kSeparator + file);
      lists.verRep.push_back(*recorded + kSeparator + file);
    }
    lists.selec.Add(lists.files.at(std::size_t(n)));
    index.AddedToSelection(lists.files[std::size_t(n)]);
    lists.disp.Delete(n);
    lists.files.erase(lists.files.begin() + n);
  }
  return MoveOutcome::Done;
}

void MoveOutOfSelection(SelectionLists& lists, MoveScope scope) {
  for (int n = lists.selec.Count() - 1; n >= 0; --n) {
    if (scope == MoveScope::Picked && !lists.selec.Picked(n)) continue;
    const std::string path = lists.selec.Item(n);
    if (IndexOfIgnoreCase(lists.files, path) >= 0) continue;
    lists.disp.Add(path);
    lists.files.push_back(path);
    lists.selec.Delete(n);
    lists.verRep.clear();
  }
  SortIgnoreCase(lists.files);
}

DuplicateGate CheckDuplicates(const StringList& verRep) {
  return verRep.empty() ? DuplicateGate::Open : DuplicateGate::Closed;
}

TreeSelection SelectSourceTree(std::string_view directory) {
  MemoryListBox disp;
  MemoryListBox selec;
  StringList files;
  StringList testa;
  StringList verRep;
  ListingSink sink;
  sink.found = [&](const std::string& path) { files.push_back(path); };
  ListSourceTree(directory, sink);
  // Added in sorted order, each path goes to the end of disp, which then
  // holds what adding them in listing order gives (the sort is stable, as
  // the list's insert is), without moving the items already there.
  SortIgnoreCase(files);
  for (const std::string& path : files) disp.Add(path);
  SelectionLists lists{disp, selec, files, testa, verRep};
  MoveIntoSelection(lists, MoveScope::All);
  return {selec.Items(), std::move(verRep)};
}

ImportButton ImportButtonState(int selectedCount, std::string_view languageText) {
  return selectedCount > 0 && !languageText.empty() ? ImportButton::Enabled : ImportButton::Disabled;
}

}  // namespace trd::run
