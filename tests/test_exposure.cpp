// Matching source 2's exposure and colour to source 1's: two halves of one
// photograph, the second made brighter, darker or tinted as a camera's
// automatic exposure does, join with no step where they meet and the second
// half back at the scene's own level; something in one picture only does not
// pull the gains.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/exposure.h"
#include "engine/generate_target.h"
#include "image/codec.h"
#include "tests/photo_pair.h"
#include "tests/test_support.h"

namespace tessara {
namespace {

using namespace photo_pair;

struct Joined {
  DibPtr target;
  ExposureGains gains;
};

Joined Join(const Dib& left, const Dib& right, bool match) {
  TargetSettings t;
  t.offsetX = kOffset;
  t.merge.fade2 = true;
  t.merge.matchExposure = match;
  const SampleCoverage none;
  WorkObserver observer;
  GeneratedTarget made = GenerateTargetPicture({left, none}, {right, none}, t, observer);
  EXPECT_EQ(made.result, GenerateResult::kDone);
  return {std::move(made.target), made.gains};
}

TEST(MatchExposure, SecondHalfBackAtTheScenesLevelWithoutAStep) {
  const test::RgbImage photo = PhotoWithoutHighlights();
  ASSERT_EQ(photo.width, kWidth + kOffset);
  const DibPtr left = Part(photo, 0, 1, 1, 1), plain = Part(photo, kOffset, 1, 1, 1);
  const auto scene = ColumnMeans(*Join(*left, *plain, false).target);
  for (const ExposureChange& change : kCameraChanges) {
    SCOPED_TRACE(change.what);
    const DibPtr right = Part(photo, kOffset, change.red, change.green, change.blue);
    const Joined joined = Join(*left, *right, true);
    ASSERT_TRUE(joined.gains.found);
    EXPECT_NEAR(joined.gains.red * change.red, 1.0, 0.03);
    EXPECT_NEAR(joined.gains.green * change.green, 1.0, 0.03);
    EXPECT_NEAR(joined.gains.blue * change.blue, 1.0, 0.03);
    const Steps steps = StepsAgainst(scene, *joined.target, kWidth);
    EXPECT_LT(steps.worstStep, 0.015);
    EXPECT_LT(steps.worstLevel, 0.03);
    // Without matching the step is plain to see.
    const auto unmatched = ColumnMeans(*Join(*left, *right, false).target);
    EXPECT_GT(std::fabs(unmatched[kWidth + 50][1] / scene[kWidth + 50][1] - 1), 0.1);
  }
}

// A bright object in source 2's overlap only (a passer-by) changes the gains
// little: its pixels disagree with the first estimate and are left out, as
// clipped highlights are.
TEST(MatchExposure, SomethingInOnePictureOnlyDoesNotPullTheGains) {
  const test::RgbImage photo = Photo();
  const DibPtr left = Part(photo, 0, 1, 1, 1), right = Part(photo, kOffset, 0.8, 0.8, 0.8);
  // A white-ish block over a sixth of the overlap.
  for (int y = 100; y < 300; ++y)
    for (int x = 20; x < 90; ++x) {
      uint8_t* p = right->Row(y) + 3 * x;
      p[0] = 200, p[1] = 210, p[2] = 220;
    }
  const Joined joined = Join(*left, *right, true);
  ASSERT_TRUE(joined.gains.found);
  EXPECT_NEAR(joined.gains.green, 1.25, 0.03);
  // Highlights clipped by a brighter exposure are left out too.
  const DibPtr brighter = Part(photo, kOffset, 1.2, 1.2, 1.2);
  const Joined clipped = Join(*left, *brighter, true);
  EXPECT_NEAR(clipped.gains.red, 1 / 1.2, 0.02);
  // Two pictures that already agree keep their pixels (gains of 1).
  const DibPtr same = Part(photo, kOffset, 1, 1, 1);
  const Joined plain = Join(*left, *same, true);
  EXPECT_NEAR(plain.gains.red, 1.0, 0.005);
  EXPECT_NEAR(plain.gains.blue, 1.0, 0.005);
  EXPECT_EQ(ExposureGainsText(ExposureGains{}), "Exposure not matched: too few pixels of the overlap show alike in both sources.");
}

// The batch tool's --match-exposure: the gains on standard error; two
// pictures that agree come out as without it.
TEST(MatchExposure, BatchToolOption) {
  const std::filesystem::path dir = test::TempDir() / "match";
  std::filesystem::create_directories(dir);
  const std::string pair = "'" + test::TestData("pairs/coffee_left.png").string() + "' '" +
                           test::TestData("pairs/coffee_right.png").string() + "' ";
  const std::string err = (dir / "err.txt").string();
  const auto run = [&](const std::string& options, const std::string& out) {
    const std::string cmd = std::string(TESSARA_JOIN) + " " + options + " --offset 220,0 " + pair + "'" +
                            (dir / out).string() + "' 2>'" + err + "'";
    return std::system(cmd.c_str());
  };
  ASSERT_EQ(run("--match-exposure", "matched.bmp"), 0);
  const std::vector<uint8_t> said = test::ReadBytes(err);
  EXPECT_NE(std::string(said.begin(), said.end()).find("Source 2 matched to source 1: red x"), std::string::npos);
  ASSERT_EQ(run("", "plain.bmp"), 0);
  const test::RgbImage matched = test::ToRgb(CxImage((dir / "matched.bmp").string(), CXIMAGE_FORMAT_BMP));
  const test::RgbImage plain = test::ToRgb(CxImage((dir / "plain.bmp").string(), CXIMAGE_FORMAT_BMP));
  // The pair was cut from one picture: its gains are 1, and so is the Target.
  EXPECT_EQ(test::MaxDifference(matched, plain), 0);
}

}  // namespace
}  // namespace tessara
