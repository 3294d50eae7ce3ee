// The document side of the document/view pattern without any window system:
// a title and a path, and listeners (the views) that the document tells when to
// update, when to repaint at once, and when its title changed.
#pragma once

#include <functional>
#include <map>
#include <string>

namespace tessara {

enum class DocumentEvent {
  kTitleChanged,   // GetTitle() has a new text
  kUpdateViews,    // views should update from the document
  kRedrawNow,      // views should repaint at once (erase, paint, no waiting)
  kShowGenerateButton,
  kHideGenerateButton,
};

class CDocument {
 public:
  using Listener = std::function<void(DocumentEvent)>;

  CDocument() = default;
  virtual ~CDocument() = default;
  CDocument(const CDocument&) = delete;
  CDocument& operator=(const CDocument&) = delete;

  const std::string& GetTitle() const { return m_strTitle; }
  void SetTitle(const std::string& title);
  const std::string& GetPathName() const { return m_strPathName; }
  void SetPathName(const std::string& path) { m_strPathName = path; }

  // Returns a key for RemoveListener.
  int AddListener(Listener listener);
  void RemoveListener(int key);

  void UpdateAllViews() { Notify(DocumentEvent::kUpdateViews); }
  void RedrawViewsNow() { Notify(DocumentEvent::kRedrawNow); }

 protected:
  void Notify(DocumentEvent event);

 private:
  std::string m_strTitle;
  std::string m_strPathName;
  std::map<int, Listener> m_listeners;
  int m_nNextKey = 1;
};

}  // namespace tessara
