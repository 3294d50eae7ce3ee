// The Align Window of the real program, driven in-process on the offscreen
// platform: its drawing in each state (checked on a rendered image of the
// view), aligning with both mouse buttons, the finished box, the Align menu's
// enabling and commands, and the Rotate Source Image dialog.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "framework/registry.h"
#include "ui/common/modal.h"
#include "ui/common/long_work.h"
#include "ui/common/qt_user_interface.h"
#include "ui/common/status_line.h"
#include "ui/common/ui_registry.h"
#include "ui/dialogs/dialog_controls.h"
#include "ui/dialogs/rotate_dlg.h"
#include "ui/shell/child_frames.h"
#include "ui/shell/main_frame.h"
#include "ui/views/align_view.h"
#include "ui_test_support.h"

using namespace tessara;

namespace {

QMdiSubWindow* Active() { return g_pMainFrame->MdiArea()->currentSubWindow(); }
QMdiSubWindow* AlignWindow() { return g_pAlignFrame; }

void Mouse(QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons buttons) {
  QMouseEvent e(type, p, g_pAlignView->mapToGlobal(p), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(g_pAlignView, &e);
}
void Press(Qt::MouseButton b, QPoint p) { Mouse(QEvent::MouseButtonPress, p, b, b); }
void MoveHeld(Qt::MouseButton b, QPoint p) { Mouse(QEvent::MouseMove, p, Qt::NoButton, b); }
void Release(Qt::MouseButton b, QPoint p) { Mouse(QEvent::MouseButtonRelease, p, b, Qt::NoButton); }
void Hover(QPoint p) { Mouse(QEvent::MouseMove, p, Qt::NoButton, Qt::NoButton); }
void Drag(Qt::MouseButton b, QPoint from, QPoint to) {
  Press(b, from);
  MoveHeld(b, to);
  Release(b, to);
}

QImage RenderView() { return g_pAlignView->grab().toImage().convertToFormat(QImage::Format_RGB32); }
QColor At(const QImage& image, int x, int y) { return image.pixelColor(x, y); }
int Count(const QImage& image, const QRect& area, const QColor& c) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) n += image.pixelColor(x, y) == c;
  return n;
}
QLineEdit* Edit(CRotateDlg& d, int id) { return static_cast<QLineEdit*>(d.Control(id)); }
QPushButton* Button(CRotateDlg& d, int id) { return static_cast<QPushButton*>(d.Control(id)); }

const QColor kRed(200, 30, 30);
const QColor kBlue(30, 30, 200);

}  // namespace

class TestAlignWindow : public QObject {
  Q_OBJECT
  std::unique_ptr<test::CProgramUnderTest> m_p;
  QTemporaryDir m_dir;

  void SetViewSize(QSize size) {
    AlignWindow()->resize(size + AlignWindow()->size() - g_pAlignView->size());
    QApplication::processEvents();
    QCOMPARE(g_pAlignView->size(), size);
  }

  // Source 1 is 1200 x 800 red, source 2 1000 x 600 blue; in a 700 x 500
  // view the reduction is 2, the 600 x 400 preview sits at (50, 33), source
  // 1's frame is (50, 33, 600, 400) and source 2's (50, 133, 500, 300).
  void OpenPair() {
    QVERIFY(m_p->OpenSource(m_dir.filePath("red.bmp"), 1));
    QVERIFY(m_p->OpenSource(m_dir.filePath("blue.bmp"), 1));
    SetViewSize(QSize(700, 500));
    QCOMPARE(g_pAlignDoc->m_nReduction, 2);
    QCOMPARE(QPoint(g_pAlignDoc->m_nPreviewLeft, g_pAlignDoc->m_nPreviewTop), QPoint(50, 33));
  }

  void ExerciseRotateDialog(CRotateDlg& d);

