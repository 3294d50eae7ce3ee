// Builds the Target: both prepared sources laid on one canvas at their relative
// placement, the overlap merged, the tone curve and the cylindrical projection
// applied while laying, and the grid drawn last. Two 1-bit sources give a 1-bit
// Target merged by OR or AND on black; small palettes give an 8-bit Target whose
// colour table holds every merged pair; everything else is 24 bits.
#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
#include <type_traits>
#include <vector>

#include "framework/registry.h"
#include "image/pixel_cursor.h"
#include "target/destdoc.h"
#include "target/merge.h"
#include "target/palette.h"
#include "target/parallel.h"

namespace tessara {

namespace {

// Reads the colour of a pixel of a prepared source (1, 4, 8 or 24 bits) as a
// cursor read leaves it: indexed pictures through their colour table.
struct PreparedReader {
  const uint8_t* bits0;
  size_t stride;
  int depth;
  const RGBQUAD* table;

  explicit PreparedReader(const Dib& d)
      : bits0(d.Bits()), stride(d.Stride()), depth(d.BitCount()), table(d.ColorTable()) {}
  const uint8_t* Row(int y) const { return bits0 + static_cast<size_t>(y) * stride; }
  int Index(int x, int y) const {
    const uint8_t* r = Row(y);
    switch (depth) {
      case 1: return (r[x >> 3] << (x & 7)) & 0x80 ? 1 : 0;
      case 4: return (x & 1) ? (r[x >> 1] & 0x0F) : (r[x >> 1] >> 4);
      default: return r[x];
    }
  }
  MergePixel Color(int x, int y) const {
    if (depth == 24) {
      const uint8_t* p = bits0 + static_cast<size_t>(y) * stride + 3 * static_cast<size_t>(x);
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

}  // namespace

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
  const Dib& s1 = *m_pSource1;
  const Dib& s2 = *m_pSource2;
  const int b1 = s1.BitCount(), b2 = s2.BitCount();
  if (b1 == 1 && b2 == 1) m_nBitDepth = 1;
  if (b1 + b2 > 4) m_nBitDepth = 8;
  if (b1 + b2 > 8) m_nBitDepth = 24;
  if (g_bFadeEdge1 || g_bFadeEdge2) m_nBitDepth = 24;

  TargetGeometry g{};
  g.w1 = s1.Width(), g.h1 = s1.Height(), g.w2 = s2.Width(), g.h2 = s2.Height();
  if (m_nOffsetX < 0) g.x1 = -m_nOffsetX, g.x2 = 0;
  else g.x1 = 0, g.x2 = m_nOffsetX;
  if (m_nOffsetY < 0) g.y1 = -m_nOffsetY, g.y2 = 0;
  else g.y1 = 0, g.y2 = m_nOffsetY;
  // Offsets far beyond any picture make a canvas CreateDib refuses; keep the
  // arithmetic inside an int until then.
  const int64_t W64 = std::max(int64_t{g.w1} + g.x1, int64_t{g.w2} + g.x2);
  const int64_t H64 = std::max(int64_t{g.h1} + g.y1, int64_t{g.h2} + g.y2);
  const int W = static_cast<int>(std::min<int64_t>(W64, INT_MAX));
  const int H = static_cast<int>(std::min<int64_t>(H64, INT_MAX));
  m_nTargetWidth = static_cast<int>(int64_t{W} * m_nViewScaleX / 100);
  m_nTargetHeight = static_cast<int>(int64_t{H} * m_nViewScaleY / 100);

  AverageMerge average(g);
  GreatestMerge greatest(g);
  LeastMerge least(g);
  const MergeOperator* op = &average;
  int background = 127;
  if (g_nMergeRule == kMergeGreatest) op = &greatest, background = 0;
  else if (g_nMergeRule == kMergeLeast) op = &least, background = 255;
  if (m_nBitDepth == 1) background = g_bMonoAnd ? 0 : 255;
  else if (m_nBitDepth == 8) background = 255;

  m_pTarget = CreateDib(background, m_nBitDepth, W, H, target_text::kNoMemoryTarget);
  if (!m_pTarget) {
    ClearTarget();
    return 0;
  }
  Dib& target = *m_pTarget;
  const PreparedReader r1(s1), r2(s2);
  // Pixels of a copy that got no sample from their source are black filler:
  // where source 1 lies, such a pixel of source 2 leaves source 1's pixel alone,
  // and a pixel of source 2 laid on source 1's filler is written as if source 2
  // lay there alone.
  const CoverageView cover1(m_cover1, s1), cover2(m_cover2, s2);
  // Whether source 1's rectangle holds canvas pixel (X, Y), and whether its
  // pixel there got a sample.
  auto inSource1 = [&](int X, int Y) { return X >= g.x1 && X < g.x1 + g.w1 && Y >= g.y1 && Y < g.y1 + g.h1; };

  if (m_nBitDepth == 1) {
    RGBQUAD* t = target.ColorTable();
    t[0] = {0, 0, 0, 0};
    t[1] = {255, 255, 255, 0};
    // A set bit is white: laying source 1 copies its bits; source 2 then adds
    // its black (OR) or its white (AND).
    auto setBit = [&](int x, int y, bool white) {
      uint8_t& b = target.Row(y)[x >> 3];
      const uint8_t m = static_cast<uint8_t>(0x80 >> (x & 7));
      b = white ? (b | m) : (b & ~m);
    };
    SetStageText(target_text::kMergingSource1);
    for (int y = 0; y < g.h1; ++y) {
      for (int x = 0; x < g.w1; ++x) setBit(x + g.x1, y + g.y1, r1.Index(x, y) == 1);
      m_nProgress = y * 100 / g.h1;
      ShowProgress(kProgressCyan, m_nProgress);
    }
    ShowProgress(kProgressGrey, 100);
    SetStageText(target_text::kMergingSource2);
    for (int y = 0; y < g.h2; ++y) {
      for (int x = 0; x < g.w2; ++x) {
        const bool white = r2.Index(x, y) == 1;
        const int X = x + g.x2, Y = y + g.y2;
        if (inSource1(X, Y)) {
          if (!cover2.Sampled(x, y)) continue;
          if (!cover1.Sampled(X - g.x1, Y - g.y1)) {
            setBit(X, Y, white);
            continue;
          }
        }
        if (g_bMonoAnd ? white : !white) setBit(X, Y, white);
      }
      m_nProgress = y * 100 / g.h2;
      ShowProgress(kProgressCyan, m_nProgress);
    }
    SetStageText("");
    ShowProgress(kProgressGrey, 100);
    // Written as through a cursor, which leaves the row padding zeroed.
    ZeroRowPadding(target);
  } else if (m_nBitDepth == 8) {
    SetStageText(target_text::kPleaseWait);
    // Working table: slots 0..15 source 1's colours, 16..31 source 2's, and
    // 32 + i + 16 j the merge of source 1 colour i with source 2 colour j.
    struct Slot {
      int blue = 0, green = 0, red = 0;
      bool used = false;
      int link = -1;
    };
    Slot slots[288];
    const int n1 = s1.Header().biClrUsed ? static_cast<int>(std::min<uint32_t>(s1.Header().biClrUsed, 16)) : 16;
    const int n2 = s2.Header().biClrUsed ? static_cast<int>(std::min<uint32_t>(s2.Header().biClrUsed, 16)) : 16;
    const RGBQUAD* t1 = s1.ColorTable();
    const RGBQUAD* t2 = s2.ColorTable();
    auto use = [&](int k, int blue, int green, int red) {
      slots[k] = {blue, green, red, true, k};
    };
    for (int i = 0; i < n1; ++i) use(i, t1[i].rgbBlue, t1[i].rgbGreen, t1[i].rgbRed);
    for (int j = 0; j < n2; ++j) use(16 + j, t2[j].rgbBlue, t2[j].rgbGreen, t2[j].rgbRed);
    for (int i = 0; i < n1; ++i)
      for (int j = 0; j < n2; ++j) {
        const MergePixel a = Tone({t1[i].rgbBlue, t1[i].rgbGreen, t1[i].rgbRed}, m_nContrast, m_nBrightness);
        const MergePixel b = Tone({t2[j].rgbBlue, t2[j].rgbGreen, t2[j].rgbRed}, m_nContrast, m_nBrightness);
        const MergePixel m = op->Merge(a, b);
        use(32 + i + 16 * j, m.blue, m.green, m.red);
      }
    for (int a = 0; a < 288; ++a) {
      if (!slots[a].used) continue;
      for (int b = a + 1; b < 288; ++b)
        if (slots[b].used && slots[b].blue == slots[a].blue && slots[b].green == slots[a].green &&
            slots[b].red == slots[a].red) {
          slots[b].used = false;
          slots[b].link = a;
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
    // Colours beyond the 255 entries take the nearest entry.
    for (Slot& s : slots)
      if (s.link >= 255) s.link = NearestTableEntry(table, 255, {s.blue, s.green, s.red});

    int producedBy[256] = {};
    SetStageText(target_text::kMergingSource1);
    for (int x = 0; x < g.w1; ++x) {
      for (int y = 0; y < g.h1; ++y) {
        const int k = r1.Index(x, y);
        const int t = slots[k].link;
        target.Row(y + g.y1)[x + g.x1] = static_cast<uint8_t>(t);
        producedBy[t & 0xFF] = k;
      }
      m_nProgress = x * 100 / g.w1;
      ShowProgress(kProgressCyan, m_nProgress);
    }
    ShowProgress(kProgressGrey, 100);
    SetStageText(target_text::kMergingSource2);
    for (int x = 0; x < g.w2; ++x) {
      for (int y = 0; y < g.h2; ++y) {
        const int X = x + g.x2, Y = y + g.y2;
        uint8_t& t = target.Row(Y)[X];
        const int j = r2.Index(x, y);
        bool alone = t == 255;
        if (inSource1(X, Y)) {
          if (!cover2.Sampled(x, y)) continue;
          if (!cover1.Sampled(X - g.x1, Y - g.y1)) alone = true;
        }
        t = static_cast<uint8_t>(alone ? slots[16 + j].link : slots[32 + producedBy[t] + 16 * j].link);
      }
      m_nProgress = x * 100 / g.w2;
      ShowProgress(kProgressCyan, m_nProgress);
    }
    SetStageText("");
    ShowProgress(kProgressGrey, 100);
  } else {
    SetStatusText(target_text::kPressSpaceToQuit);
    const MergePixel bg{static_cast<uint8_t>(background), static_cast<uint8_t>(background),
                        static_cast<uint8_t>(background)};
    const MergePixel nudged = g_nMergeRule == kMergeGreatest ? MergePixel{1, 1, 1}
                              : g_nMergeRule == kMergeLeast  ? MergePixel{254, 254, 254}
                                                             : MergePixel{126, 126, 126};
    const int swing = m_nSwingAngle;
    // The tone curve as a table: the same values, looked up.
    uint8_t tone[256];
    for (int v = 0; v < 256; ++v) tone[v] = ToneCurve(v, m_nContrast, m_nBrightness);
    // Columns are laid in strips, rows of a strip spread over the cores; every
    // canvas pixel is written at most once per source, so the order does not
    // change the result. Progress and the stop check follow each strip.
    constexpr int kStrip = 128;
    std::vector<double> cosines;
    // Lays one source; returns false when the user stopped it.
    auto lay = [&](const PreparedReader& reader, int w, int h, int sx, int sy, bool second) {
      SetStageText(second ? target_text::kMergingSource2 : target_text::kMergingSource1);
      // Loop rows run from -(H / 2) to H - 1; without the projection only the
      // rows of the source itself can be laid.
      const int vFirst = swing ? -(H / 2) : std::max(0, -sy);
      const int vLast = swing ? H - 1 : std::min(h, H - sy) - 1;
      for (int x0 = 0; x0 < w; x0 += kStrip) {
        const int x1 = std::min(w, x0 + kStrip);
        if (swing) {
          // theta depends on the column only.
          cosines.resize(static_cast<size_t>(x1 - x0));
          for (int x = x0; x < x1; ++x) {
            const int64_t dx = int64_t{x} + sx - W / 2;
            cosines[static_cast<size_t>(x - x0)] = std::cos(swing * dx * 3.14159 / ((W / 2) * 360));
          }
        }
        // One canvas row of the strip; templated so the common cases (24-bit
        // source, no projection) run without per-pixel tests of the settings.
        auto layRow = [&](int v, auto fromRgb, auto projected) {
          const int Y = v + sy;
          // Rows pulled in by the projection can land outside the canvas.
          if (Y < 0 || Y >= H) return;
          uint8_t* out = target.Row(Y) + 3 * static_cast<size_t>(sx);
          const int64_t dy = int64_t{Y} - H / 2;
          const uint8_t* in = nullptr;
          // The source row laid at canvas row Y for a column's cosine; false
          // when the projection puts no row of a source of height `rows` there.
          auto projectedRow = [&](double cosine, int shift, int rows, int& r) {
            const double row = dy / cosine + (H / 2 - shift);
            if (!(row > -2147483649.0 && row < 2147483648.0)) return false;
            r = static_cast<int>(row);
            return r >= 0 && r < rows;
          };
          // Coverage of this canvas row by source 2 and, beneath it, by
          // source 1 (without the projection both stay the same along it).
          RowCoverage here{}, below{};
          if constexpr (!decltype(projected)::value) {
            in = reader.Row(v);
            if (second) {
              here = cover2.Row(v);
              const int r1 = Y - g.y1;
              below = (r1 >= 0 && r1 < g.h1) ? cover1.Row(r1) : RowCoverage::Whole();
            }
          }
          for (int x = x0; x < x1; ++x) {
            int r = v;
            if constexpr (decltype(projected)::value) {
              if (!projectedRow(cosines[static_cast<size_t>(x - x0)], sy, h, r)) continue;
              in = reader.Row(r);
            }
            MergePixel p;
            if constexpr (decltype(fromRgb)::value) {
              const uint8_t* q = in + 3 * static_cast<size_t>(x);
              p = {tone[q[0]], tone[q[1]], tone[q[2]]};
            } else {
              const MergePixel c = reader.Color(x, r);
              p = {tone[c.blue], tone[c.green], tone[c.red]};
            }
            uint8_t* t = out + 3 * static_cast<size_t>(x);
            if (!second) {
              if (p == bg) p = nudged;
            } else if (t[0] != bg.blue || t[1] != bg.green || t[2] != bg.red) {
              // Source 1 lies here (its pixels never equal the background).
              const int X = x + sx;
              bool sampled2, sampled1 = true;
              if constexpr (decltype(projected)::value) {
                sampled2 = cover2.Sampled(x, r);
                int r1 = 0;
                if (sampled2 && projectedRow(cosines[static_cast<size_t>(x - x0)], g.y1, g.h1, r1))
                  sampled1 = cover1.Sampled(X - g.x1, r1);
              } else {
                sampled2 = here.Sampled(x);
                sampled1 = below.Sampled(X - g.x1);
              }
              if (!sampled2) continue;
              if (sampled1) p = op->MergeAt({t[0], t[1], t[2]}, p, x, v);
            }
            t[0] = p.blue, t[1] = p.green, t[2] = p.red;
          }
        };
        ParallelRanges(vFirst, vLast + 1, 64, [&](int vBegin, int vEnd) {
          const bool rgb = reader.depth == 24;
          for (int v = vBegin; v < vEnd; ++v) {
            if (swing) {
              if (rgb) layRow(v, std::true_type{}, std::true_type{});
              else layRow(v, std::false_type{}, std::true_type{});
            } else {
              if (rgb) layRow(v, std::true_type{}, std::false_type{});
              else layRow(v, std::false_type{}, std::false_type{});
            }
          }
        });
        m_nProgress = static_cast<int>(int64_t{x1 - 1} * 100 / w);
        ShowProgress(kProgressCyan, m_nProgress);
        if (CheckAbort() == 1) return false;
      }
      ShowProgress(kProgressGrey, 100);
      return true;
    };
    bool stoppedInSecond = false;
    bool done = lay(r1, g.w1, g.h1, g.x1, g.y1, false);
    if (done) {
      done = lay(r2, g.w2, g.h2, g.x2, g.y2, true);
      stoppedInSecond = !done;
    }
    if (!done) {
      ClearTarget();
      // No Target was made: the window must not claim one up to date.
      MarkNeedsUpdate();
      ShowProgress(kProgressGrey, 100);
      SetStatusText("");
      UpdateAllViews();
      if (stoppedInSecond) Notify(DocumentEvent::kShowGenerateButton);
      return 0;
    }
    SetStageText("");
    ShowProgress(kProgressGrey, 100);
    ZeroRowPadding(target);
    DrawGrid();
  }

  Notify(DocumentEvent::kHideGenerateButton);
  SetStatusText("");
  UpdateAllViews();
  RedrawViewsNow();
  return 1;
}

}  // namespace tessara
