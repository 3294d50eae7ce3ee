// The PCX and Targa writers: what they write decodes to the picture written,
// in our decoder and in netpbm's, at every depth each format stores.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "image/codec.h"
#include "image/ximage.h"
#include "tests/test_support.h"

namespace tessara {
namespace {

using namespace tessara::test;
namespace fs = std::filesystem;

struct Sample {
  std::string name;
  int width, height, depth;
};

// True colour of odd widths, or indexed pictures using every index of their
// depth.
void MakeSample(CxImage& img, const Sample& s) {
  if (s.depth == 24) {
    MakeImage24(img, s.width, s.height, PatternRgb(s.width, s.height));
    return;
  }
  std::vector<RGBQUAD> pal(256);
  if (s.depth == 1) {
    pal[0] = {0, 0, 0, 0};
    pal[1] = {255, 255, 255, 0};
  } else {
    for (int i = 0; i < 256; ++i) pal[i] = {uint8_t(i * 3), uint8_t(i * 7), uint8_t(255 - i), 0};
  }
  const unsigned mask = (1u << s.depth) - 1;
  std::vector<uint8_t> indices(size_t(s.width) * s.height);
  for (size_t i = 0; i < indices.size(); ++i) indices[i] = uint8_t(((i * 37 + i / 7) / (i % 5 ? 1 : 3)) & mask);
  MakeIndexed(img, s.width, s.height, s.depth, pal, indices);
}

struct Format {
  const char* name;
  int format;
  const char* ending;
  const char* netpbmReader;
  std::vector<Sample> samples;
};

const Format kFormats[] = {
    {"Pcx",
     CXIMAGE_FORMAT_PCX,
     ".pcx",
     "pcxtoppm",
     {{"rgb7x5", 7, 5, 24}, {"rgb61x47", 61, 47, 24}, {"idx13x9", 13, 9, 8}, {"idx4_11x6", 11, 6, 4},
      {"mono19x7", 19, 7, 1}}},
    {"Tga", CXIMAGE_FORMAT_TGA, ".tga", "tgatoppm", {{"rgb7x5", 7, 5, 24}, {"rgb61x47", 61, 47, 24}, {"idx13x9", 13, 9, 8}}},
};

class EncodeRoundTrip : public testing::TestWithParam<Format> {};

TEST_P(EncodeRoundTrip, DecodesToThePictureWritten) {
  const Format& f = GetParam();
  for (const Sample& s : f.samples) {
    SCOPED_TRACE(s.name);
    CxImage img;
    MakeSample(img, s);
    std::vector<uint8_t> out;
    ASSERT_TRUE(img.Encode(out, f.format)) << img.GetLastError();
    CxImage back(out.data(), out.size(), f.format);
    ASSERT_TRUE(back.IsValid()) << back.GetLastError();
    EXPECT_EQ(back.GetBpp(), s.depth);
    EXPECT_EQ(MaxDifference(ToRgb(back), ToRgb(img)), 0);
  }
}

TEST_P(EncodeRoundTrip, NetpbmReadsOurFiles) {
  const Format& f = GetParam();
  if (!HaveCommand(f.netpbmReader)) GTEST_SKIP() << "netpbm's " << f.netpbmReader << " is not installed";
  const fs::path dir = TempDir();
  for (const Sample& s : f.samples) {
    SCOPED_TRACE(s.name);
    CxImage img;
    MakeSample(img, s);
    const fs::path file = dir / (s.name + f.ending);
    ASSERT_TRUE(img.Save(file.string(), f.format)) << img.GetLastError();
    bool ok = false;
    const RgbImage seen = ReadPpm(RunCommand(std::string(f.netpbmReader) + " '" + file.string() + "' 2>/dev/null", &ok));
    ASSERT_TRUE(ok);
    EXPECT_EQ(MaxDifference(seen, ToRgb(img)), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, EncodeRoundTrip, testing::ValuesIn(kFormats),
                         [](const testing::TestParamInfo<Format>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tessara
