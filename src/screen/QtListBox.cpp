#include "QtListBox.h"

#include <QListWidget>

namespace trd::screen {

int QtListBox::Count() const { return widget_->count(); }

std::string QtListBox::Item(int n) const { return widget_->item(n)->text().toStdString(); }

bool QtListBox::Picked(int n) const { return widget_->item(n)->isSelected(); }

void QtListBox::Add(const std::string& path) {
  widget_->insertItem(InsertPosition(path), QString::fromStdString(path));
}

void QtListBox::Delete(int n) { delete widget_->takeItem(n); }

void QtListBox::Clear() { widget_->clear(); }

}  // namespace trd::screen
