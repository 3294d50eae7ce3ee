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
#include "ui/views/view_zoom.h"
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

  void OpenPair() { QVERIFY(m_p->OpenCoffeePair()); }

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

  // Target > Use Target as Source 1: the Target becomes source 1 (its
  // background recorded), source 2 closes and the next picture loads as
  // source 2; Undo gives the pair back aligned as it was, Redo the join.
  void targetBecomesSourceOne() {
    OpenPair();
    g_pDestDoc->m_nOffsetX = 220;
    // Without a Target there is nothing to take.
    QVERIFY(!m_p->Command(cmd::kUseTargetAsSource1));
    QCOMPARE(g_nSourcesLoaded, 2);
    QTest::mouseClick(g_pTargetView->GenerateButton(), Qt::LeftButton);
    m_p->Idle();
    QVERIFY(g_pDestDoc->m_pTarget);
    const int width = g_pDestDoc->m_pTarget->Width(), height = g_pDestDoc->m_pTarget->Height();
    QVERIFY(m_p->Command(cmd::kUseTargetAsSource1));
    m_p->Idle();
    QCOMPARE(g_nSourcesLoaded, 1);
    QCOMPARE(g_pSourceDocs[0]->m_pDib->Width(), width);
    QCOMPARE(g_pSourceDocs[0]->m_pDib->Height(), height);
    QCOMPARE(g_pSourceDocs[0]->m_coverage.RowCount(), static_cast<size_t>(height));
    QVERIFY(QString::fromStdString(g_pSourceDocs[0]->GetTitle()).startsWith("Target"));
    QVERIFY(g_pAlignView->LoadButton());
    QCOMPARE(AlignUndoStack()->undoText(), QString("Use Target as Source 1"));

    AlignUndoStack()->undo();
    m_p->Idle();
    QCOMPARE(g_nSourcesLoaded, 2);
    QCOMPARE(QString::fromStdString(g_pSourceDocs[0]->GetTitle()), QString("coffee_left.png"));
    QCOMPARE(QString::fromStdString(g_pSourceDocs[1]->GetTitle()), QString("coffee_right.png"));
    QCOMPARE(g_pDestDoc->m_nOffsetX, 220);
    AlignUndoStack()->redo();
    m_p->Idle();
    QCOMPARE(g_nSourcesLoaded, 1);
    QCOMPARE(g_pSourceDocs[0]->m_pDib->Width(), width);

    // The next picture joins the Target so far.
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_right.png"), 3));
    QCOMPARE(g_nSourcesLoaded, 2);
    g_pDestDoc->m_nOffsetX = 400;
    QTest::mouseClick(g_pTargetView->GenerateButton(), Qt::LeftButton);
    m_p->Idle();
    QVERIFY(g_pDestDoc->m_pTarget);
    QCOMPARE(g_pDestDoc->m_pTarget->Width(), 400 + 380);
  }

  void zoomArithmetic() {
    const ZoomRatio half{1, 2}, third{1, 3}, twice{2, 1};
    // A shown pixel maps to the picture pixel under it, left of 0 too.
    QCOMPARE(ViewToPicture(5, half), 10);
    QCOMPARE(ViewToPicture(7, twice), 3);
    QCOMPARE(ViewToPicture(-1, twice), -1);
    QCOMPARE(ViewToPicture(3, third), 9);
    QCOMPARE(PictureToView(9, third), 3);
    QCOMPARE(PictureToView(3, twice), 6);
    QCOMPARE(PictureToView(10, third), 4);
    for (int p = 0; p < 50; ++p) QCOMPARE(ViewToPicture(PictureToView(p, twice), twice), p);
    QCOMPARE(ShownLength(9000, ZoomRatio{1, 12}), 750);
    // A 9000 x 4150 Target fits an 800 x 600 window whole.
    const ZoomRatio fit = FitRatio(9000, 4150, 800, 600);
    QVERIFY(ShownLength(9000, fit) <= 800 && ShownLength(4150, fit) <= 600);
    QVERIFY(ShownLength(9000, fit) >= 790);
    QCOMPARE(FitRatio(300, 200, 800, 600), ZoomRatio{});
    QCOMPARE(ZoomIn(ZoomRatio{}), (ZoomRatio{3, 2}));
    QCOMPARE(ZoomOut(ZoomRatio{}), (ZoomRatio{2, 3}));
    QCOMPARE(ZoomIn(fit), (ZoomRatio{1, 8}));
    QCOMPARE(ZoomOut(ZoomRatio{1, 16}), (ZoomRatio{1, 16}));
    QCOMPARE(ScrollToKeep(100, 40, twice), 160);
    // The Align Window: finer reductions down to 1, back out to the fit.
    QCOMPARE(AlignZoomIn(6), 4);
    QCOMPARE(AlignZoomIn(2), 1);
    QCOMPARE(AlignZoomIn(1), 1);
    QCOMPARE(AlignZoomOut(4, 12), 6);
    QCOMPARE(AlignZoomOut(8, 12), 0);
    // The canvas column under the mouse (x = 300) stays there: (300 - 100) x 6
    // = column 1200, which at reduction 2 lies 600 right of the new edge.
    QCOMPARE(AlignEdgeToKeep(100, 300, 6, 2), -300);
  }

  void targetZoomKeepsZoneInPicturePixels() {
    OpenPair();
    g_pMainFrame->RaiseTargetWindow();
    QTest::mouseClick(g_pTargetView->GenerateButton(), Qt::LeftButton);
    QVERIFY(g_pDestDoc->m_pTarget);
    const int W = g_pDestDoc->m_nTargetWidth, H = g_pDestDoc->m_nTargetHeight;
    QVERIFY(m_p->Command(cmd::kZoomOut));
    QCOMPARE(g_pTargetView->Zoom(), (ZoomRatio{2, 3}));
    QVERIFY(m_p->Command(cmd::kZoomOut));
    QCOMPARE(g_pTargetView->Zoom(), (ZoomRatio{1, 2}));
    QCOMPARE(g_pTargetView->TotalSize(), QSize((W + 1) / 2, (H + 1) / 2));
    QCOMPARE(PaneText(0), QString("Zoom 50 %"));
    // A Zone dragged on the half-size picture: its corners in picture pixels.
    QWidget* vp = g_pTargetView->viewport();
    Mouse(vp, QEvent::MouseButtonPress, QPoint(20, 20), Qt::LeftButton, Qt::LeftButton);
    Mouse(vp, QEvent::MouseMove, QPoint(150, 130), Qt::NoButton, Qt::LeftButton);
    m_p->Idle();
    QCOMPARE(PaneText(1), QString("Zone width = 260  Zone height = 220"));
    Mouse(vp, QEvent::MouseButtonRelease, QPoint(150, 130), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(g_pTargetView->m_ptZoneAnchor.x, 40);
    QCOMPARE(g_pTargetView->m_ptZoneCorner.x, 300);
    QCOMPARE(g_pTargetView->m_ptZoneCorner.y, 260);
    QCOMPARE(g_pDestDoc->m_bZoneOnly, 1);
    // Hovering names the picture pixel, y from the bottom.
    Mouse(vp, QEvent::MouseMove, QPoint(50, 10), Qt::NoButton, Qt::NoButton);
    QCOMPARE(PaneText(2), QString("x = 100 y = %1").arg(H - 20));
    // Ctrl and the wheel zoom in about the pixel under the pointer.
    g_pTargetView->SetZoom(ZoomRatio{2, 1});
    const QPoint at(100, 80);
    const ZonePoint before = g_pTargetView->PicturePoint(at);
    QWheelEvent wheel(at, vp->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::ControlModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(vp, &wheel);
    QCOMPARE(g_pTargetView->Zoom(), (ZoomRatio{3, 1}));
    const ZonePoint after = g_pTargetView->PicturePoint(at);
    QVERIFY(std::abs(after.x - before.x) <= 1 && std::abs(after.y - before.y) <= 1);
    // Fit in window: the whole Target in sight; Actual size: 1:1 again.
    QVERIFY(m_p->Command(cmd::kZoomFit));
    QVERIFY(g_pTargetView->TotalSize().width() <= g_pTargetView->width());
    QVERIFY(g_pTargetView->TotalSize().height() <= g_pTargetView->height());
    QVERIFY(m_p->Command(cmd::kZoomActual));
    QCOMPARE(g_pTargetView->TotalSize(), QSize(W, H));
  }

  void alignZoomAndArrowKeysMoveByExactPixels() {
    OpenPair();
    QVERIFY(g_pAlignDoc->m_nReduction >= 1);
    QVERIFY(m_p->Command(cmd::kZoomActual) || g_pAlignDoc->m_nReduction == 1);
    QCOMPARE(g_pAlignDoc->m_nReduction, 1);
    // At the actual size a drag of 7 view pixels moves source 2 by 7 pixels.
    g_pAlignView->SyncFrame(2);
    const QPoint inside = QRect(g_pAlignView->m_nFrameX, g_pAlignView->m_nFrameY, g_pAlignView->m_nFrameWidth,
                                g_pAlignView->m_nFrameHeight).center();
    Mouse(g_pAlignView, QEvent::MouseButtonPress, inside, Qt::RightButton, Qt::RightButton);
    Mouse(g_pAlignView, QEvent::MouseMove, inside + QPoint(7, 0), Qt::NoButton, Qt::RightButton);
    Mouse(g_pAlignView, QEvent::MouseButtonRelease, inside + QPoint(7, 0), Qt::RightButton, Qt::NoButton);
    QCOMPARE(g_pDestDoc->m_nOffsetX, 7);
    // The arrow keys: one pixel, ten with Shift, each its own step.
    g_pAlignView->setFocus();
    QTest::keyClick(g_pAlignView, Qt::Key_Right);
    QTest::keyClick(g_pAlignView, Qt::Key_Up, Qt::ShiftModifier);
    QTest::keyClick(g_pAlignView, Qt::Key_Left, Qt::ShiftModifier);
    QCOMPARE(g_pDestDoc->m_nOffsetX, -2);
    QCOMPARE(g_pDestDoc->m_nOffsetY, 10);
    QCOMPARE(g_pDestDoc->m_bUpToDate, 0);
    QCOMPARE(AlignUndoStack()->undoText(), QString("Move source 2"));
    AlignUndoStack()->undo();
    QCOMPARE(g_pDestDoc->m_nOffsetX, 8);
    AlignUndoStack()->undo();
    QCOMPARE(g_pDestDoc->m_nOffsetY, 0);
    AlignUndoStack()->undo();
    QCOMPARE(g_pDestDoc->m_nOffsetX, 7);
    // Fit in window goes back to the layout that fits.
    QVERIFY(m_p->Command(cmd::kZoomFit) || g_pAlignDoc->m_nZoomReduction == 0);
    QCOMPARE(g_pAlignDoc->m_nZoomReduction, 0);
  }

  void stopKeyWhoseReleaseWentAstrayAsksNothing() {
    // Escape went down (closing a menu, say) and its release never reached
    // the program: the keyboard says it is up, so long work is not stopped.
    std::optional<bool> down = false;
    CQtUserInterface::Instance()->SetKeyboardQueryForTest([&](int) { return down; });
    QApplication::postEvent(g_pMainFrame, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    QCOMPARE(test::CheckAbortAsLongWork(), 0);
    QVERIFY(m_p->m_boxes.isEmpty());
    QVERIFY(!CQtUserInterface::Instance()->IsSpaceBarDown());
    // A key the keyboard really holds still asks.
    down = true;
    QApplication::postEvent(g_pMainFrame, new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " "));
    QCOMPARE(test::CheckAbortAsLongWork(), 0);
    QCOMPARE(m_p->MessageTexts(), QStringList{"Do you really want to quit ?"});
  }
};

QTEST_MAIN(TestWindowBehaviour)
#include "test_window_behaviour.moc"
