#include "QtListBox.h"

#include <QListWidget>

#include "platform/Text.h"

namespace trd::screen {
namespace {

constexpr int kPathRole = Qt::UserRole;

}  // namespace

std::string PathOf(const QListWidgetItem* item) {
  const QVariant bytes = item->data(kPathRole);
  return bytes.isValid() ? bytes.toByteArray().toStdString() : item->text().toStdString();
}

int QtListBox::Count() const { return widget_->count(); }

std::string QtListBox::Item(int n) const { return PathOf(widget_->item(n)); }

bool QtListBox::Picked(int n) const { return widget_->item(n)->isSelected(); }

void QtListBox::Add(const std::string& path) {
  const QString shown = QString::fromStdString(text::PathText(path));
  auto* item = new QListWidgetItem(shown);
  item->setData(kPathRole, QByteArray::fromStdString(path));
  item->setToolTip(shown);  // a long path hides the file name at the list's edge
  widget_->insertItem(InsertPosition(path), item);
}

void QtListBox::Delete(int n) { delete widget_->takeItem(n); }

void QtListBox::Clear() { widget_->clear(); }

}  // namespace trd::screen
