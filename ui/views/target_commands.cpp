#include "ui/views/target_commands.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QShortcut>
#include <QSpinBox>

#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "engine/tessara_doc.h"
#include "framework/registry.h"
#include "framework/settings.h"
#include "framework/user_interface.h"
#include "ui/common/file_dialog.h"
#include "ui/common/long_work.h"
#include "ui/common/modal.h"
#include "ui/common/qt_user_interface.h"
#include "ui/common/shell.h"
#include "ui/common/ui_registry.h"
#include "ui/dialogs/contrast_dlg.h"
#include "ui/dialogs/cylinder_dlg.h"
#include "ui/dialogs/dialog_text.h"
#include "ui/dialogs/fine_adjust_dlg.h"
#include "ui/dialogs/grid_dlg.h"
#include "ui/dialogs/merge_dlg.h"
#include "ui/views/destview.h"

namespace tessara {

bool CTargetDocCommands::OnUpdateCommand(int id, bool& enabled) {
  if (id != cmd::kFileSaveAs) return false;
  enabled = m_pDoc->m_bUpToDate == 1;
  return true;
}

void CTargetDocCommands::OnCommand(int id) {
  if (id == cmd::kFileSaveAs) SaveTargetAs(*m_pDoc);
}

bool HaveTargetToOutput(const CDestdoc& doc) {
  // A stopped or failed build leaves none; the output image would come from
  // nothing, and an empty file or page must not pass for a saved picture.
  if (doc.m_pTarget) return true;
  ShowMessage(target_command_text::kGenerateFirst);
  return false;
}

namespace {

// Below the file type: how a colour TIFF file is compressed and the JPEG
// quality (of .jpg files and of colour TIFF files compressed as JPEG), as the
// settings hold them.
struct SaveOptions {
  QCheckBox* lossless = nullptr;
  QSpinBox* quality = nullptr;
};

SaveOptions AddSaveOptions(CMyfiledialog& dialog) {
  SaveOptions o;
  auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
  if (!grid) return o;
  auto* row = new QHBoxLayout;
  o.lossless = new QCheckBox(QStringLiteral("Lossless TIFF"), &dialog);
  o.lossless->setObjectName(QStringLiteral("losslessTiff"));
  o.lossless->setToolTip(QStringLiteral("Colour TIFF files are compressed without loss (deflate) instead of as JPEG"));
  auto* label = new QLabel(QStringLiteral("JPEG quality:"), &dialog);
  o.quality = new QSpinBox(&dialog);
  o.quality->setObjectName(QStringLiteral("jpegQuality"));
  o.quality->setRange(1, 100);
  label->setBuddy(o.quality);
  row->addWidget(o.lossless);
  row->addSpacing(24);
  row->addWidget(label);
  row->addWidget(o.quality);
  row->addStretch(1);
  grid->addLayout(row, grid->rowCount(), 0, 1, grid->columnCount());
  ISettingsStore& store = Settings();
  o.lossless->setChecked(store.GetInt(settings_key::kConfigure, settings_key::kLosslessTiff, 0) != 0);
  o.quality->setValue(SavedJpegQuality());
  return o;
}

void RememberSaveOptions(const SaveOptions& o) {
  if (!o.lossless || !o.quality) return;
  ISettingsStore& store = Settings();
  store.WriteInt(settings_key::kConfigure, settings_key::kLosslessTiff, o.lossless->isChecked() ? 1 : 0);
  store.WriteInt(settings_key::kConfigure, settings_key::kJpegQuality, o.quality->value());
}

}  // namespace

void SaveTargetAs(CDestdoc& doc) {
  if (!HaveTargetToOutput(doc)) return;
  CMyfiledialog dialog(false, target_text::kSaveFilter);
  const SaveOptions options = AddSaveOptions(dialog);
  dialog.setWindowTitle(doc.m_bZoneOnly == 1 ? target_text::kSaveTitleZone : target_text::kSaveTitle);
  ISettingsStore& store = Settings();
  const std::string dir = store.GetString(settings_key::kConfigure, settings_key::kLastSaveDirectory, "");
  if (!dir.empty()) dialog.setDirectory(QString::fromStdString(dir));
  const int filter = store.GetInt(settings_key::kConfigure, settings_key::kLastSaveExtension, 0);
  if (filter != 0) dialog.SetFilterIndex(filter);
  if (ExecModal(dialog) != QDialog::Accepted) return;
  const QString chosen = dialog.GetPathName();
  if (chosen.isEmpty()) return;
  RememberSaveOptions(options);
  const int index = dialog.GetFilterIndex();
  // The dialog asked about the name as typed; a name that gets its ending added
  // here is a different file, which must not be replaced without asking either.
  const QString written = QString::fromStdString(SavePathWithEnding(chosen.toStdString(), index));
  if (!written.isEmpty() && written != chosen && QFileInfo::exists(written)) {
    const QString question = QStringLiteral("%1 already exists.\nDo you want to replace it?")
                                 .arg(QFileInfo(written).fileName());
    if (ShowMessageBox(question, QMessageBox::Yes | QMessageBox::No, QMessageBox::Warning) != QMessageBox::Yes)
      return;
  }
  // A note left by an earlier save must not pass for this one's (a bitmap
  // save writes none).
  doc.m_szSaveNote.clear();
  const std::string path = chosen.toStdString();
  const int saved = RunLongWork([&] { return doc.SaveTargetToPath(path, index); });
  if (saved == 1) doc.m_bTargetSaved = 1;
  if (saved == 1 && !doc.m_szSaveNote.empty())
    // Saved, but without what the user asked to keep: said again once the
    // sources prepared after the save have cleared the message pane.
    UserInterface().SetPaneText(kPaneMessage, doc.m_szSaveNote);
}

namespace {

// Two sources loaded and aligned.
bool Ready() { return g_nSourcesLoaded == 2 && g_pAlignDoc && g_pAlignDoc->m_bAlignValid; }

// The bit depth of source n as prepared. Should the prepared copy be missing (a
// preparation after saving that ran out of memory), the loaded picture says
// what the copy will be: up to 8 bits as it is, deeper ones as 24. 0 when
// neither exists.
int PreparedDepth(const CDestdoc& doc, int n) {
  const Dib* prepared = n == 1 ? doc.m_pSource1.get() : doc.m_pSource2.get();
  if (prepared) return prepared->BitCount();
  const CTessaraDoc* source = g_pSourceDocs[n - 1];
  if (!source || !source->m_pDib) return 0;
  const int bits = source->m_pDib->BitCount();
  return bits > 8 ? 24 : bits;
}

// Builds, registers and shows a tool dialog over the Target view, unless one of
// its kind exists.
template <class Dialog>
Dialog* OpenToolDialog(QDialog* const& slot, CDestview& view) {
  if (slot) return nullptr;
  auto* dialog = new Dialog(&view);
  dialog->show();
  dialog->repaint();
  return dialog;
}

// One page: the Target across the printer's printable width.
void PrintPage(CDestview& view, QPrinter& printer) {
  QPainter painter;
  if (!painter.begin(&printer)) return;
  view.DrawPrinted(painter, printer);
  painter.end();
}

}  // namespace

bool SourcesAreMonochrome(const CDestdoc& doc) {
  return PreparedDepth(doc, 1) == 1 && PreparedDepth(doc, 2) == 1;
}

bool SourcesTooShallowForProjection(const CDestdoc& doc) {
  const int d1 = PreparedDepth(doc, 1), d2 = PreparedDepth(doc, 2);
  // With a depth unknown the projection is not refused here: building the
  // Target reports the missing source itself.
  return d1 != 0 && d2 != 0 && d1 + d2 <= 8;
}

bool UpdateToolCommand(int id, const CDestdoc& doc, bool& enabled) {
  switch (id) {
    case cmd::kFineAlignment:
    case cmd::kMergeSources:
    case cmd::kGridLines:
      enabled = Ready();
      return true;
    case cmd::kContrastBrightness:
      enabled = Ready() && doc.m_nBitDepth != 1;
      return true;
    case cmd::kCylindricalProjection:
      enabled = Ready() && doc.m_nBitDepth == 24;
      return true;
    default:
      return false;
  }
}

void RunToolCommand(int id, CDestview& view) {
  const CDestdoc& doc = *view.GetDocument();
  switch (id) {
    case cmd::kFineAlignment:
      if (auto* dialog = OpenToolDialog<CFineAdjustDlg>(g_pFineAdjustDlg, view)) dialog->PaintSourceNames();
      break;
    case cmd::kMergeSources:
      // Whichever merge dialog is open, a second command leaves it alone.
      if (g_pMergeDlg || g_pMonoDlg) break;
      if (SourcesAreMonochrome(doc)) {
        if (auto* dialog = OpenToolDialog<CMonoMergeDlg>(g_pMonoDlg, view)) dialog->PaintSourceNames();
      } else if (auto* dialog = OpenToolDialog<CMergeDlg>(g_pMergeDlg, view)) {
        dialog->PaintSourceNames();
      }
      break;
    case cmd::kContrastBrightness:
      OpenToolDialog<CContrastDlg>(g_pContrastDlg, view);
      break;
    case cmd::kCylindricalProjection:
      if (SourcesTooShallowForProjection(doc)) {
        ShowMessage(dialog_text::kTooShallow);
        break;
      }
      OpenToolDialog<CCylinderDlg>(g_pCylinderDlg, view);
      break;
    case cmd::kGridLines:
      OpenToolDialog<CGridDlg>(g_pGridDlg, view);
      break;
    default:
      break;
  }
}

void PrintTarget(CDestview& view) {
  if (!g_pShell || !HaveTargetToOutput(*view.GetDocument())) return;
  QPrinter& printer = g_pShell->Printer();
  QPrintDialog dialog(&printer, g_pShell->MainWindow());
  if (ExecModal(dialog) != QDialog::Accepted) return;
  PrintPage(view, printer);
}

void PreviewTarget(CDestview& view) {
  if (!g_pShell || !HaveTargetToOutput(*view.GetDocument())) return;
  QPrinter& printer = g_pShell->Printer();
  QPrintPreviewDialog dialog(&printer, g_pShell->MainWindow());
  dialog.setWindowTitle(QStringLiteral("Tessara - Print preview"));
  if (auto* preview = dialog.findChild<QPrintPreviewWidget*>()) {
    if (g_pShell->PreviewPages() == 2) preview->setViewMode(QPrintPreviewWidget::FacingPagesView);
    // The preview's own keys: Page Down and Page Up turn the pages.
    auto* next = new QShortcut(QKeySequence(Qt::Key_PageDown), &dialog);
    QObject::connect(next, &QShortcut::activated, preview,
                     [preview] { preview->setCurrentPage(preview->currentPage() + 1); });
    auto* previous = new QShortcut(QKeySequence(Qt::Key_PageUp), &dialog);
    QObject::connect(previous, &QShortcut::activated, preview,
                     [preview] { preview->setCurrentPage(preview->currentPage() - 1); });
  }
  QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &view, [&view](QPrinter* target) {
    QPainter painter;
    if (!painter.begin(target)) return;
    view.DrawPrinted(painter, *target);
  });
  ExecModal(dialog);
}

}  // namespace tessara
