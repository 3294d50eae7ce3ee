#include "ui/views/destview.h"

#include <QMouseEvent>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QTimer>
#include <QWheelEvent>

#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "framework/registry.h"
#include "ui/common/long_work.h"
#include "ui/common/qt_user_interface.h"
#include "ui/common/ui_registry.h"
#include "ui/views/target_commands.h"
#include "ui/views/tessara_view.h"

namespace tessara {

namespace {

// A dotted line as the platform's dotted pen draws it by default: black dots
// with white between them, visible on any picture.
void DrawDottedOutline(QPainter& painter, ZonePoint a, ZonePoint c) {
  const QPoint points[5] = {{a.x, a.y}, {c.x, a.y}, {c.x, c.y}, {a.x, c.y}, {a.x, a.y}};
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(Qt::white, 1, Qt::SolidLine));
  painter.drawPolyline(points, 5);
  QPen dots(Qt::black, 1, Qt::CustomDashLine);
  dots.setDashPattern({1, 1});
  painter.setPen(dots);
  painter.drawPolyline(points, 5);
  painter.restore();
}

}  // namespace

std::string ZoomText(ZoomRatio z) { return "Zoom " + QString::number(z.Factor() * 100, 'g', 4).toStdString() + " %"; }

int GuideBandHeight(int clientHeight) { return (clientHeight - 100) / 128 + 1; }

CDestview::CDestview(CDestdoc* doc, QWidget* parent) : CScrollView(parent), m_pDoc(doc) {
  g_pTargetView = this;
  viewport()->setMouseTracking(true);
  viewport()->setContextMenuPolicy(Qt::NoContextMenu);
  m_nListener = m_pDoc->AddListener([this](DocumentEvent e) {
    switch (e) {
      case DocumentEvent::kUpdateViews:
        m_image.Invalidate();
        OnUpdate();
        break;
      case DocumentEvent::kRedrawNow:
        m_image.Invalidate();
        RedrawNow();
        break;
      case DocumentEvent::kShowGenerateButton:
        EnsureGenerateButton();
        break;
      case DocumentEvent::kHideGenerateButton:
        // The button may be the one whose click is running: let it finish.
        if (m_pGenerateButton) {
          m_pGenerateButton->hide();
          m_pGenerateButton->deleteLater();
          m_pGenerateButton = nullptr;
        }
        break;
      case DocumentEvent::kTitleChanged:
        break;
    }
  });
}

CDestview::~CDestview() {
  if (m_pTimer) m_pTimer->stop();
  m_pDoc->RemoveListener(m_nListener);
  delete m_pGenerateButton;
  if (g_pTargetView == this) g_pTargetView = nullptr;
}

void CDestview::OnInitialUpdate() {
  if (!m_pTimer) {
    m_pTimer = new QTimer(this);
    connect(m_pTimer, &QTimer::timeout, this, &CDestview::OnAutoScrollTimer);
  }
  m_pTimer->stop();
  m_pTimer->start(50);
  m_pDoc->SetTitle(target_text::kTitle);
  SetScrollSizes(QSize(m_pDoc->m_nTargetWidth, m_pDoc->m_nTargetHeight));
}

void CDestview::OnUpdate() {
  SetScrollSizes(QSize(ShownLength(m_pDoc->m_nTargetWidth, m_zoom), ShownLength(m_pDoc->m_nTargetHeight, m_zoom)));
}

ZonePoint CDestview::PicturePoint(const QPoint& windowPoint) const {
  const QPoint v = DeviceToLogical(windowPoint);
  return {ViewToPicture(v.x(), m_zoom), ViewToPicture(v.y(), m_zoom)};
}

QPoint CDestview::WindowPoint(ZonePoint picture) const {
  return QPoint(PictureToView(picture.x, m_zoom), PictureToView(picture.y, m_zoom)) - ScrollPosition();
}

