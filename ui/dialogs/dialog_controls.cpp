#include "ui/dialogs/dialog_controls.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QToolButton>
#include <cstdlib>

#include "ui/common/qt_user_interface.h"

namespace tessara {

int MulDivRound(int a, int b, int c) {
  if (c == 0) return -1;
  const long long product = static_cast<long long>(a) * b;
  long long quotient = product / c;
  const long long rest = product % c;
  if (2 * std::llabs(rest) >= std::llabs(static_cast<long long>(c))) quotient += ((product < 0) != (c < 0)) ? -1 : 1;
  return static_cast<int>(quotient);
}

CDialogUnits::CDialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  // The average width of the letters, rounded to the nearest pixel, and the
  // full height of a line of text.
  const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  m_nBaseX = (letters / 26 + 1) / 2;
  m_nBaseY = metrics.height();
  if (m_nBaseX < 1) m_nBaseX = 1;
  if (m_nBaseY < 1) m_nBaseY = 1;
}

int CDialogUnits::MapX(int x) const { return MulDivRound(x, m_nBaseX, 4); }
int CDialogUnits::MapY(int y) const { return MulDivRound(y, m_nBaseY, 8); }

QRect CDialogUnits::Map(int x, int y, int width, int height) const {
  const int left = MapX(x), top = MapY(y);
  return QRect(left, top, MapX(x + width) - left, MapY(y + height) - top);
}

CSpinButton::CSpinButton(Qt::Orientation orientation, QWidget* parent) : QWidget(parent), m_orientation(orientation) {
  setFocusPolicy(Qt::StrongFocus);
  m_pUp = new QToolButton(this);
  m_pDown = new QToolButton(this);
  const bool horizontal = orientation == Qt::Horizontal;
  m_pUp->setArrowType(horizontal ? Qt::RightArrow : Qt::UpArrow);
  m_pDown->setArrowType(horizontal ? Qt::LeftArrow : Qt::DownArrow);
  for (QToolButton* b : {m_pUp, m_pDown}) {
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoRepeat(true);
    b->setAutoRaise(false);
  }
  connect(m_pUp, &QToolButton::clicked, this, [this] { Step(+1); });
  connect(m_pDown, &QToolButton::clicked, this, [this] { Step(-1); });
}

void CSpinButton::SetRange(int lower, int upper) {
  m_nLower = lower;
  m_nUpper = upper;
  SetPos(m_nPos);
}

void CSpinButton::SetPos(int pos) {
  const int lo = qMin(m_nLower, m_nUpper), hi = qMax(m_nLower, m_nUpper);
  m_nPos = qBound(lo, pos, hi);
  if (m_pBuddy) m_pBuddy->setText(QString::number(m_nPos));
}

void CSpinButton::Step(int direction) {
  // Toward the upper end of the range, whichever way round the range is.
  const int toward = m_nUpper >= m_nLower ? direction : -direction;
  SetPos(m_nPos + toward);
  emit Scrolled();
}

void CSpinButton::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Right:
      Step(+1);
      return;
    case Qt::Key_Down:
    case Qt::Key_Left:
      Step(-1);
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

void CSpinButton::resizeEvent(QResizeEvent*) {
  const int w = width(), h = height();
  if (m_orientation == Qt::Horizontal) {
    m_pDown->setGeometry(0, 0, w / 2, h);
    m_pUp->setGeometry(w / 2, 0, w - w / 2, h);
  } else {
    m_pUp->setGeometry(0, 0, w, h / 2);
    m_pDown->setGeometry(0, h / 2, w, h - h / 2);
  }
}

void CDirectionStatic::Clear() {
  m_text.clear();
  m_bPainted = true;
  repaint();
}

void CDirectionStatic::ShowText(const QString& text) {
  m_text = text;
  m_bPainted = true;
  repaint();
}

void CDirectionStatic::paintEvent(QPaintEvent*) {
  if (!m_bPainted) return;
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  if (m_text.isEmpty()) return;
  painter.setPen(Qt::black);
  painter.drawText(rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, m_text);
}

CSourceLine::CSourceLine(QWidget* parent) : QWidget(parent) {
  // The system's own font, bold, as text drawn outside the dialog's layout
  // shows on most desktops; it sets the names apart from the dialog's labels.
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setBold(true);
  setFont(font);
}

void CSourceLine::SetText(const QString& text) {
  m_text = text;
  repaint();
}

void CSourceLine::paintEvent(QPaintEvent*) {
  if (m_text.isEmpty()) return;
  QPainter painter(this);
  painter.setPen(Qt::black);
  painter.drawText(rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, m_text);
}

IntEntry ReadIntEntry(const QString& text, int lowest, int highest, int& value) {
  int i = 0;
  const int n = static_cast<int>(text.size());
  auto blank = [&](int k) { return text[k] == QLatin1Char(' ') || text[k] == QLatin1Char('\t'); };
  while (i < n && blank(i)) ++i;
  bool negative = false;
  if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) negative = text[i++] == QLatin1Char('-');
  const int firstDigit = i;
  long long magnitude = 0;
  bool huge = false;
  while (i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
    magnitude = magnitude * 10 + (text[i].unicode() - '0');
    if (magnitude > 1'000'000'000'000LL) huge = true, magnitude = 1'000'000'000'000LL;
    ++i;
  }
  if (i == firstDigit) return IntEntry::kNotInteger;
  while (i < n && blank(i)) ++i;
  if (i != n) return IntEntry::kNotInteger;
  const long long v = negative ? -magnitude : magnitude;
  if (huge || v < lowest || v > highest) return IntEntry::kOutOfRange;
  value = static_cast<int>(v);
  return IntEntry::kOk;
}

void RefuseField(QLineEdit* field, const QString& message) {
  QPointer<QLineEdit> guard(field);
  ShowMessageBox(message, QMessageBox::Ok, QMessageBox::Warning, 0, field->window());
  if (!guard) return;
  QWidget* dialog = guard->window();
  dialog->raise();
  dialog->activateWindow();
  guard->setFocus(Qt::OtherFocusReason);
  guard->selectAll();
}

}  // namespace tessara
