// The picture block: its layout rules, the check that a block read from a file
// really holds what its header claims, making blocks, and reading bitmap files.
#include "image/dib.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "framework/user_interface.h"
#include "image/picture_memory.h"

namespace tessara {

DibPtr Dib::Allocate(size_t bytes) {
  uint8_t* data = AllocatePictureMemory(bytes);
  if (!data) return nullptr;
  DibPtr dib = Adopt(data, bytes, bytes);
  if (!dib) FreePictureMemory(data, bytes);
  return dib;
}

DibPtr Dib::Adopt(uint8_t* data, size_t bytes, size_t capacity) {
  Dib* dib = new (std::nothrow) Dib(data, bytes, capacity);
  return DibPtr(dib);
}

Dib::~Dib() {
  if (m_pData) FreePictureMemory(m_pData, m_nCapacity);
}

uint8_t* Dib::Bits() { return m_pData + DibBitsOffset(Header()); }
const uint8_t* Dib::Bits() const { return m_pData + DibBitsOffset(Header()); }
size_t Dib::Stride() const { return static_cast<size_t>(DibRowStride(Header().biWidth, Header().biBitCount)); }

int64_t DibRowStride(int64_t width, int bitCount) { return ((width * bitCount + 31) / 32) * 4; }

int64_t DibColorTableBytes(const BITMAPINFOHEADER& hdr) {
  switch (hdr.biBitCount) {
    case 1: return 8;
    case 4: return hdr.biClrUsed ? 4 * int64_t{hdr.biClrUsed} : 64;
    case 8: return hdr.biClrUsed ? 4 * int64_t{hdr.biClrUsed} : 1024;
    case 16:
    case 32:
      // A 40-byte header is followed by the three masks; longer headers hold
      // them inside themselves.
      return hdr.biCompression == BI_BITFIELDS && hdr.biSize == 40 ? 12 : 0;
    default: return 0;
  }
}

int64_t DibBitsOffset(const BITMAPINFOHEADER& hdr) { return int64_t{hdr.biSize} + DibColorTableBytes(hdr); }

bool DibFitsBlock(const Dib& dib) {
  if (dib.Size() < sizeof(BITMAPINFOHEADER)) return false;
  const BITMAPINFOHEADER& h = dib.Header();
  const uint64_t size = dib.Size();
  if (h.biSize < 40 || h.biSize > size) return false;
  // A negative height (rows stored top first in other programs) is taken as
  // bottom-up rows like any other; only its size matters here.
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return false;
  const uint64_t rows = static_cast<uint64_t>(h.biHeight < 0 ? -int64_t{h.biHeight} : int64_t{h.biHeight});
  const int bits = h.biBitCount;
  bool compressed = false;
  switch (bits) {
    case 1:
    case 24:
      if (h.biCompression != BI_RGB) return false;
      break;
    case 4:
    case 8:
      if (h.biCompression == BI_RLE8 && bits == 8) compressed = true;
      else if (h.biCompression == BI_RLE4 && bits == 4) compressed = true;
      else if (h.biCompression != BI_RGB) return false;
      break;
    case 16:
    case 32:
      if (h.biCompression != BI_RGB && h.biCompression != BI_BITFIELDS) return false;
      // The masks are read 40 bytes into the block.
      if (h.biCompression == BI_BITFIELDS && size < 52) return false;
      break;
    default: return false;
  }
  const uint64_t offset = static_cast<uint64_t>(DibBitsOffset(h));
  if (offset > size) return false;
  const uint64_t room = size - offset;
  if (compressed) return h.biSizeImage <= room;
  const uint64_t stride = static_cast<uint64_t>(DibRowStride(h.biWidth, bits));
  return stride <= room && rows <= room / stride;
}

void ZeroRowPadding(Dib& dib) {
  const int w = dib.Width(), h = dib.Height();
  if (w <= 0 || h <= 0) return;
  const size_t stride = dib.Stride();
  const size_t used = (static_cast<size_t>(w) * dib.BitCount() + 7) / 8;
  if (used >= stride) return;
  for (int y = 0; y < h; ++y) std::memset(dib.Row(y) + used, 0, stride - used);
}

DibPtr CreateDib(int fill, int bitCount, int width, int height, const std::string& failMessage) {
  BITMAPINFOHEADER h{};
  h.biSize = 40;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<uint16_t>(bitCount);
  h.biCompression = BI_RGB;
  h.biClrImportant = 0;
  if (bitCount <= 8) h.biClrUsed = 1u << bitCount;
  if (width > kDibMaxSide || height > kDibMaxSide || width < 0 || height < 0) {
    ShowMessage(failMessage);
    return nullptr;
  }
  const int64_t image = DibRowStride(width, bitCount) * height;
  const int64_t block = 40 + 4 * int64_t{h.biClrUsed} + image + static_cast<int64_t>(kDibSpareBytes);
  if (block > static_cast<int64_t>(kDibMaxBlockBytes)) {
    ShowMessage(failMessage);
    return nullptr;
  }
  h.biSizeImage = static_cast<uint32_t>(image);
  DibPtr dib = Dib::Allocate(static_cast<size_t>(block));
  if (!dib) {
    ShowMessage(failMessage);
    return nullptr;
  }
  std::memset(dib->Data(), fill & 0xFF, dib->Size());
  std::memcpy(dib->Data(), &h, sizeof h);
  return dib;
}

DibPtr ReadDibMemory(const uint8_t* data, size_t size) {
  if (size < 14 || data[0] != 'B' || data[1] != 'M') return nullptr;
  DibPtr dib = Dib::Allocate(size);
  if (!dib) return nullptr;
  std::memcpy(dib->Data(), data + 14, size - 14);
  // The block is as long as the file; its last 14 bytes are spare.
  std::memset(dib->Data() + size - 14, 0, 14);
  return dib;
}

DibPtr ReadDibFile(const std::filesystem::path& path) {
  // Only regular files: a device or a pipe has no length to trust.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return nullptr;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return nullptr;
  DibPtr dib;
  uint8_t fileHeader[14];
  long length = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) length = std::ftell(f);
  // No bitmap the program can hold is longer than the largest block a file
  // header can describe.
  if (length >= 14 && static_cast<uint64_t>(length) <= uint64_t{0xFFFFFFFF} && std::fseek(f, 0, SEEK_SET) == 0 && std::fread(fileHeader, 1, 14, f) == 14 &&
      fileHeader[0] == 'B' && fileHeader[1] == 'M') {
    const size_t n = static_cast<size_t>(length);
    dib = Dib::Allocate(n);
    if (dib) {
      if (std::fread(dib->Data(), 1, n - 14, f) == n - 14) {
        std::memset(dib->Data() + n - 14, 0, 14);
      } else {
        dib.reset();
      }
    }
  }
  std::fclose(f);
  return dib;
}

