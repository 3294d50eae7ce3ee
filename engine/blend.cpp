// The Blend rule's arithmetic. With D the difference source 2 - source 1 and
// M the share of source 2 (1 on its side of the seam, 0 on source 1's), the
// blend is source 1 + collapse(G(M) * L(D)): every band of the difference
// (L, the Laplacian pyramid) weighted by the share blurred to that band's
// scale (G, the Gaussian pyramid). Where a picture is absent, D is carried on
// smoothly from the overlap (each coarser level fills the holes of the finer
// one), so no band sees a picture's edge as detail; the shares count only the
// pixels a picture lies on. On source 2's side the same sum reads
// source 2 - collapse((1 - G(M)) * L(D)), so neither side needs the other
// picture where it is absent.
#include "engine/blend.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "image/parallel.h"

namespace tessara {

namespace {

enum : uint8_t { kLabel2 = 4 };

constexpr float kTap[5] = {1.f / 16, 4.f / 16, 6.f / 16, 4.f / 16, 1.f / 16};

// An index two beyond either end, reflected back inside [0, n).
inline int Reflect(int i, int n) {
  if (n == 1) return 0;
  if (i < 0) i = -i;
  if (i >= n) i = 2 * n - 2 - i;
  return std::clamp(i, 0, n - 1);
}

// One level of a pyramid: w x h pixels of ch floats.
struct Plane {
  int w = 0, h = 0, ch = 1;
  std::vector<float> v;
  void Make(int width, int height, int channels) {
    w = width, h = height, ch = channels;
    v.assign(static_cast<size_t>(w) * h * ch, 0.f);
  }
  float* Row(int y) { return v.data() + static_cast<size_t>(y) * w * ch; }
  const float* Row(int y) const { return v.data() + static_cast<size_t>(y) * w * ch; }
  void Free() { std::vector<float>().swap(v); }
};

struct AsIs {
  template <typename T>
  float operator()(T v) const {
    return static_cast<float>(v);
  }
};

// The next coarser level of `src` (w x h x ch, rows packed, each value read
// through `value`): the 5-tap binomial filter, every second pixel kept.
template <typename T, typename Value = AsIs>
void Reduce(const T* src, int w, int h, int ch, Plane& dst, Value value = {}) {
  const int dw = (w + 1) / 2, dh = (h + 1) / 2;
  dst.Make(dw, dh, ch);
  const size_t stride = static_cast<size_t>(w) * ch;
  ParallelRanges(0, dh, 8, [&](int j0, int j1) {
    std::vector<float> tmp(stride);
    for (int j = j0; j < j1; ++j) {
      std::fill(tmp.begin(), tmp.end(), 0.f);
      for (int m = -2; m <= 2; ++m) {
        const T* r = src + static_cast<size_t>(Reflect(2 * j + m, h)) * stride;
        const float k = kTap[m + 2];
        for (size_t i = 0; i < stride; ++i) tmp[i] += k * value(r[i]);
      }
      float* out = dst.Row(j);
      for (int x = 0; x < dw; ++x) {
        const int cx = 2 * x;
        const bool inside = cx >= 2 && cx + 2 < w;
        for (int c = 0; c < ch; ++c) {
          float s = 0;
          for (int m = -2; m <= 2; ++m)
            s += kTap[m + 2] * tmp[static_cast<size_t>(inside ? cx + m : Reflect(cx + m, w)) * ch + c];
          out[static_cast<size_t>(x) * ch + c] = s;
        }
      }
    }
  });
}

void Reduce(const Plane& src, Plane& dst) { Reduce(src.v.data(), src.w, src.h, src.ch, dst); }

// Row y of `coarse` brought up to the next finer level, `w` pixels wide:
// `out` gets w * ch floats, `tmp` is coarse.w * ch floats of room.
void ExpandRow(const Plane& coarse, int y, int w, float* out, float* tmp) {
  const int ch = coarse.ch, cw = coarse.w, last = coarse.h - 1;
  const size_t n = static_cast<size_t>(cw) * ch;
  const int i = y / 2;
  if (y % 2 == 0) {
    const float* a = coarse.Row(std::max(0, i - 1));
    const float* b = coarse.Row(std::min(last, i));
    const float* c = coarse.Row(std::min(last, i + 1));
    for (size_t k = 0; k < n; ++k) tmp[k] = 0.125f * a[k] + 0.75f * b[k] + 0.125f * c[k];
  } else {
    const float* a = coarse.Row(std::min(last, i));
    const float* b = coarse.Row(std::min(last, i + 1));
    for (size_t k = 0; k < n; ++k) tmp[k] = 0.5f * (a[k] + b[k]);
  }
  for (int x = 0; x < w; ++x) {
    const int j = x / 2;
    float* o = out + static_cast<size_t>(x) * ch;
    if (x % 2 == 0) {
      const float* a = tmp + static_cast<size_t>(std::max(0, j - 1)) * ch;
      const float* b = tmp + static_cast<size_t>(std::min(cw - 1, j)) * ch;
      const float* c = tmp + static_cast<size_t>(std::min(cw - 1, j + 1)) * ch;
      for (int k = 0; k < ch; ++k) o[k] = 0.125f * a[k] + 0.75f * b[k] + 0.125f * c[k];
    } else {
      const float* a = tmp + static_cast<size_t>(std::min(cw - 1, j)) * ch;
      const float* b = tmp + static_cast<size_t>(std::min(cw - 1, j + 1)) * ch;
      for (int k = 0; k < ch; ++k) o[k] = 0.5f * (a[k] + b[k]);
    }
  }
}

// Calls fn(y, row y of fine, row y of coarse brought up to fine) for every
// row of `fine`.
template <typename Fn>
void WithExpandedRows(Plane& fine, const Plane& coarse, Fn&& fn) {
  ParallelRanges(0, fine.h, 8, [&](int y0, int y1) {
    std::vector<float> up(static_cast<size_t>(fine.w) * fine.ch), tmp(static_cast<size_t>(coarse.w) * coarse.ch);
    for (int y = y0; y < y1; ++y) {
      ExpandRow(coarse, y, fine.w, up.data(), tmp.data());
      fn(y, fine.Row(y), up.data());
    }
  });
}

// The rows a pass over the region works in, one set for each part of the
// work: both pictures' pixels of the row, and what the last pass needs.
struct RowScratch {
  std::vector<uint8_t> v1, v2, has, out;
  std::vector<float> up1, up2, tmp;
};

class Blender {
 public:
  Blender(const BlendRegion& r, const BlendReadRow& read, const BlendWriteRow& write, WorkObserver& observer)
      : m_r(r), m_read(read), m_write(write), m_observer(observer), m_nW(r.width), m_nH(r.height) {}

