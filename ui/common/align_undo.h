// Undo and redo of the alignment. Each change of the alignment (a drag or a
// stretch in the Align Window, an Align command, the Rotate dialog's Update,
// a Fine Adjustment click) is one step on the program's undo stack; a step
// holds the alignment before and after and puts one of them back through the
// align document. Loading or deleting a source empties the stack.
//
// Recording a change is one object around it:
//
//   { CAlignStep step(QStringLiteral("Mirror")); ...change the alignment...; }
//
// It pushes a step when it goes out of scope, if the alignment changed.
#pragma once

#include <QString>
#include <QUndoCommand>

#include "engine/align_history.h"

class QUndoStack;

namespace tessara {

namespace undo_text {
inline constexpr const char* kDrag = "Drag in the Align Window";
inline constexpr const char* kRotate = "Rotate";
inline constexpr const char* kFineAdjustment = "Fine Adjustment";
inline constexpr const char* kArrowKey = "Move source 2";
inline constexpr const char* kUndoPrompt = "Undo the last change of the alignment";
inline constexpr const char* kRedoPrompt = "Redo the change of the alignment undone last";
}  // namespace undo_text

// What Align Automatically found, shown in the message pane until the
// alignment changes again (then it describes an alignment no longer in force).
void ShowAlignmentNote(const QString& text);
void ForgetAlignmentNote();
// True while a step is being undone or redone (the dialogs that count from a
// base keep it then, and show the step's distance from it).
bool IsPuttingBackAlignment();

// The program's undo stack (the main frame's); null without a main frame.
QUndoStack* AlignUndoStack();
// Empties it: the steps described sources that are gone.
void ClearAlignHistory();

class CAlignStep {
 public:
  explicit CAlignStep(QString text);
  ~CAlignStep();
  CAlignStep(const CAlignStep&) = delete;
  CAlignStep& operator=(const CAlignStep&) = delete;

 private:
  QString m_text;
  bool m_bValid = false;
  AlignSettings m_before;
};

// One step: the alignment before and after a change.
class CAlignUndoCommand : public QUndoCommand {
 public:
  CAlignUndoCommand(const QString& text, const AlignSettings& before, const AlignSettings& after);
  void undo() override;
  void redo() override;
  const AlignSettings& Before() const { return m_before; }
  const AlignSettings& After() const { return m_after; }

 private:
  static void Put(const AlignSettings& settings);
  AlignSettings m_before;
  AlignSettings m_after;
  // The change itself was made before the step was pushed.
  bool m_bDone = true;
};

}  // namespace tessara
