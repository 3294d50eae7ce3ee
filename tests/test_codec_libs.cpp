// The JPEG, PNG and TIFF codecs (over libjpeg, libpng and libtiff): the test
// pictures against independent decoders' views, files that lie or are cut
// short, layouts made with the libraries themselves, and our own files read
// back by our decoder and by ImageMagick.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "image/codec.h"
#include "image/picture_memory.h"
#include "tests/test_support.h"

namespace tessara {
namespace {

namespace fs = std::filesystem;
using test::MaxDifference;
using test::ReadBytes;
using test::RgbImage;
using test::TestData;
using test::ToRgb;
using Bytes = std::vector<uint8_t>;

int FormatOf(const std::string& name) {
  if (name.rfind("jpg_", 0) == 0) return CXIMAGE_FORMAT_JPG;
  if (name.rfind("png_", 0) == 0) return CXIMAGE_FORMAT_PNG;
  return CXIMAGE_FORMAT_TIF;
}

// Decodes bytes, expecting success at the given depth.
RgbImage DecodeAs(const Bytes& file, int format, int bpp) {
  CxImage img(file.data(), file.size(), format);
  EXPECT_TRUE(img.IsValid()) << img.GetLastError();
  EXPECT_EQ(img.GetBpp(), bpp);
  return ToRgb(img);
}

Bytes Grey(std::initializer_list<int> levels) {
  Bytes rgb;
  for (int v : levels) rgb.insert(rgb.end(), {uint8_t(v), uint8_t(v), uint8_t(v)});
  return rgb;
}

// --- the test pictures --------------------------------------------------------

// Lossless files must match exactly; JPEG-coded and CMYK ones a few levels,
// 16-bit samples one level.
int Tolerance(const std::string& name) {
  if (name.rfind("jpg_", 0) == 0 || name == "tif_24bit_jpeg.tif" || name == "tif_cmyk.tif") return 4;
  if (name == "png_16bit_grey.png" || name == "png_48bit.png" || name == "tif_48bit.tif") return 1;
  return 0;
}

void ExpectMatchesExpected(const std::string& prefix) {
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(TestData("formats"))) {
    std::string name = entry.path().filename().string();
    fs::path expected = entry.path().string() + ".expected.ppm";
    if (name.rfind(prefix, 0) != 0 || name.find(".expected") != std::string::npos || !fs::exists(expected)) continue;
    SCOPED_TRACE(name);
    CxImage img(entry.path().string(), FormatOf(name));
    ASSERT_TRUE(img.IsValid()) << img.GetLastError();
    int diff = MaxDifference(ToRgb(img), test::ReadPpmFile(expected));
    EXPECT_GE(diff, 0) << "size differs";
    EXPECT_LE(diff, Tolerance(name));
    ++checked;
  }
  EXPECT_GE(checked, 5);
}

TEST(JpegDecode, TestPicturesMatchExpected) { ExpectMatchesExpected("jpg_"); }
TEST(PngDecode, TestPicturesMatchExpected) { ExpectMatchesExpected("png_"); }
TEST(TiffDecode, TestPicturesMatchExpected) { ExpectMatchesExpected("tif_"); }

TEST(JpegPngTiffDecode, DepthsOfThePicturesMade) {
  struct Case {
    const char* name;
    int bpp, width, height;
  } cases[] = {
      {"jpg_grey.jpg", 8, 61, 47},
      {"jpg_cmyk.jpg", 24, 61, 47},
      {"jpg_rgb_420.jpg", 24, 61, 47},
      {"png_1bit.png", 1, 61, 47},
      {"png_2bit_pal.png", 4, 61, 47},
      {"png_4bit_pal.png", 4, 61, 47},
      {"png_8bit_pal.png", 8, 61, 47},
      {"png_48bit.png", 24, 61, 47},
      {"png_32bit_rgba.png", 24, 61, 47},
      {"png_grey_alpha.png", 8, 61, 47},
      {"png_3x5_indexed_skimage.png", 8, 5, 3},
      {"png_palette_skimage.png", 8, 10, 10},
      {"tif_1bit_g4.tif", 1, 61, 47},
      {"tif_1bit_none.tif", 1, 61, 47},
      {"tif_8bit_grey_packbits.tif", 8, 61, 47},
      {"tif_8bit_palette_lzw.tif", 8, 61, 47},
      {"tif_cmyk.tif", 24, 61, 47},
      {"tif_48bit.tif", 24, 61, 47},
      {"tif_multipage_skimage.tif", 8, 10, 15},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CxImage img((TestData("formats") / c.name).string(), FormatOf(c.name));
    ASSERT_TRUE(img.IsValid()) << img.GetLastError();
    EXPECT_EQ(img.GetBpp(), c.bpp);
    EXPECT_EQ(img.GetWidth(), c.width);
    EXPECT_EQ(img.GetHeight(), c.height);
    if (std::string(c.name) == "jpg_grey.jpg") {
      EXPECT_TRUE(img.IsGrayScale());
    }
    if (std::string(c.name) == "tif_multipage_skimage.tif") {
      EXPECT_EQ(img.m_nXDpi, 72);
    }
  }
}

// Transparency is laid over the file's background colour, or light grey when
// it names none: ImageMagick flattening onto the same colour must agree.
TEST(PngDecode, TransparencyLaidOverBackground) {
  if (!test::HaveCommand("convert")) GTEST_SKIP() << "ImageMagick not installed";
  std::pair<const char*, const char*> cases[] = {{"png_32bit_rgba.png", "white"},
                                                 {"png_grey_alpha.png", "white"},
                                                 {"png_3x5_indexed_skimage.png", "rgb(192,192,192)"}};
  for (auto [name, background] : cases) {
    SCOPED_TRACE(name);
    fs::path path = TestData("formats") / name;
    bool ok = false;
    RgbImage flat = test::ReadPpm(test::RunCommand(
        "convert '" + path.string() + "' -background '" + background + "' -flatten -depth 8 ppm:- 2>/dev/null", &ok));
    ASSERT_TRUE(ok);
    CxImage img(path.string(), CXIMAGE_FORMAT_PNG);
    ASSERT_TRUE(img.IsValid()) << img.GetLastError();
    int diff = MaxDifference(ToRgb(img), flat);
    EXPECT_GE(diff, 0);
    EXPECT_LE(diff, 1);
  }
}

// --- files that lie or are cut short ------------------------------------------

TEST(JpegPngTiffDecode, BrokenFilesFailWithAMessage) {
  struct Case {
    const char* name;
    int format;
    const char* message;  // part of the expected text
  } cases[] = {{"jpg_truncated.jpg", CXIMAGE_FORMAT_JPG, "Premature end of JPEG file"},
               {"jpg_truncated_skimage.jpg", CXIMAGE_FORMAT_JPG, "Premature end of JPEG file"},
               {"png_truncated.png", CXIMAGE_FORMAT_PNG, ""},
               {"empty.png", CXIMAGE_FORMAT_PNG, ""},
               {"tif_truncated.tif", CXIMAGE_FORMAT_TIF, "Error encountered while opening TIFF file"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::path path = TestData("broken") / c.name;
    Bytes bytes = ReadBytes(path);
    CxImage direct(bytes.data(), bytes.size(), c.format);
    EXPECT_FALSE(direct.IsValid());
    std::string message = direct.GetLastError();
    EXPECT_NE(message, "");
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
    // Loaded by name every decoder is tried; the typed decoder's reason stays.
    CxImage loaded(path.string(), c.format);
    EXPECT_FALSE(loaded.IsValid());
    EXPECT_EQ(loaded.GetLastError(), message);
  }
}

// Needs the bitmap decoder to refuse the file before the JPEG decoder takes it.
TEST(JpegPngTiffDecode, FallbackAfterBitmapDecoderFindsJpegNamedBmp) {
  fs::path path = TestData("broken") / "jpeg_named_as.bmp";
  CxImage typed(path.string(), CXIMAGE_FORMAT_BMP);
  ASSERT_TRUE(typed.IsValid()) << typed.GetLastError();
  EXPECT_EQ(typed.GetBpp(), 24);
  CxImage any(path.string(), CXIMAGE_FORMAT_UNKNOWN);
  ASSERT_TRUE(any.IsValid()) << any.GetLastError();
  EXPECT_EQ(MaxDifference(ToRgb(typed), ToRgb(any)), 0);
}

// Every cut of a good file fails with a message, except cuts at or after
// `mayLoadFrom`, which may only give back the whole picture.
void CutAtEveryLength(const std::string& name, size_t mayLoadFrom) {
  Bytes bytes = ReadBytes(TestData("formats") / name);
  int format = FormatOf(name);
  RgbImage whole = ToRgb(CxImage(bytes.data(), bytes.size(), format));
  for (size_t n = 0; n < bytes.size(); n += (n < 64 ? 1 : 7)) {
    SCOPED_TRACE(name + " cut at " + std::to_string(n));
    CxImage img(bytes.data(), n, format);
    if (img.IsValid()) {
      EXPECT_GE(n, mayLoadFrom);
      EXPECT_EQ(MaxDifference(ToRgb(img), whole), 0);
    } else {
      EXPECT_NE(std::string(img.GetLastError()), "");
    }
  }
}

uint32_t Be32(const Bytes& b, size_t p) {
  return (uint32_t(b[p]) << 24) | (b[p + 1] << 16) | (b[p + 2] << 8) | b[p + 3];
}

// PNG chunks as (type, data).
std::vector<std::pair<std::string, Bytes>> PngChunks(const Bytes& png) {
  std::vector<std::pair<std::string, Bytes>> chunks;
  for (size_t pos = 8; pos + 12 <= png.size();) {
    size_t len = Be32(png, pos);
    if (pos + 12 + len > png.size()) break;
    chunks.emplace_back(std::string(png.begin() + pos + 4, png.begin() + pos + 8),
                        Bytes(png.begin() + pos + 8, png.begin() + pos + 8 + len));
    pos += 12 + len;
  }
  return chunks;
}

TEST(JpegDecode, CutFilesFail) {
  // A JPEG file needs every byte up to its end marker. The CMYK file fails with
  // its row buffer allocated.
  for (const char* name : {"jpg_rgb_420.jpg", "jpg_rgb_progressive.jpg", "jpg_grey.jpg", "jpg_cmyk.jpg"})
    CutAtEveryLength(name, ReadBytes(TestData("formats") / name).size());
}

TEST(PngDecode, CutFilesFail) {
  // Only the chunks after the picture data may be missing. The files with
  // alpha fail with their row buffer allocated.
  for (const char* name : {"png_24bit.png", "png_24bit_interlaced.png", "png_2bit_pal.png", "png_32bit_rgba.png",
                           "png_grey_alpha.png"}) {
    Bytes bytes = ReadBytes(TestData("formats") / name);
    size_t pos = 8, end = 0;
    for (const auto& [type, data] : PngChunks(bytes)) {
      pos += 12 + data.size();
      if (type == "IDAT") end = pos;
    }
    CutAtEveryLength(name, end);
  }
}

TEST(TiffDecode, CutFilesFail) {
  for (const char* name : {"tif_24bit_lzw.tif", "tif_1bit_g4.tif", "tif_24bit_tiled.tif", "tif_24bit_jpeg.tif"})
    CutAtEveryLength(name, 0);
}

TEST(JpegDecode, HeaderClaimingAHugePictureIsRefused) {
  Bytes bytes = ReadBytes(TestData("formats") / "jpg_rgb_444.jpg");
  size_t sof = 2;  // walk the segments to the frame header
  while (sof + 9 < bytes.size() && !(bytes[sof + 1] == 0xC0 || bytes[sof + 1] == 0xC2))
    sof += 2 + ((bytes[sof + 2] << 8) | bytes[sof + 3]);
  ASSERT_LT(sof + 9, bytes.size());
  bytes[sof + 5] = bytes[sof + 7] = 0x7F;  // 32767 x 32767
  bytes[sof + 6] = bytes[sof + 8] = 0xFF;
  CxImage img(bytes.data(), bytes.size(), CXIMAGE_FORMAT_JPG);
  EXPECT_FALSE(img.IsValid());
  EXPECT_NE(std::string(img.GetLastError()).find("Corrupt JPEG data"), std::string::npos) << img.GetLastError();
}

// --- layouts made with libpng and libtiff ---------------------------------------

Bytes WritePng(int w, int h, int bitDepth, int colorType, const Bytes& rows, void (*extra)(png_structp, png_infop),
               bool interlace = false) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep d, size_t n) {
        static_cast<Bytes*>(png_get_io_ptr(p))->insert(static_cast<Bytes*>(png_get_io_ptr(p))->end(), d, d + n);
      },
      nullptr);
  png_set_IHDR(png, info, w, h, bitDepth, colorType, interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (extra) extra(png, info);
  png_write_info(png, info);
  std::vector<png_bytep> ptrs(h);
  for (int y = 0; y < h; ++y) ptrs[y] = const_cast<png_bytep>(rows.data() + rows.size() / h * y);
  png_write_image(png, ptrs.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

void TransparentGrey(png_structp p, png_infop i, uint16_t level) {
  png_color_16 t{};
  t.gray = level;
  png_set_tRNS(p, i, nullptr, 0, &t);
}

TEST(PngDecode, LayoutsMadeWithLibpng) {
  // 2-bit grey: values 0..3 become nibbles on the 4-bit grey ramp.
  EXPECT_EQ(DecodeAs(WritePng(5, 1, 2, PNG_COLOR_TYPE_GRAY, {0x1B, 0xC0}, nullptr), CXIMAGE_FORMAT_PNG, 4).rgb,
            Grey({0, 85, 170, 255, 255}));
  // 16-bit grey: an 8-bit grey picture.
  EXPECT_EQ(
      DecodeAs(WritePng(2, 1, 16, PNG_COLOR_TYPE_GRAY, {0x12, 0x34, 0xFF, 0}, nullptr), CXIMAGE_FORMAT_PNG, 8).rgb,
      Grey({0x12, 0xFF}));
  // A transparent grey level shows the background (light grey, no bKGD);
  // at 16 bits only that exact level, not its neighbours sharing the high byte.
  auto level20 = [](png_structp p, png_infop i) { TransparentGrey(p, i, 20); };
  EXPECT_EQ(DecodeAs(WritePng(3, 1, 8, PNG_COLOR_TYPE_GRAY, {10, 20, 30}, level20), CXIMAGE_FORMAT_PNG, 8).rgb,
            Grey({10, 192, 30}));
  auto level1234 = [](png_structp p, png_infop i) { TransparentGrey(p, i, 0x1234); };
  EXPECT_EQ(
      DecodeAs(WritePng(2, 1, 16, PNG_COLOR_TYPE_GRAY, {0x12, 0x34, 0x12, 0xFF}, level1234), CXIMAGE_FORMAT_PNG, 8).rgb,
      Grey({192, 0x12}));
  // A transparent RGB colour.
  auto colour456 = [](png_structp p, png_infop i) {
    png_color_16 t{};
    t.red = 4, t.green = 5, t.blue = 6;
    png_set_tRNS(p, i, nullptr, 0, &t);
  };
  EXPECT_EQ(DecodeAs(WritePng(2, 1, 8, PNG_COLOR_TYPE_RGB, {1, 2, 3, 4, 5, 6}, colour456), CXIMAGE_FORMAT_PNG, 24).rgb,
            Bytes({1, 2, 3, 192, 192, 192}));
  // 16-bit grey with alpha (32 bits a pixel): 24-bit, over the file's bKGD;
  // pHYs in metres gives the resolution.
  Bytes ga = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0x80, 0, 0x80, 0};
  Bytes file = WritePng(3, 1, 16, PNG_COLOR_TYPE_GRAY_ALPHA, ga, [](png_structp p, png_infop i) {
    png_color_16 b{};
    b.gray = 0x6400;
    png_set_bKGD(p, i, &b);
    png_set_pHYs(p, i, 11811, 3937, PNG_RESOLUTION_METER);
  });
  EXPECT_EQ(DecodeAs(file, CXIMAGE_FORMAT_PNG, 24).rgb, Grey({255, 100, 114}));
  CxImage res(file.data(), file.size(), CXIMAGE_FORMAT_PNG);
  EXPECT_EQ(res.m_nXDpi, 300);
  EXPECT_EQ(res.m_nYDpi, 100);
  // Interlaced RGBA: every pass is gathered before compositing.
  Bytes rgba(9 * 11 * 4), want(9 * 11 * 3);
  for (int i = 0; i < 9 * 11; ++i) {
    uint8_t px[4] = {uint8_t(i), uint8_t(2 * i), uint8_t(255 - i), uint8_t(i % 3 ? 255 : 0)};
    std::memcpy(&rgba[4 * i], px, 4);
    for (int c = 0; c < 3; ++c) want[3 * i + c] = px[3] ? px[c] : 192;
  }
  EXPECT_EQ(DecodeAs(WritePng(9, 11, 8, PNG_COLOR_TYPE_RGB_ALPHA, rgba, nullptr, true), CXIMAGE_FORMAT_PNG, 24).rgb,
            want);
}

struct TiffLayout {
  uint32_t w, h;
  uint16_t bps, spp, photometric;
  uint16_t planar = PLANARCONFIG_CONTIG, orientation = ORIENTATION_TOPLEFT, compression = COMPRESSION_NONE;
  uint32_t tile = 0;  // tile side, 0 = strips
  uint16_t unit = RESUNIT_INCH;
  std::vector<uint16_t> colormap = {};
};

// `rows`: contiguous rows top first, or (separate planes) one plane after another.
Bytes WriteTiff(const TiffLayout& s, const Bytes& rows) {
  fs::path path = test::TempDir() / "made.tif";
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.w);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.h);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bps);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, s.spp);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, s.photometric);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, s.planar);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, s.orientation);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, s.compression);
  if (s.photometric == PHOTOMETRIC_YCBCR) {
    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);  // libjpeg takes RGB, stores YCbCr
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
  }
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, s.unit);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, 40.0f);
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, 40.0f);
  size_t n = s.colormap.size() / 3;
  if (n) TIFFSetField(tif, TIFFTAG_COLORMAP, &s.colormap[0], &s.colormap[n], &s.colormap[2 * n]);
  size_t line = size_t(TIFFScanlineSize(tif));
  if (s.tile) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, s.tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, s.tile);
    size_t tileRow = size_t(TIFFTileRowSize(tif));
    for (uint32_t ty = 0; ty < s.h; ty += s.tile)
      for (uint32_t tx = 0; tx < s.w; tx += s.tile) {
        Bytes tile(size_t(TIFFTileSize(tif)), 0);
        size_t off = tx * s.bps * s.spp / 8;
        for (uint32_t r = 0; r < s.tile && ty + r < s.h; ++r)
          std::memcpy(&tile[r * tileRow], &rows[(ty + r) * line + off], std::min(tileRow, line - off));
        TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0);
      }
  } else {
    uint16_t planes = s.planar == PLANARCONFIG_SEPARATE ? s.spp : 1;
    for (uint16_t p = 0; p < planes; ++p)
      for (uint32_t y = 0; y < s.h; ++y)
        TIFFWriteScanline(tif, const_cast<uint8_t*>(&rows[(size_t(p) * s.h + y) * line]), y, p);
  }
  TIFFClose(tif);
  return ReadBytes(path);
}

