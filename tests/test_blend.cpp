// The Blend rule on pairs cut from one photograph: no step where the pictures
// meet, whatever their exposures; with matching, both parts at the scene's
// own level; pictures that agree keep their own pixels; something in one
// picture only comes out whole or not at all; the bias moves the seam; the
// projection bends a blended Target as it bends any other; the batch tool
// writes the same bytes on any number of threads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/blend.h"
#include "engine/generate_target.h"
#include "tests/photo_pair.h"
#include "tests/test_support.h"

namespace tessara {
namespace {

using namespace photo_pair;

DibPtr Join(const Dib& left, const Dib& right, int rule, bool match = false, int bias = 128, int swing = 0) {
  TargetSettings t;
  t.offsetX = kOffset;
  t.merge.rule = rule;
  t.merge.bias = bias;
  t.merge.matchExposure = match;
  t.swing = swing;
  const SampleCoverage none;
  WorkObserver observer;
  GeneratedTarget made = GenerateTargetPicture({left, none}, {right, none}, t, observer);
  EXPECT_EQ(made.result, GenerateResult::kDone);
  return std::move(made.target);
}

TEST(Blend, NoStepWhereThePicturesMeetAndMatchedPartsAtTheScenesLevel) {
  const test::RgbImage photo = PhotoWithoutHighlights();
  ASSERT_EQ(photo.width, kWidth + kOffset);
  const DibPtr left = Part(photo, 0, 1, 1, 1), plain = Part(photo, kOffset, 1, 1, 1);
  const auto scene = ColumnMeans(*Join(*left, *plain, kMergeBlend));
  for (const ExposureChange& change : kCameraChanges) {
    SCOPED_TRACE(change.what);
    const DibPtr right = Part(photo, kOffset, change.red, change.green, change.blue);
    // Blend alone spreads the change over hundreds of columns.
    EXPECT_LT(StepsAgainst(scene, *Join(*left, *right, kMergeBlend), kWidth).worstStep, 0.015);
    // With matching, the right part is also back at the scene's level.
    const Steps matched = StepsAgainst(scene, *Join(*left, *right, kMergeBlend, true), 0);
    EXPECT_LT(matched.worstStep, 0.015);
    EXPECT_LT(matched.worstLevel, 0.03);
    // Average leaves the step where source 1 ends.
    EXPECT_GT(StepsAgainst(scene, *Join(*left, *right, kMergeAverage), kWidth).worstStep, 0.05);
  }
}

TEST(Blend, PicturesThatAgreeKeepTheirOwnPixels) {
  const test::RgbImage photo = Photo();
  const DibPtr left = Part(photo, 0, 1, 1, 1), right = Part(photo, kOffset, 1, 1, 1);
  const test::RgbImage joined = test::ToRgb(CxImage(Join(*left, *right, kMergeBlend)));
  ASSERT_EQ(joined.width, photo.width);
  EXPECT_LE(test::MaxDifference(joined, photo), 1);
}

// A dark object pasted into source 2's part of the overlap, at the edge
// toward source 1, in the middle and at the far edge: the Target shows it
// whole or not at all, never half (as Average does).
TEST(Blend, SomethingInOnePictureOnlyIsWholeOrAbsent) {
  const test::RgbImage photo = Photo();
  const DibPtr left = Part(photo, 0, 1, 1, 1);
  for (const int at : {10, 80, 150}) {
    SCOPED_TRACE(at);
    const DibPtr right = Part(photo, kOffset, 1, 1, 1);
    const int x0 = at, x1 = at + 40, y0 = 120, y1 = 200;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) {
        uint8_t* p = right->Row(y) + 3 * x;
        p[0] = 40, p[1] = static_cast<uint8_t>(30 + (x + y) % 20), p[2] = 50;
      }
    const auto judge = [&](const Dib& target, int& whole, int& absent) {
      whole = absent = 0;
      for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
          const uint8_t* t = target.Row(y) + 3 * (x + kOffset);
          const uint8_t* o = right->Row(y) + 3 * x;
          const uint8_t* s = left->Row(y) + 3 * (x + kOffset);
          int dObject = 0, dScene = 0;
          for (int c = 0; c < 3; ++c) {
            dObject = std::max(dObject, std::abs(t[c] - o[c]));
            dScene = std::max(dScene, std::abs(t[c] - s[c]));
          }
          whole += dObject <= 8;
          absent += dScene <= 8;
        }
    };
    const int pixels = (x1 - x0) * (y1 - y0);
    int whole = 0, absent = 0;
    judge(*Join(*left, *right, kMergeBlend), whole, absent);
    EXPECT_TRUE(whole >= pixels * 95 / 100 || absent >= pixels * 95 / 100) << whole << " whole, " << absent << " absent";
    judge(*Join(*left, *right, kMergeAverage), whole, absent);
    EXPECT_LT(whole + absent, pixels / 10);
  }
}

