// The overlap and the fade weights of the merge operators (the rules
// themselves are inline in the header).
#include "engine/merge.h"

#include <algorithm>
#include <atomic>

namespace tessara {

namespace {

// ClampToByte as an int, in a form that stays in vector registers: a value not
// above 0 (NaN too) gives 0, one from 255 up gives 255, the rest truncate.
[[gnu::always_inline]] inline int ClampedByte(double v) {
  const double low = v > 0.0 ? v : 0.0;
  return static_cast<int>(low < 255.0 ? low : 255.0);
}

// Average over n bytes, each with its pixel's fade weight f = w[j] * rowFade:
// the arithmetic of FadeWeight, Mix (with 1 - f) and Merge<Average>, channel
// by channel, in their order.
template <bool kFade1, bool kFade2>
[[gnu::always_inline]] inline void AverageBytes(uint8_t* a, const uint8_t* b, const double* w, double rowFade, int n,
                                                int c) {
  for (int j = 0; j < n; ++j) {
    int p = a[j], q = b[j];
    if constexpr (kFade1 || kFade2) {
      const double f = w[j] * rowFade, g = 1 - f;
      if constexpr (kFade1) p = ClampedByte(p * f + q * g);
      if constexpr (kFade2) q = ClampedByte(q * f + p * g);
    }
    a[j] = static_cast<uint8_t>((p * (255 - c) + q * c) >> 8);
  }
}

using AverageRunFn = void (*)(uint8_t* a, const uint8_t* b, const double* w, double rowFade, int n, int c);

template <bool kFade1, bool kFade2>
void AverageRunPlain(uint8_t* a, const uint8_t* b, const double* w, double rowFade, int n, int c) {
  AverageBytes<kFade1, kFade2>(a, b, w, rowFade, 3 * n, c);
}

// The same loops built for wider vectors, chosen by what the processor has.
// They do the same double operations in the same order: the build never
// contracts a multiply and an add into one (-ffp-contract=off), so the bytes
// do not depend on the processor.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TESSARA_MERGE_LEVELS 1
template <bool kFade1, bool kFade2>
[[gnu::target("avx2")]] void AverageRunAvx2(uint8_t* a, const uint8_t* b, const double* w, double rowFade, int n,
                                            int c) {
  AverageBytes<kFade1, kFade2>(a, b, w, rowFade, 3 * n, c);
}
template <bool kFade1, bool kFade2>
[[gnu::target("arch=x86-64-v4")]] void AverageRunAvx512(uint8_t* a, const uint8_t* b, const double* w, double rowFade,
                                                        int n, int c) {
  AverageBytes<kFade1, kFade2>(a, b, w, rowFade, 3 * n, c);
}
#endif

int ProcessorMergeLevel() {
#ifdef TESSARA_MERGE_LEVELS
  if (__builtin_cpu_supports("x86-64-v4")) return 2;
  if (__builtin_cpu_supports("avx2")) return 1;
#endif
  return 0;
}

std::atomic<int> g_nMergeLevel{-1};

int CurrentMergeLevel() {
  int level = g_nMergeLevel.load(std::memory_order_relaxed);
  if (level < 0) {
    level = ProcessorMergeLevel();
    g_nMergeLevel.store(level, std::memory_order_relaxed);
  }
  return level;
}

// The loop for a fade (bit 0 source 1's, bit 1 source 2's) at the level.
AverageRunFn AverageRunFor(int fades, int level) {
  static constexpr AverageRunFn kPlain[4] = {AverageRunPlain<false, false>, AverageRunPlain<true, false>,
                                             AverageRunPlain<false, true>, AverageRunPlain<true, true>};
#ifdef TESSARA_MERGE_LEVELS
  static constexpr AverageRunFn kAvx2[4] = {AverageRunAvx2<false, false>, AverageRunAvx2<true, false>,
                                            AverageRunAvx2<false, true>, AverageRunAvx2<true, true>};
  static constexpr AverageRunFn kAvx512[4] = {AverageRunAvx512<false, false>, AverageRunAvx512<true, false>,
                                              AverageRunAvx512<false, true>, AverageRunAvx512<true, true>};
  if (level >= 2) return kAvx512[fades];
  if (level == 1) return kAvx2[fades];
#else
  (void)level;
#endif
  return kPlain[fades];
}

}  // namespace

void MergeOperator::MergeRun(uint8_t* a, const uint8_t* b, const double* columnFades, double rowFade,
                             int n) const {
  if (n <= 0) return;
  const auto byPixel = [&](auto merge) {
    for (int i = 0; i < n; ++i, a += 3, b += 3) {
      const MergePixel m = merge({a[0], a[1], a[2]}, {b[0], b[1], b[2]}, Fades() ? columnFades[3 * i] * rowFade : 0.0);
      a[0] = m.blue, a[1] = m.green, a[2] = m.red;
    }
  };
  switch (m_nRule) {
    case kMergeBlend:
      return;  // source 1's pixels stay
    case kMergeGreatest:
      return byPixel([this](MergePixel p, MergePixel q, double f) { return Merge<kMergeGreatest>(p, q, f); });
    case kMergeLeast:
      return byPixel([this](MergePixel p, MergePixel q, double f) { return Merge<kMergeLeast>(p, q, f); });
    default:
      return AverageRunFor((m_bFade1 ? 1 : 0) | (m_bFade2 ? 2 : 0), CurrentMergeLevel())(a, b, columnFades, rowFade,
                                                                                        n, m_nBias);
  }
}

int MergeRunLevel() { return CurrentMergeLevel(); }

int SetMergeRunLevel(int level) {
  level = std::clamp(level, 0, ProcessorMergeLevel());
  g_nMergeLevel.store(level, std::memory_order_relaxed);
  return level;
}

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
