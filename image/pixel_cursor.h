// Per-depth readers and writers of a picture block. A read does not return the
// colour: it leaves it in g_CurPixel (and, for 1-bit pictures, g_bMonoBlack),
// which the caller copies out before the next read by any cursor.
//
// Positions are stored-row coordinates: y = 0 is the bottom row. Cursors do no
// clipping; callers keep 0 <= x < width and 0 <= y < height.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "image/dib.h"

namespace tessara {

struct CurPixel {
  uint8_t blue;
  uint8_t green;
  uint8_t red;
};

// The colour of the pixel last read by any cursor.
extern CurPixel g_CurPixel;
// Written by 1-bit reads: 1 when the pixel's bit is 0 (black), 0 when it is 1.
extern int g_bMonoBlack;

// What a write stores: the colour, and the palette index for 4- and 8-bit
// pictures (for 1-bit pictures, 1 sets the bit and anything else clears it).
struct PixelValue {
  uint8_t blue;
  uint8_t green;
  uint8_t red;
  int32_t index;
};

class PixelCursor {
 public:
  virtual int MoveTo(int x, int y);
  virtual void NextRow();
  virtual void PreviousRow();
  virtual void PreviousColumn();
  virtual void NextColumn();
  virtual void WritePixel(int x, int y, const PixelValue* value);
  virtual void WriteMono(int x, int y, int black);
  // The destructor then leaves the block alone (for pictures given up while a
  // cursor on them still lives).
  virtual void KeepPadding();
  virtual ~PixelCursor();

  PixelCursor(const PixelCursor&) = delete;
  PixelCursor& operator=(const PixelCursor&) = delete;

  int m_nWidth = 0;
  int m_nHeight = 0;
  uint8_t* m_pBits = nullptr;
  int m_nPad = 0;
  int m_nX = 0;
  int m_nY = 0;
  int m_bKeepPadding = 0;

 protected:
  PixelCursor() = default;
  // Copies the size, the first row and the pad from the header as it is now.
  PixelCursor(Dib& dib, int bitCount);
  uint8_t* RowPtr(int y) const { return m_pBits + static_cast<ptrdiff_t>(y) * static_cast<ptrdiff_t>(m_nStride); }
  // Sets the last m_nPad bytes of every row to 0.
  void ClearPadding();

  size_t m_nStride = 0;
};

// The four moves read exactly as MoveTo at the neighbouring position.
class PixelCursorMoves : public PixelCursor {
 public:
  void NextRow() override { MoveTo(m_nX, m_nY + 1); }
  void PreviousRow() override { MoveTo(m_nX, m_nY - 1); }
  void PreviousColumn() override { MoveTo(m_nX - 1, m_nY); }
  void NextColumn() override { MoveTo(m_nX + 1, m_nY); }

 protected:
  using PixelCursor::PixelCursor;
};

class PixelCursor1 : public PixelCursorMoves {
 public:
  explicit PixelCursor1(Dib& dib);
  ~PixelCursor1() override;
  int MoveTo(int x, int y) override;
  void WritePixel(int x, int y, const PixelValue* value) override;
  void WriteMono(int x, int y, int black) override;

  CurPixel m_color0{};
  CurPixel m_color1{};
};

class PixelCursor4 : public PixelCursorMoves {
 public:
  explicit PixelCursor4(Dib& dib);
  ~PixelCursor4() override;
  int MoveTo(int x, int y) override;
  void WritePixel(int x, int y, const PixelValue* value) override;
  void WriteMono(int x, int y, int black) override;

  const RGBQUAD* m_pColors;
};

class PixelCursor8 : public PixelCursorMoves {
 public:
  explicit PixelCursor8(Dib& dib);
  ~PixelCursor8() override;
  int MoveTo(int x, int y) override;
  void WritePixel(int x, int y, const PixelValue* value) override;
  void WriteMono(int x, int y, int black) override;

  const RGBQUAD* m_pColors;
};

class PixelCursor16 : public PixelCursorMoves {
 public:
  explicit PixelCursor16(Dib& dib);
  ~PixelCursor16() override;
  int MoveTo(int x, int y) override;
  void WritePixel(int x, int y, const PixelValue* value) override;
  void WriteMono(int x, int y, int black) override;

  uint16_t m_nMaskRed = 0x7C00;
  uint16_t m_nMaskGreen = 0x03E0;
  uint16_t m_nMaskBlue = 0x001F;

 private:
  // Left shifts that bring each mask's top bit to bit 15; -1 for an empty mask,
  // whose channel reads as 0.
  int m_nShiftRed, m_nShiftGreen, m_nShiftBlue;
};

class PixelCursor24 : public PixelCursorMoves {
 public:
  explicit PixelCursor24(Dib& dib);
  ~PixelCursor24() override;
  int MoveTo(int x, int y) override;
  void WritePixel(int x, int y, const PixelValue* value) override;
  void WriteMono(int x, int y, int black) override;
};

class PixelCursor32 : public PixelCursorMoves {
 public:
  explicit PixelCursor32(Dib& dib);
  int MoveTo(int x, int y) override;
  void WritePixel(int x, int y, const PixelValue* value) override;
  void WriteMono(int x, int y, int black) override;
};

// Makes the cursor matching a picture's depth and owns it. For a depth other
// than 1, 4, 8, 16, 24 or 32, m_pCursor is null.
class DibCursor {
 public:
  explicit DibCursor(Dib* dib);
  DibCursor(const DibCursor&) = delete;
  DibCursor& operator=(const DibCursor&) = delete;

  void WritePixel(int x, int y, const PixelValue* value) { m_pCursor->WritePixel(x, y, value); }

  std::unique_ptr<PixelCursor> m_pCursor;
};

}  // namespace tessara
