#include "engine/align_history.h"

#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "framework/user_interface.h"

namespace tessara {

AlignSettings TakeAlignSettings(const CDestdoc& s) {
  AlignSettings a;
  a.offsetX = s.m_nOffsetX;
  a.offsetY = s.m_nOffsetY;
  a.scale1X = s.m_nScale1X;
  a.scale1Y = s.m_nScale1Y;
  a.scale2X = s.m_nScale2X;
  a.scale2Y = s.m_nScale2Y;
  a.rotation1 = s.m_dRotation1;
  a.rotation2 = s.m_dRotation2;
  a.mirror1 = s.m_bMirror1;
  a.mirror2 = s.m_bMirror2;
  a.cutCorners1 = s.m_bCutCorners1;
  a.cutCorners2 = s.m_bCutCorners2;
  return a;
}

int RestoreAlignSettings(CAlignDoc& doc, CDestdoc& s, const AlignSettings& a) {
  PutAlignSettings(s, a);
  s.MarkNeedsUpdate();
  // Both sources are prepared again: Fine Adjustment changes the numbers
  // without preparing, so what is prepared now need not match either side.
  int code = s.PrepareSource(1);
  if (code == kPrepareDone) code = s.PrepareSource(2);
  doc.RebuildPreview(code);
  RefreshToolDialogs();
  return code;
}

void PutAlignSettings(CDestdoc& s, const AlignSettings& a) {
  s.m_nOffsetX = a.offsetX;
  s.m_nOffsetY = a.offsetY;
  s.m_nScale1X = a.scale1X;
  s.m_nScale1Y = a.scale1Y;
  s.m_nScale2X = a.scale2X;
  s.m_nScale2Y = a.scale2Y;
  s.m_dRotation1 = a.rotation1;
  s.m_dRotation2 = a.rotation2;
  s.m_bMirror1 = a.mirror1;
  s.m_bMirror2 = a.mirror2;
  s.m_bCutCorners1 = a.cutCorners1;
  s.m_bCutCorners2 = a.cutCorners2;
}

}  // namespace tessara
