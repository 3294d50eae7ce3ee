// Makes the prepared copy of a source: its scale, left-right mirror and rotation
// applied in one resampling pass (integer fixed point in 1/1024, one division per
// axis and pixel). 1-, 4- and 8-bit sources are sampled nearest; 24-bit output
// (also from 16- and 32-bit sources) is interpolated bilinearly, with the
// source's edge pixels standing in for neighbours beyond its edge. The copy's
// record of which pixels got a sample goes with it.
#include "engine/prepare_source.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "engine/tessara_doc.h"
#include "framework/registry.h"
#include "image/colour_profile.h"
#include "image/packed_row.h"
#include "image/parallel.h"
#include "image/pixel_cursor.h"

namespace tessara {

namespace {

// Reads source pixels exactly as the cursors do, straight from the rows.
struct SourceReader {
  const Dib& dib;
  int bits;
  size_t stride;
  const uint8_t* bits0;
  int shift[3] = {-1, -1, -1};  // 16 bits: blue, green, red
  uint16_t mask[3] = {0x001F, 0x03E0, 0x7C00};

  explicit SourceReader(const Dib& d)
      : dib(d), bits(d.BitCount()), stride(d.Stride()), bits0(d.Bits()) {
    if (bits == 16) {
      if (d.Header().biCompression == BI_BITFIELDS) {
        uint32_t m[3];
        std::memcpy(m, d.Data() + 40, 12);
        mask[2] = static_cast<uint16_t>(m[0]);
        mask[1] = static_cast<uint16_t>(m[1]);
        mask[0] = static_cast<uint16_t>(m[2]);
      }
      for (int i = 0; i < 3; ++i) {
        if (!mask[i]) continue;
        shift[i] = Mask16Shift(mask[i]);
      }
    }
  }
  const uint8_t* Row(int y) const { return bits0 + static_cast<size_t>(y) * stride; }
  // Blue, green, red of a 16-, 24- or 32-bit pixel.
  void Read(int x, int y, int out[3]) const {
    const uint8_t* r = Row(y);
    if (bits == 24) {
      out[0] = r[3 * x], out[1] = r[3 * x + 1], out[2] = r[3 * x + 2];
    } else if (bits == 32) {
      out[0] = r[4 * x], out[1] = r[4 * x + 1], out[2] = r[4 * x + 2];
    } else {
      const unsigned v = r[2 * x] | (r[2 * x + 1] << 8);
      for (int i = 0; i < 3; ++i) out[i] = shift[i] < 0 ? 0 : ((((v & mask[i]) << shift[i]) >> 8) & 0xFF);
    }
  }
};

// Copies a source colour table into the prepared copy's full table; entries the
// source does not have are black.
void CopyColorTable(const Dib& src, Dib& dst) {
  const int full = 1 << src.BitCount();
  const int64_t have = DibColorTableBytes(src.Header()) / 4;
  RGBQUAD* out = dst.ColorTable();
  for (int i = 0; i < full; ++i) out[i] = i < have ? src.ColorTable()[i] : RGBQUAD{0, 0, 0, 0};
}

// The quotient of value / divisor truncated toward zero, as a double division
// and a truncation give it, while value moves by a fixed step. The two always
// agree: for integers this small the double quotient lies nearer its exact value
// than any integer boundary it could cross (and the quotient times 256 likewise).
class QuotientWalk {
 public:
  QuotientWalk(int64_t value, int64_t step, int64_t divisor) : m_nDivisor(divisor) {
    FloorDivide(value, m_nQuotient, m_nRest);
    FloorDivide(step, m_nStepQuotient, m_nStepRest);
  }
  void Step() {
    m_nQuotient += m_nStepQuotient;
    m_nRest += m_nStepRest;
    if (m_nRest >= m_nDivisor) {
      m_nRest -= m_nDivisor;
      ++m_nQuotient;
    }
  }
  // value / divisor rounded toward zero.
  int64_t Trunc() const { return (m_nQuotient < 0 && m_nRest != 0) ? m_nQuotient + 1 : m_nQuotient; }

