// Builds the Target: both prepared sources laid on one canvas at their relative
// placement, the overlap merged, the tone curve and the cylindrical projection
// applied while laying, and the grid drawn last. Two 1-bit sources give a 1-bit
// Target merged by OR or AND on black; small palettes give an 8-bit Target whose
// colour table holds every merged pair; everything else is 24 bits.
#include "engine/generate_target.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/blend.h"
#include "engine/canvas_over_source.h"
#include "engine/destdoc.h"
#include "engine/exposure.h"
#include "engine/merge.h"
#include "engine/palette.h"
#include "framework/registry.h"
#include "image/packed_row.h"
#include "image/parallel.h"
#include "image/pixel_cursor.h"

namespace tessara {

namespace {

// Reads the colour of a pixel of a prepared source (1, 4, 8 or 24 bits) as a
// cursor read leaves it: indexed pictures through their colour table.
struct PreparedReader {
  // Stored row firstRow, and the bytes from one stored row to the next.
  const uint8_t* origin;
  ptrdiff_t step;
  int firstRow;
  int depth;
  const RGBQUAD* table;

  explicit PreparedReader(const Dib& d)
      : origin(d.Bits()),
        step(static_cast<ptrdiff_t>(d.Stride())),
        firstRow(0),
        depth(d.BitCount()),
        table(d.ColorTable()) {}
  // 24-bit rows held elsewhere (source 1 on its canvas, a band of rows).
  explicit PreparedReader(const RowWindow& rows)
      : origin(rows.origin), step(rows.step), firstRow(rows.firstRow), depth(24), table(nullptr) {}
  const uint8_t* Row(int y) const { return origin + static_cast<ptrdiff_t>(y - firstRow) * step; }
  int Index(int x, int y) const {
    return depth == 1 || depth == 4 ? PackedIndex(Row(y), x, depth) : Row(y)[x];
  }
  MergePixel Color(int x, int y) const {
    if (depth == 24) {
      const uint8_t* p = Row(y) + 3 * static_cast<size_t>(x);
      return {p[0], p[1], p[2]};
    }
    const RGBQUAD& q = table[Index(x, y)];
    return {q.rgbBlue, q.rgbGreen, q.rgbRed};
  }
};

MergePixel Tone(MergePixel p, int contrast, int brightness) {
  if (contrast == 16 && brightness == 128) return p;
  return {ToneCurve(p.blue, contrast, brightness), ToneCurve(p.green, contrast, brightness),
          ToneCurve(p.red, contrast, brightness)};
}

// What the laying of every depth reads: both sources with their coverage, the
// canvas plan, the settings, the merge operator and the observer.
struct LayingJob {
  const Dib& s1;
  const Dib& s2;
  const PreparedReader r1;
  const PreparedReader r2;
  // Pixels of a copy that got no sample from their source are black filler:
  // where source 1 lies, such a pixel of source 2 leaves source 1's pixel alone,
  // and a pixel of source 2 laid on source 1's filler is written as if source 2
  // lay there alone.
  const CoverageView cover1;
  const CoverageView cover2;
  const TargetPlan& plan;
  const TargetSettings& settings;
  const MergeOperator& op;
  WorkObserver& observer;
  // Source 1 lies on the canvas with its background pixels already nudged.
  bool source1Nudged;

