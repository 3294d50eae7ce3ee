#include "ui/shell/main_frame.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QUndoStack>

#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "framework/registry.h"
#include "ui/common/align_undo.h"
#include "ui/common/help.h"
#include "ui/common/icons.h"
#include "ui/common/long_work.h"
#include "ui/common/qt_user_interface.h"
#include "ui/common/status_text.h"
#include "ui/common/ui_registry.h"
#include "ui/dialogs/rotate_dlg.h"
#include "ui/dialogs/tool_dialog.h"
#include "ui/shell/child_frames.h"
#include "ui/shell/command_line.h"
#include "ui/shell/recent_files.h"
#include "ui/shell/tessara_app.h"
#include "ui/views/align_view.h"
#include "ui/views/destview.h"
#include "ui/views/target_commands.h"
#include "ui/views/tessara_view.h"

namespace tessara {

CMainFrame::CMainFrame() {
  g_pMainFrame = this;
  g_pShell = this;
  g_bSource1Active = g_bSource2Active = g_bAlignActive = 0;
  g_pRotateDlg = nullptr;
  setWindowTitle(QString::fromUtf8(kAppTitle));
  setWindowIcon(AppIcon());
  m_pMdiArea = new QMdiArea(this);
  m_pMdiArea->setObjectName(QStringLiteral("mdiArea"));
  m_pMdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  m_pMdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(m_pMdiArea);
  setAcceptDrops(true);
  connect(m_pMdiArea, &QMdiArea::subWindowActivated, this, &CMainFrame::OnSubWindowActivated);
  CreateMenus();
  CreateEditMenu();
  m_pStatusLine = std::make_unique<CStatusLine>(statusBar());
  statusBar()->setSizeGripEnabled(true);
  // Pane 1 follows the session whenever the program has nothing else to do.
  connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
          &CMainFrame::OnIdle);
}

CMainFrame::~CMainFrame() {
  disconnect(QAbstractEventDispatcher::instance(), nullptr, this, nullptr);
  m_bClosing = 1;
  CloseSourceWindows();
  // The fixed windows go while this frame and the registry are still whole.
  for (QMdiSubWindow* child : m_pMdiArea->subWindowList()) delete child;
  if (g_pMainFrame == this) g_pMainFrame = nullptr;
  if (g_pShell == this) g_pShell = nullptr;
}

void CMainFrame::CreateMenus() {
  for (const Menu& table : MenuTable()) {
    QMenu* menu = menuBar()->addMenu(QString::fromUtf8(table.title));
    menu->setObjectName(QString::fromUtf8(table.title).remove('&'));
    for (const MenuItem& item : table.items) {
      switch (item.kind) {
        case MenuItem::kSeparator:
          menu->addSeparator();
          break;
        case MenuItem::kRecentFiles:
          m_pRecentAnchor = menu->addAction(QString::fromUtf8(item.text));
          m_pRecentAnchor->setEnabled(false);
          break;
        case MenuItem::kWindowList:
          m_pWindowListAnchor = menu->addSeparator();
          break;
        case MenuItem::kCommand:
        case MenuItem::kToggle: {
          QAction* action = menu->addAction(QString::fromUtf8(item.text));
          action->setData(item.id);
          action->setStatusTip(CommandPrompt(item.id));
          const int id = item.id;
          if (item.kind == MenuItem::kToggle) {
            action->setCheckable(true);
            action->setChecked(::tessara::IsCommandChecked(CommandRoute(), id));
          }
          // A check mark says what the handler holds, not what the click left.
          connect(action, &QAction::triggered, this, [this, id, action] {
            ExecuteCommand(id);
            if (action->isCheckable()) action->setChecked(::tessara::IsCommandChecked(CommandRoute(), id));
          });
          m_actions[id] = action;
          break;
        }
      }
    }
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
      if (m_pRecentAnchor && m_pRecentAnchor->parent() == menu) RebuildRecentFiles(menu);
      if (m_pWindowListAnchor && m_pWindowListAnchor->parent() == menu) RebuildWindowList(menu);
      UpdateMenu(menu);
    });
  }
}

