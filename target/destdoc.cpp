// The target document's state, its defaults, the status-line services every long
// operation uses, and the grid drawn over a finished Target.
#include "target/destdoc.h"

#include <algorithm>

#include "framework/registry.h"
#include "image/pixel_cursor.h"
#include "target/palette.h"

namespace tessara {

int g_nMergeRule = kMergeAverage;
int g_bFadeEdge1 = 0;
int g_bFadeEdge2 = 0;
int g_bMonoAnd = 0;
int g_bSolidGrid = 0;
int g_bDottedGrid = 0;
int g_nSolidGridX = 100;
int g_nSolidGridY = 100;
int g_nDotGridX = 10;
int g_nDotGridY = 10;
GridColour g_GridColour;
int g_nCurX = 0;
int g_nCurY = 0;

CDestdoc::CDestdoc() {
  g_pDestDoc = this;
  m_nTargetWidth = 1;
  m_nTargetHeight = 1;
  m_bUpToDate = 0;
  ResetSession();
}

CDestdoc::~CDestdoc() {
  if (g_pDestDoc == this) g_pDestDoc = nullptr;
  ClearTarget();
  m_pSource1.reset();
  m_pSource2.reset();
}

void CDestdoc::ResetSession() {
  m_nBitDepth = 24;
  // The pictures go with the session they belong to (nothing else owns them).
  m_pTarget.reset();
  m_pSource1.reset();
  m_pSource2.reset();
  m_cover1.Clear();
  m_cover2.Clear();
  m_nOffsetX = m_nOffsetY = 0;
  m_dRotation1 = m_dRotation2 = 0.0;
  m_bMirror1 = m_bMirror2 = 0;
  m_nScale1X = m_nScale1Y = m_nScale2X = m_nScale2Y = 1024;
  m_nBrightness = 128;
  m_nContrast = 16;
  m_nSwingAngle = 0;
  g_nMergeRule = kMergeAverage;
  g_bMonoAnd = 0;
  g_bFadeEdge1 = g_bFadeEdge2 = 0;
  m_nSourceBias = 128;
  m_nViewScaleX = m_nViewScaleY = 100;
  m_bCutCorners1 = m_bCutCorners2 = 1;
  m_bZoneOnly = 0;
  g_bSolidGrid = g_bDottedGrid = 0;
  g_nDotGridX = g_nDotGridY = 10;
  g_nSolidGridX = g_nSolidGridY = 100;
}

void CDestdoc::ClearTarget() {
  m_pTarget.reset();
  m_nTargetWidth = 1;
  m_nTargetHeight = 1;
}

void CDestdoc::SetStatusText(const std::string& text) { UserInterface().SetPaneText(kPaneMessage, text); }
void CDestdoc::SetStageText(const std::string& text) { UserInterface().SetPaneText(kPaneProcess, text); }
void CDestdoc::ShowProgress(ProgressColour colour, int percent) { UserInterface().ShowProgress(colour, percent); }

int CDestdoc::CheckAbort() { return UserWantsToStop() ? 1 : 0; }

void CDestdoc::MarkNeedsUpdate() {
  m_bUpToDate = 0;
  SetTitle(target_text::kTitleNeedsUpdate);
}

void CDestdoc::MarkUpToDate() {
  m_bUpToDate = 1;
  SetTitle(target_text::kTitle);
}

void CDestdoc::DrawGrid() {
  if (!(g_bSolidGrid || g_bDottedGrid) || !m_pTarget) return;
  Dib& target = *m_pTarget;
  PixelValue v{g_GridColour.blue, g_GridColour.green, g_GridColour.red, 0};
  if (target.BitCount() == 1) {
    // A white grid sets the bit, a black one clears it.
    v.index = (g_GridColour.blue | g_GridColour.green | g_GridColour.red) ? 1 : 0;
  } else if (target.BitCount() <= 8) {
    v.index = NearestTableEntry(target.ColorTable(), target.BitCount() == 8 ? 255 : 16,
                                {g_GridColour.blue, g_GridColour.green, g_GridColour.red});
  }
  // The area is the Target as shown, never beyond the picture itself.
  const int width = std::min(m_nTargetWidth, target.Width());
  const int height = std::min(m_nTargetHeight, target.Height());
  DibCursor cursor(m_pTarget.get());
  if (!cursor.m_pCursor) return;
  if (g_bSolidGrid) {
    if (g_nSolidGridX > 0)
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; x += g_nSolidGridX) cursor.WritePixel(x, y, &v);
    if (g_nSolidGridY > 0)
      for (int y = 0; y < height; y += g_nSolidGridY)
        for (int x = 0; x < width; ++x) cursor.WritePixel(x, y, &v);
  }
  if (g_bDottedGrid && g_nDotGridX > 0 && g_nDotGridY > 0) {
    for (int y = 0; y < height; y += g_nDotGridY)
      for (int x = 0; x < width; x += g_nDotGridX) cursor.WritePixel(x, y, &v);
  }
}

}  // namespace tessara
