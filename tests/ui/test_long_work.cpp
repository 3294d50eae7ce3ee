// Long work on its worker thread, seen from the windows: a large Target built
// while the window thread stays free, repaints, refuses commands and closing;
// the stop question on the worker's behalf; and what a piece of work hands back.
#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <ctime>
#include <stdexcept>

#include "engine/destdoc.h"
#include "framework/registry.h"
#include "ui/common/commands.h"
#include "ui/common/long_work.h"
#include "ui/common/modal.h"
#include "ui/common/qt_user_interface.h"
#include "ui/common/ui_registry.h"
#include "ui/shell/main_frame.h"
#include "ui/views/destview.h"
#include "ui_test_support.h"

using namespace tessara;
using tessara::test::CProgramUnderTest;

namespace {

double Seconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

// A picture with detail everywhere, so that no part of the work is trivial.
bool WritePicture(const QString& path, int width, int height, int shift) {
  QImage image(width, height, QImage::Format_RGB888);
  for (int y = 0; y < height; ++y) {
    uchar* row = image.scanLine(y);
    for (int x = 0; x < width; ++x) {
      row[3 * x] = static_cast<uchar>((x * 7 + y * 3 + shift) & 255);
      row[3 * x + 1] = static_cast<uchar>((x ^ y) + shift);
      row[3 * x + 2] = static_cast<uchar>((y * 5 - x + shift * 3) & 255);
    }
  }
  return image.save(path, "BMP");
}

}  // namespace

class TestLongWork : public QObject {
  Q_OBJECT
  std::unique_ptr<CProgramUnderTest> m_p;
  QTemporaryDir m_dir;

  void OpenLargePair() {
    const QString a = m_dir.filePath("a.bmp"), b = m_dir.filePath("b.bmp");
    QVERIFY(WritePicture(a, 6000, 4000, 0) && WritePicture(b, 6000, 4000, 40));
    QVERIFY(m_p->OpenSource(a) && m_p->OpenSource(b));
    g_pMainFrame->RaiseTargetWindow();
    QVERIFY(g_pTargetView->GenerateButton());
  }

 private slots:
  void init() {
    m_p = std::make_unique<CProgramUnderTest>();
    QVERIFY(m_p->Start());
  }

  void cleanup() {
    if (CQtUserInterface::Instance()) CQtUserInterface::Instance()->SetSpaceBarDown(false);
    m_p.reset();
  }

  void largeTargetIsBuiltOffTheWindowThread() {
    OpenLargePair();
    // While the work runs, the window thread is asked to repaint the Target
    // view, to run commands and to close the program, as a user could.
    int ticks = 0, ticksWorking = 0, commandsEnabled = 0, closed = 0;
    QTimer poke;
    poke.setInterval(15);
    connect(&poke, &QTimer::timeout, [&] {
      ++ticks;
      if (!LongWorkRunning()) return;
      ++ticksWorking;
      g_pTargetView->viewport()->update();
      if (g_pMainFrame->IsCommandEnabled(cmd::kFileOpen) || g_pMainFrame->IsCommandEnabled(cmd::kAppExit) ||
          m_p->Command(cmd::kDeleteSource2))
        ++commandsEnabled;
      if (g_pMainFrame->close()) ++closed;
    });
    poke.start();
    const int paintsBefore = g_pTargetView->PaintsDuringWork();
    const double window0 = Seconds(CLOCK_THREAD_CPUTIME_ID), all0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    QTest::mouseClick(g_pTargetView->GenerateButton(), Qt::LeftButton);
    const double window = Seconds(CLOCK_THREAD_CPUTIME_ID) - window0, all = Seconds(CLOCK_PROCESS_CPUTIME_ID) - all0;
    poke.stop();

    QVERIFY(g_pDestDoc->m_pTarget);
    QCOMPARE(g_pDestDoc->m_bUpToDate, 1);
    QVERIFY2(ticksWorking >= 3, qPrintable(QString("the window thread ran %1 times during the work").arg(ticksWorking)));
    QVERIFY(g_pTargetView->PaintsDuringWork() > paintsBefore);
    QCOMPARE(commandsEnabled, 0);
    QCOMPARE(closed, 0);
    qInfo("window thread %.3f s of %.3f s processor time, %d paints of the kept picture", window, all,
          g_pTargetView->PaintsDuringWork() - paintsBefore);
    QVERIFY2(window < all / 5, qPrintable(QString("window thread %1 s of %2 s").arg(window).arg(all)));
    // Once the work is over, everything is offered again.
    QVERIFY(!LongWorkRunning());
    QVERIFY(g_pMainFrame->IsCommandEnabled(cmd::kFileOpen));
    QVERIFY(m_p->m_boxes.isEmpty());
  }

