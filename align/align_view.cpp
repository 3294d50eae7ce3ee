#include "align/align_view.h"

#include <QPainter>
#include <QResizeEvent>

#include "align/align_doc.h"
#include "app/main_frame.h"
#include "app/ui_registry.h"
#include "framework/registry.h"

namespace tessara {

int WaitBandHeight(int clientHeight) { return (clientHeight - 100) / 128 + 1; }

int WaitBandCount(int clientHeight) {
  int n = 0;
  for (int y = 100, s = WaitBandHeight(clientHeight); y < clientHeight; y += s) ++n;
  return n;
}

namespace {
QColor Lowered(const QColor& c, int by) {
  return QColor(qBound(0, c.red() - by, 255), qBound(0, c.green() - by, 255), qBound(0, c.blue() - by, 255));
}
}  // namespace

CAlignview::CAlignview(CAlignDoc* doc, QWidget* parent) : QWidget(parent), m_pDoc(doc) {
  g_pAlignView = this;
  setAutoFillBackground(false);
  m_nListener = m_pDoc->AddListener([this](DocumentEvent e) {
    if (e == DocumentEvent::kUpdateViews) {
      m_image.Invalidate();
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
  m_pLoadButton = new CBitmapButton(cmd::kLoadSource, alignview_text::kLoadSource1, QColor(150, 180, 230), this);
  m_pLoadButton->setObjectName(QStringLiteral("loadButton"));
  m_pLoadButton->move(100, 90);
  m_pLoadButton->show();
  // The button is File > Open, exactly as the menu runs it.
  connect(m_pLoadButton, &QAbstractButton::clicked, this, [] {
    if (g_pMainFrame) g_pMainFrame->ExecuteCommand(cmd::kFileOpen);
  });
}

void CAlignview::DeleteLoadButton() {
  if (!m_pLoadButton) return;
  // It may be the button whose click is running.
  m_pLoadButton->hide();
  m_pLoadButton->deleteLater();
  m_pLoadButton = nullptr;
}

void CAlignview::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (m_pDoc->m_bAlignValid != 1) return;
  m_pDoc->m_nClientWidth = event->size().width();
  m_pDoc->m_nClientHeight = event->size().height();
  m_pDoc->RebuildPreview(m_pDoc->m_nFailCode);
  repaint();
}

bool CAlignview::OnUpdateCommand(int id, bool& enabled) {
  // The target document's Save as is not for this window.
  if (id != cmd::kFileSaveAs) return false;
  enabled = false;
  return true;
}

void CAlignview::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  Draw(painter);
}

void CAlignview::Draw(QPainter& painter) {
  const QRect client = rect();
  painter.setPen(Qt::black);
  if (g_nSourcesLoaded < 2) DrawWaiting(painter, client);
  else if (!m_pDoc->m_pPreview) DrawNoPreview(painter, client);
  else DrawPreview(painter, client);
}

void CAlignview::DrawWaiting(QPainter& painter, const QRect& client) {
  m_pDoc->m_bAlignValid = 0;
  painter.fillRect(QRect(client.left(), client.top(), client.width(), 100), kWaitColour);
  const int s = WaitBandHeight(client.height());
  int n = 0;
  for (int y = 100; y < client.bottom() + 1; y += s, ++n)
    painter.fillRect(QRect(client.left(), y, client.width(), s), Lowered(kWaitColour, n));
  if (g_nSourcesLoaded == 0) {
    TextOutOpaque(painter, 100, 10, alignview_text::kLoadFirst, kWaitColour);
    TextOutOpaque(painter, 100, 40, alignview_text::kOrButton, kWaitColour);
  } else {
    TextOutOpaque(painter, 100, 10, alignview_text::kLoadSecond, kWaitColour);
  }
  const QColor bottom = Lowered(kWaitColour, n - 10);
  TextOutOpaque(painter, 100, client.height() - 20,
                g_nSourcesLoaded == 0 ? alignview_text::kNamesExplained : alignview_text::kUseMouse, bottom);
}

void CAlignview::DrawNoPreview(QPainter& painter, const QRect& client) {
  painter.fillRect(client, kFailColour);
  if (const char* const* lines = FailCodeLines(m_pDoc->m_nFailCode)) {
    TextOutOpaque(painter, 20, 10, lines[0], kFailColour);
    TextOutOpaque(painter, 20, 40, lines[1], kFailColour);
  }
}

void CAlignview::DrawPreview(QPainter& painter, const QRect& client) {
  const int l = m_pDoc->m_nPreviewLeft, t = m_pDoc->m_nPreviewTop;
  const int r = l + m_pDoc->m_nPreviewWidth, b = t + m_pDoc->m_nPreviewHeight;
  const QImage& image = m_image.Get(m_pDoc->m_pPreview.get());
  PaintImage(painter, QRect(l, t, r - l, b - t), image, image.rect());
  // The hatch around the preview, on the white background.
  const QBrush hatch(kHatchColour, Qt::DiagCrossPattern);
  const int stripTop = client.bottom() + 1 - 30;
  for (const QRect& area : {QRect(QPoint(client.left(), client.top()), QPoint(client.right(), t - 1)),
                            QRect(QPoint(client.left(), t), QPoint(l - 1, b - 1)),
                            QRect(QPoint(r, t), QPoint(client.right(), b - 1)),
                            QRect(QPoint(client.left(), b), QPoint(client.right(), stripTop - 1))}) {
    if (area.isEmpty()) continue;
    painter.fillRect(area, Qt::white);
    painter.fillRect(area, hatch);
  }
  painter.fillRect(QRect(client.left(), stripTop, client.width(), 30), kStripColour);
}

}  // namespace tessara
