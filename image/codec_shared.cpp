// Small pieces more than one codec needs.
#include "image/codec.h"

namespace tessara {

bool AppendToWriter(ByteWriter* out, const uint8_t* data, size_t n) {
  try {
    out->Write(data, n);
    return true;
  } catch (...) {
    return false;
  }
}

void ExpandTwoBitRow(uint8_t* row, uint32_t width, bool grey) {
  size_t n = (static_cast<size_t>(width) * 2 + 7) / 8;
  unsigned scale = grey ? 5 : 1;
  for (size_t i = n; i-- > 0;) {
    unsigned b = row[i];
    unsigned p0 = (b >> 6) & 3, p1 = (b >> 4) & 3, p2 = (b >> 2) & 3, p3 = b & 3;
    row[2 * i + 1] = static_cast<uint8_t>(((p2 * scale) << 4) | (p3 * scale));
    row[2 * i] = static_cast<uint8_t>(((p0 * scale) << 4) | (p1 * scale));
  }
}

}  // namespace tessara
