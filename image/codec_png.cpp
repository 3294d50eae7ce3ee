// PNG decoder and encoder over libpng 1.6.
//
// libpng leaves a failing call through longjmp to the point set with
// setjmp(png_jmpbuf(...)). The functions that set that point, and the helpers
// they call, keep their state in a struct reached through a pointer and owned
// by the caller one frame up (buffers included), so no C++ object with a
// destructor lives in a frame that a longjmp skips, and the callbacks never let
// a C++ exception into the library.
#include <algorithm>
#include <png.h>

#include <zlib.h>

#include <csetjmp>
#include <cstring>
#include <memory>
#include <vector>

#include "image/codec.h"
#include "image/metadata.h"
#include "image/packed_row.h"
#include "image/parallel.h"

namespace tessara {

namespace {

constexpr size_t kMessageSize = 256;

void CopyMessage(char* dst, const char* text) {
  std::strncpy(dst, text ? text : "", kMessageSize - 1);
  dst[kMessageSize - 1] = '\0';
}

// Keeps libpng's text and leaves at once: returning would make libpng print
// the message to stderr before it jumps.
void ErrorHandler(png_structp png, png_const_charp text) {
  char* message = static_cast<char*>(png_get_error_ptr(png));
  if (message) CopyMessage(message, text);
  png_longjmp(png, 1);
}

void WarningHandler(png_structp, png_const_charp) {}

// --- decoding -----------------------------------------------------------------

// What the chunks before the image data say, as the file has it.
struct PngHeader {
  png_uint_32 width;
  png_uint_32 height;
  int bitDepth;
  int colorType;
  png_colorp palette;  // PLTE of a palette file
  int paletteSize;
  bool hasTrns;
  png_bytep transAlpha;  // tRNS of a palette file: an alpha per entry
  int transCount;
  png_color_16p transColour;  // tRNS of a grey or true-colour file: the transparent value
};

// The colour transparent parts are laid over.
struct Background {
  unsigned red;
  unsigned green;
  unsigned blue;
};

// The picture's depth and how rows reach it.
struct RowPlan {
  int depth;
  bool withAlpha;  // rows come as grey+alpha or BGRA and are composited
  bool greyAlpha;
  bool greyLow;  // grey of fewer than eight bits
};

// Value-initialised (all zero) by its owner, DecodePng, which frees the
// buffers when it returns, whether libpng jumped or not.
struct DecodeState {
  char message[kMessageSize];  // the error pointer
  const uint8_t* data;
  size_t size;
  size_t pos;
  CxImage* img;
  png_structp png;
  png_infop info;
  bool createFailed;
  int passes;  // of the interlacing, 1 without
  PngHeader header;
  Background background;
  RowPlan plan;
  std::unique_ptr<png_bytep[]> rowPointers;
  std::unique_ptr<png_byte[]> pixels;  // rows with alpha before they are laid over the background
};

// Called by libpng after each row it reads, in every pass: reports to the
// decode watch, and stops the decode when the watch says so.
void OnRowRead(png_structp png, png_uint_32 row, int pass) {
  DecodeState* s = static_cast<DecodeState*>(png_get_io_ptr(png));
  const uint64_t height = s->img->GetHeight() > 0 ? static_cast<uint64_t>(s->img->GetHeight()) : 1;
  const uint64_t passes = static_cast<uint64_t>(std::max(s->passes, 1));
  const uint64_t done = std::min<uint64_t>(static_cast<uint64_t>(std::max(pass, 0)), passes - 1) * height +
                        std::min<uint64_t>(row, height);
  if (!KeepDecoding(*s->img, done, passes * height)) png_error(png, kDecodeStopped);
}

void ReadFromMemory(png_structp png, png_bytep dst, size_t n) {
  DecodeState* s = static_cast<DecodeState*>(png_get_io_ptr(png));
  if (n > s->size - s->pos) png_error(png, "Read Error: the PNG file is cut short");
  std::memcpy(dst, s->data + s->pos, n);
  s->pos += n;
}

uint8_t Blend(unsigned colour, unsigned alpha, unsigned background) {
  return static_cast<uint8_t>((colour * alpha + background * (255 - alpha) + 127) / 255);
}

// Colour profiles, EXIF blocks and text chunks are far smaller than this,
// compressed or not.
constexpr png_alloc_size_t kMaxSideChunkBytes = png_alloc_size_t{16} << 20;

// Reads the chunks before the image data into s->header.
void ReadHeader(DecodeState* s) {
  png_structp png = s->png;
  png_infop info = s->info;
  png_set_read_fn(png, s, ReadFromMemory);
  // CxImage::Create caps the picture's size; libpng's default of a million
  // pixels a side would refuse long thin pictures that fit.
  png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
  // A chunk beside the picture (a colour profile, EXIF, text) is read into a
  // buffer of the length it claims: no claim beyond what such a chunk ever
  // needs is believed (see also SideChunksFitTheFile).
  png_set_chunk_malloc_max(png, kMaxSideChunkBytes);
  png_read_info(png, info);

  PngHeader& h = s->header;
  int interlace = 0;
  png_get_IHDR(png, info, &h.width, &h.height, &h.bitDepth, &h.colorType, &interlace, nullptr, nullptr);
  if (h.colorType == PNG_COLOR_TYPE_PALETTE) png_get_PLTE(png, info, &h.palette, &h.paletteSize);
  h.hasTrns = png_get_tRNS(png, info, &h.transAlpha, &h.transCount, &h.transColour) != 0;
}

// The file's bKGD, else light grey.
Background FindBackground(png_structp png, png_infop info, const PngHeader& h) {
  Background bg{192, 192, 192};
  png_color_16p file = nullptr;
  if (!png_get_bKGD(png, info, &file)) return bg;
  if (h.colorType == PNG_COLOR_TYPE_PALETTE) {
    if (file->index < h.paletteSize) {
      const png_color& entry = h.palette[file->index];
      bg = Background{entry.red, entry.green, entry.blue};
    }
  } else if (h.colorType & PNG_COLOR_MASK_COLOR) {
    const unsigned shift = h.bitDepth == 16 ? 8 : 0;
    bg = Background{(file->red >> shift) & 0xFFu, (file->green >> shift) & 0xFFu, (file->blue >> shift) & 0xFFu};
  } else {
    const unsigned maxGrey = (1u << h.bitDepth) - 1;
    const unsigned g = file->gray & maxGrey;
    const unsigned level = h.bitDepth == 16 ? g >> 8 : g * 255 / maxGrey;
    bg = Background{level, level, level};
  }
  return bg;
}

// Sets libpng's transformations for the file's colour type and depth, and
// says what the rows will be like.
RowPlan PlanRows(png_structp png, const PngHeader& h) {
  RowPlan plan{24, false, false, h.colorType == PNG_COLOR_TYPE_GRAY && h.bitDepth < 8};
  if (h.bitDepth == 16) png_set_strip_16(png);
  switch (h.colorType) {
    case PNG_COLOR_TYPE_PALETTE:
      plan.depth = h.bitDepth;
      break;
    case PNG_COLOR_TYPE_GRAY:
      plan.depth = h.bitDepth > 8 ? 8 : h.bitDepth;
      if (h.bitDepth == 16 && h.hasTrns) {
        png_set_tRNS_to_alpha(png);
        plan.withAlpha = plan.greyAlpha = true;
      }
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      if (h.bitDepth == 8) {
        plan.depth = 8;
        plan.withAlpha = plan.greyAlpha = true;
      } else {
        // Thirty-two bits a pixel: a true-colour picture like every file of
        // more than sixteen.
        png_set_gray_to_rgb(png);
        png_set_bgr(png);
        plan.withAlpha = true;
      }
      break;
    case PNG_COLOR_TYPE_RGB:
      png_set_bgr(png);
      if (h.hasTrns) {
        png_set_tRNS_to_alpha(png);
        plan.withAlpha = true;
      }
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      png_set_bgr(png);
      plan.withAlpha = true;
      break;
    default:
      png_error(png, "Unknown PNG colour type");
  }
  return plan;
}

// Deflate never makes more than 1032 bytes of one: rows (with their filter
// bytes) beyond that many times the file's length cannot be in it, and the
// header lies. Checked before the picture is allocated.
void CheckDataCanFill(png_structp png, const PngHeader& h, size_t fileSize) {
  const int channels = h.colorType == PNG_COLOR_TYPE_RGB         ? 3
                       : h.colorType == PNG_COLOR_TYPE_RGB_ALPHA  ? 4
                       : h.colorType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                  : 1;
  const uint64_t rowBits = uint64_t{h.width} * static_cast<uint64_t>(h.bitDepth) * static_cast<uint64_t>(channels);
  const uint64_t filtered = (1 + (rowBits + 7) / 8) * uint64_t{h.height};
  if (filtered / 1032 > fileSize) png_error(png, "Not enough image data");
}

// The picture's colour table: the file's palette with transparent entries
// laid over the background, or the grey ramp with a transparent level showing
// the background.
void FillColourTable(CxImage& img, const PngHeader& h, const Background& bg, int depth) {
  if (h.colorType == PNG_COLOR_TYPE_PALETTE) {
    RGBQUAD* pal = img.GetPalette();
    int n = h.paletteSize < img.GetNumColors() ? h.paletteSize : img.GetNumColors();
    for (int i = 0; i < n; ++i) {
      unsigned r = h.palette[i].red, g = h.palette[i].green, b = h.palette[i].blue;
      if (h.hasTrns && h.transAlpha && i < h.transCount) {
        unsigned a = h.transAlpha[i];
        r = Blend(r, a, bg.red), g = Blend(g, a, bg.green), b = Blend(b, a, bg.blue);
      }
      pal[i] = RGBQUAD{static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r), 0};
    }
  } else if (depth <= 8) {
    img.SetGrayPalette();
    if (h.hasTrns && h.transColour && h.bitDepth <= 8) {
      // One grey level is transparent: its entry shows the background.
      unsigned g = h.transColour->gray & ((1u << h.bitDepth) - 1);
      unsigned index = h.bitDepth == 2 ? g * 5 : g;
      img.GetPalette()[index] =
          RGBQUAD{static_cast<uint8_t>(bg.blue), static_cast<uint8_t>(bg.green), static_cast<uint8_t>(bg.red), 0};
    }
  }
}

// The resolution: only metres give a physical size.
void ReadResolution(png_structp png, png_infop info, CxImage& img) {
  png_uint_32 resX = 0, resY = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER) {
    if (resX > 0) img.SetXDpi(DpmToDpi(resX));
    if (resY > 0) img.SetYDpi(DpmToDpi(resY));
  }
}