 private slots:
  void initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    QImage one(1200, 800, QImage::Format_RGB888), two(1000, 600, QImage::Format_RGB888);
    one.fill(kRed);
    two.fill(kBlue);
    QVERIFY(one.save(m_dir.filePath("red.bmp"), "BMP") && two.save(m_dir.filePath("blue.bmp"), "BMP"));
  }
  void init() {
    m_p = std::make_unique<test::CProgramUnderTest>();
    QVERIFY(m_p->Start());
  }
  void cleanup() { m_p.reset(); }

  void waitingScreenAndLoadButton() {
    QCOMPARE(ScalingLine(1023, 1024, 2048, -1030),
             QString("Scaling % width/height: source 1 = 99,100 source 2 = 200,-100    Finished ? then click here ->"));
    QCOMPARE(WaitBandCount(200), 100);
    QCOMPARE(WaitBandCount(100), 0);
    for (int h = 0; h < 3000; ++h) QVERIFY(WaitBandCount(h) <= 128);
    // 420 high: bands of (420 - 100) / 128 + 1 = 3 pixels, 107 of them.
    SetViewSize(QSize(640, 420));
    const QImage image = RenderView();
    QCOMPARE(At(image, 5, 99), kWaitColour);
    QCOMPARE(At(image, 5, 103), QColor(191, 207, 239));
    QCOMPARE(At(image, 5, 419), QColor(192 - 106, 208 - 106, 240 - 106));
    QVERIFY(Count(image, QRect(100, 400, 60, 1), QColor(192 - 97, 208 - 97, 240 - 97)) > 20);
    QCOMPARE(g_pAlignDoc->m_bAlignValid, 0);
    // The button: its place, a pressed face of its own, and File > Open.
    CBitmapButton* button = g_pAlignView->LoadButton();
    QCOMPARE(button->geometry(), QRect(100, 90, 170, 57));
    const QImage normal = button->grab().toImage();
    button->setDown(true);
    QVERIFY(button->grab().toImage() != normal);
    button->setDown(false);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(m_p->m_fileDialogTitles, QStringList{"Open Source Window 1"});
    // One source: still waiting; the layout takes every new size all the same.
    QVERIFY(m_p->OpenSource(m_dir.filePath("red.bmp"), 1));
    QCOMPARE(At(RenderView(), 5, 5), kWaitColour);
    SetViewSize(QSize(600, 400));
    QCOMPARE(g_pAlignDoc->m_nClientWidth, 600);
    QCOMPARE(g_pAlignDoc->m_nClientHeight, 400);
  }

  void pairLoadedAfterAResizeFitsTheWindow() {
    // The window made small (as Window > Tile does) before there is a preview.
    SetViewSize(QSize(400, 300));
    QVERIFY(m_p->OpenSource(m_dir.filePath("red.bmp"), 1));
    QVERIFY(m_p->OpenSource(m_dir.filePath("blue.bmp"), 1));
    QCOMPARE(g_pAlignDoc->m_bAlignValid, 1);
    QVERIFY(g_pAlignDoc->m_nPreviewLeft + g_pAlignDoc->m_nPreviewWidth <= 400);
    // Above the status strip at the bottom.
    QVERIFY2(g_pAlignDoc->m_nPreviewTop + g_pAlignDoc->m_nPreviewHeight <= 300 - 30,
             qPrintable(QString::number(g_pAlignDoc->m_nPreviewTop + g_pAlignDoc->m_nPreviewHeight)));
  }

  void frameFollowsAPreviewBuiltForANewPair() {
    OpenPair();
    Hover(QPoint(300, 200));  // the frame of source 1 shows
    const AlignFrame before = g_pAlignView->Frame();
    QCOMPARE(before.w, 600);
    // A larger source 2: the preview is reduced further and source 1 shrinks.
    QImage big(3000, 2000, QImage::Format_RGB888);
    big.fill(kBlue);
    QVERIFY(big.save(m_dir.filePath("big.bmp"), "BMP"));
    QVERIFY(m_p->Command(cmd::kDeleteSource2));
    QVERIFY(m_p->OpenSource(m_dir.filePath("big.bmp"), 1));
    QCOMPARE(g_pAlignDoc->m_bAlignValid, 1);
    // No mouse move since: the frame shown is source 1's in the new preview.
    const AlignFrame now = g_pAlignView->Frame();
    const AlignFrame expected = tessara::SyncFrame(*g_pAlignDoc, 1);
    QCOMPARE(QRect(now.x, now.y, now.w, now.h), QRect(expected.x, expected.y, expected.w, expected.h));
    QVERIFY(now.w < before.w);
  }

  void loadWarningShowsNoFailureAndNoOldSize() {
    OpenPair();
    g_pMainFrame->RaiseAlignWindow();
    m_p->Idle();
    const QString oldSize = g_pMainFrame->StatusLine().Pane(1)->ShownText();
    QVERIFY2(oldSize.startsWith("Predicted target size = "), qPrintable(oldSize));
    QVERIFY(m_p->Command(cmd::kDeleteSource2));
    QImage tiny(40, 300, QImage::Format_RGB888);
    tiny.fill(kBlue);
    QVERIFY(tiny.save(m_dir.filePath("tiny.bmp"), "BMP"));
    // What the Align Window and the status line show while the warning is up.
    QImage during;
    QString paneDuring;
    SetModalHook([&](QDialog& d) -> std::optional<int> {
      if (auto* files = qobject_cast<CMyfiledialog*>(&d)) return test::AnswerFileDialog(*files, m_dir.filePath("tiny.bmp"), 1);
      if (auto* box = qobject_cast<QMessageBox*>(&d)) {
        m_p->m_boxes.append({box->windowTitle(), box->text(), int(box->standardButtons()), int(box->icon())});
        during = RenderView();
        g_pMainFrame->OnIdle();
        paneDuring = g_pMainFrame->StatusLine().Pane(1)->ShownText();
        return int(QMessageBox::Ok);
      }
      return int(QDialog::Rejected);
    });
    QVERIFY(m_p->Command(cmd::kFileOpen));
    QCOMPARE(m_p->MessageTexts(),
             QStringList{"This image is too small to be processed properly - but will be loaded."});
    QVERIFY(!during.isNull());
    QVERIFY(Count(during, QRect(0, 0, during.width(), during.height()), kFailColour) == 0);
    QVERIFY2(!paneDuring.startsWith("Predicted target size"), qPrintable(paneDuring));
  }

  void noPreviewShowsWhy() {
    OpenPair();
    g_pDestDoc->m_pSource2.reset();
    g_pAlignDoc->RebuildPreview(kPrepareRunLength);
    QImage image = RenderView();
    QVERIFY(Count(image, QRect(20, 10, 300, 45), kFailColour) < 300 * 45);
    QCOMPARE(Count(image, QRect(0, 60, 700, 440), kFailColour), 700 * 440);
    g_pAlignDoc->m_nFailCode = static_cast<PrepareResult>(7);  // no text of its own
    QCOMPARE(Count(RenderView(), QRect(0, 0, 700, 500), kFailColour), 700 * 500);
    Drag(Qt::LeftButton, QPoint(300, 200), QPoint(320, 220));
    QCOMPARE(AlignWindow()->windowTitle(), QString("Align Window"));
  }

  void previewHatchStripAndFinishedBox() {
    OpenPair();
    g_pAlignView->m_nFrameWidth = 0;  // the resize showed source 1's frame
    const QImage image = RenderView();
    QCOMPARE(At(image, 600, 83), kRed);                  // source 1 alone
    QCOMPARE(At(image, 60, 423), QColor(115, 30, 115));  // both: the average
    for (const QRect& area : {QRect(0, 0, 700, 33), QRect(0, 33, 50, 400), QRect(650, 33, 50, 400),
                              QRect(0, 433, 700, 37)}) {
      const int hatch = Count(image, area, kHatchColour);
      QVERIFY(hatch > area.width() * area.height() / 8);
      QCOMPARE(hatch + Count(image, area, Qt::white), area.width() * area.height());
    }
    // The strip's text, exactly as drawn on the strip colour alone.
    QImage expected(image.size(), image.format());
    expected.fill(kStripColour);
    QPainter p(&expected);
    p.setFont(g_pAlignView->font());
    TextOutOpaque(p, 10, 480, ScalingLine(1024, 1024, 1024, 1024), kStripColour);
    p.end();
    QCOMPARE(image.copy(0, 470, 670, 30), expected.copy(0, 470, 670, 30));
    // The green box with its X, the lines' last points left out.
    QCOMPARE(g_pAlignView->m_rcFinished, QRect(QPoint(675, 475), QPoint(695, 495)));
    QCOMPARE(At(image, 675, 475), kFinishedColour);
    QCOMPARE(At(image, 689, 489), QColor(Qt::black));
    QCOMPARE(At(image, 681, 489), QColor(Qt::black));
    QCOMPARE(At(image, 690, 490), kFinishedColour);
  }

  void selectionFrameWithHandles() {
    OpenPair();
    Press(Qt::LeftButton, QPoint(350, 233));
    QCOMPARE(g_pAlignView->Frame(), (AlignFrame{50, 33, 600, 400}));
    const QImage image = RenderView();
    // Top-left and right-middle handles: black outlines, white inside.
    for (const QRect& r : {QRect(QPoint(44, 27), QPoint(53, 36)), QRect(QPoint(646, 228), QPoint(655, 237))}) {
      QCOMPARE(At(image, r.left(), r.top()), QColor(Qt::black));
      QCOMPARE(At(image, r.right(), r.bottom()), QColor(Qt::black));
      QCOMPARE(Count(image, r.adjusted(1, 1, -1, -1), Qt::white), 64);
    }
    // The dotted outline: black dots, gaps in the strip colour.
    const int dots = Count(image, QRect(70, 33, 200, 1), Qt::black);
    QVERIFY(dots > 50 && dots + Count(image, QRect(70, 33, 200, 1), kStripColour) == 200);
    QCOMPARE(At(image, 70, 34), kRed);
  }

  void leftDragMovesSource1() {
    OpenPair();
    const Dib* prepared1 = g_pDestDoc->m_pSource1.get();
    Press(Qt::LeftButton, QPoint(350, 233));
    QCOMPARE(g_pAlignView->m_nHitZone, int(kZoneInside));
    QCOMPARE(g_pMainFrame->windowTitle(), QString("Tessara - Align Source 1:       red.bmp"));
    MoveHeld(Qt::LeftButton, QPoint(360, 238));
    MoveHeld(Qt::LeftButton, QPoint(370, 243));  // the whole travel counts
    QCOMPARE(g_pAlignView->Frame(), (AlignFrame{70, 43, 600, 400}));
    Release(Qt::LeftButton, QPoint(370, 243));
    // 20 right and 10 down at reduction 2: source 2 now lies 40 columns left
    // of source 1 and 20 rows higher; a move prepares nothing.
    QCOMPARE(QPoint(g_pDestDoc->m_nOffsetX, g_pDestDoc->m_nOffsetY), QPoint(-40, 20));
    QCOMPARE(g_pDestDoc->m_pSource1.get(), prepared1);
    QCOMPARE(AlignWindow()->windowTitle(), QString("Align Window"));
    QCOMPARE(g_pDestDoc->GetTitle(), std::string("Target Window - needs updating"));
    QCOMPARE(g_pAlignView->Frame(), SyncFrame(*g_pAlignDoc, 1));
    // The rebuilt preview: 620 x 400 at (40, 33); black where neither lies.
    QCOMPARE(g_pAlignDoc->m_nPredictedWidth, 1240);
    const QImage image = RenderView();
    QCOMPARE(At(image, 45, 82), QColor(0, 0, 0));
    QCOMPARE(At(image, 45, 332), kBlue);
  }

  void rightDragStretchesSource2() {
    OpenPair();
    const Dib* prepared1 = g_pDestDoc->m_pSource1.get();
    Press(Qt::RightButton, QPoint(550, 433));  // bottom-right handle
    QCOMPARE(g_pAlignView->m_nHitZone, 3);
    QCOMPARE(g_pAlignView->m_bLeftPressed, 0);
    QCOMPARE(AlignWindow()->windowTitle(), QString("Align Source 2:       blue.bmp"));
    MoveHeld(Qt::RightButton, QPoint(600, 473));
    QCOMPARE(g_pAlignView->Frame(), (AlignFrame{50, 133, 550, 340}));
    Release(Qt::RightButton, QPoint(600, 473));
    // 550/500 and 340/300 in 1/1024; the bottom edge went 80 rows down.
    QCOMPARE(QPoint(g_pDestDoc->m_nScale2X, g_pDestDoc->m_nScale2Y), QPoint(1126, 1160));
    QCOMPARE(QPoint(g_pDestDoc->m_nOffsetX, g_pDestDoc->m_nOffsetY), QPoint(0, -80));
    QCOMPARE(QSize(g_pDestDoc->m_pSource2->Width(), g_pDestDoc->m_pSource2->Height()), QSize(1099, 679));
    QCOMPARE(g_pDestDoc->m_pSource1.get(), prepared1);
    QCOMPARE(g_pAlignView->Frame(), SyncFrame(*g_pAlignDoc, 2));
  }

  void edgesMinimumAndNoZone() {
    OpenPair();
    g_pDestDoc->MarkUpToDate();
    // A press outside the frame: nothing moves, nothing is applied.
    Drag(Qt::LeftButton, QPoint(10, 10), QPoint(100, 100));
    QCOMPARE(g_pDestDoc->m_bUpToDate, 1);
    // The left edge dragged 20 left: wider, and that edge moved.
    Drag(Qt::LeftButton, QPoint(50, 233), QPoint(30, 233));
    QCOMPARE(QPoint(g_pDestDoc->m_nScale1X, g_pDestDoc->m_nScale1Y), QPoint(620 * 1024 / 600, 1024));
    QCOMPARE(g_pDestDoc->m_nOffsetX, 40);
    QCOMPARE(g_pDestDoc->m_bUpToDate, 0);
    // The right edge dragged past the left one stops at 50 wide.
    const AlignFrame f = SyncFrame(*g_pAlignDoc, 1);
    Press(Qt::LeftButton, QPoint(f.x + f.w, f.y + f.h / 2));
    MoveHeld(Qt::LeftButton, QPoint(f.x - 200, f.y + f.h / 2));
    QCOMPARE(g_pAlignView->Frame(), (AlignFrame{f.x, f.y, 50, f.h}));
    Release(Qt::LeftButton, QPoint(f.x - 200, f.y + f.h / 2));
    QCOMPARE(g_pDestDoc->m_nScale1X, 1058 * (50 * 1024 / f.w) / 1024);
  }

  void hoverShowsPointerAndHandle() {
    OpenPair();
    const struct {
      QPoint p;
      Qt::CursorShape shape;
      const char* text;
    } cases[] = {{{350, 233}, Qt::CrossCursor, "source one: move"},
                 {{350, 33}, Qt::SizeVerCursor, "source one: resize height"},
                 {{650, 33}, Qt::SizeBDiagCursor, "source one: resize"},
                 {{650, 233}, Qt::SizeHorCursor, "source one: resize width"},
                 {{50, 33}, Qt::SizeFDiagCursor, "source one: resize"}};
    auto pane = [] { return g_pMainFrame->StatusLine().Pane(2)->ShownText(); };
    for (const auto& c : cases) {
      Hover(c.p);
      QCOMPARE(g_pAlignView->cursor().shape(), c.shape);
      QCOMPARE(pane(), QString(c.text));
    }
    Hover(QPoint(10, 10));
    QVERIFY(!g_pAlignView->testAttribute(Qt::WA_SetCursor));
    QCOMPARE(pane(), QString());
    Drag(Qt::RightButton, QPoint(5, 5), QPoint(5, 5));  // now source 2's
    Hover(QPoint(300, 283));
    QCOMPARE(pane(), QString("source two: move"));
  }

  void finishedBoxRaisesTheTarget() {
    OpenPair();
    RenderView();
    Drag(Qt::RightButton, QPoint(685, 485), QPoint(685, 485));  // not for the right button
    QCOMPARE(Active(), AlignWindow());
    Drag(Qt::LeftButton, QPoint(5, 5), QPoint(675, 485));  // its edge is outside
    QCOMPARE(Active(), AlignWindow());
    Drag(Qt::LeftButton, QPoint(350, 233), QPoint(685, 485));
    QCOMPARE(Active(), static_cast<QMdiSubWindow*>(g_pTargetFrame));
    QCOMPARE(QPoint(g_pDestDoc->m_nOffsetX, g_pDestDoc->m_nOffsetY), QPoint(0, 0));
  }

  void resizeRebuildsButWaitsForLongWork() {
    OpenPair();
    g_pDestDoc->m_nOffsetX = 30;
    // A source being prepared is out of the session meanwhile: rebuilding
    // now would take that for a failure and reset the alignment.
    int validDuring = -1, reductionDuring = -1;
    RunLongWork([&] {
      DibPtr preparing = std::move(g_pDestDoc->m_pSource1);
      RunOnWindowThread([&] { SetViewSize(QSize(1400, 1000)); }, true);
      validDuring = g_pAlignDoc->m_bAlignValid;
      reductionDuring = g_pAlignDoc->m_nReduction;
      g_pDestDoc->m_pSource1 = std::move(preparing);
    });
    QCOMPARE(validDuring, 1);
    QCOMPARE(reductionDuring, 2);
    QTRY_COMPARE(g_pAlignDoc->m_nReduction, 1);
    QCOMPARE(g_pDestDoc->m_nOffsetX, 30);
    QCOMPARE(QPoint(g_pAlignDoc->m_nPreviewLeft, g_pAlignDoc->m_nPreviewTop), QPoint(100, 66));
    QCOMPARE(g_pAlignView->Frame(), SyncFrame(*g_pAlignDoc, 1));
  }

  void zeroWideSourceKeepsItsScale() {
    OpenPair();
    g_pDestDoc->m_nScale2X = 2;  // 1 pixel across: 0 in the preview
    QCOMPARE(g_pDestDoc->PrepareSource(2), kPrepareDone);
    g_pAlignDoc->RebuildPreview(kPrepareDone);
    QCOMPARE(g_pAlignDoc->m_nPrev2Width, 0);
    Drag(Qt::RightButton, QPoint(50, 283), QPoint(80, 283));  // its left handle
    QCOMPARE(QPoint(g_pDestDoc->m_nScale2X, g_pDestDoc->m_nScale2Y), QPoint(2, 1024));
    QCOMPARE(g_pDestDoc->m_nOffsetX, 60);
    QCOMPARE(g_pAlignDoc->m_bAlignValid, 1);
  }

  void alignCommandsEnablingAndEffects() {
    auto allEnabled = [](bool on) {
      for (int id = cmd::kRotate; id <= cmd::kCopyHeight2To1; ++id)
        if (g_pMainFrame->IsCommandEnabled(id) != on) return false;
      return true;
    };
    QVERIFY(allEnabled(false));
    OpenPair();
    QVERIFY(allEnabled(true));
    QVERIFY(!g_pMainFrame->IsCommandEnabled(cmd::kFileSaveAs));
    g_pMainFrame->RaiseTargetWindow();
    QVERIFY(allEnabled(false));
    g_pMainFrame->RaiseAlignWindow();
    QVERIFY(m_p->Command(cmd::kMirror1));
    QCOMPARE(g_pDestDoc->m_bMirror1, 1);
    g_pDestDoc->m_nOffsetY = 14;
    g_pMainFrame->Action(cmd::kCopyWidth1To2)->trigger();
    QCOMPARE(g_pDestDoc->m_nScale2X, 1024 * 1200 / 1000);
    QCOMPARE(g_pDestDoc->m_nOffsetY, 14);
    QCOMPARE(g_pDestDoc->m_pSource2->Width(), 1199);
    // A frame on the screen follows its source.
    Drag(Qt::LeftButton, QPoint(5, 5), QPoint(5, 5));
    QVERIFY(m_p->Command(cmd::kCopySize2To1));
    QCOMPARE(QPoint(g_pDestDoc->m_nScale1X, g_pDestDoc->m_nScale1Y), QPoint(1024 * 1199 / 1200, 1024 * 600 / 800));
    QCOMPARE(g_pAlignView->Frame(), SyncFrame(*g_pAlignDoc, 1));
    g_pDestDoc->m_pSource1.reset();
    g_pAlignDoc->RebuildPreview(kPrepareNoMemory);
    QVERIFY(allEnabled(false));
  }

  void rotateDialogChecksAndUpdates() {
    OpenPair();
    g_pDestDoc->m_dRotation1 = 10.3;
    m_p->m_otherDialog = [&](QDialog& d) {
      ExerciseRotateDialog(*qobject_cast<CRotateDlg*>(&d));
      return d.result();
    };
    QVERIFY(m_p->Command(cmd::kRotate));
    QVERIFY(!QTest::currentTestFailed());
    QCOMPARE(g_pRotateDlg, nullptr);
  }

  void rotateDialogQuitAndFailure() {
    OpenPair();
    // A stopped preparation ends the dialog; the Align Window says why.
    m_p->m_answers = {QMessageBox::Yes};
    int result = -1;
    m_p->m_otherDialog = [&](QDialog& d) {
      auto& rotate = *qobject_cast<CRotateDlg*>(&d);
      d.show();
      Edit(rotate, CRotateDlg::kIdAngle1)->setText("500");
      Button(rotate, CRotateDlg::kIdQuit)->click();  // refused, stays open
      Edit(rotate, CRotateDlg::kIdAngle1)->setText("5");
      QApplication::processEvents();
      CQtUserInterface::Instance()->SetSpaceBarDown(true);
      Button(rotate, CRotateDlg::kIdUpdate)->click();
      CQtUserInterface::Instance()->SetSpaceBarDown(false);
      result = d.isVisible() ? -1 : d.result();
      return result;
    };
    QVERIFY(m_p->Command(cmd::kRotate));
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(m_p->MessageTexts(),
             (QStringList{"Please enter an integer between -179 and 180.", "Do you really want to quit ?"}));
    QCOMPARE(g_pAlignDoc->m_nFailCode, kPrepareStopped);
    QCOMPARE(At(RenderView(), 5, 5), kFailColour);
  }

  void rotateDialogShowsTheSourcesWhenIdle() {
    OpenPair();
    QString line1, line2;
    m_p->m_otherDialog = [&](QDialog& d) {
      auto* rotate = qobject_cast<CRotateDlg*>(&d);
      QTimer::singleShot(100, &d, [&, rotate] {
        line1 = static_cast<CSourceLine*>(rotate->Control(CRotateDlg::kIdSourceLine1))->Text();
        line2 = static_cast<CSourceLine*>(rotate->Control(CRotateDlg::kIdSourceLine2))->Text();
        QTest::keyClick(rotate, Qt::Key_Escape);
      });
      return d.exec();
    };
    QVERIFY(m_p->Command(cmd::kRotate));
    QCOMPARE(line1, QString("Source 1:  red.bmp"));
    QCOMPARE(line2, QString("Source 2:  blue.bmp"));
  }
};

