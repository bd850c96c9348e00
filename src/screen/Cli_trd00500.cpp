#include "Cli_trd00500.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QGroupBox>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QSignalBlocker>
#include <QSplitter>
#include <QToolButton>
#include <QVBoxLayout>
#include <functional>

#include "Cli_trd00501.h"
#include "run/FileDiscovery.h"
#include "QtListBox.h"
#include "platform/Text.h"
#include "protocol/Methods.h"
#include "shared/Causes.h"
#include "shared/Services.h"
#include "shared/gui/BusyIndicator.h"
#include "shared/gui/DirectoryChooser.h"
#include "shared/gui/Glyphs.h"
#include "shared/gui/Handler.h"
#include "run/ImportRun.h"
#include "shared/gui/Host.h"
#include "store/Languages.h"
#include "store/Store.h"

namespace trd::screen {

namespace Cli_trd00500 {
TfrmLeDfmRel* frmLeDfmRel = nullptr;
bool boStcriado = false;
std::string stIdiLeDfm;
std::unique_ptr<run::StringList> stlFiles;
std::unique_ptr<run::StringList> stlVerRep;
std::unique_ptr<run::StringList> stlTesta;
}  // namespace Cli_trd00500

using namespace Cli_trd00500;

namespace {

const QRect kGeometry(240, 164, 852, 553);

const char* const kIdiomasIndisponiveis =
    "Não foi possível carregar a lista de idiomas do servidor de tradução. A lista será carregada "
    "de novo ao abrir a caixa de idiomas ou ao importar.";

QLabel* BoldLabel(QWidget* parent, const char* name, const QString& text) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(name);
  QFont f = l->font();
  f.setBold(true);
  l->setFont(f);
  return l;
}

QToolButton* MoveButton(QWidget* parent, const char* name, const QString& text, const QString& hint) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setText(text);
  b->setToolTip(hint);
  b->setMinimumSize(36, 28);
  return b;
}

// The language box: an editable drop-down that lets the screen fill it
// before it drops down (the list may have been unavailable so far).
class LanguageBox final : public QComboBox {
 public:
  using QComboBox::QComboBox;
  std::function<void()> before_popup;

  void showPopup() override {
    if (before_popup) before_popup();
    if (count() > 0) QComboBox::showPopup();
  }
};

QListWidget* FileList(QWidget* parent, const char* name) {
  auto* l = new QListWidget(parent);
  l->setObjectName(name);
  l->setSelectionMode(QAbstractItemView::ExtendedSelection);
  l->setSortingEnabled(false);  // kept in order by QtListBox
  return l;
}

}  // namespace

// Holds the listing state: boListando set, the file controls and the import
// button locked (not the language box: LockScope); unlocks them and applies
// the import button's rule to the lists as the listing left them, unless the
// screen went away meanwhile.
class TfrmLeDfmRel::ListingScope {
 public:
  explicit ListingScope(TfrmLeDfmRel& screen) : screen_(&screen) {
    screen.boListando = true;
    screen.sbtImportExport->setEnabled(false);
    screen.LockControls(Lock::Locked, LockScope::FileControls);
  }
  ~ListingScope() {
    if (!screen_) return;
    screen_->boListando = false;
    screen_->LockControls(Lock::Unlocked, LockScope::FileControls);
    screen_->AplicaRegraImportar();
  }
  ListingScope(const ListingScope&) = delete;
  ListingScope& operator=(const ListingScope&) = delete;

 private:
  QPointer<TfrmLeDfmRel> screen_;
};

