// The bitmap decoder of the codec layer: every depth and header kind, run-length
// data, blocks in memory without a file header, and files that lie.
#include <gtest/gtest.h>

#include <cstring>

#include "image/codec.h"
#include "tests/test_support.h"

namespace tessara {
namespace {

using test::TestData;

TEST(BmpDecode, DepthsOfThePictureMade) {
  struct Case {
    const char* name;
    int bpp;
  } cases[] = {{"bmp_1bit.bmp", 1}, {"bmp_4bit_rle4.bmp", 4}, {"bmp_8bit.bmp", 8},
               {"bmp_16bit_565.bmp", 24}, {"bmp_32bit_alpha.bmp", 24}};
  for (const Case& c : cases) {
    CxImage img((TestData("formats") / c.name).string(), CXIMAGE_FORMAT_BMP);
    ASSERT_TRUE(img.IsValid()) << c.name;
    EXPECT_EQ(img.GetBpp(), c.bpp) << c.name;
    EXPECT_EQ(img.GetWidth(), 61);
    EXPECT_EQ(img.GetHeight(), 47);
  }
}

// A minimal bitmap file: 40-byte header, optional table, rows as given.
std::vector<uint8_t> BmpFile(int width, int height, int bits, uint32_t compression,
                             const std::vector<uint8_t>& table, const std::vector<uint8_t>& rows,
                             int32_t ppm = 0) {
  ByteWriter w;
  const uint32_t offset = 14 + 40 + static_cast<uint32_t>(table.size());
  w.PutU8('B'), w.PutU8('M');
  w.PutU32(offset + static_cast<uint32_t>(rows.size()));
  w.PutU32(0);
  w.PutU32(offset);
  w.PutU32(40);
  w.PutU32(static_cast<uint32_t>(width));
  w.PutU32(static_cast<uint32_t>(height));
  w.PutU16(1);
  w.PutU16(static_cast<uint16_t>(bits));
  w.PutU32(compression);
  w.PutU32(static_cast<uint32_t>(rows.size()));
  w.PutU32(static_cast<uint32_t>(ppm));
  w.PutU32(static_cast<uint32_t>(ppm));
  w.PutU32(static_cast<uint32_t>(table.size() / 4));
  w.PutU32(0);
  w.Write(table.data(), table.size());
  w.Write(rows.data(), rows.size());
  return w.Buffer();
}

TEST(BmpDecode, NegativeHeightMeansTopRowFirst) {
  // 1 x 2, 24 bits: first stored row red, second blue.
  std::vector<uint8_t> rows = {0, 0, 255, 0, 255, 0, 0, 0};
  auto up = BmpFile(1, 2, 24, BI_RGB, {}, rows);
  auto down = BmpFile(1, -2, 24, BI_RGB, {}, rows);
  CxImage a(up.data(), up.size(), CXIMAGE_FORMAT_BMP), b(down.data(), down.size(), CXIMAGE_FORMAT_BMP);
  ASSERT_TRUE(a.IsValid() && b.IsValid());
  EXPECT_EQ(a.GetBits(0)[2], 255);  // bottom row red
  EXPECT_EQ(b.GetBits(0)[0], 255);  // bottom row blue
  EXPECT_EQ(b.GetHeight(), 2);
}

TEST(BmpDecode, BlockInMemoryWithoutFileHeader) {
  DibPtr dib = CreateDib(0, 8, 3, 2, "x");
  for (int i = 0; i < 256; ++i) dib->ColorTable()[i] = {uint8_t(i), uint8_t(255 - i), 7, 0};
  dib->Row(0)[0] = 9;
  dib->Row(1)[2] = 200;
  const size_t size = 40 + 1024 + dib->Header().biSizeImage;
  CxImage img(dib->Data(), size, CXIMAGE_FORMAT_BMP);
  ASSERT_TRUE(img.IsValid()) << img.GetLastError();
  EXPECT_EQ(img.GetBpp(), 8);
  EXPECT_EQ(img.GetPixelIndex(0, 0), 9);
  EXPECT_EQ(img.GetPixelIndex(2, 1), 200);
  EXPECT_EQ(img.GetPalette()[200].rgbGreen, 55);
  // No pixels-per-metre: the default resolution stays.
  EXPECT_EQ(img.m_nXDpi, 96);
}

TEST(BmpDecode, ResolutionFromPixelsPerMetre) {
  auto file = BmpFile(1, 1, 24, BI_RGB, {}, {1, 2, 3, 0}, 11811);
  CxImage img(file.data(), file.size(), CXIMAGE_FORMAT_BMP);
  ASSERT_TRUE(img.IsValid());
  EXPECT_EQ(img.m_nXDpi, 300);  // floor(11811 x 254 / 10000 + 0.5)
  EXPECT_EQ(img.m_nYDpi, 300);
}

TEST(BmpDecode, RunLengthCodes) {
  // 8 bits, 6 x 2: run, literal, end of row; delta; end of picture.
  std::vector<uint8_t> table(4 * 4, 0);
  std::vector<uint8_t> rle = {3, 1,  0, 3, 2, 3, 2, 0,  // run of three 1s, literal 2 3 2 (padded)
                              0, 0,                     // end of row
                              0, 2, 2, 0,               // move right by 2
                              2, 3,                     // two 3s
                              0, 1};
  auto file = BmpFile(6, 2, 8, BI_RLE8, table, rle);
  CxImage img(file.data(), file.size(), CXIMAGE_FORMAT_BMP);
  ASSERT_TRUE(img.IsValid()) << img.GetLastError();
  const uint8_t row0[] = {1, 1, 1, 2, 3, 2}, row1[] = {0, 0, 3, 3, 0, 0};
  for (int x = 0; x < 6; ++x) {
    EXPECT_EQ(img.GetPixelIndex(x, 0), row0[x]) << x;
    EXPECT_EQ(img.GetPixelIndex(x, 1), row1[x]) << x;
  }
  // 4 bits: a run alternates the two nibbles; literals are nibble pairs.
  std::vector<uint8_t> rle4 = {5, 0x12, 0, 3, 0xAB, 0xC0, 0, 1};
  auto file4 = BmpFile(8, 1, 4, BI_RLE4, std::vector<uint8_t>(64, 0), rle4);
  CxImage img4(file4.data(), file4.size(), CXIMAGE_FORMAT_BMP);
  ASSERT_TRUE(img4.IsValid()) << img4.GetLastError();
  const uint8_t expect4[] = {1, 2, 1, 2, 1, 0xA, 0xB, 0xC};
  for (int x = 0; x < 8; ++x) EXPECT_EQ(img4.GetPixelIndex(x, 0), expect4[x]) << x;
  // Runs and moves far outside the picture are dropped, not written.
  std::vector<uint8_t> wild = {255, 7, 0, 2, 255, 255, 255, 9, 0, 0, 0, 0, 0, 0, 0, 0};
  auto fileWild = BmpFile(2, 2, 8, BI_RLE8, table, wild);
  CxImage imgWild(fileWild.data(), fileWild.size(), CXIMAGE_FORMAT_BMP);
  ASSERT_TRUE(imgWild.IsValid());
  EXPECT_EQ(imgWild.GetPixelIndex(1, 0), 7);
}

TEST(BmpDecode, SixteenBitMasksPutBitsAtTheTopOfEachByte) {
  // A 565 picture with a 40-byte header: masks follow the header.
  ByteWriter masks;
  masks.PutU32(0xF800), masks.PutU32(0x07E0), masks.PutU32(0x001F);
  std::vector<uint8_t> rows = {0xFF, 0xFF, 0xE0, 0x07};  // white, pure green
  auto file = BmpFile(2, 1, 16, BI_BITFIELDS, masks.Buffer(), rows);
  // The table-size field must not count the masks.
  file[14 + 32] = 0;
  CxImage img(file.data(), file.size(), CXIMAGE_FORMAT_BMP);
  ASSERT_TRUE(img.IsValid()) << img.GetLastError();
  const uint8_t* p = img.GetBits(0);
  EXPECT_EQ(p[0], 0xF8);
  EXPECT_EQ(p[1], 0xFC);
  EXPECT_EQ(p[2], 0xF8);
  EXPECT_EQ(p[3], 0);
  EXPECT_EQ(p[4], 0xFC);
  EXPECT_EQ(p[5], 0);
}

TEST(BmpDecode, SixteenBitMasksShiftEachChannelByItsOwnMask) {
  // Pixel (blue, green, red) of a 16-bit bit-field picture of one pixel.
  auto decode = [](uint32_t red, uint32_t green, uint32_t blue, uint16_t v) {
    ByteWriter masks;
    masks.PutU32(red), masks.PutU32(green), masks.PutU32(blue);
    auto file = BmpFile(1, 1, 16, BI_BITFIELDS, masks.Buffer(),
                        {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), 0, 0});
    file[14 + 32] = 0;
    CxImage img(file.data(), file.size(), CXIMAGE_FORMAT_BMP);
    const uint8_t* p = img.IsValid() ? img.GetBits(0) : nullptr;
    return p ? std::vector<int>{p[0], p[1], p[2]} : std::vector<int>{};
  };
  // 4-4-4 (alpha in the top nibble): each nibble at the top of its byte.
  EXPECT_EQ(decode(0x0F00, 0x00F0, 0x000F, 0xFABC), (std::vector<int>{0xC0, 0xB0, 0xA0}));
  // 5-5-5 with red at the bottom and blue at the top.
  EXPECT_EQ(decode(0x001F, 0x03E0, 0x7C00, 0x8000 | (3 << 10) | (9 << 5) | 17),
            (std::vector<int>{3 << 3, 9 << 3, 17 << 3}));
  // 6-5-5: the widest channel keeps its six bits.
  EXPECT_EQ(decode(0xFC00, 0x03E0, 0x001F, (45 << 10) | (9 << 5) | 17), (std::vector<int>{17 << 3, 9 << 3, 45 << 2}));
  // An empty mask gives 0.
  EXPECT_EQ(decode(0, 0x03E0, 0x001F, 0xFFFF), (std::vector<int>{0xF8, 0xF8, 0}));
}

TEST(BmpDecode, RefusalsCarryTheirMessages) {
  struct Case {
    std::vector<uint8_t> bytes;
    const char* message;
  };
  auto rle24 = BmpFile(1, 1, 24, BI_RLE8, {}, {0, 0, 0, 0});
  auto comp8 = BmpFile(1, 1, 8, 4, std::vector<uint8_t>(8, 0), {0, 0, 0, 0});
  auto cut = BmpFile(4, 4, 24, BI_RGB, {}, std::vector<uint8_t>(47, 0));
  auto zero = BmpFile(0, 4, 24, BI_RGB, {}, {});
  Case cases[] = {{{'B', 'M', 1}, "Not a BMP"},
                  {rle24, "unknown compression"},
                  {comp8, "compression type not supported"},
                  {cut, "Corrupted BMP file!"},
                  {zero, "Error reading BMP info"}};
  for (const Case& c : cases) {
    CxImage img(c.bytes.data(), c.bytes.size(), CXIMAGE_FORMAT_BMP);
    EXPECT_FALSE(img.IsValid());
    EXPECT_STREQ(img.GetLastError(), c.message);
  }
}

}  // namespace
}  // namespace tessara
