// Colour-table helpers shared by the 8-bit Target and the grid.
#pragma once

#include "image/dib.h"

namespace tessara {

struct Bgr {
  int blue, green, red;
};

// The index among the first `count` entries nearest to `colour`: squared
// difference summed over blue, green and red, the lowest index on a tie.
inline int NearestTableEntry(const RGBQUAD* table, int count, Bgr colour) {
  int best = 0;
  long bestDistance = -1;
  for (int i = 0; i < count; ++i) {
    const long db = table[i].rgbBlue - colour.blue, dg = table[i].rgbGreen - colour.green,
               dr = table[i].rgbRed - colour.red;
    const long d = db * db + dg * dg + dr * dr;
    if (bestDistance < 0 || d < bestDistance) {
      best = i;
      bestDistance = d;
    }
  }
  return best;
}

}  // namespace tessara