TfrmLeDfmRel::TfrmLeDfmRel(QWidget* parent)
    : TfrmPadrImportExport(parent),
      dados_(std::make_unique<store::Store>(gui::ModuleServices().services, gui::ModuleServices().transports)) {
  setObjectName("frmLeDfmRel");
  setWindowTitle(QStringLiteral("Leitura Geral dos Dfm´s e Relatórios"));
  lblCodTela->setText(QStringLiteral("TRD00500"));
  // The texts the import run shows too are the run's (run::RunMessages()).
  const shared::TMessages& run_texts = run::RunMessages();
  msgPadrao = shared::TMessages({
      "Sair|Sair",
      "sucesso|A importação foi realizada com sucesso!",
      "Alias_Exist|Erro na importação de dfm's. Já existe um alias com o nome %s.",
      run_texts.Entry("CONF_SUBS"),
      "Arq_Ja|Arquivo já selecionado.",
      "DEL_TRADUCAO|Os registros da Tabela de tradução estão sendo apagados.",
      run_texts.Entry("Idi_Inv"),
      run_texts.Entry("sucessoGeral"),
      "CONF_REL|A Leitura...",
      "ARQ_DUP|O arquivo %s está duplicado para o diretório(s) %s.",
      run_texts.Entry("Erro_Import"),
      run_texts.Entry("Erro_Arquivos"),
      run_texts.Entry("Imp_Canc"),
      run_texts.Entry("ARQ_LARGO"),
      run_texts.Entry("ARQ_LARGO_CONT"),
  });
  BuildUi();
  ConnectHandlers();
  // A run lets pending events run once per text; the cancel button must
  // take its click then even while the busy indicator covers the window.
  sbtCancel->setProperty(gui::kPassesBusyOverlay, true);
}

TfrmLeDfmRel::~TfrmLeDfmRel() {
  // The list boxes go with the base QWidget, after this object: their
  // models' signals must not reach the handlers above on the way.
  lsbSelec->model()->disconnect(this);
  Release();
}

void TfrmLeDfmRel::BuildUi() {
  auto* content = new QVBoxLayout(grbDadosRel);

  auto* top = new QHBoxLayout;
  lblIdioma = BoldLabel(grbDadosRel, "lblIdioma", QStringLiteral("Gravar com o Idioma:"));
  auto* languages = new LanguageBox(grbDadosRel);
  languages->before_popup = [this] {
    gui::RunHandler([this] {
      if (cbbIdioma->count() == 0) CarregaIdiomas();
    });
  };
  cbbIdioma = languages;
  cbbIdioma->setObjectName("cbbIdioma");
  cbbIdioma->setEditable(true);
  cbbIdioma->setInsertPolicy(QComboBox::NoInsert);
  cbbIdioma->setMinimumWidth(260);
  top->addWidget(lblIdioma);
  top->addWidget(cbbIdioma);
  top->addStretch(1);
  content->addLayout(top);

  splArquivos = new QSplitter(Qt::Horizontal, grbDadosRel);
  splArquivos->setObjectName("splArquivos");
  splArquivos->setChildrenCollapsible(false);

  auto* left = new QWidget(splArquivos);
  auto* leftBox = new QVBoxLayout(left);
  leftBox->setContentsMargins(0, 0, 0, 0);
  lblDiretorio = BoldLabel(left, "lblDiretorio", QStringLiteral("Selecione o Diretório"));
  leftBox->addWidget(lblDiretorio);
  auto* dirRow = new QHBoxLayout;
  edtDiretorio = new QLineEdit(left);
  edtDiretorio->setObjectName("edtDiretorio");
  edtDiretorio->setToolTip(QStringLiteral("F9 abre a seleção de diretório"));
  sbtDiretorio = MoveButton(left, "sbtDiretorio", QStringLiteral("..."), QStringLiteral("Selecionar o diretório (F9)"));
  dirRow->addWidget(edtDiretorio, 1);
  dirRow->addWidget(sbtDiretorio);
  leftBox->addLayout(dirRow);
  auto* listRow = new QHBoxLayout;
  lsbDisp = FileList(left, "lsbDisp");
  listRow->addWidget(lsbDisp, 1);
  auto* moves = new QVBoxLayout;
  sbtDireita = MoveButton(left, "sbtDireita", QStringLiteral(">"), QStringLiteral("Selecionar os arquivos marcados"));
  sbtTudoDir = MoveButton(left, "sbtTudoDir", QStringLiteral(">>"), QStringLiteral("Selecionar todos os arquivos"));
  sbtEsquerda = MoveButton(left, "sbtEsquerda", QStringLiteral("<"), QStringLiteral("Retirar os arquivos marcados"));
  sbtTudoEsq = MoveButton(left, "sbtTudoEsq", QStringLiteral("<<"), QStringLiteral("Retirar todos os arquivos"));
  moves->addStretch(1);
  for (QToolButton* b : {sbtDireita, sbtTudoDir, sbtEsquerda, sbtTudoEsq}) moves->addWidget(b);
  moves->addStretch(1);
  listRow->addLayout(moves);
  leftBox->addLayout(listRow, 1);

  auto* right = new QWidget(splArquivos);
  auto* rightBox = new QVBoxLayout(right);
  rightBox->setContentsMargins(0, 0, 0, 0);
  lblSelec = BoldLabel(right, "lblSelec", QStringLiteral("Arquivos Selecionados"));
  lsbSelec = FileList(right, "lsbSelec");
  rightBox->addWidget(lblSelec);
  rightBox->addWidget(lsbSelec, 1);

  splArquivos->addWidget(left);
  splArquivos->addWidget(right);
  splArquivos->setStretchFactor(0, 1);
  splArquivos->setStretchFactor(1, 1);
  content->addWidget(splArquivos, 1);

  lblStatus = new QLabel(panProgresso);
  lblStatus->setObjectName("lblStatus");
  ProgressLayout()->insertWidget(0, lblStatus, 1);
  lblArquivo = new QLabel(panProgresso);
  lblArquivo->setObjectName("lblArquivo");
  ProgressLayout()->insertWidget(1, lblArquivo);
}