TEST(TiffDecode, LayoutsMadeWithLibtiff) {
  // 2-bit palette: indices 0 1 2 3 1 into a four-entry map of 16-bit values.
  TiffLayout pal{5, 1, 2, 1, PHOTOMETRIC_PALETTE};
  pal.colormap = {0, 0xFFFF, 0x8080, 0x1010, 0, 0xFFFF, 0x4040, 0x2020, 0xFFFF, 0, 0x2020, 0x3030};
  EXPECT_EQ(DecodeAs(WriteTiff(pal, {0x1B, 0x40}), CXIMAGE_FORMAT_TIF, 4).rgb,
            Bytes({0, 0, 255, 255, 255, 0, 128, 64, 32, 16, 32, 48, 255, 255, 0}));
  // 4-bit grey, zero is white.
  EXPECT_EQ(DecodeAs(WriteTiff({3, 1, 4, 1, PHOTOMETRIC_MINISWHITE}, {0x0F, 0x50}), CXIMAGE_FORMAT_TIF, 4).rgb,
            Grey({255, 0, 170}));
  // 16-bit grey (libtiff takes the samples in the machine's order).
  uint16_t g16[] = {0x0000, 0xFFFF};
  EXPECT_EQ(DecodeAs(WriteTiff({2, 1, 16, 1, PHOTOMETRIC_MINISBLACK}, Bytes((uint8_t*)g16, (uint8_t*)(g16 + 2))),
                     CXIMAGE_FORMAT_TIF, 8)
                .rgb,
            Grey({0, 255}));
  // 1-bit zero-is-black in 16 x 16 tiles, 20 x 18 pixels: a diagonal.
  Bytes bits(3 * 18, 0);
  for (int y = 0; y < 18; ++y) bits[y * 3 + y / 8] |= uint8_t(0x80 >> (y % 8));
  TiffLayout tiled{20, 18, 1, 1, PHOTOMETRIC_MINISBLACK};
  tiled.tile = 16;
  RgbImage diag = DecodeAs(WriteTiff(tiled, bits), CXIMAGE_FORMAT_TIF, 1);
  ASSERT_EQ(diag.rgb.size(), 20u * 18 * 3);
  for (int y = 0; y < 18; ++y)
    for (int x = 0; x < 20; ++x) ASSERT_EQ(diag.rgb[(y * 20 + x) * 3], x == y ? 255 : 0) << x << "," << y;
  // RGB stored bottom row first; resolution 40 per centimetre = 102 dpi.
  TiffLayout bottom{1, 2, 8, 3, PHOTOMETRIC_RGB};
  bottom.orientation = ORIENTATION_BOTLEFT;
  bottom.unit = RESUNIT_CENTIMETER;
  Bytes file = WriteTiff(bottom, {1, 2, 3, 4, 5, 6});
  EXPECT_EQ(DecodeAs(file, CXIMAGE_FORMAT_TIF, 24).rgb, Bytes({4, 5, 6, 1, 2, 3}));
  EXPECT_EQ(CxImage(file.data(), file.size(), CXIMAGE_FORMAT_TIF).m_nXDpi, 102);
  // Separate planes go through libtiff's RGBA reader.
  TiffLayout planes{2, 1, 8, 3, PHOTOMETRIC_RGB};
  planes.planar = PLANARCONFIG_SEPARATE;
  EXPECT_EQ(DecodeAs(WriteTiff(planes, {10, 20, 30, 40, 50, 60}), CXIMAGE_FORMAT_TIF, 24).rgb,
            Bytes({10, 30, 50, 20, 40, 60}));
  // JPEG-coded, subsampled YCbCr: libjpeg gives the colours back as RGB.
  TiffLayout ycbcr{24, 20, 8, 3, PHOTOMETRIC_YCBCR};
  ycbcr.compression = COMPRESSION_JPEG;
  Bytes flat;
  for (int i = 0; i < 24 * 20; ++i) flat.insert(flat.end(), {200, 60, 10});
  EXPECT_LE(MaxDifference(DecodeAs(WriteTiff(ycbcr, flat), CXIMAGE_FORMAT_TIF, 24), RgbImage{24, 20, flat}), 3);
}

