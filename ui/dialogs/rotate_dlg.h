// The Rotate Source Image dialog: whole-degree angles and the cut-corner flags
// of both sources. "Update" applies them (preparing only a source whose values
// changed) and rebuilds the Align preview; "Quit" checks the fields and closes;
// Escape and the close box close without looking at the fields. While its
// loop waits for input it shows which picture is source 1 and which source 2.
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace tessara {

class CSourceLine;

namespace rotate_text {
inline constexpr const char* kTitle = "Rotate Source Image";
inline constexpr const char* kRotate1 = "Rotate Source 1 in degrees";
inline constexpr const char* kRotate2 = "Rotate Source 2 in degrees";
inline constexpr const char* kCut1 = "Cut corners Src 1";
inline constexpr const char* kCut2 = "Cut corners Src 2";
inline constexpr const char* kUpdate = "Update";
inline constexpr const char* kQuit = "Quit";
}  // namespace rotate_text

// Angles accepted by the dialog.
inline constexpr int kMinAngle = -179;
inline constexpr int kMaxAngle = 180;

class CRotateDlg : public QDialog {
  Q_OBJECT
 public:
  enum ControlId {
    kIdAngle1 = 1004,
    kIdAngle2 = 1006,
    kIdCut1 = 1030,
    kIdCut2 = 1031,
    kIdUpdate = 1018,
    kIdQuit = 1,
    kIdSourceLine1 = 1068,
    kIdSourceLine2 = 1069,
  };

  // Built with everything 0, then loaded from the session.
  explicit CRotateDlg(QWidget* parent = nullptr);

  // Stores the fields into the members (true) or the members into the fields
  // (false). A bad angle is reported, gets the focus back, and stops the
  // storing: false.
  bool UpdateData(bool save);
  // The dialog's loop waits for input: show the source lines.
  void OnKickIdle();
  // The control of a given id, for the window tests.
  QWidget* Control(int id) const;

  int m_nAngle1 = 0;
  int m_nAngle2 = 0;
  int m_bCut1 = 0;
  int m_bCut2 = 0;

 private:
  void OnInitDialog();
  void OnUpdate();
  void OnQuit();
  void OnCutClicked();
  bool StoreAngle(QLineEdit* edit, int& value);

  QLineEdit* m_pAngle1 = nullptr;
  QLineEdit* m_pAngle2 = nullptr;
  QCheckBox* m_pCut1 = nullptr;
  QCheckBox* m_pCut2 = nullptr;
  QPushButton* m_pUpdate = nullptr;
  QPushButton* m_pQuit = nullptr;
  CSourceLine* m_pSourceLine1 = nullptr;
  CSourceLine* m_pSourceLine2 = nullptr;
};

}  // namespace tessara
