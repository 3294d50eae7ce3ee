// The target document: the whole working state of a session (prepared sources,
// placement, scales, rotations, merge and adjustment settings, the Target), and
// the operations that fill it. There is exactly one, owned by CDocuments
// (engine/documents.h) and reached through g_pDestDoc.
//
// Coordinates: pixel (x, y) of every picture here is column x of stored row y,
// row 0 being the bottom of the picture; a positive m_nOffsetY moves source 2 up.
#pragma once

#include <string>

#include "engine/coverage.h"
#include "engine/generate_target.h"
#include "engine/prepare_source.h"
#include "engine/session.h"
#include "engine/work_observer.h"
#include "framework/document.h"
#include "framework/user_interface.h"
#include "image/dib.h"
#include "image/ximage.h"

namespace tessara {

namespace target_text {
inline constexpr const char* kTitle = "Target Window";
inline constexpr const char* kTitleNeedsUpdate = "Target Window - needs updating";
inline constexpr const char* kPressSpaceToQuit = "Press space bar to quit.";
inline constexpr const char* kQuitQuestion = kStopQuestion;
inline constexpr const char* kLoadingSource1 = "Loading Source 1 preview";
inline constexpr const char* kLoadingSource2 = "Loading Source 2 preview";
inline constexpr const char* kNoMemorySource = "Not enough memory to process the source image.";
inline constexpr const char* kNeedBothSources = "Cannot proceed until both source images have been loaded.";
inline constexpr const char* kCantLoadTarget = "Can't load target image!";
inline constexpr const char* kNoMemoryTarget = "Not enough memory to set up the target image.";
inline constexpr const char* kMergingSource1 = "Merging Source 1";
inline constexpr const char* kMergingSource2 = "Merging Source 2";
inline constexpr const char* kBlending = "Blending Source 1 and 2";
inline constexpr const char* kPleaseWait = "Please wait...";
inline constexpr const char* kNoMemoryOutput =
    "Not enough memory to process the target image prior to printing or saving to a file !!!";
inline constexpr const char* kFailedSave = "Failed the file save!";
inline constexpr const char* kZoneTooSmall =
    "Zone dimensions are too small.\nHeight and width should be at least 64 pixels.";
inline constexpr const char* kSaveTitle = "Save Target Image";
inline constexpr const char* kSaveTitleZone = "Save Target Image  - Zone area only";
inline constexpr const char* kSaveFilter =
    "Bitmap Files (*.bmp)|*.bmp|Jpeg Files (*.jpg)|*.jpg|Png Files (*.png)|*.png|Tif Files (*.tif)|*.tif|"
    "Tga Files (*.tga)|*.tga|Pcx Files (*.pcx)|*.pcx||";
}  // namespace target_text

// A corner of the Zone in pixels of the Target view: x to the right, y down from
// the Target's top edge.
struct ZonePoint {
  int x = 0;
  int y = 0;
};

inline constexpr ProgressColour kProgressCyan{0, 255, 255};
inline constexpr ProgressColour kProgressGreen{0, 255, 0};
inline constexpr ProgressColour kProgressGrey{128, 128, 128};

// The degree-to-radian factor used throughout, made from 3.14159.
inline constexpr double kDegToRad = 0.017453277777777776;

class CTessaraDoc;
class StreamedJoin;

// "Failed the file save!", and on the next line the file's name and the
// reason when there is one ("picture.png: No space left on device").
std::string FailedSaveText(const std::string& path, const std::string& why);

// The JPEG quality a save uses: the setting, 90 when it is absent or out of
// 1..100.
int SavedJpegQuality();
inline constexpr int kDefaultJpegQuality = 90;

class CDestdoc : public CDocument {
 public:
  CDestdoc();
  ~CDestdoc() override;

  void ResetSession();
  void ClearTarget();

  // Status line and stopping.
  void SetStatusText(const std::string& text);
  void SetStageText(const std::string& text);
  void ShowProgress(ProgressColour colour, int percent);
  int CheckAbort();

