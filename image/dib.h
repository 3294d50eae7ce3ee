// The packed device-independent bitmap in which every picture is held: one heap
// block with a 40-byte header, a colour table and pixel rows.
//
// Coordinates: stored rows count from the bottom (row 0 is the bottom row of the
// picture); anything that thinks top-down converts with height - 1 - row itself.
// Every row is padded with bytes to a multiple of 4.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "image/bmp_layout.h"
#include "image/picture_memory.h"

namespace tessara {

// Spare bytes after the rows of a block made by CreateDib (the size of the file
// header a bitmap file carries in front of the same data).
inline constexpr size_t kDibSpareBytes = 14;
// CreateDib's limits: the largest side, and the largest block (header, colour
// table, rows and spare bytes), the most biSizeImage and a bitmap file's size
// field can describe.
inline constexpr int kDibMaxSide = 65500;
inline constexpr uint64_t kDibMaxBlockBytes = 0xFFFFFFFF;

// Bytes of the block CreateDib makes for a picture of this size, in 64 bits
// (no limit applied); 0 for a negative size.
uint64_t DibBlockBytes(int bitCount, int64_t width, int64_t height);

// One picture block. Owned by exactly one DibPtr; the block does not move while
// it lives, so cursors and row pointers into it stay valid.
class Dib {
 public:
  // An uninitialised block of `bytes` bytes, or null when it cannot be had.
  static std::unique_ptr<Dib> Allocate(size_t bytes);
  // The same, every byte 0.
  static std::unique_ptr<Dib> AllocateZeroed(size_t bytes);
  // Takes over the memory of `block`, of which the first `bytes` are the
  // picture's block (null, with the memory freed, when no block can be made).
  static std::unique_ptr<Dib> Adopt(PictureBlock block, size_t bytes);
  Dib(const Dib&) = delete;
  Dib& operator=(const Dib&) = delete;

  // Gives up the memory; the block is empty afterwards.
  PictureBlock Release() {
    m_pData = nullptr;
    m_nSize = 0;
    return std::move(m_block);
  }
  // Makes the block at least `bytes` long, its content as it was (Size()
  // does not change). The block may move: only while nothing points into it.
  // False, with the Dib as it was, when the memory cannot be had.
  bool GrowBlock(size_t bytes);
  // PictureBlock::MovePagesTo between the blocks of two Dibs (offsets from
  // the start of each block).
  bool MovePagesTo(size_t offset, size_t bytes, Dib& to, size_t toOffset) {
    return m_block.MovePagesTo(offset, bytes, to.m_block, toOffset);
  }
  // A Dib holding the whole block of `from`, which keeps a copy of its 40-byte
  // header in a small block of its own: its size and depth still read, its
  // rows are gone. Null, with `from` as it was, when the small block cannot be
  // had or `from` has no header.
  static std::unique_ptr<Dib> TakeBlock(Dib& from);
  size_t Capacity() const { return m_block.Bytes(); }
  // Makes the block count only its first `bytes` bytes (never more than it
  // has); the memory stays until the block is freed.
  void Truncate(size_t bytes) {
    if (bytes < m_nSize) m_nSize = bytes;
  }

  uint8_t* Data() { return m_pData; }
  const uint8_t* Data() const { return m_pData; }
  size_t Size() const { return m_nSize; }

  // The header at the start of the block. Only valid when Size() >= 40.
  BITMAPINFOHEADER& Header() { return *reinterpret_cast<BITMAPINFOHEADER*>(m_pData); }
  const BITMAPINFOHEADER& Header() const { return *reinterpret_cast<const BITMAPINFOHEADER*>(m_pData); }
  int Width() const { return Header().biWidth; }
  int Height() const { return Header().biHeight; }
  int BitCount() const { return Header().biBitCount; }