void TfrmLeDfmRel::ConnectHandlers() {
  auto bind = [this](QToolButton* button, void (TfrmLeDfmRel::*handler)()) {
    connect(button, &QToolButton::clicked, this, [this, handler] { gui::RunHandler([&] { (this->*handler)(); }); });
  };
  bind(sbtDiretorio, &TfrmLeDfmRel::sbtDiretorioClick);
  bind(sbtDireita, &TfrmLeDfmRel::sbtDireitaClick);
  bind(sbtTudoDir, &TfrmLeDfmRel::sbtTudoDirClick);
  bind(sbtEsquerda, &TfrmLeDfmRel::sbtEsquerdaClick);
  bind(sbtTudoEsq, &TfrmLeDfmRel::sbtTudoEsqClick);
  connect(cbbIdioma, &QComboBox::currentTextChanged, this, [this] { gui::RunHandler([this] { cbbIdiomaChange(); }); });
  connect(edtDiretorio, &QLineEdit::textChanged, this, [this] { gui::RunHandler([this] { edtDiretorioChange(); }); });
  // Every change of the selected list (a move, a listing, the review's
  // removals) applies the import button's rule; a run or a listing under
  // way applies it when it ends.
  for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
    connect(lsbSelec->model(), signal, this, [this] {
      if (!boImportando && !boListando) AplicaRegraImportar();
    });
  connect(lsbSelec->model(), &QAbstractItemModel::modelReset, this, [this] {
    if (!boImportando && !boListando) AplicaRegraImportar();
  });
  edtDiretorio->installEventFilter(this);
}

bool TfrmLeDfmRel::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edtDiretorio) {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F9) {
      gui::RunHandler([this] { sbtDiretorioClick(); });
      return true;
    }
    if (event->type() == QEvent::FocusOut) {
      // Leaving the field for another control of the application; a window
      // switch or a popup is not leaving it.
      Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
          reason != Qt::MenuBarFocusReason)
        gui::RunHandler([this] { edtDiretorioExit(); });
    }
  }
  return TfrmPadrImportExport::eventFilter(watched, event);
}

