// TIFF decoder and encoder over libtiff 4.5, reading from and writing to
// memory through TIFFClientOpenExt.
//
// The decoder reads the first page. Bilevel, palette, grey and 8- or 16-bit
// RGB pages (and JPEG-coded YCbCr ones, which libjpeg turns into RGB) are read
// strip by strip or tile by tile straight into the picture's rows; every other
// kind (CMYK, LogL/LogLuv, other YCbCr, separate planes, grey with alpha, ...)
// goes through libtiff's RGBA reader a band of rows at a time.
//
// libtiff reports through error and warning handlers; ours keep the text for
// the caller instead of printing it.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "image/codec.h"
#include "image/metadata.h"

namespace tessara {

namespace {

constexpr size_t kMessageSize = 256;

// Shared by the client procedures and the handlers of one open TIFF.
struct MemoryFile {
  // Reading: the bytes of the file.
  const uint8_t* data = nullptr;
  size_t size = 0;
  uint64_t pos = 0;
  // Writing: the file being made.
  ByteWriter* writer = nullptr;
  char message[kMessageSize] = {};
};

// --- handlers -----------------------------------------------------------------

void FormatMessage(char* dst, const char* module, const char* fmt, va_list ap) {
  size_t used = 0;
  if (module && *module) {
    int n = std::snprintf(dst, kMessageSize, "%.120s: ", module);
    used = n > 0 ? static_cast<size_t>(n) : 0;
  }
  std::vsnprintf(dst + used, kMessageSize - used, fmt, ap);
}

// The first error is kept: later ones are usually consequences of it.
int OnError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  MemoryFile* file = static_cast<MemoryFile*>(user);
  if (file && !file->message[0]) FormatMessage(file->message, module, fmt, ap);
  return 1;  // handled: the library-wide handler is not called
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Messages raised where libtiff has no handle yet go to the library-wide
// handlers; they are kept here rather than printed.
thread_local char g_globalMessage[kMessageSize];

void GlobalError(const char* module, const char* fmt, va_list ap) {
  if (!g_globalMessage[0]) FormatMessage(g_globalMessage, module, fmt, ap);
}

void GlobalWarning(const char*, const char*, va_list) {}

void InstallGlobalHandlers() {
  static const bool installed = [] {
    TIFFSetErrorHandler(GlobalError);
    TIFFSetWarningHandler(GlobalWarning);
    return true;
  }();
  (void)installed;
}

// --- client procedures --------------------------------------------------------

tmsize_t ReadProc(thandle_t handle, void* buf, tmsize_t n) {
  MemoryFile* f = static_cast<MemoryFile*>(handle);
  const uint8_t* data = f->data;
  uint64_t size = f->size;
  uint64_t pos = f->pos;
  if (f->writer) {
    data = f->writer->Buffer().data();
    size = f->writer->Size();
    pos = f->writer->Tell();
  }
  if (n <= 0 || pos >= size) return 0;
  uint64_t k = static_cast<uint64_t>(n) < size - pos ? static_cast<uint64_t>(n) : size - pos;
  std::memcpy(buf, data + pos, static_cast<size_t>(k));
  if (f->writer)
    f->writer->Seek(static_cast<size_t>(pos + k));
  else
    f->pos = pos + k;
  return static_cast<tmsize_t>(k);
}

tmsize_t WriteProc(thandle_t handle, void* buf, tmsize_t n) {
  MemoryFile* f = static_cast<MemoryFile*>(handle);
  if (!f->writer || n < 0) return -1;
  try {
    f->writer->Write(buf, static_cast<size_t>(n));
  } catch (...) {
    return -1;
  }
  return n;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  MemoryFile* f = static_cast<MemoryFile*>(handle);
  uint64_t size = f->writer ? f->writer->Size() : f->size;
  uint64_t pos = f->writer ? f->writer->Tell() : f->pos;
  uint64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? pos : size;
  uint64_t target = base + offset;  // offsets are unsigned; SEEK_CUR/END back are wrapped
  if (target > kMaxImageBytes * 4) return static_cast<toff_t>(-1);
  if (f->writer) {
    try {
      f->writer->Seek(static_cast<size_t>(target));
    } catch (...) {
      return static_cast<toff_t>(-1);
    }
  } else {
    f->pos = target;
  }
  return target;
}

int CloseProc(thandle_t) { return 0; }

toff_t SizeProc(thandle_t handle) {
  MemoryFile* f = static_cast<MemoryFile*>(handle);
  return f->writer ? f->writer->Size() : f->size;
}

// Reading can use the bytes in place, which spares libtiff a copy of every
// uncompressed strip.
int MapProc(thandle_t handle, void** base, toff_t* size) {
  MemoryFile* f = static_cast<MemoryFile*>(handle);
  if (f->writer || !f->data) return 0;
  *base = const_cast<uint8_t*>(f->data);
  *size = f->size;
  return 1;
}

void UnmapProc(thandle_t, void*, toff_t) {}

TIFF* OpenMemory(MemoryFile& file, const char* mode) {
  InstallGlobalHandlers();
  g_globalMessage[0] = '\0';
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  if (!opts) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(opts, OnError, &file);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, OnWarning, &file);
  // No single buffer of libtiff's needs to be larger than the largest picture.
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts, static_cast<tmsize_t>(PictureByteLimit()));
  TIFF* tif = TIFFClientOpenExt("memory", mode, &file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc,
                                UnmapProc, opts);
  TIFFOpenOptionsFree(opts);
  if (!tif && !file.message[0] && g_globalMessage[0]) std::memcpy(file.message, g_globalMessage, kMessageSize);
  return tif;
}

