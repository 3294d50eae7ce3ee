#include "ui/dialogs/cylinder_dlg.h"

#include <QPushButton>
#include <QSlider>

#include "engine/destdoc.h"
#include "ui/common/qt_user_interface.h"
#include "ui/common/ui_registry.h"
#include "ui/dialogs/dialog_text.h"

namespace tessara {

namespace t = dialog_text;

CCylinderDlg::CCylinderDlg(QWidget* parent) : CToolDialog(&g_pCylinderDlg, t::kCylinderTitle, 160, 82, parent) {
  AddStatic(t::kSwingAngle, 55, 13, 50, 8, Qt::AlignHCenter);
  AddStatic(t::kZero, 7, 30, 16, 8);
  m_pAngle = AddSlider(kAngle, 30, 28, 100, 15, false);
  AddStatic(t::k180, 140, 30, 13, 8);
  AddUpdateButton(kUpdate, 7, 60, 60, 14);
  AddQuitButton(93, 60, 60, 14);

  m_pAngle->setRange(0, 180);
  m_pAngle->setPageStep(36);
  m_pAngle->setValue(0);
  m_nAnglePos = 0;

  connect(m_pAngle, &QSlider::valueChanged, this, &CCylinderDlg::OnMoved);
  connect(UpdateButton(), &QPushButton::clicked, this, &CCylinderDlg::OnUpdateTarget);
}

void CCylinderDlg::OnMoved() {
  EnableUpdate(true);
  m_nAnglePos = m_pAngle->value();
}

void CCylinderDlg::OnUpdateTarget() {
  CDestdoc* doc = Session();
  if (!doc) return;
  doc->m_nSwingAngle = m_nAnglePos;
  if (RunGenerateTarget(*doc) == 1) EnableUpdate(false);
  BringTargetForward();
}

}  // namespace tessara
