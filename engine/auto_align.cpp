// Automatic alignment. The vision work is OpenCV's: ORB features on reduced
// grey copies, ratio-tested matches, a RANSAC similarity fit, then phase
// correlation of patches at full resolution to bring the placement to a
// fraction of a pixel. The conversion to settings follows the preparation's own
// integer arithmetic, so the settings found lay source 2 where the estimate says.
#include "engine/auto_align.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/core/ocl.hpp>

#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "engine/prepare_source.h"
#include "engine/tessara_doc.h"
#include "framework/registry.h"
#include "framework/user_interface.h"
#include "image/bmp_layout.h"
#include "image/packed_row.h"
#include "image/picture_memory.h"

namespace tessara {

double Similarity::Scale() const { return std::sqrt(a * a + b * b); }

namespace {

// The integer quantities the preparation derives from a source's settings.
struct PrepareNumbers {
  int64_t sw, sh, nw, nh, ox, oy, cm, sm, cx, cy;
};

bool ComputeNumbers(const PrepareGeometry& g, PrepareNumbers& n) {
  CopyGeometry c;
  if (!ComputeCopyGeometry(g.width, g.height, g.scaleX, g.scaleY, g.angle, g.cutCorners, g.mirror, c)) return false;
  if (c.copyWidth > 1e9 || c.copyHeight > 1e9) return false;
  n = {c.sw, c.sh, c.nw, c.nh, c.ox, c.oy, c.cm, c.sm, c.nw / 2, c.nh / 2};
  return true;
}

Affine2 Compose(const Affine2& f, const Affine2& g) {  // f after g
  Affine2 r;
  r.m00 = f.m00 * g.m00 + f.m01 * g.m10;
  r.m01 = f.m00 * g.m01 + f.m01 * g.m11;
  r.m10 = f.m10 * g.m00 + f.m11 * g.m10;
  r.m11 = f.m10 * g.m01 + f.m11 * g.m11;
  r.m02 = f.m00 * g.m02 + f.m01 * g.m12 + f.m02;
  r.m12 = f.m10 * g.m02 + f.m11 * g.m12 + f.m12;
  return r;
}

Affine2 FromSimilarity(const Similarity& s) { return {s.a, -s.b, s.tx, s.b, s.a, s.ty}; }

// One grey copy of a picture as the preparation reads it (stored rows in
// order, so row 0 is the bottom); mirrored left to right when asked. Empty
// for a picture the preparation would refuse.
cv::Mat GreyCopy(const Dib& dib, bool mirror) {
  if (dib.Size() < sizeof(BITMAPINFOHEADER) || !DibFitsBlock(dib)) return {};
  const int bits = dib.BitCount();
  const uint32_t comp = dib.Header().biCompression;
  const int width = dib.Width();
  const int height = std::abs(dib.Height());
  if (width < 1 || height < 1) return {};
  cv::Mat grey(height, width, CV_8U);
  if (bits == 24 || bits == 32) {
    if (comp != BI_RGB && comp != BI_BITFIELDS) return {};
    const cv::Mat rows(height, width, bits == 24 ? CV_8UC3 : CV_8UC4, const_cast<uint8_t*>(dib.Bits()), dib.Stride());
    cv::cvtColor(rows, grey, bits == 24 ? cv::COLOR_BGR2GRAY : cv::COLOR_BGRA2GRAY);
  } else if (bits == 1 || bits == 4 || bits == 8) {
    if (comp != BI_RGB) return {};
    uint8_t lut[256] = {};
    const int64_t have = DibColorTableBytes(dib.Header()) / 4;
    for (int i = 0; i < (1 << bits) && i < have; ++i) {
      const RGBQUAD& q = dib.ColorTable()[i];
      lut[i] = static_cast<uint8_t>((29 * q.rgbBlue + 150 * q.rgbGreen + 77 * q.rgbRed) >> 8);
    }
    for (int y = 0; y < height; ++y) {
      const uint8_t* r = dib.Row(y);
      uint8_t* out = grey.ptr<uint8_t>(y);
      for (int x = 0; x < width; ++x) {
        out[x] = lut[PackedIndex(r, x, bits)];
      }
    }
  } else if (bits == 16) {
    // Read as the bitmap's own reading shows them.
    std::array<uint32_t, 3> mask = {0x7C00, 0x03E0, 0x001F};  // red, green, blue
    if (comp == BI_BITFIELDS) mask = ReadBmpMasks(dib.Data(), 40);
    else if (comp != BI_RGB) return {};
    const int shift[3] = {Mask16Shift(mask[0]), Mask16Shift(mask[1]), Mask16Shift(mask[2])};
    for (int y = 0; y < height; ++y) {
      const uint8_t* r = dib.Row(y);
      uint8_t* out = grey.ptr<uint8_t>(y);
      for (int x = 0; x < width; ++x) {
        const uint32_t v = r[2 * x] | (r[2 * x + 1] << 8);
        int c[3];
        for (int i = 0; i < 3; ++i) c[i] = Mask16Channel(v, mask[i], shift[i]);
        out[x] = static_cast<uint8_t>((77 * c[0] + 150 * c[1] + 29 * c[2]) >> 8);
      }
    }
  } else {
    return {};
  }
  if (mirror) cv::flip(grey, grey, 1);
  return grey;
}

// Least-squares similarity taking points p to points q.
Similarity FitSimilarity(const std::vector<cv::Point2d>& p, const std::vector<cv::Point2d>& q) {
  cv::Point2d mp(0, 0), mq(0, 0);
  for (size_t i = 0; i < p.size(); ++i) mp += p[i], mq += q[i];
  mp *= 1.0 / p.size();
  mq *= 1.0 / q.size();
  double sa = 0, sb = 0, sn = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    const cv::Point2d u = p[i] - mp, v = q[i] - mq;
    sa += u.x * v.x + u.y * v.y;
    sb += u.x * v.y - u.y * v.x;
    sn += u.x * u.x + u.y * u.y;
  }
  Similarity s;
  s.a = sa / sn;
  s.b = sb / sn;
  s.tx = mq.x - (s.a * mp.x - s.b * mp.y);
  s.ty = mq.y - (s.b * mp.x + s.a * mp.y);
  return s;
}

Similarity Invert(const Similarity& s) {
  const double d = s.a * s.a + s.b * s.b;
  Similarity r;
  r.a = s.a / d;
  r.b = -s.b / d;
  r.tx = -(r.a * s.tx - r.b * s.ty);
  r.ty = -(r.b * s.tx + r.a * s.ty);
  return r;
}

// Brings the estimate to a fraction of a pixel: patches of source 1 around
// the matched detail are compared by phase correlation with source 2 sampled
// through the estimate. Several patches far apart correct turn and scale too;
// otherwise only the shift is corrected. Returns how many patches agreed.
int RefineAtFullResolution(const cv::Mat& grey1, const cv::Mat& grey2, const std::vector<cv::Point2d>& points1,
                           Similarity& t) {
  const Similarity inv = Invert(t);
  auto inside = [](double x, double y, const cv::Mat& m) {
    return x >= 0 && y >= 0 && x <= m.cols - 1 && y <= m.rows - 1;
  };
  for (int r : {128, 64, 32, 16}) {
    std::vector<cv::Point2d> feasible;
    for (const cv::Point2d& c : points1) {
      const double x0 = std::round(c.x) - r, y0 = std::round(c.y) - r;
      if (x0 < 0 || y0 < 0 || x0 + 2 * r > grey1.cols || y0 + 2 * r > grey1.rows) continue;
      bool ok = true;
      for (int k = 0; k < 4 && ok; ++k) {
        double u, v;
        inv.Apply(x0 + (k & 1) * (2 * r - 1), y0 + (k >> 1) * (2 * r - 1), u, v);
        ok = inside(u, v, grey2);
      }
      if (ok) feasible.push_back({x0, y0});
    }
    if (feasible.empty()) continue;
    // Patches spread over the matched area: each next one farthest from
    // those taken.
    std::vector<cv::Point2d> chosen{feasible[feasible.size() / 2]};
    while (chosen.size() < 6) {
      double best = -1;
      cv::Point2d pick;
      for (const cv::Point2d& f : feasible) {
        double d = 1e300;
        for (const cv::Point2d& c : chosen) d = std::min(d, cv::norm(f - c));
        if (d > best) best = d, pick = f;
      }
      if (best < r) break;
      chosen.push_back(pick);
    }
    cv::Mat window;
    cv::createHanningWindow(window, cv::Size(2 * r, 2 * r), CV_32F);
    std::vector<cv::Point2d> from, to, shifts;
    for (const cv::Point2d& o : chosen) {
      cv::Mat patch1, patch2;
      grey1(cv::Rect(static_cast<int>(o.x), static_cast<int>(o.y), 2 * r, 2 * r)).convertTo(patch1, CV_32F);
      // Patch pixel (u, v) is source 1 pixel (o.x + u, o.y + v), taken from
      // source 2 at the estimate's inverse.
      const double m[6] = {inv.a, -inv.b, inv.a * o.x - inv.b * o.y + inv.tx,
                           inv.b, inv.a,  inv.b * o.x + inv.a * o.y + inv.ty};
      cv::warpAffine(grey2, patch2, cv::Mat(2, 3, CV_64F, const_cast<double*>(m)), cv::Size(2 * r, 2 * r),
                     cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
      patch2.convertTo(patch2, CV_32F);
      double response = 0;
      const cv::Point2d d = cv::phaseCorrelate(patch1, patch2, window, &response);
      if (response < 0.05 || std::fabs(d.x) > r / 2.0 || std::fabs(d.y) > r / 2.0) continue;
      // The detail at source 1's patch position q - d shows at q in source
      // 2's sampled patch.
      const cv::Point2d centre(o.x + r - 0.5, o.y + r - 0.5);
      double u, v;
      inv.Apply(centre.x, centre.y, u, v);
      from.push_back({u, v});
      to.push_back(centre - d);
      shifts.push_back(d);
    }
    if (from.empty()) continue;
    double spread = 0;
    for (const cv::Point2d& a : to)
      for (const cv::Point2d& b : to) spread = std::max(spread, cv::norm(a - b));
    if (from.size() >= 3 && spread >= 6 * r) {
      t = FitSimilarity(from, to);
    } else {
      cv::Point2d mean(0, 0);
      for (const cv::Point2d& d : shifts) mean += d;
      mean *= 1.0 / shifts.size();
      t.tx -= mean.x;
      t.ty -= mean.y;
    }
    return static_cast<int>(from.size());
  }
  return 0;
}

}  // namespace

Affine2 PreparedPlacement(const PrepareGeometry& g) {
  PrepareNumbers n{};
  if (!ComputeNumbers(g, n)) return {};
  const double f = g.mirror ? -1.0 : 1.0;
  // The preparation samples source position S^-1 (K (q - c) + 1024 c - o) for
  // copy pixel q; the placement is its inverse.
  const double k00 = f * (1024 - n.cm), k01 = static_cast<double>(-n.sm);
  const double k10 = f * n.sm, k11 = static_cast<double>(1024 - n.cm);
  const double det = k00 * k11 - k01 * k10;
  const double i00 = k11 / det, i01 = -k01 / det, i10 = -k10 / det, i11 = k00 / det;
  // Nearest sampling shows source pixel r wherever the position falls in
  // [r, r + 1): the detail of r sits half a pixel further on, unless every
  // position falls exactly on a pixel.
  const bool nearest = g.bits <= 8;
  const bool wholeX = n.cm == 0 && n.sm == 0 && g.scaleX == 1024 && n.ox % 1024 == 0;
  const bool wholeY = n.cm == 0 && n.sm == 0 && g.scaleY == 1024 && n.oy % 1024 == 0;
  const double dx = nearest && !wholeX ? 0.5 : 0.0, dy = nearest && !wholeY ? 0.5 : 0.0;
  const double sx = g.scaleX, sy = g.scaleY;
  const double bx = sx * dx - 1024.0 * n.cx + n.ox, by = sy * dy - 1024.0 * n.cy + n.oy;
  Affine2 a;
  a.m00 = i00 * sx;
  a.m01 = i01 * sy;
  a.m10 = i10 * sx;
  a.m11 = i11 * sy;
  a.m02 = n.cx + i00 * bx + i01 * by;
  a.m12 = n.cy + i10 * bx + i11 * by;
  return a;
}

AutoAlignPlacement SettingsForAffine(const PrepareGeometry& g1, const PrepareGeometry& g2, const Affine2& t, double refX,
                                double refY) {
  const Affine2 f1 = PreparedPlacement(g1);
  // Where source 2's copy must be: source 1's placement after the estimate.
  const Affine2 want = Compose(f1, t);
  const double det = want.m00 * want.m11 - want.m01 * want.m10;
  const double k = std::sqrt(std::fabs(det));
  // Source 2's copy turns by -angle (mirrored: reflects about a turned axis).
  const double angle =
      g2.mirror ? std::atan2(want.m10 + want.m01, want.m11 - want.m00) : std::atan2(want.m01 - want.m10, want.m00 + want.m11);
  const int tenths0 = static_cast<int>(std::lround(angle / kDegToRad * 10));
  const int scale0 = static_cast<int>(std::lround(k * 1024));
  // The nearest whole steps, checked against the preparation's exact numbers.
  AutoAlignPlacement best;
  double bestErr = 1e300;
  PrepareGeometry g = g2;
  for (int dt = -1; dt <= 1; ++dt)
    for (int ds = -1; ds <= 1; ++ds) {
      int tenths = tenths0 + dt;
      if (tenths > 1800) tenths -= 3600;
      if (tenths <= -1800) tenths += 3600;
      const int scale = std::clamp(scale0 + ds, 1, 32767);
      g.angle = tenths / 10.0;
      g.scaleX = g.scaleY = scale;
      const Affine2 f2 = PreparedPlacement(g);
      const double err = std::pow(f2.m00 - want.m00, 2) + std::pow(f2.m01 - want.m01, 2) +
                         std::pow(f2.m10 - want.m10, 2) + std::pow(f2.m11 - want.m11, 2);
      if (err < bestErr) bestErr = err, best.rotationTenths = tenths, best.scale = scale;
    }
  g.angle = best.Rotation();
  g.scaleX = g.scaleY = best.scale;
  const Affine2 f2 = PreparedPlacement(g);
  double wx, wy, hx, hy;
  want.Apply(refX, refY, wx, wy);
  f2.Apply(refX, refY, hx, hy);
  best.offsetX = static_cast<int>(std::clamp(std::floor(wx - hx + 0.5), -1e9, 1e9));
  best.offsetY = static_cast<int>(std::clamp(std::floor(wy - hy + 0.5), -1e9, 1e9));
  return best;
}

AutoAlignPlacement SettingsForSimilarity(const PrepareGeometry& g1, const PrepareGeometry& g2, const Similarity& t,
                                    double refX, double refY) {
  return SettingsForAffine(g1, g2, FromSimilarity(t), refX, refY);
}

namespace {

// Reports how far the estimate has come and reads the stop keys: true when the
// user chose to stop.
class AlignProgress {
 public:
  explicit AlignProgress(WorkObserver& observer) : m_observer(observer) {}
  bool operator()(int percent) const {
    m_observer.Progress(percent);
    return m_observer.StopRequested();
  }

