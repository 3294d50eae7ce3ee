// PCX decoding and encoding: the sample files against netpbm's view of them,
// broken files, hand-made files for the run-length and plane rules, the exact
// bytes written, and round trips through our decoder and through pcxtoppm.
#include <gtest/gtest.h>

#include <algorithm>
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

struct PcxHeaderFields {
  uint8_t manufacturer = 10;
  uint8_t encoding = 1;
  uint8_t bits = 8;
  uint16_t xmin = 0, ymin = 0, xmax = 0, ymax = 0;
  uint16_t dpiX = 0, dpiY = 0;
  uint8_t planes = 1;
  uint16_t bytesPerLine = 0;
  std::vector<uint8_t> colorMap;  // up to 48 bytes, red, green, blue per entry
};

void Put16(std::vector<uint8_t>& f, size_t at, uint16_t v) {
  f[at] = static_cast<uint8_t>(v);
  f[at + 1] = static_cast<uint8_t>(v >> 8);
}

// A 128-byte PCX header followed by `body`.
std::vector<uint8_t> PcxFile(const PcxHeaderFields& h, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> f(128, 0);
  f[0] = h.manufacturer;
  f[1] = 5;
  f[2] = h.encoding;
  f[3] = h.bits;
  Put16(f, 4, h.xmin);
  Put16(f, 6, h.ymin);
  Put16(f, 8, h.xmax);
  Put16(f, 10, h.ymax);
  Put16(f, 12, h.dpiX);
  Put16(f, 14, h.dpiY);
  std::copy(h.colorMap.begin(), h.colorMap.end(), f.begin() + 16);
  f[65] = h.planes;
  Put16(f, 66, h.bytesPerLine);
  Put16(f, 68, 1);
  f.insert(f.end(), body.begin(), body.end());
  return f;
}

// The trailer of an 8-bit file: marker 12 and a grey ramp.
std::vector<uint8_t> GreyPalette(uint8_t marker = 12) {
  std::vector<uint8_t> p = {marker};
  for (int i = 0; i < 256; ++i) p.insert(p.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
  return p;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

bool DecodePcxBytes(CxImage& img, const std::vector<uint8_t>& bytes) {
  return img.Decode(bytes.data(), bytes.size(), CXIMAGE_FORMAT_PCX);
}

// Indices of a stored row of an indexed picture.
std::vector<uint8_t> Indices(const CxImage& img, int y) {
  std::vector<uint8_t> v;
  for (int x = 0; x < img.GetWidth(); ++x) v.push_back(img.GetPixelIndex(x, y));
  return v;
}

// The run-length data of an encoded file: everything between the header and
// the 769-byte palette trailer of 8-bit files.
std::vector<uint8_t> EncodedData(const std::vector<uint8_t>& file, bool hasTrailer) {
  return std::vector<uint8_t>(file.begin() + 128, file.end() - (hasTrailer ? 769 : 0));
}

TEST(PcxDecode, SampleFilesMatchNetpbm) {
  const std::map<std::string, int> depths = {
      {"pcx_1bit_netpbm.pcx", 1}, {"pcx_24bit.pcx", 24}, {"pcx_24bit_netpbm.pcx", 24},
      {"pcx_2bit_packed_netpbm.pcx", 4}, {"pcx_4bit_4planes_netpbm.pcx", 4}, {"pcx_4bit_packed_netpbm.pcx", 4},
      {"pcx_8bit.pcx", 8}, {"pcx_8bit_netpbm.pcx", 8},
  };
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(TestData("formats"))) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("pcx_", 0) != 0 || entry.path().extension() != ".pcx") continue;
    fs::path expectedPath = entry.path().string() + ".expected.ppm";
    if (!fs::exists(expectedPath)) continue;
    SCOPED_TRACE(name);
    CxImage img(entry.path().string(), CXIMAGE_FORMAT_PCX);
    ASSERT_TRUE(img.IsValid()) << img.GetLastError();
    ASSERT_TRUE(depths.count(name));
    EXPECT_EQ(img.GetBpp(), depths.at(name));
    RgbImage expected = ReadPpmFile(expectedPath);
    ASSERT_GT(expected.width, 0);
    EXPECT_EQ(MaxDifference(ToRgb(img), expected), 0);
    ++checked;
  }
  EXPECT_EQ(checked, static_cast<int>(depths.size()));
}