// Closes the TIFF when the decoder or encoder leaves.
struct TiffCloser {
  TIFF* tif;
  ~TiffCloser() {
    if (tif) TIFFClose(tif);
  }
};

// --- decoding -----------------------------------------------------------------

uint8_t Reduce16(uint16_t v) { return static_cast<uint8_t>((v * 255u + 32767u) / 65535u); }

// The i-th 16-bit sample of a row (libtiff has put it in the machine's order).
uint8_t Sample16(const uint8_t* row, size_t i) {
  uint16_t v;
  std::memcpy(&v, row + 2 * i, 2);
  return Reduce16(v);
}

enum class Layout { Bilevel, Palette, Grey, Rgb, Cmyk, Rgba };

// Working buffers larger than this are read in smaller pieces.
constexpr size_t kMaxBandBytes = size_t{16} << 20;

struct PageInfo {
  uint32_t width = 0, height = 0;
  uint16_t bps = 1, spp = 1, photometric = PHOTOMETRIC_MINISWHITE, planar = PLANARCONFIG_CONTIG;
  uint16_t compression = COMPRESSION_NONE, orientation = ORIENTATION_TOPLEFT, sampleFormat = SAMPLEFORMAT_UINT;
  bool minIsWhite = false;
  bool bottomFirst = false;  // the first row of the file is the bottom of the picture
  bool mirrored = false;     // the first column is the right-hand one
};

// Where file row r (0 = first stored) goes among the picture's stored rows
// (0 = bottom).
int TargetRow(const PageInfo& p, uint32_t fileRow) {
  return p.bottomFirst ? static_cast<int>(fileRow) : static_cast<int>(p.height - 1 - fileRow);
}

class Decoder {
 public:
  Decoder(TIFF* tif, MemoryFile& file, CxImage& img) : m_tif(tif), m_file(file), m_img(img) {}

  bool Run() {
    if (!ReadPageInfo()) return Fail("Error encountered while opening TIFF file");
    Layout layout = ChooseLayout();
    int depth = 24;
    switch (layout) {
      case Layout::Bilevel:
        depth = 1;
        break;
      case Layout::Palette:
      case Layout::Grey:
        depth = m_page.bps > 8 ? 8 : m_page.bps;
        break;
      default:
        depth = 24;
        break;
    }
    if (!PlausibleSize()) return Fail("Corrupted TIFF file!");
    if (!m_img.Create(m_page.width, m_page.height, depth))
      return Fail(m_img.WithCreateRefusal("CxImageTIF can't create image").c_str());
    SetResolution();
    ReadOrientationAndProfile();
    bool ok = false;
    switch (layout) {
      case Layout::Bilevel:
        ok = ReadBilevel();
        break;
      case Layout::Palette:
        ok = ReadPalette();
        break;
      case Layout::Grey:
        ok = ReadGrey();
        break;
      case Layout::Rgb:
        ok = ReadRgb();
        break;
      case Layout::Cmyk:
        ok = ReadCmyk();
        break;
      case Layout::Rgba:
        ok = ReadRgba();
        break;
    }
    if (!ok) return false;
    if (m_page.mirrored) m_img.Mirror();
    return true;
  }