void CMainFrame::CreateEditMenu() {
  m_pAlignUndo = new QUndoStack(this);
  auto* menu = new QMenu(QStringLiteral("&Edit"), this);
  menu->setObjectName(QStringLiteral("Edit"));
  QAction* undo = menu->addAction(QStringLiteral("&Undo"));
  QAction* redo = menu->addAction(QStringLiteral("&Redo"));
  undo->setObjectName(QStringLiteral("editUndo"));
  redo->setObjectName(QStringLiteral("editRedo"));
  undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
  redo->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
  // Also from the modeless tool dialogs (Fine Adjustment); a modal dialog
  // still blocks them.
  undo->setShortcutContext(Qt::ApplicationShortcut);
  redo->setShortcutContext(Qt::ApplicationShortcut);
  undo->setStatusTip(QString::fromUtf8(undo_text::kUndoPrompt));
  redo->setStatusTip(QString::fromUtf8(undo_text::kRedoPrompt));
  undo->setEnabled(false);
  redo->setEnabled(false);
  connect(m_pAlignUndo, &QUndoStack::canUndoChanged, undo, &QAction::setEnabled);
  connect(m_pAlignUndo, &QUndoStack::canRedoChanged, redo, &QAction::setEnabled);
  connect(m_pAlignUndo, &QUndoStack::undoTextChanged, undo,
          [undo](const QString& text) { undo->setText(text.isEmpty() ? QStringLiteral("&Undo") : "&Undo " + text); });
  connect(m_pAlignUndo, &QUndoStack::redoTextChanged, redo,
          [redo](const QString& text) { redo->setText(text.isEmpty() ? QStringLiteral("&Redo") : "&Redo " + text); });
  connect(undo, &QAction::triggered, m_pAlignUndo, &QUndoStack::undo);
  connect(redo, &QAction::triggered, m_pAlignUndo, &QUndoStack::redo);
  QMenu* align = MenuNamed(QStringLiteral("Align"));
  if (align) menuBar()->insertMenu(align->menuAction(), menu);
  else menuBar()->addMenu(menu);
}

void CMainFrame::RebuildRecentFiles(QMenu* menu) {
  for (QAction* a : m_recentActions) delete a;
  m_recentActions.clear();
  const QStringList& files = g_pApp ? g_pApp->RecentFiles().Files() : QStringList();
  m_pRecentAnchor->setVisible(files.isEmpty());
  for (int i = 0; i < files.size(); ++i) {
    auto* action = new QAction(CRecentFileList::MenuText(i, files[i]), menu);
    const int id = cmd::kFileMru1 + i;
    action->setData(id);
    action->setStatusTip(CommandPrompt(id));
    connect(action, &QAction::triggered, this, [this, id] { ExecuteCommand(id); });
    menu->insertAction(m_pRecentAnchor, action);
    m_recentActions.push_back(action);
  }
}

void CMainFrame::RebuildWindowList(QMenu* menu) {
  for (QAction* a : m_windowActions) delete a;
  m_windowActions.clear();
  const QList<QMdiSubWindow*> windows = m_pMdiArea->subWindowList(QMdiArea::CreationOrder);
  m_pWindowListAnchor->setVisible(!windows.isEmpty());
  int n = 0;
  for (QMdiSubWindow* window : windows) {
    if (!window->isVisible()) continue;
    ++n;
    QString title = window->windowTitle();
    title.replace('&', QStringLiteral("&&"));
    auto* action = new QAction(n < 10 ? QStringLiteral("&%1 %2").arg(n).arg(title) : title, menu);
    action->setCheckable(true);
    action->setChecked(window == m_pMdiArea->currentSubWindow());
    QPointer<QMdiSubWindow> target(window);
    connect(action, &QAction::triggered, this, [this, target] {
      if (target) RaiseChild(target);
    });
    menu->addAction(action);
    m_windowActions.push_back(action);
  }
}

CMdiChild* CMainFrame::ActiveChild() const {
  return dynamic_cast<CMdiChild*>(m_pMdiArea->currentSubWindow());
}

void CMainFrame::AddChild(CMdiChild* child) {
  m_pMdiArea->addSubWindow(child);
  connect(child, &QMdiSubWindow::windowStateChanged, this, &CMainFrame::ChildStateChanged);
  // New windows take three quarters of the area, each a step further down.
  const QSize area = m_pMdiArea->viewport()->size();
  const int step = 26 * static_cast<int>(m_pMdiArea->subWindowList().size() - 1);
  child->resize(qMax(320, area.width() * 3 / 4), qMax(240, area.height() * 3 / 4));
  child->move(step % qMax(1, area.width() / 4), step % qMax(1, area.height() / 4));
  child->show();
}

void CMainFrame::RaiseChild(QMdiSubWindow* child) {
  if (!child) return;
  m_pMdiArea->setActiveSubWindow(child);
  child->raise();
  SyncActiveView();
}

