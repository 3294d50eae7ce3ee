// The Align view's arithmetic without widgets: the frame on a source, hit zones
// with their strict edges and order, dragging, the change a released frame
// makes, and the exact Align commands with their numbers.
#include <gtest/gtest.h>

#include "engine/align_doc.h"
#include "engine/align_frame.h"
#include "tests/engine_fixture.h"

namespace tessara {
namespace {

using test::Coordinates24;

TEST(AlignHitTest, ZonesEdgesAndOrder) {
  const AlignFrame f{100, 50, 100, 80};  // x, y, w, h
  struct Case {
    int px, py, zone;
  } cases[] = {
      {100, 50, 7},  {95, 45, 7},  {94, 50, 9},  {104, 50, 9}, {103, 53, 7},
      {100, 90, 6},  {100, 130, 5}, {150, 50, 0}, {150, 130, 4}, {200, 50, 1}, {200, 90, 2},
      {200, 130, 3}, {150, 90, 8},  {101, 51, 7}, {150, 40, 9},  {250, 90, 9}, {196, 90, 8},
      {197, 90, 2},  {205, 90, 2},  {206, 90, 9}, {104, 60, 8},
  };
  for (const Case& c : cases) EXPECT_EQ(HitTest(f, c.px, c.py), c.zone) << c.px << "," << c.py;
  // A column that matches no row falls through to the later tests: the left
  // column between the handles is inside the frame.
  EXPECT_EQ(HitTest(f, 102, 70), 8);
}

TEST(AlignDrag, EachZoneAndTheMinimum) {
  const AlignFrame f{100, 50, 100, 80};
  EXPECT_EQ(DragFrame(f, 8, 7, -3), (AlignFrame{107, 47, 100, 80}));
  EXPECT_EQ(DragFrame(f, 3, 50, 40), (AlignFrame{100, 50, 150, 120}));
  EXPECT_EQ(DragFrame(f, 0, 9, 10), (AlignFrame{100, 60, 100, 70}));
  EXPECT_EQ(DragFrame(f, 7, 10, 10), (AlignFrame{110, 60, 90, 70}));
  EXPECT_EQ(DragFrame(f, 5, 10, 10), (AlignFrame{110, 50, 90, 90}));
  EXPECT_EQ(DragFrame(f, 9, 10, 10), f);
  // Past the opposite side: the width stays 50, x keeps following the mouse.
  EXPECT_EQ(DragFrame(f, 6, 150, 0), (AlignFrame{250, 50, 50, 80}));
  EXPECT_EQ(PointerForZone(1), AlignPointer::kSizeNESW);
  EXPECT_EQ(PointerForZone(9), AlignPointer::kUnchanged);
  EXPECT_STREQ(StatusWordForZone(4), "resize height");
  EXPECT_STREQ(StatusWordForZone(8), "move");
  EXPECT_STREQ(StatusWordForZone(9), "");
}

class AlignCommands : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    align = &documents.MakeAlign();
  }
  void TearDown() override {
    documents.CloseAlign();
    EngineTest::TearDown();
  }
  void Load(int w1, int h1, int w2, int h2) {
    AddSource(Coordinates24(w1, h1));
    AddSource(Coordinates24(w2, h2));
    ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
    ASSERT_EQ(doc->PrepareSource(2), kPrepareDone);
    align->m_nClientWidth = 800;
    align->m_nClientHeight = 600;
    align->RebuildPreview(kPrepareDone);
    ASSERT_EQ(align->m_bAlignValid, 1);
  }
  CAlignDoc* align = nullptr;
};

