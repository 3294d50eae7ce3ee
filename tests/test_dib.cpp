// The picture block: strides, CreateDib's limits and fill, ReadDibFile and the
// block check that guards every pixel read of a block from a file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "framework/user_interface.h"
#include "image/dib.h"
#include "image/packed_row.h"
#include "image/picture_memory.h"
#include "tests/test_support.h"

namespace tessara {
namespace {

class DibTest : public testing::Test {
 protected:
  void SetUp() override { SetUserInterface(&ui); }
  void TearDown() override { SetUserInterface(nullptr); }
  HeadlessUserInterface ui;
};

TEST(DibRowStride, PadsEveryDepthToFourBytes) {
  EXPECT_EQ(DibRowStride(1, 1), 4);
  EXPECT_EQ(DibRowStride(8, 1), 4);
  EXPECT_EQ(DibRowStride(9, 1), 4);
  EXPECT_EQ(DibRowStride(33, 1), 8);
  EXPECT_EQ(DibRowStride(1, 24), 4);
  EXPECT_EQ(DibRowStride(4, 24), 12);
  EXPECT_EQ(DibRowStride(5, 24), 16);
  EXPECT_EQ(DibRowStride(3, 16), 8);
  EXPECT_EQ(DibRowStride(7, 4), 4);
  EXPECT_EQ(DibRowStride(9, 4), 8);
  // Large widths do not overflow.
  EXPECT_EQ(DibRowStride(2000000000, 32), int64_t{8000000000});
}

TEST_F(DibTest, CreateDibFillsEveryByteThenWritesTheHeader) {
  DibPtr dib = CreateDib(0x1AB, 8, 5, 3, "no memory");
  ASSERT_TRUE(dib);
  const BITMAPINFOHEADER& h = dib->Header();
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biWidth, 5);
  EXPECT_EQ(h.biHeight, 3);
  EXPECT_EQ(h.biPlanes, 1);
  EXPECT_EQ(h.biBitCount, 8);
  EXPECT_EQ(h.biClrUsed, 256u);
  EXPECT_EQ(h.biSizeImage, 8u * 3);
  EXPECT_EQ(h.biXPelsPerMeter, 0);
  EXPECT_EQ(dib->Size(), 40u + 1024 + 24 + 14);
  for (size_t i = 40; i < dib->Size(); ++i) ASSERT_EQ(dib->Data()[i], 0xAB) << i;
  EXPECT_EQ(dib->Bits(), dib->Data() + 40 + 1024);
  EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(DibTest, CreateDibSizesPerDepth) {
  struct Case {
    int bits, width, height;
    uint32_t colors, image;
  } cases[] = {{1, 9, 2, 2, 8}, {4, 5, 3, 16, 12}, {24, 5, 2, 0, 32}, {24, 4, 1, 0, 12}};
  for (const Case& c : cases) {
    DibPtr dib = CreateDib(0, c.bits, c.width, c.height, "x");
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib->Header().biClrUsed, c.colors) << c.bits;
    EXPECT_EQ(dib->Header().biSizeImage, c.image) << c.bits;
    EXPECT_EQ(dib->Size(), 40 + 4 * c.colors + c.image + 14) << c.bits;
    EXPECT_TRUE(DibFitsBlock(*dib));
  }
}

// Points the memory check at a made-up /proc/meminfo for one test.
class FakeMemInfo {
 public:
  explicit FakeMemInfo(const std::string& text) : m_path(test::TempDir() / "meminfo") {
    std::ofstream(m_path) << text;
    setenv("TESSARA_MEMINFO", m_path.c_str(), 1);
  }
  ~FakeMemInfo() { unsetenv("TESSARA_MEMINFO"); }

