// The target document's state, its defaults, the status-line services every long
// operation uses, and the grid drawn over a finished Target.
#include "engine/destdoc.h"

#include <algorithm>

#include "engine/auto_align.h"

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

CDestdoc::CDestdoc() {
  m_nTargetWidth = 1;
  m_nTargetHeight = 1;
  m_bUpToDate = 0;
  ResetSession();
}

CDestdoc::~CDestdoc() {
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
  m_bMatchExposure = 0;
  m_exposureGains = ExposureGains();
  m_nViewScaleX = m_nViewScaleY = 100;
  m_bCutCorners1 = m_bCutCorners2 = 1;
  m_bZoneOnly = 0;
  g_bSolidGrid = g_bDottedGrid = 0;
  g_nDotGridX = g_nDotGridY = 10;
  g_nSolidGridX = g_nSolidGridY = 100;
}

void CDestdoc::ClearTarget() {
  m_pTarget.reset();
  m_targetCoverage.Clear();
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

TargetSettings CDestdoc::CurrentTargetSettings() const {
  TargetSettings s;
  s.offsetX = m_nOffsetX;
  s.offsetY = m_nOffsetY;
  s.merge = {g_nMergeRule, m_nSourceBias, g_bFadeEdge1 != 0, g_bFadeEdge2 != 0, m_bMatchExposure != 0};
  s.monoAnd = g_bMonoAnd != 0;
  s.contrast = m_nContrast;
  s.brightness = m_nBrightness;
  s.swing = m_nSwingAngle;
  s.viewScaleX = m_nViewScaleX;
  s.viewScaleY = m_nViewScaleY;
  s.depth = m_nBitDepth;
  s.grid = {g_bSolidGrid != 0, g_bDottedGrid != 0, g_nSolidGridX, g_nSolidGridY, g_nDotGridX, g_nDotGridY,
            g_GridColour};
  return s;
}

void CDestdoc::DrawGrid() {
  if (!m_pTarget) return;
  // The area is the Target as shown, never beyond the picture itself.
  DrawGridOver(*m_pTarget, CurrentTargetSettings().grid, std::min(m_nTargetWidth, m_pTarget->Width()),
               std::min(m_nTargetHeight, m_pTarget->Height()));
}

void StatusLineObserver::Stage(WorkStage stage) {
  switch (stage) {
    case WorkStage::kNone: m_doc.SetStageText(""); break;
    case WorkStage::kStoppable: m_doc.SetStatusText(target_text::kPressSpaceToQuit); break;
    case WorkStage::kPleaseWait: m_doc.SetStageText(target_text::kPleaseWait); break;
    case WorkStage::kMergingSource1: m_doc.SetStageText(target_text::kMergingSource1); break;
    case WorkStage::kMergingSource2: m_doc.SetStageText(target_text::kMergingSource2); break;
    case WorkStage::kBlending: m_doc.SetStageText(target_text::kBlending); break;
    case WorkStage::kFindingAlignment: m_doc.SetStageText(auto_align_text::kFinding); break;
  }
}

void StatusLineObserver::Progress(int percent) {
  if (percent >= 100) {
    m_doc.ShowProgress(kProgressGrey, 100);
    return;
  }
  m_doc.m_nProgress = percent;
  m_doc.ShowProgress(m_working, percent);
}

}  // namespace tessara
