// The preview of both prepared sources, reduced by one integer factor chosen
// from the window size (nearest pixel, no averaging), and the one place where a
// frame dragged with the mouse becomes offsets and scales of the session.
#include "engine/align_doc.h"

#include <algorithm>
#include <climits>

#include "engine/destdoc.h"
#include "engine/prepared_pixels.h"
#include "framework/registry.h"
#include "framework/user_interface.h"

namespace tessara {

namespace {

int ClampToInt(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX)); }

// scale x factor / 1024 with the product kept to 32 bits, as the scales are.
int ScaleBy(int scale, int factor) {
  const int32_t product = static_cast<int32_t>(static_cast<uint32_t>(int64_t{scale} * factor));
  return product / 1024;
}

}  // namespace

const char* const* FailCodeLines(PrepareResult result) {
  const int code = static_cast<int>(result);
  static const char* const kLines[4][2] = {
      {"The preview image cannot be loaded because of insufficient memory.",
       "Another possibility is that one or both source images are too big."},
      {"The preview image cannot be loaded because the format of one or", "both source images is not recognised."},
      {"The preview image cannot be loaded because the format of one or",
       "both source images is RLE bitmap which cannot be handled by Tessara."},
      {"Quit preview image generation.",
       "The only option now is to delete one or both source images and start over."},
  };
  return code >= 1 && code <= 4 ? kLines[code - 1] : nullptr;
}

CAlignDoc::CAlignDoc() { SetTitle(align_text::kTitle); }

void CAlignDoc::FreePreview() {
  m_pPreview.reset();
  // Whatever failed belonged to the preview that goes; a rebuild that fails
  // says so again.
  m_nFailCode = kPrepareDone;
}

bool CAlignDoc::CanCloseDocument(bool mainFrameClosing) {
  if (!mainFrameClosing) ShowMessage(align_text::kNotAllowedToClose);
  return false;
}

namespace {

// Source 1 on the preview, every r-th pixel of every r-th row, from (x0, y0).
// Black becomes 1, so that it is told apart from where no picture lies.
void DrawFirstSource(const PreparedPixels& copy, bool mono, int r, int x0, int y0, int width, int height, Dib& preview) {
  for (int v = 0; v < height; ++v) {
    uint8_t* row = preview.Row(v + y0) + 3 * static_cast<size_t>(x0);
    const uint8_t* in = copy.Row(v * r);
    for (int u = 0; u < width; ++u) {
      uint8_t* p = row + 3 * static_cast<size_t>(u);
      if (mono) {
        p[0] = p[1] = p[2] = PreparedPixels::White(in, u * r) ? 255 : 1;
        continue;
      }
      copy.Colour(in, u * r, p);
      if ((p[0] | p[1] | p[2]) == 0) p[0] = p[1] = p[2] = 1;
    }
  }
}

// Source 2 over it: itself where source 1 does not lie, else half of each (a
// black-and-white source 2 lightens or darkens source 1 by half).
void DrawSecondSource(const PreparedPixels& copy, bool mono, int r, int x0, int y0, int width, int height, Dib& preview) {
  for (int v = 0; v < height; ++v) {
    uint8_t* row = preview.Row(v + y0) + 3 * static_cast<size_t>(x0);
    const uint8_t* in = copy.Row(v * r);
    for (int u = 0; u < width; ++u) {
      uint8_t* p = row + 3 * static_cast<size_t>(u);
      const bool empty = (p[0] | p[1] | p[2]) == 0;
      if (mono) {
        const bool white = PreparedPixels::White(in, u * r);
        if (empty) {
          p[0] = p[1] = p[2] = white ? 255 : 0;
        } else {
          for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(white ? (p[c] + 255) >> 1 : p[c] >> 1);
        }
      } else {
        uint8_t s[3];
        copy.Colour(in, u * r, s);
        for (int c = 0; c < 3; ++c) p[c] = empty ? s[c] : static_cast<uint8_t>((p[c] + s[c]) / 2);
      }
    }
  }
}

}  // namespace

