// The child windows of the main frame. Each frame shows one document, owned by
// the program's CDocuments, which the frame asks to close it when it goes; it
// owns its one view, and is the third stop of a command's route (after the view
// and the document). A source stops counting as loaded when its window starts
// to go; the Target and Align windows cannot be closed while the program runs.
#pragma once

#include <QMdiSubWindow>
#include <memory>

#include "ui/common/commands.h"

namespace tessara {

class CDocuments;
class CTessaraDoc;
class CTessaraView;
class CDestdoc;
class CDestview;
class CAlignDoc;
class CAlignview;

class CMdiChild : public QMdiSubWindow, public CCmdTarget {
  Q_OBJECT
 public:
  explicit CMdiChild(QWidget* parent = nullptr);
  // The view and its document's commands, first on the route.
  virtual CCmdTarget* ViewTarget() = 0;
  virtual CCmdTarget* DocumentTarget() { return nullptr; }
  // The view gains or loses the active state.
  virtual void ActivateView(bool activate) = 0;
  // The anchor of this window's part of the help page.
  virtual QString HelpAnchor() const = 0;
};

// A Source Window.
class CChildFrame : public CMdiChild {
  Q_OBJECT
 public:
  // Shows a source just opened in `documents`, and makes the view. A source
  // put back by undo (`restored`) keeps the undo history.
  CChildFrame(CDocuments& documents, CTessaraDoc& doc, bool restored = false);
  // The view goes first (it resets the session and renumbers), then the count,
  // then the document.
  ~CChildFrame() override;
  CTessaraView* View() const { return m_pView; }
  CTessaraDoc* Document() const { return m_pDoc; }
  CCmdTarget* ViewTarget() override;
  void ActivateView(bool activate) override;
  QString HelpAnchor() const override { return QStringLiteral("source-windows"); }
  // "Source 1: " or "Source 2: " and the file's name.
  void UpdateCaption();
  // The picture is loaded: from now on closing the window is a step the user
  // can undo.
  void SetLoaded() { m_bLoaded = true; }

 private:
  CDocuments& m_documents;
  CTessaraDoc* m_pDoc;
  CTessaraView* m_pView = nullptr;
  int m_nTitleListener = 0;
  bool m_bLoaded = false;
};

// The Target Window.
class CDestchild : public CMdiChild {
  Q_OBJECT
 public:
  CDestchild(CDocuments& documents, CDestdoc& doc);
  ~CDestchild() override;
  CDestview* View() const { return m_pView; }
  CCmdTarget* ViewTarget() override;
  CCmdTarget* DocumentTarget() override;
  void ActivateView(bool) override {}
  QString HelpAnchor() const override { return QStringLiteral("target-window"); }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  CDocuments& m_documents;
  CDestdoc* m_pDoc;
  CDestview* m_pView = nullptr;
  std::unique_ptr<CCmdTarget> m_pDocCommands;
};

// The Align Window.
class CAlignChildWnd : public CMdiChild {
  Q_OBJECT
 public:
  CAlignChildWnd(CDocuments& documents, CAlignDoc& doc);
  ~CAlignChildWnd() override;
  CAlignview* View() const { return m_pView; }
  CCmdTarget* ViewTarget() override;
  void ActivateView(bool activate) override;
  QString HelpAnchor() const override { return QStringLiteral("align-window"); }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  CDocuments& m_documents;
  CAlignDoc* m_pDoc;
  CAlignview* m_pView = nullptr;
};

}  // namespace tessara
