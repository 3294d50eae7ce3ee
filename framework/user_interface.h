// The services through which documents and the engine reach the user. The core
// never talks to a window system: the desktop program installs an implementation
// backed by real message boxes and the status bar, while tests and the batch
// tool install the headless one, which records every message, pane text and
// progress step, and answers questions and the space bar from a script.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace tessara {

// The application title shown on every message box.
inline constexpr const char* kAppTitle = "Tessara";

// The four panes of the status line, in order.
enum StatusPane { kPaneMessage = 0, kPaneZoneSize = 1, kPaneProcess = 2, kPaneProgress = 3 };

// A colour for the progress pane, red, green, blue; `none` means the pane's own
// background.
struct ProgressColour {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  bool none = false;
  bool operator==(const ProgressColour&) const = default;
};

class IUserInterface {
 public:
  virtual ~IUserInterface() = default;
  // A message box with the application title and one OK button.
  virtual void ShowMessage(const std::string& text) = 0;
  // A question with Yes and No buttons; true for Yes.
  virtual bool AskYesNo(const std::string& text) = 0;
  // Replaces the text of a status pane at once (painted during long work).
  virtual void SetPaneText(StatusPane pane, const std::string& text) = 0;
  // Fills the progress pane from its left edge over `percent` of its width.
  virtual void ShowProgress(ProgressColour colour, int percent) = 0;
  // Whether the space bar is held down now.
  virtual bool IsSpaceBarDown() = 0;
  // Runs `task` where the windows live and returns once it has run. Long work
  // may run on a thread of its own; what it tells the windows (a document's
  // notifications) goes through here.
  virtual void OnWindowThread(const std::function<void()>& task) { task(); }
  // Brings the open tool dialogs up to date with the session (they have none
  // without windows).
  virtual void RefreshToolDialogs() {}
};

// Records everything; used by tests and the batch tool.
class HeadlessUserInterface : public IUserInterface {
 public:
  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  void SetPaneText(StatusPane pane, const std::string& text) override;
  void ShowProgress(ProgressColour colour, int percent) override;
  bool IsSpaceBarDown() override;
  void RefreshToolDialogs() override { ++m_nToolDialogRefreshes; }
  int m_nToolDialogRefreshes = 0;

  const std::vector<std::string>& Messages() const { return m_messages; }
  std::string LastMessage() const { return m_messages.empty() ? std::string() : m_messages.back(); }
  const std::vector<std::string>& Questions() const { return m_questions; }
  const std::string& PaneText(StatusPane pane) const { return m_panes[pane]; }
  // Every text each pane was given, in order.
  const std::vector<std::string>& PaneHistory(StatusPane pane) const { return m_paneHistory[pane]; }
  struct Progress {
    ProgressColour colour;
    int percent;
  };
  const std::vector<Progress>& ProgressSteps() const { return m_progress; }
  void Clear();

  // Script: the space bar reads as down at the given poll numbers (1 = the
  // first poll), and each question takes the next answer (No when none is left).
  void PressSpaceAtPoll(int poll) { m_spacePolls.push_back(poll); }
  void QueueAnswer(bool yes) { m_answers.push_back(yes); }
  int SpacePolls() const { return m_nSpacePolls; }

  // When set, each message is also written to standard error (the batch tool).
  bool m_bEchoToStderr = false;

 private:
  std::vector<std::string> m_messages;
  std::vector<std::string> m_questions;
  std::string m_panes[4];
  std::vector<std::string> m_paneHistory[4];
  std::vector<Progress> m_progress;
  std::deque<int> m_spacePolls;
  std::deque<bool> m_answers;
  int m_nSpacePolls = 0;
};

// The implementation in use. A headless one is in place until another is set.
IUserInterface& UserInterface();
// Installs `ui` (not owned); null puts the built-in headless one back.
void SetUserInterface(IUserInterface* ui);

// The question asked when a stop key is down during long work.
inline constexpr const char* kStopQuestion = "Do you really want to quit ?";
// The stop check of long work: when the space bar is down, asks the stop
// question. True when the user wants to stop.
bool UserWantsToStop();

// Shorthand for UserInterface().ShowMessage(text).
void ShowMessage(const std::string& text);
inline void RefreshToolDialogs() { UserInterface().RefreshToolDialogs(); }

}  // namespace tessara
