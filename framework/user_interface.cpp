#include "framework/user_interface.h"

#include <cstdio>

namespace tessara {

namespace {
HeadlessUserInterface g_defaultUi;
IUserInterface* g_pUi = &g_defaultUi;
}  // namespace

void HeadlessUserInterface::ShowMessage(const std::string& text) {
  m_messages.push_back(text);
  if (m_bEchoToStderr) std::fprintf(stderr, "%s\n", text.c_str());
}

IUserInterface& UserInterface() { return *g_pUi; }

void SetUserInterface(IUserInterface* ui) { g_pUi = ui ? ui : &g_defaultUi; }

void ShowMessage(const std::string& text) { g_pUi->ShowMessage(text); }

}  // namespace tessara
