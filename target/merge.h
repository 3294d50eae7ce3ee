// The merge operators: where both sources cover a Target pixel, the pixel laid
// from source 1 and the pixel of source 2 become one, by Average, Greatest or
// Least, weighted by the source bias and optionally fading one source out toward
// the edges of the overlap. The overlap is kept in source 2's coordinates, which
// g_nCurX and g_nCurY carry while source 2 is laid.
#pragma once

#include <cstdint>

#include "target/session.h"

namespace tessara {

struct MergePixel {
  uint8_t blue;
  uint8_t green;
  uint8_t red;
  bool operator==(const MergePixel&) const = default;
};

class MergeOperator {
 public:
  explicit MergeOperator(const TargetGeometry& g);
  // a is the pixel laid from source 1, b the pixel of source 2, at the position
  // g_nCurX, g_nCurY of source 2.
  virtual MergePixel Merge(MergePixel a, MergePixel b) const { return MergeAt(a, b, g_nCurX, g_nCurY); }
  // The same at an explicit position, for loops that lay pixels in parallel.
  virtual MergePixel MergeAt(MergePixel a, MergePixel /*b*/, int /*curX*/, int /*curY*/) const { return a; }
  virtual ~MergeOperator() = default;

  // The fade weight at a position of source 2: 1 at the centre of the overlap, 0
  // on its edges; a direction in which the overlap is empty contributes 0.
  double FadeWeight(int curX, int curY) const;
  double FadeWeight() const { return FadeWeight(g_nCurX, g_nCurY); }

  int m_nOverlapWidth;
  int m_nOverlapHeight;
  int m_nOverlapLeft;
  int m_nOverlapTop;
};

class AverageMerge : public MergeOperator {
 public:
  using MergeOperator::MergeOperator;
  MergePixel MergeAt(MergePixel a, MergePixel b, int curX, int curY) const override;
};

class GreatestMerge : public MergeOperator {
 public:
  using MergeOperator::MergeOperator;
  MergePixel MergeAt(MergePixel a, MergePixel b, int curX, int curY) const override;
};

class LeastMerge : public MergeOperator {
 public:
  using MergeOperator::MergeOperator;
  MergePixel MergeAt(MergePixel a, MergePixel b, int curX, int curY) const override;
};

}  // namespace tessara
