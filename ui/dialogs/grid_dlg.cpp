#include "ui/dialogs/grid_dlg.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "engine/destdoc.h"
#include "ui/common/qt_user_interface.h"
#include "ui/common/ui_registry.h"
#include "ui/dialogs/dialog_text.h"

namespace tessara {

namespace t = dialog_text;

CGridDlg::CGridDlg(QWidget* parent) : CToolDialog(&g_pGridDlg, t::kGridTitle, 160, 116, parent) {
  if (CDestdoc* doc = Session()) {
    doc->DrawGrid();
    BringTargetForward();
    doc->RedrawViewsNow();
  }
  AddStatic(t::kGridHint, 26, 7, 107, 20);
  m_pSolidSpacing = AddEdit(kSolidSpacing, 7, 30, 40, 14);
  AddStatic(t::kSolidGrid, 58, 33, 50, 8);
  m_pSolid = AddCheck(kSolidEnable, t::kEnable, 109, 34, 38, 10);
  m_pDotSpacing = AddEdit(kDotSpacing, 7, 55, 40, 14);
  AddStatic(t::kDottedGrid, 58, 58, 50, 8);
  m_pDotted = AddCheck(kDotEnable, t::kEnable, 109, 59, 38, 10);
  m_pWhite = AddCheck(kWhite, t::kWhiteGrid, 7, 78, 48, 10);
  AddUpdateButton(kUpdate, 7, 94, 60, 14);
  AddQuitButton(93, 94, 60, 14);

  // The spacings in force; the boxes start clear whatever is in force.
  m_nDotSpacing = g_nDotGridX;
  m_nSolidSpacing = g_nSolidGridX;
  LoadControls();

  for (QCheckBox* box : {m_pSolid, m_pDotted, m_pWhite}) connect(box, &QCheckBox::clicked, this, &CGridDlg::OnChanged);
  for (QLineEdit* field : {m_pSolidSpacing, m_pDotSpacing})
    connect(field, &QLineEdit::textChanged, this, &CGridDlg::OnChanged);
  connect(UpdateButton(), &QPushButton::clicked, this, &CGridDlg::OnUpdateTarget);
}

void CGridDlg::LoadControls() {
  m_pSolid->setChecked(m_bSolid != 0);
  m_pDotSpacing->setText(QString::number(m_nDotSpacing));
  m_pSolidSpacing->setText(QString::number(m_nSolidSpacing));
  m_pDotted->setChecked(m_bDotted != 0);
  m_pWhite->setChecked(m_bWhite != 0);
}

bool CGridDlg::ReadSpacing(QLineEdit* field, int& value) {
  int read = 0;
  switch (ReadIntEntry(field->text(), kLowestSpacing, kHighestSpacing, read)) {
    case IntEntry::kOk:
      value = read;
      return true;
    case IntEntry::kNotInteger:
      RefuseField(field, QString::fromUtf8(t::kEnterInteger));
      break;
    case IntEntry::kOutOfRange:
      RefuseField(field, QString::fromUtf8(t::kEnterIntegerBetween).arg(kLowestSpacing).arg(kHighestSpacing));
      break;
  }
  return false;
}

bool CGridDlg::StoreControls() {
  // In the order of the fields; the first bad one stops the reading.
  m_bSolid = m_pSolid->isChecked() ? 1 : 0;
  if (!ReadSpacing(m_pDotSpacing, m_nDotSpacing)) return false;
  if (!ReadSpacing(m_pSolidSpacing, m_nSolidSpacing)) return false;
  m_bDotted = m_pDotted->isChecked() ? 1 : 0;
  m_bWhite = m_pWhite->isChecked() ? 1 : 0;
  return true;
}

void CGridDlg::OnUpdateTarget() {
  CDestdoc* doc = Session();
  if (!doc) return;
  if (!StoreControls()) return;
  if (m_bSolid == 1) {
    g_bSolidGrid = 1;
    g_nSolidGridX = g_nSolidGridY = m_nSolidSpacing;
  } else {
    g_bSolidGrid = 0;
    g_nSolidGridX = g_nSolidGridY = 0;
  }
  if (m_bDotted == 1) {
    g_bDottedGrid = 1;
    g_nDotGridX = g_nDotGridY = m_nDotSpacing;
  } else {
    g_bDottedGrid = 0;
    g_nDotGridX = g_nDotGridY = 0;
  }
  const uint8_t level = m_bWhite != 0 ? 255 : 0;
  g_GridColour = {level, level, level};
  if (RunGenerateTarget(*doc) == 1) EnableUpdate(false);
}

}  // namespace tessara
