// Source documents: loading by the name's ending with every failure message, the
// normalised bitmap block, and the two-slot registry as sources come and go.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "tests/engine_fixture.h"
#include "tests/test_support.h"

namespace tessara {
namespace {

namespace fs = std::filesystem;
using test::TestData;

class SourceDoc : public test::EngineTest {
 protected:
  // Opens a file as a load does: the counted document, then the file.
  CTessaraDoc* Open(const fs::path& path) {
    CTessaraDoc* src = documents.OpenSource();
    if (!src) return nullptr;
    if (!src->OnOpenDocument(path.string())) {
      documents.CloseSource(*src);
      return nullptr;
    }
    return src;
  }
  fs::path Copy(const fs::path& from, const std::string& name) {
    fs::path to = test::TempDir() / name;
    fs::copy_file(from, to);
    return to;
  }
};

TEST_F(SourceDoc, LoadsByTheLoweredEnding) {
  CTessaraDoc* a = Open(Copy(TestData("formats/jpg_rgb_444.jpg"), "photo.JPG"));
  ASSERT_TRUE(a);
  EXPECT_EQ(a->GetTitle(), "photo.JPG");
  EXPECT_EQ(a->m_nWidth, 61);
  EXPECT_EQ(a->m_nHeight, 47);
  EXPECT_EQ(a->m_pDib->BitCount(), 24);
  EXPECT_EQ(a->m_pImage, nullptr);
  EXPECT_TRUE(DibFitsBlock(*a->m_pDib));
  EXPECT_TRUE(ui.Messages().empty());

  // The longer endings, any case, are those formats too.
  for (const char* name : {"photo.jpeg", "photo.JPE", "page.TIFF"}) {
    const bool tiff = name[0] == 'p' && name[1] == 'a';
    CTessaraDoc* b = Open(Copy(TestData(tiff ? "formats/tif_1bit_g4.tif" : "formats/jpg_rgb_444.jpg"), name));
    ASSERT_TRUE(b) << name;
    EXPECT_EQ(b->m_pDib->BitCount(), tiff ? 1 : 24) << name;
    EXPECT_TRUE(ui.Messages().empty()) << name << ": " << ui.LastMessage();
    RemoveSource(2);
  }

  // An ending the program does not read is refused with the file's name.
  EXPECT_FALSE(Open(Copy(TestData("formats/jpg_rgb_444.jpg"), "photo.jfif")));
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_EQ(ui.Messages()[0].rfind("Unable to load this picture file\nphoto.jfif: ", 0), 0u) << ui.Messages()[0];
  EXPECT_EQ(g_nSourcesLoaded, 1);
  EXPECT_EQ(g_pSourceDocs[0], a);
  EXPECT_EQ(g_pSourceDocs[1], nullptr);
  EXPECT_EQ(FormatOfFileName("x.Tif"), CXIMAGE_FORMAT_TIF);
  EXPECT_EQ(FormatOfFileName("xjpeg"), CXIMAGE_FORMAT_UNKNOWN);  // .jpeg with its dot only
}

TEST_F(SourceDoc, FailureMessagesInOrder) {
  const fs::path folder = test::TempDir();
  struct Case {
    fs::path path;
    std::vector<std::string> messages;
  } cases[] = {
      {TestData("broken/bmp_wrong_magic.bmp"),
       {"Cannot load this file", "Unable to load this picture file\nbmp_wrong_magic.bmp: It is not a bitmap (it does "
                                 "not begin with BM), nor another picture the program reads."}},
      {TestData("broken/bmp_13_bytes.bmp"),
       {"Cannot load this file", "Unable to load this picture file\nbmp_13_bytes.bmp: The file is too short to be a bitmap."}},
      {TestData("broken/tga_depth_12.tga"),
       {"bad TGA header", "Unable to load this picture file\ntga_depth_12.tga: bad TGA header"}},
      {TestData("broken/pcx_manufacturer_5.pcx"),
       {"Error: Not a PCX file", "Unable to load this picture file\npcx_manufacturer_5.pcx: Error: Not a PCX file"}},
      {test::TempDir() / "missing.png", {"Failed to open document.\nmissing.png: No such file or directory"}},
      {folder, {"Failed to open document.\n" + folder.filename().string() + ": Is a directory"}},
  };
  for (const Case& c : cases) {
    ui.Clear();
    EXPECT_FALSE(Open(c.path)) << c.path;
    EXPECT_EQ(ui.Messages(), c.messages) << c.path;
    EXPECT_EQ(g_nSourcesLoaded, 0);
    EXPECT_EQ(g_pSourceDocs[0], nullptr);
  }
}

TEST_F(SourceDoc, FallbackGivesTheRealFormatsPicture) {
  CTessaraDoc* a = Open(TestData("broken/png_named_as.tga"));
  ASSERT_TRUE(a);
  EXPECT_EQ(ui.Messages(), std::vector<std::string>{"png_named_as.tga is a PNG picture"});
  // A bitmap's name on another picture: its content decides, as for the rest.
  ui.Clear();
  CTessaraDoc* b = Open(TestData("broken/jpeg_named_as.bmp"));
  ASSERT_TRUE(b);
  EXPECT_EQ(ui.Messages(), std::vector<std::string>{"jpeg_named_as.bmp is a JPEG picture"});
  EXPECT_EQ(b->m_pDib->BitCount(), 24);
  RemoveSource(2);
  CxImage png(TestData("broken/png_named_as.tga").string(), CXIMAGE_FORMAT_PNG);
  ASSERT_TRUE(png.IsValid());
  EXPECT_EQ(a->m_nWidth, png.GetWidth());
  EXPECT_EQ(std::memcmp(a->m_pDib->Data(), png.GetDib(), png.GetDibSize()), 0);
}

TEST_F(SourceDoc, BitmapsAreNormalisedButNotOtherwiseChanged) {
  // Long headers, a gap before the rows, 16-bit masks and the OS/2 core header
  // all come out as a 40-byte header with the rows after the table.
  for (const char* name : {"bmp_24bit.bmp", "bmp_24bit_os2core.bmp", "bmp_8bit.bmp", "bmp_4bit.bmp",
                           "bmp_1bit.bmp", "bmp_16bit_565.bmp", "bmp_16bit_555.bmp", "bmp_24bit_netpbm.bmp"}) {
    ui.Clear();
    CTessaraDoc* a = Open(TestData("formats") / name);
    ASSERT_TRUE(a) << name;
    const Dib& dib = *a->m_pDib;
    EXPECT_EQ(dib.Header().biSize, 40u) << name;
    ASSERT_TRUE(DibFitsBlock(dib)) << name;
    auto expected = test::ReadPpmFile(TestData("formats") / (std::string(name) + ".expected.ppm"));
    EXPECT_EQ(DibToRgb(dib), expected.rgb) << name;
    RemoveSource(1);
  }
}

// A 24-bit 4 x 4 bitmap file with a header of `headerSize` bytes, its last
// `missing` bytes cut off.
std::vector<uint8_t> Bitmap24(uint32_t headerSize, size_t missing) {
  const uint32_t offset = 14 + headerSize, rows = 4 * 12;
  std::vector<uint8_t> f(offset + rows, 0);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&f[at], &v, 4); };
  f[0] = 'B', f[1] = 'M';
  put32(2, offset + rows);
  put32(10, offset);
  put32(14, headerSize);
  put32(18, 4);
  put32(22, 4);
  f[26] = 1, f[28] = 24;
  put32(34, rows);
  for (size_t i = offset; i < f.size(); ++i) f[i] = static_cast<uint8_t>(i * 7);
  f.resize(f.size() - missing);
  return f;
}

