// Targa decoding and encoding: the sample files against netpbm's view of them,
// broken files, hand-made files for the packet and orientation rules, the exact
// bytes written, and round trips through our decoder and through tgatoppm.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "image/codec.h"
#include "image/ximage.h"
#include "tests/test_support.h"

namespace tessara {
namespace {

using namespace tessara::test;
namespace fs = std::filesystem;

// An 18-byte Targa header followed by `body`.
std::vector<uint8_t> TgaFile(uint8_t type, uint16_t width, uint16_t height, uint8_t depth, uint8_t descriptor,
                             const std::vector<uint8_t>& body, uint8_t cmapType = 0, uint16_t cmapLength = 0,
                             uint8_t idLength = 0) {
  std::vector<uint8_t> f(18 + body.size(), 0);
  f[0] = idLength;
  f[1] = cmapType;
  f[2] = type;
  f[5] = static_cast<uint8_t>(cmapLength);
  f[6] = static_cast<uint8_t>(cmapLength >> 8);
  f[7] = cmapType ? 24 : 0;
  f[12] = static_cast<uint8_t>(width);
  f[13] = static_cast<uint8_t>(width >> 8);
  f[14] = static_cast<uint8_t>(height);
  f[15] = static_cast<uint8_t>(height >> 8);
  f[16] = depth;
  f[17] = descriptor;
  std::copy(body.begin(), body.end(), f.begin() + 18);
  return f;
}

bool DecodeTgaBytes(CxImage& img, const std::vector<uint8_t>& bytes) {
  return img.Decode(bytes.data(), bytes.size(), CXIMAGE_FORMAT_TGA);
}

// Indices of a stored row of an 8-bit picture.
std::vector<uint8_t> Row8(const CxImage& img, int y) {
  const uint8_t* p = img.GetBits(y);
  return std::vector<uint8_t>(p, p + img.GetWidth());
}

TEST(TgaDecode, SampleFilesMatchNetpbm) {
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(TestData("formats"))) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("tga_", 0) != 0 || entry.path().extension() != ".tga") continue;
    fs::path expectedPath = entry.path().string() + ".expected.ppm";
    if (!fs::exists(expectedPath)) continue;
    SCOPED_TRACE(name);
    CxImage img(entry.path().string(), CXIMAGE_FORMAT_TGA);
    ASSERT_TRUE(img.IsValid()) << img.GetLastError();
    // Colour-mapped and grey files stay indexed; the rest are true colour.
    EXPECT_EQ(img.GetBpp(), name.find("8bit") != std::string::npos ? 8 : 24);
    RgbImage expected = ReadPpmFile(expectedPath);
    ASSERT_GT(expected.width, 0);
    EXPECT_EQ(MaxDifference(ToRgb(img), expected), 0);
    ++checked;
  }
  EXPECT_EQ(checked, 9);
}

TEST(TgaDecode, RunLengthWithAlphaLoadsAsTrueColour) {
  CxImage img(TestData("formats/tga_32bit_rle.tga").string(), CXIMAGE_FORMAT_TGA);
  ASSERT_TRUE(img.IsValid()) << img.GetLastError();
  EXPECT_EQ(img.GetBpp(), 24);
  EXPECT_EQ(img.GetWidth(), 61);
  EXPECT_EQ(img.GetHeight(), 47);
  // The same picture as the 24-bit run-length sample, alpha dropped.
  EXPECT_EQ(MaxDifference(ToRgb(img), ReadPpmFile(TestData("formats/tga_24bit_rle.tga.expected.ppm"))), 0);
}

TEST(TgaDecode, BrokenFilesFailWithTheirReason) {
  const std::map<std::string, std::string> expected = {
      {"tga_cmap_len_300.tga", "bad TGA header"},      {"tga_depth_12.tga", "bad TGA header"},
      {"tga_huge_dims.tga", "corrupted TGA"},          {"tga_image_type_4.tga", "Unknown TGA image type"},
      {"tga_rle_truncated.tga", "corrupted TGA"},      {"tga_truncated.tga", "corrupted TGA"},
  };
  for (const auto& [name, message] : expected) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> bytes = ReadBytes(TestData("broken/" + name));
    ASSERT_FALSE(bytes.empty());
    CxImage img;
    EXPECT_FALSE(DecodeTgaBytes(img, bytes));
    EXPECT_FALSE(img.IsValid());
    EXPECT_STREQ(img.GetLastError(), message.c_str());
  }
}

TEST(TgaDecode, PngNamedAsTgaLoadsThroughFallback) {
  CxImage img(TestData("broken/png_named_as.tga").string(), CXIMAGE_FORMAT_TGA);
  EXPECT_TRUE(img.IsValid()) << img.GetLastError();
}

