#include "Host.h"

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <memory>

#include "BusyIndicator.h"
#include "QtDialogs.h"
#include "shared/Services.h"

namespace trd::gui {

QMainWindow* HostMainWindow() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == QLatin1String(kHostObjectName)) {
      if (auto* main = qobject_cast<QMainWindow*>(w)) return main;
    }
  }
  return nullptr;
}

QMdiArea* HostMdiArea() {
  QMainWindow* main = HostMainWindow();
  return main ? qobject_cast<QMdiArea*>(main->centralWidget()) : nullptr;
}

void InstallQtServices() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  shared::SetDialogs(std::make_shared<QtDialogs>());
  shared::SetBusyIndicator(std::make_shared<QtBusyIndicator>());
  shared::SetResultCheckReporting(shared::ReportFailure::Show);
  shared::SetMainWindow(static_cast<QWidget*>(HostMainWindow()));
}

}  // namespace trd::gui
