// The band-at-a-time join: two decoder threads fill a ring of a few bands,
// the encoder's cores lay and compress each band as both decoders are done
// with it, and give it back for the decoders to fill with a band further down.
#include "engine/streamed_join.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "engine/tessara_doc.h"
#include "image/colour_profile.h"
#include "image/metadata.h"

namespace tessara {

namespace {

// Bands in the ring: enough for both decoders to run ahead of two encoders.
constexpr size_t kSlots = 4;

template <typename T>
std::unique_ptr<T[]> TryArray(size_t n) {
  try {
    return std::make_unique_for_overwrite<T[]>(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

bool StreamedJoin::OpenSource(Source& s) {
  // A file named otherwise, or one that is not a JPEG after all, is loaded the
  // usual way, which tells the user what it really is.
  if (FormatOfFileName(s.path) != CXIMAGE_FORMAT_JPG) return false;
  s.bytes = std::make_unique<FileBytes>(s.path);
  if (!s.bytes->Ok()) return false;
  s.reader = JpegRowReader::Open(s.bytes->Data(), s.bytes->Size());
  if (!s.reader || !s.reader->Reads()) return false;
  s.metadata = s.reader->Metadata();
  ReadFileMetadata(s.bytes->Data(), s.bytes->Size(), CXIMAGE_FORMAT_JPG, s.metadata);
  // Whatever a load would turn, leave out or tell about goes the usual way.
  if (s.metadata.orientation >= 2 && s.metadata.orientation <= 8) return false;
  if (!s.metadata.iccProfile.empty() && CheckProfile(s.metadata.iccProfile, false) != ProfileUse::kUsable)
    return false;
  if (!s.metadata.ignored.empty()) return false;
  s.width = s.reader->Width();
  s.height = s.reader->Height();
  // The pictures a load would refuse for their size are refused there.
  if (!DibSizeAllowed(24, s.width, s.height) || DibBlockBytes(24, s.width, s.height) > PictureByteLimit())
    return false;
  s.header = NewDibHeaderOnly(24, s.width, s.height);
  return s.header != nullptr;
}

std::unique_ptr<StreamedJoin> StreamedJoin::OpenSource1(const std::string& path1, std::function<bool()> stop) {
  std::unique_ptr<StreamedJoin> join(new StreamedJoin);
  join->m_sources[0].path = path1;
  if (!OpenSource(join->m_sources[0])) return nullptr;
  join->m_stop = std::move(stop);
  return join;
}

std::unique_ptr<StreamedJoin> StreamedJoin::Open(const std::string& path1, const std::string& path2,
                                                 const TargetSettings& settings, const SourceSettings& source2,
                                                 uint32_t jpegOptions, std::function<bool()> stop) {
  std::unique_ptr<StreamedJoin> join = OpenSource1(path1, std::move(stop));
  if (!join) return nullptr;
  Source &one = join->m_sources[0], &two = join->m_sources[1];
  two.path = path2;
  if (!OpenSource(two)) return nullptr;
  if (!CopiesAsItIs(source2)) {
    // Copied as it decodes: it lies on the canvas at its copy's size.
    two.maker = std::make_unique<CopyRowMaker>(two.width, two.height, source2);
    if (!two.maker->Ok()) return nullptr;
    two.pictureHeight = two.height;
    two.ringStride = 3 * static_cast<size_t>(two.width);
    two.width = two.maker->Width();
    two.height = two.maker->Height();
    two.header = NewDibHeaderOnly(24, two.width, two.height);
    if (!two.header) return nullptr;
    two.coverage.Start(two.header.get(), two.width, two.height);
  }
  // Source 2 would be turned into source 1's colours first.
  if (!SameColourSpace(two.metadata.iccProfile, one.metadata.iccProfile)) return nullptr;
  if (!join->Plan(settings, jpegOptions)) return nullptr;
  return join;
}

bool StreamedJoin::JoinPrepared(const Dib& source2, const SampleCoverage& coverage2, const TargetSettings& settings,
                                uint32_t jpegOptions) {
  if (source2.Size() < sizeof(BITMAPINFOHEADER) || !DibFitsBlock(source2) || !m_slots.empty()) return false;
  m_pHeld2 = &source2;
  m_pHeldCoverage2 = &coverage2;
  Source& two = m_sources[1];
  two.width = source2.Width();
  two.height = source2.Height();
  if (Plan(settings, jpegOptions)) return true;
  m_pHeld2 = nullptr;
  m_pHeldCoverage2 = nullptr;
  return false;
}

bool StreamedJoin::Plan(const TargetSettings& settings, uint32_t jpegOptions) {
  Source &one = m_sources[0], &two = m_sources[1];
  m_settings = settings;
  m_plan = PlanTarget(*one.header, m_pHeld2 ? *m_pHeld2 : *two.header, settings);
  const TargetPlan& plan = m_plan;
  if (!CanLayTargetInBands(plan, settings) || !DibSizeAllowed(24, plan.width, plan.height)) return false;
  m_nBandRows = JpegBandRows(plan.width, plan.height, 24, jpegOptions);
  if (m_nBandRows == 0) return false;
  m_nBands = (plan.height + m_nBandRows - 1) / m_nBandRows;
  m_header = NewDibHeader(24, plan.width, plan.height);
  const TargetGeometry& g = plan.geometry;
  one.column = g.x1, one.topRow = plan.height - g.y1 - g.h1;
  two.column = g.x2, two.topRow = plan.height - g.y2 - g.h2;
  m_nCanvasStride = 3 * static_cast<size_t>(plan.width);
  m_nRows2Stride = 3 * static_cast<size_t>(two.width);
  std::vector<Slot> slots(std::min<size_t>(kSlots, static_cast<size_t>(m_nBands)));
  const size_t bandRows = static_cast<size_t>(m_nBandRows);
  for (size_t k = 0; k < slots.size(); ++k) {
    Slot& slot = slots[k];
    slot.canvas = TryArray<uint8_t>(bandRows * m_nCanvasStride);
    // A source 2 held whole is read where it is.
    if (!m_pHeld2) slot.rows2 = TryArray<uint8_t>(bandRows * m_nRows2Stride);
    if (!slot.canvas || (!m_pHeld2 && !slot.rows2)) return false;
    slot.band = static_cast<int>(k);
  }
  m_slots = std::move(slots);
  if (two.maker) {
    // The copy rows of a band are made as it is laid, up to a ring's length
    // of bands after the decoder has read the rows of the band: the ring
    // holds every picture row the bands between read.
    std::vector<std::pair<int, int>> reads(static_cast<size_t>(m_nBands), {-1, -1});
    for (int b = 0; b < m_nBands; ++b) {
      const int t0 = b * m_nBandRows, t1 = std::min(plan.height, t0 + m_nBandRows);
      const int from = std::clamp(two.topRow, t0, t1), to = std::clamp(two.topRow + two.height, from, t1);
      int first = 0, last = 0;
      if (from < to && two.maker->RowsRead(two.height - to + two.topRow, two.height - 1 - from + two.topRow, first,
                                           last))
        reads[static_cast<size_t>(b)] = {first, last};
    }
    int slotsNeeded = 1;
    const int ahead = static_cast<int>(m_slots.size());
    for (int b = 0; b < m_nBands; ++b) {
      if (reads[static_cast<size_t>(b)].second < 0) continue;
      for (int later = b; later < std::min(m_nBands, b + ahead); ++later)
        if (reads[static_cast<size_t>(later)].second >= 0)
          slotsNeeded =
              std::max(slotsNeeded, reads[static_cast<size_t>(b)].second - reads[static_cast<size_t>(later)].first + 1);
    }
    two.ringSlots = slotsNeeded;
    two.ring = TryArray<uint8_t>(static_cast<size_t>(two.ringSlots + 1) * two.ringStride);
    if (!two.ring) return false;
  }
  return true;
}

bool StreamedJoin::ReadRingTo(Source& s, int count) {
  constexpr int kBatch = 16;
  uint8_t* rows[kBatch];
  while (s.decoded < count) {
    const int n = std::min(kBatch, count - s.decoded);
    for (int i = 0; i < n; ++i)
      rows[i] = s.ring.get() + static_cast<size_t>((s.decoded + i) % s.ringSlots) * s.ringStride;
    if (!s.reader->Read(rows, n)) return false;
    s.decoded += n;
  }
  return true;
}

bool StreamedJoin::ReadRows2(int from, int to, bool last) {
  Source& s = m_sources[1];
  // Canvas row t holds copy row (stored numbering) height - 1 - (t - topRow).
  const int high = s.height - 1 - (from - s.topRow), low = s.height - (to - s.topRow);
  int first = 0, top = 0;
  if (from < to && s.maker->RowsRead(low, high, first, top) && !ReadRingTo(s, s.pictureHeight - first)) return false;
  if (!last) return true;
  // The rest of the picture is read too, into the ring's spare row, so that
  // damage anywhere in it ends the join as it ends a load.
  uint8_t* spare = s.ring.get() + static_cast<size_t>(s.ringSlots) * s.ringStride;
  for (; s.decoded < s.pictureHeight; ++s.decoded)
    if (!s.reader->Read(&spare, 1)) return false;
  return true;
}

void StreamedJoin::CopyRows2(Slot& slot, int t0, int from, int to) {
  Source& s = m_sources[1];
  for (int t = from; t < to; ++t) {
    const int y = s.height - 1 - (t - s.topRow);
    s.coverage.SetRow(y, s.maker->Make(y, slot.rows2.get() + static_cast<size_t>(t - t0) * m_nRows2Stride,
                                       s.ring.get(), s.ringStride, s.ringSlots));
  }
}

StreamedJoin::~StreamedJoin() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bEnding = true;
  }
  m_changed.notify_all();
  for (std::thread& t : m_decoders) t.join();
}

void StreamedJoin::Start(std::function<void(int)> progress) {
  m_progress = std::move(progress);
  m_starter = std::this_thread::get_id();
  try {
    for (int n = 0; n < (m_pHeld2 ? 1 : 2); ++n) m_decoders.emplace_back([this, n] { Decode(n); });
  } catch (const std::exception&) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Fail(m_sources[m_decoders.empty() ? 0 : 1], "No thread could be started to read it.");
  }
}

void StreamedJoin::Fail(const Source& s, const std::string& why) {
  if (!m_bEnding) {
    m_szFailedPath = s.path;
    m_szFailedWhy = why.empty() ? "The file could not be read." : why;
  }
  m_bEnding = true;
  m_changed.notify_all();
}

bool StreamedJoin::WaitForBand(std::unique_lock<std::mutex>& lock, const Slot& slot, int b) {
  m_changed.wait(lock, [&] { return m_bEnding || slot.band == b; });
  return !m_bEnding;
}

void StreamedJoin::Decode(int n) {
  Source& s = m_sources[n];
  const int W = m_plan.width, H = m_plan.height;
  const uint8_t background = static_cast<uint8_t>(m_plan.background);
  std::vector<uint8_t*> rows(static_cast<size_t>(m_nBandRows));
  for (int b = 0; b < m_nBands; ++b) {
    Slot& slot = SlotOf(b);
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      if (!WaitForBand(lock, slot, b)) return;
    }
    // The band's canvas rows [t0, t1), counted from the top, and those of them
    // this source has.
    const int t0 = b * m_nBandRows, t1 = std::min(H, t0 + m_nBandRows);
    const int from = std::clamp(s.topRow, t0, t1), to = std::clamp(s.topRow + s.height, from, t1);
    for (int t = from; t < to; ++t) {
      rows[static_cast<size_t>(t - from)] =
          n == 0 ? slot.canvas.get() + static_cast<size_t>(t - t0) * m_nCanvasStride + 3 * static_cast<size_t>(s.column)
                 : slot.rows2.get() + static_cast<size_t>(t - t0) * m_nRows2Stride;
    }
    if (n == 0) {
      // Source 1's decoder also lays the background wherever source 1 is not.
      const size_t left = 3 * static_cast<size_t>(s.column);
      const size_t right = 3 * static_cast<size_t>(W - s.column - s.width);
      for (int t = t0; t < t1; ++t) {
        uint8_t* row = slot.canvas.get() + static_cast<size_t>(t - t0) * m_nCanvasStride;
        if (t < from || t >= to) {
          std::memset(row, background, m_nCanvasStride);
        } else {
          std::memset(row, background, left);
          std::memset(row + m_nCanvasStride - right, background, right);
        }
      }
    }
    const bool read = s.maker ? ReadRows2(from, to, b == m_nBands - 1)
                              : from == to || s.reader->Read(rows.data(), to - from);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!read) {
      Fail(s, s.reader->Why());
      return;
    }
    (n == 0 ? slot.done1 : slot.done2) = true;
    m_changed.notify_all();
  }
}

