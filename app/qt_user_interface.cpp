#include "app/qt_user_interface.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>

#include "app/main_frame.h"
#include "app/modal.h"
#include "app/status_line.h"
#include "app/ui_registry.h"
#include "dialogs/tool_dialog.h"
#include "targetview/destview.h"

namespace tessara {

CQtUserInterface* CQtUserInterface::s_pInstance = nullptr;
int CLongWork::s_nDepth = 0;

int ShowMessageBox(const QString& text, int buttons, int icon) {
  QMessageBox box(static_cast<QMessageBox::Icon>(icon), QString::fromUtf8(kAppTitle), text,
                  static_cast<QMessageBox::StandardButtons>(buttons), g_pMainFrame);
  if (buttons & QMessageBox::Yes) box.setDefaultButton(QMessageBox::Yes);
  return ExecModal(box);
}

CQtUserInterface::CQtUserInterface() {
  s_pInstance = this;
  qApp->installEventFilter(this);
}

CQtUserInterface::~CQtUserInterface() {
  if (s_pInstance == this) s_pInstance = nullptr;
}

void CQtUserInterface::ShowMessage(const std::string& text) {
  ShowMessageBox(QString::fromStdString(text), QMessageBox::Ok, QMessageBox::Warning);
}

bool CQtUserInterface::AskYesNo(const std::string& text) {
  m_bHoldSpaceFromBox = m_bSpaceDown;
  const int answer = ShowMessageBox(QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No,
                                    QMessageBox::Question);
  m_bHoldSpaceFromBox = false;
  return answer == QMessageBox::Yes;
}

void CQtUserInterface::SetPaneText(StatusPane pane, const std::string& text) {
  if (!g_pMainFrame) return;
  g_pMainFrame->StatusLine().Pane(pane)->PaintText(QString::fromStdString(text));
}

void CQtUserInterface::ShowProgress(ProgressColour colour, int percent) {
  if (!g_pMainFrame) return;
  std::optional<QColor> c;
  if (!colour.none && !(colour.red == 0 && colour.green == 0 && colour.blue == 0))
    c = QColor(colour.red, colour.green, colour.blue);
  g_pMainFrame->StatusLine().Pane(kPaneProgress)->PaintProgress(c, percent);
}

void CQtUserInterface::DiscardTypedKeys() {
  // Everything waiting is handled except the user's input, which the filter
  // throws away: the windows repaint, nothing new starts.
  ++m_nDiscarding;
  QApplication::processEvents(QEventLoop::AllEvents);
  --m_nDiscarding;
}

void CQtUserInterface::RefreshToolDialogs() {
  // Fine Adjustment first: it takes the new alignment as its base.
  for (QDialog* dialog : {g_pFineAdjustDlg, g_pMergeDlg, g_pContrastDlg, g_pMonoDlg, g_pCylinderDlg, g_pGridDlg})
    if (auto* tool = qobject_cast<CToolDialog*>(dialog)) tool->RefreshFromSession();
  if (g_pTargetView) g_pTargetView->EnsureGenerateButton();
}

bool CQtUserInterface::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Space && !key->isAutoRepeat()) m_bSpaceDown = event->type() == QEvent::KeyPress;
      if (key->key() == Qt::Key_Space && m_bHoldSpaceFromBox) {
        if (event->type() == QEvent::KeyRelease && !key->isAutoRepeat()) m_bHoldSpaceFromBox = false;
        return true;
      }
      if (m_nDiscarding) return true;
      if (event->type() == QEvent::KeyPress && g_pMainFrame && watched->isWidgetType() &&
          static_cast<QWidget*>(watched)->window() == g_pMainFrame)
        return g_pMainFrame->TranslateAccelerator(*key);
      break;
    }
    case QEvent::ShortcutOverride:
      if (m_nDiscarding) return true;
      break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
      // A click during long work would start other work inside it.
      if (m_nDiscarding) return true;
      break;
    case QEvent::ApplicationDeactivate:
      m_bSpaceDown = false;
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace tessara