TEST(TiffDecode, WhiteIsZeroPagesHoldBlackFirst) {
  // Zero is white: an 11-pixel row of white, black, then white again. Held
  // with black at entry 0 and bit 1 white, as every two-colour picture, and
  // the five bits after the last pixel left 0.
  for (uint16_t compression : {uint16_t(COMPRESSION_NONE), uint16_t(COMPRESSION_CCITTFAX4)}) {
    TiffLayout page{11, 2, 1, 1, PHOTOMETRIC_MINISWHITE};
    page.compression = compression;
    CxImage img;
    const Bytes file = WriteTiff(page, {0x3C, 0x00, 0x00, 0x00});
    ASSERT_TRUE(img.Decode(file.data(), file.size(), CXIMAGE_FORMAT_TIF)) << img.GetLastError();
    ASSERT_EQ(img.GetBpp(), 1);
    EXPECT_EQ(img.GetPalette()[0].rgbRed, 0);
    EXPECT_EQ(img.GetPalette()[1].rgbRed, 255);
    EXPECT_EQ(img.GetBits(1)[0], 0xC3) << compression;  // top row: black at x = 2..5
    EXPECT_EQ(img.GetBits(1)[1], 0xE0) << compression;
    EXPECT_EQ(img.GetBits(0)[1], 0xE0) << compression;
    EXPECT_EQ(test::ToRgb(img).rgb[3 * 2], 0);
    EXPECT_EQ(test::ToRgb(img).rgb[3 * 11], 255);
  }
}

