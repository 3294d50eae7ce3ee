// CxImage: the picture held by the codec layer, the load with its fallback over
// every decoder, and the dispatch of saves to the encoders.
#include "image/ximage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "image/codec.h"
#include "image/file_bytes.h"
#include "image/packed_row.h"
#include "image/parallel.h"
#include "image/picture_memory.h"
#include "image/safe_file.h"

namespace tessara {


namespace {
// Resolutions come from file headers: keep the arithmetic inside an int.
int ClampToInt(double v) {
  if (!(v > -2147483648.0)) return v != v ? 0 : INT32_MIN;
  if (v > 2147483647.0) return INT32_MAX;
  return static_cast<int>(v);
}
}  // namespace

int DpmToDpi(int64_t pixelsPerMetre) {
  return ClampToInt(std::floor(static_cast<double>(pixelsPerMetre) * 254.0 / 10000.0 + 0.5));
}

int32_t DpiToDpm(int dpi) { return ClampToInt(std::floor(static_cast<double>(dpi) * 10000.0 / 254.0 + 0.5)); }

CxImage::CxImage(const std::string& path, int format) : m_nFormat(format) {
  const FileBytes data(path);
  if (!data.Ok()) {
    // An unreadable file fails with an empty message; one refused for its
    // size says so.
    SetError(data.Why().c_str());
    return;
  }
  if (IsNamedFormat(format)) {
    if (DecodeAs(data.Data(), data.Size(), format) || m_bStopped) return;
  }
  std::string remembered = m_szLastError;
  if (DecodeAs(data.Data(), data.Size(), CXIMAGE_FORMAT_UNKNOWN)) return;
  if (IsNamedFormat(format)) m_szLastError = remembered;
}

CxImage::CxImage(const uint8_t* buffer, size_t size, int format) : m_nFormat(format) {
  Decode(buffer, size, format);
}

bool CxImage::Decode(const uint8_t* buffer, size_t size, int format) {
  if (format != CXIMAGE_FORMAT_UNKNOWN && !IsNamedFormat(format)) {
    SetError("Decode: Unknown or wrong format");
    return false;
  }
  return DecodeAs(buffer, size, format);
}

bool CxImage::DecodeAs(const uint8_t* buffer, size_t size, int format) {
  static const uint8_t kEmpty = 0;
  if (!buffer) buffer = &kEmpty, size = 0;
  m_bStopped = false;
  auto attempt = [&](bool (*decoder)(ByteReader&, CxImage&)) {
    Destroy();
    m_metadata = PictureMetadata();
    ByteReader in(buffer, size);
    if (decoder(in, *this) && !m_bStopped) {
      m_nDecodedFormat = decoder == DecodeBmp    ? CXIMAGE_FORMAT_BMP
                         : decoder == DecodeJpeg ? CXIMAGE_FORMAT_JPG
                         : decoder == DecodePng  ? CXIMAGE_FORMAT_PNG
                         : decoder == DecodeTiff ? CXIMAGE_FORMAT_TIF
                         : decoder == DecodeTga  ? CXIMAGE_FORMAT_TGA
                                                 : CXIMAGE_FORMAT_PCX;
      PutDarkerColourFirst();
      // The camera data is read only from a file that decoded (and only the
      // formats that hold any are looked at).
      const bool holdsMetadata = m_nDecodedFormat == CXIMAGE_FORMAT_JPG || m_nDecodedFormat == CXIMAGE_FORMAT_PNG ||
                                 m_nDecodedFormat == CXIMAGE_FORMAT_TIF;
      ReadFileMetadata(buffer, size, holdsMetadata ? m_nDecodedFormat : CXIMAGE_FORMAT_UNKNOWN, m_metadata);
      return true;
    }
    m_metadata = PictureMetadata();
    Destroy();
    // Whatever the decoder said after it was stopped, the stop is the reason.
    if (m_bStopped) SetError(kDecodeStopped);
    return false;
  };
  switch (format) {
    case CXIMAGE_FORMAT_BMP: return attempt(DecodeBmp);
    case CXIMAGE_FORMAT_JPG: return attempt(DecodeJpeg);
    case CXIMAGE_FORMAT_PNG: return attempt(DecodePng);
    case CXIMAGE_FORMAT_TIF: return attempt(DecodeTiff);
    case CXIMAGE_FORMAT_TGA: return attempt(DecodeTga);
    case CXIMAGE_FORMAT_PCX: return attempt(DecodePcx);
    case CXIMAGE_FORMAT_UNKNOWN:
      // GIF, metafile and JPEG-2000 decoders are not built in.
      for (auto decoder : {DecodeBmp, DecodeJpeg, DecodePng, DecodeTiff, DecodeTga, DecodePcx})
        if (attempt(decoder) || m_bStopped) return !m_bStopped;
      return false;
    default:
      SetError("Decode: Unknown or wrong format");
      Destroy();
      return false;
  }
}

bool CxImage::Save(const std::string& path, int format) {
  // Encoded in memory first, then written beside the file and renamed over it,
  // so a failure never leaves the user's existing file damaged. A bitmap is the
  // picture as held behind a file header: it is written straight from memory.
  bool written;
  m_szWriteFailure.clear();
  if (format == CXIMAGE_FORMAT_BMP && IsValid() && !m_pRowBands) {
    ByteWriter header;
    if (!EncodeBmpHeader(header, *this)) return false;
    written = WriteFileReplacing(path, [&](std::FILE* f) {
      return std::fwrite(header.Buffer().data(), 1, header.Size(), f) == header.Size() &&
             std::fwrite(GetDib(), 1, GetDibSize(), f) == GetDibSize();
    });
  } else {
    std::vector<uint8_t> out;
    if (!Encode(out, format)) return false;
    // The camera data goes into the encoded bytes before they are written, so
    // the file on disk is whole or not there at all. A failure costs only the
    // camera data.
    m_szMetadataWarning.clear();
    if (!m_metadata.camera.Empty()) {
      const CameraDataToWrite data{m_metadata.camera, GetWidth(), GetHeight(), m_szSoftware};
      std::string why;
      if (!EmbedCameraData(out, format, data, why)) m_szMetadataWarning = why;
    }
    written = WriteFileReplacing(path, out.data(), out.size());
  }
  if (!written) {
    SetError("null file handler");
    m_szWriteFailure = LastSaveFailure();
    return false;
  }
  return true;
}

bool CxImage::Encode(std::vector<uint8_t>& out, int format) {
  out.clear();
  if (!IsValid()) {
    SetError("null image!!!");
    return false;
  }
  if (!IsNamedFormat(format)) {
    SetError("Encode: Unknown format");
    return false;
  }
  if (m_pRowBands && format != CXIMAGE_FORMAT_JPG) {
    SetError("Only the JPEG encoder writes a picture made while it is saved");
    return false;
  }
  ByteWriter w;
  bool ok = false;
  switch (format) {
    case CXIMAGE_FORMAT_BMP: ok = EncodeBmp(w, *this); break;
    case CXIMAGE_FORMAT_JPG: ok = EncodeJpeg(w, *this); break;
    case CXIMAGE_FORMAT_PNG: ok = EncodePng(w, *this); break;
    case CXIMAGE_FORMAT_TIF: ok = EncodeTiff(w, *this); break;
    case CXIMAGE_FORMAT_TGA: ok = EncodeTga(w, *this); break;
    case CXIMAGE_FORMAT_PCX: ok = EncodePcx(w, *this); break;
    case CXIMAGE_FORMAT_WMF: SetError("Save WMF not supported"); return false;
    default: SetError("Encode: Unknown format"); return false;
  }
  if (ok) out.swap(w.Buffer());
  return ok;
}

namespace {
std::atomic<uint64_t> g_pictureByteLimit{kMaxImageBytes};
thread_local DecodeWatch* t_pDecodeWatch = nullptr;
}  // namespace

ScopedDecodeWatch::ScopedDecodeWatch(DecodeWatch* watch) : m_pPrevious(t_pDecodeWatch) { t_pDecodeWatch = watch; }
ScopedDecodeWatch::~ScopedDecodeWatch() { t_pDecodeWatch = m_pPrevious; }

bool KeepDecoding(CxImage& picture, uint64_t done, uint64_t total) {
  if (!t_pDecodeWatch || picture.WasStopped()) return !picture.WasStopped();
  if (t_pDecodeWatch->Continue(picture, done, total)) return true;
  picture.MarkStopped();
  return false;
}

void CxImage::MarkStopped() {
  m_bStopped = true;
  SetError(kDecodeStopped);
}

void SetPictureByteLimit(uint64_t bytes) { g_pictureByteLimit = std::min(bytes, kMaxImageBytes); }
uint64_t PictureByteLimit() { return g_pictureByteLimit; }

bool CxImage::Create(int64_t width, int64_t height, int depth) {
  Destroy();
  m_szCreateRefusal.clear();
  if (depth <= 1) depth = 1;
  else if (depth <= 4) depth = 4;
  else if (depth <= 8) depth = 8;
  else depth = 24;
  uint64_t colors = depth <= 8 ? (1u << depth) : 0;
  if (width <= 0 || height <= 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) {
    SetError("CxImage::Create can't allocate memory");
    return false;
  }
  if (width > kMaxUsableSide || height > kMaxUsableSide) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "A picture of %lld x %lld pixels is larger than the 65,500 pixels a side the program can hold",
                  static_cast<long long>(width), static_cast<long long>(height));
    SetError(text);
    m_szCreateRefusal = text;
    return false;
  }
  // Everything in 64 bits: the sides alone allow far more than any block.
  uint64_t stride = static_cast<uint64_t>(DibRowStride(width, depth));
  uint64_t image = stride * static_cast<uint64_t>(height);
  uint64_t total = 40 + 4 * colors + image;
  const uint64_t limit = PictureByteLimit();
  if (total + kDibSpareBytes > limit) {
    m_szCreateRefusal = "A picture of " + std::to_string(width) + " x " + std::to_string(height) + " pixels at " +
                        std::to_string(depth) + " bits needs " + MegabytesText(total + kDibSpareBytes) +
                        ", more than the " + MegabytesText(limit) + " the program can make.";
    SetError(("CxImage::Create can't allocate memory. " + m_szCreateRefusal).c_str());
    return false;
  }
  // Room for the spare bytes a block carries, so the picture can become a
  // block without a copy.
  const size_t capacity = static_cast<size_t>(total) + kDibSpareBytes;
  // Zeroed: decoders write the pixels, and row padding or pixels a file leaves
  // out must not carry whatever the memory held before. Large pictures are
  // fresh pages, so nothing is touched (or really taken) before a decoder
  // writes it.
  m_block = PictureBlock::AllocateZeroed(capacity);
  m_pDib = m_block.Data();
  if (!m_pDib) {
    m_szCreateRefusal = MemoryAskedText(capacity);
    SetError(("CxImage::Create can't allocate memory. " + m_szCreateRefusal).c_str());
    return false;
  }
  m_nDibSize = static_cast<size_t>(total);
  BITMAPINFOHEADER& h = Header();
  h.biSize = 40;
  h.biWidth = static_cast<int32_t>(width);
  h.biHeight = static_cast<int32_t>(height);
  h.biPlanes = 1;
  h.biBitCount = static_cast<uint16_t>(depth);
  h.biCompression = BI_RGB;
  h.biSizeImage = static_cast<uint32_t>(image);
  h.biXPelsPerMeter = DpiToDpm(m_nXDpi);
  h.biYPelsPerMeter = DpiToDpm(m_nYDpi);
  h.biClrUsed = static_cast<uint32_t>(colors);
  h.biClrImportant = 0;
  return true;
}

