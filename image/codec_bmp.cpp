// Bitmap decoder: files with or without the 14-byte file header (a block in
// memory has none), 40-byte and longer headers and 12-byte core headers,
// 1/4/8 bits uncompressed or run-length coded, 16 bits with masks, 24 and 32
// bits, rows stored bottom-up or (negative height) top-down.
#include <algorithm>
#include <cstring>

#include "image/codec.h"

namespace tessara {

namespace {

constexpr const char* kCorrupted = "Corrupted BMP file!";

// Position of the highest set bit; -1 for 0.
int TopBit(uint32_t v) {
  int n = -1;
  for (; v; v >>= 1) ++n;
  return n;
}

// Shifts left for positive n and right for negative n; what falls outside a
// byte is dropped.
inline uint8_t ShiftToByte(uint32_t v, int n) {
  if (n >= 32 || n <= -32) return 0;
  return static_cast<uint8_t>((n >= 0 ? (v << n) : (v >> -n)) & 0xFF);
}

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

}  // namespace

bool DecodeBmp(ByteReader& in, CxImage& img) {
  uint8_t fileHeader[14];
  if (!in.Read(fileHeader, 14)) {
    img.SetError("Not a BMP");
    return false;
  }
  size_t base = 0;        // where the bitmap header starts
  uint32_t bitsOffset = 0;  // from the file header, 0 when there is none
  if (fileHeader[0] == 'B' && fileHeader[1] == 'M') {
    base = 14;
    std::memcpy(&bitsOffset, fileHeader + 10, 4);
  } else {
    in.Seek(0);
  }

  BITMAPINFOHEADER h{};
  bool core = false;
  uint32_t headerSize = 0;
  if (!in.ReadU32(headerSize)) {
    img.SetError("Error reading BMP info");
    return false;
  }
  if (headerSize == 12) {
    uint16_t cw, ch, planes, bits;
    if (!in.ReadU16(cw) || !in.ReadU16(ch) || !in.ReadU16(planes) || !in.ReadU16(bits)) {
      img.SetError("Error reading BMP info");
      return false;
    }
    core = true;
    h.biSize = 12;
    h.biWidth = cw;
    h.biHeight = static_cast<int16_t>(ch);
    h.biPlanes = planes;
    h.biBitCount = bits;
  } else {
    in.Seek(base);
    if (headerSize < 40 || !in.Read(&h, 40) || !in.Seek(base + headerSize)) {
      img.SetError("Error reading BMP info");
      return false;
    }
  }

  const bool topDown = h.biHeight < 0;
  const int64_t width = h.biWidth;
  const int64_t height = topDown ? -int64_t{h.biHeight} : int64_t{h.biHeight};
  const int bits = h.biBitCount;
  if (width <= 0 || height <= 0 || (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)) {
    img.SetError("Error reading BMP info");
    return false;
  }
  const uint32_t comp = core ? BI_RGB : h.biCompression;
  switch (bits) {
    case 1:
    case 4:
    case 8:
      if (comp != BI_RGB && !(comp == BI_RLE8 && bits == 8) && !(comp == BI_RLE4 && bits == 4)) {
        img.SetError("compression type not supported");
        return false;
      }
      break;
    case 16:
      if (comp != BI_RGB && comp != BI_BITFIELDS) {
        img.SetError("compression type not supported");
        return false;
      }
      break;
    case 24:
      if (comp != BI_RGB) {
        img.SetError("unknown compression");
        return false;
      }
      break;
    case 32:
      if (comp != BI_RGB && comp != BI_BITFIELDS) {
        img.SetError("unknown compression");
        return false;
      }
      break;
  }

  // Check the rows against the bytes present before allocating anything.
  const size_t headerEnd = in.Tell();
  const int64_t fileStride = bits == 16 ? ((width + 1) / 2) * 4 : DibRowStride(width, bits);
  const uint64_t available = bitsOffset && bitsOffset <= in.Size() ? in.Size() - bitsOffset : in.Remaining();
  if (bitsOffset > in.Size()) {
    img.SetError(kCorrupted);
    return false;
  }
  const bool rle = comp == BI_RLE4 || comp == BI_RLE8;
  if (!rle) {
    if (static_cast<uint64_t>(fileStride) > available ||
        static_cast<uint64_t>(height) > available / static_cast<uint64_t>(fileStride)) {
      img.SetError(kCorrupted);
      return false;
    }
  } else if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > available * 127 + 255) {
    // A run pair gives at most 255 pixels from two bytes.
    img.SetError(kCorrupted);
    return false;
  }

  if (!img.Create(width, height, bits)) {
    img.SetError("Can't allocate memory");
    return false;
  }
  if (h.biXPelsPerMeter > 0) img.SetXDpi(DpmToDpi(h.biXPelsPerMeter));
  if (h.biYPelsPerMeter > 0) img.SetYDpi(DpmToDpi(h.biYPelsPerMeter));

