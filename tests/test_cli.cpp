// tessara-join: its options and ranges, and the built tool run on the sample
// pairs, checked by the file it writes, its messages and its exit status.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <climits>
#include <filesystem>

#include <tiffio.h>

#include "cli/join_options.h"
#include "image/metadata.h"
#include "image/ximage.h"
#include "tests/test_support.h"

namespace tessara {
namespace {

namespace fs = std::filesystem;
using test::TestData;

std::optional<JoinOptions> Parse(std::vector<std::string> args, std::string* error = nullptr) {
  std::string e;
  auto o = ParseJoinOptions(args, e);
  if (error) *error = e;
  return o;
}

TEST(JoinOptions, ValuesAndDefaults) {
  auto o = Parse({"--offset", "220,-5", "--scale1", "150%", "--scale2=1536,1000", "--rotate2", "-1.5", "--mirror1",
                  "--merge", "least", "--bias", "0", "--fade2", "--mono", "and", "--contrast", "32", "--brightness",
                  "255", "--swing", "180", "--solid-grid", "2", "--dotted-grid", "1000", "--grid-colour", "white",
                  "--zone", "1,2,300,400", "--cut-corners2", "0", "a.png", "b.bmp", "OUT.PNG"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->offsetX, 220);
  EXPECT_EQ(o->offsetY, -5);
  EXPECT_EQ(o->scale1X, 1536);
  EXPECT_EQ(o->scale1Y, 1536);
  EXPECT_EQ(o->scale2Y, 1000);
  EXPECT_DOUBLE_EQ(o->rotate2, -1.5);
  EXPECT_EQ(o->mirror1, 1);
  EXPECT_EQ(o->mergeRule, 2);
  EXPECT_EQ(o->fade2, 1);
  EXPECT_EQ(o->monoAnd, 1);
  EXPECT_EQ(o->swing, 180);
  EXPECT_EQ(o->gridWhite, 1);
  EXPECT_EQ(o->cutCorners2, 0);
  EXPECT_EQ(o->zoneX2, 300);
  EXPECT_EQ(o->filterIndex, 3);  // the ending, lower-cased
  auto d = Parse({"a.png", "b.png", "c.bmp"});
  ASSERT_TRUE(d);
  EXPECT_EQ(d->scale1X, 1024);
  EXPECT_EQ(d->bias, 128);
  EXPECT_EQ(d->contrast, 16);
  EXPECT_EQ(d->cutCorners1, 1);
  EXPECT_EQ(d->filterIndex, 1);
}

TEST(JoinOptions, SaveCompression) {
  auto d = Parse({"a.png", "b.png", "c.tif"});
  ASSERT_TRUE(d);
  EXPECT_EQ(d->quality, 90);
  EXPECT_FALSE(d->losslessTiff);
  auto o = Parse({"--quality", "1", "--tiff-compression", "deflate", "a.png", "b.png", "c.tif"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->quality, 1);
  EXPECT_TRUE(o->losslessTiff);
  o = Parse({"--quality=100", "--tiff-compression=jpeg", "a.png", "b.png", "c.jpg"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->quality, 100);
  EXPECT_FALSE(o->losslessTiff);
  std::string error;
  for (const char* q : {"0", "101", "-5", "9x", ""}) {
    EXPECT_FALSE(Parse({"--quality", q, "a.png", "b.png", "c.jpg"}, &error)) << q;
    EXPECT_EQ(error, "--quality takes an integer from 1 to 100") << q;
  }
  EXPECT_FALSE(Parse({"--tiff-compression", "lzw", "a.png", "b.png", "c.tif"}, &error));
  EXPECT_EQ(error, "--tiff-compression takes jpeg or deflate");
}

TEST(JoinOptions, RefusalsNameTheOptionAndItsRange) {
  struct Case {
    std::vector<std::string> args;
    const char* words;
  } cases[] = {
      {{"--bias", "256", "a", "b", "c.png"}, "--bias takes an integer from 0 to 255"},
      {{"--contrast", "33", "a", "b", "c.png"}, "--contrast takes an integer from 0 to 32"},
      {{"--brightness", "-1", "a", "b", "c.png"}, "--brightness"},
      {{"--swing", "181", "a", "b", "c.png"}, "--swing takes an integer from 0 to 180"},
      {{"--solid-grid", "1", "a", "b", "c.png"}, "from 2 to 1000"},
      {{"--dotted-grid", "1001", "a", "b", "c.png"}, "from 2 to 1000"},
      {{"--scale1", "0", "a", "b", "c.png"}, "--scale1"},
      {{"--scale2", "abc%", "a", "b", "c.png"}, "--scale2"},
      {{"--offset", "3", "a", "b", "c.png"}, "--offset"},
      {{"--rotate1", "nan", "a", "b", "c.png"}, "--rotate1"},
      {{"--merge", "sum", "a", "b", "c.png"}, "--merge"},
      {{"--fade1", "--fade2", "a", "b", "c.png"}, "together"},
      {{"--zone", "1,2,3", "a", "b", "c.png"}, "--zone"},
      {{"--frobnicate", "a", "b", "c.png"}, "unknown option"},
      {{"a", "b"}, "SOURCE1 SOURCE2 OUTPUT"},
      {{"a", "b", "c.jpeg"}, "OUTPUT must end in"},
      {{"--bias"}, "needs a value"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(Parse(c.args, &error)) << c.words;
    EXPECT_NE(error.find(c.words), std::string::npos) << error;
  }
  EXPECT_TRUE(Parse({"--help"})->help);
}

TEST(JoinOptions, ZoneCornersAreAnyIntegers) {
  // Corners outside the Target are kept for clamping; those beyond an int
  // saturate.
  auto o = Parse({"--zone", "-5,-70,99999999999,300", "a", "b", "c.png"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->zoneX1, -5);
  EXPECT_EQ(o->zoneY1, -70);
  EXPECT_EQ(o->zoneX2, INT_MAX);
  EXPECT_EQ(o->zoneY2, 300);
  auto n = Parse({"--zone=-99999999999,0,-1,-2", "a", "b", "c.png"});
  ASSERT_TRUE(n);
  EXPECT_EQ(n->zoneX1, INT_MIN);
  EXPECT_EQ(n->zoneY2, -2);
  std::string error;
  EXPECT_FALSE(Parse({"--zone", "1,2,3,x", "a", "b", "c.png"}, &error));
  EXPECT_NE(error.find("--zone"), std::string::npos);
}

// Runs the built tool; returns its exit status and what it wrote to stderr.
int Join(const std::string& args, std::string* err = nullptr) {
  const fs::path errFile = test::TempDir() / "stderr.txt";
  const std::string cmd = std::string(TESSARA_JOIN) + " " + args + " 2>'" + errFile.string() + "' >/dev/null";
  const int status = std::system(cmd.c_str());
  if (err) {
    auto bytes = test::ReadBytes(errFile);
    err->assign(bytes.begin(), bytes.end());
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Pair(const char* name) { return "'" + TestData(std::string("pairs/") + name).string() + "'"; }

TEST(JoinTool, JoinsThePairsInEachFormat) {
  const fs::path dir = test::TempDir();
  const test::RgbImage left = test::ToRgb(CxImage(TestData("pairs/coffee_left.png").string(), CXIMAGE_FORMAT_PNG));
  const test::RgbImage right = test::ToRgb(CxImage(TestData("pairs/coffee_right.png").string(), CXIMAGE_FORMAT_PNG));
  for (const char* name : {"out.bmp", "out.png", "out.tga", "out.pcx", "out.tif", "out.jpg"}) {
    std::string err;
    const fs::path out = dir / name;
    ASSERT_EQ(Join("--offset 220,0 " + Pair("coffee_left.png") + " " + Pair("coffee_right.png") + " '" +
                       out.string() + "'",
                   &err),
              0)
        << err;
    EXPECT_EQ(err, "");  // not a terminal: no progress display
    CxImage img(out.string(), 0);
    ASSERT_TRUE(img.IsValid()) << name;
    EXPECT_EQ(img.GetWidth(), 600);
    EXPECT_EQ(img.GetHeight(), 400);
    EXPECT_EQ(img.GetBpp(), 24);
    const test::RgbImage rgb = test::ToRgb(img);
    auto at = [](const test::RgbImage& p, int x, int y) {
      const uint8_t* q = &p.rgb[(size_t(y) * p.width + x) * 3];
      return std::array<int, 3>{q[0], q[1], q[2]};
    };
    const bool lossy = std::string(name) == "out.jpg" || std::string(name) == "out.tif";
    const int tolerance = lossy ? 24 : 0;
    auto near = [&](std::array<int, 3> a, std::array<int, 3> b) {
      for (int c = 0; c < 3; ++c)
        if (std::abs(a[c] - b[c]) > tolerance) return false;
      return true;
    };
    EXPECT_TRUE(near(at(rgb, 50, 100), at(left, 50, 100))) << name;     // source 1 only
    EXPECT_TRUE(near(at(rgb, 550, 100), at(right, 330, 100))) << name;  // source 2 only
    auto avg = [&](int x, int y) {
      auto a = at(left, x, y), b = at(right, x - 220, y);
      return std::array<int, 3>{(a[0] * 127 + b[0] * 128) >> 8, (a[1] * 127 + b[1] * 128) >> 8,
                                (a[2] * 127 + b[2] * 128) >> 8};
    };
    EXPECT_TRUE(near(at(rgb, 300, 200), avg(300, 200))) << name;  // overlap
  }
}

TEST(JoinTool, WhiteIsZeroScansAreNotInverted) {
  // A scanned page as fax and scanner software write it: Group 4, zero is
  // white. Black marks an "F" in an odd-sized page; joined with itself it must
  // come out black on white in every format, as it shows in its own window.
  const fs::path dir = test::TempDir();
  const int w = 37, h = 21;
  auto black = [](int x, int y) { return (x >= 4 && x < 8 && y >= 3 && y < 18) || (y >= 3 && y < 6 && x >= 4 && x < 30) ||
                                         (y >= 9 && y < 12 && x >= 4 && x < 20); };
  const fs::path page = dir / "page.tif";
  TIFF* tif = TIFFOpen(page.c_str(), "w");
  ASSERT_TRUE(tif);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, h);
  for (int y = 0; y < h; ++y) {
    uint8_t row[(w + 7) / 8] = {};
    for (int x = 0; x < w; ++x)
      if (black(x, y)) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    ASSERT_EQ(TIFFWriteScanline(tif, row, static_cast<uint32_t>(y), 0), 1);
  }
  TIFFClose(tif);
  for (const char* name : {"joined.bmp", "joined.tif", "joined.png", "joined.pcx"}) {
    const fs::path out = dir / name;
    ASSERT_EQ(Join("--quiet '" + page.string() + "' '" + page.string() + "' '" + out.string() + "'"), 0) << name;
    const test::RgbImage rgb = test::ToRgb(CxImage(out.string(), CXIMAGE_FORMAT_UNKNOWN));
    ASSERT_EQ(rgb.width, w) << name;
    ASSERT_EQ(rgb.height, h) << name;
    int wrong = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        wrong += rgb.rgb[3 * (static_cast<size_t>(y) * w + x)] != (black(x, y) ? 0 : 255);
    EXPECT_EQ(wrong, 0) << name;
  }
}

TEST(JoinTool, CompressionOptionsReachTheFile) {
  const fs::path dir = test::TempDir();
  const std::string pair = Pair("coffee_left.png") + " " + Pair("coffee_right.png") + " --offset 220,0 ";
  auto size = [&](const std::string& options, const char* name) {
    EXPECT_EQ(Join("--quiet " + options + " " + pair + "'" + (dir / name).string() + "'"), 0) << name;
    return fs::file_size(dir / name);
  };
  EXPECT_LT(size("--quality 30", "q30.jpg"), size("", "q90.jpg"));
  size("--tiff-compression deflate", "lossless.tif");
  CxImage lossless((dir / "lossless.tif").string(), CXIMAGE_FORMAT_TIF);
  size("", "same.bmp");
  CxImage same((dir / "same.bmp").string(), CXIMAGE_FORMAT_BMP);
  EXPECT_EQ(test::ToRgb(lossless).rgb, test::ToRgb(same).rgb);
}

TEST(JoinTool, OptionsReachTheTarget) {
  const fs::path dir = test::TempDir();
  // A bitmap keeps the Target's depth; a zone cuts it; the tool is the same
  // engine, so the numbers are those of the engine's own tests.
  ASSERT_EQ(Join("--quiet --offset 0,-120 --merge greatest --zone 0,0,200,100 " + Pair("chelsea_top.tga") + " " +
                 Pair("chelsea_bottom.pcx") + " '" + (dir / "zone.bmp").string() + "'"),
            0);
  CxImage zone((dir / "zone.bmp").string(), CXIMAGE_FORMAT_BMP);
  ASSERT_TRUE(zone.IsValid());
  EXPECT_EQ(zone.GetWidth(), 200);
  EXPECT_EQ(zone.GetHeight(), 100);
  // Ranges are checked before anything is read.
  std::string err;
  EXPECT_EQ(Join("--zone 0,0,50,50 " + Pair("chelsea_top.tga") + " " + Pair("chelsea_bottom.pcx") + " '" +
                     (dir / "small.png").string() + "'",
                 &err),
            1);
  EXPECT_EQ(err, "Zone dimensions are too small.\nHeight and width should be at least 64 pixels.\n");
  EXPECT_FALSE(fs::exists(dir / "small.png"));
}

TEST(JoinTool, OrientationAndCameraDataOptions) {
  // Source 1 is stored sideways with orientation 6 and carries EXIF, XMP and
  // a colour profile.
  const fs::path dir = test::TempDir();
  const std::string pair = "'" + TestData("metadata/jpg_camera_orientation6.jpg").string() + "' '" +
                           TestData("formats/jpg_rgb_444.jpg").string() + "'";
  auto run = [&](const std::string& options, const char* name, std::string* err) {
    const fs::path out = dir / name;
    EXPECT_EQ(Join(options + " " + pair + " '" + out.string() + "'", err), 0) << *err;
    return test::ReadBytes(out);
  };
  std::string err;
  const std::vector<uint8_t> turned = run("", "turned.jpg", &err);
  EXPECT_NE(err.find("jpg_camera_orientation6.jpg: Turned upright by its orientation tag"), std::string::npos) << err;
  CxImage a(turned.data(), turned.size(), CXIMAGE_FORMAT_JPG);
  EXPECT_EQ(a.GetWidth(), 61);  // 47 upright, source 2's 61 beside it at 0,0
  EXPECT_EQ(a.GetHeight(), 61);
  EXPECT_EQ(ReadMetadataValue(turned.data(), turned.size(), "Exif.Image.Make"), "Testcam");
  EXPECT_EQ(ReadMetadataValue(turned.data(), turned.size(), "Exif.Image.Orientation"), "1");
  EXPECT_FALSE(a.m_metadata.iccProfile.empty());

  const std::vector<uint8_t> kept = run("--ignore-orientation --strip-metadata", "kept.jpg", &err);
  CxImage b(kept.data(), kept.size(), CXIMAGE_FORMAT_JPG);
  EXPECT_EQ(b.GetWidth(), 61);
  EXPECT_EQ(b.GetHeight(), 47);
  EXPECT_EQ(ReadMetadataValue(kept.data(), kept.size(), "Exif.Image.Make"), "");
  EXPECT_EQ(ReadMetadataValue(kept.data(), kept.size(), "Xmp.dc.creator"), "");
  // The colour profile is not camera data: the Target is still in its space.
  EXPECT_EQ(b.m_metadata.iccProfile, a.m_metadata.iccProfile);
}

TEST(JoinTool, ZoneCornersOutsideTheTargetAreClamped) {
  const fs::path dir = test::TempDir();
  const std::string pair = Pair("coffee_left.png") + " " + Pair("coffee_right.png");
  // The Target is 600 x 400.
  std::string err;
  ASSERT_EQ(Join("--offset 220,0 --zone -30,-7,100000,90 " + pair + " '" + (dir / "wide.bmp").string() + "'", &err),
            0)
      << err;
  CxImage wide((dir / "wide.bmp").string(), CXIMAGE_FORMAT_BMP);
  ASSERT_TRUE(wide.IsValid());
  EXPECT_EQ(wide.GetWidth(), 600);
  EXPECT_EQ(wide.GetHeight(), 90);
  // Only 40 columns are left inside the Target: too small.
  EXPECT_EQ(Join("--offset 220,0 --zone -100,-100,40,300 " + pair + " '" + (dir / "thin.bmp").string() + "'", &err),
            1);
  EXPECT_EQ(err, "Zone dimensions are too small.\nHeight and width should be at least 64 pixels.\n");
  EXPECT_FALSE(fs::exists(dir / "thin.bmp"));
}

TEST(JoinTool, BadInputFailsWithTheProgramsMessages) {
  const fs::path dir = test::TempDir();
  const std::string out = " '" + (dir / "out.png").string() + "'";
  // A pipe (opening it would wait for a writer) and a link to an endless device.
  const fs::path fifo = dir / "pipe.png", endless = dir / "zero.bmp";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", endless);
  struct Case {
    std::string args;
    int status;
    std::string err;
  } cases[] = {
      {"'" + (dir / "missing.png").string() + "' " + Pair("coffee_left.png") + out, 1,
       "Failed to open document.\nmissing.png: No such file or directory\n"},
      {"'" + TestData("broken/tga_depth_12.tga").string() + "' " + Pair("coffee_left.png") + out, 1,
       "bad TGA header\nUnable to load this picture file\ntga_depth_12.tga: bad TGA header\n"},
      {"'" + TestData("pairs/TRUTH.txt").string() + "' " + Pair("coffee_left.png") + out, 1,
       "Unable to load this picture file\nTRUTH.txt: The program reads pictures ending in "},
      {"'" + TestData("broken/bmp_wrong_magic.bmp").string() + "' " + Pair("coffee_left.png") + out, 1,
       "Cannot load this file\nUnable to load this picture file\nbmp_wrong_magic.bmp: It is not a bitmap"},
      {"'" + TestData("formats/bmp_8bit_rle8.bmp").string() + "' " + Pair("coffee_left.png") + out, 1,
       "The preview image cannot be loaded because the format of one or both source images is RLE bitmap which "
       "cannot be handled by Tessara.\n"},
      {"'" + fifo.string() + "' " + Pair("coffee_left.png") + out, 1,
       "Failed to open document.\npipe.png: Not a regular file\n"},
      {"'" + endless.string() + "' " + Pair("coffee_left.png") + out, 1,
       "Failed to open document.\nzero.bmp: Not a regular file\n"},
      {"--bias 999 a.png b.png c.png", 2, "tessara-join: --bias takes an integer from 0 to 255\n"},
  };
  for (const Case& c : cases) {
    std::string err;
    EXPECT_EQ(Join(c.args, &err), c.status) << c.args;
    EXPECT_EQ(err.substr(0, c.err.size()), c.err) << c.args;
  }
  EXPECT_FALSE(fs::exists(dir / "out.png"));
  // A failed save leaves an existing file as it was.
  test::WriteBytes(dir / "keep.wmf", {1, 2, 3});
  std::string err;
  EXPECT_EQ(Join(Pair("coffee_left.png") + " " + Pair("coffee_right.png") + " '" + (dir / "keep.wmf").string() + "'",
                 &err),
            1);
  EXPECT_EQ(err, "Failed the file save!\nkeep.wmf: Save WMF not supported\n");
  EXPECT_EQ(test::ReadBytes(dir / "keep.wmf"), (std::vector<uint8_t>{1, 2, 3}));
}

// Pictures of several megabytes live in mapped memory, small ones in the
// ordinary heap: a join gives the same bytes whichever way its pictures are
// held, every block mapped, none mapped, or as usual.
TEST(JoinTool, SameBytesWhereverThePicturesLive) {
  const fs::path dir = test::TempDir();
  const std::string args = "--offset 660,0 --scale1 300% --scale2 300% --rotate2 1.5 --fade2 " +
                           Pair("coffee_left.png") + " " + Pair("coffee_right.png");
  std::vector<std::vector<uint8_t>> outputs;
  for (const char* from : {"", "TESSARA_MAP_PICTURES_FROM=1 ", "TESSARA_MAP_PICTURES_FROM=1000000000000 "}) {
    for (const char* name : {"out.png", "out.jpg", "out.bmp"}) {
      const fs::path out = dir / name;
      ASSERT_EQ(std::system((std::string(from) + TESSARA_JOIN + " --quiet " + args + " '" + out.string() + "'").c_str()),
                0)
          << from << name;
      outputs.push_back(test::ReadBytes(out));
    }
  }
  ASSERT_GT(outputs[2].size(), size_t{5} << 20);  // the prepared copies and the Target are mapped as usual
  for (size_t i = 3; i < outputs.size(); ++i) EXPECT_EQ(outputs[i], outputs[i % 3]) << i;
}

TEST(JoinTool, HelpAndVersion) {
  EXPECT_EQ(Join("--help"), 0);
  EXPECT_EQ(Join("--version"), 0);
}

}  // namespace
}  // namespace tessara
