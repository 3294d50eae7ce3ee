// The Zone of the Target Window: a rectangle dragged with the left mouse button
// that saving and printing then cut out of the Target. Every point taken from
// the mouse snaps to a grid of 1, 5, 10 or 16 pixels.
//
// Points here are logical pixels of the Target view: x to the right, y down from
// the Target's top edge, the scroll position already added. The status line
// shows y counted upward from the bottom edge instead.
#pragma once

#include <optional>
#include <string>

#include "engine/destdoc.h"

namespace tessara {

inline constexpr int kMinZoneSide = 64;
// A drag of this many pixels or less in a direction is a plain click.
inline constexpr int kClickSlack = 4;

// snap x (v / snap), truncating toward zero.
int SnapValue(int v, int snap);

struct ScrollPos {
  int x = 0;
  int y = 0;
  bool operator==(const ScrollPos&) const = default;
};

// The Zone's corner points and drag state, and what each mouse event does to
// them. W and H are the Target's size as shown (m_nTargetWidth, m_nTargetHeight).
class CZoneTracker {
 public:
  enum class Release {
    kNotDown,         // the left button did not go down in this view
    kNoTarget,        // the corner is stored, nothing checked
    kAccepted,        // the Zone stands
    kRefusedSilently, // a plain click
    kRefused,         // too small: the user is told
  };

  // Left button down at `p`: clamps to the Target, snaps, and sets all three
  // corners. On an up-to-date Target the Zone is on and the drag auto-scrolls.
  void LeftDown(ZonePoint p, int W, int H, int upToDate, int& zoneOnly);
  // The status text for the mouse at `p` with no drag going on: nothing while
  // the Target is out of date.
  std::optional<std::string> HoverText(ZonePoint p, int H, int upToDate, int viewScaleX, int viewScaleY) const;
  // The mouse moved to `p` during a drag; `leftAlone` says that the left button
  // alone is held (no other button, no Shift or Ctrl). Returns whether the live
  // corner moved (and a rubber band is to be drawn).
  bool DragTo(ZonePoint p, int W, int H, bool leftAlone);
  // Left button up at `p`. `imageWidth` and `imageHeight` are the Target
  // picture's size when there is one.
  Release LeftUp(ZonePoint p, int W, int H, bool haveTarget, int imageWidth, int imageHeight, int& zoneOnly);
  // Right button down: the Zone goes.
  void RightDown(int& zoneOnly);
  // One tick of the auto-scroll during a drag: the new scroll position, for a
  // view at `scroll` with a client area of cw x ch. Moves the live corner on by
  // the distance scrolled.
  ScrollPos AutoScroll(ScrollPos scroll, int cw, int ch, int W, int H);

  // Whether the Zone outline is to be drawn (corners differ in x and in y).
  bool HasOutline(int zoneOnly) const {
    return zoneOnly == 1 && m_ptZoneCorner.x != m_ptZoneAnchor.x && m_ptZoneCorner.y != m_ptZoneAnchor.y;
  }

  ZonePoint m_ptZoneCorner;
  ZonePoint m_ptZoneAnchor;
  ZonePoint m_ptDragCorner;
  int m_nSnap = 1;
  int m_bAutoScroll = 0;
  int m_bLeftDown = 0;

 private:
  ZonePoint Snapped(ZonePoint p) const { return {SnapValue(p.x, m_nSnap), SnapValue(p.y, m_nSnap)}; }
  // Points at or beyond the far edges go to the last grid line inside.
  ZonePoint ClampFar(ZonePoint p, int W, int H) const;
};

}  // namespace tessara