TEST(TiffDecode, RightToLeftRowsAreMirroredAtEveryDepth) {
  // Each layout once left to right and once right to left: the second decodes
  // to the first turned about its vertical axis. Widths leave part of the last
  // byte unused, and several rows make sure each row is mirrored on its own.
  struct Case {
    TiffLayout layout;
    int bpp;
  };
  const Case cases[] = {{{13, 3, 1, 1, PHOTOMETRIC_MINISBLACK}, 1},
                        {{5, 3, 4, 1, PHOTOMETRIC_MINISBLACK}, 4},
                        {{7, 3, 8, 1, PHOTOMETRIC_MINISBLACK}, 8},
                        {{6, 3, 8, 3, PHOTOMETRIC_RGB}, 24}};
  for (const Case& c : cases) {
    const size_t line = (size_t(c.layout.w) * c.layout.bps * c.layout.spp + 7) / 8;
    Bytes rows(line * c.layout.h);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = uint8_t(i * 37 + 11);
    const RgbImage plain = DecodeAs(WriteTiff(c.layout, rows), CXIMAGE_FORMAT_TIF, c.bpp);
    TiffLayout turned = c.layout;
    turned.orientation = ORIENTATION_TOPRIGHT;
    const RgbImage mirrored = DecodeAs(WriteTiff(turned, rows), CXIMAGE_FORMAT_TIF, c.bpp);
    ASSERT_EQ(mirrored.rgb.size(), plain.rgb.size()) << c.bpp;
    const int w = int(c.layout.w);
    for (int y = 0; y < int(c.layout.h); ++y)
      for (int x = 0; x < w; ++x)
        for (int k = 0; k < 3; ++k)
          ASSERT_EQ(mirrored.rgb[(y * w + x) * 3 + k], plain.rgb[(y * w + w - 1 - x) * 3 + k])
              << c.bpp << " bits at " << x << "," << y;
  }
}