std::string CxImage::WithCreateRefusal(const char* text) const {
  return m_szCreateRefusal.empty() ? std::string(text) : std::string(text) + ". " + m_szCreateRefusal;
}

bool CxImage::WorkingMemoryFits(uint64_t bytes, const char* text) {
  std::string why;
  if (bytes > PictureByteLimit())
    why = "A working buffer of " + MegabytesText(bytes) + " is more than the " + MegabytesText(PictureByteLimit()) +
          " the program allows.";
  else if (!MemoryAtHand(uint64_t{m_block.Bytes()} + bytes))
    why = MemoryAskedText(uint64_t{m_block.Bytes()} + bytes);
  if (why.empty()) return true;
  SetError((std::string(text) + ". " + why).c_str());
  return false;
}

void CxImage::Destroy() {
  if (m_bLent) {
    if (m_pDib) std::memcpy(m_pDib, &m_lentHeader, sizeof m_lentHeader);
    m_bLent = false;
  }
  m_pRowBands = nullptr;
  m_block.Reset();
  m_pDib = nullptr;
  m_nDibSize = 0;
}

DibPtr CxImage::TakeDib() {
  if (!m_pDib || m_bLent || m_pRowBands) return nullptr;
  const size_t capacity = m_block.Bytes();
  std::memset(m_pDib + m_nDibSize, 0, capacity - m_nDibSize);
  m_pDib = nullptr;
  m_nDibSize = 0;
  return Dib::Adopt(std::move(m_block), capacity);
}

