// The per-depth cursors: packing, reads into the shared record, writes, the
// monochrome writes, the moves and the padding rule on destruction.
#include <gtest/gtest.h>

#include <cstring>

#include "image/pixel_cursor.h"

namespace tessara {
namespace {

DibPtr Make(int bits, int width, int height, int fill = 0) { return CreateDib(fill, bits, width, height, "x"); }

TEST(PixelCursor, PadMatchesTheStrideForEveryDepth) {
  for (int bits : {1, 4, 8, 16, 24, 32})
    for (int width = 1; width <= 70; ++width) {
      DibPtr dib = Make(bits, width, 1);
      DibCursor c(dib.get());
      ASSERT_TRUE(c.m_pCursor);
      int used = (width * bits + 7) / 8;
      ASSERT_EQ(used + c.m_pCursor->m_nPad, DibRowStride(width, bits)) << bits << " " << width;
      c.m_pCursor->KeepPadding();
    }
}

TEST(PixelCursor, OneBitReadsBitsFromTheLeftAndTheMonoFlag) {
  DibPtr dib = Make(1, 10, 2);
  dib->ColorTable()[0] = {1, 2, 3, 0};
  dib->ColorTable()[1] = {200, 201, 202, 0};
  dib->Row(1)[0] = 0x40;  // x = 1 set
  dib->Row(1)[1] = 0x80;  // x = 8 set
  DibCursor c(dib.get());
  PixelCursor* p = c.m_pCursor.get();
  EXPECT_EQ(p->MoveTo(0, 1), 0);
  EXPECT_EQ(g_bMonoBlack, 1);
  EXPECT_EQ(g_CurPixel.red, 3);
  EXPECT_EQ(p->MoveTo(1, 1), 1);
  EXPECT_EQ(g_bMonoBlack, 0);
  EXPECT_EQ(g_CurPixel.blue, 200);
  EXPECT_EQ(p->MoveTo(8, 1), 1);
  // The palette colours were copied at construction: later changes are not seen.
  dib->ColorTable()[1] = {9, 9, 9, 0};
  EXPECT_EQ(p->MoveTo(1, 1), 1);
  EXPECT_EQ(g_CurPixel.blue, 200);
  // Moves read like MoveTo at the neighbour, including the mono flag.
  p->NextColumn();
  EXPECT_EQ(p->m_nX, 2);
  EXPECT_EQ(g_bMonoBlack, 1);
  p->PreviousColumn();
  EXPECT_EQ(g_bMonoBlack, 0);
  p->PreviousRow();
  EXPECT_EQ(p->m_nY, 0);
  EXPECT_EQ(g_bMonoBlack, 1);
  p->NextRow();
  EXPECT_EQ(g_bMonoBlack, 0);
}

TEST(PixelCursor, OneBitWritesOnlyTheirBit) {
  DibPtr dib = Make(1, 9, 1, 0);
  DibCursor c(dib.get());
  PixelValue set{0, 0, 0, 1}, other{0, 0, 0, 2};
  c.WritePixel(3, 0, &set);
  EXPECT_EQ(dib->Row(0)[0], 0x10);
  c.m_pCursor->WriteMono(0, 0, 0);  // white sets the bit
  EXPECT_EQ(dib->Row(0)[0], 0x90);
  c.m_pCursor->WriteMono(3, 0, 1);  // black clears it
  EXPECT_EQ(dib->Row(0)[0], 0x80);
  c.WritePixel(0, 0, &other);  // any index but 1 clears
  EXPECT_EQ(dib->Row(0)[0], 0x00);
}

TEST(PixelCursor, FourAndEightBitIndices) {
  DibPtr dib = Make(4, 7, 1);
  dib->ColorTable()[5] = {50, 51, 52, 0};
  dib->ColorTable()[0xA] = {10, 11, 12, 0};
  dib->Row(0)[2] = 0xA5;
  {
    DibCursor c(dib.get());
    EXPECT_EQ(c.m_pCursor->MoveTo(5, 0), 5);  // low nibble of byte 2
    EXPECT_EQ(g_CurPixel.green, 51);
    EXPECT_EQ(c.m_pCursor->MoveTo(4, 0), 0xA);  // high nibble
    EXPECT_EQ(g_CurPixel.red, 12);
    PixelValue v{0, 0, 0, 0x13};
    c.WritePixel(4, 0, &v);  // only the low four bits of the index
    EXPECT_EQ(dib->Row(0)[2], 0x35);
    c.m_pCursor->WriteMono(5, 0, 1);
    EXPECT_EQ(dib->Row(0)[2], 0x30);
  }
  DibPtr d8 = Make(8, 3, 1, 7);
  DibCursor c8(d8.get());
  PixelValue v{1, 2, 3, 0x1FE};
  c8.WritePixel(1, 0, &v);
  EXPECT_EQ(d8->Row(0)[1], 0xFE);
  c8.m_pCursor->WriteMono(2, 0, 0);  // index 0 whatever the colour asked for
  EXPECT_EQ(d8->Row(0)[2], 0);
  d8->ColorTable()[0xFE] = {4, 5, 6, 0};
  EXPECT_EQ(c8.m_pCursor->MoveTo(1, 0), 0xFE);
  EXPECT_EQ(g_CurPixel.blue, 4);
}

TEST(PixelCursor, SixteenBitChannelsKeepTheirLowBitsZero) {
  DibPtr dib = Make(16, 3, 1);
  uint8_t* row = dib->Row(0);
  row[0] = 0xFF, row[1] = 0x7F;  // 0x7FFF
  row[2] = 0x21, row[3] = 0x04;  // 0x0421
  DibCursor c(dib.get());
  c.m_pCursor->MoveTo(0, 0);
  EXPECT_EQ(g_CurPixel.blue, 248);
  EXPECT_EQ(g_CurPixel.green, 248);
  EXPECT_EQ(g_CurPixel.red, 248);
  c.m_pCursor->MoveTo(1, 0);
  EXPECT_EQ(g_CurPixel.blue, 8);
  EXPECT_EQ(g_CurPixel.green, 8);
  EXPECT_EQ(g_CurPixel.red, 8);
  PixelValue v{255, 128, 17, 0};
  c.WritePixel(2, 0, &v);  // always 5-5-5: (17/8)*1024 + (128/8)*32 + 255/8
  EXPECT_EQ(row[4] | (row[5] << 8), 2 * 1024 + 16 * 32 + 31);
  c.m_pCursor->WriteMono(2, 0, 1);
  EXPECT_EQ(row[4] | (row[5] << 8), 0);
  c.m_pCursor->WriteMono(2, 0, 2);
  EXPECT_EQ(row[4] | (row[5] << 8), 0x7FFF);
}

TEST(PixelCursor, SixteenBitMasksFromTheHeader) {
  // A bit-field picture: masks right after the 40-byte header.
  const size_t size = 40 + 12 + 4 + 14;
  DibPtr dib = Dib::Allocate(size);
  std::memset(dib->Data(), 0, size);
  BITMAPINFOHEADER& h = dib->Header();
  h.biSize = 40, h.biWidth = 2, h.biHeight = 1, h.biPlanes = 1, h.biBitCount = 16, h.biCompression = BI_BITFIELDS;
  const uint32_t masks[3] = {0xF800, 0x07E0, 0x001F};
  std::memcpy(dib->Data() + 40, masks, 12);
  uint8_t* row = dib->Data() + 52;
  row[0] = 0xE0, row[1] = 0x07;  // pure green
  row[2] = 0x00, row[3] = 0x00;
  {
    DibCursor c(dib.get());
    c.m_pCursor->MoveTo(0, 0);
    EXPECT_EQ(g_CurPixel.green, 252);
    EXPECT_EQ(g_CurPixel.red, 0);
    EXPECT_EQ(g_CurPixel.blue, 0);
  }
  // An empty mask reads as 0 instead of looping.
  uint32_t none = 0;
  std::memcpy(dib->Data() + 44, &none, 4);
  DibCursor c(dib.get());
  c.m_pCursor->MoveTo(0, 0);
  EXPECT_EQ(g_CurPixel.green, 0);
}

TEST(PixelCursor, TwentyFourAndThirtyTwoBits) {
  DibPtr dib = Make(24, 2, 1);
  DibCursor c(dib.get());
  PixelValue v{1, 2, 3, 99};
  c.WritePixel(1, 0, &v);
  EXPECT_EQ(dib->Row(0)[3], 1);
  EXPECT_EQ(dib->Row(0)[5], 3);
  c.m_pCursor->MoveTo(1, 0);
  EXPECT_EQ(g_CurPixel.red, 3);
  c.m_pCursor->WriteMono(0, 0, 1);
  EXPECT_EQ(dib->Row(0)[0], 0);
  c.m_pCursor->WriteMono(0, 0, 0);
  EXPECT_EQ(dib->Row(0)[2], 255);

  DibPtr d32 = Make(32, 2, 1, 0x77);
  DibCursor c32(d32.get());
  c32.WritePixel(0, 0, &v);
  EXPECT_EQ(d32->Row(0)[3], 0x77);  // the fourth byte stays
  c32.m_pCursor->WriteMono(1, 0, 1);
  EXPECT_EQ(d32->Row(0)[4], 0);
  EXPECT_EQ(d32->Row(0)[7], 0x77);
  c32.m_pCursor->MoveTo(0, 0);
  EXPECT_EQ(g_CurPixel.green, 2);
}

TEST(PixelCursor, DestructionClearsThePadUnlessKept) {
  DibPtr dib = Make(24, 5, 3, 0xEE);
  { DibCursor c(dib.get()); }
  for (int y = 0; y < 3; ++y) {
    EXPECT_EQ(dib->Row(y)[14], 0xEE);
    EXPECT_EQ(dib->Row(y)[15], 0) << y;  // bytes 15, 31, 47
  }
  DibPtr kept = Make(24, 5, 3, 0xEE);
  {
    DibCursor c(kept.get());
    c.m_pCursor->KeepPadding();
    EXPECT_EQ(c.m_pCursor->m_bKeepPadding, 1);
  }
  EXPECT_EQ(kept->Row(1)[15], 0xEE);

  DibPtr mono = Make(1, 1, 2, 0xFF);
  { DibCursor c(mono.get()); }
  EXPECT_EQ(mono->Row(1)[0], 0xFF);
  EXPECT_EQ(mono->Row(1)[1], 0);
  EXPECT_EQ(mono->Row(1)[3], 0);
}

TEST(PixelCursor, UnknownDepthHasNoCursor) {
  DibPtr dib = Make(8, 2, 2);
  dib->Header().biBitCount = 2;
  DibCursor c(dib.get());
  EXPECT_EQ(c.m_pCursor.get(), nullptr);
}

}  // namespace
}  // namespace tessara
