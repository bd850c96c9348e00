// Unit Cli_trd00500: the harvesting screen TfrmLeDfmRel ("Leitura Geral dos
// Dfm´s e Relatórios", code TRD00500), its entry procedure and its globals.
//
// Lifecycle. CriaLeDfmRel creates the one screen (constructor, then
// FormCreate) and shows it; while it exists, further calls only show it again
// in normal window state. FormCreate opens the three server connections,
// creates the version table and the global lists, and fills the language box
// from GetIdiLeDfm with "code-description" items in the server's order; when
// the list cannot be fetched the screen says so in one dialog (Portuguese
// cause, technical detail after it) and stays open with an empty box. While
// the box is empty, the list is fetched again when the box is dropped down
// and when an import starts, with the same one dialog while the server stays
// unreachable (an import then ends there). Closing (FormClose) closes the review screen, frees the
// global lists, closes the connections and clears boStcriado. Closing is
// refused while a directory listing or an import run is under way; during a
// run the request becomes a cancel (boCancelar).
//
// Language. Every change of the box's text, picked or typed, applies the
// enabling rule and sets stIdiLeDfm to the first three characters of the
// text (the code of a "code-description" item).
//
// The import button's rule (AplicaRegraImportar) is applied after every
// change of the language text and of the selected list (moves, listings,
// the review's removals) and when a listing or a run ends: enabled exactly
// when a file is selected and the language text is not empty.
//
// Progress of a run: lblArquivo beside the bar reads "Arquivo n de N: NOME"
// (the file being read); lblStatus shows the text being looked up. Every
// entry of the file lists has its whole path as tooltip.
//
// Files. The directory button (or F9 in the directory field) empties every
// list, asks the directory chooser and lists the source subtrees of the
// chosen directory into lsbDisp and stlFiles (see run/FileDiscovery.h); leaving
// the directory field lists the typed directory when both visible lists are
// empty; any change of the field's text empties lsbDisp and stlFiles. While a
// listing runs (it lets pending events run as it goes) the file controls,
// the language box and the import button are locked. The move buttons work
// as run/SelectionLists.h describes; "Arquivo já selecionado." ends a move whose
// path is selected already.
//
// Every handler is reached through RunHandler (Handler.h): MensErro ends it
// silently, other errors are shown. Object names equal the member names.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "run/SelectionLists.h"
#include "shared/gui/TfrmPadrImportExport.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QSplitter;
class QToolButton;

namespace trd::store {
class Store;
}

namespace trd::screen {

class TfrmLeDfmRel final : public gui::TfrmPadrImportExport {
  Q_OBJECT
 public:
  explicit TfrmLeDfmRel(QWidget* parent = nullptr);
  ~TfrmLeDfmRel() override;

  // The creation handler; run once, right after construction. A connection
  // that cannot be opened raises; a language list that cannot be fetched is
  // reported in a dialog and leaves the box empty.
  void FormCreate();

  QLabel* lblIdioma;
  QComboBox* cbbIdioma;
  QLabel* lblDiretorio;
  QLineEdit* edtDiretorio;
  QToolButton* sbtDiretorio;
  QListWidget* lsbDisp;
  QToolButton* sbtDireita;
  QToolButton* sbtTudoDir;
  QToolButton* sbtEsquerda;
  QToolButton* sbtTudoEsq;
  QSplitter* splArquivos;
  QLabel* lblSelec;
  QListWidget* lsbSelec;
  QLabel* lblStatus;
  QLabel* lblArquivo;

  // The staging tables and server connections of the screen.
  store::Store& Dados() { return *dados_; }

  // Run state: true while an import run's file loop is under way / once the
  // user asked to cancel it.
  bool Importando() const { return boImportando; }
  bool Cancelar() const { return boCancelar; }
  bool Listando() const { return boListando; }

  // The Running state of an import run, held for the scope's lifetime.
  // Entering: boImportando true; the import button, the language box and the
  // file controls disabled (the run walks the selected list by index and
  // stamps every record with stIdiLeDfm, so neither may change under it).
  // Leaving, on every path: lblStatus and lblArquivo cleared, boCancelar
  // false, boImportando false, the other controls enabled again, the import
  // button's rule applied.
  class RunScope {
   public:
    explicit RunScope(TfrmLeDfmRel& screen);
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

   private:
    TfrmLeDfmRel& screen_;
  };

  // Handlers.
  void cbbIdiomaChange();
  void sbtImportExportClick() override;
  void sbtCancelClick() override;
  void sbtDiretorioClick();
  void edtDiretorioChange();
  void edtDiretorioExit();
  void sbtDireitaClick();
  void sbtTudoDirClick();
  void sbtEsquerdaClick();
  void sbtTudoEsqClick();

  // Appends the files of `kind` below `directory` to lsbDisp and stlFiles.
  void ListaArquivos(std::string_view directory, std::string_view kind);
  // Enables the import button exactly when lsbSelec holds an item and the
  // language box's text is not empty.
  void AplicaRegraImportar();

 protected:
  gui::CloseDecision CloseQuery() override;
  void FormClose(gui::CloseAction& action) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  enum class Lock { Locked, Unlocked };
  // What a lock covers: a run locks every control it reads, the language box
  // too; a listing only the file controls. A listing often starts as the
  // directory field loses the focus to a click on the language box: locking
  // that box then would take the focus from it and lose the click.
  enum class LockScope { FileControls, AllControls };
  class ListingScope;

  void BuildUi();
  void ConnectHandlers();
  // Fetches the language list into the box, keeping the box's text. False
  // (after one dialog) when it cannot be fetched.
  bool CarregaIdiomas();
  // Lists the source subtrees of `directory`, then sorts stlFiles. Returns
  // false when the screen was destroyed meanwhile (then nothing of it may be
  // touched any more).
  bool ListaDiretorio(const std::string& directory);
  void LockControls(Lock lock, LockScope scope);
  void MoveRight(run::MoveScope scope);
  void MoveLeft(run::MoveScope scope);
  // FormClose's releases; runs once, from FormClose or the destructor.
  void Release();

  std::unique_ptr<store::Store> dados_;
  bool boImportando = false;
  bool boCancelar = false;
  bool boListando = false;
  bool released_ = false;
};

// Globals of the unit (one copy per module).
namespace Cli_trd00500 {

extern TfrmLeDfmRel* frmLeDfmRel;
extern bool boStcriado;
// Language code of the chosen language: the record language of every scan.
extern std::string stIdiLeDfm;
// Created empty by FormCreate, freed by FormClose (null while no screen).
extern std::unique_ptr<run::StringList> stlFiles;
extern std::unique_ptr<run::StringList> stlVerRep;
extern std::unique_ptr<run::StringList> stlTesta;

// Creates the screen when it does not exist, then shows it in normal window
// state, under the hourglass. Errors of the creation go to the caller.
void CriaLeDfmRel();
// The entry procedure: opens the screen.
void IniProc();

// Module loading and unloading: initialization clears boStcriado;
// finalization destroys a screen still open and releases the unit's strings.
void UnitInitialization();
void UnitFinalization();

}  // namespace Cli_trd00500
}  // namespace trd::screen
