// The bitmap format: reading a header into a layout, the rules each reader holds
// a layout to, the file header, and the 16-bit mask arithmetic.
#include "image/bmp_layout.h"

#include <cstring>

#include "image/bytes.h"

namespace tessara {

namespace {

// Reads the header into layout.header; false when it is not all there.
bool ReadHeader(const uint8_t* data, uint64_t size, uint64_t at, BmpLayout& layout) {
  if (at > size || size - at < 4) return false;
  const uint8_t* p = data + at;
  const uint32_t headerSize = LoadU32(p);
  BITMAPINFOHEADER& h = layout.header;
  h = BITMAPINFOHEADER{};
  if (headerSize == kBmpCoreHeaderBytes) {
    if (size - at < kBmpCoreHeaderBytes) return false;
    layout.core = true;
    h.biSize = kBmpCoreHeaderBytes;
    h.biWidth = LoadU16(p + 4);
    h.biHeight = static_cast<int16_t>(LoadU16(p + 6));
    h.biPlanes = LoadU16(p + 8);
    h.biBitCount = LoadU16(p + 10);
    return true;
  }
  if (headerSize < sizeof(BITMAPINFOHEADER) || size - at < headerSize) return false;
  layout.core = false;
  std::memcpy(&h, p, sizeof h);
  return true;
}

}  // namespace

int64_t DibRowStride(int64_t width, int bitCount) { return ((width * bitCount + 31) / 32) * 4; }

int64_t DibColorTableBytes(const BITMAPINFOHEADER& hdr) {
  switch (hdr.biBitCount) {
    case 1: return 8;
    case 4: return hdr.biClrUsed ? 4 * int64_t{hdr.biClrUsed} : 64;
    case 8: return hdr.biClrUsed ? 4 * int64_t{hdr.biClrUsed} : 1024;
    case 16:
    case 32:
      // A 40-byte header is followed by the three masks; longer headers hold
      // them inside themselves.
      return hdr.biCompression == BI_BITFIELDS && hdr.biSize == 40 ? 12 : 0;
    default: return 0;
  }
}

int64_t DibBitsOffset(const BITMAPINFOHEADER& hdr) { return int64_t{hdr.biSize} + DibColorTableBytes(hdr); }

bool ReadBmpLayout(const uint8_t* data, size_t size, uint64_t headerAt, std::optional<uint64_t> rowsAt,
                   BmpLayout& layout) {
  layout = BmpLayout{};
  layout.headerAt = headerAt;
  if (!ReadHeader(data, size, headerAt, layout)) return false;
  const BITMAPINFOHEADER& h = layout.header;
  layout.width = h.biWidth;
  layout.topDown = h.biHeight < 0;
  layout.height = layout.topDown ? -int64_t{h.biHeight} : int64_t{h.biHeight};
  layout.bits = h.biBitCount;
  layout.compression = h.biCompression;
  layout.runLength = h.biCompression == BI_RLE8 || h.biCompression == BI_RLE4;
  layout.stride = DibRowStride(layout.width, layout.bits);
  layout.masks = !layout.core && (layout.bits == 16 || layout.bits == 32) && h.biCompression == BI_BITFIELDS;
  if (layout.masks) layout.masksAt = headerAt + 40;
  // A core header's table has 3-byte entries, always as many as the depth
  // allows; biClrUsed is 0 there.
  layout.entryBytes = layout.core ? 3 : 4;
  if (layout.bits == 1) layout.tableEntries = 2;
  else if (layout.bits == 4) layout.tableEntries = h.biClrUsed ? int64_t{h.biClrUsed} : 16;
  else if (layout.bits == 8) layout.tableEntries = h.biClrUsed ? int64_t{h.biClrUsed} : 256;
  // Masks follow a 40-byte header and sit inside longer ones.
  layout.tableAt = headerAt + h.biSize + (h.biSize == 40 && layout.masks ? 12 : 0);
  layout.rowsAt = rowsAt ? *rowsAt
                         : layout.tableAt + static_cast<uint64_t>(layout.tableEntries) * layout.entryBytes;
  return true;
}

const char* BmpFaultText(BmpFault fault) {
  switch (fault) {
    case BmpFault::kNone: return "";
    case BmpFault::kNotABmp: return "Not a BMP";
    case BmpFault::kBadInfo: return "Error reading BMP info";
    case BmpFault::kCompressionNotSupported: return "compression type not supported";
    case BmpFault::kUnknownCompression: return "unknown compression";
    case BmpFault::kCorrupted: return "Corrupted BMP file!";
  }
  return "";
}

BmpFault CheckBmpCompression(const BmpLayout& layout) {
  const int bits = layout.bits;
  const uint32_t comp = layout.compression;
  switch (bits) {
    case 1:
    case 4:
    case 8:
      if (comp != BI_RGB && !(comp == BI_RLE8 && bits == 8) && !(comp == BI_RLE4 && bits == 4))
        return BmpFault::kCompressionNotSupported;
      return BmpFault::kNone;
    case 16: return comp == BI_RGB || comp == BI_BITFIELDS ? BmpFault::kNone : BmpFault::kCompressionNotSupported;
    case 24: return comp == BI_RGB ? BmpFault::kNone : BmpFault::kUnknownCompression;
    case 32: return comp == BI_RGB || comp == BI_BITFIELDS ? BmpFault::kNone : BmpFault::kUnknownCompression;
    default: return BmpFault::kBadInfo;
  }
}

BmpFault ReadBmpForDecoding(const uint8_t* data, size_t size, BmpLayout& layout) {
  layout = BmpLayout{};
  uint32_t fileSize = 0, bitsOffset = 0;
  if (size < kBmpFileHeaderBytes) return BmpFault::kNotABmp;
  // Without "BM" there is no file header: a block in memory starts with its
  // header. A file header's offset of 0 leaves the rows after the table.
  const bool file = ReadBmpFileHeader(data, size, fileSize, bitsOffset);
  std::optional<uint64_t> rowsAt;
  if (file && bitsOffset) rowsAt = bitsOffset;
  if (!ReadBmpLayout(data, size, file ? kBmpFileHeaderBytes : 0, rowsAt, layout)) return BmpFault::kBadInfo;
  if (layout.width <= 0 || layout.height <= 0) return BmpFault::kBadInfo;
  if (const BmpFault fault = CheckBmpCompression(layout); fault != BmpFault::kNone) return fault;

  // Everything the pixels need must be present before anything is allocated.
  if (layout.rowsAt > size) return BmpFault::kCorrupted;
  if (layout.runLength) {
    // Run-length data only has to be able to cover the picture: a run pair
    // gives at most 255 pixels from two bytes. Unless a file header places the
    // rows, the bytes are counted from the end of the header.
    const uint64_t from = rowsAt ? layout.rowsAt : layout.headerAt + layout.header.biSize;
    const uint64_t available = size - from;
    if (static_cast<uint64_t>(layout.width) * static_cast<uint64_t>(layout.height) > available * 127 + 255)
      return BmpFault::kCorrupted;
  } else {
    const uint64_t available = size - layout.rowsAt;
    const uint64_t stride = static_cast<uint64_t>(layout.stride);
    if (stride > available || static_cast<uint64_t>(layout.height) > available / stride) return BmpFault::kCorrupted;
  }
  // Only 16-bit pictures read their masks; 32-bit pixels take their first
  // three bytes whatever the masks say.
  if (layout.masks && layout.bits == 16 && (layout.masksAt > size || size - layout.masksAt < 12))
    return BmpFault::kCorrupted;
  return BmpFault::kNone;
}

bool ReadBlockLayout(const uint8_t* data, size_t size, BmpLayout& layout) {
  if (!ReadBmpLayout(data, size, 0, std::nullopt, layout) || layout.core) return false;
  const BITMAPINFOHEADER& h = layout.header;
  // A negative height (rows stored top first in other programs) is taken as
  // bottom-up rows like any other; only its size matters here.
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return false;
  if (CheckBmpCompression(layout) != BmpFault::kNone) return false;
  if (layout.masks && (layout.masksAt > size || size - layout.masksAt < 12)) return false;
  if (layout.rowsAt > size) return false;
  const uint64_t room = size - layout.rowsAt;
  if (layout.runLength) return h.biSizeImage <= room;
  const uint64_t stride = static_cast<uint64_t>(layout.stride);
  return stride <= room && static_cast<uint64_t>(layout.height) <= room / stride;
}

std::array<uint8_t, kBmpFileHeaderBytes> MakeBmpFileHeader(uint32_t fileSize, uint32_t bitsOffset) {
  std::array<uint8_t, kBmpFileHeaderBytes> out{};
  out[0] = 'B';
  out[1] = 'M';
  StoreU32(&out[2], fileSize);
  StoreU32(&out[10], bitsOffset);
  return out;
}

bool ReadBmpFileHeader(const uint8_t* data, size_t size, uint32_t& fileSize, uint32_t& bitsOffset) {
  if (size < kBmpFileHeaderBytes || data[0] != 'B' || data[1] != 'M') return false;
  fileSize = LoadU32(data + 2);
  bitsOffset = LoadU32(data + 10);
  return true;
}

int Mask16Shift(uint32_t mask) {
  if (!mask) return -1;
  int top = 31;
  while (!(mask & (uint32_t{1} << top))) --top;
  return 15 - top;
}

std::array<uint32_t, 3> ReadBmpMasks(const uint8_t* data, uint64_t at) {
  return {LoadU32(data + at), LoadU32(data + at + 4), LoadU32(data + at + 8)};
}

}  // namespace tessara
