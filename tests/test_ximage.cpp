// The codec layer's own behaviour: making pictures, the typed load and its
// fallback with the message the user sees, and the common checks of a save.
#include <gtest/gtest.h>

#include <filesystem>

#include "image/codec.h"
#include "tests/test_support.h"

namespace tessara {
namespace {

using test::TestData;

TEST(CxImageCreate, FullTablesAndRoundedDepths) {
  struct Case {
    int asked, depth, colors;
  } cases[] = {{0, 1, 2}, {1, 1, 2}, {2, 4, 16}, {4, 4, 16}, {5, 8, 256}, {8, 8, 256}, {16, 24, 0}, {32, 24, 0}};
  for (const Case& c : cases) {
    CxImage img;
    ASSERT_TRUE(img.Create(7, 3, c.asked));
    EXPECT_EQ(img.GetBpp(), c.depth);
    EXPECT_EQ(img.GetNumColors(), c.colors);
    EXPECT_EQ(img.Header().biSizeImage, DibRowStride(7, c.depth) * 3);
    EXPECT_EQ(img.GetDibSize(), 40 + 4u * c.colors + img.Header().biSizeImage);
    for (int i = 0; i < c.colors; ++i) EXPECT_EQ(img.GetPalette()[i].rgbRed, 0);
  }
  CxImage huge;
  EXPECT_FALSE(huge.Create(60000, 60000, 24));
  EXPECT_STREQ(huge.GetLastError(),
               "CxImage::Create can't allocate memory. A picture of 60000 x 60000 pixels at 24 bits needs 10,300 MB, "
               "more than the 4,096 MB the program can make.");
  EXPECT_FALSE(huge.IsValid());
  EXPECT_FALSE(huge.Create(0, 5, 8));
}

TEST(CxImageLoad, FallbackKeepsTheNamedFormatsMessage) {
  // A PNG named .tga loads; a file no decoder takes reports why it is not a Targa.
  CxImage png(TestData("broken/png_named_as.tga").string(), CXIMAGE_FORMAT_TGA);
  EXPECT_TRUE(png.IsValid());
  CxImage bad(TestData("broken/tga_depth_12.tga").string(), CXIMAGE_FORMAT_TGA);
  EXPECT_FALSE(bad.IsValid());
  EXPECT_STREQ(bad.GetLastError(), "bad TGA header");
  // Format 0 and numbers above 11 go straight to trying every decoder.
  CxImage any(TestData("formats/pcx_8bit.pcx").string(), 0);
  EXPECT_TRUE(any.IsValid());
  CxImage twelve(TestData("formats/tga_24bit.tga").string(), 12);
  EXPECT_TRUE(twelve.IsValid());
  std::vector<uint8_t> bytes = test::ReadBytes(TestData("formats/tga_24bit.tga"));
  CxImage memory(bytes.data(), bytes.size(), 12);
  EXPECT_FALSE(memory.IsValid());
  EXPECT_STREQ(memory.GetLastError(), "Decode: Unknown or wrong format");
}

TEST(CxImageSave, CommonChecks) {
  const auto dir = test::TempDir();
  CxImage empty;
  EXPECT_FALSE(empty.Save((dir / "a.png").string(), CXIMAGE_FORMAT_PNG));
  EXPECT_STREQ(empty.GetLastError(), "null image!!!");
  CxImage img;
  test::MakeImage24(img, 5, 3, test::PatternRgb(5, 3));
  EXPECT_FALSE(img.Save((dir / "a.x").string(), 12));
  EXPECT_STREQ(img.GetLastError(), "Encode: Unknown format");
  EXPECT_FALSE(img.Save((dir / "a.wmf").string(), CXIMAGE_FORMAT_WMF));
  EXPECT_STREQ(img.GetLastError(), "Save WMF not supported");
  EXPECT_FALSE(img.Save((dir / "no-such-folder" / "a.tga").string(), CXIMAGE_FORMAT_TGA));
  EXPECT_STRNE(img.GetLastError(), "");
  ASSERT_TRUE(img.Save((dir / "a.tga").string(), CXIMAGE_FORMAT_TGA)) << img.GetLastError();
  EXPECT_EQ(std::filesystem::file_size(dir / "a.tga"), 18u + 5 * 3 * 3);
}

TEST(CxImageSave, BitmapRoundTripThroughMemory) {
  CxImage img;
  test::MakeImage24(img, 7, 5, test::PatternRgb(7, 5));
  img.SetXDpi(300);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(img.Encode(bytes, CXIMAGE_FORMAT_BMP));
  CxImage back(bytes.data(), bytes.size(), CXIMAGE_FORMAT_BMP);
  ASSERT_TRUE(back.IsValid()) << back.GetLastError();
  EXPECT_EQ(test::MaxDifference(test::ToRgb(back), test::ToRgb(img)), 0);
  EXPECT_EQ(back.m_nXDpi, 300);
  EXPECT_EQ(back.m_nYDpi, 96);
}

// Stops every decode at the call numbered `stopAt` (1 = the first), and keeps
// what it was told.
class StopAt final : public DecodeWatch {
 public:
  explicit StopAt(int stopAt) : m_nStopAt(stopAt) {}
  bool Continue(const CxImage&, uint64_t done, uint64_t total) override {
    EXPECT_LE(done, total);
    EXPECT_GE(done, m_nLastDone);
    m_nLastDone = done;
    return ++m_nCalls < m_nStopAt;
  }
  int m_nCalls = 0;

