// tessara-join: joins two pictures the way the desktop program does, without
// windows. The documents and the engine are the program's own; messages that the
// program shows in a box go to standard error word for word.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/job_list.h"
#include "cli/join_options.h"
#include "engine/align_doc.h"
#include "engine/auto_align.h"
#include "engine/destdoc.h"
#include "engine/documents.h"
#include "engine/exposure.h"
#include "engine/generate_target.h"
#include "engine/streamed_join.h"
#include "engine/tessara_doc.h"
#include "framework/settings.h"
#include "framework/user_interface.h"
#include "framework/version.h"
#include "image/picture_memory.h"

using namespace tessara;

namespace {

std::atomic<bool> g_bInterrupted{false};

void OnInterrupt(int) { g_bInterrupted = true; }

// Messages to standard error; on a terminal, the stage and a progress bar on one
// line. Ctrl-C plays the part of the space bar and its question answered Yes.
class TerminalInterface : public IUserInterface {
 public:
  explicit TerminalInterface(bool showProgress) : m_bProgress(showProgress) {}
  ~TerminalInterface() override { EndLine(); }

  // Both sources load at once, so the calls may come from two threads; the
  // progress line follows the thread that drives the join.
  void ShowMessage(const std::string& text) override {
    std::lock_guard hold(m_lock);
    EndLine();
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  bool AskYesNo(const std::string&) override { return g_bInterrupted; }
  void SetPaneText(StatusPane pane, const std::string& text) override {
    if (pane != kPaneProcess || std::this_thread::get_id() != m_owner) return;
    std::lock_guard hold(m_lock);
    if (!text.empty()) m_stage = text;
    Draw();
  }
  void ShowProgress(ProgressColour, int percent) override {
    if (std::this_thread::get_id() != m_owner) return;
    std::lock_guard hold(m_lock);
    m_nPercent = std::clamp(percent, 0, 100);
    Draw();
  }
  bool IsSpaceBarDown() override { return g_bInterrupted; }
  // Called with the lock held, or by the thread that drives the join while
  // no source loads.
  void EndLine() {
    if (m_bOnLine) std::fputc('\n', stderr);
    m_bOnLine = false;
  }

 private:
  void Draw() {
    if (!m_bProgress || m_stage.empty()) return;
    if (m_nPercent == m_nDrawnPercent && m_stage == m_drawnStage) return;
    m_nDrawnPercent = m_nPercent;
    m_drawnStage = m_stage;
    const int filled = m_nPercent * 30 / 100;
    std::fprintf(stderr, "\r%-26s [%s%s] %3d%%", m_stage.c_str(), std::string(filled, '#').c_str(),
                 std::string(30 - filled, ' ').c_str(), m_nPercent);
    std::fflush(stderr);
    m_bOnLine = true;
  }

  bool m_bProgress;
  std::thread::id m_owner = std::this_thread::get_id();
  std::mutex m_lock;
  bool m_bOnLine = false;
  std::string m_stage, m_drawnStage;
  int m_nPercent = 0, m_nDrawnPercent = -1;
};

int Usage(const std::string& error) {
  std::fprintf(stderr, "tessara-join: %s\nTry 'tessara-join --help' for more information.\n", error.c_str());
  return 2;
}

// Loads a picture into a source document, with its note.
bool Load(CTessaraDoc& doc, const std::string& path, bool quiet) {
  // Shown with a progress bar only when the picture is large enough to be
  // watched while it loads.
  UserInterface().SetPaneText(kPaneProcess, "Loading " + std::filesystem::path(path).filename().string());
  if (!doc.OnOpenDocument(path)) return false;
  if (!quiet && !doc.m_szLoadNote.empty())
    std::fprintf(stderr, "%s: %s\n", std::filesystem::path(path).filename().string().c_str(), doc.m_szLoadNote.c_str());
  return true;
}

bool Load(CDocuments& documents, const std::string& path, bool quiet) {
  CTessaraDoc* doc = documents.OpenSource();
  if (!doc) return false;
  if (Load(*doc, path, quiet)) return true;
  documents.CloseSource(*doc);
  return false;
}

// Both sources decode at once, source 2 on a thread of its own. Each failure
// is told; true when both loaded.
bool LoadPair(CDocuments& documents, const std::string& first, const std::string& second, bool quiet) {
  UserInterface().SetPaneText(kPaneProcess, "Loading " + std::filesystem::path(first).filename().string() + " and " +
                                                std::filesystem::path(second).filename().string());
  CTessaraDoc* one = documents.OpenSource();
  CTessaraDoc* two = documents.OpenSource();
  if (!one || !two) return false;
  bool loadedTwo = false;
  std::thread other([&] {
    try {
      loadedTwo = two->OnOpenDocument(second);
    } catch (const std::bad_alloc&) {
      UserInterface().ShowMessage("Not enough memory to finish the join.");
    }
  });
  bool loadedOne = false;
  try {
    loadedOne = one->OnOpenDocument(first);
  } catch (...) {
    other.join();
    throw;
  }
  other.join();
  for (auto [doc, path] : {std::pair{one, &first}, std::pair{two, &second}})
    if (!quiet && !doc->m_szLoadNote.empty())
      std::fprintf(stderr, "%s: %s\n", std::filesystem::path(*path).filename().string().c_str(),
                   doc->m_szLoadNote.c_str());
  return loadedOne && loadedTwo;
}

constexpr int kStoppedStatus = 130;

// --jobs: the list read whole, then each join run as a process of its own
// (the engine keeps its documents process-wide), as many at a time as there
// are processors.
int RunJobs(const std::vector<std::string>& args, const JoinOptions& options) {
  std::string text;
  if (options.jobs == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream in(options.jobs, std::ios::binary);
    std::ostringstream all;
    if (in) all << in.rdbuf();
    if (!in || in.bad()) {
      std::fprintf(stderr, "tessara-join: cannot read the list of jobs %s: %s\n", options.jobs.c_str(),
                   std::strerror(errno));
      return 1;
    }
    text = all.str();
  }
  // The options given with --jobs, without those that steer the list, go
  // before each line's own.
  std::vector<std::string> common;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--jobs" || a == "--shard" || a == "--log") ++i;
    else if (a == "--resume" || a == "--" || a.rfind("--jobs=", 0) == 0 || a.rfind("--shard=", 0) == 0 ||
             a.rfind("--log=", 0) == 0)
      continue;
    else common.push_back(a);
  }
  std::vector<Job> jobs = ReadJobList(text, common);
  if (options.shardCount) jobs = TakeShard(std::move(jobs), options.shardIndex, options.shardCount);
  if (options.resume) MarkJobsUpToDate(jobs);
  std::FILE* log = nullptr;
  if (!options.log.empty()) {
    log = std::fopen(options.log.c_str(), "a");
    if (!log) {
      std::fprintf(stderr, "tessara-join: cannot write the log %s: %s\n", options.log.c_str(), std::strerror(errno));
      return 1;
    }
  }
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  const std::string program = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string("tessara-join");
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const int status = RunJobList(program, jobs, cores, !options.quiet && isatty(STDERR_FILENO), &g_bInterrupted, log);
  if (log && std::fclose(log) != 0) {
    std::fprintf(stderr, "tessara-join: the log %s was not written whole: %s\n", options.log.c_str(),
                 std::strerror(errno));
    return status ? status : 1;
  }
  return status;
}

// The session for one step of a join: the first step places the first
// picture by the options, later ones take the Target so far as it is; the
// adjustments and the grid wait for the last step, which makes the finished
// Target.
void SetStepSession(CDestdoc& doc, const JoinOptions& o, bool first, bool last) {
  SessionSettings s;
  AlignSettings& a = s.align;
  a.m_nOffsetX = o.offsetX;
  a.m_nOffsetY = o.offsetY;
  if (first) {
    a.m_nScale1X = o.scale1X, a.m_nScale1Y = o.scale1Y;
    a.m_dRotation1 = o.rotate1;
    a.m_bCutCorners1 = o.cutCorners1;
    a.m_bMirror1 = o.mirror1;
  }
  a.m_nScale2X = o.scale2X, a.m_nScale2Y = o.scale2Y;
  a.m_dRotation2 = o.rotate2;
  a.m_bCutCorners2 = o.cutCorners2;
  a.m_bMirror2 = o.mirror2;
  s.m_nMergeRule = o.mergeRule;
  s.m_nSourceBias = o.bias;
  s.m_bFadeEdge1 = o.fade1;
  s.m_bFadeEdge2 = o.fade2;
  s.m_bMonoAnd = o.monoAnd;
  s.m_bMatchExposure = o.matchExposure ? 1 : 0;
  if (last) {
    s.m_nContrast = o.contrast;
    s.m_nBrightness = o.brightness;
    s.m_nSwingAngle = o.swing;
    s.m_bSolidGrid = o.solidGrid > 0;
    s.m_bDottedGrid = o.dottedGrid > 0;
  }
  if (o.solidGrid > 0) s.m_nSolidGridX = s.m_nSolidGridY = o.solidGrid;
  if (o.dottedGrid > 0) s.m_nDotGridX = s.m_nDotGridY = o.dottedGrid;
  const uint8_t grid = o.gridWhite ? 255 : 0;
  s.m_GridColour = {grid, grid, grid};
  // The view scales are the document's own: the batch tool shows nothing.
  s.m_nViewScaleX = doc.m_session.m_nViewScaleX;
  s.m_nViewScaleY = doc.m_session.m_nViewScaleY;
  doc.m_session = s;
}

// Between the steps of a chain: the Target so far becomes source 1 (keeping
// the first picture's colour profile and camera data for the save), with the
// record of which of its pixels are pictures and which background, and both
// sources of the step go.
bool TargetBecomesSource1(CDocuments& documents, CDestdoc& doc) {
  SampleCoverage coverage;
  DibPtr target = doc.TakeTargetAsPicture(coverage);
  CTessaraDoc* first = documents.Source(1);
  if (!target || !first) return false;
  PictureMetadata metadata = std::move(first->m_metadata);
  const std::string title = first->GetTitle();
  if (CTessaraDoc* second = documents.Source(2)) documents.CloseSource(*second);
  documents.CloseSource(*first);
  CTessaraDoc* joined = documents.OpenSource();
  if (!joined) return false;
  joined->TakePicture(std::move(target), std::move(coverage), std::move(metadata), title);
  return true;
}

// A join of two pictures saved whole as JPEG, with nothing that needs source
// 1 whole (finding the alignment, matching the exposure): one a band of rows
// at a time may make, if the pictures and the session allow.
bool MayStream(const JoinOptions& o) {
  return o.sources.size() == 2 && !o.autoAlign && !o.matchExposure && !o.zone &&
         FormatOfFileName(SavePathWithEnding(o.output, o.filterIndex)) == CXIMAGE_FORMAT_JPG &&
         std::getenv("TESSARA_WHOLE_PICTURES") == nullptr;
}

// Source 2 loaded and prepared as the usual path does, for a join that holds
// it whole: source 1's slot stands empty with source 1's colour profile, into
// whose colours source 2's copy is turned. The copy is the Target
// document's; nullopt when it is ready, else the exit status (told).
std::optional<int> PrepareHeldSource2(CDocuments& documents, CDestdoc& doc, const JoinOptions& o,
                                      const StreamedJoin& join, TerminalInterface& ui) {
  CTessaraDoc* first = documents.OpenSource();
  CTessaraDoc* second = documents.OpenSource();
  if (!first || !second) return 1;
  first->m_metadata = join.Source1Metadata();
  if (!Load(*second, o.sources[1], o.quiet)) return g_bInterrupted ? kStoppedStatus : 1;
  doc.m_bTakeSourcePictures = true;
  const PrepareResult result = doc.PrepareSource(2);
  second->m_pDib.reset();
  if (result == kPrepareDone) return std::nullopt;
  if (const char* const* lines = FailCodeLines(result)) ui.ShowMessage(std::string(lines[0]) + " " + lines[1]);
  return result == kPrepareStopped ? kStoppedStatus : 1;
}

// The join made and saved a band of rows at a time, both sources decoded a
// band at a time or source 2 prepared whole first; nullopt when the pictures
// are not ones it takes, and the usual path runs.
std::optional<int> RunStreamed(CDocuments& documents, CDestdoc& doc, const JoinOptions& o, TerminalInterface& ui) {
  SetStepSession(doc, o, true, true);
  const TargetSettings settings = doc.CurrentTargetSettings();
  // Source 1 goes by bands as it lies. A 24-bit source 1 makes a 24-bit
  // Target: the settings alone may rule the bands out, before anything is
  // loaded.
  TargetPlan truecolour;
  truecolour.depth = 24;
  if (!CopiesAsItIs(doc.SourceSettingsOf(1)) || !CanLayTargetInBands(truecolour, settings)) return std::nullopt;
  const auto stop = [] { return g_bInterrupted != 0; };
  std::unique_ptr<StreamedJoin> join =
      StreamedJoin::Open(o.sources[0], o.sources[1], settings, doc.SourceSettingsOf(2), 0, stop);
  if (!join) {
    join = StreamedJoin::OpenSource1(o.sources[0], stop);
    if (!join) return std::nullopt;
    if (const std::optional<int> failed = PrepareHeldSource2(documents, doc, o, *join, ui)) return failed;
    if (!doc.m_pSource2 || !join->JoinPrepared(*doc.m_pSource2, doc.m_cover2, settings, 0)) {
      // Not a Target for bands after all: the usual path starts again.
      doc.m_pSource2.reset();
      doc.m_cover2.Clear();
      for (int n = 2; n >= 1; --n)
        if (CTessaraDoc* source = documents.Source(n)) documents.CloseSource(*source);
      return std::nullopt;
    }
  }
  ui.SetPaneText(kPaneProcess, "Joining " + std::filesystem::path(o.sources[0]).filename().string() + " and " +
                                   std::filesystem::path(o.sources[1]).filename().string());
  doc.m_bRefreshAfterSave = false;
  const int saved = doc.SaveStreamedTarget(o.output, o.filterIndex, *join);
  if (join->Stopped() || g_bInterrupted) return kStoppedStatus;
  if (join->SourceFailed()) {
    // As a load that fails tells it: the decoder's words, then the file.
    ui.ShowMessage(join->FailedWhy());
    ui.ShowMessage(WithFileAndReason(source_text::kUnableToLoad, join->FailedPath(), join->FailedWhy()));
    return 1;
  }
  if (join->NoMemory()) {
    ui.ShowMessage("Not enough memory to finish the join.");
    return 1;
  }
  if (saved != 1) return 1;
  if (!doc.m_szSaveNote.empty()) ui.ShowMessage(doc.m_szSaveNote);
  return 0;
}

int Run(CDocuments& documents, const JoinOptions& o, TerminalInterface& ui) {
  CDestdoc& doc = documents.MakeTarget();
  documents.MakeAlign();
  Settings().WriteInt(settings_key::kConfigure, settings_key::kTurnByOrientation, o.ignoreOrientation ? 0 : 1);
  Settings().WriteInt(settings_key::kConfigure, settings_key::kKeepCameraData, o.stripMetadata ? 0 : 1);
  Settings().WriteInt(settings_key::kConfigure, settings_key::kJpegQuality, o.quality);
  Settings().WriteInt(settings_key::kConfigure, settings_key::kLosslessTiff, o.losslessTiff ? 1 : 0);
  if (MayStream(o))
    if (const std::optional<int> status = RunStreamed(documents, doc, o, ui)) return *status;
  if (!LoadPair(documents, o.sources[0], o.sources[1], o.quiet)) return g_bInterrupted ? kStoppedStatus : 1;

  const size_t steps = o.sources.size() - 1;
  // The gains each picture was matched by; in a chain, named.
  const auto tellGains = [&](const std::string& picture) {
    if (!o.matchExposure || o.quiet) return;
    ui.EndLine();
    const std::string name = steps > 1 ? std::filesystem::path(picture).filename().string() + ": " : "";
    std::fprintf(stderr, "%s%s\n", name.c_str(), ExposureGainsText(doc.m_exposureGains).c_str());
  };
  for (size_t step = 1; step <= steps; ++step) {
    const bool last = step == steps;
    SetStepSession(doc, o, step == 1, last);
    const std::string& picture = o.sources[step];
    if (o.autoAlign) {
      const AutoAlignResult found = FindAutoAlignment(doc);
      if (found.status == AutoAlignStatus::kStopped) return kStoppedStatus;
      if (found.status != AutoAlignStatus::kFound) {
        std::string message = found.status == AutoAlignStatus::kNoMemory ? found.message : auto_align_text::kNoCommonDetail;
        // In a chain, which picture could not be placed.
        if (steps > 1) message += "\n" + std::filesystem::path(picture).filename().string() +
                                  " shares no detail found with the join of the pictures before it.";
        ui.ShowMessage(message);
        return 1;
      }
      if (!o.hasOffset) doc.m_nOffsetX = found.settings.offsetX, doc.m_nOffsetY = found.settings.offsetY;
      if (!o.hasRotate2) doc.m_dRotation2 = found.settings.Rotation();
      if (!o.hasScale2) doc.m_nScale2X = doc.m_nScale2Y = found.settings.scale;
      if (o.printAlignment) {
        ui.EndLine();
        std::printf("%s\n",
                    AlignmentOptions(doc.m_nOffsetX, doc.m_nOffsetY, doc.m_dRotation2, doc.m_nScale2X, doc.m_nScale2Y)
                        .c_str());
        std::fflush(stdout);
        if (o.output.empty()) return 0;
      }
    }

    // Nothing prepares the sources again after this: a source that needs no
    // turning or scaling becomes its own prepared copy.
    doc.m_bTakeSourcePictures = true;
    doc.m_bSource1BecomesTarget = true;
    for (int n = 1; n <= 2; ++n) {
      const PrepareResult result = doc.PrepareSource(n);
      if (result == kPrepareDone) {
        // Nothing prepares this source again: its picture goes now, and leaves
        // its memory to the next prepared copy and the Target.
        if (documents.Source(n)) documents.Source(n)->m_pDib.reset();
        continue;
      }
      if (const char* const* lines = FailCodeLines(result)) ui.ShowMessage(std::string(lines[0]) + " " + lines[1]);
      return result == kPrepareStopped ? kStoppedStatus : 1;
    }
    if (last) break;
    if (doc.GenerateTarget() != 1) return g_bInterrupted ? kStoppedStatus : 1;
    tellGains(picture);
    if (!TargetBecomesSource1(documents, doc) || !Load(documents, o.sources[step + 1], o.quiet))
      return g_bInterrupted ? kStoppedStatus : 1;
  }
  if (doc.GenerateTarget() != 1) return g_bInterrupted ? kStoppedStatus : 1;
  // Nothing reads the prepared copies any more: their memory, and whatever
  // is kept for further pictures, goes back to the system before the save
  // asks for its own.
  doc.m_pSource1.reset();
  doc.m_pSource2.reset();
  doc.m_cover1.Clear();
  doc.m_cover2.Clear();
  ReleaseKeptPictureMemory();
  ui.EndLine();
  tellGains(o.sources.back());

  if (o.zone) {
    // Corners in Target pixels, y down from the top, kept inside the Target.
    const int w = doc.m_nTargetWidth, h = doc.m_nTargetHeight;
    const ZonePoint a{std::clamp(o.zoneX1, 0, w), std::clamp(o.zoneY1, 0, h)};
    const ZonePoint b{std::clamp(o.zoneX2, 0, w), std::clamp(o.zoneY2, 0, h)};
    if (std::abs(b.x - a.x) < 64 || std::abs(b.y - a.y) < 64) {
      ui.ShowMessage(target_text::kZoneTooSmall);
      return 1;
    }
    doc.SetZone(a, b);
    doc.m_bZoneOnly = 1;
  }
  if (g_bInterrupted) return kStoppedStatus;
  doc.m_bRefreshAfterSave = false;
  if (doc.SaveTargetToPath(o.output, o.filterIndex) != 1) return 1;
  if (!doc.m_szSaveNote.empty()) ui.ShowMessage(doc.m_szSaveNote);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const std::optional<JoinOptions> options = ParseJoinOptions(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) return Usage(error);
  if (options->help) {
    std::fputs(kJoinUsage, stdout);
    return 0;
  }
  if (options->version) {
    std::printf("tessara-join %s\n", TESSARA_VERSION);
    return 0;
  }
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  if (!options->jobs.empty()) return RunJobs(std::vector<std::string>(argv + 1, argv + argc), *options);

  TerminalInterface ui(!options->quiet && isatty(STDERR_FILENO));
  SetUserInterface(&ui);
  int status;
  {
    // The documents go at the end of this block, before the interface.
    CDocuments documents;
    try {
      status = Run(documents, *options, ui);
    } catch (const std::bad_alloc&) {
      // Whatever part of the work ran out of memory, the user hears it in the
      // program's words and nothing half-made is written.
      ui.EndLine();
      std::fputs("Not enough memory to finish the join.\n", stderr);
      status = 1;
    }
  }
  ui.EndLine();
  if (status == kStoppedStatus) std::fprintf(stderr, "tessara-join: stopped; nothing was written\n");
  SetUserInterface(nullptr);
  return status;
}