void CMainFrame::RaiseAlignWindow() { RaiseChild(g_pAlignFrame); }
void CMainFrame::RaiseTargetWindow() { RaiseChild(g_pTargetFrame); }

void CMainFrame::RefreshToolDialogs() {
  // Fine Adjustment first: it takes the new alignment as its base.
  for (QDialog* dialog : {g_pFineAdjustDlg, g_pMergeDlg, g_pContrastDlg, g_pMonoDlg, g_pCylinderDlg, g_pGridDlg})
    if (auto* tool = qobject_cast<CToolDialog*>(dialog)) tool->RefreshFromSession();
  EnsureGenerateButton();
}

void CMainFrame::EnsureGenerateButton() {
  if (g_pTargetView) g_pTargetView->EnsureGenerateButton();
}

void CMainFrame::PrepareShownTarget() {
  if (g_pTargetView) g_pTargetView->PrepareShownTarget();
}

void CMainFrame::ResyncAlignView() {
  if (g_pAlignView) g_pAlignView->ResyncShownFrame();
}

QPrinter& CMainFrame::Printer() { return ProgramPrinter(); }

int CMainFrame::PreviewPages() const { return ProgramPreviewPages(); }

void CMainFrame::UpdateSourceCaptions() {
  for (CChildFrame* frame : g_pSourceFrames)
    if (frame) frame->UpdateCaption();
}

namespace {

// First on the route while long work runs: every command waits for it, so the
// menus show them greyed and their keys do nothing.
class CWorkInProgress : public CCmdTarget {
 public:
  bool OnUpdateCommand(int /*id*/, bool& enabled) override {
    enabled = false;
    return true;
  }
};

}  // namespace

std::vector<CCmdTarget*> CMainFrame::CommandRoute() const {
  static CWorkInProgress working;
  if (LongWorkRunning()) return {&working};
  std::vector<CCmdTarget*> route;
  if (CMdiChild* child = ActiveChild()) {
    route.push_back(child->ViewTarget());
    route.push_back(child->DocumentTarget());
    route.push_back(child);
  }
  route.push_back(const_cast<CMainFrame*>(this));
  route.push_back(g_pApp);
  return route;
}

bool CMainFrame::IsCommandEnabled(int id) const {
  bool enabled = false;
  FindHandler(CommandRoute(), id, enabled);
  return enabled;
}

bool CMainFrame::ExecuteCommand(int id) { return RunCommand(CommandRoute(), id); }

bool CMainFrame::TranslateAccelerator(const QKeyEvent& event) {
  const int id = MatchAccelerator(event.key(), event.modifiers(), event.text());
  if (id == 0) return false;
  ExecuteCommand(id);
  return true;
}

void CMainFrame::UpdateMenu(QMenu* menu) {
  for (QAction* action : menu->actions()) {
    bool ok = false;
    const int id = action->data().toInt(&ok);
    if (!ok || id <= 0) continue;
    action->setEnabled(IsCommandEnabled(id));
    if (action->isCheckable()) action->setChecked(::tessara::IsCommandChecked(CommandRoute(), id));
  }
}

QAction* CMainFrame::Action(int id) const {
  auto it = m_actions.find(id);
  return it == m_actions.end() ? nullptr : it->second;
}

QMenu* CMainFrame::MenuNamed(const QString& title) const {
  for (QAction* a : menuBar()->actions())
    if (a->menu() && a->menu()->objectName() == title) return a->menu();
  return nullptr;
}

