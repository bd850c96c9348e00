// Running event handlers the way the client's event loop does.
//
// Qt must never see an exception leave a slot or an event handler, so every
// handler body of a screen runs through RunHandler:
//   - shared::Abort (raised by MensErro after its message was shown) ends the
//     handler silently;
//   - shared::ServerFailureError has been reported by the result check
//     already (the screens run with ReportFailure::Show) and is not shown
//     again;
//   - any other std::exception is shown as an error message, with the
//     Portuguese cause first (shared/Causes.h).
#pragma once

#include <functional>

namespace trd::gui {

void RunHandler(const std::function<void()>& body) noexcept;

// The hourglass for the lifetime of the object (nestable; restored on every
// path out of the scope).
class WaitCursor {
 public:
  WaitCursor();
  ~WaitCursor();
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace trd::gui