void CDestview::SetZoom(ZoomRatio zoom, std::optional<QPoint> anchor) {
  const QPoint at = anchor ? *anchor : viewport()->rect().center();
  const ZonePoint keep = PicturePoint(at);
  m_zoom = zoom;
  OnUpdate();
  ScrollToPosition(QPoint(ScrollToKeep(keep.x, at.x(), m_zoom), ScrollToKeep(keep.y, at.y(), m_zoom)));
  m_bRubberBand = false;
  viewport()->update();
  m_pDoc->SetStatusText(ZoomText(m_zoom));
}

void CDestview::wheelEvent(QWheelEvent* event) {
  if (!(event->modifiers() & Qt::ControlModifier) || !m_pDoc->m_pTarget) {
    CScrollView::wheelEvent(event);
    return;
  }
  // Ctrl and the wheel: zoom about the pixel under the pointer.
  const int steps = event->angleDelta().y() / 120;
  if (steps == 0) return;
  ZoomRatio z = m_zoom;
  for (int i = 0; i < std::abs(steps); ++i) z = steps > 0 ? ZoomIn(z) : ZoomOut(z);
  if (!(z == m_zoom)) SetZoom(z, event->position().toPoint());
  event->accept();
}

void CDestview::RedrawNow() {
  m_bRubberBand = false;
  viewport()->repaint();
}

void CDestview::EnsureGenerateButton() {
  if (m_pGenerateButton) return;
  m_pGenerateButton = new CBitmapButton(cmd::kGenerateTarget, destview_text::kGenerate, QColor(150, 205, 150), viewport());
  m_pGenerateButton->setObjectName(QStringLiteral("generateButton"));
  m_pGenerateButton->move(30, 100);
  m_pGenerateButton->show();
  connect(m_pGenerateButton, &QAbstractButton::clicked, this, &CDestview::OnGenerateTarget);
}

void CDestview::OnGenerateTarget() {
  GenerateTargetAsLongWork(*m_pDoc);
}

void CDestview::PrepareShownTarget() {
  if (m_pDoc->m_pTarget) ShownTarget();
}

void CDestview::paintEvent(QPaintEvent*) {
  m_shown.Paint([this](QPainter& painter) { Draw(painter); });
}

const QImage& CDestview::ShownTarget() { return m_image.Get(m_pDoc->m_pTarget.get(), Source1ColourSpace()); }

void CDestview::Draw(QPainter& painter) {
  if (!m_pDoc->m_pTarget) {
    DrawGuidance(painter);
    return;
  }
  const QPoint scroll = ScrollPosition();
  painter.save();
  painter.translate(-scroll.x(), -scroll.y());
  const Dib& target = *m_pDoc->m_pTarget;
  PaintImage(painter,
             QRect(0, 0, ShownLength(m_pDoc->m_nTargetWidth, m_zoom), ShownLength(m_pDoc->m_nTargetHeight, m_zoom)),
             ShownTarget(), QRect(0, 0, target.Width(), target.Height()));
  painter.restore();
  // The outlines in window pixels, one pixel wide at any zoom.
  const auto shown = [this](ZonePoint p) {
    const QPoint w = WindowPoint(p);
    return ZonePoint{w.x(), w.y()};
  };
  if (HasOutline(m_pDoc->m_bZoneOnly)) DrawDottedOutline(painter, shown(m_ptZoneAnchor), shown(m_ptZoneCorner));
  if (m_bRubberBand) DrawDottedOutline(painter, shown(m_ptZoneAnchor), shown(m_ptDragCorner));
}

