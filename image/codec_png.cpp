// PNG decoder and encoder over libpng 1.6.
//
// libpng leaves a failing call through longjmp to the point set with
// setjmp(png_jmpbuf(...)). The functions that set that point keep their state in
// plain structs reached through a pointer, so no C++ object with a destructor
// lives in a frame that a longjmp skips, and the callbacks never let a C++
// exception into the library.
#include <algorithm>
#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "image/codec.h"

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

struct DecodeState {
  char message[kMessageSize];  // first member: the error pointer
  const uint8_t* data;
  size_t size;
  size_t pos;
  CxImage* img;
  png_structp png;
  png_infop info;
  png_bytepp rowPointers;  // malloc'd
  png_bytep pixels;        // malloc'd: rows with alpha before they are laid over the background
  bool createFailed;
  int passes;  // of the interlacing, 1 without
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

// Two-bit indices become four-bit ones in place, working from the end of the
// row so that nothing is overwritten before it is read. Grey values are
// stretched (x 5) so that the four-bit grey ramp shows them at their level.
void ExpandTwoBitRow(uint8_t* row, unsigned width, bool grey) {
  size_t n = (static_cast<size_t>(width) * 2 + 7) / 8;
  unsigned scale = grey ? 5 : 1;
  for (size_t i = n; i-- > 0;) {
    unsigned b = row[i];
    unsigned p0 = (b >> 6) & 3, p1 = (b >> 4) & 3, p2 = (b >> 2) & 3, p3 = b & 3;
    row[2 * i + 1] = static_cast<uint8_t>(((p2 * scale) << 4) | (p3 * scale));
    row[2 * i] = static_cast<uint8_t>(((p0 * scale) << 4) | (p1 * scale));
  }
}

bool DecodeCore(DecodeState* s) {
  if (setjmp(png_jmpbuf(s->png))) return false;
  png_structp png = s->png;
  png_infop info = s->info;
  CxImage* img = s->img;

  png_set_read_fn(png, s, ReadFromMemory);
  // CxImage::Create caps the picture's size; libpng's default of a million
  // pixels a side would refuse long thin pictures that fit.
  png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_read_info(png, info);

  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, &interlace, nullptr, nullptr);

  png_colorp filePalette = nullptr;
  int paletteSize = 0;
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_get_PLTE(png, info, &filePalette, &paletteSize);
  png_bytep transAlpha = nullptr;
  int transCount = 0;
  png_color_16p transColour = nullptr;
  bool hasTrns = png_get_tRNS(png, info, &transAlpha, &transCount, &transColour) != 0;
  png_color_16p fileBackground = nullptr;
  bool hasBkgd = png_get_bKGD(png, info, &fileBackground) != 0;