void CMainFrame::OnIdle() {
  // While long work has the documents, the status line is the work's.
  if (!m_pStatusLine || !DocumentsAtRest()) return;
  // The modal Rotate dialog waits for input: it shows its source lines then.
  // Not while a message box of its own is up, whose loop this is.
  if (g_pRotateDlg && QApplication::activeModalWidget() == g_pRotateDlg)
    if (auto* rotate = qobject_cast<CRotateDlg*>(g_pRotateDlg)) rotate->OnKickIdle();
  SyncActiveView();
  SessionStatus s;
  s.haveTarget = g_pDestDoc && g_pTargetView;
  if (!s.haveTarget) return;
  const CDestdoc& doc = *g_pDestDoc;
  s.sourcesLoaded = g_nSourcesLoaded;
  s.source1Active = g_bSource1Active;
  s.source2Active = g_bSource2Active;
  s.alignActive = g_bAlignActive;
  if (g_pAlignDoc) {
    s.alignPreview = g_pAlignDoc->m_bAlignValid == 1 && g_pAlignDoc->m_pPreview;
    s.predictedWidth = g_pAlignDoc->m_nPredictedWidth;
    s.predictedHeight = g_pAlignDoc->m_nPredictedHeight;
  }
  s.upToDate = doc.m_bUpToDate;
  s.targetImage = doc.m_pTarget != nullptr;
  s.zoneOnly = doc.m_bZoneOnly;
  s.dragCorner = g_pTargetView->m_ptDragCorner;
  s.zoneAnchor = g_pTargetView->m_ptZoneAnchor;
  s.viewScaleX = doc.m_nViewScaleX;
  s.viewScaleY = doc.m_nViewScaleY;
  s.targetWidth = doc.m_nTargetWidth;
  s.targetHeight = doc.m_nTargetHeight;
  if (std::optional<std::string> text = SessionStatusText(s))
    m_pStatusLine->Pane(kPaneZoneSize)->SetOwnText(QString::fromStdString(*text));
}

QString FrameTitle(const QString& childTitle, bool maximized) {
  const QString app = QString::fromUtf8(kAppTitle);
  if (childTitle.isEmpty()) return app;
  return maximized ? app + QStringLiteral(" - [") + childTitle + QLatin1Char(']')
                   : app + QStringLiteral(" - ") + childTitle;
}

void CMainFrame::UpdateFrameTitle() {
  QMdiSubWindow* active = m_pMdiArea ? m_pMdiArea->currentSubWindow() : nullptr;
  const QString title = active ? FrameTitle(active->windowTitle(), active->isMaximized()) : FrameTitle({}, false);
  // A maximized sub-window rewrites this frame's title whenever it changes,
  // adding " - [its title]" unless the title already ends so; the form above is
  // one it leaves alone. Setting the same text again sends no change at all.
  if (windowTitle() != title) setWindowTitle(title);
}

void CMainFrame::ChildStateChanged() {
  // The sub-window puts back the frame's title of its own when it leaves the
  // maximized state; the title is worked out once that is done.
  QMetaObject::invokeMethod(this, &CMainFrame::UpdateFrameTitle, Qt::QueuedConnection);
}

void CMainFrame::OnSubWindowActivated(QMdiSubWindow*) {
  SyncActiveView();
  UpdateFrameTitle();
}

void CMainFrame::SyncActiveView() {
  // The current child window, whether or not the program has the keyboard
  // focus (the active view does not change when another program is used).
  // Only a change of that window matters: this runs in every idle pass, and
  // redoing the frame's title there would answer the title's own changes.
  QMdiSubWindow* window = m_pMdiArea->currentSubWindow();
  if (window && window != m_pActiveChild) {
    if (auto* old = dynamic_cast<CMdiChild*>(m_pActiveChild.data())) old->ActivateView(false);
    m_pActiveChild = window;
    if (auto* now = dynamic_cast<CMdiChild*>(window)) now->ActivateView(true);
    UpdateFrameTitle();
  }
}

void CMainFrame::ChildGoing(QMdiSubWindow* child) {
  if (child != m_pActiveChild) return;
  if (auto* old = dynamic_cast<CMdiChild*>(child)) old->ActivateView(false);
  m_pActiveChild = nullptr;
  ChildStateChanged();
}

bool CMainFrame::IsCommandChecked(int id) {
  // The snap in force shows in the menu from any window, greyed where the
  // commands do not work.
  const int snap = SnapOfCommand(id);
  return snap != 0 && g_pTargetView && g_pTargetView->m_nSnap == snap;
}

bool CMainFrame::OnUpdateCommand(int id, bool& enabled) {
  if (SnapOfCommand(id) != 0) {
    // Reached only when the Target Window is not the active one.
    enabled = false;
    return true;
  }
  switch (id) {
    case cmd::kWindowCascade:
    case cmd::kWindowTile:
    case cmd::kHelpFinder:
    case cmd::kHelp:
    case cmd::kAppExit:
      enabled = true;
      return true;
    default:
      return false;
  }
}

void CMainFrame::OnCommand(int id) {
  switch (id) {
    case cmd::kWindowCascade: CascadeChildren(); break;
    case cmd::kWindowTile: m_pMdiArea->tileSubWindows(); break;
    case cmd::kHelpFinder: OpenHelp(QString()); break;
    case cmd::kHelp: {
      CMdiChild* child = ActiveChild();
      OpenHelp(child ? child->HelpAnchor() : QString());
      break;
    }
    case cmd::kAppExit: close(); break;
    default: break;
  }
}

