// Target generation: placement and canvas size, the depth rule, the 1-, 8- and
// 24-bit paths, the projection, the grid, stopping, and messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "engine/merge.h"
#include "tests/engine_fixture.h"

namespace tessara {
namespace {

using test::Coordinates24;
using test::IndexAt;
using test::Indexed;

// A 24-bit picture of one colour.
DibPtr Solid24(int w, int h, uint8_t b, uint8_t g, uint8_t r) {
  DibPtr dib = CreateDib(0, 24, w, h, "x");
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = dib->Row(y) + 3 * x;
      p[0] = b, p[1] = g, p[2] = r;
    }
  return dib;
}

MergePixel At(const Dib& d, int x, int y) {
  const uint8_t* p = d.Row(y) + 3 * x;
  return {p[0], p[1], p[2]};
}

class Generate : public test::EngineTest {};

TEST_F(Generate, NeedsBothSourcesPrepared) {
  EXPECT_EQ(doc->GenerateTarget(), 0);
  EXPECT_EQ(ui.LastMessage(), "Cannot proceed until both source images have been loaded.");
  AddSource(Coordinates24(4, 4));
  AddSource(Coordinates24(4, 4));
  EXPECT_EQ(doc->GenerateTarget(), 0);
  EXPECT_EQ(ui.LastMessage(), "Can't load target image!");
  EXPECT_EQ(doc->m_pTarget, nullptr);
  EXPECT_EQ(doc->m_nTargetWidth, 1);
}

TEST_F(Generate, PlacementAndCanvas) {
  Prepared(Solid24(100, 20, 10, 10, 10), Solid24(100, 30, 200, 200, 200));
  doc->m_nOffsetX = -30;
  doc->m_nOffsetY = 5;
  ASSERT_EQ(doc->GenerateTarget(), 1);
  const Dib& t = *doc->m_pTarget;
  EXPECT_EQ(t.Width(), 130);
  EXPECT_EQ(t.Height(), 35);
  EXPECT_EQ(doc->m_nTargetWidth, 130);
  EXPECT_EQ(doc->m_nTargetHeight, 35);
  EXPECT_EQ(doc->m_nBitDepth, 24);
  EXPECT_EQ(At(t, 0, 0), (MergePixel{127, 127, 127}));         // nobody
  EXPECT_EQ(At(t, 129, 0), (MergePixel{10, 10, 10}));          // source 1 only
  EXPECT_EQ(At(t, 0, 5), (MergePixel{200, 200, 200}));         // source 2 only
  EXPECT_EQ(At(t, 50, 10), (MergePixel{104, 104, 104}));  // both
  EXPECT_EQ(doc->GetTitle(), "Target Window");
  EXPECT_EQ(doc->m_bUpToDate, 1);
}

TEST_F(Generate, DepthRule) {
  struct Case {
    int b1, b2, fade, depth;
  } cases[] = {{1, 1, 0, 1}, {1, 4, 0, 8}, {4, 4, 0, 8}, {1, 8, 0, 24}, {8, 8, 0, 24},
               {24, 1, 0, 24}, {1, 4, 1, 24}, {1, 1, 1, 24}};
  for (const Case& c : cases) {
    auto make = [](int bits) {
      return bits == 24 ? Coordinates24(5, 5) : Indexed(bits, 5, 5, [](int x, int y) { return x + y; });
    };
    Prepared(make(c.b1), make(c.b2));
    g_bFadeEdge1 = c.fade;
    ASSERT_EQ(doc->GenerateTarget(), 1);
    EXPECT_EQ(doc->m_pTarget->BitCount(), c.depth) << c.b1 << "+" << c.b2 << " fade " << c.fade;
    g_bFadeEdge1 = 0;
    RemoveSource(2);
    RemoveSource(1);
  }
}

TEST_F(Generate, MonochromeOrAndAnd) {
  // Source 1 black on its left half, source 2 black on its top row, side by side
  // with a 4-column overlap.
  for (int rule : {0, 1}) {
    Prepared(Indexed(1, 8, 4, [](int x, int) { return x < 4 ? 0 : 1; }),
             Indexed(1, 8, 4, [](int, int y) { return y == 3 ? 0 : 1; }));
    doc->m_nOffsetX = 4;
    doc->m_nOffsetY = 1;
    g_bMonoAnd = rule;
    ASSERT_EQ(doc->GenerateTarget(), 1);
    const Dib& t = *doc->m_pTarget;
    ASSERT_EQ(t.BitCount(), 1);
    EXPECT_EQ(t.Width(), 12);
    EXPECT_EQ(t.Height(), 5);
    auto white = [&](int x, int y) { return IndexAt(t, x, y) == 1; };
    if (rule == 0) {
      EXPECT_FALSE(white(0, 0));   // source 1 black
      EXPECT_TRUE(white(10, 0));   // nobody: white
      EXPECT_FALSE(white(10, 4));  // source 2 black
      EXPECT_TRUE(white(10, 2));   // source 2 white
      EXPECT_TRUE(white(5, 2));    // both white
      EXPECT_FALSE(white(5, 4));   // source 2 black over source 1... nobody at row 4 of source 1
    } else {
      EXPECT_FALSE(white(10, 0));  // nobody: black
      EXPECT_TRUE(white(10, 2));   // copies of source 2
      EXPECT_FALSE(white(10, 4));
      EXPECT_TRUE(white(5, 2));    // white where every source is white
      EXPECT_FALSE(white(1, 2));   // black where source 1 alone is black
    }
    g_bMonoAnd = 0;
    RemoveSource(2);
    RemoveSource(1);
  }
}

TEST_F(Generate, EightBitTableHoldsEveryMergedPair) {
  // A 1-bit source (black, white) and a 4-bit source of two colours.
  DibPtr four = Indexed(4, 4, 2, [](int x, int) { return x < 2 ? 1 : 2; });
  const RGBQUAD c1 = four->ColorTable()[1], c2 = four->ColorTable()[2];
  Prepared(Indexed(1, 4, 2, [](int x, int) { return x & 1; }), std::move(four));
  doc->m_nOffsetX = 2;
  ASSERT_EQ(doc->GenerateTarget(), 1);
  const Dib& t = *doc->m_pTarget;
  ASSERT_EQ(t.BitCount(), 8);
  ASSERT_EQ(t.Width(), 6);
  const RGBQUAD* table = t.ColorTable();
  auto colour = [&](int x, int y) {
    const RGBQUAD& q = table[IndexAt(t, x, y)];
    return MergePixel{q.rgbBlue, q.rgbGreen, q.rgbRed};
  };
  const MergePixel black{0, 0, 0}, white{255, 255, 255};
  EXPECT_EQ(colour(0, 0), black);  // source 1 only
  EXPECT_EQ(colour(1, 0), white);
  EXPECT_EQ(colour(5, 1), (MergePixel{c2.rgbBlue, c2.rgbGreen, c2.rgbRed}));  // source 2 only
  // Overlap, Average with bias 128: (a x 127 + b x 128) >> 8.
  auto avg = [](int a, int b) { return static_cast<uint8_t>((a * 127 + b * 128) >> 8); };
  EXPECT_EQ(colour(2, 0), (MergePixel{avg(0, c1.rgbBlue), avg(0, c1.rgbGreen), avg(0, c1.rgbRed)}));
  EXPECT_EQ(colour(3, 1), (MergePixel{avg(255, c1.rgbBlue), avg(255, c1.rgbGreen), avg(255, c1.rgbRed)}));
  EXPECT_EQ(table[255].rgbBlue | table[255].rgbGreen | table[255].rgbRed | table[255].rgbReserved, 0);
  // The entries in use (reserved byte 0; the rest keep the background fill)
  // hold no colour twice.
  int used = 0;
  while (used < 255 && table[used].rgbReserved == 0) ++used;
  EXPECT_EQ(used, 2 + 16 + 2 * 16);  // black, white, the 4-bit table, each pair merged
  for (int i = 0; i < used; ++i)
    for (int j = i + 1; j < used; ++j)
      EXPECT_NE(std::memcmp(&table[i], &table[j], 3), 0) << "entries " << i << " and " << j;
}

TEST_F(Generate, BackgroundNudge) {
  Prepared(Solid24(4, 2, 127, 127, 127), Solid24(4, 2, 127, 127, 127));
  doc->m_nOffsetX = 6;
  ASSERT_EQ(doc->GenerateTarget(), 1);
  EXPECT_EQ(At(*doc->m_pTarget, 0, 0), (MergePixel{126, 126, 126}));
  EXPECT_EQ(At(*doc->m_pTarget, 7, 0), (MergePixel{127, 127, 127}));
  EXPECT_EQ(At(*doc->m_pTarget, 5, 0), (MergePixel{127, 127, 127}));  // gap: background
  g_nMergeRule = kMergeGreatest;
  doc->m_pSource1 = Solid24(4, 2, 0, 0, 0);
  doc->m_pSource2 = Solid24(4, 2, 0, 0, 0);
  ASSERT_EQ(doc->GenerateTarget(), 1);
  EXPECT_EQ(At(*doc->m_pTarget, 0, 0), (MergePixel{1, 1, 1}));
  EXPECT_EQ(At(*doc->m_pTarget, 5, 0), (MergePixel{0, 0, 0}));
  g_nMergeRule = kMergeLeast;
  doc->m_pSource1 = Solid24(4, 2, 255, 255, 255);
  ASSERT_EQ(doc->GenerateTarget(), 1);
  EXPECT_EQ(At(*doc->m_pTarget, 0, 0), (MergePixel{254, 254, 254}));
}

TEST_F(Generate, ToneCurveAppliesToBothSources) {
  Prepared(Solid24(4, 2, 100, 0, 250), Solid24(4, 2, 50, 60, 70));
  doc->m_nOffsetX = 4;
  doc->m_nContrast = 16;
  doc->m_nBrightness = 160;  // +64
  ASSERT_EQ(doc->GenerateTarget(), 1);
  EXPECT_EQ(At(*doc->m_pTarget, 0, 0), (MergePixel{164, 64, 255}));
  EXPECT_EQ(At(*doc->m_pTarget, 4, 0), (MergePixel{114, 124, 134}));
}

TEST_F(Generate, SwingZeroIsThePlainPlacementAndSwingSqueezesTheSides) {
  Prepared(Coordinates24(40, 30), Coordinates24(40, 30));
  doc->m_nOffsetX = 30;
  ASSERT_EQ(doc->GenerateTarget(), 1);
  const std::vector<uint8_t> plain = DibToRgb(*doc->m_pTarget);
  doc->m_nSwingAngle = 0;
  ASSERT_EQ(doc->GenerateTarget(), 1);
  EXPECT_EQ(DibToRgb(*doc->m_pTarget), plain);
  doc->m_nSwingAngle = 180;
  ASSERT_EQ(doc->GenerateTarget(), 1);
  const Dib& t = *doc->m_pTarget;
  // The outermost columns reach rows far above and below: nothing is laid
  // there but the middle row, which the projection keeps in place.
  EXPECT_EQ(At(t, 0, 5), (MergePixel{127, 127, 127}));
  EXPECT_EQ(At(t, 69, 25), (MergePixel{127, 127, 127}));
  EXPECT_NE(At(t, 0, 15), (MergePixel{127, 127, 127}));
  // The middle column keeps its rows.
  const int X = 35;  // source 2 column 5 over source 1 column 35
  EXPECT_NE(At(t, X, 15), (MergePixel{127, 127, 127}));
}

TEST_F(Generate, ProjectionNeverWritesOutsideTheCanvas) {
  // Source 2 far above source 1: projected rows of source 2 map into loop rows
  // whose canvas row would pass the top.
  Prepared(Coordinates24(30, 10), Coordinates24(30, 10));
  doc->m_nOffsetY = 25;
  doc->m_nOffsetX = 3;
  doc->m_nSwingAngle = 170;
  ASSERT_EQ(doc->GenerateTarget(), 1);
  EXPECT_EQ(doc->m_pTarget->Height(), 35);
}

TEST_F(Generate, GridOverTheTarget) {
  Prepared(Solid24(250, 120, 9, 9, 9), Solid24(10, 10, 9, 9, 9));
  g_bSolidGrid = 1;
  g_GridColour = {255, 255, 255};
  ASSERT_EQ(doc->GenerateTarget(), 1);
  const Dib& t = *doc->m_pTarget;
  const MergePixel grid{255, 255, 255};
  for (int x : {0, 100, 200}) EXPECT_EQ(At(t, x, 57), grid) << x;
  for (int y : {0, 100}) EXPECT_EQ(At(t, 57, y), grid) << y;
  EXPECT_NE(At(t, 57, 57), grid);
  EXPECT_NE(At(t, 101, 99), grid);
  g_bSolidGrid = 0;
  g_bDottedGrid = 1;
  g_nDotGridX = g_nDotGridY = 10;
  ASSERT_EQ(doc->GenerateTarget(), 1);
  EXPECT_EQ(At(*doc->m_pTarget, 20, 30), grid);
  EXPECT_NE(At(*doc->m_pTarget, 20, 31), grid);
  g_bDottedGrid = 0;
  g_GridColour = {};
}

TEST_F(Generate, GridOnIndexedTargets) {
  Prepared(Indexed(1, 8, 8, [](int, int) { return 0; }), Indexed(1, 8, 8, [](int, int) { return 0; }));
  ASSERT_EQ(doc->GenerateTarget(), 1);
  g_bSolidGrid = 1;
  g_nSolidGridX = g_nSolidGridY = 4;
  g_GridColour = {255, 255, 255};
  doc->DrawGrid();
  EXPECT_EQ(IndexAt(*doc->m_pTarget, 4, 1), 1);  // white sets the bit
  EXPECT_EQ(IndexAt(*doc->m_pTarget, 1, 1), 0);
  g_bSolidGrid = 0;
  g_GridColour = {};
}

TEST_F(Generate, StopDuringSourceTwoLeavesNoTarget) {
  Prepared(Coordinates24(5, 5), Coordinates24(5, 5));
  int shown = 0;
  doc->AddListener([&](DocumentEvent e) { shown += e == DocumentEvent::kShowGenerateButton; });
  ui.PressSpaceAtPoll(2);  // after the first strip of source 2
  ui.QueueAnswer(true);
  EXPECT_EQ(doc->GenerateTarget(), 0);
  EXPECT_EQ(doc->m_pTarget, nullptr);
  EXPECT_EQ(doc->m_nTargetWidth, 1);
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(ui.PaneText(kPaneMessage), "");
  EXPECT_NE(doc->m_pSource1, nullptr);
  // No Target was made, so the window must not claim one up to date.
  EXPECT_EQ(doc->m_bUpToDate, 0);
  EXPECT_EQ(doc->GetTitle(), "Target Window - needs updating");
  // Saying No goes on to the end.
  ui.Clear();
  ui.PressSpaceAtPoll(2);
  EXPECT_EQ(doc->GenerateTarget(), 1);
  EXPECT_EQ(ui.Questions().size(), 1u);
}

TEST_F(Generate, CanvasTooLargeIsRefused) {
  Prepared(Coordinates24(10, 10), Coordinates24(10, 10));
  doc->m_nOffsetX = 70000;
  EXPECT_EQ(doc->GenerateTarget(), 0);
  EXPECT_EQ(ui.LastMessage(),
            "Not enough memory to set up the target image. A picture of 70010 x 10 pixels is larger than the "
            "65,500 pixels a side the program can make.");
  EXPECT_EQ(doc->m_pTarget, nullptr);
  EXPECT_EQ(doc->m_nTargetWidth, 1);
  doc->m_nOffsetX = INT32_MIN + 1;
  EXPECT_EQ(doc->GenerateTarget(), 0);
}

// The colour of Target pixel (x, y) at any depth.
MergePixel ColourAt(const Dib& t, int x, int y) {
  if (t.BitCount() == 24) return At(t, x, y);
  const int index = t.BitCount() == 8 ? t.Row(y)[x] : ((t.Row(y)[x >> 3] << (x & 7)) & 0x80 ? 1 : 0);
  const RGBQUAD& q = t.ColorTable()[index];
  return {q.rgbBlue, q.rgbGreen, q.rgbRed};
}

// Two flat pictures, source 2 turned by 5 degrees and laid over source 1: the
// corners of the turned copy that got no sample must not darken source 1, and
// source 1's edges must not show a line. Every pixel of source 1's rectangle
// stays within one level of the darker of the two colours.
TEST_F(Generate, TurnedSourceLeavesNoDarkWedgeOrLine) {
  struct Case {
    int bits;  // of both sources
    int rule;
    int monoAnd;
    int fade;
  };
  const MergePixel c1{150, 170, 190}, c2{110, 200, 130};
  for (const Case c : {Case{24, kMergeAverage, 0, 0}, Case{24, kMergeAverage, 0, 1}, Case{24, kMergeGreatest, 0, 0},
                       Case{24, kMergeLeast, 0, 0}, Case{1, 0, 0, 0}, Case{1, 0, 1, 0}, Case{4, kMergeAverage, 0, 0},
                       Case{4, kMergeLeast, 0, 0}}) {
    // Index 1 holds the picture's colour, index 0 (the filler of a turned
    // copy) black; 1-bit pictures are white.
    auto flat = [&](MergePixel colour) {
      if (c.bits == 24) return Solid24(60, 40, colour.blue, colour.green, colour.red);
      DibPtr d = Indexed(c.bits, 60, 40, [](int, int) { return 1; });
      d->ColorTable()[0] = {0, 0, 0, 0};
      if (c.bits == 4) d->ColorTable()[1] = {colour.blue, colour.green, colour.red, 0};
      return d;
    };
    AddSource(flat(c1));
    AddSource(flat(c2));
    doc->m_dRotation2 = 5.0;
    g_nMergeRule = c.rule;
    g_bMonoAnd = c.monoAnd;
    g_bFadeEdge2 = c.fade;
    ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
    ASSERT_EQ(doc->PrepareSource(2), kPrepareDone);
    doc->m_nOffsetX = 25;
    doc->m_nOffsetY = 9;
    ASSERT_EQ(doc->GenerateTarget(), 1);
    const Dib& t = *doc->m_pTarget;
    const int expectedDepth = c.fade ? 24 : (c.bits == 4 ? 8 : c.bits);
    ASSERT_EQ(t.BitCount(), expectedDepth);
    const MergePixel white{255, 255, 255};
    const MergePixel a = c.bits == 1 ? white : c1, b = c.bits == 1 ? white : c2;
    const std::string what = std::to_string(c.bits) + "-bit sources, rule " + std::to_string(c.rule) + " and " +
                             std::to_string(c.monoAnd) + " fade " + std::to_string(c.fade);
    int overlap = 0;
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 60; ++x) {
        const MergePixel p = ColourAt(t, x, y);
        ASSERT_GE(p.blue + 1, std::min(a.blue, b.blue)) << what << " at " << x << "," << y;
        ASSERT_GE(p.green + 1, std::min(a.green, b.green)) << what << " at " << x << "," << y;
        ASSERT_GE(p.red + 1, std::min(a.red, b.red)) << what << " at " << x << "," << y;
        overlap += x >= 25 && y >= 9;
      }
    EXPECT_GT(overlap, 0);
    RemoveSource(2);
    RemoveSource(1);
    doc->ResetSession();
  }
}

