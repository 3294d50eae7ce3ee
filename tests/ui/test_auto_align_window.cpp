// Align Automatically in the real program, driven in-process on the offscreen
// platform: when it may run, what it changes, what the status line says, that
// the Target it leads to is the one tessara-join --auto-align writes, and that
// unrelated pictures are refused with nothing changed.
#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include "engine/align_doc.h"
#include "engine/auto_align.h"
#include <QUndoStack>

#include "engine/destdoc.h"
#include "framework/registry.h"
#include "ui/common/align_undo.h"
#include "ui/common/commands.h"
#include "ui/common/status_line.h"
#include "ui/common/ui_registry.h"
#include "ui/shell/main_frame.h"
#include "ui/views/destview.h"
#include "ui_test_support.h"

using namespace tessara;
using test::TestData;

namespace {

bool Enabled(int id) { return g_pMainFrame->IsCommandEnabled(id); }
QString MessagePane() { return g_pMainFrame->StatusLine().Pane(0)->ShownText(); }

}  // namespace

class TestAutoAlignWindow : public QObject {
  Q_OBJECT
  std::unique_ptr<test::CProgramUnderTest> m_p;
  QTemporaryDir m_dir;

  void Generate() {
    g_pMainFrame->RaiseTargetWindow();
    QVERIFY(g_pTargetView->GenerateButton());
    QTest::mouseClick(g_pTargetView->GenerateButton(), Qt::LeftButton);
    QVERIFY(g_pDestDoc->m_pTarget);
    m_p->Idle();
  }

