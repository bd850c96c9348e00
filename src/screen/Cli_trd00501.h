// Unit Cli_trd00501: the duplicate-file review screen TfrmVerRep ("Gera Novo
// Idioma para Tradução").
//
// Opened by the import run while stlVerRep (Cli_trd00500) holds duplicated
// paths. Creation warns with "ARQ_DUP", then shows the entries of stlVerRep
// in the read-only view memVerRep and the list lsbDelRep, line n of the one
// naming entry n of the other. A double click on an item drops that path from
// the import screen's selected list (not back into the available list) and
// deletes the entry, the line and the item. Confirming empties stlVerRep and
// the view and closes the screen; the files stay selected. The cancel button
// is disabled. A second CriaVerRep while the screen exists only shows it
// again, without warning and without refreshing it.
//
// The screen works on lists owned by the import screen: it is closed together
// with that screen (FechaVerRep), and it checks that the lists still exist
// before each use.
#pragma once

#include "shared/gui/TfrmRotiGeral.h"

class QGroupBox;
class QListWidget;
class QPlainTextEdit;

namespace trd::screen {

class TfrmVerRep final : public gui::TfrmRotiGeral {
  Q_OBJECT
 public:
  explicit TfrmVerRep(QWidget* parent = nullptr);
  ~TfrmVerRep() override;

  QPlainTextEdit* memVerRep;
  QGroupBox* grbDeletar;
  QListWidget* lsbDelRep;

  void FormCreate() override;
  void sbtConfirmaClick() override;
  void sbtCancelClick() override;
  void lsbDelRepDblClick();

 protected:
  void FormClose(gui::CloseAction& action) override;

 private:
  void Release();
};

namespace Cli_trd00501 {

extern TfrmVerRep* frmVerRep;
extern bool boStCriado;

// Creates the review screen when it does not exist, then shows it, under the
// hourglass.
void CriaVerRep();
// Closes the review screen when it is open (the import screen is closing).
void FechaVerRep();

// Module loading and unloading: initialization clears boStCriado;
// finalization destroys a review screen still open.
void UnitInitialization();
void UnitFinalization();

}  // namespace Cli_trd00501
}  // namespace trd::screen
