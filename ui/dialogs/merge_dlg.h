// The two merge dialogs: "Merge Source 1 and 2" chooses the rule (Average,
// Greatest, Least, Blend), the bias between the sources and the fading of one
// source's edges for colour and grey sources, and whether source 2's exposure
// is matched to source 1's first; "Merge Monochrome" chooses
// whether black needs one or both 1-bit sources to be black. Both write the
// session's merge settings at once; "Update Target" builds the Target with them.
#pragma once

#include "ui/dialogs/tool_dialog.h"

namespace tessara {

class CMergeDlg : public CToolDialog {
  Q_OBJECT
 public:
  enum : int {
    kAverage = 1010,
    kGreatest = 1011,
    kLeast = 1012,
    kBlend = 1013,
    kBias = 1075,
    kFade1 = 1020,
    kFade2 = 1021,
    kMatchExposure = 1024,
    kUpdate = 1016,
    kSource1Line = 1062,
    kSource2Line = 1063,
  };
  // Opening starts over from Average, bias 128, no fading and no exposure
  // matching.
  explicit CMergeDlg(QWidget* parent);
  void PaintSourceNames() override;

  int m_bFade1 = 0;
  int m_bFade2 = 0;
  int m_bAverage = 1;
  int m_bGreatest = 0;
  int m_bLeast = 0;
  int m_bBlend = 0;

 protected:
  void OnQuit() override { BringTargetForward(); }

 private:
  void LoadControls();
  void StoreControls();
  void OnRule(int rule);
  // The fade boxes are offered for the rules that use them, on a deep Target.
  void EnableFades();
  void OnBiasMoved();
  void OnFade(int which);
  void OnMatchExposure();
  void OnUpdateTarget();

  QSlider* m_pBias = nullptr;
  QRadioButton* m_pRules[4] = {};
  QCheckBox* m_pFade1 = nullptr;
  QCheckBox* m_pFade2 = nullptr;
  QCheckBox* m_pMatch = nullptr;
  CSourceLine* m_pLine1 = nullptr;
  CSourceLine* m_pLine2 = nullptr;
  // False for an 8-bit Target, which neither fades nor blends.
  bool m_bDeepTarget = true;
};

class CMonoMergeDlg : public CToolDialog {
  Q_OBJECT
 public:
  enum : int {
    kOr = 1022,
    kAnd = 1023,
    kUpdate = 1057,
    kSource1Line = 1066,
    kSource2Line = 1067,
  };
  // The buttons show OR at every opening; the rule in force is only changed
  // by clicking one of them.
  explicit CMonoMergeDlg(QWidget* parent);
  void PaintSourceNames() override;

  int m_bOr = 1;
  int m_bAnd = 0;

 protected:
  void OnQuit() override { BringTargetForward(); }

 private:
  void OnRule(int monoAnd);
  void OnUpdateTarget();

  CSourceLine* m_pLine1 = nullptr;
  CSourceLine* m_pLine2 = nullptr;
};

}  // namespace tessara
