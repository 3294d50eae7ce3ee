#include "targetview/target_commands.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QShortcut>

#include "app/file_dialog.h"
#include "app/main_frame.h"
#include "app/modal.h"
#include "app/qt_user_interface.h"
#include "app/tessara_app.h"
#include "app/ui_registry.h"
#include "framework/settings.h"
#include "target/destdoc.h"
#include "targetview/destview.h"

namespace tessara {

bool CTargetDocCommands::OnUpdateCommand(int id, bool& enabled) {
  if (id != cmd::kFileSaveAs) return false;
  enabled = m_pDoc->m_bUpToDate == 1;
  return true;
}

void CTargetDocCommands::OnCommand(int id) {
  if (id == cmd::kFileSaveAs) SaveTargetAs(*m_pDoc);
}

void SaveTargetAs(CDestdoc& doc) {
  CMyfiledialog dialog(false, target_text::kSaveFilter);
  dialog.setWindowTitle(doc.m_bZoneOnly == 1 ? target_text::kSaveTitleZone : target_text::kSaveTitle);
  ISettingsStore& store = Settings();
  const std::string dir = store.GetString(settings_key::kConfigure, settings_key::kLastSaveDirectory, "");
  if (!dir.empty()) dialog.setDirectory(QString::fromStdString(dir));
  const int filter = store.GetInt(settings_key::kConfigure, settings_key::kLastSaveExtension, 0);
  if (filter != 0) dialog.SetFilterIndex(filter);
  if (ExecModal(dialog) != QDialog::Accepted) return;
  const QString chosen = dialog.GetPathName();
  if (chosen.isEmpty()) return;
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
  CLongWork work;
  doc.SaveTargetToPath(chosen.toStdString(), index);
}

namespace {

// One page: the Target across the printer's printable width.
void PrintPage(CDestview& view, QPrinter& printer) {
  QPainter painter;
  if (!painter.begin(&printer)) return;
  CLongWork work;
  view.DrawPrinted(painter, printer);
  painter.end();
}

}  // namespace

void PrintTarget(CDestview& view) {
  QPrinter& printer = ProgramPrinter();
  QPrintDialog dialog(&printer, g_pMainFrame);
  if (ExecModal(dialog) != QDialog::Accepted) return;
  PrintPage(view, printer);
}

void PreviewTarget(CDestview& view) {
  QPrinter& printer = ProgramPrinter();
  QPrintPreviewDialog dialog(&printer, g_pMainFrame);
  dialog.setWindowTitle(QStringLiteral("Tessara - Print preview"));
  if (auto* preview = dialog.findChild<QPrintPreviewWidget*>()) {
    if (ProgramPreviewPages() == 2) preview->setViewMode(QPrintPreviewWidget::FacingPagesView);
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
    CLongWork work;
    view.DrawPrinted(painter, *target);
  });
  ExecModal(dialog);
}

}  // namespace tessara