 private:
  void FloorDivide(int64_t v, int64_t& q, int64_t& r) const {
    q = v / m_nDivisor;
    r = v % m_nDivisor;
    if (r < 0) r += m_nDivisor, --q;
  }
  int64_t m_nDivisor;
  int64_t m_nQuotient = 0, m_nRest = 0;
  int64_t m_nStepQuotient = 0, m_nStepRest = 0;
};

// Where a copy lies against its source: the sizes, the fixed-point terms of the
// rotation (1 - cos and sin, in 1/1024) and the centring of the scaled source.
struct CopyPlan {
  int bits = 0;     // the source's depth
  int outBits = 0;  // the copy's depth
  int width = 0;    // the source's size
  int height = 0;
  int scaleX = 1024;
  int scaleY = 1024;
  int nw = 0;  // the copy's size
  int nh = 0;
  int64_t ox = 0;  // centring, in 1/1024 of a pixel
  int64_t oy = 0;
  int64_t cm = 0;  // 1 - cos, 1/1024
  int64_t sm = 0;  // sin, 1/1024
  bool mirror = false;
};

}  // namespace

bool ComputeCopyGeometry(int width, int height, int scaleX, int scaleY, double rotation, bool cutCorners, bool mirror,
                         CopyGeometry& g) {
  const int64_t sw = int64_t{scaleX} * width / 1024;
  const int64_t sh = int64_t{scaleY} * height / 1024;
  double sine = 0.0, cosine = 1.0;
  if (!cutCorners) {
    sine = std::fabs(std::sin(rotation * kDegToRad));
    cosine = std::fabs(std::cos(rotation * kDegToRad));
  }
  const double nwf = sw * cosine + sh * sine;
  const double nhf = sw * sine + sh * cosine;
  g.copyWidth = nwf;
  g.copyHeight = nhf;
  if (!(nwf >= 1.0) || !(nhf >= 1.0)) return false;  // also NaN
  g.sw = sw;
  g.sh = sh;
  // Sizes past any picture's are only reported, never sampled; held where
  // the arithmetic below cannot overflow.
  g.nw = static_cast<int64_t>(std::min(nwf, 1e12));
  g.nh = static_cast<int64_t>(std::min(nhf, 1e12));
  g.ox = ((g.nw - sw) * 1024) / 2;
  g.oy = ((g.nh - sh) * 1024) / 2;
  double h = std::sin(rotation * kDegToRad / 2) * 2;
  if (mirror) h = -h;
  g.cm = static_cast<int64_t>(h * h * 1024) / 2;
  g.sm = static_cast<int64_t>(h * std::sqrt(4 - h * h) * 1024) / 2;
  return true;
}

namespace {

// kPrepareDone when the source is a picture the copy can be read from.
PrepareResult CheckSourceFormat(const Dib& src) {
  if (src.Size() < sizeof(BITMAPINFOHEADER)) return kPrepareUnknownFormat;
  const int bits = src.BitCount();
  const uint32_t comp = src.Header().biCompression;
  if ((bits == 4 || bits == 8) && (comp == BI_RLE8 || comp == BI_RLE4)) return kPrepareRunLength;
  if (bits == 16 && comp != BI_RGB && comp != BI_BITFIELDS) return kPrepareUnknownFormat;
  // Anything whose rows, table or header do not lie inside the block is not a
  // picture we can read.
  if (!DibFitsBlock(src)) return kPrepareUnknownFormat;
  return kPrepareDone;
}

// Sizes the copy of a readable source. kPrepareDone, or kPrepareNoMemory for a
// copy of nothing or one too large (`tooLarge` then set).
PrepareResult PlanCopy(const Dib& src, const SourceSettings& s, CopyPlan& p, bool& tooLarge) {
  p.bits = src.BitCount();
  p.outBits = (p.bits == 16 || p.bits == 32) ? 24 : p.bits;
  p.scaleX = static_cast<int16_t>(static_cast<uint16_t>(s.scaleX));
  p.scaleY = static_cast<int16_t>(static_cast<uint16_t>(s.scaleY));
  p.mirror = s.mirror;
  p.width = src.Width();
  p.height = std::abs(src.Height());
  if (p.scaleX <= 0 || p.scaleY <= 0) return kPrepareNoMemory;

  CopyGeometry g;
  if (!ComputeCopyGeometry(p.width, p.height, p.scaleX, p.scaleY, s.rotation, s.cutCorners, s.mirror, g))
    return kPrepareNoMemory;
  if (g.copyWidth > kDibMaxSide + 1.0 || g.copyHeight > kDibMaxSide + 1.0) {
    tooLarge = true;
    // Only for the message: the sizes the copy would have had.
    p.nw = static_cast<int>(std::min(g.copyWidth, 2147483647.0));
    p.nh = static_cast<int>(std::min(g.copyHeight, 2147483647.0));
    return kPrepareNoMemory;
  }
  p.nw = static_cast<int>(g.nw);
  p.nh = static_cast<int>(g.nh);
  p.ox = g.ox;
  p.oy = g.oy;
  p.cm = g.cm;
  p.sm = g.sm;
  return kPrepareDone;
}

// The sampled columns before the last of one row form one run (the source
// position moves linearly along the row); its ends are noted as they are met.
class RunRecorder {
 public:
  explicit RunRecorder(int lastX) : m_nLastX(lastX) {}
  void Sampled(int x) {
    if (x == m_nLastX) {
      m_run.last = true;
    } else {
      if (!m_bInRun) m_run.begin = x, m_bInRun = true;
      m_run.end = x + 1;
    }
  }
  SampleCoverage::Run Run() const { return m_run; }

