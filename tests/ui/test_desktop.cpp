// The program as a desktop citizen, driven in-process on the offscreen
// platform: its command line, files dropped on the main window, and undo and
// redo of the alignment through the Edit menu and its keys.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUndoStack>
#include <QUrl>

#include "engine/align_doc.h"
#include "engine/align_history.h"
#include "engine/destdoc.h"
#include "engine/tessara_doc.h"
#include "framework/registry.h"
#include "framework/version.h"
#include "ui/common/align_undo.h"
#include "ui/common/ui_registry.h"
#include "ui/dialogs/about_dialog.h"
#include "ui/dialogs/dialog_controls.h"
#include "ui/dialogs/fine_adjust_dlg.h"
#include "ui/dialogs/rotate_dlg.h"
#include "ui/shell/child_frames.h"
#include "ui/shell/command_line.h"
#include "ui/shell/main_frame.h"
#include "ui/shell/tessara_app.h"
#include "ui/views/align_view.h"
#include "ui_test_support.h"

using namespace tessara;
using tessara::test::CProgramUnderTest;
using tessara::test::TestData;

namespace {

void Mouse(QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons buttons) {
  QMouseEvent e(type, p, g_pAlignView->mapToGlobal(p), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(g_pAlignView, &e);
}

void Drag(Qt::MouseButton b, QPoint from, QPoint to) {
  Mouse(QEvent::MouseButtonPress, from, b, b);
  Mouse(QEvent::MouseMove, to, Qt::NoButton, b);
  Mouse(QEvent::MouseButtonRelease, to, b, Qt::NoButton);
}

// Drops `files` (and any other addresses) on the main window as a file
// manager would, then lets the queued load run. Returns whether the window
// took the drop.
bool Drop(const QList<QUrl>& urls) {
  QMimeData data;
  data.setUrls(urls);
  const QPoint at = g_pMainFrame->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(g_pMainFrame, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(g_pMainFrame, &drop);
  const bool taken = drop.isAccepted();
  QApplication::processEvents();
  return taken;
}

QList<QUrl> Files(const QStringList& paths) {
  QList<QUrl> urls;
  for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
  return urls;
}

// The state a step must bring back: the session's alignment and the preview.
struct Shown {
  AlignSettings settings;
  QByteArray preview;
  bool operator==(const Shown&) const = default;
};

Shown Now() {
  Shown s;
  s.settings = TakeAlignSettings(*g_pDestDoc);
  if (g_pAlignDoc->m_pPreview)
    s.preview = QByteArray(reinterpret_cast<const char*>(g_pAlignDoc->m_pPreview->Data()),
                           static_cast<qsizetype>(g_pAlignDoc->m_pPreview->Size()));
  return s;
}

QString SourceTitle(int n) {
  return g_pSourceDocs[n - 1] ? QString::fromStdString(g_pSourceDocs[n - 1]->GetTitle()) : QString();
}

}  // namespace

class TestDesktop : public QObject {
  Q_OBJECT
  std::unique_ptr<CProgramUnderTest> m_p;
  QTemporaryDir m_dir;

  QAction* EditAction(const char* name) { return g_pMainFrame->findChild<QAction*>(QString::fromUtf8(name)); }
  QUndoStack& Stack() { return *g_pMainFrame->AlignUndo(); }
  void Key(int key, Qt::KeyboardModifiers mods) {
    QTest::keyClick(g_pMainFrame, static_cast<Qt::Key>(key), mods);
    QApplication::processEvents();
  }

 private slots:
  void initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(m_dir.isValid());
    QFile bad(m_dir.filePath("not_a_picture.txt"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("hello");
  }
  void init() {
    m_p = std::make_unique<CProgramUnderTest>();
    QVERIFY(m_p->Start());
  }
  void cleanup() { m_p.reset(); }

  void commandLineOptions() {
    const CommandLine two = ParseCommandLine({"tessara", "a.png", "b b.jpg"});
    QCOMPARE(two.exitCode, -1);
    QCOMPARE(two.sources, (QStringList{"a.png", "b b.jpg"}));
    QCOMPARE(ParseCommandLine({"tessara"}).sources, QStringList());
    // A third file is kept, to be refused with the program's message.
    QCOMPARE(ParseCommandLine({"tessara", "1.png", "2.png", "3.png"}).sources.size(), 3);
    for (const char* option : {"--help", "-h"}) {
      const CommandLine help = ParseCommandLine({"tessara", "a.png", option});
      QCOMPARE(help.exitCode, 0);
      QVERIFY(help.output.startsWith("Usage: tessara [SOURCE1 [SOURCE2]]"));
    }
    const CommandLine version = ParseCommandLine({"tessara", "--version"});
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.output, QString("tessara " TESSARA_VERSION "\n"));
    // The About box names the same version as --version.
    CAboutDialog about;
    const QLabel* text = about.findChild<QLabel*>("versionText");
    QVERIFY(text);
    QCOMPARE(text->text(), "Tessara Version " + version.output.mid(int(qstrlen("tessara "))).trimmed());
    // After "--" a name may start with a dash and options are files.
    QCOMPARE(ParseCommandLine({"tessara", "--", "-odd.bmp", "--help"}).sources, (QStringList{"-odd.bmp", "--help"}));
    const struct {
      QStringList args;
      const char* why;
    } bad[] = {{{"tessara", "--frobnicate"}, "unknown option --frobnicate"},
               {{"tessara", ""}, "an empty file name"}};
    for (const auto& b : bad) {
      const CommandLine line = ParseCommandLine(b.args);
      QCOMPARE(line.exitCode, 2);
      QVERIFY2(line.output.contains(b.why), qPrintable(line.output));
      QVERIFY(line.sources.isEmpty());
    }
  }

  void startWithTwoFileArguments() {
    // A name relative to the folder the program was started in, and a full one.
    const QString old = QDir::currentPath();
    QVERIFY(QDir::setCurrent(TestData("pairs")));
    // What main() does with the arguments once the program has started.
    const CommandLine line = ParseCommandLine({"tessara", "coffee_left.png", TestData("pairs/coffee_right.png")});
    QCOMPARE(line.exitCode, -1);
    m_p->App().OpenSourceFiles(line.sources);
    QDir::setCurrent(old);
    QCOMPARE(m_p->MessageTexts(), QStringList());
    QCOMPARE(g_nSourcesLoaded, 2);
    QCOMPARE(SourceTitle(1), QString("coffee_left.png"));
    QCOMPARE(SourceTitle(2), QString("coffee_right.png"));
    QCOMPARE(g_pAlignDoc->m_bAlignValid, 1);
    QCOMPARE(g_pMainFrame->MdiArea()->currentSubWindow(), static_cast<QMdiSubWindow*>(g_pAlignFrame));
    QVERIFY(!g_pAlignView->LoadButton());
    // Remembered by their full names, newest first.
    QCOMPARE(m_p->App().RecentFiles().Files(),
             (QStringList{QFileInfo(TestData("pairs/coffee_right.png")).absoluteFilePath(),
                          QFileInfo(TestData("pairs/coffee_left.png")).absoluteFilePath()}));
  }

  void commandLineFailuresSayWhatFileOpenSays() {
    // A file that is no picture: the load's own message, nothing loaded, and
    // the next name still becomes source 1.
    m_p->App().OpenSourceFiles({m_dir.filePath("not_a_picture.txt"), TestData("pairs/coffee_left.png")});
    QCOMPARE(m_p->MessageTexts().size(), 1);
    QVERIFY(m_p->MessageTexts()[0].startsWith("Unable to load this picture file\nnot_a_picture.txt: "));
    QCOMPARE(g_nSourcesLoaded, 1);
    QCOMPARE(SourceTitle(1), QString("coffee_left.png"));
    QVERIFY(g_pAlignView->LoadButton());
    // Two more with one already loaded: the second is refused as File > Open
    // refuses a third source.
    m_p->m_boxes.clear();
    m_p->App().OpenSourceFiles({TestData("pairs/coffee_right.png"), TestData("pairs/coffee_left.png")});
    QCOMPARE(m_p->MessageTexts(), QStringList{"No more than two source images allowed."});
    QCOMPARE(g_nSourcesLoaded, 2);
    QCOMPARE(SourceTitle(2), QString("coffee_right.png"));
  }

  void droppedFilesOpenAsSources() {
    // Text and addresses on other machines are not taken.
    QMimeData text;
    text.setText("coffee_left.png");
    QVERIFY(DroppedFiles(&text).isEmpty());
    QVERIFY(!Drop({QUrl("https://example.org/a.png")}));
    QCOMPARE(g_nSourcesLoaded, 0);
    // Two files at once, with an address among them that is left out.
    QVERIFY(Drop(Files({TestData("pairs/coffee_left.png")}) + QList<QUrl>{QUrl("https://example.org/a.png")} +
                 Files({TestData("pairs/coffee_right.png")})));
    QCOMPARE(m_p->MessageTexts(), QStringList());
    QCOMPARE(g_nSourcesLoaded, 2);
    QCOMPARE(SourceTitle(1), QString("coffee_left.png"));
    QCOMPARE(SourceTitle(2), QString("coffee_right.png"));
    QCOMPARE(g_pAlignDoc->m_bAlignValid, 1);
    // A third source is refused with the message File > Open gives.
    QVERIFY(Drop(Files({TestData("pairs/coffee_left.png")})));
    QCOMPARE(m_p->MessageTexts(), QStringList{"No more than two source images allowed."});
    QCOMPARE(g_nSourcesLoaded, 2);
  }

  void droppedFileThatFailsAndOneAtATime() {
    QVERIFY(Drop(Files({m_dir.filePath("not_a_picture.txt")})));
    QCOMPARE(m_p->MessageTexts().size(), 1);
    QVERIFY(m_p->MessageTexts()[0].startsWith("Unable to load this picture file\nnot_a_picture.txt: "));
    QCOMPARE(g_nSourcesLoaded, 0);
    QVERIFY(Drop(Files({TestData("pairs/coffee_right.png")})));
    QVERIFY(Drop(Files({TestData("pairs/coffee_left.png")})));
    QCOMPARE(SourceTitle(1), QString("coffee_right.png"));
    QCOMPARE(SourceTitle(2), QString("coffee_left.png"));
  }

  void editMenuStandsBeforeAlign() {
    QStringList titles;
    for (QAction* a : g_pMainFrame->menuBar()->actions()) titles << a->text();
    const qsizetype edit = titles.indexOf("&Edit"), align = titles.indexOf("&Align");
    QVERIFY(edit >= 0 && align >= 0);
    QCOMPARE(edit + 1, align);
    QCOMPARE(EditAction("editUndo")->shortcut(), QKeySequence("Ctrl+Z"));
    QCOMPARE(EditAction("editRedo")->shortcut(), QKeySequence("Ctrl+Shift+Z"));
    QVERIFY(!EditAction("editUndo")->isEnabled());
    QVERIFY(!EditAction("editRedo")->isEnabled());
  }

  void undoAndRedoADragARotationAndAFineAdjustment() {
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_left.png"), 3));
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_right.png"), 3));
    g_pMainFrame->RaiseAlignWindow();
    QApplication::processEvents();
    QCOMPARE(g_pAlignDoc->m_bAlignValid, 1);
    QCOMPARE(Stack().count(), 0);
    const Shown s0 = Now();

    // 1. A move of source 2 by dragging inside its frame.
    const AlignFrame frame = SyncFrame(*g_pAlignDoc, 2);
    const QPoint inside(frame.x + frame.w / 2, frame.y + frame.h / 2);
    Drag(Qt::RightButton, inside, inside + QPoint(20, -10));
    const Shown s1 = Now();
    QVERIFY(!(s1.settings == s0.settings));
    QVERIFY(s1.preview != s0.preview);
    QCOMPARE(Stack().count(), 1);
    QVERIFY(EditAction("editUndo")->isEnabled());
    QCOMPARE(EditAction("editUndo")->text(), QString("&Undo Drag in the Align Window"));

    // 2. The Rotate dialog: source 1 turned by 4 degrees.
    m_p->m_otherDialog = [&](QDialog& d) {
      auto& rotate = *qobject_cast<CRotateDlg*>(&d);
      d.show();
      static_cast<QLineEdit*>(rotate.Control(CRotateDlg::kIdAngle1))->setText("4");
      static_cast<QPushButton*>(rotate.Control(CRotateDlg::kIdUpdate))->click();
      d.reject();
      return d.result();
    };
    QVERIFY(m_p->Command(cmd::kRotate));
    const Shown s2 = Now();
    QCOMPARE(s2.settings.m_dRotation1, 4.0);
    QVERIFY(s2.preview != s1.preview);
    QCOMPARE(Stack().count(), 2);

    // 3. Fine Adjustment: source 2's horizontal scale one step up, then the
    // preview built for it by Update Target.
    g_pMainFrame->RaiseTargetWindow();
    QVERIFY(m_p->Command(cmd::kFineAlignment));
    auto* fine = qobject_cast<CFineAdjustDlg*>(g_pFineAdjustDlg);
    QVERIFY(fine);
    fine->Spin(CFineAdjustDlg::kScale2X)->StepUp();
    QCOMPARE(g_pDestDoc->m_nScale2X, s2.settings.m_nScale2X + 1);
    QCOMPARE(Stack().count(), 3);
    g_pDestDoc->PrepareSource(2);
    g_pAlignDoc->RebuildPreview(kPrepareDone);
    const Shown s3 = Now();
    QVERIFY(s3.preview != s2.preview);
    g_pDestDoc->MarkUpToDate();

    // Back through all three with Ctrl+Z, typed in the Fine Adjustment
    // dialog that is still active: each the exact settings and preview, the
    // Target marked as needing an update.
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(fine));
    Key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(Now(), s2);
    QCOMPARE(g_pDestDoc->m_bUpToDate, 0);
    QCOMPARE(g_pDestDoc->GetTitle(), std::string("Target Window - needs updating"));
    // The open Fine Adjustment dialog counts from the restored alignment.
    QCOMPARE(fine->m_nBaseScale2X, s2.settings.m_nScale2X);
    Key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(Now(), s1);
    Key(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(Now(), s0);
    QVERIFY(!EditAction("editUndo")->isEnabled());
    Key(Qt::Key_Z, Qt::ControlModifier);  // nothing more to undo
    QCOMPARE(Now(), s0);
    // Forward again with Ctrl+Shift+Z and the menu's Redo.
    Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(Now(), s1);
    QCOMPARE(g_pAlignView->Frame(), SyncFrame(*g_pAlignDoc, 2));  // the shown frame follows
    EditAction("editRedo")->trigger();
    QCOMPARE(Now(), s2);
    EditAction("editRedo")->trigger();
    QCOMPARE(Now(), s3);
    QVERIFY(!EditAction("editRedo")->isEnabled());

    // A new change after an undo drops what could be redone.
    EditAction("editUndo")->trigger();
    g_pMainFrame->RaiseAlignWindow();
    QVERIFY(m_p->Command(cmd::kMirror1));
    QCOMPARE(Stack().count(), 3);
    QCOMPARE(Stack().undoText(), QString("Mirror 1"));
    QVERIFY(!Stack().canRedo());
    EditAction("editUndo")->trigger();
    QCOMPARE(Now(), s2);
  }

  void changesThatChangeNothingAreNoStepAndSourcesClearTheStack() {
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_left.png"), 3));
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_right.png"), 3));
    // Reset size of a source at its own size: nothing changed, no step.
    QVERIFY(m_p->Command(cmd::kResetSize1));
    QCOMPARE(Stack().count(), 0);
    QVERIFY(m_p->Command(cmd::kMirror2));
    QCOMPARE(Stack().count(), 1);
    // Deleting a source is a step of its own; loading one empties the stack.
    QVERIFY(m_p->Command(cmd::kDeleteSource2));
    QCOMPARE(Stack().count(), 2);
    QCOMPARE(Stack().undoText(), QString("Delete source 2"));
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_right.png"), 3));
    QCOMPARE(Stack().count(), 0);
    QVERIFY(m_p->Command(cmd::kMirror2));
    QCOMPARE(Stack().count(), 1);
    QVERIFY(m_p->Command(cmd::kDeleteSource1));
    QCOMPARE(Stack().count(), 2);
    QVERIFY(m_p->Command(cmd::kMirror1) == false);
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_left.png"), 3));
    QCOMPARE(Stack().count(), 0);
    QVERIFY(!EditAction("editUndo")->isEnabled());
  }
};

QTEST_MAIN(TestDesktop)
#include "test_desktop.moc"
