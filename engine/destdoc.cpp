// The target document's state, its defaults, the status-line services every long
// operation uses, and the grid drawn over a finished Target.
#include "engine/destdoc.h"

#include <algorithm>

#include "engine/auto_align.h"

namespace tessara {

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
  m_nBitDepth = session_default::kDepth;
  // The pictures go with the session they belong to (nothing else owns them).
  m_pTarget.reset();
  m_pSource1.reset();
  m_pSource2.reset();
  m_cover1.Clear();
  m_cover2.Clear();
  m_session = SessionSettings{};
  m_exposureGains = ExposureGains();
  m_bZoneOnly = 0;
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

TargetSettings CDestdoc::CurrentTargetSettings() const { return TargetSettingsOf(m_session, m_nBitDepth); }

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