namespace {
// A block whose rows the codec layer can take as they are: a 40-byte header,
// 24 bits, no compression, no colour table, every row inside the block.
bool IsPlainTrueColourBlock(const Dib& dib) {
  if (dib.Size() < 40) return false;
  const BITMAPINFOHEADER& h = dib.Header();
  const uint64_t stride = static_cast<uint64_t>(DibRowStride(h.biWidth, 24));
  return h.biSize == 40 && h.biBitCount == 24 && h.biCompression == BI_RGB && h.biWidth > 0 && h.biHeight > 0 &&
         h.biSizeImage == stride * static_cast<uint64_t>(h.biHeight) && 40 + uint64_t{h.biSizeImage} <= dib.Size();
}
}  // namespace

bool CxImage::Lend(Dib& dib) {
  Destroy();
  if (!IsPlainTrueColourBlock(dib)) return false;
  std::memcpy(&m_lentHeader, dib.Data(), sizeof m_lentHeader);
  m_bLent = true;
  m_nFormat = CXIMAGE_FORMAT_BMP;
  m_nDibSize = 40 + dib.Header().biSizeImage;
  m_pDib = dib.Data();
  AdoptedHeader();
  return true;
}

bool CxImage::LendRows(const BITMAPINFOHEADER& header, RowBands& rows) {
  Destroy();
  if (header.biSize != 40 || header.biBitCount != 24 || header.biCompression != BI_RGB || header.biWidth <= 0 ||
      header.biHeight <= 0)
    return false;
  m_rowsHeader = header;
  m_pRowBands = &rows;
  m_nFormat = CXIMAGE_FORMAT_BMP;
  // Only the header is here: nothing reads rows but through `rows`.
  m_nDibSize = sizeof m_rowsHeader;
  m_pDib = reinterpret_cast<uint8_t*>(&m_rowsHeader);
  AdoptedHeader();
  return true;
}