TEST(TgaDecode, HeaderChecks) {
  CxImage img;
  const std::vector<uint8_t> pixel = {1, 2, 3};
  std::vector<uint8_t> shortHeader = TgaFile(2, 1, 1, 24, 0, pixel);
  shortHeader.resize(17);
  EXPECT_FALSE(DecodeTgaBytes(img, shortHeader));
  EXPECT_STREQ(img.GetLastError(), "Not a TGA");
  EXPECT_FALSE(DecodeTgaBytes(img, TgaFile(2, 1, 1, 24, 0, pixel, 1, 300)));
  EXPECT_STREQ(img.GetLastError(), "bad TGA header");
  EXPECT_FALSE(DecodeTgaBytes(img, TgaFile(2, 1, 1, 12, 0, pixel)));
  EXPECT_STREQ(img.GetLastError(), "bad TGA header");
  // An id field that runs past the end of the file.
  EXPECT_FALSE(DecodeTgaBytes(img, TgaFile(2, 1, 1, 24, 0, pixel, 0, 0, 200)));
  EXPECT_STREQ(img.GetLastError(), "corrupted TGA");
}

TEST(TgaDecode, OriginBitDecidesRowOrder) {
  // Two rows of grey: 10 first in the file, then 20.
  CxImage bottomUp, topDown;
  ASSERT_TRUE(DecodeTgaBytes(bottomUp, TgaFile(3, 1, 2, 8, 0x00, {10, 20})));
  ASSERT_TRUE(DecodeTgaBytes(topDown, TgaFile(3, 1, 2, 8, 0x20, {10, 20})));
  // With the bottom-left origin the first file row is the bottom row.
  EXPECT_EQ(bottomUp.GetPixelIndex(0, 0), 10);
  EXPECT_EQ(ToRgb(bottomUp).rgb, (std::vector<uint8_t>{20, 20, 20, 10, 10, 10}));
  // With the top-left origin it is the top row.
  EXPECT_EQ(topDown.GetPixelIndex(0, 1), 10);
  EXPECT_EQ(ToRgb(topDown).rgb, (std::vector<uint8_t>{10, 10, 10, 20, 20, 20}));
}

TEST(TgaDecode, RightToLeftBitMirrors) {
  CxImage img;
  ASSERT_TRUE(DecodeTgaBytes(img, TgaFile(2, 3, 1, 24, 0x10, {1, 1, 1, 2, 2, 2, 3, 3, 4})));
  EXPECT_EQ(ToRgb(img).rgb, (std::vector<uint8_t>{4, 3, 3, 2, 2, 2, 1, 1, 1}));
}

TEST(TgaDecode, PacketsCarryOverRowEnds) {
  // Width 4: a raw packet of 2, then a run of 5 that starts 2 pixels before the
  // end of the first row and fills the first 3 of the second, then a raw 1.
  CxImage img;
  ASSERT_TRUE(DecodeTgaBytes(img, TgaFile(11, 4, 2, 8, 0, {0x01, 1, 2, 0x84, 9, 0x00, 4})));
  EXPECT_EQ(Row8(img, 0), (std::vector<uint8_t>{1, 2, 9, 9}));
  EXPECT_EQ(Row8(img, 1), (std::vector<uint8_t>{9, 9, 9, 4}));

  // A raw packet of 6 reaching over the row end continues in the next row.
  CxImage raw;
  ASSERT_TRUE(DecodeTgaBytes(raw, TgaFile(11, 4, 2, 8, 0, {0x81, 7, 0x05, 1, 2, 3, 4, 5, 6})));
  EXPECT_EQ(Row8(raw, 0), (std::vector<uint8_t>{7, 7, 1, 2}));
  EXPECT_EQ(Row8(raw, 1), (std::vector<uint8_t>{3, 4, 5, 6}));

  // Packets that reach past the last pixel stop there.
  CxImage run, rawPast;
  ASSERT_TRUE(DecodeTgaBytes(run, TgaFile(11, 2, 1, 8, 0, {0xFF, 5})));
  EXPECT_EQ(Row8(run, 0), (std::vector<uint8_t>{5, 5}));
  ASSERT_TRUE(DecodeTgaBytes(rawPast, TgaFile(11, 2, 1, 8, 0, {0x7F, 5, 6})));
  EXPECT_EQ(Row8(rawPast, 0), (std::vector<uint8_t>{5, 6}));
}

