// Which pixels of a prepared copy got a sample from their source. The rest stay
// black, and Target generation must not let them darken the other source.
//
// Along a row of a copy the source position moves linearly, so every bound test
// on it holds on one run of columns: the sampled pixels of a row are one run of
// the columns before the last, and the last column, which follows a rule of its
// own, is a flag. Twelve bytes a row instead of a mask of the whole copy.
#pragma once

#include <cstdint>
#include <vector>

#include "image/dib.h"

namespace tessara {

class SampleCoverage {
 public:
  // Sampled columns of one row: [begin, end) of the columns before the last,
  // and whether the last column is sampled.
  struct Run {
    int32_t begin = 0;
    int32_t end = 0;
    bool last = false;
  };

  // Starts the record of a new copy: no pixel sampled yet.
  void Start(const Dib* copy, int width, int height) {
    m_pCopy = copy;
    m_nWidth = width;
    m_runs.assign(static_cast<size_t>(height), Run{});
  }
  // Forgets the record: every copy counts as sampled everywhere.
  void Clear() {
    m_pCopy = nullptr;
    m_nWidth = 0;
    m_runs.clear();
  }
  void SetRow(int y, Run run) { m_runs[static_cast<size_t>(y)] = run; }
  // The record now describes `copy`, a picture of the same size whose pixels
  // lie where those of the one it was made for did (an unscaled, unturned
  // copy of it).
  void SetCopy(const Dib* copy) { m_pCopy = copy; }

  // Whether this record describes `copy`. A copy made without one (a picture
  // handed in whole) has a sample in every pixel.
  bool Describes(const Dib* copy) const {
    return copy && copy == m_pCopy && copy->Width() == m_nWidth &&
           static_cast<size_t>(copy->Height()) == m_runs.size();
  }
  const Run& RowRun(int y) const { return m_runs[static_cast<size_t>(y)]; }
  size_t RowCount() const { return m_runs.size(); }
  bool Sampled(int x, int y) const {
    const Run& r = RowRun(y);
    return x == m_nWidth - 1 ? r.last : (x >= r.begin && x < r.end);
  }

 private:
  const Dib* m_pCopy = nullptr;
  int m_nWidth = 0;
  std::vector<Run> m_runs;
};

// The sampled columns of one row, ready for a pixel loop.
struct RowCoverage {
  int begin;
  int end;
  int lastX;
  bool last;
  bool Sampled(int x) const { return x == lastX ? last : (x >= begin && x < end); }
  // A row sampled everywhere.
  static constexpr RowCoverage Whole() { return {INT32_MIN, INT32_MAX, -1, true}; }
};

// The coverage a Target generation reads: a record that describes the copy, or
// none (every pixel sampled).
class CoverageView {
 public:
  CoverageView(const SampleCoverage& c, const Dib& copy) : m_pCover(c.Describes(&copy) ? &c : nullptr) {
    if (m_pCover) m_nLastX = copy.Width() - 1;
  }
  RowCoverage Row(int y) const {
    if (!m_pCover) return RowCoverage::Whole();
    const SampleCoverage::Run& r = m_pCover->RowRun(y);
    return {r.begin, r.end, m_nLastX, r.last};
  }
  bool Sampled(int x, int y) const { return !m_pCover || m_pCover->Sampled(x, y); }

 private:
  const SampleCoverage* m_pCover;
  int m_nLastX = -1;
};

}  // namespace tessara