TEST_F(SourceDoc, TopDownBitmapsLoadTheRightWayUp) {
  // A negative height says the rows are stored top first. Loaded as a .bmp
  // source the picture is the one the codec layer's bitmap decoder shows:
  // turned bottom first, its height made positive.
  for (uint32_t headerSize : {40u, 108u}) {
    std::vector<uint8_t> file = Bitmap24(headerSize, 0);
    const int32_t height = -4;
    std::memcpy(&file[22], &height, 4);
    const fs::path path = test::TempDir() / "topdown.bmp";
    test::WriteBytes(path, file);
    const test::RgbImage want = test::ToRgb(CxImage(file.data(), file.size(), CXIMAGE_FORMAT_BMP));
    CTessaraDoc* a = Open(path);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->m_pDib->Height(), 4);
    EXPECT_EQ(a->m_nHeight, 4);
    EXPECT_EQ(test::MaxDifference({4, 4, DibToRgb(*a->m_pDib)}, want), 0) << headerSize;
    EXPECT_EQ(doc->PrepareSource(1), kPrepareDone);
    RemoveSource(1);
  }
}

TEST_F(SourceDoc, BitmapWhoseRowsStartPastTheFileIsRefused) {
  // The file header puts the rows after the end of the file: there is no
  // picture, whatever follows the colour table.
  std::vector<uint8_t> file = Bitmap24(40, 0);
  const uint32_t past = static_cast<uint32_t>(file.size() + 100);
  std::memcpy(&file[10], &past, 4);
  const fs::path path = test::TempDir() / "past.bmp";
  test::WriteBytes(path, file);
  EXPECT_FALSE(Open(path));
  EXPECT_EQ(ui.Messages(), (std::vector<std::string>{"Cannot load this file",
                                                     "Unable to load this picture file\npast.bmp: Its bitmap headers "
                                                     "do not fit the file, or there is not enough memory to hold it."}));
  EXPECT_EQ(g_nSourcesLoaded, 0);
}