TEST(PcxDecode, BrokenFilesFailWithTheirReason) {
  const std::map<std::string, std::string> expected = {
      {"pcx_5_planes.pcx", "Can't handle image with more than 4 planes"},
      {"pcx_bad_palette_marker.pcx", "bad color map signature"},
      {"pcx_encoding_0.pcx", "PCX file has unknown encoding scheme"},
      {"pcx_huge_dims.pcx", "corrupted PCX"},
      {"pcx_manufacturer_5.pcx", "Error: Not a PCX file"},
      {"pcx_truncated.pcx", "corrupted PCX"},
      {"pcx_zero_bytes_per_line.pcx", "corrupted PCX"},
  };
  for (const auto& [name, message] : expected) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> bytes = ReadBytes(TestData("broken/" + name));
    ASSERT_FALSE(bytes.empty());
    CxImage img;
    EXPECT_FALSE(DecodePcxBytes(img, bytes));
    EXPECT_FALSE(img.IsValid());
    EXPECT_STREQ(img.GetLastError(), message.c_str());
  }
}

TEST(PcxDecode, PngNamedAsPcxLoadsThroughFallback) {
  CxImage img(TestData("broken/png_named_as.pcx").string(), CXIMAGE_FORMAT_PCX);
  EXPECT_TRUE(img.IsValid()) << img.GetLastError();
}

TEST(PcxDecode, HeaderChecks) {
  PcxHeaderFields h;
  h.xmax = 1;
  h.bytesPerLine = 2;
  const std::vector<uint8_t> body = Concat({1, 2}, GreyPalette());
  CxImage img;
  ASSERT_TRUE(DecodePcxBytes(img, PcxFile(h, body))) << img.GetLastError();

  std::vector<uint8_t> shortHeader = PcxFile(h, {});
  shortHeader.resize(127);
  EXPECT_FALSE(DecodePcxBytes(img, shortHeader));
  EXPECT_STREQ(img.GetLastError(), "Can't read PCX image");

  // The first byte must be 10.
  PcxHeaderFields bad = h;
  bad.manufacturer = 5;
  EXPECT_FALSE(DecodePcxBytes(img, PcxFile(bad, body)));
  EXPECT_STREQ(img.GetLastError(), "Error: Not a PCX file");

  // Four planes of 8 bits, and two planes of 2 bits.
  bad = h;
  bad.planes = 4;
  EXPECT_FALSE(DecodePcxBytes(img, PcxFile(bad, body)));
  EXPECT_STREQ(img.GetLastError(), "Can't handle more than 1 bit per pixel");
  bad.planes = 2;
  bad.bits = 2;
  EXPECT_FALSE(DecodePcxBytes(img, PcxFile(bad, body)));
  EXPECT_STREQ(img.GetLastError(), "Can't handle more than 1 bit per pixel");

  // Lines too short for the width, and a window that ends before it starts.
  bad = h;
  bad.bytesPerLine = 1;
  EXPECT_FALSE(DecodePcxBytes(img, PcxFile(bad, body)));
  EXPECT_STREQ(img.GetLastError(), "corrupted PCX");
  bad = h;
  bad.xmin = 3;
  EXPECT_FALSE(DecodePcxBytes(img, PcxFile(bad, body)));
  EXPECT_STREQ(img.GetLastError(), "corrupted PCX");

  // The palette trailer of an 8-bit file must start with 12.
  EXPECT_FALSE(DecodePcxBytes(img, PcxFile(h, Concat({1, 2}, GreyPalette(13)))));
  EXPECT_STREQ(img.GetLastError(), "bad color map signature");
  EXPECT_FALSE(DecodePcxBytes(img, PcxFile(h, {1, 2, 12, 0, 0})));
  EXPECT_STREQ(img.GetLastError(), "corrupted PCX");
}

