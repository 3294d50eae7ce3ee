#include "ui/common/bitmap_button.h"

#include <QLinearGradient>
#include <QPainter>

namespace tessara {

CBitmapButton::CBitmapButton(int id, const QString& words, const QColor& plate, QWidget* parent)
    : QAbstractButton(parent), m_nId(id), m_strWords(words), m_plate(plate), m_normal(MakeFace(words, plate, false)),
      m_pressed(MakeFace(words, plate, true)) {
  setFixedSize(kWidth, kHeight);
  setAccessibleName(words);
  setToolTip(words);
  setCursor(Qt::PointingHandCursor);
}

void CBitmapButton::SetWords(const QString& words) {
  if (words == m_strWords) return;
  m_strWords = words;
  m_normal = MakeFace(words, m_plate, false);
  m_pressed = MakeFace(words, m_plate, true);
  setAccessibleName(words);
  setToolTip(words);
  update();
}

QPixmap CBitmapButton::MakeFace(const QString& words, const QColor& plate, bool pressed) {
  QPixmap face(kWidth, kHeight);
  face.fill(Qt::transparent);
  QPainter p(&face);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r(1.5, 1.5, kWidth - 3, kHeight - 3);
  QLinearGradient g(0, 0, 0, kHeight);
  g.setColorAt(0, pressed ? plate.darker(130) : plate.lighter(135));
  g.setColorAt(1, pressed ? plate.darker(105) : plate.darker(115));
  p.setBrush(g);
  p.setPen(QPen(plate.darker(200), 2));
  p.drawRoundedRect(r, 9, 9);
  QFont font = p.font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * 1.15);
  p.setFont(font);
  p.setPen(Qt::black);
  const QRectF text = r.translated(pressed ? 1 : 0, pressed ? 1 : 0);
  p.drawText(text, Qt::AlignCenter | Qt::TextWordWrap, words);
  return face;
}

void CBitmapButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  // The focused button looks like the normal one: two faces only.
  p.drawPixmap(0, 0, isDown() ? m_pressed : m_normal);
}

}  // namespace tessara