// The colour profile and the orientation tag of an eXIf chunk before the
// picture data. libpng drops a profile it finds damaged (with a warning).
void ReadOrientationAndProfile(png_structp png, png_infop info, CxImage& img) {
  PictureMetadata& meta = img.m_metadata;
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 length = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &length) && profile && length) {
    try {
      meta.iccProfile.assign(profile, profile + length);
    } catch (...) {
      meta.ignored.push_back("a colour profile too big to hold");
    }
  }
  png_uint_32 exifLength = 0;
  png_bytep exif = nullptr;
  if (png_get_eXIf_1(png, info, &exifLength, &exif) && exif)
    meta.taggedOrientation = ExifOrientation(exif, exifLength);
  meta.orientation = meta.taggedOrientation ? meta.taggedOrientation : 1;
}

// Rows without alpha go straight into the picture (two-bit rows take half of
// theirs until they are widened).
void ReadRowsIntoPicture(DecodeState* s) {
  png_structp png = s->png;
  CxImage* img = s->img;
  const int h = static_cast<int>(s->header.height);
  const size_t stride = img->GetEffWidth();
  if (png_get_rowbytes(png, s->info) > stride) png_error(png, "PNG row does not fit the picture");
  if (!AllocateArray(s->rowPointers, s->header.height)) png_error(png, "Insufficient memory for the PNG rows");
  for (int y = 0; y < h; ++y) s->rowPointers[y] = img->GetBits(h - 1 - y);
  png_read_image(png, s->rowPointers.get());
  if (s->header.bitDepth == 2) {
    for (int y = 0; y < h; ++y) ExpandTwoBitRow(img->GetBits(y), s->header.width, s->plan.greyLow);
  }
}