  // Whether source 1's rectangle holds canvas pixel (X, Y).
  bool InSource1(int X, int Y) const {
    const TargetGeometry& g = plan.geometry;
    return X >= g.x1 && X < g.x1 + g.w1 && Y >= g.y1 && Y < g.y1 + g.h1;
  }
};

// ---- 1 bit ----

void LayOneBit(const LayingJob& job, Dib& target) {
  const TargetGeometry& g = job.plan.geometry;
  RGBQUAD* t = target.ColorTable();
  t[0] = {0, 0, 0, 0};
  t[1] = {255, 255, 255, 0};
  // A set bit is white: laying source 1 copies its bits; source 2 then adds its
  // black (OR) or its white (AND).
  auto setBit = [&](int x, int y, bool white) { SetPackedBit(target.Row(y), x, white); };
  job.observer.Stage(WorkStage::kMergingSource1);
  for (int y = 0; y < g.h1; ++y) {
    for (int x = 0; x < g.w1; ++x) setBit(x + g.x1, y + g.y1, job.r1.Index(x, y) == 1);
    job.observer.Progress(y * 100 / g.h1);
  }
  job.observer.Progress(100);
  job.observer.Stage(WorkStage::kMergingSource2);
  for (int y = 0; y < g.h2; ++y) {
    for (int x = 0; x < g.w2; ++x) {
      const bool white = job.r2.Index(x, y) == 1;
      const int X = x + g.x2, Y = y + g.y2;
      if (job.InSource1(X, Y)) {
        if (!job.cover2.Sampled(x, y)) continue;
        if (!job.cover1.Sampled(X - g.x1, Y - g.y1)) {
          setBit(X, Y, white);
          continue;
        }
      }
      if (job.settings.monoAnd ? white : !white) setBit(X, Y, white);
    }
    job.observer.Progress(y * 100 / g.h2);
  }
  job.observer.Stage(WorkStage::kNone);
  job.observer.Progress(100);
  // Written as through a cursor, which leaves the row padding zeroed.
  ZeroRowPadding(target);
}

// ---- 8 bits ----

// Working table: slots 0..15 source 1's colours, 16..31 source 2's, and
// 32 + i + 16 j the merge of source 1 colour i with source 2 colour j. A slot's
// link ends as its entry in the Target's colour table.
struct Slot {
  int blue = 0, green = 0, red = 0;
  bool used = false;
  int link = -1;
};
using SlotTable = std::array<Slot, 288>;

int TableColours(const Dib& d) {
  return d.Header().biClrUsed ? static_cast<int>(std::min<uint32_t>(d.Header().biClrUsed, 16)) : 16;
}

// Fills the slots and the Target's colour table from them: duplicates share one
// entry, and colours beyond the 255 entries take the nearest one.
void BuildEightBitTable(const LayingJob& job, Dib& target, SlotTable& slots) {
  const int n1 = TableColours(job.s1), n2 = TableColours(job.s2);
  const RGBQUAD* t1 = job.s1.ColorTable();
  const RGBQUAD* t2 = job.s2.ColorTable();
  const int contrast = job.settings.contrast, brightness = job.settings.brightness;
  auto use = [&](int k, int blue, int green, int red) { slots[k] = {blue, green, red, true, k}; };
  for (int i = 0; i < n1; ++i) use(i, t1[i].rgbBlue, t1[i].rgbGreen, t1[i].rgbRed);
  for (int j = 0; j < n2; ++j) use(16 + j, t2[j].rgbBlue, t2[j].rgbGreen, t2[j].rgbRed);
  for (int i = 0; i < n1; ++i)
    for (int j = 0; j < n2; ++j) {
      const MergePixel a = Tone({t1[i].rgbBlue, t1[i].rgbGreen, t1[i].rgbRed}, contrast, brightness);
      const MergePixel b = Tone({t2[j].rgbBlue, t2[j].rgbGreen, t2[j].rgbRed}, contrast, brightness);
      // An 8-bit Target never fades, so the position plays no part.
      const MergePixel m = job.op.MergeAt(a, b, 0, 0);
      use(32 + i + 16 * j, m.blue, m.green, m.red);
    }
  for (size_t a = 0; a < slots.size(); ++a) {
    if (!slots[a].used) continue;
    for (size_t b = a + 1; b < slots.size(); ++b)
      if (slots[b].used && slots[b].blue == slots[a].blue && slots[b].green == slots[a].green &&
          slots[b].red == slots[a].red) {
        slots[b].used = false;
        slots[b].link = static_cast<int>(a);
      }
  }
  int freeBelow[289];
  freeBelow[0] = 0;
  for (int k = 0; k < 288; ++k) freeBelow[k + 1] = freeBelow[k] + (slots[k].used ? 0 : 1);
  for (Slot& s : slots)
    if (s.link != -1) s.link -= freeBelow[s.link];
  RGBQUAD* table = target.ColorTable();
  int entries = 0;
  for (const Slot& s : slots)
    if (s.used && entries < 255)
      table[entries++] = {static_cast<uint8_t>(s.blue), static_cast<uint8_t>(s.green), static_cast<uint8_t>(s.red), 0};
  table[255] = {0, 0, 0, 0};
  for (Slot& s : slots)
    if (s.link >= 255) s.link = NearestTableEntry(table, 255, {s.blue, s.green, s.red});
}

void LayEightBit(const LayingJob& job, Dib& target) {
  const TargetGeometry& g = job.plan.geometry;
  job.observer.Stage(WorkStage::kPleaseWait);
  SlotTable slots;
  BuildEightBitTable(job, target, slots);
  // Which source 1 index each Target byte came from.
  int producedBy[256] = {};
  job.observer.Stage(WorkStage::kMergingSource1);
  for (int x = 0; x < g.w1; ++x) {
    for (int y = 0; y < g.h1; ++y) {
      const int k = job.r1.Index(x, y);
      const int t = slots[k].link;
      target.Row(y + g.y1)[x + g.x1] = static_cast<uint8_t>(t);
      producedBy[t & 0xFF] = k;
    }
    job.observer.Progress(x * 100 / g.w1);
  }
  job.observer.Progress(100);
  job.observer.Stage(WorkStage::kMergingSource2);
  for (int x = 0; x < g.w2; ++x) {
    for (int y = 0; y < g.h2; ++y) {
      const int X = x + g.x2, Y = y + g.y2;
      uint8_t& t = target.Row(Y)[X];
      const int j = job.r2.Index(x, y);
      bool alone = t == 255;
      if (job.InSource1(X, Y)) {
        if (!job.cover2.Sampled(x, y)) continue;
        if (!job.cover1.Sampled(X - g.x1, Y - g.y1)) alone = true;
      }
      t = static_cast<uint8_t>(alone ? slots[16 + j].link : slots[32 + producedBy[t] + 16 * j].link);
    }
    job.observer.Progress(x * 100 / g.w2);
  }
  job.observer.Stage(WorkStage::kNone);
  job.observer.Progress(100);
}

// ---- 24 bits ----

// The cosine of the cylindrical projection's angle at canvas column X of a
// canvas W wide (the angle depends on the column only).
double ProjectionCosine(int swing, int64_t X, int W) {
  const int64_t dx = X - W / 2;
  return std::cos(swing * dx * 3.14159 / ((W / 2) * 360));
}

// Sets the pixels of a 24-bit run that equal `bg` (a grey: its three bytes
// alike) to `nudged`. Eight pixels at a time are first looked at as three
// words, and only those holding a byte of the grey are looked at closely.
void NudgeRun(uint8_t* p, int count, MergePixel bg, MergePixel nudged) {
  constexpr uint64_t kOnes = ~uint64_t{0} / 255, kHighs = kOnes * 0x80;
  const uint64_t grey = kOnes * bg.blue;
  const auto holdsGrey = [&](const uint8_t* q) {
    uint64_t w;
    std::memcpy(&w, q, 8);
    w ^= grey;
    return ((w - kOnes) & ~w & kHighs) != 0;
  };
  const auto one = [&](uint8_t* q) {
    if (q[0] == bg.blue && q[1] == bg.green && q[2] == bg.red)
      q[0] = nudged.blue, q[1] = nudged.green, q[2] = nudged.red;
  };
  int x = 0;
  if (bg.blue == bg.green && bg.green == bg.red)
    for (; x + 8 <= count; x += 8, p += 24)
      if (holdsGrey(p) || holdsGrey(p + 8) || holdsGrey(p + 16))
        for (int k = 0; k < 8; ++k) one(p + 3 * k);
  for (; x < count; ++x, p += 3) one(p);
}

// Lays the sources of a 24-bit Target. Columns are laid in strips (tall
// pictures without the projection in bands of whole rows), rows of a strip
// spread over the cores; every canvas pixel is written at most once per
// source, so the order does not change the result. Progress and the stop check
// follow each strip.
class TrueColourLayer {
 public:
  // `gains`, when given, are the tables source 2's channels go through
  // before the tone curve.
  // `swing` is the projection laid with (Blend lays without it and projects
  // the blended canvas).
  TrueColourLayer(const LayingJob& job, const RowWindow& target,
                  const std::array<std::array<uint8_t, 256>, 3>* gains, int swing)
      : m_job(job),
        m_target(target),
        m_nWidth(job.plan.width),
        m_nHeight(job.plan.height),
        m_nSwing(swing),
        m_bg{static_cast<uint8_t>(job.plan.background), static_cast<uint8_t>(job.plan.background),
             static_cast<uint8_t>(job.plan.background)},
        m_nudged(NudgedBackground(job.settings.merge.rule)) {
    // The tone curve as a table: the same values, looked up.
    for (int v = 0; v < 256; ++v) m_tone[v] = ToneCurve(v, job.settings.contrast, job.settings.brightness);
    m_bNeutralTone = true;
    for (int v = 0; v < 256; ++v) m_bNeutralTone = m_bNeutralTone && m_tone[v] == v;
    for (size_t c = 0; c < 3; ++c)
      for (size_t v = 0; v < 256; ++v) m_tone2[c][v] = m_tone[gains ? (*gains)[c][v] : v];
    m_bNeutralTone2 = true;
    for (size_t c = 0; c < 3; ++c)
      for (size_t v = 0; v < 256; ++v) m_bNeutralTone2 = m_bNeutralTone2 && m_tone2[c][v] == v;
  }