TEST(PcxDecode, ResolutionComesFromHeader) {
  PcxHeaderFields h;
  h.xmax = 1;
  h.bytesPerLine = 2;
  h.dpiX = 300;
  h.dpiY = 150;
  CxImage img;
  ASSERT_TRUE(DecodePcxBytes(img, PcxFile(h, Concat({1, 2}, GreyPalette()))));
  EXPECT_EQ(img.m_nXDpi, 300);
  EXPECT_EQ(img.m_nYDpi, 150);
  EXPECT_EQ(img.Header().biXPelsPerMeter, DpiToDpm(300));
  // A zero field says nothing: the default stays.
  h.dpiX = h.dpiY = 0;
  CxImage none;
  ASSERT_TRUE(DecodePcxBytes(none, PcxFile(h, Concat({1, 2}, GreyPalette()))));
  EXPECT_EQ(none.m_nXDpi, 96);
}

TEST(PcxDecode, RunLengthCoding) {
  PcxHeaderFields h;
  h.xmax = 4;  // width 5
  h.bytesPerLine = 6;
  CxImage img;
  // 0xC5 0x07 is five 7s; then the pad byte of the line.
  ASSERT_TRUE(DecodePcxBytes(img, PcxFile(h, Concat({0xC5, 0x07, 0x00}, GreyPalette()))));
  EXPECT_EQ(Indices(img, 0), (std::vector<uint8_t>{7, 7, 7, 7, 7}));
  // 0xC0 is a run of nothing: its value byte is consumed and adds no pixel.
  CxImage zero;
  ASSERT_TRUE(DecodePcxBytes(zero, PcxFile(h, Concat({0xC0, 0x55, 0x01, 0xC4, 0xC8, 0x00}, GreyPalette()))));
  EXPECT_EQ(Indices(zero, 0), (std::vector<uint8_t>{1, 0xC8, 0xC8, 0xC8, 0xC8}));
  // Runs may cross line ends but not the end of the picture.
  h.xmax = 1;
  h.ymax = 1;
  h.bytesPerLine = 2;
  CxImage across;
  ASSERT_TRUE(DecodePcxBytes(across, PcxFile(h, Concat({0x01, 0xC3, 0x09}, GreyPalette()))));
  EXPECT_EQ(Indices(across, 1), (std::vector<uint8_t>{1, 9}));
  EXPECT_EQ(Indices(across, 0), (std::vector<uint8_t>{9, 9}));
  EXPECT_FALSE(DecodePcxBytes(img, PcxFile(h, Concat({0x01, 0xC4, 0x09}, GreyPalette()))));
  EXPECT_STREQ(img.GetLastError(), "repeat count spans end of image");
  // Data that stops inside a run pair.
  EXPECT_FALSE(DecodePcxBytes(img, PcxFile(h, {0x01, 0x02, 0x03, 0xC1})));
  EXPECT_STREQ(img.GetLastError(), "corrupted PCX");
  // A header promising far more than the data could expand to.
  h.xmax = 0xFFFE;
  h.ymax = 0xFFFF;
  h.bytesPerLine = 0xFFFF;
  EXPECT_FALSE(DecodePcxBytes(img, PcxFile(h, std::vector<uint8_t>(1000, 0xFF))));
  EXPECT_STREQ(img.GetLastError(), "corrupted PCX");
}