// Lays one row of grey+alpha or BGRA pixels over the background.
void CompositeRow(const png_byte* src, uint8_t* dst, png_uint_32 width, bool greyAlpha, Background bg) {
  const unsigned red = bg.red, green = bg.green, blue = bg.blue;
  if (greyAlpha) {
    for (png_uint_32 x = 0; x < width; ++x, src += 2) dst[x] = Blend(src[0], src[1], red);
    return;
  }
  for (png_uint_32 x = 0; x < width; ++x, src += 4, dst += 3) {
    unsigned a = src[3];
    dst[0] = Blend(src[0], a, blue);
    dst[1] = Blend(src[1], a, green);
    dst[2] = Blend(src[2], a, red);
  }
}

// Rows with alpha are read into a buffer and laid over the background.
// Interlaced rows are completed over several passes, so the whole picture is
// needed before compositing; otherwise one row at a time will do.
void ReadRowsComposited(DecodeState* s) {
  png_structp png = s->png;
  const png_uint_32 width = s->header.width;
  const int h = static_cast<int>(s->header.height);
  const bool interlaced = s->passes > 1;
  const size_t rowBytes = png_get_rowbytes(png, s->info);
  const unsigned channels = s->plan.greyAlpha ? 2 : 4;
  if (rowBytes != static_cast<size_t>(width) * channels) png_error(png, "Unexpected PNG row layout");
  const size_t bufferRows = interlaced ? s->header.height : 1;
  // The interlaced buffer holds the whole picture at four bytes a pixel.
  if (!s->img->WorkingMemoryFits(uint64_t{rowBytes} * bufferRows, "Insufficient memory for the PNG rows")) {
    s->createFailed = true;
    png_error(png, "Insufficient memory for the PNG rows");
  }
  if (!AllocateArray(s->pixels, rowBytes * bufferRows)) png_error(png, "Insufficient memory for the PNG rows");
  if (interlaced) {
    if (!AllocateArray(s->rowPointers, s->header.height)) png_error(png, "Insufficient memory for the PNG rows");
    for (int y = 0; y < h; ++y) s->rowPointers[y] = s->pixels.get() + rowBytes * static_cast<size_t>(y);
    png_read_image(png, s->rowPointers.get());
  }
  for (int y = 0; y < h; ++y) {
    png_bytep src = s->pixels.get();
    if (interlaced)
      src += rowBytes * static_cast<size_t>(y);
    else
      png_read_row(png, src, nullptr);
    CompositeRow(src, s->img->GetBits(h - 1 - y), width, s->plan.greyAlpha, s->background);
  }
}

