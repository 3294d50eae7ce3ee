#include "ui/views/zone.h"

#include <cstdlib>

namespace tessara {

int SnapValue(int v, int snap) {
  if (snap <= 0) return v;
  return snap * (v / snap);
}

ZonePoint CZoneTracker::ClampFar(ZonePoint p, int W, int H) const {
  if (p.x >= W) p.x = SnapValue(W, m_nSnap);
  if (p.y >= H) p.y = SnapValue(H, m_nSnap);
  return p;
}

void CZoneTracker::LeftDown(ZonePoint p, int W, int H, int upToDate, int& zoneOnly) {
  p = Snapped(ClampFar(p, W, H));
  m_ptZoneAnchor = m_ptZoneCorner = m_ptDragCorner = p;
  m_bLeftDown = 1;
  if (upToDate == 1) {
    zoneOnly = 1;
    m_bAutoScroll = 1;
  }
}

std::optional<std::string> CZoneTracker::HoverText(ZonePoint p, int H, int upToDate, int viewScaleX,
                                                   int viewScaleY) const {
  if (upToDate == 0) return std::nullopt;
  p = Snapped(p);
  const int sx = viewScaleX ? viewScaleX : 100, sy = viewScaleY ? viewScaleY : 100;
  const int x = p.x * 100 / sx;
  const int y = (H - p.y) * 100 / sy;
  return "x = " + std::to_string(x) + " y = " + std::to_string(y);
}

bool CZoneTracker::DragTo(ZonePoint p, int W, int H, bool leftAlone) {
  if (!leftAlone) return false;
  p = ClampFar(Snapped(p), W, H);
  if (p.x < 0) p.x = 0;
  if (p.y < 0) p.y = 0;
  m_ptDragCorner = p;
  return true;
}

CZoneTracker::Release CZoneTracker::LeftUp(ZonePoint p, int W, int H, bool haveTarget, int imageWidth,
                                           int imageHeight, int& zoneOnly) {
  m_bAutoScroll = 0;
  if (m_bLeftDown != 1) return Release::kNotDown;
  m_bLeftDown = 0;
  p = ClampFar(p, W, H);
  if (p.x < 0) p.x = 0;
  if (p.y < 0) p.y = 0;
  p = Snapped(p);
  m_ptZoneCorner = p;
  if (!haveTarget) return Release::kNoTarget;
  if (m_ptZoneCorner.x > imageWidth) m_ptZoneCorner.x = imageWidth;
  if (m_ptZoneCorner.y > imageHeight) m_ptZoneCorner.y = imageHeight;
  const int dx = std::abs(m_ptZoneCorner.x - m_ptZoneAnchor.x);
  const int dy = std::abs(m_ptZoneCorner.y - m_ptZoneAnchor.y);
  if (dx < kMinZoneSide || dy < kMinZoneSide) {
    m_ptZoneAnchor = m_ptZoneCorner = p;
    zoneOnly = 0;
    return dx > kClickSlack && dy > kClickSlack ? Release::kRefused : Release::kRefusedSilently;
  }
  return Release::kAccepted;
}

void CZoneTracker::RightDown(int& zoneOnly) {
  zoneOnly = 0;
  m_ptZoneAnchor = m_ptZoneCorner = ZonePoint{0, 0};
}

ScrollPos CZoneTracker::AutoScroll(ScrollPos s, int cw, int ch, int W, int H) {
  if (m_bAutoScroll != 1) return s;
  const int r = s.x + cw;
  if (W > r && r <= m_ptDragCorner.x) {
    const int d = m_ptDragCorner.x - r;
    s.x += d;
    m_ptDragCorner.x += d;
  }
  const int b = s.y + ch;
  if (H > b && b <= m_ptDragCorner.y) {
    const int d = m_ptDragCorner.y - b;
    s.y += d;
    m_ptDragCorner.y += d;
  }
  int d = s.x - m_ptDragCorner.x;
  if (d > 0 && s.x > 0) {
    s.x -= d;
    m_ptDragCorner.x -= d;
  }
  d = s.y - m_ptDragCorner.y;
  if (d > 0 && s.y > 0) {
    s.y -= d;
    m_ptDragCorner.y -= d;
  }
  return s;
}

}  // namespace tessara