 private:
  int m_nLastX;
  SampleCoverage::Run m_run{0, 0, false};
  bool m_bInRun = false;
};

// 24-bit source rows held in a ring, the newest decoded at the bottom: the
// stored row y lies in slot (height - 1 - y) mod slots.
struct RingReader {
  const uint8_t* base;
  size_t stride;
  int slots;
  int height;

  const uint8_t* Row(int y) const {
    return base + static_cast<size_t>((height - 1 - y) % slots) * stride;
  }
  void Read(int x, int y, int out[3]) const {
    const uint8_t* p = Row(y) + 3 * static_cast<size_t>(x);
    out[0] = p[0], out[1] = p[1], out[2] = p[2];
  }
};

// Fills the rows of a copy: every pixel's source position, then its sample.
// Along a row U and V change by fixed steps, so their quotients by the scale are
// carried from pixel to pixel instead of divided afresh. `Reader` gives the
// source's rows: a SourceReader over a whole picture, or a RingReader.
template <typename Reader>
class CopyResampler {
 public:
  CopyResampler(const Reader& reader, const CopyPlan& plan, size_t dstStride)
      : m_reader(reader),
        m_plan(plan),
        m_nStride(dstStride),
        m_nCx(plan.nw / 2),
        m_nCy(plan.nh / 2),
        m_nStepU(plan.mirror ? -(1024 - plan.cm) : (1024 - plan.cm)),
        m_nStepV(plan.mirror ? -plan.sm : plan.sm),
        // At full size without turning or mirroring, every 24-bit sample falls
        // on a source pixel with zero weights beside it: the row is a copy.
        m_bPlainCopy(plan.bits == 24 && plan.outBits == 24 && plan.scaleX == 1024 && plan.scaleY == 1024 &&
                     plan.cm == 0 && plan.sm == 0 && !plan.mirror && plan.nw == plan.width &&
                     plan.nh == plan.height) {}

  // A source row below every row that copy row y, or any row above it, reads;
  // -1 when that cannot be told. Without a turn past a right angle, the
  // source position rises with the row; along a row it moves linearly, so its
  // lowest point lies at one end.
  int64_t RowBelowReads(int y) const {
    if (m_plan.cm >= 1024) return -1;
    int64_t U, V;
    RowStart(y, U, V);
    const int64_t lowest = std::min(V, V + (m_plan.nw - 1) * m_nStepV);
    if (lowest < 0) return -1;
    return lowest / m_plan.scaleY - 1;
  }