TEST(TgaDecode, PixelDepths) {
  // Type 10 at depth 32: a 24-bit picture, the fourth byte dropped.
  CxImage rgba;
  ASSERT_TRUE(DecodeTgaBytes(rgba, TgaFile(10, 3, 1, 32, 8, {0x81, 1, 2, 3, 200, 0x00, 4, 5, 6, 7})));
  EXPECT_EQ(rgba.GetBpp(), 24);
  EXPECT_EQ(ToRgb(rgba).rgb, (std::vector<uint8_t>{3, 2, 1, 3, 2, 1, 6, 5, 4}));

  // 15 and 16 bits: five bits a channel scaled by 8, the top bit ignored.
  for (uint8_t depth : {15, 16}) {
    CxImage img;
    ASSERT_TRUE(DecodeTgaBytes(img, TgaFile(2, 4, 1, depth, 0, {0xFF, 0x7F, 0x21, 0x04, 0x00, 0x7C, 0xE0, 0x83})));
    EXPECT_EQ(img.GetBpp(), 24);
    EXPECT_EQ(ToRgb(img).rgb, (std::vector<uint8_t>{248, 248, 248, 8, 8, 8, 248, 0, 0, 0, 248, 0}));
  }
}

TEST(TgaDecode, ColourMap) {
  // Two entries (blue, green, red); index 5 lies beyond the map and reads black.
  CxImage img;
  ASSERT_TRUE(DecodeTgaBytes(img, TgaFile(1, 3, 1, 8, 0, {10, 20, 30, 40, 50, 60, 0, 1, 5}, 1, 2)));
  EXPECT_EQ(img.GetBpp(), 8);
  EXPECT_EQ(img.GetNumColors(), 256);
  EXPECT_EQ(ToRgb(img).rgb, (std::vector<uint8_t>{30, 20, 10, 60, 50, 40, 0, 0, 0}));

  // A map in a true-colour file is passed over and leaves the pixels alone.
  CxImage rgb;
  ASSERT_TRUE(DecodeTgaBytes(rgb, TgaFile(2, 1, 1, 24, 0, {10, 20, 30, 40, 50, 60, 1, 2, 3}, 1, 2)));
  EXPECT_EQ(ToRgb(rgb).rgb, (std::vector<uint8_t>{3, 2, 1}));

  // Grey files get the grey ramp even when they carry a map; an id field is
  // skipped.
  CxImage grey;
  ASSERT_TRUE(DecodeTgaBytes(grey, TgaFile(3, 2, 1, 8, 0, {'i', 'd', 10, 20, 30, 77, 200}, 1, 1, 2)));
  EXPECT_TRUE(grey.IsGrayScale());
  EXPECT_EQ(Row8(grey, 0), (std::vector<uint8_t>{77, 200}));
}

// A colour-mapped file whose map starts at index `first` and has entries of
// `entryBits` bits.
std::vector<uint8_t> MappedTga(uint8_t type, uint16_t width, uint8_t depth, uint16_t first, uint16_t length,
                               uint8_t entryBits, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> f = TgaFile(type, width, 1, depth, 0, body, 1, length);
  f[3] = static_cast<uint8_t>(first);
  f[4] = static_cast<uint8_t>(first >> 8);
  f[7] = entryBits;
  return f;
}

TEST(TgaDecode, ColourMapEntrySizesAndFirstIndex) {
  // 15- and 16-bit entries: five bits a channel, like 16-bit pixels.
  for (uint8_t bits : {15, 16}) {
    CxImage img;
    ASSERT_TRUE(DecodeTgaBytes(img, MappedTga(1, 3, 8, 0, 2, bits, {0xFF, 0x7F, 0x1F, 0x00, 0, 1, 2})));
    EXPECT_EQ(ToRgb(img).rgb, (std::vector<uint8_t>{248, 248, 248, 0, 0, 248, 0, 0, 0})) << int(bits);
  }
  // 32-bit entries: blue, green, red, and an alpha byte that is dropped.
  CxImage wide;
  ASSERT_TRUE(DecodeTgaBytes(wide, MappedTga(9, 2, 8, 0, 2, 32, {10, 20, 30, 99, 40, 50, 60, 77, 0x01, 1, 0})));
  EXPECT_EQ(ToRgb(wide).rgb, (std::vector<uint8_t>{60, 50, 40, 30, 20, 10}));
  // A map starting at index 5: index 5 is its first entry; indices outside it
  // read as black.
  CxImage offset;
  ASSERT_TRUE(DecodeTgaBytes(offset, MappedTga(1, 4, 8, 5, 2, 24, {10, 20, 30, 40, 50, 60, 5, 6, 0, 7})));
  EXPECT_EQ(ToRgb(offset).rgb, (std::vector<uint8_t>{30, 20, 10, 60, 50, 40, 0, 0, 0, 0, 0, 0}));
  // A true-colour file passes over a map of 2-byte entries at its real size.
  CxImage rgb;
  ASSERT_TRUE(DecodeTgaBytes(rgb, MappedTga(2, 1, 24, 0, 2, 16, {9, 9, 9, 9, 1, 2, 3})));
  EXPECT_EQ(ToRgb(rgb).rgb, (std::vector<uint8_t>{3, 2, 1}));
  // Entry sizes Targa does not have, and maps longer than the file, are refused.
  EXPECT_FALSE(DecodeTgaBytes(rgb, MappedTga(1, 1, 8, 0, 2, 8, {1, 2, 0})));
  EXPECT_STREQ(rgb.GetLastError(), "bad TGA header");
  EXPECT_FALSE(DecodeTgaBytes(rgb, MappedTga(1, 1, 8, 0, 200, 32, std::vector<uint8_t>(700, 0))));
  EXPECT_STREQ(rgb.GetLastError(), "corrupted TGA");
}

