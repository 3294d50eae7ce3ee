// Average, Greatest and Least with the source bias c (0 favours source 1, 255
// source 2) and the edge fading. Every truncation is as the arithmetic is
// written: doubles become ints toward zero, channel sums shift by 8 bits.
#include "engine/merge.h"

#include <algorithm>

namespace tessara {

namespace {

double Luminance(MergePixel p) { return p.red * 0.3 + (p.green * 0.59 + p.blue * 0.11); }

// The score of a pixel against the bias: `offset` is -c + 255 for the side the
// bias works against and c for the side it favours.
int Score(MergePixel p, int offset) {
  return static_cast<int>((p.blue + offset) * 7.04) + static_cast<int>((p.green + offset) * 37.76) +
         static_cast<int>((p.red + offset) * 19.2);
}

uint8_t ClampToByte(double v) {
  if (!(v > 0.0)) return 0;  // also NaN
  if (v >= 255.0) return 255;
  return static_cast<uint8_t>(static_cast<int>(v));
}

}  // namespace

MergeOperator::MergeOperator(const TargetGeometry& g, const MergeSettings& settings)
    : m_nBias(settings.bias), m_bFade1(settings.fade1), m_bFade2(settings.fade2) {
  m_nOverlapLeft = g.x1;
  m_nOverlapTop = g.y1;
  // In 64 bits: placements far apart must not overflow on the way to "none".
  const int64_t w = std::min(int64_t{g.x1} + g.w1, int64_t{g.x2} + g.w2) - std::max(g.x1, g.x2);
  const int64_t h = std::min(int64_t{g.y1} + g.h1, int64_t{g.y2} + g.h2) - std::max(g.y1, g.y2);
  m_nOverlapWidth = static_cast<int>(std::clamp<int64_t>(w, 0, INT32_MAX));
  m_nOverlapHeight = static_cast<int>(std::clamp<int64_t>(h, 0, INT32_MAX));
}

// The weight is (1 - qx) * (1 - qy); each factor depends on one coordinate.
// Integer halves rounded down, as the overlap sizes are never negative.
double MergeOperator::ColumnFade(int curX) const {
  const int W = m_nOverlapWidth;
  const int64_t E = int64_t{curX} - m_nOverlapLeft - W / 2;
  const double qx = W ? static_cast<double>(4 * E * E) / static_cast<double>(int64_t{W} * W) : 0.0;
  return 1 - qx;
}

double MergeOperator::RowFade(int curY) const {
  const int H = m_nOverlapHeight;
  const int64_t F = int64_t{curY} - m_nOverlapTop - H / 2;
  const double qy = H ? static_cast<double>(4 * F * F) / static_cast<double>(int64_t{H} * H) : 0.0;
  return 1 - qy;
}

MergePixel AverageMerge::MergeWeighted(MergePixel a, MergePixel b, double f) const {
  const int c = m_nBias;
  if (m_bFade1 || m_bFade2) {
    if (m_bFade1) {
      a = {ClampToByte(a.blue * f + b.blue * (1 - f)), ClampToByte(a.green * f + b.green * (1 - f)),
           ClampToByte(a.red * f + b.red * (1 - f))};
    }
    if (m_bFade2) {
      b = {ClampToByte(b.blue * f + a.blue * (1 - f)), ClampToByte(b.green * f + a.green * (1 - f)),
           ClampToByte(b.red * f + a.red * (1 - f))};
    }
  }
  return {static_cast<uint8_t>((a.blue * (255 - c) + b.blue * c) >> 8),
          static_cast<uint8_t>((a.green * (255 - c) + b.green * c) >> 8),
          static_cast<uint8_t>((a.red * (255 - c) + b.red * c) >> 8)};
}

MergePixel GreatestMerge::MergeWeighted(MergePixel a, MergePixel b, double f) const {
  const int c = m_nBias;
  MergePixel ca = a, cb = b;
  if (m_bFade1 || m_bFade2) {
    if (m_bFade2 && !(f * 255 > Luminance(b))) cb = {0, 0, 0};
    if (m_bFade1 && !(f * 255 > Luminance(a))) ca = {0, 0, 0};
  }
  return Score(ca, 255 - c) >= Score(cb, c) ? a : b;
}

MergePixel LeastMerge::MergeWeighted(MergePixel a, MergePixel b, double f) const {
  const int c = m_nBias;
  MergePixel ca = a, cb = b;
  if (m_bFade1 || m_bFade2) {
    if (m_bFade2 && !(f * 255 > Luminance(b))) cb = {255, 255, 255};
    if (m_bFade1 && !(f * 255 > Luminance(a))) ca = {255, 255, 255};
  }
  return Score(cb, 255 - c) >= Score(ca, c) ? a : b;
}

std::unique_ptr<MergeOperator> MakeMergeOperator(const TargetGeometry& g, const MergeSettings& settings) {
  if (settings.rule == kMergeGreatest) return std::make_unique<GreatestMerge>(g, settings);
  if (settings.rule == kMergeLeast) return std::make_unique<LeastMerge>(g, settings);
  return std::make_unique<AverageMerge>(g, settings);
}

}  // namespace tessara
