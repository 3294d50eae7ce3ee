// Pairs cut from one photograph for the tests of photographic joins: the left
// and right parts of tests/data/photos/coffee.png overlapping by half, the
// second one's exposure or colour changed as a camera's automatic exposure
// does, and the column means that show a step.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "image/codec.h"
#include "tests/test_support.h"

namespace tessara::photo_pair {

constexpr int kWidth = 400, kOffset = 200;

// The w x h piece of the photograph at column x, row y (from the top), each
// channel times its factor (rounded, held to 255).
inline DibPtr Piece(const test::RgbImage& photo, int x0, int y0, int w, int h, double red = 1, double green = 1,
                    double blue = 1) {
  std::vector<uint8_t> rgb;
  const double f[3] = {red, green, blue};
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) {
      const uint8_t* p = &photo.rgb[(static_cast<size_t>(y) * photo.width + x) * 3];
      for (int c = 0; c < 3; ++c) rgb.push_back(static_cast<uint8_t>(std::min(255L, std::lround(p[c] * f[c]))));
    }
  CxImage img;
  test::MakeImage24(img, w, h, rgb);
  return img.TakeDib();
}

// Columns [x0, x0 + kWidth) of the photograph, its whole height, each channel
// times its factor.
inline DibPtr Part(const test::RgbImage& photo, int x0, double red, double green, double blue) {
  return Piece(photo, x0, 0, kWidth, photo.height, red, green, blue);
}

// The mean of each column over the whole height, per channel (red, green,
// blue).
inline std::vector<std::array<double, 3>> ColumnMeans(const Dib& d) {
  std::vector<std::array<double, 3>> means(static_cast<size_t>(d.Width()), {0, 0, 0});
  for (int y = 0; y < d.Height(); ++y) {
    const uint8_t* row = d.Row(y);
    for (int x = 0; x < d.Width(); ++x)
      for (int c = 0; c < 3; ++c) means[static_cast<size_t>(x)][static_cast<size_t>(c)] += row[3 * x + 2 - c];
  }
  for (auto& m : means)
    for (double& v : m) v /= d.Height();
  return means;
}

// What a camera's automatic exposure does to the second picture: brighter,
// darker, or a colour cast when the light changed.
struct ExposureChange {
  const char* what;
  double red, green, blue;
};
inline constexpr ExposureChange kCameraChanges[] = {
    {"brighter", 1.2, 1.2, 1.2}, {"darker", 0.8, 0.8, 0.8}, {"tinted", 0.72, 0.8, 0.88}};

inline test::RgbImage Photo() {
  return test::ToRgb(CxImage(test::TestData("photos/coffee.png").string(), CXIMAGE_FORMAT_PNG));
}

// The photograph's highlights held to 212, so that a second picture made 20 %
// brighter still holds the whole scene (what a clipped highlight loses, no
// matching brings back).
inline test::RgbImage PhotoWithoutHighlights() {
  test::RgbImage photo = Photo();
  for (uint8_t& v : photo.rgb) v = std::min<uint8_t>(v, 212);
  return photo;
}

// Each column of `joined` as a share of the scene's level: the worst change
// of that share from one column to the next (a step in brightness the scene
// does not have), and its worst departure from 1 in the columns from `from`
// on.
struct Steps {
  double worstStep = 0;
  double worstLevel = 0;
};
inline Steps StepsAgainst(const std::vector<std::array<double, 3>>& scene, const Dib& joined, size_t from) {
  const auto means = ColumnMeans(joined);
  Steps s;
  for (size_t x = 1; x < means.size(); ++x)
    for (size_t c = 0; c < 3; ++c) {
      // The level against the scene's, and how much it changes from one
      // column to the next.
      const double level = means[x][c] / std::max(1.0, scene[x][c]);
      const double before = means[x - 1][c] / std::max(1.0, scene[x - 1][c]);
      s.worstStep = std::max(s.worstStep, std::fabs(level - before));
      if (x >= from) s.worstLevel = std::max(s.worstLevel, std::fabs(level - 1));
    }
  return s;
}

}  // namespace tessara::photo_pair