TEST(PcxDecode, PlaneLayouts) {
  // Header colours 0..3: red, green, blue, white.
  const std::vector<uint8_t> cmap = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};

  // Two planes of one bit give indices 0..3, held in a 4-bit picture.
  PcxHeaderFields two;
  two.bits = 1;
  two.planes = 2;
  two.xmax = 3;
  two.bytesPerLine = 2;
  two.colorMap = cmap;
  CxImage img;
  ASSERT_TRUE(DecodePcxBytes(img, PcxFile(two, {0x50, 0x00, 0x30, 0x00}))) << img.GetLastError();
  EXPECT_EQ(img.GetBpp(), 4);
  EXPECT_EQ(Indices(img, 0), (std::vector<uint8_t>{0, 1, 2, 3}));
  EXPECT_EQ(ToRgb(img).rgb, (std::vector<uint8_t>{255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}));

  // Two bits packed four to a byte, top bits first; 0xC0 must be escaped.
  PcxHeaderFields packed2;
  packed2.bits = 2;
  packed2.xmax = 4;
  packed2.bytesPerLine = 2;
  packed2.colorMap = cmap;
  ASSERT_TRUE(DecodePcxBytes(img, PcxFile(packed2, {0x1B, 0xC1, 0xC0})));
  EXPECT_EQ(img.GetBpp(), 4);
  EXPECT_EQ(Indices(img, 0), (std::vector<uint8_t>{0, 1, 2, 3, 3}));

  // One plane of one bit is black and white whatever the header says.
  PcxHeaderFields mono;
  mono.bits = 1;
  mono.xmax = 9;
  mono.bytesPerLine = 2;
  mono.colorMap = cmap;
  ASSERT_TRUE(DecodePcxBytes(img, PcxFile(mono, {0xA5, 0x7F})));
  EXPECT_EQ(img.GetBpp(), 1);
  EXPECT_EQ(Indices(img, 0), (std::vector<uint8_t>{1, 0, 1, 0, 0, 1, 0, 1, 0, 1}));
  EXPECT_EQ(img.GetPalette()[0].rgbRed, 0);
  EXPECT_EQ(img.GetPalette()[1].rgbBlue, 255);
  // Bits beyond the width are not carried into the row's padding.
  EXPECT_EQ(img.GetBits(0)[1], 0x40);
}

TEST(PcxEncode, HeaderAndPaddedTrueColourLines) {
  // Width 3 at 24 bits: 4 bytes a line, one 0 after each plane line.
  CxImage img;
  MakeImage24(img, 3, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  std::vector<uint8_t> out;
  ASSERT_TRUE(img.Encode(out, CXIMAGE_FORMAT_PCX)) << img.GetLastError();
  std::vector<uint8_t> header(128, 0);
  header[0] = 10;
  header[1] = 5;
  header[2] = 1;
  header[3] = 8;
  Put16(header, 8, 2);    // xmax
  Put16(header, 10, 0);   // ymax
  Put16(header, 12, 96);  // default resolution
  Put16(header, 14, 96);
  header[65] = 3;
  Put16(header, 66, 4);
  Put16(header, 68, 1);  // no colour table
  ASSERT_EQ(out.size(), 128u + 12u);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 128), header);
  EXPECT_EQ(EncodedData(out, false), (std::vector<uint8_t>{1, 4, 7, 0, 2, 5, 8, 0, 3, 6, 9, 0}));
}

TEST(PcxEncode, IndexedHeaderAndPalette) {
  CxImage img;
  std::vector<RGBQUAD> pal(256);
  for (int i = 0; i < 256; ++i) pal[i] = {uint8_t(i), uint8_t(i / 2), uint8_t(255 - i), 0};
  MakeIndexed(img, 2, 2, 8, pal, {1, 2, 3, 4});
  img.SetXDpi(300);
  img.SetYDpi(72);
  std::vector<uint8_t> out;
  ASSERT_TRUE(img.Encode(out, CXIMAGE_FORMAT_PCX));
  ASSERT_EQ(out.size(), 128u + 4u + 769u);
  EXPECT_EQ(out[12] | (out[13] << 8), 300);
  EXPECT_EQ(out[14] | (out[15] << 8), 72);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 64, out.begin() + 70), (std::vector<uint8_t>{0, 1, 2, 0, 0, 0}));
  EXPECT_EQ(std::count(out.begin() + 16, out.begin() + 64, 0) + std::count(out.begin() + 70, out.begin() + 128, 0),
            48 + 58);
  EXPECT_EQ(EncodedData(out, true), (std::vector<uint8_t>{1, 2, 3, 4}));
  // Marker 12, then red, green, blue of each entry.
  const size_t trailer = out.size() - 769;
  EXPECT_EQ(out[trailer], 12);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + trailer + 1 + 3 * 200, out.begin() + trailer + 4 + 3 * 200),
            (std::vector<uint8_t>{55, 100, 200}));
}

