// "Grid Lines": a solid grid and a dotted grid over the Target, each with its
// own spacing in pixels (2..1000), black or white. Nothing is applied until
// "Update Target", which first checks both spacing fields.
#pragma once

#include <QString>

#include "ui/dialogs/tool_dialog.h"

namespace tessara {

class CGridDlg : public CToolDialog {
  Q_OBJECT
 public:
  enum : int {
    kSolidSpacing = 1084,
    kSolidEnable = 1085,
    kDotSpacing = 1086,
    kDotEnable = 1083,
    kWhite = 1095,
    kUpdate = 1076,
  };
  static constexpr int kLowestSpacing = 2;
  static constexpr int kHighestSpacing = 1000;

  // Draws the grid in force into the Target straight away, so that the Target
  // Window shows what the fields refer to.
  explicit CGridDlg(QWidget* parent);

  int m_bSolid = 0;
  int m_nDotSpacing = 0;
  int m_nSolidSpacing = 0;
  int m_bDotted = 0;
  int m_bWhite = 0;

 private:
  void LoadControls();
  // Reads every control into the members; false (after saying why, with the
  // focus on the field) when a spacing is not acceptable.
  bool StoreControls();
  bool ReadSpacing(QLineEdit* field, int& value);
  void OnChanged() { EnableUpdate(true); }
  void OnUpdateTarget();

  QCheckBox* m_pSolid = nullptr;
  QLineEdit* m_pDotSpacing = nullptr;
  QLineEdit* m_pSolidSpacing = nullptr;
  QCheckBox* m_pDotted = nullptr;
  QCheckBox* m_pWhite = nullptr;
};

}  // namespace tessara
