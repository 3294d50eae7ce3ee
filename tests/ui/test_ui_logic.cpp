// The rules behind the windows, checked without windows: pane 1's text, the
// Zone's snapping and refusal, the auto-scroll, the accelerators, the menu, the
// file-dialog filters and the save name's ending.
#include <QTest>

#include <QColorSpace>
#include <cstring>

#include <QDir>
#include <QImage>

#include "engine/tessara_doc.h"
#include "ui/common/commands.h"
#include "ui/common/file_dialog.h"
#include "ui/common/paint_dib.h"
#include "ui/common/status_text.h"
#include "ui/shell/recent_files.h"
#include "ui/views/align_view.h"
#include "ui/views/destview.h"
#include "ui/views/target_commands.h"
#include "ui/views/zone.h"

using namespace tessara;

class TestUiLogic : public QObject {
  Q_OBJECT
 private:
  static SessionStatus TwoSources() {
    SessionStatus s;
    s.haveTarget = true;
    s.sourcesLoaded = 2;
    s.upToDate = 1;
    s.targetImage = true;
    s.targetWidth = 1000;
    s.targetHeight = 500;
    return s;
  }

 private slots:
  void statusWaitsForSources() {
    SessionStatus s;
    QVERIFY(!SessionStatusText(s).has_value());  // no target yet: the text stays
    s.haveTarget = true;
    QCOMPARE(*SessionStatusText(s), std::string("Awaiting load of both sources."));
    s.sourcesLoaded = 1;
    s.alignActive = 1;
    QCOMPARE(*SessionStatusText(s), std::string("Awaiting load of 2nd source."));
  }

  void statusFollowsActiveWindow() {
    SessionStatus s = TwoSources();
    s.source2Active = 1;
    QCOMPARE(*SessionStatusText(s), std::string("This is source 2"));
    s.source2Active = 0;
    s.source1Active = 1;
    QCOMPARE(*SessionStatusText(s), std::string("This is source 1"));
    s.source1Active = 0;
    s.alignActive = 1;
    s.alignPreview = true;
    s.predictedWidth = 1800;
    s.predictedHeight = 1200;
    QCOMPARE(*SessionStatusText(s), std::string("Predicted target size = 1800 X 1200"));
    // No preview (yet): no size kept from an earlier pair.
    s.alignPreview = false;
    QCOMPARE(*SessionStatusText(s), std::string());
  }

  void statusShowsTargetAndZone() {
    SessionStatus s = TwoSources();
    QCOMPARE(*SessionStatusText(s), std::string("Actual target size = 1000 X 500"));
    s.zoneOnly = 1;
    s.zoneAnchor = {10, 20};
    s.dragCorner = {10, 20};
    QCOMPARE(*SessionStatusText(s), std::string("Zone rectangle not set"));
    s.dragCorner = {310, 220};
    QCOMPARE(*SessionStatusText(s), std::string("Zone width = 300  Zone height = 200"));
    s.dragCorner = {-290, -180};  // dragged up and to the left
    QCOMPARE(*SessionStatusText(s), std::string("Zone width = 300  Zone height = 200"));
    s.upToDate = 0;
    QCOMPARE(*SessionStatusText(s), std::string("Target needs updating"));
  }

  void statusClaimsNoSizeWithoutATarget() {
    // Up to date as far as the flag goes, but no picture (a stopped build):
    // the 1 x 1 kept then is no size of anything.
    SessionStatus s = TwoSources();
    s.targetImage = false;
    s.targetWidth = s.targetHeight = 1;
    QCOMPARE(*SessionStatusText(s), std::string("Target needs updating"));
  }

  void progressFillsItsShare() {
    QCOMPARE(ProgressFillWidth(50, 100), 50);
    QCOMPARE(ProgressFillWidth(0, 100), 0);
    QCOMPARE(ProgressFillWidth(100, 100), 100);
    QCOMPARE(ProgressFillWidth(33, 98), 32);
  }

  void snapTruncatesTowardZero() {
    QCOMPARE(SnapValue(37, 16), 32);
    QCOMPARE(SnapValue(70, 16), 64);
    QCOMPARE(SnapValue(37, 1), 37);
    QCOMPARE(SnapValue(-7, 5), -5);
  }