void TfrmLeDfmRel::FormCreate() {
  {
    shared::BusyGuard busy(dados_->Services(), shared::ShowAviKind::Search);
    dados_->OpenConnections(gui::ScreenServer());
  }
  dados_->cdsVersao.CreateDataSet();
  gui::SetGlyph(sbtImportExport, ImportGlyph());
  stlFiles = std::make_unique<run::StringList>();
  stlVerRep = std::make_unique<run::StringList>();
  stlTesta = std::make_unique<run::StringList>();
  CarregaIdiomas();
}

bool TfrmLeDfmRel::CarregaIdiomas() {
  shared::Services& services = dados_->Services();
  try {
    shared::QuietResultCheck quiet(services);  // one dialog for a failure, below
    shared::BusyGuard busy(services, shared::ShowAviKind::Process);
    store::Lookup(services, dados_->cdsIdiLeDfm, dados_->NetTradRelDfm, protocol::kGetIdiLeDfm, {});
  } catch (const Error& e) {
    dados_->cdsIdiLeDfm.Close();
    services.dialogs->Show(kIdiomasIndisponiveis + std::string("\n") + shared::ErrorMessage(e),
                           shared::MsgType::Error, shared::MsgButtons::Ok);
    return false;
  }
  // The box keeps its text: empty at creation (no language is chosen), what
  // the user typed meanwhile on a later load.
  const QString typed = cbbIdioma->currentText();
  QSignalBlocker quiet(cbbIdioma);
  DataSet& idiomas = dados_->cdsIdiLeDfm;
  for (idiomas.First(); !idiomas.Eof(); idiomas.Next()) {
    cbbIdioma->addItem(QString::fromStdString(store::LanguageItem(idiomas)));
  }
  cbbIdioma->setCurrentIndex(-1);
  cbbIdioma->setEditText(typed);
  return true;
}

void TfrmLeDfmRel::cbbIdiomaChange() {
  if (!boListando) AplicaRegraImportar();  // a listing applies it when it ends
  stIdiLeDfm = store::LanguageCode(cbbIdioma->currentText().toStdString());
}

void TfrmLeDfmRel::AplicaRegraImportar() {
  auto state = run::ImportButtonState(lsbSelec->count(), cbbIdioma->currentText().toStdString());
  sbtImportExport->setEnabled(state == run::ImportButton::Enabled);
}

void TfrmLeDfmRel::sbtCancelClick() {
  if (boImportando) {
    boCancelar = true;
    return;
  }
  Close();
}

gui::CloseDecision TfrmLeDfmRel::CloseQuery() {
  if (boImportando) {
    boCancelar = true;
    return gui::CloseDecision::Refuse;
  }
  return boListando ? gui::CloseDecision::Refuse : gui::CloseDecision::Allow;
}

void TfrmLeDfmRel::FormClose(gui::CloseAction& action) {
  TfrmPadrImportExport::FormClose(action);
  Release();
}

void TfrmLeDfmRel::Release() {
  if (released_) return;
  released_ = true;
  Cli_trd00501::FechaVerRep();  // it works on the lists released next
  if (frmLeDfmRel == this) {
    stlFiles.reset();
    stlVerRep.reset();
    stlTesta.reset();
  }
  dados_->CloseConnections();
  if (frmLeDfmRel == this) {
    boStcriado = false;
    frmLeDfmRel = nullptr;
  }
}

// ---- Directory listing -----------------------------------------------------

void TfrmLeDfmRel::LockControls(Lock lock, LockScope scope) {
  const bool enabled = lock == Lock::Unlocked;
  for (QWidget* w : std::initializer_list<QWidget*>{edtDiretorio, sbtDiretorio, sbtDireita, sbtTudoDir, sbtEsquerda,
                                                    sbtTudoEsq})
    w->setEnabled(enabled);
  if (scope == LockScope::AllControls) cbbIdioma->setEnabled(enabled);
}

void TfrmLeDfmRel::ListaArquivos(std::string_view directory, std::string_view kind) {
  QPointer<TfrmLeDfmRel> self(this);
  QtListBox disp(lsbDisp);
  run::ListingSink sink;
  sink.found = [&](const std::string& path) {
    disp.Add(path);
    stlFiles->push_back(path);
  };
  sink.yield = [&self] {
    QCoreApplication::processEvents();
    return self ? run::WalkControl::Continue : run::WalkControl::Stop;
  };
  run::ListaArquivos(directory, kind, sink);
}

