// The reference model of the engine's picture operations. Everything here is
// done one pixel at a time in the documented order of operations; speed does
// not matter.
#include "tests/engine_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace tessara::model {
namespace {

// Degrees to radians, from 3.14159 / 180.
constexpr double kDegToRad = 0.017453277777777776;

// A double converted to int toward zero; false when it would not fit (or is
// not a number), which callers take as "outside".
bool TruncToInt(double d, int* out) {
  if (!(d > -2147483649.0 && d < 2147483648.0)) return false;
  *out = static_cast<int>(d);
  return true;
}

int Signed16(int v) { return static_cast<int16_t>(static_cast<uint16_t>(v & 0xFFFF)); }

// One channel of a 16-bit pixel: bring the mask's top bit to bit 15, then take
// bits 15..8.
uint8_t Channel16(unsigned value, unsigned mask) {
  if (mask == 0) return 0;  // never produced by the tests
  unsigned t = value & mask;
  unsigned m = mask;
  while ((m & 0x8000u) == 0) {
    m <<= 1;
    t <<= 1;
  }
  return static_cast<uint8_t>((t >> 8) & 0xFF);
}

Colour FromQuad(const Quad& q) { return {q.blue, q.green, q.red}; }

std::string Describe(Colour c) {
  std::ostringstream s;
  s << "(b " << int(c.blue) << ", g " << int(c.green) << ", r " << int(c.red) << ")";
  return s.str();
}

std::string Describe(const Quad& q) {
  std::ostringstream s;
  s << "(b " << int(q.blue) << ", g " << int(q.green) << ", r " << int(q.red) << ", x " << int(q.reserved) << ")";
  return s.str();
}

}  // namespace

// ---- Picture ----

int Picture::StrideFor(int width, int bitCount) {
  return static_cast<int>(((static_cast<int64_t>(width) * bitCount + 31) / 32) * 4);
}

int Picture::TableEntriesFor(int bitCount, uint32_t clrUsed) {
  switch (bitCount) {
    case 1: return 2;
    case 4: return clrUsed ? static_cast<int>(clrUsed) : 16;
    case 8: return clrUsed ? static_cast<int>(clrUsed) : 256;
    default: return 0;
  }
}

int Picture::UsedBytes() const {
  switch (bitCount) {
    case 1: return (width + 7) / 8;
    case 4: return (width + 1) / 2;
    case 8: return width;
    case 16: return 2 * width;
    case 24: return 3 * width;
    case 32: return 4 * width;
    default: return Stride();
  }
}

int Picture::Index(int x, int y) const {
  const uint8_t* r = Row(y);
  switch (bitCount) {
    case 1: return ((r[x / 8] << (x % 8)) & 0x80) ? 1 : 0;
    case 4: return (x % 2) ? (r[x / 2] & 0x0F) : (r[x / 2] >> 4);
    case 8: return r[x];
    default: return 0;
  }
}

void Picture::SetIndex(int x, int y, int index) {
  uint8_t* r = Row(y);
  switch (bitCount) {
    case 1:
      if (index == 1) r[x / 8] = static_cast<uint8_t>(r[x / 8] | (0x80 >> (x % 8)));
      else r[x / 8] = static_cast<uint8_t>(r[x / 8] & ~(0x80 >> (x % 8)));
      break;
    case 4:
      if (x % 2) r[x / 2] = static_cast<uint8_t>((r[x / 2] & 0xF0) | (index & 0x0F));
      else r[x / 2] = static_cast<uint8_t>((r[x / 2] & 0x0F) | ((index & 0x0F) << 4));
      break;
    case 8: r[x] = static_cast<uint8_t>(index); break;
    default: break;
  }
}

Colour Picture::ReadColour(int x, int y) const {
  const uint8_t* r = Row(y);
  switch (bitCount) {
    case 1: return FromQuad(table[Index(x, y)]);
    case 4:
    case 8: {
      // An index beyond a short table reads as black.
      const int i = Index(x, y);
      if (i < static_cast<int>(table.size())) return FromQuad(table[i]);
      return {0, 0, 0};
    }
    case 16: {
      const unsigned value = r[2 * x] + 256u * r[2 * x + 1];
      unsigned mr = 0x7C00, mg = 0x03E0, mb = 0x001F;
      if (compression == 3) {
        mr = masks[0] & 0xFFFF;
        mg = masks[1] & 0xFFFF;
        mb = masks[2] & 0xFFFF;
      }
      return {Channel16(value, mb), Channel16(value, mg), Channel16(value, mr)};
    }
    case 24: return {r[3 * x], r[3 * x + 1], r[3 * x + 2]};
    case 32: return {r[4 * x], r[4 * x + 1], r[4 * x + 2]};
    default: return {};
  }
}

