#include "Handler.h"

#include <QApplication>
#include <QCursor>
#include <exception>
#include <iostream>

#include "Host.h"
#include "shared/Causes.h"
#include "shared/Services.h"

namespace trd::gui {

void RunHandler(const std::function<void()>& body) noexcept {
  try {
    body();
  } catch (const shared::Abort&) {
  } catch (const shared::ServerFailureError&) {
  } catch (const std::exception& e) {
    try {
      ModuleServices().services.dialogs->Show(shared::ErrorMessage(e), shared::MsgType::Error, shared::MsgButtons::Ok);
    } catch (...) {
      std::cerr << e.what() << "\n";  // the dialog itself failed: last resort
    }
  } catch (...) {
    std::cerr << "unknown error in an event handler\n";
  }
}

WaitCursor::WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
WaitCursor::~WaitCursor() { QApplication::restoreOverrideCursor(); }

}  // namespace trd::gui
