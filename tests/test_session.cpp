// The session value: the target document's names and the merge and grid
// globals all reach the one value, a new session is its default value, and
// the conversions hand every setting to the field the pure operations read.
#include <gtest/gtest.h>

#include "engine/align_history.h"
#include "engine/destdoc.h"
#include "engine/generate_target.h"
#include "engine/prepare_source.h"
#include "tests/engine_fixture.h"

namespace tessara {
namespace {

using SessionValue = test::EngineTest;

// Every setting different from its default and from every other.
SessionSettings Distinct() {
  SessionSettings s;
  s.align = {11, -12, 1013, 1014, 1015, 1016, 1.7, -1.8, 1, 0, 0, 1};
  s.m_nMergeRule = kMergeBlend;
  s.m_nSourceBias = 21;
  s.m_bFadeEdge1 = 0;
  s.m_bFadeEdge2 = 1;
  s.m_bMonoAnd = 1;
  s.m_bMatchExposure = 1;
  s.m_nContrast = 22;
  s.m_nBrightness = 123;
  s.m_nSwingAngle = 24;
  s.m_nViewScaleX = 125;
  s.m_nViewScaleY = 126;
  s.m_bSolidGrid = 1;
  s.m_bDottedGrid = 1;
  s.m_nSolidGridX = 27;
  s.m_nSolidGridY = 28;
  s.m_nDotGridX = 29;
  s.m_nDotGridY = 30;
  s.m_GridColour = {31, 32, 33};
  return s;
}

TEST_F(SessionValue, NamesReachTheOneValueAndResetGivesItsDefaults) {
  doc->m_nOffsetX = 5;
  g_nMergeRule = kMergeLeast;
  g_GridColour.red = 200;
  doc->m_nSourceBias = 7;
  EXPECT_EQ(g_session.align.m_nOffsetX, 5);
  EXPECT_EQ(doc->m_session.m_nMergeRule, kMergeLeast);
  EXPECT_EQ(g_session.m_GridColour.red, 200);
  EXPECT_EQ(TakeAlignSettings(*doc).m_nOffsetX, 5);
  doc->m_session = Distinct();
  EXPECT_EQ(g_nSolidGridY, 28);
  EXPECT_EQ(doc->m_dRotation2, -1.8);
  EXPECT_EQ(doc->m_bMatchExposure, 1);
  doc->ResetSession();
  EXPECT_EQ(g_session, SessionSettings{});
  EXPECT_EQ(g_nMergeRule, kMergeAverage);
  EXPECT_EQ(doc->m_nScale2Y, 1024);
  EXPECT_EQ(doc->m_bCutCorners1, 1);
  // Putting an alignment back changes nothing else.
  doc->m_session = Distinct();
  PutAlignSettings(*doc, AlignSettings{});
  SessionSettings expected = Distinct();
  expected.align = AlignSettings{};
  EXPECT_EQ(g_session, expected);
}

TEST_F(SessionValue, ConversionsGiveEveryFieldItsPlace) {
  const SessionSettings s = Distinct();
  const SourceSettings one = SourceSettingsOf(s, 1), two = SourceSettingsOf(s, 2);
  EXPECT_EQ(one.scaleX, 1013);
  EXPECT_EQ(one.scaleY, 1014);
  EXPECT_EQ(one.rotation, 1.7);
  EXPECT_TRUE(one.mirror);
  EXPECT_FALSE(one.cutCorners);
  EXPECT_EQ(two.scaleX, 1015);
  EXPECT_EQ(two.scaleY, 1016);
  EXPECT_EQ(two.rotation, -1.8);
  EXPECT_FALSE(two.mirror);
  EXPECT_TRUE(two.cutCorners);
  const TargetSettings t = TargetSettingsOf(s, 8);
  EXPECT_EQ(t.offsetX, 11);
  EXPECT_EQ(t.offsetY, -12);
  EXPECT_EQ(t.merge.rule, kMergeBlend);
  EXPECT_EQ(t.merge.bias, 21);
  EXPECT_FALSE(t.merge.fade1);
  EXPECT_TRUE(t.merge.fade2);
  EXPECT_TRUE(t.merge.matchExposure);
  EXPECT_TRUE(t.monoAnd);
  EXPECT_EQ(t.contrast, 22);
  EXPECT_EQ(t.brightness, 123);
  EXPECT_EQ(t.swing, 24);
  EXPECT_EQ(t.viewScaleX, 125);
  EXPECT_EQ(t.viewScaleY, 126);
  EXPECT_EQ(t.depth, 8);
  EXPECT_TRUE(t.grid.solid && t.grid.dotted);
  EXPECT_EQ(t.grid.solidX, 27);
  EXPECT_EQ(t.grid.solidY, 28);
  EXPECT_EQ(t.grid.dotX, 29);
  EXPECT_EQ(t.grid.dotY, 30);
  EXPECT_EQ(t.grid.colour.blue, 31);
  EXPECT_EQ(t.grid.colour.red, 33);
  // The defaults of the value are those of the settings made from it.
  const SessionSettings plain;
  const TargetSettings fresh;
  const TargetSettings made = TargetSettingsOf(plain, fresh.depth);
  EXPECT_EQ(made.contrast, fresh.contrast);
  EXPECT_EQ(made.brightness, fresh.brightness);
  EXPECT_EQ(made.viewScaleX, fresh.viewScaleX);
  EXPECT_EQ(made.merge.bias, fresh.merge.bias);
  EXPECT_EQ(made.grid.solidX, fresh.grid.solidX);
  EXPECT_EQ(made.grid.dotY, fresh.grid.dotY);
  EXPECT_EQ(SourceSettingsOf(plain, 2).scaleX, SourceSettings{}.scaleX);
  EXPECT_EQ(SourceSettingsOf(plain, 1).cutCorners, SourceSettings{}.cutCorners);
}

}  // namespace
}  // namespace tessara
