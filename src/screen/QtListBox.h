// A QListWidget seen as a run::ListBox. The widget's own sorting stays
// off: Add places items by the list's comparison (ASCII letter case folded),
// which Qt's case-sensitive sort would not match. Texts are UTF-8 on the
// ListBox side.
#pragma once

#include "run/SelectionLists.h"

class QListWidget;

namespace trd::screen {

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
