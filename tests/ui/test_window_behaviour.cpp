// The program as a user meets it on the desktop, driven in-process on the
// offscreen platform: arranging the windows, the stop keys, the question at
// exit, deleting a source as an undoable step, the status texts, zoom and the
// arrow keys in the Align Window.
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QUndoStack>
#include <QWheelEvent>

#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "engine/tessara_doc.h"
#include "framework/registry.h"
#include "ui/common/align_undo.h"
#include "ui/common/qt_user_interface.h"
#include "ui/common/status_line.h"
#include "ui/common/ui_registry.h"
#include "ui/shell/child_frames.h"
#include "ui/shell/main_frame.h"
#include "ui/shell/tessara_app.h"
#include "ui/views/align_view.h"
#include "ui/views/destview.h"
#include "ui/views/tessara_view.h"
#include "ui/dialogs/dialog_controls.h"
#include "ui/dialogs/fine_adjust_dlg.h"
#include "ui_test_support.h"

using namespace tessara;
using tessara::test::CProgramUnderTest;
using tessara::test::TestData;

namespace {

[[maybe_unused]] QString PaneText(int pane) { return g_pMainFrame->StatusLine().Pane(pane)->ShownText(); }

[[maybe_unused]] void Mouse(QWidget* w, QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons buttons,
           Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QMouseEvent e(type, p, w->mapToGlobal(p), button, buttons, mods);
  QApplication::sendEvent(w, &e);
}

}  // namespace

class TestWindowBehaviour : public QObject {
  Q_OBJECT
  std::unique_ptr<CProgramUnderTest> m_p;
  QTemporaryDir m_dir;

  void OpenPair() {
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_left.png"), 3));
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_right.png"), 3));
  }

 private slots:
  void init() {
    m_p = std::make_unique<CProgramUnderTest>();
    QVERIFY(m_p->Start());
  }

  void cleanup() {
    if (CQtUserInterface::Instance()) CQtUserInterface::Instance()->SetKeyboardQueryForTest(nullptr);
    m_p.reset();
  }

  void cascadeLeavesEveryWindowAUsableSize() {
    OpenPair();
    g_pMainFrame->resize(1000, 800);
    m_p->Idle();
    QVERIFY(m_p->Command(cmd::kWindowCascade));
    m_p->Idle();
    const QSize area = g_pMainFrame->MdiArea()->viewport()->size();
    const QList<QMdiSubWindow*> windows = g_pMainFrame->MdiArea()->subWindowList(QMdiArea::StackingOrder);
    QCOMPARE(windows.size(), 4);
    for (QMdiSubWindow* w : windows) {
      QVERIFY2(w->width() >= area.width() * 2 / 3 && w->height() >= area.height() * 2 / 3,
               qPrintable(w->windowTitle() + QString(" %1 x %2").arg(w->width()).arg(w->height())));
      QVERIFY(!w->isShaded() && !w->isMinimized());
    }
    // The active window stays active, on top; each lies further down.
    QCOMPARE(windows.last(), static_cast<QMdiSubWindow*>(g_pAlignFrame));
    for (int i = 1; i < windows.size(); ++i) QVERIFY(windows[i]->y() > windows[i - 1]->y());
    QVERIFY(g_pAlignView->height() > 200);
    QCOMPARE(g_pAlignDoc->m_bAlignValid, 1);
    QVERIFY(m_p->m_boxes.isEmpty());
  }

  void cascadeGeometry() {
    const QList<QRect> r = CascadeRects(QSize(900, 600), 4, 30);
    QCOMPARE(r.size(), 4);
    QCOMPARE(r[0], QRect(0, 0, 810, 510));
    QCOMPARE(r[3], QRect(90, 90, 810, 510));
    // Many windows in a small area: two thirds each, stepping round again.
    const QList<QRect> many = CascadeRects(QSize(600, 480), 12, 30);
    for (const QRect& q : many) {
      QCOMPARE(q.size(), QSize(400, 320));
      QVERIFY(QRect(0, 0, 600, 480).contains(q));
    }
    QCOMPARE(CascadeRects(QSize(200, 100), 2, 30)[1].size(), QSize(200, 100));
  }

