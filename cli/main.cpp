// tessara-join: joins two pictures the way the desktop program does, without
// windows. The documents and the engine are the program's own; messages that the
// program shows in a box go to standard error word for word.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <new>
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
#include "engine/tessara_doc.h"
#include "framework/settings.h"
#include "framework/user_interface.h"
#include "framework/version.h"

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

  void ShowMessage(const std::string& text) override {
    EndLine();
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  bool AskYesNo(const std::string&) override { return g_bInterrupted; }
  void SetPaneText(StatusPane pane, const std::string& text) override {
    if (pane != kPaneProcess) return;
    if (!text.empty()) m_stage = text;
    Draw();
  }
  void ShowProgress(ProgressColour, int percent) override {
    m_nPercent = std::clamp(percent, 0, 100);
    Draw();
  }
  void DiscardTypedKeys() override {}
  bool IsSpaceBarDown() override { return g_bInterrupted; }
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
  bool m_bOnLine = false;
  std::string m_stage, m_drawnStage;
  int m_nPercent = 0, m_nDrawnPercent = -1;
};

int Usage(const std::string& error) {
  std::fprintf(stderr, "tessara-join: %s\nTry 'tessara-join --help' for more information.\n", error.c_str());
  return 2;
}

bool Load(CDocuments& documents, const std::string& path, bool quiet) {
  // Shown with a progress bar only when the picture is large enough to be
  // watched while it loads.
  UserInterface().SetPaneText(kPaneProcess, "Loading " + std::filesystem::path(path).filename().string());
  CTessaraDoc* doc = documents.OpenSource();
  if (!doc) return false;
  if (doc->OnOpenDocument(path)) {
    if (!quiet && !doc->m_szLoadNote.empty())
      std::fprintf(stderr, "%s: %s\n", std::filesystem::path(path).filename().string().c_str(), doc->m_szLoadNote.c_str());
    return true;
  }
  documents.CloseSource(*doc);
  return false;
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
  // The options given with --jobs, without it, go before each line's own.
  std::vector<std::string> common;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--jobs") ++i;
    else if (args[i].rfind("--jobs=", 0) != 0 && args[i] != "--") common.push_back(args[i]);
  }
  std::vector<Job> jobs = ReadJobList(text, common);
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  const std::string program = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string("tessara-join");
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return RunJobList(program, jobs, cores, !options.quiet && isatty(STDERR_FILENO), &g_bInterrupted);
}

int Run(CDocuments& documents, const JoinOptions& o, TerminalInterface& ui) {
  CDestdoc& doc = documents.MakeTarget();
  documents.MakeAlign();
  Settings().WriteInt(settings_key::kConfigure, settings_key::kTurnByOrientation, o.ignoreOrientation ? 0 : 1);
  Settings().WriteInt(settings_key::kConfigure, settings_key::kKeepCameraData, o.stripMetadata ? 0 : 1);
  Settings().WriteInt(settings_key::kConfigure, settings_key::kJpegQuality, o.quality);
  Settings().WriteInt(settings_key::kConfigure, settings_key::kLosslessTiff, o.losslessTiff ? 1 : 0);
  if (!Load(documents, o.source1, o.quiet) || !Load(documents, o.source2, o.quiet))
    return g_bInterrupted ? kStoppedStatus : 1;

  doc.m_nOffsetX = o.offsetX;
  doc.m_nOffsetY = o.offsetY;
  doc.m_nScale1X = o.scale1X, doc.m_nScale1Y = o.scale1Y;
  doc.m_nScale2X = o.scale2X, doc.m_nScale2Y = o.scale2Y;
  doc.m_dRotation1 = o.rotate1, doc.m_dRotation2 = o.rotate2;
  doc.m_bCutCorners1 = o.cutCorners1, doc.m_bCutCorners2 = o.cutCorners2;
  doc.m_bMirror1 = o.mirror1, doc.m_bMirror2 = o.mirror2;
  doc.m_nSourceBias = o.bias;
  doc.m_nContrast = o.contrast;
  doc.m_nBrightness = o.brightness;
  doc.m_nSwingAngle = o.swing;
  g_nMergeRule = o.mergeRule;
  g_bFadeEdge1 = o.fade1;
  g_bFadeEdge2 = o.fade2;
  g_bMonoAnd = o.monoAnd;
  g_bSolidGrid = o.solidGrid > 0;
  g_nSolidGridX = g_nSolidGridY = o.solidGrid > 0 ? o.solidGrid : 100;
  g_bDottedGrid = o.dottedGrid > 0;
  g_nDotGridX = g_nDotGridY = o.dottedGrid > 0 ? o.dottedGrid : 10;
  const uint8_t grid = o.gridWhite ? 255 : 0;
  g_GridColour = {grid, grid, grid};

  if (o.autoAlign) {
    const AutoAlignResult found = FindAutoAlignment(doc);
    if (found.status == kAutoAlignStopped) return kStoppedStatus;
    if (found.status != kAutoAlignFound) {
      ui.ShowMessage(found.status == kAutoAlignNoMemory ? found.message : auto_align_text::kNoCommonDetail);
      return 1;
    }
    if (!o.hasOffset) doc.m_nOffsetX = found.settings.offsetX, doc.m_nOffsetY = found.settings.offsetY;
    if (!o.hasRotate2) doc.m_dRotation2 = found.settings.Rotation();
    if (!o.hasScale2) doc.m_nScale2X = doc.m_nScale2Y = found.settings.scale;
    if (o.printAlignment) {
      ui.EndLine();
      std::printf("%s\n", AlignmentOptions(doc.m_nOffsetX, doc.m_nOffsetY, doc.m_dRotation2, doc.m_nScale2X, doc.m_nScale2Y).c_str());
      std::fflush(stdout);
      if (o.output.empty()) return 0;
    }
  }

  // Nothing prepares the sources again after this: a source that needs no
  // turning or scaling becomes its own prepared copy.
  doc.m_bTakeSourcePictures = true;
  for (int n = 1; n <= 2; ++n) {
    const int result = doc.PrepareSource(n);
    if (result == kPrepareDone) {
      // Nothing prepares this source again: its picture goes now, and leaves
      // its memory to the next prepared copy and the Target.
      if (documents.Source(n)) documents.Source(n)->m_pDib.reset();
      continue;
    }
    if (const char* const* lines = FailCodeLines(result)) ui.ShowMessage(std::string(lines[0]) + " " + lines[1]);
    return result == kPrepareStopped ? kStoppedStatus : 1;
  }
  if (doc.GenerateTarget() != 1) return g_bInterrupted ? kStoppedStatus : 1;
  ui.EndLine();

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