  // The source rows copy row y reads (lowest, highest), unclamped; also when
  // they lie outside the source, nothing being read there. Along the row the
  // position moves linearly, so its extremes lie at the two ends.
  void RowsRead(int y, int64_t& low, int64_t& high) const {
    int64_t U, V;
    RowStart(y, U, V);
    const int64_t end = V + (m_plan.nw - 1) * m_nStepV;
    const auto floorDiv = [](int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); };
    low = floorDiv(std::min(V, end), m_plan.scaleY);
    // A bilinear sample reads the row above its own too.
    high = floorDiv(std::max(V, end), m_plan.scaleY) + 1;
  }

  // Fills row y of the copy, at `row`; returns the run of its sampled
  // columns.
  SampleCoverage::Run Row(int y, uint8_t* row) const {
    if (m_plan.outBits == 24) {
      // The row padding too: a 24-bit copy's memory is not cleared first.
      const size_t used = 3 * static_cast<size_t>(m_plan.nw);
      std::memset(row + used, 0, m_nStride - used);
    }
    if (m_bPlainCopy) {
      std::memcpy(row, m_reader.Row(y), 3 * static_cast<size_t>(m_plan.nw));
      return {0, m_plan.nw - 1, true};
    }
    int64_t U, V;
    RowStart(y, U, V);
    return m_plan.outBits <= 8 ? IndexedRow(row, U, V) : TrueColourRow(row, U, V);
  }

 private:
  // The source position of the row's first pixel, in 1/1024 of a pixel.
  void RowStart(int y, int64_t& U, int64_t& V) const {
    const int64_t dy = y - m_nCy;
    const int64_t dx0 = m_plan.mirror ? m_nCx : -m_nCx;
    U = dx0 * 1024 - dx0 * m_plan.cm - dy * m_plan.sm + m_nCx * 1024 - m_plan.ox;
    V = dy * 1024 + dx0 * m_plan.sm - dy * m_plan.cm + m_nCy * 1024 - m_plan.oy;
  }

  // 1, 4 and 8 bits: the nearest source pixel's index.
  SampleCoverage::Run IndexedRow(uint8_t* row, int64_t U, int64_t V) const {
    const int outBits = m_plan.outBits, width = m_plan.width, height = m_plan.height;
    RunRecorder run(m_plan.nw - 1);
    QuotientWalk qu(U, m_nStepU, m_plan.scaleX), qv(V, m_nStepV, m_plan.scaleY);
    for (int x = 0; x < m_plan.nw; ++x, qu.Step(), qv.Step()) {
      const int64_t sx = qu.Trunc();
      const int64_t sy = qv.Trunc();
      if (sx < 0 || sx >= width || sy < 0 || sy >= height) continue;
      const uint8_t* in = m_reader.Row(static_cast<int>(sy));
      if (outBits == 8) {
        row[x] = in[sx];
      } else if (outBits == 4) {
        SetPackedNibble(row, x, PackedNibble(in, sx));
      } else if (PackedBit(in, sx)) {
        SetPackedBit(row, x, true);
      }
      run.Sampled(x);
    }
    return run.Run();
  }

