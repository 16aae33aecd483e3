#include "app/server_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap Draw(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  painter.setPen(QPen(QColor(0x7a, 0x4a, 0x00), s / 32));
  painter.setBrush(QColor(0xf5, 0xb0, 0x1a));
  painter.drawEllipse(QRectF(s * 0.03, s * 0.03, s * 0.94, s * 0.94));
  // The bell: a dome over a flared rim, with its clapper below.
  QPainterPath bell;
  bell.moveTo(s * 0.25, s * 0.68);
  bell.cubicTo(s * 0.32, s * 0.60, s * 0.30, s * 0.22, s * 0.50, s * 0.22);
  bell.cubicTo(s * 0.70, s * 0.22, s * 0.68, s * 0.60, s * 0.75, s * 0.68);
  bell.closeSubpath();
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x33, 0x2a, 0x1e));
  painter.drawPath(bell);
  painter.drawEllipse(QRectF(s * 0.44, s * 0.68, s * 0.12, s * 0.12));
  painter.drawEllipse(QRectF(s * 0.46, s * 0.15, s * 0.08, s * 0.08));
  return pixmap;
}

}  // namespace

QIcon ServerIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) icon.addPixmap(Draw(size));
  return icon;
}