  void pressSnapsAndStartsZone() {
    CZoneTracker z;
    z.m_nSnap = 16;
    int zoneOnly = 0;
    z.LeftDown({37, 70}, 1000, 500, 1, zoneOnly);
    QCOMPARE(z.m_ptZoneAnchor.x, 32);
    QCOMPARE(z.m_ptZoneAnchor.y, 64);
    QCOMPARE(zoneOnly, 1);
    QCOMPARE(z.m_bAutoScroll, 1);
    CZoneTracker one;
    zoneOnly = 0;
    one.LeftDown({37, 70}, 1000, 500, 0, zoneOnly);
    QCOMPARE(one.m_ptZoneAnchor.x, 37);
    QCOMPARE(zoneOnly, 0);  // an out-of-date Target turns no Zone on
    QCOMPARE(one.m_bAutoScroll, 0);
  }

  void dragPastEdgeStopsAtLastGridLine() {
    for (int snap : {1, 5, 10, 16}) {
      CZoneTracker z;
      z.m_nSnap = snap;
      int zoneOnly = 0;
      z.LeftDown({100, 100}, 1000, 500, 1, zoneOnly);
      QVERIFY(z.DragTo({1200, 100}, 1000, 500, true));
      QCOMPARE(z.m_ptDragCorner.x, snap == 16 ? 992 : 1000);
      QVERIFY(z.DragTo({-30, -5}, 1000, 500, true));
      QCOMPARE(z.m_ptDragCorner.x, 0);
      QCOMPARE(z.m_ptDragCorner.y, 0);
    }
  }

  void dragWithCtrlMovesNothing() {
    CZoneTracker z;
    int zoneOnly = 0;
    z.LeftDown({100, 100}, 1000, 500, 1, zoneOnly);
    QVERIFY(!z.DragTo({300, 300}, 1000, 500, false));
    QCOMPARE(z.m_ptDragCorner.x, 100);
  }

  void releaseAcceptsOrRefuses() {
    struct Case {
      int dx, dy;
      CZoneTracker::Release expected;
    };
    const Case cases[] = {{64, 64, CZoneTracker::Release::kAccepted},
                          {100, 50, CZoneTracker::Release::kRefused},
                          {3, 200, CZoneTracker::Release::kRefusedSilently},
                          {0, 0, CZoneTracker::Release::kRefusedSilently},
                          {5, 5, CZoneTracker::Release::kRefused}};
    for (const Case& c : cases) {
      CZoneTracker z;
      int zoneOnly = 0;
      z.LeftDown({100, 100}, 1000, 500, 1, zoneOnly);
      const auto r = z.LeftUp({100 + c.dx, 100 + c.dy}, 1000, 500, true, 1000, 500, zoneOnly);
      QCOMPARE(int(r), int(c.expected));
      if (r == CZoneTracker::Release::kAccepted) {
        QCOMPARE(zoneOnly, 1);
        QVERIFY(z.HasOutline(zoneOnly));
      } else {
        QCOMPARE(zoneOnly, 0);
        QCOMPARE(z.m_ptZoneAnchor.x, 100 + c.dx);  // both corners at the release point
        QCOMPARE(z.m_ptZoneCorner.y, 100 + c.dy);
      }
    }
  }

  void releaseWithoutTargetOnlyStoresCorner() {
    CZoneTracker z;
    int zoneOnly = 0;
    z.LeftDown({10, 10}, 1, 1, 0, zoneOnly);
    QCOMPARE(int(z.LeftUp({0, 0}, 1, 1, false, 0, 0, zoneOnly)), int(CZoneTracker::Release::kNoTarget));
    QCOMPARE(int(z.LeftUp({0, 0}, 1, 1, false, 0, 0, zoneOnly)), int(CZoneTracker::Release::kNotDown));
  }

  void rightClickClearsZone() {
    CZoneTracker z;
    int zoneOnly = 0;
    z.LeftDown({100, 100}, 1000, 500, 1, zoneOnly);
    z.DragTo({300, 300}, 1000, 500, true);
    z.LeftUp({300, 300}, 1000, 500, true, 1000, 500, zoneOnly);
    z.RightDown(zoneOnly);
    QCOMPARE(zoneOnly, 0);
    QCOMPARE(z.m_ptZoneAnchor.x, 0);
    QCOMPARE(z.m_ptZoneCorner.y, 0);
    QCOMPARE(z.m_ptDragCorner.x, 300);  // the live corner stays
  }

