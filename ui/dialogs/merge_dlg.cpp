#include "ui/dialogs/merge_dlg.h"

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>

#include "engine/destdoc.h"
#include "ui/common/qt_user_interface.h"
#include "ui/common/ui_registry.h"
#include "ui/dialogs/dialog_text.h"

namespace tessara {

namespace t = dialog_text;

CMergeDlg::CMergeDlg(QWidget* parent) : CToolDialog(&g_pMergeDlg, t::kMergeTitle, 160, 140, parent) {
  AddFrame(StaticFrame::kBlackFrame, 5, 7, 150, 44);
  m_pRules[0] = AddRadio(kAverage, t::kAverage, 16, 8, 43, 10);
  m_pRules[1] = AddRadio(kGreatest, t::kGreatest, 16, 18, 43, 10);
  m_pRules[2] = AddRadio(kLeast, t::kLeast, 16, 28, 33, 10);
  // Under the other three, inside their frame.
  m_pRules[3] = AddRadio(kBlend, t::kBlend, 16, 38, 43, 10);
  AddStatic(t::kSourceBias, 75, 9, 53, 15, Qt::AlignHCenter);
  m_pBias = AddSlider(kBias, 67, 25, 70, 15, true);
  m_pFade1 = AddCheck(kFade1, t::kFadeEdge1, 5, 56, 79, 10);
  m_pFade2 = AddCheck(kFade2, t::kFadeEdge2, 5, 71, 79, 10);
  AddUpdateButton(kUpdate, 95, 53, 60, 14);
  AddQuitButton(95, 70, 60, 14);
  // In the free line under the buttons, every other control where it was.
  m_pMatch = AddCheck(kMatchExposure, t::kMatchExposure, 5, 84, 150, 8);
  m_pLine1 = AddSourceLine(kSource1Line, 5, 92, 150, 8);
  m_pLine2 = AddSourceLine(kSource2Line, 5, 112, 150, 8);
  AddStatic(t::kOverlapOnly, 5, 125, 150, 8, Qt::AlignHCenter);

  LoadControls();
  StartSourceNameTimer();
  m_pBias->setRange(0, 255);
  m_pBias->setTickInterval(255);
  m_pBias->setPageStep(51);
  m_pBias->setValue(128);

  // Every opening starts from the plain merge, whatever was chosen before.
  if (CDestdoc* doc = Session()) {
    const bool changed = g_bFadeEdge1 != 0 || g_bFadeEdge2 != 0 || doc->m_nSourceBias != 128 ||
                         g_nMergeRule != kMergeAverage || doc->m_bMatchExposure != 0;
    g_bFadeEdge1 = 0;
    g_bFadeEdge2 = 0;
    doc->m_nSourceBias = 128;
    g_nMergeRule = kMergeAverage;
    doc->m_bMatchExposure = 0;
    if (changed) doc->MarkNeedsUpdate();
    // An 8-bit Target comes from sources of 1 and 4 bits; fading, blending
    // and matching need a deeper one, so they are not offered.
    if (doc->m_nBitDepth == 8) {
      m_bDeepTarget = false;
      m_pRules[3]->setEnabled(false);
      m_pMatch->setEnabled(false);
    }
  }
  EnableFades();
  m_pBias->setToolTip(t::kBlendBias);

  for (int rule = 0; rule < 4; ++rule)
    connect(m_pRules[rule], &QRadioButton::clicked, this, [this, rule] { OnRule(rule); });
  connect(m_pBias, &QSlider::valueChanged, this, &CMergeDlg::OnBiasMoved);
  connect(m_pFade1, &QCheckBox::clicked, this, [this] { OnFade(1); });
  connect(m_pFade2, &QCheckBox::clicked, this, [this] { OnFade(2); });
  connect(m_pMatch, &QCheckBox::clicked, this, &CMergeDlg::OnMatchExposure);
  connect(UpdateButton(), &QPushButton::clicked, this, &CMergeDlg::OnUpdateTarget);
}

void CMergeDlg::LoadControls() {
  m_pFade1->setChecked(m_bFade1 != 0);
  m_pFade2->setChecked(m_bFade2 != 0);
  m_pRules[0]->setChecked(m_bAverage != 0);
  m_pRules[1]->setChecked(m_bGreatest != 0);
  m_pRules[2]->setChecked(m_bLeast != 0);
  m_pRules[3]->setChecked(m_bBlend != 0);
}

void CMergeDlg::StoreControls() {
  m_bFade1 = m_pFade1->isChecked() ? 1 : 0;
  m_bFade2 = m_pFade2->isChecked() ? 1 : 0;
  m_bAverage = m_pRules[0]->isChecked() ? 1 : 0;
  m_bGreatest = m_pRules[1]->isChecked() ? 1 : 0;
  m_bLeast = m_pRules[2]->isChecked() ? 1 : 0;
  m_bBlend = m_pRules[3]->isChecked() ? 1 : 0;
}

void CMergeDlg::EnableFades() {
  const bool blend = g_nMergeRule == kMergeBlend;
  for (QCheckBox* box : {m_pFade1, m_pFade2}) {
    box->setEnabled(m_bDeepTarget && !blend);
    box->setToolTip(blend ? t::kBlendFades : "");
  }
}

void CMergeDlg::PaintSourceNames() { PaintSourceNamesInto(m_pLine1, m_pLine2); }

void CMergeDlg::OnRule(int rule) {
  if (g_nMergeRule != rule) {
    g_nMergeRule = rule;
    if (CDestdoc* doc = Session()) doc->MarkNeedsUpdate();
  }
  StoreControls();
  EnableFades();
  EnableUpdate(true);
}

void CMergeDlg::OnBiasMoved() {
  EnableUpdate(true);
  CDestdoc* doc = Session();
  if (!doc) return;
  const int bias = m_pBias->value();
  if (doc->m_nSourceBias != bias) {
    doc->m_nSourceBias = bias;
    doc->MarkNeedsUpdate();
  }
}

void CMergeDlg::OnFade(int which) {
  StoreControls();
  const int before1 = g_bFadeEdge1, before2 = g_bFadeEdge2;
  // Only one source's edges fade: checking one box clears the other.
  if (which == 1) {
    g_bFadeEdge1 = m_bFade1;
    if (m_bFade2 == 1) {
      m_bFade2 = 0;
      g_bFadeEdge2 = 0;
      LoadControls();
    }
  } else {
    g_bFadeEdge2 = m_bFade2;
    if (m_bFade1 == 1) {
      m_bFade1 = 0;
      g_bFadeEdge1 = 0;
      LoadControls();
    }
  }
  if (g_bFadeEdge1 != before1 || g_bFadeEdge2 != before2)
    if (CDestdoc* doc = Session()) doc->MarkNeedsUpdate();
  EnableUpdate(true);
}

void CMergeDlg::OnMatchExposure() {
  if (CDestdoc* doc = Session()) {
    const int match = m_pMatch->isChecked() ? 1 : 0;
    if (doc->m_bMatchExposure != match) {
      doc->m_bMatchExposure = match;
      doc->MarkNeedsUpdate();
    }
  }
  EnableUpdate(true);
}

void CMergeDlg::OnUpdateTarget() {
  CDestdoc* doc = Session();
  if (!doc) return;
  if (RunGenerateTarget(*doc) == 1) EnableUpdate(false);
  BringTargetForward();
}

CMonoMergeDlg::CMonoMergeDlg(QWidget* parent) : CToolDialog(&g_pMonoDlg, t::kMonoTitle, 160, 130, parent) {
  AddStatic(t::kBlackWhen, 7, 2, 146, 15, Qt::AlignHCenter, StaticFrame::kSunken);
  auto* orButton = AddRadio(kOr, t::kOrBlack, 22, 21, 89, 10);
  auto* andButton = AddRadio(kAnd, t::kAndBlack, 22, 34, 117, 10);
  AddStatic(t::kOtherwiseWhite, 7, 47, 146, 15, Qt::AlignHCenter, StaticFrame::kSunken);
  AddUpdateButton(kUpdate, 7, 68, 60, 14);
  AddQuitButton(93, 68, 60, 14);
  m_pLine1 = AddSourceLine(kSource1Line, 7, 89, 146, 8);
  m_pLine2 = AddSourceLine(kSource2Line, 7, 105, 146, 8);

  orButton->setChecked(m_bOr != 0);
  andButton->setChecked(m_bAnd != 0);
  StartSourceNameTimer();
  connect(orButton, &QRadioButton::clicked, this, [this] { OnRule(0); });
  connect(andButton, &QRadioButton::clicked, this, [this] { OnRule(1); });
  connect(UpdateButton(), &QPushButton::clicked, this, &CMonoMergeDlg::OnUpdateTarget);
}

void CMonoMergeDlg::PaintSourceNames() { PaintSourceNamesInto(m_pLine1, m_pLine2); }

void CMonoMergeDlg::OnRule(int monoAnd) {
  if (g_bMonoAnd != monoAnd) {
    g_bMonoAnd = monoAnd;
    if (CDestdoc* doc = Session()) doc->MarkNeedsUpdate();
  }
}

void CMonoMergeDlg::OnUpdateTarget() {
  CDestdoc* doc = Session();
  if (!doc) return;
  RunGenerateTarget(*doc);
  BringTargetForward();
}

}  // namespace tessara
