// A push button drawn from two pictures, its normal face and its pressed face,
// 170 x 57 pixels, with no caption of its own. The faces are painted here:
// a raised plate with the button's words on it.
#pragma once

#include <QAbstractButton>
#include <QPixmap>

namespace tessara {

class CBitmapButton : public QAbstractButton {
  Q_OBJECT
 public:
  static constexpr int kWidth = 170;
  static constexpr int kHeight = 57;
  // `words` are drawn on both faces; `id` is the command the button sends.
  CBitmapButton(int id, const QString& words, const QColor& plate, QWidget* parent);
  int Id() const { return m_nId; }
  // New words on both faces.
  void SetWords(const QString& words);
  QString Words() const { return m_strWords; }
  QSize sizeHint() const override { return {kWidth, kHeight}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  static QPixmap MakeFace(const QString& words, const QColor& plate, bool pressed);
  int m_nId;
  QString m_strWords;
  QColor m_plate;
  QPixmap m_normal;
  QPixmap m_pressed;
};

}  // namespace tessara