 private:
  std::filesystem::path m_path;
};

TEST_F(DibTest, CreateDibLimits) {
  // One row at the widest side is accepted, one pixel more is refused with the
  // caller's message and the size against the limit.
  EXPECT_TRUE(CreateDib(0, 24, 65500, 1, "wide"));
  EXPECT_TRUE(ui.Messages().empty());
  EXPECT_FALSE(CreateDib(0, 1, 65501, 1, "wide"));
  EXPECT_EQ(ui.LastMessage(),
            "wide A picture of 65501 x 1 pixels is larger than the 65,500 pixels a side the program can make.");
  EXPECT_FALSE(CreateDib(0, 8, 1, 65501, "tall"));
  EXPECT_FALSE(CreateDib(0, 8, -1, 5, "negative"));
  EXPECT_EQ(ui.LastMessage(), "negative");
  EXPECT_EQ(ui.Messages().size(), 3u);
}

// 65500 x 21857 at 24 bits is 4,294,900,554 bytes with header and spare bytes:
// the largest such block, made (its untouched pages cost nothing) with a
// header that describes it; one row more passes 4 GB.
TEST_F(DibTest, BlocksUpToFourGigabytes) {
  const FakeMemInfo plenty("MemTotal: 33554432 kB\nMemAvailable: 16777216 kB\n");
  EXPECT_EQ(DibBlockBytes(24, 65500, 21857), 4294900554u);
  EXPECT_EQ(DibBlockBytes(1, 65500, 65500), 40u + 8 + 8188u * 65500 + 14);
  const DibPtr big = NewDib(0, 24, 65500, 21857);
  ASSERT_TRUE(big);
  EXPECT_EQ(big->Size(), 4294900554u);
  EXPECT_EQ(big->Header().biSizeImage, 196500u * 21857);
  EXPECT_TRUE(DibFitsBlock(*big));
  EXPECT_EQ(big->Row(21856)[196499], 0);
  EXPECT_FALSE(CreateDib(0, 24, 65500, 21858, "too big"));
  EXPECT_EQ(ui.LastMessage(),
            "too big A picture of 65500 x 21858 pixels at 24 bits needs 4,097 MB, more than the 4,096 MB the "
            "program can make.");
}

// Past what the system says it has, a big picture is refused with what was
// asked for and what there is, before the kernel would end the program.
TEST_F(DibTest, BigPicturesNeedTheMemoryTheSystemHas) {
  const FakeMemInfo little("MemTotal: 2097152 kB\nMemFree: 100 kB\nMemAvailable: 524288 kB\n");
  EXPECT_FALSE(CreateDib(0, 24, 20000, 20000, "Not enough memory to set up the target image."));
  EXPECT_EQ(ui.LastMessage(),
            "Not enough memory to set up the target image. 1,145 MB were asked for. The system has 512 MB "
            "available.");
  // Below the checked size the system is not asked.
  EXPECT_TRUE(NewDib(0, 24, 2000, 2000));
}

TEST(MemAvailable, ReadFromMeminfoText) {
  EXPECT_EQ(MemAvailableBytes("MemTotal:       24000000 kB\nMemFree: 1 kB\nMemAvailable:   22000000 kB\n"),
            int64_t{22000000} * 1024);
  EXPECT_EQ(MemAvailableBytes("MemTotal: 1 kB\nMemFree: 1 kB\n"), -1);
  EXPECT_EQ(MemAvailableBytes("MemAvailable: lots\n"), -1);
  EXPECT_EQ(MemAvailableBytes(""), -1);
}

TEST_F(DibTest, ReadDibFileKeepsEverythingAfterTheFileHeader) {
  auto dir = test::TempDir();
  std::vector<uint8_t> file = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0};
  for (int i = 0; i < 40; ++i) file.push_back(static_cast<uint8_t>(i));
  test::WriteBytes(dir / "a.bmp", file);
  DibPtr dib = ReadDibFile(dir / "a.bmp");
  ASSERT_TRUE(dib);
  ASSERT_EQ(dib->Size(), file.size());
  EXPECT_EQ(std::memcmp(dib->Data(), file.data() + 14, 40), 0);

  test::WriteBytes(dir / "short.bmp", std::vector<uint8_t>(file.begin(), file.begin() + 13));
  EXPECT_FALSE(ReadDibFile(dir / "short.bmp"));
  file[0] = 'M', file[1] = 'B';
  test::WriteBytes(dir / "mb.bmp", file);
  EXPECT_FALSE(ReadDibFile(dir / "mb.bmp"));
  EXPECT_FALSE(ReadDibFile(dir / "missing.bmp"));
}

