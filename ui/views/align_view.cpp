#include "ui/views/align_view.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QKeyEvent>
#include <QResizeEvent>
#include <QWheelEvent>

#include "engine/align_doc.h"
#include "engine/auto_align.h"
#include "engine/destdoc.h"
#include "engine/tessara_doc.h"
#include "framework/registry.h"
#include "ui/common/align_undo.h"
#include "ui/common/long_work.h"
#include "ui/common/modal.h"
#include "ui/common/qt_user_interface.h"
#include "ui/common/shell.h"
#include "ui/common/ui_registry.h"
#include "ui/dialogs/rotate_dlg.h"
#include "ui/views/tessara_view.h"
#include "ui/views/view_zoom.h"

namespace tessara {

int WaitBandHeight(int clientHeight) { return (clientHeight - 100) / 128 + 1; }

int WaitBandCount(int clientHeight) {
  int n = 0;
  for (int y = 100, s = WaitBandHeight(clientHeight); y < clientHeight; y += s) ++n;
  return n;
}

QString ScalingLine(int scale1X, int scale1Y, int scale2X, int scale2Y) {
  // 1024 is 100 %; the division is in floating point, the result truncated.
  auto percent = [](int scale) { return QString::number(static_cast<int>(scale / 10.24)); };
  return QStringLiteral("Scaling % width/height: source 1 = ") + percent(scale1X) + ',' + percent(scale1Y) +
         QStringLiteral(" source 2 = ") + percent(scale2X) + ',' + percent(scale2Y) +
         QStringLiteral("    Finished ? then click here ->");
}

std::string HoverText(int source, int zone) {
  if (zone == kZoneNone) return {};
  return std::string(source == 1 ? alignview_text::kHoverSource1 : alignview_text::kHoverSource2) +
         StatusWordForZone(zone);
}

Qt::CursorShape CursorForPointer(AlignPointer pointer) {
  switch (pointer) {
    case AlignPointer::kSizeNS: return Qt::SizeVerCursor;
    case AlignPointer::kSizeNESW: return Qt::SizeBDiagCursor;
    case AlignPointer::kSizeWE: return Qt::SizeHorCursor;
    case AlignPointer::kSizeNWSE: return Qt::SizeFDiagCursor;
    case AlignPointer::kCross: return Qt::CrossCursor;
    case AlignPointer::kUnchanged: break;
  }
  return Qt::ArrowCursor;
}

namespace {

QColor Lowered(const QColor& c, int by) {
  return QColor(qBound(0, c.red() - by, 255), qBound(0, c.green() - by, 255), qBound(0, c.blue() - by, 255));
}

// A line whose last point is left out, as a line to a point is drawn on the
// platform this window's look comes from. Only for horizontal, vertical and
// 45-degree lines, which are all this view draws.
void LineToExclusive(QPainter& painter, QPoint from, QPoint to) {
  const QPoint step((to.x() > from.x()) - (to.x() < from.x()), (to.y() > from.y()) - (to.y() < from.y()));
  if (step.isNull()) return;
  painter.drawLine(from, to - step);
}

// A rectangle given by its edges (right and bottom outside), outlined with the
// pen and filled with the brush inside that outline.
void RectangleLTRB(QPainter& painter, int l, int t, int r, int b) {
  if (r - l < 2 || b - t < 2) return;
  painter.drawRect(l, t, r - l - 1, b - t - 1);
}

}  // namespace

CAlignview::CAlignview(CAlignDoc* doc, QWidget* parent) : QWidget(parent), m_pDoc(doc) {
  g_pAlignView = this;
  setAutoFillBackground(false);
  // Hovering tells which handle is under the pointer.
  setMouseTracking(true);
  // The arrow keys move source 2.
  setFocusPolicy(Qt::StrongFocus);
  m_pendingResize.setSingleShot(true);
  m_pendingResize.setInterval(100);
  connect(&m_pendingResize, &QTimer::timeout, this, &CAlignview::FinishPendingResize);
  m_nListener = m_pDoc->AddListener([this](DocumentEvent e) {
    if (e == DocumentEvent::kUpdateViews) {
      m_image.Invalidate();
      // A source came or went: the button names the one it loads.
      if (m_pLoadButton) m_pLoadButton->SetWords(LoadButtonWords());
      // A rebuilt preview (a new pair, a new layout) moves the sources: the
      // frame shown follows at once, not at the next mouse move. A drag in
      // progress sets its own frame.
      if (!m_bCaptured && m_pDoc->m_pPreview && m_nFrameWidth != 0 && m_nFrameHeight != 0)
        SyncFrame(m_nActiveSource);
      update();
    } else if (e == DocumentEvent::kRedrawNow) {
      m_image.Invalidate();
      repaint();
    }
  });
}

CAlignview::~CAlignview() {
  m_pDoc->RemoveListener(m_nListener);
  delete m_pLoadButton;
  if (g_pAlignView == this) g_pAlignView = nullptr;
}

void CAlignview::OnInitialUpdate() {
  m_pDoc->SetTitle(align_text::kTitle);
  m_pDoc->m_nClientWidth = width();
  m_pDoc->m_nClientHeight = height();
  EnsureLoadButton();
}

void CAlignview::OnActivateView(bool activate) { g_bAlignActive = activate ? 1 : 0; }

void CAlignview::EnsureLoadButton() {
  if (m_pLoadButton) return;
  m_pLoadButton = new CBitmapButton(cmd::kLoadSource, LoadButtonWords(), QColor(150, 180, 230), this);
  m_pLoadButton->setObjectName(QStringLiteral("loadButton"));
  m_pLoadButton->setGeometry(100, 90, CBitmapButton::kWidth, CBitmapButton::kHeight);
  m_pLoadButton->show();
  // The button sends its command to this view, whichever window is active.
  connect(m_pLoadButton, &QAbstractButton::clicked, this, [this] { OnCommand(cmd::kLoadSource); });
}

QString CAlignview::LoadButtonWords() {
  // The button opens the next source: the second once the first is there.
  return QString::fromUtf8(g_nSourcesLoaded >= 1 ? alignview_text::kLoadSource2 : alignview_text::kLoadSource1);
}

void CAlignview::DeleteLoadButton() {
  if (!m_pLoadButton) return;
  // It may be the button whose click is running.
  m_pLoadButton->hide();
  m_pLoadButton->deleteLater();
  m_pLoadButton = nullptr;
}

// Layout ---------------------------------------------------------------------

void CAlignview::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // Long work (a source being prepared) reads the layout and has a source out
  // of the session for the moment, and a rebuild now would take that for a
  // failure and reset the alignment; the new size waits until the work is over.
  if (LongWorkRunning()) {
    m_pendingResize.start();
    return;
  }
  // The layout always takes the window's present size, so that a pair loaded
  // after the window was resized (tiled, say) fits it; only a valid preview is
  // laid out again now.
  m_pDoc->m_nClientWidth = event->size().width();
  m_pDoc->m_nClientHeight = event->size().height();
  if (m_pDoc->m_bAlignValid != 1) return;
  m_pDoc->RebuildPreview(m_pDoc->m_nFailCode);
  SyncFrame(m_nActiveSource);
  repaint();
}

