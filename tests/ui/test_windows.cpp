// The real program driven in-process on the offscreen platform: start-up,
// opening sources, the enabling of every command per active window through the
// route, the menu and the keyboard, the Target and its Zone, saving, printing,
// deleting a source and the closing rules.
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QTreeView>
#include <QMdiArea>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "engine/tessara_doc.h"
#include "framework/registry.h"
#include "ui/common/modal.h"
#include "ui/common/qt_settings.h"
#include "ui/common/qt_user_interface.h"
#include "ui/common/status_line.h"
#include "ui/common/status_text.h"
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

QString PaneText(int pane) { return g_pMainFrame->StatusLine().Pane(pane)->ShownText(); }

QMdiSubWindow* Active() { return g_pMainFrame->MdiArea()->currentSubWindow(); }

void Mouse(QWidget* w, QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons buttons,
           Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QMouseEvent e(type, p, w->mapToGlobal(p), button, buttons, mods);
  QApplication::sendEvent(w, &e);
}

// Counts the changes of a window's title.
class TitleCounter : public QObject {
 public:
  explicit TitleCounter(QWidget* w) : m_pWidget(w) { w->installEventFilter(this); }
  ~TitleCounter() override { m_pWidget->removeEventFilter(this); }
  int changes = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::WindowTitleChange) ++changes;
    return false;
  }

 private:
  QWidget* m_pWidget;
};

// Runs a real event loop for `ms` milliseconds, woken every few milliseconds as
// a busy desktop wakes it, so that the idle work runs many times.
void RunLoopFor(int ms) {
  QEventLoop loop;
  QTimer wake;
  QObject::connect(&wake, &QTimer::timeout, [] {});
  wake.start(3);
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Sends `widget` a key event with the given time, as the X server does for a
// held key: a release and a press with the same time, which Qt does not always
// mark as a repetition.
void SendKey(QWidget* widget, QEvent::Type type, int key, bool autoRepeat, ulong time) {
  const QString text = key == Qt::Key_Space ? QStringLiteral(" ") : key == Qt::Key_Return ? QStringLiteral("\r") : QString();
  QKeyEvent e(type, key, Qt::NoModifier, text, autoRepeat);
  e.setTimestamp(time);
  QApplication::sendEvent(widget, &e);
}

// Records the addresses the program asks the desktop to open.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls << url; }
};

}  // namespace

class TestWindows : public QObject {
  Q_OBJECT
  std::unique_ptr<CProgramUnderTest> m_p;
  QTemporaryDir m_dir;

  void OpenPair() { QVERIFY(m_p->OpenCoffeePair()); }

  // Opens the pair and builds the Target with the space bar held, answering
  // the stop question Yes.
  void OpenPairAndStopGeneration() {
    OpenPair();
    g_pMainFrame->RaiseTargetWindow();
    CQtUserInterface::Instance()->SetSpaceBarDown(true);
    m_p->m_answers = {QMessageBox::Yes};
    QTest::mouseClick(g_pTargetView->GenerateButton(), Qt::LeftButton);
    CQtUserInterface::Instance()->SetSpaceBarDown(false);
  }

  void OpenPairAndGenerate() {
    OpenPair();
    g_pMainFrame->RaiseTargetWindow();
    QVERIFY(g_pTargetView->GenerateButton());
    QTest::mouseClick(g_pTargetView->GenerateButton(), Qt::LeftButton);
    QVERIFY(g_pDestDoc->m_pTarget);
    m_p->Idle();
  }
  // Drags a Zone on the Target view from `a` to `b` (window points).
  void DragZone(QPoint a, QPoint b, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* vp = g_pTargetView->viewport();
    Mouse(vp, QEvent::MouseButtonPress, a, Qt::LeftButton, Qt::LeftButton);
    Mouse(vp, QEvent::MouseMove, (a + b) / 2, Qt::NoButton, Qt::LeftButton, mods);
    Mouse(vp, QEvent::MouseMove, b, Qt::NoButton, Qt::LeftButton, mods);
    Mouse(vp, QEvent::MouseButtonRelease, b, Qt::LeftButton, Qt::NoButton, mods);
  }

