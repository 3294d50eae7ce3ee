// Target generation as a plain operation: the two prepared sources (each with
// its record of sampled pixels) and the settings of the Target in, the Target
// (or a result code) out. CDestdoc::GenerateTarget runs its steps on the
// session's values, holding the canvas from its allocation on.
#pragma once

#include "engine/coverage.h"
#include "engine/merge.h"
#include "engine/session.h"
#include "engine/work_observer.h"
#include "image/dib.h"

namespace tessara {

// 24-bit rows of a picture, wherever they are held: stored row y (0 is the
// bottom) starts at origin + (y - firstRow) * step. A picture held whole has
// its bottom row first; a band of rows made from the top down steps
// backwards.
struct RowWindow {
  uint8_t* origin = nullptr;
  ptrdiff_t step = 0;
  int firstRow = 0;

  static RowWindow Of(Dib& d) { return {d.Bits(), static_cast<ptrdiff_t>(d.Stride()), 0}; }
  uint8_t* Row(int y) const { return origin + static_cast<ptrdiff_t>(y - firstRow) * step; }
  // The rows of a picture lying at column x, stored row y of these: its row
  // 0 is row y here.
  RowWindow Shifted(int x, int y) const { return {origin + 3 * static_cast<ptrdiff_t>(x), step, firstRow - y}; }
};

// A prepared source as generation reads it.
struct PreparedRef {
  const Dib& picture;
  const SampleCoverage& coverage;
};

// Everything a Target is built from besides the two pictures.
struct TargetSettings {
  // Where source 2 lies from source 1: columns right, stored rows up.
  int offsetX = 0;
  int offsetY = 0;
  MergeSettings merge;
  // Two 1-bit sources merge by AND on black instead of OR.
  bool monoAnd = false;
  // Tone curve (16 and 128 are neutral) and the cylindrical projection's angle.
  int contrast = session_default::kContrast;
  int brightness = session_default::kBrightness;
  int swing = 0;
  // The Target as shown, in percent of the canvas.
  int viewScaleX = session_default::kViewScale;
  int viewScaleY = session_default::kViewScale;
  // The depth the Target keeps when the depth rule does not choose one.
  int depth = session_default::kDepth;
  GridSettings grid;
};

// Source 2's exposure matched to source 1's: its channel values are
// multiplied by these gains. `pixels` tells how many overlap pixels they rest
// on; found is false when those were too few (the gains then stay 1).
struct ExposureGains {
  double blue = 1.0, green = 1.0, red = 1.0;
  int64_t pixels = 0;
  bool found = false;
};

enum class GenerateResult {
  kDone,
  kNoMemory,
  kStoppedInSource1,
  kStoppedInSource2,
};

// The canvas of a Target: where each source lies on it, its size, the depth
// and background byte it starts with, and its size as shown (times the view
// scales).
struct TargetPlan {
  TargetGeometry geometry{};
  int width = 1;
  int height = 1;
  int depth = 24;
  int background = 127;
  int shownWidth = 1;
  int shownHeight = 1;
};

// The canvas for two prepared sources of these sizes and depths.
TargetPlan PlanTarget(const Dib& source1, const Dib& source2, const TargetSettings& settings);
// The canvas filled with its background byte; null when it cannot be made (the
// caller tells the user).
DibPtr CreateTargetCanvas(const TargetPlan& plan);

// A pixel of source 1 that equals the background would read as empty canvas
// when source 2 is laid: laying source 1 gives it this colour instead, a shade
// beside the background (which is grey).
MergePixel NudgedBackground(int rule);
// Those pixels of a run of `count` 24-bit pixels changed so.
void NudgeBackground(uint8_t* pixels, int count, uint8_t background, int rule);
// Whether the tone curve leaves every value as it is.
bool ToneIsNeutral(int contrast, int brightness);

// Lays both sources onto the canvas by the path of the plan's depth, and for
// 24-bit Targets draws the grid. GenerateResult::kDone, or the source during which the
// observer asked to stop (only the 24-bit path polls); a stopped canvas holds
// part of the work and is to be thrown away.
// With settings.merge.matchExposure, source 2 is laid through gains matching
// it to source 1 (engine/exposure.h), which `gains` (when given) receives.
// With `source1OnCanvas`, the canvas is one CanvasOverSource1 made
// (engine/canvas_over_source.h): source 1's pixels are read where they lie on
// it (already nudged off the background when the tone curve is neutral), and
// source1.picture gives only its size.
GenerateResult LayTarget(PreparedRef source1, PreparedRef source2, const TargetSettings& settings,
                         const TargetPlan& plan, Dib& canvas, WorkObserver& observer, ExposureGains* gains = nullptr,
                         bool source1OnCanvas = false);

// Whether this Target can be laid a band of rows at a time (LayTargetBand):
// 24 bits, no projection, no exposure matching, no Blend and no grid, each of
// which reads or writes rows far from the one being laid.
bool CanLayTargetInBands(const TargetPlan& plan, const TargetSettings& settings);

// Lays stored rows [rowBegin, rowEnd) of a Target made a band at a time, the
// same bytes LayTarget gives those rows. Source 1 is a 24-bit picture that is
// its own prepared copy (every pixel sampled); `canvas` holds the band:
// source 1's own pixels where it lies, the plan's background elsewhere, and
// `source1Header` gives only source 1's size. Source 2 is read from `rows2`,
// 24-bit rows of it that include those falling in the band (in its own
// stored numbering), with `source2` giving only its size; or, without
// `rows2`, from `source2` itself, a prepared copy of any depth held whole.
// `coverage2` is source 2's record of sampled pixels (none: all sampled).
void LayTargetBand(const Dib& source1Header, const Dib& source2, const SampleCoverage& coverage2,
                   const RowWindow* rows2, const TargetSettings& settings, const TargetPlan& plan,
                   const RowWindow& canvas, int rowBegin, int rowEnd);

// Which pixels of a Target laid without projection came from a source (the
// rest is background): a canvas pixel counts where a source lies and sampled
// it. The record describes `target`, so the Target can go on as a prepared
// source of a further join, where its background then lets the next picture
// lie alone. Kept as one run a row: where the sources' runs on a row do not
// touch, the gap between them counts as covered.
SampleCoverage TargetCoverage(PreparedRef source1, PreparedRef source2, const TargetPlan& plan, const Dib& target);

struct GeneratedTarget {
  GenerateResult result = GenerateResult::kDone;
  // The Target, when result is kDone.
  DibPtr target;
  // The canvas, also when no Target was made.
  TargetPlan plan;
  // The gains source 2 was laid through, with settings.merge.matchExposure.
  ExposureGains gains;
};

// The three steps above in one: the Target for two prepared sources.
GeneratedTarget GenerateTargetPicture(PreparedRef source1, PreparedRef source2, const TargetSettings& settings,
                                      WorkObserver& observer);

// Draws the grid over the first `width` columns and `height` stored rows of a
// Target of any depth.
void DrawGridOver(Dib& target, const GridSettings& grid, int width, int height);

}  // namespace tessara
