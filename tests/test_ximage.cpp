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
  EXPECT_FALSE(huge.Create(70000, 70000, 24));
  EXPECT_STREQ(huge.GetLastError(), "CxImage::Create can't allocate memory");
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

}  // namespace
}  // namespace tessara
