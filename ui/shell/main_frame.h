// CMainFrame: the program's main window. It holds the child windows in an MDI
// area, the one menu, and the four-pane status line; it routes every command
// (from the menu, an accelerator or a button) to the first object that handles
// it, after asking whether the command is enabled.
#pragma once

#include <QMainWindow>
#include <QMdiSubWindow>
#include <QPointer>
#include <map>
#include <memory>

#include "ui/common/commands.h"
#include "ui/common/shell.h"
#include "ui/common/status_line.h"

class QAction;
class QKeyEvent;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QUndoStack;

namespace tessara {

class CMdiChild;

namespace main_frame_text {
inline constexpr const char* kSaveBeforeClosing = "Save the Target before closing?";
}  // namespace main_frame_text

// The frame's title for a child window's title: "Tessara - title", or
// "Tessara - [title]" while the child is maximized; "Tessara" alone without one.
QString FrameTitle(const QString& childTitle, bool maximized);

// Window > Cascade: the places of `count` windows in an area of `area`, each a
// `step` further right and down than the one before, the last (the active one)
// on top. Every window keeps a usable size: as large as the area allows with
// all the steps, never smaller than two thirds of the area (or the area itself
// when that is smaller than 320 x 240).
QList<QRect> CascadeRects(QSize area, int count, int step);

class CMainFrame : public QMainWindow, public CCmdTarget, public CShell {
  Q_OBJECT
 public:
  CMainFrame();
  ~CMainFrame() override;

  QMdiArea* MdiArea() const { return m_pMdiArea; }
  QWidget* MainWindow() override { return this; }
  CStatusLine& StatusLine() override { return *m_pStatusLine; }
  // The child window that is (or was last) active.
  CMdiChild* ActiveChild() const;

  // Adds a child window to the MDI area and shows it.
  void AddChild(CMdiChild* child);
  // Brings a child window to the top and makes it the active one.
  void RaiseChild(QMdiSubWindow* child);
  void RaiseAlignWindow() override;
  void RaiseTargetWindow() override;
  void RefreshToolDialogs() override;
  void EnsureGenerateButton() override;
  void PrepareShownTarget() override;
  void ResyncAlignView() override;
  void UpdateSourceCaptions() override;
  QPrinter& Printer() override;
  int PreviewPages() const override;

  // The route: active view, its document, its frame, this frame, the
  // application.
  std::vector<CCmdTarget*> CommandRoute() const;
  bool IsCommandEnabled(int id) const;
  // Runs `id` when it is enabled; false when it did not run.
  bool ExecuteCommand(int id) override;
  // A key pressed in this window: runs the accelerator's command. True when
  // the key is an accelerator (whether or not its command was enabled).
  bool TranslateAccelerator(const QKeyEvent& event) override;
  // Sets every menu item's enabled state from the route.
  void UpdateMenu(QMenu* menu);
  QAction* Action(int id) const override;
  QMenu* MenuNamed(const QString& title) const;
  // The undo stack of the alignment (see app/align_undo.h).
  QUndoStack* AlignUndo() const override { return m_pAlignUndo; }

  // Idle work: pane 1's text from the session.
  void OnIdle();
  // "Tessara - " and the active window's title ("Tessara - [title]" while that
  // window is maximized). Run when the active window, its title or its state
  // changes; never in reply to a change of this frame's own title.
  void UpdateFrameTitle();
  // A child window is being destroyed: its view is no longer the active one.
  void ChildGoing(QMdiSubWindow* child);

  bool OnUpdateCommand(int id, bool& enabled) override;
  void OnCommand(int id) override;
  bool IsCommandChecked(int id) override;

  // Set when the main frame starts to close; only then may the Target and
  // Align windows close.
  int m_bClosing = 0;

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  // Picture files dropped on the window open as the next sources.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateMenus();
  // Edit: Undo and Redo of the alignment, before the Align menu.
  void CreateEditMenu();
  void RebuildRecentFiles(QMenu* menu);
  void RebuildWindowList(QMenu* menu);
  void OnSubWindowActivated(QMdiSubWindow* window);
  // A child window was maximized, restored or minimized.
  void ChildStateChanged();
  // Tells the views when the current child window changed.
  void SyncActiveView();
  void CloseSourceWindows();
  // Closing with a Target never saved: Yes saves it first (true once saved),
  // No closes without, Cancel keeps the program open. True to go on closing.
  bool AskToSaveTarget();
  // Window > Cascade with the sizes of CascadeRects (the MDI area's own
  // cascade shrinks each window to its contents' size hint).
  void CascadeChildren();

  QMdiArea* m_pMdiArea = nullptr;
  std::unique_ptr<CStatusLine> m_pStatusLine;
  std::map<int, QAction*> m_actions;
  QAction* m_pRecentAnchor = nullptr;
  QAction* m_pWindowListAnchor = nullptr;
  std::vector<QAction*> m_recentActions;
  std::vector<QAction*> m_windowActions;
  QPointer<QMdiSubWindow> m_pActiveChild;
  QUndoStack* m_pAlignUndo = nullptr;
};

}  // namespace tessara
