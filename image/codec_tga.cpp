// Targa (.tga) files: colour-mapped, true-colour and grey pictures, uncompressed
// or run-length coded, are read into 8- or 24-bit pictures; colour maps may have
// 15-, 16-, 24- or 32-bit entries and start at any index. Pictures are written
// uncompressed, 8-bit ones with a 256-entry colour map.
#include <algorithm>
#include <cstring>
#include <new>

#include "image/codec.h"

namespace tessara {

namespace {

constexpr uint8_t kTopLeftOrigin = 0x20;
constexpr uint8_t kRightToLeft = 0x10;

struct TgaHeader {
  uint8_t idLength;
  uint8_t colorMapType;
  uint8_t imageType;
  uint16_t colorMapFirst;  // the index the map's first entry stands for
  uint16_t colorMapLength;
  uint8_t colorMapEntrySize;  // bits per map entry: 15, 16, 24 or 32
  uint16_t xOrigin;
  uint16_t yOrigin;
  uint16_t width;
  uint16_t height;
  uint8_t pixelDepth;
  uint8_t descriptor;
};

// A 16-bit grey pixel (grey byte, then an alpha or attribute byte); stands in
// for the file's depth where grey files are converted.
constexpr int kGreyAlpha16 = -16;

// Turns `count` file pixels of the given depth into the picture's layout: one
// index byte for depth 8 and 16-bit grey, blue-green-red triples otherwise.
void ConvertPixels(const uint8_t* src, uint8_t* dst, size_t count, int fileDepth) {
  switch (fileDepth) {
    case 8:
      std::memcpy(dst, src, count);
      break;
    case kGreyAlpha16:
      for (size_t i = 0; i < count; ++i) dst[i] = src[2 * i];
      break;
    case 15:
    case 16:
      // Five bits a channel (x1rrrrrgggggbbbbb), each scaled by 8; the top bit
      // (attribute or alpha) is dropped.
      for (size_t i = 0; i < count; ++i, src += 2, dst += 3) {
        unsigned v = static_cast<unsigned>(src[0] | (src[1] << 8));
        dst[0] = static_cast<uint8_t>((v << 3) & 0xF8);
        dst[1] = static_cast<uint8_t>((v >> 2) & 0xF8);
        dst[2] = static_cast<uint8_t>((v >> 7) & 0xF8);
      }
      break;
    case 24:
      std::memcpy(dst, src, count * 3);
      break;
    case 32:
      for (size_t i = 0; i < count; ++i, src += 4, dst += 3) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
      }
      break;
    default:
      break;
  }
}

// The state of a run-length packet, which may reach over the end of a row into
// the next one.
struct Packet {
  size_t left = 0;  // pixels still to come from the current packet
  bool run = false;
  uint8_t value[3] = {0, 0, 0};  // the run's pixel, already converted
};

// Fills `width` pixels of `row` from run-length coded data. False when the data
// ends before the row is full.
bool DecodeRleRow(ByteReader& in, uint8_t* row, size_t width, int fileDepth, size_t filePixelBytes, size_t pictureBytes,
                  Packet& packet) {
  size_t x = 0;
  while (x < width) {
    if (packet.left == 0) {
      uint8_t h;
      if (!in.ReadU8(h)) return false;
      packet.left = static_cast<size_t>(h & 0x7F) + 1;
      packet.run = (h & 0x80) != 0;
      if (packet.run) {
        if (in.Remaining() < filePixelBytes) return false;
        ConvertPixels(in.Current(), packet.value, 1, fileDepth);
        in.Skip(filePixelBytes);
      }
    }
    size_t n = std::min(packet.left, width - x);
    uint8_t* dst = row + x * pictureBytes;
    if (packet.run) {
      if (pictureBytes == 1) {
        std::memset(dst, packet.value[0], n);
      } else {
        for (size_t i = 0; i < n; ++i, dst += 3) {
          dst[0] = packet.value[0];
          dst[1] = packet.value[1];
          dst[2] = packet.value[2];
        }
      }
    } else {
      if (in.Remaining() / filePixelBytes < n) return false;
      ConvertPixels(in.Current(), dst, n, fileDepth);
      in.Skip(n * filePixelBytes);
    }
    packet.left -= n;
    x += n;
  }
  return true;
}

void MirrorRows(CxImage& img) {
  const int width = img.GetWidth();
  for (int y = 0; y < img.GetHeight(); ++y) {
    uint8_t* row = img.GetBits(y);
    if (img.GetBpp() == 8) {
      std::reverse(row, row + width);
    } else {
      for (int a = 0, b = width - 1; a < b; ++a, --b) std::swap_ranges(row + 3 * a, row + 3 * a + 3, row + 3 * b);
    }
  }
}

TgaHeader ParseHeader(const uint8_t* raw) {
  TgaHeader h;
  h.idLength = raw[0];
  h.colorMapType = raw[1];
  h.imageType = raw[2];
  h.colorMapFirst = LoadU16(raw + 3);
  h.colorMapLength = LoadU16(raw + 5);
  h.colorMapEntrySize = raw[7];
  h.xOrigin = LoadU16(raw + 8);
  h.yOrigin = LoadU16(raw + 10);
  h.width = LoadU16(raw + 12);
  h.height = LoadU16(raw + 14);
  h.pixelDepth = raw[16];
  h.descriptor = raw[17];
  return h;
}

// Copies a colour map into an 8-bit picture's table. Map entry k stands for
// pixel index first + k; the table was cleared, so indices the map does not
// cover read as black. True-colour pictures have no table: the map is passed
// over.
void ReadColourMap(const TgaHeader& h, const uint8_t* map, size_t entryBytes, CxImage& img) {
  if (img.GetNumColors() != 256) return;
  RGBQUAD* pal = img.GetPalette();
  for (size_t k = 0; k < h.colorMapLength && h.colorMapFirst + k < 256; ++k) {
    uint8_t bgr[3];
    ConvertPixels(map + k * entryBytes, bgr, 1, h.colorMapEntrySize);
    pal[h.colorMapFirst + k] = RGBQUAD{bgr[0], bgr[1], bgr[2], 0};
  }
}

// Reads every row, plain or run-length coded, into the picture. False when the
// data is cut short (the message is set) or the load was stopped.
bool ReadRows(ByteReader& in, const TgaHeader& h, bool compressed, int pixelKind, uint64_t filePixelBytes,
              bool indexed, CxImage& img) {
  const bool topFirst = (h.descriptor & kTopLeftOrigin) != 0;
  const size_t width = h.width;
  const size_t pictureBytes = indexed ? 1 : 3;
  const size_t rowBytes = width * filePixelBytes;
  Packet packet;
  for (int i = 0; i < h.height; ++i) {
    uint8_t* row = img.GetBits(topFirst ? h.height - 1 - i : i);
    if (compressed) {
      if (!DecodeRleRow(in, row, width, pixelKind, filePixelBytes, pictureBytes, packet))
        return Fail(img, "corrupted TGA");
    } else {
      if (in.Remaining() < rowBytes) return Fail(img, "corrupted TGA");
      ConvertPixels(in.Current(), row, width, pixelKind);
      in.Skip(rowBytes);
    }
    if (!KeepDecoding(img, static_cast<uint64_t>(i) + 1, h.height)) return false;
  }
  // Whatever is left of the last packet would lie outside the picture: it is
  // dropped.
  return true;
}

bool Decode(ByteReader& in, CxImage& img) {
  uint8_t raw[18];
  if (!in.Read(raw, sizeof raw)) return Fail(img, "Not a TGA");
  const TgaHeader h = ParseHeader(raw);

  bool compressed;
  switch (h.imageType) {
    case 1:
    case 2:
    case 3:
      compressed = false;
      break;
    case 9:
    case 10:
    case 11:
      compressed = true;
      break;
    default:
      return Fail(img, "Unknown TGA image type");
  }
  const int depth = h.pixelDepth;
  if (h.width == 0 || h.height == 0 || h.colorMapLength > 256 ||
      (depth != 8 && depth != 15 && depth != 16 && depth != 24 && depth != 32))
    return Fail(img, "bad TGA header");
  const bool hasMap = h.colorMapType != 0 && h.colorMapLength != 0;
  const int entryBits = h.colorMapEntrySize;
  // A map's entries are read at their own size, so a size Targa does not have
  // leaves no way to find the pixels behind the map.
  if (hasMap && entryBits != 15 && entryBits != 16 && entryBits != 24 && entryBits != 32)
    return Fail(img, "bad TGA header");
  const bool grey = h.imageType == 3 || h.imageType == 11;
  // 16-bit grey files carry an alpha or attribute byte after each grey byte.
  const int pixelKind = grey && depth == 16 ? kGreyAlpha16 : depth;
  const bool indexed = depth == 8 || pixelKind == kGreyAlpha16;

  if (!in.Skip(h.idLength)) return Fail(img, "corrupted TGA");
  const size_t entryBytes = (static_cast<size_t>(entryBits) + 7) / 8;
  const size_t mapBytes = hasMap ? static_cast<size_t>(h.colorMapLength) * entryBytes : 0;
  if (in.Remaining() < mapBytes) return Fail(img, "corrupted TGA");

  // Refuse a header whose size the file cannot back before allocating for it:
  // uncompressed data needs every pixel's bytes; run-length data gives at most
  // 128 pixels per packet of one header byte and one pixel.
  const uint64_t filePixelBytes = (static_cast<uint64_t>(depth) + 7) / 8;
  const uint64_t pixels = static_cast<uint64_t>(h.width) * h.height;
  const uint64_t available = in.Remaining() - mapBytes;
  const uint64_t needed = compressed ? (pixels + 127) / 128 * (1 + filePixelBytes) : pixels * filePixelBytes;
  if (needed > available) return Fail(img, "corrupted TGA");

  if (!img.Create(h.width, h.height, indexed ? 8 : 24))
    return Fail(img, img.WithCreateRefusal("TGA Create failed").c_str());
  if (mapBytes) {
    ReadColourMap(h, in.Current(), entryBytes, img);
    in.Skip(mapBytes);
  }
  if (grey) img.SetGrayPalette();
  if (!ReadRows(in, h, compressed, pixelKind, filePixelBytes, indexed, img)) return false;
  if (h.descriptor & kRightToLeft) MirrorRows(img);
  return true;
}

}  // namespace