// Sets libpng's jump point: every step below may leave through it, so this
// frame and the helpers' frames hold only plain data; the buffers are in *s.
bool DecodeCore(DecodeState* s) {
  if (setjmp(png_jmpbuf(s->png))) return false;
  png_structp png = s->png;
  png_infop info = s->info;
  CxImage* img = s->img;

  ReadHeader(s);
  s->background = FindBackground(png, info, s->header);
  s->plan = PlanRows(png, s->header);
  s->passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  CheckDataCanFill(png, s->header, s->size);

  if (!img->Create(s->header.width, s->header.height, s->plan.depth)) {
    s->createFailed = true;
    return false;
  }
  png_set_read_status_fn(png, OnRowRead);
  FillColourTable(*img, s->header, s->background, s->plan.depth);
  ReadResolution(png, info, *img);
  ReadOrientationAndProfile(png, info, *img);
  if (s->plan.withAlpha)
    ReadRowsComposited(s);
  else
    ReadRowsIntoPicture(s);
  return true;
}

// --- encoding -----------------------------------------------------------------

struct EncodeState {
  char message[kMessageSize];
  ByteWriter* out;
  CxImage* img;
  png_structp png;
  png_infop info;
  png_color palette[256];
};

void WriteToMemory(png_structp png, png_bytep data, size_t n) {
  EncodeState* s = static_cast<EncodeState*>(png_get_io_ptr(png));
  if (!AppendToWriter(s->out, data, n)) png_error(png, "Insufficient memory for the PNG file");
}

void FlushMemory(png_structp) {}

// How many colour-table entries to write: all of them, except that small
// pictures of more than two colours keep only up to the highest index used.
int PaletteEntriesToWrite(const CxImage& img) {
  int n = img.GetNumColors();
  int w = img.GetWidth(), h = img.GetHeight();
  if (n <= 2 || static_cast<int64_t>(w) * h >= 65536) return n;
  int highest = 0;
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = img.GetBits(y);
    if (img.GetBpp() == 8) {
      for (int x = 0; x < w; ++x)
        if (row[x] > highest) highest = row[x];
    } else {
      for (int x = 0; x < w; ++x) {
        const int v = PackedNibble(row, x);
        if (v > highest) highest = v;
      }
    }
  }
  return highest + 1;
}

// --- image data: filtered rows compressed in bands on every core ---------------
//
// The rows are cut into bands of about 4 MB. Each band is filtered and
// deflated on its own, primed with the 32 KB of filtered data before it (so
// the file is as small as one stream would make it), and ended with a sync
// flush; the last band finishes the stream. The pieces and the combined
// checksum make one valid zlib stream, written as IDAT chunks.