 private slots:
  void initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(m_dir.isValid());
  }
  void init() {
    m_p = std::make_unique<test::CProgramUnderTest>();
    QVERIFY(m_p->Start());
  }
  void cleanup() {
    m_p.reset();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
  }

  void enabledWithBothSourcesInTheAlignWindow() {
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_left.png")));
    g_pMainFrame->RaiseAlignWindow();
    QVERIFY(!Enabled(cmd::kAlignAutomatically));
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_right.png")));
    g_pMainFrame->RaiseAlignWindow();
    QVERIFY(Enabled(cmd::kAlignAutomatically));
    g_pMainFrame->RaiseTargetWindow();
    QVERIFY(!Enabled(cmd::kAlignAutomatically));
    // The menu item follows the other Align commands, with its shortcut.
    const Menu& align = MenuTable()[1];
    QCOMPARE(align.items.back().id, int(cmd::kAlignAutomatically));
    QCOMPARE(QString(align.items.back().text), QString("Align Automatically\tCtrl+Shift+A"));
    QCOMPARE(align.items[align.items.size() - 2].kind, MenuItem::kSeparator);
    // The shortcut, typed in the Align Window, runs it.
    g_pMainFrame->RaiseAlignWindow();
    QTest::keyClick(g_pMainFrame, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    m_p->Idle();
    QVERIFY2(std::abs(g_pDestDoc->m_nOffsetX - 220) <= 1, qPrintable(QString::number(g_pDestDoc->m_nOffsetX)));
  }

  // Open, align automatically, generate, save: the same bytes as the batch
  // tool's automatic join of the same pair.
  void targetEqualsTheBatchTools() {
    QVERIFY(m_p->OpenSource(TestData("pairs/astronaut_left.bmp")));
    QVERIFY(m_p->OpenSource(TestData("pairs/astronaut_right_rot2.bmp")));
    Generate();
    QCOMPARE(g_pDestDoc->m_bUpToDate, 1);
    g_pMainFrame->RaiseAlignWindow();
    QVERIFY(m_p->Command(cmd::kAlignAutomatically));
    QVERIFY(m_p->m_boxes.isEmpty());
    // The placement found, the Target left needing an update, the preview
    // rebuilt from the new settings.
    QVERIFY(std::abs(g_pDestDoc->m_nOffsetX - 212) <= 1);
    QVERIFY(std::abs(g_pDestDoc->m_nOffsetY) <= 1);
    QCOMPARE(g_pDestDoc->m_dRotation2, -2.0);
    QVERIFY(std::abs(g_pDestDoc->m_nScale2X - 1024) <= 2);
    QCOMPARE(g_pDestDoc->m_nScale2Y, g_pDestDoc->m_nScale2X);
    QCOMPARE(g_pDestDoc->m_bUpToDate, 0);
    QCOMPARE(g_pAlignDoc->m_bAlignValid, 1);
    // Corners cut as before: the turned copy keeps its size.
    QCOMPARE(g_pDestDoc->m_pSource2->Width(), 300);
    const QString pane = MessagePane();
    QVERIFY2(pane.startsWith(QString("Aligned: offset %1,%2  angle -2.0  scale %3/1024  ")
                                 .arg(g_pDestDoc->m_nOffsetX)
                                 .arg(g_pDestDoc->m_nOffsetY)
                                 .arg(g_pDestDoc->m_nScale2X)),
             qPrintable(pane));
    QVERIFY(pane.endsWith(" matches agree"));
    // Shown whole: the pane is widened to the result.
    const CStatusPane* shown = g_pMainFrame->StatusLine().Pane(0);
    QVERIFY(shown->width() >= shown->fontMetrics().horizontalAdvance(pane));

    // One undo step: undone, the hand alignment is back exactly; redone, the
    // found one.
    const int foundX = g_pDestDoc->m_nOffsetX, foundY = g_pDestDoc->m_nOffsetY, foundScale = g_pDestDoc->m_nScale2X;
    QVERIFY(AlignUndoStack());
    QCOMPARE(AlignUndoStack()->count(), 1);
    AlignUndoStack()->undo();
    QCOMPARE(g_pDestDoc->m_nOffsetX, 0);
    QCOMPARE(g_pDestDoc->m_dRotation2, 0.0);
    QCOMPARE(g_pDestDoc->m_nScale2X, 1024);
    AlignUndoStack()->redo();
    QCOMPARE(g_pDestDoc->m_nOffsetX, foundX);
    QCOMPARE(g_pDestDoc->m_nOffsetY, foundY);
    QCOMPARE(g_pDestDoc->m_dRotation2, -2.0);
    QCOMPARE(g_pDestDoc->m_nScale2X, foundScale);

    Generate();
    const QString saved = m_dir.filePath("window.bmp");
    m_p->m_fileDialog = [&](CMyfiledialog& d) { return test::AnswerFileDialog(d, saved, 1); };
    QVERIFY(m_p->Command(cmd::kFileSaveAs));
    m_p->m_fileDialog = nullptr;

    const QString joined = m_dir.filePath("joined.bmp");
    const QString why = test::DifferenceFromBatchJoin(
        QStringLiteral(TESSARA_JOIN),
        {"--quiet", "--auto-align", TestData("pairs/astronaut_left.bmp"), TestData("pairs/astronaut_right_rot2.bmp"), joined},
        saved, joined);
    QVERIFY2(why.isEmpty(), qPrintable(why));
  }

  void unrelatedPicturesChangeNothing() {
    QVERIFY(m_p->OpenSource(TestData("photos/rocket.jpg")));
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_right.png")));
    g_pDestDoc->m_nOffsetX = 33;
    g_pDestDoc->m_dRotation2 = 0.5;
    g_pMainFrame->RaiseAlignWindow();
    QVERIFY(m_p->Command(cmd::kAlignAutomatically));
    QCOMPARE(m_p->MessageTexts(), QStringList{auto_align_text::kNoCommonDetail});
    QCOMPARE(g_pDestDoc->m_nOffsetX, 33);
    QCOMPARE(g_pDestDoc->m_dRotation2, 0.5);
    QCOMPARE(g_pDestDoc->m_nScale2X, 1024);
  }
};

QTEST_MAIN(TestAutoAlignWindow)
#include "test_auto_align_window.moc"