 private:
  bool Fail(const char* text) {
    m_img.SetError(text);
    return false;
  }
  // The library's own words when it gave any, else ours.
  bool FailWithLibraryText(const char* fallback) {
    m_img.SetError(m_file.message[0] ? m_file.message : fallback);
    return false;
  }

  // The rows are placed by the orientations that only flip or mirror (1..4);
  // the four that turn the picture (5..8) are left to the load, which turns
  // pictures upright or not as the user chose.
  void ReadOrientationAndProfile() {
    PictureMetadata& meta = m_img.m_metadata;
    uint16_t tagged = 0;
    if (TIFFGetField(m_tif, TIFFTAG_ORIENTATION, &tagged)) meta.taggedOrientation = tagged >= 1 && tagged <= 8 ? tagged : 0;
    meta.orientation = meta.taggedOrientation >= 5 ? meta.taggedOrientation : 1;
    uint32_t length = 0;
    void* profile = nullptr;
    if (TIFFGetField(m_tif, TIFFTAG_ICCPROFILE, &length, &profile) && profile && length) {
      try {
        const uint8_t* bytes = static_cast<const uint8_t*>(profile);
        meta.iccProfile.assign(bytes, bytes + length);
      } catch (...) {
        meta.ignored.push_back("a colour profile too big to hold");
      }
    }
  }

  bool ReadPageInfo() {
    PageInfo& p = m_page;
    if (!TIFFGetField(m_tif, TIFFTAG_IMAGEWIDTH, &p.width) || !TIFFGetField(m_tif, TIFFTAG_IMAGELENGTH, &p.height))
      return false;
    if (p.width == 0 || p.height == 0) return false;
    TIFFGetFieldDefaulted(m_tif, TIFFTAG_BITSPERSAMPLE, &p.bps);
    TIFFGetFieldDefaulted(m_tif, TIFFTAG_SAMPLESPERPIXEL, &p.spp);
    TIFFGetFieldDefaulted(m_tif, TIFFTAG_PLANARCONFIG, &p.planar);
    TIFFGetFieldDefaulted(m_tif, TIFFTAG_COMPRESSION, &p.compression);
    TIFFGetFieldDefaulted(m_tif, TIFFTAG_ORIENTATION, &p.orientation);
    TIFFGetFieldDefaulted(m_tif, TIFFTAG_SAMPLEFORMAT, &p.sampleFormat);
    if (!TIFFGetField(m_tif, TIFFTAG_PHOTOMETRIC, &p.photometric))
      p.photometric = p.spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    p.minIsWhite = p.photometric == PHOTOMETRIC_MINISWHITE;
    p.bottomFirst = p.orientation == ORIENTATION_BOTLEFT || p.orientation == ORIENTATION_BOTRIGHT;
    p.mirrored = p.orientation == ORIENTATION_TOPRIGHT || p.orientation == ORIENTATION_BOTRIGHT;
    return true;
  }