  void hoverShowsSourcePixels() {
    CZoneTracker z;
    QCOMPARE(*z.HoverText({120, 455}, 500, 1, 100, 100), std::string("x = 120 y = 45"));
    QCOMPARE(*z.HoverText({0, 0}, 500, 1, 100, 100), std::string("x = 0 y = 500"));
    QCOMPARE(*z.HoverText({0, 499}, 500, 1, 100, 100), std::string("x = 0 y = 1"));
    QVERIFY(!z.HoverText({0, 499}, 500, 0, 100, 100).has_value());
  }

  void autoScrollFollowsTheCorner() {
    CZoneTracker z;
    int zoneOnly = 0;
    z.LeftDown({100, 100}, 2000, 300, 1, zoneOnly);
    z.DragTo({620, 100}, 2000, 300, true);  // 20 beyond a 600-wide client
    ScrollPos s = z.AutoScroll({0, 0}, 600, 300, 2000, 300);
    QCOMPARE(s.x, 20);
    QCOMPARE(z.m_ptDragCorner.x, 640);
    s = z.AutoScroll(s, 600, 300, 2000, 300);
    QCOMPARE(s.x, 40);
    z.m_bAutoScroll = 0;
    QCOMPARE(z.AutoScroll(s, 600, 300, 2000, 300), s);
    // Back to the left.
    z.m_bAutoScroll = 1;
    z.m_ptDragCorner = {30, 100};
    s = z.AutoScroll({50, 0}, 600, 300, 2000, 300);
    QCOMPARE(s.x, 30);
  }

  void acceleratorsMatchTypedCharacters() {
    QCOMPARE(MatchAccelerator(Qt::Key_A, Qt::NoModifier, "a"), int(cmd::kViewAlign));
    QCOMPARE(MatchAccelerator(Qt::Key_A, Qt::ShiftModifier, "A"), 0);
    QCOMPARE(MatchAccelerator(Qt::Key_S, Qt::ShiftModifier, "S"), int(cmd::kFileSaveAs));
    QCOMPARE(MatchAccelerator(Qt::Key_S, Qt::NoModifier, "s"), int(cmd::kFileSaveAs));
    QCOMPARE(MatchAccelerator(Qt::Key_1, Qt::NoModifier, "1"), int(cmd::kViewSource1));
    QCOMPARE(MatchAccelerator(Qt::Key_2, Qt::KeypadModifier, "2"), int(cmd::kViewSource2));
    QCOMPARE(MatchAccelerator(Qt::Key_3, Qt::NoModifier, "3"), int(cmd::kViewTargetKey));
    QCOMPARE(MatchAccelerator(Qt::Key_O, Qt::ControlModifier, QString(QChar(15))), int(cmd::kFileOpen));
    QCOMPARE(MatchAccelerator(Qt::Key_P, Qt::ControlModifier, QString(QChar(16))), int(cmd::kFilePrint));
    QCOMPARE(MatchAccelerator(Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier, ""), 0);
    QCOMPARE(MatchAccelerator(Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier, QString(QChar(1))),
             int(cmd::kAlignAutomatically));
    QCOMPARE(MatchAccelerator(Qt::Key_A, Qt::ControlModifier, QString(QChar(1))), 0);
    QCOMPARE(MatchAccelerator(Qt::Key_F1, Qt::NoModifier, ""), int(cmd::kHelp));
    QCOMPARE(MatchAccelerator(Qt::Key_F1, Qt::ShiftModifier, ""), int(cmd::kContextHelp));
    QCOMPARE(MatchAccelerator(Qt::Key_F6, Qt::NoModifier, ""), int(cmd::kNextPane));
    QCOMPARE(MatchAccelerator(Qt::Key_A, Qt::AltModifier, "a"), 0);
    QCOMPARE(MatchAccelerator(Qt::Key_B, Qt::NoModifier, "b"), 0);
  }

  void menuHasItsTextsAndPrompts() {
    const auto& menus = MenuTable();
    QCOMPARE(int(menus.size()), 7);
    QCOMPARE(QString(menus[0].items[0].text), QString("&Open...\tCtrl+O"));
    QCOMPARE(CommandPrompt(cmd::kFileOpen), QString("Open an existing image"));
    QCOMPARE(CommandPrompt(cmd::kSnap16), QString("Snap grid to  16"));
    QCOMPARE(CommandPrompt(cmd::kResetSize1), QString("Reset sizeof source 1 image to 100% of original"));
    QCOMPARE(CommandPrompt(cmd::kFileMru1 + 3), QString("Open this document"));
    int commands = 0;
    for (const Menu& m : menus)
      for (const MenuItem& i : m.items) commands += i.kind == MenuItem::kCommand;
    QCOMPARE(commands, 5 + 1 + 11 + 1 + 11 + 1 + 4 + 2 + 3);  // Target: and Use Target as Source 1
  }

