// Walks the real program through a session in a virtual display and writes a
// PNG of the screen at each step, for the help page:
//   tessara_screenshots OUTPUT_FOLDER [NAME...]
// With names, only those pictures are written (the walk-through is the same).
#include <functional>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEventLoop>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "engine/align_doc.h"
#include "engine/align_frame.h"
#include "engine/destdoc.h"
#include "framework/registry.h"
#include "ui/common/modal.h"
#include "ui/common/ui_registry.h"
#include "ui/dialogs/merge_dlg.h"
#include "ui/dialogs/tool_dialog.h"
#include "ui/shell/child_frames.h"
#include "ui/shell/main_frame.h"
#include "ui/shell/tessara_app.h"
#include "ui/views/align_view.h"
#include "ui/views/destview.h"
#include "ui_test_support.h"

using namespace tessara;

namespace {

QString g_out;
QStringList g_only;

// Runs the program's own event loop for a while, idle work included.
void Settle(int ms = 300) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool Shoot(const QString& name) {
  if (!g_only.isEmpty() && !g_only.contains(name)) return true;
  Settle();
  const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
  const QString path = QDir(g_out).filePath(name + ".png");
  const bool ok = shot.save(path);
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
  return ok;
}

void Mouse(QWidget* w, QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons buttons) {
  QMouseEvent e(type, p, w->mapToGlobal(p), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  if (argc < 2) {
    std::fprintf(stderr, "usage: tessara_screenshots OUTPUT_FOLDER\n");
    return 2;
  }
  g_out = QString::fromLocal8Bit(argv[1]);
  for (int i = 2; i < argc; ++i) g_only << QString::fromLocal8Bit(argv[i]);
  QDir().mkpath(g_out);
  const QString samples = QStringLiteral(TESSARA_SAMPLES);

  test::CProgramUnderTest program;
  if (!program.Start()) return 1;
  CMainFrame& frame = program.Frame();
  frame.move(0, 0);
  frame.resize(QGuiApplication::primaryScreen()->size());
  int failures = 0;
  failures += !Shoot("startup");

  // The open dialog, shown for real, then answered.
  program.m_fileDialog = [&](CMyfiledialog& d) {
    d.setDirectory(samples);
    d.SetFilterIndex(4);
    d.show();
    d.move(120, 60);
    failures += !Shoot("open-dialog");
    d.hide();
    return test::AnswerFileDialog(d, samples + "/coffee_left.png", 4);
  };
  program.Command(cmd::kFileOpen);
  failures += !Shoot("one-source");
  program.OpenSource(samples + "/coffee_right.png", 4);
  failures += !Shoot("align-preview");
  // Source 2 dragged with the right button to its place, 220 columns right of
  // source 1: during the drag, then released.
  if (g_pAlignView && g_pAlignDoc->m_bAlignValid) {
    const AlignFrame f = SyncFrame(*g_pAlignDoc, 2);
    const QPoint from(f.x + f.w / 2, f.y + f.h / 2);
    const QPoint to = from + QPoint(220 / g_pAlignDoc->m_nReduction, 0);
    Mouse(g_pAlignView, QEvent::MouseButtonPress, from, Qt::RightButton, Qt::RightButton);
    Mouse(g_pAlignView, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::RightButton);
    Mouse(g_pAlignView, QEvent::MouseMove, to, Qt::NoButton, Qt::RightButton);
    failures += !Shoot("align-drag");
    Mouse(g_pAlignView, QEvent::MouseButtonRelease, to, Qt::RightButton, Qt::NoButton);
    Mouse(g_pAlignView, QEvent::MouseMove, to, Qt::NoButton, Qt::NoButton);
    failures += !Shoot("align-done");
    // Zoomed in on the overlap, then back to the whole pair.
    program.Command(cmd::kZoomActual);
    failures += !Shoot("align-zoomed");
    program.Command(cmd::kZoomFit);
  }
  // The Rotate dialog, run for real so that it shows its source lines.
  program.m_otherDialog = [&](QDialog& d) {
    QTimer::singleShot(0, &d, [&] {
      d.move(frame.width() / 2 - d.width() / 2, 200);
      failures += !Shoot("rotate-dialog");
      d.reject();
    });
    return d.exec();
  };
  program.Command(cmd::kRotate);
  program.m_otherDialog = nullptr;
  program.Command(cmd::kViewSource1);
  failures += !Shoot("source-window");
  program.Command(cmd::kViewTarget);
  failures += !Shoot("target-empty");
  if (g_pTargetView->GenerateButton()) QTest::mouseClick(g_pTargetView->GenerateButton(), Qt::LeftButton);
  failures += !Shoot("target");
  // The Save dialog with its compression options, shown for real, then
  // cancelled.
  program.m_fileDialog = [&](CMyfiledialog& d) {
    d.setDirectory(samples);
    d.SetFilterIndex(4);
    if (auto* lossless = d.findChild<QCheckBox*>("losslessTiff")) lossless->setChecked(true);
    d.show();
    d.move(120, 60);
    failures += !Shoot("save-dialog");
    d.hide();
    return int(QDialog::Rejected);
  };
  program.Command(cmd::kFileSaveAs);
  program.m_fileDialog = nullptr;
  QWidget* vp = g_pTargetView->viewport();
  program.Command(cmd::kSnap16);
  Mouse(vp, QEvent::MouseButtonPress, QPoint(60, 50), Qt::LeftButton, Qt::LeftButton);
  Mouse(vp, QEvent::MouseMove, QPoint(300, 330), Qt::NoButton, Qt::LeftButton);
  Mouse(vp, QEvent::MouseButtonRelease, QPoint(300, 330), Qt::LeftButton, Qt::NoButton);
  Mouse(vp, QEvent::MouseMove, QPoint(200, 200), Qt::NoButton, Qt::NoButton);
  failures += !Shoot("zone");
  // Zoomed in twice (150 %, then 200 %), the Zone kept on the same pixels.
  program.Command(cmd::kZoomIn);
  program.Command(cmd::kZoomIn);
  failures += !Shoot("target-zoomed");
  program.Command(cmd::kZoomActual);
  // The Target menu open over the Target Window.
  QMenu* menu = frame.MenuNamed("Target");
  QTimer::singleShot(0, [&] {
    frame.menuBar()->setActiveAction(menu->menuAction());
    Settle();
    failures += !Shoot("target-menu");
    menu->close();
    frame.menuBar()->setActiveAction(nullptr);
  });
  Settle(800);
  // Each tool dialog open over the Target Window, then quit.
  // `before` sets the dialog up for its picture.
  auto shootDialog = [&](int command, QDialog* const& slot, const char* name,
                         const std::function<void(CToolDialog&)>& before = nullptr) {
    program.Command(cmd::kViewTarget);
    program.Command(command);
    if (!slot) {
      std::printf("FAILED to open %s\n", name);
      ++failures;
      return;
    }
    if (auto* dialog = qobject_cast<CToolDialog*>(slot); dialog && before) {
      before(*dialog);
      Settle(300);
    }
    failures += !Shoot(name);
    if (auto* dialog = qobject_cast<CToolDialog*>(slot)) dialog->Quit();
    Settle(100);
  };
  shootDialog(cmd::kFineAlignment, g_pFineAdjustDlg, "fine-adjustment-dialog");
  // The merge with Blend chosen (the fade boxes greyed) and the Target
  // updated by it.
  shootDialog(cmd::kMergeSources, g_pMergeDlg, "merge-dialog", [](CToolDialog& merge) {
    QTest::mouseClick(merge.Control(CMergeDlg::kBlend), Qt::LeftButton);
    QTest::mouseClick(merge.UpdateButton(), Qt::LeftButton);
  });
  shootDialog(cmd::kContrastBrightness, g_pContrastDlg, "contrast-dialog");
  shootDialog(cmd::kCylindricalProjection, g_pCylinderDlg, "cylinder-dialog");
  shootDialog(cmd::kGridLines, g_pGridDlg, "grid-dialog");
  program.Command(cmd::kWindowTile);
  failures += !Shoot("tiled");
  // Two black-and-white pictures get the monochrome merge.
  program.Command(cmd::kDeleteSource2);
  program.Command(cmd::kDeleteSource1);
  program.OpenSource(QStringLiteral(TESSARA_TESTDATA "/formats/bmp_1bit.bmp"));
  program.OpenSource(QStringLiteral(TESSARA_TESTDATA "/formats/tif_1bit_none.tif"));
  program.Command(cmd::kWindowCascade);
  if (g_pTargetFrame) static_cast<QWidget*>(static_cast<QMdiSubWindow*>(g_pTargetFrame))->resize(860, 560);
  program.Command(cmd::kViewTarget);
  if (g_pTargetView->GenerateButton()) QTest::mouseClick(g_pTargetView->GenerateButton(), Qt::LeftButton);
  shootDialog(cmd::kMergeSources, g_pMonoDlg, "mono-merge-dialog");
  program.Stop();
  return failures == 0 ? 0 : 1;
}
