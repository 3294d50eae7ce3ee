#include "ui/dialogs/rotate_dlg.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cmath>

#include "engine/align_doc.h"
#include "engine/align_frame.h"
#include "engine/destdoc.h"
#include "engine/tessara_doc.h"
#include "framework/registry.h"
#include "ui/common/align_undo.h"
#include "ui/common/long_work.h"
#include "ui/common/qt_user_interface.h"
#include "ui/common/shell.h"
#include "ui/common/ui_registry.h"
#include "ui/dialogs/dialog_controls.h"
#include "ui/dialogs/dialog_text.h"

namespace tessara {

namespace {

// A session angle in whole degrees, truncated toward zero; an angle no int can
// hold (never set by the program) reads as 0.
int WholeDegrees(double angle) {
  if (!(std::fabs(angle) < 2147483647.0)) return 0;
  return static_cast<int>(angle);
}

QString SourceTitle(int slot) {
  const CTessaraDoc* doc = g_pSourceDocs[slot];
  return doc ? QString::fromStdString(doc->GetTitle()) : QString();
}

}  // namespace

CRotateDlg::CRotateDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("rotateDialog"));
  setWindowTitle(QString::fromUtf8(rotate_text::kTitle));
  setModal(true);
  const CDialogUnits units(font());
  auto place = [&units](QWidget* w, int x, int y, int cx, int cy) { w->setGeometry(units.Map(x, y, cx, cy)); };
  auto blackFrame = [&](int x, int y, int cx, int cy) {
    auto* f = new QFrame(this);
    f->setFrameStyle(QFrame::Box | QFrame::Plain);
    f->setLineWidth(1);
    QPalette pal = f->palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    f->setPalette(pal);
    place(f, x, y, cx, cy);
  };
  auto centredTitle = [&](const char* text, int x, int y, int cx, int cy) {
    // Over the frame's top line, on the dialog's own background, like a
    // group box title.
    auto* l = new QLabel(QString::fromUtf8(text), this);
    l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    l->setAutoFillBackground(true);
    place(l, x, y, cx, cy);
  };
  auto angleEdit = [&](int id, int x, int y) {
    auto* e = new QLineEdit(this);
    e->setObjectName(QStringLiteral("angle%1").arg(id));
    place(e, x, y, 40, 14);
    connect(e, &QLineEdit::textEdited, this, [this] { m_pUpdate->setEnabled(true); });
    return e;
  };
  auto cutCheck = [&](int id, const char* text, int x, int y) {
    auto* c = new QCheckBox(QString::fromUtf8(text), this);
    c->setObjectName(QStringLiteral("cut%1").arg(id));
    place(c, x, y, 71, 10);
    connect(c, &QCheckBox::clicked, this, &CRotateDlg::OnCutClicked);
    return c;
  };
  auto sourceLine = [&](int id, int y) {
    auto* l = new CSourceLine(this);
    l->setObjectName(QStringLiteral("sourceLine%1").arg(id));
    place(l, 5, y, 150, 8);
    return l;
  };

  // In the template's order, which is also the order Tab follows.
  blackFrame(5, 4, 150, 33);
  centredTitle(rotate_text::kRotate1, 12, 4, 136, 10);
  m_pAngle1 = angleEdit(kIdAngle1, 11, 19);
  m_pCut1 = cutCheck(kIdCut1, rotate_text::kCut1, 64, 21);
  blackFrame(5, 43, 150, 33);
  centredTitle(rotate_text::kRotate2, 12, 44, 136, 10);
  m_pAngle2 = angleEdit(kIdAngle2, 11, 58);
  m_pCut2 = cutCheck(kIdCut2, rotate_text::kCut2, 64, 60);
  m_pUpdate = new QPushButton(QString::fromUtf8(rotate_text::kUpdate), this);
  m_pUpdate->setObjectName(QStringLiteral("update"));
  place(m_pUpdate, 5, 81, 60, 14);
  m_pQuit = new QPushButton(QString::fromUtf8(rotate_text::kQuit), this);
  m_pQuit->setObjectName(QStringLiteral("quit"));
  place(m_pQuit, 95, 81, 60, 14);
  m_pQuit->setDefault(true);
  m_pSourceLine1 = sourceLine(kIdSourceLine1, 102);
  m_pSourceLine2 = sourceLine(kIdSourceLine2, 121);
  connect(m_pUpdate, &QPushButton::clicked, this, &CRotateDlg::OnUpdate);
  connect(m_pQuit, &QPushButton::clicked, this, &CRotateDlg::OnQuit);
  setFixedSize(units.Map(0, 0, 160, 140).size());

  OnInitDialog();
}

