#include "image/picture_memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace tessara {

namespace {
constexpr size_t kHugePage = kPicturePageBytes;
// Blocks from this size up are mapped. TESSARA_MAP_PICTURES_FROM (bytes) moves
// the boundary for the whole run, so the tests can compare both paths; it is
// read once, before any block exists.
const size_t kMappedFrom = [] {
  if (const char* v = std::getenv("TESSARA_MAP_PICTURES_FROM")) {
    char* end = nullptr;
    const unsigned long long n = std::strtoull(v, &end, 10);
    if (end != v && *end == '\0') return static_cast<size_t>(n > 0 ? n : 1);
  }
  return size_t{4} << 20;
}();

size_t RoundUp(size_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }

// Whether `size` bytes of huge pages can be had from the free lists as they
// are, with room to spare for everything else the system asks for meanwhile.
bool HugePagesAtHand(size_t size) {
  std::FILE* f = std::fopen("/proc/buddyinfo", "re");
  if (!f) return false;
  char text[4096];
  const size_t n = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  text[n] = '\0';
  const int64_t blocks = FreeHugeBlocks(text);
  const int64_t wanted = static_cast<int64_t>(size / kHugePage);
  return blocks >= 2 * wanted + 64;
}

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
  if (HugePagesAtHand(size)) madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
  return reinterpret_cast<uint8_t*>(aligned);
}
}  // namespace

int64_t FreeHugeBlocks(const char* buddyinfo) {
  // Lines: "Node 0, zone   Normal   c0 c1 ... c10", cK free blocks of 2^K pages.
  constexpr int kHugeOrder = 9;
  int64_t total = 0;
  bool any = false;
  for (const char* line = buddyinfo; line && *line;) {
    const char* end = std::strchr(line, '\n');
    const char* zone = std::strstr(line, "zone");
    if (zone && (!end || zone < end)) {
      const char* p = zone + 4;
      while (*p == ' ') ++p;
      while (*p && *p != ' ' && *p != '\n') ++p;  // the zone's name
      int order = 0;
      while (p && (!end || p < end)) {
        char* next = nullptr;
        const long long count = std::strtoll(p, &next, 10);
        if (next == p) break;
        if (order >= kHugeOrder && order < 62) total += count << (order - kHugeOrder);
        ++order;
        p = next;
      }
      if (order > kHugeOrder) any = true;
    }
    line = end ? end + 1 : nullptr;
  }
  return any ? total : -1;
}

int64_t MemAvailableBytes(const char* meminfo) {
  // Lines: "MemAvailable:   12345678 kB".
  for (const char* line = meminfo; line && *line;) {
    if (std::strncmp(line, "MemAvailable:", 13) == 0) {
      char* end = nullptr;
      const long long kb = std::strtoll(line + 13, &end, 10);
      if (end == line + 13 || kb < 0 || kb > INT64_MAX / 1024) return -1;
      return static_cast<int64_t>(kb) * 1024;
    }
    const char* next = std::strchr(line, '\n');
    line = next ? next + 1 : nullptr;
  }
  return -1;
}

int64_t SystemMemoryAvailable() {
  // Asked at every call (a test may point it elsewhere between pictures).
  const char* other = std::getenv("TESSARA_MEMINFO");
  std::FILE* f = std::fopen(other && *other ? other : "/proc/meminfo", "re");
  if (!f) return -1;
  char text[8192];
  const size_t n = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  text[n] = '\0';
  return MemAvailableBytes(text);
}

bool MemoryAtHand(uint64_t bytes) {
  if (bytes < kMemoryCheckedFrom) return true;
  const int64_t available = SystemMemoryAvailable();
  return available < 0 || bytes <= static_cast<uint64_t>(available);
}

std::string MegabytesText(uint64_t bytes) {
  const uint64_t mb = bytes / (uint64_t{1} << 20) + (bytes % (uint64_t{1} << 20) ? 1 : 0);
  std::string digits = std::to_string(mb), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out + " MB";
}

std::string MemoryAskedText(uint64_t bytes) {
  std::string text = MegabytesText(bytes) + " were asked for.";
  const int64_t available = SystemMemoryAvailable();
  if (available >= 0 && bytes > static_cast<uint64_t>(available))
    text += " The system has " + MegabytesText(static_cast<uint64_t>(available)) + " available.";
  return text;
}

