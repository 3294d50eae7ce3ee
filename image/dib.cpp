// The picture block: making blocks, the block check (the bitmap layout rules of
// image/bmp_layout), reading bitmap files into blocks, and the RGB view of one.
#include "image/dib.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "framework/user_interface.h"
#include "image/packed_row.h"
#include "image/parallel.h"
#include "image/picture_memory.h"

namespace tessara {

DibPtr Dib::Allocate(size_t bytes) { return Adopt(PictureBlock::Allocate(bytes), bytes); }

DibPtr Dib::AllocateZeroed(size_t bytes) { return Adopt(PictureBlock::AllocateZeroed(bytes), bytes); }

DibPtr Dib::Adopt(PictureBlock block, size_t bytes) {
  if (!block) return nullptr;
  const size_t size = std::min(bytes, block.Bytes());
  // When no Dib can be had, the block goes out of scope here or as the
  // constructor's argument, and its memory with it.
  return DibPtr(new (std::nothrow) Dib(std::move(block), size));
}

bool Dib::GrowBlock(size_t bytes) {
  if (!m_block.Grow(bytes)) return false;
  m_pData = m_block.Data();
  return true;
}

DibPtr Dib::TakeBlock(Dib& from) {
  if (!from.m_pData || from.m_nSize < sizeof(BITMAPINFOHEADER)) return nullptr;
  PictureBlock header = PictureBlock::Allocate(sizeof(BITMAPINFOHEADER));
  if (!header) return nullptr;
  DibPtr taken(new (std::nothrow) Dib(PictureBlock(), 0));
  if (!taken) return nullptr;
  // Nothing can fail from here on.
  std::memcpy(header.Data(), from.m_pData, sizeof(BITMAPINFOHEADER));
  taken->m_block = std::move(from.m_block);
  taken->m_pData = taken->m_block.Data();
  taken->m_nSize = taken->m_block.Bytes();
  from.m_block = std::move(header);
  from.m_pData = from.m_block.Data();
  from.m_nSize = sizeof(BITMAPINFOHEADER);
  return taken;
}

uint8_t* Dib::Bits() { return m_pData + DibBitsOffset(Header()); }
const uint8_t* Dib::Bits() const { return m_pData + DibBitsOffset(Header()); }
size_t Dib::Stride() const { return static_cast<size_t>(DibRowStride(Header().biWidth, Header().biBitCount)); }

bool DibFitsBlock(const Dib& dib) {
  BmpLayout layout;
  return ReadBlockLayout(dib.Data(), dib.Size(), layout);
}

void ZeroRowPadding(Dib& dib) {
  const int w = dib.Width(), h = dib.Height();
  if (w <= 0 || h <= 0) return;
  const size_t stride = dib.Stride();
  const size_t used = (static_cast<size_t>(w) * dib.BitCount() + 7) / 8;
  if (used >= stride) return;
  for (int y = 0; y < h; ++y) std::memset(dib.Row(y) + used, 0, stride - used);
}

uint64_t DibBlockBytes(int bitCount, int64_t width, int64_t height) {
  if (width < 0 || height < 0) return 0;
  const uint64_t colours = bitCount <= 8 ? uint64_t{1} << bitCount : 0;
  const uint64_t image = static_cast<uint64_t>(DibRowStride(width, bitCount)) * static_cast<uint64_t>(height);
  return 40 + 4 * colours + image + kDibSpareBytes;
}

bool DibSizeAllowed(int bitCount, int64_t width, int64_t height) {
  return width >= 0 && height >= 0 && width <= kDibMaxSide && height <= kDibMaxSide &&
         DibBlockBytes(bitCount, width, height) <= kDibMaxBlockBytes;
}

// The header of a new uncompressed picture of an allowed size (within the
// limits the rows' byte count fits biSizeImage).
BITMAPINFOHEADER NewDibHeader(int bitCount, int width, int height) {
  BITMAPINFOHEADER h{};
  h.biSize = 40;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<uint16_t>(bitCount);
  h.biCompression = BI_RGB;
  h.biClrImportant = 0;
  if (bitCount <= 8) h.biClrUsed = 1u << bitCount;
  h.biSizeImage = static_cast<uint32_t>(static_cast<uint64_t>(DibRowStride(width, bitCount)) * height);
  return h;
}

DibPtr NewDibHeaderOnly(int bitCount, int width, int height) {
  if (!DibSizeAllowed(bitCount, width, height)) return nullptr;
  DibPtr dib = Dib::Allocate(sizeof(BITMAPINFOHEADER));
  if (!dib) return nullptr;
  const BITMAPINFOHEADER h = NewDibHeader(bitCount, width, height);
  std::memcpy(dib->Data(), &h, sizeof h);
  return dib;
}

DibPtr NewDib(int fill, int bitCount, int width, int height) {
  if (!DibSizeAllowed(bitCount, width, height)) return nullptr;
  const BITMAPINFOHEADER h = NewDibHeader(bitCount, width, height);
  const uint64_t block = DibBlockBytes(bitCount, width, height);
  // A zero fill comes with fresh memory: a big picture costs only the pages
  // that are later written.
  const bool zero = (fill & 0xFF) == 0;
  DibPtr dib = zero ? Dib::AllocateZeroed(static_cast<size_t>(block)) : Dib::Allocate(static_cast<size_t>(block));
  if (!dib) {
    return nullptr;
  }
  if (!zero) {
    // Filling is the first touch of every page of fresh memory, which costs
    // more than the fill itself: large blocks are filled on every core.
    constexpr size_t kChunk = size_t{1} << 20;
    uint8_t* data = dib->Data();
    const size_t size = dib->Size();
    const int chunks = static_cast<int>((size + kChunk - 1) / kChunk);
    ParallelRanges(0, chunks, 8, [&](int first, int end) {
      const size_t from = static_cast<size_t>(first) * kChunk;
      const size_t to = std::min(size, static_cast<size_t>(end) * kChunk);
      std::memset(data + from, fill & 0xFF, to - from);
    });
  }
  std::memcpy(dib->Data(), &h, sizeof h);
  return dib;
}

DibPtr NewDibForRows(int bitCount, int width, int height) {
  if (!DibSizeAllowed(bitCount, width, height)) return nullptr;
  const uint64_t block = DibBlockBytes(bitCount, width, height);
  DibPtr dib = Dib::Allocate(static_cast<size_t>(block));
  if (!dib) return nullptr;
  const BITMAPINFOHEADER h = NewDibHeader(bitCount, width, height);
  std::memcpy(dib->Data(), &h, sizeof h);
  const size_t table = bitCount <= 8 ? size_t{4} << bitCount : 0;
  std::memset(dib->Data() + sizeof h, 0, table);
  std::memset(dib->Data() + block - kDibSpareBytes, 0, kDibSpareBytes);
  return dib;
}

std::string DibRefusalText(int bitCount, int64_t width, int64_t height) {
  if (width < 0 || height < 0) return std::string();
  const std::string size = "A picture of " + std::to_string(width) + " x " + std::to_string(height) + " pixels";
  if (width > kDibMaxSide || height > kDibMaxSide)
    return size + " is larger than the 65,500 pixels a side the program can make.";
  const uint64_t block = DibBlockBytes(bitCount, width, height);
  if (block > kDibMaxBlockBytes)
    return size + " at " + std::to_string(bitCount) + " bits needs " + MegabytesText(block) + ", more than the " +
           MegabytesText(kDibMaxBlockBytes) + " the program can make.";
  return MemoryAskedText(block);
}

std::string WithDibRefusal(const std::string& message, int bitCount, int64_t width, int64_t height) {
  const std::string why = DibRefusalText(bitCount, width, height);
  return why.empty() ? message : message + " " + why;
}

DibPtr CreateDib(int fill, int bitCount, int width, int height, const std::string& failMessage) {
  DibPtr dib = NewDib(fill, bitCount, width, height);
  if (!dib) ShowMessage(WithDibRefusal(failMessage, bitCount, width, height));
  return dib;
}

namespace {

// The block for a bitmap file of `fileSize` bytes whose first 14 are
// `fileHeader`: as long as the file, its last 14 bytes spare and zero. The
// caller fills the rest with the bytes after the file header. Null when the
// header is not a bitmap's, the file is shorter than it or memory is short.
DibPtr BlockForFile(const uint8_t* fileHeader, uint64_t fileSize, uint32_t* bitsOffset) {
  uint32_t declaredSize = 0, offset = 0;
  if (fileSize < kBmpFileHeaderBytes || !ReadBmpFileHeader(fileHeader, kBmpFileHeaderBytes, declaredSize, offset))
    return nullptr;
  // No bitmap the program can hold is longer than the largest block a file
  // header can describe.
  if (fileSize > uint64_t{0xFFFFFFFF}) return nullptr;
  DibPtr dib = Dib::Allocate(static_cast<size_t>(fileSize));
  if (!dib) return nullptr;
  std::memset(dib->Data() + fileSize - kBmpFileHeaderBytes, 0, kBmpFileHeaderBytes);
  if (bitsOffset) *bitsOffset = offset;
  return dib;
}

}  // namespace

DibPtr ReadDibMemory(const uint8_t* data, size_t size, uint32_t* bitsOffset) {
  if (size < kBmpFileHeaderBytes) return nullptr;
  DibPtr dib = BlockForFile(data, size, bitsOffset);
  if (dib) std::memcpy(dib->Data(), data + kBmpFileHeaderBytes, size - kBmpFileHeaderBytes);
  return dib;
}

DibPtr ReadDibFile(const std::filesystem::path& path, uint32_t* bitsOffset) {
  // Only regular files: a device or a pipe has no length to trust.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return nullptr;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return nullptr;
  DibPtr dib;
  uint8_t fileHeader[kBmpFileHeaderBytes];
  long length = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) length = std::ftell(f);
  if (length >= 0 && std::fseek(f, 0, SEEK_SET) == 0 &&
      std::fread(fileHeader, 1, sizeof fileHeader, f) == sizeof fileHeader) {
    const uint64_t n = static_cast<uint64_t>(length);
    dib = BlockForFile(fileHeader, n, bitsOffset);
    const size_t rest = static_cast<size_t>(n) - kBmpFileHeaderBytes;
    if (dib && std::fread(dib->Data(), 1, rest, f) != rest) dib.reset();
  }
  std::fclose(f);
  return dib;
}

