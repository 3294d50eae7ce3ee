// The merge operators: where both sources cover a Target pixel, the pixel laid
// from source 1 and the pixel of source 2 become one, by Average, Greatest or
// Least, weighted by the source bias and optionally fading one source out toward
// the edges of the overlap. The overlap is kept in source 2's coordinates, in
// which the laying loop gives each pixel's position.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/session.h"

namespace tessara {

struct MergePixel {
  uint8_t blue;
  uint8_t green;
  uint8_t red;
  bool operator==(const MergePixel&) const = default;
};

class MergeOperator {
 public:
  // The settings are read once here: the laying threads never look at the
  // session while they merge.
  explicit MergeOperator(const TargetGeometry& g, const MergeSettings& settings = {});
  // a is the pixel laid from source 1, b the pixel of source 2, at the position
  // (curX, curY) of source 2.
  MergePixel MergeAt(MergePixel a, MergePixel b, int curX, int curY) const {
    return MergeWeighted(a, b, Fades() ? FadeWeight(curX, curY) : 0.0);
  }
  // The same with the fade weight of that position given (ignored when
  // nothing fades): a pixel loop computes the weight's two factors once a
  // column and once a row instead of at every pixel.
  virtual MergePixel MergeWeighted(MergePixel a, MergePixel /*b*/, double /*fade*/) const { return a; }
  virtual ~MergeOperator() = default;

  bool Fades() const { return m_bFade1 || m_bFade2; }
  // The fade weight at a position of source 2: 1 at the centre of the overlap, 0
  // on its edges; a direction in which the overlap is empty contributes 0. It
  // is ColumnFade(curX) * RowFade(curY).
  double FadeWeight(int curX, int curY) const { return ColumnFade(curX) * RowFade(curY); }
  double ColumnFade(int curX) const;
  double RowFade(int curY) const;

  int m_nOverlapWidth;
  int m_nOverlapHeight;
  int m_nOverlapLeft;
  int m_nOverlapTop;

 protected:
  int m_nBias;
  bool m_bFade1;
  bool m_bFade2;
};

class AverageMerge : public MergeOperator {
 public:
  using MergeOperator::MergeOperator;
  MergePixel MergeWeighted(MergePixel a, MergePixel b, double fade) const override;
};

class GreatestMerge : public MergeOperator {
 public:
  using MergeOperator::MergeOperator;
  MergePixel MergeWeighted(MergePixel a, MergePixel b, double fade) const override;
};

class LeastMerge : public MergeOperator {
 public:
  using MergeOperator::MergeOperator;
  MergePixel MergeWeighted(MergePixel a, MergePixel b, double fade) const override;
};

// The operator of settings.rule (Average for an unknown rule).
std::unique_ptr<MergeOperator> MakeMergeOperator(const TargetGeometry& g, const MergeSettings& settings);

}  // namespace tessara
