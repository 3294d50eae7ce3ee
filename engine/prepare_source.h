// Preparation of a source as a plain operation: a source picture and the
// settings of its copy in, the prepared copy with its record of sampled pixels
// (or a result code) out. CDestdoc::PrepareSource runs it on the session's
// values and keeps the result.
#pragma once

#include <memory>

#include "engine/coverage.h"
#include "engine/session.h"
#include "engine/work_observer.h"
#include "image/dib.h"

namespace tessara {

// Results of a preparation, and of the alignment changes that prepare: the
// four failures are the four explanations the Align Window can show
// (FailCodeLines), in this order.
enum class PrepareResult {
  kMissing = -1,  // no source to prepare
  kDone = 0,
  kNoMemory = 1,
  kUnknownFormat = 2,
  kRunLength = 3,
  kStopped = 4,
};
inline constexpr PrepareResult kPrepareMissing = PrepareResult::kMissing;
inline constexpr PrepareResult kPrepareDone = PrepareResult::kDone;
inline constexpr PrepareResult kPrepareNoMemory = PrepareResult::kNoMemory;
inline constexpr PrepareResult kPrepareUnknownFormat = PrepareResult::kUnknownFormat;
inline constexpr PrepareResult kPrepareRunLength = PrepareResult::kRunLength;
inline constexpr PrepareResult kPrepareStopped = PrepareResult::kStopped;

// How a source is copied: its scale in 1/1024 per axis (only the low 16 bits
// count, as a signed value), its rotation in degrees, a left-right mirror, and
// whether the corners a rotation pushes out are cut off (the copy keeps the
// scaled size) or kept (the copy grows to hold them).
struct SourceSettings {
  int scaleX = session_default::kScale;
  int scaleY = session_default::kScale;
  double rotation = 0.0;
  bool mirror = false;
  bool cutCorners = session_default::kCutCorners != 0;
};

// Whether the copy lies on its source pixel for pixel: full size, not turned,
// not mirrored (cutting corners then changes nothing).
inline bool CopiesAsItIs(const SourceSettings& s) {
  return static_cast<int16_t>(s.scaleX) == 1024 && static_cast<int16_t>(s.scaleY) == 1024 && s.rotation == 0.0 &&
         !s.mirror;
}

// Where the copy of a width x height source lies against it: the scaled size,
// the copy's size, the centring of the scaled source in the copy (in 1/1024 of
// a pixel) and the fixed-point terms of the rotation (1 - cos and sin, in
// 1/1024, negated sine for a mirror). The preparation samples by these
// numbers and automatic alignment inverts them, so both use this one
// function. `copyWidth` and `copyHeight` are the unrounded sizes, NaN or below
// 1 for a copy of nothing (the function then gives false and sets nothing
// else).
struct CopyGeometry {
  int64_t sw = 0, sh = 0;
  double copyWidth = 0.0, copyHeight = 0.0;
  int64_t nw = 0, nh = 0;
  int64_t ox = 0, oy = 0;
  int64_t cm = 0, sm = 0;
};
bool ComputeCopyGeometry(int width, int height, int scaleX, int scaleY, double rotation, bool cutCorners, bool mirror,
                         CopyGeometry& g);

struct PreparedSource {
  PrepareResult result = kPrepareDone;
  // The copy and the record of its sampled pixels, when result is kPrepareDone.
  DibPtr picture;
  SampleCoverage coverage;
  // Set when the copy was refused for being larger than any picture can be, or
  // its memory could not be had: the user is told of a lack of memory.
  bool tooLarge = false;
  // Then why, as a sentence for the user (the copy's size against the limits,
  // or the memory asked for).
  std::string why;
};

// Makes the prepared copy of `source`: scaled, mirrored and rotated in one
// resampling pass. 1-, 4- and 8-bit sources keep their depth and colour table;
// 16-, 24- and 32-bit ones give 24 bits.
// `spentSource`, when given, is `source` itself, which nobody reads after
// this: the pages of its rows that the copy no longer needs move into the
// copy's rows still to be written (memory used once instead of fresh pages),
// and are empty in the source afterwards (also when the preparation stops).
PreparedSource PrepareSourceCopy(const Dib& source, const SourceSettings& settings, WorkObserver& observer,
                                 Dib* spentSource = nullptr);

// The prepared copy of a 24-bit source made a row at a time from the top, out
// of a ring of the source's rows decoded from the top (joins made a band at a
// time): the rows PrepareSourceCopy makes, with their runs of sampled pixels.
class CopyRowMaker {
 public:
  // For a 24-bit source of width x height. Ok() is false when its copy cannot
  // be made so: a copy of nothing or one too large, or a source turned past a
  // right angle (whose rows are then not read from the top down).
  CopyRowMaker(int width, int height, const SourceSettings& settings);
  ~CopyRowMaker();
  CopyRowMaker(const CopyRowMaker&) = delete;
  CopyRowMaker& operator=(const CopyRowMaker&) = delete;

  bool Ok() const;
  // The copy's size.
  int Width() const;
  int Height() const;
  // The source's stored rows that copy rows [low, high] read, [first, last]
  // within the source; false when they read none. Lower copy rows read lower
  // source rows.
  bool RowsRead(int low, int high, int& first, int& last) const;
  // Copy row y, 3 x Width() bytes at `row`, from a ring of `slots` source rows
  // of `stride` bytes at `ring`: source row r lies in slot
  // (height - 1 - r) mod slots, and must be there for every row RowsRead
  // names for y.
  SampleCoverage::Run Make(int y, uint8_t* row, const uint8_t* ring, size_t stride, int slots) const;

 private:
  struct Plan;
  std::unique_ptr<Plan> m_pPlan;
};

}  // namespace tessara
