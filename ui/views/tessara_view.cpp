#include "ui/views/tessara_view.h"

#include <QMouseEvent>
#include <QPainter>

#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "engine/tessara_doc.h"
#include "framework/registry.h"
#include "ui/common/long_work.h"
#include "ui/common/qt_user_interface.h"
#include "ui/common/shell.h"
#include "ui/common/status_line.h"
#include "ui/common/status_text.h"
#include "ui/common/ui_registry.h"
#include "ui/views/destview.h"

namespace tessara {

const IccProfile& Source1ColourSpace() {
  static const IccProfile kNone;
  const CTessaraDoc* first = g_pSourceDocs[0];
  return first ? first->m_metadata.iccProfile : kNone;
}

CTessaraView::CTessaraView(CTessaraDoc* doc, QWidget* parent) : CScrollView(parent), m_pDoc(doc) {
  // The newest source's number; a source put back by undo takes its own.
  int n = g_nSourcesLoaded < 1 ? 1 : (g_nSourcesLoaded > 2 ? 2 : g_nSourcesLoaded);
  for (int slot = 0; slot < 2; ++slot)
    if (g_pSourceDocs[slot] == doc) n = slot + 1;
  g_pSourceViews[n - 1] = this;
  m_nSource = n;
  viewport()->setMouseTracking(true);
  if (g_nSourcesLoaded == 2 && g_pTargetView) g_pTargetView->EnsureGenerateButton();
}

CTessaraView::~CTessaraView() {
  CloseToolDialogs();
  if (g_pShell) g_pShell->RaiseAlignWindow();
  if (g_pDestDoc) g_pDestDoc->m_bUpToDate = 0;
  if (g_pAlignDoc) {
    g_pAlignDoc->FreePreview();
    g_pAlignDoc->m_nFailCode = kPrepareDone;
  }
  if (g_pDestDoc) g_pDestDoc->ResetSession();
  if (m_nSource == 1) {
    g_pSourceViews[0] = g_pSourceViews[1];
    g_pSourceFrames[0] = g_pSourceFrames[1];
    if (CTessaraView* moved = g_pSourceViews[0]) {
      moved->m_nSource = 1;
      moved->viewport()->repaint();
      if (g_pShell) g_pShell->UpdateSourceCaptions();
    }
  }
  g_pSourceViews[1] = nullptr;
  g_pSourceFrames[1] = nullptr;
  if (g_pSourceViews[0] == this) g_pSourceViews[0] = nullptr;
}

void CTessaraView::OnInitialUpdate() {
  const int w = m_pDoc->m_nWidth, h = m_pDoc->m_nHeight;
  if (w < 50 || h < 50) ShowMessage(source_view_text::kTooSmall);
  SetScrollSizes(QSize(w, h));
  if (g_nSourcesLoaded == 2 && g_pDestDoc && g_pAlignDoc) {
    RunLongWork([] {
      const PrepareResult c = g_pDestDoc->PrepareSource(1);
      const PrepareResult d = g_pDestDoc->PrepareSource(2);
      g_pAlignDoc->RebuildPreview(d != kPrepareDone ? d : c);
    });
    // Preparing cleared the message pane the load had written; a message of
    // its own (colours that could not be matched) stays.
    if (g_pShell && g_pShell->StatusLine().Pane(kPaneMessage)->ShownText().isEmpty()) ShowLoadNote();
  }
}

void CTessaraView::OnActivateView(bool activate) {
  if (m_nSource == 1) g_bSource1Active = activate ? 1 : 0;
  if (m_nSource == 2) g_bSource2Active = activate ? 1 : 0;
  // Activated by the window manager while long work has the documents, the
  // note waits.
  if (activate && DocumentsAtRest()) ShowLoadNote();
}

void CTessaraView::ShowLoadNote() {
  if (!g_pShell) return;
  CStatusPane* pane = g_pShell->StatusLine().Pane(kPaneMessage);
  if (!m_pDoc->m_szLoadNote.empty()) {
    pane->PaintText(QString::fromStdString(m_pDoc->m_szLoadNote));
    return;
  }
  // The other source's note would read as this picture's.
  for (const CTessaraDoc* other : g_pSourceDocs)
    if (other && other != m_pDoc && !other->m_szLoadNote.empty() &&
        pane->ShownText() == QString::fromStdString(other->m_szLoadNote))
      pane->SetOwnText(QString::fromUtf8(status_text::kIdle));
}

const QImage& CTessaraView::ShownImage() { return m_image.Get(m_pDoc->m_pDib.get(), m_pDoc->m_metadata.iccProfile); }

void CTessaraView::paintEvent(QPaintEvent*) {
  m_shown.Paint([this](QPainter& painter) {
    const QPoint scroll = ScrollPosition();
    painter.translate(-scroll.x(), -scroll.y());
    Draw(painter);
  });
}

void CTessaraView::Draw(QPainter& painter) {
  if (!m_pDoc->m_pDib) return;
  const QImage& image = ShownImage();
  PaintImage(painter, QRect(0, 0, image.width(), image.height()), image, image.rect());
  painter.setPen(QColor(0, 255, 0));
  TextOutTransparent(painter, 100, 50, m_nSource == 1 ? source_view_text::kSource1 : source_view_text::kSource2);
  TextOutTransparent(painter, 100, 100, source_view_text::kViewingOnly);
  TextOutTransparent(painter, 100, 150, source_view_text::kActionsElsewhere);
}

void CTessaraView::mouseMoveEvent(QMouseEvent* event) {
  QWidget* grabber = QWidget::mouseGrabber();
  if ((!grabber || (grabber != this && grabber != viewport())) && g_pDestDoc)
    g_pDestDoc->SetStageText(source_view_text::kSourceImage);
  CScrollView::mouseMoveEvent(event);
}

}  // namespace tessara