  // The colour transparent parts are laid over: the file's bKGD, else light grey.
  unsigned bgRed = 192, bgGreen = 192, bgBlue = 192;
  if (hasBkgd) {
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
      if (fileBackground->index < paletteSize) {
        bgRed = filePalette[fileBackground->index].red;
        bgGreen = filePalette[fileBackground->index].green;
        bgBlue = filePalette[fileBackground->index].blue;
      }
    } else if (colorType & PNG_COLOR_MASK_COLOR) {
      unsigned shift = bitDepth == 16 ? 8 : 0;
      bgRed = (fileBackground->red >> shift) & 0xFF;
      bgGreen = (fileBackground->green >> shift) & 0xFF;
      bgBlue = (fileBackground->blue >> shift) & 0xFF;
    } else {
      unsigned maxGrey = (1u << bitDepth) - 1;
      unsigned g = fileBackground->gray & maxGrey;
      bgRed = bgGreen = bgBlue = bitDepth == 16 ? g >> 8 : g * 255 / maxGrey;
    }
  }

  // The picture's depth and how rows reach it.
  int depth = 24;
  bool withAlpha = false;  // rows come as grey+alpha or BGRA and are composited
  bool greyAlpha = false;
  bool greyLow = colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8;
  if (bitDepth == 16) png_set_strip_16(png);
  switch (colorType) {
    case PNG_COLOR_TYPE_PALETTE:
      depth = bitDepth;
      break;
    case PNG_COLOR_TYPE_GRAY:
      depth = bitDepth > 8 ? 8 : bitDepth;
      if (bitDepth == 16 && hasTrns) {
        png_set_tRNS_to_alpha(png);
        withAlpha = greyAlpha = true;
      }
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      if (bitDepth == 8) {
        depth = 8;
        withAlpha = greyAlpha = true;
      } else {
        // Thirty-two bits a pixel: a true-colour picture like every file of
        // more than sixteen.
        png_set_gray_to_rgb(png);
        png_set_bgr(png);
        withAlpha = true;
      }
      break;
    case PNG_COLOR_TYPE_RGB:
      png_set_bgr(png);
      if (hasTrns) {
        png_set_tRNS_to_alpha(png);
        withAlpha = true;
      }
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      png_set_bgr(png);
      withAlpha = true;
      break;
    default:
      png_error(png, "Unknown PNG colour type");
  }
  int passes = png_set_interlace_handling(png);
  s->passes = passes;
  png_read_update_info(png, info);

  // Deflate never makes more than 1032 bytes of one: rows (with their filter
  // bytes) beyond that many times the file's length cannot be in it, and the
  // header lies. Refused before the picture is allocated.
  {
    const int channels = colorType == PNG_COLOR_TYPE_RGB         ? 3
                         : colorType == PNG_COLOR_TYPE_RGB_ALPHA  ? 4
                         : colorType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                  : 1;
    const uint64_t rowBits = uint64_t{width} * static_cast<uint64_t>(bitDepth) * static_cast<uint64_t>(channels);
    const uint64_t filtered = (1 + (rowBits + 7) / 8) * uint64_t{height};
    if (filtered / 1032 > s->size) png_error(png, "Not enough image data");
  }

  if (!img->Create(width, height, depth)) {
    s->createFailed = true;
    return false;
  }
  int h = static_cast<int>(height);
  png_set_read_status_fn(png, OnRowRead);

  // Colour table.
  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    RGBQUAD* pal = img->GetPalette();
    int n = paletteSize < img->GetNumColors() ? paletteSize : img->GetNumColors();
    for (int i = 0; i < n; ++i) {
      unsigned r = filePalette[i].red, g = filePalette[i].green, b = filePalette[i].blue;
      if (hasTrns && transAlpha && i < transCount) {
        unsigned a = transAlpha[i];
        r = Blend(r, a, bgRed), g = Blend(g, a, bgGreen), b = Blend(b, a, bgBlue);
      }
      pal[i] = RGBQUAD{static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r), 0};
    }
  } else if (depth <= 8) {
    img->SetGrayPalette();
    if (hasTrns && transColour && bitDepth <= 8) {
      // One grey level is transparent: its entry shows the background.
      unsigned g = transColour->gray & ((1u << bitDepth) - 1);
      unsigned index = bitDepth == 2 ? g * 5 : g;
      img->GetPalette()[index] =
          RGBQUAD{static_cast<uint8_t>(bgBlue), static_cast<uint8_t>(bgGreen), static_cast<uint8_t>(bgRed), 0};
    }
  }

  // The resolution: only metres give a physical size.
  png_uint_32 resX = 0, resY = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER) {
    if (resX > 0) img->SetXDpi(DpmToDpi(resX));
    if (resY > 0) img->SetYDpi(DpmToDpi(resY));
  }

  size_t rowBytes = png_get_rowbytes(png, info);
  size_t stride = img->GetEffWidth();
  if (!withAlpha) {
    // Rows go straight into the picture (two-bit rows take half of theirs
    // until they are widened).
    if (rowBytes > stride) png_error(png, "PNG row does not fit the picture");
    s->rowPointers = static_cast<png_bytepp>(std::malloc(sizeof(png_bytep) * height));
    if (!s->rowPointers) png_error(png, "Insufficient memory for the PNG rows");
    for (int y = 0; y < h; ++y) s->rowPointers[y] = img->GetBits(h - 1 - y);
    png_read_image(png, s->rowPointers);
    if (bitDepth == 2) {
      for (int y = 0; y < h; ++y) ExpandTwoBitRow(img->GetBits(y), width, greyLow);
    }
    return true;
  }

  unsigned channels = greyAlpha ? 2 : 4;
  if (rowBytes != static_cast<size_t>(width) * channels) png_error(png, "Unexpected PNG row layout");
  // Interlaced rows are completed over several passes, so the whole picture
  // is needed before compositing; otherwise one row at a time will do.
  size_t bufferRows = passes > 1 ? height : 1;
  s->pixels = static_cast<png_bytep>(std::malloc(rowBytes * bufferRows));
  if (!s->pixels) png_error(png, "Insufficient memory for the PNG rows");
  if (passes > 1) {
    s->rowPointers = static_cast<png_bytepp>(std::malloc(sizeof(png_bytep) * height));
    if (!s->rowPointers) png_error(png, "Insufficient memory for the PNG rows");
    for (int y = 0; y < h; ++y) s->rowPointers[y] = s->pixels + rowBytes * static_cast<size_t>(y);
    png_read_image(png, s->rowPointers);
  }
  for (int y = 0; y < h; ++y) {
    png_bytep src = s->pixels;
    if (passes > 1)
      src += rowBytes * static_cast<size_t>(y);
    else
      png_read_row(png, src, nullptr);
    uint8_t* dst = img->GetBits(h - 1 - y);
    if (greyAlpha) {
      for (png_uint_32 x = 0; x < width; ++x, src += 2) dst[x] = Blend(src[0], src[1], bgRed);
    } else {
      for (png_uint_32 x = 0; x < width; ++x, src += 4, dst += 3) {
        unsigned a = src[3];
        dst[0] = Blend(src[0], a, bgBlue);
        dst[1] = Blend(src[1], a, bgGreen);
        dst[2] = Blend(src[2], a, bgRed);
      }
    }
  }
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

