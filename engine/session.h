// Process-wide merge and adjustment settings, changed by the tool dialogs;
// ResetSession puts the defaults back. The engine reads them as values built
// once per operation (MergeSettings, GridSettings), never from the globals.
#pragma once

#include <cstdint>

namespace tessara {

// Blend joins the pictures along a seam instead of mixing each pixel of the
// overlap (engine/blend.h).
enum MergeRule { kMergeAverage = 0, kMergeGreatest = 1, kMergeLeast = 2, kMergeBlend = 3 };

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

// How the overlap is merged: the rule, the source bias (0 favours source 1, 255
// source 2), the fading of either source toward the edges of the overlap, and
// whether source 2 is matched to source 1's exposure first.
struct MergeSettings {
  int rule = kMergeAverage;
  int bias = 128;
  bool fade1 = false;
  bool fade2 = false;
  // Source 2's exposure and colour brought to source 1's before any rule.
  bool matchExposure = false;
};

// The grid drawn over a finished Target: solid lines every solidX columns and
// solidY rows, dots every dotX columns on every dotY-th row.
struct GridSettings {
  bool solid = false;
  bool dotted = false;
  int solidX = 100;
  int solidY = 100;
  int dotX = 10;
  int dotY = 10;
  GridColour colour;
};

// Where the two prepared sources lie on the canvas: the column and stored row of
// each one's first column and first stored row, and each one's size.
struct TargetGeometry {
  int x1, y1, w1, h1;
  int x2, y2, w2, h2;
};

}  // namespace tessara
