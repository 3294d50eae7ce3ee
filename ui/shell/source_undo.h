// Deleting a source (Target > DELETE source n, or its window's close box) as a
// step on the program's undo stack: the step keeps the source's document and
// the alignment of the pair, and Edit > Undo puts both back; Redo deletes the
// source again.
#pragma once

#include <QUndoCommand>
#include <memory>

#include "engine/align_history.h"

namespace tessara {

class CTessaraDoc;

namespace source_undo_text {
inline constexpr const char* kDeleteSource = "Delete source %1";
inline constexpr const char* kUseTargetAsSource1 = "Use Target as Source 1";
}  // namespace source_undo_text

// A source window has just closed: `doc` is its document, taken out of the
// program's documents; `number` the source it was (1 or 2), `pair` whether
// the other source was loaded too, with `alignment` then in force.
void RecordSourceDeletion(std::unique_ptr<CTessaraDoc> doc, int number, bool pair, const AlignSettings& alignment);

class CSourceDeletionCommand : public QUndoCommand {
 public:
  CSourceDeletionCommand(std::unique_ptr<CTessaraDoc> doc, int number, bool pair, const AlignSettings& alignment);
  ~CSourceDeletionCommand() override;
  void undo() override;
  void redo() override;
  // Redo closed the window again: the document comes back here.
  void TakeBack(std::unique_ptr<CTessaraDoc> doc, bool pair, const AlignSettings& alignment);

 private:
  std::unique_ptr<CTessaraDoc> m_pDoc;
  int m_nNumber;
  bool m_bPair;
  AlignSettings m_alignment;
  // The deletion itself happened before the step was pushed.
  bool m_bDone = true;
};

// The Target made source 1 for a further join (Target > Use Target as
// Source 1): the step deleting both sources and this one, the joined source's
// opening, go on the stack as one. Undoing it closes the joined source (kept
// here for Redo), and the deletions' undo then brings back the pair as it
// was aligned.
class CJoinedSourceCommand : public QUndoCommand {
 public:
  CJoinedSourceCommand();
  ~CJoinedSourceCommand() override;
  void undo() override;
  void redo() override;

 private:
  std::unique_ptr<CTessaraDoc> m_pDoc;
  bool m_bDone = true;
};

}  // namespace tessara
