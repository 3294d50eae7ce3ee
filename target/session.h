// Process-wide merge and adjustment settings, changed by the tool dialogs and
// read by the engine; ResetSession puts the defaults back.
#pragma once

#include <cstdint>

namespace tessara {

enum MergeRule { kMergeAverage = 0, kMergeGreatest = 1, kMergeLeast = 2 };

struct GridColour {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
};

extern int g_nMergeRule;
extern int g_bFadeEdge1;
extern int g_bFadeEdge2;
extern int g_bMonoAnd;
extern int g_bSolidGrid;
extern int g_bDottedGrid;
extern int g_nSolidGridX;
extern int g_nSolidGridY;
extern int g_nDotGridX;
extern int g_nDotGridY;
extern GridColour g_GridColour;
// The position being laid, read by the merge operators for the fade weight.
extern int g_nCurX;
extern int g_nCurY;

// Where the two prepared sources lie on the canvas: the column and stored row of
// each one's first column and first stored row, and each one's size.
struct TargetGeometry {
  int x1, y1, w1, h1;
  int x2, y2, w2, h2;
};

}  // namespace tessara