  // Makes the prepared copy of source n (1 or 2): scaled, mirrored, rotated.
  // A PrepareResult.
  PrepareResult PrepareSource(int n);
  // Converts source 2's prepared copy into source 1's colour space when their
  // profiles differ, so that the overlap merges like with like.
  void MatchColoursToSource1(Dib& copy);
  // Set by the batch tool, which drops each source picture once it is
  // prepared: a source at full size, neither turned nor mirrored, is then its
  // own prepared copy (taken from its document), which spares a copy as large
  // as the picture. The desktop program keeps its sources and never sets it.
  bool m_bTakeSourcePictures = false;
  // Set by the batch tool, which generates each Target once: the Target's
  // canvas is made of source 1's prepared copy (engine/canvas_over_source.h),
  // which is gone afterwards, so the Target needs only the memory it has
  // beyond source 1's.
  bool m_bSource1BecomesTarget = false;
  bool TakeSourceAsCopy(int n, CTessaraDoc& source, DibPtr& slot);
  // The settings PrepareSource(n) and GenerateTarget work with, as they stand.
  SourceSettings SourceSettingsOf(int n) const;
  TargetSettings CurrentTargetSettings() const;
  // Prepares whichever source has no prepared copy.
  void RefreshSources();
  // Builds the Target from both prepared sources. 1 when a Target was made.
  int GenerateTarget();
  // Draws the grid lines over the Target.
  void DrawGrid();
  // Gives up the Target for a further join: the picture, with `coverage` set
  // to which of its pixels came from the sources. Both prepared copies go
  // with it. Null when there is no Target.
  DibPtr TakeTargetAsPicture(SampleCoverage& coverage);

  // Saving: the output image (whole Target or Zone; 24 bits when force24), the
  // program's own bitmap writer, the codec writer (TIFF files keep a 1- or
  // 8-bit Target's depth, compressed without loss; other formats get 24 bits;
  // the compression settings of the store apply), and the Save-as dispatch by
  // the chosen name's ending (or the chosen file-type filter, 1 bmp .. 6 pcx,
  // 7 wmf, when the name has none). Each returns 1 when the file was written.
  DibPtr PrepareOutput(int force24);
  int SaveTargetBmp(const std::string& path);
  int SaveTargetFile(const std::string& path, int format);
  // Gives a picture about to be saved source 1's colour profile and, unless
  // the user turned it off, its camera data.
  void AttachSource1Metadata(CxImage& image) const;
  // The path Save-as writes for the chosen name and filter (remembered for
  // the next Save-as); empty, told, when the name has no ending we write.
  std::string ChosenSavePath(const std::string& chosen, int filterIndex);
  // Saves an output image as `format`, telling what could not be written.
  int SaveOutputImage(CxImage& image, const std::string& path, int format);
  // What the last save could not write (empty when it wrote everything).
  std::string m_szSaveNote;
  int SaveTargetToPath(const std::string& path, int filterIndex);
  // The Target of a join made a band at a time, saved as JPEG while it is
  // made (the batch tool's; nothing of it is kept). 1 when it was written; 0
  // when it was not, told unless the join's rows failed (the join knows why).
  int SaveStreamedTarget(const std::string& path, int filterIndex, StreamedJoin& join);
  // The Zone's corners as the Target view set them.
  void SetZone(ZonePoint anchor, ZonePoint corner) {
    m_ptZoneAnchor = anchor;
    m_ptZoneCorner = corner;
  }

  // Marks the Target as older than the settings.
  void MarkNeedsUpdate();
  void MarkUpToDate();

