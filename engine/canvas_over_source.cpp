#include "engine/canvas_over_source.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "image/bmp_layout.h"
#include "image/parallel.h"

namespace tessara {

bool CanLaySource1OnCanvas(const Dib& source1, const TargetPlan& plan, const TargetSettings& settings) {
  if (plan.depth != 24 || settings.swing != 0 || settings.merge.matchExposure) return false;
  if (source1.Size() < sizeof(BITMAPINFOHEADER) || !DibFitsBlock(source1)) return false;
  const BITMAPINFOHEADER& h = source1.Header();
  if (h.biSize != 40 || h.biBitCount != 24 || h.biCompression != BI_RGB || h.biClrUsed != 0 ||
      DibBitsOffset(h) != 40 || h.biWidth <= 0 || h.biHeight <= 0)
    return false;
  const TargetGeometry& g = plan.geometry;
  return g.w1 == h.biWidth && g.h1 == h.biHeight && g.x1 >= 0 && g.y1 >= 0 &&
         int64_t{g.x1} + g.w1 <= plan.width && int64_t{g.y1} + g.h1 <= plan.height;
}

DibPtr CanvasOverSource1(Dib& source1, const TargetPlan& plan, const TargetSettings& settings, bool source2Fills) {
  if (!CanLaySource1OnCanvas(source1, plan, settings)) return nullptr;
  // The limits of CreateTargetCanvas: a canvas it refuses is left to it, and
  // it tells the user why.
  if (plan.width > kDibMaxSide || plan.height > kDibMaxSide) return nullptr;
  const uint64_t bytes = DibBlockBytes(24, plan.width, plan.height);
  if (bytes > kDibMaxBlockBytes) return nullptr;
  const size_t sourceStride = source1.Stride();
  if (!source1.GrowBlock(static_cast<size_t>(bytes))) return nullptr;
  DibPtr canvas = Dib::TakeBlock(source1);
  if (!canvas) return nullptr;

  const TargetGeometry& g = plan.geometry;
  const int W = plan.width, H = plan.height;
  const size_t stride = static_cast<size_t>(DibRowStride(W, 24));
  const size_t rowBytes = 3 * static_cast<size_t>(g.w1), left = 3 * static_cast<size_t>(g.x1);
  // Source 1's rows and the canvas's both start right after the header.
  uint8_t* bits = canvas->Data() + 40;
  const auto from = [&](int r) { return bits + static_cast<size_t>(r) * sourceStride; };
  const auto to = [&](int r) { return bits + (static_cast<size_t>(r) + static_cast<size_t>(g.y1)) * stride + left; };
  // Through a neutral tone curve laying source 1 leaves its pixels as they are
  // but for those equal to the background: they are nudged here, each row
  // right after it moved, while it is still in the cache. Rows moved one at a
  // time (or not at all) are nudged afterwards, spread over the cores.
  const uint8_t background = static_cast<uint8_t>(plan.background);
  const bool nudge = ToneIsNeutral(settings.contrast, settings.brightness);
  std::vector<uint8_t> nudged(nudge ? static_cast<size_t>(g.h1) : 0, 0);
  const auto nudgeRow = [&](int r) {
    NudgeBackground(to(r), g.w1, background, settings.merge.rule);
    nudged[static_cast<size_t>(r)] = 1;
  };
  // The canvas's rows are at least as long and lie as high, so every row moves
  // up: the top row first, each new place then lies above the rows still to
  // move. The rows whose new places lie above all those rows move together.
  int end = g.h1;
  while (end > 0) {
    const uint64_t clear = static_cast<uint64_t>(end) * sourceStride;  // bytes of rows [0, end)
    // The lowest row whose new place starts at or above `clear`.
    int64_t first = clear > left ? static_cast<int64_t>((clear - left + stride - 1) / stride) - g.y1 : -g.y1;
    first = std::max<int64_t>(first, 0);
    if (first < end) {
      const int begin = static_cast<int>(first);
      ParallelRanges(begin, end, 32, [&](int b, int e) {
        for (int r = b; r < e; ++r) {
          std::memcpy(to(r), from(r), rowBytes);
          if (nudge) nudgeRow(r);
        }
      });
      end = begin;
    } else {
      --end;
      if (to(end) != from(end)) std::memmove(to(end), from(end), rowBytes);
    }
  }
  if (nudge)
    ParallelRanges(0, g.h1, 32, [&](int b, int e) {
      for (int r = b; r < e; ++r)
        if (!nudged[static_cast<size_t>(r)]) nudgeRow(r);
    });
  // The background around source 1, but for the part of source 2's rectangle
  // beside it when laying source 2 writes all of that.
  const size_t left2 = 3 * static_cast<size_t>(g.x2), right2 = 3 * (static_cast<size_t>(g.x2) + g.w2);
  ParallelRanges(0, H, 64, [&](int b, int e) {
    for (int Y = b; Y < e; ++Y) {
      uint8_t* row = bits + static_cast<size_t>(Y) * stride;
      // Byte ranges of the row that are not filled, in order: source 1's
      // pixels, and source 2's where it fills them.
      std::pair<size_t, size_t> keep[2];
      int kept = 0;
      if (Y >= g.y1 && Y - g.y1 < g.h1) keep[kept++] = {left, left + rowBytes};
      if (source2Fills && Y >= g.y2 && Y - g.y2 < g.h2) keep[kept++] = {left2, right2};
      if (kept == 2 && keep[1].first < keep[0].first) std::swap(keep[0], keep[1]);
      size_t at = 0;
      for (int k = 0; k < kept; ++k) {
        if (keep[k].first > at) std::memset(row + at, background, keep[k].first - at);
        at = std::max(at, keep[k].second);
      }
      if (at < stride) std::memset(row + at, background, stride - at);
    }
  });
  const size_t rowsEnd = 40 + stride * static_cast<size_t>(H);
  std::memset(canvas->Data() + rowsEnd, background, static_cast<size_t>(bytes) - rowsEnd);
  // The header CreateTargetCanvas writes.
  BITMAPINFOHEADER h{};
  h.biSize = 40;
  h.biWidth = W;
  h.biHeight = H;
  h.biPlanes = 1;
  h.biBitCount = 24;
  h.biCompression = BI_RGB;
  h.biSizeImage = static_cast<uint32_t>(stride * static_cast<size_t>(H));
  std::memcpy(canvas->Data(), &h, sizeof h);
  return canvas;
}

}  // namespace tessara