bool CMainFrame::event(QEvent* event) {
  if (event->type() == QEvent::StatusTip) {
    // Menu prompts go to pane 0; when no item is highlighted the idle text
    // comes back.
    const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
    if (m_pStatusLine) m_pStatusLine->Pane(kPaneMessage)->SetOwnText(tip.isEmpty() ? status_text::kIdle : tip);
    // Over a Source Window, what happened to its picture is worth more than
    // the idle text.
    if (tip.isEmpty())
      if (auto* source = dynamic_cast<CChildFrame*>(ActiveChild()); source && source->View())
        source->View()->ShowLoadNote();
    return true;
  }
  return QMainWindow::event(event);
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
  // Not during long work, which still uses the sources.
  if (!DroppedFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CMainFrame::dragMoveEvent(QDragMoveEvent* event) {
  if (!DroppedFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
  const QStringList files = DroppedFiles(event->mimeData());
  if (files.isEmpty()) return;
  event->acceptProposedAction();
  // Loaded once the drop is over: the program that dragged the files waits
  // for the answer, and a load may ask questions of its own.
  QTimer::singleShot(0, this, [files] {
    if (g_pApp && !LongWorkRunning()) g_pApp->OpenSourceFiles(files);
  });
}

QList<QRect> CascadeRects(QSize area, int count, int step) {
  QList<QRect> rects;
  if (count <= 0) return rects;
  const int aw = qMax(1, area.width()), ah = qMax(1, area.height());
  const int minW = qMin(aw, qMax(320, aw * 2 / 3)), minH = qMin(ah, qMax(240, ah * 2 / 3));
  const int w = qMax(minW, aw - step * (count - 1)), h = qMax(minH, ah - step * (count - 1));
  for (int i = 0; i < count; ++i) {
    // Steps that would push a window out of the area start again at the top.
    const int room = qMax(1, qMin(aw - w, ah - h) / qMax(1, step) + 1);
    const int k = i % room;
    rects << QRect(k * step, k * step, w, h);
  }
  return rects;
}

void CMainFrame::CascadeChildren() {
  QMdiSubWindow* active = m_pMdiArea->activeSubWindow() ? m_pMdiArea->activeSubWindow() : m_pMdiArea->currentSubWindow();
  QList<QMdiSubWindow*> windows;
  for (QMdiSubWindow* w : m_pMdiArea->subWindowList(QMdiArea::StackingOrder))
    if (w->isVisible() || w->isMinimized()) windows << w;
  // The active window goes last, on top.
  if (windows.removeOne(active)) windows << active;
  if (windows.isEmpty()) return;
  const int step = qMax(20, style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, windows.first()) + 4);
  const QList<QRect> rects = CascadeRects(m_pMdiArea->viewport()->size(), int(windows.size()), step);
  for (int i = 0; i < windows.size(); ++i) {
    QMdiSubWindow* w = windows[i];
    if (w->isMinimized() || w->isMaximized() || w->isShaded()) w->showNormal();
    w->setGeometry(rects[i]);
    w->raise();
  }
  if (active) m_pMdiArea->setActiveSubWindow(active);
  SyncActiveView();
}

void CMainFrame::CloseSourceWindows() {
  for (int slot = 1; slot >= 0; --slot) {
    if (CChildFrame* frame = g_pSourceFrames[slot]) delete frame;
  }
}

bool CMainFrame::AskToSaveTarget() {
  // A Target built and never saved is work that closing would lose.
  if (!g_pDestDoc || !g_pDestDoc->m_pTarget || g_pDestDoc->m_bTargetSaved) return true;
  const int answer = ShowMessageBox(QString::fromUtf8(main_frame_text::kSaveBeforeClosing),
                                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Question);
  if (answer == QMessageBox::No) return true;
  if (answer != QMessageBox::Yes) return false;
  SaveTargetAs(*g_pDestDoc);
  // A save cancelled or failed keeps the program open with the Target.
  return g_pDestDoc && g_pDestDoc->m_bTargetSaved;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  // Work in progress still uses the documents that closing would destroy.
  if (LongWorkRunning()) {
    event->ignore();
    return;
  }
  if (!m_bClosing && !AskToSaveTarget()) {
    event->ignore();
    return;
  }
  m_bClosing = 1;
  CloseSourceWindows();
  m_pMdiArea->closeAllSubWindows();
  event->accept();
}

}  // namespace tessara