void Picture::WriteColour(int x, int y, Colour c) {
  uint8_t* r = Row(y);
  r[3 * x] = c.blue;
  r[3 * x + 1] = c.green;
  r[3 * x + 2] = c.red;
}

void Picture::ClearPadding() {
  const int stride = Stride();
  const int used = UsedBytes();
  for (int y = 0; y < height; ++y)
    for (int i = used; i < stride; ++i) Row(y)[i] = 0;
}

Picture MakePicture(int fill, int bitCount, int width, int height) {
  Picture p;
  p.width = width;
  p.height = height;
  p.bitCount = bitCount;
  p.compression = 0;
  p.clrUsed = bitCount < 24 ? (1u << bitCount) : 0;
  const uint8_t b = static_cast<uint8_t>(fill);
  p.table.assign(bitCount < 24 ? (1u << bitCount) : 0, Quad{b, b, b, b});
  p.rows.assign(static_cast<size_t>(Picture::StrideFor(width, bitCount)) * height, b);
  return p;
}

// ---- Tone curve ----

uint8_t Tone(int v, int contrast, int brightness) {
  int t = (v + brightness - 255) * contrast + 2032;
  t = t / 16;
  int out = t + brightness - 128;
  if (out < 0) out = 0;
  if (out > 255) out = 255;
  return static_cast<uint8_t>(out);
}

Colour Tone(Colour c, int contrast, int brightness) {
  return {Tone(c.blue, contrast, brightness), Tone(c.green, contrast, brightness), Tone(c.red, contrast, brightness)};
}

// ---- Source preparation ----

