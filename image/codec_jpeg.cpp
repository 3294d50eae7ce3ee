// JPEG decoder and encoder over libjpeg(-turbo).
//
// libjpeg reports fatal errors by calling error_exit, which must not return; we
// leave through longjmp. To keep that well defined, the functions that call
// setjmp, and the helpers they call, keep every piece of their state in a
// struct owned by the caller one frame up (no C++ objects with destructors are
// alive in a frame between setjmp and a longjmp), and the callbacks that reach
// C++ code catch everything before control goes back into the library.
#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

// jpeglib.h needs size_t and FILE declared first; jerror.h follows it.
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "image/codec.h"
#include "image/metadata.h"
#include "image/parallel.h"

namespace tessara {

namespace {

// A Huffman-coded JPEG spends at least one bit on every 8 x 8 block of its
// largest component (the DC code), so a file of n bytes cannot hold more than
// 8 n blocks, i.e. 512 n pixels. Twice that leaves a margin; beyond it the
// header lies and we refuse before allocating the picture.
constexpr uint64_t kMaxPixelsPerByte = 1024;
// Arithmetic coding can spend far less than a bit on a block of a flat
// picture; this bound is generous and still stops a header of a few bytes
// from claiming gigapixels.
constexpr uint64_t kMaxArithmeticPixelsPerByte = 65536;
// Progressive and multi-scan files are decoded through a buffer of every DCT
// coefficient (two bytes a sample). It is held to the same limit as the
// picture beside it: larger buffers are refused before any is allocated, and
// libjpeg is held to it as well.
uint64_t CoefficientLimit() { return PictureByteLimit(); }

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void FailWithMessage(j_common_ptr cinfo) {
  ErrorManager* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// Warnings that mean picture data is missing or damaged: carrying on would
// hand back a partly grey picture as if it were good, so they end the decode.
// Harmless ones (extraneous bytes between markers, unknown JFIF revisions and
// the like) are ignored.
bool WarningIsFatal(int code) {
  switch (code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
      return true;
    default:
      return false;
  }
}

void EmitMessage(j_common_ptr cinfo, int level) {
  if (level < 0 && WarningIsFatal(cinfo->err->msg_code)) FailWithMessage(cinfo);
  // Nothing goes to stderr: warnings and trace messages are dropped.
}

void OutputMessage(j_common_ptr) {}

void SetupErrors(ErrorManager& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = FailWithMessage;
  err.pub.emit_message = EmitMessage;
  err.pub.output_message = OutputMessage;
  err.message[0] = '\0';
}

// --- source: the whole file is in memory --------------------------------------

void SourceInit(j_decompress_ptr) {}

// Called only once every byte has been consumed: the file is cut short.
// libjpeg's own source managers would insert a fake end marker and carry on
// with a grey remainder; we stop with the library's message instead.
boolean SourceFill(j_decompress_ptr cinfo) {
  ERREXIT(cinfo, JWRN_JPEG_EOF);
  return FALSE;
}

void SourceSkip(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  if (static_cast<unsigned long>(count) > src->bytes_in_buffer) ERREXIT(cinfo, JWRN_JPEG_EOF);
  src->next_input_byte += count;
  src->bytes_in_buffer -= static_cast<size_t>(count);
}

void SourceTerm(j_decompress_ptr) {}

// --- destination: a growable ByteWriter ---------------------------------------

constexpr size_t kDestChunk = 1 << 16;

struct Destination {
  jpeg_destination_mgr pub;
  ByteWriter* out;
  JOCTET buffer[kDestChunk];
};

void DestInit(j_compress_ptr cinfo) {
  Destination* dest = reinterpret_cast<Destination*>(cinfo->dest);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kDestChunk;
}

boolean DestEmpty(j_compress_ptr cinfo) {
  Destination* dest = reinterpret_cast<Destination*>(cinfo->dest);
  if (!AppendToWriter(dest->out, dest->buffer, kDestChunk)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kDestChunk;
  return TRUE;
}

void DestTerm(j_compress_ptr cinfo) {
  Destination* dest = reinterpret_cast<Destination*>(cinfo->dest);
  size_t n = kDestChunk - dest->pub.free_in_buffer;
  if (!AppendToWriter(dest->out, dest->buffer, n)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
}

// --- decoding -----------------------------------------------------------------

constexpr int kRowBatch = 16;

// libjpeg's progress hook, called often in every pass (the whole input pass of
// a progressive file included): reports to the decode watch, and leaves through
// the error exit when the watch stops the load.
struct ProgressHook {
  jpeg_progress_mgr pub;
  CxImage* img;
};

// No encoder writes more scans than this (libjpeg-turbo's own tools stop at
// it too); a file that repeats its scans beyond it only wastes the time of
// whoever decodes it.
constexpr int kMaxScans = 500;

void OnProgress(j_common_ptr cinfo) {
  auto* hook = reinterpret_cast<ProgressHook*>(cinfo->progress);
  if (!cinfo->is_decompressor) return;
  const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxScans) {
    ErrorManager* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::snprintf(err->message, sizeof err->message,
                  "Corrupt JPEG data: more than %d scans (no encoder writes so many)", kMaxScans);
    std::longjmp(err->jump, 1);
  }
  const jpeg_progress_mgr& p = hook->pub;
  const uint64_t limit = p.pass_limit > 0 ? static_cast<uint64_t>(p.pass_limit) : 1;
  const uint64_t counter = p.pass_counter > 0 ? std::min(static_cast<uint64_t>(p.pass_counter), limit) : 0;
  const uint64_t passes = p.total_passes > 0 ? static_cast<uint64_t>(p.total_passes) : 1;
  const uint64_t done = static_cast<uint64_t>(std::max(p.completed_passes, 0)) * 1000 + counter * 1000 / limit;
  if (!KeepDecoding(*hook->img, std::min(done, passes * 1000), passes * 1000)) ERREXIT(cinfo, JERR_BAD_STATE);
}

// Value-initialised (all zero) by its owner, DecodeJpeg, which frees the
// buffer when it returns, whether libjpeg jumped or not.
struct DecodeState {
  ErrorManager err;
  ProgressHook progress;
  jpeg_decompress_struct cinfo;
  jpeg_source_mgr src;
  const uint8_t* data;
  size_t size;
  CxImage* img;
  bool grey;          // one component: an 8-bit grey picture
  bool cmyk;          // four inks, turned into colours row by row
  bool createFailed;  // CxImage::Create has put its own message
  uint64_t coefficientBytes;  // a multi-scan file's buffer, 0 for others
  std::unique_ptr<uint8_t[]> cmykRow;
};

// CMYK (and YCCK, which libjpeg turns into CMYK) to blue, green, red. Adobe
// applications write the inks inverted (0 = full ink) and mark the file with
// an Adobe segment; without that marker the values are taken as ink amounts.
void CmykRowToBgr(const uint8_t* src, uint8_t* dst, unsigned width, bool inverted) {
  for (unsigned x = 0; x < width; ++x, src += 4, dst += 3) {
    unsigned c = src[0], m = src[1], y = src[2], k = src[3];
    if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    // Now each value is 255 - ink; the colour is the product of the "no ink"
    // parts, rounded.
    dst[0] = static_cast<uint8_t>((y * k + 127) / 255);
    dst[1] = static_cast<uint8_t>((m * k + 127) / 255);
    dst[2] = static_cast<uint8_t>((c * k + 127) / 255);
  }
}

// A decoder's state over the `size` bytes at `data`, its errors set up; null
// when memory runs out.
template <typename T>
std::unique_ptr<T> NewDecodeState(const uint8_t* data, size_t size) {
  std::unique_ptr<T> s = MakeZeroed<T>();
  if (!s) return s;
  SetupErrors(s->err);
  s->cinfo.err = &s->err.pub;
  s->data = data;
  s->size = size;
  return s;
}

// Hooks the progress watch and the in-memory source to the decompressor.
void AttachSource(DecodeState* s) {
  s->progress.pub.progress_monitor = OnProgress;
  s->progress.img = s->img;
  s->cinfo.progress = &s->progress.pub;
  s->src.init_source = SourceInit;
  s->src.fill_input_buffer = SourceFill;
  s->src.skip_input_data = SourceSkip;
  s->src.resync_to_restart = jpeg_resync_to_restart;
  s->src.term_source = SourceTerm;
  s->src.next_input_byte = s->data;
  s->src.bytes_in_buffer = s->size;
  s->cinfo.src = &s->src;
}

// Refuses, with a message in s->err, a header whose picture the file cannot
// hold or whose coefficient buffer would be too big; then holds libjpeg to
// that working memory.
bool CheckSizes(DecodeState* s) {
  jpeg_decompress_struct* cinfo = &s->cinfo;
  uint64_t pixels = static_cast<uint64_t>(cinfo->image_width) * cinfo->image_height;
  const uint64_t perByte = cinfo->arith_code ? kMaxArithmeticPixelsPerByte : kMaxPixelsPerByte;
  if (pixels > perByte * static_cast<uint64_t>(s->size)) {
    std::snprintf(s->err.message, sizeof s->err.message, "Corrupt JPEG data: %ux%u pixels cannot be held in %zu bytes",
                  cinfo->image_width, cinfo->image_height, s->size);
    return false;
  }
  if (jpeg_has_multiple_scans(cinfo)) {
    uint64_t coefficients = 0;
    for (int c = 0; c < cinfo->num_components; ++c) {
      const jpeg_component_info& comp = cinfo->comp_info[c];
      const uint64_t h = static_cast<uint64_t>(comp.h_samp_factor), v = static_cast<uint64_t>(comp.v_samp_factor);
      const uint64_t across = (comp.width_in_blocks + h - 1) / h * h, down = (comp.height_in_blocks + v - 1) / v * v;
      coefficients += across * down * DCTSIZE2 * sizeof(JCOEF);
    }
    if (coefficients > CoefficientLimit()) {
      std::snprintf(s->err.message, sizeof s->err.message,
                    "Progressive JPEG of %ux%u pixels is too big to decode (it needs %llu MB of working memory, "
                    "more than the %llu MB the program allows)",
                    cinfo->image_width, cinfo->image_height,
                    static_cast<unsigned long long>(coefficients >> 20),
                    static_cast<unsigned long long>(CoefficientLimit() >> 20));
      return false;
    }
    s->coefficientBytes = coefficients;
  }
  cinfo->mem->max_memory_to_use = static_cast<long>(CoefficientLimit() + (uint64_t{64} << 20));
  return true;
}

// Grey files give grey rows; CMYK and YCCK files give inks; the rest come
// straight in the picture's order.
void ChooseOutputSpace(DecodeState* s) {
  jpeg_decompress_struct* cinfo = &s->cinfo;
  s->grey = cinfo->num_components == 1;
  s->cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  if (s->grey)
    cinfo->out_color_space = JCS_GRAYSCALE;
  else if (s->cmyk)
    cinfo->out_color_space = JCS_CMYK;
  else
    cinfo->out_color_space = JCS_EXT_BGR;
}

// Creates the picture at the output size, with the grey table and the JFIF
// resolution. False when CxImage::Create refused (it has put its message).
bool CreatePicture(DecodeState* s) {
  const jpeg_decompress_struct* cinfo = &s->cinfo;
  CxImage* img = s->img;
  if (!img->Create(cinfo->output_width, cinfo->output_height, s->grey ? 8 : 24)) return false;
  if (s->grey) img->SetGrayPalette();
  if (cinfo->saw_JFIF_marker && cinfo->X_density > 0 && cinfo->Y_density > 0) {
    if (cinfo->density_unit == 1) {
      img->SetXDpi(cinfo->X_density);
      img->SetYDpi(cinfo->Y_density);
    } else if (cinfo->density_unit == 2) {
      // Dots per centimetre; x 2.54 rounded to the nearest integer.
      img->SetXDpi(static_cast<int>((cinfo->X_density * 254 + 50) / 100));
      img->SetYDpi(static_cast<int>((cinfo->Y_density * 254 + 50) / 100));
    }
  }
  return true;
}

// The orientation tag of the first EXIF segment and the colour profile, which
// may be split over several segments. A damaged profile is left out.
void ReadOrientationAndProfile(DecodeState* s, PictureMetadata& meta) {
  jpeg_decompress_struct* cinfo = &s->cinfo;
  static const uint8_t kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next) {
    if (m->marker != JPEG_APP0 + 1 || m->data_length < sizeof kExif || std::memcmp(m->data, kExif, 6) != 0) continue;
    meta.taggedOrientation = ExifOrientation(m->data + 6, m->data_length - 6);
    break;
  }
  meta.orientation = meta.taggedOrientation ? meta.taggedOrientation : 1;
  JOCTET* icc = nullptr;
  unsigned int length = 0;
  if (jpeg_read_icc_profile(cinfo, &icc, &length) && icc) {
    try {
      meta.iccProfile.assign(icc, icc + length);
    } catch (...) {
      meta.ignored.push_back("a colour profile too big to hold");
    }
    std::free(icc);
  } else {
    bool anyIcc = false;
    for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next)
      if (m->marker == JPEG_APP0 + 2 && m->data_length >= 12 && std::memcmp(m->data, "ICC_PROFILE", 12) == 0)
        anyIcc = true;
    if (anyIcc) meta.ignored.push_back("a damaged colour profile");
  }
}

// Four-component rows, one at a time through s->cmykRow, turned into colours.
void ReadCmykRows(DecodeState* s) {
  jpeg_decompress_struct* cinfo = &s->cinfo;
  const unsigned width = cinfo->output_width;
  const int height = static_cast<int>(cinfo->output_height);
  if (cinfo->output_components != 4) ERREXIT(cinfo, JERR_CONVERSION_NOTIMPL);
  if (!AllocateArray(s->cmykRow, static_cast<size_t>(width) * 4)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
  const bool inverted = cinfo->saw_Adobe_marker;
  JSAMPROW row = s->cmykRow.get();
  while (cinfo->output_scanline < cinfo->output_height) {
    int y = height - 1 - static_cast<int>(cinfo->output_scanline);
    if (jpeg_read_scanlines(cinfo, &row, 1) != 1) ERREXIT(cinfo, JWRN_JPEG_EOF);
    CmykRowToBgr(row, s->img->GetBits(y), width, inverted);
  }
}

// Grey and colour rows, straight into the picture in batches.
void ReadRows(DecodeState* s) {
  jpeg_decompress_struct* cinfo = &s->cinfo;
  const int height = static_cast<int>(cinfo->output_height);
  JSAMPROW rows[kRowBatch];
  while (cinfo->output_scanline < cinfo->output_height) {
    unsigned first = cinfo->output_scanline;
    unsigned count = cinfo->output_height - first;
    if (count > kRowBatch) count = kRowBatch;
    for (unsigned i = 0; i < count; ++i) rows[i] = s->img->GetBits(height - 1 - static_cast<int>(first + i));
    if (jpeg_read_scanlines(cinfo, rows, count) == 0) ERREXIT(cinfo, JWRN_JPEG_EOF);
  }
}

// Sets libjpeg's jump point: every step below may leave through it, so this
// frame and the helpers' frames hold only plain data; the buffer is in *s.
bool DecodeCore(DecodeState* s) {
  jpeg_decompress_struct* cinfo = &s->cinfo;
  if (setjmp(s->err.jump)) {
    jpeg_destroy_decompress(cinfo);
    return false;
  }
  jpeg_create_decompress(cinfo);
  AttachSource(s);
  // EXIF (for the orientation) and the colour profile's pieces are kept by
  // the library as it reads the header.
  jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
  jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(cinfo, TRUE);
  if (!CheckSizes(s)) {
    jpeg_destroy_decompress(cinfo);
    return false;
  }
  ChooseOutputSpace(s);
  jpeg_calc_output_dimensions(cinfo);
  if (!CreatePicture(s) ||
      (s->coefficientBytes && !s->img->WorkingMemoryFits(s->coefficientBytes, "Progressive JPEG too big to decode"))) {
    s->createFailed = true;
    jpeg_destroy_decompress(cinfo);
    return false;
  }
  ReadOrientationAndProfile(s, s->img->m_metadata);
  jpeg_start_decompress(cinfo);
  if (s->cmyk)
    ReadCmykRows(s);
  else
    ReadRows(s);
  jpeg_finish_decompress(cinfo);
  jpeg_destroy_decompress(cinfo);
  return true;
}

// Opens a row reader's decompressor: the same checks and choices as
// DecodeCore, up to the first row. Leaves s->cinfo created whatever happens
// (the reader destroys it).
bool OpenRowsCore(DecodeState* s, PictureMetadata* meta, bool* reads) {
  jpeg_decompress_struct* cinfo = &s->cinfo;
  if (setjmp(s->err.jump)) return false;
  jpeg_create_decompress(cinfo);
  AttachSource(s);
  // No picture to report progress on: the reader's caller does.
  cinfo->progress = nullptr;
  jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
  jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(cinfo, TRUE);
  if (!CheckSizes(s)) return false;
  ChooseOutputSpace(s);
  *reads = !s->grey && !s->cmyk && !jpeg_has_multiple_scans(cinfo) && cinfo->num_components == 3;
  if (!*reads) return true;
  jpeg_calc_output_dimensions(cinfo);
  ReadOrientationAndProfile(s, *meta);
  jpeg_start_decompress(cinfo);
  return true;
}

bool ReadRowsCore(DecodeState* s, JSAMPROW* rows, unsigned count) {
  jpeg_decompress_struct* cinfo = &s->cinfo;
  if (setjmp(s->err.jump)) return false;
  unsigned done = 0;
  while (done < count) {
    const unsigned n = jpeg_read_scanlines(cinfo, rows + done, std::min<unsigned>(count - done, kRowBatch));
    if (n == 0) ERREXIT(cinfo, JWRN_JPEG_EOF);
    done += n;
  }
  if (cinfo->output_scanline == cinfo->output_height) jpeg_finish_decompress(cinfo);
  return true;
}

// --- encoding -----------------------------------------------------------------

struct EncodeState {
  ErrorManager err;
  jpeg_compress_struct cinfo;
  Destination dest;
  CxImage* img;
  // The first row encoded and the bytes from one row to the next.
  const uint8_t* top;
  ptrdiff_t step;
};

int ClampDensity(int dpi) { return dpi < 1 ? 96 : dpi > 65535 ? 65535 : dpi; }

// Encodes `count` rows of the picture, from s->top on, as a JPEG of its own;
// `headers` adds what only the first piece of a banded file carries (the
// colour profile).
bool EncodeCore(EncodeState* s, int count, bool headers) {
  jpeg_compress_struct* cinfo = &s->cinfo;
  if (setjmp(s->err.jump)) {
    jpeg_destroy_compress(cinfo);
    return false;
  }
  jpeg_create_compress(cinfo);
  s->dest.pub.init_destination = DestInit;
  s->dest.pub.empty_output_buffer = DestEmpty;
  s->dest.pub.term_destination = DestTerm;
  cinfo->dest = &s->dest.pub;

  CxImage* img = s->img;
  bool grey = img->GetBpp() == 8;
  cinfo->image_width = static_cast<JDIMENSION>(img->GetWidth());
  cinfo->image_height = static_cast<JDIMENSION>(count);
  cinfo->input_components = grey ? 1 : 3;
  cinfo->in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;  // rows go in as stored
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, img->m_nJpegQuality, FALSE);
  if (img->m_dwCodecOptions & kJpegOptionProgressive) jpeg_simple_progression(cinfo);
  if (img->m_dwCodecOptions & kJpegOptionSmoothing) cinfo->smoothing_factor = 25;
  cinfo->write_JFIF_header = TRUE;
  cinfo->density_unit = 1;
  cinfo->X_density = static_cast<UINT16>(ClampDensity(img->m_nXDpi));
  cinfo->Y_density = static_cast<UINT16>(ClampDensity(img->m_nYDpi));

  jpeg_start_compress(cinfo, TRUE);
  const std::vector<uint8_t>& icc = img->m_metadata.iccProfile;
  if (headers && !icc.empty() && icc.size() <= 0xFFFFFFFFu)
    jpeg_write_icc_profile(cinfo, icc.data(), static_cast<unsigned int>(icc.size()));
  JSAMPROW rows[kRowBatch];
  while (cinfo->next_scanline < cinfo->image_height) {
    unsigned done = cinfo->next_scanline;
    unsigned n = cinfo->image_height - done;
    if (n > kRowBatch) n = kRowBatch;
    for (unsigned i = 0; i < n; ++i)
      rows[i] = const_cast<JSAMPROW>(s->top + static_cast<ptrdiff_t>(done + i) * s->step);
    if (jpeg_write_scanlines(cinfo, rows, n) == 0) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
  }
  jpeg_finish_compress(cinfo);
  jpeg_destroy_compress(cinfo);
  return true;
}

// Large pictures are written in bands of rows, each compressed on its own core
// and joined as the restart intervals of one baseline stream: the DC
// prediction starts again at every restart marker, and a band's blocks (rows a
// whole number of MCUs high, so chroma is never averaged across two bands) are
// those of a one-piece encode, so every decoder shows the same pixels. The
// bands depend only on the picture's size, so the bytes do not depend on the
// number of cores.
constexpr uint64_t kBandPixels = uint64_t{1} << 20;

}  // namespace

int JpegBandRows(int width, int height, int bpp, uint32_t options) {
  if (options & (kJpegOptionProgressive | kJpegOptionSmoothing | kJpegOptionOnePiece)) return 0;
  if (width < 1 || height < 1) return 0;
  const int mcu = bpp == 8 ? 8 : 16;  // grey: 8 x 8 blocks; colour: 4:2:0
  const uint64_t mcuColumns = (static_cast<uint64_t>(width) + mcu - 1) / mcu;
  uint64_t mcuRows = std::max<uint64_t>(1, kBandPixels / (static_cast<uint64_t>(width) * mcu));
  mcuRows = std::min<uint64_t>(mcuRows, 65535 / std::max<uint64_t>(1, mcuColumns));
  if (mcuRows == 0) return 0;  // one row of MCUs is already more than an interval holds
  const uint64_t rows = mcuRows * mcu;
  return rows < static_cast<uint64_t>(height) ? static_cast<int>(rows) : 0;
}

namespace {

int BandRows(const CxImage& img) {
  return JpegBandRows(img.GetWidth(), img.GetHeight(), img.GetBpp(), img.m_dwCodecOptions);
}

uint16_t BigEndian16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

// Where the marker segments of a stream libjpeg wrote lie: the start of the
// frame header's height field and of the scan header, and where the entropy
// coded data begins and ends (before the closing EOI). False when the stream
// is not laid out so.
struct StreamLayout {
  size_t heightAt = 0, scanAt = 0, dataBegin = 0, dataEnd = 0;
};

bool FindLayout(const std::vector<uint8_t>& b, StreamLayout& l) {
  if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8 || b[b.size() - 2] != 0xFF || b[b.size() - 1] != 0xD9)
    return false;
  size_t at = 2;
  while (at + 4 <= b.size() && b[at] == 0xFF) {
    const uint8_t marker = b[at + 1];
    const size_t length = BigEndian16(&b[at + 2]);
    if (length < 2 || at + 2 + length > b.size()) return false;
    // Baseline, or extended sequential when a low quality needs 16-bit tables.
    if ((marker == 0xC0 || marker == 0xC1) && length >= 7) l.heightAt = at + 5;
    if (marker == 0xDA) {
      l.scanAt = at;
      l.dataBegin = at + 2 + length;
      l.dataEnd = b.size() - 2;
      return l.heightAt != 0;
    }
    at += 2 + length;
  }
  return false;
}

// Joins the bands' streams into one: the first band's headers with the whole
// height and a restart interval of one band, then each band's coded data, a
// restart marker between two.
bool JoinBands(std::vector<std::vector<uint8_t>>& bands, int height, unsigned mcusPerBand, ByteWriter& out) {
  std::vector<StreamLayout> layouts(bands.size());
  size_t total = 0;
  for (size_t i = 0; i < bands.size(); ++i) {
    if (!FindLayout(bands[i], layouts[i])) return false;
    total += layouts[i].dataEnd - layouts[i].dataBegin + 2;
  }
  std::vector<uint8_t>& head = bands[0];
  const StreamLayout& l0 = layouts[0];
  head[l0.heightAt] = static_cast<uint8_t>(height >> 8);
  head[l0.heightAt + 1] = static_cast<uint8_t>(height);
  out.Reserve(out.Size() + l0.scanAt + 6 + (l0.dataBegin - l0.scanAt) + total + 2);
  out.Write(head.data(), l0.scanAt);
  const uint8_t dri[6] = {0xFF, 0xDD, 0x00, 0x04, static_cast<uint8_t>(mcusPerBand >> 8),
                          static_cast<uint8_t>(mcusPerBand)};
  out.Write(dri, sizeof dri);
  out.Write(head.data() + l0.scanAt, l0.dataBegin - l0.scanAt);
  for (size_t i = 0; i < bands.size(); ++i) {
    if (i > 0) {
      const uint8_t rst[2] = {0xFF, static_cast<uint8_t>(0xD0 + ((i - 1) & 7))};
      out.Write(rst, 2);
    }
    out.Write(bands[i].data() + layouts[i].dataBegin, layouts[i].dataEnd - layouts[i].dataBegin);
    std::vector<uint8_t>().swap(bands[i]);  // its memory goes as soon as it is copied
  }
  const uint8_t eoi[2] = {0xFF, 0xD9};
  out.Write(eoi, 2);
  return true;
}

}  // namespace

