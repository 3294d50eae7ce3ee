#include "engine/exposure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "engine/prepared_pixels.h"

namespace tessara {

namespace {

// Channels above this are taken as clipped, and pixels darker than the floor
// as too noisy to weigh: neither says anything of the exposure.
constexpr int kClipped = 250;
constexpr int kDarkest = 24;
// Ratios are counted in steps of 1/256 up to this many times.
constexpr int kRatioSteps = 256;
constexpr int kMaxRatio = 4;
// At most this many overlap pixels are looked at (an even grid over it).
constexpr int64_t kSampleBudget = 1 << 20;
// A pixel agrees with the first estimate when every channel lies within this
// share of its value (or kNear levels) of it.
constexpr double kAgreeShare = 0.12;
constexpr int kNear = 10;
// Fewer agreeing pixels than this leave source 2 as it is.
constexpr int64_t kMinPixels = 500;

struct Bgr {
  int b, g, r;
};

// The colour of pixel (x, y) of a prepared copy.
Bgr At(const PreparedPixels& copy, int x, int y) {
  uint8_t c[3];
  copy.Colour(copy.Row(y), x, c);
  return {c[0], c[1], c[2]};
}

bool Usable(const Bgr& p) {
  if (p.b >= kClipped || p.g >= kClipped || p.r >= kClipped) return false;
  return 29 * p.b + 150 * p.g + 77 * p.r >= 256 * kDarkest;
}

// The median of the ratios counted in `hist` (steps of 1/kRatioSteps).
double MedianRatio(const std::vector<int64_t>& hist, int64_t total) {
  int64_t seen = 0;
  for (size_t i = 0; i < hist.size(); ++i) {
    seen += hist[i];
    if (2 * seen >= total) return (static_cast<double>(i) + 0.5) / kRatioSteps;
  }
  return 1.0;
}

}  // namespace

ExposureGains EstimateExposureGains(PreparedRef source1, PreparedRef source2, const TargetGeometry& g) {
  ExposureGains gains;
  const int64_t left = std::max(g.x1, g.x2), right = std::min(int64_t{g.x1} + g.w1, int64_t{g.x2} + g.w2);
  const int64_t bottom = std::max(g.y1, g.y2), top = std::min(int64_t{g.y1} + g.h1, int64_t{g.y2} + g.h2);
  if (left >= right || bottom >= top) return gains;
  const int64_t area = (right - left) * (top - bottom);
  const int step = std::max<int>(1, static_cast<int>(std::ceil(std::sqrt(static_cast<double>(area) / kSampleBudget))));
  const PreparedPixels one(source1.picture), two(source2.picture);
  const CoverageView cover1(source1.coverage, source1.picture), cover2(source2.coverage, source2.picture);

  // The pairs both pictures show plainly.
  std::vector<Bgr> a, b;
  for (int64_t Y = bottom; Y < top; Y += step) {
    const int y1 = static_cast<int>(Y - g.y1), y2 = static_cast<int>(Y - g.y2);
    for (int64_t X = left; X < right; X += step) {
      const int x1 = static_cast<int>(X - g.x1), x2 = static_cast<int>(X - g.x2);
      if (!cover1.Sampled(x1, y1) || !cover2.Sampled(x2, y2)) continue;
      const Bgr p = At(one, x1, y1), q = At(two, x2, y2);
      if (!Usable(p) || !Usable(q)) continue;
      a.push_back(p);
      b.push_back(q);
    }
  }
  if (static_cast<int64_t>(a.size()) < kMinPixels) return gains;

  // A first estimate that moving things cannot pull: the median ratio of
  // each channel.
  double first[3];
  for (int c = 0; c < 3; ++c) {
    std::vector<int64_t> hist(static_cast<size_t>(kRatioSteps * kMaxRatio), 0);
    for (size_t i = 0; i < a.size(); ++i) {
      const int va = c == 0 ? a[i].b : c == 1 ? a[i].g : a[i].r, vb = c == 0 ? b[i].b : c == 1 ? b[i].g : b[i].r;
      if (vb == 0) continue;
      const int bin = std::min<int>(static_cast<int>(hist.size()) - 1, va * kRatioSteps / vb);
      ++hist[static_cast<size_t>(bin)];
    }
    first[c] = MedianRatio(hist, static_cast<int64_t>(a.size()));
  }
  // Then the ratio of the sums over the pixels that agree with it.
  int64_t sumA[3] = {0, 0, 0}, sumB[3] = {0, 0, 0}, agreeing = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const int va[3] = {a[i].b, a[i].g, a[i].r}, vb[3] = {b[i].b, b[i].g, b[i].r};
    bool agrees = true;
    for (int c = 0; c < 3 && agrees; ++c)
      agrees = std::fabs(va[c] - first[c] * vb[c]) <= std::max<double>(kNear, kAgreeShare * va[c]);
    if (!agrees) continue;
    ++agreeing;
    for (int c = 0; c < 3; ++c) sumA[c] += va[c], sumB[c] += vb[c];
  }
  gains.pixels = agreeing;
  if (agreeing < kMinPixels) return gains;
  double found[3];
  for (int c = 0; c < 3; ++c)
    found[c] = std::clamp(static_cast<double>(sumA[c]) / static_cast<double>(std::max<int64_t>(1, sumB[c])),
                          1.0 / kMaxRatio, static_cast<double>(kMaxRatio));
  gains.blue = found[0], gains.green = found[1], gains.red = found[2];
  gains.found = true;
  return gains;
}

std::array<std::array<uint8_t, 256>, 3> GainTables(const ExposureGains& gains) {
  std::array<std::array<uint8_t, 256>, 3> tables{};
  const double g[3] = {gains.blue, gains.green, gains.red};
  for (int c = 0; c < 3; ++c)
    for (int v = 0; v < 256; ++v)
      tables[static_cast<size_t>(c)][static_cast<size_t>(v)] =
          static_cast<uint8_t>(std::clamp(static_cast<int>(std::lround(v * g[c])), 0, 255));
  return tables;
}

std::string ExposureGainsText(const ExposureGains& gains) {
  if (!gains.found) return "Exposure not matched: too few pixels of the overlap show alike in both sources.";
  char text[160];
  std::snprintf(text, sizeof text, "Source 2 matched to source 1: red x%.3f, green x%.3f, blue x%.3f.", gains.red,
                gains.green, gains.blue);
  return text;
}

}  // namespace tessara