CxImage::CxImage(DibPtr dib) : m_nFormat(CXIMAGE_FORMAT_BMP) {
  if (!dib || dib->Size() < 40) return;
  if (!IsPlainTrueColourBlock(*dib)) {
    // Anything else goes through the bitmap decoder.
    Decode(dib->Data(), dib->Size(), CXIMAGE_FORMAT_BMP);
    return;
  }
  m_nDibSize = 40 + dib->Header().biSizeImage;
  m_block = dib->Release();
  m_pDib = m_block.Data();
  AdoptedHeader();
}

void CxImage::AdoptedHeader() {
  // What the decoder would set: the header's resolution from ours when it
  // carries none, a full (empty) colour table at 24 bits.
  BITMAPINFOHEADER& mine = Header();
  if (mine.biXPelsPerMeter > 0) m_nXDpi = DpmToDpi(mine.biXPelsPerMeter);
  if (mine.biYPelsPerMeter > 0) m_nYDpi = DpmToDpi(mine.biYPelsPerMeter);
  mine.biXPelsPerMeter = DpiToDpm(m_nXDpi);
  mine.biYPelsPerMeter = DpiToDpm(m_nYDpi);
  mine.biPlanes = 1;
  mine.biClrUsed = 0;
  mine.biClrImportant = 0;
}