TEST(DibFitsBlock, RefusesHeadersThatPointOutsideTheBlock) {
  auto load = [](const char* name) { return ReadDibFile(test::TestData(name)); };
  for (const char* good : {"formats/bmp_1bit.bmp", "formats/bmp_8bit.bmp", "formats/bmp_24bit.bmp",
                           "formats/bmp_16bit_565.bmp", "formats/bmp_8bit_rle8.bmp"}) {
    DibPtr dib = load(good);
    ASSERT_TRUE(dib) << good;
    EXPECT_TRUE(DibFitsBlock(*dib)) << good;
  }
  for (const char* bad : {"broken/bmp_truncated_rows.bmp", "broken/bmp_header_size_huge.bmp",
                          "broken/bmp_negative_width.bmp", "broken/bmp_bitcount_7.bmp",
                          "broken/bmp_huge_header_small_file.bmp"}) {
    DibPtr dib = load(bad);
    if (dib) {
      EXPECT_FALSE(DibFitsBlock(*dib)) << bad;
    }
  }
  // A block too short for its own header.
  DibPtr tiny = Dib::Allocate(20);
  std::memset(tiny->Data(), 0, 20);
  EXPECT_FALSE(DibFitsBlock(*tiny));
}

TEST(DibFitsBlock, RowsMustFitExactly) {
  DibPtr dib = CreateDib(0, 24, 5, 4, "x");
  ASSERT_TRUE(DibFitsBlock(*dib));
  dib->Header().biHeight = 5;  // 14 spare bytes cannot hold a 16-byte row
  EXPECT_FALSE(DibFitsBlock(*dib));
  dib->Header().biHeight = 4;
  dib->Header().biClrUsed = 0xFFFFFFFF;  // ignored at 24 bits
  EXPECT_TRUE(DibFitsBlock(*dib));
  dib->Header().biBitCount = 8;  // now the colour table claims 16 GiB
  EXPECT_FALSE(DibFitsBlock(*dib));
}

TEST(DibToRgb, ReadsTopDownWithTheColourTable) {
  DibPtr dib = CreateDib(0, 4, 3, 2, "x");
  RGBQUAD* t = dib->ColorTable();
  t[1] = {10, 20, 30, 0};
  t[2] = {1, 2, 3, 0};
  dib->Row(1)[0] = 0x12;  // top row: indices 1, 2
  dib->Row(0)[1] = 0x10;  // bottom row: x = 2 is index 1
  std::vector<uint8_t> rgb = DibToRgb(*dib);
  ASSERT_EQ(rgb.size(), 18u);
  EXPECT_EQ(std::vector<uint8_t>(rgb.begin(), rgb.begin() + 6), (std::vector<uint8_t>{30, 20, 10, 3, 2, 1}));
  EXPECT_EQ(std::vector<uint8_t>(rgb.begin() + 15, rgb.end()), (std::vector<uint8_t>{30, 20, 10}));
}

}  // namespace
}  // namespace tessara