// Bias 0 gives source 1 most of the overlap, 255 source 2: with source 2
// brighter, the overlap is darker with the one than with the other.
TEST(Blend, TheBiasMovesTheSeam) {
  const test::RgbImage photo = Photo();
  const DibPtr left = Part(photo, 0, 1, 1, 1), right = Part(photo, kOffset, 1.2, 1.2, 1.2);
  const auto overlapMean = [](const Dib& d) {
    const auto means = ColumnMeans(d);
    double sum = 0;
    for (int x = kOffset; x < kWidth; ++x) sum += means[static_cast<size_t>(x)][1];
    return sum / (kWidth - kOffset);
  };
  const double toward1 = overlapMean(*Join(*left, *right, kMergeBlend, false, 0));
  const double even = overlapMean(*Join(*left, *right, kMergeBlend, false, 128));
  const double toward2 = overlapMean(*Join(*left, *right, kMergeBlend, false, 255));
  EXPECT_LT(toward1, even);
  EXPECT_LT(even, toward2);
  EXPECT_GT(toward2 / toward1, 1.05);
}

// The projection bends a blended Target as it bends the others: pictures that
// agree give the pixels Greatest gives, except where nothing lies (Greatest's
// background is black, Blend's grey).
TEST(Blend, ProjectedLikeEveryRule) {
  const test::RgbImage photo = Photo();
  const DibPtr left = Part(photo, 0, 1, 1, 1), right = Part(photo, kOffset, 1, 1, 1);
  const DibPtr blended = Join(*left, *right, kMergeBlend, false, 128, 40);
  const DibPtr greatest = Join(*left, *right, kMergeGreatest, false, 128, 40);
  ASSERT_EQ(blended->Height(), greatest->Height());
  int background = 0, differing = 0;
  for (int y = 0; y < blended->Height(); ++y)
    for (int x = 0; x < blended->Width(); ++x) {
      const uint8_t* b = blended->Row(y) + 3 * x;
      const uint8_t* g = greatest->Row(y) + 3 * x;
      if (g[0] == 0 && g[1] == 0 && g[2] == 0 && b[0] == 127 && b[1] == 127 && b[2] == 127) ++background;
      else if (std::abs(b[0] - g[0]) > 1 || std::abs(b[1] - g[1]) > 1 || std::abs(b[2] - g[2]) > 1) ++differing;
    }
  EXPECT_GT(background, 1000);
  EXPECT_EQ(differing, 0);
}

