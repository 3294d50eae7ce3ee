// How the engine reaches the user in the desktop program: message boxes titled
// "Tessara", the status panes painted at once, and the keyboard during long
// work. Long work runs on a worker thread (long_work.h): whatever it says here
// is handed to the window thread. Meanwhile the program keeps handling its
// other events (so windows repaint and the progress shows) but throws typed
// keys and mouse clicks away, and watches the stop keys (the space bar and
// Escape), whose state is the only way to stop.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <optional>

#include "framework/user_interface.h"

class QKeyEvent;
class QMessageBox;
class QWidget;

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
  void OnWindowThread(const std::function<void()>& task) override;
  // The space bar or Escape: either stops long work. Only keys pressed on the
  // keyboard count, and only while the keyboard still has them down where the
  // window system can say (a release can go astray).
  bool IsSpaceBarDown() override;
  void RefreshToolDialogs() override;

  // For the window tests: the space bar read as held (or not).
  void SetSpaceBarDown(bool down) { m_bSpaceDown = down; }
  // For the window tests: what the keyboard says about a key (see
  // keyboard_state.h); an empty function restores the real one.
  void SetKeyboardQueryForTest(std::function<std::optional<bool>(int)> query);

  static CQtUserInterface* Instance() { return s_pInstance; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // True when `key` is a repetition of a held key rather than a press or
  // release of the user's own.
  bool IsRepeat(const QKeyEvent& key) const;
  // Keeps the events of a held stop key from the windows; true when `key` is
  // to be thrown away.
  bool HoldStopKey(const QKeyEvent& key);

  static CQtUserInterface* s_pInstance;
  std::function<std::optional<bool>(int)> m_keyboardQuery;
  // Written by the window thread, read by the worker's stop checks too.
  std::atomic<bool> m_bSpaceDown = false;
  std::atomic<bool> m_bEscapeDown = false;
  // The stop key that brought up the question, 0 when none is held: none of
  // its events reach any window (the question's buttons, or the button that
  // started the work once the question is gone) until it is released and
  // pressed again.
  int m_nHeldKey = 0;
  bool m_bHeldKeyReleased = false;
  unsigned long long m_nHeldReleaseTime = 0;
  // While the question is up.
  bool m_bAsking = false;
  // The last key released, and when: the X server repeats a held key as a
  // release and a press with the same time, which Qt does not always mark as
  // a repetition.
  int m_nLastReleasedKey = 0;
  unsigned long long m_nLastReleaseTime = 0;
  bool m_bLastReleaseKnown = false;
};

// A message box of the program: title "Tessara", the text, and the buttons.
// Its default button is `defaultButton`, or Yes when that is 0 and the box has
// one. It stands over `parent`, or over the main frame when that is null.
int ShowMessageBox(const QString& text, int buttons, int icon, int defaultButton = 0, QWidget* parent = nullptr);

}  // namespace tessara
