#include "ui/common/icons.h"

#include <QPainter>
#include <QPixmap>

namespace tessara {

namespace {

// Two overlapping sheets, the second in `second`'s colour; `joined` fills the
// overlap as the Target does.
QIcon Sheets(const QColor& first, const QColor& second, bool joined) {
  QIcon icon;
  for (int size : {16, 32, 48}) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    const qreal u = size / 16.0;
    p.setPen(QPen(Qt::black, u * 0.75));
    p.setBrush(first);
    p.drawRect(QRectF(u * 1, u * 2, u * 9, u * 9));
    p.setBrush(second);
    p.drawRect(QRectF(u * 6, u * 5, u * 9, u * 9));
    if (joined) p.fillRect(QRectF(u * 6.5, u * 5.5, u * 3, u * 5), first.darker(110));
    icon.addPixmap(pm);
  }
  return icon;
}

}  // namespace

QIcon AppIcon() { return Sheets(QColor(120, 170, 230), QColor(240, 190, 90), true); }
QIcon SourceIcon() { return Sheets(QColor(120, 170, 230), QColor(255, 255, 255, 0), false); }
QIcon TargetIcon() { return Sheets(QColor(224, 240, 240), QColor(120, 200, 120), true); }
QIcon AlignIcon() { return Sheets(QColor(192, 208, 240), QColor(240, 160, 160), false); }

}  // namespace tessara
