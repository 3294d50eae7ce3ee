// "Cylindrical Projection": the swing angle (0..180 degrees) with which the
// Target is laid on a cylinder. The trackbar starts at zero at every opening,
// whatever angle is in force; "Update Target" applies it.
#pragma once

#include "ui/dialogs/tool_dialog.h"

namespace tessara {

class CCylinderDlg : public CToolDialog {
  Q_OBJECT
 public:
  enum : int { kAngle = 1077, kUpdate = 1076 };
  explicit CCylinderDlg(QWidget* parent);

  int m_nAnglePos = 0;

 protected:
  void OnQuit() override { BringTargetForward(); }

 private:
  void OnMoved();
  void OnUpdateTarget();

  QSlider* m_pAngle = nullptr;
};

}  // namespace tessara