TEST_F(SourceDoc, BitmapWhoseRowsRunPastTheFileIsNotPrepared) {
  // Rows a few bytes short (fewer than the file header's 14) are refused by
  // the preparation like any short bitmap; complete files are prepared.
  for (uint32_t headerSize : {40u, 108u}) {
    for (size_t missing : {0, 1, 5, 13}) {
      SCOPED_TRACE(std::to_string(headerSize) + " " + std::to_string(missing));
      const fs::path path = test::TempDir() / "short.bmp";
      test::WriteBytes(path, Bitmap24(headerSize, missing));
      CTessaraDoc* a = Open(path);
      ASSERT_TRUE(a);  // the bitmap loader checks only the signature
      EXPECT_EQ(doc->PrepareSource(1), missing ? kPrepareUnknownFormat : kPrepareDone);
      EXPECT_EQ(doc->m_pSource1 != nullptr, missing == 0);
      RemoveSource(1);
    }
  }
}

TEST_F(SourceDoc, RunLengthBitmapLoadsButIsNotPrepared) {
  CTessaraDoc* a = Open(TestData("formats/bmp_8bit_rle8.bmp"));
  ASSERT_TRUE(a);
  EXPECT_EQ(a->m_pDib->Header().biCompression, BI_RLE8);
  EXPECT_EQ(doc->PrepareSource(1), kPrepareRunLength);
  EXPECT_EQ(doc->m_pSource1, nullptr);
}

TEST_F(SourceDoc, DeletingSourceOneMovesSourceTwoUp) {
  CTessaraDoc* a = Open(TestData("formats/tga_24bit.tga"));
  CTessaraDoc* b = Open(TestData("formats/pcx_8bit.pcx"));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(g_pSourceDocs[0], a);
  EXPECT_EQ(g_pSourceDocs[1], b);
  EXPECT_EQ(g_nSourcesLoaded, 2);
  RemoveSource(1);
  EXPECT_EQ(g_pSourceDocs[0], b);
  EXPECT_EQ(g_pSourceDocs[1], nullptr);
  CTessaraDoc* c = Open(TestData("formats/png_24bit.png"));
  ASSERT_TRUE(c);
  EXPECT_EQ(g_pSourceDocs[1], c);
  RemoveSource(1);
  EXPECT_EQ(g_pSourceDocs[0], c);
  EXPECT_EQ(g_nSourcesLoaded, 1);
  // Leaving slot 1 leaves slot 0 alone, whatever order the frame goes in.
  CTessaraDoc* d = Open(TestData("formats/png_8bit_pal.png"));
  ASSERT_TRUE(d);
  documents.StopCountingSource(*d);
  documents.CloseSource(*d);
  EXPECT_EQ(g_pSourceDocs[0], c);
  EXPECT_EQ(g_pSourceDocs[1], nullptr);
}

// A large picture shows its loading on the progress pane and the stop keys are
// watched: No carries on, Yes stops the load without a message and leaves no
// source behind. Small pictures load without a poll.
TEST_F(SourceDoc, LargePictureLoadShowsProgressAndStopsOnTheStopKey) {
  // 3000 x 3000 grey, uncompressed: nine million pixels, above the watched size.
  const int side = 3000;
  std::vector<uint8_t> tga(18 + size_t{side} * side, 0x80);
  std::fill(tga.begin(), tga.begin() + 18, 0);
  tga[2] = 3;  // uncompressed grey
  tga[12] = side & 0xFF, tga[13] = side >> 8, tga[14] = side & 0xFF, tga[15] = side >> 8;
  tga[16] = 8;
  const fs::path big = test::TempDir() / "big.tga";
  test::WriteBytes(big, tga);

  ui.PressSpaceAtPoll(5);
  ui.QueueAnswer(false);
  CTessaraDoc* loaded = Open(big);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->m_nWidth, side);
  EXPECT_EQ(ui.Questions(), std::vector<std::string>{kStopQuestion});
  const auto& steps = ui.ProgressSteps();
  ASSERT_GE(steps.size(), 50u);
  for (size_t i = 1; i + 1 < steps.size(); ++i) EXPECT_GT(steps[i].percent, steps[i - 1].percent);
  EXPECT_EQ(steps.back().percent, 100);
  EXPECT_EQ(steps.back().colour, (ProgressColour{128, 128, 128}));
  EXPECT_EQ(g_nSourcesLoaded, 1);

  ui.Clear();
  ui.PressSpaceAtPoll(10);
  ui.QueueAnswer(true);
  EXPECT_EQ(Open(big), nullptr);
  EXPECT_TRUE(ui.Messages().empty()) << ui.LastMessage();
  EXPECT_EQ(ui.Questions(), std::vector<std::string>{kStopQuestion});
  EXPECT_EQ(g_nSourcesLoaded, 1);
  EXPECT_EQ(g_pSourceDocs[1], nullptr);
  EXPECT_EQ(ui.ProgressSteps().back().percent, 100);  // the pane is put back

  // A small picture: no polls, no progress.
  ui.Clear();
  const int polls = ui.SpacePolls();
  CTessaraDoc* small = Open(TestData("formats/jpg_rgb_444.jpg"));
  ASSERT_TRUE(small);
  EXPECT_EQ(ui.SpacePolls(), polls);
  EXPECT_TRUE(ui.ProgressSteps().empty());
}

}  // namespace
}  // namespace tessara