TEST(PcxEncode, RunLengthRules) {
  std::vector<RGBQUAD> grey(256);
  for (int i = 0; i < 256; ++i) grey[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
  auto encode = [&](const std::vector<uint8_t>& line) {
    CxImage img;
    MakeIndexed(img, static_cast<int>(line.size()), 1, 8, grey, line);
    std::vector<uint8_t> out;
    EXPECT_TRUE(img.Encode(out, CXIMAGE_FORMAT_PCX));
    return EncodedData(out, true);
  };
  // 70 equal bytes: a full run of 63, then 7.
  EXPECT_EQ(encode(std::vector<uint8_t>(70, 5)), (std::vector<uint8_t>{0xFF, 5, 0xC7, 5}));
  // 64: a run of 63 and a single byte.
  EXPECT_EQ(encode(std::vector<uint8_t>(64, 0xD0)), (std::vector<uint8_t>{0xFF, 0xD0, 0xC1, 0xD0}));
  // Single bytes of 0xC0 and above are escaped; odd lines get a 0.
  EXPECT_EQ(encode({0xC0, 1, 1, 0xBF}), (std::vector<uint8_t>{0xC1, 0xC0, 0xC2, 1, 0xBF}));
  EXPECT_EQ(encode({7, 7, 0xFF}), (std::vector<uint8_t>{0xC2, 7, 0xC1, 0xFF, 0}));

  // Runs stop at line ends: two lines of 2 x 9.
  CxImage two;
  MakeIndexed(two, 2, 2, 8, grey, {9, 9, 9, 9});
  std::vector<uint8_t> out;
  ASSERT_TRUE(two.Encode(out, CXIMAGE_FORMAT_PCX));
  EXPECT_EQ(EncodedData(out, true), (std::vector<uint8_t>{0xC2, 9, 0xC2, 9}));
}

TEST(PcxEncode, PackedPlanes) {
  // 1 bit, entry 0 white and entry 1 black: indices are inverted so that 0 is
  // black, as the header's fixed black and white entries say.
  CxImage mono;
  MakeIndexed(mono, 10, 1, 1, {{255, 255, 255, 0}, {0, 0, 0, 0}}, {1, 0, 1, 0, 1, 0, 1, 0, 0, 0});
  std::vector<uint8_t> out;
  ASSERT_TRUE(mono.Encode(out, CXIMAGE_FORMAT_PCX));
  EXPECT_EQ(out[3], 1);
  EXPECT_EQ(out[65], 1);
  EXPECT_EQ(out[66], 2);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 16, out.begin() + 22), (std::vector<uint8_t>{0, 0, 0, 255, 255, 255}));
  EXPECT_EQ(out[68], 0);
  // 0101 0101 11 then unused bits 0.
  EXPECT_EQ(EncodedData(out, false), (std::vector<uint8_t>{0x55, 0xC0 | 1, 0xC0}));

  // 4 bits: four planes, bit k of each index in plane k; the 16 colours in the header.
  std::vector<RGBQUAD> pal(16);
  for (int i = 0; i < 16; ++i) pal[i] = {uint8_t(i), uint8_t(16 * i), uint8_t(200 - i), 0};
  CxImage four;
  MakeIndexed(four, 3, 1, 4, pal, {1, 2, 12});
  ASSERT_TRUE(four.Encode(out, CXIMAGE_FORMAT_PCX));
  EXPECT_EQ(out[3], 1);
  EXPECT_EQ(out[65], 4);
  EXPECT_EQ(out[66], 2);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 16 + 3 * 12, out.begin() + 19 + 3 * 12),
            (std::vector<uint8_t>{188, 192, 12}));
  EXPECT_EQ(EncodedData(out, false), (std::vector<uint8_t>{0x80, 0, 0x40, 0, 0x20, 0, 0x20, 0}));
}

}  // namespace
}  // namespace tessara
