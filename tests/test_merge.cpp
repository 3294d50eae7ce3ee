// The merge operators with bias and fading, and the tone curve.
#include <gtest/gtest.h>

#include "tests/engine_fixture.h"
#include "target/merge.h"

namespace tessara {
namespace {

class Merge : public test::EngineTest {
 protected:
  // Two 100-wide sources, source 2 placed `offset` columns right of source 1.
  TargetGeometry Side(int offset) { return {0, 0, 100, 50, offset, 0, 100, 50}; }
};

TEST_F(Merge, AverageWeighsByTheBias) {
  AverageMerge op(Side(40));
  doc->m_nSourceBias = 128;
  EXPECT_EQ(op.Merge({200, 100, 0}, {0, 100, 200}), (MergePixel{99, 99, 100}));
  EXPECT_EQ(op.Merge({255, 255, 255}, {255, 255, 255}), (MergePixel{254, 254, 254}));
  doc->m_nSourceBias = 0;
  EXPECT_EQ(op.Merge({200, 100, 3}, {0, 0, 0}), (MergePixel{199, 99, 2}));
  doc->m_nSourceBias = 255;
  EXPECT_EQ(op.Merge({200, 100, 3}, {50, 60, 70}), (MergePixel{49, 59, 69}));
}

TEST_F(Merge, GreatestAndLeastFollowTheBiasOnTies) {
  GreatestMerge greatest(Side(40));
  LeastMerge least(Side(40));
  const MergePixel a{10, 20, 30};
  const MergePixel dark{0, 0, 0}, white{255, 255, 255};
  doc->m_nSourceBias = 128;  // equal pixels: source 2 wins Greatest
  MergePixel a2{10, 20, 31};
  EXPECT_EQ(greatest.Merge(a, a2), a2);
  doc->m_nSourceBias = 127;
  EXPECT_EQ(greatest.Merge(a2, MergePixel{10, 20, 30}), a2);
  doc->m_nSourceBias = 0;
  EXPECT_EQ(greatest.Merge(dark, white), dark);
  EXPECT_EQ(least.Merge(white, dark), white);
  doc->m_nSourceBias = 255;
  EXPECT_EQ(greatest.Merge(white, dark), white);  // the one case source 1 keeps
  EXPECT_EQ(greatest.Merge(MergePixel{250, 250, 250}, dark), dark);
  doc->m_nSourceBias = 128;
  EXPECT_EQ(least.Merge(dark, white), dark);
  EXPECT_EQ(least.Merge(white, dark), dark);
}

TEST_F(Merge, OverlapAndFadeWeight) {
  MergeOperator op(Side(40));
  EXPECT_EQ(op.m_nOverlapWidth, 60);
  EXPECT_EQ(op.m_nOverlapHeight, 50);
  EXPECT_EQ(op.m_nOverlapLeft, 0);
  g_nCurY = 25;
  for (int x : {0, 60}) {
    g_nCurX = x;
    EXPECT_DOUBLE_EQ(op.FadeWeight(), 0.0) << x;
  }
  g_nCurX = 30;
  EXPECT_DOUBLE_EQ(op.FadeWeight(), 1.0);
  g_nCurX = 45;  // E = 15: 1 - 900 / 3600
  EXPECT_DOUBLE_EQ(op.FadeWeight(), 0.75);
  // Source 2 left of source 1: the overlap starts at source 2's column 30.
  MergeOperator left({30, 0, 100, 50, 0, 0, 100, 50});
  EXPECT_EQ(left.m_nOverlapLeft, 30);
  EXPECT_EQ(left.m_nOverlapWidth, 70);
  // No overlap at all: sizes 0, and the quotients count as 0.
  MergeOperator apart({0, 0, 10, 10, 50, 0, 10, 10});
  EXPECT_EQ(apart.m_nOverlapWidth, 0);
  g_nCurX = 7, g_nCurY = 5;
  EXPECT_DOUBLE_EQ(apart.FadeWeight(), 1.0);
}

TEST_F(Merge, FadingAtTheCentreAndTheEdges) {
  AverageMerge average(Side(40));
  GreatestMerge greatest(Side(40));
  LeastMerge least(Side(40));
  doc->m_nSourceBias = 128;
  g_bFadeEdge2 = 1;
  g_nCurX = 30, g_nCurY = 25;  // centre: f = 1
  const MergePixel a{200, 100, 0}, b{0, 100, 200};
  EXPECT_EQ(average.Merge(a, b), (MergePixel{99, 99, 100}));
  // At the centre the fading source keeps every pixel that is not white.
  EXPECT_EQ(greatest.Merge(MergePixel{0, 0, 0}, MergePixel{254, 254, 254}), (MergePixel{254, 254, 254}));
  EXPECT_EQ(least.Merge(MergePixel{255, 255, 255}, MergePixel{255, 255, 255}), (MergePixel{255, 255, 255}));
  // On the edge f = 0: Average shows source 1 alone (b becomes a).
  g_nCurX = 0;
  EXPECT_EQ(average.Merge(a, b), (MergePixel{199, 99, 0}));
  EXPECT_EQ(greatest.Merge(MergePixel{10, 10, 10}, MergePixel{250, 250, 250}), (MergePixel{10, 10, 10}));
  g_bFadeEdge2 = 0;
  g_bFadeEdge1 = 1;
  EXPECT_EQ(average.Merge(a, b), (MergePixel{0, 99, 199}));
  // Outside the overlap (a projection can lay pixels there) the weight leaves
  // 0..1 (here f = -15), and Average clamps before truncating: a's blue
  // 255 x -15 becomes 0, its red 255 x 16 becomes 255.
  g_nCurX = 150;
  EXPECT_DOUBLE_EQ(average.FadeWeight(), -15.0);
  const MergePixel m = average.Merge(MergePixel{255, 255, 0}, MergePixel{0, 0, 255});
  EXPECT_EQ(m.blue, 0);
  EXPECT_EQ(m.red, 254);
  g_bFadeEdge1 = 0;
}

TEST(ToneCurve, ExamplesAndIdentity) {
  for (int v = 0; v < 256; ++v) ASSERT_EQ(ToneCurve(v, 16, 128), v);
  EXPECT_EQ(ToneCurve(0, 32, 128), 0);
  EXPECT_EQ(ToneCurve(200, 32, 128), 255);
  EXPECT_EQ(ToneCurve(127, 32, 128), 127);
  for (int v : {0, 50, 191, 192, 255}) EXPECT_EQ(ToneCurve(v, 16, 160), std::min(255, v + 64)) << v;
  // Division truncates toward zero: (0 + 0 - 255) x 1 + 2032 = 1777, / 16 = 111.
  EXPECT_EQ(ToneCurve(0, 1, 0), 0);
  EXPECT_EQ(ToneCurve(255, 0, 255), 127 + 127);
  EXPECT_EQ(ToneCurve(10, 17, 128), (((10 - 127) * 17 + 2032) / 16));
}

}  // namespace
}  // namespace tessara
