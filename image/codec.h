// What the decoders and encoders share: a reader over bytes in memory that refuses
// to read past their end, a growable writer with seeking, and the entry points of
// each format. Every decoder starts from the beginning of the bytes it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "image/bytes.h"
#include "image/metadata.h"
#include "image/ximage.h"

namespace tessara {

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : m_pData(data), m_nSize(size) {}

  // Copies n bytes and advances; false (and nothing read) when fewer remain.
  bool Read(void* dst, size_t n) {
    if (n > m_nSize - m_nPos) return false;
    if (n) std::memcpy(dst, m_pData + m_nPos, n);
    m_nPos += n;
    return true;
  }
  bool ReadU8(uint8_t& v) { return Read(&v, 1); }
  bool Skip(size_t n) {
    if (n > m_nSize - m_nPos) return false;
    m_nPos += n;
    return true;
  }
  bool Seek(size_t pos) {
    if (pos > m_nSize) return false;
    m_nPos = pos;
    return true;
  }
  size_t Tell() const { return m_nPos; }
  size_t Size() const { return m_nSize; }
  size_t Remaining() const { return m_nSize - m_nPos; }
  const uint8_t* Data() const { return m_pData; }
  // The unread bytes, for decoders that walk them with their own pointer.
  const uint8_t* Current() const { return m_pData + m_nPos; }

 private:
  const uint8_t* m_pData;
  size_t m_nSize;
  size_t m_nPos = 0;
};

class ByteWriter {
 public:
  void Write(const void* src, size_t n) {
    if (!n) return;
    const uint8_t* bytes = static_cast<const uint8_t*>(src);
    if (m_nPos == m_buf.size()) {
      // Appending, the common case: no zero fill before the copy.
      m_buf.insert(m_buf.end(), bytes, bytes + n);
    } else {
      if (m_nPos + n > m_buf.size()) m_buf.resize(m_nPos + n);
      std::memcpy(m_buf.data() + m_nPos, bytes, n);
    }
    m_nPos += n;
  }
  void PutU8(uint8_t v) { Write(&v, 1); }
  void PutU16(uint16_t v) {
    uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    Write(b, 2);
  }
  void PutU32(uint32_t v) {
    uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                    static_cast<uint8_t>(v >> 24)};
    Write(b, 4);
  }
  // Moves the write position; seeking past the end extends with zeros on the
  // next write.
  void Seek(size_t pos) {
    if (pos > m_buf.size()) m_buf.resize(pos);
    m_nPos = pos;
  }
  size_t Tell() const { return m_nPos; }
  size_t Size() const { return m_buf.size(); }
  std::vector<uint8_t>& Buffer() { return m_buf; }
  void Reserve(size_t n) { m_buf.reserve(n); }

 private:
  std::vector<uint8_t> m_buf;
  size_t m_nPos = 0;
};

// Each decoder fills `img` from the reader (positioned at the start of the data)
// and returns true, or sets img's error and returns false. Each encoder writes
// the whole file for `img` (valid, depth 1/4/8/24) or sets the error.
bool DecodeBmp(ByteReader& in, CxImage& img);
bool EncodeBmp(ByteWriter& out, CxImage& img);
bool EncodeBmpHeader(ByteWriter& out, CxImage& img);
bool DecodeTga(ByteReader& in, CxImage& img);
bool EncodeTga(ByteWriter& out, CxImage& img);
bool DecodePcx(ByteReader& in, CxImage& img);
bool EncodePcx(ByteWriter& out, CxImage& img);
bool DecodeJpeg(ByteReader& in, CxImage& img);
bool EncodeJpeg(ByteWriter& out, CxImage& img);
// Rows per band of a JPEG the encoder writes in bands (for a picture of this
// size and depth, and these kJpegOption flags); 0 when it writes one piece.
int JpegBandRows(int width, int height, int bpp, uint32_t options);

// A colour JPEG decoded a few rows at a time, for work that never holds the
// whole picture. Only sequential files of three colour components are read
// so; DecodeJpeg takes every other. Rows come from the top, blue, green, red,
// the same pixels DecodeJpeg gives, and the same damage ends the reading.
class JpegRowReader {
 public:
  // Reads the header of the `size` bytes at `data`, which must stay while the
  // reader lives. Null when memory runs out.
  static std::unique_ptr<JpegRowReader> Open(const uint8_t* data, size_t size);
  ~JpegRowReader();
  JpegRowReader(const JpegRowReader&) = delete;
  JpegRowReader& operator=(const JpegRowReader&) = delete;

  // Whether the header was read and the file is one this reader decodes.
  bool Reads() const;
  // Why not, or why reading stopped: the decoder's words, as DecodeJpeg
  // gives them; empty for a file left to DecodeJpeg.
  const std::string& Why() const { return m_why; }
  int Width() const;
  int Height() const;
  // The orientation tag and colour profile, as DecodeJpeg puts them.
  const PictureMetadata& Metadata() const { return m_metadata; }
  // Decodes the next `count` rows into `rows`; after the last row the rest of
  // the file is read too. False when the data is damaged (Why() tells).
  bool Read(uint8_t* const* rows, int count);

 private:
  JpegRowReader() = default;
  struct State;
  State* m_pState = nullptr;
  std::string m_why;
  PictureMetadata m_metadata;
  bool m_bReads = false;
};
bool DecodePng(ByteReader& in, CxImage& img);
bool EncodePng(ByteWriter& out, CxImage& img);
bool DecodeTiff(ByteReader& in, CxImage& img);
bool EncodeTiff(ByteWriter& out, CxImage& img);

// Sets the picture's error text and fails, for `return Fail(img, "...")`.
inline bool Fail(CxImage& img, const char* text) {
  img.SetError(text);
  return false;
}
// Appends n bytes; false when memory runs out (never throws into a C library's
// callback).
bool AppendToWriter(ByteWriter* out, const uint8_t* data, size_t n);
// For the codecs over C libraries that leave a failing call by longjmp
// (libpng, libjpeg): their state is owned outside the frame the library jumps
// to, and their buffers are allocated without an exception reaching that frame.
//
// A value-initialised T (plain members zero, as calloc left them), or null when
// memory runs out.
template <typename T>
std::unique_ptr<T> MakeZeroed() noexcept {
  try {
    return std::make_unique<T>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
// Replaces `p` with n elements left uninitialised; false when memory runs out.
// The caller then reports the failure through its library, outside any
// exception handler.
template <typename T>
bool AllocateArray(std::unique_ptr<T[]>& p, size_t n) noexcept {
  try {
    p = std::make_unique_for_overwrite<T[]>(n);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}
// Two-bit indices become four-bit ones in place, working from the end of the
// row so that nothing is overwritten before it is read. Grey values are
// stretched (x 5) so that the four-bit grey ramp shows them at their level.
void ExpandTwoBitRow(uint8_t* row, uint32_t width, bool grey);

// Dots per inch from pixels per metre: floor(ppm x 254 / 10000 + 0.5).
int DpmToDpi(int64_t pixelsPerMetre);
// Pixels per metre from dots per inch, as the header fields carry them.
int32_t DpiToDpm(int dpi);

}  // namespace tessara
