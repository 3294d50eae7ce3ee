// ZSoft PCX files: 1, 2, 4 and 8 bits in one plane, 1 bit in up to four planes,
// and three planes of 8 bits, all run-length coded. Pictures are written as one
// plane of 8 bits, three of 8 bits (24-bit pictures) or one or four planes of 1
// bit.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "image/codec.h"
#include "image/packed_row.h"

namespace tessara {

namespace {

constexpr size_t kHeaderSize = 128;
constexpr uint8_t kPaletteMarker = 12;
// The largest repeat count a run-length byte can carry.
constexpr size_t kMaxRun = 63;

// Clears the bits of the last byte of a packed row that lie beyond the picture,
// so the row padding stays clean whatever the file had there.
void ClearTail(uint8_t* row, size_t width, int bits) {
  size_t usedBits = width * static_cast<size_t>(bits);
  if (usedBits % 8) row[usedBits / 8] &= static_cast<uint8_t>(0xFF00 >> (usedBits % 8));
}

// Run-length decoding of the whole picture into `buffer`. Runs may cross line
// ends, not the end of the picture.
bool ExpandRunLength(ByteReader& in, std::vector<uint8_t>& buffer, CxImage& img) {
  const uint8_t* p = in.Current();
  const uint8_t* end = p + in.Remaining();
  uint8_t* o = buffer.data();
  uint8_t* const oEnd = o + buffer.size();
  while (o < oEnd) {
    if (p == end) return Fail(img, "corrupted PCX");
    uint8_t b = *p++;
    if ((b & 0xC0) == 0xC0) {
      size_t count = b & 0x3F;
      if (count > static_cast<size_t>(oEnd - o)) return Fail(img, "repeat count spans end of image");
      if (p == end) return Fail(img, "corrupted PCX");
      std::memset(o, *p++, count);
      o += count;
    } else {
      *o++ = b;
    }
  }
  in.Skip(static_cast<size_t>(p - in.Current()));
  return true;
}

// Colour table: the header's 16 entries, the 256 after the data for 8-bit
// pictures, plain black and white for one plane of one bit.
bool ReadPalette(ByteReader& in, const uint8_t* h, int bits, int planes, CxImage& img) {
  RGBQUAD pal[256] = {};
  for (int i = 0; i < 16; ++i) pal[i] = RGBQUAD{h[16 + 3 * i + 2], h[16 + 3 * i + 1], h[16 + 3 * i], 0};
  if (bits == 8 && planes == 1) {
    uint8_t marker;
    if (!in.ReadU8(marker)) return Fail(img, "corrupted PCX");
    if (marker != kPaletteMarker) return Fail(img, "bad color map signature");
    uint8_t map[768];
    if (!in.Read(map, sizeof map)) return Fail(img, "corrupted PCX");
    for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{map[3 * i + 2], map[3 * i + 1], map[3 * i], 0};
  } else if (bits == 1 && planes == 1) {
    pal[0] = RGBQUAD{0, 0, 0, 0};
    pal[1] = RGBQUAD{255, 255, 255, 0};
  }
  std::copy(pal, pal + img.GetNumColors(), img.GetPalette());
  return true;
}

// Turns one line of the file (its planes one after another) into a row of the
// picture.
void ConvertLine(const uint8_t* line, uint8_t* row, size_t w, int bits, int planes, size_t bytesPerLine) {
  const bool rgb = planes == 3 && bits == 8;
  if (rgb) {
    const uint8_t* r = line;
    const uint8_t* g = line + bytesPerLine;
    const uint8_t* b = line + 2 * bytesPerLine;
    for (size_t x = 0; x < w; ++x, row += 3) {
      row[0] = b[x];
      row[1] = g[x];
      row[2] = r[x];
    }
  } else if (planes == 1) {
    switch (bits) {
      case 8:
        std::memcpy(row, line, w);
        break;
      case 4:
      case 1:
        // Same packing as the picture's rows.
        std::memcpy(row, line, (w * bits + 7) / 8);
        ClearTail(row, w, bits);
        break;
      case 2:
        for (size_t x = 0; x < w; ++x) SetPackedNibble(row, x, (line[x >> 2] >> (6 - 2 * (x & 3))) & 3);
        break;
    }
  } else {
    // Bit i of each index comes from plane i; eight pixels share one byte
    // of each plane.
    for (size_t x0 = 0; x0 < w; x0 += 8) {
      uint8_t bytes[4] = {0, 0, 0, 0};
      for (int i = 0; i < planes; ++i) bytes[i] = line[i * bytesPerLine + (x0 >> 3)];
      const size_t n = std::min<size_t>(8, w - x0);
      for (size_t k = 0; k < n; ++k) {
        const int shift = 7 - static_cast<int>(k);
        const unsigned index = ((bytes[0] >> shift) & 1u) | (((bytes[1] >> shift) & 1u) << 1) |
                               (((bytes[2] >> shift) & 1u) << 2) | (((bytes[3] >> shift) & 1u) << 3);
        SetPackedNibble(row, x0 + k, index);
      }
    }
  }
}

bool Decode(ByteReader& in, CxImage& img) {
  uint8_t h[kHeaderSize];
  if (!in.Read(h, sizeof h)) return Fail(img, "Can't read PCX image");
  if (h[0] != 10) return Fail(img, "Error: Not a PCX file");
  if (h[2] != 1) return Fail(img, "PCX file has unknown encoding scheme");

  const int bits = h[3];
  const int64_t width = static_cast<int64_t>(LoadU16(h + 8)) - LoadU16(h + 4) + 1;
  const int64_t height = static_cast<int64_t>(LoadU16(h + 10)) - LoadU16(h + 6) + 1;
  const int dpiX = LoadU16(h + 12), dpiY = LoadU16(h + 14);
  const int planes = h[65];
  const size_t bytesPerLine = LoadU16(h + 66);

  if (planes > 4) return Fail(img, "Can't handle image with more than 4 planes");
  // A window whose end lies before its start, or no planes at all, describes no
  // picture.
  if (width <= 0 || height <= 0 || planes == 0) return Fail(img, "corrupted PCX");

  const bool rgb = planes == 3 && bits == 8;
  int depth;
  if (rgb) {
    depth = 24;
  } else if (planes > 1) {
    if (bits != 1) return Fail(img, "Can't handle more than 1 bit per pixel");
    // Two to four planes of one bit give indices up to 15: a 4-bit picture holds
    // them all.
    depth = 4;
  } else {
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8) return Fail(img, "Unsupported PCX bits per pixel");
    depth = bits;
  }

