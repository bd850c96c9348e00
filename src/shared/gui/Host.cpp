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

Endpoint ScreenServer() {
  if (QMainWindow* main = HostMainWindow()) {
    const QString given = main->property(kServerProperty).toString();
    if (!given.isEmpty()) return ParseServerAddress(given.toStdString());
  }
  return shared::ServerFromEnvironment();
}

ScreenServices& ModuleServices() {
  static ScreenServices services;
  return services;
}

void InstallQtServices() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  shared::Services& s = ModuleServices().services;
  s.dialogs = std::make_shared<QtDialogs>();
  s.busy = std::make_shared<QtBusyIndicator>();
  s.result_check = shared::ReportFailure::Show;
  s.main_window = static_cast<QWidget*>(HostMainWindow());
}

}  // namespace trd::gui