PrepareOutcome PrepareSource(const Picture& src, const SourceSettings& s) {
  PrepareOutcome out;
  // Formats that cannot be prepared.
  if ((src.bitCount == 4 || src.bitCount == 8) && (src.compression == 1 || src.compression == 2)) {
    out.result = 3;
    return out;
  }
  if (src.bitCount == 16 && src.compression != 0 && src.compression != 3) {
    out.result = 2;
    return out;
  }
  if (src.bitCount == 0) {
    out.result = 2;
    return out;
  }
  const int depth = (src.bitCount == 16 || src.bitCount == 32) ? 24 : src.bitCount;

  const int scaleX = Signed16(s.scaleX);
  const int scaleY = Signed16(s.scaleY);
  if (scaleX <= 0 || scaleY <= 0) {
    out.result = 1;
    return out;
  }

  // Sizes.
  const int width = src.width;
  const int height = std::abs(src.height);
  const int sw = scaleX * width / 1024;
  const int sh = scaleY * height / 1024;
  double sn, cs;
  if (s.cutCorners) {
    sn = 0;
    cs = 1;
  } else {
    sn = std::fabs(std::sin(s.rotation * kDegToRad));
    cs = std::fabs(std::cos(s.rotation * kDegToRad));
  }
  const double nwd = sw * cs + sh * sn;
  const double nhd = sw * sn + sh * cs;
  int nw = 0, nh = 0;
  if (!TruncToInt(nwd, &nw) || !TruncToInt(nhd, &nh) || nw < 1 || nh < 1 || nw > 65500 || nh > 65500) {
    out.result = 1;
    return out;
  }
  const int ox = ((nw - sw) * 1024) / 2;
  const int oy = ((nh - sh) * 1024) / 2;

  Picture dst = MakePicture(0, depth, nw, nh);
  if (depth == 1) {
    dst.table[0] = {0, 0, 0, 0};
    dst.table[1] = {255, 255, 255, 0};
  } else if (depth == 4 || depth == 8) {
    // The source's entries; those a short table lacks are black.
    for (int i = 0; i < (1 << depth); ++i)
      dst.table[i] = i < static_cast<int>(src.table.size()) ? src.table[i] : Quad{0, 0, 0, 0};
  }

  // Rotation coefficients in 1/1024 units.
  double h = std::sin(s.rotation * kDegToRad / 2) * 2;
  if (s.mirror) h = -h;
  const int cm = static_cast<int>(h * h * 1024) / 2;
  const int sm = static_cast<int>(h * std::sqrt(4 - h * h) * 1024) / 2;

  const int cx = nw / 2;
  const int cy = nh / 2;
  dst.sampled.assign(static_cast<size_t>(nw) * nh, 0);
  auto markSampled = [&](int x, int y) { dst.sampled[static_cast<size_t>(y) * nw + x] = 1; };
  for (int y = 0; y < nh; ++y) {
    for (int x = 0; x < nw; ++x) {
      const int dx = s.mirror ? cx - x : x - cx;
      const int dy = y - cy;
      const int U = dx * 1024 - dx * cm - dy * sm + cx * 1024 - ox;
      const int V = dy * 1024 + dx * sm - dy * cm + cy * 1024 - oy;
      const double sxf = static_cast<double>(U) / scaleX;
      const double syf = static_cast<double>(V) / scaleY;
      int sx = 0, sy = 0;
      if (!TruncToInt(sxf, &sx) || !TruncToInt(syf, &sy)) continue;

      if (depth == 1 || depth == 4 || depth == 8) {
        if (0 <= sx && sx < width && 0 <= sy && sy < height) {
          const int k = src.Index(sx, sy);
          if (depth == 1) {
            if (k == 1) dst.SetIndex(x, y, 1);
          } else {
            dst.SetIndex(x, y, k);
          }
          markSampled(x, y);
        }
        continue;
      }

      // 24 bits: bilinear inside (the edge pixel standing in for a neighbour
      // beyond the source's last column or top row), a plain copy in the last
      // column.
      if (x < nw - 1) {
        if (U >= 0 && V >= 0 && sx < width && sy < height) {
          int fy = 0, fx = 0;
          if (!TruncToInt(syf * 256, &fy) || !TruncToInt(sxf * 256, &fx)) continue;
          fy = fy - sy * 256;
          fx = fx - sx * 256;
          const int sx1 = sx + 1 == width ? sx : sx + 1;
          const int sy1 = sy + 1 == height ? sy : sy + 1;
          const Colour p00 = src.ReadColour(sx, sy);
          const Colour p01 = src.ReadColour(sx, sy1);
          const Colour p10 = src.ReadColour(sx1, sy);
          const Colour p11 = src.ReadColour(sx1, sy1);
          const int w00 = (256 - fy) * (256 - fx);
          const int w01 = fy * (256 - fx);
          const int w10 = fx * (256 - fy);
          const int w11 = fx * fy;
          Colour c;
          c.blue = static_cast<uint8_t>((p00.blue * w00 + p01.blue * w01 + p10.blue * w10 + p11.blue * w11) >> 16);
          c.green = static_cast<uint8_t>((p00.green * w00 + p01.green * w01 + p10.green * w10 + p11.green * w11) >> 16);
          c.red = static_cast<uint8_t>((p00.red * w00 + p01.red * w01 + p10.red * w10 + p11.red * w11) >> 16);
          dst.WriteColour(x, y, c);
          markSampled(x, y);
        }
      } else if (0 <= sx && sx < width && 0 <= sy && sy < height) {
        dst.WriteColour(x, y, src.ReadColour(sx, sy));
        markSampled(x, y);
      }
    }
  }
  out.result = 0;
  out.picture = std::move(dst);
  return out;
}

// ---- Merge operators ----

Overlap OverlapOf(const Placement& p) {
  Overlap o;
  o.left = p.x1;
  o.top = p.y1;
  o.width = std::min(p.x1 + p.w1, p.x2 + p.w2) - std::max(p.x1, p.x2);
  o.height = std::min(p.y1 + p.h1, p.y2 + p.h2) - std::max(p.y1, p.y2);
  if (o.width < 0) o.width = 0;
  if (o.height < 0) o.height = 0;
  return o;
}

double FadeWeight(const Overlap& o, int curX, int curY) {
  const int W = o.width;
  const int H = o.height;
  const int E = curX - o.left - W / 2;
  const int F = curY - o.top - H / 2;
  // A direction in which the overlap is empty contributes a quotient of 0.
  const double qx = W == 0 ? 0.0 : static_cast<double>(4 * E * E) / static_cast<double>(W * W);
  const double qy = H == 0 ? 0.0 : static_cast<double>(4 * F * F) / static_cast<double>(H * H);
  return (1 - qx) * (1 - qy);
}

double Luminance(Colour p) { return p.red * 0.3 + (p.green * 0.59 + p.blue * 0.11); }