void CAlignDoc::RebuildPreview(PrepareResult failCode) {
  RedrawViewsNow();
  FreePreview();
  if (g_nSourcesLoaded != 2 || !g_pDestDoc) return;
  CDestdoc& session = *g_pDestDoc;
  if (!session.m_pSource1 || !session.m_pSource2) {
    m_bAlignValid = 0;
    m_nFailCode = failCode;
    m_nPredictedWidth = m_nPredictedHeight = 0;
    session.m_nScale1X = session.m_nScale1Y = session.m_nScale2X = session.m_nScale2Y = 1;
    session.m_nOffsetX = session.m_nOffsetY = 0;
    session.ClearTarget();
    session.RedrawViewsNow();
    UpdateAllViews();
    return;
  }
  Dib& s1 = *session.m_pSource1;
  Dib& s2 = *session.m_pSource2;
  const int w1 = s1.Width(), h1 = s1.Height(), w2 = s2.Width(), h2 = s2.Height();
  int64_t x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  if (session.m_nOffsetX < 0) x1 = -int64_t{session.m_nOffsetX};
  else x2 = session.m_nOffsetX;
  if (session.m_nOffsetY < 0) y1 = -int64_t{session.m_nOffsetY};
  else y2 = session.m_nOffsetY;
  const int64_t W = std::max(w1 + x1, w2 + x2);
  const int64_t H = std::max(h1 + y1, h2 + y2);
  m_nPredictedWidth = ClampToInt(W);
  m_nPredictedHeight = ClampToInt(H);
  const int64_t k = (W < 500 || H < 500) ? 1 : 2;
  if (m_nClientHeight < 1) {
    // Said once per time the window loses its height: a resize rebuilds at
    // every step, and the message box itself makes the window lay out again.
    const bool warn = !m_bHeightWarned;
    m_bHeightWarned = true;
    m_nClientHeight = 1;
    if (warn) ShowMessage(align_text::kHeightTooSmall);
  } else {
    m_bHeightWarned = false;
  }
  if (m_nClientWidth < 1) m_nClientWidth = 1;
  int64_t reduction = (k + 1) * H / (k * m_nClientHeight);
  reduction = std::max(reduction, (k + 1) * W / (k * m_nClientWidth));
  reduction = std::max<int64_t>(reduction, 1);
  m_nFitReduction = ClampToInt(reduction);
  // Zoomed in: a finer reduction, as long as the preview stays of a size the
  // program can hold (about 64 million pixels).
  if (m_nZoomReduction > 0 && m_nZoomReduction < reduction) {
    int64_t zoomed = m_nZoomReduction;
    while (zoomed < reduction && (W / zoomed) * (H / zoomed) > kMaxZoomedPreviewPixels) ++zoomed;
    reduction = zoomed;
    m_nZoomReduction = ClampToInt(zoomed);
  }
  if (m_nZoomReduction <= 0 || m_nZoomReduction >= m_nFitReduction) m_nZoomReduction = 0, m_nPanX = m_nPanY = 0;
  m_nReduction = ClampToInt(reduction);
  const int Wp = ClampToInt(W / reduction), Hp = ClampToInt(H / reduction);
  m_nPreviewWidth = Wp;
  m_nPreviewHeight = Hp;
  m_nPreviewLeft = (m_nClientWidth - Wp) / 2 + m_nPanX;
  m_nPreviewTop = (m_nClientHeight - Hp) / 3 + m_nPanY;
  m_nPrev1Width = w1 / m_nReduction;
  m_nPrev1Height = h1 / m_nReduction;
  m_nPrev2Width = w2 / m_nReduction;
  m_nPrev2Height = h2 / m_nReduction;
  m_nPrev1X = ClampToInt(x1 / reduction);
  m_nPrev2X = ClampToInt(x2 / reduction);
  m_nPrev1Y = ClampToInt(y1 / reduction);
  m_nPrev2Y = ClampToInt(y2 / reduction);

  const PreparedPixels p1(s1), p2(s2);
  if (!p1.Readable() || !p2.Readable()) return;
  m_pPreview = CreateDib(0, 24, Wp, Hp, align_text::kNoMemoryPreview);
  if (!m_pPreview) return;
  Dib& preview = *m_pPreview;
  DrawFirstSource(p1, s1.BitCount() == 1, m_nReduction, m_nPrev1X, m_nPrev1Y, m_nPrev1Width, m_nPrev1Height, preview);
  DrawSecondSource(p2, s2.BitCount() == 1, m_nReduction, m_nPrev2X, m_nPrev2Y, m_nPrev2Width, m_nPrev2Height,
                   preview);
  UpdateAllViews();
  m_bAlignValid = 1;
  session.RedrawViewsNow();
}

PrepareResult CAlignDoc::ApplyFrameChange(int scaleX, int scaleY, int moveX, int moveY, int source) {
  if (!g_pDestDoc) return kPrepareMissing;
  CDestdoc& session = *g_pDestDoc;
  const int offsetX = session.m_nOffsetX, offsetY = session.m_nOffsetY;
  const int s1x = session.m_nScale1X, s1y = session.m_nScale1Y;
  const int s2x = session.m_nScale2X, s2y = session.m_nScale2Y;
  moveX = ClampToInt(int64_t{moveX} * m_nReduction);
  moveY = ClampToInt(int64_t{moveY} * m_nReduction);
  session.MarkNeedsUpdate();
  const bool scaled = scaleX != 1024 || scaleY != 1024;
  if (source == 1) {
    session.m_nOffsetX = ClampToInt(int64_t{offsetX} - moveX);
    session.m_nOffsetY = ClampToInt(int64_t{offsetY} - moveY);
    session.m_nScale1X = ScaleBy(s1x, scaleX);
    session.m_nScale1Y = ScaleBy(s1y, scaleY);
    if (scaled) {
      const PrepareResult result = session.PrepareSource(1);
      if (result != kPrepareDone) {
        session.m_nOffsetX = offsetX, session.m_nOffsetY = offsetY;
        session.m_nScale1X = s1x, session.m_nScale1Y = s1y;
        return result;
      }
    }
  } else {
    session.m_nOffsetX = ClampToInt(int64_t{offsetX} + moveX);
    session.m_nOffsetY = ClampToInt(int64_t{offsetY} + moveY);
    session.m_nScale2X = ScaleBy(s2x, scaleX);
    session.m_nScale2Y = ScaleBy(s2y, scaleY);
    if (scaled) {
      const PrepareResult result = session.PrepareSource(2);
      if (result != kPrepareDone) {
        session.m_nOffsetX = offsetX, session.m_nOffsetY = offsetY;
        session.m_nScale2X = s2x, session.m_nScale2Y = s2y;
        return result;
      }
    }
  }
  RefreshToolDialogs();
  return kPrepareDone;
}

}  // namespace tessara
