#include "framework/document.h"

#include <vector>

#include "framework/user_interface.h"

namespace tessara {

void CDocument::SetTitle(const std::string& title) {
  if (title == m_strTitle) return;
  m_strTitle = title;
  Notify(DocumentEvent::kTitleChanged);
}

int CDocument::AddListener(Listener listener) {
  m_listeners[m_nNextKey] = std::move(listener);
  return m_nNextKey++;
}

void CDocument::RemoveListener(int key) { m_listeners.erase(key); }

void CDocument::Notify(DocumentEvent event) {
  // A listener may remove itself while being told.
  std::vector<Listener> listeners;
  for (auto& [key, l] : m_listeners) listeners.push_back(l);
  // The listeners are windows: work on a thread of its own tells them there.
  UserInterface().OnWindowThread([&] {
    for (auto& l : listeners) l(event);
  });
}

}  // namespace tessara