std::vector<uint8_t> DibToRgb(const Dib& dib) {
  std::vector<uint8_t> out;
  BmpLayout layout;
  if (!ReadBlockLayout(dib.Data(), dib.Size(), layout) || (layout.bits <= 8 && layout.compression != BI_RGB)) return out;
  const int w = static_cast<int>(layout.width), height = static_cast<int>(layout.height), bits = layout.bits;
  // Colour-table entries present; an index beyond them reads as black.
  const int64_t entries = layout.tableEntries;
  const RGBQUAD* table = dib.ColorTable();
  auto lookup = [&](unsigned index, uint8_t* p) {
    if (index < entries) {
      p[0] = table[index].rgbRed, p[1] = table[index].rgbGreen, p[2] = table[index].rgbBlue;
    } else {
      p[0] = p[1] = p[2] = 0;
    }
  };
  // 16 bits: the low 16 bits of each mask, as the cursors take them.
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (bits == 16 && layout.masks) {
    const std::array<uint32_t, 3> m = ReadBmpMasks(dib.Data(), layout.masksAt);
    for (int i = 0; i < 3; ++i) masks[i] = m[i] & 0xFFFF;
  }
  const int shifts[3] = {Mask16Shift(masks[0]), Mask16Shift(masks[1]), Mask16Shift(masks[2])};
  out.resize(static_cast<size_t>(w) * height * 3);
  for (int row = 0; row < height; ++row) {
    const uint8_t* src = dib.Row(height - 1 - row);
    uint8_t* dst = &out[static_cast<size_t>(row) * w * 3];
    for (int x = 0; x < w; ++x, dst += 3) {
      switch (bits) {
        case 1: lookup(PackedBit(src, x), dst); break;
        case 4: lookup(PackedNibble(src, x), dst); break;
        case 8: lookup(src[x], dst); break;
        case 16: {
          const uint32_t v = src[2 * x] | (src[2 * x + 1] << 8);
          for (int i = 0; i < 3; ++i) dst[i] = Mask16Channel(v, masks[i], shifts[i]);
          break;
        }
        case 24: dst[0] = src[3 * x + 2], dst[1] = src[3 * x + 1], dst[2] = src[3 * x]; break;
        case 32: dst[0] = src[4 * x + 2], dst[1] = src[4 * x + 1], dst[2] = src[4 * x]; break;
      }
    }
  }
  return out;
}

}  // namespace tessara