  // The colour table, biSize bytes into the block.
  RGBQUAD* ColorTable() { return reinterpret_cast<RGBQUAD*>(m_pData + Header().biSize); }
  const RGBQUAD* ColorTable() const { return reinterpret_cast<const RGBQUAD*>(m_pData + Header().biSize); }
  // The first (bottom) pixel row, found by DibBitsOffset.
  uint8_t* Bits();
  const uint8_t* Bits() const;
  // Start of stored row y (0 = bottom).
  uint8_t* Row(int y) { return Bits() + static_cast<size_t>(y) * Stride(); }
  const uint8_t* Row(int y) const { return Bits() + static_cast<size_t>(y) * Stride(); }
  size_t Stride() const;

 private:
  Dib(PictureBlock block, size_t size) : m_block(std::move(block)), m_pData(m_block.Data()), m_nSize(size) {}
  PictureBlock m_block;
  uint8_t* m_pData;
  size_t m_nSize;
};

using DibPtr = std::unique_ptr<Dib>;

// Checks that the header, colour table and pixel rows of `dib` lie inside its
// block, by the block rules of ReadBlockLayout. Reading pixels of a block that
// fails this check is never safe.
bool DibFitsBlock(const Dib& dib);

// Sets the pad bytes at the end of every row to 0, as a cursor leaving a
// picture it worked on does.
void ZeroRowPadding(Dib& dib);

// Makes a picture: header filled in, every other byte set to the low byte of
// `fill`. Refuses more than kDibMaxSide pixels a side or a block of more than
// kDibMaxBlockBytes (and memory that cannot be had) by returning null, telling
// nobody.
DibPtr NewDib(int fill, int bitCount, int width, int height);
// Whether NewDib makes a picture of this size (memory permitting).
bool DibSizeAllowed(int bitCount, int64_t width, int64_t height);
// The header NewDib gives a picture of an allowed size.
BITMAPINFOHEADER NewDibHeader(int bitCount, int width, int height);
// A block of only that header, for a picture whose rows are held elsewhere:
// its size and depth read, it has no rows. Null as NewDib refuses.
DibPtr NewDibHeaderOnly(int bitCount, int width, int height);
// NewDib(0, ...) for a picture whose rows the caller writes whole, padding
// included: the header, colour table and spare bytes as NewDib(0, ...) makes
// them, the rows left as the memory has them (memory used before is not
// cleared for nothing, fresh pages are first touched by whoever writes them).
// Refuses as NewDib does.
DibPtr NewDibForRows(int bitCount, int width, int height);
// NewDib that shows `failMessage` when it refuses, followed by why (the
// sentence of DibRefusalText).
DibPtr CreateDib(int fill, int bitCount, int width, int height, const std::string& failMessage);
// Why NewDib refuses a picture of this size, as a sentence for the user: its
// size against the limits, or the memory asked for. Empty for a negative size.
std::string DibRefusalText(int bitCount, int64_t width, int64_t height);
// `message`, then DibRefusalText after a space when there is one.
std::string WithDibRefusal(const std::string& message, int bitCount, int64_t width, int64_t height);

// Reads a bitmap file: checks the 14-byte file header's "BM" and returns a block
// as long as the file holding everything after the file header (so 14 bytes
// longer than the bitmap data). Nothing else is checked here. Null on a short
// file, a wrong signature or a failed read or allocation. `bitsOffset`, when
// given, receives the file header's offset of the rows.
DibPtr ReadDibFile(const std::filesystem::path& path, uint32_t* bitsOffset = nullptr);
// The same for a whole bitmap file in memory.
DibPtr ReadDibMemory(const uint8_t* data, size_t size, uint32_t* bitsOffset = nullptr);

// The picture as top-down RGB bytes (red, green, blue per pixel), for tests and
// drawing. The picture must pass DibFitsBlock and be uncompressed; an empty
// vector otherwise. 1-bit pictures use their colour table.
std::vector<uint8_t> DibToRgb(const Dib& dib);

}  // namespace tessara