namespace {

// Large blocks given back are kept for the next picture of about their size:
// a picture made again (a source prepared anew at each step of a drag, the
// Target generated again, the next join's pictures) then finds its pages
// there, where fresh pages would each be zeroed by the kernel at first touch,
// which costs more than most work done in them. Kept pages are marked free to
// the kernel, which takes them back if memory runs short; a few blocks, and at
// most kKeptBytes, are kept.
constexpr size_t kKeptBytes = size_t{1} << 30;
constexpr int kKeptBlocks = 4;

struct KeptBlock {
  uint8_t* data = nullptr;
  size_t size = 0;  // mapped bytes, a multiple of the huge page
};

std::mutex& KeptLock() {
  static std::mutex lock;
  return lock;
}
KeptBlock g_kept[kKeptBlocks];

// A kept block for `bytes`, cut to their mapped size; null when none fits.
// A block more than a quarter larger than asked is left for a larger picture.
uint8_t* TakeKeptBlock(size_t bytes) {
  const size_t size = RoundUp(bytes);
  std::lock_guard<std::mutex> hold(KeptLock());
  for (KeptBlock& k : g_kept) {
    if (!k.data || k.size < size || k.size - size > size / 4) continue;
    uint8_t* data = k.data;
    if (k.size > size) munmap(data + size, k.size - size);
    k = KeptBlock{};
    return data;
  }
  return nullptr;
}

void KeepBlock(uint8_t* data, size_t size) {
  if (size > kKeptBytes) {
    munmap(data, size);
    return;
  }
  madvise(data, size, MADV_FREE);
  std::lock_guard<std::mutex> hold(KeptLock());
  KeptBlock* slot = nullptr;
  size_t total = size;
  for (KeptBlock& k : g_kept) {
    if (!k.data) slot = slot ? slot : &k;
    total += k.size;
  }
  // The first in the table (the oldest, mostly) make room.
  while (total > kKeptBytes || !slot) {
    total -= g_kept[0].size;
    if (g_kept[0].data) munmap(g_kept[0].data, g_kept[0].size);
    for (int i = 1; i < kKeptBlocks; ++i) g_kept[i - 1] = g_kept[i];
    g_kept[kKeptBlocks - 1] = KeptBlock{};
    slot = nullptr;
    for (KeptBlock& k : g_kept)
      if (!k.data) {
        slot = &k;
        break;
      }
  }
  *slot = KeptBlock{data, size};
}

// Moves the pages of `size` bytes at `from` to `to` (both mapped, on huge page
// boundaries): the page tables move, the memory is neither copied nor touched.
// With `keepPlace` the old range stays mapped, empty. A block made of the
// pages of several is several mappings, which move one huge page at a time
// (none straddles two). Gives how many bytes from the front moved.
size_t MovePages(uint8_t* from, size_t size, uint8_t* to, bool keepPlace = false) {
  const int flags = MREMAP_MAYMOVE | MREMAP_FIXED | (keepPlace ? MREMAP_DONTUNMAP : 0);
  if (mremap(from, size, size, flags, to) != MAP_FAILED) return size;
  size_t moved = 0;
  while (moved + kHugePage <= size && mremap(from + moved, kHugePage, kHugePage, flags, to + moved) != MAP_FAILED)
    moved += kHugePage;
  return moved;
}

// Whether the huge page at `page` holds memory (a kept block's pages may have
// been lent away or taken back by the kernel): true when that cannot be told.
bool HoldsMemory(uint8_t* page) {
  unsigned char resident[kHugePage / 4096];
  if (mincore(page, kHugePage, resident) != 0) return true;
  for (unsigned char r : resident)
    if (r & 1) return true;
  return false;
}

// Puts the pages of kept blocks in place of the first of the `size` fresh
// bytes at `at` (a multiple of the huge page), as far as they go, and gives
// how many bytes from `at` now hold pages used before. A kept block's huge
// pages that hold no memory are not worth moving: they are unmapped as they
// are met. What is left of a block after the pages taken stays kept.
size_t MoveKeptPagesInto(uint8_t* at, size_t size) {
  std::lock_guard<std::mutex> hold(KeptLock());
  size_t done = 0;
  for (KeptBlock& k : g_kept) {
    while (k.data && done < size) {
      if (HoldsMemory(k.data)) {
        if (MovePages(k.data, kHugePage, at + done) != kHugePage) break;
        done += kHugePage;
      } else {
        munmap(k.data, kHugePage);
      }
      k.data += kHugePage;
      k.size -= kHugePage;
      if (k.size == 0) k = KeptBlock{};
    }
    if (done == size) break;
  }
  return done;
}

// Gives the kept blocks back to the system when the program ends.
struct KeptBlocksAtExit {
  // The lock is made first, so it is still there when this goes.
  KeptBlocksAtExit() { KeptLock(); }
  ~KeptBlocksAtExit() { ReleaseKeptPictureMemory(); }
} g_keptAtExit;

}  // namespace

namespace {
std::atomic<uint64_t> g_askedBytes{0};
}  // namespace

uint64_t PictureMemoryAskedFor() { return g_askedBytes.load(std::memory_order_relaxed); }