TEST(TiffDecode, UncompressedHeaderLargerThanFileIsRefused) {
  Bytes file = WriteTiff({8, 8, 8, 1, PHOTOMETRIC_MINISBLACK}, Bytes(64, 7));
  ASSERT_EQ(file[0], 'I');
  // Width and length become 30000 (LONG values in the first directory).
  size_t ifd = file[4] | (file[5] << 8) | (file[6] << 16) | (size_t(file[7]) << 24);
  int patched = 0;
  for (size_t i = 0, n = file[ifd] | (file[ifd + 1] << 8); i < n; ++i) {
    uint8_t* e = &file[ifd + 2 + 12 * i];
    int tag = e[0] | (e[1] << 8);
    if (tag != TIFFTAG_IMAGEWIDTH && tag != TIFFTAG_IMAGELENGTH && tag != TIFFTAG_ROWSPERSTRIP) continue;
    uint32_t v = tag == TIFFTAG_ROWSPERSTRIP ? 0xFFFFFFFF : 30000;  // one strip
    e[2] = 4, e[3] = 0;
    for (int b = 0; b < 4; ++b) e[8 + b] = uint8_t(v >> (8 * b));
    patched += tag != TIFFTAG_ROWSPERSTRIP;
  }
  ASSERT_EQ(patched, 2);
  CxImage img(file.data(), file.size(), CXIMAGE_FORMAT_TIF);
  EXPECT_FALSE(img.IsValid());
  EXPECT_STREQ(img.GetLastError(), "Corrupted TIFF file!");
}

long PeakKilobytes();

// A small tiled file whose one tile is said to be 32768 x 32768 (for a
// picture of 20 x 18, compressed or not) is refused before that tile's
// buffer is allocated; 256 x 256 tiles over a small picture still load.
TEST(TiffDecode, TilesLargerThanThePictureOrTheFileAreRefused) {
  for (uint16_t compression : {uint16_t(COMPRESSION_NONE), uint16_t(COMPRESSION_ADOBE_DEFLATE)}) {
    TiffLayout tiled{20, 18, 8, 1, PHOTOMETRIC_MINISBLACK};
    tiled.tile = 16;
    tiled.compression = compression;
    Bytes file = WriteTiff(tiled, Bytes(20 * 18, 9));
    size_t ifd = file[4] | (file[5] << 8) | (file[6] << 16) | (size_t(file[7]) << 24);
    int patched = 0;
    for (size_t i = 0, n = file[ifd] | (file[ifd + 1] << 8); i < n; ++i) {
      uint8_t* e = &file[ifd + 2 + 12 * i];
      const int tag = e[0] | (e[1] << 8);
      if (tag != TIFFTAG_TILEWIDTH && tag != TIFFTAG_TILELENGTH) continue;
      e[2] = 4, e[3] = 0;  // LONG
      for (int b = 0; b < 4; ++b) e[8 + b] = uint8_t(32768u >> (8 * b));
      ++patched;
    }
    ASSERT_EQ(patched, 2);
    const long before = PeakKilobytes();
    CxImage img(file.data(), file.size(), CXIMAGE_FORMAT_TIF);
    EXPECT_FALSE(img.IsValid()) << compression;
    EXPECT_STREQ(img.GetLastError(), "Corrupted TIFF file!");
    EXPECT_LT(PeakKilobytes() - before, 64 * 1024) << compression;
  }
  TiffLayout small{20, 18, 8, 1, PHOTOMETRIC_MINISBLACK};
  small.tile = 256;
  small.compression = COMPRESSION_ADOBE_DEFLATE;
  const Bytes file = WriteTiff(small, Bytes(20 * 18, 9));
  EXPECT_TRUE(CxImage(file.data(), file.size(), CXIMAGE_FORMAT_TIF).IsValid());
}

// --- headers that claim gigapixels ---------------------------------------------

