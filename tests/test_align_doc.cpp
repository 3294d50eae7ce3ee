// The align document: preview layout and reduction, the painting rules of the
// preview, the missing-source state, and frame changes made with the mouse.
#include <gtest/gtest.h>

#include "engine/align_doc.h"
#include "tests/engine_fixture.h"

namespace tessara {
namespace {

using test::Coordinates24;
using test::Indexed;

DibPtr Solid(int w, int h, uint8_t v) {
  DibPtr d = CreateDib(v, 24, w, h, "x");
  return d;
}

class Align : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    align = &documents.MakeAlign();
  }
  void TearDown() override {
    documents.CloseAlign();
    EngineTest::TearDown();
  }
  const uint8_t* PreviewAt(int x, int y) { return align->m_pPreview->Row(y) + 3 * x; }
  CAlignDoc* align = nullptr;
};

TEST_F(Align, LayoutForLargeAndSmallPictures) {
  Prepared(Solid(1000, 800, 50), Solid(900, 700, 60));
  align->m_nClientWidth = 800;
  align->m_nClientHeight = 600;
  align->RebuildPreview(kPrepareDone);
  EXPECT_EQ(align->m_nPredictedWidth, 1000);
  EXPECT_EQ(align->m_nPredictedHeight, 800);
  EXPECT_EQ(align->m_nReduction, 2);
  EXPECT_EQ(align->m_nPreviewWidth, 500);
  EXPECT_EQ(align->m_nPreviewHeight, 400);
  EXPECT_EQ(align->m_nPreviewLeft, 150);
  EXPECT_EQ(align->m_nPreviewTop, 66);
  EXPECT_EQ(align->m_bAlignValid, 1);
  ASSERT_TRUE(align->m_pPreview);
  EXPECT_EQ(align->m_pPreview->Width(), 500);

  doc->m_pSource1 = Solid(400, 300, 50);
  doc->m_pSource2 = Solid(400, 300, 60);
  align->RebuildPreview(kPrepareDone);
  EXPECT_EQ(align->m_nReduction, 1);  // small pictures use half the window and are never enlarged
  EXPECT_EQ(align->m_nPreviewWidth, 400);
}

TEST_F(Align, OffsetsPlaceTheSources) {
  Prepared(Solid(100, 50, 40), Solid(100, 50, 80));
  doc->m_nOffsetX = -30;
  doc->m_nOffsetY = 10;
  align->m_nClientWidth = 400;
  align->m_nClientHeight = 300;
  align->RebuildPreview(kPrepareDone);
  EXPECT_EQ(align->m_nPredictedWidth, 130);
  EXPECT_EQ(align->m_nPredictedHeight, 60);
  EXPECT_EQ(align->m_nPrev1X, 30);
  EXPECT_EQ(align->m_nPrev2X, 0);
  EXPECT_EQ(align->m_nPrev1Y, 0);
  EXPECT_EQ(align->m_nPrev2Y, 10);
  EXPECT_EQ(PreviewAt(0, 0)[0], 0);     // nobody
  EXPECT_EQ(PreviewAt(129, 5)[0], 40);  // source 1 only
  EXPECT_EQ(PreviewAt(5, 55)[0], 80);   // source 2 only
  EXPECT_EQ(PreviewAt(50, 20)[0], 60);  // both: average
}

TEST_F(Align, BlackAndMonochromeRules) {
  DibPtr black = Solid(10, 10, 0);
  DibPtr mono = Indexed(1, 10, 10, [](int x, int) { return x < 5 ? 0 : 1; });
  Prepared(std::move(black), std::move(mono));
  doc->m_nOffsetX = 5;
  align->m_nClientWidth = align->m_nClientHeight = 100;
  align->RebuildPreview(kPrepareDone);
  EXPECT_EQ(PreviewAt(0, 0)[1], 1);     // pure black of source 1 kept apart from "nobody"
  EXPECT_EQ(PreviewAt(6, 0)[1], 0);     // mono black over (1,1,1): 1 / 2
  EXPECT_EQ(PreviewAt(11, 0)[1], 255);  // mono white alone
  EXPECT_EQ(PreviewAt(10, 0)[1], 255);  // source 2 column 5 (white), no source 1 below
  EXPECT_EQ(PreviewAt(14, 0)[1], 255);
  doc->m_pSource1 = Indexed(1, 10, 10, [](int, int) { return 1; });
  doc->m_pSource2 = Coordinates24(10, 10);
  align->RebuildPreview(kPrepareDone);
  EXPECT_EQ(PreviewAt(0, 0)[1], 255);  // mono white as (255, 255, 255)
  const uint8_t* p = PreviewAt(7, 3);  // both: (255 + source 2) / 2 per channel
  EXPECT_EQ(p[0], (255 + 2) / 2);
  EXPECT_EQ(p[1], (255 + 3) / 2);
}