namespace {

// A mapped block for `bytes`: a kept block of about that size as it is, or a
// fresh mapping into which the pages of whatever blocks are kept are moved, as
// far as they go. With `zeroed`, the pages that were used before are cleared;
// fresh ones come zeroed from the kernel.
uint8_t* MapOrReuse(size_t bytes, bool zeroed) {
  if (uint8_t* kept = TakeKeptBlock(bytes)) {
    if (zeroed) std::memset(kept, 0, bytes);
    return kept;
  }
  uint8_t* fresh = MapPictureMemory(bytes);
  if (!fresh) return nullptr;
  const size_t reused = MoveKeptPagesInto(fresh, RoundUp(bytes));
  if (zeroed && reused) std::memset(fresh, 0, std::min(reused, bytes));
  return fresh;
}

uint8_t* AllocatePictureMemory(size_t bytes) {
  g_askedBytes.fetch_add(bytes, std::memory_order_relaxed);
  if (!MemoryAtHand(bytes)) return nullptr;
  if (bytes < kMappedFrom) return static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1));
  return MapOrReuse(bytes, false);
}

uint8_t* AllocateZeroedPictureMemory(size_t bytes) {
  g_askedBytes.fetch_add(bytes, std::memory_order_relaxed);
  if (!MemoryAtHand(bytes)) return nullptr;
  if (bytes < kMappedFrom) return static_cast<uint8_t*>(std::calloc(bytes ? bytes : 1, 1));
  return MapOrReuse(bytes, true);
}

void FreePictureMemory(uint8_t* data, size_t bytes) {
  if (!data) return;
  if (bytes < kMappedFrom) {
    std::free(data);
    return;
  }
  KeepBlock(data, RoundUp(bytes));
}

}  // namespace

PictureBlock PictureBlock::Allocate(size_t bytes) { return PictureBlock(AllocatePictureMemory(bytes), bytes); }

PictureBlock PictureBlock::AllocateZeroed(size_t bytes) {
  return PictureBlock(AllocateZeroedPictureMemory(bytes), bytes);
}

bool PictureBlock::Grow(size_t bytes) {
  if (bytes <= m_nBytes) return m_pData != nullptr;
  if (!m_pData) {
    *this = Allocate(bytes);
    return m_pData != nullptr;
  }
  if (m_nBytes >= kMappedFrom) {
    // The pages move into a larger mapping, and kept pages (or fresh ones)
    // make up the rest.
    g_askedBytes.fetch_add(bytes - m_nBytes, std::memory_order_relaxed);
    if (!MemoryAtHand(bytes - m_nBytes)) return false;
    const size_t have = RoundUp(m_nBytes), want = RoundUp(bytes);
    if (want < bytes) return false;
    if (want > have) {
      uint8_t* region = MapPictureMemory(bytes);
      if (!region) return false;
      const size_t moved = MovePages(m_pData, have, region);
      if (moved < have) {
        // What would not move is copied.
        std::memcpy(region + moved, m_pData + moved, have - moved);
        munmap(m_pData + moved, have - moved);
      }
      MoveKeptPagesInto(region + have, want - have);
      m_pData = region;
    }
    m_nBytes = bytes;
    return true;
  }
  // A small block is copied into the larger one.
  PictureBlock grown = Allocate(bytes);
  if (!grown) return false;
  std::memcpy(grown.m_pData, m_pData, m_nBytes);
  *this = std::move(grown);
  return true;
}

bool PictureBlock::MovePagesTo(size_t offset, size_t bytes, PictureBlock& to, size_t toOffset) {
  if (!m_pData || !to.m_pData || m_nBytes < kMappedFrom || to.m_nBytes < kMappedFrom || bytes == 0) return false;
  if ((offset | bytes | toOffset) % kHugePage != 0) return false;
  if (offset > RoundUp(m_nBytes) || bytes > RoundUp(m_nBytes) - offset || toOffset > RoundUp(to.m_nBytes) ||
      bytes > RoundUp(to.m_nBytes) - toOffset)
    return false;
  // The pages go and their old place stays mapped, empty.
  return MovePages(m_pData + offset, bytes, to.m_pData + toOffset, true) == bytes;
}

void ReleaseKeptPictureMemory() {
  std::lock_guard<std::mutex> hold(KeptLock());
  for (KeptBlock& k : g_kept) {
    if (k.data) munmap(k.data, k.size);
    k = KeptBlock{};
  }
}

uint64_t KeptPictureBytes() {
  std::lock_guard<std::mutex> hold(KeptLock());
  uint64_t total = 0;
  for (const KeptBlock& k : g_kept) total += k.size;
  return total;
}

void PictureBlock::Reset() {
  FreePictureMemory(m_pData, m_nBytes);
  m_pData = nullptr;
  m_nBytes = 0;
}

}  // namespace tessara