  // Pixel data cannot be larger than the file times the most its compression
  // can expand one byte to: a header that says otherwise is refused before
  // the picture (or any strip buffer) is allocated.
  bool PlausibleSize() {
    uint64_t line = TIFFScanlineSize64(m_tif);
    uint64_t planes = m_page.planar == PLANARCONFIG_SEPARATE ? m_page.spp : 1;
    if (line == 0) return false;
    const uint64_t rows = static_cast<uint64_t>(m_page.height) * planes;
    if (line > MaxExpansion(m_page.compression) * m_file.size / rows) return false;
    return !TIFFIsTiled(m_tif) || PlausibleTiles();
  }
  // A tile is read whole into a buffer of its size, which only the tile's
  // header fields give. A tile may pass the picture's edge (writers use 256 x
  // 256 tiles on small pictures), but not by more than that, and no tile can
  // be larger than what the whole file could expand to.
  bool PlausibleTiles() {
    uint32_t tw = 0, th = 0;
    TIFFGetField(m_tif, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(m_tif, TIFFTAG_TILELENGTH, &th);
    const uint64_t tileSize = TIFFTileSize64(m_tif);
    auto fits = [](uint32_t tile, uint32_t side) {
      return uint64_t{tile} <= std::max<uint64_t>((uint64_t{side} + 15) / 16 * 16, 1024);
    };
    return tw && th && tileSize && fits(tw, m_page.width) && fits(th, m_page.height) &&
           tileSize <= MaxExpansion(m_page.compression) * m_file.size;
  }
  static uint64_t MaxExpansion(uint16_t compression) {
    switch (compression) {
      case COMPRESSION_NONE: return 1;
      case COMPRESSION_PACKBITS: return 64;  // 2 bytes give at most 128
      case COMPRESSION_DEFLATE:
      case COMPRESSION_ADOBE_DEFLATE: return 1100;  // deflate's limit is 1032
      case COMPRESSION_LZW: return 4096;            // 12-bit codes of strings up to 4096 bytes
      case COMPRESSION_JPEG:
      case COMPRESSION_OJPEG: return 4096;
      default: return 65536;  // fax codes of blank pages and the rest: generous
    }
  }

  Layout ChooseLayout() {
    const PageInfo& p = m_page;
    bool unsignedSamples = p.sampleFormat == SAMPLEFORMAT_UINT || p.sampleFormat == SAMPLEFORMAT_VOID;
    if (!unsignedSamples) return Layout::Rgba;  // libtiff says whether it can show them
    bool grey = p.photometric == PHOTOMETRIC_MINISBLACK || p.photometric == PHOTOMETRIC_MINISWHITE;
    if (grey && p.spp == 1) {
      if (p.bps == 1) return Layout::Bilevel;
      if (p.bps == 2 || p.bps == 4 || p.bps == 8 || p.bps == 16) return Layout::Grey;
      return Layout::Rgba;
    }
    if (p.photometric == PHOTOMETRIC_PALETTE && p.spp == 1 && (p.bps == 1 || p.bps == 2 || p.bps == 4 || p.bps == 8))
      return Layout::Palette;
    bool contiguous = p.planar == PLANARCONFIG_CONTIG || p.spp == 1;
    if (p.photometric == PHOTOMETRIC_RGB && contiguous && p.spp >= 3 && (p.bps == 8 || p.bps == 16)) return Layout::Rgb;
    if (p.photometric == PHOTOMETRIC_SEPARATED && contiguous && p.spp == 4 && p.bps == 8) {
      uint16_t inkset = INKSET_CMYK;
      TIFFGetFieldDefaulted(m_tif, TIFFTAG_INKSET, &inkset);
      if (inkset == INKSET_CMYK) return Layout::Cmyk;
    }
    if (p.photometric == PHOTOMETRIC_YCBCR && p.compression == COMPRESSION_JPEG && contiguous && p.spp == 3 &&
        p.bps == 8) {
      // libjpeg converts to RGB and undoes the subsampling itself.
      if (TIFFSetField(m_tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB)) return Layout::Rgb;
    }
    return Layout::Rgba;
  }

  void SetResolution() {
    float x = 0, y = 0;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(m_tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    double factor = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
    auto toDpi = [&](float v) {
      double dpi = std::floor(static_cast<double>(v) * factor + 0.5);
      // NaN, zero and absurd values leave the default.
      return dpi >= 1 && dpi <= 1e6 ? static_cast<int>(dpi) : 0;
    };
    if (TIFFGetField(m_tif, TIFFTAG_XRESOLUTION, &x))
      if (int dpi = toDpi(x)) m_img.SetXDpi(dpi);
    if (TIFFGetField(m_tif, TIFFTAG_YRESOLUTION, &y))
      if (int dpi = toDpi(y)) m_img.SetYDpi(dpi);
  }

  // Reads every row of the page in file order and hands it to `sink` (file
  // row, bytes of TIFFScanlineSize). Strips and tiles alike.
  template <typename Sink>
  bool ForEachRow(Sink sink) {
    tmsize_t scanline = TIFFScanlineSize(m_tif);
    if (scanline <= 0) return FailWithLibraryText("Corrupted TIFF file!");
    size_t line = static_cast<size_t>(scanline);
    uint32_t h = m_page.height;
    try {
      if (!TIFFIsTiled(m_tif)) {
        uint32_t rps = 0;
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_ROWSPERSTRIP, &rps);
        if (rps == 0 || rps > h) rps = h;
        if (rps > 1 && line * rps > kMaxBandBytes && m_page.compression != COMPRESSION_OJPEG) {
          // A strip as large as a big picture would need a second copy of
          // it: such strips are decoded a row at a time instead.
          std::vector<uint8_t> row(line);
          for (uint32_t r = 0; r < h; ++r) {
            if (TIFFReadScanline(m_tif, row.data(), r, 0) < 0) return FailWithLibraryText("Corrupted TIFF file!");
            sink(r, row.data());
            if (!KeepDecoding(m_img, r + 1, h)) return false;
          }
          return true;
        }
        if (!m_img.WorkingMemoryFits(uint64_t{line} * rps, "No space for raster buffer")) return false;
        std::vector<uint8_t> strip(line * rps);
        for (uint32_t row = 0; row < h; row += rps) {
          uint32_t rows = rps < h - row ? rps : h - row;
          tmsize_t want = static_cast<tmsize_t>(line * rows);
          tmsize_t got = TIFFReadEncodedStrip(m_tif, TIFFComputeStrip(m_tif, row, 0), strip.data(), want);
          if (got < want) return FailWithLibraryText("Corrupted TIFF file!");
          for (uint32_t r = 0; r < rows; ++r) sink(row + r, strip.data() + line * r);
          if (!KeepDecoding(m_img, row + rows, h)) return false;
        }
        return true;
      }
      uint32_t tw = 0, th = 0;
      TIFFGetField(m_tif, TIFFTAG_TILEWIDTH, &tw);
      TIFFGetField(m_tif, TIFFTAG_TILELENGTH, &th);
      tmsize_t tileSize = TIFFTileSize(m_tif), tileRow = TIFFTileRowSize(m_tif);
      unsigned pixelBits = static_cast<unsigned>(m_page.bps) * m_page.spp;
      if (tw == 0 || th == 0 || tileSize <= 0 || tileRow <= 0 || (static_cast<uint64_t>(tw) * pixelBits) % 8 != 0)
        return FailWithLibraryText("Corrupted tiled TIFF file!");
      if (th > h) th = h;
      // A band of tall, narrow tiles can be as large as the picture itself.
      if (!m_img.WorkingMemoryFits(static_cast<uint64_t>(tileSize) + uint64_t{line} * th,
                                   "No space for raster buffer"))
        return false;
      std::vector<uint8_t> tile(static_cast<size_t>(tileSize));
      std::vector<uint8_t> band(line * th);
      for (uint32_t ty = 0; ty < h; ty += th) {
        uint32_t rows = th < h - ty ? th : h - ty;
        for (uint32_t tx = 0; tx < m_page.width; tx += tw) {
          if (TIFFReadTile(m_tif, tile.data(), tx, ty, 0, 0) < tileSize)
            return FailWithLibraryText("Corrupted tiled TIFF file!");
          size_t offset = static_cast<size_t>(static_cast<uint64_t>(tx) * pixelBits / 8);
          size_t copy = static_cast<size_t>(tileRow) < line - offset ? static_cast<size_t>(tileRow) : line - offset;
          for (uint32_t r = 0; r < rows; ++r)
            std::memcpy(band.data() + line * r + offset, tile.data() + static_cast<size_t>(tileRow) * r, copy);
        }
        for (uint32_t r = 0; r < rows; ++r) sink(ty + r, band.data() + line * r);
        if (!KeepDecoding(m_img, ty + rows, h)) return false;
      }
      return true;
    } catch (const std::bad_alloc&) {
      return Fail("No space for raster buffer");
    }
  }

  // Copies a row that has the picture's own packing (1, 4 or 8 bits); rows
  // of two-bit values are widened to four.
  bool ReadPacked(bool grey) {
    size_t stride = m_img.GetEffWidth();
    uint32_t w = m_page.width;
    bool twoBit = m_page.bps == 2;
    bool invert = grey && m_page.minIsWhite;
    return ForEachRow([&](uint32_t fileRow, const uint8_t* src) {
      uint8_t* dst = m_img.GetBits(TargetRow(m_page, fileRow));
      size_t n = twoBit ? (static_cast<size_t>(w) * 2 + 7) / 8 : (static_cast<size_t>(w) * m_page.bps + 7) / 8;
      std::memcpy(dst, src, n < stride ? n : stride);
      if (twoBit) {
        ExpandTwoBitRow(dst, w, grey);
        n = (static_cast<size_t>(w) * 4 + 7) / 8;
      }
      if (invert)
        for (size_t i = 0; i < n; ++i) dst[i] = static_cast<uint8_t>(~dst[i]);
    });
  }

  bool ReadBilevel() {
    // The bits are kept as they are; the two entries say which is white (the
    // load then puts black first, as for every two-colour picture).
    RGBQUAD black{0, 0, 0, 0}, white{255, 255, 255, 0};
    m_img.GetPalette()[0] = m_page.minIsWhite ? white : black;
    m_img.GetPalette()[1] = m_page.minIsWhite ? black : white;
    return ReadPacked(false);
  }

  bool ReadPalette() {
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (!TIFFGetField(m_tif, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
      return Fail("Unable to allocate TIFF palette");
    int n = 1 << m_page.bps;
    // Some writers store 8-bit values in the 16-bit map: a map with no value
    // above 255 is taken as such.
    bool eightBit = true;
    for (int i = 0; i < n && eightBit; ++i)
      if (red[i] > 255 || green[i] > 255 || blue[i] > 255) eightBit = false;
    auto level = [&](uint16_t v) { return eightBit ? static_cast<uint8_t>(v) : Reduce16(v); };
    RGBQUAD* pal = m_img.GetPalette();
    for (int i = 0; i < n && i < m_img.GetNumColors(); ++i)
      pal[i] = RGBQUAD{level(blue[i]), level(green[i]), level(red[i]), 0};
    return ReadPacked(false);
  }

  bool ReadGrey() {
    m_img.SetGrayPalette();
    if (m_page.bps != 16) return ReadPacked(true);
    uint32_t w = m_page.width;
    bool invert = m_page.minIsWhite;
    return ForEachRow([&](uint32_t fileRow, const uint8_t* src) {
      uint8_t* dst = m_img.GetBits(TargetRow(m_page, fileRow));
      for (uint32_t x = 0; x < w; ++x) {
        uint8_t v = Sample16(src, x);
        dst[x] = invert ? static_cast<uint8_t>(255 - v) : v;
      }
    });
  }

  bool ReadRgb() {
    uint32_t w = m_page.width;
    unsigned spp = m_page.spp;
    if (m_page.bps == 8) {
      return ForEachRow([&](uint32_t fileRow, const uint8_t* src) {
        uint8_t* dst = m_img.GetBits(TargetRow(m_page, fileRow));
        for (uint32_t x = 0; x < w; ++x, src += spp, dst += 3) {
          dst[0] = src[2];
          dst[1] = src[1];
          dst[2] = src[0];
        }
      });
    }
    return ForEachRow([&](uint32_t fileRow, const uint8_t* src) {
      uint8_t* dst = m_img.GetBits(TargetRow(m_page, fileRow));
      for (size_t x = 0, i = 0; x < w; ++x, i += spp, dst += 3) {
        dst[0] = Sample16(src, i + 2);
        dst[1] = Sample16(src, i + 1);
        dst[2] = Sample16(src, i);
      }
    });
  }

  // Four inks of 8 bits, turned into colour row by row the way libtiff's RGBA
  // reader does, without its raster of the whole strip.
  bool ReadCmyk() {
    uint32_t w = m_page.width;
    return ForEachRow([&](uint32_t fileRow, const uint8_t* src) {
      uint8_t* dst = m_img.GetBits(TargetRow(m_page, fileRow));
      for (uint32_t x = 0; x < w; ++x, src += 4, dst += 3) {
        const unsigned k = 255u - src[3];
        dst[0] = static_cast<uint8_t>(k * (255u - src[2]) / 255u);
        dst[1] = static_cast<uint8_t>(k * (255u - src[1]) / 255u);
        dst[2] = static_cast<uint8_t>(k * (255u - src[0]) / 255u);
      }
    });
  }

  // libtiff's RGBA reader, one strip or tile row of rows at a time, in the
  // file's own row order (we place the rows ourselves).
  bool ReadRgba() {
    char emsg[1024] = {};
    if (!TIFFRGBAImageOK(m_tif, emsg)) return Fail(emsg[0] ? emsg : "Corrupted TIFF file!");
    TIFFRGBAImage rgba;
    std::memset(&rgba, 0, sizeof rgba);
    if (!TIFFRGBAImageBegin(&rgba, m_tif, 1, emsg)) return Fail(emsg[0] ? emsg : "Corrupted TIFF file!");
    // Rows in the file's own order whatever its orientation: asking for any
    // other would make libtiff flip or mirror them itself.
    uint16_t o = m_page.orientation;
    rgba.req_orientation = o >= ORIENTATION_TOPLEFT && o <= ORIENTATION_LEFTBOT ? o : ORIENTATION_TOPLEFT;
    uint32_t w = m_page.width, h = m_page.height;
    uint32_t band = 0;
    if (TIFFIsTiled(m_tif))
      TIFFGetField(m_tif, TIFFTAG_TILELENGTH, &band);
    else
      TIFFGetFieldDefaulted(m_tif, TIFFTAG_ROWSPERSTRIP, &band);
    if (band == 0 || band > h) band = h;
    // Strips taller than the working raster allows are read in bands.
    const uint32_t maxBand = static_cast<uint32_t>(std::max<uint64_t>(1, kMaxBandBytes / (uint64_t{w} * 4)));
    if (!TIFFIsTiled(m_tif) && band > maxBand) band = maxBand;
    bool ok = true;
    try {
      std::vector<uint32_t> raster(static_cast<size_t>(w) * band);
      for (uint32_t row = 0; row < h && ok; row += band) {
        uint32_t rows = band < h - row ? band : h - row;
        rgba.row_offset = static_cast<int>(row);
        rgba.col_offset = 0;
        if (!TIFFRGBAImageGet(&rgba, raster.data(), w, rows)) {
          ok = FailWithLibraryText(TIFFIsTiled(m_tif) ? "Corrupted tiled TIFF file!" : "Corrupted TIFF file!");
          break;
        }
        for (uint32_t r = 0; r < rows; ++r) {
          const uint32_t* src = raster.data() + static_cast<size_t>(w) * r;
          uint8_t* dst = m_img.GetBits(TargetRow(m_page, row + r));
          for (uint32_t x = 0; x < w; ++x, dst += 3) {
            uint32_t p = src[x];
            dst[0] = static_cast<uint8_t>(TIFFGetB(p));
            dst[1] = static_cast<uint8_t>(TIFFGetG(p));
            dst[2] = static_cast<uint8_t>(TIFFGetR(p));
          }
        }
        if (!KeepDecoding(m_img, row + rows, h)) ok = false;
      }
    } catch (const std::bad_alloc&) {
      ok = Fail("No space for raster buffer");
    }
    TIFFRGBAImageEnd(&rgba);
    return ok;
  }

  TIFF* m_tif;
  MemoryFile& m_file;
  CxImage& m_img;
  PageInfo m_page;
};

// --- encoding -----------------------------------------------------------------

int Brightness(const RGBQUAD& q) { return (117 * q.rgbBlue + 601 * q.rgbGreen + 306 * q.rgbRed) >> 10; }

bool WritePage(TIFF* tif, CxImage& img) {
  int bpp = img.GetBpp();
  uint32_t w = static_cast<uint32_t>(img.GetWidth()), h = static_cast<uint32_t>(img.GetHeight());
  const RGBQUAD* pal = img.GetPalette();

  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, bpp == 24 ? 3 : 1);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bpp == 24 ? 8 : bpp);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(img.m_nXDpi > 0 ? img.m_nXDpi : 96));
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(img.m_nYDpi > 0 ? img.m_nYDpi : 96));
  const std::vector<uint8_t>& icc = img.m_metadata.iccProfile;
  if (!icc.empty() && icc.size() <= 0xFFFFFFFFu)
    TIFFSetField(tif, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(icc.size()), icc.data());

  // 1-bit pictures are stored with zero as white; when entry 0 is the darker
  // colour every bit is inverted on the way out (and the entries exchanged,
  // which the photometric says implicitly).
  bool invertBits = false;
  if (bpp == 1) {
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    invertBits = Brightness(pal[0]) < Brightness(pal[1]);
  } else if (bpp == 24) {
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  } else if (img.IsGrayScale()) {
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  } else {
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
    uint16_t red[256] = {}, green[256] = {}, blue[256] = {};
    for (int i = 0; i < img.GetNumColors() && i < 256; ++i) {
      red[i] = static_cast<uint16_t>(pal[i].rgbRed * 65535 / 255);
      green[i] = static_cast<uint16_t>(pal[i].rgbGreen * 65535 / 255);
      blue[i] = static_cast<uint16_t>(pal[i].rgbBlue * 65535 / 255);
    }
    TIFFSetField(tif, TIFFTAG_COLORMAP, red, green, blue);
  }

  uint16_t compression = COMPRESSION_NONE;
  if (img.m_dwCodecOptions != 0 && img.m_dwCodecOptions <= 0xFFFF &&
      TIFFIsCODECConfigured(static_cast<uint16_t>(img.m_dwCodecOptions)))
    compression = static_cast<uint16_t>(img.m_dwCodecOptions);
  else if (bpp == 1)
    compression = COMPRESSION_CCITTFAX4;
  else if (bpp == 8)
    compression = COMPRESSION_PACKBITS;
  else if (bpp == 24)
    compression = COMPRESSION_JPEG;
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  // Colour rows compress far better without loss as differences from the
  // pixel to their left.
  if (bpp == 24 && (compression == COMPRESSION_ADOBE_DEFLATE || compression == COMPRESSION_DEFLATE))
    TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  uint32_t rowsPerStrip = TIFFDefaultStripSize(tif, 0);
  if (compression == COMPRESSION_JPEG) {
    TIFFSetField(tif, TIFFTAG_JPEGQUALITY, img.m_nJpegQuality);
    rowsPerStrip = (rowsPerStrip + 7) / 8 * 8;  // whole JPEG blocks
  }
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);

  tmsize_t scanline = TIFFScanlineSize(tif);
  if (scanline <= 0) return false;
  // The library may alter the row it is given while coding it, so each row
  // goes through a buffer of our own.
  std::vector<uint8_t> buffer(static_cast<size_t>(scanline));
  size_t n = buffer.size() < img.GetEffWidth() ? buffer.size() : img.GetEffWidth();
  for (uint32_t fileRow = 0; fileRow < h; ++fileRow) {
    const uint8_t* src = img.GetBits(static_cast<int>(h - 1 - fileRow));
    uint8_t* dst = buffer.data();
    if (bpp == 24) {
      for (uint32_t x = 0; x < w; ++x, src += 3, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
      }
    } else if (invertBits) {
      for (size_t i = 0; i < n; ++i) dst[i] = static_cast<uint8_t>(~src[i]);
    } else {
      std::memcpy(dst, src, n);
    }
    if (TIFFWriteScanline(tif, buffer.data(), fileRow, 0) < 0) return false;
  }
  return true;
}

}  // namespace