  BlendResult Run();

 private:
  static constexpr int kBlockRows = 256;

  size_t At(int x, int y) const { return static_cast<size_t>(y) * m_nW + x; }
  // Runs rowFn(y, scratch) over the region's rows in blocks, reporting
  // progress from `from` to `to` percent; false when the user stopped.
  template <typename Fn>
  bool ForRowBlocks(int from, int to, Fn&& rowFn);
  bool Progress(int percent) {
    m_observer.Progress(percent);
    return !m_observer.StopRequested();
  }

  bool Gather();
  void FillOutsideOverlap();
  void LaySeam();
  void BuildBands();
  bool Write();

  const BlendRegion& m_r;
  const BlendReadRow& m_read;
  const BlendWriteRow& m_write;
  WorkObserver& m_observer;
  const int m_nW, m_nH;
  bool m_bAnyOverlap = false;
  // Per pixel: the kBlendHas bits and kLabel2 (the pixel is source 2's).
  std::vector<uint8_t> m_state;
  // Source 2 - source 1, blue, green, red (carried on where one is absent).
  std::vector<int16_t> m_diff;
  // After BuildBands: the blend's correction at the first coarser level,
  // for source 1's side (added) and for source 2's (subtracted).
  Plane m_add, m_sub;
};

template <typename Fn>
bool Blender::ForRowBlocks(int from, int to, Fn&& rowFn) {
  for (int y0 = 0; y0 < m_nH; y0 += kBlockRows) {
    const int y1 = std::min(m_nH, y0 + kBlockRows);
    ParallelRanges(y0, y1, 8, [&](int a, int b) {
      RowScratch scratch;
      scratch.v1.resize(3 * static_cast<size_t>(m_nW));
      scratch.v2.resize(3 * static_cast<size_t>(m_nW));
      for (int y = a; y < b; ++y) rowFn(y, scratch);
    });
    if (!Progress(from + static_cast<int>(int64_t{to - from} * y1 / m_nH))) return false;
  }
  return true;
}

bool Blender::Gather() {
  m_state.assign(static_cast<size_t>(m_nW) * m_nH, 0);
  m_diff.assign(static_cast<size_t>(m_nW) * m_nH * 3, 0);
  std::vector<uint8_t> anyBoth(static_cast<size_t>(m_nH), 0);
  const bool more = ForRowBlocks(0, 25, [&](int y, RowScratch& scratch) {
    const uint8_t* v1 = scratch.v1.data();
    const uint8_t* v2 = scratch.v2.data();
    uint8_t* st = &m_state[At(0, y)];
    m_read(y, st, scratch.v1.data(), scratch.v2.data());
    int16_t* d = &m_diff[At(0, y) * 3];
    for (int x = 0; x < m_nW; ++x) {
      st[x] &= kBlendHas1 | kBlendHas2;
      if (st[x] != (kBlendHas1 | kBlendHas2)) continue;
      anyBoth[static_cast<size_t>(y)] = 1;
      for (int c = 0; c < 3; ++c) d[3 * x + c] = static_cast<int16_t>(v2[3 * x + c] - v1[3 * x + c]);
    }
  });
  m_bAnyOverlap = std::find(anyBoth.begin(), anyBoth.end(), 1) != anyBoth.end();
  return more;
}

// The difference where both pictures lie, carried on over the rest of the
// region: each coarser level averages what the finer one knows, and every
// level fills what it does not know from the next coarser one.
void Blender::FillOutsideOverlap() {
  // sum[k]: the known differences times their weight, weight[k]: how much of
  // a pixel of level k is known (0..1).
  std::vector<Plane> sum(1), weight(1);
  sum.emplace_back();
  weight.emplace_back();
  Reduce(m_diff.data(), m_nW, m_nH, 3, sum[1]);
  Reduce(m_state.data(), m_nW, m_nH, 1, weight[1],
         [](uint8_t st) { return st == (kBlendHas1 | kBlendHas2) ? 1.f : 0.f; });
  auto allKnown = [](const Plane& p) {
    return std::all_of(p.v.begin(), p.v.end(), [](float f) { return f > 1e-6f; });
  };
  while (!allKnown(weight.back()) && (sum.back().w > 1 || sum.back().h > 1)) {
    sum.emplace_back();
    weight.emplace_back();
    Reduce(sum[sum.size() - 2], sum.back());
    Reduce(weight[weight.size() - 2], weight.back());
  }
  // The coarsest level: what it knows, or the mean of that where it knows
  // nothing.
  Plane& top = sum.back();
  const Plane& topWeight = weight.back();
  double mean[3] = {0, 0, 0}, total = 0;
  for (size_t i = 0; i < topWeight.v.size(); ++i) {
    total += topWeight.v[i];
    for (int c = 0; c < 3; ++c) mean[c] += top.v[3 * i + c];
  }
  for (size_t i = 0; i < topWeight.v.size(); ++i)
    for (int c = 0; c < 3; ++c) {
      float& v = top.v[3 * i + c];
      v = topWeight.v[i] > 1e-6f ? v / topWeight.v[i] : static_cast<float>(total > 0 ? mean[c] / total : 0.0);
    }
  for (size_t k = sum.size() - 2; k >= 1; --k) {
    const Plane& w = weight[k];
    WithExpandedRows(sum[k], sum[k + 1], [&](int y, float* row, const float* up) {
      const float* wr = w.Row(y);
      for (int x = 0; x < sum[k].w; ++x)
        for (int c = 0; c < 3; ++c) row[3 * x + c] += (1.f - wr[x]) * up[3 * x + c];
    });
    sum[k + 1].Free();
  }
  // The finest level: unknown pixels from level 1.
  const Plane& one = sum[1];
  ParallelRanges(0, m_nH, 8, [&](int y0, int y1) {
    std::vector<float> up(3 * static_cast<size_t>(m_nW)), tmp(3 * static_cast<size_t>(one.w));
    for (int y = y0; y < y1; ++y) {
      ExpandRow(one, y, m_nW, up.data(), tmp.data());
      const uint8_t* st = &m_state[At(0, y)];
      int16_t* d = &m_diff[At(0, y) * 3];
      for (int x = 0; x < m_nW; ++x) {
        if (st[x] == (kBlendHas1 | kBlendHas2)) continue;
        for (int c = 0; c < 3; ++c)
          d[3 * x + c] = static_cast<int16_t>(std::clamp(std::lround(up[3 * x + c]), -255L, 255L));
      }
    }
  });
}

// The seam: one position across the box for every step along it, moving by at
// most one pixel a step, where the summed difference of the pictures
// (blurred, so that it keeps off moving things rather than just clear of
// them) is least. Then every pixel is given to a picture: the one that lies
// there alone, else the one on whose side of the seam it is.
void Blender::LaySeam() {
  const BlendRegion& r = m_r;
  const bool down = r.seamCrossesRows;
  const int along = down ? r.overlapY1 - r.overlapY0 : r.overlapX1 - r.overlapX0;
  const int across = down ? r.overlapX1 - r.overlapX0 : r.overlapY1 - r.overlapY0;
  auto pixel = [&](int a, int c) {
    return down ? At(r.overlapX0 + c, r.overlapY0 + a) : At(r.overlapX0 + a, r.overlapY0 + c);
  };
  // A pixel where only one picture lies costs more than any difference: the
  // seam crosses there only where the pictures leave it no other way.
  constexpr int kAlone = 1024;
  auto cost = [&](int a, int c) {
    const size_t p = pixel(a, c);
    if (m_state[p] != (kBlendHas1 | kBlendHas2)) return kAlone;
    const int16_t* d = &m_diff[3 * p];
    return std::abs(d[0]) + std::abs(d[1]) + std::abs(d[2]);
  };
  // The bias: a cost rising toward the favoured picture's side, so that the
  // seam lies nearer the other picture's edge.
  const double pull = std::abs(r.bias - 128) / 128.0 * 96.0;
  const bool favour1 = r.bias < 128;
  std::vector<double> biasCost(static_cast<size_t>(across), 0.0);
  for (int c = 0; c < across; ++c) {
    const double u = across > 1 ? static_cast<double>(c) / (across - 1) : 0.5;
    // 0 on source 1's side of the box, 1 on source 2's.
    const double toward2 = r.source1First ? u : 1 - u;
    biasCost[static_cast<size_t>(c)] = pull * (favour1 ? 1 - toward2 : toward2);
  }

  constexpr int kBlur = 16;
  const size_t n = static_cast<size_t>(across);
  std::vector<int64_t> columns(n, 0), prefix(n + 1, 0);
  // The blur is a running box: each step along adds the row entering it and
  // takes away the row leaving it.
  auto addRow = [&](int a, int sign) {
    if (a < 0 || a >= along) return;
    for (int c = 0; c < across; ++c) columns[static_cast<size_t>(c)] += sign * cost(a, c);
  };
  for (int a = 0; a < std::min(kBlur, along); ++a) addRow(a, 1);
  std::vector<double> prev(n, 0.0), cur(n);
  // The step each position came by from the previous row: -1, 0 or 1.
  std::vector<int8_t> step(static_cast<size_t>(along) * n, 0);
  for (int a = 0; a < along; ++a) {
    addRow(a + kBlur, 1);
    addRow(a - kBlur - 1, -1);
    const double rows = std::min(along - 1, a + kBlur) - std::max(0, a - kBlur) + 1;
    for (size_t c = 0; c < n; ++c) prefix[c + 1] = prefix[c] + columns[c];
    int8_t* came = &step[static_cast<size_t>(a) * n];
    for (size_t c = 0; c < n; ++c) {
      const size_t reach = kBlur, lo = c >= reach ? c - reach : 0, hi = std::min(n - 1, c + reach);
      const double blurred = static_cast<double>(prefix[hi + 1] - prefix[lo]) / (static_cast<double>(hi - lo + 1) * rows);
      const double here = blurred + biasCost[c];
      if (a == 0) {
        cur[c] = here;
        continue;
      }
      // Ties keep the seam straight, then lean to the smaller side.
      int8_t best = 0;
      double bestCost = prev[c];
      if (c > 0 && prev[c - 1] < bestCost) best = -1, bestCost = prev[c - 1];
      if (c + 1 < n && prev[c + 1] < bestCost) best = 1, bestCost = prev[c + 1];
      came[c] = best;
      cur[c] = here + bestCost;
    }
    std::swap(prev, cur);
  }
  std::vector<int> seam(static_cast<size_t>(along));
  size_t c = static_cast<size_t>(std::min_element(prev.begin(), prev.end()) - prev.begin());
  for (int a = along - 1; a >= 0; --a) {
    seam[static_cast<size_t>(a)] = static_cast<int>(c);
    c = static_cast<size_t>(static_cast<ptrdiff_t>(c) + step[static_cast<size_t>(a) * n + c]);
  }

  ParallelRanges(0, m_nH, 16, [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < m_nW; ++x) {
        uint8_t& st = m_state[At(x, y)];
        if (st == kBlendHas2) {
          st |= kLabel2;
          continue;
        }
        if (st != (kBlendHas1 | kBlendHas2)) continue;
        const int a = std::clamp(down ? y - r.overlapY0 : x - r.overlapX0, 0, along - 1);
        const int cc = down ? x - r.overlapX0 : y - r.overlapY0;
        const int s = seam[static_cast<size_t>(a)];
        if (r.source1First ? cc > s : cc < s) st |= kLabel2;
      }
  });
}

// The pyramids, weighted and collapsed down to the first coarser level.
void Blender::BuildBands() {
  const int levels = std::max(1, m_r.levels);
  // The difference's Gaussian pyramid; the finest level is needed no more.
  std::vector<Plane> band(static_cast<size_t>(levels) + 1);
  Reduce(m_diff.data(), m_nW, m_nH, 3, band[1]);
  std::vector<int16_t>().swap(m_diff);
  for (int k = 2; k <= levels; ++k) Reduce(band[static_cast<size_t>(k) - 1], band[static_cast<size_t>(k)]);
  m_sub = band[1];
  // Its bands: each level less the next coarser one brought up (the coarsest
  // stays as it is).
  for (int k = 1; k < levels; ++k) {
    Plane& fine = band[static_cast<size_t>(k)];
    const Plane& coarse = band[static_cast<size_t>(k) + 1];
    const size_t n = static_cast<size_t>(fine.w) * 3;
    WithExpandedRows(fine, coarse, [n](int, float* row, const float* up) {
      for (size_t i = 0; i < n; ++i) row[i] -= up[i];
    });
  }
  // The shares: of every pixel a picture lies on, how much is source 2's.
  std::vector<Plane> lies(static_cast<size_t>(levels) + 1), share(static_cast<size_t>(levels) + 1);
  Reduce(m_state.data(), m_nW, m_nH, 1, lies[1],
         [](uint8_t st) { return (st & (kBlendHas1 | kBlendHas2)) ? 1.f : 0.f; });
  Reduce(m_state.data(), m_nW, m_nH, 1, share[1], [](uint8_t st) { return (st & kLabel2) ? 1.f : 0.f; });
  for (int k = 2; k <= levels; ++k) {
    Reduce(lies[static_cast<size_t>(k) - 1], lies[static_cast<size_t>(k)]);
    Reduce(share[static_cast<size_t>(k) - 1], share[static_cast<size_t>(k)]);
  }
  for (int k = 1; k <= levels; ++k) {
    Plane& s = share[static_cast<size_t>(k)];
    const Plane& l = lies[static_cast<size_t>(k)];
    for (size_t i = 0; i < s.v.size(); ++i) s.v[i] = l.v[i] > 1e-6f ? std::min(1.f, s.v[i] / l.v[i]) : 0.f;
  }
  std::vector<Plane>().swap(lies);
  // Weighted and collapsed, coarsest first.
  auto weigh = [](Plane& b, const Plane& s, int y, float* row) {
    const float* w = s.Row(y);
    for (int x = 0; x < b.w; ++x)
      for (int c = 0; c < 3; ++c) row[3 * x + c] *= w[x];
  };
  {
    Plane& top = band[static_cast<size_t>(levels)];
    for (int y = 0; y < top.h; ++y) weigh(top, share[static_cast<size_t>(levels)], y, top.Row(y));
  }
  for (int k = levels - 1; k >= 1; --k) {
    Plane& fine = band[static_cast<size_t>(k)];
    const Plane& s = share[static_cast<size_t>(k)];
    const size_t n = static_cast<size_t>(fine.w) * 3;
    WithExpandedRows(fine, band[static_cast<size_t>(k) + 1], [&](int y, float* row, const float* up) {
      weigh(fine, s, y, row);
      for (size_t i = 0; i < n; ++i) row[i] += up[i];
    });
    band[static_cast<size_t>(k) + 1].Free();
    share[static_cast<size_t>(k) + 1].Free();
  }
  m_add = std::move(band[1]);
  for (size_t i = 0; i < m_sub.v.size(); ++i) m_sub.v[i] -= m_add.v[i];
}

bool Blender::Write() {
  const Plane& add = m_add;
  const Plane& sub = m_sub;
  return ForRowBlocks(75, 100, [&](int y, RowScratch& scratch) {
    const size_t n = 3 * static_cast<size_t>(m_nW);
    scratch.has.resize(static_cast<size_t>(m_nW));
    scratch.out.assign(n, 0);
    scratch.up1.resize(n);
    scratch.up2.resize(n);
    scratch.tmp.resize(3 * static_cast<size_t>(add.w));
    m_read(y, scratch.has.data(), scratch.v1.data(), scratch.v2.data());
    const uint8_t* state = &m_state[At(0, y)];
    const uint8_t* v1 = scratch.v1.data();
    const uint8_t* v2 = scratch.v2.data();
    const float* up1 = scratch.up1.data();
    const float* up2 = scratch.up2.data();
    uint8_t* out = scratch.out.data();
    ExpandRow(add, y, m_nW, scratch.up1.data(), scratch.tmp.data());
    ExpandRow(sub, y, m_nW, scratch.up2.data(), scratch.tmp.data());
    for (int x = 0; x < m_nW; ++x) {
      if (!(state[x] & (kBlendHas1 | kBlendHas2))) continue;
      for (int c = 0; c < 3; ++c) {
        const size_t i = 3 * static_cast<size_t>(x) + c;
        const float v = (state[x] & kLabel2) ? v2[i] - up2[i] : v1[i] + up1[i];
        out[i] = static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
      }
    }
    m_write(y, out, state);
  });
}

BlendResult Blender::Run() {
  if (m_nW < 1 || m_nH < 1) return BlendResult::kDone;
  if (!Gather()) return BlendResult::kStopped;
  if (!m_bAnyOverlap) return BlendResult::kDone;
  FillOutsideOverlap();
  if (!Progress(40)) return BlendResult::kStopped;
  LaySeam();
  if (!Progress(50)) return BlendResult::kStopped;
  BuildBands();
  if (!Progress(75)) return BlendResult::kStopped;
  if (!Write()) return BlendResult::kStopped;
  m_observer.Progress(100);
  return BlendResult::kDone;
}

}  // namespace

int BlendLevels(int overlapWidth, int overlapHeight) {
  const int side = std::max(1, std::min(overlapWidth, overlapHeight));
  int levels = 0;
  while ((2 << levels) <= side) ++levels;  // floor(log2(side))
  return std::clamp(levels - 2, 1, 6);
}

BlendResult BlendPictures(const BlendRegion& region, const BlendReadRow& read, const BlendWriteRow& write,
                          WorkObserver& observer) {
  try {
    return Blender(region, read, write, observer).Run();
  } catch (const std::bad_alloc&) {
    return BlendResult::kNoMemory;
  } catch (const std::length_error&) {
    return BlendResult::kNoMemory;
  }
}

}  // namespace tessara
