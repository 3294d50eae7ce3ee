// The Target Window's tool dialogs in the real program, offscreen: which
// command opens which dialog and when it may, one dialog of each kind, what each
// control writes into the session, the ways a dialog ends, and a whole session
// from two pictures to a saved file that must match the batch tool's to the byte.
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QLineEdit>
#include <QMdiArea>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "engine/align_doc.h"
#include "engine/align_frame.h"
#include "engine/destdoc.h"
#include "framework/registry.h"
#include "image/ximage.h"
#include "ui/common/modal.h"
#include "ui/common/qt_settings.h"
#include "ui/common/qt_user_interface.h"
#include "ui/common/ui_registry.h"
#include "ui/dialogs/contrast_dlg.h"
#include "ui/dialogs/cylinder_dlg.h"
#include "ui/dialogs/dialog_text.h"
#include "ui/dialogs/fine_adjust_dlg.h"
#include "ui/dialogs/grid_dlg.h"
#include "ui/dialogs/merge_dlg.h"
#include "ui/shell/child_frames.h"
#include "ui/shell/main_frame.h"
#include "ui/shell/tessara_app.h"
#include "ui/views/destview.h"
#include "ui/views/target_commands.h"
#include "ui_test_support.h"

using namespace tessara;
using tessara::test::CProgramUnderTest;
using tessara::test::TestData;

namespace {

const int kTools[] = {cmd::kFineAlignment, cmd::kMergeSources, cmd::kContrastBrightness, cmd::kCylindricalProjection,
                      cmd::kGridLines};

bool Enabled(int id) { return g_pMainFrame->IsCommandEnabled(id); }

QMdiSubWindow* Active() { return g_pMainFrame->MdiArea()->currentSubWindow(); }

// A click where a person would click: on the box or the round button of check
// boxes and radio buttons, in the middle of anything else.
void Click(QWidget* w) {
  QVERIFY(w);
  const bool indicator = qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w);
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, indicator ? QPoint(5, w->height() / 2) : w->rect().center());
}

void ClickTimes(QWidget* w, int times) {
  for (int i = 0; i < times; ++i) Click(w);
}

// Lets dialogs that ended go for good.
void Flush() {
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QApplication::processEvents();
}