  // 24 bits: bilinear between the four source pixels around the position.
  SampleCoverage::Run TrueColourRow(uint8_t* row, int64_t U, int64_t V) const {
    const int width = m_plan.width, height = m_plan.height, lastX = m_plan.nw - 1;
    RunRecorder run(lastX);
    // Where U and V are not negative, the quotients of 256 U and 256 V give
    // the source pixel in their upper bits (floor(floor(256 U / s) / 256) is
    // floor(U / s)) and the fraction in their low 8 bits.
    QuotientWalk qu256(U * 256, m_nStepU * 256, m_plan.scaleX), qv256(V * 256, m_nStepV * 256, m_plan.scaleY);
    for (int x = 0; x < lastX; ++x, U += m_nStepU, V += m_nStepV, qu256.Step(), qv256.Step()) {
      uint8_t* p = row + 3 * x;
      const int64_t su = qu256.Trunc(), sv = qv256.Trunc();
      const int64_t sx = su >> 8, sy = sv >> 8;
      if (U < 0 || V < 0 || sx >= width || sy >= height) {
        p[0] = p[1] = p[2] = 0;  // black filler: the copy's memory is not cleared beforehand
        continue;
      }
      Interpolate(p, static_cast<int>(sx), static_cast<int>(sy), static_cast<int>(su & 255),
                  static_cast<int>(sv & 255));
      run.Sampled(x);
    }
    // The last column takes the nearest pixel, the position's quotients
    // truncated toward zero.
    if (lastX >= 0) {
      const int64_t sx = U / m_plan.scaleX, sy = V / m_plan.scaleY;
      uint8_t* p = row + 3 * static_cast<size_t>(lastX);
      if (sx >= 0 && sx < width && sy >= 0 && sy < height) {
        int a[3];
        m_reader.Read(static_cast<int>(sx), static_cast<int>(sy), a);
        p[0] = static_cast<uint8_t>(a[0]), p[1] = static_cast<uint8_t>(a[1]), p[2] = static_cast<uint8_t>(a[2]);
        run.Sampled(lastX);
      } else {
        p[0] = p[1] = p[2] = 0;
      }
    }
    return run.Run();
  }

  // The bilinear sample at source pixel (ix, iy) with fractions fx, fy in 1/256.
  void Interpolate(uint8_t* p, int ix, int iy, int fx, int fy) const {
    const int w00 = (256 - fy) * (256 - fx), w01 = fy * (256 - fx), w10 = fx * (256 - fy), w11 = fx * fy;
    // On the source's last column and top row the neighbour beyond the edge is
    // the edge pixel itself.
    const int nx = ix + 1 < m_plan.width ? ix + 1 : ix;
    const int ny = iy + 1 < m_plan.height ? iy + 1 : iy;
    if (m_plan.bits == 24) {
      const uint8_t* a = m_reader.Row(iy) + 3 * ix;
      const uint8_t* b = m_reader.Row(ny) + 3 * ix;
      if (nx != ix) {
        for (int k = 0; k < 3; ++k)
          p[k] = static_cast<uint8_t>((a[k] * w00 + b[k] * w01 + a[3 + k] * w10 + b[3 + k] * w11) >> 16);
      } else {
        for (int k = 0; k < 3; ++k) p[k] = static_cast<uint8_t>((a[k] * (w00 + w10) + b[k] * (w01 + w11)) >> 16);
      }
      return;
    }
    int a[3], b[3], c[3], d[3];
    m_reader.Read(ix, iy, a);
    m_reader.Read(ix, ny, b);
    m_reader.Read(nx, iy, c);
    m_reader.Read(nx, ny, d);
    for (int k = 0; k < 3; ++k)
      p[k] = static_cast<uint8_t>((a[k] * w00 + b[k] * w01 + c[k] * w10 + d[k] * w11) >> 16);
  }

