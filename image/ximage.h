// The codec layer: one decoded picture held as a packed bitmap (the Dib layout,
// depth 1, 4, 8 or 24 with a full colour table), plus one decoder and encoder per
// file format. Nothing is thrown out of this layer: every failure leaves a text
// in GetLastError() and a false result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/dib.h"
#include "image/metadata.h"

namespace tessara {

enum ImageFormat {
  CXIMAGE_FORMAT_UNKNOWN = 0,  // try every decoder
  CXIMAGE_FORMAT_BMP = 1,
  CXIMAGE_FORMAT_GIF = 2,
  CXIMAGE_FORMAT_JPG = 3,
  CXIMAGE_FORMAT_PNG = 4,
  CXIMAGE_FORMAT_TIF = 5,
  CXIMAGE_FORMAT_TGA = 6,
  CXIMAGE_FORMAT_PCX = 7,
  CXIMAGE_FORMAT_WMF = 8,
  CXIMAGE_FORMAT_JP2 = 9,
  CXIMAGE_FORMAT_JPC = 10,
  CXIMAGE_FORMAT_PGX = 11,
};

// A named file format (not "try every decoder"): 1 .. 11.
inline constexpr bool IsNamedFormat(int format) { return format >= CXIMAGE_FORMAT_BMP && format <= CXIMAGE_FORMAT_PGX; }

// Largest picture block the layer makes, with the spare bytes it becomes a
// Dib with: the same as the largest Dib.
inline constexpr uint64_t kMaxImageBytes = kDibMaxBlockBytes;
// The largest picture block the layer makes in this process, at most
// kMaxImageBytes; no working buffer of a decoder is larger either. A fuzzing
// harness lowers it so that any allocation beyond the picture itself stands
// out.
void SetPictureByteLimit(uint64_t bytes);
uint64_t PictureByteLimit();
// The largest side of a decoded picture, as of every picture the program
// makes: a larger one is refused by its header, before any memory is taken.
inline constexpr int64_t kMaxUsableSide = kDibMaxSide;

// Flags of CxImage::m_dwCodecOptions the JPEG encoder understands: a
// progressive file, smoothing before compression, and a large picture written
// in one piece instead of in bands of rows compressed on every core.
inline constexpr uint32_t kJpegOptionProgressive = 0x1;
inline constexpr uint32_t kJpegOptionSmoothing = 0x2;
inline constexpr uint32_t kJpegOptionOnePiece = 0x4;

class CxImage;

// The rows of a picture that is never held whole, made band by band while it
// is being saved. The encoder asks for each band once, bands in order from the
// top (several may be out at once, on different threads), and gives each back
// when it has read it.
class RowBands {
 public:
  virtual ~RowBands() = default;
  // Rows [first, first + count) counted from the top: the first of them, each
  // further one `step` bytes on. Null when they cannot be made (the maker
  // knows why).
  virtual const uint8_t* Acquire(int first, int count, ptrdiff_t& step) = 0;
  virtual void Release(int first, int count) = 0;
};
// The encoder's error when a RowBands could not make its rows.
inline constexpr const char* kRowsNotMade = "The rows of the picture could not be made";

// Compression numbers the TIFF encoder takes in m_dwCodecOptions (libtiff's
// own): deflate, and JPEG.
inline constexpr uint32_t kTiffDeflate = 8;
inline constexpr uint32_t kTiffJpeg = 7;

// Watches decoding on one thread: the decoders report how far they are, and the
// watch may stop them (a user's stop key, a signal). Only one at a time.
class DecodeWatch {
 public:
  virtual ~DecodeWatch() = default;
  // `done` of `total` units of `picture` decoded (rows, or steps of a pass);
  // false stops the decode.
  virtual bool Continue(const CxImage& picture, uint64_t done, uint64_t total) = 0;
};

// Installs a watch for the decodes this thread runs while the object lives.
class ScopedDecodeWatch {
 public:
  explicit ScopedDecodeWatch(DecodeWatch* watch);
  ~ScopedDecodeWatch();
  ScopedDecodeWatch(const ScopedDecodeWatch&) = delete;
  ScopedDecodeWatch& operator=(const ScopedDecodeWatch&) = delete;