bool TfrmLeDfmRel::ListaDiretorio(const std::string& directory) {
  QPointer<TfrmLeDfmRel> self(this);
  ListingScope listing(*this);
  for (const run::SourceSubtree& s : run::SourceSubtrees()) {
    if (std::optional<std::string> root = run::ResolveSubtree(directory, s.suffix))
      ListaArquivos(*root, s.kind);
    if (!self) return false;
  }
  run::SortIgnoreCase(*stlFiles);
  return true;
}

void TfrmLeDfmRel::sbtDiretorioClick() {
  if (boListando || boImportando) return;
  lsbDisp->clear();
  stlFiles->clear();
  stlVerRep->clear();
  stlTesta->clear();
  lsbSelec->clear();
  QPointer<TfrmLeDfmRel> self(this);
  std::optional<QString> chosen = gui::GetDirectoryChooser().Choose(this);
  if (!self || !chosen) return;
  edtDiretorio->setText(*chosen);
  ListaDiretorio(edtDiretorio->text().toStdString());
}

void TfrmLeDfmRel::edtDiretorioChange() {
  lsbDisp->clear();
  if (stlFiles) stlFiles->clear();
}

void TfrmLeDfmRel::edtDiretorioExit() {
  if (boListando || boImportando || !stlFiles) return;
  if (lsbDisp->count() == 0 && lsbSelec->count() == 0) ListaDiretorio(edtDiretorio->text().toStdString());
}

// ---- File selection --------------------------------------------------------

void TfrmLeDfmRel::MoveRight(run::MoveScope scope) {
  QtListBox disp(lsbDisp);
  QtListBox selec(lsbSelec);
  run::SelectionLists lists{disp, selec, *stlFiles, *stlTesta, *stlVerRep};
  if (run::MoveIntoSelection(lists, scope) == run::MoveOutcome::AlreadySelected)
    dados_->Services().MensErro(msgPadrao.Msg("Arq_Ja"), true);
  AplicaRegraImportar();
}

void TfrmLeDfmRel::MoveLeft(run::MoveScope scope) {
  QtListBox disp(lsbDisp);
  QtListBox selec(lsbSelec);
  run::SelectionLists lists{disp, selec, *stlFiles, *stlTesta, *stlVerRep};
  run::MoveOutOfSelection(lists, scope);
  AplicaRegraImportar();
}

void TfrmLeDfmRel::sbtDireitaClick() { MoveRight(run::MoveScope::Picked); }
void TfrmLeDfmRel::sbtTudoDirClick() { MoveRight(run::MoveScope::All); }
void TfrmLeDfmRel::sbtEsquerdaClick() { MoveLeft(run::MoveScope::Picked); }
void TfrmLeDfmRel::sbtTudoEsqClick() { MoveLeft(run::MoveScope::All); }

// ---- Unit ------------------------------------------------------------------

namespace Cli_trd00500 {

void CriaLeDfmRel() {
  gui::WaitCursor hourglass;
  if (!boStcriado) {
    auto* screen = new TfrmLeDfmRel;
    frmLeDfmRel = screen;  // reachable from the creation handler on
    try {
      screen->FormCreate();
    } catch (...) {
      delete screen;  // releases what the handler created
      throw;
    }
    screen->PlaceOnHost(kGeometry);
    boStcriado = true;
  }
  frmLeDfmRel->ShowNormal();
}

void IniProc() { CriaLeDfmRel(); }

void UnitInitialization() { boStcriado = false; }

void UnitFinalization() {
  if (frmLeDfmRel && QCoreApplication::instance()) delete frmLeDfmRel->Container();
  stIdiLeDfm.clear();
  stIdiLeDfm.shrink_to_fit();
}

}  // namespace Cli_trd00500
}  // namespace trd::screen
