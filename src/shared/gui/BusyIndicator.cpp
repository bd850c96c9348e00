#include "BusyIndicator.h"

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QTimer>

#include "Host.h"

namespace trd::gui {
namespace {

constexpr int kSpokes = 12;
constexpr int kFrameMs = 80;

QWidget* ResolveWindow(void* window) {
  if (window) {
    // Only a pointer to a live widget is used: the caller may hand over a
    // window that has gone since.
    const auto all = QApplication::allWidgets();
    for (QWidget* w : all)
      if (static_cast<void*>(w) == window) return w;
  }
  if (QMainWindow* host = HostMainWindow()) return host;
  return QApplication::activeWindow();
}

}  // namespace

QString CaptionOf(shared::ShowAviKind kind) {
  switch (kind) {
    case shared::ShowAviKind::Search: return QStringLiteral("Pesquisando...");
    case shared::ShowAviKind::Transfer: return QStringLiteral("Transferindo dados...");
    case shared::ShowAviKind::Process: return QStringLiteral("Processando...");
  }
  return QStringLiteral("Aguarde...");
}

BusyOverlay::BusyOverlay(QWidget* over, QString caption)
    : QWidget(over), caption_(std::move(caption)), timer_(new QTimer(this)) {
  setObjectName(kBusyOverlayName);
  setAttribute(Qt::WA_TransparentForMouseEvents, false);  // swallow clicks meanwhile
  setGeometry(over->rect());
  UpdateMask();
  over->installEventFilter(this);
  connect(timer_, &QTimer::timeout, this, [this] {
    angle_ = (angle_ + 1) % kSpokes;
    UpdateMask();  // the passing widgets may have moved or shown since
    update();
  });
  timer_->start(kFrameMs);
}

void BusyOverlay::UpdateMask() {
  QWidget* over = parentWidget();
  QRegion covered(rect());
  for (QWidget* w : over->findChildren<QWidget*>()) {
    if (w != this && w->isVisible() && w->property(kPassesBusyOverlay).toBool())
      covered -= QRect(w->mapTo(over, QPoint(0, 0)), w->size());
  }
  if (covered == QRegion(rect()))
    clearMask();
  else
    setMask(covered);
}

void BusyOverlay::SetCaption(QString caption) {
  caption_ = std::move(caption);
  update();
}

bool BusyOverlay::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) {
    setGeometry(parentWidget()->rect());
    UpdateMask();
  }
  return QWidget::eventFilter(watched, event);
}

void BusyOverlay::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(rect(), QColor(0, 0, 0, 60));

  const QSize box(220, 150);
  QRect panel(rect().center() - QPoint(box.width() / 2, box.height() / 2), box);
  QPainterPath path;
  path.addRoundedRect(panel, 10, 10);
  p.fillPath(path, QColor(250, 250, 250, 240));
  p.setPen(QColor(120, 120, 120));
  p.drawPath(path);

  // Spinner: spokes fading behind the leading one.
  const QPointF centre(panel.center().x(), panel.top() + 55);
  for (int i = 0; i < kSpokes; ++i) {
    int age = (angle_ - i + kSpokes) % kSpokes;
    QColor c(30, 90, 170);
    c.setAlpha(255 - age * (220 / kSpokes));
    p.save();
    p.translate(centre);
    p.rotate(i * 360.0 / kSpokes);
    p.setPen(QPen(c, 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(0, -14), QPointF(0, -28));
    p.restore();
  }
  p.setPen(QColor(30, 30, 30));
  QFont f = font();
  f.setBold(true);
  p.setFont(f);
  p.drawText(QRect(panel.left(), panel.top() + 100, panel.width(), 30), Qt::AlignCenter, caption_);
}

QtBusyIndicator::~QtBusyIndicator() {
  if (QCoreApplication::instance()) Hide();
}

void QtBusyIndicator::Show(void* window, shared::ShowAviKind kind) {
  if (!cursor_set_) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    cursor_set_ = true;
  }
  if (overlay_) {
    overlay_->SetCaption(CaptionOf(kind));
  } else if (QWidget* over = ResolveWindow(window)) {
    overlay_ = new BusyOverlay(over, CaptionOf(kind));
    overlay_->show();
    overlay_->raise();
  }
  if (overlay_ && overlay_->isVisible()) overlay_->repaint();
}

void QtBusyIndicator::Hide() {
  delete overlay_.data();
  overlay_ = nullptr;
  if (cursor_set_) {
    QApplication::restoreOverrideCursor();
    cursor_set_ = false;
  }
}

}  // namespace trd::gui