 private:
  int m_nStopAt;
  uint64_t m_nLastDone = 0;
};

// Every decoder reports as it goes and stops when told; a stop is never taken
// for a fault of the file (no other decoder is tried after it), and a watch
// that never stops changes nothing.
TEST(CxImageLoad, EveryDecoderStopsWhenItsWatchSaysSo) {
  CxImage picture;
  test::MakeImage24(picture, 200, 150, test::PatternRgb(200, 150));
  struct Case {
    const char* what;
    int format;
    uint32_t options;
  } cases[] = {{"bmp", CXIMAGE_FORMAT_BMP, 0},          {"jpeg", CXIMAGE_FORMAT_JPG, 0},
               {"progressive jpeg", CXIMAGE_FORMAT_JPG, 1}, {"png", CXIMAGE_FORMAT_PNG, 0},
               {"tiff", CXIMAGE_FORMAT_TIF, 0},         {"tga", CXIMAGE_FORMAT_TGA, 0},
               {"pcx", CXIMAGE_FORMAT_PCX, 0}};
  const auto dir = test::TempDir();
  for (const Case& c : cases) {
    picture.m_dwCodecOptions = c.options;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(picture.Encode(bytes, c.format)) << c.what;
    const auto path = dir / (std::string("stop.") + c.what);
    test::WriteBytes(path, bytes);
    const CxImage unwatched(bytes.data(), bytes.size(), c.format);
    {
      StopAt never(1 << 30);
      ScopedDecodeWatch watching(&never);
      CxImage whole(path.string(), c.format);
      ASSERT_TRUE(whole.IsValid()) << c.what;
      EXPECT_FALSE(whole.WasStopped());
      EXPECT_EQ(test::MaxDifference(test::ToRgb(whole), test::ToRgb(unwatched)), 0) << c.what;
      EXPECT_GE(never.m_nCalls, 1) << c.what;
    }
    for (int stopAt : {1, 3}) {
      StopAt stop(stopAt);
      ScopedDecodeWatch watching(&stop);
      CxImage stopped(path.string(), c.format);
      EXPECT_FALSE(stopped.IsValid()) << c.what << " " << stopAt;
      EXPECT_TRUE(stopped.WasStopped()) << c.what << " " << stopAt;
      EXPECT_STREQ(stopped.GetLastError(), kDecodeStopped) << c.what << " " << stopAt;
      EXPECT_EQ(stop.m_nCalls, stopAt) << c.what << ": nothing more was decoded after the stop";
    }
  }
  // Without a watch nothing is stopped.
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(picture.Encode(bytes, CXIMAGE_FORMAT_PNG));
  CxImage plain(bytes.data(), bytes.size(), CXIMAGE_FORMAT_PNG);
  EXPECT_TRUE(plain.IsValid());
}

}  // namespace
}  // namespace tessara