  // Lays source 1, or source 2 merging it; false when the user stopped it.
  bool Lay(bool second);
  // The same for canvas rows [rowBegin, rowEnd) only, on the calling thread
  // (no projection).
  void LayBand(bool second, int rowBegin, int rowEnd);
  // Blend: joins the two pictures over their overlap on a canvas laid
  // without projection, source 1 over the overlap.
  BlendResult BlendOverlap();

 private:
  static constexpr int kStrip = 128;

  // A source and where it lies on the canvas.
  struct Placed {
    const PreparedReader& reader;
    int w, h, sx, sy;
    bool second;
  };

  // The source row laid at canvas row Y (dy = Y - H / 2) for a column's cosine;
  // false when the projection puts no row of a source of height `rows` there.
  bool ProjectedRow(double cosine, int64_t dy, int shift, int rows, int& r) const {
    const double row = dy / cosine + (m_nHeight / 2 - shift);
    if (!(row > -2147483649.0 && row < 2147483648.0)) return false;
    r = static_cast<int>(row);
    return r >= 0 && r < rows;
  }
  void LayRows(const Placed& s, int vBegin, int vEnd, int x0, int x1) const;
  template <int kRule>
  void LayRowsBy(const Placed& s, int vBegin, int vEnd, int x0, int x1) const;
  // One canvas row of a strip; templated on the merge rule, the source's depth
  // and the projection, so the common cases run without per-pixel tests of the
  // settings or calls through a table.
  template <int kRule, bool kRgb, bool kProjected>
  void LayRow(const Placed& s, int v, int x0, int x1) const;
  // A row of a 24-bit source 2 laid without projection: the columns beside
  // source 1 copied, those over it cut into stretches by the two rows'
  // coverage, and each stretch where both have a sample merged as a run.
  // `toned` holds the row through source 2's tone tables when they change it.
  void LaySecondRgbRow(const Placed& s, int v, int x0, int x1, std::vector<uint8_t>& toned) const;

  // The source as placed, with source 2's column fades ready.
  Placed Place(bool second);

