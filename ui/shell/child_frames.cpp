#include "ui/shell/child_frames.h"

#include <QCloseEvent>
#include <algorithm>

#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "engine/documents.h"
#include "engine/tessara_doc.h"
#include "framework/registry.h"
#include "engine/align_history.h"
#include "ui/common/align_undo.h"
#include "ui/shell/source_undo.h"
#include "ui/common/icons.h"
#include "ui/common/ui_registry.h"
#include "ui/shell/main_frame.h"
#include "ui/views/align_view.h"
#include "ui/views/destview.h"
#include "ui/views/target_commands.h"
#include "ui/views/tessara_view.h"

namespace tessara {

namespace {

// Frames follow their document's title.
int FollowTitle(CDocument& doc, QMdiSubWindow* frame) {
  frame->setWindowTitle(QString::fromStdString(doc.GetTitle()));
  return doc.AddListener([&doc, frame](DocumentEvent e) {
    if (e == DocumentEvent::kTitleChanged) {
      frame->setWindowTitle(QString::fromStdString(doc.GetTitle()));
      if (g_pMainFrame) g_pMainFrame->UpdateFrameTitle();
    }
  });
}

void RedrawTargetWindowNow() {
  if (g_pTargetView) g_pTargetView->RedrawNow();
}

}  // namespace

CMdiChild::CMdiChild(QWidget* parent) : QMdiSubWindow(parent) {}

// Source Window ------------------------------------------------------------

CChildFrame::CChildFrame(CDocuments& documents, CTessaraDoc& doc, bool restored)
    : m_documents(documents), m_pDoc(&doc), m_bLoaded(restored) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowIcon(SourceIcon());
  // The frame's slot is its document's; the source counts from its opening.
  g_pSourceFrames[std::max(documents.SlotOf(doc), 0)] = this;
  // The steps taken so far aligned other sources (a source put back by undo
  // is one of them again).
  if (!restored) ClearAlignHistory();
  if (g_pAlignDoc) g_pAlignDoc->UpdateAllViews();
  if (g_pDestDoc) g_pDestDoc->UpdateAllViews();
  RedrawTargetWindowNow();
  m_pView = new CTessaraView(m_pDoc, this);
  setWidget(m_pView);
  m_nTitleListener = m_pDoc->AddListener([this](DocumentEvent e) {
    if (e == DocumentEvent::kTitleChanged) UpdateCaption();
  });
  UpdateCaption();
}

CChildFrame::~CChildFrame() {
  if (g_pMainFrame) g_pMainFrame->ChildGoing(this);
  m_pDoc->RemoveListener(m_nTitleListener);
  // A loaded source closed by the user (its close box, DELETE source n) can
  // come back with Edit > Undo, aligned as it was; not while the program ends.
  const bool undoable = m_bLoaded && g_pMainFrame && !g_pMainFrame->m_bClosing && AlignUndoStack() && g_pDestDoc;
  const int number = m_documents.SlotOf(*m_pDoc) + 1;
  const bool pair = g_nSourcesLoaded == 2;
  const AlignSettings alignment = g_pDestDoc ? TakeAlignSettings(*g_pDestDoc) : AlignSettings{};
  // The view's teardown runs while this frame still counts.
  delete m_pView;
  m_pView = nullptr;
  m_documents.StopCountingSource(*m_pDoc);
  if (!undoable) ClearAlignHistory();
  if (g_pAlignView) g_pAlignView->EnsureLoadButton();
  if (g_pAlignDoc) g_pAlignDoc->UpdateAllViews();
  if (g_pDestDoc) {
    g_pDestDoc->ClearTarget();
    g_pDestDoc->UpdateAllViews();
  }
  RedrawTargetWindowNow();
  for (CChildFrame*& slot : g_pSourceFrames)
    if (slot == this) slot = nullptr;
  if (undoable) RecordSourceDeletion(m_documents.TakeSource(*m_pDoc), number, pair, alignment);
  else m_documents.CloseSource(*m_pDoc);
  m_pDoc = nullptr;
  if (g_pMainFrame) g_pMainFrame->UpdateFrameTitle();
}

CCmdTarget* CChildFrame::ViewTarget() { return m_pView; }

void CChildFrame::ActivateView(bool activate) {
  if (m_pView) m_pView->OnActivateView(activate);
}

void CChildFrame::UpdateCaption() {
  const int n = m_pView ? m_pView->m_nSource : 1;
  setWindowTitle(QStringLiteral("Source %1: %2").arg(n).arg(QString::fromStdString(m_pDoc->GetTitle())));
  if (g_pMainFrame) g_pMainFrame->UpdateFrameTitle();
}

// Target Window ------------------------------------------------------------

CDestchild::CDestchild(CDocuments& documents, CDestdoc& doc) : m_documents(documents), m_pDoc(&doc) {
  g_pTargetFrame = this;
  setWindowIcon(TargetIcon());
  m_pView = new CDestview(m_pDoc, this);
  setWidget(m_pView);
  m_pDocCommands = std::make_unique<CTargetDocCommands>(m_pDoc);
  FollowTitle(*m_pDoc, this);
}

CDestchild::~CDestchild() {
  if (g_pMainFrame) g_pMainFrame->ChildGoing(this);
  delete m_pView;
  m_pView = nullptr;
  m_pDocCommands.reset();
  m_documents.CloseTarget();
  m_pDoc = nullptr;
  if (g_pTargetFrame == this) g_pTargetFrame = nullptr;
}

CCmdTarget* CDestchild::ViewTarget() { return m_pView; }
CCmdTarget* CDestchild::DocumentTarget() { return m_pDocCommands.get(); }

void CDestchild::closeEvent(QCloseEvent* event) {
  if (g_pMainFrame && g_pMainFrame->m_bClosing) {
    QMdiSubWindow::closeEvent(event);
    return;
  }
  ShowMessage(align_text::kNotAllowedToClose);
  event->ignore();
}

// Align Window -------------------------------------------------------------

CAlignChildWnd::CAlignChildWnd(CDocuments& documents, CAlignDoc& doc) : m_documents(documents), m_pDoc(&doc) {
  g_pAlignFrame = this;
  setWindowIcon(AlignIcon());
  m_pView = new CAlignview(m_pDoc, this);
  setWidget(m_pView);
  FollowTitle(*m_pDoc, this);
}

CAlignChildWnd::~CAlignChildWnd() {
  if (g_pMainFrame) g_pMainFrame->ChildGoing(this);
  delete m_pView;
  m_pView = nullptr;
  m_documents.CloseAlign();
  m_pDoc = nullptr;
  if (g_pAlignFrame == this) g_pAlignFrame = nullptr;
}

CCmdTarget* CAlignChildWnd::ViewTarget() { return m_pView; }

void CAlignChildWnd::ActivateView(bool activate) {
  if (m_pView) m_pView->OnActivateView(activate);
}

void CAlignChildWnd::closeEvent(QCloseEvent* event) {
  const bool closing = g_pMainFrame && g_pMainFrame->m_bClosing;
  if (closing) {
    QMdiSubWindow::closeEvent(event);
    return;
  }
  m_pDoc->CanCloseDocument(false);
  event->ignore();
}

}  // namespace tessara
