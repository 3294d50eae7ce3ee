#include "ui/common/commands.h"

namespace tessara {

const std::vector<Menu>& MenuTable() {
  using K = MenuItem::Kind;
  static const std::vector<Menu> kMenus = {
      {"&File",
       {
           {cmd::kFileOpen, "&Open...\tCtrl+O", "Open an existing image\nOpen"},
           {cmd::kFileSaveAs, "Save as...\tS", "Save the Target Image\nSave As"},
           {0, "", "", K::kSeparator},
           {cmd::kFilePrint, "&Print...\tCtrl+P", "Print the Target Image\nPrint"},
           {cmd::kFilePrintPreview, "Print preview", "Display full Target Image\nPrint Preview"},
           {cmd::kFilePrintSetup, "Print setup...", "Change the printer and printing options\nPrint Setup"},
           {0, "", "", K::kSeparator},
           {cmd::kFileMru1, "Recent File", "Open this document", K::kRecentFiles},
           {0, "", "", K::kSeparator},
           {cmd::kAppExit, "E&xit", "Quit the application: Tessara\nExit"},
       }},
      {"&Align",
       {
           {cmd::kRotate, "Rotate", ""},
           {0, "", "", K::kSeparator},
           {cmd::kMirror1, "Mirror 1", "Mirror source 1 image"},
           {cmd::kMirror2, "Mirror 2", "Mirror source 2 image"},
           {0, "", "", K::kSeparator},
           {cmd::kResetSize1, "Reset size 1", "Reset sizeof source 1 image to 100% of original"},
           {cmd::kResetSize2, "Reset size 2", "Reset size of source 2 image to 100% of original"},
           {0, "", "", K::kSeparator},
           {cmd::kCopyWidth1To2, "Copy width 1 to 2", "Copy width of source 1 to source 2"},
           {cmd::kCopyHeight1To2, "Copy height 1 to 2", "Copy height of source 1 to 2"},
           {cmd::kCopyWidth2To1, "Copy width 2 to 1", "Copy width of source 2 to 1"},
           {cmd::kCopyHeight2To1, "Copy height 2 to 1", "Copy height of source 2 to 1"},
           {cmd::kCopySize1To2, "Copy size 1 to 2", "Copy size of source 1 to 2"},
           {cmd::kCopySize2To1, "Copy size 2 to 1", "Copy size of source 2 to 1"},
           {0, "", "", K::kSeparator},
           {cmd::kAlignAutomatically, "Align Automatically\tCtrl+Shift+A",
            "Find where source 2 lies from the detail both sources show\nAlign Automatically"},
       }},
      {"&Target",
       {
           {cmd::kFineAlignment, "Fine Alignment", "Fine Alignment of Sources in the Target"},
           {cmd::kMergeSources, "Merge Sources", "Merge Source 1 and 2 in the Target"},
           {cmd::kContrastBrightness, "Contrast Brightness", "Setup Contrast and Brightness of the Target"},
           {cmd::kCylindricalProjection, "Cylindrical Projection", "Cylindrical Projection"},
           {cmd::kGridLines, "Grid lines", "Set grid lines"},
           {0, "", "", K::kSeparator},
           {cmd::kDeleteSource1, "DELETE source 1", "Delete Source 1 (to load a new one)"},
           {cmd::kDeleteSource2, "DELETE source 2", "Delete Source 2 (to load a new one)"},
           {cmd::kUseTargetAsSource1, "&Use Target as Source 1",
            "The Target becomes source 1 and source 2 closes, to join a further picture onto it"},
           {0, "", "", K::kSeparator},
           {cmd::kSnap1, "Snap to 1", "Snap grid to 1", K::kToggle},
           {cmd::kSnap5, "Snap to 5", "Snap grid to 5", K::kToggle},
           {cmd::kSnap10, "Snap to 10", "Snap grid to 10", K::kToggle},
           {cmd::kSnap16, "Snap to 16", "Snap grid to  16", K::kToggle},
       }},
      {"&View",
       {
           {cmd::kViewAlign, "Align", "View alignment of both sources"},
           {cmd::kViewTarget, "Target", "View Target"},
           {cmd::kViewSource1, "Source 1", "View Source 1"},
           {cmd::kViewSource2, "Source 2", "View Source 2"},
           {0, "", "", K::kSeparator},
           {cmd::kZoomIn, "Zoom in\tCtrl++", "Show the Align or Target Window's picture larger\nZoom In"},
           {cmd::kZoomOut, "Zoom out\tCtrl+-", "Show the Align or Target Window's picture smaller\nZoom Out"},
           {cmd::kZoomFit, "Fit in window\tCtrl+0", "Show the whole picture in its window\nFit in Window"},
           {cmd::kZoomActual, "Actual size\tCtrl+1", "Show one picture pixel on each screen pixel\nActual Size"},
       }},
      {"&Options",
       {
           {cmd::kTurnByOrientation, "Turn pictures by their orientation tag",
            "Turn the pictures loaded from now on upright as their orientation tag asks; off keeps their stored pixels",
            K::kToggle},
           {cmd::kKeepCameraData, "Keep the camera data of source 1",
            "Give the saved Target source 1's camera data (EXIF, XMP, IPTC); off saves none of it", K::kToggle},
       }},
      {"&Window",
       {
           {cmd::kWindowCascade, "&Cascade", "Arrange windows so they overlap\nCascade Windows"},
           {cmd::kWindowTile, "&Tile", "Arrange windows as non-overlapping tiles\nTile Windows"},
           {0, "", "", K::kWindowList},
       }},
      {"&Help",
       {
           {cmd::kHelpFinder, "&Help Topics", "List Help topics\nHelp Topics"},
           {cmd::kAppAbout, "&About Tessara...", ""},
           {cmd::kHelp, "Specific help", "Display help for current task or command\nHelp"},
       }},
  };
  return kMenus;
}

QString CommandPrompt(int id) {
  if (id >= cmd::kFileMru1 && id <= cmd::kFileMru16) return QStringLiteral("Open this document");
  for (const Menu& menu : MenuTable())
    for (const MenuItem& item : menu.items)
      if (item.id == id && (item.kind == MenuItem::kCommand || item.kind == MenuItem::kToggle)) return QString::fromUtf8(item.prompt).section('\n', 0, 0);
  return {};
}

int MatchAccelerator(int key, Qt::KeyboardModifiers modifiers, const QString& text) {
  const Qt::KeyboardModifiers mods = modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier |
                                                  Qt::MetaModifier);
  // Typed characters: what the keyboard produced, not which key it was.
  if (!(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) && text.size() == 1) {
    switch (text.at(0).unicode()) {
      case '1': return cmd::kViewSource1;
      case '2': return cmd::kViewSource2;
      case '3': return cmd::kViewTargetKey;
      case 'a': return cmd::kViewAlign;
      case 'S':
      case 's': return cmd::kFileSaveAs;
      default: break;
    }
  }
  if (mods == Qt::ControlModifier && key == Qt::Key_O) return cmd::kFileOpen;
  if (mods == Qt::ControlModifier && key == Qt::Key_P) return cmd::kFilePrint;
  if (mods == (Qt::ControlModifier | Qt::ShiftModifier) && key == Qt::Key_A) return cmd::kAlignAutomatically;
  // Zoom: Ctrl with + (typed with or without Shift, or the keypad's), -, 0, 1.
  const bool ctrl = mods == Qt::ControlModifier || mods == (Qt::ControlModifier | Qt::ShiftModifier);
  if (ctrl && (key == Qt::Key_Plus || key == Qt::Key_Equal)) return cmd::kZoomIn;
  if (ctrl && (key == Qt::Key_Minus || key == Qt::Key_Underscore)) return cmd::kZoomOut;
  if (mods == Qt::ControlModifier && key == Qt::Key_0) return cmd::kZoomFit;
  if (mods == Qt::ControlModifier && key == Qt::Key_1) return cmd::kZoomActual;
  if (key == Qt::Key_F1 && mods == Qt::NoModifier) return cmd::kHelp;
  if (key == Qt::Key_F1 && mods == Qt::ShiftModifier) return cmd::kContextHelp;
  if (key == Qt::Key_F6 && mods == Qt::NoModifier) return cmd::kNextPane;
  if (key == Qt::Key_F6 && mods == Qt::ShiftModifier) return cmd::kPrevPane;
  return 0;
}

CCmdTarget* FindHandler(const std::vector<CCmdTarget*>& route, int id, bool& enabled) {
  for (CCmdTarget* target : route) {
    if (!target) continue;
    bool on = true;
    if (target->OnUpdateCommand(id, on)) {
      enabled = on;
      return target;
    }
  }
  enabled = false;
  return nullptr;
}

bool IsCommandChecked(const std::vector<CCmdTarget*>& route, int id) {
  bool enabled = false;
  CCmdTarget* handler = FindHandler(route, id, enabled);
  return handler && handler->IsCommandChecked(id);
}

bool RunCommand(const std::vector<CCmdTarget*>& route, int id) {
  bool enabled = false;
  CCmdTarget* handler = FindHandler(route, id, enabled);
  if (!handler || !enabled) return false;
  handler->OnCommand(id);
  return true;
}

}  // namespace tessara
