// Base import/export screen (TfrmPadrImportExport): the frame that import
// and export screens fill in.
//
//   panMenu       top bar: the screen's title and the screen-code label
//                 lblCodTela (the derived screen sets its text)
//   grbDadosRel   the content area, without a layout: the derived screen
//                 gives it one
//   panBotoes     the button column: sbtImportExport (flat, disabled until
//                 the derived screen enables it) and sbtCancel
//   panProgresso  bottom bar with the progress bar pgbProgresso (minimum 0);
//                 ProgressLayout() lets the derived screen add its status
//                 label in front of it
//   msgPadrao     the screen's message table, empty in the base
//
// The buttons call the virtual click handlers sbtImportExportClick and
// sbtCancelClick through RunHandler. The base cancel handler closes the
// screen; FormClose (ScreenBase) disposes of it once closed. Every component
// has its member name as object name.
#pragma once

#include <QPixmap>

#include "ScreenBase.h"
#include "shared/Messages.h"

class QFrame;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QProgressBar;
class QToolButton;

namespace trd::gui {

class TfrmPadrImportExport : public ScreenBase {
  Q_OBJECT
 public:
  explicit TfrmPadrImportExport(QWidget* parent = nullptr);

  QFrame* panMenu;
  QLabel* lblCodTela;
  QGroupBox* grbDadosRel;
  QFrame* panBotoes;
  QToolButton* sbtImportExport;
  QToolButton* sbtCancel;
  QFrame* panProgresso;
  QProgressBar* pgbProgresso;
  shared::TMessages msgPadrao;

  // The picture meant for the import button; the derived screen hands it to
  // SetGlyph when it is created.
  const QPixmap& ImportGlyph() const { return import_glyph_; }

  virtual void sbtImportExportClick() {}
  virtual void sbtCancelClick() { Close(); }

 protected:
  QHBoxLayout* ProgressLayout() { return progress_layout_; }
  void changeEvent(QEvent* event) override;

 private:
  QLabel* title_;
  QHBoxLayout* progress_layout_;
  QPixmap import_glyph_;
};

}  // namespace trd::gui
