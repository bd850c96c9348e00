// The host's main window: a multiple-document area for the screens, a menu
// entry per screen, the loaded module, and the translation server's address
// in the status bar.
//
// The module is loaded at run time; its entry procedure IniProc opens the
// harvesting screen as a child window of the area. Errors raised by IniProc
// are shown in a dialog. Closing the main window closes the child windows
// first and is refused while one of them refuses (a listing or an import run
// under way).
#pragma once

#include <QMainWindow>
#include <QString>

class QAction;
class QLibrary;
class QMdiArea;

namespace trd::host {

class TfrmPrincipal final : public QMainWindow {
  Q_OBJECT
 public:
  // `server`: the translation server's address the screens connect to
  // (gui::ScreenServer); empty for TRD_SERVER or the default.
  explicit TfrmPrincipal(const QString& server = {});
  ~TfrmPrincipal() override;

  // Loads the module and finds IniProc in it. Returns false (after telling
  // the user) when either fails; the menu entry stays disabled then.
  bool LoadModule(const QString& path);
  // Calls the module's IniProc (the menu entry does the same).
  void OpenScreen();
  QMdiArea* Area() const { return area_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  using EntryProc = void (*)();
  QMdiArea* area_;
  QAction* open_action_;
  QLibrary* module_ = nullptr;
  EntryProc ini_proc_ = nullptr;
};

}  // namespace trd::host