  void statusTextsFollowWhatIsGoingOn() {
    // The load button names the source it loads.
    QCOMPARE(g_pAlignView->LoadButton()->Words(), QString("Load source 1"));
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_left.png"), 3));
    QCOMPARE(g_pAlignView->LoadButton()->Words(), QString("Load source 2"));
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_right.png"), 3));

    // Hovering over source 1, then dragging source 2: the pane says source two.
    g_pAlignView->SyncFrame(2);
    const QPoint inside = QRect(g_pAlignView->m_nFrameX, g_pAlignView->m_nFrameY, g_pAlignView->m_nFrameWidth,
                                g_pAlignView->m_nFrameHeight).center();
    Mouse(g_pAlignView, QEvent::MouseMove, inside, Qt::NoButton, Qt::NoButton);
    QCOMPARE(PaneText(2), QString("source one: move"));
    Mouse(g_pAlignView, QEvent::MouseButtonPress, inside, Qt::RightButton, Qt::RightButton);
    QCOMPARE(PaneText(2), QString("source two: move"));
    Mouse(g_pAlignView, QEvent::MouseMove, inside + QPoint(10, 0), Qt::NoButton, Qt::RightButton);
    Mouse(g_pAlignView, QEvent::MouseButtonRelease, inside + QPoint(10, 0), Qt::RightButton, Qt::NoButton);
    QVERIFY(g_pDestDoc->m_nOffsetX > 0);

    // A note about a found alignment goes once the alignment changes by hand.
    ShowAlignmentNote(QStringLiteral("Aligned: offset 700,0  angle 0.0"));
    QCOMPARE(PaneText(0), QString("Aligned: offset 700,0  angle 0.0"));
    Mouse(g_pAlignView, QEvent::MouseButtonPress, inside, Qt::RightButton, Qt::RightButton);
    Mouse(g_pAlignView, QEvent::MouseMove, inside + QPoint(-20, 0), Qt::NoButton, Qt::RightButton);
    Mouse(g_pAlignView, QEvent::MouseButtonRelease, inside + QPoint(-20, 0), Qt::RightButton, Qt::NoButton);
    QVERIFY(!PaneText(0).startsWith("Aligned"));

    // A stopped build leaves no stage named in the process pane.
    g_pMainFrame->RaiseTargetWindow();
    CQtUserInterface::Instance()->SetSpaceBarDown(true);
    m_p->m_answers = {QMessageBox::Yes};
    QTest::mouseClick(g_pTargetView->GenerateButton(), Qt::LeftButton);
    CQtUserInterface::Instance()->SetSpaceBarDown(false);
    QVERIFY(!g_pDestDoc->m_pTarget);
    QCOMPARE(PaneText(2), QString());

    // The snap in force has its check mark, in the Target Window and out of it.
    QVERIFY(m_p->Command(cmd::kSnap10));
    QMenu* menu = g_pMainFrame->MenuNamed("Target");
    g_pMainFrame->UpdateMenu(menu);
    QVERIFY(g_pMainFrame->Action(cmd::kSnap10)->isChecked());
    QVERIFY(!g_pMainFrame->Action(cmd::kSnap1)->isChecked());
    g_pMainFrame->RaiseAlignWindow();
    g_pMainFrame->UpdateMenu(menu);
    QVERIFY(g_pMainFrame->Action(cmd::kSnap10)->isChecked());
    QVERIFY(!g_pMainFrame->Action(cmd::kSnap10)->isEnabled());
  }

