#include "ui/common/qt_user_interface.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>

#include "ui/common/keyboard_state.h"
#include "ui/common/long_work.h"
#include "ui/common/modal.h"
#include "ui/common/shell.h"
#include "ui/common/status_line.h"
#include "ui/common/ui_registry.h"

namespace tessara {

CQtUserInterface* CQtUserInterface::s_pInstance = nullptr;

namespace {

bool IsStopKey(int key) { return key == Qt::Key_Space || key == Qt::Key_Escape; }

}  // namespace

int ShowMessageBox(const QString& text, int buttons, int icon, int defaultButton, QWidget* parent) {
  QMessageBox box(static_cast<QMessageBox::Icon>(icon), QString::fromUtf8(kAppTitle), text,
                  static_cast<QMessageBox::StandardButtons>(buttons), parent ? parent : (g_pShell ? g_pShell->MainWindow() : nullptr));
  if (defaultButton != 0)
    box.setDefaultButton(static_cast<QMessageBox::StandardButton>(defaultButton));
  else if (buttons & QMessageBox::Yes)
    box.setDefaultButton(QMessageBox::Yes);
  return ExecModal(box);
}

CQtUserInterface::CQtUserInterface() : m_keyboardQuery(IsKeyDownOnKeyboard) {
  s_pInstance = this;
  qApp->installEventFilter(this);
}

void CQtUserInterface::SetKeyboardQueryForTest(std::function<std::optional<bool>(int)> query) {
  m_keyboardQuery = query ? std::move(query) : std::function<std::optional<bool>(int)>(IsKeyDownOnKeyboard);
}

bool CQtUserInterface::IsSpaceBarDown() {
  if (OnWorkerThread()) {
    // The worker's stop check costs nothing until a stop key goes down; then
    // the window thread, which knows the keyboard, has the word.
    if (!m_bSpaceDown && !m_bEscapeDown) return false;
    bool down = false;
    RunOnWindowThread([&] { down = IsSpaceBarDown(); }, true);
    return down;
  }
  // A stop key seen going down whose release never came (it went to a menu
  // that closed on the press, or to another window) is not held: the question
  // would come back at every row. The keyboard has the last word.
  if (m_bSpaceDown && m_keyboardQuery(Qt::Key_Space) == false) m_bSpaceDown = false;
  if (m_bEscapeDown && m_keyboardQuery(Qt::Key_Escape) == false) m_bEscapeDown = false;
  return m_bSpaceDown || m_bEscapeDown;
}

CQtUserInterface::~CQtUserInterface() {
  if (s_pInstance == this) s_pInstance = nullptr;
}

void CQtUserInterface::ShowMessage(const std::string& text) {
  if (OnWorkerThread()) return RunOnWindowThread([&] { ShowMessage(text); }, true);
  ShowMessageBox(QString::fromStdString(text), QMessageBox::Ok, QMessageBox::Warning);
}

bool CQtUserInterface::AskYesNo(const std::string& text) {
  if (OnWorkerThread()) {
    bool yes = false;
    RunOnWindowThread([&] { yes = AskYesNo(text); }, true);
    return yes;
  }
  // The only question is whether to stop, asked because a stop key is down.
  // That key is still held and repeating: it must not answer, and neither may
  // a key pressed without a thought, so No is the default.
  if (m_bSpaceDown)
    m_nHeldKey = Qt::Key_Space;
  else if (m_bEscapeDown)
    m_nHeldKey = Qt::Key_Escape;
  m_bHeldKeyReleased = false;
  m_bLastReleaseKnown = false;
  m_bAsking = true;
  const int answer = ShowMessageBox(QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No,
                                    QMessageBox::Question, QMessageBox::No);
  m_bAsking = false;
  return answer == QMessageBox::Yes;
}

void CQtUserInterface::SetPaneText(StatusPane pane, const std::string& text) {
  if (OnWorkerThread()) return RunOnWindowThread([this, pane, text] { SetPaneText(pane, text); }, false);
  if (!g_pShell) return;
  g_pShell->StatusLine().Pane(pane)->PaintText(QString::fromStdString(text));
}

void CQtUserInterface::ShowProgress(ProgressColour colour, int percent) {
  if (OnWorkerThread()) return RunOnWindowThread([this, colour, percent] { ShowProgress(colour, percent); }, false);
  if (!g_pShell) return;
  std::optional<QColor> c;
  if (!colour.none && !(colour.red == 0 && colour.green == 0 && colour.blue == 0))
    c = QColor(colour.red, colour.green, colour.blue);
  g_pShell->StatusLine().Pane(kPaneProgress)->PaintProgress(c, percent);
}

void CQtUserInterface::OnWindowThread(const std::function<void()>& task) { RunOnWindowThread(task, true); }

void CQtUserInterface::RefreshToolDialogs() {
  if (OnWorkerThread()) return RunOnWindowThread([this] { RefreshToolDialogs(); }, true);
  if (g_pShell) g_pShell->RefreshToolDialogs();
}

bool CQtUserInterface::IsRepeat(const QKeyEvent& key) const {
  if (key.isAutoRepeat()) return true;
  // Events made up by the program itself carry no time (0): never a repeat.
  return key.type() == QEvent::KeyPress && m_bLastReleaseKnown && key.key() == m_nLastReleasedKey &&
         key.timestamp() != 0 && key.timestamp() == m_nLastReleaseTime;
}

bool CQtUserInterface::HoldStopKey(const QKeyEvent& key) {
  if (m_nHeldKey == 0 || key.key() != m_nHeldKey) return false;
  if (key.type() == QEvent::KeyRelease) {
    m_bHeldKeyReleased = true;
    m_nHeldReleaseTime = key.timestamp();
    return true;
  }
  // A press at the very time of the last release is the X server's repeat;
  // a press of the user's own after a release ends the holding and counts.
  const bool repeat = key.isAutoRepeat() || !m_bHeldKeyReleased ||
                      (key.timestamp() != 0 && key.timestamp() == m_nHeldReleaseTime);
  if (repeat) return true;
  m_nHeldKey = 0;
  return false;
}

bool CQtUserInterface::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
      auto* key = static_cast<QKeyEvent*>(event);
      // A key event reaches this filter at its window and again at each widget
      // it passes on its way up; what is recorded here is the same each time.
      const bool press = event->type() == QEvent::KeyPress;
      if (IsStopKey(key->key()) && !key->isAutoRepeat()) {
        if (key->key() == Qt::Key_Space)
          m_bSpaceDown = press;
        else
          m_bEscapeDown = press;
      }
      bool drop = HoldStopKey(*key);
      // While the question is up, keys repeating by themselves answer nothing.
      if (m_bAsking && IsRepeat(*key)) drop = true;
      if (!press) {
        m_nLastReleasedKey = key->key();
        m_nLastReleaseTime = key->timestamp();
        m_bLastReleaseKnown = true;
      }
      if (drop) return true;
      if (LongWorkRefusesInput(watched)) return true;
      if (event->type() == QEvent::KeyPress && g_pShell && watched->isWidgetType() &&
          static_cast<QWidget*>(watched)->window() == g_pShell->MainWindow())
        return g_pShell->TranslateAccelerator(*key);
      break;
    }
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
      // The documents are the worker's: a click now would start other work
      // on them, or change what the work reads.
      if (LongWorkRefusesInput(watched)) return true;
      break;
    case QEvent::ApplicationDeactivate:
      // Keys released in another program are never seen here.
      m_bSpaceDown = m_bEscapeDown = false;
      m_nHeldKey = 0;
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace tessara
