// A join of two JPEG photographs made a band of rows at a time, for the batch
// tool: each source is decoded on a thread of its own straight into a few
// bands of rows, the bands are laid as LayTarget would lay those rows, and the
// JPEG encoder compresses each band on a free core as soon as it is laid.
// Neither source nor the Target is ever held whole, so the join needs tens of
// megabytes where holding them would need hundreds, and the file written is
// byte for byte the one the whole-picture path writes.
//
// Only the joins the whole-picture path would make of the same two pictures
// without any preparation qualify (StreamedJoin::Open says which); every
// other one takes that path.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/generate_target.h"
#include "engine/prepare_source.h"
#include "image/codec.h"
#include "image/file_bytes.h"
#include "image/ximage.h"

namespace tessara {

class StreamedJoin final : public RowBands {
 public:
  // The join of the two files by `settings`, saved as a JPEG with the encoder
  // options `jpegOptions` (kJpegOption flags): null when the two are not
  // pictures this path joins as the whole-picture path would (a source that
  // is not a sequential colour JPEG, needs turning by its orientation tag,
  // carries a colour profile of another space than source 1's, was found
  // damaged in part, or a Target too small to be written in bands or laid
  // otherwise than a row at a time). Nothing has been told to anybody then.
  // `stop` is polled between bands; true ends the join.
  // Source 2 is copied by `source2` as it decodes (rows of it turned past
  // a right angle do not come in order: null).
  static std::unique_ptr<StreamedJoin> Open(const std::string& path1, const std::string& path2,
                                            const TargetSettings& settings, const SourceSettings& source2,
                                            uint32_t jpegOptions, std::function<bool()> stop);
  // The same in two steps, for a source 2 held whole: source 1's file alone
  // (null when it is not one for this path), then source 2's prepared copy
  // (a picture the caller keeps, of any depth, with its record of sampled
  // pixels, already in source 1's colours): false when the Target is not
  // one for this path.
  static std::unique_ptr<StreamedJoin> OpenSource1(const std::string& path1, std::function<bool()> stop);
  bool JoinPrepared(const Dib& source2, const SampleCoverage& coverage2, const TargetSettings& settings,
                    uint32_t jpegOptions);
  ~StreamedJoin() override;

  // The Target's header and what source 1 carries besides its pixels (the
  // colour profile and camera data the saved file keeps).
  const BITMAPINFOHEADER& Header() const { return m_header; }
  const PictureMetadata& Source1Metadata() const { return m_sources[0].metadata; }

  // Starts the decoders; the encoder then takes the rows. `progress` hears
  // the percentage of rows laid, on the thread that calls this.
  void Start(std::function<void(int)> progress = nullptr);
  // Rows laid so far, of the Target's height (any thread may ask).
  int RowsDone() const { return m_nRowsDone.load(); }

  // After the rows stopped coming: the source that could not be read (its
  // path) and the decoder's words; or that `stop` said so.
  bool SourceFailed() const { return !m_szFailedPath.empty(); }
  const std::string& FailedPath() const { return m_szFailedPath; }
  const std::string& FailedWhy() const { return m_szFailedWhy; }
  bool Stopped() const { return m_bStopped; }
  // Or that memory for laying a band ran out.
  bool NoMemory() const { return m_bNoMemory; }

  const uint8_t* Acquire(int first, int count, ptrdiff_t& step) override;
  void Release(int first, int count) override;

 private:
  struct Source {
    std::string path;
    std::unique_ptr<FileBytes> bytes;
    std::unique_ptr<JpegRowReader> reader;
    PictureMetadata metadata;
    DibPtr header;  // its size (its copy's), for the plan and the laying
    int column = 0;   // the canvas column of its left edge
    int topRow = 0;   // the canvas row (from the top) of its first row
    int width = 0, height = 0;  // as it lies on the canvas: its copy's size
    // A source copied as it decodes: the copy's maker and record, the
    // picture's own height, and a ring of its rows, `decoded` rows read.
    std::unique_ptr<CopyRowMaker> maker;
    SampleCoverage coverage;
    int pictureHeight = 0;
    std::unique_ptr<uint8_t[]> ring;
    size_t ringStride = 0;
    int ringSlots = 0;
    int decoded = 0;
  };
  // A band of rows being made: the canvas rows, source 2's rows, which band
  // it holds and which decoders are done with it.
  struct Slot {
    std::unique_ptr<uint8_t[]> canvas;
    std::unique_ptr<uint8_t[]> rows2;
    int band = -1;
    bool done1 = false, done2 = false;
  };

  StreamedJoin() = default;
  // Reads a source's file and header; false when the source is not one for
  // this path.
  static bool OpenSource(Source& s);
  // Plans the Target and makes the ring; false when the Target is not one
  // for this path.
  bool Plan(const TargetSettings& settings, uint32_t jpegOptions);
  void Decode(int n);
  // Reads the rows of source 2's picture that its copy rows of canvas rows
  // [from, to) read (with `last`, the rest of it); false when the picture
  // could not be read.
  bool ReadRows2(int from, int to, bool last);
  // Makes those copy rows into the slot of the band at canvas row t0.
  void CopyRows2(Slot& slot, int t0, int from, int to);
  // Reads the picture's rows into the ring until `count` are read.
  bool ReadRingTo(Source& s, int count);
  // Waits until `slot` holds band b (false when the join ends first).
  bool WaitForBand(std::unique_lock<std::mutex>& lock, const Slot& slot, int b);
  void Fail(const Source& s, const std::string& why);
  Slot& SlotOf(int band) { return m_slots[static_cast<size_t>(band) % m_slots.size()]; }

  Source m_sources[2];
  // Source 2's prepared copy and record, when it is held whole.
  const Dib* m_pHeld2 = nullptr;
  const SampleCoverage* m_pHeldCoverage2 = nullptr;
  TargetSettings m_settings;
  TargetPlan m_plan;
  BITMAPINFOHEADER m_header{};
  std::function<bool()> m_stop;
  std::function<void(int)> m_progress;
  std::thread::id m_starter;
  int m_nBandRows = 0;
  int m_nBands = 0;
  size_t m_nCanvasStride = 0;
  size_t m_nRows2Stride = 0;
  std::vector<Slot> m_slots;

  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_bEnding = false;  // failed, stopped or ended: nobody waits any more
  bool m_bStopped = false;
  bool m_bNoMemory = false;
  std::string m_szFailedPath, m_szFailedWhy;
  std::atomic<int> m_nRowsDone{0};
  std::vector<std::thread> m_decoders;
};

}  // namespace tessara
