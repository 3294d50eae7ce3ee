// "Fine Adjustment": corrects the alignment made in the Align Window by small
// steps, the distance between the sources in pixels, each source's rotation in
// tenths of a degree and its scales in 1/1024. Every spin counts from 0 around a
// base taken from the session when the dialog opened or the Align Window last
// changed the alignment; each click writes base + position into the session,
// so clicking back to 0 gives the base exactly. "Update Target" prepares both
// sources again, rebuilds the Align preview and builds the Target.
#pragma once

#include "ui/dialogs/tool_dialog.h"

namespace tessara {

class CFineAdjustDlg : public CToolDialog {
  Q_OBJECT
 public:
  enum : int {
    kOffsetX = 1000,
    kOffsetY = 1002,
    kRotation1 = 1004,
    kScale1X = 1005,
    kScale1Y = 1008,
    kRotation2 = 1006,
    kScale2X = 1007,
    kScale2Y = 1009,
    kUpdate = 1001,
    kDirectionX = 1079,
    kDirectionY = 1080,
    kSource1Line = 1064,
    kSource2Line = 1065,
  };
  static constexpr int kSpinRange = 100;

  explicit CFineAdjustDlg(QWidget* parent);
  void RefreshFromSession() override;
  void PaintSourceNames() override;
  // Copies the session's alignment into the bases.
  void TakeBase();

  CSpinButton* Spin(int id) const { return ControlAs<CSpinButton>(id); }
  CDirectionStatic* DirectionX() const { return m_pDirectionX; }
  CDirectionStatic* DirectionY() const { return m_pDirectionY; }

  int m_nBaseOffsetY = 0;
  int m_nBaseOffsetX = 0;
  double m_dBaseRotation2 = 0.0;
  double m_dBaseRotation1 = 0.0;
  int m_nBaseScale2Y = 1024;
  int m_nBaseScale1Y = 1024;
  int m_nBaseScale2X = 1024;
  int m_nBaseScale1X = 1024;

 private:
  // A horizontal spin moved: the distance between the sources.
  void OnHorizontalSpin();
  // A vertical spin moved: every rotation and scale from its base.
  void OnVerticalSpin();
  void OnUpdateTarget();
  int Position(int id) const;
  // The spins at the session's distance from the bases; false (nothing
  // changed) when some distance is beyond a spin's range.
  bool ShowDistanceFromBase();
  // The direction texts for the two distance spins' positions.
  void ShowDirections(int x, int y);

  CDirectionStatic* m_pDirectionX = nullptr;
  CDirectionStatic* m_pDirectionY = nullptr;
  CSourceLine* m_pLine1 = nullptr;
  CSourceLine* m_pLine2 = nullptr;
};

}  // namespace tessara