TEST_F(Align, MissingSourceRecordsTheCode) {
  Prepared(Solid(10, 10, 5), nullptr);
  doc->m_nOffsetX = 7;
  doc->m_nScale2X = 1500;
  align->RebuildPreview(kPrepareRunLength);
  EXPECT_EQ(align->m_bAlignValid, 0);
  EXPECT_EQ(align->m_nFailCode, kPrepareRunLength);
  EXPECT_EQ(align->m_pPreview, nullptr);
  EXPECT_EQ(doc->m_nScale2X, 1);
  EXPECT_EQ(doc->m_nOffsetX, 0);
  // With fewer than two sources nothing changes at all.
  RemoveSource(2);
  align->m_nFailCode = kPrepareDone;
  align->RebuildPreview(kPrepareUnknownFormat);
  EXPECT_EQ(align->m_nFailCode, kPrepareDone);
}

TEST_F(Align, TooLowWindowSaysSo) {
  Prepared(Solid(10, 10, 5), Solid(10, 10, 5));
  align->m_nClientWidth = 100;
  align->m_nClientHeight = 0;
  align->RebuildPreview(kPrepareDone);
  EXPECT_EQ(ui.LastMessage(), "Height too small - can't see the image!");
  EXPECT_EQ(align->m_nClientHeight, 1);
  EXPECT_EQ(align->m_nReduction, 20);
  // The rebuilds of the same resize (the window still without a height) say
  // nothing more; once it has had a height again, losing it says so again.
  const size_t said = ui.Messages().size();
  align->m_nClientHeight = 0;
  align->RebuildPreview(kPrepareDone);
  align->m_nClientHeight = -3;
  align->RebuildPreview(kPrepareDone);
  EXPECT_EQ(ui.Messages().size(), said);
  align->m_nClientHeight = 50;
  align->RebuildPreview(kPrepareDone);
  align->m_nClientHeight = 0;
  align->RebuildPreview(kPrepareDone);
  EXPECT_EQ(ui.Messages().size(), said + 1);
}

TEST_F(Align, FrameChanges) {
  AddSource(Coordinates24(100, 80));
  AddSource(Coordinates24(100, 80));
  ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
  ASSERT_EQ(doc->PrepareSource(2), kPrepareDone);
  align->m_nReduction = 3;
  // A pure move never prepares: the offsets move by the reduction.
  ui.Clear();
  EXPECT_EQ(align->ApplyFrameChange(1024, 1024, 5, -2, 2), kPrepareDone);
  EXPECT_EQ(doc->m_nOffsetX, 15);
  EXPECT_EQ(doc->m_nOffsetY, -6);
  EXPECT_TRUE(ui.PaneHistory(kPaneProcess).empty());
  EXPECT_EQ(doc->GetTitle(), "Target Window - needs updating");
  EXPECT_EQ(ui.m_nToolDialogRefreshes, 1);
  // Moving source 1 moves the offset the other way.
  EXPECT_EQ(align->ApplyFrameChange(1024, 1024, 5, -2, 1), kPrepareDone);
  EXPECT_EQ(doc->m_nOffsetX, 0);
  EXPECT_EQ(doc->m_nOffsetY, 0);
  // A 100 x 80 frame stretched by (+50, +40) preview pixels at reduction 1:
  // scales 1536 and 1536, prepared once, for that source only.
  align->m_nReduction = 1;
  EXPECT_EQ(align->ApplyFrameChange(150 * 1024 / 100, 120 * 1024 / 80, 0, 0, 2), kPrepareDone);
  EXPECT_EQ(doc->m_nScale2X, 1536);
  EXPECT_EQ(doc->m_nScale2Y, 1536);
  EXPECT_EQ(doc->m_pSource2->Width(), 150);
  EXPECT_EQ(doc->m_pSource2->Height(), 120);
  EXPECT_EQ(ui.PaneHistory(kPaneProcess), (std::vector<std::string>{"Loading Source 2 preview", ""}));
  // A failing preparation puts the geometry back and hands on the code.
  EXPECT_EQ(align->ApplyFrameChange(0, 1024, 4, 4, 1), kPrepareNoMemory);
  EXPECT_EQ(doc->m_nScale1X, 1024);
  EXPECT_EQ(doc->m_nOffsetX, 0);
  EXPECT_EQ(doc->m_pSource1, nullptr);
}

TEST_F(Align, ClosingIsRefused) {
  EXPECT_FALSE(align->CanCloseDocument(false));
  EXPECT_EQ(ui.LastMessage(), "Not allowed to close this window !");
  ui.Clear();
  EXPECT_FALSE(align->CanCloseDocument(true));
  EXPECT_TRUE(ui.Messages().empty());
  EXPECT_EQ(align->GetTitle(), "Align Window");
}

}  // namespace
}  // namespace tessara