bool AppendToWriter(ByteWriter* out, const uint8_t* data, size_t n) {
  try {
    out->Write(data, n);
    return true;
  } catch (...) {
    return false;
  }
}

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
        int v = (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
        if (v > highest) highest = v;
      }
    }
  }
  return highest + 1;
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

  png_write_info(png, info);
  if (!indexed) png_set_bgr(png);  // libpng copies each row before turning it round
  for (int y = h - 1; y >= 0; --y) png_write_row(png, img->GetBits(y));
  png_write_end(png, info);
  return true;
}

}  // namespace

bool DecodePng(ByteReader& in, CxImage& img) {
  DecodeState* s = static_cast<DecodeState*>(std::calloc(1, sizeof(DecodeState)));
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
    ok = DecodeCore(s);
    if (!ok && !s->createFailed) img.SetError(s->message[0] ? s->message : "PNG decoding failed");
  }
  if (s->png) png_destroy_read_struct(&s->png, s->info ? &s->info : nullptr, nullptr);
  std::free(s->rowPointers);
  std::free(s->pixels);
  std::free(s);
  if (!ok) img.Destroy();
  return ok;
}

bool EncodePng(ByteWriter& out, CxImage& img) {
  if (!img.IsValid()) {
    img.SetError("null image!!!");
    return false;
  }
  EncodeState* s = static_cast<EncodeState*>(std::calloc(1, sizeof(EncodeState)));
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
    ok = EncodeCore(s);
    if (!ok) img.SetError(s->message[0] ? s->message : "PNG encoding failed");
  }
  if (s->png) png_destroy_write_struct(&s->png, s->info ? &s->info : nullptr);
  std::free(s);
  return ok;
}

}  // namespace tessara
