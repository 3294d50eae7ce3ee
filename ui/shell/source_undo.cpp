#include "ui/shell/source_undo.h"

#include <QUndoStack>

#include "engine/tessara_doc.h"
#include "ui/common/align_undo.h"
#include "ui/common/qt_user_interface.h"
#include "ui/shell/tessara_app.h"

namespace tessara {

namespace {
// The step whose Redo is closing the source's window again.
CSourceDeletionCommand* g_pRedoing = nullptr;
// The joined source's step while its Undo closes the window.
CJoinedSourceCommand* g_pUndoingJoin = nullptr;
std::unique_ptr<CTessaraDoc>* g_pJoinedSink = nullptr;
}  // namespace

void RecordSourceDeletion(std::unique_ptr<CTessaraDoc> doc, int number, bool pair, const AlignSettings& alignment) {
  if (!doc) return;
  if (g_pUndoingJoin && g_pJoinedSink) {
    *g_pJoinedSink = std::move(doc);
    return;
  }
  if (g_pRedoing) {
    g_pRedoing->TakeBack(std::move(doc), pair, alignment);
    return;
  }
  if (QUndoStack* stack = AlignUndoStack())
    stack->push(new CSourceDeletionCommand(std::move(doc), number, pair, alignment));
}

CSourceDeletionCommand::CSourceDeletionCommand(std::unique_ptr<CTessaraDoc> doc, int number, bool pair,
                                               const AlignSettings& alignment)
    : m_pDoc(std::move(doc)), m_nNumber(number), m_bPair(pair), m_alignment(alignment) {
  setText(QString::fromUtf8(source_undo_text::kDeleteSource).arg(number));
}

CSourceDeletionCommand::~CSourceDeletionCommand() = default;

void CSourceDeletionCommand::undo() {
  if (!m_pDoc || !g_pApp) return;
  g_pApp->RestoreSource(std::move(m_pDoc), m_nNumber, m_bPair, m_alignment);
}

void CSourceDeletionCommand::redo() {
  if (m_bDone) {
    m_bDone = false;
    return;
  }
  if (!g_pApp) return;
  g_pRedoing = this;
  g_pApp->OnDeleteSource(m_nNumber);
  g_pRedoing = nullptr;
}

void CSourceDeletionCommand::TakeBack(std::unique_ptr<CTessaraDoc> doc, bool pair, const AlignSettings& alignment) {
  m_pDoc = std::move(doc);
  m_bPair = pair;
  m_alignment = alignment;
}

CJoinedSourceCommand::CJoinedSourceCommand() = default;

CJoinedSourceCommand::~CJoinedSourceCommand() = default;

void CJoinedSourceCommand::undo() {
  if (!g_pApp) return;
  g_pUndoingJoin = this;
  g_pJoinedSink = &m_pDoc;
  g_pApp->OnDeleteSource(1);
  g_pUndoingJoin = nullptr;
  g_pJoinedSink = nullptr;
}

void CJoinedSourceCommand::redo() {
  if (m_bDone) {
    m_bDone = false;
    return;
  }
  if (!m_pDoc || !g_pApp) return;
  g_pApp->RestoreSource(std::move(m_pDoc), 1, false, AlignSettings{});
}

}  // namespace tessara
