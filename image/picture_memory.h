// Memory for picture blocks. Large blocks are mapped on 2 MB boundaries and
// offered huge pages, so making and filling a picture of tens of megabytes costs
// a few hundred page faults instead of tens of thousands; small ones come from
// the ordinary allocator. Huge pages are asked for only while the kernel has
// enough of them free: asking when memory is fragmented would make it compact
// memory on the spot, which can cost more than the faults saved.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessara {

// Uninitialised memory for `bytes` bytes, or null.
uint8_t* AllocatePictureMemory(size_t bytes);
// The same, every byte 0. Large blocks are fresh pages, which the kernel gives
// zeroed and only on first touch: a picture whose decoder stops early costs
// only the pages it wrote.
uint8_t* AllocateZeroedPictureMemory(size_t bytes);
// Frees what AllocatePictureMemory gave for the same byte count.
void FreePictureMemory(uint8_t* data, size_t bytes);

// How many 2 MB blocks the kernel's free lists hold, from the text of
// /proc/buddyinfo (blocks of order 9 and up, a 4 MB block counting twice);
// -1 when the text cannot be read that way.
int64_t FreeHugeBlocks(const char* buddyinfo);

}  // namespace tessara