bool DecodeTga(ByteReader& in, CxImage& img) {
  try {
    return Decode(in, img);
  } catch (const std::bad_alloc&) {
    return Fail(img, "TGA Create failed");
  }
}

bool EncodeTga(ByteWriter& out, CxImage& img) {
  const int bpp = img.GetBpp();
  if (bpp != 8 && bpp != 24) return Fail(img, "Bit depth must be 8 or 24");
  // The header holds the size in 16 bits; a larger picture cannot be written.
  if (img.GetWidth() > 0xFFFF || img.GetHeight() > 0xFFFF) return Fail(img, "Image too large for TGA");

  const bool indexed = bpp == 8;
  const size_t width = static_cast<size_t>(img.GetWidth());
  const size_t rowBytes = width * (indexed ? 1 : 3);
  try {
    out.Reserve(18 + (indexed ? 768 : 0) + rowBytes * static_cast<size_t>(img.GetHeight()));
    uint8_t h[18] = {};
    h[0] = 0;                          // no id field
    h[1] = indexed ? 1 : 0;            // colour map present
    h[2] = indexed ? 1 : 2;            // uncompressed colour-mapped / true colour
    StoreU16(h + 3, 0);                // first map entry
    StoreU16(h + 5, indexed ? 256 : 0);  // map length
    h[7] = indexed ? 24 : 0;           // map entry size
    StoreU16(h + 8, 0);
    StoreU16(h + 10, 0);
    StoreU16(h + 12, static_cast<uint16_t>(img.GetWidth()));
    StoreU16(h + 14, static_cast<uint16_t>(img.GetHeight()));
    h[16] = static_cast<uint8_t>(bpp);
    h[17] = 0;  // rows bottom first, left to right
    out.Write(h, sizeof h);

    if (indexed) {
      uint8_t map[768];
      const RGBQUAD* pal = img.GetPalette();
      for (int i = 0; i < 256; ++i) {
        map[3 * i] = pal[i].rgbBlue;
        map[3 * i + 1] = pal[i].rgbGreen;
        map[3 * i + 2] = pal[i].rgbRed;
      }
      out.Write(map, sizeof map);
    }
    for (int y = 0; y < img.GetHeight(); ++y) out.Write(img.GetBits(y), rowBytes);
  } catch (const std::bad_alloc&) {
    return Fail(img, "Not enough memory to write TGA");
  }
  return true;
}

}  // namespace tessara
