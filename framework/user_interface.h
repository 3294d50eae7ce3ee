// The services through which documents and the engine reach the user. The core
// never talks to a window system: the desktop program installs an implementation
// backed by real message boxes, while tests and the batch tool install the
// headless one, which records every message and answers questions from a script.
#pragma once

#include <deque>
#include <string>
#include <vector>

namespace tessara {

// The application title shown on every message box.
inline constexpr const char* kAppTitle = "Tessara";

class IUserInterface {
 public:
  virtual ~IUserInterface() = default;
  // A message box with the application title and one OK button.
  virtual void ShowMessage(const std::string& text) = 0;
};

// Records every message; used by tests and the batch tool.
class HeadlessUserInterface : public IUserInterface {
 public:
  void ShowMessage(const std::string& text) override;

  const std::vector<std::string>& Messages() const { return m_messages; }
  std::string LastMessage() const { return m_messages.empty() ? std::string() : m_messages.back(); }
  void Clear() { m_messages.clear(); }

  // When set, each message is also written to standard error (the batch tool).
  bool m_bEchoToStderr = false;

 private:
  std::vector<std::string> m_messages;
};

// The implementation in use. A headless one is in place until another is set.
IUserInterface& UserInterface();
// Installs `ui` (not owned); null puts the built-in headless one back.
void SetUserInterface(IUserInterface* ui);

// Shorthand for UserInterface().ShowMessage(text).
void ShowMessage(const std::string& text);

}  // namespace tessara
