// Memory for picture blocks. Large blocks are mapped on 2 MB boundaries and
// offered huge pages, so making and filling a picture of tens of megabytes costs
// a few hundred page faults instead of tens of thousands; small ones come from
// the ordinary allocator. Huge pages are asked for only while the kernel has
// enough of them free: asking when memory is fragmented would make it compact
// memory on the spot, which can cost more than the faults saved.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace tessara {

// Blocks from this size up are made only when the system says it can give
// them (MemAvailable): past what it has, the kernel would end the program, and
// the user's work with it, instead of refusing.
inline constexpr uint64_t kMemoryCheckedFrom = uint64_t{1} << 30;
// Large blocks start on boundaries of this many bytes and are mapped in
// pages of this size (the huge page).
inline constexpr size_t kPicturePageBytes = size_t{2} << 20;

// Memory for one picture, owned: freed as it was made (small blocks by the
// allocator, large ones unmapped or kept for the next picture) by the size it
// was made with, which nobody else can pass wrong. A large block made while
// blocks are kept takes their pages, whatever their sizes, before fresh ones:
// memory used once costs no clearing by the kernel and no first touch.
class PictureBlock {
 public:
  PictureBlock() = default;
  // Uninitialised memory for `bytes` bytes, or an empty block (also when the
  // system cannot give that much, see kMemoryCheckedFrom).
  static PictureBlock Allocate(size_t bytes);
  // The same, every byte 0. Pages used before are cleared here; fresh pages
  // come zeroed from the kernel and only on first touch: a picture whose
  // decoder stops early costs only the fresh pages it wrote.
  static PictureBlock AllocateZeroed(size_t bytes);
  ~PictureBlock() { Reset(); }
  PictureBlock(PictureBlock&& other) noexcept : m_pData(other.m_pData), m_nBytes(other.m_nBytes) {
    other.m_pData = nullptr;
    other.m_nBytes = 0;
  }
  PictureBlock& operator=(PictureBlock&& other) noexcept {
    if (this != &other) {
      Reset();
      std::swap(m_pData, other.m_pData);
      std::swap(m_nBytes, other.m_nBytes);
    }
    return *this;
  }
  PictureBlock(const PictureBlock&) = delete;
  PictureBlock& operator=(const PictureBlock&) = delete;

  uint8_t* Data() const { return m_pData; }
  size_t Bytes() const { return m_nBytes; }
  explicit operator bool() const { return m_pData != nullptr; }
  // Frees the memory; the block is empty afterwards.
  void Reset();
  // Makes the block `bytes` long (never shorter), its first Bytes() bytes as
  // they were, the rest uninitialised; the data may move. A large block's
  // pages are moved, not copied, and the memory added takes the pages of kept
  // blocks before fresh ones. False, with the block as it was, when the
  // memory cannot be had; an empty block is allocated.
  bool Grow(size_t bytes);
  // Moves the pages of bytes [offset, offset + bytes) of this block, which
  // nobody reads any more, to bytes [toOffset, toOffset + bytes) of `to`,
  // where nothing has been written yet: `to` gets memory used before in place
  // of fresh pages, and this block is left with empty pages there (they read
  // as zeros). Both must be large blocks and the ranges whole pages of
  // kPicturePageBytes inside them; false otherwise, or when not every page
  // could move (those that did moved all the same).
  bool MovePagesTo(size_t offset, size_t bytes, PictureBlock& to, size_t toOffset);

 private:
  PictureBlock(uint8_t* data, size_t bytes) : m_pData(data), m_nBytes(data ? bytes : 0) {}
  uint8_t* m_pData = nullptr;
  size_t m_nBytes = 0;
};
// The bytes asked of PictureBlock's allocations since the program started
// (given or not): what tests count, since memory mapped for a picture and
// never touched does not show in the resident size.
uint64_t PictureMemoryAskedFor();
// The bytes of large blocks given back and kept for the next picture.
uint64_t KeptPictureBytes();
// Gives every kept block back to the system (also done when the program
// ends).
void ReleaseKeptPictureMemory();

// How many 2 MB blocks the kernel's free lists hold, from the text of
// /proc/buddyinfo (blocks of order 9 and up, a 4 MB block counting twice);
// -1 when the text cannot be read that way.
int64_t FreeHugeBlocks(const char* buddyinfo);

// The bytes of MemAvailable in the text of /proc/meminfo; -1 when the text
// has no such line.
int64_t MemAvailableBytes(const char* meminfo);
// What the system can give now, in bytes; -1 when it cannot be told. Read from
// /proc/meminfo, or from the file TESSARA_MEMINFO names (both read at every
// call), so tests can play a machine short of memory.
int64_t SystemMemoryAvailable();
// Whether `bytes` more can be had: always for less than kMemoryCheckedFrom or
// when the system does not tell.
bool MemoryAtHand(uint64_t bytes);
// "N MB were asked for." and, when the system has less, what it has.
std::string MemoryAskedText(uint64_t bytes);
// Bytes as whole megabytes (rounded up), with thousands separators: "1,852 MB".
std::string MegabytesText(uint64_t bytes);

}  // namespace tessara
