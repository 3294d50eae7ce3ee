// "Contrast and Brightness": two trackbars for the tone curve the Target is
// built with (contrast 0..32, 16 neutral; brightness 0..255, 128 neutral). The
// trackbars only take effect with "Update Target"; "Set Defaults" puts them back
// to neutral without touching the session.
#pragma once

#include "ui/dialogs/tool_dialog.h"

namespace tessara {

class CContrastDlg : public CToolDialog {
  Q_OBJECT
 public:
  enum : int { kContrast = 1073, kBrightness = 1074, kSetDefaults = 1019, kUpdate = 1034 };
  explicit CContrastDlg(QWidget* parent);

  int m_nContrastPos = 16;
  int m_nBrightnessPos = 128;

 protected:
  void OnQuit() override { BringTargetForward(); }

 private:
  void OnMoved();
  void OnSetDefaults();
  void OnUpdateTarget();

  QSlider* m_pContrast = nullptr;
  QSlider* m_pBrightness = nullptr;
};

}  // namespace tessara
