#include "ui/shell/tessara_app.h"

#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QSettings>
#include <QUndoStack>

#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "engine/tessara_doc.h"
#include "framework/registry.h"
#include "framework/settings.h"
#include "ui/common/align_undo.h"
#include "ui/common/file_dialog.h"
#include "ui/common/long_work.h"
#include "ui/common/modal.h"
#include "ui/common/qt_settings.h"
#include "ui/common/qt_user_interface.h"
#include "ui/common/ui_registry.h"
#include "ui/dialogs/about_dialog.h"
#include "ui/shell/child_frames.h"
#include "ui/shell/main_frame.h"
#include "ui/shell/source_undo.h"
#include "ui/views/align_view.h"
#include "ui/views/destview.h"
#include "ui/views/tessara_view.h"

namespace tessara {

CTessaraApp* g_pApp = nullptr;
int CTessaraApp::s_nDisplayColours = -1;

QPrinter& ProgramPrinter() { return g_pApp->Printer(); }
int ProgramPreviewPages() { return g_pApp ? g_pApp->PreviewPages() : 0; }

CTessaraApp::CTessaraApp() { g_pApp = this; }

CTessaraApp::~CTessaraApp() {
  // Windows first (sources before the fixed windows), while the services they
  // report through still exist.
  m_pMainFrame.reset();
  m_pSourceTemplate.reset();
  m_pTargetTemplate.reset();
  m_pAlignTemplate.reset();
  SetUserInterface(nullptr);
  m_pUi.reset();
  SetSettingsStore(nullptr);
  m_pSettings.reset();
  for (int i = 0; i < 2; ++i) g_pSourceViews[i] = nullptr, g_pSourceFrames[i] = nullptr;
  if (g_pApp == this) g_pApp = nullptr;
}

QPrinter& CTessaraApp::Printer() {
  if (!m_pPrinter) m_pPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
  return *m_pPrinter;
}

int CTessaraApp::DisplayColours() {
  if (s_nDisplayColours >= 0) return s_nDisplayColours;
  const QScreen* screen = QGuiApplication::primaryScreen();
  // A palette display has a colour table of 2^depth entries; deeper displays
  // have none.
  if (screen && screen->depth() > 0 && screen->depth() <= 8) return 1 << screen->depth();
  return 0;
}

bool CTessaraApp::InitInstance() {
  // The settings store, and the recent files and preview pages it keeps.
  m_pSettings = std::make_unique<CQtSettingsStore>();
  SetSettingsStore(m_pSettings.get());
  m_recent.Load();
  m_nPreviewPages = QSettings(kCompanyKey, kApplicationName).value(QStringLiteral("Settings/PreviewPages"), 0).toInt();
  m_pUi = std::make_unique<CQtUserInterface>();
  SetUserInterface(m_pUi.get());

  m_pSourceTemplate = std::make_unique<CDocTemplate>(129, [this](const QString& path) { return MakeSource(path); });
  m_pTargetTemplate = std::make_unique<CDocTemplate>(150, [this](const QString&) { return MakeTarget(); });
  m_pAlignTemplate = std::make_unique<CDocTemplate>(149, [this](const QString&) { return MakeAlign(); });

  m_pMainFrame = std::make_unique<CMainFrame>();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    m_pMainFrame->resize(area.width() * 9 / 10, area.height() * 9 / 10);
  }
  // Sources named on the command line are opened once start-up is over.
  m_pMainFrame->show();
  m_pMainFrame->repaint();

  if (DisplayColours() > 0) ShowMessage(app_text::kTrueColourNote);

  for (int i = 0; i < 2; ++i) g_pSourceViews[i] = nullptr, g_pSourceFrames[i] = nullptr;

  if (!m_pTargetTemplate->OpenDocumentFile(QString())) return false;
  if (!m_pAlignTemplate->OpenDocumentFile(QString())) return false;
  m_pMainFrame->RaiseAlignWindow();
  return true;
}

CMdiChild* CTessaraApp::MakeTarget() {
  auto* frame = new CDestchild(m_documents, m_documents.MakeTarget());
  m_pMainFrame->AddChild(frame);
  frame->View()->OnInitialUpdate();
  return frame;
}

CMdiChild* CTessaraApp::MakeAlign() {
  auto* frame = new CAlignChildWnd(m_documents, m_documents.MakeAlign());
  m_pMainFrame->AddChild(frame);
  frame->View()->OnInitialUpdate();
  return frame;
}

CMdiChild* CTessaraApp::MakeSource(const QString& path) {
  // Document (counted as a source from here), then frame, then view; only
  // then is the file read, and a failed read takes all three down again.
  CTessaraDoc* doc = m_documents.OpenSource();
  if (!doc) return nullptr;  // both slots taken: the callers never ask for a third
  auto* frame = new CChildFrame(m_documents, *doc);
  const std::string file = path.toStdString();
  CTessaraDoc* loading = frame->Document();
  const bool loaded = RunLongWork([&] { return loading->OnOpenDocument(file); });
  m_bLastLoadStopped = frame->Document()->m_bLoadStopped;
  if (!loaded) {
    delete frame;
    return nullptr;
  }
  m_recent.Add(path);
  frame->SetLoaded();
  frame->UpdateCaption();
  frame->View()->OnInitialUpdate();
  m_pMainFrame->AddChild(frame);
  return frame;
}