 private:
  WorkObserver& m_observer;
};

// Matched feature positions on the reduced copies and the similarity most of
// them agree on (the model maps source 2 onto source 1).
struct FeatureFit {
  std::vector<cv::Point2f> pts1, pts2;
  std::vector<uchar> mask;
  cv::Mat model;
  int inliers = 0;
};

cv::Mat Reduced(const cv::Mat& m, double f) {
  if (f == 1.0) return m;
  cv::Mat out;
  cv::resize(m, out, cv::Size(), f, f, f < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
  return out;
}

// Features and ratio-tested matches (each match's best candidate clearly
// better than its second best), then the similarity most of them agree on.
// Progress runs from `from` to `to`; false when stopped.
bool MatchAndFit(cv::ORB& orb, const cv::Mat& small1, const cv::Mat& small2, const cv::Mat& mask1,
                 const cv::Mat& mask2, int from, int to, const AlignProgress& step, FeatureFit& out) {
  std::vector<cv::KeyPoint> kp1, kp2;
  cv::Mat d1, d2;
  orb.detectAndCompute(small1, mask1, kp1, d1);
  if (step(from + (to - from) / 3)) return false;
  orb.detectAndCompute(small2, mask2, kp2, d2);
  if (step(from + 2 * (to - from) / 3)) return false;
  if (kp1.size() >= 2 && kp2.size() >= 2) {
    std::vector<std::vector<cv::DMatch>> knn;
    cv::BFMatcher(cv::NORM_HAMMING).knnMatch(d2, d1, knn, 2);
    for (const auto& m : knn) {
      if (m.size() < 2 || m[0].distance >= 0.8f * m[1].distance) continue;
      out.pts2.push_back(kp2[m[0].queryIdx].pt);
      out.pts1.push_back(kp1[m[0].trainIdx].pt);
    }
  }
  if (out.pts1.size() >= 3) {
    out.model = cv::estimateAffinePartial2D(out.pts2, out.pts1, out.mask, cv::RANSAC, 3.0, 4000, 0.995, 10);
    if (!out.model.empty()) out.inliers = cv::countNonZero(out.mask);
  }
  return !step(to);
}

// A fit is a candidate only at a scale a join can have: matches of unrelated
// pictures "agree" most easily on a model that shrinks everything to a point.
bool Plausible(const FeatureFit& f) {
  if (f.model.empty()) return false;
  const double k = std::hypot(f.model.at<double>(0, 0), f.model.at<double>(1, 0));
  return k > 0.25 && k < 4.0;
}

// Marks in `into` where a picture the size of `of` lands under `m`, widened a
// little.
void MarkOutline(const cv::Mat& m, const cv::Mat& of, cv::Mat& into) {
  const cv::Point2d corners[4] = {{0, 0}, {of.cols - 1.0, 0}, {of.cols - 1.0, of.rows - 1.0}, {0, of.rows - 1.0}};
  std::vector<cv::Point> poly;
  for (const cv::Point2d& c : corners)
    poly.emplace_back(cvRound(m.at<double>(0, 0) * c.x + m.at<double>(0, 1) * c.y + m.at<double>(0, 2)),
                      cvRound(m.at<double>(1, 0) * c.x + m.at<double>(1, 1) * c.y + m.at<double>(1, 2)));
  cv::fillConvexPoly(into, poly, cv::Scalar(255));
  cv::dilate(into, into, cv::Mat(), cv::Point(-1, -1), 16);
}

// A second look only where the pictures overlap by the first estimate: more
// features there and fewer look-alikes elsewhere, which matters when the
// overlap is a narrow strip. False when stopped.
bool LookAgainInOverlap(cv::ORB& orb, const cv::Mat& small1, const cv::Mat& small2, const FeatureFit& first,
                        const AlignProgress& step, FeatureFit& second) {
  if (!Plausible(first) || first.inliers < kMinInliersToLookAgain) return true;
  cv::Mat mask1 = cv::Mat::zeros(small1.size(), CV_8U), mask2 = cv::Mat::zeros(small2.size(), CV_8U);
  cv::Mat inverse;
  cv::invertAffineTransform(first.model, inverse);
  MarkOutline(first.model, small2, mask1);
  MarkOutline(inverse, small1, mask2);
  if (cv::countNonZero(mask1) == 0 || cv::countNonZero(mask2) == 0) return true;
  return MatchAndFit(orb, small1, small2, mask1, mask2, 60, 75, step, second);
}

// The second look counts only where it confirms the first: the same turn,
// scale and place (at the centre of source 2) within a few pixels.
bool FitsAgree(const FeatureFit& a, const FeatureFit& b, const cv::Mat& small2) {
  if (!Plausible(a) || !Plausible(b)) return false;
  const double cx = small2.cols / 2.0, cy = small2.rows / 2.0;
  const cv::Mat& m = a.model;
  const cv::Mat& n = b.model;
  const double dx = (m.at<double>(0, 0) - n.at<double>(0, 0)) * cx + (m.at<double>(0, 1) - n.at<double>(0, 1)) * cy +
                    m.at<double>(0, 2) - n.at<double>(0, 2);
  const double dy = (m.at<double>(1, 0) - n.at<double>(1, 0)) * cx + (m.at<double>(1, 1) - n.at<double>(1, 1)) * cy +
                    m.at<double>(1, 2) - n.at<double>(1, 2);
  return std::hypot(dx, dy) < 8 &&
         std::hypot(m.at<double>(0, 0) - n.at<double>(0, 0), m.at<double>(1, 0) - n.at<double>(1, 0)) < 0.03;
}

// From reduced-copy pixels (x' = (x + 0.5) f - 0.5) back to full pictures.
Similarity FullSizeSimilarity(const cv::Mat& fit, double f) {
  Similarity t;
  t.a = fit.at<double>(0, 0);
  t.b = fit.at<double>(1, 0);
  const double c = (0.5 * f - 0.5);
  const double tx = fit.at<double>(0, 2), ty = fit.at<double>(1, 2);
  t.tx = (t.a * c - t.b * c + tx + 0.5) / f - 0.5;
  t.ty = (t.b * c + t.a * c + ty + 0.5) / f - 0.5;
  return t;
}

// The inlier matches at full size: their places on source 1 under `t`, and
// the mean of their places on source 2 (the point the placement is fitted at).
std::vector<cv::Point2d> FullSizeInliers(const FeatureFit& fit, const Similarity& t, double f, double& refX,
                                         double& refY) {
  std::vector<cv::Point2d> inliers1;
  double rx = 0, ry = 0;
  for (size_t i = 0; i < fit.mask.size(); ++i) {
    if (!fit.mask[i]) continue;
    const double x2 = (fit.pts2[i].x + 0.5) / f - 0.5, y2 = (fit.pts2[i].y + 0.5) / f - 0.5;
    rx += x2, ry += y2;
    double x1, y1;
    t.Apply(x2, y2, x1, y1);
    inliers1.push_back({x1, y1});
  }
  refX = rx / fit.inliers;
  refY = ry / fit.inliers;
  return inliers1;
}

}  // namespace

AutoAlignResult EstimateAlignment(const Dib& source1, const Dib& source2, WorkObserver& observer, bool mirrored) {
  // The detectors run on the processor. Left to itself OpenCV would load the
  // machine's OpenCL drivers the first time it looks for a graphics card:
  // slow, different from machine to machine, and a library in the process
  // that nothing here needs.
  static const bool noOpenCl = [] {
    cv::ocl::setUseOpenCL(false);
    return true;
  }();
  (void)noOpenCl;
  AutoAlignResult result;
  observer.Stage(WorkStage::kStoppable);
  observer.Stage(WorkStage::kFindingAlignment);
  auto finish = [&](AutoAlignStatus status) {
    observer.Stage(WorkStage::kNone);
    observer.Progress(100);
    result.status = status;
    return result;
  };
  // Grey copies of both pictures at full size come first: their memory is
  // asked of the system before, as past what it has the kernel would end the
  // program instead of refusing.
  const uint64_t greyBytes =
      static_cast<uint64_t>(std::max(source1.Width(), 0)) * static_cast<uint64_t>(std::abs(source1.Height())) +
      static_cast<uint64_t>(std::max(source2.Width(), 0)) * static_cast<uint64_t>(std::abs(source2.Height()));
  if (!MemoryAtHand(greyBytes)) {
    result.message = std::string(auto_align_text::kNoMemory) + " " + MemoryAskedText(greyBytes);
    return finish(AutoAlignStatus::kNoMemory);
  }
  const AlignProgress step(observer);
  const cv::Mat grey1 = GreyCopy(source1, false);
  if (step(10)) return finish(AutoAlignStatus::kStopped);
  const cv::Mat grey2 = GreyCopy(source2, mirrored);
  if (grey1.empty() || grey2.empty()) return finish(AutoAlignStatus::kMissing);
  if (step(20)) return finish(AutoAlignStatus::kStopped);

  // Features on copies of about 1200 pixels across (small pictures doubled,
  // so that detail near their edges still counts).
  const int longest = std::max({grey1.cols, grey1.rows, grey2.cols, grey2.rows});
  const double f = std::min(2.0, 1200.0 / longest);
  const cv::Mat small1 = Reduced(grey1, f), small2 = Reduced(grey2, f);
  if (step(30)) return finish(AutoAlignStatus::kStopped);

  cv::Ptr<cv::ORB> orb = cv::ORB::create(5000, 1.2f, 8, 12, 0, 2, cv::ORB::HARRIS_SCORE, 31, 7);
  FeatureFit first, second;
  if (!MatchAndFit(*orb, small1, small2, cv::Mat(), cv::Mat(), 30, 60, step, first) ||
      !LookAgainInOverlap(*orb, small1, small2, first, step, second))
    return finish(AutoAlignStatus::kStopped);
  const FeatureFit& best = FitsAgree(first, second, small2) && second.inliers > first.inliers ? second : first;
  if (!Plausible(best)) return finish(AutoAlignStatus::kNotFound);
  result.matches = static_cast<int>(best.pts1.size());
  result.inliers = best.inliers;
  if (result.inliers < kMinInliers || result.inliers < kMinInlierShare * result.matches)
    return finish(AutoAlignStatus::kNotFound);
  if (step(80)) return finish(AutoAlignStatus::kStopped);

  Similarity t = FullSizeSimilarity(best.model, f);
  const double scale = t.Scale();
  if (!(scale > 0.2 && scale < 5.0)) return finish(AutoAlignStatus::kNotFound);
  std::vector<cv::Point2d> inliers1 = FullSizeInliers(best, t, f, result.refX, result.refY);
  for (int pass = 0; pass < 2; ++pass) {
    RefineAtFullResolution(grey1, grey2, inliers1, t);
    if (step(pass == 0 ? 90 : 95)) return finish(AutoAlignStatus::kStopped);
  }
  result.estimate = t;
  return finish(AutoAlignStatus::kFound);
}

AutoAlignResult FindAutoAlignment(CDestdoc& session) {
  AutoAlignResult result;
  if (g_nSourcesLoaded != 2 || !g_pSourceDocs[0] || !g_pSourceDocs[1] || !g_pSourceDocs[0]->m_pDib ||
      !g_pSourceDocs[1]->m_pDib)
    return result;
  const Dib& s1 = *g_pSourceDocs[0]->m_pDib;
  const Dib& s2 = *g_pSourceDocs[1]->m_pDib;
  // Mirrored copies of different sense: the pictures are each other's
  // mirror image, so source 2 is compared mirrored.
  const bool mirrored = (session.m_bMirror1 != 0) != (session.m_bMirror2 != 0);
  StatusLineObserver observer(session, kProgressGreen);
  try {
    result = EstimateAlignment(s1, s2, observer, mirrored);
  } catch (const cv::Exception&) {
    // OpenCV's allocations fail by throwing; the user's session must
    // survive it.
    result = AutoAlignResult{};
    result.status = AutoAlignStatus::kNoMemory;
    result.message = auto_align_text::kNoMemory;
  } catch (const std::bad_alloc&) {
    result = AutoAlignResult{};
    result.status = AutoAlignStatus::kNoMemory;
    result.message = auto_align_text::kNoMemory;
  }
  session.SetStatusText("");
  if (result.status != AutoAlignStatus::kFound) return result;
  // Source 1 as it is prepared; source 2 unscaled and unturned, as the
  // estimate compares it.
  const SourceSettings p1 = SourceSettingsOf(session.m_session, 1);
  SourceSettings p2 = SourceSettingsOf(session.m_session, 2);
  p2.scaleX = p2.scaleY = session_default::kScale;
  p2.rotation = 0.0;
  PrepareGeometry g1{s1.Width(), std::abs(s1.Height()), s1.BitCount(), p1.scaleX, p1.scaleY,
                     p1.rotation, p1.cutCorners, p1.mirror};
  PrepareGeometry g2{s2.Width(), std::abs(s2.Height()), s2.BitCount(), p2.scaleX, p2.scaleY,
                     p2.rotation, p2.cutCorners, p2.mirror};
  if (g1.bits == 16 || g1.bits == 32) g1.bits = 24;
  if (g2.bits == 16 || g2.bits == 32) g2.bits = 24;
  Affine2 t = FromSimilarity(result.estimate);
  if (mirrored) {
    // The estimate is of the flipped copy: x' = width - 1 - x.
    const Affine2 flip{-1, 0, static_cast<double>(g2.width - 1), 0, 1, 0};
    t = Compose(t, flip);
    result.refX = g2.width - 1 - result.refX;
  }
  result.settings = SettingsForAffine(g1, g2, t, result.refX, result.refY);
  return result;
}

PrepareResult ApplyAutoAlignment(CDestdoc& session, const AutoAlignPlacement& settings) {
  const AlignSettings before = session.m_align;
  session.m_nOffsetX = settings.offsetX;
  session.m_nOffsetY = settings.offsetY;
  session.m_dRotation2 = settings.Rotation();
  session.m_nScale2X = session.m_nScale2Y = settings.scale;
  session.MarkNeedsUpdate();
  const PrepareResult code = session.PrepareSource(2);
  if (code != kPrepareDone) {
    // As with a dragged frame: a copy that cannot be made leaves the geometry
    // as it was, and the Align Window says why.
    session.m_align = before;
  }
  if (g_pAlignDoc) g_pAlignDoc->RebuildPreview(code);
  RefreshToolDialogs();
  return code;
}

std::string DescribeAlignment(const AutoAlignResult& r) {
  char text[200];
  std::snprintf(text, sizeof text, "Aligned: offset %d,%d  angle %.1f  scale %d/1024  %d of %d matches agree",
                r.settings.offsetX, r.settings.offsetY, r.settings.Rotation(), r.settings.scale, r.inliers, r.matches);
  return text;
}

std::string AlignmentOptions(int offsetX, int offsetY, double rotation2, int scale2X, int scale2Y) {
  char rotation[40], scale[40];
  const double tenths = rotation2 * 10;
  if (tenths == std::round(tenths)) std::snprintf(rotation, sizeof rotation, "%.1f", rotation2);
  else std::snprintf(rotation, sizeof rotation, "%.10g", rotation2);
  if (scale2X == scale2Y) std::snprintf(scale, sizeof scale, "%d", scale2X);
  else std::snprintf(scale, sizeof scale, "%d,%d", scale2X, scale2Y);
  return "--offset " + std::to_string(offsetX) + "," + std::to_string(offsetY) + " --rotate2 " + rotation +
         " --scale2 " + scale;
}

std::string AlignmentOptions(const AutoAlignPlacement& s) {
  return AlignmentOptions(s.offsetX, s.offsetY, s.Rotation(), s.scale, s.scale);
}

}  // namespace tessara
