// CTessaraApp: start-up in its fixed order, the three kinds of document and how
// each is made, and the commands that belong to the whole program (opening
// sources, recent files, deleting a source, raising windows, print setup, the
// About box). Commands reach it last on their route.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "engine/align_history.h"
#include "engine/documents.h"
#include "ui/common/commands.h"
#include "ui/shell/recent_files.h"

class QPrinter;

namespace tessara {

class CMainFrame;
class CMdiChild;
class CChildFrame;
class CQtSettingsStore;
class CQtUserInterface;

namespace app_text {
inline constexpr const char* kTwoSourcesOnly = "No more than two source images allowed.";
inline constexpr const char* kTrueColourNote = "Please note that this program works best with your display set to true color.";
inline constexpr const char* kOpenTitle = "Open Source Window ";
}  // namespace app_text

// Makes a document of one kind with its frame and view; for sources, loads
// `path` into it (null when the load failed).
class CDocTemplate {
 public:
  using Maker = std::function<CMdiChild*(const QString& path)>;
  CDocTemplate(int resourceId, Maker maker) : m_nResourceId(resourceId), m_maker(std::move(maker)) {}
  int ResourceId() const { return m_nResourceId; }
  CMdiChild* OpenDocumentFile(const QString& path) { return m_maker(path); }

 private:
  int m_nResourceId;
  Maker m_maker;
};

class CTessaraApp : public QObject, public CCmdTarget {
  Q_OBJECT
 public:
  CTessaraApp();
  ~CTessaraApp() override;

  // Start-up; false ends the program.
  bool InitInstance();

  CRecentFileList& RecentFiles() { return m_recent; }
  QPrinter& Printer();
  int PreviewPages() const { return m_nPreviewPages; }

  // Opens `path` as the next source, with its window. Null when it failed (the
  // user has been told why).
  CChildFrame* OpenDocumentFile(const QString& path);
  // Opens files given from outside (the command line, a drop on the window)
  // as the next sources, each as File > Open opens the file chosen: the same
  // checks and messages, at most two sources.
  void OpenSourceFiles(const QStringList& paths);

  bool OnUpdateCommand(int id, bool& enabled) override;
  void OnCommand(int id) override;
  // The Options menu's settings: on unless the user turned them off.
  bool IsCommandChecked(int id) override;
  void OnFileOpen();
  void OnOpenRecentFile(int index);
  void OnDeleteSource(int n);
  // Target > Use Target as Source 1: the Target becomes source 1, with the
  // first source's colour profile and camera data and the record of its
  // background, and both sources close, as one step Edit > Undo takes back.
  void OnUseTargetAsSource1();
  // Edit > Undo of a deletion: `doc` back as source n with its window, and,
  // when it was one of a pair, the pair aligned as `alignment` says.
  CChildFrame* RestoreSource(std::unique_ptr<CTessaraDoc> doc, int n, bool pair, const AlignSettings& alignment);

  // For the window tests: the number of colour-table entries the display
  // reports (0 for a true-colour display); -1 asks the screen.
  static void SetDisplayColoursForTest(int colours) { s_nDisplayColours = colours; }

 private:
  CMdiChild* MakeSource(const QString& path);
  // After an open: the Align Window comes forward, without its load button
  // once both sources are there.
  void ShowAlignAfterOpen();
  CMdiChild* MakeTarget();
  CMdiChild* MakeAlign();
  static int DisplayColours();

  // Declared first, so it outlasts the windows that show its documents.
  CDocuments m_documents;
  std::unique_ptr<CQtSettingsStore> m_pSettings;
  std::unique_ptr<CQtUserInterface> m_pUi;
  std::unique_ptr<CMainFrame> m_pMainFrame;
  std::unique_ptr<QPrinter> m_pPrinter;
  CRecentFileList m_recent;
  // Whether the last source load was stopped by the user (not a failure).
  bool m_bLastLoadStopped = false;
  int m_nPreviewPages = 0;
  std::unique_ptr<CDocTemplate> m_pSourceTemplate;
  std::unique_ptr<CDocTemplate> m_pTargetTemplate;
  std::unique_ptr<CDocTemplate> m_pAlignTemplate;
  static int s_nDisplayColours;
};

extern CTessaraApp* g_pApp;

// The program's printer (shared by print, preview and print setup) and the
// number of pages the preview shows.
QPrinter& ProgramPrinter();
int ProgramPreviewPages();

}  // namespace tessara
