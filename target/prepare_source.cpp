// Makes the prepared copy of a source: its scale, left-right mirror and rotation
// applied in one resampling pass (integer fixed point in 1/1024, one division per
// axis and pixel). 1-, 4- and 8-bit sources are sampled nearest; 24-bit output
// (also from 16- and 32-bit sources) is interpolated bilinearly, with the
// source's edge pixels standing in for neighbours beyond its edge. The copy's
// record of which pixels got a sample goes with it.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "align/align_doc.h"
#include "framework/registry.h"
#include "image/pixel_cursor.h"
#include "source/tessara_doc.h"
#include "target/destdoc.h"
#include "target/parallel.h"

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

}  // namespace

int CDestdoc::PrepareSource(int n) {
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

  const Dib& src = *doc->m_pDib;
  auto refuse = [this](int code) {
    SetStatusText("");
    return code;
  };
  if (src.Size() < sizeof(BITMAPINFOHEADER)) return refuse(kPrepareUnknownFormat);
  const int bits = src.BitCount();
  const uint32_t comp = src.Header().biCompression;
  if ((bits == 4 || bits == 8) && (comp == BI_RLE8 || comp == BI_RLE4)) return refuse(kPrepareRunLength);
  if (bits == 16 && comp != BI_RGB && comp != BI_BITFIELDS) return refuse(kPrepareUnknownFormat);
  // Anything whose rows, table or header do not lie inside the block is not a
  // picture we can read.
  if (!DibFitsBlock(src)) return refuse(kPrepareUnknownFormat);
  const int outBits = (bits == 16 || bits == 32) ? 24 : bits;

  const int scaleX = static_cast<int16_t>(static_cast<uint16_t>(n == 1 ? m_nScale1X : m_nScale2X));
  const int scaleY = static_cast<int16_t>(static_cast<uint16_t>(n == 1 ? m_nScale1Y : m_nScale2Y));
  const double angle = n == 1 ? m_dRotation1 : m_dRotation2;
  const bool cut = (n == 1 ? m_bCutCorners1 : m_bCutCorners2) != 0;
  const bool mirror = (n == 1 ? m_bMirror1 : m_bMirror2) != 0;
  const int width = src.Width();
  const int height = std::abs(src.Height());
  if (scaleX <= 0 || scaleY <= 0) return refuse(kPrepareNoMemory);

  const int64_t sw = int64_t{scaleX} * width / 1024;
  const int64_t sh = int64_t{scaleY} * height / 1024;
  double s = 0.0, c = 1.0;
  if (!cut) {
    s = std::fabs(std::sin(angle * kDegToRad));
    c = std::fabs(std::cos(angle * kDegToRad));
  }
  const double nwf = sw * c + sh * s;
  const double nhf = sw * s + sh * c;
  if (!(nwf >= 1.0) || !(nhf >= 1.0)) return refuse(kPrepareNoMemory);  // also NaN
  if (nwf > kDibMaxSide + 1.0 || nhf > kDibMaxSide + 1.0) {
    ShowMessage(target_text::kNoMemorySource);
    return refuse(kPrepareNoMemory);
  }
  const int nw = static_cast<int>(nwf);
  const int nh = static_cast<int>(nhf);
  const int64_t ox = ((nw - sw) * 1024) / 2;
  const int64_t oy = ((nh - sh) * 1024) / 2;

  DibPtr out = CreateDib(0, outBits, nw, nh, target_text::kNoMemorySource);
  if (!out) return refuse(kPrepareNoMemory);

  double h = std::sin(angle * kDegToRad / 2) * 2;
  if (mirror) h = -h;
  const int64_t cm = static_cast<int64_t>(h * h * 1024) / 2;
  const int64_t sm = static_cast<int64_t>(h * std::sqrt(4 - h * h) * 1024) / 2;

  if (outBits == 1) {
    RGBQUAD* t = out->ColorTable();
    t[0] = {0, 0, 0, 0};
    t[1] = {255, 255, 255, 0};
  } else if (outBits <= 8) {
    CopyColorTable(src, *out);
  }

  const SourceReader reader(src);
  const int64_t cx = nw / 2, cy = nh / 2;
  Dib& dst = *out;
  SampleCoverage coverage;
  coverage.Start(out.get(), nw, nh);
  // One output row: every pixel's source position, then its sample.
  // Along a row U and V change by fixed steps, so their quotients by the scale
  // are carried from pixel to pixel instead of divided afresh.
  const int64_t stepU = mirror ? -(1024 - cm) : (1024 - cm);
  const int64_t stepV = mirror ? -sm : sm;
  // At full size without turning or mirroring, every 24-bit sample falls on a
  // source pixel with zero weights beside it: the row is a copy.
  const bool plainCopy = bits == 24 && outBits == 24 && scaleX == 1024 && scaleY == 1024 && cm == 0 && sm == 0 &&
                         !mirror && nw == width && nh == height;
  const int lastX = nw - 1;
  auto prepareRow = [&](int y) {
    uint8_t* row = dst.Row(y);
    if (plainCopy) {
      std::memcpy(row, reader.Row(y), 3 * static_cast<size_t>(nw));
      coverage.SetRow(y, {0, lastX, true});
      return;
    }
    // The sampled columns before the last form one run (the source position
    // moves linearly along the row); its ends are noted as they are met.
    SampleCoverage::Run run{0, 0, false};
    bool inRun = false;
    auto sampled = [&](int x) {
      if (x == lastX) {
        run.last = true;
      } else {
        if (!inRun) run.begin = x, inRun = true;
        run.end = x + 1;
      }
    };
    const int64_t dy = y - cy;
    const int64_t dx0 = mirror ? cx : -cx;
    int64_t U = dx0 * 1024 - dx0 * cm - dy * sm + cx * 1024 - ox;
    int64_t V = dy * 1024 + dx0 * sm - dy * cm + cy * 1024 - oy;
    QuotientWalk qu(U, stepU, scaleX), qv(V, stepV, scaleY);
    QuotientWalk qu256(U * 256, stepU * 256, scaleX), qv256(V * 256, stepV * 256, scaleY);
    for (int x = 0; x < nw; ++x, U += stepU, V += stepV, qu.Step(), qv.Step(), qu256.Step(), qv256.Step()) {
      const int64_t sx = qu.Trunc();
      const int64_t sy = qv.Trunc();
      if (outBits <= 8) {
        if (sx < 0 || sx >= width || sy < 0 || sy >= height) continue;
        const uint8_t* in = reader.Row(static_cast<int>(sy));
        if (outBits == 8) {
          row[x] = in[sx];
        } else if (outBits == 4) {
          const uint8_t b = in[sx >> 1];
          const uint8_t index = (sx & 1) ? (b & 0x0F) : (b >> 4);
          row[x >> 1] |= (x & 1) ? index : static_cast<uint8_t>(index << 4);
        } else if ((in[sx >> 3] << (sx & 7)) & 0x80) {
          row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        }
        sampled(x);
        continue;
      }
      uint8_t* p = row + 3 * x;
      if (x < lastX) {
        if (U < 0 || V < 0 || sx >= width || sy >= height) continue;
        const int fy = static_cast<int>(qv256.Trunc() - sy * 256);
        const int fx = static_cast<int>(qu256.Trunc() - sx * 256);
        const int w00 = (256 - fy) * (256 - fx), w01 = fy * (256 - fx), w10 = fx * (256 - fy), w11 = fx * fy;
        const int ix = static_cast<int>(sx), iy = static_cast<int>(sy);
        // On the source's last column and top row the neighbour beyond the
        // edge is the edge pixel itself.
        const int nx = ix + 1 < width ? ix + 1 : ix;
        const int ny = iy + 1 < height ? iy + 1 : iy;
        if (bits == 24) {
          const uint8_t* a = reader.Row(iy) + 3 * ix;
          const uint8_t* b = reader.Row(ny) + 3 * ix;
          if (nx != ix) {
            for (int k = 0; k < 3; ++k)
              p[k] = static_cast<uint8_t>((a[k] * w00 + b[k] * w01 + a[3 + k] * w10 + b[3 + k] * w11) >> 16);
          } else {
            for (int k = 0; k < 3; ++k) p[k] = static_cast<uint8_t>((a[k] * (w00 + w10) + b[k] * (w01 + w11)) >> 16);
          }
        } else {
          int a[3], b[3], c2[3], d[3];
          reader.Read(ix, iy, a);
          reader.Read(ix, ny, b);
          reader.Read(nx, iy, c2);
          reader.Read(nx, ny, d);
          for (int k = 0; k < 3; ++k)
            p[k] = static_cast<uint8_t>((a[k] * w00 + b[k] * w01 + c2[k] * w10 + d[k] * w11) >> 16);
        }
        sampled(x);
      } else if (sx >= 0 && sx < width && sy >= 0 && sy < height) {
        int a[3];
        reader.Read(static_cast<int>(sx), static_cast<int>(sy), a);
        p[0] = static_cast<uint8_t>(a[0]), p[1] = static_cast<uint8_t>(a[1]), p[2] = static_cast<uint8_t>(a[2]);
        sampled(x);
      }
    }
    coverage.SetRow(y, run);
  };
  // Rows are independent: blocks of them are shared out over the cores, and
  // progress and the stop check follow each block.
  const int rowsPerBlock = std::max(1, (1 << 20) / nw);
  for (int y0 = 0; y0 < nh; y0 += rowsPerBlock) {
    const int y1 = std::min(nh, y0 + rowsPerBlock);
    ParallelRanges(y0, y1, 8, [&](int b, int e) {
      for (int y = b; y < e; ++y) prepareRow(y);
    });
    if (CheckAbort() == 1) {
      out.reset();
      SetStatusText("");
      return kPrepareStopped;
    }
    for (int y = y0; y < y1; ++y) {
      m_nProgress = static_cast<int>(int64_t{y} * 100 / nh);
      ShowProgress(kProgressGreen, m_nProgress);
    }
  }
  SetStageText("");
  ShowProgress(kProgressGrey, 100);
  slot = std::move(out);
  cover = std::move(coverage);
  SetStatusText("");
  return kPrepareDone;
}

void CDestdoc::RefreshSources() {
  int first = kPrepareDone, second = kPrepareDone;
  if (!m_pSource1) first = PrepareSource(1);
  if (!m_pSource2 && first == kPrepareDone) second = PrepareSource(2);
  m_nLastRefreshResult = (first == kPrepareStopped || second == kPrepareStopped) ? kPrepareStopped : kPrepareDone;
  if (m_nLastRefreshResult == kPrepareStopped && g_pAlignDoc) g_pAlignDoc->m_nFailCode = kPrepareStopped;
  MarkUpToDate();
}

}  // namespace tessara