  const LayingJob& m_job;
  const RowWindow m_target;
  int m_nWidth, m_nHeight;
  int m_nSwing;
  MergePixel m_bg, m_nudged;
  uint8_t m_tone[256];
  // The tone curve leaves every value as it is (for source 2, with its
  // gains).
  bool m_bNeutralTone = false;
  bool m_bNeutralTone2 = false;
  // Source 2's: blue, green, red, each through its exposure gain first.
  uint8_t m_tone2[3][256];
  // Per strip: the projection's cosine of each column (theta depends on the
  // column only).
  std::vector<double> m_cosines;
  // The fade weight's column factor of each column of source 2 (when it fades).
  std::vector<double> m_columnFades;
  // The same three times over, once for each byte of a pixel.
  std::vector<double> m_columnFades3;
};

TrueColourLayer::Placed TrueColourLayer::Place(bool second) {
  const TargetGeometry& g = m_job.plan.geometry;
  const Placed s = second ? Placed{m_job.r2, g.w2, g.h2, g.x2, g.y2, true}
                          : Placed{m_job.r1, g.w1, g.h1, g.x1, g.y1, false};
  // The fade weight's column factor, once for every column of source 2.
  const bool fades = s.second && m_job.op.Fades();
  if (!fades) {
    m_columnFades.clear();
    m_columnFades3.clear();
  } else if (m_columnFades.size() != static_cast<size_t>(std::max(0, s.w))) {
    m_columnFades.resize(static_cast<size_t>(std::max(0, s.w)));
    for (int x = 0; x < s.w; ++x) m_columnFades[static_cast<size_t>(x)] = m_job.op.ColumnFade(x);
    m_columnFades3.resize(3 * m_columnFades.size());
    for (size_t i = 0; i < m_columnFades3.size(); ++i) m_columnFades3[i] = m_columnFades[i / 3];
  }
  return s;
}

void TrueColourLayer::LayBand(bool second, int rowBegin, int rowEnd) {
  const Placed s = Place(second);
  const int vBegin = std::max(0, rowBegin - s.sy);
  const int vEnd = std::min(s.h, rowEnd - s.sy);
  if (vBegin < vEnd && s.w > 0) LayRows(s, vBegin, vEnd, 0, s.w);
}

bool TrueColourLayer::Lay(bool second) {
  const Placed s = Place(second);
  m_job.observer.Stage(second ? WorkStage::kMergingSource2 : WorkStage::kMergingSource1);
  const int H = m_nHeight, W = m_nWidth;
  // Loop rows run from -(H / 2) to H - 1; without the projection only the rows
  // of the source itself can be laid.
  const int vFirst = m_nSwing ? -(H / 2) : std::max(0, -s.sy);
  const int vLast = m_nSwing ? H - 1 : std::min(s.h, H - s.sy) - 1;
  const int rows = std::max(1, vLast - vFirst + 1);
  if (!m_nSwing && rows > 1024) {
    // Tall pictures laid without the projection go in bands of whole rows of
    // about four million pixels: the longest runs for the caches and the
    // memory, and still a progress step and a stop check every few hundredths
    // of a second. Every pixel is laid once whatever the order.
    const int band = std::max(64, (1 << 22) / std::max(1, s.w));
    for (int v0 = vFirst; v0 <= vLast && s.w > 0; v0 += band) {
      const int v1 = static_cast<int>(std::min<int64_t>(int64_t{vLast} + 1, int64_t{v0} + band));
      ParallelRanges(v0, v1, 64, [&](int vBegin, int vEnd) { LayRows(s, vBegin, vEnd, 0, s.w); });
      m_job.observer.Progress(static_cast<int>(int64_t{v1 - 1 - vFirst} * 100 / rows));
      if (m_job.observer.StopRequested()) return false;
    }
    m_job.observer.Progress(100);
    return true;
  }
  // Other tall pictures are laid in strips of about four million pixels,
  // wider than kStrip columns: longer runs of each row for the caches, and
  // still a progress step and a stop check every few hundredths of a second.
  const int strip = rows > 1024 ? std::max(kStrip, (1 << 22) / rows / kStrip * kStrip) : kStrip;
  for (int x0 = 0; x0 < s.w; x0 += strip) {
    const int x1 = std::min(s.w, x0 + strip);
    if (m_nSwing) {
      m_cosines.resize(static_cast<size_t>(x1 - x0));
      for (int x = x0; x < x1; ++x) {
        m_cosines[static_cast<size_t>(x - x0)] = ProjectionCosine(m_nSwing, int64_t{x} + s.sx, W);
      }
    }
    ParallelRanges(vFirst, vLast + 1, 64, [&](int vBegin, int vEnd) { LayRows(s, vBegin, vEnd, x0, x1); });
    m_job.observer.Progress(static_cast<int>(int64_t{x1 - 1} * 100 / s.w));
    if (m_job.observer.StopRequested()) return false;
  }
  m_job.observer.Progress(100);
  return true;
}

void TrueColourLayer::LayRows(const Placed& s, int vBegin, int vEnd, int x0, int x1) const {
  switch (m_job.op.Rule()) {
    case kMergeGreatest: return LayRowsBy<kMergeGreatest>(s, vBegin, vEnd, x0, x1);
    case kMergeLeast: return LayRowsBy<kMergeLeast>(s, vBegin, vEnd, x0, x1);
    case kMergeBlend: return LayRowsBy<kMergeBlend>(s, vBegin, vEnd, x0, x1);
    default: return LayRowsBy<kMergeAverage>(s, vBegin, vEnd, x0, x1);
  }
}

template <int kRule>
void TrueColourLayer::LayRowsBy(const Placed& s, int vBegin, int vEnd, int x0, int x1) const {
  const bool rgb = s.reader.depth == 24;
  std::vector<uint8_t> toned;
  for (int v = vBegin; v < vEnd; ++v) {
    if (m_nSwing) {
      if (rgb) LayRow<kRule, true, true>(s, v, x0, x1);
      else LayRow<kRule, false, true>(s, v, x0, x1);
    } else if (rgb && s.second) {
      LaySecondRgbRow(s, v, x0, x1, toned);
    } else {
      if (rgb) LayRow<kRule, true, false>(s, v, x0, x1);
      else LayRow<kRule, false, false>(s, v, x0, x1);
    }
  }
}

void TrueColourLayer::LaySecondRgbRow(const Placed& s, int v, int x0, int x1, std::vector<uint8_t>& toned) const {
  const int Y = v + s.sy;
  if (Y < 0 || Y >= m_nHeight || x0 >= x1) return;
  const TargetGeometry& g = m_job.plan.geometry;
  const MergeOperator& op = m_job.op;
  uint8_t* out = m_target.Row(Y) + 3 * static_cast<size_t>(s.sx);
  // Source 2's pixels of columns [x0, x1), through its tone tables unless
  // they leave every value as it is.
  const uint8_t* in = s.reader.Row(v) + 3 * static_cast<size_t>(x0);
  if (!m_bNeutralTone2) {
    toned.resize(3 * static_cast<size_t>(x1 - x0));
    uint8_t* t = toned.data();
    for (size_t i = 0; i < toned.size(); i += 3) {
      t[i] = m_tone2[0][in[i]], t[i + 1] = m_tone2[1][in[i + 1]], t[i + 2] = m_tone2[2][in[i + 2]];
    }
    in = t;
  }
  const auto from = [&](int x) { return in + 3 * static_cast<size_t>(x - x0); };
  const auto at = [&](int x) { return out + 3 * static_cast<size_t>(x); };
  const auto copy = [&](int a, int b) {
    if (a < b) std::memcpy(at(a), from(a), 3 * static_cast<size_t>(b - a));
  };
  // Beside source 1's rectangle the canvas holds only background, where
  // source 2's pixels go as they are.
  const bool rowOf1 = Y >= g.y1 && Y < g.y1 + g.h1;
  const int first = rowOf1 ? static_cast<int>(std::clamp<int64_t>(int64_t{g.x1} - s.sx, x0, x1)) : x1;
  const int last = rowOf1 ? static_cast<int>(std::clamp<int64_t>(int64_t{g.x1} + g.w1 - s.sx, first, x1)) : x1;
  copy(x0, first);
  copy(last, x1);
  if (first >= last) return;

  // Over source 1: source 2's sampled pixels merge where source 1 has a sample
  // too and replace its filler elsewhere; its unsampled ones leave source 1's
  // pixels. Each row's coverage changes only at the ends of its run and at its
  // last column, so between those points every pixel is treated alike.
  const RowCoverage here = m_job.cover2.Row(v);
  const int r1 = Y - g.y1;
  const RowCoverage below = m_job.cover1.Row(r1);
  const int64_t shift = int64_t{s.sx} - g.x1;  // a column of source 2 in source 1's
  int64_t points[12] = {first,
                        last,
                        here.begin,
                        here.end,
                        here.lastX,
                        int64_t{here.lastX} + 1,
                        below.begin - shift,
                        below.end - shift,
                        below.lastX - shift,
                        below.lastX - shift + 1,
                        first,
                        last};
  for (int64_t& p : points) p = std::clamp<int64_t>(p, first, last);
  std::sort(std::begin(points), std::end(points));
  const bool fades = !m_columnFades.empty();
  const double rowFade = fades ? op.RowFade(v) : 0.0;
  // Source 1 was laid on every pixel here, and none of its pixels equals the
  // background (Lay(false) nudges them), so nothing here reads as empty
  // canvas.
  const double* columnFades = fades ? m_columnFades3.data() : nullptr;
  for (size_t k = 0; k + 1 < std::size(points); ++k) {
    const int a = static_cast<int>(points[k]), b = static_cast<int>(points[k + 1]);
    if (a == b || !here.Sampled(a)) continue;
    if (below.Sampled(static_cast<int>(a + shift)))
      op.MergeRun(at(a), from(a), fades ? columnFades + 3 * static_cast<size_t>(a) : nullptr, rowFade, b - a);
    else
      copy(a, b);
  }
}

template <int kRule, bool kRgb, bool kProjected>
void TrueColourLayer::LayRow(const Placed& s, int v, int x0, int x1) const {
  const int Y = v + s.sy;
  // Rows pulled in by the projection can land outside the canvas.
  if (Y < 0 || Y >= m_nHeight) return;
  const TargetGeometry& g = m_job.plan.geometry;
  const CoverageView& cover1 = m_job.cover1;
  const CoverageView& cover2 = m_job.cover2;
  const MergeOperator& op = m_job.op;
  const uint8_t* toneB = s.second ? m_tone2[0] : m_tone;
  const uint8_t* toneG = s.second ? m_tone2[1] : m_tone;
  const uint8_t* toneR = s.second ? m_tone2[2] : m_tone;
  const MergePixel bg = m_bg, nudged = m_nudged;
  const bool second = s.second;
  const bool fades = second && !m_columnFades.empty();
  const double rowFade = fades ? op.RowFade(v) : 0.0;
  uint8_t* out = m_target.Row(Y) + 3 * static_cast<size_t>(s.sx);
  const int64_t dy = int64_t{Y} - m_nHeight / 2;
  const uint8_t* in = nullptr;
  // Coverage of this canvas row by source 2 and, beneath it, by source 1
  // (without the projection both stay the same along it).
  RowCoverage here{}, below{};
  if constexpr (!kProjected) {
    in = s.reader.Row(v);
    if (second) {
      here = cover2.Row(v);
      const int r1 = Y - g.y1;
      below = (r1 >= 0 && r1 < g.h1) ? cover1.Row(r1) : RowCoverage::Whole();
    }
  }
  // The columns the pixel loop below handles.
  int first = x0, last = x1;
  if constexpr (kRgb && !kProjected) {
    const auto copy = [&](int a, int b) {
      if (a < b) std::memcpy(out + 3 * static_cast<size_t>(a), in + 3 * static_cast<size_t>(a), 3 * size_t(b - a));
    };
    if (!second && m_bNeutralTone) {
      // Source 1 through a neutral tone: its bytes as they are (already in
      // place when the canvas is made of its memory), then the pixels that
      // would read as background nudged.
      if (out != in) copy(x0, x1);
      if (!m_job.source1Nudged) NudgeRun(out + 3 * static_cast<size_t>(x0), x1 - x0, bg, nudged);
      return;
    }
  }
  for (int x = first; x < last; ++x) {
    int r = v;
    if constexpr (kProjected) {
      if (!ProjectedRow(m_cosines[static_cast<size_t>(x - x0)], dy, s.sy, s.h, r)) continue;
      in = s.reader.Row(r);
    }
    MergePixel p;
    if constexpr (kRgb) {
      const uint8_t* q = in + 3 * static_cast<size_t>(x);
      p = {toneB[q[0]], toneG[q[1]], toneR[q[2]]};
    } else {
      const MergePixel c = s.reader.Color(x, r);
      p = {toneB[c.blue], toneG[c.green], toneR[c.red]};
    }
    uint8_t* t = out + 3 * static_cast<size_t>(x);
    if (!second) {
      if (p == bg) p = nudged;
    } else if (t[0] != bg.blue || t[1] != bg.green || t[2] != bg.red) {
      // Source 1 lies here (its pixels never equal the background).
      const int X = x + s.sx;
      bool sampled2, sampled1 = true;
      if constexpr (kProjected) {
        sampled2 = cover2.Sampled(x, r);
        int r1 = 0;
        if (sampled2 && ProjectedRow(m_cosines[static_cast<size_t>(x - x0)], dy, g.y1, g.h1, r1))
          sampled1 = cover1.Sampled(X - g.x1, r1);
      } else {
        sampled2 = here.Sampled(x);
        sampled1 = below.Sampled(X - g.x1);
      }
      if (!sampled2) continue;
      if (sampled1)
        p = op.Merge<kRule>({t[0], t[1], t[2]}, p, fades ? m_columnFades[static_cast<size_t>(x)] * rowFade : 0.0);
    }
    t[0] = p.blue, t[1] = p.green, t[2] = p.red;
  }
}

BlendResult TrueColourLayer::BlendOverlap() {
  const TargetGeometry& g = m_job.plan.geometry;
  // The box both rectangles share, and the region around it the blend may
  // change.
  const int ox0 = std::max(g.x1, g.x2), ox1 = std::min(g.x1 + g.w1, g.x2 + g.w2);
  const int oy0 = std::max(g.y1, g.y2), oy1 = std::min(g.y1 + g.h1, g.y2 + g.h2);
  if (ox0 >= ox1 || oy0 >= oy1) return BlendResult::kDone;
  BlendRegion region;
  region.levels = BlendLevels(ox1 - ox0, oy1 - oy0);
  const int margin = BlendMargin(region.levels);
  const int rx0 = std::max(0, ox0 - margin), rx1 = std::min(m_nWidth, ox1 + margin);
  const int ry0 = std::max(0, oy0 - margin), ry1 = std::min(m_nHeight, oy1 + margin);
  region.width = rx1 - rx0;
  region.height = ry1 - ry0;
  region.overlapX0 = ox0 - rx0, region.overlapX1 = ox1 - rx0;
  region.overlapY0 = oy0 - ry0, region.overlapY1 = oy1 - ry0;
  // Side by side or one above the other, by where the centres lie.
  const int64_t dx = (2 * int64_t{g.x2} + g.w2) - (2 * int64_t{g.x1} + g.w1);
  const int64_t dy = (2 * int64_t{g.y2} + g.h2) - (2 * int64_t{g.y1} + g.h1);
  region.seamCrossesRows = std::llabs(dx) >= std::llabs(dy);
  region.source1First = region.seamCrossesRows ? dx >= 0 : dy >= 0;
  region.bias = m_job.settings.merge.bias;

  // Source 1 is read where it was laid: the canvas holds it, toned, wherever
  // it sampled its picture (Blend laid nothing over it), so its own pixels
  // may already be gone.
  const BlendReadRow read = [&](int y, uint8_t* state, uint8_t* v1, uint8_t* v2) {
    const int Y = y + ry0;
    std::fill(state, state + region.width, 0);
    const int r1 = Y - g.y1;
    if (r1 >= 0 && r1 < g.h1) {
      const RowCoverage run = m_job.cover1.Row(r1);
      const uint8_t* laid = m_target.Row(Y);
      for (int X = std::max(rx0, g.x1); X < std::min(rx1, g.x1 + g.w1); ++X) {
        if (!run.Sampled(X - g.x1)) continue;
        const size_t i = static_cast<size_t>(X - rx0);
        state[i] = kBlendHas1;
        std::copy_n(laid + 3 * static_cast<size_t>(X), 3, v1 + 3 * i);
      }
    }
    // Source 2 from its prepared copy, through its tone tables.
    const int r2 = Y - g.y2;
    if (r2 >= 0 && r2 < g.h2) {
      const RowCoverage run = m_job.cover2.Row(r2);
      for (int X = std::max(rx0, g.x2); X < std::min(rx1, g.x2 + g.w2); ++X) {
        const int x = X - g.x2;
        if (!run.Sampled(x)) continue;
        const MergePixel c = m_job.r2.Color(x, r2);
        const size_t i = static_cast<size_t>(X - rx0);
        state[i] |= kBlendHas2;
        v2[3 * i] = m_tone2[0][c.blue], v2[3 * i + 1] = m_tone2[1][c.green], v2[3 * i + 2] = m_tone2[2][c.red];
      }
    }
  };
  const BlendWriteRow write = [&](int y, const uint8_t* pixels, const uint8_t* state) {
    uint8_t* out = m_target.Row(y + ry0) + 3 * static_cast<size_t>(rx0);
    for (int x = 0; x < region.width; ++x)
      if (state[x]) std::copy_n(pixels + 3 * static_cast<size_t>(x), 3, out + 3 * static_cast<size_t>(x));
  };
  m_job.observer.Stage(WorkStage::kBlending);
  return BlendPictures(region, read, write, m_job.observer);
}

// The cylindrical projection of a canvas laid without it, in place: canvas row
// Y of a column takes the row the laying loop would have read there, or the
// background where that lies outside the canvas. Rows move away from the
// middle, so the lower half is done upward and the upper half downward, each
// reading rows not yet rewritten.
void ProjectInPlace(Dib& target, int swing, uint8_t background) {
  const int W = target.Width(), H = target.Height();
  ParallelRanges(0, W, 64, [&](int xBegin, int xEnd) {
    for (int X0 = xBegin; X0 < xEnd; X0 += 32) {
      const int X1 = std::min(xEnd, X0 + 32);
      double cosines[32];
      for (int X = X0; X < X1; ++X) cosines[X - X0] = ProjectionCosine(swing, X, W);
      const auto move = [&](int Y) {
        const int64_t dy = int64_t{Y} - H / 2;
        uint8_t* out = target.Row(Y);
        for (int X = X0; X < X1; ++X) {
          const double row = dy / cosines[X - X0] + (H / 2);
          uint8_t* t = out + 3 * static_cast<size_t>(X);
          if (!(row > -1.0 && row < H)) {
            t[0] = t[1] = t[2] = background;
            continue;
          }
          const int R = static_cast<int>(row);
          if (R != Y) std::copy_n(target.Row(R) + 3 * static_cast<size_t>(X), 3, t);
        }
      };
      for (int Y = H / 2; Y < H; ++Y) move(Y);
      for (int Y = H / 2 - 1; Y >= 0; --Y) move(Y);
    }
  });
}

// Lays both sources, finishes the rows and draws the grid; kDone or the
// source during which the user stopped.
GenerateResult LayTrueColour(const LayingJob& job, Dib& target, const std::array<std::array<uint8_t, 256>, 3>* gains) {
  job.observer.Stage(WorkStage::kStoppable);
  const bool blend = job.op.Rule() == kMergeBlend;
  TrueColourLayer layer(job, RowWindow::Of(target), gains, blend ? 0 : job.settings.swing);
  if (!layer.Lay(false)) return GenerateResult::kStoppedInSource1;
  if (!layer.Lay(true)) return GenerateResult::kStoppedInSource2;
  if (blend) {
    const BlendResult blended = layer.BlendOverlap();
    if (blended == BlendResult::kStopped) return GenerateResult::kStoppedInSource2;
    if (blended == BlendResult::kNoMemory) return GenerateResult::kNoMemory;
    if (job.settings.swing) ProjectInPlace(target, job.settings.swing, static_cast<uint8_t>(job.plan.background));
  }
  job.observer.Stage(WorkStage::kNone);
  job.observer.Progress(100);
  ZeroRowPadding(target);
  DrawGridOver(target, job.settings.grid, std::min(job.plan.shownWidth, target.Width()),
               std::min(job.plan.shownHeight, target.Height()));
  return GenerateResult::kDone;
}

}  // namespace

TargetPlan PlanTarget(const Dib& s1, const Dib& s2, const TargetSettings& settings) {
  TargetPlan plan;
  const int b1 = s1.BitCount(), b2 = s2.BitCount();
  plan.depth = settings.depth;
  if (b1 == 1 && b2 == 1) plan.depth = 1;
  if (b1 + b2 > 4) plan.depth = 8;
  if (b1 + b2 > 8) plan.depth = 24;
  if (settings.merge.fade1 || settings.merge.fade2 || settings.merge.matchExposure) plan.depth = 24;
  // Blend needs the colours between; two 1-bit sources keep OR and AND.
  if (settings.merge.rule == kMergeBlend && plan.depth != 1) plan.depth = 24;

  TargetGeometry& g = plan.geometry;
  g.w1 = s1.Width(), g.h1 = s1.Height(), g.w2 = s2.Width(), g.h2 = s2.Height();
  if (settings.offsetX < 0) g.x1 = -settings.offsetX, g.x2 = 0;
  else g.x1 = 0, g.x2 = settings.offsetX;
  if (settings.offsetY < 0) g.y1 = -settings.offsetY, g.y2 = 0;
  else g.y1 = 0, g.y2 = settings.offsetY;
  // Offsets far beyond any picture make a canvas CreateDib refuses; keep the
  // arithmetic inside an int until then.
  const int64_t W64 = std::max(int64_t{g.w1} + g.x1, int64_t{g.w2} + g.x2);
  const int64_t H64 = std::max(int64_t{g.h1} + g.y1, int64_t{g.h2} + g.y2);
  plan.width = static_cast<int>(std::min<int64_t>(W64, INT_MAX));
  plan.height = static_cast<int>(std::min<int64_t>(H64, INT_MAX));
  plan.shownWidth = static_cast<int>(int64_t{plan.width} * settings.viewScaleX / 100);
  plan.shownHeight = static_cast<int>(int64_t{plan.height} * settings.viewScaleY / 100);

  plan.background = 127;
  if (settings.merge.rule == kMergeGreatest) plan.background = 0;
  else if (settings.merge.rule == kMergeLeast) plan.background = 255;
  if (plan.depth == 1) plan.background = settings.monoAnd ? 0 : 255;
  else if (plan.depth == 8) plan.background = 255;
  return plan;
}

DibPtr CreateTargetCanvas(const TargetPlan& plan) {
  return NewDib(plan.background, plan.depth, plan.width, plan.height);
}

MergePixel NudgedBackground(int rule) {
  return rule == kMergeGreatest ? MergePixel{1, 1, 1}
         : rule == kMergeLeast  ? MergePixel{254, 254, 254}
                                : MergePixel{126, 126, 126};
}

void NudgeBackground(uint8_t* pixels, int count, uint8_t background, int rule) {
  NudgeRun(pixels, count, {background, background, background}, NudgedBackground(rule));
}

bool ToneIsNeutral(int contrast, int brightness) {
  for (int v = 0; v < 256; ++v)
    if (ToneCurve(v, contrast, brightness) != v) return false;
  return true;
}

SampleCoverage TargetCoverage(PreparedRef source1, PreparedRef source2, const TargetPlan& plan, const Dib& target) {
  const TargetGeometry& g = plan.geometry;
  const int W = target.Width(), H = target.Height();
  const CoverageView cover1(source1.coverage, source1.picture), cover2(source2.coverage, source2.picture);
  SampleCoverage out;
  out.Start(&target, W, H);
  for (int Y = 0; Y < H; ++Y) {
    int64_t lo = INT64_MAX, hi = INT64_MIN;
    // The canvas columns a source's run of row r covers, joined to what the
    // row has so far.
    const auto add = [&](const CoverageView& cover, int x0, int y0, int w, int h) {
      const int r = Y - y0;
      if (r < 0 || r >= h || w < 1) return;
      const RowCoverage run = cover.Row(r);
      const int64_t b = std::clamp<int64_t>(run.begin, 0, w - 1), e = std::clamp<int64_t>(run.end, 0, w - 1);
      if (b < e) lo = std::min(lo, x0 + b), hi = std::max(hi, x0 + e);
      if (run.last) lo = std::min<int64_t>(lo, x0 + w - 1), hi = std::max<int64_t>(hi, int64_t{x0} + w);
    };
    add(cover1, g.x1, g.y1, g.w1, g.h1);
    add(cover2, g.x2, g.y2, g.w2, g.h2);
    SampleCoverage::Run run;
    if (lo < hi) {
      run.begin = static_cast<int32_t>(std::clamp<int64_t>(lo, 0, W - 1));
      run.end = static_cast<int32_t>(std::clamp<int64_t>(hi, 0, W - 1));
      run.last = lo <= W - 1 && hi >= W;
    }
    out.SetRow(Y, run);
  }
  return out;
}

GenerateResult LayTarget(PreparedRef source1, PreparedRef source2, const TargetSettings& settings,
                         const TargetPlan& plan, Dib& canvas, WorkObserver& observer, ExposureGains* gains,
                         bool source1OnCanvas) {
  const std::unique_ptr<MergeOperator> op = MakeMergeOperator(plan.geometry, settings.merge);
  const LayingJob job{source1.picture,
                      source2.picture,
                      source1OnCanvas ? PreparedReader(RowWindow::Of(canvas).Shifted(plan.geometry.x1, plan.geometry.y1))
                                      : PreparedReader(source1.picture),
                      PreparedReader(source2.picture),
                      CoverageView(source1.coverage, source1.picture),
                      CoverageView(source2.coverage, source2.picture),
                      plan,
                      settings,
                      *op,
                      observer,
                      source1OnCanvas && ToneIsNeutral(settings.contrast, settings.brightness)};
  if (plan.depth == 1) {
    LayOneBit(job, canvas);
    return GenerateResult::kDone;
  }
  if (plan.depth == 8) {
    LayEightBit(job, canvas);
    return GenerateResult::kDone;
  }
  if (!settings.merge.matchExposure) return LayTrueColour(job, canvas, nullptr);
  const ExposureGains found = EstimateExposureGains(source1, source2, plan.geometry);
  if (gains) *gains = found;
  const auto tables = GainTables(found);
  return LayTrueColour(job, canvas, &tables);
}

bool CanLayTargetInBands(const TargetPlan& plan, const TargetSettings& settings) {
  return plan.depth == 24 && settings.swing == 0 && !settings.merge.matchExposure &&
         settings.merge.rule != kMergeBlend && !settings.grid.solid && !settings.grid.dotted;
}

void LayTargetBand(const Dib& source1Header, const Dib& source2, const SampleCoverage& coverage2,
                   const RowWindow* rows2, const TargetSettings& settings, const TargetPlan& plan,
                   const RowWindow& canvas, int rowBegin, int rowEnd) {
  const std::unique_ptr<MergeOperator> op = MakeMergeOperator(plan.geometry, settings.merge);
  // No record for source 1: it has a sample in every pixel.
  const SampleCoverage none;
  WorkObserver quiet;
  const LayingJob job{source1Header,
                      source2,
                      PreparedReader(canvas.Shifted(plan.geometry.x1, plan.geometry.y1)),
                      rows2 ? PreparedReader(*rows2) : PreparedReader(source2),
                      CoverageView(none, source1Header),
                      CoverageView(coverage2, source2),
                      plan,
                      settings,
                      *op,
                      quiet,
                      false};
  TrueColourLayer layer(job, canvas, nullptr, 0);
  layer.LayBand(false, rowBegin, rowEnd);
  layer.LayBand(true, rowBegin, rowEnd);
}

GeneratedTarget GenerateTargetPicture(PreparedRef source1, PreparedRef source2, const TargetSettings& settings,
                                      WorkObserver& observer) {
  GeneratedTarget made;
  made.plan = PlanTarget(source1.picture, source2.picture, settings);
  DibPtr canvas = CreateTargetCanvas(made.plan);
  if (!canvas) {
    made.result = GenerateResult::kNoMemory;
    return made;
  }
  made.result = LayTarget(source1, source2, settings, made.plan, *canvas, observer, &made.gains);
  if (made.result == GenerateResult::kDone) made.target = std::move(canvas);
  return made;
}

void DrawGridOver(Dib& target, const GridSettings& grid, int width, int height) {
  if (!(grid.solid || grid.dotted)) return;
  const GridColour& colour = grid.colour;
  PixelValue v{colour.blue, colour.green, colour.red, 0};
  if (target.BitCount() == 1) {
    // A white grid sets the bit, a black one clears it.
    v.index = (colour.blue | colour.green | colour.red) ? 1 : 0;
  } else if (target.BitCount() <= 8) {
    v.index = NearestTableEntry(target.ColorTable(), target.BitCount() == 8 ? 255 : 16,
                                {colour.blue, colour.green, colour.red});
  }
  DibCursor cursor(&target);
  if (!cursor.m_pCursor) return;
  if (grid.solid) {
    if (grid.solidX > 0)
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; x += grid.solidX) cursor.WritePixel(x, y, &v);
    if (grid.solidY > 0)
      for (int y = 0; y < height; y += grid.solidY)
        for (int x = 0; x < width; ++x) cursor.WritePixel(x, y, &v);
  }
  if (grid.dotted && grid.dotX > 0 && grid.dotY > 0) {
    for (int y = 0; y < height; y += grid.dotY)
      for (int x = 0; x < width; x += grid.dotX) cursor.WritePixel(x, y, &v);
  }
}

