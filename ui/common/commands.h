// Command ids, the menu with its texts and prompts, the accelerator table, and
// the routing of a command along active view -> its document -> its frame ->
// main frame -> application. A command is asked whether it is enabled before a
// menu shows it and before it runs, whichever way it was chosen; a command that
// nobody along the route handles is disabled.
#pragma once

#include <QString>
#include <Qt>
#include <vector>

namespace tessara {

namespace cmd {
enum : int {
  kLoadSource = 207,
  kGenerateTarget = 208,

  kFileOpen = 57601,
  kFileSaveAs = 57604,
  kFilePrintSetup = 57606,
  kFilePrint = 57607,
  kFilePrintPreview = 57609,
  kFileMru1 = 57616,
  kFileMru16 = 57631,
  kAppAbout = 57664,
  kAppExit = 57665,
  kHelpFinder = 57667,
  kContextHelp = 57669,
  kHelp = 57670,
  kWindowCascade = 57650,
  kWindowTile = 57651,
  kNextPane = 57680,
  kPrevPane = 57681,

  kFineAlignment = 32772,
  kMergeSources = 32773,
  kViewAlign = 32774,
  kContrastBrightness = 32775,
  kViewTarget = 32776,
  kDeleteSource1 = 32780,
  kDeleteSource2 = 32781,
  kViewSource1 = 32782,
  kViewSource2 = 32783,
  kRotate = 32784,
  kMirror1 = 32785,
  kMirror2 = 32786,
  kResetSize1 = 32787,
  kResetSize2 = 32788,
  kCopySize1To2 = 32789,
  kCopySize2To1 = 32790,
  kCopyWidth1To2 = 32791,
  kCopyHeight1To2 = 32792,
  kCopyWidth2To1 = 32793,
  kCopyHeight2To1 = 32794,
  kViewTargetKey = 32796,
  kSnap1 = 32798,
  kSnap5 = 32799,
  kSnap10 = 32800,
  kSnap16 = 32802,
  kCylindricalProjection = 32803,
  kGridLines = 32805,
  kAlignAutomatically = 32806,
  kTurnByOrientation = 32807,
  kKeepCameraData = 32808,
  kZoomIn = 32809,
  kZoomOut = 32810,
  kZoomFit = 32811,
  kZoomActual = 32812,
  kUseTargetAsSource1 = 32813,
};
}  // namespace cmd

// One entry of the menu: a separator when id is 0; a placeholder for the
// recent files or the window list when marked; a command with a check mark
// (a setting turned on and off) when kToggle.
struct MenuItem {
  int id = 0;
  const char* text = "";
  const char* prompt = "";
  enum Kind { kCommand, kSeparator, kRecentFiles, kWindowList, kToggle } kind = kCommand;
};

struct Menu {
  const char* title;
  std::vector<MenuItem> items;
};

// The one menu, in order, with the texts exactly as shown.
const std::vector<Menu>& MenuTable();
// The prompt of a command (the status-line text while its item is highlighted),
// first line only; empty when it has none.
QString CommandPrompt(int id);

// The accelerator table: characters typed ("1", "2", "3", "a", "S", "s") match as
// typed, so a capital A does nothing; Ctrl+O, Ctrl+P, F1, Shift+F1, F6 and
// Shift+F6 match as keys. 0 when the key press is not an accelerator.
int MatchAccelerator(int key, Qt::KeyboardModifiers modifiers, const QString& text);

// Anything along the route: says whether it handles a command, whether the
// command may run now, and runs it.
class CCmdTarget {
 public:
  virtual ~CCmdTarget() = default;
  // True when this object handles `id`; `enabled` then says whether it may run.
  virtual bool OnUpdateCommand(int id, bool& enabled) {
    (void)id;
    (void)enabled;
    return false;
  }
  // Runs a command this object handles (only called when it is enabled).
  virtual void OnCommand(int id) { (void)id; }
  // Whether a command with a check mark, which this object handles, is on.
  virtual bool IsCommandChecked(int id) {
    (void)id;
    return false;
  }
};

// The first object along `route` that handles `id`, or null; `enabled` is its
// answer (false when nobody handles it).
CCmdTarget* FindHandler(const std::vector<CCmdTarget*>& route, int id, bool& enabled);
// Whether the handler of `id` along `route` has it checked (false when nobody
// handles it).
bool IsCommandChecked(const std::vector<CCmdTarget*>& route, int id);
// Runs `id` when it is enabled; false when it was disabled or unhandled.
bool RunCommand(const std::vector<CCmdTarget*>& route, int id);

}  // namespace tessara
