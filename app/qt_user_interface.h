// How the engine reaches the user in the desktop program: message boxes titled
// "Tessara", the status panes painted at once, and the keyboard during long
// work. While an operation runs, the program keeps handling its other events
// (so windows repaint and the progress shows) but throws typed keys and mouse
// clicks away, and watches the space bar, whose state is the only way to stop.
#pragma once

#include <QObject>

#include "framework/user_interface.h"

class QMessageBox;

namespace tessara {

class CQtUserInterface : public QObject, public IUserInterface {
  Q_OBJECT
 public:
  CQtUserInterface();
  ~CQtUserInterface() override;

  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  void SetPaneText(StatusPane pane, const std::string& text) override;
  void ShowProgress(ProgressColour colour, int percent) override;
  void DiscardTypedKeys() override;
  bool IsSpaceBarDown() override { return m_bSpaceDown; }
  void RefreshToolDialogs() override;

  // For the window tests: the space bar read as held (or not).
  void SetSpaceBarDown(bool down) { m_bSpaceDown = down; }
  bool IsDiscarding() const { return m_nDiscarding > 0; }

  static CQtUserInterface* Instance() { return s_pInstance; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  static CQtUserInterface* s_pInstance;
  bool m_bSpaceDown = false;
  // The space bar that stopped an operation must not answer the question that
  // follows: its key events are kept from the box until it is released.
  bool m_bHoldSpaceFromBox = false;
  int m_nDiscarding = 0;
};

// Marks a stretch of work that may run long (preparing sources, building the
// Target, saving, printing): the main window refuses to close meanwhile, since
// the work still uses the documents that closing would destroy.
class CLongWork {
 public:
  CLongWork() { ++s_nDepth; }
  ~CLongWork() { --s_nDepth; }
  CLongWork(const CLongWork&) = delete;
  CLongWork& operator=(const CLongWork&) = delete;
  static bool Running() { return s_nDepth > 0; }

 private:
  static int s_nDepth;
};

// A message box of the program: title "Tessara", the text, and the buttons.
int ShowMessageBox(const QString& text, int buttons, int icon);

}  // namespace tessara