  const Reader m_reader;
  const CopyPlan m_plan;
  size_t m_nStride;
  int64_t m_nCx, m_nCy;
  int64_t m_nStepU, m_nStepV;
  bool m_bPlainCopy;
};

// The prepared copy's colour table: black and white for 1 bit, the source's
// table for 4 and 8 bits.
void SetCopyColorTable(const Dib& src, Dib& copy) {
  if (copy.BitCount() == 1) {
    RGBQUAD* t = copy.ColorTable();
    t[0] = {0, 0, 0, 0};
    t[1] = {255, 255, 255, 0};
  } else if (copy.BitCount() <= 8) {
    CopyColorTable(src, copy);
  }
}

// Moves the pages of a spent source's rows that no copy row still to come
// reads into the copy's rows still to be written, from the copy's top down,
// until the two meet: the copy takes memory used once instead of fresh pages
// while the source's memory shrinks. Only whole pages move, never the one
// holding the source's header; a 24-bit copy only, whose rows are written
// whole.
class SpentSourcePages {
 public:
  SpentSourcePages(Dib* source, Dib& copy, const CopyResampler<SourceReader>& resampler)
      : m_pSource(source && copy.BitCount() == 24 ? source : nullptr),
        m_copy(copy),
        m_resampler(resampler),
        m_nGiven(kPicturePageBytes) {
    if (!m_pSource) return;
    m_nSourceBits = static_cast<size_t>(m_pSource->Bits() - m_pSource->Data());
    m_nSourceStride = m_pSource->Stride();
    m_nCopyBits = static_cast<size_t>(m_copy.Bits() - m_copy.Data());
    m_nTop = Floor(m_nCopyBits + m_copy.Stride() * static_cast<size_t>(m_copy.Height()));
  }
  // Rows [0, y) of the copy are written.
  void RowsDone(int y) {
    if (!m_pSource || y >= m_copy.Height()) return;
    const int64_t below = m_resampler.RowBelowReads(y);
    if (below <= 0) return;
    const size_t unread = Floor(m_nSourceBits + static_cast<size_t>(below) * m_nSourceStride);
    const size_t written = Ceil(m_nCopyBits + m_copy.Stride() * static_cast<size_t>(y));
    if (unread <= m_nGiven || m_nTop <= written) return;
    const size_t bytes = std::min(unread - m_nGiven, m_nTop - written);
    if (!m_pSource->MovePagesTo(m_nGiven, bytes, m_copy, m_nTop - bytes)) {
      m_pSource = nullptr;
      return;
    }
    m_nGiven += bytes;
    m_nTop -= bytes;
  }

 private:
  static size_t Floor(size_t bytes) { return bytes / kPicturePageBytes * kPicturePageBytes; }
  static size_t Ceil(size_t bytes) { return Floor(bytes + kPicturePageBytes - 1); }
  Dib* m_pSource;
  Dib& m_copy;
  const CopyResampler<SourceReader>& m_resampler;
  size_t m_nGiven;  // the source's bytes up to here are given (or hold its header)
  size_t m_nTop = 0;  // the copy's bytes from here on hold given pages
  size_t m_nSourceBits = 0, m_nSourceStride = 0, m_nCopyBits = 0;
};

}  // namespace

struct CopyRowMaker::Plan {
  CopyPlan copy;
  bool ok = false;
};

CopyRowMaker::CopyRowMaker(int width, int height, const SourceSettings& settings) : m_pPlan(std::make_unique<Plan>()) {
  const DibPtr header = NewDibHeaderOnly(24, width, height);
  bool tooLarge = false;
  if (!header || PlanCopy(*header, settings, m_pPlan->copy, tooLarge) != kPrepareDone) return;
  // A turn past a right angle reads the source's rows upward along
  // the copy's.
  m_pPlan->ok = m_pPlan->copy.cm < 1024 && DibSizeAllowed(24, m_pPlan->copy.nw, m_pPlan->copy.nh);
}

CopyRowMaker::~CopyRowMaker() = default;

bool CopyRowMaker::Ok() const { return m_pPlan->ok; }
int CopyRowMaker::Width() const { return m_pPlan->copy.nw; }
int CopyRowMaker::Height() const { return m_pPlan->copy.nh; }

bool CopyRowMaker::RowsRead(int low, int high, int& first, int& last) const {
  const CopyPlan& plan = m_pPlan->copy;
  const CopyResampler<RingReader> resampler(RingReader{nullptr, 0, 1, plan.height}, plan, 0);
  int64_t a = 0, b = 0, c = 0, d = 0;
  resampler.RowsRead(low, a, b);
  resampler.RowsRead(high, c, d);
  const int64_t from = std::max<int64_t>(0, std::min(a, c)), to = std::min<int64_t>(plan.height - 1, std::max(b, d));
  if (from > to) return false;
  first = static_cast<int>(from);
  last = static_cast<int>(to);
  return true;
}

