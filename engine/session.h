// The session's settings as one value: the alignment of the two sources, the
// merge, the adjustments and the grid, with their defaults in one place. The
// program keeps one such value, g_session; the target document reads and
// changes it (under the names its members have here), undo keeps copies of
// it, the batch tool builds it from its options, and the engine's pure
// operations take what they need of it as plain settings (SourceSettingsOf,
// TargetSettingsOf), never from the value or the globals themselves. The
// merge and grid globals the dialogs change are names for members of
// g_session.
#pragma once

#include <cstdint>

namespace tessara {

// Blend joins the pictures along a seam instead of mixing each pixel of the
// overlap (engine/blend.h).
enum MergeRule { kMergeAverage = 0, kMergeGreatest = 1, kMergeLeast = 2, kMergeBlend = 3 };

// The defaults of the settings, for the session and for every settings type
// made from it.
namespace session_default {
inline constexpr int kScale = 1024;  // 1/1024: unscaled
inline constexpr int kCutCorners = 1;
inline constexpr int kBias = 128;  // neither source favoured
inline constexpr int kContrast = 16;
inline constexpr int kBrightness = 128;
inline constexpr int kViewScale = 100;  // percent
inline constexpr int kSolidGridSpacing = 100;
inline constexpr int kDotGridSpacing = 10;
inline constexpr int kDepth = 24;
}  // namespace session_default

struct GridColour {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
  bool operator==(const GridColour&) const = default;
};


// How the overlap is merged: the rule, the source bias (0 favours source 1, 255
// source 2), the fading of either source toward the edges of the overlap, and
// whether source 2 is matched to source 1's exposure first.
struct MergeSettings {
  int rule = kMergeAverage;
  int bias = session_default::kBias;
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
  int solidX = session_default::kSolidGridSpacing;
  int solidY = session_default::kSolidGridSpacing;
  int dotX = session_default::kDotGridSpacing;
  int dotY = session_default::kDotGridSpacing;
  GridColour colour;
};

// Where the two prepared sources lie on the canvas: the column and stored row of
// each one's first column and first stored row, and each one's size.
struct TargetGeometry {
  int x1, y1, w1, h1;
  int x2, y2, w2, h2;
};

// Where source 2 lies and how each source is scaled, turned, mirrored and
// cut: what the Align Window, its commands, the Rotate dialog and Fine
// Adjustment change, and what undo puts back.
struct AlignSettings {
  int m_nOffsetX = 0;
  int m_nOffsetY = 0;
  int m_nScale1X = session_default::kScale;
  int m_nScale1Y = session_default::kScale;
  int m_nScale2X = session_default::kScale;
  int m_nScale2Y = session_default::kScale;
  double m_dRotation1 = 0.0;
  double m_dRotation2 = 0.0;
  int m_bMirror1 = 0;
  int m_bMirror2 = 0;
  int m_bCutCorners1 = session_default::kCutCorners;
  int m_bCutCorners2 = session_default::kCutCorners;
  bool operator==(const AlignSettings&) const = default;
};

struct SessionSettings {
  AlignSettings align;
  // The merge: the rule (g_nMergeRule), the bias, the fading (g_bFadeEdge1,
  // g_bFadeEdge2), OR or AND for two 1-bit sources (g_bMonoAnd), and whether
  // source 2's exposure is matched to source 1's first.
  int m_nMergeRule = kMergeAverage;
  int m_nSourceBias = session_default::kBias;
  int m_bFadeEdge1 = 0;
  int m_bFadeEdge2 = 0;
  int m_bMonoAnd = 0;
  int m_bMatchExposure = 0;
  // The adjustments of the Target: tone curve, projection, size as shown.
  int m_nContrast = session_default::kContrast;
  int m_nBrightness = session_default::kBrightness;
  int m_nSwingAngle = 0;
  int m_nViewScaleX = session_default::kViewScale;
  int m_nViewScaleY = session_default::kViewScale;
  // The grid lines (g_bSolidGrid .. g_GridColour).
  int m_bSolidGrid = 0;
  int m_bDottedGrid = 0;
  int m_nSolidGridX = session_default::kSolidGridSpacing;
  int m_nSolidGridY = session_default::kSolidGridSpacing;
  int m_nDotGridX = session_default::kDotGridSpacing;
  int m_nDotGridY = session_default::kDotGridSpacing;
  GridColour m_GridColour;
  bool operator==(const SessionSettings&) const = default;
};

// The program's session.
extern SessionSettings g_session;
extern int& g_nMergeRule;
extern int& g_bFadeEdge1;
extern int& g_bFadeEdge2;
extern int& g_bMonoAnd;
extern int& g_bSolidGrid;
extern int& g_bDottedGrid;
extern int& g_nSolidGridX;
extern int& g_nSolidGridY;
extern int& g_nDotGridX;
extern int& g_nDotGridY;
extern GridColour& g_GridColour;

// What the pure operations take of a session (engine/session.cpp): the
// settings source n (1 or 2) is prepared with, and those of a Target whose
// depth, when the sources leave it open, is `depth`.
struct SourceSettings;
struct TargetSettings;
SourceSettings SourceSettingsOf(const SessionSettings& session, int n);
TargetSettings TargetSettingsOf(const SessionSettings& session, int depth);

}  // namespace tessara
