// The align document: a reduced 24-bit preview of both prepared sources at their
// relative placement, and the numbers that map preview pixels back to source
// pixels. The alignment itself lives in the session (CDestdoc); the Align view
// draws this preview and feeds it the client size and the mouse.
//
// Positions here are preview pixels: columns from the left, stored rows from the
// bottom of the preview, as in every picture. The view places the preview's
// top-left corner at (m_nPreviewLeft, m_nPreviewTop) of its client area.
#pragma once

#include <cstdint>

#include "engine/prepare_source.h"
#include "framework/document.h"
#include "image/dib.h"

namespace tessara {

namespace align_text {
inline constexpr const char* kTitle = "Align Window";
inline constexpr const char* kHeightTooSmall = "Height too small - can't see the image!";
inline constexpr const char* kNoMemoryPreview = "Not enough memory to set up the preview image.";
inline constexpr const char* kNotAllowedToClose = "Not allowed to close this window !";
}  // namespace align_text

// The largest preview a zoom in lays out, in pixels.
inline constexpr int64_t kMaxZoomedPreviewPixels = int64_t{64} * 1000 * 1000;

// The two lines that say why there is no preview, for a preparation result
// 1..4; null for any other code.
const char* const* FailCodeLines(PrepareResult code);

class CAlignDoc : public CDocument {
 public:
  CAlignDoc();

  // Rebuilds the preview and its layout from the session; `failCode` is what
  // the preparation before it returned (recorded when a source is missing).
  void RebuildPreview(PrepareResult failCode);
  // Applies a frame dragged with the mouse to source 1 or 2: scales in 1/1024,
  // moves in preview pixels (y upward). 0, or the preparation's error code with
  // the geometry put back.
  PrepareResult ApplyFrameChange(int scaleX, int scaleY, int moveX, int moveY, int source);
  void FreePreview();
  // The framework asks to close the document: refused, with a message unless
  // the program is shutting down. Returns whether it may close (never).
  bool CanCloseDocument(bool mainFrameClosing);

  DibPtr m_pPreview;
  int m_nPreviewWidth = 1;
  int m_nPreviewHeight = 1;
  int m_nPrev1Width = 0;
  int m_nPrev1Height = 0;
  int m_nPrev2Width = 0;
  int m_nPrev2Height = 0;
  int m_nPrev1X = 0;
  int m_nPrev2X = 0;
  int m_nPrev1Y = 0;
  int m_nPrev2Y = 0;
  int m_nReduction = 1;
  int m_bAlignValid = 0;
  PrepareResult m_nFailCode = kPrepareDone;
  int m_nPredictedWidth = 0;
  int m_nPredictedHeight = 0;
  int m_nPreviewLeft = 0;
  int m_nPreviewTop = 0;
  int m_nClientWidth = 1;
  int m_nClientHeight = 1;
  // Zoom: 0 lays the preview out to fit the window (the reduction above);
  // a smaller reduction shows it larger, moved by (m_nPanX, m_nPanY) view
  // pixels from its centred place. m_nFitReduction is the one that fits.
  int m_nZoomReduction = 0;
  int m_nFitReduction = 1;
  int m_nPanX = 0;
  int m_nPanY = 0;
  // The window was too low for the preview and the user has been told; not
  // again until it has had a height again (a resize sends many rebuilds).
  bool m_bHeightWarned = false;
};

}  // namespace tessara
