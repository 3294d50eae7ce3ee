// The merge operators: where both sources cover a Target pixel, the pixel laid
// from source 1 and the pixel of source 2 become one, by Average, Greatest or
// Least (Blend keeps source 1's here and joins the pictures afterwards),
// weighted by the source bias and optionally fading one source out toward the
// edges of the overlap. The overlap is kept in source 2's coordinates, in
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
  // session while they merge. An unknown rule merges as Average.
  explicit MergeOperator(const TargetGeometry& g, const MergeSettings& settings = {});
  // a is the pixel laid from source 1, b the pixel of source 2, at the position
  // (curX, curY) of source 2.
  MergePixel MergeAt(MergePixel a, MergePixel b, int curX, int curY) const {
    return MergeWeighted(a, b, Fades() ? FadeWeight(curX, curY) : 0.0);
  }
  // The same with the fade weight of that position given (ignored when
  // nothing fades): a pixel loop computes the weight's two factors once a
  // column and once a row instead of at every pixel.
  MergePixel MergeWeighted(MergePixel a, MergePixel b, double fade) const {
    switch (m_nRule) {
      case kMergeGreatest: return Merge<kMergeGreatest>(a, b, fade);
      case kMergeLeast: return Merge<kMergeLeast>(a, b, fade);
      case kMergeBlend: return Merge<kMergeBlend>(a, b, fade);
      default: return Merge<kMergeAverage>(a, b, fade);
    }
  }
  // The merge by a rule known where the loop is compiled: the laying loops are
  // built once per rule, with the rule's arithmetic inlined.
  template <int kRule>
  MergePixel Merge(MergePixel a, MergePixel b, double fade) const;
  // A run of n pixels merged as MergeWeighted merges each: `a` holds the
  // pixels laid from source 1 (blue, green, red) and takes the merged ones,
  // `b` the pixels of source 2. A pixel's fade weight is its column's factor
  // times `rowFade`, as FadeWeight computes it; `columnFades` gives the
  // factors three times over, once for each byte of a pixel, and is read only
  // when something fades. The row loops of the Target call it on the stretches
  // where both sources have a sample; Average runs as loops over bytes that
  // the compiler vectorises.
  void MergeRun(uint8_t* a, const uint8_t* b, const double* columnFades, double rowFade, int n) const;
  int Rule() const { return m_nRule; }

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

 private:
  // The score of a pixel against the bias: `offset` is -c + 255 for the side
  // the bias works against and c for the side it favours.
  static int Score(MergePixel p, int offset) {
    return static_cast<int>((p.blue + offset) * 7.04) + static_cast<int>((p.green + offset) * 37.76) +
           static_cast<int>((p.red + offset) * 19.2);
  }
  static double Luminance(MergePixel p) { return p.red * 0.3 + (p.green * 0.59 + p.blue * 0.11); }
  static uint8_t ClampToByte(double v) {
    if (!(v > 0.0)) return 0;  // also NaN
    if (v >= 255.0) return 255;
    return static_cast<uint8_t>(static_cast<int>(v));
  }
  static MergePixel Mix(MergePixel p, MergePixel q, double f) {
    return {ClampToByte(p.blue * f + q.blue * (1 - f)), ClampToByte(p.green * f + q.green * (1 - f)),
            ClampToByte(p.red * f + q.red * (1 - f))};
  }

  int m_nRule;
  int m_nBias;
  bool m_bFade1;
  bool m_bFade2;
};

// Average, Greatest and Least with the source bias c (0 favours source 1, 255
// source 2) and the edge fading. Every truncation is as the arithmetic is
// written: doubles become ints toward zero, channel sums shift by 8 bits.
template <int kRule>
[[gnu::always_inline]] inline MergePixel MergeOperator::Merge(MergePixel a, MergePixel b, double f) const {
  const int c = m_nBias;
  if constexpr (kRule == kMergeBlend) {
    // Blend lays source 1 over the overlap and joins the two afterwards.
    (void)b, (void)f, (void)c;
    return a;
  } else if constexpr (kRule == kMergeGreatest || kRule == kMergeLeast) {
    // A fading source counts as black (Greatest) or white (Least) where it
    // is darker than the weight.
    constexpr MergePixel kFaded = kRule == kMergeGreatest ? MergePixel{0, 0, 0} : MergePixel{255, 255, 255};
    MergePixel ca = a, cb = b;
    if (m_bFade2 && !(f * 255 > Luminance(b))) cb = kFaded;
    if (m_bFade1 && !(f * 255 > Luminance(a))) ca = kFaded;
    if constexpr (kRule == kMergeGreatest) return Score(ca, 255 - c) >= Score(cb, c) ? a : b;
    else return Score(cb, 255 - c) >= Score(ca, c) ? a : b;
  } else {
    if (m_bFade1) a = Mix(a, b, f);
    if (m_bFade2) b = Mix(b, a, f);
    return {static_cast<uint8_t>((a.blue * (255 - c) + b.blue * c) >> 8),
            static_cast<uint8_t>((a.green * (255 - c) + b.green * c) >> 8),
            static_cast<uint8_t>((a.red * (255 - c) + b.red * c) >> 8)};
  }
}

// The vector code of MergeRun's Average loops: 0 any processor, 1 AVX2, 2
// AVX-512 (x86-64-v4); at first use the widest the processor has. Every level
// gives the same bytes; the tests set the lower ones to compare them.
int MergeRunLevel();
// Sets the level for the whole process, at most the processor's; returns the
// level set.
int SetMergeRunLevel(int level);

// The operator of settings.rule.
std::unique_ptr<MergeOperator> MakeMergeOperator(const TargetGeometry& g, const MergeSettings& settings);

}  // namespace tessara
