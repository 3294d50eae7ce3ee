// The bitmap format in one place: its headers and constants, where the colour
// table, the masks and the rows of a bitmap lie (read from its header once and
// checked against the bytes present), the 16-bit mask arithmetic, and the
// 14-byte file header in front of a bitmap file.
//
// Three readers hold bitmaps to different rules, all over the same layout: the
// codec layer's decoder (files or blocks, core headers, its own messages), the
// block check that guards every pixel read of a picture block, and the
// normalisation of a block read straight from a .bmp file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace tessara {

#pragma pack(push, 1)
struct BITMAPINFOHEADER {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};

struct RGBQUAD {
  uint8_t rgbBlue;
  uint8_t rgbGreen;
  uint8_t rgbRed;
  uint8_t rgbReserved;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(RGBQUAD) == 4);

inline constexpr uint32_t BI_RGB = 0;
inline constexpr uint32_t BI_RLE8 = 1;
inline constexpr uint32_t BI_RLE4 = 2;
inline constexpr uint32_t BI_BITFIELDS = 3;

inline constexpr size_t kBmpFileHeaderBytes = 14;
inline constexpr size_t kBmpCoreHeaderBytes = 12;

// Bytes per stored row: ((width x bitCount + 31) div 32) x 4, in 64 bits.
int64_t DibRowStride(int64_t width, int bitCount);

// Bytes between a header of 40 bytes or more and the first pixel row (colour
// table and masks). Headers longer than 40 bytes carry the bit-field masks
// inside themselves.
int64_t DibColorTableBytes(const BITMAPINFOHEADER& hdr);
// Offset of the first pixel row from the start of the header.
int64_t DibBitsOffset(const BITMAPINFOHEADER& hdr);

// Where the parts of one bitmap lie in a run of bytes, all offsets from the
// start of those bytes.
struct BmpLayout {
  // The header as stored; a core header's four fields widened into it (biSize
  // 12, everything else 0).
  BITMAPINFOHEADER header{};
  bool core = false;  // a 12-byte header: 3-byte colour entries, no compression
  uint64_t headerAt = 0;
  int64_t width = 0;
  int64_t height = 0;     // made positive
  bool topDown = false;   // the header's height was negative
  int bits = 0;
  uint32_t compression = BI_RGB;  // BI_RGB for a core header
  bool runLength = false;         // BI_RLE8 or BI_RLE4, whatever the depth
  uint64_t tableAt = 0;
  int entryBytes = 4;
  // Entries the colour table takes room for: 2 at 1 bit; biClrUsed, or the
  // full 16 or 256 when it is 0, at 4 and 8 bits; none otherwise.
  int64_t tableEntries = 0;
  bool masks = false;  // 16 or 32 bits with bit-field masks (never a core header)
  uint64_t masksAt = 0;  // red, green, blue: 40 bytes into the header
  uint64_t rowsAt = 0;   // first stored row: the given offset, or right after the table
  int64_t stride = 0;
};

// Reads the header (40 bytes or longer, or a 12-byte core header) that starts
// `headerAt` bytes into `size` bytes and works out the layout. The rows start
// at `rowsAt` when given (a file header's offset), else right after the
// colour table and masks. False when the header is not all there or is neither
// kind. Nothing else is checked: the checks below hold it to their own rules.
bool ReadBmpLayout(const uint8_t* data, size_t size, uint64_t headerAt, std::optional<uint64_t> rowsAt,
                   BmpLayout& layout);

// Why a bitmap cannot be decoded; each has the decoder's own words.
enum class BmpFault {
  kNone,
  kNotABmp,                    // fewer bytes than a file header
  kBadInfo,                    // header missing or cut short, bad size or depth
  kCompressionNotSupported,    // 1, 4, 8 and 16 bits
  kUnknownCompression,         // 24 and 32 bits
  kCorrupted,                  // rows, masks or run-length data not present
};
const char* BmpFaultText(BmpFault fault);

// Depth and compression together: 1 and 24 bits uncompressed; 4 and 8 bits
// uncompressed or run-length coded at their own depth; 16 and 32 bits
// uncompressed or with masks; no other depth.
BmpFault CheckBmpCompression(const BmpLayout& layout);

// The decoder's rules for a file, or a block without a file header: header,
// size, depth, compression, and the rows (or, for run-length data, enough
// bytes for the picture's size) and masks present. Fills `layout` as far as
// it gets.
BmpFault ReadBmpForDecoding(const uint8_t* data, size_t size, BmpLayout& layout);

// The rules for a picture block (a header of 40 bytes or more at its start):
// width positive, height not 0 (a negative height counts as its size), a
// known depth and compression, masks, table and rows inside the block.
// Compressed rows are checked against biSizeImage instead of the stride.
// Reading pixels of a block that fails this is never safe.
bool ReadBlockLayout(const uint8_t* data, size_t size, BmpLayout& layout);

// The 14-byte file header: "BM", the file's size, two reserved zeros, the
// offset of the rows from the start of the file.
std::array<uint8_t, kBmpFileHeaderBytes> MakeBmpFileHeader(uint32_t fileSize, uint32_t bitsOffset);
// Reads a file header from the first `size` bytes: false when there are fewer
// than 14 or they do not begin with "BM".
bool ReadBmpFileHeader(const uint8_t* data, size_t size, uint32_t& fileSize, uint32_t& bitsOffset);

// 16-bit pixels under bit-field masks. A channel moves so that its mask's top
// bit lands on bit 7 of the byte: its bits sit at the top of the byte (5-5-5,
// 5-6-5, 4-4-4 alike). The shift is the left shift that brings the mask's top
// bit to bit 15, negative for masks wider than 16 bits; -1 for an empty mask
// of 16 bits or fewer, whose channel reads as 0.
int Mask16Shift(uint32_t mask);
inline uint8_t Mask16Channel(uint32_t pixel, uint32_t mask, int shift) {
  if (!mask) return 0;
  const uint32_t v = pixel & mask;
  return static_cast<uint8_t>((shift >= 0 ? (v << shift) >> 8 : v >> (8 - shift)) & 0xFF);
}
// The three 32-bit masks (red, green, blue) stored at `at`; the caller has
// checked that they are there.
std::array<uint32_t, 3> ReadBmpMasks(const uint8_t* data, uint64_t at);

}  // namespace tessara