// zlib level and row filter, chosen by measurement on a joined 10361 x 4196
// photograph: the five-filter choice at level 6 (libpng's default) took 7.4 s
// for 18.4 MB; the Up filter at level 2 takes 1.2 s for 23.3 MB, well under
// the size other tools write with their defaults (33.9 MB). Paeth gained 3 %
// of size for half as much time again; level 1 saved nothing.
constexpr int kDeflateLevel = 2;
constexpr size_t kBandBytes = size_t{4} << 20;
constexpr size_t kWindowBytes = 32768;
constexpr size_t kIdatBytes = size_t{1} << 20;

// The rows of the file top-down, as the file holds them: red, green, blue for
// true colour, the picture's own packing for indexed pictures.
class FileRows {
 public:
  explicit FileRows(const CxImage& img)
      : m_img(img),
        m_nHeight(img.GetHeight()),
        m_bRgb(img.GetBpp() == 24),
        m_nBytes(m_bRgb ? size_t(img.GetWidth()) * 3 : (size_t(img.GetWidth()) * img.GetBpp() + 7) / 8) {}
  size_t Bytes() const { return m_nBytes; }
  int Height() const { return m_nHeight; }
  bool Rgb() const { return m_bRgb; }
  void Get(int fileRow, uint8_t* out) const {
    const uint8_t* src = m_img.GetBits(m_nHeight - 1 - fileRow);
    if (!m_bRgb) {
      std::memcpy(out, src, m_nBytes);
      return;
    }
    for (size_t i = 0; i < m_nBytes; i += 3) out[i] = src[i + 2], out[i + 1] = src[i + 1], out[i + 2] = src[i];
  }

 private:
  const CxImage& m_img;
  int m_nHeight;
  bool m_bRgb;
  size_t m_nBytes;
};

// Appends file rows [first, end) with their filter bytes: true colour rows take
// the Up filter (the difference from the row above), indexed rows none. Each
// row is turned into file order once; the one above the range is read only for
// its first row.
void AppendFilteredRows(const FileRows& rows, int first, int end, std::vector<uint8_t>& out) {
  if (first >= end) return;
  const size_t n = rows.Bytes();
  std::vector<uint8_t> cur(n), prev(n);
  const bool up = rows.Rgb();
  if (up && first > 0) rows.Get(first - 1, prev.data());
  out.reserve(out.size() + (n + 1) * static_cast<size_t>(end - first));
  for (int r = first; r < end; ++r) {
    rows.Get(r, cur.data());
    const size_t at = out.size();
    out.resize(at + 1 + n);
    uint8_t* o = out.data() + at;
    if (!up || r == 0) {
      o[0] = 0;
      std::memcpy(o + 1, cur.data(), n);
    } else {
      o[0] = 2;
      for (size_t i = 0; i < n; ++i) o[1 + i] = static_cast<uint8_t>(cur[i] - prev[i]);
    }
    cur.swap(prev);
  }
}

struct Band {
  std::vector<uint8_t> deflated;
  uLong adler = 1;
  size_t rawBytes = 0;
  bool ok = false;
};

void DeflateBand(const FileRows& rows, int first, int end, bool last, Band& band) {
  const size_t n = rows.Bytes();
  std::vector<uint8_t> raw, dictionary;
  // The window before the band: the filtered rows just above it.
  const int back = first > 0 ? static_cast<int>(std::min<size_t>(first, kWindowBytes / (n + 1) + 1)) : 0;
  AppendFilteredRows(rows, first - back, first, dictionary);
  AppendFilteredRows(rows, first, end, raw);
  band.rawBytes = raw.size();
  for (size_t at = 0; at < raw.size();) {
    const size_t k = std::min<size_t>(raw.size() - at, 1u << 30);
    band.adler = adler32(band.adler, raw.data() + at, static_cast<uInt>(k));
    at += k;
  }
  z_stream z{};
  if (deflateInit2(&z, kDeflateLevel, Z_DEFLATED, -15, 8, rows.Rgb() ? Z_FILTERED : Z_DEFAULT_STRATEGY) != Z_OK) return;
  if (!dictionary.empty()) {
    const size_t keep = std::min(dictionary.size(), kWindowBytes);
    deflateSetDictionary(&z, dictionary.data() + dictionary.size() - keep, static_cast<uInt>(keep));
  }
  band.deflated.resize(deflateBound(&z, static_cast<uLong>(raw.size())) + 64);
  z.next_in = raw.data();
  z.avail_in = static_cast<uInt>(raw.size());
  z.next_out = band.deflated.data();
  z.avail_out = static_cast<uInt>(band.deflated.size());
  const int result = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
  band.ok = last ? result == Z_STREAM_END : (result == Z_OK && z.avail_in == 0 && z.avail_out > 0);
  band.deflated.resize(band.ok ? band.deflated.size() - z.avail_out : 0);
  deflateEnd(&z);
}