  void routeStopsAtFirstHandler() {
    struct Target : CCmdTarget {
      int handles, runs = 0;
      bool on;
      Target(int h, bool e) : handles(h), on(e) {}
      bool OnUpdateCommand(int id, bool& enabled) override {
        if (id != handles) return false;
        enabled = on;
        return true;
      }
      void OnCommand(int) override { ++runs; }
    };
    Target view(1, false), app(1, true), other(2, true);
    bool enabled = true;
    QCOMPARE(FindHandler({&view, nullptr, &app}, 1, enabled), static_cast<CCmdTarget*>(&view));
    QVERIFY(!enabled);
    QVERIFY(!RunCommand({&view, &app}, 1));  // the first handler disables it
    QCOMPARE(app.runs, 0);
    QVERIFY(RunCommand({&view, &other}, 2));
    QCOMPARE(other.runs, 1);
    QVERIFY(!RunCommand({&view, &other}, 3));  // nobody handles it
  }

  void filtersParse() {
    const QStringList open = ParseFilterString(kOpenFilter);
    QCOMPARE(open.size(), 8);
    QCOMPARE(open[1], QString("Bitmap Files (*.bmp)"));
    QCOMPARE(open[4], QString("Tif Files (*.tif *.tiff)"));
    QCOMPARE(open[7], QString("All Files (*)"));
    QCOMPARE(ParseFilterString(target_text::kSaveFilter).size(), 6);
    QCOMPARE(DirectoryOfPath("/home/u/pics/a.jpg", "a.jpg"), QString("/home/u/pics/"));
  }

  void saveNameGetsFilterEnding() {
    QCOMPARE(SavePathWithEnding("/t/picture", 3), std::string("/t/picture.png"));
    QCOMPARE(SavePathWithEnding("/t/picture.JPG", 1), std::string("/t/picture.JPG"));
    QCOMPARE(SavePathWithEnding("/t/p.wmf", 1), std::string("/t/p.wmf"));
    QCOMPARE(SavePathWithEnding("/t/p.jpeg", 1), std::string("/t/p.jpeg.bmp"));
  }

  void recentFileMenuTexts() {
    QCOMPARE(CRecentFileList::MenuText(0, "/a/b.png"), QString("&1 /a/b.png"));
    QCOMPARE(CRecentFileList::MenuText(9, "/a/b.png"), QString("1&0 /a/b.png"));
    QCOMPARE(CRecentFileList::MenuText(12, "/a&b.png"), QString("13 /a&&b.png"));
  }