  // Each plane line must hold the whole width, or the rows would read beyond it.
  const uint64_t lineBits = static_cast<uint64_t>(width) * (planes > 1 ? (rgb ? 8 : 1) : bits);
  if (bytesPerLine < (lineBits + 7) / 8) return Fail(img, "corrupted PCX");

  // The run-length data cannot expand to more than 63 bytes for every two bytes
  // of the file: refuse sizes the file cannot fill before allocating for them.
  const uint64_t bufferSize = static_cast<uint64_t>(planes) * bytesPerLine * static_cast<uint64_t>(height);
  const uint64_t remaining = in.Remaining();
  if (bufferSize > remaining / 2 * kMaxRun + remaining % 2) return Fail(img, "corrupted PCX");

  if (!img.Create(width, height, depth)) return false;
  if (dpiX) img.SetXDpi(dpiX);
  if (dpiY) img.SetYDpi(dpiY);
  if (!img.WorkingMemoryFits(bufferSize, "CxImage::Create can't allocate memory")) return false;
  std::vector<uint8_t> buffer(static_cast<size_t>(bufferSize));

  if (!ExpandRunLength(in, buffer, img) || !ReadPalette(in, h, bits, planes, img)) return false;

  const size_t w = static_cast<size_t>(width);
  const size_t lineStep = static_cast<size_t>(planes) * bytesPerLine;
  for (int64_t j = 0; j < height; ++j) {
    if (!KeepDecoding(img, static_cast<uint64_t>(j), static_cast<uint64_t>(height))) return false;
    ConvertLine(buffer.data() + static_cast<size_t>(j) * lineStep, img.GetBits(static_cast<int>(height - 1 - j)), w,
                bits, planes, bytesPerLine);
  }
  return true;
}


// Run-length codes one line: runs of up to 63 equal bytes as a count byte and
// the value; single bytes as themselves, unless they look like a count byte.
// Writes at most 2 x n bytes at `out` and returns the end. Out of line: one
// copy serves the lines of every depth (inlined into each, it cost more).
[[gnu::noinline]] uint8_t* EncodeLine(const uint8_t* src, size_t n, uint8_t* out) {
  size_t i = 0;
  while (i < n) {
    const uint8_t v = src[i];
    size_t run = 1;
    while (run < kMaxRun && i + run < n && src[i + run] == v) ++run;
    if (run > 1 || v >= 0xC0) *out++ = static_cast<uint8_t>(0xC0 | run);
    *out++ = v;
    i += run;
  }
  return out;
}

// Brightness of a colour-table entry, for deciding which of two colours is the
// darker one.
int Brightness(const RGBQUAD& q) { return (117 * q.rgbBlue + 601 * q.rgbGreen + 306 * q.rgbRed) / 1024; }

// How a picture's rows become lines of the file.
struct LineLayout {
  int bpp;
  size_t width;
  int height;
  bool packed;  // 1- and 4-bit pictures: planes of one bit
  int planes;
  size_t bytesPerLine;  // of each plane, always even
};

LineLayout PlanLines(const CxImage& img) {
  LineLayout l;
  l.bpp = img.GetBpp();
  l.width = static_cast<size_t>(img.GetWidth());
  l.height = img.GetHeight();
  l.packed = l.bpp == 1 || l.bpp == 4;
  l.planes = l.bpp == 24 ? 3 : l.bpp == 4 ? 4 : 1;
  l.bytesPerLine = l.packed ? (l.width + 7) / 8 : l.width;
  l.bytesPerLine += l.bytesPerLine & 1;
  return l;
}

// The 128-byte header, with the 16-entry colour table of 4-bit pictures (and
// white as entry 1 of 1-bit ones).
void FillHeader(const CxImage& img, const LineLayout& l, uint8_t* h) {
  h[0] = 10;  // ZSoft
  h[1] = 5;   // version 3.0 and later
  h[2] = 1;   // run-length coded
  h[3] = l.packed ? 1 : 8;
  StoreU16(h + 8, static_cast<uint16_t>(l.width - 1));
  StoreU16(h + 10, static_cast<uint16_t>(l.height - 1));
  StoreU16(h + 12, static_cast<uint16_t>(std::clamp(img.m_nXDpi, 0, 0xFFFF)));
  StoreU16(h + 14, static_cast<uint16_t>(std::clamp(img.m_nYDpi, 0, 0xFFFF)));
  const RGBQUAD* pal = img.GetPalette();
  if (l.bpp == 1) {
    std::memset(h + 19, 255, 3);
  } else if (l.bpp == 4) {
    for (int i = 0; i < 16; ++i) {
      h[16 + 3 * i] = pal[i].rgbRed;
      h[16 + 3 * i + 1] = pal[i].rgbGreen;
      h[16 + 3 * i + 2] = pal[i].rgbBlue;
    }
  }
  h[65] = static_cast<uint8_t>(l.planes);
  StoreU16(h + 66, static_cast<uint16_t>(l.bytesPerLine));
  StoreU16(h + 68, img.GetNumColors() == 0 ? 1 : 0);
}

// Run-length codes lines straight into the writer's memory, through one
// buffer of coded bytes.
class LineCoder {
 public:
  LineCoder(ByteWriter& out, const LineLayout& l)
      : m_out(out), m_bPadOdd(!l.packed), m_nBytesPerLine(l.bytesPerLine), m_coded(2 * l.bytesPerLine + 2) {}
  void Put(const uint8_t* line, size_t n) {
    uint8_t* const coded = m_coded.data();
    uint8_t* end = EncodeLine(line, n, coded);
    // Odd 8- and 24-bit lines are padded to the even line length with a 0.
    if (m_bPadOdd && n < m_nBytesPerLine) *end++ = 0;
    m_out.Write(coded, static_cast<size_t>(end - coded));
  }

