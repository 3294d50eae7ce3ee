// What the program does with what picture files say besides their pixels, seen
// from the windows: the Options menu's two settings (written to the store,
// kept over a restart, honoured by the next load), the note about a loaded
// picture on the status line at load and whenever its window is active, and
// tagged pictures shown converted from their colour space.
#include <QApplication>
#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QMenu>
#include <QSettings>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTest>

#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "engine/tessara_doc.h"
#include "framework/registry.h"
#include "framework/settings.h"
#include "ui/common/paint_dib.h"
#include "ui/common/qt_settings.h"
#include "ui/common/status_line.h"
#include "ui/common/status_text.h"
#include "ui/common/ui_registry.h"
#include "ui/shell/child_frames.h"
#include "ui/shell/main_frame.h"
#include "ui/views/align_view.h"
#include "ui/views/destview.h"
#include "ui/views/tessara_view.h"
#include "ui_test_support.h"

using namespace tessara;
using tessara::test::CProgramUnderTest;
using tessara::test::TestData;

namespace {

QString PaneText(int pane) { return g_pMainFrame->StatusLine().Pane(pane)->ShownText(); }

QString Stored(const char* key) {
  return QSettings(kCompanyKey, kApplicationName)
      .value(QStringLiteral("%1/%2").arg(settings_key::kConfigure, key))
      .toString();
}

// A JPEG `width` x `height` whose EXIF block holds only the orientation tag.
QByteArray JpegWithOrientation(int width, int height, int orientation) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(x * 4, y * 4, 128));
  QByteArray jpeg;
  QBuffer buffer(&jpeg);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPG", 95);
  // Little-endian TIFF structure: one IFD, one SHORT entry.
  const QByteArray exif = QByteArray("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 24) +
                          char(orientation) + QByteArray(7, '\0');
  const int n = int(exif.size()) + 2;
  const QByteArray segment = QByteArray("\xFF\xE1", 2) + char(n >> 8) + char(n & 0xFF) + exif;
  return jpeg.left(2) + segment + jpeg.mid(2);
}

bool Write(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

bool SamePixels(const QImage& a, const QImage& b) {
  if (a.isNull() || a.size() != b.size()) return false;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y)) return false;
  return true;
}

CTessaraView* SourceView(int n) { return g_pSourceFrames[n - 1] ? g_pSourceFrames[n - 1]->View() : nullptr; }

}  // namespace

class TestPictures : public QObject {
  Q_OBJECT
  std::unique_ptr<CProgramUnderTest> m_p;
  QTemporaryDir m_dir;
  QString m_tagged;       // a JPEG 60 x 40 tagged "turn 90 degrees clockwise"
  QString m_adobeLeft;    // coffee_left.png tagged as Adobe RGB
  const QString kTurnedNote = "Turned upright by its orientation tag (turned 90 degrees clockwise).";

  QAction* Option(int id) { return g_pMainFrame->Action(id); }