void CAlignview::FinishPendingResize() {
  if (LongWorkRunning()) {
    m_pendingResize.start();
    return;
  }
  m_pDoc->m_nClientWidth = width();
  m_pDoc->m_nClientHeight = height();
  if (m_pDoc->m_bAlignValid != 1) return;
  m_pDoc->RebuildPreview(m_pDoc->m_nFailCode);
  SyncFrame(m_nActiveSource);
  repaint();
}

void CAlignview::SyncFrame(int n) { SetFrame(tessara::SyncFrame(*m_pDoc, n)); }

void CAlignview::SetFrame(const AlignFrame& f) {
  m_nFrameX = f.x;
  m_nFrameY = f.y;
  m_nFrameWidth = f.w;
  m_nFrameHeight = f.h;
}

int CAlignview::HitTest(int px, int py) {
  m_nHitZone = tessara::HitTest(Frame(), px, py);
  return m_nHitZone;
}

bool CAlignview::FinishedContains(const QPoint& p) const {
  return m_rcFinished.left() < p.x() && p.x() < m_rcFinished.right() && m_rcFinished.top() < p.y() &&
         p.y() < m_rcFinished.bottom();
}

void CAlignview::ResyncShownFrame() {
  if (m_nFrameWidth != 0 && m_nFrameHeight != 0 && m_pDoc->m_bAlignValid == 1) SyncFrame(m_nActiveSource);
  update();
}

