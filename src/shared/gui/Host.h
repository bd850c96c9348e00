// The meeting point of the host program and the screens of a loaded module.
//
// The host's main window is a top-level QMainWindow named kHostObjectName
// whose central widget is a QMdiArea; the screens become its child windows.
// Host and module each carry their own copy of the shared services, so the
// screens find the host through the widget tree (one Qt for both), not
// through a registration that the host would have to make in the module.
#pragma once

class QMainWindow;
class QMdiArea;

namespace trd::gui {

inline constexpr const char* kHostObjectName = "frmPrincipal";

// The host's main window, or nullptr when the screens run without a host
// (tests): they are then top-level windows.
QMainWindow* HostMainWindow();
// The host's multiple-document area, or nullptr.
QMdiArea* HostMdiArea();

// Installs the Qt side of the shared services in this copy of them: the
// QMessageBox dialog sink, the busy indicator over the host's main window,
// failure reporting by the result check, and the host's main window as
// MainWindow(). Called by the module's entry point; idempotent.
void InstallQtServices();

}  // namespace trd::gui
