#include "ui/common/scroll_view.h"

#include <QScrollBar>

namespace tessara {

CScrollView::CScrollView(QWidget* parent) : QAbstractScrollArea(parent) {
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void CScrollView::SetScrollSizes(QSize total) {
  m_total = total;
  UpdateScrollBars();
  viewport()->update();
}

QPoint CScrollView::ScrollPosition() const { return {horizontalScrollBar()->value(), verticalScrollBar()->value()}; }

void CScrollView::ScrollToPosition(QPoint p) {
  horizontalScrollBar()->setValue(p.x());
  verticalScrollBar()->setValue(p.y());
}

void CScrollView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void CScrollView::scrollContentsBy(int, int) { viewport()->update(); }

void CScrollView::UpdateScrollBars() {
  const QSize client = viewport()->size();
  horizontalScrollBar()->setRange(0, qMax(0, m_total.width() - client.width()));
  verticalScrollBar()->setRange(0, qMax(0, m_total.height() - client.height()));
  horizontalScrollBar()->setPageStep(qMax(1, client.width()));
  verticalScrollBar()->setPageStep(qMax(1, client.height()));
  horizontalScrollBar()->setSingleStep(qMax(1, client.width() / 10));
  verticalScrollBar()->setSingleStep(qMax(1, client.height() / 10));
}

}  // namespace tessara