// Drawing --------------------------------------------------------------------

void CAlignview::paintEvent(QPaintEvent*) {
  m_shown.Paint([this](QPainter& painter) { Draw(painter); });
}

void CAlignview::Draw(QPainter& painter) {
  const QRect client = rect();
  painter.save();
  painter.setPen(Qt::black);
  painter.setBrush(Qt::NoBrush);
  painter.setRenderHint(QPainter::Antialiasing, false);
  if (g_nSourcesLoaded < 2) DrawWaiting(painter, client);
  else if (!m_pDoc->m_pPreview) DrawNoPreview(painter, client);
  else DrawPreview(painter, client);
  painter.restore();
}

void CAlignview::DrawWaiting(QPainter& painter, const QRect& client) {
  m_pDoc->m_bAlignValid = 0;
  painter.fillRect(QRect(client.left(), client.top(), client.width(), 100), kWaitColour);
  // Darker by one step per band going down; at most 128 bands.
  const int s = WaitBandHeight(client.height());
  int n = 0;
  for (int y = 100; y < client.height(); y += s, ++n)
    painter.fillRect(QRect(client.left(), y, client.width(), s), Lowered(kWaitColour, n));
  if (g_nSourcesLoaded == 0) {
    TextOutOpaque(painter, 100, 10, alignview_text::kLoadFirst, kWaitColour);
    TextOutOpaque(painter, 100, 40, alignview_text::kOrButton, kWaitColour);
  } else {
    TextOutOpaque(painter, 100, 10, alignview_text::kLoadSecond, kWaitColour);
  }
  // The wait colour less the bands drawn, plus 10.
  const QColor bottom = Lowered(kWaitColour, n - 10);
  TextOutOpaque(painter, 100, client.height() - 20,
                g_nSourcesLoaded == 0 ? alignview_text::kNamesExplained : alignview_text::kUseMouse, bottom);
}

void CAlignview::DrawNoPreview(QPainter& painter, const QRect& client) {
  // The failure colour only for a failure: while a source is still being read,
  // or a warning about it is up, nothing has failed (code 0) and the window
  // just waits for the preview.
  if (m_pDoc->m_nFailCode == kPrepareDone) {
    painter.fillRect(client, kWaitColour);
    return;
  }
  painter.fillRect(client, kFailColour);
  if (const char* const* lines = FailCodeLines(m_pDoc->m_nFailCode)) {
    TextOutOpaque(painter, 20, 10, lines[0], kFailColour);
    TextOutOpaque(painter, 20, 40, lines[1], kFailColour);
  }
}

const QImage& CAlignview::ShownPreview() { return m_image.Get(m_pDoc->m_pPreview.get(), Source1ColourSpace()); }

void CAlignview::DrawPreview(QPainter& painter, const QRect& client) {
  const int cr = client.width(), cb = client.height();
  const int l = m_pDoc->m_nPreviewLeft, t = m_pDoc->m_nPreviewTop;
  const int r = l + m_pDoc->m_nPreviewWidth, b = t + m_pDoc->m_nPreviewHeight;
  const QImage& image = ShownPreview();
  PaintImage(painter, QRect(l, t, r - l, b - t), image, image.rect());

  // The hatch around the preview, its gaps white; given by edges, right and
  // bottom outside.
  const QBrush hatch(kHatchColour, Qt::DiagCrossPattern);
  const int stripTop = cb - 30;
  const int areas[4][4] = {{0, 0, cr, t}, {0, t, l, b}, {r, t, cr, b}, {0, b, cr, stripTop}};
  for (const auto& a : areas) {
    const QRect area(a[0], a[1], a[2] - a[0], a[3] - a[1]);
    if (area.width() <= 0 || area.height() <= 0) continue;
    painter.fillRect(area, Qt::white);
    painter.fillRect(area, hatch);
  }

  // The status strip: the scales and the finished box.
  painter.fillRect(QRect(0, stripTop, cr, 30), kStripColour);
  if (const CDestdoc* s = g_pDestDoc)
    TextOutOpaque(painter, 10, cb - 20, ScalingLine(s->m_nScale1X, s->m_nScale1Y, s->m_nScale2X, s->m_nScale2Y),
                  kStripColour);
  DrawFinishedBox(painter, client);
  if (m_nFrameWidth != 0 && m_nFrameHeight != 0) DrawSelectionFrame(painter);
}

