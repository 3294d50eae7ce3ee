// The overlap and the fade weights of the merge operators (the rules
// themselves are inline in the header).
#include "engine/merge.h"

#include <algorithm>

namespace tessara {

MergeOperator::MergeOperator(const TargetGeometry& g, const MergeSettings& settings)
    : m_nRule(settings.rule == kMergeGreatest || settings.rule == kMergeLeast || settings.rule == kMergeBlend
                  ? settings.rule
                  : kMergeAverage),
      m_nBias(settings.bias),
      // Blend fades every band of the pictures by its own width.
      m_bFade1(settings.fade1 && m_nRule != kMergeBlend),
      m_bFade2(settings.fade2 && m_nRule != kMergeBlend) {
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

std::unique_ptr<MergeOperator> MakeMergeOperator(const TargetGeometry& g, const MergeSettings& settings) {
  return std::make_unique<MergeOperator>(g, settings);
}

}  // namespace tessara
