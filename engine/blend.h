// The Blend rule: the two pictures meet along a seam laid where they differ
// least, and are joined across it band by band (a Laplacian pyramid), each
// band over a width that suits its detail: fine detail changes over a few
// pixels, so nothing is half-transparent, and brightness over hundreds, so no
// step shows. Away from the seam every pixel is one picture's own.
//
// The blend works on a region of the canvas: the box where both pictures may
// lie, widened by BlendMargin on every side, so that every pixel it leaves
// alone, and every pixel on its border, is the one picture's own.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/work_observer.h"

namespace tessara {

// What a pixel of the region holds.
enum : uint8_t {
  kBlendHas1 = 1,  // source 1 lies here and sampled it
  kBlendHas2 = 2,  // source 2 does
};

struct BlendRegion {
  int width = 0;
  int height = 0;
  // The box where both pictures may lie, in region coordinates:
  // [overlapX0, overlapX1) x [overlapY0, overlapY1).
  int overlapX0 = 0, overlapY0 = 0, overlapX1 = 0, overlapY1 = 0;
  // True: the seam crosses every row of the box (the pictures lie side by
  // side); false: it crosses every column (one above the other).
  bool seamCrossesRows = true;
  // Source 1 lies on the side of the smaller columns (or rows).
  bool source1First = true;
  // 0 gives source 1 most of the overlap, 255 source 2; 128 lets only the
  // pictures decide.
  int bias = 128;
  // Bands of the pyramid below the finest (BlendLevels).
  int levels = 1;
};

// The bands for an overlap box of this size: fewer for small overlaps, at
// most 6 (brightness then changes over about 500 pixels).
int BlendLevels(int overlapWidth, int overlapHeight);
// How far from the overlap box a blend of `levels` bands can change a pixel.
constexpr int BlendMargin(int levels) { return 4 << levels; }

// Fills `state` (width entries, kBlendHas bits) and the blue, green, red of
// both pictures (3 * width bytes each, anything where a picture is absent) for
// row y of the region.
using BlendReadRow = std::function<void(int y, uint8_t* state, uint8_t* v1, uint8_t* v2)>;
// Stores row y of the blend: 3 * width bytes, to be written where state is
// not 0.
using BlendWriteRow = std::function<void(int y, const uint8_t* pixels, const uint8_t* state)>;

enum class BlendResult { kDone, kStopped, kNoMemory };

// Blends the region. Rows are read and written from the worker threads, each
// row by one thread at a time; the result does not depend on how many there
// are. Progress goes to the observer, which is asked between blocks of rows
// whether to stop (nothing is written then).
BlendResult BlendPictures(const BlendRegion& region, const BlendReadRow& read, const BlendWriteRow& write,
                          WorkObserver& observer);

}  // namespace tessara
