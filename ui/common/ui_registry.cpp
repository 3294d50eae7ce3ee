#include "ui/common/ui_registry.h"

#include "ui/common/shell.h"

#include <QDialog>

namespace tessara {

CMainFrame* g_pMainFrame = nullptr;
CShell* g_pShell = nullptr;
CDestview* g_pTargetView = nullptr;
CDestchild* g_pTargetFrame = nullptr;
CAlignview* g_pAlignView = nullptr;
CAlignChildWnd* g_pAlignFrame = nullptr;
CTessaraView* g_pSourceViews[2] = {nullptr, nullptr};
CChildFrame* g_pSourceFrames[2] = {nullptr, nullptr};

QDialog* g_pMergeDlg = nullptr;
QDialog* g_pMonoDlg = nullptr;
QDialog* g_pContrastDlg = nullptr;
QDialog* g_pFineAdjustDlg = nullptr;
QDialog* g_pCylinderDlg = nullptr;
QDialog* g_pGridDlg = nullptr;
QDialog* g_pRotateDlg = nullptr;

int g_bSource1Active = 0;
int g_bSource2Active = 0;
int g_bAlignActive = 0;

void CloseToolDialogs() {
  for (QDialog** slot : {&g_pFineAdjustDlg, &g_pMergeDlg, &g_pMonoDlg, &g_pContrastDlg, &g_pCylinderDlg, &g_pGridDlg}) {
    // Clear the reference first: a dialog clears its own when it is destroyed.
    QDialog* dialog = *slot;
    *slot = nullptr;
    delete dialog;
  }
}

}  // namespace tessara
