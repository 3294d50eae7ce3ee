#include "ui/dialogs/fine_adjust_dlg.h"

#include <QPushButton>
#include <cmath>
#include <optional>
#include <utility>

#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "framework/registry.h"
#include "ui/common/align_undo.h"
#include "ui/common/long_work.h"
#include "ui/common/qt_user_interface.h"
#include "ui/common/ui_registry.h"
#include "ui/dialogs/dialog_text.h"

namespace tessara {

namespace t = dialog_text;

namespace {
constexpr int kAllSpins[8] = {CFineAdjustDlg::kRotation2, CFineAdjustDlg::kRotation1, CFineAdjustDlg::kScale2Y,
                              CFineAdjustDlg::kScale1Y,   CFineAdjustDlg::kScale2X,   CFineAdjustDlg::kScale1X,
                              CFineAdjustDlg::kOffsetY,   CFineAdjustDlg::kOffsetX};
}  // namespace

CFineAdjustDlg::CFineAdjustDlg(QWidget* parent) : CToolDialog(&g_pFineAdjustDlg, t::kFineTitle, 160, 246, parent) {
  TakeBase();
  AddStatic(t::kFineHint, 5, 6, 150, 28);
  AddFrame(StaticFrame::kWhiteFrame, 5, 36, 150, 52);
  AddStatic(t::kDistance, 5, 39, 150, 13, Qt::AlignHCenter, StaticFrame::kBorder);
  auto* offsetX = AddSpin(kOffsetX, Qt::Horizontal, 5, 56, 24, 10, QRect(33, 57, 19, 8));
  m_pDirectionX = AddDirection(kDirectionX, 63, 54, 54, 12);
  AddStatic(t::kHorizontal, 120, 56, 35, 10);
  auto* offsetY = AddSpin(kOffsetY, Qt::Horizontal, 5, 74, 24, 10, QRect(33, 75, 19, 8));
  m_pDirectionY = AddDirection(kDirectionY, 63, 73, 54, 12);
  AddStatic(t::kVertical, 120, 74, 35, 10);
  AddFrame(StaticFrame::kWhiteFrame, 5, 95, 150, 116);
  AddStatic(t::kSource1Geometry, 11, 100, 65, 12, Qt::AlignHCenter, StaticFrame::kBorder);
  AddStatic(t::kSource2Geometry, 82, 100, 65, 12, Qt::AlignHCenter, StaticFrame::kBorder);
  AddStatic(t::kRotateAngle, 53, 117, 51, 20);
  AddStatic(t::kHorizScale, 53, 146, 51, 14);
  AddStatic(t::kVerticalScale, 53, 170, 51, 14);
  // Source 1's column on the left, source 2's on the right; the rows are
  // rotation, horizontal scale, vertical scale.
  const int rows[3] = {120, 146, 172};
  const int column1[3] = {kRotation1, kScale1X, kScale1Y};
  const int column2[3] = {kRotation2, kScale2X, kScale2Y};
  QList<CSpinButton*> vertical;
  for (int r = 0; r < 3; ++r) {
    vertical << AddSpin(column1[r], Qt::Vertical, 15, rows[r], 11, 14, QRect(30, rows[r] + 3, 19, 8));
    vertical << AddSpin(column2[r], Qt::Vertical, 112, rows[r], 11, 14, QRect(127, rows[r] + 3, 19, 8));
  }
  AddUpdateButton(kUpdate, 5, 196, 60, 14);
  AddQuitButton(95, 196, 60, 14);
  m_pLine1 = AddSourceLine(kSource1Line, 5, 216, 150, 8);
  m_pLine2 = AddSourceLine(kSource2Line, 5, 232, 150, 8);

  for (int id : kAllSpins) {
    Spin(id)->SetRange(-kSpinRange, kSpinRange);
    Spin(id)->SetPos(0);
  }
  StartSourceNameTimer();
  for (CSpinButton* spin : {offsetX, offsetY}) connect(spin, &CSpinButton::Scrolled, this, &CFineAdjustDlg::OnHorizontalSpin);
  for (CSpinButton* spin : vertical) connect(spin, &CSpinButton::Scrolled, this, &CFineAdjustDlg::OnVerticalSpin);
  connect(UpdateButton(), &QPushButton::clicked, this, &CFineAdjustDlg::OnUpdateTarget);
}

void CFineAdjustDlg::TakeBase() {
  const CDestdoc* doc = Session();
  if (!doc) return;
  m_nBaseOffsetX = doc->m_nOffsetX;
  m_nBaseOffsetY = doc->m_nOffsetY;
  m_dBaseRotation1 = doc->m_dRotation1;
  m_dBaseRotation2 = doc->m_dRotation2;
  m_nBaseScale1X = doc->m_nScale1X;
  m_nBaseScale1Y = doc->m_nScale1Y;
  m_nBaseScale2X = doc->m_nScale2X;
  m_nBaseScale2Y = doc->m_nScale2Y;
}

bool CFineAdjustDlg::ShowDistanceFromBase() {
  const CDestdoc* doc = Session();
  if (!doc) return false;
  // Each spin's position as the session's distance from its base; the steps
  // of the rotations are tenths of a degree.
  const auto tenths = [](double now, double base) -> std::optional<int> {
    const double t = (now - base) * 10.0;
    const long r = std::lround(t);
    if (std::fabs(t - r) > 1e-6) return std::nullopt;
    return static_cast<int>(r);
  };
  const std::optional<int> r1 = tenths(doc->m_dRotation1, m_dBaseRotation1);
  const std::optional<int> r2 = tenths(doc->m_dRotation2, m_dBaseRotation2);
  if (!r1 || !r2) return false;
  const std::pair<int, int> positions[8] = {
      {kOffsetX, doc->m_nOffsetX - m_nBaseOffsetX}, {kOffsetY, doc->m_nOffsetY - m_nBaseOffsetY},
      {kRotation1, *r1},                           {kRotation2, *r2},
      {kScale1X, doc->m_nScale1X - m_nBaseScale1X}, {kScale1Y, doc->m_nScale1Y - m_nBaseScale1Y},
      {kScale2X, doc->m_nScale2X - m_nBaseScale2X}, {kScale2Y, doc->m_nScale2Y - m_nBaseScale2Y}};
  for (const auto& [id, pos] : positions)
    if (pos < -kSpinRange || pos > kSpinRange) return false;
  for (const auto& [id, pos] : positions) Spin(id)->SetPos(pos);
  ShowDirections(positions[0].second, positions[1].second);
  return true;
}

void CFineAdjustDlg::ShowDirections(int x, int y) {
  if (x == 0) m_pDirectionX->Clear();
  else m_pDirectionX->ShowText(QString::fromUtf8(x > 0 ? t::kSource2Right : t::kSource1Right));
  if (y == 0) m_pDirectionY->Clear();
  else m_pDirectionY->ShowText(QString::fromUtf8(y > 0 ? t::kSource2Up : t::kSource1Up));
}

void CFineAdjustDlg::RefreshFromSession() {
  // Undoing or redoing a step (one of this dialog's clicks, say) keeps the
  // base: the spins show how far the alignment put back lies from it.
  if (IsPuttingBackAlignment() && ShowDistanceFromBase()) {
    EnableUpdate(true);
    return;
  }
  TakeBase();
  for (int id : kAllSpins) Spin(id)->SetPos(0);
  EnableUpdate(true);
  m_pDirectionX->Clear();
  m_pDirectionY->Clear();
}

void CFineAdjustDlg::PaintSourceNames() { PaintSourceNamesInto(m_pLine1, m_pLine2); }

int CFineAdjustDlg::Position(int id) const { return LowWordSigned(Spin(id)->Pos()); }

void CFineAdjustDlg::OnHorizontalSpin() {
  EnableUpdate(true);
  CDestdoc* doc = Session();
  if (!doc) return;
  const int x = Position(kOffsetX), y = Position(kOffsetY);
  const int offsetX = x + m_nBaseOffsetX, offsetY = y + m_nBaseOffsetY;
  CAlignStep step(QString::fromUtf8(undo_text::kFineAdjustment));
  if (doc->m_nOffsetX != offsetX || doc->m_nOffsetY != offsetY) doc->MarkNeedsUpdate();
  doc->m_nOffsetX = offsetX;
  doc->m_nOffsetY = offsetY;
  // Which source moved which way: positive moves source 2 right and up.
  ShowDirections(x, y);
}

void CFineAdjustDlg::OnVerticalSpin() {
  EnableUpdate(true);
  CDestdoc* doc = Session();
  if (!doc) return;
  const double rotation1 = Position(kRotation1) / 10.0 + m_dBaseRotation1;
  const double rotation2 = Position(kRotation2) / 10.0 + m_dBaseRotation2;
  const int scale1X = Position(kScale1X) + m_nBaseScale1X, scale1Y = Position(kScale1Y) + m_nBaseScale1Y;
  const int scale2X = Position(kScale2X) + m_nBaseScale2X, scale2Y = Position(kScale2Y) + m_nBaseScale2Y;
  if (doc->m_dRotation1 != rotation1 || doc->m_dRotation2 != rotation2 || doc->m_nScale1X != scale1X ||
      doc->m_nScale1Y != scale1Y || doc->m_nScale2X != scale2X || doc->m_nScale2Y != scale2Y)
    doc->MarkNeedsUpdate();
  CAlignStep step(QString::fromUtf8(undo_text::kFineAdjustment));
  doc->m_nScale1X = scale1X;
  doc->m_nScale1Y = scale1Y;
  doc->m_nScale2X = scale2X;
  doc->m_nScale2Y = scale2Y;
  doc->m_dRotation1 = rotation1;
  doc->m_dRotation2 = rotation2;
}

void CFineAdjustDlg::OnUpdateTarget() {
  CDestdoc* doc = Session();
  if (!doc) return;
  const PrepareResult code = RunLongWork([doc] {
    PrepareResult prepared = doc->PrepareSource(1);
    if (prepared == kPrepareDone) prepared = doc->PrepareSource(2);
    if (g_pAlignDoc) g_pAlignDoc->RebuildPreview(prepared);
    return prepared;
  });
  if (code != kPrepareDone) {
    // The Align Window says why; the bases no longer describe anything.
    Quit();
    return;
  }
  if (RunGenerateTarget(*doc) == 1) EnableUpdate(false);
  BringTargetForward();
}

}  // namespace tessara
