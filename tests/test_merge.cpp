// The merge operators with bias and fading, and the tone curve.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

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
  void RunsMergeAsPixelByPixel();
  void FadedAverageRunsMatchForEveryPairOfValues();
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

// Runs the check at every vector level the processor has, then puts the
// widest back.
template <typename Check>
void AtEveryMergeLevel(Check check) {
  const int widest = SetMergeRunLevel(99);
  for (int level = 0; level <= widest; ++level) {
    ASSERT_EQ(SetMergeRunLevel(level), level);
    SCOPED_TRACE("vector level " + std::to_string(level));
    check();
  }
  SetMergeRunLevel(widest);
}

// A run merged at once gives, pixel by pixel, what MergeWeighted gives: every
// rule (an unknown one too), fade and bias, runs of every length from 0 (the
// vector loops' tails) at any byte alignment, weights from the fade of a real
// overlap and from outside 0..1.
TEST_F(Merge, RunsMergeAsPixelByPixel) {
  AtEveryMergeLevel([&] { RunsMergeAsPixelByPixel(); });
}

void Merge::RunsMergeAsPixelByPixel() {
  std::mt19937 rng(2545);
  const auto byte = [&] { return static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 255)(rng)); };
  const MergeOperator overlap({0, 0, 3384, 5464, 4808, 0, 8192, 5464});
  const auto weight = [&]() -> double {
    switch (std::uniform_int_distribution<int>(0, 9)(rng)) {
      case 0: return 0.0;
      case 1: return 1.0;
      case 2: return std::uniform_real_distribution<double>(-20.0, 0.0)(rng);
      case 3: return std::nextafter(0.5, std::uniform_int_distribution<int>(0, 1)(rng) ? 1.0 : 0.0);
      case 4: return std::uniform_real_distribution<double>(0.0, 1.0)(rng);
      default:
        return overlap.FadeWeight(std::uniform_int_distribution<int>(-50, 3500)(rng),
                                  std::uniform_int_distribution<int>(0, 5463)(rng));
    }
  };
  for (int rule : {int{kMergeAverage}, int{kMergeGreatest}, int{kMergeLeast}, int{kMergeBlend}, 7})
    for (int fades = 0; fades < 4; ++fades)
      for (int bias : {0, 1, 100, 128, 254, 255}) {
        const MergeOperator op(Side(40), {rule, bias, (fades & 1) != 0, (fades & 2) != 0});
        for (int k = 0; k < 40; ++k) {
          const int n = k < 34 ? k : std::uniform_int_distribution<int>(34, 700)(rng);
          const size_t skew = std::uniform_int_distribution<size_t>(0, 7)(rng);
          std::vector<uint8_t> a(3 * static_cast<size_t>(n) + 8), b(a.size());
          std::vector<double> fade(3 * static_cast<size_t>(n) + 1);
          for (auto& v : a) v = byte();
          for (auto& v : b) v = byte();
          for (int i = 0; i < n; ++i) fade[3 * i] = fade[3 * i + 1] = fade[3 * i + 2] = weight();
          const double rowFade = k % 3 == 0 ? 1.0 : k % 3 == 1 ? weight() : overlap.RowFade(k * 131);
          std::vector<uint8_t> want = a;
          for (int i = 0; i < n; ++i) {
            uint8_t* p = want.data() + skew + 3 * static_cast<size_t>(i);
            const uint8_t* q = b.data() + skew + 3 * static_cast<size_t>(i);
            const MergePixel m = op.MergeWeighted({p[0], p[1], p[2]}, {q[0], q[1], q[2]}, fade[3 * i] * rowFade);
            p[0] = m.blue, p[1] = m.green, p[2] = m.red;
          }
          op.MergeRun(a.data() + skew, b.data() + skew, fade.data(), rowFade, n);
          ASSERT_EQ(a, want) << "rule " << rule << " fades " << fades << " bias " << bias << " n " << n;
        }
      }
}

// Every pair of channel values against weights where the rounding of the
// double arithmetic decides the byte (quarters, thirds, values next to a
// half), Average with each fade.
TEST_F(Merge, FadedAverageRunsMatchForEveryPairOfValues) {
  AtEveryMergeLevel([&] { FadedAverageRunsMatchForEveryPairOfValues(); });
}

void Merge::FadedAverageRunsMatchForEveryPairOfValues() {
  std::vector<double> weights = {0.25, 0.75, 1.0 / 3, 2.0 / 3, 0.1, 0.9, 1e-17, 1 - 1e-16};
  for (double w : {0.5, 0.125, 0.2}) {
    weights.push_back(std::nextafter(w, 0.0));
    weights.push_back(std::nextafter(w, 1.0));
  }
  const MergeOperator fadeOverlap({0, 0, 100, 64, 40, 0, 100, 64});
  for (int x = 0; x <= 60; x += 4) weights.push_back(fadeOverlap.FadeWeight(x, 21));
  std::vector<uint8_t> a(3 * 65536), b(3 * 65536);
  for (int i = 0; i < 65536; ++i) {
    a[3 * i] = b[3 * i + 1] = static_cast<uint8_t>(i >> 8);
    b[3 * i] = a[3 * i + 1] = static_cast<uint8_t>(i);
    a[3 * i + 2] = static_cast<uint8_t>(i * 7), b[3 * i + 2] = static_cast<uint8_t>(i >> 3);
  }
  std::vector<double> fade(a.size());
  for (int fades = 1; fades < 4; ++fades)
    for (int bias : {0, 128, 255}) {
      const MergeOperator op(Side(40), {kMergeAverage, bias, (fades & 1) != 0, (fades & 2) != 0});
      for (double w : weights) {
        std::fill(fade.begin(), fade.end(), w);
        std::vector<uint8_t> got = a;
        op.MergeRun(got.data(), b.data(), fade.data(), 1.0, 65536);
        for (int i = 0; i < 65536; ++i) {
          const size_t j = 3 * static_cast<size_t>(i);
          const MergePixel m = op.MergeWeighted({a[j], a[j + 1], a[j + 2]}, {b[j], b[j + 1], b[j + 2]}, w);
          ASSERT_EQ((MergePixel{got[j], got[j + 1], got[j + 2]}), m)
              << "pixel " << i << " weight " << w << " fades " << fades << " bias " << bias;
        }
      }
    }
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
