#include "TfrmRotiGeral.h"

#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
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

QToolButton* FlatButton(QWidget* parent, const char* name, const QString& text, const QPixmap& picture) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setText(text);
  b->setToolTip(text);
  b->setAutoRaise(true);
  b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  b->setMinimumSize(72, 60);
  SetGlyph(b, picture);
  return b;
}

}  // namespace

TfrmRotiGeral::TfrmRotiGeral(QWidget* parent) : ScreenBase(parent) {
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
  menu->addWidget(title_, 1);
  root->addWidget(panMenu);

  auto* middle = new QHBoxLayout;
  grbDadosRel = new QGroupBox(this);
  grbDadosRel->setObjectName("grbDadosRel");
  middle->addWidget(grbDadosRel, 1);
  panBotoes = Panel(this, "panBotoes");
  auto* buttons = new QVBoxLayout(panBotoes);
  buttons->setContentsMargins(4, 8, 4, 8);
  sbtConfirma = FlatButton(panBotoes, "sbtConfirma", QStringLiteral("Confirmar"), ConfirmPicture());
  sbtCancel = FlatButton(panBotoes, "sbtCancel", QStringLiteral("Cancelar"), CancelPicture());
  buttons->addWidget(sbtConfirma);
  buttons->addWidget(sbtCancel);
  buttons->addStretch(1);
  middle->addWidget(panBotoes);
  root->addLayout(middle, 1);

  panHelp = Panel(this, "panHelp");
  auto* help = new QHBoxLayout(panHelp);
  help->setContentsMargins(8, 2, 8, 2);
  lblHelp = new QLabel(panHelp);
  lblHelp->setObjectName("lblHelp");
  help->addWidget(lblHelp, 1);
  root->addWidget(panHelp);

  connect(sbtConfirma, &QToolButton::clicked, this, [this] { RunHandler([this] { sbtConfirmaClick(); }); });
  connect(sbtCancel, &QToolButton::clicked, this, [this] { RunHandler([this] { sbtCancelClick(); }); });
}

void TfrmRotiGeral::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowTitleChange) title_->setText(windowTitle());
  ScreenBase::changeEvent(event);
}

}  // namespace trd::gui