void TestAlignWindow::ExerciseRotateDialog(CRotateDlg& d) {
  QCOMPARE(g_pRotateDlg, static_cast<QDialog*>(&d));
  d.show();
  QLineEdit* angle1 = Edit(d, CRotateDlg::kIdAngle1);
  QLineEdit* angle2 = Edit(d, CRotateDlg::kIdAngle2);
  auto* cut1 = static_cast<QCheckBox*>(d.Control(CRotateDlg::kIdCut1));
  QPushButton* update = Button(d, CRotateDlg::kIdUpdate);
  // Placed in dialog units of its font; the session's angles truncated.
  const CDialogUnits units(d.font());
  QCOMPARE(d.size(), units.Map(0, 0, 160, 140).size());
  QCOMPARE(update->geometry(), units.Map(5, 81, 60, 14));
  QCOMPARE(angle1->geometry(), units.Map(11, 19, 40, 14));
  QVERIFY(Button(d, CRotateDlg::kIdQuit)->isDefault());
  QCOMPARE(angle1->text(), QString("10"));
  QVERIFY(cut1->isChecked());
  // Bad entries: the standard prompts, the focus back on the field.
  const struct {
    QLineEdit* field;
    const char* text;
    const char* prompt;
  } bad[] = {{angle1, "181", "Please enter an integer between -179 and 180."},
             {angle1, "-180", "Please enter an integer between -179 and 180."},
             {angle2, "1.5", "Please enter an integer."}};
  for (const auto& b : bad) {
    angle1->setText("10");
    b.field->setText(b.text);
    m_p->m_boxes.clear();
    update->click();
    QCOMPARE(m_p->MessageTexts(), QStringList{b.prompt});
    QCOMPARE(d.focusWidget(), static_cast<QWidget*>(b.field));
    QCOMPARE(b.field->selectedText(), QString(b.text));
    QCOMPARE(g_pDestDoc->m_dRotation1, 10.3);
    angle2->setText("0");
  }
  // Source 1 turned 20 degrees without cut corners grows; source 2 is left.
  QTest::mouseClick(cut1, Qt::LeftButton);
  QCOMPARE(d.m_bCut1, 0);
  angle1->setText(" 20 ");
  const Dib* prepared2 = g_pDestDoc->m_pSource2.get();
  update->click();
  QVERIFY(!update->isEnabled());
  QCOMPARE(g_pDestDoc->m_dRotation1, 20.0);
  QCOMPARE(g_pDestDoc->m_bCutCorners1, 0);
  QVERIFY(g_pDestDoc->m_pSource1->Width() > 1300);
  QCOMPARE(g_pDestDoc->m_pSource2.get(), prepared2);
  QCOMPARE(g_pAlignDoc->m_nPredictedWidth, g_pDestDoc->m_pSource1->Width());
  // Typing enables Update again; Escape leaves without storing.
  QTest::keyClicks(angle2, "5");
  QVERIFY(update->isEnabled());
  QTest::keyClick(angle2, Qt::Key_Escape);
  QVERIFY(!d.isVisible());
  QCOMPARE(d.m_nAngle2, 0);
  QCOMPARE(g_pDestDoc->m_dRotation2, 0.0);
}

QTEST_MAIN(TestAlignWindow)
#include "test_align_window.moc"