bool DecodeTiff(ByteReader& in, CxImage& img) {
  MemoryFile file;
  file.data = in.Current();
  file.size = in.Remaining();
  TIFF* tif = OpenMemory(file, "r");
  if (!tif) {
    img.SetError("Error encountered while opening TIFF file");
    return false;
  }
  TiffCloser closer{tif};
  bool ok = false;
  try {
    Decoder decoder(tif, file, img);
    ok = decoder.Run();
  } catch (const std::exception&) {
    img.SetError("No space for raster buffer");
    ok = false;
  }
  if (!ok) img.Destroy();
  return ok;
}

bool EncodeTiff(ByteWriter& out, CxImage& img) {
  if (!img.IsValid()) {
    img.SetError("null image!!!");
    return false;
  }
  MemoryFile file;
  file.writer = &out;
  TIFF* tif = OpenMemory(file, "w");
  if (!tif) {
    img.SetError("initialization fail");
    return false;
  }
  bool ok = false;
  try {
    ok = WritePage(tif, img);
  } catch (const std::exception&) {
    ok = false;
  }
  if (!ok) {
    img.SetError("Error saving TIFF file");
    TIFFClose(tif);
    return false;
  }
  if (!TIFFWriteDirectory(tif)) {
    img.SetError("Error saving TIFF directory");
    TIFFClose(tif);
    return false;
  }
  TIFFClose(tif);
  return true;
}

}  // namespace tessara
