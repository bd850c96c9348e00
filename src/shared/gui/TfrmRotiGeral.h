// Base general-routine screen (TfrmRotiGeral).
//
//   panMenu      top bar with the screen's title
//   grbDadosRel  the content area, without a layout: the derived screen
//                gives it one
//   panBotoes    the button column: sbtConfirma and sbtCancel (both enabled)
//   panHelp      a strip under the content for a line of help text
//   msgPadrao    the screen's message table, empty in the base
//
// FormCreate is the creation handler: the factory of the derived screen calls
// it right after construction (a constructor cannot reach the derived
// screen's override); the base builds nothing more in it. The buttons call
// the virtual handlers through RunHandler; the base cancel handler closes the
// screen and FormClose (ScreenBase) disposes of it once closed. Every
// component has its member name as object name.
#pragma once

#include "ScreenBase.h"
#include "shared/Messages.h"

class QFrame;
class QGroupBox;
class QLabel;
class QToolButton;

namespace trd::gui {

class TfrmRotiGeral : public ScreenBase {
  Q_OBJECT
 public:
  explicit TfrmRotiGeral(QWidget* parent = nullptr);

  QFrame* panMenu;
  QGroupBox* grbDadosRel;
  QFrame* panBotoes;
  QToolButton* sbtConfirma;
  QToolButton* sbtCancel;
  QFrame* panHelp;
  QLabel* lblHelp;
  shared::TMessages msgPadrao;

  virtual void FormCreate() {}
  virtual void sbtConfirmaClick() {}
  virtual void sbtCancelClick() { Close(); }

 protected:
  void changeEvent(QEvent* event) override;

 private:
  QLabel* title_;
};

}  // namespace trd::gui