int CDestdoc::GenerateTarget() {
  ClearTarget();
  m_bUpToDate = 1;
  m_bZoneOnly = 0;
  SetTitle(target_text::kTitle);
  if (g_nSourcesLoaded != 2) {
    ShowMessage(target_text::kNeedBothSources);
    return 0;
  }
  if (!m_pSource1 || !m_pSource2) {
    ShowMessage(target_text::kCantLoadTarget);
    return 0;
  }
  const TargetSettings settings = CurrentTargetSettings();
  const PreparedRef source1{*m_pSource1, m_cover1}, source2{*m_pSource2, m_cover2};
  const TargetPlan plan = PlanTarget(source1.picture, source2.picture, settings);
  m_nBitDepth = plan.depth;
  m_nTargetWidth = plan.shownWidth;
  m_nTargetHeight = plan.shownHeight;
  // The Target is the document's from its allocation on: the windows repaint it
  // while it is being laid. Generated once, it takes over source 1's memory.
  m_pTarget = m_bSource1BecomesTarget
                  ? CanvasOverSource1(*m_pSource1, plan, settings, m_pSource2->BitCount() == 24)
                  : nullptr;
  const bool onCanvas = m_pTarget != nullptr;
  if (!onCanvas) m_pTarget = CreateTargetCanvas(plan);
  if (!m_pTarget) {
    ShowMessage(WithDibRefusal(target_text::kNoMemoryTarget, plan.depth, plan.width, plan.height));
    ClearTarget();
    return 0;
  }
  StatusLineObserver observer(*this, kProgressCyan);
  m_exposureGains = ExposureGains();
  const GenerateResult laid =
      LayTarget(source1, source2, settings, plan, *m_pTarget, observer, &m_exposureGains, onCanvas);
  // Source 1's copy has no rows left: nothing may lay it again.
  const auto dropSource1 = [&] {
    if (!onCanvas) return;
    m_pSource1.reset();
    m_cover1.Clear();
  };
  if (laid != GenerateResult::kDone) {
    dropSource1();
    ClearTarget();
    // Blend's working memory could not be had.
    if (laid == GenerateResult::kNoMemory) ShowMessage(target_text::kNoMemoryTarget);
    // No Target was made: the window must not claim one up to date.
    MarkNeedsUpdate();
    ShowProgress(kProgressGrey, 100);
    SetStatusText("");
    // The stage that was stopped is no longer running.
    SetStageText("");
    UpdateAllViews();
    if (laid == GenerateResult::kStoppedInSource2) Notify(DocumentEvent::kShowGenerateButton);
    return 0;
  }
  // Which of its pixels are pictures, for a further join; a projected Target
  // bends the rows, so all of it counts then.
  m_targetCoverage.Clear();
  if (settings.swing == 0) m_targetCoverage = TargetCoverage(source1, source2, plan, *m_pTarget);
  dropSource1();
  Notify(DocumentEvent::kHideGenerateButton);
  m_bTargetSaved = 0;
  SetStatusText(settings.merge.matchExposure ? ExposureGainsText(m_exposureGains) : std::string());
  UpdateAllViews();
  RedrawViewsNow();
  return 1;
}

DibPtr CDestdoc::TakeTargetAsPicture(SampleCoverage& coverage) {
  if (!m_pTarget) return nullptr;
  coverage = std::move(m_targetCoverage);
  m_targetCoverage.Clear();
  DibPtr target = std::move(m_pTarget);
  ClearTarget();
  m_pSource1.reset();
  m_pSource2.reset();
  m_cover1.Clear();
  m_cover2.Clear();
  return target;
}

}  // namespace tessara