 private slots:
  void initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(m_dir.isValid());
    m_tagged = m_dir.filePath("tagged.jpg");
    QVERIFY(Write(m_tagged, JpegWithOrientation(60, 40, 6)));
    QImage left(TestData("pairs/coffee_left.png"));
    QVERIFY(!left.isNull());
    left = left.convertToFormat(QImage::Format_RGB32);
    left.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
    m_adobeLeft = m_dir.filePath("coffee_left_adobe.png");
    QVERIFY(left.save(m_adobeLeft, "PNG"));
  }

  void init() {
    m_p = std::make_unique<CProgramUnderTest>();
    QVERIFY(m_p->Start());
  }

  void cleanup() { m_p.reset(); }

  void optionsAreOnByDefaultAndOutliveARestart() {
    QMenu* options = g_pMainFrame->MenuNamed("Options");
    QVERIFY(options);
    QVERIFY(Option(cmd::kTurnByOrientation)->isCheckable() && Option(cmd::kTurnByOrientation)->isChecked());
    QVERIFY(Option(cmd::kKeepCameraData)->isChecked());
    Option(cmd::kTurnByOrientation)->trigger();
    QCOMPARE(Stored(settings_key::kTurnByOrientation), QString("0"));
    QVERIFY(!Option(cmd::kTurnByOrientation)->isChecked());
    Option(cmd::kKeepCameraData)->trigger();
    QCOMPARE(Stored(settings_key::kKeepCameraData), QString("0"));
    m_p->Stop();
    QVERIFY(m_p->Start(true));
    QVERIFY(!Option(cmd::kTurnByOrientation)->isChecked());
    QVERIFY(!Option(cmd::kKeepCameraData)->isChecked());
    // On again, and said so when the menu shows.
    QVERIFY(m_p->Command(cmd::kKeepCameraData));
    QMetaObject::invokeMethod(g_pMainFrame->MenuNamed("Options"), "aboutToShow");
    QVERIFY(Option(cmd::kKeepCameraData)->isChecked());
    QCOMPARE(Stored(settings_key::kKeepCameraData), QString("1"));
  }

  void aLoadHonoursTheOrientationSetting() {
    QVERIFY(m_p->OpenSource(m_tagged, 2));
    QCOMPARE(g_pSourceDocs[0]->m_nWidth, 40);
    QCOMPARE(g_pSourceDocs[0]->m_nHeight, 60);
    QCOMPARE(QString::fromStdString(g_pSourceDocs[0]->m_szLoadNote), kTurnedNote);
    // Turned off, the next load keeps the stored pixels.
    Option(cmd::kTurnByOrientation)->trigger();
    QVERIFY(m_p->Command(cmd::kDeleteSource1));
    QVERIFY(m_p->OpenSource(m_tagged, 2));
    QCOMPARE(g_pSourceDocs[0]->m_nWidth, 60);
    QCOMPARE(g_pSourceDocs[0]->m_nHeight, 40);
    QVERIFY(QString::fromStdString(g_pSourceDocs[0]->m_szLoadNote).startsWith("Shown as stored"));
  }

  void theLoadNoteShowsAtLoadAndOnActivation() {
    QVERIFY(m_p->OpenSource(m_tagged, 2));
    m_p->Idle();
    QCOMPARE(PaneText(0), kTurnedNote);
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_right.png"), 3));
    m_p->Idle();
    // Source 2 has nothing to say; a menu prompt came and went.
    QStatusTipEvent tip("Open an existing image");
    QApplication::sendEvent(g_pMainFrame, &tip);
    QStatusTipEvent none{QString()};
    QApplication::sendEvent(g_pMainFrame, &none);
    QCOMPARE(PaneText(0), QString(status_text::kIdle));
    g_pMainFrame->RaiseChild(g_pSourceFrames[0]);
    m_p->Idle();
    QCOMPARE(PaneText(0), kTurnedNote);
    // Source 2's window does not pass source 1's note for its own.
    g_pMainFrame->RaiseChild(g_pSourceFrames[1]);
    m_p->Idle();
    QCOMPARE(PaneText(0), QString(status_text::kIdle));
    // Over source 1's window, the idle text after a prompt is its note.
    g_pMainFrame->RaiseChild(g_pSourceFrames[0]);
    QApplication::sendEvent(g_pMainFrame, &tip);
    QApplication::sendEvent(g_pMainFrame, &none);
    QCOMPARE(PaneText(0), kTurnedNote);
  }

  void theSecondSourcesNoteOutlivesThePreparation() {
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_left.png"), 3));
    QVERIFY(m_p->OpenSource(m_tagged, 2));
    m_p->Idle();
    QCOMPARE(g_pAlignDoc->m_bAlignValid, 1);
    QCOMPARE(PaneText(0), kTurnedNote);
  }

  void untaggedPicturesAreShownAsStored() {
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_left.png"), 3));
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_right.png"), 3));
    QVERIFY(g_pSourceDocs[0]->m_metadata.iccProfile.empty());
    const QImage& shown = SourceView(1)->ShownImage();
    const QImage raw = DibToQImage(*g_pSourceDocs[0]->m_pDib);
    QCOMPARE(shown.format(), raw.format());
    QVERIFY(SamePixels(shown, raw));
    QVERIFY(g_pAlignDoc->m_pPreview);
    QVERIFY(SamePixels(g_pAlignView->ShownPreview(), DibToQImage(*g_pAlignDoc->m_pPreview)));
  }

  void taggedPicturesAreShownInTheirColourSpace() {
    QVERIFY(m_p->OpenSource(m_adobeLeft, 3));
    QVERIFY(!g_pSourceDocs[0]->m_metadata.iccProfile.empty());
    QVERIFY(!SamePixels(SourceView(1)->ShownImage(), DibToQImage(*g_pSourceDocs[0]->m_pDib)));
    // Source 2 is untagged: its own window shows it as stored, while the
    // preview and the Target, in source 1's space, are converted.
    QVERIFY(m_p->OpenSource(TestData("pairs/coffee_right.png"), 3));
    QVERIFY(SamePixels(SourceView(2)->ShownImage(), DibToQImage(*g_pSourceDocs[1]->m_pDib)));
    QVERIFY(g_pAlignDoc->m_pPreview);
    QVERIFY(!SamePixels(g_pAlignView->ShownPreview(), DibToQImage(*g_pAlignDoc->m_pPreview)));
    g_pMainFrame->RaiseTargetWindow();
    QVERIFY(g_pTargetView->GenerateButton());
    QTest::mouseClick(g_pTargetView->GenerateButton(), Qt::LeftButton);
    QVERIFY(g_pDestDoc->m_pTarget);
    QVERIFY(!SamePixels(g_pTargetView->ShownTarget(), DibToQImage(*g_pDestDoc->m_pTarget)));
  }
};

QTEST_MAIN(TestPictures)
#include "test_pictures.moc"
