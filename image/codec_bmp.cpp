// Bitmap decoder: files with or without the 14-byte file header (a block in
// memory has none), 40-byte and longer headers and 12-byte core headers,
// 1/4/8 bits uncompressed or run-length coded, 16 bits with masks, 24 and 32
// bits, rows stored bottom-up or (negative height) top-down. The layout and
// every check of it against the bytes present come from image/bmp_layout.h;
// past that, nothing here can read outside the data.
#include <algorithm>
#include <cstring>

#include "image/codec.h"

namespace tessara {

namespace {

// Expands run-length data into the (cleared) indexed picture. The position moves
// along stored rows from the bottom; anything falling outside the picture is
// dropped. Input that ends before the end-of-picture mark ends the picture.
void ExpandRle(ByteReader& in, CxImage& img, bool four) {
  const int w = img.GetWidth(), h = img.GetHeight();
  int x = 0, y = 0;
  auto put = [&](uint8_t index) {
    if (x < w && y < h) img.SetPixelIndex(x, y, index);
    ++x;
  };
  uint8_t a, b;
  while (y < h && in.ReadU8(a) && in.ReadU8(b)) {
    if (a > 0) {
      for (int i = 0; i < a && x < w; ++i) put(four ? ((i & 1) ? (b & 0x0F) : (b >> 4)) : b);
      continue;
    }
    if (b == 0) {  // end of row
      x = 0;
      ++y;
    } else if (b == 1) {  // end of picture
      break;
    } else if (b == 2) {  // move
      uint8_t dx, dy;
      if (!in.ReadU8(dx) || !in.ReadU8(dy)) break;
      x += dx;
      y += dy;
    } else {  // b literal values, padded to an even number of bytes
      const int bytes = four ? (b + 1) / 2 : b;
      const uint8_t* p = in.Current();
      const int have = static_cast<int>(std::min<size_t>(in.Remaining(), static_cast<size_t>(bytes)));
      for (int i = 0; i < b; ++i) {
        const int byteIndex = four ? i / 2 : i;
        if (byteIndex >= have) break;
        const uint8_t v = p[byteIndex];
        put(four ? ((i & 1) ? (v & 0x0F) : (v >> 4)) : v);
      }
      if (!in.Skip(static_cast<size_t>(bytes + (bytes & 1)))) break;
    }
  }
}

// The colour table into the picture's full table: 3-byte entries of a core
// header widened, 4-byte entries with their reserved byte cleared. A table cut
// short leaves the rest black; entries beyond the depth are not read.
void ReadPalette(const uint8_t* data, size_t size, const BmpLayout& layout, CxImage& img) {
  const int tableSize = 1 << layout.bits;
  // A core header's table always has 2^bits entries; biClrUsed, when set,
  // counts the others'.
  const uint32_t clrUsed = layout.header.biClrUsed;
  const uint64_t entries =
      layout.core ? uint64_t(tableSize) : std::min<uint64_t>(clrUsed ? clrUsed : uint64_t(tableSize), uint64_t(tableSize));
  const size_t step = static_cast<size_t>(layout.entryBytes);
  RGBQUAD* pal = img.GetPalette();
  for (uint64_t i = 0; i < entries; ++i) {
    const uint64_t at = layout.tableAt + i * step;
    if (at > size || size - at < step) break;
    const uint8_t* e = data + at;
    pal[i] = RGBQUAD{e[0], e[1], e[2], 0};
  }
}

// One stored row of an uncompressed file into the picture's row.
void ConvertRow(const uint8_t* src, uint8_t* dst, size_t stride, const BmpLayout& layout,
                const uint32_t masks[3], const int shifts[3]) {
  const int w = static_cast<int>(layout.width);
  switch (layout.bits) {
    case 16:
      for (int x = 0; x < w; ++x) {
        const uint32_t v = src[2 * x] | (src[2 * x + 1] << 8);
        dst[3 * x] = Mask16Channel(v, masks[2], shifts[2]);
        dst[3 * x + 1] = Mask16Channel(v, masks[1], shifts[1]);
        dst[3 * x + 2] = Mask16Channel(v, masks[0], shifts[0]);
      }
      break;
    case 32:
      for (int x = 0; x < w; ++x) {
        dst[3 * x] = src[4 * x];
        dst[3 * x + 1] = src[4 * x + 1];
        dst[3 * x + 2] = src[4 * x + 2];
      }
      break;
    default: std::memcpy(dst, src, stride); break;
  }
}

// The rows of an uncompressed file, whose presence the layout check made sure
// of. False when the decode is stopped.
bool ReadRows(const uint8_t* data, const BmpLayout& layout, CxImage& img) {
  // 16 bits: masks red, green, blue, from the header when it has them.
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (layout.bits == 16 && layout.masks) {
    const std::array<uint32_t, 3> m = ReadBmpMasks(data, layout.masksAt);
    std::copy(m.begin(), m.end(), masks);
  }
  const int shifts[3] = {Mask16Shift(masks[0]), Mask16Shift(masks[1]), Mask16Shift(masks[2])};
  const int hgt = static_cast<int>(layout.height);
  const size_t stride = img.GetEffWidth();
  const size_t fileStride = static_cast<size_t>(layout.stride);
  for (int y = 0; y < hgt; ++y) {
    ConvertRow(data + layout.rowsAt + static_cast<size_t>(y) * fileStride, img.GetBits(y), stride, layout, masks,
               shifts);
    if (!KeepDecoding(img, static_cast<uint64_t>(y) + 1, static_cast<uint64_t>(hgt))) return false;
  }
  return true;
}

}  // namespace

bool DecodeBmp(ByteReader& in, CxImage& img) {
  BmpLayout layout;
  const BmpFault fault = ReadBmpForDecoding(in.Data(), in.Size(), layout);
  if (fault != BmpFault::kNone) {
    img.SetError(BmpFaultText(fault));
    return false;
  }
  if (!img.Create(layout.width, layout.height, layout.bits)) {
    img.SetError(img.WithCreateRefusal("Can't allocate memory").c_str());
    return false;
  }
  const BITMAPINFOHEADER& h = layout.header;
  if (h.biXPelsPerMeter > 0) img.SetXDpi(DpmToDpi(h.biXPelsPerMeter));
  if (h.biYPelsPerMeter > 0) img.SetYDpi(DpmToDpi(h.biYPelsPerMeter));
  if (layout.bits <= 8) ReadPalette(in.Data(), in.Size(), layout, img);

  if (layout.runLength) {
    std::memset(img.GetBits(0), 0, img.GetEffWidth() * static_cast<size_t>(layout.height));
    ByteReader rows(in.Data(), in.Size());
    rows.Seek(static_cast<size_t>(layout.rowsAt));
    ExpandRle(rows, img, layout.compression == BI_RLE4);
  } else if (!ReadRows(in.Data(), layout, img)) {
    img.Destroy();
    return false;
  }
  if (layout.topDown) img.Flip();
  return true;
}

// The 14-byte file header in front of the picture as held.
bool EncodeBmpHeader(ByteWriter& out, CxImage& img) {
  const uint64_t fileSize = 14 + uint64_t{img.GetDibSize()};
  if (fileSize > 0xFFFFFFFFu) {
    img.SetError("BMP file too large");
    return false;
  }
  const auto header = MakeBmpFileHeader(static_cast<uint32_t>(fileSize),
                                        14 + 40 + 4 * static_cast<uint32_t>(img.GetNumColors()));
  out.Write(header.data(), header.size());
  return true;
}

// Writes the picture as a bitmap file: file header, 40-byte header, the full
// colour table and the rows as held.
bool EncodeBmp(ByteWriter& out, CxImage& img) {
  out.Reserve(14 + img.GetDibSize());
  if (!EncodeBmpHeader(out, img)) return false;
  out.Write(img.GetDib(), img.GetDibSize());
  return true;
}

}  // namespace tessara