void PutChunk(ByteWriter& out, const char* type, const uint8_t* data, size_t n) {
  const uint8_t length[4] = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
  out.Write(length, 4);
  out.Write(type, 4);
  if (n) out.Write(data, n);
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
  if (n) crc = crc32(crc, data, static_cast<uInt>(n));
  const uint8_t c[4] = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)};
  out.Write(c, 4);
}

// Writes the IDAT chunks and IEND. False when zlib fails. Kept out of the
// function that sets libpng's jump point, so its objects never share that frame.
[[gnu::noinline]] bool WriteImageData(ByteWriter& out, const CxImage& img) {
  const FileRows rows(img);
  const int h = rows.Height();
  const int rowsPerBand = static_cast<int>(std::max<size_t>(1, kBandBytes / (rows.Bytes() + 1)));
  const int bands = (h + rowsPerBand - 1) / rowsPerBand;
  std::vector<Band> parts(static_cast<size_t>(bands));
  ParallelRanges(0, bands, 1, [&](int b0, int b1) {
    for (int b = b0; b < b1; ++b)
      DeflateBand(rows, b * rowsPerBand, std::min(h, (b + 1) * rowsPerBand), b == bands - 1, parts[size_t(b)]);
  });
  std::vector<uint8_t> stream;
  const int level = kDeflateLevel;
  const uint8_t cmf = 0x78, flevel = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
  uint8_t flg = static_cast<uint8_t>(flevel << 6);
  flg = static_cast<uint8_t>(flg + 31 - (cmf * 256 + flg) % 31);
  stream.push_back(cmf);
  stream.push_back(flg);
  uLong adler = 1;
  size_t total = 2;
  for (const Band& b : parts) total += b.deflated.size();
  stream.reserve(total + 4);
  for (const Band& b : parts) {
    if (!b.ok) return false;
    stream.insert(stream.end(), b.deflated.begin(), b.deflated.end());
    adler = adler32_combine(adler, b.adler, static_cast<z_off_t>(b.rawBytes));
  }
  for (int shift = 24; shift >= 0; shift -= 8) stream.push_back(static_cast<uint8_t>(adler >> shift));
  for (size_t at = 0; at < stream.size(); at += kIdatBytes)
    PutChunk(out, "IDAT", stream.data() + at, std::min(kIdatBytes, stream.size() - at));
  PutChunk(out, "IEND", nullptr, 0);
  return true;
}

bool EncodeCore(EncodeState* s) {
  if (setjmp(png_jmpbuf(s->png))) return false;
  png_structp png = s->png;
  png_infop info = s->info;
  CxImage* img = s->img;
  int bpp = img->GetBpp();
  int w = img->GetWidth(), h = img->GetHeight();

  png_set_write_fn(png, s, WriteToMemory, FlushMemory);
  bool indexed = bpp <= 8;
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), indexed ? bpp : 8,
               indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);

  png_color_16 background{};
  if (indexed) {
    int n = PaletteEntriesToWrite(*img);
    const RGBQUAD* pal = img->GetPalette();
    int brightest = 0, brightness = -1;
    for (int i = 0; i < n; ++i) {
      s->palette[i].red = pal[i].rgbRed;
      s->palette[i].green = pal[i].rgbGreen;
      s->palette[i].blue = pal[i].rgbBlue;
      int v = pal[i].rgbRed * 306 + pal[i].rgbGreen * 601 + pal[i].rgbBlue * 117;
      if (v > brightness) brightness = v, brightest = i;
    }
    png_set_PLTE(png, info, s->palette, n);
    // A palette file names its background by index: the entry nearest white.
    background.index = static_cast<png_byte>(brightest);
  } else {
    background.red = background.green = background.blue = 255;
  }
  png_set_bKGD(png, info, &background);

  int32_t ppmX = img->Header().biXPelsPerMeter, ppmY = img->Header().biYPelsPerMeter;
  if (ppmX <= 0) ppmX = DpiToDpm(img->m_nXDpi > 0 ? img->m_nXDpi : 96);
  if (ppmY <= 0) ppmY = DpiToDpm(img->m_nYDpi > 0 ? img->m_nYDpi : 96);
  png_set_pHYs(png, info, static_cast<png_uint_32>(ppmX), static_cast<png_uint_32>(ppmY), PNG_RESOLUTION_METER);
  // The colour profile, when there is one: a profile libpng finds unfit for
  // the file is left out with a warning rather than failing the save.
  const std::vector<uint8_t>& icc = img->m_metadata.iccProfile;
  if (!icc.empty() && icc.size() <= 0x7FFFFFFF) {
    png_set_benign_errors(png, 1);
    png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, icc.data(), static_cast<png_uint_32>(icc.size()));
  }

  // libpng writes the signature and the chunks before the picture data; the
  // data and the end are ours.
  png_write_info(png, info);
  const char* failure = nullptr;
  try {
    if (!WriteImageData(*s->out, *img)) failure = "PNG compression failed";
  } catch (const std::bad_alloc&) {
    failure = "Insufficient memory for the PNG file";
  }
  if (failure) png_error(png, failure);
  return true;
}

}  // namespace

