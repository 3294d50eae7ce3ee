// The windows' side of the process-wide registry: every view, frame and tool
// dialog the program makes, and which kind of view is active. Set by each
// object as it is made and cleared as it goes; the core never includes this.
#pragma once

class QDialog;

namespace tessara {

class CMainFrame;
class CDestview;
class CDestchild;
class CAlignview;
class CAlignChildWnd;
class CTessaraView;
class CChildFrame;

extern CMainFrame* g_pMainFrame;
extern CDestview* g_pTargetView;
extern CDestchild* g_pTargetFrame;
extern CAlignview* g_pAlignView;
extern CAlignChildWnd* g_pAlignFrame;
// Slot 0 is source 1, slot 1 source 2.
extern CTessaraView* g_pSourceViews[2];
extern CChildFrame* g_pSourceFrames[2];

// The modeless tool dialogs of the Target Window, null while closed; at most one
// of each.
extern QDialog* g_pMergeDlg;
extern QDialog* g_pMonoDlg;
extern QDialog* g_pContrastDlg;
extern QDialog* g_pFineAdjustDlg;
extern QDialog* g_pCylinderDlg;
extern QDialog* g_pGridDlg;
// The modal Rotate Source Image dialog while it runs.
extern QDialog* g_pRotateDlg;

// Which view is active, for the status line.
extern int g_bSource1Active;
extern int g_bSource2Active;
extern int g_bAlignActive;

// Destroys every open tool dialog and clears its reference, in the order Fine
// Adjustment, Merge, Merge Monochrome, Contrast and Brightness, Cylindrical
// Projection, Grid Lines.
void CloseToolDialogs();

}  // namespace tessara
