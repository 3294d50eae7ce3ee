// The program's session value, the globals that name parts of it, and what the
// pure operations take of it.
#include "engine/session.h"

#include "engine/generate_target.h"
#include "engine/prepare_source.h"

namespace tessara {

SessionSettings g_session;
int& g_nMergeRule = g_session.m_nMergeRule;
int& g_bFadeEdge1 = g_session.m_bFadeEdge1;
int& g_bFadeEdge2 = g_session.m_bFadeEdge2;
int& g_bMonoAnd = g_session.m_bMonoAnd;
int& g_bSolidGrid = g_session.m_bSolidGrid;
int& g_bDottedGrid = g_session.m_bDottedGrid;
int& g_nSolidGridX = g_session.m_nSolidGridX;
int& g_nSolidGridY = g_session.m_nSolidGridY;
int& g_nDotGridX = g_session.m_nDotGridX;
int& g_nDotGridY = g_session.m_nDotGridY;
GridColour& g_GridColour = g_session.m_GridColour;

SourceSettings SourceSettingsOf(const SessionSettings& session, int n) {
  const AlignSettings& a = session.align;
  SourceSettings s;
  s.scaleX = n == 1 ? a.m_nScale1X : a.m_nScale2X;
  s.scaleY = n == 1 ? a.m_nScale1Y : a.m_nScale2Y;
  s.rotation = n == 1 ? a.m_dRotation1 : a.m_dRotation2;
  s.mirror = (n == 1 ? a.m_bMirror1 : a.m_bMirror2) != 0;
  s.cutCorners = (n == 1 ? a.m_bCutCorners1 : a.m_bCutCorners2) != 0;
  return s;
}

namespace {

MergeSettings MergeSettingsOf(const SessionSettings& session) {
  return {session.m_nMergeRule, session.m_nSourceBias, session.m_bFadeEdge1 != 0, session.m_bFadeEdge2 != 0,
          session.m_bMatchExposure != 0};
}

GridSettings GridSettingsOf(const SessionSettings& session) {
  return {session.m_bSolidGrid != 0, session.m_bDottedGrid != 0, session.m_nSolidGridX, session.m_nSolidGridY,
          session.m_nDotGridX,       session.m_nDotGridY,         session.m_GridColour};
}

}  // namespace

TargetSettings TargetSettingsOf(const SessionSettings& session, int depth) {
  TargetSettings s;
  s.offsetX = session.align.m_nOffsetX;
  s.offsetY = session.align.m_nOffsetY;
  s.merge = MergeSettingsOf(session);
  s.monoAnd = session.m_bMonoAnd != 0;
  s.contrast = session.m_nContrast;
  s.brightness = session.m_nBrightness;
  s.swing = session.m_nSwingAngle;
  s.viewScaleX = session.m_nViewScaleX;
  s.viewScaleY = session.m_nViewScaleY;
  s.depth = depth;
  s.grid = GridSettingsOf(session);
  return s;
}

}  // namespace tessara