SampleCoverage::Run CopyRowMaker::Make(int y, uint8_t* row, const uint8_t* ring, size_t stride, int slots) const {
  const CopyPlan& plan = m_pPlan->copy;
  const CopyResampler<RingReader> resampler(RingReader{ring, stride, slots, plan.height}, plan,
                                            3 * static_cast<size_t>(plan.nw));
  return resampler.Row(y, row);
}

PreparedSource PrepareSourceCopy(const Dib& src, const SourceSettings& settings, WorkObserver& observer,
                                 Dib* spentSource) {
  PreparedSource prepared;
  CopyPlan plan;
  prepared.result = CheckSourceFormat(src);
  if (prepared.result == kPrepareDone) prepared.result = PlanCopy(src, settings, plan, prepared.tooLarge);
  if (prepared.tooLarge) prepared.why = DibRefusalText(plan.outBits, plan.nw, plan.nh);
  if (prepared.result != kPrepareDone) return prepared;

  // A 24-bit copy gets every pixel written (black where nothing is sampled),
  // so its memory is not cleared first; packed rows are written pixel by pixel
  // into cleared ones.
  DibPtr out = plan.outBits == 24 ? NewDibForRows(24, plan.nw, plan.nh) : NewDib(0, plan.outBits, plan.nw, plan.nh);
  if (!out) {
    prepared.result = kPrepareNoMemory;
    prepared.tooLarge = true;
    prepared.why = DibRefusalText(plan.outBits, plan.nw, plan.nh);
    return prepared;
  }
  SetCopyColorTable(src, *out);
  const CopyResampler<SourceReader> resampler(SourceReader(src), plan, out->Stride());
  SpentSourcePages spent(spentSource == &src ? spentSource : nullptr, *out, resampler);
  SampleCoverage coverage;
  coverage.Start(out.get(), plan.nw, plan.nh);
  // Rows are independent: blocks of them are shared out over the cores, and
  // progress and the stop check follow each block.
  const int rowsPerBlock = std::max(1, (1 << 20) / plan.nw);
  for (int y0 = 0; y0 < plan.nh; y0 += rowsPerBlock) {
    const int y1 = std::min(plan.nh, y0 + rowsPerBlock);
    ParallelRanges(y0, y1, 8, [&](int b, int e) {
      for (int y = b; y < e; ++y) coverage.SetRow(y, resampler.Row(y, out->Row(y)));
    });
    if (observer.StopRequested()) {
      prepared.result = kPrepareStopped;
      return prepared;
    }
    for (int y = y0; y < y1; ++y) observer.Progress(static_cast<int>(int64_t{y} * 100 / plan.nh));
    spent.RowsDone(y1);
  }
  observer.Stage(WorkStage::kNone);
  observer.Progress(100);
  prepared.picture = std::move(out);
  prepared.coverage = std::move(coverage);
  return prepared;
}

SourceSettings CDestdoc::SourceSettingsOf(int n) const { return tessara::SourceSettingsOf(m_session, n); }