TEST_F(AlignCommands, FrameFollowsTheSourceAndAppliesStretches) {
  Load(100, 80, 100, 80);
  ASSERT_EQ(align->m_nReduction, 1);
  const AlignFrame f = SyncFrame(*align, 2);
  EXPECT_EQ(f.w, 100);
  EXPECT_EQ(f.h, 80);
  EXPECT_EQ(f.y, align->m_nPreviewTop + align->m_nPreviewHeight - 80);
  // The bottom-right handle dragged by (+50, +40).
  const AlignFrame dragged = DragFrame(f, 3, 50, 40);
  EXPECT_EQ(MeasureFrameChange(*align, dragged, 2), (FrameChange{1536, 1536, 0, -40}));
  ApplyFrame(*align, dragged, 2);
  EXPECT_EQ(doc->m_nScale2X, 1536);
  EXPECT_EQ(doc->m_nOffsetY, -40);
  EXPECT_EQ(doc->m_pSource2->Width(), 150);
  EXPECT_EQ(align->m_nPredictedHeight, 120);
  // An unchanged frame changes nothing but still marks the Target stale.
  doc->MarkUpToDate();
  const int offsetY = doc->m_nOffsetY;
  ApplyFrame(*align, SyncFrame(*align, 2), 2);
  EXPECT_EQ(doc->m_nOffsetY, offsetY);
  EXPECT_EQ(doc->m_nScale2X, 1536);
  EXPECT_EQ(doc->m_bUpToDate, 0);
}

TEST_F(AlignCommands, ZeroSizedPreviewKeepsItsScale) {
  Load(2000, 30, 2000, 1500);  // reduction 3: source 1 is 10 rows high in the preview
  align->m_nPrev1Height = 0;   // as for a source lower than one preview pixel
  const FrameChange c = MeasureFrameChange(*align, AlignFrame{0, 0, 400, 50}, 1);
  EXPECT_EQ(c.scaleY, 1024);
  EXPECT_NE(c.scaleX, 1024);
}

TEST_F(AlignCommands, MirrorResetAndCopies) {
  Load(300, 100, 200, 50);
  doc->m_nOffsetX = 17;
  doc->m_nOffsetY = 9;
  CopyWidth(*align, 2);
  EXPECT_EQ(doc->m_nScale2X, 1536);
  EXPECT_EQ(doc->m_nOffsetX, 0);
  EXPECT_EQ(doc->m_nOffsetY, 9);
  EXPECT_EQ(doc->m_pSource2->Width(), 300);
  EXPECT_EQ(ui.m_nToolDialogRefreshes, 1);
  CopyHeight(*align, 1);  // 1024 x 50 / 100
  EXPECT_EQ(doc->m_nScale1Y, 512);
  EXPECT_EQ(doc->m_nOffsetY, 0);
  ResetSize(*align, 1);
  EXPECT_EQ(doc->m_nScale1Y, 1024);
  doc->m_nOffsetX = 5;
  CopySize(*align, 1);
  EXPECT_EQ(doc->m_nScale1X, 1024);  // 1024 x 300 / 300
  EXPECT_EQ(doc->m_nScale1Y, 512);
  EXPECT_EQ(doc->m_nOffsetX, 0);
  MirrorSource(*align, 1);
  EXPECT_EQ(doc->m_bMirror1, 1);
  MirrorSource(*align, 1);
  EXPECT_EQ(doc->m_bMirror1, 0);
}

TEST_F(AlignCommands, RotationUpdate) {
  Load(200, 100, 200, 100);
  doc->m_dRotation2 = 10.3;
  ui.Clear();
  // Unchanged source 1, source 2's 10.3 becomes 10.
  EXPECT_EQ(ApplyRotation(*align, 0, 1, 10, 1), kPrepareDone);
  EXPECT_EQ(doc->m_dRotation2, 10.0);
  EXPECT_EQ(ui.PaneHistory(kPaneProcess).front(), "Loading Source 2 preview");
  // Nothing changed: nothing prepared, the preview still rebuilt.
  ui.Clear();
  EXPECT_EQ(ApplyRotation(*align, 0, 1, 10, 1), kPrepareDone);
  EXPECT_TRUE(ui.PaneHistory(kPaneProcess).empty());
  EXPECT_EQ(ui.m_nToolDialogRefreshes, 1);
  // Corners kept at 90 degrees: source 1 turns to 100 x 200.
  EXPECT_EQ(ApplyRotation(*align, 90, 0, 10, 1), kPrepareDone);
  EXPECT_EQ(doc->m_pSource1->Width(), 100);
  EXPECT_EQ(doc->m_pSource1->Height(), 200);
}

}  // namespace
}  // namespace tessara
