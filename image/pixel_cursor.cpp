// The per-depth cursors. Each reads or writes one pixel at (x, y) of the stored
// rows; on destruction a cursor zeroes the row padding of its picture unless
// told to keep it, so every picture a cursor touched leaves with clean pads.
#include "image/pixel_cursor.h"

#include <cstring>

#include "image/packed_row.h"

namespace tessara {

CurPixel g_CurPixel = {0, 0, 0};
int g_bMonoBlack = 0;

namespace {

// The low 16 bits of mask i (red, green, blue) after the header.
uint16_t MaskAt(const Dib& dib, int i) { return static_cast<uint16_t>(ReadBmpMasks(dib.Data(), 40)[i]); }

}  // namespace

// ---- base ----

PixelCursor::PixelCursor(Dib& dib, int bitCount) {
  const BITMAPINFOHEADER& h = dib.Header();
  m_nWidth = h.biWidth;
  m_nHeight = h.biHeight;
  m_pBits = dib.Bits();
  m_nStride = static_cast<size_t>(DibRowStride(m_nWidth, bitCount));
  // Bytes used by the pixels of a row; the rest of the stride is padding.
  const int64_t used = (static_cast<int64_t>(m_nWidth) * bitCount + 7) / 8;
  m_nPad = m_nWidth > 0 ? static_cast<int>(static_cast<int64_t>(m_nStride) - used) : 0;
}

int PixelCursor::MoveTo(int, int) { return 0; }
void PixelCursor::NextRow() {}
void PixelCursor::PreviousRow() {}
void PixelCursor::PreviousColumn() {}
void PixelCursor::NextColumn() {}
void PixelCursor::WritePixel(int, int, const PixelValue*) {}
void PixelCursor::WriteMono(int, int, int) {}
void PixelCursor::KeepPadding() { m_bKeepPadding = 1; }
PixelCursor::~PixelCursor() = default;

void PixelCursor::ClearPadding() {
  if (m_bKeepPadding || m_nPad <= 0 || m_nHeight <= 0) return;
  for (int y = 0; y < m_nHeight; ++y) std::memset(RowPtr(y) + m_nStride - m_nPad, 0, static_cast<size_t>(m_nPad));
}

// ---- 1 bit ----

PixelCursor1::PixelCursor1(Dib& dib) : PixelCursorMoves(dib, 1) {
  const RGBQUAD* t = dib.ColorTable();
  m_color0 = {t[0].rgbBlue, t[0].rgbGreen, t[0].rgbRed};
  m_color1 = {t[1].rgbBlue, t[1].rgbGreen, t[1].rgbRed};
}

PixelCursor1::~PixelCursor1() { ClearPadding(); }

int PixelCursor1::MoveTo(int x, int y) {
  m_nX = x;
  m_nY = y;
  if (PackedBit(RowPtr(y), x)) {
    g_bMonoBlack = 0;
    g_CurPixel = m_color1;
    return 1;
  }
  g_bMonoBlack = 1;
  g_CurPixel = m_color0;
  return 0;
}

void PixelCursor1::WritePixel(int x, int y, const PixelValue* value) {
  SetPackedBit(RowPtr(y), x, value->index == 1);
}

void PixelCursor1::WriteMono(int x, int y, int black) {
  PixelValue v{0, 0, 0, black ? 0 : 1};
  WritePixel(x, y, &v);
}

// ---- 4 bits ----

PixelCursor4::PixelCursor4(Dib& dib) : PixelCursorMoves(dib, 4), m_pColors(dib.ColorTable()) {}
PixelCursor4::~PixelCursor4() { ClearPadding(); }

int PixelCursor4::MoveTo(int x, int y) {
  m_nX = x;
  m_nY = y;
  const int index = PackedNibble(RowPtr(y), x);
  const RGBQUAD& c = m_pColors[index];
  g_CurPixel = {c.rgbBlue, c.rgbGreen, c.rgbRed};
  return index;
}

void PixelCursor4::WritePixel(int x, int y, const PixelValue* value) {
  SetPackedNibble(RowPtr(y), x, static_cast<unsigned>(value->index));
}

void PixelCursor4::WriteMono(int x, int y, int) {
  PixelValue v{0, 0, 0, 0};
  WritePixel(x, y, &v);
}

// ---- 8 bits ----

PixelCursor8::PixelCursor8(Dib& dib) : PixelCursorMoves(dib, 8), m_pColors(dib.ColorTable()) {}
PixelCursor8::~PixelCursor8() { ClearPadding(); }

int PixelCursor8::MoveTo(int x, int y) {
  m_nX = x;
  m_nY = y;
  const int index = RowPtr(y)[x];
  const RGBQUAD& c = m_pColors[index];
  g_CurPixel = {c.rgbBlue, c.rgbGreen, c.rgbRed};
  return index;
}

void PixelCursor8::WritePixel(int x, int y, const PixelValue* value) {
  RowPtr(y)[x] = static_cast<uint8_t>(value->index & 0xFF);
}

void PixelCursor8::WriteMono(int x, int y, int) { RowPtr(y)[x] = 0; }

// ---- 16 bits ----

PixelCursor16::PixelCursor16(Dib& dib) : PixelCursorMoves(dib, 16) {
  if (dib.Header().biCompression == BI_BITFIELDS) {
    m_nMaskRed = MaskAt(dib, 0);
    m_nMaskGreen = MaskAt(dib, 1);
    m_nMaskBlue = MaskAt(dib, 2);
  }
  m_nShiftRed = Mask16Shift(m_nMaskRed);
  m_nShiftGreen = Mask16Shift(m_nMaskGreen);
  m_nShiftBlue = Mask16Shift(m_nMaskBlue);
}

PixelCursor16::~PixelCursor16() { ClearPadding(); }

int PixelCursor16::MoveTo(int x, int y) {
  m_nX = x;
  m_nY = y;
  const uint8_t* p = RowPtr(y) + 2 * x;
  const unsigned value = p[0] | (p[1] << 8);
  g_CurPixel.blue = Mask16Channel(value, m_nMaskBlue, m_nShiftBlue);
  g_CurPixel.green = Mask16Channel(value, m_nMaskGreen, m_nShiftGreen);
  g_CurPixel.red = Mask16Channel(value, m_nMaskRed, m_nShiftRed);
  return 0;
}

void PixelCursor16::WritePixel(int x, int y, const PixelValue* value) {
  const unsigned word = (value->red / 8) * 1024u + (value->green / 8) * 32u + value->blue / 8;
  uint8_t* p = RowPtr(y) + 2 * x;
  p[0] = static_cast<uint8_t>(word);
  p[1] = static_cast<uint8_t>(word >> 8);
}

void PixelCursor16::WriteMono(int x, int y, int black) {
  const unsigned word = black == 1 ? 0x0000 : 0x7FFF;
  uint8_t* p = RowPtr(y) + 2 * x;
  p[0] = static_cast<uint8_t>(word);
  p[1] = static_cast<uint8_t>(word >> 8);
}

// ---- 24 bits ----

PixelCursor24::PixelCursor24(Dib& dib) : PixelCursorMoves(dib, 24) {}
PixelCursor24::~PixelCursor24() { ClearPadding(); }

int PixelCursor24::MoveTo(int x, int y) {
  m_nX = x;
  m_nY = y;
  const uint8_t* p = RowPtr(y) + 3 * x;
  g_CurPixel = {p[0], p[1], p[2]};
  return 0;
}

void PixelCursor24::WritePixel(int x, int y, const PixelValue* value) {
  uint8_t* p = RowPtr(y) + 3 * x;
  p[0] = value->blue;
  p[1] = value->green;
  p[2] = value->red;
}

void PixelCursor24::WriteMono(int x, int y, int black) {
  uint8_t* p = RowPtr(y) + 3 * x;
  p[0] = p[1] = p[2] = black == 1 ? 0 : 255;
}

// ---- 32 bits ----

PixelCursor32::PixelCursor32(Dib& dib) : PixelCursorMoves(dib, 32) {}

int PixelCursor32::MoveTo(int x, int y) {
  m_nX = x;
  m_nY = y;
  const uint8_t* p = RowPtr(y) + 4 * x;
  g_CurPixel = {p[0], p[1], p[2]};
  return 0;
}

void PixelCursor32::WritePixel(int x, int y, const PixelValue* value) {
  uint8_t* p = RowPtr(y) + 4 * x;
  p[0] = value->blue;
  p[1] = value->green;
  p[2] = value->red;
}

void PixelCursor32::WriteMono(int x, int y, int black) {
  uint8_t* p = RowPtr(y) + 4 * x;
  p[0] = p[1] = p[2] = black == 1 ? 0 : 255;
}

// ---- owner ----

DibCursor::DibCursor(Dib* dib) {
  if (!dib) return;
  switch (dib->BitCount()) {
    case 1: m_pCursor = std::make_unique<PixelCursor1>(*dib); break;
    case 4: m_pCursor = std::make_unique<PixelCursor4>(*dib); break;
    case 8: m_pCursor = std::make_unique<PixelCursor8>(*dib); break;
    case 16: m_pCursor = std::make_unique<PixelCursor16>(*dib); break;
    case 24: m_pCursor = std::make_unique<PixelCursor24>(*dib); break;
    case 32: m_pCursor = std::make_unique<PixelCursor32>(*dib); break;
    default: break;
  }
}

}  // namespace tessara
