// The selection frame's arithmetic and the exact Align commands.
#include "engine/align_frame.h"

#include <algorithm>
#include <cstdint>

#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "framework/registry.h"
#include "framework/user_interface.h"

namespace tessara {

namespace {

// a x b / c in 32-bit arithmetic as the session's scales are kept: the product
// first (wrapping like a 32-bit int), then the quotient truncated toward zero.
int MulDiv32(int a, int b, int c) {
  if (c == 0) return a;
  const int32_t product = static_cast<int32_t>(static_cast<uint32_t>(int64_t{a} * b));
  if (c == -1 && product == INT32_MIN) return product;
  return product / c;
}

void Finish(CAlignDoc& doc, PrepareResult code) {
  doc.RebuildPreview(code);
  RefreshToolDialogs();
}

}  // namespace

AlignFrame SyncFrame(const CAlignDoc& doc, int n) {
  const bool one = n == 1;
  AlignFrame f;
  f.x = doc.m_nPreviewLeft + (one ? doc.m_nPrev1X : doc.m_nPrev2X);
  f.w = one ? doc.m_nPrev1Width : doc.m_nPrev2Width;
  f.h = one ? doc.m_nPrev1Height : doc.m_nPrev2Height;
  f.y = doc.m_nPreviewTop + doc.m_nPreviewHeight - f.h - (one ? doc.m_nPrev1Y : doc.m_nPrev2Y);
  return f;
}

int HitTest(const AlignFrame& f, int px, int py) {
  const int x = f.x, y = f.y, w = f.w, h = f.h;
  auto top = [&] { return y - 6 < py && py < y + 4; };
  auto middle = [&] { return y + h / 2 - 5 < py && py < y + h / 2 + 5; };
  auto bottom = [&] { return y + h - 4 < py && py < y + h + 6; };
  if (x - 6 < px && px < x + 4) {
    if (top()) return 7;
    if (middle()) return 6;
    if (bottom()) return 5;
  }
  if (x + w / 2 - 5 < px && px < x + w / 2 + 5) {
    if (top()) return 0;
    if (bottom()) return 4;
  }
  if (x + w - 4 < px && px < x + w + 6) {
    if (top()) return 1;
    if (middle()) return 2;
    if (bottom()) return 3;
  }
  if (x < px && px < x + w && y < py && py < y + h) return kZoneInside;
  return kZoneNone;
}

AlignFrame DragFrame(AlignFrame f, int zone, int dx, int dy) {
  switch (zone) {
    case 0: f.y += dy, f.h -= dy; break;
    case 1: f.w += dx, f.y += dy, f.h -= dy; break;
    case 2: f.w += dx; break;
    case 3: f.w += dx, f.h += dy; break;
    case 4: f.h += dy; break;
    case 5: f.h += dy, f.x += dx, f.w -= dx; break;
    case 6: f.x += dx, f.w -= dx; break;
    case 7: f.x += dx, f.y += dy, f.w -= dx, f.h -= dy; break;
    case 8: f.x += dx, f.y += dy; break;
    default: break;
  }
  f.w = std::max(f.w, 50);
  f.h = std::max(f.h, 50);
  return f;
}

AlignPointer PointerForZone(int zone) {
  switch (zone) {
    case 0:
    case 4: return AlignPointer::kSizeNS;
    case 1:
    case 5: return AlignPointer::kSizeNESW;
    case 2:
    case 6: return AlignPointer::kSizeWE;
    case 3:
    case 7: return AlignPointer::kSizeNWSE;
    case 8: return AlignPointer::kCross;
    default: return AlignPointer::kUnchanged;
  }
}

const char* StatusWordForZone(int zone) {
  switch (zone) {
    case 0:
    case 4: return "resize height";
    case 2:
    case 6: return "resize width";
    case 1:
    case 3:
    case 5:
    case 7: return "resize";
    case 8: return "move";
    default: return "";
  }
}

FrameChange MeasureFrameChange(const CAlignDoc& doc, const AlignFrame& f, int n) {
  const bool one = n == 1;
  const int pw = one ? doc.m_nPrev1Width : doc.m_nPrev2Width;
  const int ph = one ? doc.m_nPrev1Height : doc.m_nPrev2Height;
  const int px = one ? doc.m_nPrev1X : doc.m_nPrev2X;
  const int py = one ? doc.m_nPrev1Y : doc.m_nPrev2Y;
  const int left0 = doc.m_nPreviewLeft + px;
  const int top0 = doc.m_nPreviewTop + doc.m_nPreviewHeight - ph - py;
  FrameChange c;
  // A source narrower (or lower) in the preview than one pixel has no scale to
  // measure along that axis: it keeps the one it has.
  if (pw > 0) c.scaleX = static_cast<int>(int64_t{f.w} * 1024 / pw);
  if (ph > 0) c.scaleY = static_cast<int>(int64_t{f.h} * 1024 / ph);
  c.moveX = f.x - left0;
  c.moveY = (top0 + ph) - (f.y + f.h);
  return c;
}

void ApplyFrame(CAlignDoc& doc, const AlignFrame& f, int n) {
  const FrameChange c = MeasureFrameChange(doc, f, n);
  const PrepareResult code = doc.ApplyFrameChange(c.scaleX, c.scaleY, c.moveX, c.moveY, n);
  doc.RebuildPreview(code);
  doc.UpdateAllViews();
}

void MirrorSource(CAlignDoc& doc, int n) {
  CDestdoc& s = *g_pDestDoc;
  int& mirror = n == 1 ? s.m_bMirror1 : s.m_bMirror2;
  mirror = mirror == 1 ? 0 : 1;
  Finish(doc, s.PrepareSource(n));
}

void ResetSize(CAlignDoc& doc, int n) {
  CDestdoc& s = *g_pDestDoc;
  if (n == 1) s.m_nScale1X = s.m_nScale1Y = 1024;
  else s.m_nScale2X = s.m_nScale2Y = 1024;
  Finish(doc, s.PrepareSource(n));
}

namespace {

// Copies the prepared width and/or height of the other source to `to`.
void CopyAxes(CAlignDoc& doc, int to, bool width, bool height) {
  CDestdoc& s = *g_pDestDoc;
  if (!s.m_pSource1 || !s.m_pSource2) return;  // the commands need a valid preview
  const int w1 = s.m_pSource1->Width(), h1 = s.m_pSource1->Height();
  const int w2 = s.m_pSource2->Width(), h2 = s.m_pSource2->Height();
  if (to == 2) {
    if (width) s.m_nScale2X = MulDiv32(s.m_nScale2X, w1, w2), s.m_nOffsetX = 0;
    if (height) s.m_nScale2Y = MulDiv32(s.m_nScale2Y, h1, h2), s.m_nOffsetY = 0;
  } else {
    if (width) s.m_nScale1X = MulDiv32(s.m_nScale1X, w2, w1), s.m_nOffsetX = 0;
    if (height) s.m_nScale1Y = MulDiv32(s.m_nScale1Y, h2, h1), s.m_nOffsetY = 0;
  }
  Finish(doc, s.PrepareSource(to));
}

}  // namespace

void CopyWidth(CAlignDoc& doc, int to) { CopyAxes(doc, to, true, false); }
void CopyHeight(CAlignDoc& doc, int to) { CopyAxes(doc, to, false, true); }
void CopySize(CAlignDoc& doc, int to) { CopyAxes(doc, to, true, true); }

PrepareResult ApplyRotation(CAlignDoc& doc, int angle1, int cut1, int angle2, int cut2) {
  CDestdoc& s = *g_pDestDoc;
  PrepareResult code1 = kPrepareDone, code2 = kPrepareDone;
  if (static_cast<double>(angle1) != s.m_dRotation1 || s.m_bCutCorners1 != cut1) {
    s.m_bCutCorners1 = cut1;
    s.m_dRotation1 = angle1;
    code1 = s.PrepareSource(1);
  }
  if (static_cast<double>(angle2) != s.m_dRotation2 || s.m_bCutCorners2 != cut2) {
    s.m_bCutCorners2 = cut2;
    s.m_dRotation2 = angle2;
    if (code1 == kPrepareDone) code2 = s.PrepareSource(2);
  }
  const PrepareResult code = code2 != kPrepareDone ? code2 : code1;
  Finish(doc, code);
  return code;
}

}  // namespace tessara