bool DecodeJpeg(ByteReader& in, CxImage& img) {
  // Owned here, outside the frame libjpeg jumps to, so the state and its buffer
  // are freed by scope whichever way the decode ends.
  std::unique_ptr<DecodeState> s = NewDecodeState<DecodeState>(in.Current(), in.Remaining());
  if (!s) {
    img.SetError("Insufficient memory for the JPEG decoder");
    return false;
  }
  s->img = &img;
  bool ok = DecodeCore(s.get());
  if (!ok) {
    if (!s->createFailed) img.SetError(s->err.message[0] ? s->err.message : "JPEG decoding failed");
    img.Destroy();
  }
  return ok;
}

struct JpegRowReader::State : DecodeState {};

std::unique_ptr<JpegRowReader> JpegRowReader::Open(const uint8_t* data, size_t size) {
  std::unique_ptr<JpegRowReader> reader;
  try {
    reader.reset(new JpegRowReader);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  std::unique_ptr<State> s = NewDecodeState<State>(data, size);
  if (!s) return nullptr;
  reader->m_pState = s.release();
  State* state = reader->m_pState;
  bool reads = false;
  if (!OpenRowsCore(state, &reader->m_metadata, &reads)) {
    reader->m_why = state->err.message[0] ? state->err.message : "JPEG decoding failed";
    return reader;
  }
  reader->m_bReads = reads;
  return reader;
}

JpegRowReader::~JpegRowReader() {
  if (!m_pState) return;
  jpeg_destroy_decompress(&m_pState->cinfo);
  delete m_pState;
}

bool JpegRowReader::Reads() const { return m_bReads; }
int JpegRowReader::Width() const { return m_bReads ? static_cast<int>(m_pState->cinfo.output_width) : 0; }
int JpegRowReader::Height() const { return m_bReads ? static_cast<int>(m_pState->cinfo.output_height) : 0; }

bool JpegRowReader::Read(uint8_t* const* rows, int count) {
  if (!m_bReads) return false;
  if (count <= 0) return true;
  if (static_cast<unsigned>(count) > m_pState->cinfo.output_height - m_pState->cinfo.output_scanline) {
    m_why = "JPEG rows asked for beyond the picture";
    m_bReads = false;
    return false;
  }
  if (!ReadRowsCore(m_pState, const_cast<JSAMPROW*>(rows), static_cast<unsigned>(count))) {
    m_why = m_pState->err.message[0] ? m_pState->err.message : "JPEG decoding failed";
    m_bReads = false;
    return false;
  }
  return true;
}

bool EncodeJpeg(ByteWriter& out, CxImage& img) {
  if (!img.IsValid()) {
    img.SetError("null image!!!");
    return false;
  }
  int bpp = img.GetBpp();
  if (!(bpp == 24 || (bpp == 8 && img.IsGrayScale()))) {
    img.SetError("JPEG can save only RGB or GreyScale images");
    return false;
  }
  // A compressor writing to `to`; null when there is no memory for one.
  const auto newEncoder = [&img](ByteWriter& to) {
    std::unique_ptr<EncodeState> s = MakeZeroed<EncodeState>();
    if (!s) return s;
    SetupErrors(s->err);
    s->cinfo.err = &s->err.pub;
    s->dest.out = &to;
    s->img = &img;
    return s;
  };
  RowBands* maker = img.RowMaker();
  // Rows [first, first + count) from the top: from the picture, or made for
  // the encoder; false when they could not be made.
  const auto fetch = [&](EncodeState& s, int first, int count) {
    if (maker) {
      s.top = maker->Acquire(first, count, s.step);
      return s.top != nullptr;
    }
    s.top = img.GetBits(img.GetHeight() - 1 - first);
    s.step = -static_cast<ptrdiff_t>(img.GetEffWidth());
    return true;
  };
  const auto give = [&](int first, int count) {
    if (maker) maker->Release(first, count);
  };
  const int bandRows = BandRows(img);
  if (bandRows == 0) {
    std::unique_ptr<EncodeState> s = newEncoder(out);
    if (!s) {
      img.SetError("Insufficient memory for the JPEG encoder");
      return false;
    }
    if (!fetch(*s, 0, img.GetHeight())) return Fail(img, kRowsNotMade);
    bool ok = EncodeCore(s.get(), img.GetHeight(), true);
    give(0, img.GetHeight());
    if (!ok) img.SetError(s->err.message[0] ? s->err.message : "JPEG encoding failed");
    return ok;
  }
  const int height = img.GetHeight();
  const int bandCount = (height + bandRows - 1) / bandRows;
  std::vector<ByteWriter> pieces(static_cast<size_t>(bandCount));
  std::vector<std::string> errors(static_cast<size_t>(bandCount));
  std::atomic<bool> failed{false};
  // One band a part: the cores take them in order from the top, which is the
  // order a picture made while it is saved can give them.
  RunParts(bandCount, [&](int b) {
    if (failed) return;
    std::unique_ptr<EncodeState> s = newEncoder(pieces[static_cast<size_t>(b)]);
    if (!s) {
      errors[static_cast<size_t>(b)] = "Insufficient memory for the JPEG encoder";
      failed = true;
      return;
    }
    const int first = b * bandRows, count = std::min(bandRows, height - first);
    if (!fetch(*s, first, count)) {
      errors[static_cast<size_t>(b)] = kRowsNotMade;
      failed = true;
      return;
    }
    if (!EncodeCore(s.get(), count, b == 0)) {
      errors[static_cast<size_t>(b)] = s->err.message[0] ? s->err.message : "JPEG encoding failed";
      failed = true;
    }
    give(first, count);
  });
  for (const std::string& e : errors)
    if (!e.empty()) return Fail(img, e.c_str());
  if (failed) return Fail(img, "JPEG encoding failed");
  std::vector<std::vector<uint8_t>> bands;
  bands.reserve(pieces.size());
  for (ByteWriter& p : pieces) bands.push_back(std::move(p.Buffer()));
  const int mcu = img.GetBpp() == 8 ? 8 : 16;
  const unsigned mcusPerBand = static_cast<unsigned>((img.GetWidth() + mcu - 1) / mcu) * (bandRows / mcu);
  if (!JoinBands(bands, height, mcusPerBand, out)) return Fail(img, "JPEG encoding failed");
  return true;
}

}  // namespace tessara