void CAlignview::DrawFinishedBox(QPainter& painter, const QRect& client) {
  const int l = client.width() - 25, t = client.height() - 25, r = client.width() - 5, b = client.height() - 5;
  painter.fillRect(QRect(l, t, r - l, b - t), kFinishedColour);
  const QPoint c(l + (r - l) / 2, t + (b - t) / 2);
  painter.setPen(Qt::black);
  for (const QPoint& corner : {QPoint(5, 5), QPoint(-5, 5), QPoint(5, -5), QPoint(-5, -5)})
    LineToExclusive(painter, c, c + corner);
  m_rcFinished = QRect(QPoint(l, t), QPoint(r, b));
}

void CAlignview::DrawSelectionFrame(QPainter& painter) {
  const int x = m_nFrameX, y = m_nFrameY, w = m_nFrameWidth, h = m_nFrameHeight;
  painter.save();
  // The dotted outline; its gaps take the strip colour, the background colour
  // in force since the strip, so the frame shows on any picture.
  QPen dotted(Qt::black, 1, Qt::DotLine);
  dotted.setCosmetic(true);
  painter.setPen(dotted);
  painter.setBrush(Qt::NoBrush);
  painter.setBackgroundMode(Qt::OpaqueMode);
  painter.setBackground(kStripColour);
  painter.drawRect(x, y, w, h);
  painter.setBackgroundMode(Qt::TransparentMode);

  // The eight handles: white squares outlined in black, where the hit zones
  // are.
  QPen solid(Qt::black, 1, Qt::SolidLine);
  solid.setCosmetic(true);
  painter.setPen(solid);
  painter.setBrush(Qt::white);
  const int hw = w / 2, hh = h / 2;
  const int handles[8][4] = {
      {x - 6, y - 6, x + 4, y + 4},
      {x + w - 4, y - 6, x + w + 6, y + 4},
      {x + w - 4, y + h - 4, x + w + 6, y + h + 6},
      {x - 6, y + h - 4, x + 4, y + h + 6},
      {x + hw - 5, y - 6, x + hw + 5, y + 4},
      {x + w - 4, y + hh - 5, x + w + 6, y + hh + 5},
      {x + hw - 5, y + h - 4, x + hw + 5, y + h + 6},
      {x - 6, y + hh - 5, x + 4, y + hh + 5},
  };
  for (const auto& r : handles) RectangleLTRB(painter, r[0], r[1], r[2], r[3]);
  painter.restore();
}

// Mouse ----------------------------------------------------------------------

void CAlignview::mousePressEvent(QMouseEvent* event) {
  const int source = event->button() == Qt::LeftButton ? 1 : event->button() == Qt::RightButton ? 2 : 0;
  if (source == 0 || m_pDoc->m_bAlignValid != 1) {
    QWidget::mousePressEvent(event);
    return;
  }
  StartDrag(event->position().toPoint(), source);
  event->accept();
}

void CAlignview::contextMenuEvent(QContextMenuEvent* event) {
  // The right button belongs to source 2 here; no menu goes with it.
  event->accept();
}

void CAlignview::StartDrag(const QPoint& p, int source) {
  // The capture: a view that took the press gets every move and the release
  // until the last button is up, wherever the pointer goes.
  m_bCaptured = true;
  m_ptDragStart = p;
  m_nActiveSource = source;
  SyncFrame(source);
  repaint();
  HitTest(p.x(), p.y());
  // The handle now dragged, of the source now dragged: the hover text before
  // the press may have been about the other source.
  if (g_pDestDoc) g_pDestDoc->SetStageText(HoverText(source, m_nHitZone));
  const CTessaraDoc* doc = g_pSourceDocs[source - 1];
  m_pDoc->SetTitle(std::string(source == 1 ? alignview_text::kDragTitle1 : alignview_text::kDragTitle2) +
                   (doc ? doc->GetTitle() : std::string()));
  if (source == 1) m_bLeftPressed = 1;
}

