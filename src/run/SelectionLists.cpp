#include "SelectionLists.h"

#include <algorithm>
#include <cstdint>
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

// The testa entry of a path moved into the selection: "name=directory".
std::string TestaEntry(std::string_view path) {
  return text::PathText(FileName(path)) + "=" + std::string(DirectoryOf(path));
}

// The directory a testa entry records: the text after its first "=".
std::string RecordedDirectory(std::string_view entry) {
  const std::size_t eq = entry.find('=');
  return eq == std::string::npos ? std::string() : std::string(entry.substr(eq + 1));
}

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
    return run::RecordedDirectory(testa_[it->second]);
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
      lists.testa.push_back(TestaEntry(path));
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
  StringList files;
  ListingSink sink;
  sink.found = [&](const std::string& path) { files.push_back(path); };
  ListSourceTree(directory, sink);
  SortIgnoreCase(files);
  return SelectAll(std::move(files));
}

TreeSelection SelectAll(StringList sorted) {
  // MoveIntoSelection visits the listing from its last path down. A path
  // that folds equal to one selected before stops it: in a sorted listing
  // such paths lie side by side, so it stops at the first path (from the
  // end) equal to the one after it. Every path visited goes into the
  // selection, each sorting before those there: the selection is the
  // listing's part after the stop, in the same order.
  std::size_t first = sorted.size();
  while (first > 0 && !(first < sorted.size() && text::EqualsIgnoreCase(sorted[first - 1], sorted[first]))) --first;

  // testa's first entry of a name is the name's first path visited (the
  // highest place); each later path of the name is a duplicated pair,
  // unless the directory that entry records is empty. A path is looked up by
  // its whole name, an entry by the text before its first "=": a name that
  // holds "=" finds no entry. The places of the visited paths ordered by
  // recorded name (then from the highest down) give each name's first path
  // without a copy of every name.
  auto name_of = [&](std::uint32_t at) { return Folded(RecordedName(TestaEntry(sorted[at]))); };
  std::vector<std::uint32_t> by_name(sorted.size() - first);
  for (std::size_t i = 0; i < by_name.size(); ++i) by_name[i] = std::uint32_t(first + i);
  std::sort(by_name.begin(), by_name.end(), [&](std::uint32_t a, std::uint32_t b) {
    const int c = name_of(a).compare(name_of(b));
    return c != 0 ? c < 0 : a > b;
  });
  std::vector<std::uint32_t> recorded(sorted.size() - first);  // by place - first: the name's first path
  for (std::size_t i = 0; i < by_name.size();) {
    const std::string name = name_of(by_name[i]);
    const std::uint32_t head = by_name[i];
    for (; i < by_name.size() && name_of(by_name[i]) == name; ++i) recorded[by_name[i] - first] = head;
  }
  by_name = {};

  TreeSelection selection;
  for (std::size_t n = sorted.size(); n-- > first;) {
    const std::uint32_t head = recorded[n - first];
    if (head == n || FileName(sorted[n]).find('=') != std::string_view::npos) continue;
    const std::string entry = TestaEntry(sorted[head]);
    const std::string directory = RecordedDirectory(entry);
    if (directory.empty()) continue;
    const std::string_view path = sorted[n];
    const std::string file(FileName(path));
    selection.duplicates.push_back(std::string(DirectoryOf(path)) + kSeparator + file);
    selection.duplicates.push_back(directory + kSeparator + file);
  }
  sorted.erase(sorted.begin(), sorted.begin() + std::ptrdiff_t(first));
  sorted.shrink_to_fit();  // the run keeps the list to its end
  selection.paths = std::move(sorted);
  return selection;
}

ImportButton ImportButtonState(int selectedCount, std::string_view languageText) {
  return selectedCount > 0 && !languageText.empty() ? ImportButton::Enabled : ImportButton::Disabled;
}

}  // namespace trd::run