  void fineAdjustmentCountersFollowUndo() {
    OpenPair();
    g_pMainFrame->RaiseTargetWindow();
    QVERIFY(m_p->Command(cmd::kFineAlignment));
    auto* fine = qobject_cast<CFineAdjustDlg*>(g_pFineAdjustDlg);
    QVERIFY(fine);
    CSpinButton* x = fine->Spin(CFineAdjustDlg::kOffsetX);
    for (int i = 0; i < 3; ++i) x->StepUp();
    fine->Spin(CFineAdjustDlg::kRotation1)->StepUp();
    QCOMPARE(g_pDestDoc->m_nOffsetX, 3);
    AlignUndoStack()->undo();  // the rotation click
    AlignUndoStack()->undo();  // the third distance click
    QCOMPARE(g_pDestDoc->m_nOffsetX, 2);
    QCOMPARE(x->Pos(), 2);
    QCOMPARE(fine->Spin(CFineAdjustDlg::kRotation1)->Pos(), 0);
    AlignUndoStack()->redo();
    QCOMPARE(x->Pos(), 3);
    // Counting on from there keeps to the same base.
    x->StepUp();
    QCOMPARE(g_pDestDoc->m_nOffsetX, 4);
  }

  void exitAsksBeforeAnUnsavedTargetIsLost() {
    OpenPair();
    g_pMainFrame->RaiseTargetWindow();
    QTest::mouseClick(g_pTargetView->GenerateButton(), Qt::LeftButton);
    QVERIFY(g_pDestDoc->m_pTarget);
    // Cancel: nothing closes.
    m_p->m_answers = {QMessageBox::Cancel};
    QVERIFY(!g_pMainFrame->close());
    QCOMPARE(m_p->MessageTexts(), QStringList{"Save the Target before closing?"});
    QCOMPARE(m_p->m_boxes[0].buttons, int(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel));
    QVERIFY(g_pMainFrame->isVisible());
    // Yes, then the save dialog cancelled: still open.
    m_p->m_answers = {QMessageBox::Yes};
    QVERIFY(!g_pMainFrame->close());
    QVERIFY(g_pMainFrame->isVisible() && g_pDestDoc->m_pTarget);
    // Yes, and saved: it closes, and the file is there.
    const QString path = m_dir.filePath("kept.bmp");
    m_p->m_answers = {QMessageBox::Yes};
    m_p->m_fileDialog = [path](CMyfiledialog& d) { return tessara::test::AnswerFileDialog(d, path, 1); };
    QVERIFY(g_pMainFrame->close());
    QVERIFY(QFile::exists(path));
  }

  void exitAfterSavingAsksNothing() {
    OpenPair();
    g_pMainFrame->RaiseTargetWindow();
    QTest::mouseClick(g_pTargetView->GenerateButton(), Qt::LeftButton);
    const QString path = m_dir.filePath("saved.png");
    m_p->m_fileDialog = [path](CMyfiledialog& d) { return tessara::test::AnswerFileDialog(d, path, 3); };
    QVERIFY(m_p->Command(cmd::kFileSaveAs));
    QVERIFY(QFile::exists(path));
    m_p->m_boxes.clear();
    QVERIFY(g_pMainFrame->close());
    QVERIFY(m_p->m_boxes.isEmpty());
  }