  // The picture drawn on the screen is the picture the core reads, at every
  // depth, row order and compression the bitmap files bring.
  void dibDrawsAsTheCoreReadsIt() {
    const QDir dir(QStringLiteral(TESSARA_TESTDATA "/formats"));
    int checked = 0;
    for (const QString& name : dir.entryList({"bmp_*.bmp"})) {
      const std::string path = dir.filePath(name).toStdString();
      DibPtr dib = ReadDibFile(path);
      QVERIFY(dib);
      uint32_t offset = 0;
      if (FILE* f = std::fopen(path.c_str(), "rb")) {
        unsigned char h[14];
        if (std::fread(h, 1, 14, f) == 14) offset = h[10] | h[11] << 8 | h[12] << 16 | uint32_t(h[13]) << 24;
        std::fclose(f);
      }
      NormaliseBitmapBlock(dib, offset);
      const std::vector<uint8_t> rgb = DibToRgb(*dib);
      const QImage image = DibToQImage(*dib);
      if (rgb.empty()) {
        // Run-length rows: drawn as the codec layer expands them.
        const QImage expected =
            QImage(dir.filePath(name + ".expected.ppm")).convertToFormat(QImage::Format_RGB32);
        QVERIFY2(!expected.isNull() && image.convertToFormat(QImage::Format_RGB32) == expected, qPrintable(name));
        ++checked;
        continue;
      }
      QVERIFY2(!image.isNull(), qPrintable(name));
      const int w = dib->Width(), h = std::abs(dib->Height());
      QCOMPARE(image.size(), QSize(w, h));
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const uint8_t* p = &rgb[(size_t(y) * w + x) * 3];
          QCOMPARE(image.pixel(x, y), qRgb(p[0], p[1], p[2]));
        }
      ++checked;
    }
    QVERIFY(checked >= 6);
  }

  void dibThatLiesAboutItsSizeIsNotDrawn() {
    DibPtr dib = CreateDib(0, 24, 10, 10, "");
    QVERIFY(dib);
    dib->Header().biHeight = 100000;
    QVERIFY(DibToQImage(*dib).isNull());
  }

  // A 24-bit picture of saturated colours and grey, white and black.
  static DibPtr Colours24() {
    DibPtr dib = CreateDib(0, 24, 4, 2, "");
    const uint8_t bgr[8][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {40, 200, 90},
                               {128, 128, 128}, {255, 255, 255}, {0, 0, 0}, {10, 20, 200}};
    for (int i = 0; i < 8; ++i) std::memcpy(dib->Row(i / 4) + 3 * (i % 4), bgr[i], 3);
    return dib;
  }
  static IccProfile Profile(const QColorSpace& space) {
    const QByteArray icc = space.iccProfile();
    return IccProfile(icc.begin(), icc.end());
  }
  static bool SamePixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return false;
    for (int y = 0; y < a.height(); ++y)
      for (int x = 0; x < a.width(); ++x)
        if (a.pixel(x, y) != b.pixel(x, y)) return false;
    return true;
  }

  void untaggedAndSrgbPicturesAreShownAsStored() {
    DibPtr dib = Colours24();
    const QImage raw = DibToQImage(*dib);
    IccProfile damaged = Profile(QColorSpace(QColorSpace::AdobeRgb));
    damaged.resize(damaged.size() / 2);
    for (const IccProfile& icc : {IccProfile(), Profile(QColorSpace(QColorSpace::SRgb)), damaged,
                                  IccProfile{'n', 'o', 't', ' ', 'a', 'n', ' ', 'I', 'C', 'C'}}) {
      QVERIFY(!ColourSpaceToConvert(icc).isValid());
      CDibImageCache cache;
      const QImage& shown = cache.Get(dib.get(), icc);
      QCOMPARE(shown.format(), raw.format());
      QVERIFY(SamePixels(shown, raw));
    }
    // Not even copied: the image made from the picture is the one shown.
    QImage image = DibToQImage(*dib);
    const uchar* bits = image.constBits();
    const QImage shown = ConvertForScreen(std::move(image), ColourSpaceToConvert({}));
    QCOMPARE(shown.constBits(), bits);
  }

  void taggedPicturesAreConvertedForTheScreen() {
    DibPtr dib = Colours24();
    const QImage raw = DibToQImage(*dib);
    CDibImageCache cache;
    const QImage& shown = cache.Get(dib.get(), Profile(QColorSpace(QColorSpace::AdobeRgb)));
    QCOMPARE(shown.size(), raw.size());
    // A colour inside both gamuts and a grey (the same grey on another tone
    // curve) change; white and black stay.
    QVERIFY(shown.pixel(3, 1) != raw.pixel(3, 1));
    QVERIFY(shown.pixel(0, 0) != raw.pixel(0, 0));
    QCOMPARE(shown.pixel(1, 0), qRgb(255, 255, 255));
    QCOMPARE(shown.pixel(2, 0), qRgb(0, 0, 0));
    // The same picture without its profile is shown as stored again.
    QVERIFY(SamePixels(cache.Get(dib.get(), {}), raw));
  }

  void indexedPicturesAreConvertedThroughTheirTable() {
    DibPtr dib = CreateDib(0, 8, 2, 1, "");
    dib->ColorTable()[0] = {40, 200, 90, 0};
    dib->ColorTable()[1] = {255, 255, 255, 0};
    dib->Row(0)[0] = 0;
    dib->Row(0)[1] = 1;
    CDibImageCache cache;
    const QImage& shown = cache.Get(dib.get(), Profile(QColorSpace(QColorSpace::DisplayP3)));
    QCOMPARE(shown.format(), QImage::Format_Indexed8);
    QVERIFY(shown.pixel(0, 0) != qRgb(90, 200, 40));
    QCOMPARE(shown.pixel(1, 0), qRgb(255, 255, 255));
  }

  void guidanceBands() {
    QCOMPARE(GuideBandHeight(356), 3);
    QCOMPARE(GuideBandHeight(100), 1);
    QCOMPARE(WaitBandHeight(200), 1);
    QCOMPARE(WaitBandCount(200), 100);
    QCOMPARE(WaitBandCount(100), 0);
  }
};

QTEST_APPLESS_MAIN(TestUiLogic)
#include "test_ui_logic.moc"
