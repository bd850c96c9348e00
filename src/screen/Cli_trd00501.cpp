#include "Cli_trd00501.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolButton>
#include <QVBoxLayout>

#include "Cli_trd00500.h"
#include "platform/Text.h"
#include "shared/Services.h"
#include "run/ImportRun.h"
#include "shared/gui/Handler.h"
#include "shared/gui/Host.h"

namespace trd::screen {

namespace Cli_trd00501 {
TfrmVerRep* frmVerRep = nullptr;
bool boStCriado = false;
}  // namespace Cli_trd00501

using namespace Cli_trd00501;

namespace {

const QRect kGeometry(252, 194, 572, 465);

// Deletes line n of a plain-text view together with one line break.
void DeleteLine(QPlainTextEdit* view, int n) {
  QTextBlock block = view->document()->findBlockByNumber(n);
  if (!block.isValid()) return;
  const int end = block.position() + block.length() - 1;  // before the block's break
  QTextCursor cursor(view->document());
  if (QTextBlock next = block.next(); next.isValid()) {
    cursor.setPosition(block.position());
    cursor.setPosition(next.position(), QTextCursor::KeepAnchor);
  } else if (QTextBlock previous = block.previous(); previous.isValid()) {
    cursor.setPosition(previous.position() + previous.length() - 1);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
  } else {
    cursor.setPosition(block.position());
    cursor.setPosition(end, QTextCursor::KeepAnchor);
  }
  cursor.removeSelectedText();
}

QString LineOf(QPlainTextEdit* view, int n) {
  QTextBlock block = view->document()->findBlockByNumber(n);
  return block.isValid() ? block.text() : QString();
}

}  // namespace

TfrmVerRep::TfrmVerRep(QWidget* parent) : TfrmRotiGeral(parent) {
  setObjectName("frmVerRep");
  setWindowTitle(QStringLiteral("Gera Novo Idioma para Tradução"));
  msgPadrao = shared::TMessages({run::RunMessages().Entry("ARQ_DUP")});
  grbDadosRel->setTitle(QStringLiteral("Diretórios de Arquivo(s) Repetido(s)"));
  QFont bold = grbDadosRel->font();
  bold.setBold(true);
  grbDadosRel->setFont(bold);

  auto* content = new QVBoxLayout(grbDadosRel);
  memVerRep = new QPlainTextEdit(grbDadosRel);
  memVerRep->setObjectName("memVerRep");
  memVerRep->setReadOnly(true);
  memVerRep->setEnabled(false);
  memVerRep->setLineWrapMode(QPlainTextEdit::NoWrap);
  memVerRep->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memVerRep->setFont(font());
  content->addWidget(memVerRep, 3);

  grbDeletar = new QGroupBox(QStringLiteral("Itens para deletar"), grbDadosRel);
  grbDeletar->setObjectName("grbDeletar");
  auto* deletar = new QVBoxLayout(grbDeletar);
  lsbDelRep = new QListWidget(grbDeletar);
  lsbDelRep->setObjectName("lsbDelRep");
  lsbDelRep->setSelectionMode(QAbstractItemView::SingleSelection);
  lsbDelRep->setFont(font());
  deletar->addWidget(lsbDelRep);
  content->addWidget(grbDeletar, 2);

  sbtCancel->setEnabled(false);
  lblHelp->setText(QStringLiteral("Clique duas vezes num item para retirá-lo dos arquivos selecionados."));

  connect(lsbDelRep, &QListWidget::itemDoubleClicked, this,
          [this] { gui::RunHandler([this] { lsbDelRepDblClick(); }); });
}

TfrmVerRep::~TfrmVerRep() { Release(); }

void TfrmVerRep::FormCreate() {
  TfrmRotiGeral::FormCreate();
  msgPadrao.ShowMsg(*gui::ModuleServices().services.dialogs, "ARQ_DUP", shared::MsgType::Warning,
                    shared::MsgButtons::Ok);
  QStringList entries;
  if (const auto& verRep = Cli_trd00500::stlVerRep)
    for (const std::string& path : *verRep) entries << QString::fromStdString(text::PathText(path));
  memVerRep->setPlainText(entries.join(QLatin1Char('\n')));
  lsbDelRep->addItems(entries);
}

void TfrmVerRep::lsbDelRepDblClick() {
  const QList<QListWidgetItem*> picked = lsbDelRep->selectedItems();
  if (picked.isEmpty()) return;
  const int n = lsbDelRep->row(picked.first());
  const QString path = LineOf(memVerRep, n);

  if (TfrmLeDfmRel* screen = Cli_trd00500::frmLeDfmRel) {
    const std::string wanted = path.toStdString();
    for (int i = 0; i < screen->lsbSelec->count(); ++i) {
      if (text::EqualsIgnoreCase(screen->lsbSelec->item(i)->text().toStdString(), wanted)) {
        delete screen->lsbSelec->takeItem(i);
        break;
      }
    }
  }
  if (auto& verRep = Cli_trd00500::stlVerRep; verRep && std::size_t(n) < verRep->size())
    verRep->erase(verRep->begin() + n);
  DeleteLine(memVerRep, n);
  delete lsbDelRep->takeItem(n);
}

void TfrmVerRep::sbtConfirmaClick() {
  if (Cli_trd00500::stlVerRep) Cli_trd00500::stlVerRep->clear();
  memVerRep->clear();
  Close();
}

void TfrmVerRep::sbtCancelClick() { TfrmRotiGeral::sbtCancelClick(); }

void TfrmVerRep::FormClose(gui::CloseAction& action) {
  TfrmRotiGeral::FormClose(action);
  Release();
}

void TfrmVerRep::Release() {
  if (frmVerRep != this) return;
  boStCriado = false;
  frmVerRep = nullptr;
}

namespace Cli_trd00501 {

void CriaVerRep() {
  gui::WaitCursor hourglass;
  if (!boStCriado) {
    auto* screen = new TfrmVerRep;
    frmVerRep = screen;
    try {
      screen->FormCreate();
    } catch (...) {
      delete screen;
      throw;
    }
    screen->PlaceOnHost(kGeometry);
    boStCriado = true;
  }
  frmVerRep->ShowNormal();
}

void FechaVerRep() {
  if (boStCriado && frmVerRep) frmVerRep->Close();
}

void UnitInitialization() { boStCriado = false; }

void UnitFinalization() {
  if (frmVerRep && QCoreApplication::instance()) delete frmVerRep->Container();
}

}  // namespace Cli_trd00501
}  // namespace trd::screen