 private:
  DecodeWatch* m_pPrevious;
};

// For the decoders: reports progress to this thread's watch. False when the
// watch stops the decode; the picture then records that it was stopped, and the
// decoder must fail at once.
bool KeepDecoding(CxImage& picture, uint64_t done, uint64_t total);

// The error text of a decode that was stopped.
inline constexpr const char* kDecodeStopped = "Loading was stopped";

class CxImage {
 public:
  CxImage() = default;
  explicit CxImage(int format) : m_nFormat(format) {}
  // Loads a file: as `format` first, then, failing that, with every decoder.
  CxImage(const std::string& path, int format);
  // Decodes `size` bytes at `buffer` as `format` (1 for a Dib in memory).
  CxImage(const uint8_t* buffer, size_t size, int format);
  // Takes over a picture block with a 40-byte header and no compression at 24
  // bits (an output image): the same picture the bitmap decoder would make of
  // it, without copying its rows.
  explicit CxImage(DibPtr dib);
  // Lends such a block to the encoders without copying or owning it: the
  // picture is the block's own memory while the object lives, and the block's
  // header, which the encoders see with the resolution filled in, is put back
  // as it was when the object ends. False (nothing lent) for any other block.
  bool Lend(Dib& dib);
  // A 24-bit picture of this header's size whose rows `rows` makes as the
  // encoder reads them (only the JPEG encoder reads such a picture; the rest
  // refuse it). `rows` must outlive the object.
  bool LendRows(const BITMAPINFOHEADER& header, RowBands& rows);
  // The maker of the rows of a picture lent so; null for every other.
  RowBands* RowMaker() const { return m_pRowBands; }
  ~CxImage() { Destroy(); }
  CxImage(const CxImage&) = delete;
  CxImage& operator=(const CxImage&) = delete;

  bool IsValid() const { return m_pDib != nullptr; }
  uint8_t* GetDib() { return m_pDib; }
  const uint8_t* GetDib() const { return m_pDib; }
  size_t GetDibSize() const { return m_nDibSize; }
  // Hands the picture over as a block (with the spare bytes every block has)
  // without copying it; the CxImage is empty afterwards.
  DibPtr TakeDib();
  int GetWidth() const { return IsValid() ? Header().biWidth : 0; }
  int GetHeight() const { return IsValid() ? Header().biHeight : 0; }
  int GetBpp() const { return IsValid() ? Header().biBitCount : 0; }
  const char* GetLastError() const { return m_szLastError.c_str(); }

  // Encodes the picture as `format` into the file at `path` (created or
  // truncated). False with GetLastError() on failure.
  bool Save(const std::string& path, int format);
  // Encodes into memory (the same encoders as Save).
  bool Encode(std::vector<uint8_t>& out, int format);
  // Decodes a buffer; format 0 tries every decoder.
  bool Decode(const uint8_t* buffer, size_t size, int format);

  // --- used by the decoders and encoders ---

  // Makes an empty picture of the given size; depth is rounded up to 1, 4, 8 or
  // 24. The colour table is cleared, pixel bytes are not. Sets the error and
  // returns false when the size does not fit or memory is short.
  bool Create(int64_t width, int64_t height, int depth);
  void Destroy();
  // `text`, then why the last Create refused, when it did: for decoders that
  // put their own words on a refused picture.
  std::string WithCreateRefusal(const char* text) const;
  // For a decoder's working buffer of `bytes` beside the picture: true when
  // it is within the picture byte limit and the memory can be had; otherwise
  // sets the error (`text` and why) and returns false.
  bool WorkingMemoryFits(uint64_t bytes, const char* text);

