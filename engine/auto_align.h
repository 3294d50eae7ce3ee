// Automatic alignment: finds where source 2 lies on source 1 (a similarity:
// turn, one scale, shift) from the two loaded pictures, and turns it into the
// session's own settings (offset, source 2's rotation in tenths of a degree and
// its scale in 1/1024), so that preparing and joining lay source 2 where the
// estimate says. The user can then correct the result by hand as usual.
//
// Coordinates are those of every picture here: column x, stored row y counted
// from the bottom, pixel centres on whole numbers.
#pragma once

#include <string>

#include "engine/prepare_source.h"
#include "engine/session.h"
#include "engine/work_observer.h"
#include "image/dib.h"

namespace tessara {

class CDestdoc;

namespace auto_align_text {
inline constexpr const char* kNoCommonDetail = "No common detail found: align the sources by hand.";
inline constexpr const char* kFinding = "Finding the alignment";
inline constexpr const char* kNoMemory = "Not enough memory to align the sources automatically.";
}  // namespace auto_align_text

// p1 = [[a, -b], [b, a]] p2 + (tx, ty): a point of source 2 to where the same
// detail lies in source 1.
struct Similarity {
  double a = 1.0, b = 0.0, tx = 0.0, ty = 0.0;
  void Apply(double x, double y, double& ox, double& oy) const {
    ox = a * x - b * y + tx;
    oy = b * x + a * y + ty;
  }
  double Scale() const;
};

// A general affine map: out = [[m00, m01], [m10, m11]] p + (m02, m12).
struct Affine2 {
  double m00 = 1, m01 = 0, m02 = 0, m10 = 0, m11 = 1, m12 = 0;
  void Apply(double x, double y, double& ox, double& oy) const {
    ox = m00 * x + m01 * y + m02;
    oy = m10 * x + m11 * y + m12;
  }
};

// The geometry settings of one source as the preparation takes them.
struct PrepareGeometry {
  int width = 1, height = 1, bits = 24;
  int scaleX = session_default::kScale, scaleY = session_default::kScale;
  double angle = 0.0;
  int cutCorners = session_default::kCutCorners;
  int mirror = 0;
};

// Where the preparation puts the detail at a source pixel position in its
// prepared copy: the exact inverse of its sampling (integer sine and cosine in
// 1/1024, rotation about the copy's centre). Nearest-sampled depths (1, 4, 8
// bits) show the pixel below the sampling position, half a pixel off on
// average once the copy is turned or scaled; that is taken into account.
Affine2 PreparedPlacement(const PrepareGeometry& g);

// Source 2's settings found.
struct AutoAlignPlacement {
  int offsetX = 0, offsetY = 0;
  int rotationTenths = 0;  // source 2's rotation in 0.1 degree
  int scale = 1024;        // source 2's scale in 1/1024, both axes
  double Rotation() const { return rotationTenths / 10.0; }
};

// The settings that lay source 2 (`g2`, of which only size, depth, cut-corners
// and mirror count) where `t` says, given source 1 as it is prepared (`g1`).
// The offset is exact at `refX, refY` in source 2 (the middle of the matched
// detail), where rounding the angle and scale matters least.
AutoAlignPlacement SettingsForSimilarity(const PrepareGeometry& g1, const PrepareGeometry& g2, const Similarity& t,
                                    double refX, double refY);
// The same for any affine estimate (a mirrored one, say).
AutoAlignPlacement SettingsForAffine(const PrepareGeometry& g1, const PrepareGeometry& g2, const Affine2& t, double refX,
                                double refY);

enum class AutoAlignStatus {
  kFound,
  kNotFound,
  kStopped,
  kMissing,
  kNoMemory,  // the working copies could not be had; `message` says how much was asked for
};

struct AutoAlignResult {
  AutoAlignStatus status = AutoAlignStatus::kMissing;
  Similarity estimate;      // source 2 -> source 1, raw pictures
  double refX = 0, refY = 0;  // middle of the agreeing matches in source 2
  int matches = 0;          // matches that passed the ratio test
  int inliers = 0;          // of those, how many agree on the estimate
  AutoAlignPlacement settings;
  // What to tell the user when the status is AutoAlignStatus::kNoMemory.
  std::string message;
};

// A result is trusted only when at least this many matches agree on one
// similarity and they are at least this share of the ratio-tested matches.
// Measured: unrelated photographs, noise and blank pictures give at most 4
// agreeing matches at any plausible scale (0.25 to 4); real pairs down to a 15 %
// overlap strip of a 300-pixel picture, turned 10 degrees and scaled 90 %, give
// 30 and more, at a share of 0.3 or more (text pages, with many look-alike
// letters, the lowest). 15 lies well between and still over-determines the
// four numbers of a similarity several times.
inline constexpr int kMinInliers = 15;
inline constexpr double kMinInlierShare = 0.2;
// A first estimate with this many agreeing matches earns a second look
// restricted to the overlap it predicts.
inline constexpr int kMinInliersToLookAgain = 8;

// Estimates source 2's placement relative to source 1 from two pictures (any
// depth the preparation takes). Progress and the stop check go through
// `observer`. Fills status, estimate, refX/refY, matches and inliers.
AutoAlignResult EstimateAlignment(const Dib& source1, const Dib& source2, WorkObserver& observer, bool mirrored);

// The whole operation on the loaded sources: estimate, then the settings for
// the session's current source 1 and source 2 preparation settings. Changes
// nothing in the session.
AutoAlignResult FindAutoAlignment(CDestdoc& session);

// Applies found settings as a hand alignment does: offset, source 2's rotation
// and scale set, the Target marked as needing an update, source 2 prepared
// again and the Align preview rebuilt. Returns the preparation's result.
PrepareResult ApplyAutoAlignment(CDestdoc& session, const AutoAlignPlacement& settings);

// The status-line text for a found alignment.
std::string DescribeAlignment(const AutoAlignResult& result);
// The tessara-join options that give source 2's placement:
// "--offset DX,DY --rotate2 A --scale2 S" (S as "SX,SY" when the axes differ;
// A with one decimal when it is a whole number of tenths).
std::string AlignmentOptions(int offsetX, int offsetY, double rotation2, int scale2X, int scale2Y);
std::string AlignmentOptions(const AutoAlignPlacement& settings);

}  // namespace tessara
