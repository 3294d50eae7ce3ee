#include "ui/views/view_zoom.h"

#include <algorithm>
#include <climits>
#include <iterator>
#include <numeric>

namespace tessara {

namespace {

int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

int64_t CeilDiv(int64_t a, int64_t b) { return -FloorDiv(-a, b); }

int ToInt(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX)); }

bool Less(ZoomRatio a, ZoomRatio b) { return int64_t{a.num} * b.den < int64_t{b.num} * a.den; }

}  // namespace

ZoomRatio ZoomIn(ZoomRatio z) {
  for (const ZoomRatio& step : kZoomSteps)
    if (Less(z, step)) return step;
  return z;
}

ZoomRatio ZoomOut(ZoomRatio z) {
  for (auto it = std::rbegin(kZoomSteps); it != std::rend(kZoomSteps); ++it)
    if (Less(*it, z)) return *it;
  return z;
}

ZoomRatio FitRatio(int w, int h, int cw, int ch) {
  if (w <= 0 || h <= 0) return {1, 1};
  const int64_t fx = int64_t{std::max(cw, 1)} * 1000 / w, fy = int64_t{std::max(ch, 1)} * 1000 / h;
  const int64_t f = std::min<int64_t>({fx, fy, 1000});
  if (f * 16 < 1000) return kZoomSteps[0];
  const int g = std::gcd(static_cast<int>(f), 1000);
  return {static_cast<int>(f) / g, 1000 / g};
}

int ViewToPicture(int64_t view, ZoomRatio z) { return ToInt(FloorDiv(view * z.den, z.num)); }

int PictureToView(int64_t picture, ZoomRatio z) { return ToInt(CeilDiv(picture * z.num, z.den)); }

int ShownLength(int64_t picture, ZoomRatio z) { return PictureToView(picture, z); }

int ScrollToKeep(int picture, int window, ZoomRatio z) {
  return std::max(0, ToInt(int64_t{PictureToView(picture, z)} - window));
}

int AlignZoomIn(int reduction) {
  if (reduction <= 1) return 1;
  return std::max(1, reduction * 2 / 3);
}

int AlignZoomOut(int reduction, int fit) {
  const int next = std::max(reduction + 1, reduction * 3 / 2);
  return next >= fit ? 0 : next;
}

int AlignEdgeToKeep(int edge, int mouse, int from, int to) {
  if (from < 1 || to < 1) return edge;
  const int64_t canvas = (int64_t{mouse} - edge) * from;
  return ToInt(int64_t{mouse} - FloorDiv(canvas, to));
}

}  // namespace tessara
