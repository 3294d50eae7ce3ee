// Saving the Target: the output image (whole Target or Zone), the bitmap file
// layout, the choice of writer by name and filter, failures that keep existing
// files, and the printed page height.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <cstring>
#include <filesystem>

#include <tiffio.h>

#include "framework/settings.h"
#include "image/ximage.h"
#include "tests/engine_fixture.h"
#include "tests/test_support.h"

namespace tessara {
namespace {

namespace fs = std::filesystem;
using test::Coordinates24;
using test::IndexAt;
using test::Indexed;

class Output : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    SetSettingsStore(&store);
    dir = test::TempDir();
  }
  void TearDown() override {
    SetSettingsStore(nullptr);
    EngineTest::TearDown();
  }
  // Two sources of the given depth side by side, generated.
  void Target(int bits, int width = 20, int height = 10) {
    auto make = [&](int phase) {
      return bits == 24 ? Coordinates24(width, height)
                        : Indexed(bits, width, height, [phase](int x, int y) { return (x + y + phase) % 3 == 0; });
    };
    AddSource(make(0));
    AddSource(make(1));
    doc->m_nOffsetX = width;
    ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
    ASSERT_EQ(doc->PrepareSource(2), kPrepareDone);
    ASSERT_EQ(doc->GenerateTarget(), 1);
  }
  MemorySettingsStore store;
  fs::path dir;
};

TEST_F(Output, WholeTargetAndZoneInEitherDirection) {
  Target(24);
  const Dib& t = *doc->m_pTarget;
  DibPtr whole = doc->PrepareOutput(0);
  ASSERT_TRUE(whole);
  EXPECT_EQ(DibToRgb(*whole), DibToRgb(t));
  EXPECT_EQ(doc->m_pSource1, nullptr);  // released to make room

  // Zone from (3, 2) to (11, 7), y counted from the top: 8 x 5 pixels whose
  // bottom row is stored row 10 - 2 - 5 = 3 of the Target.
  doc->m_bZoneOnly = 1;
  for (auto corners : {std::pair<ZonePoint, ZonePoint>{{3, 2}, {11, 7}}, {{11, 7}, {3, 2}}, {{3, 7}, {11, 2}}}) {
    doc->SetZone(corners.first, corners.second);
    DibPtr zone = doc->PrepareOutput(0);
    ASSERT_TRUE(zone);
    ASSERT_EQ(zone->Width(), 8);
    ASSERT_EQ(zone->Height(), 5);
    EXPECT_EQ(doc->m_nOutputWidth, 8);
    for (int j = 0; j < 5; ++j)
      EXPECT_EQ(std::memcmp(zone->Row(j), t.Row(j + 3) + 3 * 3, 8 * 3), 0) << j;
  }
  // Corners beyond the Target never read outside it.
  doc->SetZone({-5, -5}, {500, 500});
  DibPtr clipped = doc->PrepareOutput(0);
  ASSERT_TRUE(clipped);
  EXPECT_EQ(clipped->Width(), 40);
  EXPECT_EQ(clipped->Height(), 10);
}

TEST_F(Output, ColourTablesPerDepth) {
  Target(1);
  DibPtr mono = doc->PrepareOutput(0);
  ASSERT_EQ(mono->BitCount(), 1);
  EXPECT_EQ(mono->ColorTable()[0].rgbRed, 0);
  EXPECT_EQ(mono->ColorTable()[1].rgbRed, 255);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(IndexAt(*mono, x, y), IndexAt(*doc->m_pTarget, x, y));
  DibPtr forced = doc->PrepareOutput(1);
  ASSERT_EQ(forced->BitCount(), 24);
  EXPECT_EQ(DibToRgb(*forced), DibToRgb(*doc->m_pTarget));
  RemoveSource(2);
  RemoveSource(1);
  Target(4);
  DibPtr eight = doc->PrepareOutput(0);
  ASSERT_EQ(eight->BitCount(), 8);
  // The Target's colours, every reserved byte 0 (entries the Target leaves
  // unused included).
  for (int i = 0; i < 256; ++i) {
    const RGBQUAD a = eight->ColorTable()[i], b = doc->m_pTarget->ColorTable()[i];
    EXPECT_EQ(a.rgbBlue, b.rgbBlue) << i;
    EXPECT_EQ(a.rgbGreen, b.rgbGreen) << i;
    EXPECT_EQ(a.rgbRed, b.rgbRed) << i;
    EXPECT_EQ(a.rgbReserved, 0) << i;
  }
  EXPECT_EQ(DibToRgb(*eight), DibToRgb(*doc->m_pTarget));
}