CChildFrame* CTessaraApp::OpenDocumentFile(const QString& path) {
  return static_cast<CChildFrame*>(m_pSourceTemplate->OpenDocumentFile(path));
}

void CTessaraApp::OnFileOpen() {
  if (g_nSourcesLoaded > 1) {
    ShowMessage(app_text::kTwoSourcesOnly);
    return;
  }
  CMyfiledialog dialog(true, kOpenFilter);
  ISettingsStore& store = Settings();
  const std::string dir = store.GetString(settings_key::kConfigure, settings_key::kLastOpenDirectory, "");
  if (!dir.empty()) dialog.setDirectory(QString::fromStdString(dir));
  const int filter = store.GetInt(settings_key::kConfigure, settings_key::kLastOpenExtension, 0);
  dialog.SetFilterIndex(OpenFilterToShow(filter));
  dialog.setWindowTitle(QString::fromUtf8(app_text::kOpenTitle) + (g_nSourcesLoaded == 0 ? "1" : "2"));
  if (ExecModal(dialog) != QDialog::Accepted) return;
  const QString path = dialog.GetPathName();
  if (path.isEmpty()) return;
  OpenDocumentFile(path);
  // Remembered whatever the outcome of the load.
  store.WriteInt(settings_key::kConfigure, settings_key::kLastOpenExtension, OpenFilterToRemember(dialog.GetFilterIndex()));
  store.WriteString(settings_key::kConfigure, settings_key::kLastOpenDirectory,
                    DirectoryOfPath(path, dialog.GetFileName()).toStdString());
  ShowAlignAfterOpen();
}

void CTessaraApp::ShowAlignAfterOpen() {
  m_pMainFrame->RaiseAlignWindow();
  if (g_nSourcesLoaded == 2 && g_pAlignView) g_pAlignView->DeleteLoadButton();
}

void CTessaraApp::OpenSourceFiles(const QStringList& paths) {
  if (paths.isEmpty()) return;
  for (const QString& path : paths) {
    if (g_nSourcesLoaded > 1) {
      ShowMessage(app_text::kTwoSourcesOnly);
      break;
    }
    // Remembered among the recent files by where it is, not where the
    // program was started.
    OpenDocumentFile(QFileInfo(path).absoluteFilePath());
  }
  ShowAlignAfterOpen();
}

void CTessaraApp::OnOpenRecentFile(int index) {
  if (g_nSourcesLoaded > 1) {
    ShowMessage(app_text::kTwoSourcesOnly);
    return;
  }
  if (index < 0 || index >= m_recent.Files().size()) return;
  const QString path = m_recent.Files()[index];
  // A file that failed to load leaves the list; one whose load the user
  // stopped stays.
  if (!OpenDocumentFile(path) && !m_bLastLoadStopped) m_recent.Remove(m_recent.Files().indexOf(path));
  ShowAlignAfterOpen();
}

void CTessaraApp::OnDeleteSource(int n) {
  CChildFrame* frame = g_pSourceFrames[n - 1];
  // Closed and gone before the command returns.
  if (frame && frame->close()) delete frame;
  if (n == 2) g_pSourceFrames[1] = nullptr;
}

void CTessaraApp::OnUseTargetAsSource1() {
  CDestdoc* session = g_pDestDoc;
  CTessaraDoc* first = m_documents.Source(1);
  QUndoStack* stack = AlignUndoStack();
  if (g_nSourcesLoaded != 2 || !session || !first || !session->m_pTarget || !session->m_bUpToDate || !stack) return;
  SampleCoverage coverage;
  DibPtr joined = session->TakeTargetAsPicture(coverage);
  // Source 1's colour profile and camera data go on with the join; the
  // deleted source keeps its own for Undo.
  PictureMetadata metadata = first->m_metadata;
  const std::string title = "Target (" + first->GetTitle() + " + " + m_documents.Source(2)->GetTitle() + ")";
  stack->beginMacro(QString::fromUtf8(source_undo_text::kUseTargetAsSource1));
  OnDeleteSource(2);
  OnDeleteSource(1);
  CTessaraDoc* doc = m_documents.OpenSource();
  if (doc) {
    doc->TakePicture(std::move(joined), std::move(coverage), std::move(metadata), title);
    auto* frame = new CChildFrame(m_documents, *doc, true);
    m_pMainFrame->UpdateSourceCaptions();
    frame->View()->OnInitialUpdate();
    m_pMainFrame->AddChild(frame);
    stack->push(new CJoinedSourceCommand);
  }
  stack->endMacro();
  if (g_pDestDoc) g_pDestDoc->MarkNeedsUpdate();
  ShowAlignAfterOpen();
}