namespace {

uint8_t FadeChannel(int mine, int other, double f) {
  double v = mine * f + other * (1 - f);
  if (v < 0) v = 0;
  if (v > 255) v = 255;
  return static_cast<uint8_t>(static_cast<int>(v));
}

Colour Fade(Colour mine, Colour other, double f) {
  return {FadeChannel(mine.blue, other.blue, f), FadeChannel(mine.green, other.green, f),
          FadeChannel(mine.red, other.red, f)};
}

// trunc((v0 + add) x 7.04) + trunc((v1 + add) x 37.76) + trunc((v2 + add) x 19.2)
int ScoreUp(Colour p, int c) {
  return static_cast<int>((c + p.blue) * 7.04) + static_cast<int>((c + p.green) * 37.76) +
         static_cast<int>((c + p.red) * 19.2);
}
int ScoreDown(Colour p, int c) {
  return static_cast<int>((p.blue - c + 255) * 7.04) + static_cast<int>((p.green - c + 255) * 37.76) +
         static_cast<int>((p.red - c + 255) * 19.2);
}

}  // namespace

Colour Merge(const MergeSettings& m, const Overlap& o, Colour a, Colour b, int curX, int curY) {
  const int c = m.bias;
  switch (m.rule) {
    case 0: {
      if (m.fade1 || m.fade2) {
        const double f = FadeWeight(o, curX, curY);
        if (m.fade1) a = Fade(a, b, f);
        if (m.fade2) b = Fade(b, a, f);
      }
      Colour r;
      r.blue = static_cast<uint8_t>((a.blue * (255 - c) + b.blue * c) >> 8);
      r.green = static_cast<uint8_t>((a.green * (255 - c) + b.green * c) >> 8);
      r.red = static_cast<uint8_t>((a.red * (255 - c) + b.red * c) >> 8);
      return r;
    }
    case 1: {
      Colour ac = a, bc = b;
      if (m.fade1 || m.fade2) {
        const double f = FadeWeight(o, curX, curY);
        if (m.fade2 && !(f * 255 > Luminance(b))) bc = {0, 0, 0};
        if (m.fade1 && !(f * 255 > Luminance(a))) ac = {0, 0, 0};
      }
      return ScoreDown(ac, c) >= ScoreUp(bc, c) ? a : b;
    }
    case 2: {
      Colour ac = a, bc = b;
      if (m.fade1 || m.fade2) {
        const double f = FadeWeight(o, curX, curY);
        if (m.fade2 && !(f * 255 > Luminance(b))) bc = {255, 255, 255};
        if (m.fade1 && !(f * 255 > Luminance(a))) ac = {255, 255, 255};
      }
      return ScoreDown(bc, c) >= ScoreUp(ac, c) ? a : b;
    }
    default: return a;
  }
}

// ---- Target generation ----

