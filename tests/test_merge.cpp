// The merge operators with bias and fading, and the tone curve.
#include <gtest/gtest.h>

#include "engine/merge.h"
#include "tests/engine_fixture.h"

namespace tessara {
namespace {

class Merge : public test::EngineTest {
 protected:
  // Two 100-wide sources, source 2 placed `offset` columns right of source 1.
  TargetGeometry Side(int offset) { return {0, 0, 100, 50, offset, 0, 100, 50}; }
  // The merge of a and b by `rule` with `bias` and fading, at (x, y) of source 2.
  MergePixel At(int rule, int bias, bool fade1, bool fade2, MergePixel a, MergePixel b, int x = 0, int y = 0) {
    return MakeMergeOperator(Side(40), {rule, bias, fade1, fade2})->MergeAt(a, b, x, y);
  }
  MergePixel Average(int bias, MergePixel a, MergePixel b) { return At(kMergeAverage, bias, false, false, a, b); }
  MergePixel Greatest(int bias, MergePixel a, MergePixel b) { return At(kMergeGreatest, bias, false, false, a, b); }
  MergePixel Least(int bias, MergePixel a, MergePixel b) { return At(kMergeLeast, bias, false, false, a, b); }
};

TEST_F(Merge, AverageWeighsByTheBias) {
  EXPECT_EQ(Average(128, {200, 100, 0}, {0, 100, 200}), (MergePixel{99, 99, 100}));
  EXPECT_EQ(Average(128, {255, 255, 255}, {255, 255, 255}), (MergePixel{254, 254, 254}));
  EXPECT_EQ(Average(0, {200, 100, 3}, {0, 0, 0}), (MergePixel{199, 99, 2}));
  EXPECT_EQ(Average(255, {200, 100, 3}, {50, 60, 70}), (MergePixel{49, 59, 69}));
}

TEST_F(Merge, GreatestAndLeastFollowTheBiasOnTies) {
  const MergePixel a{10, 20, 30};
  const MergePixel dark{0, 0, 0}, white{255, 255, 255};
  // Equal pixels: source 2 wins Greatest.
  MergePixel a2{10, 20, 31};
  EXPECT_EQ(Greatest(128, a, a2), a2);
  EXPECT_EQ(Greatest(127, a2, MergePixel{10, 20, 30}), a2);
  EXPECT_EQ(Greatest(0, dark, white), dark);
  EXPECT_EQ(Least(0, white, dark), white);
  EXPECT_EQ(Greatest(255, white, dark), white);  // the one case source 1 keeps
  EXPECT_EQ(Greatest(255, MergePixel{250, 250, 250}, dark), dark);
  EXPECT_EQ(Least(128, dark, white), dark);
  EXPECT_EQ(Least(128, white, dark), dark);
  // An unknown rule merges as Average.
  EXPECT_EQ(At(7, 128, false, false, {200, 100, 0}, {0, 100, 200}), (MergePixel{99, 99, 100}));
}

// The operators keep the settings they were made with: the session changing
// while a Target is laid (the laying threads read nothing else) changes nothing.
TEST_F(Merge, SettingsAreTheOnesGivenNotTheSessions) {
  const auto op = MakeMergeOperator(Side(40), {kMergeAverage, 0, false, true});
  doc->m_nSourceBias = 255;
  g_bFadeEdge2 = 0;
  g_bFadeEdge1 = 1;
  // Bias 0 and source 2 fading: on the overlap's edge source 1 alone.
  EXPECT_EQ(op->MergeAt({200, 100, 0}, {0, 100, 200}, 0, 25), (MergePixel{199, 99, 0}));
  g_bFadeEdge1 = 0;
}

TEST_F(Merge, OverlapAndFadeWeight) {
  MergeOperator op(Side(40));
  EXPECT_EQ(op.m_nOverlapWidth, 60);
  EXPECT_EQ(op.m_nOverlapHeight, 50);
  EXPECT_EQ(op.m_nOverlapLeft, 0);
  for (int x : {0, 60}) EXPECT_DOUBLE_EQ(op.FadeWeight(x, 25), 0.0) << x;
  EXPECT_DOUBLE_EQ(op.FadeWeight(30, 25), 1.0);
  EXPECT_DOUBLE_EQ(op.FadeWeight(45, 25), 0.75);  // E = 15: 1 - 900 / 3600
  // Source 2 left of source 1: the overlap starts at source 2's column 30.
  MergeOperator left({30, 0, 100, 50, 0, 0, 100, 50});
  EXPECT_EQ(left.m_nOverlapLeft, 30);
  EXPECT_EQ(left.m_nOverlapWidth, 70);
  // No overlap at all: sizes 0, and the quotients count as 0.
  MergeOperator apart({0, 0, 10, 10, 50, 0, 10, 10});
  EXPECT_EQ(apart.m_nOverlapWidth, 0);
  EXPECT_DOUBLE_EQ(apart.FadeWeight(7, 5), 1.0);
}

TEST_F(Merge, FadingAtTheCentreAndTheEdges) {
  const MergePixel a{200, 100, 0}, b{0, 100, 200};
  // Source 2 fading; at the centre (30, 25) f = 1.
  EXPECT_EQ(At(kMergeAverage, 128, false, true, a, b, 30, 25), (MergePixel{99, 99, 100}));
  // At the centre the fading source keeps every pixel that is not white.
  EXPECT_EQ(At(kMergeGreatest, 128, false, true, {0, 0, 0}, {254, 254, 254}, 30, 25), (MergePixel{254, 254, 254}));
  EXPECT_EQ(At(kMergeLeast, 128, false, true, {255, 255, 255}, {255, 255, 255}, 30, 25), (MergePixel{255, 255, 255}));
  // On the edge f = 0: Average shows source 1 alone (b becomes a).
  EXPECT_EQ(At(kMergeAverage, 128, false, true, a, b, 0, 25), (MergePixel{199, 99, 0}));
  EXPECT_EQ(At(kMergeGreatest, 128, false, true, {10, 10, 10}, {250, 250, 250}, 0, 25), (MergePixel{10, 10, 10}));
  // Source 1 fading instead: a becomes b.
  EXPECT_EQ(At(kMergeAverage, 128, true, false, a, b, 0, 25), (MergePixel{0, 99, 199}));
  // Outside the overlap (a projection can lay pixels there) the weight leaves
  // 0..1 (here f = -15), and Average clamps before truncating: a's blue
  // 255 x -15 becomes 0, its red 255 x 16 becomes 255.
  EXPECT_DOUBLE_EQ(MergeOperator(Side(40)).FadeWeight(150, 25), -15.0);
  const MergePixel m = At(kMergeAverage, 128, true, false, {255, 255, 0}, {0, 0, 255}, 150, 25);
  EXPECT_EQ(m.blue, 0);
  EXPECT_EQ(m.red, 254);
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
