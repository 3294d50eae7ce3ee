// The texts of the status line and the rule that says where the session stands
// in pane 1, kept free of widgets so that it can be checked on its own.
#pragma once

#include <optional>
#include <string>

#include "engine/destdoc.h"

namespace tessara {

namespace status_text {
inline constexpr const char* kIdle = "For Help, press F1";
inline constexpr const char* kZoneSize = "Zone size";
inline constexpr const char* kProcess = "Process";
inline constexpr const char* kProgressBar = "Progress Bar";
inline constexpr const char* kAwaitingBoth = "Awaiting load of both sources.";
inline constexpr const char* kAwaitingSecond = "Awaiting load of 2nd source.";
inline constexpr const char* kThisIsSource1 = "This is source 1";
inline constexpr const char* kThisIsSource2 = "This is source 2";
inline constexpr const char* kNeedsUpdating = "Target needs updating";
inline constexpr const char* kZoneNotSet = "Zone rectangle not set";
}  // namespace status_text

// Widths of the four panes in pixels.
inline constexpr int kPaneWidths[4] = {200, 200, 200, 100};

// Everything pane 1's rule looks at.
struct SessionStatus {
  bool haveTarget = false;  // the target document and the Target view exist
  int sourcesLoaded = 0;
  int source1Active = 0;
  int source2Active = 0;
  int alignActive = 0;
  bool alignPreview = false;  // the Align Window shows a valid preview
  int predictedWidth = 0;
  int predictedHeight = 0;
  int upToDate = 0;
  bool targetImage = false;  // a Target picture exists
  int zoneOnly = 0;
  ZonePoint dragCorner;
  ZonePoint zoneAnchor;
  int viewScaleX = 100;
  int viewScaleY = 100;
  int targetWidth = 1;
  int targetHeight = 1;
};

// Pane 1's text; nothing when the text is to stay as it is. With the Align
// Window active but no preview in it (a source still being read, or one that
// could not be prepared) no predicted size is known, and the pane is empty.
std::optional<std::string> SessionStatusText(const SessionStatus& s);

// The width in pixels that `percent` of a progress pane `paneWidth` wide fills.
int ProgressFillWidth(int percent, int paneWidth);

}  // namespace tessara