std::vector<uint8_t> DibToRgb(const Dib& dib) {
  std::vector<uint8_t> out;
  if (!DibFitsBlock(dib) || (dib.BitCount() <= 8 && dib.Header().biCompression != BI_RGB)) return out;
  const BITMAPINFOHEADER& h = dib.Header();
  const int w = h.biWidth, height = h.biHeight < 0 ? -h.biHeight : h.biHeight, bits = h.biBitCount;
  // Colour-table entries present; an index beyond them reads as black.
  int64_t entries = 0;
  if (bits <= 8) entries = bits == 1 ? 2 : DibColorTableBytes(h) / 4;
  const RGBQUAD* table = dib.ColorTable();
  auto lookup = [&](unsigned index, uint8_t* p) {
    if (index < entries) {
      p[0] = table[index].rgbRed, p[1] = table[index].rgbGreen, p[2] = table[index].rgbBlue;
    } else {
      p[0] = p[1] = p[2] = 0;
    }
  };
  uint16_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (bits == 16 && h.biCompression == BI_BITFIELDS) {
    for (int i = 0; i < 3; ++i) {
      uint32_t m;
      std::memcpy(&m, dib.Data() + 40 + 4 * i, 4);
      masks[i] = static_cast<uint16_t>(m);
    }
  }
  auto channel16 = [](unsigned v, uint16_t mask) -> uint8_t {
    if (!mask) return 0;
    unsigned t = v & mask, m = mask;
    while (!(m & 0x8000)) m <<= 1, t <<= 1;
    return static_cast<uint8_t>((t >> 8) & 0xFF);
  };
  out.resize(static_cast<size_t>(w) * height * 3);
  for (int row = 0; row < height; ++row) {
    const uint8_t* src = dib.Row(height - 1 - row);
    uint8_t* dst = &out[static_cast<size_t>(row) * w * 3];
    for (int x = 0; x < w; ++x, dst += 3) {
      switch (bits) {
        case 1: lookup((src[x >> 3] >> (7 - (x & 7))) & 1, dst); break;
        case 4: lookup((x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4), dst); break;
        case 8: lookup(src[x], dst); break;
        case 16: {
          unsigned v = src[2 * x] | (src[2 * x + 1] << 8);
          dst[0] = channel16(v, masks[0]), dst[1] = channel16(v, masks[1]), dst[2] = channel16(v, masks[2]);
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