namespace {
// libpng reads some side chunks (eXIf among them) into a buffer of the length
// they claim before it finds the file too short for them, even past the limit
// set above. So the chunks before the picture data are walked here first: one
// that claims more than the file still holds means the file is cut before
// its pixels, and the decode fails at once.
bool SideChunksFitTheFile(const uint8_t* data, size_t size) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  // Not a PNG file at all: libpng says so in its own words.
  if (size < 8 || std::memcmp(data, kSignature, 8) != 0) return true;
  size_t at = 8;
  while (at + 8 <= size) {
    const uint64_t length = (uint64_t{data[at]} << 24) | (data[at + 1] << 16) | (data[at + 2] << 8) | data[at + 3];
    if (std::memcmp(data + at + 4, "IDAT", 4) == 0) return true;
    if (length + 12 > size - at) return false;
    at += 12 + static_cast<size_t>(length);
  }
  return true;
}
}  // namespace

bool DecodePng(ByteReader& in, CxImage& img) {
  if (!SideChunksFitTheFile(in.Current(), in.Remaining())) {
    img.SetError("Read Error: the PNG file is cut short");
    return false;
  }
  // Owned here, outside the frame libpng jumps to, so the state and its buffers
  // are freed by scope whichever way the decode ends.
  std::unique_ptr<DecodeState> s = MakeZeroed<DecodeState>();
  if (!s) {
    img.SetError("Failed to create PNG structure");
    return false;
  }
  s->data = in.Current();
  s->size = in.Remaining();
  s->img = &img;
  bool ok = false;
  s->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, s->message, ErrorHandler, WarningHandler);
  if (!s->png) {
    img.SetError("Failed to create PNG structure");
  } else if (!(s->info = png_create_info_struct(s->png))) {
    img.SetError("Failed to initialize PNG info structure");
  } else {
    ok = DecodeCore(s.get());
    if (!ok && !s->createFailed) img.SetError(s->message[0] ? s->message : "PNG decoding failed");
  }
  if (s->png) png_destroy_read_struct(&s->png, s->info ? &s->info : nullptr, nullptr);
  if (!ok) img.Destroy();
  return ok;
}

bool EncodePng(ByteWriter& out, CxImage& img) {
  if (!img.IsValid()) {
    img.SetError("null image!!!");
    return false;
  }
  std::unique_ptr<EncodeState> s = MakeZeroed<EncodeState>();
  if (!s) {
    img.SetError("Failed to create PNG structure");
    return false;
  }
  s->out = &out;
  s->img = &img;
  bool ok = false;
  s->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, s->message, ErrorHandler, WarningHandler);
  if (!s->png) {
    img.SetError("Failed to create PNG structure");
  } else if (!(s->info = png_create_info_struct(s->png))) {
    img.SetError("Failed to initialize PNG info structure");
  } else {
    ok = EncodeCore(s.get());
    if (!ok) img.SetError(s->message[0] ? s->message : "PNG encoding failed");
  }
  if (s->png) png_destroy_write_struct(&s->png, s->info ? &s->info : nullptr);
  return ok;
}

}  // namespace tessara
