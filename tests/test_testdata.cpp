// Every picture written by other programs decodes to what an independent decoder
// shows, and every file that lies or is cut short fails cleanly with a message.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "image/dib.h"
#include "image/ximage.h"
#include "tests/test_support.h"

namespace tessara {
namespace {

namespace fs = std::filesystem;
using test::TestData;

int FormatOf(const fs::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
  if (ext == ".bmp") return CXIMAGE_FORMAT_BMP;
  if (ext == ".jpg") return CXIMAGE_FORMAT_JPG;
  if (ext == ".png") return CXIMAGE_FORMAT_PNG;
  if (ext == ".tif") return CXIMAGE_FORMAT_TIF;
  if (ext == ".tga") return CXIMAGE_FORMAT_TGA;
  if (ext == ".pcx") return CXIMAGE_FORMAT_PCX;
  return CXIMAGE_FORMAT_UNKNOWN;
}

std::vector<std::string> FilesIn(const char* folder, bool withExpected) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(TestData(folder))) {
    const std::string name = e.path().filename().string();
    if (name.ends_with(".ppm") || name.ends_with(".txt")) continue;
    if (withExpected && !fs::exists(e.path().string() + ".expected.ppm")) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string TestName(const testing::TestParamInfo<std::string>& info) {
  std::string s = info.param;
  for (char& c : s)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return s;
}

// Lossy formats and colour conversions may differ from the reference decoder by
// a few levels; 16-bit samples by one when reduced to 8 bits.
int Tolerance(const std::string& name) {
  if (name.starts_with("jpg_") || name.find("jpeg") != std::string::npos || name.find("cmyk") != std::string::npos)
    return 6;
  if (name.find("16bit_grey") != std::string::npos || name.find("48bit") != std::string::npos) return 1;
  return 0;
}

class ExpectedPixels : public testing::TestWithParam<std::string> {};

TEST_P(ExpectedPixels, DecodesToTheReferencePicture) {
  const fs::path path = TestData("formats") / GetParam();
  CxImage img(path.string(), FormatOf(path));
  ASSERT_TRUE(img.IsValid()) << img.GetLastError();
  const test::RgbImage expected = test::ReadPpmFile(path.string() + ".expected.ppm");
  ASSERT_GT(expected.width, 0);
  const int diff = test::MaxDifference(test::ToRgb(img), expected);
  ASSERT_GE(diff, 0) << "size " << img.GetWidth() << " x " << img.GetHeight() << " instead of " << expected.width
                     << " x " << expected.height;
  EXPECT_LE(diff, Tolerance(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Formats, ExpectedPixels, testing::ValuesIn(FilesIn("formats", true)), TestName);

class WithoutReference : public testing::TestWithParam<std::string> {};

TEST_P(WithoutReference, LoadsAsItsOwnFormat) {
  const fs::path path = TestData("formats") / GetParam();
  CxImage img(path.string(), FormatOf(path));
  ASSERT_TRUE(img.IsValid()) << img.GetLastError();
  EXPECT_GT(img.GetWidth(), 0);
  EXPECT_GT(img.GetHeight(), 0);
}

std::vector<std::string> WithoutReferenceFiles() {
  std::vector<std::string> all = FilesIn("formats", false), with = FilesIn("formats", true), out;
  std::set_difference(all.begin(), all.end(), with.begin(), with.end(), std::back_inserter(out));
  return out;
}

INSTANTIATE_TEST_SUITE_P(Formats, WithoutReference, testing::ValuesIn(WithoutReferenceFiles()), TestName);

class BrokenFile : public testing::TestWithParam<std::string> {};

TEST_P(BrokenFile, FailsWithAMessageOrLoadsThroughTheFallback) {
  const std::string name = GetParam();
  const fs::path path = TestData("broken") / name;
  const int format = FormatOf(path);
  if (format == CXIMAGE_FORMAT_BMP) {
    // Bitmaps are read as raw blocks; the block check must refuse them before
    // any pixel is read.
    DibPtr dib = ReadDibFile(path);
    if (dib) {
      EXPECT_FALSE(DibFitsBlock(*dib));
    }
  }
  CxImage img(path.string(), format);
  if (name.find("_named_as.") != std::string::npos) {
    EXPECT_TRUE(img.IsValid()) << img.GetLastError();
    return;
  }
  EXPECT_FALSE(img.IsValid());
  EXPECT_STRNE(img.GetLastError(), "") << "no message";
  // The typed decoder's own words come back, not those of the last decoder tried.
  CxImage typed(format);
  std::vector<uint8_t> bytes = test::ReadBytes(path);
  EXPECT_FALSE(typed.Decode(bytes.data(), bytes.size(), format));
  EXPECT_STREQ(img.GetLastError(), typed.GetLastError());
}

INSTANTIATE_TEST_SUITE_P(Broken, BrokenFile, testing::ValuesIn(FilesIn("broken", false)), TestName);

TEST(CxImageLoad, UnreadableFileFailsWithAnEmptyMessage) {
  CxImage img((test::TempDir() / "missing.png").string(), CXIMAGE_FORMAT_PNG);
  EXPECT_FALSE(img.IsValid());
  EXPECT_STREQ(img.GetLastError(), "");
}

}  // namespace
}  // namespace tessara
