#include "ui/dialogs/tool_dialog.h"

#include "engine/destdoc.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <functional>

#include "engine/tessara_doc.h"
#include "framework/registry.h"
#include "ui/common/long_work.h"
#include "ui/common/qt_user_interface.h"
#include "ui/common/shell.h"
#include "ui/common/ui_registry.h"
#include "ui/dialogs/dialog_text.h"

namespace tessara {

namespace {

// A static's border, drawn as the classic dialog statics draw theirs.
void ApplyFrame(QFrame* frame, StaticFrame kind) {
  QPalette palette = frame->palette();
  switch (kind) {
    case StaticFrame::kNone:
      return;
    case StaticFrame::kBlackFrame:
    case StaticFrame::kBorder:
      frame->setFrameStyle(QFrame::Box | QFrame::Plain);
      palette.setColor(QPalette::WindowText, Qt::black);
      break;
    case StaticFrame::kWhiteFrame:
      frame->setFrameStyle(QFrame::Box | QFrame::Plain);
      palette.setColor(QPalette::WindowText, Qt::white);
      break;
    case StaticFrame::kSunken:
      frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      break;
  }
  frame->setLineWidth(1);
  frame->setPalette(palette);
}

// Fonts differ from desktop to desktop: a text laid out for one can need more
// room in another. Rather than clip it, its font is made a little smaller, in
// half points, down to three quarters of the dialog's.
void ShrinkUntil(QWidget* w, const std::function<bool()>& fits) {
  QFont font = w->font();
  const qreal start = font.pointSizeF();
  if (start <= 0) return;
  for (qreal size = start; !fits() && size - 0.5 >= start * 0.75;) {
    size -= 0.5;
    font.setPointSizeF(size);
    w->setFont(font);
  }
}

void FitWrappedText(QLabel* label) {
  ShrinkUntil(label, [label] {
    const QRect room = label->contentsRect();
    const QRect needed = QFontMetrics(label->font()).boundingRect(room, Qt::TextWordWrap | int(label->alignment()),
                                                                  label->text());
    return needed.height() <= room.height() && needed.width() <= room.width();
  });
}

// Check boxes and radio buttons: the box and the text.
void FitButtonText(QAbstractButton* button) {
  ShrinkUntil(button, [button] { return button->sizeHint().width() <= button->width(); });
}

// Push buttons: the text and a little margin (their own minimum width is a
// matter of style, not of room).
void FitPushButtonText(QPushButton* button) {
  ShrinkUntil(button, [button] {
    return QFontMetrics(button->font()).horizontalAdvance(button->text()) + 12 <= button->width();
  });
}

}  // namespace

CToolDialog::CToolDialog(QDialog** slot, const char* title, int widthDu, int heightDu, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_pSlot(slot),
      m_units(font()) {
  *m_pSlot = this;
  setModal(false);
  setWindowTitle(QString::fromUtf8(title));
  setFixedSize(m_units.MapX(widthDu), m_units.MapY(heightDu));
}

CToolDialog::~CToolDialog() {
  if (*m_pSlot == this) *m_pSlot = nullptr;
}

void CToolDialog::Quit() {
  if (m_bQuitting) return;
  m_bQuitting = true;
  OnQuit();
  if (*m_pSlot == this) *m_pSlot = nullptr;
  hide();
  // The click that asked for this is still being handled by one of our own
  // buttons; the object goes when it has finished.
  deleteLater();
}

void CToolDialog::reject() {
  // Escape would only hide a modeless dialog and leave its reference set, so
  // that the Target menu could never show it again: it quits instead.
  Quit();
}

void CToolDialog::closeEvent(QCloseEvent* event) {
  // While the Target is being built from one of these dialogs, the work still
  // runs inside the dialog's own button: closing now would pull it away.
  if (LongWorkRunning()) {
    event->ignore();
    return;
  }
  event->accept();
  Quit();
}

void CToolDialog::Register(int id, QWidget* control) {
  if (id != 0) {
    m_controls.insert(id, control);
    control->setObjectName(QStringLiteral("control%1").arg(id));
  }
}

QLabel* CToolDialog::AddStatic(const char* text, int x, int y, int w, int h, Qt::Alignment align, StaticFrame frame) {
  auto* label = new QLabel(QString::fromUtf8(text), this);
  label->setGeometry(m_units.Map(x, y, w, h));
  label->setAlignment(align | Qt::AlignTop);
  label->setWordWrap(true);
  label->setTextFormat(Qt::PlainText);
  ApplyFrame(label, frame);
  FitWrappedText(label);
  return label;
}

QWidget* CToolDialog::AddFrame(StaticFrame frame, int x, int y, int w, int h) {
  auto* box = new QFrame(this);
  box->setGeometry(m_units.Map(x, y, w, h));
  ApplyFrame(box, frame);
  return box;
}

QPushButton* CToolDialog::AddButton(int id, const char* text, int x, int y, int w, int h) {
  auto* button = new QPushButton(QString::fromUtf8(text), this);
  button->setGeometry(m_units.Map(x, y, w, h));
  FitPushButtonText(button);
  Register(id, button);
  return button;
}

QPushButton* CToolDialog::AddUpdateButton(int id, int x, int y, int w, int h) {
  m_pUpdate = AddButton(id, dialog_text::kUpdateTarget, x, y, w, h);
  return m_pUpdate;
}

QPushButton* CToolDialog::AddQuitButton(int x, int y, int w, int h) {
  QPushButton* quit = AddButton(1, dialog_text::kQuit, x, y, w, h);
  quit->setDefault(true);
  connect(quit, &QPushButton::clicked, this, &CToolDialog::Quit);
  return quit;
}

QRadioButton* CToolDialog::AddRadio(int id, const char* text, int x, int y, int w, int h) {
  auto* radio = new QRadioButton(QString::fromUtf8(text), this);
  radio->setGeometry(m_units.Map(x, y, w, h));
  FitButtonText(radio);
  Register(id, radio);
  return radio;
}

QCheckBox* CToolDialog::AddCheck(int id, const char* text, int x, int y, int w, int h) {
  auto* check = new QCheckBox(QString::fromUtf8(text), this);
  check->setGeometry(m_units.Map(x, y, w, h));
  FitButtonText(check);
  Register(id, check);
  return check;
}

QSlider* CToolDialog::AddSlider(int id, int x, int y, int w, int h, bool ticks) {
  auto* slider = new QSlider(Qt::Horizontal, this);
  slider->setGeometry(m_units.Map(x, y, w, h));
  slider->setFocusPolicy(Qt::StrongFocus);
  slider->setTickPosition(ticks ? QSlider::TicksBothSides : QSlider::NoTicks);
  Register(id, slider);
  return slider;
}

QLineEdit* CToolDialog::AddEdit(int id, int x, int y, int w, int h) {
  auto* edit = new QLineEdit(this);
  edit->setGeometry(m_units.Map(x, y, w, h));
  Register(id, edit);
  return edit;
}

CSourceLine* CToolDialog::AddSourceLine(int id, int x, int y, int w, int h) {
  auto* line = new CSourceLine(this);
  line->setGeometry(m_units.Map(x, y, w, h));
  Register(id, line);
  return line;
}

CSpinButton* CToolDialog::AddSpin(int id, Qt::Orientation orientation, int x, int y, int w, int h, QRect buddyDu) {
  // The buddy comes first, as it does in the tab order of the layout.
  QLabel* buddy = AddStatic(dialog_text::kBuddyPlaceholder, buddyDu.x(), buddyDu.y(), buddyDu.width(),
                            buddyDu.height());
  buddy->setWordWrap(false);
  buddy->setObjectName(QStringLiteral("buddy%1").arg(id));
  auto* spin = new CSpinButton(orientation, this);
  spin->setGeometry(m_units.Map(x, y, w, h));
  spin->SetBuddy(buddy);
  Register(id, spin);
  return spin;
}

CDirectionStatic* CToolDialog::AddDirection(int id, int x, int y, int w, int h) {
  auto* direction = new CDirectionStatic(this);
  direction->setGeometry(m_units.Map(x, y, w, h));
  Register(id, direction);
  return direction;
}

void CToolDialog::EnableUpdate(bool enable) {
  if (m_pUpdate) m_pUpdate->setEnabled(enable);
}

void CToolDialog::PaintSourceNamesInto(CSourceLine* line1, CSourceLine* line2) {
  // While long work has the documents the lines keep the names they show.
  if (!DocumentsAtRest()) return;
  // A slot without a source (which the Target menu never lets happen while a
  // dialog is open) leaves its line empty rather than naming nothing.
  const char* prefixes[2] = {dialog_text::kSource1Prefix, dialog_text::kSource2Prefix};
  CSourceLine* lines[2] = {line1, line2};
  for (int i = 0; i < 2; ++i) {
    const CTessaraDoc* doc = g_pSourceDocs[i];
    lines[i]->SetText(doc ? QString::fromUtf8(prefixes[i]) + QString::fromStdString(doc->GetTitle()) : QString());
  }
}

void CToolDialog::StartSourceNameTimer() {
  // The names are painted again every second, as the dialogs always have.
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, [this] { PaintSourceNames(); });
  timer->start(1000);
}

void CToolDialog::BringTargetForward() {
  if (g_pShell) g_pShell->RaiseTargetWindow();
}

CDestdoc* CToolDialog::Session() { return g_pDestDoc; }

int CToolDialog::RunGenerateTarget(CDestdoc& doc) {
  return GenerateTargetAsLongWork(doc);
}

}  // namespace tessara
