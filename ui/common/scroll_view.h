// A view over a picture larger than its window: the total size, the scroll
// position, and the change between window points and logical points (window
// point + scroll position), one logical unit per pixel, y downward.
#pragma once

#include <QAbstractScrollArea>
#include <QPoint>
#include <QSize>

namespace tessara {

class CScrollView : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit CScrollView(QWidget* parent = nullptr);
  void SetScrollSizes(QSize total);
  QSize TotalSize() const { return m_total; }
  QPoint ScrollPosition() const;
  void ScrollToPosition(QPoint p);
  QPoint DeviceToLogical(QPoint windowPoint) const { return windowPoint + ScrollPosition(); }
  QSize ClientSize() const { return viewport()->size(); }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void UpdateScrollBars();
  QSize m_total{1, 1};
};

}  // namespace tessara
