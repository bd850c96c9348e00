// Common ground of the base screens: a QWidget that lives as a child window
// of the host's multiple-document area, or as a top-level window when there
// is no host (tests), with the close protocol of the client's forms:
//
//   Close() / the window's close box / the host closing its child windows
//     -> CloseQuery(): the screen may refuse (the window stays open)
//     -> FormClose(action): the screen's close handler; the base sets
//        action to Free
//     -> with Free the window (and the screen in it) is deleted later, once
//        control is back in the event loop.
//
// A screen deleted without being closed (its host window destroyed) does not
// get FormClose; screens that hold resources release them in their
// destructors as well.
#pragma once

#include <QRect>
#include <QWidget>

class QMdiSubWindow;

namespace trd::gui {

enum class CloseAction { Hide, Free };
enum class CloseDecision { Allow, Refuse };

class ScreenBase : public QWidget {
  Q_OBJECT
 public:
  explicit ScreenBase(QWidget* parent = nullptr);

  // Puts the screen into the host's multiple-document area as a subwindow
  // with the given frame geometry, or makes it a top-level window with that
  // geometry. Called once, before the first ShowNormal.
  void PlaceOnHost(const QRect& geometry);
  // Shows the screen's window, restores it from minimized or maximized and
  // brings it to the front.
  void ShowNormal();
  // Asks the screen's window to close. Returns whether it closed.
  bool Close();
  // The window holding the screen: its subwindow, or the screen itself.
  QWidget* Container();

 protected:
  virtual CloseDecision CloseQuery() { return CloseDecision::Allow; }
  virtual void FormClose(CloseAction& action) { action = CloseAction::Free; }
  void closeEvent(QCloseEvent* event) override;

 private:
  QMdiSubWindow* SubWindow();
};

}  // namespace trd::gui