 private slots:
  void initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(m_dir.isValid());
  }

  void init() {
    m_p = std::make_unique<CProgramUnderTest>();
    QVERIFY(m_p->Start());
  }

  void cleanup() { m_p.reset(); }

  void startUpShowsTheFixedWindowsAlignOnTop() {
    const QList<QMdiSubWindow*> windows = g_pMainFrame->MdiArea()->subWindowList();
    QCOMPARE(windows.size(), 2);
    QCOMPARE(windows[0]->windowTitle(), QString("Target Window"));
    QCOMPARE(windows[1]->windowTitle(), QString("Align Window"));
    QCOMPARE(Active(), static_cast<QMdiSubWindow*>(g_pAlignFrame));
    QCOMPARE(g_pMainFrame->windowTitle(), QString("Tessara - Align Window"));
    QCOMPARE(g_nSourcesLoaded, 0);
    QVERIFY(g_pAlignView->LoadButton());
    QVERIFY(!g_pTargetView->GenerateButton());
    QVERIFY(m_p->m_boxes.isEmpty());
    // Pane 1 comes from the idle work.
    QCOMPARE(PaneText(1), QString("Zone size"));
    QEventLoop loop;  // a real loop, which waits when it has nothing to do
    QTimer::singleShot(50, &loop, &QEventLoop::quit);
    loop.exec();
    QCOMPARE(PaneText(1), QString("Awaiting load of both sources."));
    QCOMPARE(PaneText(0), QString("For Help, press F1"));
    QCOMPARE(PaneText(2), QString("Process"));
    QCOMPARE(PaneText(3), QString("Progress Bar"));
    const int widths[4] = {200, 200, 200, 100};
    for (int i = 0; i < 4; ++i) QCOMPARE(g_pMainFrame->StatusLine().Pane(i)->width(), widths[i]);
  }

  void maximizingAChildSetsTheFrameTitleOnce() {
    QMdiSubWindow* align = g_pAlignFrame;
    RunLoopFor(50);
    TitleCounter counter(g_pMainFrame);
    align->showMaximized();
    RunLoopFor(300);
    QVERIFY(align->isMaximized());
    QVERIFY2(counter.changes <= 3, qPrintable(QString::number(counter.changes)));
    QCOMPARE(g_pMainFrame->windowTitle(), QString("Tessara - [Align Window]"));
    // Another maximized window brought forward, and a change of its title.
    counter.changes = 0;
    g_pMainFrame->RaiseTargetWindow();
    RunLoopFor(100);
    QCOMPARE(g_pMainFrame->windowTitle(), QString("Tessara - [Target Window]"));
    g_pDestDoc->SetTitle("Target Window - needs updating");
    RunLoopFor(100);
    QCOMPARE(g_pMainFrame->windowTitle(), QString("Tessara - [Target Window - needs updating]"));
    QVERIFY2(counter.changes <= 6, qPrintable(QString::number(counter.changes)));
    // Restored: the plain form again, and it stays.
    counter.changes = 0;
    static_cast<QMdiSubWindow*>(g_pTargetFrame)->showNormal();
    RunLoopFor(300);
    QVERIFY(!static_cast<QMdiSubWindow*>(g_pTargetFrame)->isMaximized());
    QCOMPARE(g_pMainFrame->windowTitle(), QString("Tessara - Target Window - needs updating"));
    QVERIFY2(counter.changes <= 3, qPrintable(QString::number(counter.changes)));
  }

  void trueColourNoteComesBeforeTheWindows() {
    m_p.reset();
    m_p = std::make_unique<CProgramUnderTest>();
    bool windowsExisted = true;
    m_p->m_otherDialog = nullptr;
    CTessaraApp::SetDisplayColoursForTest(256);
    SetModalHook([&](QDialog& d) -> std::optional<int> {
      auto* box = qobject_cast<QMessageBox*>(&d);
      if (!box) return QDialog::Rejected;
      m_p->m_boxes.append({box->windowTitle(), box->text(), int(box->standardButtons()), int(box->icon())});
      windowsExisted = g_pTargetView != nullptr || g_pAlignView != nullptr;
      return int(QMessageBox::Ok);
    });
    auto app = std::make_unique<CTessaraApp>();
    QVERIFY(app->InitInstance());
    QCOMPARE(m_p->MessageTexts(),
             QStringList{"Please note that this program works best with your display set to true color."});
    QCOMPARE(m_p->m_boxes[0].title, QString("Tessara"));
    QVERIFY(!windowsExisted);
    app.reset();
    CTessaraApp::SetDisplayColoursForTest(0);
    m_p = std::make_unique<CProgramUnderTest>();  // puts its own hook back
    QVERIFY(m_p->Start());
  }

  void openingTwoSourcesPreparesTheAlignPreview() {
    QStringList titles;
    QStringList filters;
    m_p->m_fileDialog = [&](CMyfiledialog& d) {
      titles << d.windowTitle();
      filters = d.nameFilters();
      return test::AnswerFileDialog(d, TestData("pairs/coffee_left.png"), 4);
    };
    QVERIFY(m_p->Command(cmd::kFileOpen));
    QCOMPARE(g_nSourcesLoaded, 1);
    QCOMPARE(filters.size(), 8);
    QCOMPARE(filters[0], QString("All Pictures (*.bmp *.jpg *.jpeg *.jpe *.png *.tif *.tiff *.tga *.pcx)"));
    QCOMPARE(filters[2], QString("Jpeg Files (*.jpg *.jpeg *.jpe)"));
    m_p->Idle();
    QCOMPARE(PaneText(1), QString("Awaiting load of 2nd source."));
    QCOMPARE(Active(), static_cast<QMdiSubWindow*>(g_pAlignFrame));
    QVERIFY(g_pAlignView->LoadButton());
    QCOMPARE(static_cast<QMdiSubWindow*>(g_pSourceFrames[0])->windowTitle(), QString("Source 1: coffee_left.png"));
    // Remembered: the folder with its separator, and the filter.
    QSettings store(kCompanyKey, kApplicationName);
    QCOMPARE(store.value("Configure/Last Open Directory").toString(), TestData("pairs/"));
    QCOMPARE(store.value("Configure/Last Open Extension").toInt(), 3);

    m_p->m_fileDialog = [&](CMyfiledialog& d) {
      titles << d.windowTitle();
      return test::AnswerFileDialog(d, TestData("pairs/coffee_right.png"), 3);
    };
    QVERIFY(m_p->Command(cmd::kFileOpen));
    QCOMPARE(titles, (QStringList{"Open Source Window 1", "Open Source Window 2"}));
    QCOMPARE(g_nSourcesLoaded, 2);
    QCOMPARE(g_pSourceViews[1]->m_nSource, 2);
    QVERIFY(g_pDestDoc->m_pSource1 && g_pDestDoc->m_pSource2);
    QCOMPARE(g_pAlignDoc->m_bAlignValid, 1);
    QVERIFY(g_pAlignDoc->m_pPreview);
    QTest::qWait(10);
    QVERIFY(!g_pAlignView->LoadButton());
    QVERIFY(g_pTargetView->GenerateButton());
    QCOMPARE(Active(), static_cast<QMdiSubWindow*>(g_pAlignFrame));
    m_p->Idle();
    QCOMPARE(PaneText(1), QString("Predicted target size = 380 X 400"));
    // A third source is refused before any dialog.
    titles.clear();
    QVERIFY(m_p->Command(cmd::kFileOpen));
    QVERIFY(titles.isEmpty());
    QCOMPARE(m_p->MessageTexts(), QStringList{"No more than two source images allowed."});
  }

  void openDialogRemembersFolderAndFilterButNotOnCancel() {
    QSettings store(kCompanyKey, kApplicationName);
    QString startDir;
    int startFilter = 0;
    m_p->m_fileDialog = [&](CMyfiledialog& d) {
      startDir = d.directory().absolutePath();
      startFilter = d.GetFilterIndex();
      return int(QDialog::Rejected);
    };
    m_p->Command(cmd::kFileOpen);
    QCOMPARE(startFilter, 1);  // All Pictures on the very first run
    QVERIFY(!store.contains("Configure/Last Open Directory"));  // cancel writes nothing
    const auto probe = m_p->m_fileDialog;
    QVERIFY(m_p->OpenSource(TestData("pairs/chelsea_top.tga"), 8));
    m_p->m_fileDialog = probe;
    m_p->Command(cmd::kFileOpen);
    QCOMPARE(startDir, QDir(TestData("pairs")).absolutePath());
    QCOMPARE(startFilter, 8);
    // All Files is remembered as 7, as it always was; All Pictures as 8, and
    // a value remembered before it came first still names its filter.
    QCOMPARE(store.value("Configure/Last Open Extension").toInt(), 7);
    store.setValue("Configure/Last Open Extension", 2);
    m_p->Command(cmd::kFileOpen);
    QCOMPARE(startFilter, 3);  // Jpeg
    QVERIFY(m_p->OpenSource(TestData("pairs/chelsea_bottom.pcx"), 1));
    QCOMPARE(store.value("Configure/Last Open Extension").toInt(), 8);
  }

  void failedLoadStillRemembersAndLeavesNothing() {
    const QString bad = m_dir.filePath("not_a_picture.txt");
    QFile f(bad);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("hello");
    f.close();
    QVERIFY(!m_p->OpenSource(bad, 8));
    QCOMPARE(g_nSourcesLoaded, 0);
    QCOMPARE(m_p->MessageTexts().size(), 1);
    QVERIFY(m_p->MessageTexts()[0].startsWith("Unable to load this picture file\nnot_a_picture.txt: "));
    QCOMPARE(QSettings(kCompanyKey, kApplicationName).value("Configure/Last Open Directory").toString(),
             m_dir.path() + '/');
    QVERIFY(!g_pSourceFrames[0] && !g_pSourceViews[0] && !g_pSourceDocs[0]);
    QCOMPARE(g_pMainFrame->MdiArea()->subWindowList().size(), 2);
  }

  // Every way a load can fail leaves no source window or document behind, and
  // says why in the program's words, in order.
  void loadFailuresSayWhyAndLeaveNothing() {
    // A TIFF of 23000 x 23000 pixels in a few dozen bytes.
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    auto u16 = [&](int v) { tiff.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF)); };
    auto u32 = [&](quint32 v) { u16(int(v & 0xFFFF)), u16(int(v >> 16)); };
    const int tags[][3] = {{256, 4, 23000}, {257, 4, 23000}, {258, 3, 8},     {259, 3, 32773},
                           {262, 3, 1},     {273, 4, 130},   {277, 3, 1},     {278, 4, 23000},
                           {279, 4, 40}};
    u16(9);
    for (const auto& t : tags) {
      u16(t[0]), u16(t[1]), u32(1);
      if (t[1] == 3)
        u16(t[2]), u16(0);
      else
        u32(quint32(t[2]));
    }
    u32(0);
    while (tiff.size() < 130) tiff.append('\0');
    for (int i = 0; i < 20; ++i) tiff.append(char(0x81)).append('\0');
    const QString huge = m_dir.filePath("huge.tif");
    QFile f(huge);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(tiff);
    f.close();
    const QString pipe = m_dir.filePath("pipe.png");
    QVERIFY(QProcess::execute("mkfifo", {pipe}) == 0);
    struct Case {
      QString path;
      QStringList messages;
    } cases[] = {
        {TestData("broken/tga_depth_12.tga"),
         {"bad TGA header", "Unable to load this picture file\ntga_depth_12.tga: bad TGA header"}},
        {TestData("broken/bmp_13_bytes.bmp"),
         {"Cannot load this file", "Unable to load this picture file\nbmp_13_bytes.bmp: The file is too short to be a bitmap."}},
        {pipe, {"Failed to open document.\npipe.png: Not a regular file"}},
        {m_dir.filePath("missing.png"), {"Failed to open document.\nmissing.png: No such file or directory"}},
    };
    for (const Case& c : cases) {
      m_p->m_boxes.clear();
      QVERIFY2(!m_p->OpenSource(c.path, 8), qPrintable(c.path));
      QCOMPARE(m_p->MessageTexts(), c.messages);
      QCOMPARE(g_nSourcesLoaded, 0);
      QVERIFY(!g_pSourceFrames[0] && !g_pSourceViews[0] && !g_pSourceDocs[0]);
      QCOMPARE(g_pMainFrame->MdiArea()->subWindowList().size(), 2);
    }
    // The oversized picture: refused by the decoder before its memory is taken.
    m_p->m_boxes.clear();
    QVERIFY(!m_p->OpenSource(huge, 8));
    QCOMPARE(m_p->MessageTexts().size(), 2);
    QVERIFY(!m_p->MessageTexts()[0].isEmpty());
    QVERIFY(m_p->MessageTexts()[1].startsWith("Unable to load this picture file\nhuge.tif: "));
    QCOMPARE(g_nSourcesLoaded, 0);
    QVERIFY(!g_pSourceDocs[0]);
  }

  // A large picture fills the progress pane while it loads; the space bar asks
  // whether to stop, and Yes stops it with no other message and no window left.
  // A stopped recent file stays on the list.
  void largeLoadStopsOnTheStopKey() {
    const int side = 3000;
    QByteArray tga(18 + side * side, char(0x80));
    tga.replace(0, 18, QByteArray(18, '\0'));
    tga[2] = 3;
    tga[12] = char(side & 0xFF), tga[13] = char(side >> 8), tga[14] = char(side & 0xFF), tga[15] = char(side >> 8);
    tga[16] = 8;
    const QString big = m_dir.filePath("big.tga");
    QFile f(big);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(tga);
    f.close();

    QVERIFY(m_p->OpenSource(big, 8));
    QCOMPARE(g_nSourcesLoaded, 1);
    QCOMPARE(g_pMainFrame->StatusLine().Pane(kPaneProgress)->ProgressColour(), std::optional<QColor>(QColor(128, 128, 128)));
    QVERIFY(m_p->Command(cmd::kDeleteSource1));
    QCOMPARE(g_nSourcesLoaded, 0);

    CQtUserInterface::Instance()->SetSpaceBarDown(true);
    m_p->m_answers = {QMessageBox::Yes};
    QVERIFY(!m_p->OpenSource(big, 8));
    QCOMPARE(m_p->MessageTexts(), QStringList{"Do you really want to quit ?"});
    QCOMPARE(g_nSourcesLoaded, 0);
    QVERIFY(!g_pSourceFrames[0] && !g_pSourceDocs[0]);
    QCOMPARE(g_pMainFrame->MdiArea()->subWindowList().size(), 2);

    m_p->m_boxes.clear();
    m_p->m_answers = {QMessageBox::Yes};
    QVERIFY(m_p->Command(cmd::kFileMru1));
    CQtUserInterface::Instance()->SetSpaceBarDown(false);
    QCOMPARE(m_p->MessageTexts(), QStringList{"Do you really want to quit ?"});
    QCOMPARE(g_nSourcesLoaded, 0);
    QVERIFY(m_p->App().RecentFiles().Files().contains(QDir(m_dir.path()).absoluteFilePath("big.tga")));
  }

  void fileDialogIsTwoHundredPixelsTaller() {
    CMyfiledialog mine(true, kOpenFilter);
    QFileDialog plain;
    plain.setOption(QFileDialog::DontUseNativeDialog, true);
    plain.setNameFilters(mine.Filters());
    mine.show();
    plain.show();
    QApplication::processEvents();
    QCOMPARE(mine.width(), plain.width());
    QCOMPARE(mine.height(), plain.height() + 200);
    // The file list is whichever of the list and detail views shows.
    auto shownList = [](QFileDialog& d) -> QWidget* {
      QWidget* list = d.findChild<QListView*>("listView");
      return list && list->isVisible() ? list : d.findChild<QTreeView*>("treeView");
    };
    QWidget* list = shownList(mine);
    QWidget* plainList = shownList(plain);
    QVERIFY(list && plainList);
    QCOMPARE(list->height(), plainList->height() + 200);
    auto* name = mine.findChild<QLineEdit*>("fileNameEdit");
    auto* plainName = plain.findChild<QLineEdit*>("fileNameEdit");
    QCOMPARE(name->mapTo(&mine, QPoint()).y(), plainName->mapTo(&plain, QPoint()).y() + 200);
    QCOMPARE(name->height(), plainName->height());
  }

  void realFileDialogOpensTypedName() {
    // No hook for the file dialog: the user types a name and presses Enter.
    m_p->m_fileDialog = nullptr;
    tessara::SetModalHook(nullptr);
    QTimer::singleShot(200, [] {
      auto* dialog = qobject_cast<CMyfiledialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      dialog->findChild<QLineEdit*>("fileNameEdit")->setText(TestData("pairs/coffee_left.png"));
      QMetaObject::invokeMethod(dialog, "accept");
    });
    m_p->Command(cmd::kFileOpen);
    QCOMPARE(g_nSourcesLoaded, 1);
    m_p = std::make_unique<CProgramUnderTest>();  // hooks back for the rest
    QVERIFY(m_p->Start());
  }

  void enablingFollowsTheActiveWindow() {
    auto enabled = [](int id) { return g_pMainFrame->IsCommandEnabled(id); };
    const int tools[] = {cmd::kFineAlignment, cmd::kMergeSources, cmd::kContrastBrightness,
                         cmd::kCylindricalProjection, cmd::kGridLines};
    const int align[] = {cmd::kRotate, cmd::kMirror1, cmd::kCopySize2To1};
    // No source, Align Window active.
    for (int id : {cmd::kFileOpen, cmd::kFilePrintSetup, cmd::kAppExit, cmd::kViewAlign, cmd::kViewTarget,
                   cmd::kWindowCascade, cmd::kWindowTile, cmd::kHelpFinder, cmd::kHelp, cmd::kAppAbout})
      QVERIFY2(enabled(id), qPrintable(QString::number(id)));
    for (int id : {cmd::kFileSaveAs, cmd::kFilePrint, cmd::kFilePrintPreview, cmd::kViewSource1, cmd::kViewSource2,
                   cmd::kDeleteSource1, cmd::kDeleteSource2, cmd::kSnap1, cmd::kContextHelp, cmd::kNextPane})
      QVERIFY2(!enabled(id), qPrintable(QString::number(id)));
    OpenPairAndGenerate();
    // Target Window active, Target up to date.
    QCOMPARE(Active(), static_cast<QMdiSubWindow*>(g_pTargetFrame));
    for (int id : {cmd::kFileSaveAs, cmd::kFilePrint, cmd::kFilePrintPreview, cmd::kSnap1, cmd::kSnap16,
                   cmd::kDeleteSource1, cmd::kDeleteSource2, cmd::kViewSource1, cmd::kViewSource2})
      QVERIFY2(enabled(id), qPrintable(QString::number(id)));
    for (int id : tools) QVERIFY(enabled(id));
    // Align Window active: Save as greyed although the Target is up to date.
    g_pMainFrame->RaiseAlignWindow();
    QVERIFY(g_pDestDoc->m_bUpToDate);
    for (int id : {cmd::kFileSaveAs, cmd::kFilePrint, cmd::kSnap1}) QVERIFY(!enabled(id));
    for (int id : align) QVERIFY(enabled(id));
    // A Source Window active: only DELETE of the Target menu.
    g_pMainFrame->RaiseChild(g_pSourceFrames[1]);
    for (int id : {cmd::kFileSaveAs, cmd::kFilePrint, cmd::kFilePrintPreview, cmd::kSnap5}) QVERIFY(!enabled(id));
    for (int id : tools) QVERIFY(!enabled(id));
    QVERIFY(enabled(cmd::kDeleteSource1) && enabled(cmd::kDeleteSource2));
    m_p->Idle();
    QCOMPARE(PaneText(1), QString("This is source 2"));
  }

  void menusAreEnabledBeforeTheyShow() {
    QMenu* file = g_pMainFrame->MenuNamed("File");
    QMenu* view = g_pMainFrame->MenuNamed("View");
    QVERIFY(file && view);
    QMetaObject::invokeMethod(view, "aboutToShow");
    QVERIFY(!g_pMainFrame->Action(cmd::kViewSource1)->isEnabled());
    QVERIFY(g_pMainFrame->Action(cmd::kViewAlign)->isEnabled());
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_left.png")));
    QMetaObject::invokeMethod(view, "aboutToShow");
    QVERIFY(g_pMainFrame->Action(cmd::kViewSource1)->isEnabled());
    QVERIFY(!g_pMainFrame->Action(cmd::kViewSource2)->isEnabled());
    // The recent file is listed in the File menu.
    QMetaObject::invokeMethod(file, "aboutToShow");
    bool listed = false;
    for (QAction* a : file->actions()) listed |= a->text().endsWith("coffee_left.png") && a->isEnabled();
    QVERIFY(listed);
    // A disabled item does nothing when triggered.
    g_pMainFrame->Action(cmd::kViewSource2)->trigger();
    QCOMPARE(Active(), static_cast<QMdiSubWindow*>(g_pAlignFrame));
    // The status line shows the highlighted item's prompt.
    QStatusTipEvent tip(g_pMainFrame->Action(cmd::kFileOpen)->statusTip());
    QApplication::sendEvent(g_pMainFrame, &tip);
    QCOMPARE(PaneText(0), QString("Open an existing image"));
    QStatusTipEvent none{QString()};
    QApplication::sendEvent(g_pMainFrame, &none);
    QCOMPARE(PaneText(0), QString("For Help, press F1"));
  }

  void statusPanesShowTheirTextsWhole() {
    CStatusPane* message = g_pMainFrame->StatusLine().Pane(0);
    const QString prompt = g_pMainFrame->Action(cmd::kResetSize1)->statusTip();
    QCOMPARE(prompt, QString("Reset sizeof source 1 image to 100% of original"));
    QStatusTipEvent tip(prompt);
    QApplication::sendEvent(g_pMainFrame, &tip);
    QApplication::processEvents();
    QVERIFY2(message->contentsRect().width() >= message->fontMetrics().horizontalAdvance(prompt) + 2,
             qPrintable(QString::number(message->width())));
    QStatusTipEvent none{QString()};
    QApplication::sendEvent(g_pMainFrame, &none);
    QCOMPARE(message->width(), 200);
    // The progress pane shows the bar alone, no stub of its own text beside it.
    CStatusPane* progress = g_pMainFrame->StatusLine().Pane(3);
    progress->PaintProgress(QColor(0, 255, 255), 30);
    const QImage shown = progress->grab().toImage();
    const QRect rest = progress->contentsRect().adjusted(32, 0, -2, 0);
    int ink = 0;
    for (int y = rest.top(); y <= rest.bottom(); ++y)
      for (int x = rest.left(); x <= rest.right(); ++x) ink += qGray(shown.pixel(x, y)) < 128;
    QCOMPARE(ink, 0);
  }

  void acceleratorsRunOnlyEnabledCommands() {
    QTest::keyClick(g_pMainFrame, '3');
    QCOMPARE(Active(), static_cast<QMdiSubWindow*>(g_pTargetFrame));
    QTest::keyClick(g_pMainFrame, 'A');  // a capital A is not the accelerator
    QCOMPARE(Active(), static_cast<QMdiSubWindow*>(g_pTargetFrame));
    QTest::keyClick(g_pMainFrame, 'a');
    QCOMPARE(Active(), static_cast<QMdiSubWindow*>(g_pAlignFrame));
    QTest::keyClick(g_pMainFrame, '1');  // no source: nothing
    QCOMPARE(Active(), static_cast<QMdiSubWindow*>(g_pAlignFrame));
    OpenPair();
    QTest::keyClick(g_pMainFrame, '2');
    QCOMPARE(Active(), static_cast<QMdiSubWindow*>(g_pSourceFrames[1]));
    QTest::keyClick(g_pMainFrame, '1');
    QCOMPARE(Active(), static_cast<QMdiSubWindow*>(g_pSourceFrames[0]));
    // "S" with a Source Window active: Save as is disabled, no dialog.
    QTest::keyClick(g_pMainFrame, 'S');
    QVERIFY(m_p->m_fileDialogTitles.size() == 2);
    // Ctrl+O with two sources: the refusal.
    QTest::keyClick(g_pMainFrame, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(m_p->MessageTexts(), QStringList{"No more than two source images allowed."});
    // Keys typed into a child window reach the accelerators too.
    QTest::keyClick(g_pSourceViews[0]->viewport(), '3');
    QCOMPARE(Active(), static_cast<QMdiSubWindow*>(g_pTargetFrame));
  }

  void helpOpensThePageNamedAfterTheProgram() {
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("file", &recorder, "open");
    QTest::keyClick(g_pMainFrame, Qt::Key_F1);
    m_p->Command(cmd::kHelpFinder);
    g_pMainFrame->RaiseTargetWindow();
    m_p->Command(cmd::kHelp);
    QDesktopServices::unsetUrlHandler("file");
    QCOMPARE(recorder.urls.size(), 3);
    QVERIFY(recorder.urls[0].toLocalFile().endsWith("/tessara.html"));
    QVERIFY(QFile::exists(recorder.urls[0].toLocalFile()));
    QCOMPARE(recorder.urls[0].fragment(), QString("align-window"));
    QCOMPARE(recorder.urls[1].fragment(), QString());
    QCOMPARE(recorder.urls[2].fragment(), QString("target-window"));
    // The help page explains every window it links to.
    QFile page(recorder.urls[0].toLocalFile());
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QByteArray html = page.readAll();
    for (const char* id : {"id=\"align-window\"", "id=\"target-window\"", "id=\"source-windows\""})
      QVERIFY2(html.contains(id), id);
  }

  void helpWithoutABrowserSaysWhereThePageIs() {
    // Nothing on the offscreen desktop opens a web page.
    QTest::keyClick(g_pMainFrame, Qt::Key_F1);
    QCOMPARE(m_p->m_boxes.size(), 1);
    const QString text = m_p->m_boxes[0].text;
    QVERIFY2(text.startsWith("Open the help page in a web browser: /"), qPrintable(text));
    QVERIFY(text.endsWith("/tessara.html"));
    QVERIFY(QFile::exists(text.mid(text.indexOf('/'))));
  }

  void aboutBoxRunsModally() {
    m_p->Command(cmd::kAppAbout);
    QCOMPARE(m_p->m_otherDialogs, QStringList{"tessara::CAboutDialog"});
  }

  void generateFromTheButton() {
    OpenPair();
    g_pMainFrame->RaiseTargetWindow();
    m_p->Idle();
    QCOMPARE(PaneText(1), QString("Target needs updating"));
    QTest::mouseClick(g_pTargetView->GenerateButton(), Qt::LeftButton);
    QVERIFY(g_pDestDoc->m_pTarget);
    QCOMPARE(g_pDestDoc->m_bUpToDate, 1);
    QCOMPARE(g_pTargetFrame->windowTitle(), QString("Target Window"));
    QTest::qWait(10);
    QVERIFY(!g_pTargetView->GenerateButton());
    m_p->Idle();
    QCOMPARE(PaneText(1), QString("Actual target size = 380 X 400"));
    QCOMPARE(g_pTargetView->TotalSize(), QSize(380, 400));
    // The picture is drawn 1:1 at the view's origin.
    g_pMainFrame->resize(1000, 800);
    QApplication::processEvents();
    const QImage shown = g_pTargetView->viewport()->grab().toImage();
    const QImage source(TestData("pairs/coffee_left.png"));
    const QImage other(TestData("pairs/coffee_right.png"));
    const QRgb a = source.pixel(10, 10), b = other.pixel(10, 10);
    const QRgb s = shown.pixel(10, 10);
    QVERIFY(qAbs(qRed(s) - (qRed(a) + qRed(b)) / 2) <= 1);  // the average of both
  }

  void spaceBarStopsGenerationAfterTheQuestion() {
    OpenPairAndStopGeneration();
    QCOMPARE(m_p->m_boxes.size(), 1);
    QCOMPARE(m_p->m_boxes[0].text, QString("Do you really want to quit ?"));
    QCOMPARE(m_p->m_boxes[0].title, QString("Tessara"));
    QCOMPARE(m_p->m_boxes[0].buttons, int(QMessageBox::Yes | QMessageBox::No));
    QCOMPARE(m_p->m_boxes[0].icon, int(QMessageBox::Question));
    QVERIFY(!g_pDestDoc->m_pTarget);
  }

  void stoppedGenerationLeavesNothingToSaveOrPrint() {
    OpenPairAndStopGeneration();
    QCOMPARE(m_p->MessageTexts(), QStringList{"Do you really want to quit ?"});
    QVERIFY(!g_pDestDoc->m_pTarget);
    QCOMPARE(g_pDestDoc->m_bUpToDate, 0);
    QCOMPARE(g_pTargetFrame->windowTitle(), QString("Target Window - needs updating"));
    QCOMPARE(g_pMainFrame->windowTitle(), QString("Tessara - Target Window - needs updating"));
    m_p->Idle();
    QCOMPARE(PaneText(1), QString("Target needs updating"));
    for (int id : {cmd::kFileSaveAs, cmd::kFilePrint, cmd::kFilePrintPreview})
      QVERIFY2(!g_pMainFrame->IsCommandEnabled(id), qPrintable(QString::number(id)));
    QTest::keyClick(g_pMainFrame, 's');
    QVERIFY(m_p->m_fileDialogTitles.size() == 2);  // the two opens only
    // Should the flag claim a Target all the same, each output command says
    // there is none instead of writing an empty file or page.
    g_pDestDoc->m_bUpToDate = 1;
    m_p->m_boxes.clear();
    m_p->m_otherDialog = [](QDialog&) { return int(QDialog::Accepted); };
    QVERIFY(m_p->Command(cmd::kFileSaveAs));
    QVERIFY(m_p->Command(cmd::kFilePrint));
    QVERIFY(m_p->Command(cmd::kFilePrintPreview));
    const QString none("Cannot proceed: generate the Target first.");
    QCOMPARE(m_p->MessageTexts(), (QStringList{none, none, none}));
    QCOMPARE(m_p->m_fileDialogTitles.size(), 2);
    QVERIFY(m_p->m_otherDialogs.isEmpty());
    m_p->Idle();
    QCOMPARE(PaneText(1), QString("Target needs updating"));  // not "1 X 1"
  }

  void heldSpaceBarDoesNotAnswerTheStopQuestion() {
    // The question runs for real, and the space bar that brought it up is held
    // on: its repetitions must not answer it.
    SetModalHook([](QDialog&) -> std::optional<int> { return std::nullopt; });
    bool askedUntilEnter = false, defaultIsNo = false;
    QTimer::singleShot(50, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
      QWidget* to = box->focusWidget() ? box->focusWidget() : box;
      SendKey(to, QEvent::KeyRelease, Qt::Key_Space, false, 1000);
      SendKey(to, QEvent::KeyPress, Qt::Key_Space, false, 1000);
      SendKey(to, QEvent::KeyRelease, Qt::Key_Space, true, 1040);
      SendKey(to, QEvent::KeyPress, Qt::Key_Space, true, 1040);
      SendKey(to, QEvent::KeyRelease, Qt::Key_Space, false, 1080);
      SendKey(to, QEvent::KeyPress, Qt::Key_Space, false, 1080);
      SendKey(to, QEvent::KeyRelease, Qt::Key_Space, false, 1120);  // let go
      askedUntilEnter = box->isVisible();
      // Enter, pressed on purpose: the default answer.
      SendKey(to, QEvent::KeyPress, Qt::Key_Return, false, 2000);
      SendKey(to, QEvent::KeyRelease, Qt::Key_Return, false, 2050);
    });
    QApplication::postEvent(g_pMainFrame, new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " "));
    QCOMPARE(test::CheckAbortAsLongWork(), 0);
    QVERIFY(askedUntilEnter);
    QVERIFY(defaultIsNo);
    // Until it is pressed again on purpose, the key that asked reaches no
    // window (it would click the button that started the work again).
    QPushButton button("Generate");
    int clicks = 0;
    connect(&button, &QPushButton::clicked, [&] { ++clicks; });
    SendKey(&button, QEvent::KeyPress, Qt::Key_Space, false, 1120);
    SendKey(&button, QEvent::KeyRelease, Qt::Key_Space, false, 1160);
    QCOMPARE(clicks, 0);
    SendKey(&button, QEvent::KeyPress, Qt::Key_Space, false, 3000);
    SendKey(&button, QEvent::KeyRelease, Qt::Key_Space, false, 3100);
    QCOMPARE(clicks, 1);
  }

  void escapeStopsLongWorkToo() {
    bool defaultIsNo = false;
    SetModalHook([&](QDialog& d) -> std::optional<int> {
      auto* box = qobject_cast<QMessageBox*>(&d);
      if (!box) return int(QDialog::Rejected);
      m_p->m_boxes.append({box->windowTitle(), box->text(), int(box->standardButtons()), int(box->icon())});
      defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
      return int(QMessageBox::Yes);
    });
    QApplication::postEvent(g_pMainFrame, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    QCOMPARE(test::CheckAbortAsLongWork(), 1);
    QCOMPARE(m_p->MessageTexts(), QStringList{"Do you really want to quit ?"});
    QVERIFY(defaultIsNo);
    QApplication::postEvent(g_pMainFrame, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier));
    QCOMPARE(test::CheckAbortAsLongWork(), 0);
    QCOMPARE(m_p->m_boxes.size(), 1);
  }

  void typedKeysAreDiscardedDuringLongWork() {
    // A "3" waiting while the engine polls is thrown away, not run later.
    QCOMPARE(Active(), static_cast<QMdiSubWindow*>(g_pAlignFrame));
    QApplication::postEvent(g_pMainFrame, new QKeyEvent(QEvent::KeyPress, Qt::Key_3, Qt::NoModifier, "3"));
    QApplication::postEvent(g_pMainFrame, new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " "));
    QCOMPARE(test::CheckAbortAsLongWork(), 0);  // space pressed: asked, answered No
    QCOMPARE(m_p->MessageTexts(), QStringList{"Do you really want to quit ?"});
    QApplication::postEvent(g_pMainFrame, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " "));
    QApplication::processEvents();
    QCOMPARE(Active(), static_cast<QMdiSubWindow*>(g_pAlignFrame));
    QVERIFY(!CQtUserInterface::Instance()->IsSpaceBarDown());
  }

  void zoneDragWithSnapRefusalAndRightClick() {
    OpenPairAndGenerate();
    QVERIFY(m_p->Command(cmd::kSnap16));
    QCOMPARE(g_pTargetView->m_nSnap, 16);
    QWidget* vp = g_pTargetView->viewport();
    Mouse(vp, QEvent::MouseButtonPress, QPoint(37, 70), Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(g_pTargetView->m_ptZoneAnchor.x, 32);
    QCOMPARE(g_pTargetView->m_ptZoneAnchor.y, 64);
    QCOMPARE(g_pDestDoc->m_bZoneOnly, 1);
    m_p->Idle();
    QCOMPARE(PaneText(1), QString("Zone rectangle not set"));
    Mouse(vp, QEvent::MouseMove, QPoint(340, 275), Qt::NoButton, Qt::LeftButton);
    m_p->Idle();
    QCOMPARE(PaneText(1), QString("Zone width = 304  Zone height = 208"));
    Mouse(vp, QEvent::MouseButtonRelease, QPoint(340, 275), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(g_pTargetView->m_ptZoneCorner.x, 336);
    QCOMPARE(g_pDestDoc->m_bZoneOnly, 1);
    QVERIFY(m_p->m_boxes.isEmpty());
    // The outline is drawn dotted over the picture.
    const QImage shown = vp->grab().toImage();
    int dark = 0;
    for (int x = 40; x < 330; ++x) dark += qGray(shown.pixel(x, 64)) < 20;
    QVERIFY2(dark > 120, qPrintable(QString::number(dark)));
    // Coordinates while hovering, y counted from the bottom.
    Mouse(vp, QEvent::MouseMove, QPoint(120, 355), Qt::NoButton, Qt::NoButton);
    QCOMPARE(PaneText(2), QString("x = 112 y = 48"));
    // Too small: refused with the message, the Zone goes.
    DragZone(QPoint(100, 100), QPoint(200, 150));
    QCOMPARE(m_p->MessageTexts(),
             QStringList{"Zone dimensions are too small.\nHeight and width should be at least 64 pixels."});
    QCOMPARE(g_pDestDoc->m_bZoneOnly, 0);
    // A narrow drag is refused without a word.
    DragZone(QPoint(100, 100), QPoint(103, 300));
    QCOMPARE(m_p->m_boxes.size(), 1);
    // A right click clears a Zone; the status line shows the size again.
    DragZone(QPoint(0, 0), QPoint(200, 200));
    QCOMPARE(g_pDestDoc->m_bZoneOnly, 1);
    Mouse(vp, QEvent::MouseButtonPress, QPoint(50, 50), Qt::RightButton, Qt::RightButton);
    Mouse(vp, QEvent::MouseButtonRelease, QPoint(50, 50), Qt::RightButton, Qt::NoButton);
    QCOMPARE(g_pDestDoc->m_bZoneOnly, 0);
    m_p->Idle();
    QCOMPARE(PaneText(1), QString("Actual target size = 380 X 400"));
  }

  void autoScrollMovesTheViewDuringADrag() {
    OpenPairAndGenerate();
    g_pTargetFrame->resize(200, 200);
    QApplication::processEvents();
    QWidget* vp = g_pTargetView->viewport();
    const int cw = vp->width();
    Mouse(vp, QEvent::MouseButtonPress, QPoint(10, 10), Qt::LeftButton, Qt::LeftButton);
    Mouse(vp, QEvent::MouseMove, QPoint(cw + 20, 50), Qt::NoButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(g_pTargetView->ScrollPosition().x() >= 40, 2000);
    Mouse(vp, QEvent::MouseButtonRelease, QPoint(cw + 20, 50), Qt::LeftButton, Qt::NoButton);
    const int x = g_pTargetView->ScrollPosition().x();
    QTest::qWait(120);
    QCOMPARE(g_pTargetView->ScrollPosition().x(), x);  // stops with the drag
  }

  void saveAsInEachFormat() {
    OpenPairAndGenerate();
    const char* endings[] = {"bmp", "jpg", "png", "tif", "tga", "pcx"};
    const QByteArray magic[] = {"BM", "\xFF\xD8", "\x89PNG", "II*", "", "\x0A"};
    for (int i = 1; i <= 6; ++i) {
      const QString base = m_dir.filePath(QStringLiteral("target%1").arg(i));  // no ending: the filter's
      QString title;
      int filters = 0, mode = -1;
      m_p->m_fileDialog = [&](CMyfiledialog& d) {
        title = d.windowTitle();
        filters = d.nameFilters().size();
        mode = d.acceptMode();
        return test::AnswerFileDialog(d, base, i);
      };
      QTest::keyClick(g_pMainFrame, 's');
      QCOMPARE(title, QString("Save Target Image"));
      QCOMPARE(filters, 6);
      QCOMPARE(mode, int(QFileDialog::AcceptSave));
      const QString written = base + '.' + endings[i - 1];
      QFile f(written);
      QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(written));
      QVERIFY(f.read(4).startsWith(magic[i - 1]));
      QCOMPARE(QSettings(kCompanyKey, kApplicationName).value("Configure/Last Save Extension").toInt(), i);
    }
    QCOMPARE(QSettings(kCompanyKey, kApplicationName).value("Configure/Last Save Directory").toString(),
             m_dir.path() + '/');
    // The next dialog starts where the last save went, with its filter.
    int startFilter = 0;
    QString startDir;
    m_p->m_fileDialog = [&](CMyfiledialog& d) {
      startFilter = d.GetFilterIndex();
      startDir = d.directory().absolutePath();
      return int(QDialog::Rejected);
    };
    m_p->Command(cmd::kFileSaveAs);
    QCOMPARE(startFilter, 6);
    QCOMPARE(startDir, QDir(m_dir.path()).absolutePath());
    QVERIFY(m_p->m_boxes.isEmpty());
    // Saving a Zone: its title, and only the Zone is written.
    DragZone(QPoint(0, 0), QPoint(100, 80));
    const QString zoneFile = m_dir.filePath("zone.bmp");
    QString title;
    m_p->m_fileDialog = [&](CMyfiledialog& d) {
      title = d.windowTitle();
      return test::AnswerFileDialog(d, zoneFile, 1);
    };
    m_p->Command(cmd::kFileSaveAs);
    QCOMPARE(title, QString("Save Target Image  - Zone area only"));
    QCOMPARE(QImage(zoneFile).size(), QSize(100, 80));
    // The sources are prepared again after a save, so the Target still builds.
    QVERIFY(g_pDestDoc->m_pSource1 && g_pDestDoc->m_pSource2);
  }

  void saveAsAsksBeforeReplacingTheNameWithItsEnding() {
    OpenPairAndGenerate();
    const QString existing = m_dir.filePath("kept.png");
    QFile f(existing);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("keep me");
    f.close();
    m_p->m_fileDialog = [&](CMyfiledialog& d) { return test::AnswerFileDialog(d, m_dir.filePath("kept"), 3); };
    m_p->Command(cmd::kFileSaveAs);  // answered No
    QCOMPARE(m_p->m_boxes.size(), 1);
    QVERIFY(m_p->m_boxes[0].text.startsWith("kept.png already exists."));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("keep me"));
  }

  void printingPutsTheTargetAcrossThePage() {
    OpenPairAndGenerate();
    const QString pdf = m_dir.filePath("target.pdf");
    QPrinter& printer = ProgramPrinter();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    m_p->m_otherDialog = [](QDialog& d) {
      return qobject_cast<QPrintDialog*>(&d) ? int(QDialog::Accepted) : int(QDialog::Rejected);
    };
    QTest::keyClick(g_pMainFrame, Qt::Key_P, Qt::ControlModifier);
    QCOMPARE(m_p->m_otherDialogs, QStringList{"QPrintDialog"});
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("%PDF"));
    QCOMPARE(bytes.count("/Type /Page\n") + bytes.count("/Type /Page\r") + bytes.count("/Type /Page "), 1);
    QVERIFY(g_pDestDoc->m_pSource1 && g_pDestDoc->m_bUpToDate == 1);
    // Rendered by an independent reader when there is one: the picture spans the
    // printable width and keeps its proportions.
    const QString gs = QStandardPaths::findExecutable("gs");
    if (gs.isEmpty()) QSKIP("ghostscript is not installed");
    const QString png = m_dir.filePath("page.png");
    QProcess run;
    run.start(gs, {"-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=png16m", "-r40", "-sOutputFile=" + png, pdf});
    QVERIFY(run.waitForFinished(60000));
    const QImage page(png);
    QVERIFY(!page.isNull());
    const QRect printable = printer.pageLayout().paintRectPixels(40);
    int left = page.width(), right = -1, bottom = -1;
    for (int y = 0; y < page.height(); ++y)
      for (int x = 0; x < page.width(); ++x)
        if (page.pixel(x, y) != qRgb(255, 255, 255)) {
          left = qMin(left, x), right = qMax(right, x), bottom = qMax(bottom, y);
        }
    QVERIFY(qAbs(left - printable.left()) <= 2);
    QVERIFY(qAbs(right + 1 - printable.right() - 1) <= 2);
    const int expectedHeight = printable.width() * 400 / 380;
    QVERIFY2(qAbs(bottom + 1 - printable.top() - expectedHeight) <= 3,
             qPrintable(QString("%1 vs %2").arg(bottom + 1 - printable.top()).arg(expectedHeight)));
  }

  void printPreviewShowsOnePage() {
    OpenPairAndGenerate();
    int pages = -1;
    m_p->m_otherDialog = [&](QDialog& d) {
      if (auto* preview = d.findChild<QPrintPreviewWidget*>()) {
        preview->updatePreview();
        pages = preview->pageCount();
      }
      return int(QDialog::Rejected);
    };
    QVERIFY(m_p->Command(cmd::kFilePrintPreview));
    QCOMPARE(m_p->m_otherDialogs, QStringList{"QPrintPreviewDialog"});
    QCOMPARE(pages, 1);
    QVERIFY(m_p->Command(cmd::kFilePrintSetup));
    const QString setup = ProgramPrinter().outputFormat() == QPrinter::NativeFormat ? "QPageSetupDialog" : "QPrintDialog";
    QCOMPARE(m_p->m_otherDialogs.last(), setup);
  }

  void deletingSource1MovesSource2Up() {
    OpenPairAndGenerate();
    CTessaraDoc* second = g_pSourceDocs[1];
    CTessaraView* secondView = g_pSourceViews[1];
    g_pDestDoc->m_nOffsetX = 50;
    g_pDestDoc->m_nSourceBias = 7;
    QVERIFY(m_p->Command(cmd::kDeleteSource1));
    QCOMPARE(g_nSourcesLoaded, 1);
    QCOMPARE(g_pSourceDocs[0], second);
    QCOMPARE(g_pSourceViews[0], secondView);
    QCOMPARE(secondView->m_nSource, 1);
    QVERIFY(!g_pSourceViews[1] && !g_pSourceFrames[1] && !g_pSourceDocs[1]);
    QCOMPARE(static_cast<QMdiSubWindow*>(g_pSourceFrames[0])->windowTitle(), QString("Source 1: coffee_right.png"));
    QVERIFY(!g_pDestDoc->m_pTarget);
    QCOMPARE(g_pDestDoc->m_nOffsetX, 0);
    QCOMPARE(g_pDestDoc->m_nSourceBias, 128);
    QVERIFY(!g_pAlignDoc->m_pPreview);
    QVERIFY(g_pAlignView->LoadButton());
    QCOMPARE(Active(), static_cast<QMdiSubWindow*>(g_pAlignFrame));
    QCOMPARE(g_pMainFrame->MdiArea()->subWindowList().size(), 3);
    m_p->Idle();
    QCOMPARE(PaneText(1), QString("Awaiting load of 2nd source."));
    // Its window now reads "Source 1".
    const QImage shown = secondView->viewport()->grab().toImage();
    shown.save(m_dir.filePath("source1.png"));
    int green = 0;
    for (int y = 50; y < 70; ++y)
      for (int x = 100; x < 160; ++x) {
        const QRgb c = shown.pixel(x, y);
        green += qGreen(c) > 200 && qRed(c) < 90 && qBlue(c) < 90;
      }
    QVERIFY2(green > 20, qPrintable(QString::number(green)));
    // A new picture becomes source 2.
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_left.png")));
    QCOMPARE(g_pSourceViews[1]->m_nSource, 2);
    QVERIFY(m_p->Command(cmd::kDeleteSource2));
    QCOMPARE(g_nSourcesLoaded, 1);
    QCOMPARE(g_pSourceDocs[0], second);
  }

  void runLengthBitmapsAreDrawnInTheirWindows() {
    for (const char* name : {"formats/bmp_8bit_rle8.bmp", "formats/bmp_4bit_rle4.bmp"}) {
      QVERIFY(m_p->OpenSource(TestData(name), 1));
      CTessaraView* view = g_pSourceViews[g_nSourcesLoaded - 1];
      QVERIFY(view);
      QApplication::processEvents();
      const QImage shown = view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
      const QImage expected = QImage(TestData(QString(name) + ".expected.ppm")).convertToFormat(QImage::Format_RGB32);
      QVERIFY(!expected.isNull());
      QVERIFY(shown.width() >= expected.width() && shown.height() >= expected.height());
      int wrong = 0;
      for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x) wrong += shown.pixel(x, y) != expected.pixel(x, y);
      QVERIFY2(wrong == 0, qPrintable(QString("%1: %2 pixels differ").arg(name).arg(wrong)));
    }
  }

  void tinySourceLoadsWithAWarning() {
    QImage tiny(40, 300, QImage::Format_RGB888);
    tiny.fill(Qt::red);
    const QString path = m_dir.filePath("tiny.bmp");
    QVERIFY(tiny.save(path, "BMP"));
    QVERIFY(m_p->OpenSource(path, 1));
    QCOMPARE(m_p->MessageTexts(), QStringList{"This image is too small to be processed properly - but will be loaded."});
  }

  void windowMenuListsAndArrangesWindows() {
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_left.png")));
    QMenu* window = g_pMainFrame->MenuNamed("Window");
    QMetaObject::invokeMethod(window, "aboutToShow");
    QStringList listed;
    for (QAction* a : window->actions())
      if (a->isCheckable()) listed << a->text();
    QCOMPARE(listed, (QStringList{"&1 Target Window", "&2 Align Window", "&3 Source 1: coffee_left.png"}));
    QVERIFY(m_p->Command(cmd::kWindowTile));
    int area = 0;
    for (QMdiSubWindow* w : g_pMainFrame->MdiArea()->subWindowList()) area += w->width() * w->height();
    QVERIFY(area <= g_pMainFrame->MdiArea()->viewport()->width() * g_pMainFrame->MdiArea()->viewport()->height());
    QVERIFY(m_p->Command(cmd::kWindowCascade));
  }

  void recentFileWithTwoSourcesIsRefused() {
    OpenPair();
    QVERIFY(m_p->Command(cmd::kFileMru1));
    QCOMPARE(m_p->MessageTexts(), QStringList{"No more than two source images allowed."});
    QCOMPARE(m_p->App().RecentFiles().Files().size(), 2);
    // A missing recent file goes from the list.
    QVERIFY(m_p->Command(cmd::kDeleteSource2));
    QFile::copy(TestData("pairs/coffee_left.png"), m_dir.filePath("gone.png"));
    QVERIFY(m_p->OpenSource(m_dir.filePath("gone.png")));
    QVERIFY(m_p->Command(cmd::kDeleteSource2));
    QFile::remove(m_dir.filePath("gone.png"));
    m_p->m_boxes.clear();
    QVERIFY(m_p->Command(cmd::kFileMru1));
    QCOMPARE(m_p->App().RecentFiles().Files().size(), 2);
    QVERIFY(!m_p->App().RecentFiles().Files().contains(QDir(m_dir.path()).absoluteFilePath("gone.png")));
  }

  void fixedWindowsCannotCloseButExitClosesAll() {
    OpenPair();
    static_cast<QMdiSubWindow*>(g_pTargetFrame)->close();
    static_cast<QMdiSubWindow*>(g_pAlignFrame)->close();
    QCOMPARE(m_p->MessageTexts(), (QStringList{"Not allowed to close this window !", "Not allowed to close this window !"}));
    QVERIFY(static_cast<QMdiSubWindow*>(g_pTargetFrame)->isVisible());
    // Closing a source window is allowed.
    static_cast<QMdiSubWindow*>(g_pSourceFrames[1])->close();
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(g_nSourcesLoaded, 1);
    m_p->m_boxes.clear();
    QVERIFY(m_p->Command(cmd::kAppExit));
    QVERIFY(m_p->m_boxes.isEmpty());
    QVERIFY(!g_pMainFrame->isVisible());
    QCOMPARE(g_nSourcesLoaded, 0);
    QCOMPARE(g_pMainFrame->m_bClosing, 1);
  }
};

QTEST_MAIN(TestWindows)
#include "test_windows.moc"
