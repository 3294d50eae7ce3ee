// Automatic alignment: the settings it derives lay source 2 where an estimate
// says once prepared and joined; estimates on pairs with known placement (the
// shared pairs, pairs cut from photographs with turn, scale, JPEG noise and a
// brightness change, a black-and-white document) come within a pixel, a tenth of
// a degree and 2/1024 of the truth; unrelated pictures are refused; the space
// bar stops it.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "cli/join_options.h"
#include "engine/auto_align.h"
#include "tests/engine_fixture.h"
#include "tests/test_support.h"

namespace tessara {
namespace {

namespace fs = std::filesystem;
using test::EngineTest;

// A 24-bit picture from a colour Mat whose rows are stored rows.
DibPtr DibFromMat(const cv::Mat& m) {
  DibPtr dib = CreateDib(0, 24, m.cols, m.rows, "x");
  for (int y = 0; y < m.rows; ++y) std::memcpy(dib->Row(y), m.ptr<uint8_t>(y), 3 * static_cast<size_t>(m.cols));
  return dib;
}

// The picture as a colour Mat, stored rows in order.
cv::Mat MatFromFile(const fs::path& path) {
  CxImage img(path.string(), CXIMAGE_FORMAT_UNKNOWN);
  DibPtr dib = img.TakeDib();
  if (!dib || dib->BitCount() != 24) return {};
  cv::Mat m(dib->Height(), dib->Width(), CV_8UC3);
  for (int y = 0; y < m.rows; ++y) std::memcpy(m.ptr<uint8_t>(y), dib->Row(y), 3 * static_cast<size_t>(m.cols));
  return m;
}

// Source 2 as a hand alignment with `settings` would lay it, in the same
// terms as the truth.
PrepareGeometry Geometry(const Dib& d) {
  PrepareGeometry g;
  g.width = d.Width(), g.height = std::abs(d.Height()), g.bits = d.BitCount();
  return g;
}

void ExpectNear(const AutoAlignPlacement& found, const AutoAlignPlacement& truth, const std::string& what) {
  EXPECT_LE(std::abs(found.offsetX - truth.offsetX), 1) << what;
  EXPECT_LE(std::abs(found.offsetY - truth.offsetY), 1) << what;
  EXPECT_LE(std::abs(found.rotationTenths - truth.rotationTenths), 1) << what;
  EXPECT_LE(std::abs(found.scale - truth.scale), 2) << what;
}

class AutoAlignTest : public EngineTest {
 protected:
  AutoAlignResult Align(DibPtr a, DibPtr b) {
    AddSource(std::move(a));
    AddSource(std::move(b));
    return FindAutoAlignment(*doc);
  }
  void Unload() {
    while (g_nSourcesLoaded > 0) RemoveSource(g_nSourcesLoaded);
  }
};

// Bright round spots on black at the given positions (stored rows).
DibPtr Spots(int width, int height, int bits, const std::vector<cv::Point2d>& at) {
  DibPtr dib = CreateDib(0, bits, width, height, "x");
  if (bits == 8)
    for (int i = 0; i < 256; ++i) dib->ColorTable()[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      double v = 0;
      for (const cv::Point2d& p : at) v += 255 * std::exp(-((x - p.x) * (x - p.x) + (y - p.y) * (y - p.y)) / 8.0);
      const uint8_t g = static_cast<uint8_t>(std::min(255.0, v));
      if (bits == 8) dib->Row(y)[x] = g;
      else std::memset(dib->Row(y) + 3 * x, g, 3);
    }
  return dib;
}

// Brightness-weighted middle of the spot near (x, y) in a 24- or 8-bit Target.
cv::Point2d SpotCentre(const Dib& target, double x, double y) {
  double sx = 0, sy = 0, sw = 0;
  for (int j = static_cast<int>(y) - 7; j <= static_cast<int>(y) + 7; ++j)
    for (int i = static_cast<int>(x) - 7; i <= static_cast<int>(x) + 7; ++i) {
      if (i < 0 || j < 0 || i >= target.Width() || j >= target.Height()) continue;
      const int v = target.BitCount() == 24 ? target.Row(j)[3 * i + 1] : target.ColorTable()[target.Row(j)[i]].rgbGreen;
      const double w = std::max(0, v - 20);
      sx += w * i, sy += w * j, sw += w;
    }
  return sw > 0 ? cv::Point2d(sx / sw, sy / sw) : cv::Point2d(-1e9, -1e9);
}

TEST_F(AutoAlignTest, SettingsLaySourceTwoWhereTheEstimateSays) {
  const std::vector<cv::Point2d> spots{{30, 25}, {170, 30}, {100, 80}, {35, 135}, {165, 130}, {70, 50}};
  struct Case {
    double degrees, scale, tx, ty;
    int cut, bits;
  } cases[] = {{0, 1.0, 150.5, -20.25, 1, 24},   {4.23, 1.0, 160, 10, 1, 24},  {-7.31, 0.93, 120, 40, 0, 24},
               {9.87, 1.081, -90, 30, 1, 24},    {-2.5, 1.05, 60, -60, 0, 8}, {178.2, 0.97, 140, 5, 1, 24},
               {-6.0, 0.9, 20, 130, 0, 24}};
  for (const Case& c : cases) {
    const double r = c.degrees * kDegToRad;
    const Similarity t{c.scale * std::cos(r), c.scale * std::sin(r), c.tx, c.ty};
    const std::string what = "angle " + std::to_string(c.degrees) + " scale " + std::to_string(c.scale);
    AddSource(CreateDib(0, 24, 260, 200, "x"));
    AddSource(Spots(200, 160, c.bits, spots));
    doc->m_bCutCorners2 = c.cut;
    const AutoAlignPlacement s =
        SettingsForSimilarity(Geometry(*g_pSourceDocs[0]->m_pDib), [&] {
          PrepareGeometry g = Geometry(*g_pSourceDocs[1]->m_pDib);
          g.cutCorners = c.cut;
          return g;
        }(), t, 100, 80);
    doc->m_nOffsetX = s.offsetX, doc->m_nOffsetY = s.offsetY;
    doc->m_dRotation2 = s.Rotation();
    doc->m_nScale2X = doc->m_nScale2Y = s.scale;
    ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
    ASSERT_EQ(doc->PrepareSource(2), kPrepareDone);
    ASSERT_EQ(doc->GenerateTarget(), 1);
    const int x1 = s.offsetX < 0 ? -s.offsetX : 0, y1 = s.offsetY < 0 ? -s.offsetY : 0;
    for (const cv::Point2d& p : spots) {
      double ex, ey;
      t.Apply(p.x, p.y, ex, ey);
      const cv::Point2d got = SpotCentre(*doc->m_pTarget, ex + x1, ey + y1);
      EXPECT_NEAR(got.x, ex + x1, 1.0) << what << " spot " << p;
      EXPECT_NEAR(got.y, ey + y1, 1.0) << what << " spot " << p;
    }
    Unload();
    doc->ResetSession();
  }
}

TEST(AutoAlignPlacement, SourceOneTurnedOrMirroredIsTakenIntoAccount) {
  // Source 1 as prepared: its placement is where its detail lands in the copy;
  // source 2 with the settings found must land its detail at the same place.
  PrepareGeometry g1{300, 200, 24, 1100, 1100, 3.0, 0, 0};
  PrepareGeometry g2{240, 180, 24, 1024, 1024, 0.0, 1, 0};
  const Similarity t{0.99 * std::cos(0.05), 0.99 * std::sin(0.05), 180, 12};
  const AutoAlignPlacement s = SettingsForSimilarity(g1, g2, t, 60, 90);
  g2.angle = s.Rotation();
  g2.scaleX = g2.scaleY = s.scale;
  const Affine2 f1 = PreparedPlacement(g1), f2 = PreparedPlacement(g2);
  for (cv::Point2d p : {cv::Point2d(20, 60), cv::Point2d(60, 90), cv::Point2d(100, 150)}) {
    double x1, y1, x2, y2, q1x, q1y;
    t.Apply(p.x, p.y, x1, y1);
    f1.Apply(x1, y1, q1x, q1y);
    f2.Apply(p.x, p.y, x2, y2);
    EXPECT_NEAR(x2 + s.offsetX, q1x, 1.0);
    EXPECT_NEAR(y2 + s.offsetY, q1y, 1.0);
  }
  // Untouched sources: the placement is the identity.
  const Affine2 id = PreparedPlacement(PrepareGeometry{321, 123, 24, 1024, 1024, 0.0, 1, 0});
  EXPECT_DOUBLE_EQ(id.m00, 1.0);
  EXPECT_DOUBLE_EQ(id.m01, 0.0);
  EXPECT_DOUBLE_EQ(id.m02, 0.0);
  EXPECT_DOUBLE_EQ(id.m12, 0.0);
}

// A pair cut from a photograph: source 1 a plain piece of it, source 2 a piece
// turned and scaled (by the similarity `t` from source 2 to source 1), both
// through a JPEG round trip, source 2 brighter or darker.
struct Cut {
  const char* photo;
  double degrees, scale, overlap;
  bool vertical;
  double gain, bias;
  bool mirror;
};

DibPtr ThroughJpeg(DibPtr dib, int quality) {
  CxImage img(std::move(dib));
  img.m_nJpegQuality = quality;
  std::vector<uint8_t> bytes;
  if (!img.Encode(bytes, CXIMAGE_FORMAT_JPG)) return nullptr;
  CxImage back(bytes.data(), bytes.size(), CXIMAGE_FORMAT_JPG);
  return back.TakeDib();
}

cv::Mat WarpCut(const cv::Mat& from, const Similarity& t, cv::Point2d origin, cv::Size size, int flags) {
  // Source 2 pixel p shows the picture at t(p) + origin.
  const double m[6] = {t.a, -t.b, t.tx + origin.x, t.b, t.a, t.ty + origin.y};
  cv::Mat out;
  cv::warpAffine(from, out, cv::Mat(2, 3, CV_64F, const_cast<double*>(m)), size, flags | cv::WARP_INVERSE_MAP,
                 cv::BORDER_REFLECT_101);
  return out;
}

// The similarity from source 2 to source 1 for a cut: source 2 turned by
// `degrees` and scaled, its middle placed so that about `overlap` of source 1
// is shared.
Similarity CutPlacement(const Cut& c, cv::Size s1, cv::Size s2) {
  const double r = c.degrees * kDegToRad;
  Similarity t{c.scale * std::cos(r), c.scale * std::sin(r), 0, 0};
  double mx = (s1.width - 1) / 2.0, my = (s1.height - 1) / 2.0;
  if (c.vertical) my = s1.height * (1 - c.overlap) + c.scale * s2.height / 2.0;
  else mx = s1.width * (1 - c.overlap) + c.scale * s2.width / 2.0;
  double x, y;
  t.Apply((s2.width - 1) / 2.0, (s2.height - 1) / 2.0, x, y);
  t.tx = mx - x, t.ty = my - y;
  return t;
}

TEST_F(AutoAlignTest, PairsCutFromPhotographs) {
  const Cut cuts[] = {
      {"coffee.png", -10.0, 0.9, 0.15, false, 1.2, -10, false},  {"chelsea.png", 10.0, 1.1, 0.6, true, 0.85, 5, false},
      {"astronaut.png", 3.7, 1.0, 0.3, false, 1.1, 0, false},    {"rocket.jpg", -6.2, 0.95, 0.45, true, 0.9, 12, false},
      {"coffee.png", 0.0, 1.07, 0.25, true, 1.0, 20, false},     {"astronaut.png", -1.3, 1.1, 0.15, true, 1.15, 0, false},
      {"chelsea.png", 7.5, 0.92, 0.2, false, 0.8, 0, false},     {"rocket.jpg", -9.0, 1.04, 0.6, false, 1.0, -15, false},
      {"coffee.png", 5.5, 0.97, 0.35, false, 1.1, 0, true},
  };
  for (const Cut& c : cuts) {
    const cv::Mat photo = MatFromFile(test::TestData(std::string("photos/") + c.photo));
    ASSERT_FALSE(photo.empty()) << c.photo;
    cv::Size s1(photo.cols / 2, photo.rows * 4 / 5), s2 = s1;
    if (c.vertical) s1 = s2 = cv::Size(photo.cols * 4 / 5, photo.rows / 2);
    const cv::Point2d origin = c.vertical ? cv::Point2d(photo.cols / 10, 0) : cv::Point2d(0, photo.rows / 10);
    const Similarity t = CutPlacement(c, s1, s2);
    cv::Mat piece1 = photo(cv::Rect(static_cast<int>(origin.x), static_cast<int>(origin.y), s1.width, s1.height));
    cv::Mat piece2 = WarpCut(photo, t, origin, s2, cv::INTER_LINEAR);
    piece2.convertTo(piece2, -1, c.gain, c.bias);
    if (c.mirror) cv::flip(piece2, piece2, 1);
    const std::string what = std::string(c.photo) + " turned " + std::to_string(c.degrees) + " scaled " +
                             std::to_string(c.scale) + (c.vertical ? " above" : " beside") +
                             (c.mirror ? " mirrored" : "");
    doc->m_bMirror2 = c.mirror;
    const AutoAlignResult r = Align(ThroughJpeg(DibFromMat(piece1), 85), ThroughJpeg(DibFromMat(piece2), 80));
    ASSERT_EQ(r.status, AutoAlignStatus::kFound) << what << " " << r.inliers << " of " << r.matches;
    PrepareGeometry g1, g2;
    g1.width = s1.width, g1.height = s1.height;
    g2.width = s2.width, g2.height = s2.height, g2.mirror = c.mirror;
    Affine2 truth{t.a, -t.b, t.tx, t.b, t.a, t.ty};
    if (c.mirror) truth = {-t.a, -t.b, t.a * (s2.width - 1) + t.tx, -t.b, t.a, t.b * (s2.width - 1) + t.ty};
    ExpectNear(r.settings, SettingsForAffine(g1, g2, truth, r.refX, r.refY), what);
    Unload();
    doc->ResetSession();
  }
}

TEST_F(AutoAlignTest, BlackAndWhiteDocumentPair) {
  // A page of print, cut in two overlapping pieces; the second turned 1.5
  // degrees as a sheet laid slightly askew on a scanner.
  cv::Mat page(700, 1000, CV_8U, cv::Scalar(255));
  std::mt19937 random(7);
  const char* words[] = {"alignment", "of", "two", "scanned", "pages", "tessara", "joins", "pictures", "the", "and",
                         "overlap", "detail", "measure", "quarter", "every", "line"};
  for (int line = 0; line < 22; ++line) {
    std::string text;
    while (text.size() < 70) text += std::string(words[random() % 16]) + " ";
    cv::putText(page, text, cv::Point(10, 30 + line * 30), cv::FONT_HERSHEY_SIMPLEX, 0.6, cv::Scalar(0), 1, cv::LINE_8);
  }
  const cv::Size s1(600, 700), s2(600, 700);
  const Cut c{"", 1.5, 1.0, 0.3, false, 1, 0, false};
  const Similarity t = CutPlacement(c, s1, s2);
  const cv::Mat piece2 = WarpCut(page, t, {0, 0}, s2, cv::INTER_NEAREST);
  auto oneBit = [](const cv::Mat& m) {
    DibPtr dib = CreateDib(0, 1, m.cols, m.rows, "x");
    dib->ColorTable()[0] = {0, 0, 0, 0};
    dib->ColorTable()[1] = {255, 255, 255, 0};
    for (int y = 0; y < m.rows; ++y)
      for (int x = 0; x < m.cols; ++x)
        if (m.at<uint8_t>(y, x) >= 128) dib->Row(y)[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    return dib;
  };
  const AutoAlignResult r = Align(oneBit(page(cv::Rect(0, 0, s1.width, s1.height))), oneBit(piece2));
  ASSERT_EQ(r.status, AutoAlignStatus::kFound) << r.inliers << " of " << r.matches;
  PrepareGeometry g1, g2;
  g1.width = s1.width, g1.height = s1.height, g1.bits = 1;
  g2.width = s2.width, g2.height = s2.height, g2.bits = 1;
  ExpectNear(r.settings, SettingsForSimilarity(g1, g2, t, r.refX, r.refY), "document");
}

TEST_F(AutoAlignTest, UnrelatedPicturesAreRefusedAndNothingChanges) {
  auto piece = [](const char* photo, int w, int h) {
    const cv::Mat m = MatFromFile(test::TestData(std::string("photos/") + photo));
    return DibFromMat(m(cv::Rect(0, 0, std::min(w, m.cols), std::min(h, m.rows))).clone());
  };
  cv::Mat noise1(300, 300, CV_8UC3), noise2(300, 300, CV_8UC3);
  cv::randu(noise1, 0, 256);
  cv::randu(noise2, 0, 256);
  std::pair<DibPtr, DibPtr> pairs[4] = {{piece("coffee.png", 400, 400), piece("rocket.jpg", 400, 400)},
                                        {piece("astronaut.png", 512, 512), piece("chelsea.png", 451, 300)},
                                        {DibFromMat(noise1), DibFromMat(noise2)},
                                        {CreateDib(200, 24, 300, 200, "x"), CreateDib(90, 24, 300, 200, "x")}};
  for (auto& [a, b] : pairs) {
    doc->m_nOffsetX = 17, doc->m_nOffsetY = -3, doc->m_dRotation2 = 1.5, doc->m_nScale2X = doc->m_nScale2Y = 1000;
    const AutoAlignResult r = Align(std::move(a), std::move(b));
    EXPECT_NE(r.status, AutoAlignStatus::kFound) << r.inliers << " of " << r.matches << ": " << AlignmentOptions(r.settings);
    EXPECT_EQ(doc->m_nOffsetX, 17);
    EXPECT_EQ(doc->m_nOffsetY, -3);
    EXPECT_EQ(doc->m_dRotation2, 1.5);
    EXPECT_EQ(doc->m_nScale2X, 1000);
    Unload();
  }
}

TEST_F(AutoAlignTest, ReportsProgressAndStopsOnTheSpaceBar) {
  const cv::Mat photo = MatFromFile(test::TestData("photos/coffee.png"));
  const Cut c{"coffee.png", 2.0, 1.0, 0.4, false, 1, 0, false};
  const cv::Size s(photo.cols / 2, photo.rows * 4 / 5);
  const Similarity t = CutPlacement(c, s, s);
  auto load = [&] {
    AddSource(DibFromMat(photo(cv::Rect(0, photo.rows / 10, s.width, s.height)).clone()));
    AddSource(DibFromMat(WarpCut(photo, t, {0.0, photo.rows / 10.0}, s, cv::INTER_LINEAR)));
  };
  load();
  AutoAlignResult r = FindAutoAlignment(*doc);
  ASSERT_EQ(r.status, AutoAlignStatus::kFound);
  EXPECT_EQ(ui.PaneHistory(kPaneMessage).front(), "Press space bar to quit.");
  EXPECT_EQ(ui.PaneText(kPaneMessage), "");
  EXPECT_EQ(ui.PaneHistory(kPaneProcess).front(), auto_align_text::kFinding);
  EXPECT_EQ(ui.PaneText(kPaneProcess), "");
  ASSERT_GE(ui.ProgressSteps().size(), 5u);
  for (size_t i = 1; i + 1 < ui.ProgressSteps().size(); ++i)
    EXPECT_GE(ui.ProgressSteps()[i].percent, ui.ProgressSteps()[i - 1].percent);
  EXPECT_EQ(ui.ProgressSteps().back().colour, kProgressGrey);

  // Space held at each check in turn, the question answered Yes: stopped,
  // nothing found. Answered No: the work goes on to the same result.
  for (int poll = 1; poll <= 8; ++poll) {
    ui.Clear();
    ui.PressSpaceAtPoll(poll);
    ui.QueueAnswer(true);
    EXPECT_EQ(FindAutoAlignment(*doc).status, AutoAlignStatus::kStopped) << "poll " << poll;
    EXPECT_EQ(ui.Questions().size(), 1u);
  }
  ui.Clear();
  ui.PressSpaceAtPoll(3);
  ui.QueueAnswer(false);
  const AutoAlignResult again = FindAutoAlignment(*doc);
  EXPECT_EQ(again.status, AutoAlignStatus::kFound);
  EXPECT_EQ(AlignmentOptions(again.settings), AlignmentOptions(r.settings));

  // Applying: the settings in the session, the Target needing an update,
  // source 2 prepared again.
  doc->m_bUpToDate = 1;
  EXPECT_EQ(ApplyAutoAlignment(*doc, r.settings), kPrepareDone);
  EXPECT_EQ(doc->m_nOffsetX, r.settings.offsetX);
  EXPECT_EQ(doc->m_nOffsetY, r.settings.offsetY);
  EXPECT_DOUBLE_EQ(doc->m_dRotation2, r.settings.rotationTenths / 10.0);
  EXPECT_EQ(doc->m_nScale2Y, r.settings.scale);
  EXPECT_EQ(doc->m_bUpToDate, 0);
  EXPECT_TRUE(doc->m_pSource2);
  EXPECT_EQ(ui.m_nToolDialogRefreshes, 1);
  // Stopped while preparing: the geometry stays as it was.
  const AutoAlignPlacement before{doc->m_nOffsetX, doc->m_nOffsetY, r.settings.rotationTenths, r.settings.scale};
  ui.Clear();
  ui.PressSpaceAtPoll(1);
  ui.QueueAnswer(true);
  EXPECT_EQ(ApplyAutoAlignment(*doc, AutoAlignPlacement{5, 6, 70, 900}), kPrepareStopped);
  EXPECT_EQ(doc->m_nOffsetX, before.offsetX);
  EXPECT_EQ(doc->m_nOffsetY, before.offsetY);
  EXPECT_DOUBLE_EQ(doc->m_dRotation2, before.Rotation());
  EXPECT_EQ(doc->m_nScale2X, before.scale);
}

TEST_F(AutoAlignTest, EverySamplePairAlignsToItsTruth) {
  // From TRUTH.txt. The astronaut's right half shows its detail turned 2
  // degrees clockwise as seen (compared with the left half by ImageMagick, the
  // clockwise turn matches better), so its copy must turn it back: -2 degrees.
  struct Pair {
    std::string a, b;
    AutoAlignPlacement truth;
  };
  const std::vector<Pair> pairs = {{"coffee_left.png", "coffee_right.png", {220, 0, 0, 1024}},
                                   {"astronaut_left.bmp", "astronaut_right_rot2.bmp", {212, 0, -20, 1024}},
                                   {"chelsea_top.tga", "chelsea_bottom.pcx", {0, -120, 0, 1024}}};
  // The samples shipped with the program, and the copy the tests use.
  for (const fs::path& dir : {fs::path(TESSARA_SAMPLES), fs::path(TESSARA_PAIRS)}) {
    // Every pair TRUTH.txt names is checked here.
    std::ifstream truth(dir / "TRUTH.txt");
    ASSERT_TRUE(truth) << dir;
    int named = 0;
    for (std::string line; std::getline(truth, line);) {
      const size_t plus = line.find(" + ");
      if (plus == std::string::npos) continue;
      ++named;
      const std::string a = line.substr(0, plus);
      const std::string b = line.substr(plus + 3, line.find(':') - plus - 3);
      EXPECT_TRUE(std::any_of(pairs.begin(), pairs.end(), [&](const Pair& p) { return p.a == a && p.b == b; }))
          << a << " + " << b << " in " << dir;
    }
    EXPECT_EQ(named, static_cast<int>(pairs.size())) << dir;
    for (const Pair& p : pairs) {
      // Loaded as the program loads them (the Targa by its origin bit).
      for (const std::string& name : {p.a, p.b}) {
        CTessaraDoc* source = documents.OpenSource();
        ASSERT_TRUE(source->OnOpenDocument((dir / name).string())) << name << ": " << ui.LastMessage();
      }
      const AutoAlignResult r = FindAutoAlignment(*doc);
      const std::string what = (dir / p.a).string();
      ASSERT_EQ(r.status, AutoAlignStatus::kFound) << what << " " << r.inliers << " of " << r.matches;
      ExpectNear(r.settings, p.truth, what);
      EXPECT_GE(r.inliers, kMinInliers) << what;
      Unload();
    }
  }
}

TEST(AutoAlignOptions, ReadFromTheCommandLine) {
  std::string error;
  auto o = ParseJoinOptions({"--print-alignment", "a.png", "b.png"}, error);
  ASSERT_TRUE(o) << error;
  EXPECT_TRUE(o->autoAlign);
  EXPECT_TRUE(o->printAlignment);
  EXPECT_TRUE(o->output.empty());
  o = ParseJoinOptions({"--auto-align", "--rotate2", "1.5", "a.png", "b.png", "c.bmp"}, error);
  ASSERT_TRUE(o) << error;
  EXPECT_TRUE(o->autoAlign && o->hasRotate2);
  EXPECT_FALSE(o->printAlignment || o->hasOffset || o->hasScale2);
  EXPECT_EQ(o->filterIndex, 1);
  // Joining needs an output; only printing may go without.
  EXPECT_FALSE(ParseJoinOptions({"--auto-align", "a.png", "b.png"}, error));
  EXPECT_EQ(error, "expected SOURCE1 SOURCE2 OUTPUT");
  EXPECT_EQ(AlignmentOptions(-3, 12, -2.0, 1030, 1030), "--offset -3,12 --rotate2 -2.0 --scale2 1030");
  EXPECT_EQ(AlignmentOptions(0, 0, 1.25, 1000, 1100), "--offset 0,0 --rotate2 1.25 --scale2 1000,1100");
}

// Runs tessara-join; its standard output, standard error and exit status.
struct JoinRun {
  std::string out, err;
  int status = -1;
};
JoinRun RunJoin(const std::string& args) {
  const fs::path dir = test::TempDir();
  const std::string cmd = std::string(TESSARA_JOIN) + " --quiet " + args + " >'" + (dir / "out").string() + "' 2>'" +
                          (dir / "err").string() + "'";
  JoinRun r;
  const int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  const std::vector<uint8_t> out = test::ReadBytes(dir / "out"), err = test::ReadBytes(dir / "err");
  r.out.assign(out.begin(), out.end());
  r.err.assign(err.begin(), err.end());
  return r;
}

TEST(AutoAlignJoinTool, PrintsUsesAndRefuses) {
  const fs::path pairs = fs::path(TESSARA_PAIRS);
  if (!fs::exists(pairs / "coffee_left.png")) GTEST_SKIP() << "no pairs";
  const std::string left = "'" + (pairs / "coffee_left.png").string() + "' ";
  const std::string right = "'" + (pairs / "coffee_right.png").string() + "' ";

  // One line of options, near the known placement (220, 0).
  JoinRun r = RunJoin("--print-alignment " + left + right);
  ASSERT_EQ(r.status, 0) << r.err;
  int dx = 0, dy = 0, scale = 0;
  double angle = 99;
  ASSERT_EQ(std::sscanf(r.out.c_str(), "--offset %d,%d --rotate2 %lf --scale2 %d\n", &dx, &dy, &angle, &scale), 4)
      << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
  EXPECT_LE(std::abs(dx - 220), 1);
  EXPECT_LE(std::abs(dy), 1);
  EXPECT_LE(std::fabs(angle), 0.1);
  EXPECT_LE(std::abs(scale - 1024), 2);
  const std::string found = r.out.substr(0, r.out.size() - 1);

  // The join written with --auto-align is the one the printed options give.
  const fs::path dir = test::TempDir();
  const std::string automatic = (dir / "auto.bmp").string(), byHand = (dir / "hand.bmp").string();
  r = RunJoin("--auto-align " + left + right + "'" + automatic + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunJoin(found + " " + left + right + "'" + byHand + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadBytes(automatic), test::ReadBytes(byHand));

  // Options given beside it win over what was found.
  r = RunJoin("--print-alignment --offset 200,5 --scale2 1000 " + left + right);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("--offset 200,5 --rotate2 ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find(" --scale2 1000\n"), std::string::npos) << r.out;

  // Unrelated pictures: the message, status 1, nothing written.
  const std::string unrelated = (dir / "never.bmp").string();
  r = RunJoin("--auto-align '" + test::TestData("photos/rocket.jpg").string() + "' " + right + "'" + unrelated + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string(auto_align_text::kNoCommonDetail) + "\n");
  EXPECT_FALSE(fs::exists(unrelated));
  r = RunJoin("--print-alignment '" + test::TestData("photos/rocket.jpg").string() + "' " + right);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty());
}

}  // namespace
}  // namespace tessara
