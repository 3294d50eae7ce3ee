// The zoom of the Target Window and of the Align Window, without Qt.
//
// Target Window: the Target is shown at a ratio num/den of its own pixels. We
// keep three coordinate spaces apart here:
//   - window points: pixels of the view's client area, as the mouse gives them;
//   - view points: window point + scroll position, in shown (zoomed) pixels;
//   - picture points: pixels of the Target (x right, y down from its top edge),
//     which is what the Zone, the snap grid and the status line work in.
// A view pixel maps to the picture pixel under it (rounded down), so a click
// lands on the pixel the user sees and the Zone keeps whole picture pixels at
// any zoom. At 1/1 every mapping is the identity.
//
// Align Window: the preview is reduced by a whole factor (source pixels per
// preview pixel); zooming chooses a smaller factor than the one that fits the
// window, down to 1 (the actual size), and moves the preview so that the point
// under the mouse stays where it is.
#pragma once

#include <cstdint>

namespace tessara {

struct ZoomRatio {
  int num = 1;
  int den = 1;
  bool operator==(const ZoomRatio&) const = default;
  bool IsActualSize() const { return num == den; }
  double Factor() const { return static_cast<double>(num) / den; }
};

// The zoom steps, from 1/16 to 16/1.
inline constexpr ZoomRatio kZoomSteps[] = {{1, 16}, {1, 12}, {1, 8}, {1, 6}, {1, 4}, {1, 3}, {1, 2}, {2, 3},
                                           {1, 1},  {3, 2},  {2, 1}, {3, 1}, {4, 1}, {6, 1}, {8, 1}, {16, 1}};

// The next step larger (or smaller) than `z`; `z` itself at the end of the steps.
ZoomRatio ZoomIn(ZoomRatio z);
ZoomRatio ZoomOut(ZoomRatio z);
// The largest ratio (in thousandths, never above 1/1 and never below the
// smallest step) at which a picture of w x h fits a client area of cw x ch.
ZoomRatio FitRatio(int w, int h, int cw, int ch);

// A view coordinate (window coordinate + scroll) to the picture pixel under it,
// rounded toward minus infinity; and a picture coordinate to the view
// coordinate of that pixel's first shown pixel.
int ViewToPicture(int64_t view, ZoomRatio z);
int PictureToView(int64_t picture, ZoomRatio z);
// The shown length of `picture` pixels (rounded up, so the last pixel shows).
int ShownLength(int64_t picture, ZoomRatio z);
// The scroll position at which picture coordinate `picture` lies under window
// coordinate `window` (never negative).
int ScrollToKeep(int picture, int window, ZoomRatio z);

// Align Window: the reduction one step in (at least 1) or out (0 once it
// reaches `fit`, the reduction that fits the window: zoomed out completely).
int AlignZoomIn(int reduction);
int AlignZoomOut(int reduction, int fit);
// Where the preview's left (or top) edge goes when the reduction changes from
// `from` to `to`, so that the canvas point under window coordinate `mouse`
// stays under it; `edge` is the edge's window coordinate before.
int AlignEdgeToKeep(int edge, int mouse, int from, int to);

}  // namespace tessara
