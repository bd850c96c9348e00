#include "TfrmPadrImportExport.h"

#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "Glyphs.h"
#include "Handler.h"

namespace trd::gui {
namespace {

QFrame* Panel(QWidget* parent, const char* name) {
  auto* f = new QFrame(parent);
  f->setObjectName(name);
  f->setFrameShape(QFrame::StyledPanel);
  f->setFrameShadow(QFrame::Raised);
  return f;
}

QToolButton* FlatButton(QWidget* parent, const char* name, const QString& text) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setText(text);
  b->setToolTip(text);
  b->setAutoRaise(true);
  b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  b->setMinimumSize(72, 60);
  return b;
}

}  // namespace

TfrmPadrImportExport::TfrmPadrImportExport(QWidget* parent)
    : ScreenBase(parent), import_glyph_(ImportPicture()) {
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(4, 4, 4, 4);
  root->setSpacing(4);

  panMenu = Panel(this, "panMenu");
  auto* menu = new QHBoxLayout(panMenu);
  menu->setContentsMargins(8, 4, 8, 4);
  title_ = new QLabel(panMenu);
  QFont bold = title_->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.15);
  title_->setFont(bold);
  lblCodTela = new QLabel(panMenu);
  lblCodTela->setObjectName("lblCodTela");
  lblCodTela->setFont(bold);
  menu->addWidget(title_, 1);
  menu->addWidget(lblCodTela, 0, Qt::AlignRight);
  root->addWidget(panMenu);

  auto* middle = new QHBoxLayout;
  grbDadosRel = new QGroupBox(this);
  grbDadosRel->setObjectName("grbDadosRel");
  middle->addWidget(grbDadosRel, 1);

  panBotoes = Panel(this, "panBotoes");
  auto* buttons = new QVBoxLayout(panBotoes);
  buttons->setContentsMargins(4, 8, 4, 8);
  sbtImportExport = FlatButton(panBotoes, "sbtImportExport", QStringLiteral("Importar"));
  sbtImportExport->setEnabled(false);
  sbtCancel = FlatButton(panBotoes, "sbtCancel", QStringLiteral("Cancelar"));
  SetGlyph(sbtCancel, CancelPicture());
  buttons->addWidget(sbtImportExport);
  buttons->addWidget(sbtCancel);
  buttons->addStretch(1);
  middle->addWidget(panBotoes);
  root->addLayout(middle, 1);

  panProgresso = Panel(this, "panProgresso");
  progress_layout_ = new QHBoxLayout(panProgresso);
  progress_layout_->setContentsMargins(8, 4, 8, 4);
  pgbProgresso = new QProgressBar(panProgresso);
  pgbProgresso->setObjectName("pgbProgresso");
  pgbProgresso->setRange(0, 100);  // a 0..0 range would show Qt's busy animation
  pgbProgresso->setValue(0);
  pgbProgresso->setTextVisible(false);
  pgbProgresso->setMaximumWidth(320);
  progress_layout_->addWidget(pgbProgresso);
  root->addWidget(panProgresso);

  connect(sbtImportExport, &QToolButton::clicked, this, [this] { RunHandler([this] { sbtImportExportClick(); }); });
  connect(sbtCancel, &QToolButton::clicked, this, [this] { RunHandler([this] { sbtCancelClick(); }); });
}

void TfrmPadrImportExport::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowTitleChange) title_->setText(windowTitle());
  ScreenBase::changeEvent(event);
}

}  // namespace trd::gui
