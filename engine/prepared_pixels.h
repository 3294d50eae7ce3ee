// Reading the pixels of a prepared copy (1, 4, 8 or 24 bits) straight from its
// rows: the colour of a pixel, through the colour table where it has one.
#pragma once

#include <cstdint>

#include "image/dib.h"
#include "image/packed_row.h"

namespace tessara {

class PreparedPixels {
 public:
  explicit PreparedPixels(const Dib& copy) : m_copy(copy), m_nDepth(copy.BitCount()) {}
  bool Readable() const { return m_nDepth == 1 || m_nDepth == 4 || m_nDepth == 8 || m_nDepth == 24; }
  const uint8_t* Row(int y) const { return m_copy.Row(y); }
  // Blue, green and red of pixel x of `row`.
  void Colour(const uint8_t* row, int x, uint8_t out[3]) const {
    if (m_nDepth == 24) {
      const uint8_t* p = row + 3 * static_cast<size_t>(x);
      out[0] = p[0], out[1] = p[1], out[2] = p[2];
      return;
    }
    const RGBQUAD& q = m_copy.ColorTable()[PackedIndex(row, x, m_nDepth)];
    out[0] = q.rgbBlue, out[1] = q.rgbGreen, out[2] = q.rgbRed;
  }
  // A black-and-white copy's pixel: a set bit is white.
  static bool White(const uint8_t* row, int x) { return PackedBit(row, x) != 0; }

 private:
  const Dib& m_copy;
  int m_nDepth;
};

}  // namespace tessara
