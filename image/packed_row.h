// Pixels of rows with 1 or 4 bits a pixel, packed most significant bits
// first (pixel 0 of a 1-bit row is bit 7 of byte 0, pixel 0 of a 4-bit row the
// high nibble of byte 0), as bitmaps and every codec here store them.
#pragma once

#include <cstdint>

namespace tessara {

template <typename X>
inline uint8_t PackedBit(const uint8_t* row, X x) {
  return static_cast<uint8_t>((row[x >> 3] >> (7 - (x & 7))) & 1);
}

template <typename X>
inline uint8_t PackedNibble(const uint8_t* row, X x) {
  return (x & 1) ? static_cast<uint8_t>(row[x >> 1] & 0x0F) : static_cast<uint8_t>(row[x >> 1] >> 4);
}

// The colour index of pixel x in a row of 1, 4 or 8 bits a pixel (0 for
// other depths).
template <typename X>
inline uint8_t PackedIndex(const uint8_t* row, X x, int bits) {
  switch (bits) {
    case 1: return PackedBit(row, x);
    case 4: return PackedNibble(row, x);
    case 8: return row[x];
    default: return 0;
  }
}

// The setters leave the row's other pixels alone.
template <typename X>
inline void SetPackedBit(uint8_t* row, X x, bool set) {
  const uint8_t mask = static_cast<uint8_t>(0x80 >> (x & 7));
  row[x >> 3] = set ? static_cast<uint8_t>(row[x >> 3] | mask) : static_cast<uint8_t>(row[x >> 3] & ~mask);
}

template <typename X>
inline void SetPackedNibble(uint8_t* row, X x, unsigned index) {
  uint8_t& b = row[x >> 1];
  b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (index & 0x0F)) : static_cast<uint8_t>((b & 0x0F) | (index << 4));
}

template <typename X>
inline void SetPackedIndex(uint8_t* row, X x, int bits, unsigned index) {
  switch (bits) {
    case 1: SetPackedBit(row, x, index & 1); break;
    case 4: SetPackedNibble(row, x, index); break;
    case 8: row[x] = static_cast<uint8_t>(index); break;
    default: break;
  }
}

}  // namespace tessara
