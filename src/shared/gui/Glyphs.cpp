#include "Glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

namespace trd::gui {
namespace {

constexpr int kSize = 32;

QPixmap Blank() {
  QPixmap pm(kSize, kSize);
  pm.fill(Qt::transparent);
  return pm;
}

}  // namespace

QPixmap ImportPicture() {
  QPixmap pm = Blank();
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  // Sheet with a folded corner.
  QPainterPath sheet;
  sheet.moveTo(7, 2);
  sheet.lineTo(19, 2);
  sheet.lineTo(25, 8);
  sheet.lineTo(25, 20);
  sheet.lineTo(7, 20);
  sheet.closeSubpath();
  p.setPen(QPen(QColor(90, 90, 90), 1.2));
  p.setBrush(Qt::white);
  p.drawPath(sheet);
  p.drawLine(QPointF(19, 2), QPointF(19, 8));
  p.drawLine(QPointF(19, 8), QPointF(25, 8));
  for (int y : {9, 12, 15}) p.drawLine(QPointF(10, y), QPointF(16, y));
  // Tray.
  p.setBrush(QColor(70, 110, 170));
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(QRectF(3, 25, 26, 5), 1.5, 1.5);
  // Arrow down into the tray.
  QPainterPath arrow;
  arrow.moveTo(14, 10);
  arrow.lineTo(20, 10);
  arrow.lineTo(20, 17);
  arrow.lineTo(24, 17);
  arrow.lineTo(17, 25);
  arrow.lineTo(10, 17);
  arrow.lineTo(14, 17);
  arrow.closeSubpath();
  p.setBrush(QColor(40, 150, 60));
  p.setPen(QPen(QColor(20, 90, 30), 1));
  p.drawPath(arrow);
  return pm;
}

QPixmap CancelPicture() {
  QPixmap pm = Blank();
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(200, 40, 40));
  p.setPen(QPen(QColor(130, 20, 20), 1));
  p.drawEllipse(QRectF(3, 3, 26, 26));
  p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(11, 11), QPointF(21, 21));
  p.drawLine(QPointF(21, 11), QPointF(11, 21));
  return pm;
}

QPixmap ConfirmPicture() {
  QPixmap pm = Blank();
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(30, 140, 50), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  QPainterPath tick;
  tick.moveTo(6, 17);
  tick.lineTo(13, 24);
  tick.lineTo(26, 8);
  p.drawPath(tick);
  return pm;
}

void SetGlyph(QToolButton* button, const QPixmap& picture) {
  button->setIcon(QIcon(picture));
  button->setIconSize(picture.size());
}

}  // namespace trd::gui
