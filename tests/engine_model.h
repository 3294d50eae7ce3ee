// A plain, pixel-by-pixel model of the engine's picture operations, written
// straight from the documented arithmetic and kept deliberately naive: source
// preparation (scale, mirror, rotation), Target generation on its 1-, 8- and
// 24-bit paths, the merge operators with bias and fade, the tone curve, the
// cylindrical projection and the grid lines.
//
// The model works on its own picture record (header values, colour table,
// masks and raw pixel rows) and never on the engine's classes, so that tests can
// compare the engine's results with it byte for byte.
//
// Coordinates are stored-row coordinates, as everywhere in the program: row 0
// is the first stored row, the bottom of the picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessara::model {

struct Quad {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
  uint8_t reserved = 0;
  bool operator==(const Quad&) const = default;
};

struct Colour {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
  bool operator==(const Colour&) const = default;
};

// One picture: the header values that matter, the colour table as stored, the
// bit-field masks, and the pixel rows (bottom row first, each padded to a
// multiple of 4 bytes).
struct Picture {
  int width = 0;
  int height = 0;
  int bitCount = 0;
  uint32_t compression = 0;
  uint32_t clrUsed = 0;
  std::vector<Quad> table;
  // Red, green, blue masks as stored after the header (16 and 32 bits with
  // compression 3).
  uint32_t masks[3] = {0, 0, 0};
  std::vector<uint8_t> rows;
  // A prepared copy's record of which pixels got a sample from their source:
  // one byte a pixel, row after row (bottom row first). Empty: every pixel did.
  std::vector<uint8_t> sampled;

  bool Sampled(int x, int y) const {
    return sampled.empty() || sampled[static_cast<size_t>(y) * width + x] != 0;
  }

  static int StrideFor(int width, int bitCount);
  // Colour-table entries stored for a depth and biClrUsed value.
  static int TableEntriesFor(int bitCount, uint32_t clrUsed);
  int Stride() const { return StrideFor(width, bitCount); }
  // Bytes of a row that hold pixels; the rest of the stride is padding.
  int UsedBytes() const;
  uint8_t* Row(int y) { return rows.data() + static_cast<size_t>(y) * Stride(); }
  const uint8_t* Row(int y) const { return rows.data() + static_cast<size_t>(y) * Stride(); }

  // Palette index (1, 4 and 8 bits) or the raw bit (1 bit).
  int Index(int x, int y) const;
  void SetIndex(int x, int y, int index);
  // The colour a pixel cursor leaves after a read at (x, y), for every depth.
  Colour ReadColour(int x, int y) const;
  // 24 bits only.
  void WriteColour(int x, int y, Colour c);
  // What a cursor's destruction does: the pad bytes of every row become 0.
  void ClearPadding();
};

// A new picture as the program makes one: every table and row byte is the low
// byte of `fill`; indexed depths get 2^bits table entries.
Picture MakePicture(int fill, int bitCount, int width, int height);

// Tone curve of one channel value (contrast K, brightness B).
uint8_t Tone(int v, int contrast, int brightness);
Colour Tone(Colour c, int contrast, int brightness);

// ---- Source preparation ----

struct SourceSettings {
  int scaleX = 1024;
  int scaleY = 1024;
  int mirror = 0;
  double rotation = 0.0;
  int cutCorners = 1;
};

struct PrepareOutcome {
  int result = 0;
  Picture picture;  // valid when result is 0
};

PrepareOutcome PrepareSource(const Picture& source, const SourceSettings& settings);

// ---- Merge operators ----

struct Placement {
  int x1, y1, w1, h1;
  int x2, y2, w2, h2;
};

struct Overlap {
  int width = 0;
  int height = 0;
  int left = 0;
  int top = 0;
};

Overlap OverlapOf(const Placement& p);

struct MergeSettings {
  int rule = 0;  // 0 Average, 1 Greatest, 2 Least
  int bias = 128;
  int fade1 = 0;
  int fade2 = 0;
};

double FadeWeight(const Overlap& o, int curX, int curY);
double Luminance(Colour p);
// a: the pixel from source 1, b: the pixel from source 2; (curX, curY): the
// position being laid, in source 2's coordinates.
Colour Merge(const MergeSettings& m, const Overlap& o, Colour a, Colour b, int curX, int curY);

// ---- Target generation ----

struct TargetSettings {
  int offsetX = 0;
  int offsetY = 0;
  MergeSettings merge;
  int monoAnd = 0;
  int contrast = 16;
  int brightness = 128;
  int swing = 0;
  int solidGrid = 0;
  int dottedGrid = 0;
  int solidX = 100;
  int solidY = 100;
  int dotX = 10;
  int dotY = 10;
  Colour gridColour;
};

struct TargetOutcome {
  int result = 0;
  Picture target;
  int targetWidth = 1;
  int targetHeight = 1;
  // Pixels the projection would have put outside the canvas (skipped).
  long skippedWrites = 0;
  // 8 bits: distinct colours left after removing duplicates, and how many
  // removed duplicates there were.
  int distinctColours = 0;
  int duplicates = 0;
};

// Source pictures are the prepared ones (1, 4, 8 or 24 bits); null when missing.
TargetOutcome GenerateTarget(const Picture* source1, const Picture* source2, const TargetSettings& settings);

// Grid lines over a Target of any depth, covering width x height pixels.
void DrawGrid(Picture& target, const TargetSettings& settings, int width, int height);

// The entry 0..254 of `table` nearest to `c` (summed squared differences of
// blue, green and red; the lowest index on a tie).
int NearestEntry(const std::vector<Quad>& table, Colour c);

// ---- Comparison ----

// Empty when `got` equals `want` in header values, colour table and pixels;
// otherwise a description of the first difference.
std::string FirstDifference(const Picture& want, const Picture& got);
// The same for what lies beyond the pixels in each row: the unused bits of a
// 1- or 4-bit row's last byte and the pad bytes.
std::string PaddingDifference(const Picture& want, const Picture& got);

}  // namespace tessara::model