void CAlignview::mouseMoveEvent(QMouseEvent* event) {
  if (m_pDoc->m_bAlignValid != 1) {
    QWidget::mouseMoveEvent(event);
    return;
  }
  const QPoint p = event->position().toPoint();
  if (m_bCaptured) {
    // The frame starts again from the source's place and follows the whole
    // travel since the press, with the zone chosen at the press.
    SyncFrame(m_nActiveSource);
    SetFrame(DragFrame(Frame(), m_nHitZone, p.x() - m_ptDragStart.x(), p.y() - m_ptDragStart.y()));
    repaint();
    event->accept();
    return;
  }
  SyncFrame(m_nActiveSource);
  const int zone = HitTest(p.x(), p.y());
  // Outside the frame the window's own pointer comes back.
  if (zone == kZoneNone) unsetCursor();
  else setCursor(CursorForPointer(PointerForZone(zone)));
  if (g_pDestDoc) g_pDestDoc->SetStageText(HoverText(m_nActiveSource, zone));
  event->accept();
}

void CAlignview::EndDrag() {
  m_bCaptured = false;
  m_pDoc->SetTitle(align_text::kTitle);
}

void CAlignview::mouseReleaseEvent(QMouseEvent* event) {
  const bool left = event->button() == Qt::LeftButton;
  const bool right = event->button() == Qt::RightButton;
  if ((!left && !right) || m_pDoc->m_bAlignValid != 1) {
    // A drag whose preview went away ends with nothing to apply.
    if ((left || right) && m_bCaptured) EndDrag();
    QWidget::mouseReleaseEvent(event);
    return;
  }
  EndDrag();
  event->accept();
  if (left) {
    if (m_bLeftPressed != 1) return;
    m_bLeftPressed = 0;
    if (FinishedContains(event->position().toPoint())) {
      if (g_pShell) g_pShell->RaiseTargetWindow();
      return;
    }
  }
  if (m_nHitZone != kZoneNone) ApplyDraggedFrame();
}

void CAlignview::ApplyDraggedFrame() {
  CAlignStep step(QString::fromUtf8(undo_text::kDrag));
  RunLongWork([this] { ApplyFrame(*m_pDoc, Frame(), m_nActiveSource); });
  SyncFrame(m_nActiveSource);
  m_pDoc->UpdateAllViews();
}

// Zoom and keys ---------------------------------------------------------------

void CAlignview::SetZoomReduction(int reduction, std::optional<QPoint> anchor) {
  if (m_pDoc->m_bAlignValid != 1) return;
  const QPoint at = anchor ? *anchor : rect().center();
  const int from = m_pDoc->m_nReduction;
  const int to = reduction <= 0 || reduction >= m_pDoc->m_nFitReduction ? m_pDoc->m_nFitReduction : reduction;
  if (to == from && reduction != 0) return;
  if (reduction <= 0 || to == m_pDoc->m_nFitReduction) {
    m_pDoc->m_nZoomReduction = 0;
    m_pDoc->m_nPanX = m_pDoc->m_nPanY = 0;
  } else {
    // Where the preview's corner goes for the point under `at` to stay, as an
    // offset from the centred place.
    const int64_t W = m_pDoc->m_nPredictedWidth, H = m_pDoc->m_nPredictedHeight;
    const int left = AlignEdgeToKeep(m_pDoc->m_nPreviewLeft, at.x(), from, to);
    const int top = AlignEdgeToKeep(m_pDoc->m_nPreviewTop, at.y(), from, to);
    m_pDoc->m_nZoomReduction = to;
    m_pDoc->m_nPanX = left - static_cast<int>((m_pDoc->m_nClientWidth - W / to) / 2);
    m_pDoc->m_nPanY = top - static_cast<int>((m_pDoc->m_nClientHeight - H / to) / 3);
  }
  m_pDoc->RebuildPreview(m_pDoc->m_nFailCode);
  ResyncShownFrame();
  repaint();
  if (g_pDestDoc) {
    const int r = m_pDoc->m_nReduction;
    g_pDestDoc->SetStatusText(r == 1 ? std::string("Zoom 100 %")
                                     : "Zoom 1/" + std::to_string(r) + (m_pDoc->m_nZoomReduction == 0 ? " (fit)" : ""));
  }
}