void Mouse(QWidget* w, QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons buttons) {
  QMouseEvent e(type, p, w->mapToGlobal(p), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

template <class T>
T* As(QDialog* dialog) {
  return qobject_cast<T*>(dialog);
}

}  // namespace

class TestDialogs : public QObject {
  Q_OBJECT
  std::unique_ptr<CProgramUnderTest> m_p;
  QTemporaryDir m_dir;

  void OpenPair(const QString& a = "pairs/coffee_left.png", const QString& b = "pairs/coffee_right.png") {
    QVERIFY(m_p->OpenSource(TestData(a)));
    QVERIFY(m_p->OpenSource(TestData(b)));
    g_pMainFrame->RaiseTargetWindow();
  }
  void Generate() {
    g_pMainFrame->RaiseTargetWindow();
    QVERIFY(g_pTargetView->GenerateButton());
    QTest::mouseClick(g_pTargetView->GenerateButton(), Qt::LeftButton);
    QVERIFY(g_pDestDoc->m_pTarget);
    m_p->Idle();
  }
  // Runs a tool command with the Target Window active.
  bool Tool(int id) {
    g_pMainFrame->RaiseTargetWindow();
    return m_p->Command(id);
  }
  int DialogsOfKind(const char* className) {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->inherits(className) && w->isVisible()) ++n;
    return n;
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
  void cleanup() {
    m_p.reset();
    Flush();
  }

  void toolCommandsNeedTwoAlignedSources() {
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_left.png")));
    g_pMainFrame->RaiseTargetWindow();
    for (int id : kTools) QVERIFY(!Enabled(id));
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_right.png")));
    g_pMainFrame->RaiseTargetWindow();
    for (int id : kTools) QVERIFY2(Enabled(id), qPrintable(QString::number(id)));
    g_pAlignDoc->m_bAlignValid = 0;
    for (int id : kTools) QVERIFY(!Enabled(id));
    g_pAlignDoc->m_bAlignValid = 1;
    // Only while the Target Window is the active one.
    g_pMainFrame->RaiseAlignWindow();
    for (int id : kTools) QVERIFY(!Enabled(id));
    g_pMainFrame->RaiseChild(g_pSourceFrames[0]);
    for (int id : kTools) QVERIFY(!Enabled(id));
  }

  void dialogsArePlacedInDialogUnits() {
    const CDialogUnits units(8, 16);
    QCOMPARE(units.Map(95, 53, 60, 14), QRect(190, 106, 120, 28));
    const CDialogUnits odd(7, 13);
    // Both edges are rounded, halves away from zero: 5 -> 8.75 -> 9, 155 -> 271.25 -> 271.
    QCOMPARE(odd.Map(5, 7, 150, 44), QRect(9, 11, 262, 72));
    QCOMPARE(MulDivRound(-5, 7, 4), -9);
    QCOMPARE(LowWordSigned(0x0001FFFD), -3);
    OpenPair();
    QVERIFY(Tool(cmd::kMergeSources));
    auto* merge = As<CMergeDlg>(g_pMergeDlg);
    QVERIFY(merge);
    const CDialogUnits& u = merge->Units();
    QCOMPARE(merge->size(), QSize(u.MapX(160), u.MapY(140)));
    QCOMPARE(merge->Control(CMergeDlg::kUpdate)->geometry(), u.Map(95, 53, 60, 14));
    QCOMPARE(merge->Control(CMergeDlg::kBias)->geometry(), u.Map(67, 25, 70, 15));
    QCOMPARE(merge->Control(CMergeDlg::kSource2Line)->geometry(), u.Map(5, 112, 150, 8));
    QCOMPARE(merge->windowTitle(), QString("Merge Source 1 and 2"));
    auto* quit = merge->ControlAs<QPushButton>(1);
    QVERIFY(quit->isDefault());
    QCOMPARE(quit->text(), QString("Quit"));
    QVERIFY(!merge->isModal() && merge->isVisible());
    QCOMPARE(merge->parentWidget(), static_cast<QWidget*>(g_pTargetView));
  }

  void mergeDialogStartsOverAtEveryOpening() {
    OpenPair();
    Generate();
    QVERIFY(Tool(cmd::kMergeSources));
    auto* merge = As<CMergeDlg>(g_pMergeDlg);
    QVERIFY(merge && !g_pMonoDlg);
    // The source lines name both documents.
    QCOMPARE(merge->ControlAs<CSourceLine>(CMergeDlg::kSource1Line)->Text(), QString("Source 1:  coffee_left.png"));
    QCOMPARE(merge->ControlAs<CSourceLine>(CMergeDlg::kSource2Line)->Text(), QString("Source 2:  coffee_right.png"));
    QVERIFY(merge->UpdateButton()->isEnabled());
    QVERIFY(merge->ControlAs<QCheckBox>(CMergeDlg::kFade1)->isEnabled());
    Click(merge->Control(CMergeDlg::kGreatest));
    QCOMPARE(g_nMergeRule, 1);
    merge->ControlAs<QSlider>(CMergeDlg::kBias)->setValue(200);
    QCOMPARE(g_pDestDoc->m_nSourceBias, 200);
    QCOMPARE(g_pDestDoc->m_bUpToDate, 0);
    QCOMPARE(g_pTargetFrame->windowTitle(), QString("Target Window - needs updating"));
    // A second command leaves the open dialog alone.
    QVERIFY(Tool(cmd::kMergeSources));
    QCOMPARE(g_pMergeDlg, static_cast<QDialog*>(merge));
    QCOMPARE(DialogsOfKind("tessara::CMergeDlg"), 1);
    Click(merge->UpdateButton());
    QCOMPARE(g_pDestDoc->m_bUpToDate, 1);
    QVERIFY(!merge->UpdateButton()->isEnabled());
    QCOMPARE(Active(), static_cast<QMdiSubWindow*>(g_pTargetFrame));
    Click(merge->Control(CMergeDlg::kLeast));
    QCOMPARE(g_nMergeRule, 2);
    QVERIFY(merge->UpdateButton()->isEnabled());
    Click(merge->Control(CMergeDlg::kGreatest));
    Click(merge->Control(1));
    QVERIFY(!g_pMergeDlg);
    QPointer<CMergeDlg> gone(merge);
    Flush();
    QVERIFY(!gone);
    QCOMPARE(g_nMergeRule, 1);
    QCOMPARE(g_pDestDoc->m_nSourceBias, 200);
    // Reopened: Average, 128, no fading, before anything is touched.
    QVERIFY(Tool(cmd::kMergeSources));
    merge = As<CMergeDlg>(g_pMergeDlg);
    QCOMPARE(g_nMergeRule, 0);
    QCOMPARE(g_pDestDoc->m_nSourceBias, 128);
    QCOMPARE(g_bFadeEdge1 + g_bFadeEdge2, 0);
    QVERIFY(merge->ControlAs<QRadioButton>(CMergeDlg::kAverage)->isChecked());
    QCOMPARE(merge->ControlAs<QSlider>(CMergeDlg::kBias)->value(), 128);
    QCOMPARE(g_pDestDoc->m_bUpToDate, 0);
  }

  // The check box sits in the line under the buttons, every specified control
  // staying where it was; it sets the session, the Target it updates shows
  // the gains on the status line, and the next opening starts without it.
  void matchExposureBox() {
    OpenPair();
    Generate();
    QVERIFY(Tool(cmd::kMergeSources));
    auto* merge = As<CMergeDlg>(g_pMergeDlg);
    const CDialogUnits& u = merge->Units();
    auto* match = merge->ControlAs<QCheckBox>(CMergeDlg::kMatchExposure);
    QCOMPARE(match->text(), QString("Match exposure and colour of source 2"));
    QCOMPARE(match->geometry(), u.Map(5, 84, 150, 8));
    QVERIFY(!match->isChecked() && match->isEnabled());
    Click(match);
    QCOMPARE(g_pDestDoc->m_bMatchExposure, 1);
    QCOMPARE(g_pDestDoc->m_bUpToDate, 0);
    Click(merge->UpdateButton());
    QCOMPARE(g_pDestDoc->m_bUpToDate, 1);
    QVERIFY(g_pDestDoc->m_exposureGains.found);
    QVERIFY(g_pMainFrame->StatusLine().Pane(0)->ShownText().startsWith("Source 2 matched to source 1: red x"));
    Click(merge->Control(1));
    Flush();
    QVERIFY(Tool(cmd::kMergeSources));
    QCOMPARE(g_pDestDoc->m_bMatchExposure, 0);
    QVERIFY(!As<CMergeDlg>(g_pMergeDlg)->ControlAs<QCheckBox>(CMergeDlg::kMatchExposure)->isChecked());
  }

  // Blend sits under Least in the rules' frame; choosing it greys the fade
  // boxes (it fades by itself), and the Target it updates is the batch
  // tool's with --merge blend, byte for byte.
  void blendRule() {
    OpenPair();
    QVERIFY(Tool(cmd::kFineAlignment));
    auto* fine = As<CFineAdjustDlg>(g_pFineAdjustDlg);
    ClickTimes(fine->Spin(CFineAdjustDlg::kOffsetX)->UpArrow(), 100);
    Click(fine->UpdateButton());
    Click(fine->Control(1));
    Flush();
    QCOMPARE(g_pDestDoc->m_nOffsetX, 100);
    QVERIFY(Tool(cmd::kMergeSources));
    auto* merge = As<CMergeDlg>(g_pMergeDlg);
    auto* blend = merge->ControlAs<QRadioButton>(CMergeDlg::kBlend);
    QCOMPARE(blend->text(), QString("Blend"));
    QCOMPARE(blend->geometry(), merge->Units().Map(16, 38, 43, 10));
    auto* fade2 = merge->ControlAs<QCheckBox>(CMergeDlg::kFade2);
    QVERIFY(fade2->isEnabled());
    Click(blend);
    QCOMPARE(g_nMergeRule, int(kMergeBlend));
    QVERIFY(!fade2->isEnabled() && !merge->ControlAs<QCheckBox>(CMergeDlg::kFade1)->isEnabled());
    Click(merge->UpdateButton());
    QCOMPARE(g_pDestDoc->m_bUpToDate, 1);
    QCOMPARE(g_pDestDoc->m_nBitDepth, 24);
    // Another rule offers the fades again.
    Click(merge->Control(CMergeDlg::kAverage));
    QVERIFY(fade2->isEnabled());
    Click(blend);
    Click(merge->UpdateButton());
    Click(merge->Control(1));
    Flush();

    const QString saved = m_dir.filePath("blend.png");
    m_p->m_fileDialog = [&](CMyfiledialog& d) { return test::AnswerFileDialog(d, saved, 3); };
    QVERIFY(m_p->Command(cmd::kFileSaveAs));
    m_p->m_fileDialog = nullptr;
    const QString joined = m_dir.filePath("joined.png");
    const QStringList args = {"--quiet", "--offset", "100,0", "--merge", "blend",
                              TestData("pairs/coffee_left.png"), TestData("pairs/coffee_right.png"), joined};
    const QString why = test::DifferenceFromBatchJoin(QStringLiteral(TESSARA_JOIN), args, saved, joined);
    QVERIFY2(why.isEmpty(), qPrintable(why));
  }

  void fadeBoxesAreNeverBothChecked() {
    OpenPair();
    QVERIFY(Tool(cmd::kMergeSources));
    auto* merge = As<CMergeDlg>(g_pMergeDlg);
    auto* fade1 = merge->ControlAs<QCheckBox>(CMergeDlg::kFade1);
    auto* fade2 = merge->ControlAs<QCheckBox>(CMergeDlg::kFade2);
    Click(fade1);
    QVERIFY(fade1->isChecked());
    QCOMPARE(g_bFadeEdge1, 1);
    Click(fade2);
    QVERIFY(!fade1->isChecked() && fade2->isChecked());
    QCOMPARE(g_bFadeEdge1, 0);
    QCOMPARE(g_bFadeEdge2, 1);
    QCOMPARE(merge->m_bFade1, 0);
    QCOMPARE(merge->m_bFade2, 1);
    Click(fade1);
    QVERIFY(fade1->isChecked() && !fade2->isChecked());
    QCOMPARE(g_bFadeEdge1, 1);
    QCOMPARE(g_bFadeEdge2, 0);
    Click(fade1);
    QCOMPARE(g_bFadeEdge1 + g_bFadeEdge2, 0);
  }

  void eightBitTargetDisablesFading() {
    // 1 and 4 bits make an 8-bit Target; the merge is the colour one.
    OpenPair("formats/bmp_1bit.bmp", "formats/bmp_4bit.bmp");
    QVERIFY(!SourcesAreMonochrome(*g_pDestDoc));
    Generate();
    QCOMPARE(g_pDestDoc->m_nBitDepth, 8);
    g_pMainFrame->RaiseTargetWindow();
    QVERIFY(Enabled(cmd::kContrastBrightness));
    QVERIFY(!Enabled(cmd::kCylindricalProjection));
    QVERIFY(Tool(cmd::kMergeSources));
    auto* merge = As<CMergeDlg>(g_pMergeDlg);
    QVERIFY(merge && !g_pMonoDlg);
    QVERIFY(!merge->ControlAs<QCheckBox>(CMergeDlg::kFade1)->isEnabled());
    QVERIFY(!merge->ControlAs<QCheckBox>(CMergeDlg::kFade2)->isEnabled());
    QVERIFY(!merge->ControlAs<QRadioButton>(CMergeDlg::kBlend)->isEnabled());
    // Choosing another rule does not offer the fades on this Target.
    Click(merge->Control(CMergeDlg::kGreatest));
    QVERIFY(!merge->ControlAs<QCheckBox>(CMergeDlg::kFade2)->isEnabled());
  }

  void oneAndEightBitSourcesOpenTheColourMerge() {
    OpenPair("formats/bmp_1bit.bmp", "formats/bmp_8bit.bmp");
    QVERIFY(Tool(cmd::kMergeSources));
    QVERIFY(g_pMergeDlg && !g_pMonoDlg);
  }

  void monochromeDialogShowsOrWhileAndStaysSet() {
    OpenPair("formats/bmp_1bit.bmp", "formats/tif_1bit_none.tif");
    QVERIFY(SourcesAreMonochrome(*g_pDestDoc));
    QVERIFY(Tool(cmd::kMergeSources));
    auto* mono = As<CMonoMergeDlg>(g_pMonoDlg);
    QVERIFY(mono && !g_pMergeDlg);
    QCOMPARE(mono->windowTitle(), QString("Merge Monochrome"));
    QCOMPARE(mono->ControlAs<CSourceLine>(CMonoMergeDlg::kSource2Line)->Text(), QString("Source 2:  tif_1bit_none.tif"));
    Click(mono->Control(CMonoMergeDlg::kAnd));
    QCOMPARE(g_bMonoAnd, 1);
    Click(mono->UpdateButton());
    QVERIFY(g_pDestDoc->m_pTarget);
    QCOMPARE(g_pDestDoc->m_nBitDepth, 1);
    QVERIFY(mono->UpdateButton()->isEnabled());  // always, in this dialog
    QCOMPARE(Active(), static_cast<QMdiSubWindow*>(g_pTargetFrame));
    // A 1-bit Target takes neither tone curve nor projection.
    QVERIFY(!Enabled(cmd::kContrastBrightness) && !Enabled(cmd::kCylindricalProjection));
    QVERIFY(Tool(cmd::kMergeSources));
    QCOMPARE(DialogsOfKind("tessara::CMonoMergeDlg"), 1);
    Click(mono->Control(1));
    QVERIFY(!g_pMonoDlg);
    QVERIFY(Tool(cmd::kMergeSources));
    mono = As<CMonoMergeDlg>(g_pMonoDlg);
    QVERIFY(mono->ControlAs<QRadioButton>(CMonoMergeDlg::kOr)->isChecked());
    QCOMPARE(g_bMonoAnd, 1);
    Click(mono->Control(CMonoMergeDlg::kOr));
    QCOMPARE(g_bMonoAnd, 0);
  }

  void contrastSetDefaultsThenQuitChangesNothing() {
    OpenPair();
    Generate();
    QVERIFY(Tool(cmd::kContrastBrightness));
    auto* contrast = As<CContrastDlg>(g_pContrastDlg);
    auto* k = contrast->ControlAs<QSlider>(CContrastDlg::kContrast);
    auto* b = contrast->ControlAs<QSlider>(CContrastDlg::kBrightness);
    QCOMPARE(k->maximum(), 32);
    QCOMPARE(b->maximum(), 255);
    QCOMPARE(k->value(), 16);
    QCOMPARE(b->value(), 128);
    k->setValue(24);
    b->setValue(100);
    QCOMPARE(g_pDestDoc->m_nContrast, 16);  // not before Update Target
    Click(contrast->UpdateButton());
    QCOMPARE(g_pDestDoc->m_nContrast, 24);
    QCOMPARE(g_pDestDoc->m_nBrightness, 100);
    QVERIFY(!contrast->UpdateButton()->isEnabled());
    Click(contrast->Control(1));
    QVERIFY(!g_pContrastDlg);
    QVERIFY(Tool(cmd::kContrastBrightness));
    contrast = As<CContrastDlg>(g_pContrastDlg);
    k = contrast->ControlAs<QSlider>(CContrastDlg::kContrast);
    b = contrast->ControlAs<QSlider>(CContrastDlg::kBrightness);
    QCOMPARE(k->value(), 24);
    QCOMPARE(b->value(), 100);
    Click(contrast->Control(CContrastDlg::kSetDefaults));
    QCOMPARE(k->value(), 16);
    QCOMPARE(b->value(), 128);
    QCOMPARE(contrast->m_nContrastPos, 16);
    QVERIFY(contrast->UpdateButton()->isEnabled());
    Click(contrast->Control(1));
    QCOMPARE(g_pDestDoc->m_nContrast, 24);
    QCOMPARE(g_pDestDoc->m_nBrightness, 100);
    QCOMPARE(g_pDestDoc->m_bUpToDate, 1);
  }

  void cylinderDialogAlwaysStartsAtZero() {
    OpenPair();
    Generate();
    QVERIFY(Tool(cmd::kCylindricalProjection));
    auto* cylinder = As<CCylinderDlg>(g_pCylinderDlg);
    auto* angle = cylinder->ControlAs<QSlider>(CCylinderDlg::kAngle);
    QCOMPARE(angle->maximum(), 180);
    angle->setValue(90);
    Click(cylinder->UpdateButton());
    QCOMPARE(g_pDestDoc->m_nSwingAngle, 90);
    QVERIFY(!cylinder->UpdateButton()->isEnabled());
    Click(cylinder->Control(1));
    QVERIFY(Tool(cmd::kCylindricalProjection));
    cylinder = As<CCylinderDlg>(g_pCylinderDlg);
    QCOMPARE(cylinder->ControlAs<QSlider>(CCylinderDlg::kAngle)->value(), 0);
    QCOMPARE(cylinder->m_nAnglePos, 0);
    QCOMPARE(g_pDestDoc->m_nSwingAngle, 90);
    Click(cylinder->UpdateButton());
    QCOMPARE(g_pDestDoc->m_nSwingAngle, 0);
  }

  void projectionRefusedOnShallowSources() {
    OpenPair("formats/bmp_4bit.bmp", "formats/bmp_4bit.bmp");
    m_p->m_boxes.clear();
    // Before a Target the depth in force is 24, so the command runs and refuses.
    QVERIFY(Tool(cmd::kCylindricalProjection));
    QCOMPARE(m_p->MessageTexts(),
             QStringList{"This command cannot be carried out on anything less than 24 bit resolution."});
    QCOMPARE(m_p->m_boxes[0].buttons, int(QMessageBox::Ok));
    QVERIFY(!g_pCylinderDlg);
  }

  void gridSpacingOutsideTheRangeIsRefused() {
    OpenPair();
    Generate();
    QVERIFY(Tool(cmd::kGridLines));
    auto* grid = As<CGridDlg>(g_pGridDlg);
    auto* solid = grid->ControlAs<QLineEdit>(CGridDlg::kSolidSpacing);
    auto* dotted = grid->ControlAs<QLineEdit>(CGridDlg::kDotSpacing);
    // The defaults of a fresh session.
    QCOMPARE(solid->text(), QString("100"));
    QCOMPARE(dotted->text(), QString("10"));
    Click(grid->Control(CGridDlg::kSolidEnable));
    for (const QString& bad : {QString("1"), QString("1001")}) {
      m_p->m_boxes.clear();
      solid->setText(bad);
      Click(grid->UpdateButton());
      QCOMPARE(m_p->MessageTexts(), QStringList{"Please enter an integer between 2 and 1000."});
      QCOMPARE(m_p->m_boxes[0].title, QString("Tessara"));
      QCOMPARE(g_bSolidGrid, 0);
      QCOMPARE(g_nSolidGridX, 100);
    }
    m_p->m_boxes.clear();
    dotted->setText("ten");
    Click(grid->UpdateButton());
    // The dotted field is read first.
    QCOMPARE(m_p->MessageTexts(), QStringList{"Please enter an integer."});
    dotted->setText(" 12 ");
    solid->setText("+40");
    Click(grid->Control(CGridDlg::kWhite));
    m_p->m_boxes.clear();
    Click(grid->UpdateButton());
    QVERIFY(m_p->m_boxes.isEmpty());
    QCOMPARE(g_bSolidGrid, 1);
    QCOMPARE(g_nSolidGridX, 40);
    QCOMPARE(g_nSolidGridY, 40);
    QCOMPARE(g_bDottedGrid, 0);
    QCOMPARE(g_nDotGridX, 0);  // disabled: no spacing kept
    QCOMPARE(g_GridColour.red, uint8_t(255));
    QVERIFY(!grid->UpdateButton()->isEnabled());
    // The Target carries the white lines: column 40 of any row.
    const Dib& target = *g_pDestDoc->m_pTarget;
    const uint8_t* row = target.Row(7);
    QCOMPARE(int(row[3 * 40]) + row[3 * 40 + 1] + row[3 * 40 + 2], 765);
    // Reopened: the disabled dotted grid shows 0, and Update Target asks for
    // a spacing in range although that grid stays off.
    Click(grid->Control(1));
    QVERIFY(Tool(cmd::kGridLines));
    grid = As<CGridDlg>(g_pGridDlg);
    QCOMPARE(grid->ControlAs<QLineEdit>(CGridDlg::kDotSpacing)->text(), QString("0"));
    QCOMPARE(grid->ControlAs<QLineEdit>(CGridDlg::kSolidSpacing)->text(), QString("40"));
    QVERIFY(!grid->ControlAs<QCheckBox>(CGridDlg::kSolidEnable)->isChecked());
    QVERIFY(!grid->ControlAs<QCheckBox>(CGridDlg::kWhite)->isChecked());
    m_p->m_boxes.clear();
    Click(grid->UpdateButton());
    QCOMPARE(m_p->MessageTexts(), QStringList{"Please enter an integer between 2 and 1000."});
    QCOMPARE(grid->focusWidget(), grid->Control(CGridDlg::kDotSpacing));
  }

  void refusedFieldGetsTheKeyboardBack() {
    OpenPair();
    Generate();
    QVERIFY(Tool(cmd::kGridLines));
    auto* grid = As<CGridDlg>(g_pGridDlg);
    auto* solid = grid->ControlAs<QLineEdit>(CGridDlg::kSolidSpacing);
    grid->activateWindow();
    QApplication::processEvents();
    solid->setText("1");
    // The refusal runs for real; the user answers it with Enter.
    SetModalHook([](QDialog&) -> std::optional<int> { return std::nullopt; });
    QString said;
    QTimer::singleShot(50, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      said = box->text();
      QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, Qt::Key_Return);
    });
    Click(grid->UpdateButton());
    QCOMPARE(said, QString("Please enter an integer between 2 and 1000."));
    QApplication::processEvents();
    QCOMPARE(QApplication::activeWindow(), static_cast<QWidget*>(grid));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(solid));
    QCOMPARE(solid->selectedText(), QString("1"));
    // The next digit goes into the field, not to the main window's "2".
    QTest::keyClick(QApplication::focusWidget(), '2');
    QCOMPARE(solid->text(), QString("2"));
    QVERIFY(Active() != static_cast<QMdiSubWindow*>(g_pSourceFrames[1]));
  }

  void integerFieldsAreReadStrictly() {
    int v = -1;
    QCOMPARE(ReadIntEntry("  7\t", 2, 1000, v), IntEntry::kOk);
    QCOMPARE(v, 7);
    QCOMPARE(ReadIntEntry("-3", -5, 5, v), IntEntry::kOk);
    QCOMPARE(v, -3);
    for (const char* bad : {"", " ", "7a", "1 2", "+", "0x10", "3.5"})
      QCOMPARE(ReadIntEntry(bad, 2, 1000, v), IntEntry::kNotInteger);
    for (const char* out : {"0", "1", "1001", "-2", "99999999999999999999"})
      QCOMPARE(ReadIntEntry(out, 2, 1000, v), IntEntry::kOutOfRange);
  }

  void fineAdjustmentCountsFromItsBase() {
    OpenPair();
    g_pDestDoc->m_nOffsetX = 250;
    g_pDestDoc->m_dRotation1 = 2.0;
    QVERIFY(Tool(cmd::kFineAlignment));
    auto* fine = As<CFineAdjustDlg>(g_pFineAdjustDlg);
    QVERIFY(fine);
    QCOMPARE(fine->ControlAs<CSourceLine>(CFineAdjustDlg::kSource1Line)->Text(), QString("Source 1:  coffee_left.png"));
    CSpinButton* x = fine->Spin(CFineAdjustDlg::kOffsetX);
    QCOMPARE(x->Lower(), -100);
    QCOMPARE(x->Upper(), 100);
    QCOMPARE(x->Buddy()->text(), QString("0"));
    QVERIFY(!fine->DirectionX()->IsPainted());
    ClickTimes(x->DownArrow(), 3);
    QCOMPARE(g_pDestDoc->m_nOffsetX, 247);
    QCOMPARE(x->Buddy()->text(), QString("-3"));
    QCOMPARE(fine->DirectionX()->Text(), QString("<-2  src 1  ->"));
    QCOMPARE(g_pDestDoc->m_bUpToDate, 0);
    ClickTimes(x->UpArrow(), 3);
    QCOMPARE(g_pDestDoc->m_nOffsetX, 250);
    QVERIFY(fine->DirectionX()->IsPainted() && fine->DirectionX()->Text().isEmpty());
    Click(x->UpArrow());
    QCOMPARE(fine->DirectionX()->Text(), QString("<-1  src 2  ->"));
    Click(fine->Spin(CFineAdjustDlg::kOffsetY)->UpArrow());
    QCOMPARE(g_pDestDoc->m_nOffsetY, 1);
    QCOMPARE(fine->DirectionY()->Text(), QString("src 2 up "));
    ClickTimes(fine->Spin(CFineAdjustDlg::kOffsetY)->DownArrow(), 2);
    QCOMPARE(fine->DirectionY()->Text(), QString("src 1 up "));
    // Rotation in tenths of a degree.
    ClickTimes(fine->Spin(CFineAdjustDlg::kRotation1)->UpArrow(), 7);
    QVERIFY(g_pDestDoc->m_dRotation1 == 7 / 10.0 + 2.0);
    QCOMPARE(g_pDestDoc->m_dRotation1, 2.7);
    // A scale spin stops at -100.
    ClickTimes(fine->Spin(CFineAdjustDlg::kScale1X)->DownArrow(), 101);
    QCOMPARE(g_pDestDoc->m_nScale1X, 924);
    QCOMPARE(fine->Spin(CFineAdjustDlg::kScale1X)->Buddy()->text(), QString("-100"));
    // Any vertical spin writes all six values from their bases.
    g_pDestDoc->m_nScale2Y = 5;
    g_pDestDoc->m_nScale1Y = 6;
    g_pDestDoc->m_dRotation2 = 33.0;
    g_pDestDoc->m_nScale2X = 7;
    Click(fine->Spin(CFineAdjustDlg::kScale2X)->UpArrow());
    QCOMPARE(g_pDestDoc->m_nScale2X, 1025);
    QCOMPARE(g_pDestDoc->m_nScale2Y, 1024);
    QCOMPARE(g_pDestDoc->m_nScale1Y, 1024);
    QCOMPARE(g_pDestDoc->m_dRotation2, 0.0);
    QCOMPARE(g_pDestDoc->m_nScale1X, 924);
    QCOMPARE(g_pDestDoc->m_dRotation1, 2.7);
    // The arrow keys count too.
    fine->Spin(CFineAdjustDlg::kScale2Y)->setFocus();
    QTest::keyClick(fine->Spin(CFineAdjustDlg::kScale2Y), Qt::Key_Up);
    QCOMPARE(g_pDestDoc->m_nScale2Y, 1025);
    // Only the session changed: nothing was prepared again.
    QCOMPARE(g_pDestDoc->m_pSource1->Width(), 380);
  }

  void fineAdjustmentFollowsTheAlignWindow() {
    OpenPair();
    QVERIFY(Tool(cmd::kFineAlignment));
    auto* fine = As<CFineAdjustDlg>(g_pFineAdjustDlg);
    ClickTimes(fine->Spin(CFineAdjustDlg::kOffsetX)->UpArrow(), 5);
    ClickTimes(fine->Spin(CFineAdjustDlg::kRotation2)->UpArrow(), 2);
    Click(fine->UpdateButton());
    QVERIFY(!fine->UpdateButton()->isEnabled());
    // An exact Align command changes the alignment and refreshes the dialogs.
    MirrorSource(*g_pAlignDoc, 2);
    QCOMPARE(g_pDestDoc->m_bMirror2, 1);
    QVERIFY(fine->UpdateButton()->isEnabled());
    for (int id : {CFineAdjustDlg::kOffsetX, CFineAdjustDlg::kRotation2})
      QCOMPARE(fine->Spin(id)->Buddy()->text(), QString("0"));
    QVERIFY(fine->DirectionX()->IsPainted() && fine->DirectionX()->Text().isEmpty());
    QVERIFY(fine->DirectionY()->IsPainted() && fine->DirectionY()->Text().isEmpty());
    QCOMPARE(fine->m_nBaseOffsetX, 5);
    QCOMPARE(fine->m_dBaseRotation2, 0.2);
    Click(fine->Spin(CFineAdjustDlg::kOffsetX)->UpArrow());
    QCOMPARE(g_pDestDoc->m_nOffsetX, 6);
  }

  void failingPreparationClosesFineAdjustment() {
    OpenPair();
    QVERIFY(Tool(cmd::kFineAlignment));
    auto* fine = As<CFineAdjustDlg>(g_pFineAdjustDlg);
    ClickTimes(fine->Spin(CFineAdjustDlg::kScale1X)->UpArrow(), 4);
    m_p->m_boxes.clear();
    CQtUserInterface::Instance()->SetSpaceBarDown(true);
    m_p->m_answers = {QMessageBox::Yes};
    Click(fine->UpdateButton());
    CQtUserInterface::Instance()->SetSpaceBarDown(false);
    // Stopped while preparing source 1: source 2 was not tried, and the dialog
    // is gone with the alignment it counted from.
    QCOMPARE(m_p->MessageTexts(), QStringList{"Do you really want to quit ?"});
    QVERIFY(!g_pFineAdjustDlg);
    QVERIFY(!g_pDestDoc->m_pSource1);
    QVERIFY(g_pDestDoc->m_pSource2);
    QCOMPARE(g_pAlignDoc->m_bAlignValid, 0);
    QPointer<CFineAdjustDlg> gone(fine);
    Flush();
    QVERIFY(!gone);
  }

  void quitCloseBoxAndEscapeEndTheDialog() {
    OpenPair();
    QVERIFY(Tool(cmd::kMergeSources));
    QPointer<QDialog> first(g_pMergeDlg);
    QTest::keyClick(first.data(), Qt::Key_Escape);
    QVERIFY(!g_pMergeDlg);
    QVERIFY(!first->isVisible());
    Flush();
    QVERIFY(!first);
    QVERIFY(Tool(cmd::kMergeSources));
    QPointer<QDialog> second(g_pMergeDlg);
    QVERIFY(second && second->isVisible());
    QVERIFY(second->close());
    QVERIFY(!g_pMergeDlg);
    Flush();
    QVERIFY(!second);
    // Enter presses Quit, the default button.
    QVERIFY(Tool(cmd::kContrastBrightness));
    QPointer<QDialog> contrast(g_pContrastDlg);
    QTest::keyClick(contrast.data(), Qt::Key_Return);
    QVERIFY(!g_pContrastDlg);
    QCOMPARE(Active(), static_cast<QMdiSubWindow*>(g_pTargetFrame));
  }

  void closeBoxWaitsWhileTheTargetIsBuilt() {
    // A close arriving while the dialog's own Update Target runs would take the
    // dialog away from under the work: it is refused until the work is done.
    OpenPair();
    QVERIFY(Tool(cmd::kCylindricalProjection));
    auto* cylinder = As<CCylinderDlg>(g_pCylinderDlg);
    QApplication::postEvent(cylinder, new QCloseEvent);
    Click(cylinder->UpdateButton());
    QVERIFY(g_pDestDoc->m_pTarget);
    Flush();
    QCOMPARE(g_pCylinderDlg, static_cast<QDialog*>(cylinder));
    QVERIFY(cylinder->isVisible());
    QVERIFY(!cylinder->UpdateButton()->isEnabled());
    QVERIFY(cylinder->close());
    QVERIFY(!g_pCylinderDlg);
  }

  void deletingASourceClosesEveryDialog() {
    OpenPair();
    Generate();
    for (int id : kTools) QVERIFY(Tool(id));
    QList<QPointer<QDialog>> open = {g_pFineAdjustDlg, g_pMergeDlg, g_pContrastDlg, g_pCylinderDlg, g_pGridDlg};
    for (const auto& d : open) QVERIFY(d && d->isVisible());
    QVERIFY(!g_pMonoDlg);
    g_nMergeRule = 2;
    QVERIFY(m_p->Command(cmd::kDeleteSource1));
    for (QDialog* d : {g_pFineAdjustDlg, g_pMergeDlg, g_pMonoDlg, g_pContrastDlg, g_pCylinderDlg, g_pGridDlg})
      QVERIFY(!d);
    Flush();
    for (const auto& d : open) QVERIFY(!d);
    QCOMPARE(g_nMergeRule, 0);
    QVERIFY(!g_pDestDoc->m_pTarget);
    QCOMPARE(g_nSourcesLoaded, 1);
  }

  void everyControlLiesInsideItsDialog() {
    OpenPair();
    Generate();
    for (int id : kTools) QVERIFY(Tool(id));
    for (QDialog* d : {g_pFineAdjustDlg, g_pMergeDlg, g_pContrastDlg, g_pCylinderDlg, g_pGridDlg}) {
      for (QWidget* child : d->findChildren<QWidget*>()) {
        if (!child->isVisibleTo(d) || child->parentWidget() != d) continue;
        QVERIFY2(d->rect().contains(child->geometry()), qPrintable(d->windowTitle()));
      }
      QVERIFY(!d->grab().isNull());
    }
  }

  // The whole road: two pictures, aligned in the Fine Adjustment dialog, merged
  // with fading, toned, projected and gridded, a Zone marked and saved; the
  // batch tool given the same settings must write the same bytes.
  void wholeSessionMatchesTheBatchTool() {
    OpenPair();
    // 220 columns apart, counted from the base each opening takes: 100 + 100 + 20.
    for (int step : {100, 100, 20}) {
      QVERIFY(Tool(cmd::kFineAlignment));
      auto* fine = As<CFineAdjustDlg>(g_pFineAdjustDlg);
      ClickTimes(fine->Spin(CFineAdjustDlg::kOffsetX)->UpArrow(), step);
      if (step == 20) {
        ClickTimes(fine->Spin(CFineAdjustDlg::kRotation1)->UpArrow(), 3);
        ClickTimes(fine->Spin(CFineAdjustDlg::kScale2X)->UpArrow(), 6);
      }
      Click(fine->UpdateButton());
      QVERIFY(g_pDestDoc->m_pTarget);
      QVERIFY(!fine->UpdateButton()->isEnabled());
      Click(fine->Control(1));
      Flush();
    }
    QCOMPARE(g_pDestDoc->m_nOffsetX, 220);
    QCOMPARE(g_pDestDoc->m_nOffsetY, 0);
    QCOMPARE(g_pDestDoc->m_nScale2X, 1030);
    QCOMPARE(g_pDestDoc->m_pSource2->Width(), 380 * 1030 / 1024);

    QVERIFY(Tool(cmd::kMergeSources));
    auto* merge = As<CMergeDlg>(g_pMergeDlg);
    merge->ControlAs<QSlider>(CMergeDlg::kBias)->setValue(90);
    Click(merge->Control(CMergeDlg::kFade2));
    Click(merge->UpdateButton());
    Click(merge->Control(1));

    QVERIFY(Tool(cmd::kContrastBrightness));
    auto* contrast = As<CContrastDlg>(g_pContrastDlg);
    contrast->ControlAs<QSlider>(CContrastDlg::kContrast)->setValue(20);
    contrast->ControlAs<QSlider>(CContrastDlg::kBrightness)->setValue(140);
    Click(contrast->UpdateButton());
    Click(contrast->Control(1));

    QVERIFY(Tool(cmd::kCylindricalProjection));
    auto* cylinder = As<CCylinderDlg>(g_pCylinderDlg);
    cylinder->ControlAs<QSlider>(CCylinderDlg::kAngle)->setValue(30);
    Click(cylinder->UpdateButton());
    Click(cylinder->Control(1));

    QVERIFY(Tool(cmd::kGridLines));
    auto* grid = As<CGridDlg>(g_pGridDlg);
    grid->ControlAs<QLineEdit>(CGridDlg::kSolidSpacing)->setText("50");
    Click(grid->Control(CGridDlg::kSolidEnable));
    Click(grid->Control(CGridDlg::kWhite));
    Click(grid->UpdateButton());
    Click(grid->Control(1));
    Flush();
    QCOMPARE(g_pDestDoc->m_bUpToDate, 1);
    QCOMPARE(g_pDestDoc->m_nBitDepth, 24);
    QCOMPARE(g_pDestDoc->m_nSwingAngle, 30);
    QCOMPARE(g_pDestDoc->m_nSourceBias, 90);

    // A Zone, dragged on the Target.
    g_pMainFrame->RaiseTargetWindow();
    g_pMainFrame->resize(1000, 800);
    QApplication::processEvents();
    QWidget* vp = g_pTargetView->viewport();
    const QPoint a(37, 21), b(301, 233);
    Mouse(vp, QEvent::MouseButtonPress, a, Qt::LeftButton, Qt::LeftButton);
    Mouse(vp, QEvent::MouseMove, (a + b) / 2, Qt::NoButton, Qt::LeftButton);
    Mouse(vp, QEvent::MouseMove, b, Qt::NoButton, Qt::LeftButton);
    Mouse(vp, QEvent::MouseButtonRelease, b, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(g_pDestDoc->m_bZoneOnly, 1);
    const ZonePoint za = g_pDestDoc->m_ptZoneAnchor, zc = g_pDestDoc->m_ptZoneCorner;
    QCOMPARE(za.x, 37);
    QCOMPARE(zc.y, 233);

    const QString saved = m_dir.filePath("session.png");
    m_p->m_fileDialog = [&](CMyfiledialog& d) { return test::AnswerFileDialog(d, saved, 3); };
    QVERIFY(m_p->Command(cmd::kFileSaveAs));
    m_p->m_fileDialog = nullptr;
    QVERIFY(QFile::exists(saved));

    const QString joined = m_dir.filePath("joined.png");
    const QStringList args = {"--quiet",
                              "--offset", "220,0",
                              "--rotate1", "0.3",
                              "--scale2", "1030,1024",
                              "--merge", "average",
                              "--bias", "90",
                              "--fade2",
                              "--contrast", "20",
                              "--brightness", "140",
                              "--swing", "30",
                              "--solid-grid", "50",
                              "--grid-colour", "white",
                              "--zone", QString("%1,%2,%3,%4").arg(za.x).arg(za.y).arg(zc.x).arg(zc.y),
                              TestData("pairs/coffee_left.png"),
                              TestData("pairs/coffee_right.png"),
                              joined};
    const QString why = test::DifferenceFromBatchJoin(QStringLiteral(TESSARA_JOIN), args, saved, joined);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    const QImage picture(saved);
    QCOMPARE(picture.size(), QSize(zc.x - za.x, zc.y - za.y));
  }
  // The Save dialog's compression options: shown as the settings hold them,
  // remembered on OK, and used by the save they go with.
  void saveDialogCompressionOptions() {
    OpenPair();
    Generate();
    bool shown = false, checked = true;
    int quality = 0;
    const QString lossless = m_dir.filePath("lossless.tif");
    m_p->m_fileDialog = [&](CMyfiledialog& d) {
      auto* box = d.findChild<QCheckBox*>("losslessTiff");
      auto* spin = d.findChild<QSpinBox*>("jpegQuality");
      shown = box && spin && box->text() == "Lossless TIFF";
      if (!shown) return int(QDialog::Rejected);
      checked = box->isChecked();
      quality = spin->value();
      box->setChecked(true);
      spin->setValue(40);
      return test::AnswerFileDialog(d, lossless, 4);
    };
    QVERIFY(m_p->Command(cmd::kFileSaveAs));
    QVERIFY(shown);
    QVERIFY(!checked);  // JPEG at quality 90 until the user chooses otherwise
    QCOMPARE(quality, 90);
    QSettings store(kCompanyKey, kApplicationName);
    QCOMPARE(store.value("Configure/Lossless TIFF").toInt(), 1);
    QCOMPARE(store.value("Configure/JPEG Quality").toInt(), 40);
    // Without loss: the file holds the Target's very pixels.
    CxImage back(lossless.toStdString(), CXIMAGE_FORMAT_TIF);
    QVERIFY(back.IsValid());
    DibPtr copy = back.TakeDib();
    QVERIFY(copy);
    QVERIFY(DibToRgb(*copy) == DibToRgb(*g_pDestDoc->m_pTarget));
    // The next dialog shows what was chosen; cancelling it changes nothing.
    m_p->m_fileDialog = [&](CMyfiledialog& d) {
      checked = d.findChild<QCheckBox*>("losslessTiff")->isChecked();
      quality = d.findChild<QSpinBox*>("jpegQuality")->value();
      d.findChild<QSpinBox*>("jpegQuality")->setValue(5);
      return int(QDialog::Rejected);
    };
    QVERIFY(m_p->Command(cmd::kFileSaveAs));
    m_p->m_fileDialog = nullptr;
    QVERIFY(checked);
    QCOMPARE(quality, 40);
    QCOMPARE(store.value("Configure/JPEG Quality").toInt(), 40);
  }
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
