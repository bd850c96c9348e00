// The meeting point of the host program and the screens of a loaded module.
//
// The host's main window is a top-level QMainWindow named kHostObjectName
// whose central widget is a QMdiArea; the screens become its child windows.
// Host and module each carry their own copy of the shared services, so the
// screens find the host through the widget tree (one Qt for both), not
// through a registration that the host would have to make in the module.
#pragma once

#include "platform/Connection.h"
#include "platform/Endpoint.h"
#include "shared/Services.h"

class QMainWindow;
class QMdiArea;

namespace trd::gui {

inline constexpr const char* kHostObjectName = "frmPrincipal";

// The host's main window, or nullptr when the screens run without a host
// (tests): they are then top-level windows.
QMainWindow* HostMainWindow();
// The host's multiple-document area, or nullptr.
QMdiArea* HostMdiArea();

// The property of the host's main window that holds, as text, the
// translation server's address the host was given (trd-client --server).
inline constexpr const char* kServerProperty = "trdServidor";
// The translation server the screens connect to: the address the host was
// given, else TRD_SERVER, else 127.0.0.1:8211 (platform/Endpoint.h). Throws
// Error for a malformed address.
Endpoint ScreenServer();

// What the screens of this copy of the shared services work with, owned here
// at the module's edge (its entry point takes no arguments) and handed down
// to the screens' stores and runs: the services' sinks (standard error and
// no busy indicator until InstallQtServices) and the transports to the
// translation server (empty: HTTP). Tests replace them.
struct ScreenServices {
  shared::Services services;
  TransportFactory transports;
};
ScreenServices& ModuleServices();

// Installs the Qt side in ModuleServices(): the QMessageBox dialog sink, the
// busy indicator over the host's main window, failure reporting by the
// result check, and the host's main window. Called by the module's entry
// point; idempotent.
void InstallQtServices();

}  // namespace trd::gui