// A picture of pseudo-random pixels, some of them the background grey, from
// `state`.
// Noise with every eighth byte `grey` (a background), so that some pixels
// are the background itself.
DibPtr Noise24(int w, int h, uint32_t state, uint8_t grey = 127) {
  DibPtr dib = CreateDib(0, 24, w, h, "x");
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < 3 * w; ++x) {
      state = state * 1664525u + 1013904223u;
      dib->Row(y)[x] = (state >> 29) == 0 ? grey : static_cast<uint8_t>(state >> 24);
    }
  return dib;
}

// Laid on a canvas made of source 1's own memory, the Target is byte for byte
// the one laid on a canvas of its own, with the same record of its pictures,
// wherever source 1 lies on it (rows moved up past each other, margins on
// every side, rows with padding), for every merge rule (Blend reads source 1
// from the canvas too) and with fades; a
// picture of several megabytes takes the mapped path. Source 1's pixels that
// equal the background are nudged off it whether its rows moved (past each
// other or one at a time) or stayed, through a neutral tone curve or another;
// the part of the canvas a 24-bit source 2 covers beside source 1 is written
// by it, and an 8-bit one finds the background there. Source 1's copy is gone
// afterwards.
TEST_F(Generate, SourceOneAsCanvasGivesTheSameTarget) {
  struct Case {
    int w1, h1, w2, h2, x, y, rule;
    bool fade;
    bool indexed2 = false;
    int contrast = 16;
  };
  const Case cases[] = {{7, 5, 9, 6, 4, 0, kMergeAverage, true},
                        {30, 20, 25, 31, -11, 3, kMergeGreatest, false},
                        {13, 9, 5, 4, 3, -6, kMergeLeast, false},
                        {10, 10, 10, 10, 0, 0, kMergeAverage, true},
                        {40, 30, 40, 30, 0, 0, kMergeGreatest, false},
                        {40, 30, 20, 50, 0, 0, kMergeLeast, false, false, 20},
                        {21, 17, 33, 2, -40, -30, kMergeAverage, false},
                        {60, 40, 50, 45, 0, 12, kMergeAverage, false},
                        {60, 40, 50, 45, -9, 0, kMergeGreatest, false, true},
                        {60, 40, 50, 45, 30, -5, kMergeAverage, true, true},
                        {60, 40, 50, 45, 30, -5, kMergeAverage, true, false, 9},
                        {1500, 1100, 1400, 1150, 700, -20, kMergeAverage, true},
                        {300, 200, 280, 210, 150, 4, kMergeBlend, false},
                        {300, 200, 280, 210, -150, 4, kMergeBlend, false, true}};
  for (const Case& c : cases) {
    const std::string what = std::to_string(c.w1) + "x" + std::to_string(c.h1) + " at " + std::to_string(c.x) + "," +
                             std::to_string(c.y) + " rule " + std::to_string(c.rule) + (c.indexed2 ? " indexed" : "") +
                             " contrast " + std::to_string(c.contrast);
    const uint8_t grey = c.rule == kMergeGreatest ? 0 : c.rule == kMergeLeast ? 255 : 127;
    std::vector<uint8_t> bytes[2];
    std::vector<SampleCoverage::Run> runs[2];
    for (int onCanvas = 0; onCanvas < 2; ++onCanvas) {
      Restart();
      DibPtr second = c.indexed2 ? Indexed(8, c.w2, c.h2, [](int x, int y) { return (x * 3 + y) % 256; })
                                 : Noise24(c.w2, c.h2, 2, grey);
      Prepared(Noise24(c.w1, c.h1, 1, grey), std::move(second));
      doc->m_nOffsetX = c.x;
      doc->m_nOffsetY = c.y;
      g_nMergeRule = c.rule;
      g_bFadeEdge2 = c.fade;
      doc->m_nContrast = c.contrast;
      doc->m_bSource1BecomesTarget = onCanvas != 0;
      ASSERT_EQ(doc->GenerateTarget(), 1) << what;
      const Dib& t = *doc->m_pTarget;
      bytes[onCanvas].assign(t.Data(), t.Data() + t.Size());
      for (size_t y = 0; y < doc->m_targetCoverage.RowCount(); ++y)
        runs[onCanvas].push_back(doc->m_targetCoverage.RowRun(static_cast<int>(y)));
      EXPECT_EQ(doc->m_pSource1 == nullptr, onCanvas != 0) << what;
      EXPECT_NE(doc->m_pSource2, nullptr) << what;
    }
    ASSERT_EQ(bytes[0].size(), bytes[1].size()) << what;
    EXPECT_TRUE(bytes[0] == bytes[1]) << what;
    ASSERT_EQ(runs[0].size(), runs[1].size()) << what;
    for (size_t y = 0; y < runs[0].size(); ++y)
      EXPECT_TRUE(runs[0][y].begin == runs[1][y].begin && runs[0][y].end == runs[1][y].end &&
                  runs[0][y].last == runs[1][y].last)
          << what << " row " << y;
  }
  g_bFadeEdge2 = 0;
  doc->m_nContrast = 16;
}

// Exposure matching and the projection read source 1 away from where it is
// being laid, and an indexed source 1 is no canvas: those Targets get a canvas
// of their own, and source 1's copy stays.
TEST_F(Generate, SourceOneStaysWhereItCannotBeTheCanvas) {
  for (int which = 0; which < 3; ++which) {
    Restart();
    if (which == 2)
      Prepared(Indexed(8, 12, 8, [](int x, int y) { return (x + y) % 7; }), Noise24(12, 8, 2));
    else
      Prepared(Noise24(12, 8, 1), Noise24(12, 8, 2));
    doc->m_nOffsetX = 6;
    doc->m_bMatchExposure = which == 0;
    doc->m_nSwingAngle = which == 1 ? 20 : 0;
    doc->m_bSource1BecomesTarget = true;
    ASSERT_EQ(doc->GenerateTarget(), 1) << which;
    ASSERT_NE(doc->m_pSource1, nullptr) << which;
    EXPECT_TRUE(DibFitsBlock(*doc->m_pSource1)) << which;
  }
}

}  // namespace
}  // namespace tessara
