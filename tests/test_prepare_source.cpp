// Source preparation: sizes, identity copies, mirroring, rotation sizes, the
// bilinear sample, refusals by result code, progress and stopping.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/prepare_source.h"
#include "image/picture_memory.h"
#include "tests/engine_fixture.h"

namespace tessara {
namespace {

using test::Coordinates24;
using test::IndexAt;
using test::Indexed;

class PrepareSource : public test::EngineTest {};

TEST_F(PrepareSource, IndexedCopiesAtFullScaleEqualTheSource) {
  for (int bits : {1, 4, 8}) {
    DibPtr dib = Indexed(bits, 13, 7, [](int x, int y) { return x * 3 + y * 5; });
    const std::vector<uint8_t> before(dib->Data(), dib->Data() + dib->Size());
    AddSource(std::move(dib));
    ASSERT_EQ(doc->PrepareSource(1), kPrepareDone) << bits;
    const Dib& copy = *doc->m_pSource1;
    ASSERT_EQ(copy.BitCount(), bits);
    ASSERT_EQ(copy.Width(), 13);
    ASSERT_EQ(copy.Height(), 7);
    const size_t rows = copy.Stride() * 7;
    const Dib& src = *g_pSourceDocs[0]->m_pDib;
    EXPECT_EQ(std::memcmp(copy.Bits(), src.Bits(), rows), 0) << bits;
    EXPECT_EQ(std::memcmp(copy.ColorTable(), src.ColorTable(), 4u << bits), 0) << bits;
    // The loaded picture itself is never touched.
    EXPECT_EQ(std::memcmp(src.Data(), before.data(), before.size()), 0);
    RemoveSource(1);
  }
}

TEST_F(PrepareSource, TwentyFourBitCopyAtFullSizeIsExactInEveryPixel) {
  AddSource(Coordinates24(9, 6));
  ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
  const Dib& copy = *doc->m_pSource1;
  const Dib& src = *g_pSourceDocs[0]->m_pDib;
  for (int y = 0; y < 6; ++y) {
    EXPECT_EQ(std::memcmp(copy.Row(y), src.Row(y), 27), 0) << "row " << y;
    for (int x = 0; x < 9; ++x) EXPECT_TRUE(doc->m_cover1.Sampled(x, y)) << x << "," << y;
  }
}

TEST_F(PrepareSource, EdgesOfScaledAndTurnedCopiesHoldRealColours) {
  // A flat colour: every sampled pixel, the last column and row included, must
  // show it exactly; a pixel that shows anything else got no sample and must be
  // recorded so.
  struct Case {
    int scale;
    double angle;
    int cut;
    int mirror;
  };
  for (const Case c : {Case{1536, 0, 1, 0}, Case{700, 0, 1, 1}, Case{1024, 5, 1, 0}, Case{1300, -7.5, 0, 0},
                       Case{1024, 90, 0, 1}}) {
    DibPtr flat = CreateDib(0, 24, 37, 23, "x");
    for (int y = 0; y < 23; ++y)
      for (int x = 0; x < 37; ++x) {
        uint8_t* p = flat->Row(y) + 3 * x;
        p[0] = 200, p[1] = 90, p[2] = 40;
      }
    AddSource(std::move(flat));
    doc->m_nScale1X = doc->m_nScale1Y = c.scale;
    doc->m_dRotation1 = c.angle;
    doc->m_bCutCorners1 = c.cut;
    doc->m_bMirror1 = c.mirror;
    ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
    const Dib& copy = *doc->m_pSource1;
    const int w = copy.Width(), h = copy.Height();
    const std::string what = "scale " + std::to_string(c.scale) + " angle " + std::to_string(c.angle);
    int sampled = 0, lastColumn = 0, lastRow = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8_t* p = copy.Row(y) + 3 * x;
        const bool flatColour = p[0] == 200 && p[1] == 90 && p[2] == 40;
        ASSERT_EQ(doc->m_cover1.Sampled(x, y), flatColour) << what << " at " << x << "," << y;
        if (flatColour) {
          ++sampled;
          lastColumn += x == w - 1;
          lastRow += y == h - 1;
        } else {
          ASSERT_EQ(p[0] | p[1] | p[2], 0) << what << " at " << x << "," << y;
        }
      }
    EXPECT_GT(sampled, w * h / 2) << what;
    EXPECT_GT(lastColumn, 0) << what;
    EXPECT_GT(lastRow, 0) << what;
    // Unturned, unmirrored copies are sampled everywhere.
    if (c.angle == 0 && !c.mirror) {
      EXPECT_EQ(sampled, w * h) << what;
    }
    RemoveSource(1);
  }
}

TEST_F(PrepareSource, BilinearSampleBetweenTwoColumns) {
  // Twice the size: column 3 of the copy lies half-way between source columns 1
  // and 2, row 2 exactly on source row 1.
  AddSource(Coordinates24(8, 8));
  doc->m_nScale1X = doc->m_nScale1Y = 2048;
  ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
  const uint8_t* p = doc->m_pSource1->Row(2) + 3 * 3;
  EXPECT_EQ(p[0], 1);  // (1 + 2) / 2 rounded down
  EXPECT_EQ(p[1], 1);
  EXPECT_EQ(p[2], 2);  // (2 + 3) / 2
}

TEST_F(PrepareSource, SizesFromScaleAndRotation) {
  struct Case {
    int w, h, scale;
    double angle;
    int cut;
    int nw, nh;
  } cases[] = {{101, 51, 512, 0, 1, 50, 25},
               {200, 100, 1024, 90, 0, 100, 200},
               {200, 100, 1024, 90, 1, 200, 100},
               {200, 100, 1024, 45, 0, 212, 212}};
  for (const Case& c : cases) {
    AddSource(Indexed(8, c.w, c.h, [](int x, int y) { return x ^ y; }));
    doc->m_nScale1X = doc->m_nScale1Y = c.scale;
    doc->m_dRotation1 = c.angle;
    doc->m_bCutCorners1 = c.cut;
    ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
    EXPECT_EQ(doc->m_pSource1->Width(), c.nw) << c.w << "x" << c.h << " at " << c.angle;
    EXPECT_EQ(doc->m_pSource1->Height(), c.nh) << c.w << "x" << c.h << " at " << c.angle;
    RemoveSource(1);
  }
}

TEST_F(PrepareSource, MirrorOddAndEvenWidths) {
  AddSource(Indexed(8, 7, 2, [](int x, int) { return x + 1; }));
  doc->m_bMirror1 = 1;
  ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
  for (int x = 0; x < 7; ++x) EXPECT_EQ(IndexAt(*doc->m_pSource1, x, 0), 7 - x);  // exact mirror
  RemoveSource(1);

  AddSource(Indexed(8, 6, 2, [](int x, int) { return x + 1; }));
  doc->m_bMirror1 = 1;
  ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
  // Column x shows source column 2 x (6 / 2) - x: column 0 gets no sample.
  EXPECT_EQ(IndexAt(*doc->m_pSource1, 0, 1), 0);
  for (int x = 1; x < 6; ++x) EXPECT_EQ(IndexAt(*doc->m_pSource1, x, 1), 6 - x + 1);
}

TEST_F(PrepareSource, MirroringTwiceIsTheIdentity) {
  AddSource(Indexed(4, 11, 5, [](int x, int y) { return x * 7 + y; }));
  doc->m_bMirror1 = 1;
  ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
  DibPtr once = std::move(doc->m_pSource1);
  const std::vector<uint8_t> original(g_pSourceDocs[0]->m_pDib->Bits(),
                                      g_pSourceDocs[0]->m_pDib->Bits() + once->Stride() * 5);
  g_pSourceDocs[0]->m_pDib = std::move(once);
  ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
  EXPECT_EQ(std::vector<uint8_t>(doc->m_pSource1->Bits(), doc->m_pSource1->Bits() + original.size()), original);
}

TEST_F(PrepareSource, SixteenAndThirtyTwoBitSourcesBecomeTwentyFour) {
  DibPtr d16 = CreateDib(0, 24, 3, 3, "x");
  d16->Header().biBitCount = 16;  // 3 x 3 at 16 bits fits in the 24-bit block
  for (int y = 0; y < 3; ++y) {
    uint8_t* r = d16->Row(y);
    for (int x = 0; x < 3; ++x) r[2 * x] = 0xFF, r[2 * x + 1] = 0x7F;  // 0x7FFF
  }
  AddSource(std::move(d16));
  ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
  EXPECT_EQ(doc->m_pSource1->BitCount(), 24);
  const uint8_t* p = doc->m_pSource1->Row(0);
  EXPECT_EQ(p[0], 248);
  EXPECT_EQ(p[2], 248);
}

TEST_F(PrepareSource, RefusalsLeaveTheSlotEmpty) {
  EXPECT_EQ(doc->PrepareSource(1), kPrepareMissing);

  AddSource(Coordinates24(4, 4));
  doc->m_nScale1X = 0x10000;  // low 16 bits 0
  EXPECT_EQ(doc->PrepareSource(1), kPrepareNoMemory);
  doc->m_nScale1X = 0xFFFF;  // -1
  EXPECT_EQ(doc->PrepareSource(1), kPrepareNoMemory);
  doc->m_nScale1X = 100;  // 4 x 100 / 1024 = 0 pixels
  EXPECT_EQ(doc->PrepareSource(1), kPrepareNoMemory);
  EXPECT_EQ(doc->m_pSource1, nullptr);
  doc->m_nScale1X = 1024;
  g_pSourceDocs[0]->m_pDib = Coordinates24(4, 40000);
  doc->m_nScale1Y = 2048;
  EXPECT_EQ(doc->PrepareSource(1), kPrepareNoMemory);
  EXPECT_EQ(ui.LastMessage(),
            "Not enough memory to process the source image. A picture of 4 x 80000 pixels is larger than the "
            "65,500 pixels a side the program can make.");
  doc->m_nScale1Y = 1024;

  DibPtr bad = Coordinates24(4, 4);
  bad->Header().biBitCount = 16;
  bad->Header().biCompression = 5;
  g_pSourceDocs[0]->m_pDib = std::move(bad);
  EXPECT_EQ(doc->PrepareSource(1), kPrepareUnknownFormat);
  DibPtr zero = Coordinates24(4, 4);
  zero->Header().biBitCount = 0;
  g_pSourceDocs[0]->m_pDib = std::move(zero);
  EXPECT_EQ(doc->PrepareSource(1), kPrepareUnknownFormat);
  DibPtr lying = Coordinates24(4, 4);
  lying->Header().biHeight = 400;  // rows beyond the block
  g_pSourceDocs[0]->m_pDib = std::move(lying);
  EXPECT_EQ(doc->PrepareSource(1), kPrepareUnknownFormat);
  DibPtr rle = Indexed(4, 4, 4, [](int, int) { return 1; });
  rle->Header().biCompression = BI_RLE4;
  g_pSourceDocs[0]->m_pDib = std::move(rle);
  EXPECT_EQ(doc->PrepareSource(1), kPrepareRunLength);
  EXPECT_EQ(doc->m_pSource1, nullptr);
  EXPECT_EQ(ui.PaneText(kPaneMessage), "");
}

TEST_F(PrepareSource, ProgressTextsAndTitle) {
  AddSource(Coordinates24(5, 4));
  AddSource(Coordinates24(5, 4));
  doc->SetTitle("Target Window");
  ASSERT_EQ(doc->PrepareSource(2), kPrepareDone);
  EXPECT_EQ(doc->GetTitle(), "Target Window - needs updating");
  EXPECT_EQ(doc->m_bUpToDate, 0);
  EXPECT_EQ(ui.PaneHistory(kPaneMessage), (std::vector<std::string>{"Press space bar to quit.", ""}));
  EXPECT_EQ(ui.PaneHistory(kPaneProcess), (std::vector<std::string>{"Loading Source 2 preview", ""}));
  const auto& steps = ui.ProgressSteps();
  ASSERT_EQ(steps.size(), 5u);
  EXPECT_EQ(steps[0].percent, 0);
  EXPECT_EQ(steps[3].percent, 75);
  EXPECT_EQ(steps[0].colour, kProgressGreen);
  EXPECT_EQ(steps[4].colour, kProgressGrey);
  EXPECT_EQ(steps[4].percent, 100);
  EXPECT_EQ(doc->m_pSource1, nullptr);
  EXPECT_NE(doc->m_pSource2, nullptr);
}

TEST_F(PrepareSource, SpaceBarStopsOnlyWhenTheUserSaysYes) {
  AddSource(Coordinates24(5, 6));
  doc->m_nScale1X = 1500;
  ui.PressSpaceAtPoll(1);
  ui.QueueAnswer(false);
  EXPECT_EQ(doc->PrepareSource(1), kPrepareDone);
  EXPECT_EQ(ui.Questions(), std::vector<std::string>{"Do you really want to quit ?"});

  ui.Clear();
  ui.PressSpaceAtPoll(1);
  ui.QueueAnswer(true);
  EXPECT_EQ(doc->PrepareSource(1), kPrepareStopped);
  EXPECT_EQ(doc->m_pSource1, nullptr);
  EXPECT_EQ(doc->m_nScale1X, 1500);
  EXPECT_EQ(ui.PaneText(kPaneMessage), "");
}

TEST_F(PrepareSource, RefreshPreparesWhatIsMissing) {
  AddSource(Coordinates24(5, 4));
  AddSource(Indexed(8, 3, 3, [](int x, int) { return x; }));
  doc->RefreshSources();
  EXPECT_NE(doc->m_pSource1, nullptr);
  EXPECT_NE(doc->m_pSource2, nullptr);
  EXPECT_EQ(doc->m_bUpToDate, 1);
  EXPECT_EQ(doc->GetTitle(), "Target Window");
  // A stop on the first leaves the second alone and is remembered.
  doc->m_pSource1.reset();
  doc->m_pSource2.reset();
  ui.Clear();
  ui.PressSpaceAtPoll(1);
  ui.QueueAnswer(true);
  doc->RefreshSources();
  EXPECT_EQ(doc->m_pSource1, nullptr);
  EXPECT_EQ(doc->m_pSource2, nullptr);
  EXPECT_EQ(doc->m_nLastRefreshResult, kPrepareStopped);
}

// A 24-bit copy is made in memory that is not cleared first. Made where a
// picture before left its bytes (kept memory of several megabytes), a turned
// copy is byte for byte the one made in fresh memory: black corners where
// nothing was sampled, zero row padding and spare bytes; the copy at full
// size too.
TEST_F(PrepareSource, CopiesInUsedMemoryEqualCopiesInFreshMemory) {
  DibPtr source = Coordinates24(1501, 1100);
  for (const double rotation : {7.5, 0.0}) {
    SourceSettings settings;
    settings.rotation = rotation;
    settings.cutCorners = false;
    WorkObserver observer;
    std::vector<uint8_t> bytes[2];
    for (int used = 0; used < 2; ++used) {
      ReleaseKeptPictureMemory();
      if (used) {
        PictureBlock dirty = PictureBlock::Allocate(size_t{4} << 20);
        ASSERT_TRUE(dirty);
        std::memset(dirty.Data(), 0xEE, dirty.Bytes());
      }
      const PreparedSource copy = PrepareSourceCopy(*source, settings, observer);
      ASSERT_EQ(copy.result, kPrepareDone);
      ASSERT_GT(copy.picture->Size(), size_t{4} << 20);
      if (used) {
        EXPECT_EQ(KeptPictureBytes(), 0u) << rotation;  // the copy took the used pages
      }
      bytes[used].assign(copy.picture->Data(), copy.picture->Data() + copy.picture->Size());
      if (rotation != 0.0) {
        EXPECT_FALSE(copy.coverage.Sampled(0, 0));
      }
    }
    ASSERT_EQ(bytes[0].size(), bytes[1].size());
    EXPECT_TRUE(bytes[0] == bytes[1]) << rotation;
  }
}

// A spent source gives its pages to the copy as the copy stops reading them:
// the copy is byte for byte the one made from a source kept whole, with the
// same record of sampled pixels, turned either way, mirrored, scaled up and
// down, its corners cut or kept; and the source has given pages (rows of it
// read as zeros now).
TEST_F(PrepareSource, ASpentSourceLendsItsPagesWithoutChangingTheCopy) {
  const SourceSettings cases[] = {{1034, 1034, 1.5, false, false}, {1024, 1024, -4.0, false, true},
                                  {900, 1100, 10.0, true, false}, {1200, 880, -0.7, true, true},
                                  {1024, 1024, 0.0, true, true}};
  WorkObserver observer;
  for (const SourceSettings& s : cases) {
    const std::string what = std::to_string(s.scaleX) + "/" + std::to_string(s.scaleY) + " turned " +
                             std::to_string(s.rotation) + (s.mirror ? " mirrored" : "");
    DibPtr whole = Coordinates24(3000, 2200), spent = Coordinates24(3000, 2200);
    const PreparedSource a = PrepareSourceCopy(*whole, s, observer);
    const PreparedSource b = PrepareSourceCopy(*spent, s, observer, spent.get());
    ASSERT_EQ(a.result, kPrepareDone) << what;
    ASSERT_EQ(b.result, kPrepareDone) << what;
    ASSERT_EQ(a.picture->Size(), b.picture->Size()) << what;
    EXPECT_EQ(std::memcmp(a.picture->Data(), b.picture->Data(), a.picture->Size()), 0) << what;
    for (int y = 0; y < a.picture->Height(); ++y) {
      const SampleCoverage::Run &ra = a.coverage.RowRun(y), &rb = b.coverage.RowRun(y);
      ASSERT_TRUE(ra.begin == rb.begin && ra.end == rb.end && ra.last == rb.last) << what << " row " << y;
    }
    int given = 0;
    for (int y = 0; y < 2200; ++y) given += spent->Row(y)[3] == 0;  // blue is the column, 1
    EXPECT_GT(given, 100) << what;
    EXPECT_EQ(whole->Row(0)[3], 1);
  }
}

}  // namespace
}  // namespace tessara