void CAlignview::Pan(int dx, int dy) {
  if (m_pDoc->m_nZoomReduction == 0 || !m_pDoc->m_pPreview) return;
  // Half the window's width (height) of the preview always stays in sight.
  const int cw = width(), ch = height();
  const int left = qBound(cw / 2 - m_pDoc->m_nPreviewWidth, m_pDoc->m_nPreviewLeft + dx, cw / 2);
  const int top = qBound(ch / 2 - m_pDoc->m_nPreviewHeight, m_pDoc->m_nPreviewTop + dy, ch / 2);
  m_pDoc->m_nPanX += left - m_pDoc->m_nPreviewLeft;
  m_pDoc->m_nPanY += top - m_pDoc->m_nPreviewTop;
  m_pDoc->m_nPreviewLeft = left;
  m_pDoc->m_nPreviewTop = top;
  ResyncShownFrame();
}

void CAlignview::wheelEvent(QWheelEvent* event) {
  if (m_pDoc->m_bAlignValid != 1) {
    QWidget::wheelEvent(event);
    return;
  }
  const QPoint delta = event->angleDelta();
  if (event->modifiers() & Qt::ControlModifier) {
    const int steps = delta.y() / 120;
    int r = m_pDoc->m_nReduction;
    for (int i = 0; i < std::abs(steps); ++i)
      r = steps > 0 ? AlignZoomIn(r) : (r == 0 ? 0 : AlignZoomOut(r, m_pDoc->m_nFitReduction));
    if (steps != 0) SetZoomReduction(r, event->position().toPoint());
  } else if (event->modifiers() & Qt::ShiftModifier) {
    Pan(delta.y() / 3 + delta.x() / 3, 0);
  } else {
    Pan(delta.x() / 3, delta.y() / 3);
  }
  event->accept();
}

void CAlignview::NudgeSource2(int dx, int dy) {
  if (g_nSourcesLoaded != 2 || m_pDoc->m_bAlignValid != 1 || !g_pDestDoc) return;
  CAlignStep step(QString::fromUtf8(undo_text::kArrowKey));
  // A move changes the offsets only, as a drag of the frame's inside does.
  g_pDestDoc->m_nOffsetX += dx;
  g_pDestDoc->m_nOffsetY += dy;
  g_pDestDoc->MarkNeedsUpdate();
  m_pDoc->RebuildPreview(kPrepareDone);
  RefreshToolDialogs();
  ResyncShownFrame();
}

void CAlignview::keyPressEvent(QKeyEvent* event) {
  const int step = event->modifiers() & Qt::ShiftModifier ? 10 : 1;
  switch (event->key()) {
    case Qt::Key_Left: NudgeSource2(-step, 0); break;
    case Qt::Key_Right: NudgeSource2(step, 0); break;
    // Rows count upward: up raises source 2.
    case Qt::Key_Up: NudgeSource2(0, step); break;
    case Qt::Key_Down: NudgeSource2(0, -step); break;
    default: QWidget::keyPressEvent(event); return;
  }
  event->accept();
}

// Commands -------------------------------------------------------------------

bool CAlignview::OnUpdateCommand(int id, bool& enabled) {
  switch (id) {
    case cmd::kFileSaveAs:
      // The Target is saved from the Target Window only.
      enabled = false;
      return true;
    case cmd::kLoadSource:
      enabled = true;
      return true;
    default:
      break;
  }
  if (id >= cmd::kRotate && id <= cmd::kCopyHeight2To1) {
    enabled = g_nSourcesLoaded == 2 && m_pDoc->m_bAlignValid == 1;
    return true;
  }
  if (id == cmd::kAlignAutomatically) {
    enabled = g_nSourcesLoaded == 2 && g_pDestDoc;
    return true;
  }
  if (id == cmd::kZoomIn || id == cmd::kZoomActual) {
    enabled = m_pDoc->m_bAlignValid == 1 && m_pDoc->m_nReduction > 1;
    return true;
  }
  if (id == cmd::kZoomOut || id == cmd::kZoomFit) {
    enabled = m_pDoc->m_bAlignValid == 1 && m_pDoc->m_nZoomReduction != 0;
    return true;
  }
  return false;
}