const uint8_t* StreamedJoin::Acquire(int first, int count, ptrdiff_t& step) {
  const int H = m_plan.height;
  if (m_nBandRows == 0 || first < 0 || first % m_nBandRows != 0 || count != std::min(m_nBandRows, H - first))
    return nullptr;
  const int b = first / m_nBandRows;
  Slot& slot = SlotOf(b);
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!(slot.band == b && slot.done1 && (slot.done2 || m_pHeld2))) {
      if (m_bEnding) return nullptr;
      if (m_stop && m_stop()) {
        m_bStopped = true;
        m_bEnding = true;
        m_changed.notify_all();
        return nullptr;
      }
      // Woken by the decoders; now and then to look at the stop.
      m_changed.wait_for(lock, std::chrono::milliseconds(50));
    }
  }
  // The band's rows step backwards through the stored numbering: its top row
  // is stored row H - 1 - first.
  const Source& two = m_sources[1];
  if (two.maker) {
    // Source 2's copy rows of the band, from the rows its decoder has read.
    const int from = std::clamp(two.topRow, first, first + count);
    CopyRows2(slot, first, from, std::clamp(two.topRow + two.height, from, first + count));
  }
  const RowWindow canvas{slot.canvas.get(), -static_cast<ptrdiff_t>(m_nCanvasStride), H - 1 - first};
  const RowWindow rows2{slot.rows2.get(), -static_cast<ptrdiff_t>(m_nRows2Stride),
                        two.height - 1 - (first - two.topRow)};
  try {
    if (m_pHeld2)
      LayTargetBand(*m_sources[0].header, *m_pHeld2, *m_pHeldCoverage2, nullptr, m_settings, m_plan, canvas,
                    H - first - count, H - first);
    else
      LayTargetBand(*m_sources[0].header, *two.header, two.coverage, &rows2, m_settings, m_plan, canvas,
                    H - first - count, H - first);
  } catch (const std::bad_alloc&) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bNoMemory = m_bEnding = true;
    m_changed.notify_all();
    return nullptr;
  }
  step = static_cast<ptrdiff_t>(m_nCanvasStride);
  return slot.canvas.get();
}

void StreamedJoin::Release(int first, int count) {
  if (m_nBandRows == 0) return;
  const int b = first / m_nBandRows;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    Slot& slot = SlotOf(b);
    if (slot.band != b) return;
    slot.band = b + static_cast<int>(m_slots.size());
    slot.done1 = slot.done2 = false;
  }
  const int done = m_nRowsDone += count;
  m_changed.notify_all();
  if (m_progress && std::this_thread::get_id() == m_starter)
    m_progress(static_cast<int>(int64_t{done} * 100 / std::max(1, m_plan.height)));
}

}  // namespace tessara