void PutBE32(Bytes& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
void PutLE(Bytes& b, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

// A PNG of the given size whose only IDAT holds a few compressed bytes.
Bytes PngClaiming(uint32_t w, uint32_t h) {
  Bytes f = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  auto chunk = [&](const char* type, const Bytes& data) {
    PutBE32(f, uint32_t(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    f.insert(f.end(), body.begin(), body.end());
    PutBE32(f, uint32_t(crc32(0, body.data(), uInt(body.size()))));
  };
  Bytes ihdr;
  PutBE32(ihdr, w);
  PutBE32(ihdr, h);
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  chunk("IHDR", ihdr);
  Bytes zeros(10, 0), packed(64);
  uLongf n = packed.size();
  compress(packed.data(), &n, zeros.data(), zeros.size());
  packed.resize(n);
  chunk("IDAT", packed);
  chunk("IEND", {});
  return f;
}

// A little-endian TIFF of one strip holding `data`, 8 bits a sample.
Bytes TiffClaiming(uint32_t w, uint32_t h, uint16_t spp, uint16_t photometric, uint16_t compression,
                   const Bytes& data) {
  struct Entry {
    uint16_t tag, type;
    uint32_t value;
  };
  const uint32_t dataAt = 8 + 2 + 10 * 12 + 4;
  const Entry entries[] = {{256, 4, w},           {257, 4, h},           {258, 3, 8},
                           {259, 3, compression}, {262, 3, photometric}, {273, 4, dataAt},
                           {277, 3, spp},         {278, 4, h},           {279, 4, uint32_t(data.size())},
                           {284, 3, 1}};
  Bytes f = {'I', 'I', 42, 0};
  PutLE(f, 8, 4);
  PutLE(f, 10, 2);
  for (const Entry& e : entries) {
    PutLE(f, e.tag, 2);
    PutLE(f, e.type, 2);
    PutLE(f, 1, 4);
    PutLE(f, e.value, 4);
  }
  PutLE(f, 0, 4);
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

long PeakKilobytes() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// Files of a few hundred bytes claiming pictures of gigabytes are refused
// before the picture is allocated: hardly any picture memory is asked for
// (counted, since a mapped picture that is never written costs no resident
// memory and would pass unseen).
TEST(JpegPngTiffDecode, TinyFilesClaimingHugePicturesCostNoMemory) {
  Bytes deflated(64);
  {
    Bytes zeros(100, 0);
    uLongf n = deflated.size();
    compress(deflated.data(), &n, zeros.data(), zeros.size());
    deflated.resize(n);
  }
  Bytes packbits;
  for (int i = 0; i < 20; ++i) packbits.insert(packbits.end(), {0x81, 0x00});
  // Progressive, arithmetic-coded, three components, 9533 x 31279.
  Bytes arith = {0xFF, 0xD8, 0xFF, 0xCA, 0, 17, 8, 0x7A, 0x2F, 0x25, 0x3D, 3, 1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0,
                 0xFF, 0xDA, 0, 12, 3, 1, 0, 2, 0, 3, 0, 0, 0, 0};
  arith.insert(arith.end(), 100, 0);
  arith.insert(arith.end(), {0xFF, 0xD9});
  struct Case {
    const char* what;
    Bytes file;
    int format;
  };
  const Case cases[] = {
      {"PNG 26000 x 27000", PngClaiming(26000, 27000), CXIMAGE_FORMAT_PNG},
      {"TIFF CMYK PackBits 23000 x 23000", TiffClaiming(23000, 23000, 4, PHOTOMETRIC_SEPARATED, 32773, packbits),
       CXIMAGE_FORMAT_TIF},
      {"TIFF RGB deflate 26000 x 27000", TiffClaiming(26000, 27000, 3, PHOTOMETRIC_RGB, 8, deflated),
       CXIMAGE_FORMAT_TIF},
      {"arithmetic JPEG 9533 x 31279", arith, CXIMAGE_FORMAT_JPG},
  };
  for (const Case& c : cases) {
    const uint64_t before = PictureMemoryAskedFor();
    CxImage img(c.file.data(), c.file.size(), c.format);
    EXPECT_FALSE(img.IsValid()) << c.what;
    EXPECT_STRNE(img.GetLastError(), "") << c.what;
    EXPECT_LT(PictureMemoryAskedFor() - before, uint64_t{64} << 20) << c.what;
  }
}

// A picture wider or taller than the program can hold is refused by size
// alone, with its size in the message.
TEST(JpegPngTiffDecode, PicturesNoScaleCouldUseAreRefusedBeforeAllocating) {
  CxImage img;
  const long before = PeakKilobytes();
  EXPECT_FALSE(img.Create(kMaxUsableSide + 1, 1, 1));
  EXPECT_STREQ(img.GetLastError(),
               "A picture of 65501 x 1 pixels is larger than the 65,500 pixels a side the program can hold");
  EXPECT_FALSE(img.Create(2, kMaxUsableSide + 1, 1));
  EXPECT_LT(PeakKilobytes() - before, 1024);
  EXPECT_TRUE(img.Create(kMaxUsableSide, 1, 1));
  EXPECT_TRUE(img.IsValid());
}

// A header within the sides but past the 4 GB a picture may take (40000 x
// 40000 RGB is 4.8 GB) is refused by CxImage::Create before a row is decoded:
// fast, and without taking memory for it. The file is long enough for its
// size to be plausible.
TEST(JpegPngTiffDecode, PicturesPastFourGigabytesAreRefusedFromTheHeader) {
  Bytes file = PngClaiming(40000, 40000);
  file.resize(file.size() + (size_t{5} << 20), 0);
  const long before = PeakKilobytes();
  CxImage img(file.data(), file.size(), CXIMAGE_FORMAT_PNG);
  EXPECT_FALSE(img.IsValid());
  EXPECT_STREQ(img.GetLastError(),
               "CxImage::Create can't allocate memory. A picture of 40000 x 40000 pixels at 24 bits needs 4,578 MB, "
               "more than the 4,096 MB the program can make.");
  EXPECT_LT(PeakKilobytes() - before, 64 * 1024);
}

// Only regular files are read: a device would feed the reader without end.
TEST(JpegPngTiffDecode, NonRegularFilesAreNotRead) {
  CxImage img("/dev/zero", CXIMAGE_FORMAT_UNKNOWN);
  EXPECT_FALSE(img.IsValid());
  EXPECT_EQ(ReadDibFile("/dev/zero"), nullptr);
}

// --- our files read back -------------------------------------------------------

std::vector<RGBQUAD> SomePalette(int n) {
  std::vector<RGBQUAD> pal(n);
  for (int i = 0; i < n; ++i) pal[i] = RGBQUAD{uint8_t(i * 53 + 7), uint8_t(i * 29 + 100), uint8_t(255 - i * 11), 0};
  return pal;
}

std::vector<RGBQUAD> GreyRamp(int n) {
  std::vector<RGBQUAD> pal(n);
  for (int i = 0; i < n; ++i)
    pal[i] = RGBQUAD{uint8_t(i * 255 / (n - 1)), uint8_t(i * 255 / (n - 1)), uint8_t(i * 255 / (n - 1)), 0};
  return pal;
}

const std::vector<RGBQUAD> kBlackWhite = {{0, 0, 0, 0}, {255, 255, 255, 0}};
const std::vector<RGBQUAD> kWhiteBlack = {{255, 255, 255, 0}, {0, 0, 0, 0}};

// A picture at `depth` (24: PatternRgb) whose indices make an asymmetric
// pattern using entries 0 .. used - 1.
void MakePicture(CxImage& img, int w, int h, int depth, const std::vector<RGBQUAD>& pal = {}, int used = 2) {
  if (depth == 24) return test::MakeImage24(img, w, h, test::PatternRgb(w, h));
  Bytes idx(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) idx[size_t(y) * w + x] = uint8_t((x * 3 + y * y + (x > y ? 1 : 0)) % used);
  test::MakeIndexed(img, w, h, depth, pal, idx);
}

Bytes EncodeOrFail(CxImage& img, int format) {
  Bytes out;
  EXPECT_TRUE(img.Encode(out, format)) << img.GetLastError();
  return out;
}

// ImageMagick's view of our file; empty when ImageMagick is missing.
RgbImage ImageMagickView(const Bytes& file, const char* ext) {
  if (!test::HaveCommand("convert")) return {};
  fs::path path = test::TempDir() / (std::string("ours.") + ext);
  test::WriteBytes(path, file);
  bool ok = false;
  RgbImage view = test::ReadPpm(test::RunCommand("convert '" + path.string() + "' -depth 8 ppm:- 2>/dev/null", &ok));
  EXPECT_TRUE(ok);
  return view;
}

double MeanDifference(const RgbImage& a, const RgbImage& b) {
  double sum = 0;
  for (size_t i = 0; i < a.rgb.size() && i < b.rgb.size(); ++i) sum += std::abs(int(a.rgb[i]) - int(b.rgb[i]));
  return a.rgb.empty() ? 1e9 : sum / a.rgb.size();
}

// Our decoder and ImageMagick read our file as the picture: exactly, except
// TIFF's 24-bit pictures, which are JPEG-coded.
void ExpectRoundTrip(int format, const char* ext) {
  for (auto [w, h] : {std::pair{7, 5}, std::pair{61, 47}}) {
    struct Case {
      int depth;
      std::vector<RGBQUAD> pal;
      int used;
    } cases[] = {{24, {}, 0},           {1, kBlackWhite, 2},        {1, kWhiteBlack, 2},    {4, SomePalette(16), 16},
                 {4, GreyRamp(16), 16}, {8, SomePalette(256), 200}, {8, GreyRamp(256), 256}};
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " depth " + std::to_string(c.depth));
      CxImage img;
      MakePicture(img, w, h, c.depth, c.pal, c.used);
      RgbImage original = ToRgb(img);
      Bytes file = EncodeOrFail(img, format);
      RgbImage ours = DecodeAs(file, format, c.depth);
      RgbImage theirs = ImageMagickView(file, ext);
      if (format == CXIMAGE_FORMAT_TIF && c.depth == 24) {
        if (w > 7) {
          EXPECT_LT(MeanDifference(ours, original), 6.0);
        }
        if (theirs.width) {
          EXPECT_LE(MaxDifference(theirs, ours), 3);
        }
        // Named by the encode options, another compression is used: LZW is exact.
        img.m_dwCodecOptions = COMPRESSION_LZW;
        EXPECT_EQ(MaxDifference(DecodeAs(EncodeOrFail(img, format), format, 24), original), 0);
        continue;
      }
      EXPECT_EQ(MaxDifference(ours, original), 0);
      if (theirs.width) {
        EXPECT_EQ(MaxDifference(theirs, original), 0);
      }
    }
  }
}

TEST(PngEncode, RoundTripAtEveryDepth) { ExpectRoundTrip(CXIMAGE_FORMAT_PNG, "png"); }

// Pictures large enough to be compressed in several bands on several threads
// still make one valid stream: our decoder, ImageMagick and netpbm read them
// exactly, at every depth.
TEST(PngEncode, PicturesCompressedInBandsReadBackExactly) {
  struct Case {
    int w, h, depth, used;
    std::vector<RGBQUAD> pal;
  } cases[] = {{1500, 1000, 24, 0, {}}, {4200, 1100, 8, 200, SomePalette(256)}, {8400, 4100, 1, 2, kBlackWhite}};
  for (const Case& c : cases) {
    SCOPED_TRACE("depth " + std::to_string(c.depth));
    CxImage img;
    MakePicture(img, c.w, c.h, c.depth, c.pal, c.used);
    const RgbImage original = ToRgb(img);
    const Bytes file = EncodeOrFail(img, CXIMAGE_FORMAT_PNG);
    EXPECT_EQ(MaxDifference(DecodeAs(file, CXIMAGE_FORMAT_PNG, c.depth), original), 0);
    const RgbImage theirs = ImageMagickView(file, "png");
    if (theirs.width) {
      EXPECT_EQ(MaxDifference(theirs, original), 0);
    }
    if (test::HaveCommand("pngtopnm")) {
      const fs::path path = test::TempDir() / "bands.png";
      test::WriteBytes(path, file);
      bool ok = false;
      const RgbImage netpbm =
          test::ReadPpm(test::RunCommand("pngtopnm '" + path.string() + "' | ppmtoppm 2>/dev/null", &ok));
      EXPECT_TRUE(ok);
      EXPECT_EQ(MaxDifference(netpbm, original), 0);
    }
  }
}
TEST(TiffEncode, RoundTripAtEveryDepth) { ExpectRoundTrip(CXIMAGE_FORMAT_TIF, "tif"); }

// JPEG loses detail: the picture comes back close on average (a swapped
// channel or a flipped picture would not), and ImageMagick reads our file as
// our decoder does, within a few levels.
TEST(JpegEncode, RoundTripGreyAndColour) {
  for (auto [w, h] : {std::pair{7, 5}, std::pair{61, 47}}) {
    for (int depth : {24, 8}) {
      SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " depth " + std::to_string(depth));
      CxImage img;
      MakePicture(img, w, h, depth, GreyRamp(256), 256);
      Bytes file = EncodeOrFail(img, CXIMAGE_FORMAT_JPG);
      RgbImage ours = DecodeAs(file, CXIMAGE_FORMAT_JPG, depth);
      // Chroma is subsampled: a 7 x 5 half-red picture blurs a lot.
      if (w > 7 || depth == 8) {
        EXPECT_LT(MeanDifference(ours, ToRgb(img)), 6.0);
      }
      RgbImage theirs = ImageMagickView(file, "jpg");
      if (theirs.width) {
        EXPECT_LE(MaxDifference(theirs, ours), 3);
      }
    }
  }
}

// Large pictures are compressed in bands of rows on every core and joined with
// restart markers into one baseline stream: our decoder, djpeg and ImageMagick
// show exactly the pixels of the same picture written in one piece, colour
// (odd sizes, a last band cut short) and grey alike, at a low quality too.
TEST(JpegEncode, BandsDecodeToThePixelsOfOnePiece) {
  struct Case {
    int w, h, depth, quality;
  } cases[] = {{1501, 1403, 24, 90}, {2048, 1500, 8, 90}, {1200, 1800, 24, 10}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " depth " + std::to_string(c.depth));
    CxImage img;
    MakePicture(img, c.w, c.h, c.depth, GreyRamp(256), 256);
    img.m_nJpegQuality = c.quality;
    const Bytes banded = EncodeOrFail(img, CXIMAGE_FORMAT_JPG);
    img.m_dwCodecOptions = kJpegOptionOnePiece;
    const Bytes whole = EncodeOrFail(img, CXIMAGE_FORMAT_JPG);
    ASSERT_NE(banded, whole);
    // A plain sequential stream with a restart interval.
    const auto has = [&](std::initializer_list<uint8_t> marker) {
      return std::search(banded.begin(), banded.end(), marker.begin(), marker.end()) != banded.end();
    };
    EXPECT_TRUE(has({0xFF, 0xDD, 0x00, 0x04}));
    EXPECT_TRUE(has({0xFF, 0xD0}));
    EXPECT_FALSE(has({0xFF, 0xC2}));
    const RgbImage ours = DecodeAs(banded, CXIMAGE_FORMAT_JPG, c.depth);
    EXPECT_EQ(MaxDifference(ours, DecodeAs(whole, CXIMAGE_FORMAT_JPG, c.depth)), 0);
    const RgbImage magick = ImageMagickView(banded, "jpg");
    if (magick.width) {
      EXPECT_EQ(MaxDifference(magick, ImageMagickView(whole, "jpg")), 0);
    }
    if (test::HaveCommand("djpeg")) {
      const fs::path a = test::TempDir() / "banded.jpg", b = test::TempDir() / "whole.jpg";
      test::WriteBytes(a, banded);
      test::WriteBytes(b, whole);
      bool okA = false, okB = false;
      const RgbImage djA = test::ReadPpm(test::RunCommand("djpeg -pnm '" + a.string() + "' | ppmtoppm 2>/dev/null", &okA));
      const RgbImage djB = test::ReadPpm(test::RunCommand("djpeg -pnm '" + b.string() + "' | ppmtoppm 2>/dev/null", &okB));
      ASSERT_TRUE(okA && okB);
      EXPECT_EQ(djA.width, c.w);
      EXPECT_EQ(MaxDifference(djA, djB), 0);
    }
  }
}

TEST(JpegPngTiffEncode, Refusals) {
  for (int depth : {1, 4, 8}) {
    CxImage img;
    MakePicture(img, 7, 5, depth, depth == 8 ? SomePalette(256) : depth == 4 ? GreyRamp(16) : kBlackWhite);
    Bytes out;
    EXPECT_FALSE(img.Encode(out, CXIMAGE_FORMAT_JPG));
    EXPECT_STREQ(img.GetLastError(), "JPEG can save only RGB or GreyScale images");
  }
  bool (*encoders[])(ByteWriter&, CxImage&) = {EncodeJpeg, EncodePng, EncodeTiff};
  for (auto encode : encoders) {
    CxImage empty;
    ByteWriter w;
    EXPECT_FALSE(encode(w, empty));
    EXPECT_STREQ(empty.GetLastError(), "null image!!!");
  }
}

// The resolution goes out and comes back in every format; a header with no
// resolution gives the default of 96.
TEST(JpegPngTiffEncode, ResolutionRoundTrip) {
  for (int format : {CXIMAGE_FORMAT_JPG, CXIMAGE_FORMAT_PNG, CXIMAGE_FORMAT_TIF}) {
    SCOPED_TRACE(format);
    CxImage img, plain;
    MakePicture(img, 7, 5, 24);
    img.SetXDpi(300);
    img.SetYDpi(150);
    Bytes file = EncodeOrFail(img, format);
    CxImage back(file.data(), file.size(), format);
    EXPECT_EQ(back.m_nXDpi, 300);
    EXPECT_EQ(back.m_nYDpi, 150);
    MakePicture(plain, 7, 5, 24);
    plain.Header().biXPelsPerMeter = plain.Header().biYPelsPerMeter = 0;
    file = EncodeOrFail(plain, format);
    CxImage again(file.data(), file.size(), format);
    EXPECT_TRUE(again.IsValid());
    EXPECT_EQ(again.m_nXDpi, 96);
    EXPECT_EQ(again.m_nYDpi, 96);
  }
}

// The JFIF segment: FF D8 FF E0 len "JFIF\0" version(2) unit(1) x(2) y(2).
TEST(JpegEncode, JfifDensityBothWays) {
  CxImage grey;
  MakePicture(grey, 61, 47, 8, GreyRamp(256), 256);
  Bytes file = EncodeOrFail(grey, CXIMAGE_FORMAT_JPG);
  ASSERT_EQ(std::memcmp(&file[6], "JFIF", 5), 0);
  EXPECT_EQ(file[13], 1);  // dots per inch
  EXPECT_EQ((file[14] << 8) | file[15], 96);
  // Dots per centimetre x 2.54, rounded; no unit keeps 96.
  file[13] = 2, file[14] = 0, file[15] = 100, file[16] = 0, file[17] = 40;
  CxImage cm(file.data(), file.size(), CXIMAGE_FORMAT_JPG);
  EXPECT_EQ(cm.m_nXDpi, 254);
  EXPECT_EQ(cm.m_nYDpi, 102);
  file[13] = 0;
  EXPECT_EQ(CxImage(file.data(), file.size(), CXIMAGE_FORMAT_JPG).m_nXDpi, 96);
}

TEST(PngEncode, HeaderPaletteResolutionAndBackground) {
  auto chunk = [](const Bytes& png, const char* type) {
    for (auto& [t, data] : PngChunks(png))
      if (t == type) return data;
    ADD_FAILURE() << "no " << type;
    return Bytes(13);
  };
  // A small 8-bit picture using entries 0..9 gets ten palette entries.
  CxImage small, big, mono, rgb;
  MakePicture(small, 61, 47, 8, SomePalette(256), 10);
  Bytes file = EncodeOrFail(small, CXIMAGE_FORMAT_PNG);
  Bytes ihdr = chunk(file, "IHDR"), phys = chunk(file, "pHYs");
  EXPECT_EQ(ihdr[8], 8);   // bit depth
  EXPECT_EQ(ihdr[9], 3);   // palette
  EXPECT_EQ(ihdr[12], 0);  // not interlaced
  EXPECT_EQ(chunk(file, "PLTE").size(), 30u);
  EXPECT_EQ(Be32(phys, 0), uint32_t(DpiToDpm(96)));
  EXPECT_EQ(phys[8], 1);  // metres
  EXPECT_EQ(chunk(file, "bKGD").size(), 1u);
  // 65536 pixels or more keep the whole table; 1-bit pictures both entries.
  MakePicture(big, 256, 256, 8, SomePalette(256), 10);
  EXPECT_EQ(chunk(EncodeOrFail(big, CXIMAGE_FORMAT_PNG), "PLTE").size(), 768u);
  MakePicture(mono, 7, 5, 1, kBlackWhite, 1);
  EXPECT_EQ(chunk(EncodeOrFail(mono, CXIMAGE_FORMAT_PNG), "PLTE").size(), 6u);
  // 24-bit pictures: RGB, white background.
  MakePicture(rgb, 7, 5, 24);
  file = EncodeOrFail(rgb, CXIMAGE_FORMAT_PNG);
  EXPECT_EQ(chunk(file, "IHDR")[9], 2);
  EXPECT_EQ(chunk(file, "bKGD"), Bytes({0, 255, 0, 255, 0, 255}));
}

TEST(TiffEncode, TagsChosenByDepth) {
  if (!test::HaveCommand("tiffinfo")) GTEST_SKIP() << "tiffinfo not installed";
  CxImage mono, four, eightGrey, eightPal, rgb;
  MakePicture(mono, 61, 47, 1, kBlackWhite);
  MakePicture(four, 61, 47, 4, SomePalette(16), 16);
  MakePicture(eightGrey, 61, 47, 8, GreyRamp(256), 256);
  MakePicture(eightPal, 61, 47, 8, SomePalette(256), 256);
  MakePicture(rgb, 300, 47, 24);
  std::pair<CxImage*, std::vector<std::string>> cases[] = {
      {&mono, {"CCITT Group 4", "min-is-white", "Bits/Sample: 1"}},
      {&four, {"Compression Scheme: None", "palette", "Bits/Sample: 4"}},
      {&eightGrey, {"PackBits", "min-is-black"}},
      {&eightPal, {"PackBits", "palette"}},
      {&rgb, {"Compression Scheme: JPEG", "Photometric Interpretation: RGB", "Samples/Pixel: 3", "Rows/Strip: 16"}},
  };
  for (auto& [img, lines] : cases) {
    fs::path path = test::TempDir() / "info.tif";
    test::WriteBytes(path, EncodeOrFail(*img, CXIMAGE_FORMAT_TIF));
    Bytes out = test::RunCommand("tiffinfo '" + path.string() + "' 2>&1");
    std::string info(out.begin(), out.end());
    for (const std::string& line : lines) EXPECT_NE(info.find(line), std::string::npos) << line << "\n" << info;
    EXPECT_NE(info.find("Resolution: 96, 96 pixels/inch"), std::string::npos) << info;
    EXPECT_EQ(info.find("TIFF Directory at offset", info.find("TIFF Directory at offset") + 1), std::string::npos)
        << "one page only";
  }
}

}  // namespace
}  // namespace tessara
