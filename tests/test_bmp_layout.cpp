// The bitmap format module: the layout read from each kind of header, the
// decoder's rules with their exact words on the files that lie, the block
// rules, the file header written and read back, and the 16-bit mask arithmetic
// that the decoder, the block reader and the cursors share.
#include <gtest/gtest.h>

#include <cstring>

#include "image/bmp_layout.h"
#include "image/codec.h"
#include "image/pixel_cursor.h"
#include "tests/test_support.h"

namespace tessara {
namespace {

using test::TestData;

std::vector<uint8_t> Formats(const char* name) { return test::ReadBytes(TestData("formats") / name); }

TEST(BmpLayout, WhereThePartsLieForEachKindOfHeader) {
  struct Case {
    const char* name;
    bool core;
    int bits;
    uint64_t tableAt, masksAt;
    int entryBytes;
    int64_t entries;
    uint64_t naturalRows;  // with the file header taken away
  } cases[] = {
      // 40-byte header, full 256-entry table.
      {"bmp_8bit.bmp", false, 8, 54, 0, 4, 256, 40 + 1024},
      // 40-byte header at 1 bit: always two entries.
      {"bmp_1bit.bmp", false, 1, 54, 0, 4, 2, 40 + 8},
      // 124-byte header with masks inside it: no 12 bytes after it.
      {"bmp_16bit_565.bmp", false, 16, 14 + 124, 14 + 40, 4, 0, 124},
      // 12-byte core header: 3-byte entries, none at 24 bits.
      {"bmp_24bit_os2core.bmp", true, 24, 26, 0, 3, 0, 12},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> file = Formats(c.name);
    BmpLayout l;
    ASSERT_EQ(ReadBmpForDecoding(file.data(), file.size(), l), BmpFault::kNone) << c.name;
    uint32_t fileSize = 0, bitsOffset = 0;
    ASSERT_TRUE(ReadBmpFileHeader(file.data(), file.size(), fileSize, bitsOffset));
    EXPECT_EQ(l.headerAt, 14u) << c.name;
    EXPECT_EQ(l.core, c.core) << c.name;
    EXPECT_EQ(l.bits, c.bits) << c.name;
    EXPECT_EQ(l.width, 61) << c.name;
    EXPECT_EQ(l.height, 47) << c.name;
    EXPECT_EQ(l.tableAt, c.tableAt) << c.name;
    EXPECT_EQ(l.masksAt, c.masksAt) << c.name;
    EXPECT_EQ(l.masks, c.masksAt != 0) << c.name;
    EXPECT_EQ(l.entryBytes, c.entryBytes) << c.name;
    EXPECT_EQ(l.tableEntries, c.entries) << c.name;
    EXPECT_EQ(l.rowsAt, bitsOffset) << c.name << ": the file header says where the rows are";
    EXPECT_EQ(l.stride, DibRowStride(61, c.bits)) << c.name;

    // The same bitmap as a block without its file header: the rows follow the
    // table and masks.
    const std::vector<uint8_t> block(file.begin() + 14, file.end());
    BmpLayout b;
    ASSERT_EQ(ReadBmpForDecoding(block.data(), block.size(), b), BmpFault::kNone) << c.name;
    EXPECT_EQ(b.headerAt, 0u);
    EXPECT_EQ(b.rowsAt, c.naturalRows) << c.name;
    EXPECT_EQ(b.tableAt, c.tableAt - 14) << c.name;
  }
}

TEST(BmpLayout, FilesThatLieFailWithTheDecodersOwnWords) {
  struct Case {
    const char* name;
    BmpFault fault;
    const char* text;
  } cases[] = {
      {"bmp_13_bytes.bmp", BmpFault::kNotABmp, "Not a BMP"},
      {"bmp_bitcount_7.bmp", BmpFault::kBadInfo, "Error reading BMP info"},
      {"bmp_header_size_huge.bmp", BmpFault::kBadInfo, "Error reading BMP info"},
      {"bmp_huge_header_small_file.bmp", BmpFault::kCorrupted, "Corrupted BMP file!"},
      {"bmp_negative_width.bmp", BmpFault::kBadInfo, "Error reading BMP info"},
      {"bmp_truncated_rows.bmp", BmpFault::kCorrupted, "Corrupted BMP file!"},
      // "MB": no file header, so the header size is read from the first bytes.
      {"bmp_wrong_magic.bmp", BmpFault::kBadInfo, "Error reading BMP info"},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> file = test::ReadBytes(TestData("broken") / c.name);
    BmpLayout l;
    EXPECT_EQ(ReadBmpForDecoding(file.data(), file.size(), l), c.fault) << c.name;
    EXPECT_STREQ(BmpFaultText(c.fault), c.text);
    // The decoder says what the layout check found, through the fallback too.
    CxImage img((TestData("broken") / c.name).string(), CXIMAGE_FORMAT_BMP);
    EXPECT_FALSE(img.IsValid()) << c.name;
    EXPECT_STREQ(img.GetLastError(), c.text) << c.name;
    // Read as a raw block, none passes the block rules.
    if (DibPtr dib = ReadDibFile(TestData("broken") / c.name)) {
      EXPECT_FALSE(ReadBlockLayout(dib->Data(), dib->Size(), l)) << c.name;
    }
  }
}

TEST(BmpLayout, BlockRulesHoldTheRowsToTheBlock) {
  DibPtr dib = CreateDib(0, 24, 5, 3, "x");
  ASSERT_TRUE(dib);
  const size_t exact = 40 + dib->Header().biSizeImage;
  BmpLayout l;
  ASSERT_TRUE(ReadBlockLayout(dib->Data(), exact, l));
  EXPECT_EQ(l.rowsAt, 40u);
  EXPECT_FALSE(ReadBlockLayout(dib->Data(), exact - 1, l)) << "one byte of the top row missing";
  // A negative height counts as its size, but the most negative one has none.
  dib->Header().biHeight = -3;
  EXPECT_TRUE(ReadBlockLayout(dib->Data(), exact, l));
  dib->Header().biHeight = INT32_MIN;
  EXPECT_FALSE(ReadBlockLayout(dib->Data(), dib->Size(), l));
  // A core header is for files only.
  const std::vector<uint8_t> core = Formats("bmp_24bit_os2core.bmp");
  EXPECT_FALSE(ReadBlockLayout(core.data() + 14, core.size() - 14, l));
  // Run-length rows are held to biSizeImage, not to the stride.
  DibPtr rle = CreateDib(0, 8, 100, 100, "x");
  rle->Header().biCompression = BI_RLE8;
  rle->Header().biSizeImage = 16;
  EXPECT_TRUE(ReadBlockLayout(rle->Data(), 40 + 1024 + 16, l));
  EXPECT_FALSE(ReadBlockLayout(rle->Data(), 40 + 1024 + 15, l));
  // Masks after a 40-byte header must be there before the rows are.
  DibPtr masked = CreateDib(0, 16, 2, 1, "x");
  masked->Header().biCompression = BI_BITFIELDS;
  EXPECT_FALSE(ReadBlockLayout(masked->Data(), 51, l));
  EXPECT_TRUE(ReadBlockLayout(masked->Data(), 52 + 4, l));
}

TEST(BmpFileHeader, WrittenAndReadBack) {
  const auto header = MakeBmpFileHeader(0x12345678u, 1078);
  const uint8_t expected[14] = {'B', 'M', 0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0, 0x36, 0x04, 0, 0};
  EXPECT_EQ(std::memcmp(header.data(), expected, 14), 0);
  uint32_t size = 0, offset = 0;
  ASSERT_TRUE(ReadBmpFileHeader(header.data(), header.size(), size, offset));
  EXPECT_EQ(size, 0x12345678u);
  EXPECT_EQ(offset, 1078u);
  EXPECT_FALSE(ReadBmpFileHeader(header.data(), 13, size, offset));
  const uint8_t swapped[14] = {'M', 'B'};
  EXPECT_FALSE(ReadBmpFileHeader(swapped, 14, size, offset));
}

TEST(BmpFileHeader, EncodedPictureDecodesToTheSameBlock) {
  // An odd-sized 4-bit picture with a table of its own: the written header must
  // point the decoder at the rows, or table bytes would read as pixels.
  CxImage img;
  ASSERT_TRUE(img.Create(7, 3, 4));
  for (int i = 0; i < 16; ++i) img.GetPalette()[i] = {uint8_t(i * 16), uint8_t(255 - i), uint8_t(i), 0};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 7; ++x) img.SetPixelIndex(x, y, static_cast<uint8_t>((x * 3 + y * 5) & 15));
  std::vector<uint8_t> file;
  ASSERT_TRUE(img.Encode(file, CXIMAGE_FORMAT_BMP));
  uint32_t size = 0, offset = 0;
  ASSERT_TRUE(ReadBmpFileHeader(file.data(), file.size(), size, offset));
  EXPECT_EQ(size, file.size());
  EXPECT_EQ(offset, 14u + 40 + 64);
  CxImage back(file.data(), file.size(), CXIMAGE_FORMAT_BMP);
  ASSERT_TRUE(back.IsValid()) << back.GetLastError();
  ASSERT_EQ(back.GetDibSize(), img.GetDibSize());
  EXPECT_EQ(std::memcmp(back.GetDib(), img.GetDib(), img.GetDibSize()), 0);
}

TEST(Mask16, ChannelsLandAtTheTopOfTheirByte) {
  auto channel = [](uint32_t pixel, uint32_t mask) { return Mask16Channel(pixel, mask, Mask16Shift(mask)); };
  EXPECT_EQ(channel(0xFFFF, 0x07E0), 0xFC);  // 5-6-5 green
  EXPECT_EQ(channel(0x5400, 0x7C00), 0xA8);  // 5-5-5 red 0b10101
  EXPECT_EQ(channel(0x0001, 0x0001), 0x80);  // a one-bit mask gives bit 7
  EXPECT_EQ(channel(0xFFFF, 0), 0);          // an empty mask reads 0
  // A mask wider than 16 bits moves right.
  EXPECT_EQ(channel(0xFFFF, 0x1FFFF), 0x7F);
  EXPECT_EQ(channel(0xFFFF, 0xFF0000), 0);
}

TEST(Mask16, DecoderBlockReaderAndCursorAgree) {
  // A 3 x 1 picture in 4-4-4 (masks inside a 40-byte header's tail), read by
  // the decoder, by DibToRgb and by the 16-bit cursor.
  DibPtr dib = CreateDib(0, 16, 3, 1, "x");
  ASSERT_TRUE(dib);
  DibPtr masked = Dib::Allocate(dib->Size() + 12);
  std::memcpy(masked->Data(), dib->Data(), 40);
  masked->Header().biCompression = BI_BITFIELDS;
  const uint32_t masks[3] = {0x0F00, 0x00F0, 0x000F};
  std::memcpy(masked->Data() + 40, masks, 12);
  const uint16_t pixels[3] = {0x0A50, 0x0FFF, 0x0123};
  std::memset(masked->Data() + 52, 0, 8);
  std::memcpy(masked->Data() + 52, pixels, 6);

  const std::vector<uint8_t> rgb = DibToRgb(*masked);
  ASSERT_EQ(rgb.size(), 9u);
  EXPECT_EQ(rgb[0], 0xA0);
  EXPECT_EQ(rgb[1], 0x50);
  EXPECT_EQ(rgb[2], 0x00);
  CxImage decoded(masked->Data(), 52 + 8, CXIMAGE_FORMAT_BMP);
  ASSERT_TRUE(decoded.IsValid()) << decoded.GetLastError();
  PixelCursor16 cursor(*masked);
  cursor.KeepPadding();
  for (int x = 0; x < 3; ++x) {
    const uint8_t* bgr = decoded.GetBits(0) + 3 * x;
    EXPECT_EQ(bgr[2], rgb[3 * x]) << x;
    EXPECT_EQ(bgr[1], rgb[3 * x + 1]) << x;
    EXPECT_EQ(bgr[0], rgb[3 * x + 2]) << x;
    cursor.MoveTo(x, 0);
    EXPECT_EQ(g_CurPixel.red, rgb[3 * x]) << x;
    EXPECT_EQ(g_CurPixel.green, rgb[3 * x + 1]) << x;
    EXPECT_EQ(g_CurPixel.blue, rgb[3 * x + 2]) << x;
  }
}

}  // namespace
}  // namespace tessara