 private:
  ByteWriter& m_out;
  bool m_bPadOdd;
  size_t m_nBytesPerLine;
  std::vector<uint8_t> m_coded;
};

// A 24-bit row as its red, green and blue planes.
void PutRgbRow(const uint8_t* row, size_t width, uint8_t* plane, LineCoder& lines) {
  for (int c = 2; c >= 0; --c) {
    for (size_t x = 0; x < width; ++x) plane[x] = row[3 * x + c];
    lines.Put(plane, width);
  }
}

// A 1-bit row, inverted when asked, with the bits beyond the picture clear.
void PutMonoRow(const uint8_t* row, const LineLayout& l, bool invert, std::vector<uint8_t>& plane,
                LineCoder& lines) {
  const size_t used = (l.width + 7) / 8;
  std::memcpy(plane.data(), row, used);
  if (invert)
    for (size_t k = 0; k < used; ++k) plane[k] = static_cast<uint8_t>(~plane[k]);
  std::fill(plane.begin() + static_cast<std::ptrdiff_t>(used), plane.end(), 0);
  ClearTail(plane.data(), l.width, 1);
  lines.Put(plane.data(), l.bytesPerLine);
}

// A 4-bit row as four planes: bit k of every index goes to plane k, eight
// pixels to a byte.
void PutPlanarRow(const uint8_t* row, const LineLayout& l, std::vector<uint8_t>& plane, LineCoder& lines) {
  const size_t bytesPerLine = l.bytesPerLine;
  std::fill(plane.begin(), plane.end(), 0);
  for (size_t x = 0; x < l.width; ++x) {
    const unsigned index = PackedNibble(row, x);
    const unsigned bit = 0x80u >> (x & 7);
    uint8_t* p = plane.data() + (x >> 3);
    if (index & 1) p[0] |= bit;
    if (index & 2) p[bytesPerLine] |= bit;
    if (index & 4) p[2 * bytesPerLine] |= bit;
    if (index & 8) p[3 * bytesPerLine] |= bit;
  }
  for (int k = 0; k < 4; ++k) lines.Put(plane.data() + k * bytesPerLine, bytesPerLine);
}

// The 256-entry colour table that follows the data of an 8-bit picture.
void PutColourTable(ByteWriter& out, const RGBQUAD* pal) {
  uint8_t map[769];
  map[0] = kPaletteMarker;
  for (int i = 0; i < 256; ++i) {
    map[1 + 3 * i] = pal[i].rgbRed;
    map[2 + 3 * i] = pal[i].rgbGreen;
    map[3 + 3 * i] = pal[i].rgbBlue;
  }
  out.Write(map, sizeof map);
}

bool Encode(ByteWriter& out, CxImage& img) {
  const LineLayout l = PlanLines(img);
  // The header holds the window and the line length in 16 bits.
  if (l.width > 0x10000 || l.height > 0x10000 || l.bytesPerLine > 0xFFFF) return Fail(img, "Image too large for PCX");
  uint8_t h[kHeaderSize] = {};
  FillHeader(img, l, h);

  // A 1-bit picture is written as black on white: when its entry 0 is the
  // brighter colour, the indices are inverted so that 0 stays the darker one.
  const RGBQUAD* pal = img.GetPalette();
  const bool invert = l.bpp == 1 && Brightness(pal[0]) > Brightness(pal[1]);

  try {
    out.Write(h, sizeof h);
  } catch (const std::bad_alloc&) {
    return Fail(img, "cannot write PCX header");
  }

  // The coded lines go straight into the writer's memory, which is written to
  // the file in one piece.
  const size_t lineCount = static_cast<size_t>(l.height) * l.planes;
  out.Reserve(kHeaderSize + lineCount * (l.bytesPerLine + l.bytesPerLine / 8) + 769);
  std::vector<uint8_t> plane(static_cast<size_t>(l.planes) * l.bytesPerLine);
  LineCoder lines(out, l);
  for (int y = l.height - 1; y >= 0; --y) {
    const uint8_t* row = img.GetBits(y);
    switch (l.bpp) {
      case 24:
        PutRgbRow(row, l.width, plane.data(), lines);
        break;
      case 8:
        lines.Put(row, l.width);
        break;
      case 1:
        PutMonoRow(row, l, invert, plane, lines);
        break;
      default:
        PutPlanarRow(row, l, plane, lines);
        break;
    }
  }
  if (l.bpp == 8) PutColourTable(out, pal);
  return true;
}

}  // namespace

bool DecodePcx(ByteReader& in, CxImage& img) {
  try {
    return Decode(in, img);
  } catch (const std::bad_alloc&) {
    return Fail(img, "CxImage::Create can't allocate memory");
  }
}

bool EncodePcx(ByteWriter& out, CxImage& img) {
  const int bpp = img.GetBpp();
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24) return Fail(img, "Bit depth must be 1, 4, 8 or 24");
  try {
    return Encode(out, img);
  } catch (const std::bad_alloc&) {
    return Fail(img, "Not enough memory to write PCX");
  }
}

}  // namespace tessara