void CDestview::DrawGuidance(QPainter& painter) {
  const QRect client = viewport()->rect();
  const QColor c(kGuideRed, kGuideGreen, kGuideBlue);
  painter.fillRect(QRect(0, 0, client.width(), 100), c);
  const int band = GuideBandHeight(client.height());
  for (int k = 0, y = 100; y < client.height(); ++k, y += band)
    painter.fillRect(QRect(0, y, client.width(), band),
                     QColor(qMax(0, kGuideRed - k), qMax(0, kGuideGreen - k), qMax(0, kGuideBlue - k)));
  painter.setPen(Qt::black);
  TextOutOpaque(painter, 30, 20, destview_text::kEmpty, c);
  if (g_nSourcesLoaded == 2) {
    if (g_pAlignDoc && g_pAlignDoc->m_bAlignValid) {
      TextOutOpaque(painter, 30, 50, destview_text::kSelectItem, c);
      TextOutOpaque(painter, 30, 70, destview_text::kPressButton, c);
    } else {
      TextOutOpaque(painter, 30, 20, destview_text::kAlignNotValid, c);
    }
  } else {
    TextOutOpaque(painter, 30, 50,
                  QString::fromUtf8(destview_text::kSwitchToAlign) +
                      (g_nSourcesLoaded == 1 ? destview_text::kLoadSecond : destview_text::kLoadTwo),
                  c);
  }
}

void CDestview::DrawPrinted(QPainter& painter, QPagedPaintDevice& device) {
  const int pageWidth = device.width();
  DibPtr out = RunLongWork([this] { return m_pDoc->PrepareOutput(0); });
  if (out) {
    const int w = out->Width(), h = out->Height();
    const int height = PrintDestinationHeight(w, h, pageWidth, device.logicalDpiX(), device.logicalDpiY());
    PaintDib(painter, QRect(0, 0, pageWidth, height), *out, QRect(0, 0, w, h));
    out.reset();
  }
  // The output image took the prepared sources' place; they are made again
  // even when there was no room for it, so that the Target can still be built.
  RunLongWork([this] { m_pDoc->RefreshSources(); });
}

ZonePoint CDestview::LogicalPoint(const QPoint& windowPoint) const { return PicturePoint(windowPoint); }

void CDestview::PassZoneToDocument() { m_pDoc->SetZone(m_ptZoneAnchor, m_ptZoneCorner); }

void CDestview::mousePressEvent(QMouseEvent* event) {
  const ZonePoint p = LogicalPoint(event->position().toPoint());
  if (event->button() == Qt::LeftButton) {
    m_bCaptured = true;
    LeftDown(p, m_pDoc->m_nTargetWidth, m_pDoc->m_nTargetHeight, m_pDoc->m_bUpToDate, m_pDoc->m_bZoneOnly);
    PassZoneToDocument();
    if (m_pDoc->m_bUpToDate == 1) RedrawNow();
  } else if (event->button() == Qt::RightButton) {
    m_bCaptured = true;
    RightDown(m_pDoc->m_bZoneOnly);
    PassZoneToDocument();
    RedrawNow();
  }
  event->accept();
}

void CDestview::mouseMoveEvent(QMouseEvent* event) {
  const ZonePoint p = LogicalPoint(event->position().toPoint());
  if (!m_bCaptured) {
    if (auto text = HoverText(p, m_pDoc->m_nTargetHeight, m_pDoc->m_bUpToDate, m_pDoc->m_nViewScaleX,
                              m_pDoc->m_nViewScaleY))
      m_pDoc->SetStageText(*text);
    return;
  }
  const bool leftAlone = event->buttons() == Qt::LeftButton &&
                         !(event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier));
  if (!DragTo(p, m_pDoc->m_nTargetWidth, m_pDoc->m_nTargetHeight, leftAlone)) return;
  if (m_pDoc->m_pTarget) {
    // The picture, then the rubber band over it.
    m_bRubberBand = true;
    viewport()->repaint();
  }
}