TEST_F(Output, EightBitBitmapFileHasZeroReservedBytes) {
  Target(4);  // 16 colours a source: most of the 256 entries stay unused
  const fs::path path = dir / "t8.bmp";
  ASSERT_EQ(doc->SaveTargetBmp(path.string()), 1);
  const std::vector<uint8_t> file = test::ReadBytes(path);
  ASSERT_GE(file.size(), 1078u);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(file[54 + 4 * i + 3], 0) << i;
}

TEST_F(Output, BitmapFileLayout) {
  for (int bits : {1, 4, 24}) {
    Target(bits, 21, 9);
    const fs::path path = dir / ("t" + std::to_string(bits) + ".bmp");
    ASSERT_EQ(doc->SaveTargetBmp(path.string()), 1);
    const std::vector<uint8_t> file = test::ReadBytes(path);
    const Dib& t = *doc->m_pTarget;
    const uint32_t offset = t.BitCount() == 24 ? 54 : 54 + (4u << t.BitCount());
    EXPECT_EQ(offset, bits == 1 ? 62u : bits == 4 ? 1078u : 54u);
    ASSERT_EQ(file.size(), offset + t.Header().biSizeImage);
    uint32_t size, bitsAt;
    std::memcpy(&size, &file[2], 4);
    std::memcpy(&bitsAt, &file[10], 4);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(size, file.size());
    EXPECT_EQ(bitsAt, offset);
    EXPECT_EQ(std::memcmp(&file[14], t.Data(), 40), 0);
    // The rows are the output image's: the Target's pixels with clean padding.
    DibPtr out = doc->PrepareOutput(0);
    EXPECT_EQ(std::memcmp(&file[offset], out->Bits(), t.Header().biSizeImage), 0);
    doc->RefreshSources();
    // The sources are prepared again afterwards.
    EXPECT_NE(doc->m_pSource1, nullptr);
    EXPECT_EQ(doc->m_bUpToDate, 1);
    // Independent reader: ImageMagick sees the same pixels.
    if (test::HaveCommand("convert")) {
      bool ok = false;
      const auto raw = test::RunCommand("convert '" + path.string() + "' ppm:- 2>/dev/null", &ok);
      EXPECT_TRUE(ok);
      EXPECT_EQ(test::ReadPpm(raw).rgb, DibToRgb(t)) << std::string(raw.begin(), raw.begin() + std::min<size_t>(raw.size(), 16));
    }
    RemoveSource(2);
    RemoveSource(1);
  }
}

TEST_F(Output, DispatchByNameAndFilter) {
  Target(24);
  // An upper-case JPG with the Bitmap filter writes JPEG under the given name.
  ASSERT_EQ(doc->SaveTargetToPath((dir / "picture.JPG").string(), 1), 1);
  std::vector<uint8_t> jpg = test::ReadBytes(dir / "picture.JPG");
  ASSERT_GE(jpg.size(), 3u);
  EXPECT_EQ(jpg[0], 0xFF);
  EXPECT_EQ(jpg[1], 0xD8);
  // No ending with the Png filter appends .png and remembers the filter.
  ASSERT_EQ(doc->SaveTargetToPath((dir / "picture").string(), 3), 1);
  CxImage png((dir / "picture.png").string(), CXIMAGE_FORMAT_PNG);
  ASSERT_TRUE(png.IsValid());
  EXPECT_EQ(png.GetBpp(), 24);
  EXPECT_EQ(store.GetInt("Configure", "Last Save Extension", 0), 3);
  EXPECT_EQ(store.GetString("Configure", "Last Save Directory", ""), dir.string() + "/");
  for (const char* name : {"p.tif", "p.tga", "p.pcx"}) {
    ASSERT_EQ(doc->SaveTargetToPath((dir / name).string(), 2), 1) << name;
    CxImage back((dir / name).string(), 0);
    ASSERT_TRUE(back.IsValid()) << name;
    if (std::string(name) != "p.tif") {  // JPEG-compressed TIFF is lossy
      EXPECT_EQ(test::ToRgb(back).rgb, DibToRgb(*doc->m_pTarget)) << name;
    }
  }
  // A metafile is handed to the codec layer, which refuses it.
  EXPECT_EQ(doc->SaveTargetToPath((dir / "picture.wmf").string(), 1), 0);
  EXPECT_EQ(ui.LastMessage(), "Failed the file save!\npicture.wmf: Save WMF not supported");
  EXPECT_FALSE(fs::exists(dir / "picture.wmf"));
  EXPECT_NE(doc->m_pSource1, nullptr);
}