void CAlignview::OnCommand(int id) {
  switch (id) {
    case cmd::kLoadSource:
      // File > Open, exactly as the menu runs it.
      if (g_pShell) g_pShell->ExecuteCommand(cmd::kFileOpen);
      return;
    case cmd::kRotate:
      RunRotateDialog();
      return;
    case cmd::kAlignAutomatically:
      RunAutoAlign();
      return;
    case cmd::kZoomIn: SetZoomReduction(AlignZoomIn(m_pDoc->m_nReduction)); return;
    case cmd::kZoomOut: SetZoomReduction(AlignZoomOut(m_pDoc->m_nReduction, m_pDoc->m_nFitReduction)); return;
    case cmd::kZoomFit: SetZoomReduction(0); return;
    case cmd::kZoomActual: SetZoomReduction(1); return;
    default:
      RunAlignCommand(id);
      return;
  }
}

void CAlignview::RunAlignCommand(int id) {
  // The button of a menu that was open may arrive after the state changed.
  if (g_nSourcesLoaded != 2 || m_pDoc->m_bAlignValid != 1 || !g_pDestDoc) return;
  const QAction* action = g_pShell ? g_pShell->Action(id) : nullptr;
  CAlignStep step(action ? action->text().remove(QLatin1Char('&')) : QStringLiteral("Align"));
  RunLongWork([this, id] {
    switch (id) {
      case cmd::kMirror1: MirrorSource(*m_pDoc, 1); break;
      case cmd::kMirror2: MirrorSource(*m_pDoc, 2); break;
      case cmd::kResetSize1: ResetSize(*m_pDoc, 1); break;
      case cmd::kResetSize2: ResetSize(*m_pDoc, 2); break;
      case cmd::kCopyWidth1To2: CopyWidth(*m_pDoc, 2); break;
      case cmd::kCopyHeight1To2: CopyHeight(*m_pDoc, 2); break;
      case cmd::kCopyWidth2To1: CopyWidth(*m_pDoc, 1); break;
      case cmd::kCopyHeight2To1: CopyHeight(*m_pDoc, 1); break;
      case cmd::kCopySize1To2: CopySize(*m_pDoc, 2); break;
      case cmd::kCopySize2To1: CopySize(*m_pDoc, 1); break;
      default: break;
    }
  });
  ResyncShownFrame();
}

void CAlignview::RunAutoAlign() {
  if (g_nSourcesLoaded != 2 || !g_pDestDoc) return;
  AutoAlignResult found;
  {
    // One undo step, when something was found and applied.
    CAlignStep step(QStringLiteral("Align Automatically"));
    found = RunLongWork([] {
      AutoAlignResult result = FindAutoAlignment(*g_pDestDoc);
      // Found settings reach the session here and nowhere else.
      if (result.status == AutoAlignStatus::kFound) ApplyAutoAlignment(*g_pDestDoc, result.settings);
      return result;
    });
  }
  if (found.status == AutoAlignStatus::kFound) {
    ResyncShownFrame();
    ShowAlignmentNote(QString::fromStdString(DescribeAlignment(found)));
  } else if (found.status == AutoAlignStatus::kNoMemory) {
    ShowMessage(found.message);
  } else if (found.status != AutoAlignStatus::kStopped) {
    ShowMessage(auto_align_text::kNoCommonDetail);
  }
}

void CAlignview::RunRotateDialog() {
  if (g_nSourcesLoaded != 2 || m_pDoc->m_bAlignValid != 1 || !g_pDestDoc) return;
  CRotateDlg dialog(g_pShell ? g_pShell->MainWindow() : nullptr);
  g_pRotateDlg = &dialog;
  ExecModal(dialog);
  g_pRotateDlg = nullptr;
}

}  // namespace tessara
