#include "ui/common/align_undo.h"

#include <QUndoStack>

#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "framework/registry.h"
#include "ui/common/long_work.h"
#include "ui/common/qt_user_interface.h"
#include "ui/common/shell.h"
#include "ui/common/status_line.h"
#include "ui/common/status_text.h"
#include "ui/common/ui_registry.h"

namespace tessara {

namespace {
QString g_strAlignmentNote;
int g_nPuttingBack = 0;
}  // namespace

void ShowAlignmentNote(const QString& text) {
  if (!g_pShell) return;
  g_strAlignmentNote = text;
  g_pShell->StatusLine().Pane(kPaneMessage)->PaintText(text);
}

void ForgetAlignmentNote() {
  if (g_strAlignmentNote.isEmpty() || !g_pShell) return;
  CStatusPane* pane = g_pShell->StatusLine().Pane(kPaneMessage);
  if (pane->ShownText() == g_strAlignmentNote) pane->SetOwnText(QString::fromUtf8(status_text::kIdle));
  g_strAlignmentNote.clear();
}

bool IsPuttingBackAlignment() { return g_nPuttingBack > 0; }

QUndoStack* AlignUndoStack() { return g_pShell ? g_pShell->AlignUndo() : nullptr; }

void ClearAlignHistory() {
  if (QUndoStack* stack = AlignUndoStack()) stack->clear();
}

CAlignStep::CAlignStep(QString text) : m_text(std::move(text)) {
  if (!g_pDestDoc) return;
  m_bValid = true;
  m_before = TakeAlignSettings(*g_pDestDoc);
}

CAlignStep::~CAlignStep() {
  QUndoStack* stack = AlignUndoStack();
  // The change may have ended the session's sources (a window closed meanwhile).
  if (!m_bValid || !stack || !g_pDestDoc || g_nSourcesLoaded != 2) return;
  const AlignSettings after = TakeAlignSettings(*g_pDestDoc);
  if (after == m_before) return;
  ForgetAlignmentNote();
  stack->push(new CAlignUndoCommand(m_text, m_before, after));
}

CAlignUndoCommand::CAlignUndoCommand(const QString& text, const AlignSettings& before, const AlignSettings& after)
    : m_before(before), m_after(after) {
  setText(text);
}

void CAlignUndoCommand::undo() { Put(m_before); }

void CAlignUndoCommand::redo() {
  if (m_bDone) {
    m_bDone = false;
    return;
  }
  Put(m_after);
}

void CAlignUndoCommand::Put(const AlignSettings& settings) {
  if (!g_pAlignDoc || !g_pDestDoc) return;
  ForgetAlignmentNote();
  ++g_nPuttingBack;
  RunLongWork([&] { RestoreAlignSettings(*g_pAlignDoc, *g_pDestDoc, settings); });
  --g_nPuttingBack;
  if (g_pShell) g_pShell->ResyncAlignView();
  g_pAlignDoc->UpdateAllViews();
}

}  // namespace tessara