// What a saved TIFF file says of itself (libtiff reads it as any program would).
struct TiffFacts {
  uint16_t bits = 0, samples = 0, compression = 0, photometric = 0;
};
TiffFacts ReadTiffFacts(const fs::path& path) {
  TiffFacts f;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return f;
  TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &f.bits);
  TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &f.samples);
  TIFFGetField(tif, TIFFTAG_COMPRESSION, &f.compression);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &f.photometric);
  TIFFClose(tif);
  return f;
}

TEST_F(Output, TiffKeepsTheTargetsDepthWithoutLoss) {
  // Black and white: Group 4 at one bit; 256 colours (two 4-bit sources make
  // them): deflate at 8 bits. Both come back as the Target was, pixel for pixel.
  for (int bits : {1, 8}) {
    Restart();
    Target(bits == 1 ? 1 : 4, 21, 9);
    ASSERT_EQ(doc->m_pTarget->BitCount(), bits);
    const fs::path path = dir / ("target" + std::to_string(bits) + ".tif");
    ASSERT_EQ(doc->SaveTargetToPath(path.string(), 4), 1) << bits;
    const TiffFacts f = ReadTiffFacts(path);
    EXPECT_EQ(f.bits, bits);
    EXPECT_EQ(f.samples, 1);
    EXPECT_EQ(f.compression, bits == 1 ? COMPRESSION_CCITTFAX4 : COMPRESSION_ADOBE_DEFLATE);
    CxImage back(path.string(), CXIMAGE_FORMAT_TIF);
    ASSERT_TRUE(back.IsValid());
    EXPECT_EQ(back.GetBpp(), bits);
    EXPECT_EQ(test::ToRgb(back).rgb, DibToRgb(*doc->m_pTarget)) << bits;
  }
}

TEST_F(Output, ColourTiffCompressionAndJpegQualityFollowTheSettings) {
  // A picture with detail, so that JPEG quality shows in the file's size.
  Target(24, 160, 120);
  auto save = [&](const char* name) {
    const fs::path path = dir / name;
    EXPECT_EQ(doc->SaveTargetToPath(path.string(), 1), 1) << name;
    return path;
  };
  const fs::path jpegTiff = save("default.tif");
  EXPECT_EQ(ReadTiffFacts(jpegTiff).compression, COMPRESSION_JPEG);
  store.WriteInt("Configure", "Lossless TIFF", 1);
  const fs::path lossless = save("lossless.tif");
  EXPECT_EQ(ReadTiffFacts(lossless).compression, COMPRESSION_ADOBE_DEFLATE);
  EXPECT_EQ(ReadTiffFacts(lossless).bits, 8);
  EXPECT_EQ(ReadTiffFacts(lossless).samples, 3);
  CxImage back(lossless.string(), CXIMAGE_FORMAT_TIF);
  EXPECT_EQ(test::ToRgb(back).rgb, DibToRgb(*doc->m_pTarget));

  // The default quality is 90; a lower one gives a smaller, coarser file,
  // for .jpg and JPEG-compressed TIFF alike; nonsense in the store is 90.
  store.WriteInt("Configure", "Lossless TIFF", 0);
  const auto at90 = test::ReadBytes(save("q90.jpg"));
  const auto tiffAt90 = fs::file_size(save("q90.tif"));
  store.WriteInt("Configure", "JPEG Quality", 20);
  const auto at20 = test::ReadBytes(save("q20.jpg"));
  EXPECT_LT(at20.size(), at90.size());
  EXPECT_LT(fs::file_size(save("q20.tif")), tiffAt90);
  store.WriteInt("Configure", "JPEG Quality", 0);
  EXPECT_EQ(test::ReadBytes(save("q0.jpg")), at90);
  EXPECT_EQ(SavedJpegQuality(), 90);
}

TEST_F(Output, FailuresKeepExistingFiles) {
  Target(24);
  const fs::path existing = dir / "keep.png";
  test::WriteBytes(existing, {1, 2, 3});
  // A folder where the file should go cannot be replaced.
  const fs::path folder = dir / "taken.bmp";
  fs::create_directory(folder);
  EXPECT_EQ(doc->SaveTargetToPath(folder.string(), 1), 0);
  EXPECT_EQ(ui.LastMessage(), "Failed the file save!\ntaken.bmp: Is a directory");
  ui.Clear();
  EXPECT_EQ(doc->SaveTargetToPath((dir / "no-such-folder" / "a.png").string(), 3), 0);
  EXPECT_EQ(ui.LastMessage(), "Failed the file save!\na.png: No such file or directory");
  if (geteuid() != 0) {
    const fs::path locked = dir / "locked";
    fs::create_directory(locked);
    test::WriteBytes(locked / "keep.bmp", {9, 9});
    chmod(locked.c_str(), 0555);
    EXPECT_EQ(doc->SaveTargetBmp((locked / "keep.bmp").string()), 0);
    chmod(locked.c_str(), 0755);
    EXPECT_EQ(test::ReadBytes(locked / "keep.bmp"), (std::vector<uint8_t>{9, 9}));
  }
  // A successful save replaces the file; nothing is left beside it.
  ASSERT_EQ(doc->SaveTargetToPath(existing.string(), 3), 1);
  EXPECT_GT(fs::file_size(existing), 3u);
  int files = 0;
  for (const auto& e : fs::directory_iterator(dir)) files += e.is_regular_file();
  EXPECT_EQ(files, 1);
}

