// A QListWidget seen as a run::ListBox. The widget's own sorting stays
// off: Add places items by the list's comparison (ASCII letter case folded),
// which Qt's case-sensitive sort would not match. Items are paths, bytes as
// the file system spells them, on the ListBox side; the widget shows each as
// text (text::PathText: a name that is not UTF-8 is shown as Windows-1252)
// and keeps its bytes in the item's data, so that the file can be opened.
// Each item's tooltip shows its whole path.
#pragma once

#include <string>

#include "run/SelectionLists.h"

class QListWidget;
class QListWidgetItem;

namespace trd::screen {

// The path an item of a file list stands for: its bytes as added through a
// QtListBox, else the item's text.
std::string PathOf(const QListWidgetItem* item);

class QtListBox final : public run::ListBox {
 public:
  explicit QtListBox(QListWidget* widget) : widget_(widget) {}
  int Count() const override;
  std::string Item(int n) const override;
  bool Picked(int n) const override;
  void Add(const std::string& path) override;
  void Delete(int n) override;
  void Clear() override;

 private:
  QListWidget* widget_;
};

}  // namespace trd::screen
