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

namespace tessara {

// Blocks from this size up are made only when the system says it can give
// them (MemAvailable): past what it has, the kernel would end the program, and
// the user's work with it, instead of refusing.
inline constexpr uint64_t kMemoryCheckedFrom = uint64_t{1} << 30;

// Uninitialised memory for `bytes` bytes, or null (also when the system cannot
// give that much, see kMemoryCheckedFrom).
uint8_t* AllocatePictureMemory(size_t bytes);
// The same, every byte 0. Large blocks are fresh pages, which the kernel gives
// zeroed and only on first touch: a picture whose decoder stops early costs
// only the pages it wrote.
uint8_t* AllocateZeroedPictureMemory(size_t bytes);
// Frees what AllocatePictureMemory gave for the same byte count.
void FreePictureMemory(uint8_t* data, size_t bytes);
// The bytes asked of the two allocations above since the program started
// (given or not): what tests count, since memory mapped for a picture and
// never touched does not show in the resident size.
uint64_t PictureMemoryAskedFor();

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
