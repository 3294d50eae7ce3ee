// What every tool dialog of the Target Window shares: it is modeless and alone
// of its kind, registered in its process-wide reference while it exists; its
// controls are placed in dialog units; "Quit" (its default button), the close
// box and Escape all end it, which clears the reference so that the Target
// menu can open a fresh one.
#pragma once

#include <QDialog>
#include <QMap>
#include <QPointer>

#include "ui/dialogs/dialog_controls.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;

namespace tessara {

class CDestdoc;

class CToolDialog : public QDialog {
  Q_OBJECT
 public:
  // Enters `*slot` at once; width and height in dialog units.
  CToolDialog(QDialog** slot, const char* title, int widthDu, int heightDu, QWidget* parent);
  ~CToolDialog() override;

  // The alignment changed in the Align Window: take it up (most dialogs have
  // nothing to do).
  virtual void RefreshFromSession() {}
  // Draws the names of both sources into the dialog's source lines, if it has
  // them.
  virtual void PaintSourceNames() {}

  // Ends the dialog: its reference is cleared now, the window goes at once and
  // the object as soon as the event that asked for it has been handled.
  void Quit();

  // A control by its number in the dialog (1 is "Quit").
  QWidget* Control(int id) const { return m_controls.value(id); }
  template <class T>
  T* ControlAs(int id) const {
    return qobject_cast<T*>(Control(id));
  }
  QPushButton* UpdateButton() const { return m_pUpdate; }
  const CDialogUnits& Units() const { return m_units; }

 protected:
  // Run by Quit before the dialog goes (several bring the Target Window up).
  virtual void OnQuit() {}
  // Builds the Target as long work (the dialog cannot close meanwhile): 1 when
  // it was built.
  int RunGenerateTarget(CDestdoc& doc);
  void reject() override;
  void closeEvent(QCloseEvent* event) override;

  // Control makers: place in dialog units, register the number (0 for the
  // unnumbered ones).
  QLabel* AddStatic(const char* text, int x, int y, int w, int h, Qt::Alignment align = Qt::AlignLeft,
                    StaticFrame frame = StaticFrame::kNone);
  QWidget* AddFrame(StaticFrame frame, int x, int y, int w, int h);
  QPushButton* AddButton(int id, const char* text, int x, int y, int w, int h);
  // The "Update Target" button; enabled at first.
  QPushButton* AddUpdateButton(int id, int x, int y, int w, int h);
  // "Quit", number 1, the default button.
  QPushButton* AddQuitButton(int x, int y, int w, int h);
  QRadioButton* AddRadio(int id, const char* text, int x, int y, int w, int h);
  QCheckBox* AddCheck(int id, const char* text, int x, int y, int w, int h);
  // A horizontal trackbar; `ticks` puts marks at both ends on both sides.
  QSlider* AddSlider(int id, int x, int y, int w, int h, bool ticks);
  QLineEdit* AddEdit(int id, int x, int y, int w, int h);
  CSourceLine* AddSourceLine(int id, int x, int y, int w, int h);
  // A spin button with the small "Static" label before it as its buddy.
  CSpinButton* AddSpin(int id, Qt::Orientation orientation, int x, int y, int w, int h, QRect buddyDu);
  CDirectionStatic* AddDirection(int id, int x, int y, int w, int h);

  void EnableUpdate(bool enable);
  // Writes "Source 1:  <title>" and "Source 2:  <title>" into two lines.
  static void PaintSourceNamesInto(CSourceLine* line1, CSourceLine* line2);
  // Starts the one-second timer that paints the source names again.
  void StartSourceNameTimer();
  static void BringTargetForward();
  static CDestdoc* Session();

 private:
  void Register(int id, QWidget* control);

  QDialog** m_pSlot;
  CDialogUnits m_units;
  QMap<int, QWidget*> m_controls;
  QPushButton* m_pUpdate = nullptr;
  bool m_bQuitting = false;
};

}  // namespace tessara