  BITMAPINFOHEADER& Header() { return *reinterpret_cast<BITMAPINFOHEADER*>(m_pDib); }
  const BITMAPINFOHEADER& Header() const { return *reinterpret_cast<const BITMAPINFOHEADER*>(m_pDib); }
  RGBQUAD* GetPalette() { return reinterpret_cast<RGBQUAD*>(m_pDib + 40); }
  const RGBQUAD* GetPalette() const { return reinterpret_cast<const RGBQUAD*>(m_pDib + 40); }
  int GetNumColors() const { return IsValid() ? static_cast<int>(Header().biClrUsed) : 0; }
  size_t GetEffWidth() const { return IsValid() ? Header().biSizeImage / Header().biHeight : 0; }
  // Stored row y (0 = bottom).
  uint8_t* GetBits(int y = 0);
  const uint8_t* GetBits(int y = 0) const;
  // The grey ramp (entry i = i, i, i) over the whole colour table.
  void SetGrayPalette();
  // True when the colour table is the grey ramp for its size (0 .. 255 spread
  // evenly over biClrUsed entries).
  bool IsGrayScale() const;
  // Index of pixel x in row y of an indexed picture.
  uint8_t GetPixelIndex(int x, int y) const;
  void SetPixelIndex(int x, int y, uint8_t index);
  // A 1-bit picture whose entry 0 is the brighter colour gets its two entries
  // exchanged and every pixel's bit inverted: the same picture, with bit 0 the
  // darker colour, as the rest of the program reads two-colour pictures (the
  // preparation of the sources and the Target take bit 1 as white). Bits after
  // the last pixel of a row are left 0.
  void PutDarkerColourFirst();
  // Turns the picture upside down / left to right.
  void Flip();
  void Mirror();
  // Turns and mirrors the picture as an orientation tag of `orientation`
  // (2..8, as EXIF and TIFF number them) says it must be for viewing; 1 and
  // other values change nothing. False (the picture as it was) when memory for
  // the turned picture cannot be had.
  bool Orient(int orientation);

  void SetError(const char* text);
  // True when the last decode was stopped by the thread's watch (not a fault of
  // the file): no other decoder is tried then.
  bool WasStopped() const { return m_bStopped; }
  // The format whose decoder gave the picture (a load's fallback may have
  // found another than the one asked for); 0 when nothing is held.
  int DecodedFormat() const { return IsValid() ? m_nDecodedFormat : CXIMAGE_FORMAT_UNKNOWN; }
  void MarkStopped();
  // Resolution in dots per inch; also kept in the header's pixels-per-metre
  // fields, which the encoders write.
  void SetXDpi(int dpi);
  void SetYDpi(int dpi);

  std::string m_szLastError;
  int m_nFormat = CXIMAGE_FORMAT_UNKNOWN;
  // What the file held besides its pixels (JPEG, PNG and TIFF decoders fill
  // it); for a save, the colour profile the encoders write and the camera
  // data Save writes after them.
  PictureMetadata m_metadata;
  // The software tag of a saved file's camera data.
  std::string m_szSoftware;
  // Set by Save when the picture was written but its camera data could not
  // be: why.
  std::string m_szMetadataWarning;
  // Set by Save when the file could not be written: the system's reason
  // ("No space left on device"), empty when it gave none.
  std::string m_szWriteFailure;
  int m_nJpegQuality = 90;
  int m_nXDpi = 96;
  int m_nYDpi = 96;
  uint32_t m_dwCodecOptions = 0;  // kJpegOption... flags

 private:
  bool DecodeAs(const uint8_t* buffer, size_t size, int format);
  // Sets the header of a block taken over or lent as the bitmap decoder would.
  void AdoptedHeader();
  PictureBlock m_block;       // the picture's memory, when it is the image's own
  uint8_t* m_pDib = nullptr;  // m_block's memory, or the lent block's
  bool m_bLent = false;
  BITMAPINFOHEADER m_lentHeader{};
  RowBands* m_pRowBands = nullptr;
  BITMAPINFOHEADER m_rowsHeader{};  // the header of a picture lent by its rows
  size_t m_nDibSize = 0;
  bool m_bStopped = false;
  int m_nDecodedFormat = CXIMAGE_FORMAT_UNKNOWN;
  std::string m_szCreateRefusal;
};

}  // namespace tessara
