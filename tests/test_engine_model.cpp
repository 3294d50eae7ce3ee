// Randomised comparison of the engine with the plain model in engine_model.h:
// small random pictures of every depth, random scales, rotations, mirroring,
// placements, merge rules, bias, fading, tone curve, projection and grids. The
// prepared sources and the Target must match the model byte for byte (header
// values, colour tables, pixels and row padding).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "engine/merge.h"
#include "engine/session.h"
#include "tests/engine_fixture.h"
#include "tests/engine_model.h"

namespace tessara {
namespace {

using model::Picture;
using model::Quad;

// ---- Random numbers ----

int Uniform(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
bool Chance(std::mt19937& rng, int percent) { return Uniform(rng, 0, 99) < percent; }

// ---- Pictures between the model and the engine ----

// The engine's block for a model picture: 40-byte header, colour table (or
// masks), rows, and 14 spare bytes.
DibPtr ToDib(const Picture& p) {
  const bool masks = p.compression == 3 && (p.bitCount == 16 || p.bitCount == 32);
  const size_t tableBytes = masks ? 12 : 4 * p.table.size();
  const size_t size = 40 + tableBytes + p.rows.size() + 14;
  DibPtr dib = Dib::Allocate(size);
  if (!dib) return nullptr;
  std::memset(dib->Data(), 0, size);
  BITMAPINFOHEADER h{};
  h.biSize = 40;
  h.biWidth = p.width;
  h.biHeight = p.height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<uint16_t>(p.bitCount);
  h.biCompression = p.compression;
  h.biSizeImage = static_cast<uint32_t>(p.rows.size());
  h.biClrUsed = p.clrUsed;
  std::memcpy(dib->Data(), &h, 40);
  uint8_t* q = dib->Data() + 40;
  if (masks) {
    for (int i = 0; i < 3; ++i) std::memcpy(q + 4 * i, &p.masks[i], 4);
  } else {
    for (size_t i = 0; i < p.table.size(); ++i) {
      q[4 * i] = p.table[i].blue;
      q[4 * i + 1] = p.table[i].green;
      q[4 * i + 2] = p.table[i].red;
      q[4 * i + 3] = p.table[i].reserved;
    }
  }
  std::memcpy(dib->Data() + 40 + tableBytes, p.rows.data(), p.rows.size());
  return dib;
}

// The engine's picture as a model picture, read from the raw block.
Picture FromDib(const Dib& d) {
  Picture p;
  BITMAPINFOHEADER h;
  std::memcpy(&h, d.Data(), 40);
  p.width = h.biWidth;
  p.height = h.biHeight;
  p.bitCount = h.biBitCount;
  p.compression = h.biCompression;
  p.clrUsed = h.biClrUsed;
  const uint8_t* q = d.Data() + h.biSize;
  size_t tableBytes = 0;
  if (p.compression == 3 && (p.bitCount == 16 || p.bitCount == 32)) {
    for (int i = 0; i < 3; ++i) std::memcpy(&p.masks[i], q + 4 * i, 4);
    tableBytes = 12;
  } else {
    const int n = Picture::TableEntriesFor(p.bitCount, p.clrUsed);
    for (int i = 0; i < n; ++i) p.table.push_back({q[4 * i], q[4 * i + 1], q[4 * i + 2], q[4 * i + 3]});
    tableBytes = 4 * static_cast<size_t>(n);
  }
  const size_t rowBytes = static_cast<size_t>(Picture::StrideFor(p.width, p.bitCount)) * std::abs(p.height);
  const size_t start = h.biSize + tableBytes;
  if (start + rowBytes <= d.Size()) p.rows.assign(d.Data() + start, d.Data() + start + rowBytes);
  return p;
}

Quad RandomQuad(std::mt19937& rng, bool fewValues) {
  auto channel = [&]() {
    if (fewValues) {
      static const uint8_t kValues[] = {0, 64, 127, 128, 255};
      return kValues[Uniform(rng, 0, 4)];
    }
    return static_cast<uint8_t>(Uniform(rng, 0, 255));
  };
  Quad q;
  q.blue = channel();
  q.green = channel();
  q.red = channel();
  return q;
}

// A source picture as a load would give it, with random rows (padding
// included).
Picture RandomSource(std::mt19937& rng, int bits, int width, int height, bool fewColours = false) {
  Picture p;
  p.width = width;
  p.height = height;
  p.bitCount = bits;
  if (bits == 1) {
    p.clrUsed = Chance(rng, 50) ? 2 : 0;
    for (int i = 0; i < 2; ++i) p.table.push_back(RandomQuad(rng, fewColours));
  } else if (bits == 4 || bits == 8) {
    const int full = 1 << bits;
    p.clrUsed = Chance(rng, 70) ? 0 : Uniform(rng, 1, full);
    const int n = Picture::TableEntriesFor(bits, p.clrUsed);
    for (int i = 0; i < n; ++i) p.table.push_back(RandomQuad(rng, fewColours));
  } else if (bits == 16) {
    if (Chance(rng, 50)) {
      static const uint32_t kMasks[][3] = {
          {0xF800, 0x07E0, 0x001F}, {0x7C00, 0x03E0, 0x001F}, {0x0F00, 0x00F0, 0x000F}, {0x001F, 0x07E0, 0xF800},
          {0xFFFF0F00u, 0x000300F0u, 0x0000000Fu}};
      const auto& m = kMasks[Uniform(rng, 0, 4)];
      p.compression = 3;
      p.masks[0] = m[0], p.masks[1] = m[1], p.masks[2] = m[2];
    }
  } else if (bits == 32) {
    if (Chance(rng, 30)) {
      p.compression = 3;
      p.masks[0] = 0x00FF0000, p.masks[1] = 0x0000FF00, p.masks[2] = 0x000000FF;
    }
  }
  p.rows.resize(static_cast<size_t>(Picture::StrideFor(width, bits)) * height);
  // Plain noise: every byte of the rows, padding and unused bits included.
  for (auto& b : p.rows) b = static_cast<uint8_t>(Uniform(rng, 0, 255));
  return p;
}

int RandomScale(std::mt19937& rng) {
  if (Chance(rng, 35)) return 1024;
  if (Chance(rng, 3)) return Uniform(rng, 20, 120);  // may prepare to nothing
  return Uniform(rng, 600, 1500);
}

double RandomAngle(std::mt19937& rng) {
  switch (Uniform(rng, 0, 9)) {
    case 0:
    case 1: return 0.0;
    case 2: {
      static const double kAngles[] = {90.0, 180.0, -90.0, 270.0, 45.0, -180.0, 0.1, -0.1};
      return kAngles[Uniform(rng, 0, 7)];
    }
    case 3:
    case 4: return Uniform(rng, -300, 300) / 10.0;
    default: return std::uniform_real_distribution<double>(-30.0, 30.0)(rng);
  }
}

model::SourceSettings RandomSourceSettings(std::mt19937& rng) {
  model::SourceSettings s;
  s.scaleX = RandomScale(rng);
  s.scaleY = Chance(rng, 30) ? s.scaleX : RandomScale(rng);
  s.mirror = Chance(rng, 30);
  s.rotation = RandomAngle(rng);
  s.cutCorners = Chance(rng, 50);
  return s;
}

std::string Text(const Picture& p) {
  std::ostringstream s;
  s << p.width << "x" << p.height << "@" << p.bitCount;
  if (p.compression) s << " compression " << p.compression;
  if (p.bitCount == 4 || p.bitCount == 8) s << " clrUsed " << p.clrUsed;
  if (p.compression == 3) s << std::hex << " masks " << p.masks[0] << "/" << p.masks[1] << "/" << p.masks[2] << std::dec;
  return s.str();
}

std::string Text(const model::SourceSettings& s) {
  std::ostringstream o;
  o.precision(17);
  o << "scale " << s.scaleX << "," << s.scaleY << " mirror " << s.mirror << " angle " << s.rotation << " cut "
    << s.cutCorners;
  return o.str();
}

std::string Text(const model::TargetSettings& t) {
  std::ostringstream o;
  o << "offset " << t.offsetX << "," << t.offsetY << " rule " << t.merge.rule << " bias " << t.merge.bias << " fade "
    << t.merge.fade1 << t.merge.fade2 << " monoAnd " << t.monoAnd << " contrast " << t.contrast << " brightness "
    << t.brightness << " swing " << t.swing << " grid solid " << t.solidGrid << " (" << t.solidX << "," << t.solidY
    << ") dotted " << t.dottedGrid << " (" << t.dotX << "," << t.dotY << ") colour " << int(t.gridColour.blue);
  return o.str();
}

model::TargetSettings RandomTargetSettings(std::mt19937& rng, const Picture& s1, const Picture& s2, bool fadeAllowed) {
  model::TargetSettings t;
  const int wx = std::max(s1.width, s2.width) + 8;
  const int hy = std::max(s1.height, s2.height) + 8;
  t.offsetX = Chance(rng, 15) ? 0 : Uniform(rng, -wx, wx);
  t.offsetY = Chance(rng, 15) ? 0 : Uniform(rng, -hy, hy);
  t.merge.rule = Uniform(rng, 0, 2);
  t.merge.bias = Chance(rng, 20) ? 128 : (Chance(rng, 15) ? (Chance(rng, 50) ? 0 : 255) : Uniform(rng, 0, 255));
  if (fadeAllowed) {
    const int f = Uniform(rng, 0, 9);
    t.merge.fade1 = f == 1 || f == 2 || f == 5;
    t.merge.fade2 = f == 3 || f == 4 || f == 5;
  }
  t.monoAnd = Chance(rng, 50);
  t.contrast = Chance(rng, 30) ? 16 : Uniform(rng, 0, 32);
  t.brightness = Chance(rng, 30) ? 128 : Uniform(rng, 0, 255);
  t.swing = Chance(rng, 45) ? 0 : (Chance(rng, 10) ? 180 : Uniform(rng, 0, 180));
  t.solidGrid = Chance(rng, 25);
  t.dottedGrid = Chance(rng, 25);
  t.solidX = Uniform(rng, 2, 40);
  t.solidY = Chance(rng, 50) ? t.solidX : Uniform(rng, 2, 40);
  t.dotX = Uniform(rng, 2, 12);
  t.dotY = Chance(rng, 50) ? t.dotX : Uniform(rng, 2, 12);
  const uint8_t g = Chance(rng, 50) ? 255 : 0;
  t.gridColour = {g, g, g};
  return t;
}

// ---- The fixture ----

class EngineModelBase : public test::EngineTest {
 protected:
  void Apply(int n, const model::SourceSettings& s) {
    if (n == 1) {
      doc->m_nScale1X = s.scaleX, doc->m_nScale1Y = s.scaleY, doc->m_bMirror1 = s.mirror;
      doc->m_dRotation1 = s.rotation, doc->m_bCutCorners1 = s.cutCorners;
    } else {
      doc->m_nScale2X = s.scaleX, doc->m_nScale2Y = s.scaleY, doc->m_bMirror2 = s.mirror;
      doc->m_dRotation2 = s.rotation, doc->m_bCutCorners2 = s.cutCorners;
    }
  }

  void Apply(const model::TargetSettings& t) {
    doc->m_nOffsetX = t.offsetX;
    doc->m_nOffsetY = t.offsetY;
    g_nMergeRule = t.merge.rule;
    doc->m_nSourceBias = t.merge.bias;
    g_bFadeEdge1 = t.merge.fade1;
    g_bFadeEdge2 = t.merge.fade2;
    g_bMonoAnd = t.monoAnd;
    doc->m_nContrast = t.contrast;
    doc->m_nBrightness = t.brightness;
    doc->m_nSwingAngle = t.swing;
    g_bSolidGrid = t.solidGrid;
    g_bDottedGrid = t.dottedGrid;
    g_nSolidGridX = t.solidX;
    g_nSolidGridY = t.solidY;
    g_nDotGridX = t.dotX;
    g_nDotGridY = t.dotY;
    g_GridColour.blue = t.gridColour.blue;
    g_GridColour.green = t.gridColour.green;
    g_GridColour.red = t.gridColour.red;
  }

  // Prepares source n in the engine and in the model and compares them. The
  // engine's prepared copy (or null) is left in `engine`.
  void CheckPrepared(int n, const Picture& src, const model::SourceSettings& s, const std::string& label,
                     Picture* engine, bool* present) {
    Apply(n, s);
    // The model counts the results by their numbers.
    const int got = static_cast<int>(doc->PrepareSource(n));
    const model::PrepareOutcome want = model::PrepareSource(src, s);
    const Dib* slot = n == 1 ? doc->m_pSource1.get() : doc->m_pSource2.get();
    ++prepared;
    if (want.result >= -1 && want.result <= 4) ++resultCount[want.result + 1];
    // The 24-bit preparation reads the source through a cursor, whose end
    // clears the source's row padding; count the sources that kept it.
    if (want.result == 0 && (src.bitCount == 16 || src.bitCount == 24) && g_pSourceDocs[n - 1] &&
        g_pSourceDocs[n - 1]->m_pDib) {
      Picture after = FromDib(*g_pSourceDocs[n - 1]->m_pDib);
      Picture cleared = src;
      cleared.ClearPadding();
      if (!model::PaddingDifference(cleared, after).empty()) ++sourcePaddingKept;
      if (!model::PaddingDifference(src, cleared).empty()) ++sourcePaddingTested;
    }
    const std::string what = label + " source " + std::to_string(n) + " " + Text(src) + " " + Text(s);
    *present = slot != nullptr;
    if (got != want.result) {
      ADD_FAILURE() << "PrepareSource result " << got << ", expected " << want.result << "\n  " << what;
      ++mismatches;
    }
    if (want.result != 0) {
      EXPECT_EQ(slot, nullptr) << what;
      return;
    }
    if (!slot) {
      ADD_FAILURE() << "no prepared copy\n  " << what;
      ++mismatches;
      return;
    }
    *engine = FromDib(*slot);
    const std::string d = model::FirstDifference(want.picture, *engine);
    if (!d.empty()) {
      ADD_FAILURE() << "prepared copy: " << d << "\n  " << what;
      ++mismatches;
      return;
    }
    const std::string pd = model::PaddingDifference(want.picture, *engine);
    if (!pd.empty()) {
      ADD_FAILURE() << "prepared copy: " << pd << "\n  " << what;
      ++mismatches;
    }
    // The engine's record of sampled pixels, pixel by pixel against the
    // model's; the model's Target generation then reads that record.
    const SampleCoverage& cover = n == 1 ? doc->m_cover1 : doc->m_cover2;
    if (!cover.Describes(slot)) {
      ADD_FAILURE() << "prepared copy without its record of sampled pixels\n  " << what;
      ++mismatches;
      return;
    }
    for (int y = 0; y < engine->height; ++y)
      for (int x = 0; x < engine->width; ++x)
        if (cover.Sampled(x, y) != want.picture.Sampled(x, y)) {
          ADD_FAILURE() << "pixel (" << x << ", " << y << ") " << (cover.Sampled(x, y) ? "sampled" : "not sampled")
                        << ", expected the opposite\n  " << what;
          ++mismatches;
          return;
        }
    engine->sampled = want.picture.sampled;
  }

  // One whole case: two sources registered, prepared and compared, then the
  // Target generated by the engine and by the model (from the engine's prepared
  // copies) and compared.
  // With `regrid`, the grid it describes is drawn again over the finished
  // Target (whatever its depth) and compared as well.
  void RunCase(const std::string& label, const Picture& src1, const model::SourceSettings& p1, const Picture& src2,
               const model::SourceSettings& p2, const model::TargetSettings& t,
               const model::TargetSettings* regrid = nullptr) {
    Restart();
    AddSource(ToDib(src1));
    AddSource(ToDib(src2));
    Picture e1, e2;
    bool has1 = false, has2 = false;
    CheckPrepared(1, src1, p1, label, &e1, &has1);
    CheckPrepared(2, src2, p2, label, &e2, &has2);
    Apply(t);
    const int got = doc->GenerateTarget();
    const model::TargetOutcome want = model::GenerateTarget(has1 ? &e1 : nullptr, has2 ? &e2 : nullptr, t);
    ++targets;
    skipped += want.skippedWrites;
    std::ostringstream what;
    what << label << "\n  source 1 " << Text(src1) << " " << Text(p1) << " -> " << Text(e1) << "\n  source 2 "
         << Text(src2) << " " << Text(p2) << " -> " << Text(e2) << "\n  " << Text(t);
    if (got != want.result) {
      ADD_FAILURE() << "GenerateTarget gave " << got << ", expected " << want.result << "\n  " << what.str();
      ++mismatches;
      return;
    }
    if (want.result == 0) {
      EXPECT_EQ(doc->m_pTarget, nullptr) << what.str();
      return;
    }
    ASSERT_NE(doc->m_pTarget, nullptr) << what.str();
    ++depthCount[want.target.bitCount];
    if (want.target.bitCount == 8) {
      if (want.distinctColours > 255) ++manyColours;
      if (want.duplicates > 0) ++withDuplicates;
    }
    EXPECT_EQ(doc->m_nBitDepth, want.target.bitCount) << what.str();
    EXPECT_EQ(doc->m_nTargetWidth, want.targetWidth) << what.str();
    EXPECT_EQ(doc->m_nTargetHeight, want.targetHeight) << what.str();
    const Picture engine = FromDib(*doc->m_pTarget);
    const std::string d = model::FirstDifference(want.target, engine);
    if (!d.empty()) {
      ADD_FAILURE() << "Target: " << d << "\n  " << what.str();
      ++mismatches;
      return;
    }
    const std::string pd = model::PaddingDifference(want.target, engine);
    if (!pd.empty()) {
      // Reported in full for the first few cases only; counted for all.
      if (++paddingMismatches[want.target.bitCount] <= 2)
        ADD_FAILURE() << want.target.bitCount << "-bit Target (beyond the pixels): " << pd << "\n  " << what.str();
    }
    if (regrid) {
      const model::TargetSettings& g = *regrid;
      Apply(g);
      doc->DrawGrid();
      Picture expected = want.target;
      model::DrawGrid(expected, g, want.targetWidth, want.targetHeight);
      const Picture after = FromDib(*doc->m_pTarget);
      std::string gd = model::FirstDifference(expected, after);
      if (gd.empty()) gd = model::PaddingDifference(expected, after);
      if (!gd.empty()) {
        ADD_FAILURE() << "DrawGrid: " << gd << "\n  " << what.str() << "\n  grid " << Text(g);
        ++mismatches;
      }
    }
  }

  void TearDown() override {
    std::printf("[ model    ] %d preparations (results -1..4: %d %d %d %d %d %d), %d Targets (1-bit %d, 8-bit %d "
                "[%d with more than 255 colours, %d with duplicates], 24-bit %d), %ld projected writes outside the "
                "canvas, %d mismatches\n",
                prepared, resultCount[0], resultCount[1], resultCount[2], resultCount[3], resultCount[4],
                resultCount[5], targets, depthCount[1], depthCount[8], manyColours, withDuplicates, depthCount[24],
                skipped, mismatches);
    for (int d : {1, 8, 24})
      EXPECT_EQ(paddingMismatches[d], 0) << d << "-bit Targets whose row padding differs from the model";
    if (sourcePaddingTested)
      std::printf("[ model    ] %d of %d sources read by the 24-bit preparation kept non-zero row padding\n",
                  sourcePaddingKept, sourcePaddingTested);
    test::EngineTest::TearDown();
  }

  int prepared = 0;
  int targets = 0;
  int mismatches = 0;
  long skipped = 0;
  int depthCount[25] = {0};
  int resultCount[6] = {0};
  int manyColours = 0;
  int paddingMismatches[25] = {0};
  int withDuplicates = 0;
  int sourcePaddingKept = 0;
  int sourcePaddingTested = 0;
};

class EngineModelPrepare : public EngineModelBase {};
class EngineModelTarget : public EngineModelBase {};
class EngineModelMerge : public EngineModelBase {};
class EngineModelTone : public EngineModelBase {};

// ---- Source preparation ----

TEST_F(EngineModelPrepare, EveryDepthScaleAngleAndMirror) {
  std::mt19937 rng(5501);
  static const int kDepths[] = {1, 4, 8, 16, 24, 32};
  for (int i = 0; i < 360; ++i) {
    Restart();
    const Picture src1 = RandomSource(rng, kDepths[i % 6], Uniform(rng, 1, 40), Uniform(rng, 1, 40));
    const Picture src2 = RandomSource(rng, kDepths[Uniform(rng, 0, 5)], Uniform(rng, 1, 40), Uniform(rng, 1, 40));
    const model::SourceSettings s1 = RandomSourceSettings(rng);
    const model::SourceSettings s2 = RandomSourceSettings(rng);
    AddSource(ToDib(src1));
    AddSource(ToDib(src2));
    Picture e;
    bool has = false;
    const std::string label = "prepare case " + std::to_string(i);
    CheckPrepared(1, src1, s1, label, &e, &has);
    CheckPrepared(2, src2, s2, label, &e, &has);
    if (mismatches > 20) break;
  }
}

TEST_F(EngineModelPrepare, ScalesOutOfRangeAndTheLow16Bits) {
  std::mt19937 rng(5502);
  // Only the low 16 bits count, read as signed.
  static const int kScales[] = {0, -1, -1024, 0x8000, 0xFFFF, 0x10000 + 900, 0x20000 + 1024, 0x10000, 1, 30, 2047};
  int i = 0;
  for (int sx : kScales)
    for (int sy : {1024, 0, 0x10000 + 1100, -5}) {
      Restart();
      const Picture src = RandomSource(rng, (i++ % 2) ? 24 : 8, Uniform(rng, 1, 40), Uniform(rng, 1, 40));
      model::SourceSettings s = RandomSourceSettings(rng);
      s.scaleX = sx;
      s.scaleY = sy;
      AddSource(ToDib(src));
      Picture e;
      bool has = false;
      CheckPrepared(1, src, s, "scale case", &e, &has);
    }
}

TEST_F(EngineModelPrepare, RefusedFormats) {
  std::mt19937 rng(5503);
  struct Format {
    int bits;
    uint32_t compression;
  };
  // Run-length 4 and 8 bits; 16 bits with a compression other than none or
  // bit fields.
  static const Format kFormats[] = {{8, 1}, {4, 2}, {16, 1}, {16, 2}};
  for (const Format& f : kFormats) {
    Restart();
    Picture src = RandomSource(rng, f.bits == 16 ? 16 : f.bits, 8, 8);
    src.compression = f.compression;
    if (f.bits != 16) {
      // A tiny valid run-length stream: end of bitmap.
      std::fill(src.rows.begin(), src.rows.end(), 0);
      src.rows[1] = 1;
    }
    AddSource(ToDib(src));
    Picture e;
    bool has = false;
    CheckPrepared(1, src, model::SourceSettings{}, "format case", &e, &has);
  }
}

// ---- Target generation ----

TEST_F(EngineModelTarget, TwentyFourBitPath) {
  std::mt19937 rng(5511);
  static const int kDepths[] = {1, 4, 8, 16, 24, 32};
  for (int i = 0; i < 260; ++i) {
    int b1 = kDepths[Uniform(rng, 0, 5)], b2 = kDepths[Uniform(rng, 0, 5)];
    const bool fade = Chance(rng, 35);
    // Without a fade a 24-bit Target needs an 8-, 16-, 24- or 32-bit source.
    if (!fade && b1 <= 4 && b2 <= 4) b2 = kDepths[Uniform(rng, 2, 5)];
    const Picture src1 = RandomSource(rng, b1, Uniform(rng, 1, 40), Uniform(rng, 1, 40));
    const Picture src2 = RandomSource(rng, b2, Uniform(rng, 1, 40), Uniform(rng, 1, 40));
    const model::SourceSettings p1 = RandomSourceSettings(rng), p2 = RandomSourceSettings(rng);
    model::TargetSettings t = RandomTargetSettings(rng, src1, src2, fade);
    if (fade && !t.merge.fade1 && !t.merge.fade2) t.merge.fade1 = 1;
    RunCase("24-bit case " + std::to_string(i), src1, p1, src2, p2, t);
    if (mismatches > 20) break;
  }
}

TEST_F(EngineModelTarget, TwentyFourBitFadeAcrossTheOverlap) {
  // Same-sized plain sources, fades and projection, so the fade weight runs
  // over its whole range (and beyond it where the projection reaches).
  std::mt19937 rng(5512);
  for (int i = 0; i < 90; ++i) {
    const int w = Uniform(rng, 1, 40), h = Uniform(rng, 1, 40);
    const Picture src1 = RandomSource(rng, 24, w, h);
    const Picture src2 = RandomSource(rng, Chance(rng, 50) ? 24 : 8, Uniform(rng, 1, 40), Uniform(rng, 1, 40));
    const model::SourceSettings plain;
    model::TargetSettings t = RandomTargetSettings(rng, src1, src2, true);
    t.merge.fade1 = i % 3 != 1;
    t.merge.fade2 = i % 3 != 0;
    t.offsetX = Uniform(rng, -w / 2, w / 2);
    t.offsetY = Uniform(rng, -h / 2, h / 2);
    RunCase("fade case " + std::to_string(i), src1, plain, src2, plain, t);
    if (mismatches > 20) break;
  }
}

TEST_F(EngineModelTarget, WideRowsMergedInRuns) {
  // Rows long enough for the merge's vector loops and their tails, with
  // turned and scaled copies (rows whose sampled run starts and ends anywhere),
  // tone curves, every rule and every fade, without projection mostly.
  std::mt19937 rng(5514);
  for (int i = 0; i < 70; ++i) {
    const Picture src1 = RandomSource(rng, Chance(rng, 80) ? 24 : 32, Uniform(rng, 40, 300), Uniform(rng, 1, 24));
    const Picture src2 = RandomSource(rng, Chance(rng, 80) ? 24 : 8, Uniform(rng, 40, 300), Uniform(rng, 1, 24));
    const model::SourceSettings plain;
    const model::SourceSettings p1 = Chance(rng, 50) ? plain : RandomSourceSettings(rng);
    const model::SourceSettings p2 = Chance(rng, 30) ? plain : RandomSourceSettings(rng);
    model::TargetSettings t = RandomTargetSettings(rng, src1, src2, true);
    t.merge.fade1 = i % 4 == 1 || i % 4 == 3;
    t.merge.fade2 = i % 4 >= 2;
    if (Chance(rng, 80)) t.swing = 0;
    t.offsetX = Uniform(rng, -src2.width + 1, src1.width - 1);
    t.offsetY = Uniform(rng, -src2.height / 2, src1.height / 2);
    RunCase("wide case " + std::to_string(i), src1, p1, src2, p2, t);
    if (mismatches > 20) break;
  }
}

TEST_F(EngineModelTarget, TallPicturesLaidInWideStrips) {
  // Pictures more than 1024 rows high are laid in strips wider than the
  // usual 128 columns; the Target is the same, fading and projected or not.
  std::mt19937 rng(9001);
  for (int i = 0; i < 3; ++i) {
    const Picture src1 = RandomSource(rng, 24, Uniform(rng, 130, 180), Uniform(rng, 1030, 1060));
    const Picture src2 = RandomSource(rng, i == 2 ? 8 : 24, Uniform(rng, 130, 180), Uniform(rng, 1030, 1060));
    const model::SourceSettings plain;
    model::TargetSettings t = RandomTargetSettings(rng, src1, src2, true);
    t.merge.fade1 = i == 1;
    t.merge.fade2 = i != 1;
    t.swing = i == 0 ? 40 : 0;
    t.offsetX = Uniform(rng, 0, src1.width / 2);
    t.offsetY = Uniform(rng, -100, 100);
    RunCase("tall case " + std::to_string(i), src1, plain, src2, plain, t);
  }
}

TEST_F(EngineModelTarget, OneBitPath) {
  std::mt19937 rng(5513);
  for (int i = 0; i < 150; ++i) {
    const Picture src1 = RandomSource(rng, 1, Uniform(rng, 1, 40), Uniform(rng, 1, 40));
    const Picture src2 = RandomSource(rng, 1, Uniform(rng, 1, 40), Uniform(rng, 1, 40));
    const model::SourceSettings p1 = RandomSourceSettings(rng), p2 = RandomSourceSettings(rng);
    const model::TargetSettings t = RandomTargetSettings(rng, src1, src2, false);
    RunCase("1-bit case " + std::to_string(i), src1, p1, src2, p2, t);
    if (mismatches > 20) break;
  }
}

TEST_F(EngineModelTarget, EightBitPath) {
  std::mt19937 rng(5514);
  for (int i = 0; i < 220; ++i) {
    static const int kPairs[][2] = {{1, 4}, {4, 1}, {4, 4}};
    const auto& pair = kPairs[i % 3];
    // Few distinct channel values give duplicate colours; random ones give
    // more than 255 colours with two 16-entry tables.
    const bool few = Chance(rng, 50);
    const Picture src1 = RandomSource(rng, pair[0], Uniform(rng, 1, 40), Uniform(rng, 1, 40), few);
    const Picture src2 = RandomSource(rng, pair[1], Uniform(rng, 1, 40), Uniform(rng, 1, 40), few);
    const model::SourceSettings p1 = RandomSourceSettings(rng), p2 = RandomSourceSettings(rng);
    const model::TargetSettings t = RandomTargetSettings(rng, src1, src2, false);
    RunCase("8-bit case " + std::to_string(i), src1, p1, src2, p2, t);
    if (mismatches > 20) break;
  }
}

TEST_F(EngineModelTarget, TinyCanvasesWithProjection) {
  // One to three pixels a side: canvases 1 pixel wide or high, where the
  // projection's half width is 0.
  std::mt19937 rng(5516);
  static const int kDepths[] = {1, 4, 8, 16, 24, 32};
  for (int i = 0; i < 120; ++i) {
    const int b1 = kDepths[Uniform(rng, 0, 5)], b2 = kDepths[Uniform(rng, 0, 5)];
    const Picture src1 = RandomSource(rng, b1, Uniform(rng, 1, 3), Uniform(rng, 1, 3));
    const Picture src2 = RandomSource(rng, b2, Uniform(rng, 1, 3), Uniform(rng, 1, 3));
    const model::SourceSettings plain;
    model::TargetSettings t = RandomTargetSettings(rng, src1, src2, Chance(rng, 30));
    t.offsetX = Chance(rng, 60) ? 0 : Uniform(rng, -2, 2);
    t.offsetY = Chance(rng, 60) ? 0 : Uniform(rng, -2, 2);
    t.swing = Chance(rng, 20) ? 0 : Uniform(rng, 1, 180);
    RunCase("tiny case " + std::to_string(i), src1, plain, src2, plain, t);
    if (mismatches > 20) break;
  }
}

TEST_F(EngineModelTarget, EightBitPathWithMoreThan255Colours) {
  // Two full 16-entry tables of random colours, averaged: up to 288 distinct
  // colours, so some must take the nearest entry.
  std::mt19937 rng(5517);
  for (int i = 0; i < 60; ++i) {
    Picture src1 = RandomSource(rng, 4, Uniform(rng, 1, 40), Uniform(rng, 1, 40));
    Picture src2 = RandomSource(rng, 4, Uniform(rng, 1, 40), Uniform(rng, 1, 40));
    for (Picture* p : {&src1, &src2}) {
      p->clrUsed = Chance(rng, 50) ? 0 : 16;
      p->table.resize(16);
      for (auto& q : p->table) q = RandomQuad(rng, false);
    }
    const model::SourceSettings p1 = RandomSourceSettings(rng), p2 = RandomSourceSettings(rng);
    model::TargetSettings t = RandomTargetSettings(rng, src1, src2, false);
    t.merge.rule = Chance(rng, 85) ? 0 : Uniform(rng, 1, 2);
    t.contrast = Uniform(rng, 12, 24);
    t.brightness = Uniform(rng, 100, 156);
    RunCase("8-bit many-colour case " + std::to_string(i), src1, p1, src2, p2, t);
    if (mismatches > 20) break;
  }
}

TEST_F(EngineModelTarget, SwingBeyondTheSlider) {
  // Above 180 degrees cos(theta) turns negative toward the sides and rows
  // outside the canvas would be reached; such writes are skipped.
  std::mt19937 rng(5518);
  for (int i = 0; i < 60; ++i) {
    const Picture src1 = RandomSource(rng, 24, Uniform(rng, 1, 40), Uniform(rng, 1, 40));
    const Picture src2 = RandomSource(rng, Chance(rng, 50) ? 24 : 8, Uniform(rng, 1, 40), Uniform(rng, 1, 40));
    const model::SourceSettings plain;
    model::TargetSettings t = RandomTargetSettings(rng, src1, src2, true);
    t.swing = Uniform(rng, 181, 400);
    RunCase("wide swing case " + std::to_string(i), src1, plain, src2, plain, t);
    if (mismatches > 20) break;
  }
}

TEST_F(EngineModelTarget, GridOverFinishedTargetsOfEveryDepth) {
  std::mt19937 rng(5515);
  for (int i = 0; i < 90; ++i) {
    static const int kPairs[][2] = {{1, 1}, {1, 4}, {4, 4}, {24, 8}, {1, 1}, {4, 1}};
    const auto& pair = kPairs[i % 6];
    const Picture src1 = RandomSource(rng, pair[0], Uniform(rng, 1, 40), Uniform(rng, 1, 40), Chance(rng, 50));
    const Picture src2 = RandomSource(rng, pair[1], Uniform(rng, 1, 40), Uniform(rng, 1, 40), Chance(rng, 50));
    const model::SourceSettings plain;
    const model::TargetSettings t = RandomTargetSettings(rng, src1, src2, false);
    model::TargetSettings g = t;
    g.solidGrid = 1;
    g.dottedGrid = Chance(rng, 50);
    const uint8_t c = Chance(rng, 50) ? 255 : 0;
    g.gridColour = {c, c, c};
    RunCase("grid case " + std::to_string(i), src1, plain, src2, plain, t, &g);
    if (mismatches > 20) break;
  }
}

// ---- Merge operators and tone curve, called directly ----

TEST_F(EngineModelMerge, OperatorsWithBiasFadeAndPosition) {
  std::mt19937 rng(5521);
  int failures = 0;
  for (int i = 0; i < 4000 && failures < 20; ++i) {
    model::Placement g{};
    g.w1 = Uniform(rng, 1, 60), g.h1 = Uniform(rng, 1, 60), g.w2 = Uniform(rng, 1, 60), g.h2 = Uniform(rng, 1, 60);
    const int ox = Uniform(rng, -70, 70), oy = Uniform(rng, -70, 70);
    g.x1 = ox < 0 ? -ox : 0, g.x2 = ox < 0 ? 0 : ox;
    g.y1 = oy < 0 ? -oy : 0, g.y2 = oy < 0 ? 0 : oy;
    model::MergeSettings m;
    m.rule = Uniform(rng, 0, 2);
    m.bias = Uniform(rng, 0, 255);
    const int f = Uniform(rng, 0, 4);
    m.fade1 = f == 1 || f == 3;
    m.fade2 = f == 2 || f == 3;
    const TargetGeometry tg{g.x1, g.y1, g.w1, g.h1, g.x2, g.y2, g.w2, g.h2};
    const std::unique_ptr<MergeOperator> op = MakeMergeOperator(tg, {m.rule, m.bias, m.fade1 != 0, m.fade2 != 0});
    const model::Overlap o = model::OverlapOf(g);
    if (op->m_nOverlapWidth != o.width || op->m_nOverlapHeight != o.height || op->m_nOverlapLeft != o.left ||
        op->m_nOverlapTop != o.top) {
      ADD_FAILURE() << "overlap " << op->m_nOverlapLeft << "," << op->m_nOverlapTop << " " << op->m_nOverlapWidth
                    << "x" << op->m_nOverlapHeight << ", expected " << o.left << "," << o.top << " " << o.width << "x"
                    << o.height;
      ++failures;
    }
    for (int k = 0; k < 8; ++k) {
      // Positions inside and around the overlap (the projection reaches
      // beyond it).
      const int cx = Uniform(rng, -20, g.w2 + 20), cy = Uniform(rng, -40, g.h2 + 20);
      model::Colour a, b;
      if (Chance(rng, 15)) {
        const uint8_t v = static_cast<uint8_t>(Uniform(rng, 0, 255));
        a = b = {v, v, v};
      } else {
        a = {static_cast<uint8_t>(Uniform(rng, 0, 255)), static_cast<uint8_t>(Uniform(rng, 0, 255)),
             static_cast<uint8_t>(Uniform(rng, 0, 255))};
        b = {static_cast<uint8_t>(Uniform(rng, 0, 255)), static_cast<uint8_t>(Uniform(rng, 0, 255)),
             static_cast<uint8_t>(Uniform(rng, 0, 255))};
      }
      const model::Colour want = model::Merge(m, o, a, b, cx, cy);
      const MergePixel got = op->MergeAt({a.blue, a.green, a.red}, {b.blue, b.green, b.red}, cx, cy);
      if (got.blue != want.blue || got.green != want.green || got.red != want.red) {
        ADD_FAILURE() << "rule " << m.rule << " bias " << m.bias << " fade " << m.fade1 << m.fade2 << " overlap "
                      << o.left << "," << o.top << " " << o.width << "x" << o.height << " at (" << cx << ", " << cy
                      << ") a (" << int(a.blue) << "," << int(a.green) << "," << int(a.red) << ") b (" << int(b.blue)
                      << "," << int(b.green) << "," << int(b.red) << "): got (" << int(got.blue) << ","
                      << int(got.green) << "," << int(got.red) << "), expected (" << int(want.blue) << ","
                      << int(want.green) << "," << int(want.red) << ")";
        ++failures;
      }
    }
  }
}

TEST_F(EngineModelTone, EveryValueContrastAndBrightness) {
  int failures = 0;
  for (int k = 0; k <= 32; ++k)
    for (int b = 0; b <= 255; ++b)
      for (int v = 0; v <= 255; ++v)
        if (ToneCurve(v, k, b) != model::Tone(v, k, b) && ++failures <= 10)
          ADD_FAILURE() << "tone of " << v << " with contrast " << k << " brightness " << b << ": got "
                        << int(ToneCurve(v, k, b)) << ", expected " << int(model::Tone(v, k, b));
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace tessara