int NearestEntry(const std::vector<Quad>& table, Colour c) {
  int best = 0;
  long bestDistance = -1;
  for (int i = 0; i <= 254 && i < static_cast<int>(table.size()); ++i) {
    const long db = static_cast<long>(table[i].blue) - c.blue;
    const long dg = static_cast<long>(table[i].green) - c.green;
    const long dr = static_cast<long>(table[i].red) - c.red;
    const long d = db * db + dg * dg + dr * dr;
    if (bestDistance < 0 || d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

namespace {

struct Slot {
  Colour colour;
  bool used = false;
  int link = -1;
};

bool InRectangle1(const Placement& g, int X, int Y) {
  return X >= g.x1 && X < g.x1 + g.w1 && Y >= g.y1 && Y < g.y1 + g.h1;
}

void Generate1(const Picture& s1, const Picture& s2, const Placement& g, int monoAnd, Picture& t) {
  t.table[0] = {0, 0, 0, 0};
  t.table[1] = {255, 255, 255, 0};
  for (int y = 0; y < g.h1; ++y)
    for (int x = 0; x < g.w1; ++x) {
      const bool black = s1.Index(x, y) == 0;
      t.SetIndex(x + g.x1, y + g.y1, black ? 0 : 1);
    }
  for (int y = 0; y < g.h2; ++y)
    for (int x = 0; x < g.w2; ++x) {
      const bool black = s2.Index(x, y) == 0;
      const int X = x + g.x2, Y = y + g.y2;
      if (InRectangle1(g, X, Y)) {
        // Filler of source 2 leaves source 1 alone; source 2 on source 1's
        // filler shows its own bit.
        if (!s2.Sampled(x, y)) continue;
        if (!s1.Sampled(X - g.x1, Y - g.y1)) {
          t.SetIndex(X, Y, black ? 0 : 1);
          continue;
        }
      }
      if (monoAnd) {
        if (!black) t.SetIndex(x + g.x2, y + g.y2, 1);
      } else {
        if (black) t.SetIndex(x + g.x2, y + g.y2, 0);
      }
    }
  // The writing cursor on the Target clears the row padding when it goes.
  t.ClearPadding();
}

void Generate8(const Picture& s1, const Picture& s2, const Placement& g, const TargetSettings& ts, Picture& t,
               TargetOutcome& out) {
  std::vector<Slot> slots(288);
  const int n1 = s1.clrUsed ? static_cast<int>(s1.clrUsed) : 16;
  const int n2 = s2.clrUsed ? static_cast<int>(s2.clrUsed) : 16;
  auto tableColour = [](const Picture& p, int i) {
    return i < static_cast<int>(p.table.size()) ? FromQuad(p.table[i]) : Colour{0, 0, 0};
  };
  for (int i = 0; i < n1; ++i) slots[i] = {tableColour(s1, i), true, i};
  for (int j = 0; j < n2; ++j) slots[16 + j] = {tableColour(s2, j), true, 16 + j};
  const Overlap o = OverlapOf(g);
  for (int i = 0; i < n1; ++i)
    for (int j = 0; j < n2; ++j) {
      const Colour a = Tone(tableColour(s1, i), ts.contrast, ts.brightness);
      const Colour b = Tone(tableColour(s2, j), ts.contrast, ts.brightness);
      const int n = 32 + i + 16 * j;
      slots[n] = {Merge(ts.merge, o, a, b, 0, 0), true, n};
    }

  // Duplicates take their first twin's number.
  for (int a = 0; a < 288; ++a) {
    if (!slots[a].used) continue;
    for (int b = a + 1; b < 288; ++b) {
      if (!slots[b].used) continue;
      if (slots[b].colour == slots[a].colour) {
        slots[b].used = false;
        slots[b].link = a;
        ++out.duplicates;
      }
    }
  }
  // Numbering: the index in the compacted palette.
  std::vector<int> freeBelow(289, 0);
  for (int s = 0; s < 288; ++s) freeBelow[s + 1] = freeBelow[s] + (slots[s].used ? 0 : 1);
  std::vector<int> link(288, -1);
  for (int s = 0; s < 288; ++s)
    if (slots[s].link != -1) link[s] = slots[s].link - freeBelow[slots[s].link];

  // The table: used slots in slot order, at most up to entry 254; 255 is black.
  int entry = 0;
  for (int s = 0; s < 288; ++s) out.distinctColours += slots[s].used ? 1 : 0;
  for (int s = 0; s < 288; ++s) {
    if (!slots[s].used) continue;
    if (entry > 254) break;
    t.table[entry++] = {slots[s].colour.blue, slots[s].colour.green, slots[s].colour.red, 0};
  }
  t.table[255] = {0, 0, 0, 0};
  // Colours that found no entry take the nearest one.
  for (int s = 0; s < 288; ++s)
    if (link[s] > 254) link[s] = NearestEntry(t.table, slots[slots[s].used ? s : slots[s].link].colour);

  int from1[256] = {0};
  for (int x = 0; x < g.w1; ++x)
    for (int y = 0; y < g.h1; ++y) {
      const int k = s1.Index(x, y);
      const int v = link[k];
      t.Row(y + g.y1)[x + g.x1] = static_cast<uint8_t>(v);
      from1[v & 0xFF] = k;
    }
  for (int x = 0; x < g.w2; ++x)
    for (int y = 0; y < g.h2; ++y) {
      const int j = s2.Index(x, y);
      const int X = x + g.x2, Y = y + g.y2;
      uint8_t* p = t.Row(Y) + X;
      if (InRectangle1(g, X, Y)) {
        if (!s2.Sampled(x, y)) continue;
        if (!s1.Sampled(X - g.x1, Y - g.y1)) {
          *p = static_cast<uint8_t>(link[16 + j]);
          continue;
        }
      }
      if (*p == 255) *p = static_cast<uint8_t>(link[16 + j]);
      else *p = static_cast<uint8_t>(link[32 + from1[*p] + 16 * j]);
    }
  // The pixel bytes are written directly: the padding keeps the fill.
}

}  // namespace

TargetOutcome GenerateTarget(const Picture* s1p, const Picture* s2p, const TargetSettings& ts) {
  TargetOutcome out;
  if (!s1p || !s2p) return out;
  const Picture& s1 = *s1p;
  const Picture& s2 = *s2p;
  const int b1 = s1.bitCount, b2 = s2.bitCount;
  int depth = 24;
  if (b1 == 1 && b2 == 1) depth = 1;
  if (b1 + b2 > 4) depth = 8;
  if (b1 + b2 > 8) depth = 24;
  if (ts.merge.fade1 || ts.merge.fade2) depth = 24;

  Placement g{};
  g.w1 = s1.width, g.h1 = s1.height, g.w2 = s2.width, g.h2 = s2.height;
  if (ts.offsetX < 0) g.x1 = -ts.offsetX, g.x2 = 0;
  else g.x1 = 0, g.x2 = ts.offsetX;
  if (ts.offsetY < 0) g.y1 = -ts.offsetY, g.y2 = 0;
  else g.y1 = 0, g.y2 = ts.offsetY;
  const int W = std::max(g.w1 + g.x1, g.w2 + g.x2);
  const int H = std::max(g.h1 + g.y1, g.h2 + g.y2);
  out.targetWidth = W * 100 / 100;
  out.targetHeight = H * 100 / 100;

  Colour bgTriple;
  int bg;
  switch (ts.merge.rule) {
    case 0: bg = 127; break;
    case 1: bg = 0; break;
    default: bg = 255; break;
  }
  bgTriple = {static_cast<uint8_t>(bg), static_cast<uint8_t>(bg), static_cast<uint8_t>(bg)};
  if (depth == 1) bg = ts.monoAnd ? 0 : 255;
  if (depth == 8) bg = 255;

  Picture t = MakePicture(bg, depth, W, H);
  out.result = 1;
  if (depth == 1) {
    Generate1(s1, s2, g, ts.monoAnd, t);
    out.target = std::move(t);
    return out;
  }
  if (depth == 8) {
    Generate8(s1, s2, g, ts, t, out);
    out.target = std::move(t);
    return out;
  }

  const Overlap o = OverlapOf(g);
  // The source row laid at canvas (X, Y) for loop row v; false when there is
  // none.
  auto sourceRow = [&](int X, int Y, int v, int yShift, int* r) -> bool {
    if (ts.swing == 0) {
      *r = v;
      return true;
    }
    const int dx = X - W / 2;
    const int dy = Y - H / 2;
    const double theta = ts.swing * dx * 3.14159 / ((W / 2) * 360);
    const double rr = dy / std::cos(theta) + (H / 2 - yShift);
    return TruncToInt(rr, r);
  };
  Colour nudged = bgTriple;
  if (ts.merge.rule == 0) nudged = {126, 126, 126};
  else if (ts.merge.rule == 1) nudged = {1, 1, 1};
  else nudged = {254, 254, 254};

  // What source 1 laid at each canvas pixel: 0 nothing, 1 a sampled pixel, 2
  // filler.
  std::vector<uint8_t> laid1(static_cast<size_t>(W) * H, 0);
  for (int x = 0; x < g.w1; ++x)
    for (int v = -(H / 2); v <= H - 1; ++v) {
      const int X = x + g.x1, Y = v + g.y1;
      int r = 0;
      if (!sourceRow(X, Y, v, g.y1, &r)) continue;
      if (r < 0 || r >= g.h1) continue;
      Colour p = Tone(s1.ReadColour(x, r), ts.contrast, ts.brightness);
      if (p == bgTriple) p = nudged;
      if (Y < 0 || Y >= H) {
        ++out.skippedWrites;
        continue;
      }
      t.WriteColour(X, Y, p);
      laid1[static_cast<size_t>(Y) * W + X] = s1.Sampled(x, r) ? 1 : 2;
    }
  for (int x = 0; x < g.w2; ++x)
    for (int v = -(H / 2); v <= H - 1; ++v) {
      const int X = x + g.x2, Y = v + g.y2;
      int r = 0;
      if (!sourceRow(X, Y, v, g.y2, &r)) continue;
      if (r < 0 || r >= g.h2) continue;
      const Colour P = Tone(s2.ReadColour(x, r), ts.contrast, ts.brightness);
      if (Y < 0 || Y >= H) {
        ++out.skippedWrites;
        continue;
      }
      const Colour T = t.ReadColour(X, Y);
      const int under = laid1[static_cast<size_t>(Y) * W + X];
      if (under != 0 && !s2.Sampled(x, r)) continue;
      if (T == bgTriple || under == 2) t.WriteColour(X, Y, P);
      else t.WriteColour(X, Y, Merge(ts.merge, o, T, P, x, v));
    }
  t.ClearPadding();
  DrawGrid(t, ts, out.targetWidth, out.targetHeight);
  out.target = std::move(t);
  return out;
}

void DrawGrid(Picture& t, const TargetSettings& ts, int width, int height) {
  if (!ts.solidGrid && !ts.dottedGrid) return;
  auto write = [&](int x, int y) {
    switch (t.bitCount) {
      case 24: t.WriteColour(x, y, ts.gridColour); break;
      case 1: {
        const Colour white{255, 255, 255};
        t.SetIndex(x, y, ts.gridColour == white ? 1 : 0);
        break;
      }
      case 8: t.SetIndex(x, y, NearestEntry(t.table, ts.gridColour)); break;
      default: break;
    }
  };
  if (ts.solidGrid) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; x += ts.solidX) write(x, y);
    for (int y = 0; y < height; y += ts.solidY)
      for (int x = 0; x < width; ++x) write(x, y);
  }
  if (ts.dottedGrid) {
    for (int y = 0; y < height; y += ts.dotY)
      for (int x = 0; x < width; x += ts.dotX) write(x, y);
  }
  // Drawn through a writing cursor.
  t.ClearPadding();
}

// ---- Comparison ----

std::string FirstDifference(const Picture& want, const Picture& got) {
  std::ostringstream s;
  if (want.width != got.width || want.height != got.height || want.bitCount != got.bitCount) {
    s << "picture is " << got.width << " x " << got.height << " at " << got.bitCount << " bits, expected "
      << want.width << " x " << want.height << " at " << want.bitCount << " bits";
    return s.str();
  }
  if (want.clrUsed != got.clrUsed || want.compression != got.compression) {
    s << "biClrUsed " << got.clrUsed << " compression " << got.compression << ", expected " << want.clrUsed << " and "
      << want.compression;
    return s.str();
  }
  if (want.table.size() != got.table.size()) {
    s << "colour table has " << got.table.size() << " entries, expected " << want.table.size();
    return s.str();
  }
  for (size_t i = 0; i < want.table.size(); ++i)
    if (!(want.table[i] == got.table[i])) {
      s << "colour-table entry " << i << " is " << Describe(got.table[i]) << ", expected " << Describe(want.table[i]);
      return s.str();
    }
  if (want.rows.size() != got.rows.size()) {
    s << "rows hold " << got.rows.size() << " bytes, expected " << want.rows.size();
    return s.str();
  }
  for (int y = 0; y < want.height; ++y)
    for (int x = 0; x < want.width; ++x) {
      bool same;
      std::ostringstream w, g;
      if (want.bitCount <= 8) {
        same = want.Index(x, y) == got.Index(x, y);
        w << "index " << want.Index(x, y);
        g << "index " << got.Index(x, y);
      } else {
        same = want.ReadColour(x, y) == got.ReadColour(x, y);
        w << Describe(want.ReadColour(x, y));
        g << Describe(got.ReadColour(x, y));
      }
      if (!same) {
        s << "first differing pixel (" << x << ", " << y << "): got " << g.str() << ", expected " << w.str();
        return s.str();
      }
    }
  return {};
}

std::string PaddingDifference(const Picture& want, const Picture& got) {
  if (want.width != got.width || want.height != got.height || want.bitCount != got.bitCount ||
      want.rows.size() != got.rows.size())
    return "pictures differ in size";
  const int stride = want.Stride();
  const int used = want.UsedBytes();
  // For 1 and 4 bits the last used byte may hold bits beyond the width.
  const int first = want.bitCount <= 4 ? used - 1 : used;
  for (int y = 0; y < want.height; ++y)
    for (int i = first; i < stride; ++i)
      if (want.Row(y)[i] != got.Row(y)[i]) {
        std::ostringstream s;
        s << (i < used ? "last used byte " : "pad byte ") << i << " of row " << y << " is " << int(got.Row(y)[i])
          << ", expected " << int(want.Row(y)[i]);
        return s.str();
      }
  return {};
}

}  // namespace tessara::model