TEST(TgaDecode, SixteenBitGreyKeepsTheGreyByte) {
  // Grey, then an alpha or attribute byte that is dropped.
  CxImage raw, rle;
  ASSERT_TRUE(DecodeTgaBytes(raw, TgaFile(3, 2, 1, 16, 0, {77, 255, 200, 0})));
  EXPECT_EQ(raw.GetBpp(), 8);
  EXPECT_TRUE(raw.IsGrayScale());
  EXPECT_EQ(Row8(raw, 0), (std::vector<uint8_t>{77, 200}));
  ASSERT_TRUE(DecodeTgaBytes(rle, TgaFile(11, 3, 1, 16, 0, {0x81, 90, 255, 0x00, 12, 34})));
  EXPECT_EQ(Row8(rle, 0), (std::vector<uint8_t>{90, 90, 12}));
  EXPECT_FALSE(DecodeTgaBytes(rle, TgaFile(3, 2, 1, 16, 0, {77, 255, 200})));
  EXPECT_STREQ(rle.GetLastError(), "corrupted TGA");
}

TEST(TgaDecode, TruncatedOrOversizedDataIsRefused) {
  CxImage img;
  // A raw packet of 4 with only 2 values; the data ending at a row start.
  EXPECT_FALSE(DecodeTgaBytes(img, TgaFile(11, 4, 1, 8, 0, {0x03, 1, 2})));
  EXPECT_STREQ(img.GetLastError(), "corrupted TGA");
  EXPECT_FALSE(DecodeTgaBytes(img, TgaFile(11, 2, 2, 8, 0, {0x81, 1})));
  EXPECT_STREQ(img.GetLastError(), "corrupted TGA");
  // 65535 x 65535 run-length pixels cannot come from 100 bytes: refused
  // before anything is allocated.
  EXPECT_FALSE(DecodeTgaBytes(img, TgaFile(11, 0xFFFF, 0xFFFF, 8, 0, std::vector<uint8_t>(100, 0xFF))));
  EXPECT_STREQ(img.GetLastError(), "corrupted TGA");
}

TEST(TgaEncode, RefusesDepthsBelow8) {
  for (int depth : {1, 4}) {
    CxImage img;
    MakeIndexed(img, 4, 2, depth, {{0, 0, 0, 0}, {255, 255, 255, 0}}, std::vector<uint8_t>(8, 1));
    std::vector<uint8_t> out;
    EXPECT_FALSE(img.Encode(out, CXIMAGE_FORMAT_TGA));
    EXPECT_STREQ(img.GetLastError(), "Bit depth must be 8 or 24");
    EXPECT_TRUE(out.empty());
  }
}

TEST(TgaEncode, TrueColourLayout) {
  // 2 x 2: rows bottom first, no padding, blue-green-red.
  CxImage img;
  MakeImage24(img, 2, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  std::vector<uint8_t> out;
  ASSERT_TRUE(img.Encode(out, CXIMAGE_FORMAT_TGA));
  const std::vector<uint8_t> expected = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0,
                                         9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4};
  EXPECT_EQ(out, expected);
}

TEST(TgaEncode, IndexedLayout) {
  CxImage img;
  std::vector<RGBQUAD> pal(256);
  for (int i = 0; i < 256; ++i) pal[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0};
  MakeIndexed(img, 3, 2, 8, pal, {1, 2, 3, 4, 5, 6});
  std::vector<uint8_t> out;
  ASSERT_TRUE(img.Encode(out, CXIMAGE_FORMAT_TGA));
  ASSERT_EQ(out.size(), 18u + 768u + 6u);
  const std::vector<uint8_t> header = {0, 1, 1, 0, 0, 0, 1, 24, 0, 0, 0, 0, 3, 0, 2, 0, 8, 0};
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 18), header);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 18 + 3 * 200, out.begin() + 18 + 3 * 201),
            (std::vector<uint8_t>{200, 55, 100}));
  EXPECT_EQ(std::vector<uint8_t>(out.end() - 6, out.end()), (std::vector<uint8_t>{4, 5, 6, 1, 2, 3}));
}

}  // namespace
}  // namespace tessara
