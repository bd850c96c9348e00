// The import run of TfrmLeDfmRel (the import button).
//
// HOOK. Only the entry of the run is in place: the duplicate gate, which
// opens the review screen while stlVerRep holds entries, and RunScope, the
// Running state. The run itself replaces the placeholder message below; in
// order it checks the language text against cdsIdiLeDfm (focus to cbbIdioma,
// MensErro "Idi_Inv"), asks "CONF_SUBS", and on Yes prepares the staging
// tables and pgbProgresso, holds a RunScope over the file loop (lsbSelec by
// index; form files converted and scanned, report files read with
// inContArquivoRel set; progress and QCoreApplication::processEvents() after
// each file; the first error ends the loop and is discarded), shows
// "sucessoGeral", then stamps cdsVersao with GetVersao's packet and today's
// date. Note that a 0..0 range makes QProgressBar show a busy animation.
#include <QLabel>
#include <QToolButton>

#include "Cli_trd00500.h"
#include "Cli_trd00501.h"
#include "shared/Services.h"

namespace trd::screen {

using namespace Cli_trd00500;

TfrmLeDfmRel::RunScope::RunScope(TfrmLeDfmRel& screen) : screen_(screen) {
  screen_.boImportando = true;
  screen_.sbtImportExport->setEnabled(false);
  screen_.LockControls(Lock::Locked);
}

TfrmLeDfmRel::RunScope::~RunScope() {
  screen_.lblStatus->clear();
  screen_.boCancelar = false;
  screen_.sbtImportExport->setEnabled(true);
  screen_.boImportando = false;
  screen_.LockControls(Lock::Unlocked);
}

void TfrmLeDfmRel::sbtImportExportClick() {
  if (!stlVerRep->empty()) {
    Cli_trd00501::CriaVerRep();
    return;
  }
  // Placeholder until the run is built (see above).
  shared::GetDialogs().Show("A leitura dos arquivos selecionados ainda não está disponível nesta versão.",
                            shared::MsgType::Information, shared::MsgButtons::Ok);
}

}  // namespace trd::screen