TEST_F(Output, AWholeTargetIsSavedFromItselfAndLeftAsItWas) {
  // Saved without an output copy: the file holds the Target's pixels, and the
  // Target block (header and spare bytes too) is the same after the save.
  Target(24, 37, 11);
  ASSERT_TRUE(doc->m_pTarget);
  const std::vector<uint8_t> before(doc->m_pTarget->Data(), doc->m_pTarget->Data() + doc->m_pTarget->Size());
  for (const char* name : {"whole.png", "whole.tga", "whole.pcx"}) {
    ASSERT_EQ(doc->SaveTargetToPath((dir / name).string(), 0), 1) << name;
    ASSERT_TRUE(doc->m_pTarget);
    EXPECT_EQ(std::vector<uint8_t>(doc->m_pTarget->Data(), doc->m_pTarget->Data() + doc->m_pTarget->Size()), before);
    CxImage back((dir / name).string(), CXIMAGE_FORMAT_UNKNOWN);
    EXPECT_EQ(test::MaxDifference(test::ToRgb(back), {doc->m_pTarget->Width(), doc->m_pTarget->Height(),
                                                     DibToRgb(*doc->m_pTarget)}),
              0)
        << name;
    EXPECT_EQ(doc->m_nOutputWidth, 37 * 2);
  }
}

TEST_F(Output, SourcesTakenAsTheirOwnCopiesGiveTheSameTarget) {
  // The batch tool lets a source at full size be its own prepared copy; the
  // Target is the one a copy gives, and a turned source is still copied.
  auto run = [&](bool take, double rotation2) {
    Restart();
    AddSource(Coordinates24(23, 9));
    AddSource(Coordinates24(19, 9));
    doc->m_nOffsetX = 11;
    doc->m_dRotation2 = rotation2;
    g_bFadeEdge2 = 1;
    doc->m_bTakeSourcePictures = take;
    EXPECT_EQ(doc->PrepareSource(1), kPrepareDone);
    EXPECT_EQ(doc->PrepareSource(2), kPrepareDone);
    EXPECT_EQ(doc->GenerateTarget(), 1);
    const bool taken1 = documents.Source(1)->m_pDib == nullptr, taken2 = documents.Source(2)->m_pDib == nullptr;
    EXPECT_EQ(taken1, take);
    EXPECT_EQ(taken2, take && rotation2 == 0.0);
    return DibToRgb(*doc->m_pTarget);
  };
  EXPECT_EQ(run(true, 0.0), run(false, 0.0));
  EXPECT_EQ(run(true, 2.5), run(false, 2.5));
}

TEST_F(Output, AFailedWriteSaysWhyAndKeepsTheOldFile) {
  // The disk gives out (a file-size limit plays a full disk): the message
  // keeps its text and adds the system's reason on the next line, for the
  // bitmap writer and the codec writer alike; the old file is untouched.
  Target(24, 300, 200);
  for (const char* name : {"full.bmp", "full.png"}) {
    const fs::path path = dir / name;
    test::WriteBytes(path, {1, 2, 3});
    struct rlimit before {};
    getrlimit(RLIMIT_FSIZE, &before);
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = before;
    small.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &small);
    ui.Clear();
    const int saved = doc->SaveTargetToPath(path.string(), 0);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(saved, 0) << name;
    EXPECT_EQ(ui.Messages(), std::vector<std::string>{"Failed the file save!\n" + std::string(name) + ": File too large"})
        << name;
    EXPECT_EQ(test::ReadBytes(path), (std::vector<uint8_t>{1, 2, 3})) << name;
  }
}

TEST(PrintLayout, FillsThePageWidthKeepingProportions) {
  EXPECT_EQ(PrintDestinationHeight(1000, 500, 4800, 600, 300), 1200);
  EXPECT_EQ(PrintDestinationHeight(1000, 500, 4800, 600, 600), 2400);
  EXPECT_EQ(PrintDestinationHeight(3, 1, 100, 1, 1), 33);
  EXPECT_EQ(PrintDestinationHeight(0, 10, 100, 600, 600), 0);
}

}  // namespace
}  // namespace tessara