uint8_t* CxImage::GetBits(int y) {
  return m_pDib + 40 + 4 * static_cast<size_t>(Header().biClrUsed) + static_cast<size_t>(y) * GetEffWidth();
}

const uint8_t* CxImage::GetBits(int y) const {
  return m_pDib + 40 + 4 * static_cast<size_t>(Header().biClrUsed) + static_cast<size_t>(y) * GetEffWidth();
}

void CxImage::SetGrayPalette() {
  int n = GetNumColors();
  if (n == 0) return;
  RGBQUAD* pal = GetPalette();
  for (int i = 0; i < n; ++i) {
    uint8_t v = static_cast<uint8_t>(n == 1 ? 0 : i * 255 / (n - 1));
    pal[i] = RGBQUAD{v, v, v, 0};
  }
}

bool CxImage::IsGrayScale() const {
  int n = GetNumColors();
  if (n == 0) return false;
  const RGBQUAD* pal = GetPalette();
  for (int i = 0; i < n; ++i) {
    int v = n == 1 ? 0 : i * 255 / (n - 1);
    if (pal[i].rgbBlue != v || pal[i].rgbGreen != v || pal[i].rgbRed != v) return false;
  }
  return true;
}

uint8_t CxImage::GetPixelIndex(int x, int y) const { return PackedIndex(GetBits(y), x, GetBpp()); }

void CxImage::SetPixelIndex(int x, int y, uint8_t index) { SetPackedIndex(GetBits(y), x, GetBpp(), index); }

void CxImage::PutDarkerColourFirst() {
  if (!IsValid() || GetBpp() != 1 || GetNumColors() != 2) return;
  RGBQUAD* pal = GetPalette();
  auto brightness = [](const RGBQUAD& q) { return (117 * q.rgbBlue + 601 * q.rgbGreen + 306 * q.rgbRed) >> 10; };
  if (brightness(pal[0]) <= brightness(pal[1])) return;
  std::swap(pal[0], pal[1]);
  const int w = GetWidth();
  const size_t used = (static_cast<size_t>(w) + 7) / 8;
  const uint8_t lastMask = static_cast<uint8_t>(0xFF << ((8 - w % 8) % 8));
  for (int y = 0; y < GetHeight(); ++y) {
    uint8_t* row = GetBits(y);
    for (size_t i = 0; i < used; ++i) row[i] = static_cast<uint8_t>(~row[i]);
    row[used - 1] &= lastMask;
  }
}

void CxImage::Flip() {
  if (!IsValid()) return;
  size_t stride = GetEffWidth();
  std::vector<uint8_t> tmp(stride);
  for (int top = 0, bottom = GetHeight() - 1; top < bottom; ++top, --bottom) {
    std::memcpy(tmp.data(), GetBits(top), stride);
    std::memcpy(GetBits(top), GetBits(bottom), stride);
    std::memcpy(GetBits(bottom), tmp.data(), stride);
  }
}

namespace {

// Each byte with its bits in reverse order.
const std::array<uint8_t, 256>& ReversedBits() {
  static const std::array<uint8_t, 256> table = [] {
    std::array<uint8_t, 256> t{};
    for (int v = 0; v < 256; ++v) {
      int r = 0;
      for (int b = 0; b < 8; ++b) r |= ((v >> b) & 1) << (7 - b);
      t[static_cast<size_t>(v)] = static_cast<uint8_t>(r);
    }
    return t;
  }();
  return table;
}

// Turns an 8 x 8 block of bits about its diagonal: byte k of `rows` (k = 0 in
// the top byte) is row k, its top bit column 0; afterwards byte j is column j.
uint64_t TransposeBits(uint64_t x) {
  uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
  x = x ^ t ^ (t << 7);
  t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
  x = x ^ t ^ (t << 14);
  t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
  return x ^ t ^ (t << 28);
}

}  // namespace

