// The alignment taken as one value and put back: every field round-trips, the
// sources are prepared again for the restored numbers (also after changes that
// prepared nothing), the preview is the one those numbers make, and a failed
// preparation shows in the preview as a failure.
#include <gtest/gtest.h>

#include <vector>

#include "engine/align_doc.h"
#include "engine/align_frame.h"
#include "engine/align_history.h"
#include "tests/engine_fixture.h"

namespace tessara {
namespace {

using test::Coordinates24;

class AlignHistory : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    align = &documents.MakeAlign();
    AddSource(Coordinates24(120, 90));
    AddSource(Coordinates24(100, 70));
    ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
    ASSERT_EQ(doc->PrepareSource(2), kPrepareDone);
    align->m_nClientWidth = 800;
    align->m_nClientHeight = 600;
    align->RebuildPreview(kPrepareDone);
    ASSERT_EQ(align->m_bAlignValid, 1);
  }
  void TearDown() override {
    documents.CloseAlign();
    EngineTest::TearDown();
  }
  std::vector<uint8_t> Preview() const {
    const Dib& p = *align->m_pPreview;
    return {p.Data(), p.Data() + p.Size()};
  }
  std::vector<uint8_t> Prepared(int n) const {
    const Dib& p = n == 1 ? *doc->m_pSource1 : *doc->m_pSource2;
    return {p.Data(), p.Data() + p.Size()};
  }
  CAlignDoc* align = nullptr;
};

TEST_F(AlignHistory, EveryFieldIsTakenAndPutBack) {
  const AlignSettings start = TakeAlignSettings(*doc);
  EXPECT_EQ(start, AlignSettings{});
  AlignSettings changed;
  changed.m_nOffsetX = -13, changed.m_nOffsetY = 7;
  changed.m_nScale1X = 1100, changed.m_nScale1Y = 990, changed.m_nScale2X = 1030, changed.m_nScale2Y = 1500;
  changed.m_dRotation1 = 2.7, changed.m_dRotation2 = -0.1;
  changed.m_bMirror1 = 1, changed.m_bMirror2 = 1, changed.m_bCutCorners1 = 0, changed.m_bCutCorners2 = 0;
  doc->MarkUpToDate();
  EXPECT_EQ(RestoreAlignSettings(*align, *doc, changed), kPrepareDone);
  EXPECT_EQ(TakeAlignSettings(*doc), changed);
  EXPECT_EQ(doc->m_bUpToDate, 0);
  // Each field on its own differs from the start: none is forgotten by the
  // comparison that decides whether a change is worth a step.
  for (int field = 0; field < 12; ++field) {
    AlignSettings one = start;
    int* ints[] = {&one.m_nOffsetX, &one.m_nOffsetY, &one.m_nScale1X, &one.m_nScale1Y, &one.m_nScale2X,
                   &one.m_nScale2Y, &one.m_bMirror1, &one.m_bMirror2, &one.m_bCutCorners1, &one.m_bCutCorners2};
    if (field < 10) *ints[field] += 1;
    else (field == 10 ? one.m_dRotation1 : one.m_dRotation2) += 0.1;
    EXPECT_FALSE(one == start) << field;
  }
}

TEST_F(AlignHistory, RestorePreparesAndRebuildsThePreviewOfThoseNumbers) {
  const AlignSettings before = TakeAlignSettings(*doc);
  const std::vector<uint8_t> preview = Preview(), prepared2 = Prepared(2);
  // A stretch and a mirror of source 2, made the way the commands make them.
  ApplyFrame(*align, DragFrame(SyncFrame(*align, 2), 3, 30, 20), 2);
  MirrorSource(*align, 2);
  ASSERT_NE(Preview(), preview);
  const AlignSettings after = TakeAlignSettings(*doc);
  const std::vector<uint8_t> afterPreview = Preview();
  EXPECT_EQ(RestoreAlignSettings(*align, *doc, before), kPrepareDone);
  EXPECT_EQ(TakeAlignSettings(*doc), before);
  EXPECT_EQ(Preview(), preview);
  EXPECT_EQ(Prepared(2), prepared2);
  // And forward again, to the very same pixels.
  EXPECT_EQ(RestoreAlignSettings(*align, *doc, after), kPrepareDone);
  EXPECT_EQ(Preview(), afterPreview);
  // Numbers changed without preparing (as Fine Adjustment does) are prepared
  // when put back: the preview is what a fresh preparation makes.
  doc->m_dRotation1 = 3.0;
  const AlignSettings turned = TakeAlignSettings(*doc);
  EXPECT_EQ(RestoreAlignSettings(*align, *doc, before), kPrepareDone);
  EXPECT_EQ(RestoreAlignSettings(*align, *doc, turned), kPrepareDone);
  const std::vector<uint8_t> restoredTurned = Preview();
  ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
  align->RebuildPreview(kPrepareDone);
  EXPECT_EQ(restoredTurned, Preview());
}

TEST_F(AlignHistory, AFailedPreparationShowsInThePreview) {
  const AlignSettings good = TakeAlignSettings(*doc);
  const std::vector<uint8_t> preview = Preview();
  AlignSettings huge = good;
  huge.m_nScale1X = huge.m_nScale1Y = 1024 * 1024;  // far beyond what memory allows
  EXPECT_EQ(RestoreAlignSettings(*align, *doc, huge), kPrepareNoMemory);
  EXPECT_EQ(align->m_bAlignValid, 0);
  EXPECT_EQ(align->m_nFailCode, kPrepareNoMemory);
  // Putting back a good alignment recovers the very same preview.
  EXPECT_EQ(RestoreAlignSettings(*align, *doc, good), kPrepareDone);
  EXPECT_EQ(align->m_bAlignValid, 1);
  EXPECT_EQ(TakeAlignSettings(*doc), good);
  EXPECT_EQ(Preview(), preview);
}

}  // namespace
}  // namespace tessara
