#include "image/picture_memory.h"

#include <sys/mman.h>

#include <cstdlib>

namespace tessara {

namespace {
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kMappedFrom = size_t{4} << 20;

size_t RoundUp(size_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }

uint8_t* MapPictureMemory(size_t bytes) {
  const size_t size = RoundUp(bytes);
  if (size < bytes || size + kHugePage < size) return nullptr;
  // Map one huge page more than needed and keep the aligned part.
  void* raw = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + kHugePage - 1) & ~(uintptr_t{kHugePage} - 1);
  if (aligned > start) munmap(raw, aligned - start);
  const uintptr_t end = start + size + kHugePage;
  if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
  madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
  return reinterpret_cast<uint8_t*>(aligned);
}
}  // namespace

uint8_t* AllocatePictureMemory(size_t bytes) {
  if (bytes < kMappedFrom) return static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1));
  return MapPictureMemory(bytes);
}

uint8_t* AllocateZeroedPictureMemory(size_t bytes) {
  if (bytes < kMappedFrom) return static_cast<uint8_t*>(std::calloc(bytes ? bytes : 1, 1));
  return MapPictureMemory(bytes);
}

void FreePictureMemory(uint8_t* data, size_t bytes) {
  if (!data) return;
  if (bytes < kMappedFrom) {
    std::free(data);
    return;
  }
  munmap(data, RoundUp(bytes));
}

}  // namespace tessara