void CxImage::Mirror() {
  if (!IsValid()) return;
  const int w = GetWidth(), bpp = GetBpp();
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24) return;
  // Packed rows are mirrored a byte at a time: the row's bytes in reverse
  // order, each with its pixels reversed, is the mirrored row moved by the
  // unused bits at its end, which are then shifted out. Those pad bits stay
  // as they were.
  const std::array<uint8_t, 256>& kReversed = ReversedBits();
  const size_t used = bpp < 8 ? static_cast<size_t>((int64_t{w} * bpp + 7) / 8) : 0;
  const int pad = bpp < 8 ? static_cast<int>(used * 8 - static_cast<size_t>(w) * bpp) : 0;
  std::vector<uint8_t> reversed(used + 1);
  for (int y = 0; y < GetHeight(); ++y) {
    uint8_t* row = GetBits(y);
    if (bpp == 24) {
      for (int a = 0, b = w - 1; a < b; ++a, --b)
        for (int c = 0; c < 3; ++c) std::swap(row[3 * a + c], row[3 * b + c]);
    } else if (bpp == 8) {
      std::reverse(row, row + w);
    } else {
      for (size_t i = 0; i < used; ++i) {
        const uint8_t b = row[used - 1 - i];
        reversed[i] = bpp == 1 ? kReversed[b] : static_cast<uint8_t>((b << 4) | (b >> 4));
      }
      reversed[used] = 0;
      const uint8_t keep = static_cast<uint8_t>(pad ? (0xFF >> (8 - pad)) : 0);  // pad bits of the last byte
      const uint8_t last = row[used - 1] & keep;
      for (size_t i = 0; i < used; ++i)
        row[i] = pad ? static_cast<uint8_t>((reversed[i] << pad) | (reversed[i + 1] >> (8 - pad))) : reversed[i];
      row[used - 1] = static_cast<uint8_t>((row[used - 1] & ~keep) | last);
    }
  }
}

