#include "ScreenBase.h"

#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>

#include "Handler.h"
#include "Host.h"

namespace trd::gui {

ScreenBase::ScreenBase(QWidget* parent) : QWidget(parent) {}

QMdiSubWindow* ScreenBase::SubWindow() { return qobject_cast<QMdiSubWindow*>(parentWidget()); }

QWidget* ScreenBase::Container() {
  QMdiSubWindow* sub = SubWindow();
  return sub ? static_cast<QWidget*>(sub) : this;
}

void ScreenBase::PlaceOnHost(const QRect& geometry) {
  if (QMdiArea* area = HostMdiArea()) {
    QMdiSubWindow* sub = area->addSubWindow(this);
    sub->setWindowTitle(windowTitle());
    sub->setGeometry(geometry);
  } else {
    setParent(nullptr, Qt::Window);
    setGeometry(geometry);
  }
}

void ScreenBase::ShowNormal() {
  QWidget* w = Container();
  w->showNormal();
  w->raise();
  if (QMdiSubWindow* sub = SubWindow()) {
    if (QMdiArea* area = sub->mdiArea()) area->setActiveSubWindow(sub);
  } else {
    w->activateWindow();
  }
}

bool ScreenBase::Close() { return Container()->close(); }

void ScreenBase::closeEvent(QCloseEvent* event) {
  CloseDecision decision = CloseDecision::Allow;
  RunHandler([&] { decision = CloseQuery(); });
  if (decision == CloseDecision::Refuse) {
    event->ignore();
    return;
  }
  CloseAction action = CloseAction::Hide;
  RunHandler([&] { FormClose(action); });
  event->accept();
  // Deletion is left to QWidget::close, which checks the attribute after
  // this handler returned (the subwindow's close runs around this one).
  Container()->setAttribute(Qt::WA_DeleteOnClose, action == CloseAction::Free);
}

}  // namespace trd::gui