// Pieces of one photograph laid where they were cut from, in every
// arrangement (side by side either way round, one above the other, corner to
// corner, one inside the other, an overlap one pixel wide): the pictures
// agree wherever they overlap, so the Target is the photograph's piece they
// cover together, within 1 level, and the background elsewhere.
TEST(Blend, EveryArrangementOfAgreeingPiecesGivesThePhotograph) {
  const test::RgbImage photo = Photo();
  struct Rect {
    int x, y, w, h;  // in the photograph, rows from the top
  };
  const auto cut = [&](Rect r) { return Piece(photo, r.x, r.y, r.w, r.h); };
  struct Arrangement {
    const char* what;
    Rect one, two;
  } arrangements[] = {
      {"side by side", {0, 0, 350, 400}, {250, 0, 350, 400}},
      {"source 2 on the left", {250, 0, 350, 400}, {0, 0, 350, 400}},
      {"one above the other", {0, 0, 600, 260}, {0, 150, 600, 250}},
      {"source 2 above", {0, 150, 600, 250}, {0, 0, 600, 260}},
      {"corner to corner", {0, 0, 380, 300}, {200, 120, 400, 280}},
      {"one inside the other", {0, 0, 600, 400}, {200, 100, 150, 120}},
      {"an overlap one pixel wide", {0, 0, 301, 400}, {300, 30, 300, 300}},
  };
  for (const Arrangement& a : arrangements) {
    SCOPED_TRACE(a.what);
    const DibPtr one = cut(a.one), two = cut(a.two);
    TargetSettings t;
    t.merge.rule = kMergeBlend;
    t.offsetX = a.two.x - a.one.x;
    // Stored rows count from the bottom.
    t.offsetY = (a.one.y + a.one.h) - (a.two.y + a.two.h);
    const SampleCoverage none;
    WorkObserver observer;
    const GeneratedTarget made = GenerateTargetPicture({*one, none}, {*two, none}, t, observer);
    ASSERT_EQ(made.result, GenerateResult::kDone);
    const int left = std::min(a.one.x, a.two.x), top = std::min(a.one.y, a.two.y);
    const Dib& target = *made.target;
    ASSERT_EQ(target.Width(), std::max(a.one.x + a.one.w, a.two.x + a.two.w) - left);
    ASSERT_EQ(target.Height(), std::max(a.one.y + a.one.h, a.two.y + a.two.h) - top);
    int worst = 0, wrongBackground = 0;
    for (int y = 0; y < target.Height(); ++y) {
      // Stored row y is the photograph's row counted from the Target's bottom.
      const int py = top + target.Height() - 1 - y;
      for (int x = 0; x < target.Width(); ++x) {
        const int px = left + x;
        const auto in = [&](Rect r) { return px >= r.x && px < r.x + r.w && py >= r.y && py < r.y + r.h; };
        const uint8_t* t8 = target.Row(y) + 3 * x;
        if (!in(a.one) && !in(a.two)) {
          wrongBackground += t8[0] != 127 || t8[1] != 127 || t8[2] != 127;
          continue;
        }
        const uint8_t* p = &photo.rgb[(static_cast<size_t>(py) * photo.width + px) * 3];
        for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(t8[c] - p[2 - c]));
      }
    }
    EXPECT_LE(worst, 1);
    EXPECT_EQ(wrongBackground, 0);
  }
}

TEST(Blend, LevelsFollowTheOverlap) {
  EXPECT_EQ(BlendLevels(1, 1), 1);
  EXPECT_EQ(BlendLevels(200, 400), 5);
  EXPECT_EQ(BlendLevels(20000, 4000), 6);
}

// --merge blend in the batch tool: the same bytes with one worker thread and
// with five.
TEST(Blend, BatchToolWritesTheSameBytesOnAnyNumberOfThreads) {
  const std::filesystem::path dir = test::TempDir() / "blend";
  std::filesystem::create_directories(dir);
  const auto run = [&](int workers, const std::string& out) {
    const std::string cmd = "TESSARA_WORKERS=" + std::to_string(workers) + " " + TESSARA_JOIN +
                            " --quiet --merge blend --match-exposure --rotate2 1.5 --offset 220,3 '" +
                            test::TestData("pairs/coffee_left.png").string() + "' '" +
                            test::TestData("pairs/coffee_right.png").string() + "' '" + (dir / out).string() + "'";
    return std::system(cmd.c_str());
  };
  ASSERT_EQ(run(1, "one.bmp"), 0);
  ASSERT_EQ(run(5, "five.bmp"), 0);
  const std::vector<uint8_t> one = test::ReadBytes(dir / "one.bmp");
  EXPECT_GT(one.size(), 100000u);
  EXPECT_TRUE(one == test::ReadBytes(dir / "five.bmp"));
}

}  // namespace
}  // namespace tessara