namespace tessara {
namespace {

// The free-list counts that decide whether huge pages are asked for: orders 9
// and 10 of every zone (a 4 MB block is two 2 MB ones), nothing from smaller
// orders, and a text of another shape is not trusted.
TEST(PictureMemory, FreeHugeBlocksCountsOrdersNineAndUp) {
  const char* info =
      "Node 0, zone      DMA      0      0      0      0      0      0      0      0      1      1      3 \n"
      "Node 0, zone    DMA32      0      4      2      2      1      2      0      3      3      1    753 \n"
      "Node 0, zone   Normal    180   2944   9521  11155   5361   2246   1238    519    216    134    548 \n";
  EXPECT_EQ(FreeHugeBlocks(info), (1 + 2 * 3) + (1 + 2 * 753) + (134 + 2 * 548));
  EXPECT_EQ(FreeHugeBlocks("Node 0, zone   Normal  5000 4000 3000 2000 1000 500 200 100 50 0 0\n"), 0);
  EXPECT_EQ(FreeHugeBlocks("Node 0, zone Normal 1 2 3\n"), -1);
  EXPECT_EQ(FreeHugeBlocks(""), -1);
  // Large blocks are usable whatever the kernel decides about huge pages.
  PictureBlock block = PictureBlock::AllocateZeroed(size_t{8} << 20);
  ASSERT_TRUE(block);
  EXPECT_EQ(block.Data()[0] | block.Data()[(size_t{8} << 20) - 1], 0);
  block.Data()[12345] = 7;
}

// Large blocks given back are used again for pictures of about their size: a
// zeroed picture made from a kept block is zero all through (not what the
// last picture left), a kept block larger than asked is cut to size, and many
// blocks given back at once are all usable afterwards.
TEST(PictureMemory, KeptBlocksComeBackZeroedAndCutToSize) {
  constexpr size_t kMb = size_t{1} << 20;
  PictureBlock first = PictureBlock::Allocate(20 * kMb);
  ASSERT_TRUE(first);
  std::memset(first.Data(), 0xAB, 20 * kMb);
  first.Reset();
  PictureBlock again = PictureBlock::AllocateZeroed(17 * kMb);
  ASSERT_TRUE(again);
  size_t nonZero = 0;
  for (size_t i = 0; i < 17 * kMb; i += 4093) nonZero += again.Data()[i] != 0;
  EXPECT_EQ(nonZero, 0u);
  EXPECT_EQ(again.Data()[17 * kMb - 1], 0);
  std::memset(again.Data(), 1, 17 * kMb);
  again.Reset();
  // A much smaller picture does not take a large block; everything given back
  // beyond what is kept is unmapped without harm.
  std::vector<PictureBlock> blocks;
  for (size_t mb : {6, 40, 300, 8, 700, 6}) {
    PictureBlock b = PictureBlock::AllocateZeroed(mb * kMb);
    ASSERT_TRUE(b) << mb;
    EXPECT_EQ(b.Data()[mb * kMb - 1], 0) << mb;
    b.Data()[0] = 1;
    b.Data()[mb * kMb - 1] = 2;
    blocks.push_back(std::move(b));
  }
  blocks.clear();
  for (size_t mb : {700, 300, 40, 8, 6, 6}) {
    const PictureBlock b = PictureBlock::AllocateZeroed(mb * kMb);
    ASSERT_TRUE(b) << mb;
    EXPECT_EQ(b.Data()[0] | b.Data()[mb * kMb / 2] | b.Data()[mb * kMb - 1], 0) << mb;
  }
}

// A grown block keeps what it held, and the memory added comes from blocks
// given back before fresh pages: a kept block smaller than the growth gives
// all its pages, and every byte of the grown block can be written. A small
// block grows by a copy.
TEST(PictureMemory, GrownBlocksKeepTheirBytesAndTakeKeptPages) {
  constexpr size_t kMb = size_t{1} << 20;
  ReleaseKeptPictureMemory();
  PictureBlock block = PictureBlock::Allocate(12 * kMb + 5);
  ASSERT_TRUE(block);
  for (size_t i = 0; i < 12 * kMb + 5; ++i) block.Data()[i] = static_cast<uint8_t>(i * 7 + 3);
  PictureBlock::Allocate(10 * kMb).Reset();
  const uint64_t kept = KeptPictureBytes();
  EXPECT_GE(kept, 10 * kMb);
  ASSERT_TRUE(block.Grow(40 * kMb));
  EXPECT_EQ(block.Bytes(), 40 * kMb);
  EXPECT_EQ(KeptPictureBytes(), 0u);
  size_t wrong = 0;
  for (size_t i = 0; i < 12 * kMb + 5; ++i) wrong += block.Data()[i] != static_cast<uint8_t>(i * 7 + 3);
  EXPECT_EQ(wrong, 0u);
  std::memset(block.Data() + 12 * kMb + 5, 0x5A, 28 * kMb - 5);
  EXPECT_TRUE(block.Grow(20 * kMb));  // never shorter
  EXPECT_EQ(block.Bytes(), 40 * kMb);
  block.Reset();

  PictureBlock small = PictureBlock::Allocate(1000);
  ASSERT_TRUE(small);
  for (size_t i = 0; i < 1000; ++i) small.Data()[i] = static_cast<uint8_t>(i);
  ASSERT_TRUE(small.Grow(9 * kMb));
  for (size_t i = 0; i < 1000; ++i) ASSERT_EQ(small.Data()[i], static_cast<uint8_t>(i)) << i;
  small.Data()[9 * kMb - 1] = 1;
  ReleaseKeptPictureMemory();
  EXPECT_EQ(KeptPictureBytes(), 0u);
}

// A zeroed block made of the pages of several kept blocks (none alone large
// enough) is zero all through.
TEST(PictureMemory, ZeroedBlocksOfSeveralKeptOnesAreZero) {
  constexpr size_t kMb = size_t{1} << 20;
  ReleaseKeptPictureMemory();
  {
    PictureBlock a = PictureBlock::Allocate(6 * kMb), b = PictureBlock::Allocate(8 * kMb);
    ASSERT_TRUE(a && b);
    std::memset(a.Data(), 0xCD, 6 * kMb);
    std::memset(b.Data(), 0xCD, 8 * kMb);
  }
  ASSERT_GE(KeptPictureBytes(), 14 * kMb);
  PictureBlock big = PictureBlock::AllocateZeroed(30 * kMb);
  ASSERT_TRUE(big);
  EXPECT_EQ(KeptPictureBytes(), 0u);
  size_t nonZero = 0;
  for (size_t i = 0; i < 30 * kMb; i += 512) nonZero += big.Data()[i] != 0;
  EXPECT_EQ(nonZero, 0u);
}

// Taking a Dib's block leaves it its header (size and depth) in a block of
// its own; the taker holds every byte.
TEST_F(DibTest, TakeBlockLeavesTheHeader) {
  DibPtr dib = CreateDib(9, 24, 30, 20, "x");
  ASSERT_TRUE(dib);
  const size_t size = dib->Size();
  ASSERT_TRUE(dib->GrowBlock(size + 100));
  EXPECT_EQ(dib->Size(), size);
  EXPECT_EQ(dib->Row(19)[89], 9);
  const DibPtr taken = Dib::TakeBlock(*dib);
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->Size(), size + 100);
  EXPECT_EQ(taken->Width(), 30);
  EXPECT_EQ(taken->Row(19)[89], 9);
  EXPECT_EQ(dib->Size(), sizeof(BITMAPINFOHEADER));
  EXPECT_EQ(dib->Width(), 30);
  EXPECT_EQ(dib->Height(), 20);
  EXPECT_FALSE(DibFitsBlock(*dib));
}

// Packed rows: the first pixel in the most significant bits, and setting one
// pixel leaves its neighbours in the byte alone.
TEST(PackedRow, PixelsSitMostSignificantFirstAndSetAlone) {
  uint8_t bits[2] = {0x80, 0x01};
  EXPECT_EQ(PackedBit(bits, 0), 1);
  EXPECT_EQ(PackedBit(bits, 7), 0);
  EXPECT_EQ(PackedBit(bits, 15), 1);
  SetPackedBit(bits, 9, true);
  SetPackedBit(bits, 0, false);
  EXPECT_EQ(bits[0], 0x00);
  EXPECT_EQ(bits[1], 0x41);
  uint8_t nibbles[2] = {0xA5, 0x3C};
  EXPECT_EQ(PackedIndex(nibbles, 0, 4), 0xA);
  EXPECT_EQ(PackedIndex(nibbles, 3, 4), 0xC);
  SetPackedIndex(nibbles, 1, 4, 0x1F);  // only the low four bits go in
  SetPackedIndex(nibbles, 2, 4, 7);
  EXPECT_EQ(nibbles[0], 0xAF);
  EXPECT_EQ(nibbles[1], 0x7C);
  EXPECT_EQ(PackedIndex(nibbles, 1, 8), 0x7C);
}

}  // namespace
}  // namespace tessara