QWidget* CRotateDlg::Control(int id) const {
  switch (id) {
    case kIdAngle1: return m_pAngle1;
    case kIdAngle2: return m_pAngle2;
    case kIdCut1: return m_pCut1;
    case kIdCut2: return m_pCut2;
    case kIdUpdate: return m_pUpdate;
    case kIdQuit: return m_pQuit;
    case kIdSourceLine1: return m_pSourceLine1;
    case kIdSourceLine2: return m_pSourceLine2;
    default: return nullptr;
  }
}

void CRotateDlg::OnInitDialog() {
  if (const CDestdoc* s = g_pDestDoc) {
    m_nAngle1 = WholeDegrees(s->m_dRotation1);
    m_nAngle2 = WholeDegrees(s->m_dRotation2);
    m_bCut1 = s->m_bCutCorners1;
    m_bCut2 = s->m_bCutCorners2;
  }
  UpdateData(false);
}

bool CRotateDlg::StoreAngle(QLineEdit* edit, int& value) {
  switch (ReadIntEntry(edit->text(), kMinAngle, kMaxAngle, value)) {
    case IntEntry::kOk:
      return true;
    case IntEntry::kNotInteger:
      RefuseField(edit, QString::fromUtf8(dialog_text::kEnterInteger));
      break;
    case IntEntry::kOutOfRange:
      RefuseField(edit, QString::fromUtf8(dialog_text::kEnterIntegerBetween).arg(kMinAngle).arg(kMaxAngle));
      break;
  }
  return false;
}

bool CRotateDlg::UpdateData(bool save) {
  if (!save) {
    m_pAngle1->setText(QString::number(m_nAngle1));
    m_pAngle2->setText(QString::number(m_nAngle2));
    m_pCut1->setChecked(m_bCut1 != 0);
    m_pCut2->setChecked(m_bCut2 != 0);
    return true;
  }
  if (!StoreAngle(m_pAngle1, m_nAngle1)) return false;
  if (!StoreAngle(m_pAngle2, m_nAngle2)) return false;
  m_bCut1 = m_pCut1->isChecked() ? 1 : 0;
  m_bCut2 = m_pCut2->isChecked() ? 1 : 0;
  return true;
}

void CRotateDlg::OnCutClicked() {
  UpdateData(true);
  m_pUpdate->setEnabled(true);
}

void CRotateDlg::OnUpdate() {
  if (!UpdateData(true)) return;
  m_pUpdate->setEnabled(false);
  if (!g_pAlignDoc || !g_pDestDoc) return;
  PrepareResult code;
  {
    CAlignStep step(QString::fromUtf8(undo_text::kRotate));
    code = RunLongWork([this] { return ApplyRotation(*g_pAlignDoc, m_nAngle1, m_bCut1, m_nAngle2, m_bCut2); });
  }
  if (g_pShell) g_pShell->ResyncAlignView();
  // A preparation that failed leaves nothing to rotate: the Align Window
  // says why.
  if (code != kPrepareDone) OnQuit();
}

void CRotateDlg::OnQuit() {
  if (UpdateData(true)) accept();
}

void CRotateDlg::OnKickIdle() {
  // The lines keep their text and repaint themselves when uncovered, so only a
  // change needs drawing.
  const QString line1 = QString::fromUtf8(dialog_text::kSource1Prefix) + SourceTitle(0);
  const QString line2 = QString::fromUtf8(dialog_text::kSource2Prefix) + SourceTitle(1);
  if (m_pSourceLine1->Text() != line1) m_pSourceLine1->SetText(line1);
  if (m_pSourceLine2->Text() != line2) m_pSourceLine2->SetText(line2);
}

}  // namespace tessara
