#include "shell/tray_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace dorvane {
namespace {

// One icon at the sizes a tray and a title bar ask for: a coloured disc
// with a white mark drawn on a 32-unit square.
QIcon Disc(QColor colour, const std::function<void(QPainter&)>& mark) {
  QIcon icon;
  for (int size : {16, 22, 32, 48}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    painter.setPen(QPen(colour.darker(140), 1.5));
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(1.5, 1.5, 29, 29));
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    mark(painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

QIcon StateIcon(bool started) {
  if (started) {
    return Disc(QColor(0x2e, 0x9e, 0x3f), [](QPainter& p) {
      QPainterPath play;
      play.moveTo(12, 9);
      play.lineTo(24, 16);
      play.lineTo(12, 23);
      play.closeSubpath();
      p.drawPath(play);
    });
  }
  return Disc(QColor(0xc6, 0x28, 0x28), [](QPainter& p) { p.drawRect(QRectF(10, 10, 12, 12)); });
}

QIcon InfoIcon() {
  return Disc(QColor(0x1e, 0x63, 0xc8), [](QPainter& p) {
    p.drawEllipse(QRectF(14, 7, 4, 4));
    p.drawRect(QRectF(14, 13, 4, 12));
  });
}

}  // namespace dorvane
