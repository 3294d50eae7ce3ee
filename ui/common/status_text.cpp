#include "ui/common/status_text.h"

#include <cstdlib>

namespace tessara {

std::optional<std::string> SessionStatusText(const SessionStatus& s) {
  if (!s.haveTarget) return std::nullopt;
  if (s.sourcesLoaded == 0) return status_text::kAwaitingBoth;
  if (s.sourcesLoaded == 1) return status_text::kAwaitingSecond;
  if (s.source1Active == 1) return status_text::kThisIsSource1;
  if (s.source2Active == 1) return status_text::kThisIsSource2;
  if (s.alignActive == 1 && !s.alignPreview) return std::string();
  if (s.alignActive == 1)
    return "Predicted target size = " + std::to_string(s.predictedWidth) + " X " + std::to_string(s.predictedHeight);
  // Without a picture there is no size to tell (the 1 x 1 kept then is not
  // one): the Target has to be built.
  if (s.upToDate == 0 || !s.targetImage) return status_text::kNeedsUpdating;
  if (s.zoneOnly) {
    if (s.dragCorner.x == s.zoneAnchor.x && s.dragCorner.y == s.zoneAnchor.y) return status_text::kZoneNotSet;
    // The display scales are always 100; a zero one must not stop the program.
    const int sx = s.viewScaleX ? s.viewScaleX : 100, sy = s.viewScaleY ? s.viewScaleY : 100;
    const int w = std::abs(s.dragCorner.x - s.zoneAnchor.x) * 100 / sx;
    const int h = std::abs(s.dragCorner.y - s.zoneAnchor.y) * 100 / sy;
    return "Zone width = " + std::to_string(w) + "  Zone height = " + std::to_string(h);
  }
  return "Actual target size = " + std::to_string(s.targetWidth) + " X " + std::to_string(s.targetHeight);
}

int ProgressFillWidth(int percent, int paneWidth) {
  if (percent <= 0) return 0;
  return percent * paneWidth / 100;
}

}  // namespace tessara
