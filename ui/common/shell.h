// What views, dialogs and the common services ask of the program's main
// window, without including it. The main window implements this; the windows
// below it reach the main window, and each other across layers, only here.
#pragma once

class QAction;
class QKeyEvent;
class QPrinter;
class QUndoStack;
class QWidget;

namespace tessara {

class CStatusLine;

class CShell {
 public:
  // The top-level window: the parent of message boxes and modal dialogs.
  virtual QWidget* MainWindow() = 0;
  virtual CStatusLine& StatusLine() = 0;
  virtual QAction* Action(int id) const = 0;
  virtual bool ExecuteCommand(int id) = 0;
  virtual bool TranslateAccelerator(const QKeyEvent& event) = 0;
  virtual QUndoStack* AlignUndo() const = 0;
  virtual void RaiseAlignWindow() = 0;
  virtual void RaiseTargetWindow() = 0;
  // The open tool dialogs reread the session, and the Target Window shows or
  // hides its Generate button to match.
  virtual void RefreshToolDialogs() = 0;
  // The Target Window shows its Generate button if a Target can be made.
  virtual void EnsureGenerateButton() = 0;
  // The Target Window converts a new Target for the screen (called by the work
  // that built it, on the work's thread).
  virtual void PrepareShownTarget() = 0;
  // The Align Window takes the session's alignment as its shown frame.
  virtual void ResyncAlignView() = 0;
  // The source windows' captions follow their numbers and titles.
  virtual void UpdateSourceCaptions() = 0;
  // The program's printer (shared by print, preview and print setup) and the
  // number of pages the preview shows.
  virtual QPrinter& Printer() = 0;
  virtual int PreviewPages() const = 0;

 protected:
  ~CShell() = default;
};

// The main window while it exists, else null.
extern CShell* g_pShell;

}  // namespace tessara