void CDestview::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    m_bCaptured = false;
    return;
  }
  if (event->button() != Qt::LeftButton) return;
  m_bCaptured = false;
  const ZonePoint p = LogicalPoint(event->position().toPoint());
  const Dib* target = m_pDoc->m_pTarget.get();
  const Release result = LeftUp(p, m_pDoc->m_nTargetWidth, m_pDoc->m_nTargetHeight, target != nullptr,
                                target ? target->Width() : 0, target ? target->Height() : 0, m_pDoc->m_bZoneOnly);
  PassZoneToDocument();
  switch (result) {
    case Release::kNotDown:
    case Release::kNoTarget:
      return;
    case Release::kRefused:
      ShowMessage(target_text::kZoneTooSmall);
      break;
    case Release::kAccepted:
    case Release::kRefusedSilently:
      break;
  }
  RedrawNow();
}

void CDestview::OnAutoScrollTimer() {
  if (m_bAutoScroll != 1 || !DocumentsAtRest()) return;
  // The drag's arithmetic is in Target pixels: the scroll position and the
  // client size go there and back through the zoom.
  const QPoint s = ScrollPosition();
  const QSize client = ClientSize();
  const ScrollPos at{ViewToPicture(s.x(), m_zoom), ViewToPicture(s.y(), m_zoom)};
  const ScrollPos next = AutoScroll(at, ViewToPicture(client.width(), m_zoom), ViewToPicture(client.height(), m_zoom),
                                    m_pDoc->m_nTargetWidth, m_pDoc->m_nTargetHeight);
  if (!(next == at)) ScrollToPosition(QPoint(PictureToView(next.x, m_zoom), PictureToView(next.y, m_zoom)));
}

bool CDestview::OnUpdateCommand(int id, bool& enabled) {
  switch (id) {
    case cmd::kSnap1:
    case cmd::kSnap5:
    case cmd::kSnap10:
    case cmd::kSnap16:
      enabled = true;
      return true;
    case cmd::kFilePrint:
    case cmd::kFilePrintPreview:
      enabled = m_pDoc->m_bUpToDate == 1;
      return true;
    case cmd::kZoomIn:
      enabled = m_pDoc->m_pTarget && !(ZoomIn(m_zoom) == m_zoom);
      return true;
    case cmd::kZoomOut:
      enabled = m_pDoc->m_pTarget && !(ZoomOut(m_zoom) == m_zoom);
      return true;
    case cmd::kZoomFit:
    case cmd::kZoomActual:
      enabled = m_pDoc->m_pTarget != nullptr;
      return true;
    default:
      return UpdateToolCommand(id, *m_pDoc, enabled);
  }
}

int SnapOfCommand(int id) {
  switch (id) {
    case cmd::kSnap1: return 1;
    case cmd::kSnap5: return 5;
    case cmd::kSnap10: return 10;
    case cmd::kSnap16: return 16;
    default: return 0;
  }
}

bool CDestview::IsCommandChecked(int id) {
  const int snap = SnapOfCommand(id);
  return snap != 0 && snap == m_nSnap;
}

void CDestview::OnCommand(int id) {
  switch (id) {
    case cmd::kSnap1: m_nSnap = 1; break;
    case cmd::kSnap5: m_nSnap = 5; break;
    case cmd::kSnap10: m_nSnap = 10; break;
    case cmd::kSnap16: m_nSnap = 16; break;
    case cmd::kZoomIn: SetZoom(ZoomIn(m_zoom)); break;
    case cmd::kZoomOut: SetZoom(ZoomOut(m_zoom)); break;
    case cmd::kZoomFit: {
      // The whole Target needs no scroll bars: the view's full size is there.
      const QSize client = size();
      SetZoom(FitRatio(m_pDoc->m_nTargetWidth, m_pDoc->m_nTargetHeight, client.width(), client.height()),
              QPoint(0, 0));
      break;
    }
    case cmd::kZoomActual: SetZoom(ZoomRatio{}); break;
    case cmd::kFilePrint: PrintTarget(*this); break;
    case cmd::kFilePrintPreview: PreviewTarget(*this); break;
    default: RunToolCommand(id, *this); break;
  }
}

}  // namespace tessara