bool CxImage::Orient(int orientation) {
  if (!IsValid() || orientation < 2 || orientation > 8) return true;
  if (m_bLent || m_pRowBands) return false;  // a lent block is never changed
  if (orientation == 2) {
    Mirror();
    return true;
  }
  if (orientation == 3) {
    Mirror();
    Flip();
    return true;
  }
  if (orientation == 4) {
    Flip();
    return true;
  }
  // 5..8 turn the picture a quarter: the upright picture is as high as the
  // stored one is wide. In top-down coordinates, upright pixel (x, y) is
  // stored pixel (sx, sy):
  //   5: (y, x)            6: (y, h - 1 - x)
  //   7: (w - 1 - y, h - 1 - x)   8: (w - 1 - y, x)
  const int w = GetWidth(), h = GetHeight(), bpp = GetBpp();
  CxImage turned;
  turned.m_nXDpi = m_nYDpi;
  turned.m_nYDpi = m_nXDpi;
  if (!turned.Create(h, w, bpp)) {
    SetError(turned.GetLastError());
    return false;
  }
  std::memcpy(turned.GetPalette(), GetPalette(), 4 * static_cast<size_t>(GetNumColors()));
  const bool fromRight = orientation == 7 || orientation == 8;  // sx counts from the right
  const bool fromBottom = orientation == 6 || orientation == 7;  // sy counts from the bottom
  const int W = h, H = w;
  // Row pointers, not the accessors: this runs once for each of up to
  // billions of pixels. Stored row r (0 = bottom) of the source is source
  // row h - 1 - r from the top.
  const uint8_t* const base = GetBits(0);
  const size_t stride = GetEffWidth();
  auto from = [&](int x) {  // the source row, counted from the top, of upright column x
    const int sy = fromBottom ? h - 1 - x : x;
    return base + static_cast<size_t>(h - 1 - sy) * stride;
  };
  if (bpp == 1) {
    // Eight upright rows at a time, so that each source byte is read once:
    // for each stored row, the byte of the eight stored columns the rows come
    // from (in the rows' order), and eight such bytes turned as one 8 x 8
    // block into a byte of each row. The bits after the last pixel stay 0.
    const std::array<uint8_t, 256>& reversed = ReversedBits();
    ParallelRanges(0, (H + 7) / 8, 4, [&](int firstBlock, int endBlock) {
      for (int block = firstBlock; block < endBlock; ++block) {
        const int y0 = 8 * block, rows = std::min(8, H - y0);
        // The eight stored columns, leftmost first: y0 .. y0 + 7, or from
        // the right w - 8 - y0 .. w - 1 - y0 (then in reverse row order).
        const int c0 = fromRight ? w - 8 - y0 : y0;
        const auto columns = [&](const uint8_t* row) -> uint8_t {
          unsigned v;
          if (c0 >= 0 && (c0 & 7) == 0) {
            v = row[c0 >> 3];
          } else {
            // Columns before the first (only in a last, short block) read as 0.
            const int at = c0 >> 3, bit = c0 & 7;  // c0 >= -7 here
            const unsigned hi = at >= 0 ? row[at] : 0u, lo = row[at + 1];
            v = ((hi << 8 | lo) >> (8 - bit)) & 0xFFu;
          }
          return fromRight ? reversed[v] : static_cast<uint8_t>(v);
        };
        uint8_t* dst[8];
        for (int j = 0; j < rows; ++j) dst[j] = turned.GetBits(H - 1 - (y0 + j));
        for (int x0 = 0; x0 < W; x0 += 8) {
          const int n = std::min(8, W - x0);
          uint64_t m = 0;
          for (int k = 0; k < n; ++k) m |= static_cast<uint64_t>(columns(from(x0 + k))) << (8 * (7 - k));
          m = TransposeBits(m);
          for (int j = 0; j < rows; ++j) dst[j][x0 >> 3] = static_cast<uint8_t>(m >> (8 * (7 - j)));
        }
      }
    });
  } else {
    ParallelRanges(0, H, 32, [&](int first, int end) {
      for (int y = first; y < end; ++y) {
        // Upright row y (from the top) is stored column sx.
        const int sx = fromRight ? w - 1 - y : y;
        uint8_t* dst = turned.GetBits(H - 1 - y);
        if (bpp == 24) {
          for (int x = 0; x < W; ++x)
            std::memcpy(dst + 3 * static_cast<size_t>(x), from(x) + 3 * static_cast<size_t>(sx), 3);
        } else if (bpp == 8) {
          for (int x = 0; x < W; ++x) dst[x] = from(x)[sx];
        } else {
          // Two pixels a byte, the left one in the high half.
          const size_t at = static_cast<size_t>(sx) >> 1;
          const int shift = (sx & 1) ? 0 : 4;
          for (int x = 0; x < W; x += 2) {
            uint8_t v = static_cast<uint8_t>(((from(x)[at] >> shift) & 0x0F) << 4);
            if (x + 1 < W) v |= (from(x + 1)[at] >> shift) & 0x0F;
            dst[x >> 1] = v;
          }
        }
      }
    });
  }
  std::swap(m_pDib, turned.m_pDib);
  std::swap(m_nDibSize, turned.m_nDibSize);
  std::swap(m_block, turned.m_block);
  std::swap(m_nXDpi, turned.m_nXDpi);
  std::swap(m_nYDpi, turned.m_nYDpi);
  return true;
}

void CxImage::SetError(const char* text) {
  m_szLastError = text ? text : "";
  if (m_szLastError.size() > 255) m_szLastError.resize(255);
}

void CxImage::SetXDpi(int dpi) {
  m_nXDpi = dpi;
  if (IsValid()) Header().biXPelsPerMeter = DpiToDpm(dpi);
}

void CxImage::SetYDpi(int dpi) {
  m_nYDpi = dpi;
  if (IsValid()) Header().biYPelsPerMeter = DpiToDpm(dpi);
}

}  // namespace tessara
