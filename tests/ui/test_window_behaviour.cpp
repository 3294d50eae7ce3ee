// The program as a user meets it on the desktop, driven in-process on the
// offscreen platform: arranging the windows, the stop keys, the question at
// exit, deleting a source as an undoable step, the status texts, zoom and the
// arrow keys in the Align Window.
#include <QApplication>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
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
