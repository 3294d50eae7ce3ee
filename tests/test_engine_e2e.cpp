// The whole engine without windows: two overlapping photographs loaded from
// files, prepared and joined with each merge rule and adjustment, checked at
// pixels of each region against values worked out from the pictures themselves.
#include <gtest/gtest.h>

#include "engine/merge.h"
#include "tests/engine_fixture.h"
#include "tests/test_support.h"

namespace tessara {
namespace {

using test::TestData;

class JoinPair : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    for (const char* name : {"pairs/coffee_left.png", "pairs/coffee_right.png"}) {
      CTessaraDoc* src = documents.OpenSource();
      ASSERT_TRUE(src->OnOpenDocument(TestData(name).string())) << ui.LastMessage();
    }
    left = test::ToRgb(CxImage(TestData("pairs/coffee_left.png").string(), CXIMAGE_FORMAT_PNG));
    right = test::ToRgb(CxImage(TestData("pairs/coffee_right.png").string(), CXIMAGE_FORMAT_PNG));
    ASSERT_EQ(left.width, 380);
    // Source 2 starts 220 columns right of source 1 and, here, 10 rows higher.
    doc->m_nOffsetX = 220;
    doc->m_nOffsetY = 10;
    ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
    ASSERT_EQ(doc->PrepareSource(2), kPrepareDone);
  }
  // Pixel (x, y) of a picture, y counted from the bottom, as blue, green, red.
  static MergePixel Pixel(const test::RgbImage& img, int x, int y) {
    const uint8_t* p = &img.rgb[(size_t(img.height - 1 - y) * img.width + x) * 3];
    return {p[2], p[1], p[0]};
  }
  MergePixel TargetAt(int x, int y) const {
    const uint8_t* p = doc->m_pTarget->Row(y) + 3 * x;
    return {p[0], p[1], p[2]};
  }
  MergePixel Tone(MergePixel p) const {
    return {ToneCurve(p.blue, doc->m_nContrast, doc->m_nBrightness),
            ToneCurve(p.green, doc->m_nContrast, doc->m_nBrightness),
            ToneCurve(p.red, doc->m_nContrast, doc->m_nBrightness)};
  }
  test::RgbImage left, right;
};

TEST_F(JoinPair, EveryMergeRuleInEachRegion) {
  for (int rule : {kMergeAverage, kMergeGreatest, kMergeLeast}) {
    g_nMergeRule = rule;
    doc->m_nSourceBias = 100;
    ASSERT_EQ(doc->GenerateTarget(), 1);
    const Dib& t = *doc->m_pTarget;
    ASSERT_EQ(t.Width(), 600);
    ASSERT_EQ(t.Height(), 410);
    const uint8_t bg = rule == kMergeAverage ? 127 : rule == kMergeGreatest ? 0 : 255;
    EXPECT_EQ(TargetAt(599, 3), (MergePixel{bg, bg, bg}));  // below source 2, right of source 1
    EXPECT_EQ(TargetAt(5, 405), (MergePixel{bg, bg, bg}));  // above source 1, left of source 2
    EXPECT_EQ(TargetAt(100, 50), Pixel(left, 100, 50));     // source 1 only
    EXPECT_EQ(TargetAt(500, 300), Pixel(right, 280, 290));  // source 2 only
    // Overlap: canvas (300, 200) is source 1 (300, 200) and source 2 (80, 190).
    const MergePixel a = Pixel(left, 300, 200), b = Pixel(right, 80, 190);
    MergePixel expected;
    if (rule == kMergeAverage) {
      expected = {static_cast<uint8_t>((a.blue * 155 + b.blue * 100) >> 8),
                  static_cast<uint8_t>((a.green * 155 + b.green * 100) >> 8),
                  static_cast<uint8_t>((a.red * 155 + b.red * 100) >> 8)};
    } else {
      // Bias 100 favours source 1: the brighter (or darker) by the weighted
      // luminance score wins.
      auto score = [](MergePixel p, int off) {
        return int((p.blue + off) * 7.04) + int((p.green + off) * 37.76) + int((p.red + off) * 19.2);
      };
      if (rule == kMergeGreatest) expected = score(a, 155) >= score(b, 100) ? a : b;
      else expected = score(b, 155) >= score(a, 100) ? a : b;
    }
    EXPECT_EQ(TargetAt(300, 200), expected) << "rule " << rule;
  }
}

TEST_F(JoinPair, FadingToneProjectionAndGrid) {
  g_bFadeEdge2 = 1;
  doc->m_nContrast = 20;
  doc->m_nBrightness = 140;
  ASSERT_EQ(doc->GenerateTarget(), 1);
  // The overlap is 160 x 390 in source 2's coordinates, starting at its (0, 0).
  // On its left edge the fade weight is 0: source 2 gives way to source 1.
  const MergePixel a = Tone(Pixel(left, 220, 100));
  const MergePixel edge = TargetAt(220, 100);
  EXPECT_EQ(edge, (MergePixel{static_cast<uint8_t>((a.blue * 127 + a.blue * 128) >> 8),
                              static_cast<uint8_t>((a.green * 127 + a.green * 128) >> 8),
                              static_cast<uint8_t>((a.red * 127 + a.red * 128) >> 8)}));
  // Source 1 alone shows its toned pixel.
  EXPECT_EQ(TargetAt(50, 50), Tone(Pixel(left, 50, 50)));
  g_bFadeEdge2 = 0;
  doc->m_nContrast = 16;
  doc->m_nBrightness = 128;

  // The projection keeps the middle column and squeezes toward the sides.
  doc->m_nSwingAngle = 60;
  ASSERT_EQ(doc->GenerateTarget(), 1);
  const MergePixel p = Pixel(left, 300, 205), q = Pixel(right, 80, 195);
  const MergePixel middle{static_cast<uint8_t>((p.blue * 127 + q.blue * 128) >> 8),
                          static_cast<uint8_t>((p.green * 127 + q.green * 128) >> 8),
                          static_cast<uint8_t>((p.red * 127 + q.red * 128) >> 8)};
  EXPECT_EQ(TargetAt(300, 205), middle);
  EXPECT_EQ(TargetAt(0, 409), (MergePixel{127, 127, 127}));  // corners stay background
  EXPECT_EQ(TargetAt(599, 0), (MergePixel{127, 127, 127}));
  doc->m_nSwingAngle = 0;

  g_bSolidGrid = 1;
  g_nSolidGridX = g_nSolidGridY = 100;
  g_GridColour = {0, 0, 0};
  ASSERT_EQ(doc->GenerateTarget(), 1);
  EXPECT_EQ(TargetAt(200, 57), (MergePixel{0, 0, 0}));
  EXPECT_EQ(TargetAt(57, 300), (MergePixel{0, 0, 0}));
  EXPECT_EQ(TargetAt(57, 57), Pixel(left, 57, 57));
  g_bSolidGrid = 0;
}

}  // namespace
}  // namespace tessara