  // Colour table.
  if (bits <= 8) {
    const int tableSize = 1 << bits;
    RGBQUAD* pal = img.GetPalette();
    if (core) {
      for (int i = 0; i < tableSize; ++i) {
        uint8_t bgr[3];
        if (!in.Read(bgr, 3)) break;
        pal[i] = RGBQUAD{bgr[0], bgr[1], bgr[2], 0};
      }
    } else {
      const uint32_t entries = h.biClrUsed ? h.biClrUsed : static_cast<uint32_t>(tableSize);
      // With a 40-byte header, bit-field masks would sit in front of the table;
      // only 16 and 32-bit pictures carry them.
      const uint32_t kept = std::min<uint32_t>(entries, static_cast<uint32_t>(tableSize));
      for (uint32_t i = 0; i < kept; ++i) {
        RGBQUAD q;
        if (!in.Read(&q, 4)) break;
        q.rgbReserved = 0;
        pal[i] = q;
      }
    }
  }

  // Masks for 16 bits: 40 bytes into the header, whatever its length.
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (bits == 16 && comp == BI_BITFIELDS) {
    ByteReader m(in.Data(), in.Size());
    if (!m.Seek(base + 40) || !m.ReadU32(masks[0]) || !m.ReadU32(masks[1]) || !m.ReadU32(masks[2])) {
      img.SetError(kCorrupted);
      img.Destroy();
      return false;
    }
  }

  size_t rowsAt = headerEnd;
  if (bitsOffset) {
    rowsAt = bitsOffset;
  } else if (!core) {
    // No file header: the rows follow the masks and colour table.
    BITMAPINFOHEADER probe = h;
    probe.biSize = headerSize;
    rowsAt = base + static_cast<size_t>(DibBitsOffset(probe));
  } else if (bits <= 8) {
    rowsAt = headerEnd + 3 * (size_t{1} << bits);
  }
  if (!in.Seek(rowsAt)) {
    img.SetError(kCorrupted);
    img.Destroy();
    return false;
  }

  const int w = static_cast<int>(width), hgt = static_cast<int>(height);
  const size_t stride = img.GetEffWidth();
  if (rle) {
    std::memset(img.GetBits(0), 0, stride * static_cast<size_t>(hgt));
    ExpandRle(in, img, comp == BI_RLE4);
  } else {
    for (int y = 0; y < hgt; ++y) {
      const uint8_t* src = in.Current();
      if (in.Remaining() < static_cast<size_t>(fileStride)) {
        img.SetError(kCorrupted);
        img.Destroy();
        return false;
      }
      uint8_t* dst = img.GetBits(y);
      switch (bits) {
        case 1:
        case 4:
        case 8:
        case 24: std::memcpy(dst, src, stride); break;
        case 16: {
          // Each channel moves by its own mask so that the mask's top bit
          // lands on bit 7: its bits sit at the top of the byte (5-5-5, 5-6-5,
          // 4-4-4 alike); an empty mask gives 0.
          const int shiftR = 7 - TopBit(masks[0]), shiftG = 7 - TopBit(masks[1]), shiftB = 7 - TopBit(masks[2]);
          for (int x = 0; x < w; ++x) {
            const uint32_t v = src[2 * x] | (src[2 * x + 1] << 8);
            dst[3 * x] = masks[2] ? ShiftToByte(v & masks[2], shiftB) : 0;
            dst[3 * x + 1] = masks[1] ? ShiftToByte(v & masks[1], shiftG) : 0;
            dst[3 * x + 2] = masks[0] ? ShiftToByte(v & masks[0], shiftR) : 0;
          }
          break;
        }
        case 32:
          for (int x = 0; x < w; ++x) {
            dst[3 * x] = src[4 * x];
            dst[3 * x + 1] = src[4 * x + 1];
            dst[3 * x + 2] = src[4 * x + 2];
          }
          break;
      }
      in.Skip(static_cast<size_t>(fileStride));
      if (!KeepDecoding(img, static_cast<uint64_t>(y) + 1, static_cast<uint64_t>(hgt))) {
        img.Destroy();
        return false;
      }
    }
  }
  if (topDown) img.Flip();
  return true;
}

// The 14-byte file header in front of the picture as held.
bool EncodeBmpHeader(ByteWriter& out, CxImage& img) {
  const uint64_t fileSize = 14 + uint64_t{img.GetDibSize()};
  if (fileSize > 0xFFFFFFFFu) {
    img.SetError("BMP file too large");
    return false;
  }
  out.PutU8('B');
  out.PutU8('M');
  out.PutU32(static_cast<uint32_t>(fileSize));
  out.PutU32(0);
  out.PutU32(14 + 40 + 4 * static_cast<uint32_t>(img.GetNumColors()));
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
