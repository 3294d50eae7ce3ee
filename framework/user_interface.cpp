#include "framework/user_interface.h"

#include <algorithm>
#include <cstdio>

namespace tessara {

namespace {
HeadlessUserInterface g_defaultUi;
IUserInterface* g_pUi = &g_defaultUi;
}  // namespace

bool UserWantsToStop() {
  IUserInterface& ui = UserInterface();
  return ui.IsSpaceBarDown() && ui.AskYesNo(kStopQuestion);
}

void HeadlessUserInterface::ShowMessage(const std::string& text) {
  m_messages.push_back(text);
  if (m_bEchoToStderr) std::fprintf(stderr, "%s\n", text.c_str());
}

bool HeadlessUserInterface::AskYesNo(const std::string& text) {
  m_questions.push_back(text);
  if (m_answers.empty()) return false;
  bool yes = m_answers.front();
  m_answers.pop_front();
  return yes;
}

void HeadlessUserInterface::SetPaneText(StatusPane pane, const std::string& text) {
  m_panes[pane] = text;
  m_paneHistory[pane].push_back(text);
}

void HeadlessUserInterface::ShowProgress(ProgressColour colour, int percent) {
  m_progress.push_back({colour, percent});
}

bool HeadlessUserInterface::IsSpaceBarDown() {
  ++m_nSpacePolls;
  auto it = std::find(m_spacePolls.begin(), m_spacePolls.end(), m_nSpacePolls);
  if (it == m_spacePolls.end()) return false;
  m_spacePolls.erase(it);
  return true;
}

void HeadlessUserInterface::Clear() {
  m_messages.clear();
  m_questions.clear();
  for (int i = 0; i < 4; ++i) {
    m_panes[i].clear();
    m_paneHistory[i].clear();
  }
  m_progress.clear();
  m_spacePolls.clear();
  m_answers.clear();
  m_nSpacePolls = 0;
  m_nToolDialogRefreshes = 0;
}

IUserInterface& UserInterface() { return *g_pUi; }

void SetUserInterface(IUserInterface* ui) { g_pUi = ui ? ui : &g_defaultUi; }

void ShowMessage(const std::string& text) { g_pUi->ShowMessage(text); }

}  // namespace tessara