  void stopQuestionIsAskedForTheWorker() {
    OpenLargePair();
    // Held from the start: the question comes at the first stop check, on
    // the window thread; Yes leaves no Target.
    CQtUserInterface::Instance()->SetSpaceBarDown(true);
    m_p->m_answers = {QMessageBox::Yes};
    QTest::mouseClick(g_pTargetView->GenerateButton(), Qt::LeftButton);
    CQtUserInterface::Instance()->SetSpaceBarDown(false);
    QCOMPARE(m_p->MessageTexts(), QStringList{"Do you really want to quit ?"});
    QVERIFY(!g_pDestDoc->m_pTarget);
    // Asked again and answered No, the work goes on to the end.
    m_p->m_boxes.clear();
    CQtUserInterface::Instance()->SetSpaceBarDown(true);
    // Held on and answered No at every stop check, the work goes on to the end.
    m_p->m_answers.clear();
    QTest::mouseClick(g_pTargetView->GenerateButton(), Qt::LeftButton);
    CQtUserInterface::Instance()->SetSpaceBarDown(false);
    const QStringList asked = m_p->MessageTexts();
    QVERIFY(asked.size() > 1);
    QCOMPARE(asked, QStringList(asked.size(), "Do you really want to quit ?"));
    QVERIFY(g_pDestDoc->m_pTarget);

    // The real question, answered by a key sent to its window as the window
    // system sends it: the question takes input while the rest refuses it.
    SetModalHook([](QDialog&) -> std::optional<int> { return std::nullopt; });
    int looks = 0;
    QTimer answer;
    answer.setInterval(10);
    connect(&answer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || !box->windowHandle()) return;
      if (++looks == 1) {
        CQtUserInterface::Instance()->SetSpaceBarDown(false);
        QTest::keyClick(box->windowHandle(), Qt::Key_Y);
      } else if (looks > 100) {
        // The key never got through: the question goes, the work goes on.
        box->done(QMessageBox::No);
      }
    });
    answer.start();
    g_pDestDoc->MarkNeedsUpdate();
    CQtUserInterface::Instance()->SetSpaceBarDown(true);
    g_pTargetView->OnGenerateTarget();
    CQtUserInterface::Instance()->SetSpaceBarDown(false);
    QVERIFY(looks >= 1);
    QVERIFY(!g_pDestDoc->m_pTarget);
    QVERIFY(!QApplication::activeModalWidget());
  }

  void workHandsBackItsResultAndItsFailure() {
    // A value, computed on another thread than the window's.
    const bool worker = RunLongWork([] { return OnWorkerThread(); });
    QVERIFY(worker);
    QVERIFY(!OnWorkerThread());
    // Work inside work runs where it is, at once.
    int depth = 0;
    RunLongWork([&] { RunLongWork([&] { depth = OnWorkerThread() ? 2 : 1; }); });
    QCOMPARE(depth, 2);
    // A failure is the caller's, and the program goes on afterwards.
    bool thrown = false;
    try {
      RunLongWork([] { throw std::runtime_error("no room"); });
    } catch (const std::runtime_error& e) {
      thrown = QString(e.what()) == "no room";
    }
    QVERIFY(thrown);
    QVERIFY(!LongWorkRunning());
    // A message from the worker waits for its answer on the window thread.
    RunLongWork([] { ShowMessage("from the worker"); });
    QCOMPARE(m_p->MessageTexts(), QStringList{"from the worker"});
  }
};

QTEST_MAIN(TestLongWork)
#include "test_long_work.moc"
