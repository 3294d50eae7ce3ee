#include "ui/common/status_line.h"

#include <QPainter>
#include <QStatusBar>

#include "ui/common/status_text.h"

namespace tessara {

CStatusPane::CStatusPane(int id, int width, const QString& ownText, QWidget* parent)
    : QFrame(parent), m_nId(id), m_nWidth(width), m_strOwn(ownText) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(1);
  setFixedWidth(width);
  // The panes' widths are fixed; a compact font lets the longest texts (the
  // Zone size, the predicted size) fit in them.
  QFont compact = font();
  compact.setPointSizeF(compact.pointSizeF() * 0.85);
  setFont(compact);
  setMinimumHeight(fontMetrics().height() + 4);
}

int CStatusPane::WidthFor(const QString& text) const {
  // The text starts 2 pixels into the contents, inside the frame.
  const int needed = fontMetrics().horizontalAdvance(text) + 2 + 2 * frameWidth() + 4;
  return qMax(m_nWidth, needed);
}

void CStatusPane::SetOwnText(const QString& text) {
  if (text == m_strOwn && !m_paintedText && m_nProgressWidth < 0) return;
  // Menu prompts are often longer than the pane: shown whole, not cut off.
  const int width = WidthFor(text);
  if (width != this->width()) setFixedWidth(width);
  m_strOwn = text;
  m_paintedText.reset();
  m_nProgressWidth = -1;
  update();
}

void CStatusPane::PaintText(const QString& text) {
  if (m_paintedText && *m_paintedText == text) return;
  // A text longer than the pane (a result the user should read whole) widens
  // it, as a menu prompt does.
  const int width = WidthFor(text);
  if (width > this->width()) setFixedWidth(width);
  m_paintedText = text;
  repaint();
}

void CStatusPane::PaintProgress(std::optional<QColor> colour, int percent) {
  const int fill = ProgressFillWidth(percent, width());
  // Long loops report every row; paint only what the eye can see change.
  if (fill == m_nProgressWidth && colour == m_progressColour) return;
  m_nProgressWidth = fill;
  m_progressColour = colour;
  repaint();
}

void CStatusPane::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter p(this);
  const QRect r = contentsRect();
  if (m_paintedText) {
    // An opaque text: the pane's background behind it, nothing of its own text.
    p.fillRect(r, palette().window());
    p.drawText(r.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, *m_paintedText);
  } else if (m_nProgressWidth < 0) {
    // A painted bar takes the pane: its own text, cut by the bar, would be
    // left as a meaningless stub beside it.
    p.drawText(r.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, m_strOwn);
  }
  if (m_nProgressWidth > 0)
    p.fillRect(QRect(0, 0, m_nProgressWidth, height()),
               m_progressColour ? QBrush(*m_progressColour) : palette().window());
}

CStatusLine::CStatusLine(QStatusBar* bar) {
  static const int kIds[4] = {0, 201, 202, 203};
  static const char* const kOwn[4] = {status_text::kIdle, status_text::kZoneSize, status_text::kProcess,
                                      status_text::kProgressBar};
  for (int i = 0; i < 4; ++i) {
    m_panes[i] = new CStatusPane(kIds[i], kPaneWidths[i], QString::fromUtf8(kOwn[i]), bar);
    m_panes[i]->setObjectName(QStringLiteral("pane%1").arg(i));
    bar->addWidget(m_panes[i], 0);
  }
}

}  // namespace tessara