  DibPtr m_pTarget;
  DibPtr m_pSource1;
  DibPtr m_pSource2;
  // Which pixels of each prepared copy got a sample from their source.
  SampleCoverage m_cover1;
  SampleCoverage m_cover2;
  // Which pixels of the Target came from a source (see TakeTargetAsPicture).
  SampleCoverage m_targetCoverage;
  int m_nTargetWidth = 1;
  int m_nTargetHeight = 1;
  int m_nOutputWidth = 0;
  int m_nOutputHeight = 0;
  DibPtr m_pOutput;
  int m_nBitDepth = session_default::kDepth;
  int m_bUpToDate = 0;
  int m_bZoneOnly = 0;
  // The session's settings (the program's one value, g_session), and each of
  // them under the name the target document gives it.
  SessionSettings& m_session = g_session;
  AlignSettings& m_align = m_session.align;
  int& m_nContrast = m_session.m_nContrast;
  int& m_nBrightness = m_session.m_nBrightness;
  int& m_bCutCorners1 = m_align.m_bCutCorners1;
  int& m_bCutCorners2 = m_align.m_bCutCorners2;
  int& m_bMirror2 = m_align.m_bMirror2;
  int& m_bMirror1 = m_align.m_bMirror1;
  int& m_nViewScaleY = m_session.m_nViewScaleY;
  int& m_nViewScaleX = m_session.m_nViewScaleX;
  int& m_nSourceBias = m_session.m_nSourceBias;
  // Whether source 2's exposure and colour are matched to source 1's before
  // the merge (the Merge dialog's check box), and the gains the last Target
  // used.
  int& m_bMatchExposure = m_session.m_bMatchExposure;
  ExposureGains m_exposureGains;
  int& m_nOffsetX = m_align.m_nOffsetX;
  int& m_nOffsetY = m_align.m_nOffsetY;
  int& m_nScale1X = m_align.m_nScale1X;
  int& m_nScale1Y = m_align.m_nScale1Y;
  int& m_nScale2X = m_align.m_nScale2X;
  int& m_nScale2Y = m_align.m_nScale2Y;
  int& m_nSwingAngle = m_session.m_nSwingAngle;
  double& m_dRotation1 = m_align.m_dRotation1;
  double& m_dRotation2 = m_align.m_dRotation2;
  int m_nProgress = 0;

  // Set when the last RefreshSources met a stop by the user (the align document
  // shows it as its preview status).
  PrepareResult m_nLastRefreshResult = kPrepareDone;
  ZonePoint m_ptZoneAnchor;
  ZonePoint m_ptZoneCorner;
  // Whether the Target shown has been saved since it was built (closing the
  // program asks before an unsaved one is lost).
  int m_bTargetSaved = 0;
  // Whether a save prepares the sources again for further work; the batch tool,
  // which ends after its one save, turns this off.
  bool m_bRefreshAfterSave = true;
};

// Shows the progress of an engine operation on the status line (in `working`
// colour while a stage runs, grey once it is complete, the stage in the process
// pane) and asks the stop question when the space bar is down.
class StatusLineObserver : public WorkObserver {
 public:
  StatusLineObserver(CDestdoc& doc, ProgressColour working) : m_doc(doc), m_working(working) {}
  void Stage(WorkStage stage) override;
  void Progress(int percent) override;
  bool StopRequested() override { return m_doc.CheckAbort() == 1; }

 private:
  CDestdoc& m_doc;
  ProgressColour m_working;
};

// The file Save as writes for a chosen name: the name as it is when its ending
// (any case) is one of bmp, jpg, png, tif, tga, pcx, wmf; otherwise the name
// with the chosen filter's ending (1 bmp .. 6 pcx, 7 wmf) added. Empty when
// neither gives an ending.
std::string SavePathWithEnding(const std::string& chosen, int filterIndex);

// Height of the printed picture: the output image across the printable width,
// keeping its proportions on printers whose two resolutions differ.
int PrintDestinationHeight(int imageWidth, int imageHeight, int pageWidth, int dpiX, int dpiY);

// Tone curve of one channel value: contrast K (16 neutral), brightness B (128
// neutral).
inline uint8_t ToneCurve(int v, int contrast, int brightness) {
  int t = (v + brightness - 255) * contrast + 2032;
  t = t / 16;
  t = t + brightness - 128;
  return static_cast<uint8_t>(t < 0 ? 0 : (t > 255 ? 255 : t));
}

}  // namespace tessara