  void deletingASourceIsUndoable() {
    OpenPair();
    // An alignment of the pair, by a drag of source 2.
    g_pAlignView->SyncFrame(2);
    const QPoint inside = QRect(g_pAlignView->m_nFrameX, g_pAlignView->m_nFrameY, g_pAlignView->m_nFrameWidth,
                                g_pAlignView->m_nFrameHeight).center();
    Mouse(g_pAlignView, QEvent::MouseButtonPress, inside, Qt::RightButton, Qt::RightButton);
    Mouse(g_pAlignView, QEvent::MouseMove, inside + QPoint(30, -10), Qt::NoButton, Qt::RightButton);
    Mouse(g_pAlignView, QEvent::MouseButtonRelease, inside + QPoint(30, -10), Qt::RightButton, Qt::NoButton);
    const int offsetX = g_pDestDoc->m_nOffsetX, offsetY = g_pDestDoc->m_nOffsetY;
    QVERIFY(offsetX > 0 && offsetY > 0);

    QVERIFY(m_p->Command(cmd::kDeleteSource1));
    QCOMPARE(g_nSourcesLoaded, 1);
    QCOMPARE(QString::fromStdString(g_pSourceDocs[0]->GetTitle()), QString("coffee_right.png"));
    QCOMPARE(g_pDestDoc->m_nOffsetX, 0);
    QVERIFY(AlignUndoStack()->canUndo());
    QCOMPARE(AlignUndoStack()->undoText(), QString("Delete source 1"));

    AlignUndoStack()->undo();
    m_p->Idle();
    QCOMPARE(g_nSourcesLoaded, 2);
    QCOMPARE(QString::fromStdString(g_pSourceDocs[0]->GetTitle()), QString("coffee_left.png"));
    QCOMPARE(QString::fromStdString(g_pSourceDocs[1]->GetTitle()), QString("coffee_right.png"));
    QCOMPARE(g_pSourceViews[0]->m_nSource, 1);
    QCOMPARE(g_pSourceViews[1]->m_nSource, 2);
    QCOMPARE(g_pSourceFrames[1]->windowTitle(), QString("Source 2: coffee_right.png"));
    QCOMPARE(g_pDestDoc->m_nOffsetX, offsetX);
    QCOMPARE(g_pDestDoc->m_nOffsetY, offsetY);
    QCOMPARE(g_pAlignDoc->m_bAlignValid, 1);
    QVERIFY(!g_pAlignView->LoadButton());
    // The steps before the deletion are there again.
    AlignUndoStack()->undo();
    QCOMPARE(g_pDestDoc->m_nOffsetX, 0);
    AlignUndoStack()->redo();
    AlignUndoStack()->redo();
    QCOMPARE(g_nSourcesLoaded, 1);
    QCOMPARE(QString::fromStdString(g_pSourceDocs[0]->GetTitle()), QString("coffee_right.png"));
    AlignUndoStack()->undo();
    QCOMPARE(g_nSourcesLoaded, 2);

    // Closing a Source Window with its close box is a step too.
    g_pSourceFrames[1]->close();
    m_p->Idle();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(g_nSourcesLoaded, 1);
    QCOMPARE(AlignUndoStack()->undoText(), QString("Delete source 2"));
    AlignUndoStack()->undo();
    QCOMPARE(g_nSourcesLoaded, 2);
    QCOMPARE(QString::fromStdString(g_pSourceDocs[1]->GetTitle()), QString("coffee_right.png"));
    QCOMPARE(g_pDestDoc->m_nOffsetX, offsetX);
    // Loading another source starts a new history.
    QVERIFY(m_p->Command(cmd::kDeleteSource2));
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_right.png"), 3));
    QVERIFY(!AlignUndoStack()->canUndo());
  }

  void stopKeyWhoseReleaseWentAstrayAsksNothing() {
    // Escape went down (closing a menu, say) and its release never reached
    // the program: the keyboard says it is up, so long work is not stopped.
    std::optional<bool> down = false;
    CQtUserInterface::Instance()->SetKeyboardQueryForTest([&](int) { return down; });
    QApplication::postEvent(g_pMainFrame, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    QCOMPARE(g_pDestDoc->CheckAbort(), 0);
    QVERIFY(m_p->m_boxes.isEmpty());
    QVERIFY(!CQtUserInterface::Instance()->IsSpaceBarDown());
    // A key the keyboard really holds still asks.
    down = true;
    QApplication::postEvent(g_pMainFrame, new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " "));
    QCOMPARE(g_pDestDoc->CheckAbort(), 0);
    QCOMPARE(m_p->MessageTexts(), QStringList{"Do you really want to quit ?"});
  }
};

QTEST_MAIN(TestWindowBehaviour)
#include "test_window_behaviour.moc"
