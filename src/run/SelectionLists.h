// The two file lists of the harvesting screen and the moves between them,
// with the detection of duplicated file names. Qt-free: the lists are seen
// through the ListBox interface, which the screen implements over its list
// widgets and MemoryListBox implements in memory.
//
// The lists (paths are full paths, '/' separated):
//   disp    available files, sorted; files holds the same paths in the same
//           order, so that item n of one names item n of the other
//   selec   selected files, sorted, never the same path twice
//   testa   "name=directory" for every file name moved into the selection
//           since the last full listing (looked up by the text before the
//           first "=", letter case ignored, first entry wins); the name as
//           text (text::PathText), so that two byte spellings of one name,
//           which give one program code, are duplicates
//   verRep  paths of duplicated files, appended in pairs: the file moved in,
//           then the path recorded earlier for its name
// Sorting and comparing ignore the case of ASCII letters only.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace trd::run {

using StringList = std::vector<std::string>;

// Ascending order ignoring ASCII letter case; stable, so entries equal but
// for case keep their order (the order a sorted list box inserts them in).
void SortIgnoreCase(StringList& list);
// Index of the first entry equal to `s` ignoring ASCII case, or -1.
int IndexOfIgnoreCase(const StringList& list, std::string_view s);

// A sorted, multi-select list of paths.
class ListBox {
 public:
  virtual ~ListBox() = default;
  virtual int Count() const = 0;
  virtual std::string Item(int n) const = 0;
  // Whether item n is picked (highlighted) by the user.
  virtual bool Picked(int n) const = 0;
  // Inserts `path` in order: after every item that does not sort after it.
  virtual void Add(const std::string& path) = 0;
  virtual void Delete(int n) = 0;
  virtual void Clear() = 0;

  // Index of the first item equal to `path` ignoring ASCII case, or -1.
  int IndexOf(std::string_view path) const;
  // The position at which Add places `path`.
  int InsertPosition(std::string_view path) const;
};

// Held in double-ended queues: the moves of a whole tree add at the front
// (the selection, visited from its last item down) or at the back (a sorted
// listing) and delete at the back, each in constant time.
class MemoryListBox final : public ListBox {
 public:
  int Count() const override { return int(items_.size()); }
  std::string Item(int n) const override { return items_.at(std::size_t(n)); }
  bool Picked(int n) const override { return picked_.at(std::size_t(n)); }
  void Add(const std::string& path) override;
  void Delete(int n) override;
  void Clear() override;
  void Pick(int n, bool picked = true) { picked_.at(std::size_t(n)) = picked; }
  StringList Items() const { return {items_.begin(), items_.end()}; }

 private:
  std::deque<std::string> items_;
  std::deque<bool> picked_;
};

struct SelectionLists {
  ListBox& disp;
  ListBox& selec;
  StringList& files;
  StringList& testa;
  StringList& verRep;
};

enum class MoveScope { Picked, All };
enum class MoveOutcome { Done, AlreadySelected };

// Moves the picked (or all) available files into the selection, visiting
// disp from its last item down so that a removal never shifts an item not
// yet visited. A name already in testa records a duplicate pair in verRep;
// a new name is recorded in testa. Stops with AlreadySelected, leaving the
// items visited so far moved, at a path that selec holds already.
MoveOutcome MoveIntoSelection(SelectionLists& lists, MoveScope scope);

// Moves the picked (or all) selected files back to the available files,
// from the last item down. A path that files holds already stays selected.
// Any file moved back empties verRep; testa keeps its entries. files is
// sorted afterwards, back into the order of disp.
void MoveOutOfSelection(SelectionLists& lists, MoveScope scope);

// The duplicate gate of the import button: a run starts only while no
// duplicated pair is pending in verRep (the screen opens the duplicate-file
// review instead; `trd harvest` refuses unless told to read duplicates).
enum class DuplicateGate { Open, Closed };
DuplicateGate CheckDuplicates(const StringList& verRep);

// What the lists hold after listing every source subtree of `directory`
// (ListSourceTree) and moving every file into the selection: what
// `trd harvest DIR` reads.
struct TreeSelection {
  StringList paths;       // selec, in its order
  StringList duplicates;  // verRep: pairs of the file moved in and the one before
};
TreeSelection SelectSourceTree(std::string_view directory);
// The same of a listing already sorted (SortIgnoreCase): what the lists hold
// after MoveIntoSelection(MoveScope::All) of it, worked out in the listing
// itself, without the lists' copies and indexes of every path (a tree of
// tens of thousands of files held once, not five times).
TreeSelection SelectAll(StringList sorted);

enum class ImportButton { Disabled, Enabled };
// The enabling rule of the import button: at least one selected file and a
// language text.
ImportButton ImportButtonState(int selectedCount, std::string_view languageText);

}  // namespace trd::run
