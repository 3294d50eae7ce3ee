#include "ui/dialogs/contrast_dlg.h"

#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

#include "engine/destdoc.h"
#include "ui/common/qt_user_interface.h"
#include "ui/common/ui_registry.h"
#include "ui/dialogs/dialog_text.h"

namespace tessara {

namespace t = dialog_text;

CContrastDlg::CContrastDlg(QWidget* parent) : CToolDialog(&g_pContrastDlg, t::kContrastTitle, 160, 119, parent) {
  AddStatic(t::kContrast, 60, 8, 40, 10, Qt::AlignHCenter);
  m_pContrast = AddSlider(kContrast, 30, 18, 100, 15, true);
  AddStatic(t::kBrightness, 59, 38, 40, 10, Qt::AlignHCenter);
  m_pBrightness = AddSlider(kBrightness, 29, 49, 100, 15, true);
  QPushButton* defaults = AddButton(kSetDefaults, t::kSetDefaults, 5, 70, 60, 14);
  AddUpdateButton(kUpdate, 5, 92, 60, 14);
  AddQuitButton(92, 92, 60, 14);

  if (CDestdoc* doc = Session()) {
    m_nBrightnessPos = doc->m_nBrightness;
    m_nContrastPos = doc->m_nContrast;
  }
  m_pBrightness->setRange(0, 255);
  m_pBrightness->setTickInterval(255);
  m_pBrightness->setPageStep(51);
  m_pBrightness->setValue(m_nBrightnessPos);
  m_pContrast->setRange(0, 32);
  m_pContrast->setTickInterval(32);
  m_pContrast->setPageStep(6);
  m_pContrast->setValue(m_nContrastPos);

  connect(m_pContrast, &QSlider::valueChanged, this, &CContrastDlg::OnMoved);
  connect(m_pBrightness, &QSlider::valueChanged, this, &CContrastDlg::OnMoved);
  connect(defaults, &QPushButton::clicked, this, &CContrastDlg::OnSetDefaults);
  connect(UpdateButton(), &QPushButton::clicked, this, &CContrastDlg::OnUpdateTarget);
}

void CContrastDlg::OnMoved() {
  EnableUpdate(true);
  m_nBrightnessPos = m_pBrightness->value();
  m_nContrastPos = m_pContrast->value();
}

void CContrastDlg::OnSetDefaults() {
  EnableUpdate(true);
  m_nBrightnessPos = 128;
  m_nContrastPos = 16;
  // Moving the trackbars from here is not the user moving them.
  const QSignalBlocker b1(m_pBrightness), b2(m_pContrast);
  m_pBrightness->setValue(m_nBrightnessPos);
  m_pContrast->setValue(m_nContrastPos);
}

void CContrastDlg::OnUpdateTarget() {
  CDestdoc* doc = Session();
  if (!doc) return;
  doc->m_nContrast = m_nContrastPos;
  doc->m_nBrightness = m_nBrightnessPos;
  if (RunGenerateTarget(*doc) == 1) EnableUpdate(false);
  BringTargetForward();
}

}  // namespace tessara
