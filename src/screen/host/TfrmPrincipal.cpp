#include "TfrmPrincipal.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLibrary>
#include <QMdiArea>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <exception>

#include "shared/Services.h"
#include "shared/gui/Host.h"

namespace trd::host {

TfrmPrincipal::TfrmPrincipal(const QString& server_address) : area_(new QMdiArea(this)) {
  setObjectName(gui::kHostObjectName);
  if (!server_address.isEmpty()) setProperty(gui::kServerProperty, server_address);
  setWindowTitle(QStringLiteral("trd-client — Tradução"));
  area_->setObjectName("mdiArea");
  area_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  area_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(area_);

  QMenu* arquivo = menuBar()->addMenu(QStringLiteral("&Arquivo"));
  arquivo->addAction(QStringLiteral("&Sair"), this, &QWidget::close);
  QMenu* traducao = menuBar()->addMenu(QStringLiteral("&Tradução"));
  open_action_ = traducao->addAction(QStringLiteral("Leitura Geral dos Dfm´s e Relatórios (TRD00500)"),
                                     this, &TfrmPrincipal::OpenScreen);
  open_action_->setEnabled(false);
  QMenu* janelas = menuBar()->addMenu(QStringLiteral("&Janelas"));
  janelas->addAction(QStringLiteral("&Cascata"), area_, &QMdiArea::cascadeSubWindows);
  janelas->addAction(QStringLiteral("&Lado a lado"), area_, &QMdiArea::tileSubWindows);

  QString server;
  try {
    const Endpoint at = gui::ScreenServer();
    server = QString::fromStdString(at.host) + ":" + QString::number(at.port);
  } catch (const std::exception& e) {
    server = QString::fromUtf8(e.what());
  }
  statusBar()->addWidget(new QLabel(QStringLiteral("Servidor de tradução: ") + server));
  resize(1140, 800);
}

TfrmPrincipal::~TfrmPrincipal() {
  // The screens' code lives in the module: they go before it could.
  delete area_;
  area_ = nullptr;
}

bool TfrmPrincipal::LoadModule(const QString& path) {
  module_ = new QLibrary(path, this);
  if (!module_->load()) {
    QMessageBox::critical(this, QStringLiteral("Erro"),
                          QStringLiteral("Não foi possível carregar o módulo %1:\n%2").arg(path, module_->errorString()));
    return false;
  }
  ini_proc_ = reinterpret_cast<EntryProc>(module_->resolve("IniProc"));
  if (!ini_proc_) {
    QMessageBox::critical(this, QStringLiteral("Erro"),
                          QStringLiteral("O módulo %1 não exporta IniProc.").arg(path));
    return false;
  }
  open_action_->setEnabled(true);
  return true;
}

void TfrmPrincipal::OpenScreen() {
  if (!ini_proc_) return;
  try {
    ini_proc_();
  } catch (const std::exception& e) {
    QMessageBox::critical(this, QStringLiteral("Erro"), QString::fromUtf8(e.what()));
  }
}

void TfrmPrincipal::closeEvent(QCloseEvent* event) {
  area_->closeAllSubWindows();
  if (!area_->subWindowList().isEmpty()) {
    event->ignore();
    return;
  }
  event->accept();
}

}  // namespace trd::host