PrepareResult CDestdoc::PrepareSource(int n) {
  SetStatusText(target_text::kPressSpaceToQuit);
  MarkNeedsUpdate();
  CTessaraDoc* doc = (n == 1 || n == 2) ? g_pSourceDocs[n - 1] : nullptr;
  if (!doc || !doc->m_pDib) {
    SetStatusText("");
    return kPrepareMissing;
  }
  DibPtr& slot = n == 1 ? m_pSource1 : m_pSource2;
  SampleCoverage& cover = n == 1 ? m_cover1 : m_cover2;
  slot.reset();
  cover.Clear();
  SetStageText(n == 1 ? target_text::kLoadingSource1 : target_text::kLoadingSource2);

  // A picture that is itself a join keeps its background apart when its copy
  // lies on it pixel for pixel (turned or scaled, the background counts as
  // picture).
  const SourceSettings settings = SourceSettingsOf(n);
  const bool asItIs = CopiesAsItIs(settings);
  const int width = doc->m_pDib->Width(), height = doc->m_pDib->Height();
  const auto keepBackground = [&] {
    if (!asItIs || doc->m_coverage.RowCount() == 0 || slot->Width() != width || slot->Height() != height) return;
    cover = doc->m_coverage;
    cover.SetCopy(slot.get());
  };
  if (m_bTakeSourcePictures && TakeSourceAsCopy(n, *doc, slot)) {
    keepBackground();
    SetStatusText("");
    if (n == 2) MatchColoursToSource1(*slot);
    return kPrepareDone;
  }
  StatusLineObserver observer(*this, kProgressGreen);
  // The batch tool drops the picture once it is prepared: its memory goes
  // to the copy as the copy no longer needs it.
  PreparedSource prepared =
      PrepareSourceCopy(*doc->m_pDib, settings, observer, m_bTakeSourcePictures ? doc->m_pDib.get() : nullptr);
  if (prepared.tooLarge)
    ShowMessage(prepared.why.empty() ? std::string(target_text::kNoMemorySource)
                                     : std::string(target_text::kNoMemorySource) + " " + prepared.why);
  if (prepared.result == kPrepareDone) {
    slot = std::move(prepared.picture);
    cover = std::move(prepared.coverage);
    keepBackground();
  }
  SetStatusText("");
  if (n == 2 && slot) MatchColoursToSource1(*slot);
  return prepared.result;
}

bool CDestdoc::TakeSourceAsCopy(int n, CTessaraDoc& source, DibPtr& slot) {
  if (!CopiesAsItIs(SourceSettingsOf(n))) return false;
  Dib& dib = *source.m_pDib;
  if (dib.Size() < sizeof(BITMAPINFOHEADER) || !DibFitsBlock(dib)) return false;
  BITMAPINFOHEADER& h = dib.Header();
  const uint64_t stride = DibRowStride(h.biWidth, 24);
  if (h.biSize != 40 || h.biBitCount != 24 || h.biCompression != BI_RGB || h.biClrUsed != 0 || h.biWidth <= 0 ||
      h.biHeight <= 0 || h.biSizeImage != stride * static_cast<uint64_t>(h.biHeight))
    return false;
  // The header and row padding the preparation would have given its copy.
  h.biPlanes = 1;
  h.biXPelsPerMeter = h.biYPelsPerMeter = 0;
  h.biClrImportant = 0;
  ZeroRowPadding(dib);
  slot = std::move(source.m_pDib);
  return true;
}

void CDestdoc::MatchColoursToSource1(Dib& copy) {
  const CTessaraDoc* first = g_pSourceDocs[0];
  const CTessaraDoc* second = g_pSourceDocs[1];
  if (!first || !second) return;
  const IccProfile& from = second->m_metadata.iccProfile;
  const IccProfile& to = first->m_metadata.iccProfile;
  // Two pictures in one space (two untagged ones among them) merge as they
  // are, byte for byte.
  if (SameColourSpace(from, to)) return;
  if (!ConvertColours(copy, from, to))
    SetStatusText("Source 2 keeps its colours: its colour profile and source 1's cannot be matched.");
}

void CDestdoc::RefreshSources() {
  PrepareResult first = kPrepareDone, second = kPrepareDone;
  if (!m_pSource1) first = PrepareSource(1);
  if (!m_pSource2 && first == kPrepareDone) second = PrepareSource(2);
  m_nLastRefreshResult = (first == kPrepareStopped || second == kPrepareStopped) ? kPrepareStopped : kPrepareDone;
  if (m_nLastRefreshResult == kPrepareStopped && g_pAlignDoc) g_pAlignDoc->m_nFailCode = kPrepareStopped;
  MarkUpToDate();
}

}  // namespace tessara
