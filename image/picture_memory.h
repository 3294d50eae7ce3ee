// Memory for picture blocks. Large blocks are mapped on 2 MB boundaries and
// offered huge pages, so making and filling a picture of tens of megabytes costs
// a few hundred page faults instead of tens of thousands; small ones come from
// the ordinary allocator.
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

}  // namespace tessara
