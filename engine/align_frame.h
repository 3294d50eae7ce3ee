// What the Align view does with the mouse and the Align menu, without any
// widget: the selection frame on a source's place in the preview, the hit zones
// of its eight handles, the frame following a drag, the session change a
// released frame makes, and the exact Align commands.
//
// Frames are in view pixels: x to the right, y down from the top of the view.
// The preview's own rows count from its bottom (see the align document).
#pragma once

#include "engine/prepare_source.h"

namespace tessara {

class CAlignDoc;

struct AlignFrame {
  int x = 0, y = 0, w = 0, h = 0;
  bool operator==(const AlignFrame&) const = default;
};

// Hit zones: 0 top middle, 1 top right, 2 right middle, 3 bottom right,
// 4 bottom middle, 5 bottom left, 6 left middle, 7 top left, 8 inside, 9 none.
enum AlignHitZone { kZoneNone = 9, kZoneInside = 8 };

// The pointer shape shown over a zone.
enum class AlignPointer { kSizeNS, kSizeNESW, kSizeWE, kSizeNWSE, kCross, kUnchanged };

// The frame on source n's place in the preview (n = 1, else source 2).
AlignFrame SyncFrame(const CAlignDoc& doc, int n);
// The zone under (px, py); strict comparisons, first match wins.
int HitTest(const AlignFrame& f, int px, int py);
// The frame after dragging zone `zone` by (dx, dy) from where it started;
// width and height are kept at 50 or more.
AlignFrame DragFrame(AlignFrame f, int zone, int dx, int dy);
AlignPointer PointerForZone(int zone);
// "move", "resize", "resize width", "resize height"; empty for no zone.
const char* StatusWordForZone(int zone);

// The change a released frame makes to source n: scales in 1/1024 and moves in
// preview pixels (y upward), measured at the source's left and bottom edges.
// Along an axis where the source has no size in the preview, the scale stays.
struct FrameChange {
  int scaleX = 1024, scaleY = 1024, moveX = 0, moveY = 0;
  bool operator==(const FrameChange&) const = default;
};
FrameChange MeasureFrameChange(const CAlignDoc& doc, const AlignFrame& f, int n);
// Applies a released frame: ApplyFrameChange, then RebuildPreview with its code.
void ApplyFrame(CAlignDoc& doc, const AlignFrame& f, int n);

// The Align menu's exact commands. Each prepares the source it changes, then
// rebuilds the preview and refreshes the tool dialogs.
void MirrorSource(CAlignDoc& doc, int n);
void ResetSize(CAlignDoc& doc, int n);
// Scales source `to` so that its prepared width (height, or both) equals the
// other's, and puts their left (bottom) edges together.
void CopyWidth(CAlignDoc& doc, int to);
void CopyHeight(CAlignDoc& doc, int to);
void CopySize(CAlignDoc& doc, int to);
// "Update" of the Rotate dialog: whole-degree angles and cut-corner flags;
// returns the preparation's result (a failure ends the dialog).
PrepareResult ApplyRotation(CAlignDoc& doc, int angle1, int cut1, int angle2, int cut2);

}  // namespace tessara