CChildFrame* CTessaraApp::RestoreSource(std::unique_ptr<CTessaraDoc> doc, int n, bool pair,
                                        const AlignSettings& alignment) {
  if (!doc || g_nSourcesLoaded >= 2) return nullptr;
  const bool other = g_nSourcesLoaded == 1;
  CTessaraDoc* back = m_documents.PutBackSource(std::move(doc), n);
  if (!back) return nullptr;
  // Back in front of the other source, which is source 2 again.
  if (other && m_documents.SlotOf(*back) == 0) {
    g_pSourceFrames[1] = g_pSourceFrames[0];
    g_pSourceViews[1] = g_pSourceViews[0];
    g_pSourceFrames[0] = nullptr;
    g_pSourceViews[0] = nullptr;
    if (CTessaraView* moved = g_pSourceViews[1]) {
      moved->m_nSource = 2;
      moved->viewport()->update();
    }
  }
  // The alignment is in the session before the pair is prepared for it.
  if (pair && g_pDestDoc) PutAlignSettings(*g_pDestDoc, alignment);
  auto* frame = new CChildFrame(m_documents, *back, true);
  m_pMainFrame->UpdateSourceCaptions();
  frame->View()->OnInitialUpdate();
  m_pMainFrame->AddChild(frame);
  if (g_pDestDoc) g_pDestDoc->MarkNeedsUpdate();
  ShowAlignAfterOpen();
  return frame;
}

bool CTessaraApp::OnUpdateCommand(int id, bool& enabled) {
  if (id >= cmd::kFileMru1 && id <= cmd::kFileMru16) {
    enabled = true;
    return true;
  }
  switch (id) {
    case cmd::kFileOpen:
    case cmd::kFilePrintSetup:
    case cmd::kViewAlign:
    case cmd::kViewTarget:
    case cmd::kViewTargetKey:
    case cmd::kAppAbout:
    case cmd::kTurnByOrientation:
    case cmd::kKeepCameraData:
      enabled = true;
      return true;
    case cmd::kDeleteSource1:
    case cmd::kViewSource1:
      enabled = g_nSourcesLoaded > 0;
      return true;
    case cmd::kDeleteSource2:
    case cmd::kViewSource2:
      enabled = g_nSourcesLoaded == 2;
      return true;
    case cmd::kUseTargetAsSource1:
      enabled = g_nSourcesLoaded == 2 && g_pDestDoc && g_pDestDoc->m_pTarget && g_pDestDoc->m_bUpToDate;
      return true;
    default:
      return false;
  }
}

namespace {

// The setting a command of the Options menu turns on and off.
const char* OptionKey(int id) {
  switch (id) {
    case cmd::kTurnByOrientation: return settings_key::kTurnByOrientation;
    case cmd::kKeepCameraData: return settings_key::kKeepCameraData;
    default: return nullptr;
  }
}

}  // namespace

bool CTessaraApp::IsCommandChecked(int id) {
  const char* key = OptionKey(id);
  return key && Settings().GetInt(settings_key::kConfigure, key, 1) != 0;
}

void CTessaraApp::OnCommand(int id) {
  if (const char* key = OptionKey(id)) {
    // Written at once: the loader and the saver read the store itself, and the
    // choice outlives the program.
    Settings().WriteInt(settings_key::kConfigure, key, IsCommandChecked(id) ? 0 : 1);
    return;
  }
  if (id >= cmd::kFileMru1 && id <= cmd::kFileMru16) {
    OnOpenRecentFile(id - cmd::kFileMru1);
    return;
  }
  switch (id) {
    case cmd::kFileOpen: OnFileOpen(); break;
    case cmd::kFilePrintSetup: {
      // The page set-up dialog serves only the platform's printers; with none
      // (printing to a file) the print dialog chooses the printer and options.
      if (Printer().outputFormat() == QPrinter::NativeFormat) {
        QPageSetupDialog dialog(&Printer(), m_pMainFrame.get());
        ExecModal(dialog);
      } else {
        QPrintDialog dialog(&Printer(), m_pMainFrame.get());
        dialog.setWindowTitle(QStringLiteral("Print Setup"));
        ExecModal(dialog);
      }
      break;
    }
    case cmd::kViewAlign: m_pMainFrame->RaiseAlignWindow(); break;
    case cmd::kViewTarget:
    case cmd::kViewTargetKey: m_pMainFrame->RaiseTargetWindow(); break;
    case cmd::kViewSource1: m_pMainFrame->RaiseChild(g_pSourceFrames[0]); break;
    case cmd::kViewSource2: m_pMainFrame->RaiseChild(g_pSourceFrames[1]); break;
    case cmd::kDeleteSource1: OnDeleteSource(1); break;
    case cmd::kDeleteSource2: OnDeleteSource(2); break;
    case cmd::kUseTargetAsSource1: OnUseTargetAsSource1(); break;
    case cmd::kAppAbout: {
      CAboutDialog about(m_pMainFrame.get());
      ExecModal(about);
      break;
    }
    default: break;
  }
}

}  // namespace tessara
