// Preparation and generation as plain operations: they talk to no one but their
// observer, give what the target document's operations give for the same
// settings, and keep the settings they were given for the whole of the work.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/generate_target.h"
#include "engine/prepare_source.h"
#include "tests/engine_fixture.h"

namespace tessara {
namespace {

using test::Coordinates24;
using test::Indexed;

struct RecordingObserver : WorkObserver {
  void Stage(WorkStage s) override { stages.push_back(s); }
  void Progress(int percent) override { progress.push_back(percent); }
  bool StopRequested() override { return ++polls == stopAtPoll; }
  std::vector<WorkStage> stages;
  std::vector<int> progress;
  int polls = 0;
  int stopAtPoll = 0;
};

bool SameBlock(const Dib& a, const Dib& b) { return a.Size() == b.Size() && !std::memcmp(a.Data(), b.Data(), a.Size()); }

class EngineOperations : public test::EngineTest {
 protected:
  // Puts a TargetSettings value into the session, field by field.
  void Apply(const TargetSettings& t) {
    doc->m_nOffsetX = t.offsetX, doc->m_nOffsetY = t.offsetY;
    g_nMergeRule = t.merge.rule, doc->m_nSourceBias = t.merge.bias;
    g_bFadeEdge1 = t.merge.fade1, g_bFadeEdge2 = t.merge.fade2, g_bMonoAnd = t.monoAnd;
    doc->m_nContrast = t.contrast, doc->m_nBrightness = t.brightness, doc->m_nSwingAngle = t.swing;
    doc->m_nViewScaleX = t.viewScaleX, doc->m_nViewScaleY = t.viewScaleY;
    g_bSolidGrid = t.grid.solid, g_bDottedGrid = t.grid.dotted;
    g_nSolidGridX = t.grid.solidX, g_nSolidGridY = t.grid.solidY, g_nDotGridX = t.grid.dotX, g_nDotGridY = t.grid.dotY;
    g_GridColour = t.grid.colour;
  }
  GeneratedTarget Generate(const TargetSettings& t, WorkObserver& observer) {
    return GenerateTargetPicture({*doc->m_pSource1, doc->m_cover1}, {*doc->m_pSource2, doc->m_cover2}, t, observer);
  }
};

TEST_F(EngineOperations, PreparationTalksOnlyToItsObserverAndMatchesTheDocument) {
  const SourceSettings s{1100, 900, 7.3, true, false};
  RecordingObserver observer;
  const PreparedSource alone = PrepareSourceCopy(*Coordinates24(40, 30), s, observer);
  ASSERT_EQ(alone.result, kPrepareDone);
  ASSERT_NE(alone.picture, nullptr);
  EXPECT_TRUE(alone.coverage.Describes(alone.picture.get()));
  EXPECT_TRUE(ui.ProgressSteps().empty());
  EXPECT_TRUE(ui.PaneHistory(kPaneMessage).empty());
  EXPECT_TRUE(ui.PaneHistory(kPaneProcess).empty());
  const int rows = alone.picture->Height();
  ASSERT_EQ(observer.progress.size(), static_cast<size_t>(rows) + 1);
  for (int y = 0; y < rows; ++y) EXPECT_EQ(observer.progress[static_cast<size_t>(y)], y * 100 / rows) << y;
  EXPECT_EQ(observer.progress.back(), 100);
  EXPECT_EQ(observer.stages, std::vector<WorkStage>{WorkStage::kNone});

  // The document's source 2 with the same settings (source 1's differ).
  AddSource(Coordinates24(40, 30));
  AddSource(Coordinates24(40, 30));
  doc->m_nScale1X = 700, doc->m_nScale1Y = 1300, doc->m_dRotation1 = -2.0;
  doc->m_nScale2X = 1100, doc->m_nScale2Y = 900, doc->m_dRotation2 = 7.3, doc->m_bMirror2 = 1, doc->m_bCutCorners2 = 0;
  ASSERT_EQ(doc->PrepareSource(2), kPrepareDone);
  ASSERT_TRUE(SameBlock(*doc->m_pSource2, *alone.picture));
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < alone.picture->Width(); ++x)
      ASSERT_EQ(doc->m_cover2.Sampled(x, y), alone.coverage.Sampled(x, y)) << x << "," << y;
}

TEST_F(EngineOperations, PreparationStopsAndRefusesWithoutMessages) {
  RecordingObserver stopping;
  stopping.stopAtPoll = 1;
  const PreparedSource stopped = PrepareSourceCopy(*Coordinates24(20, 10), {1500, 1500, 3.0, false, true}, stopping);
  EXPECT_EQ(stopped.result, kPrepareStopped);
  EXPECT_EQ(stopped.picture, nullptr);

  RecordingObserver quiet;
  const PreparedSource huge = PrepareSourceCopy(*Coordinates24(3000, 1), {32767, 1024, 0.0, false, true}, quiet);
  EXPECT_EQ(huge.result, kPrepareNoMemory);
  EXPECT_TRUE(huge.tooLarge);
  const PreparedSource nothing = PrepareSourceCopy(*Coordinates24(700, 1), {0, 1024, 0.0, false, true}, quiet);
  EXPECT_EQ(nothing.result, kPrepareNoMemory);
  EXPECT_FALSE(nothing.tooLarge);
  EXPECT_TRUE(ui.Messages().empty());
  EXPECT_TRUE(quiet.progress.empty());
  // The document tells the user about the one that is too large.
  AddSource(Coordinates24(3000, 1));
  doc->m_nScale1X = 32767;
  EXPECT_EQ(doc->PrepareSource(1), kPrepareNoMemory);
  EXPECT_EQ(ui.Messages(), std::vector<std::string>{std::string(target_text::kNoMemorySource) +
                                                    " A picture of 95997 x 1 pixels is larger than the 65,500 "
                                                    "pixels a side the program can make."});
}

TEST_F(EngineOperations, GenerationMatchesTheDocumentAtEveryDepth) {
  TargetSettings mono;
  mono.offsetX = 3, mono.offsetY = -2, mono.monoAnd = true;
  TargetSettings palette;
  palette.offsetX = -2, palette.offsetY = 1, palette.merge = {kMergeLeast, 90, false, false};
  palette.contrast = 20, palette.brightness = 100;
  TargetSettings colour;
  colour.offsetX = 5, colour.offsetY = 3, colour.merge = {kMergeGreatest, 40, false, true};
  colour.swing = 30, colour.viewScaleX = 150, colour.viewScaleY = 80;
  colour.grid = {true, true, 4, 3, 2, 2, {255, 255, 255}};
  const struct {
    int bits;
    TargetSettings settings;
  } cases[] = {{1, mono}, {4, palette}, {24, colour}};
  for (const auto& c : cases) {
    Restart();
    if (c.bits == 24) Prepared(Coordinates24(11, 7), Coordinates24(9, 8));
    else Prepared(Indexed(c.bits, 11, 7, [](int x, int y) { return x * y + x; }),
                  Indexed(c.bits, 9, 8, [](int x, int y) { return x + 3 * y; }));
    Apply(c.settings);
    RecordingObserver observer;
    const GeneratedTarget made = Generate(c.settings, observer);
    ASSERT_EQ(doc->GenerateTarget(), 1) << c.bits;
    ASSERT_EQ(made.result, GenerateResult::kDone) << c.bits;
    EXPECT_EQ(made.plan.depth, doc->m_nBitDepth) << c.bits;
    EXPECT_EQ(made.plan.shownWidth, doc->m_nTargetWidth) << c.bits;
    EXPECT_EQ(made.plan.shownHeight, doc->m_nTargetHeight) << c.bits;
    EXPECT_TRUE(SameBlock(*made.target, *doc->m_pTarget)) << c.bits;
  }
}

TEST_F(EngineOperations, GenerationStagesAndProgressOnTheStatusLine) {
  using Steps = std::vector<std::pair<bool, int>>;  // grey?, percent
  auto steps = [&] {
    Steps s;
    for (const auto& p : ui.ProgressSteps()) s.push_back({p.colour == kProgressGrey, p.percent});
    return s;
  };
  Prepared(Indexed(1, 4, 3, [](int x, int) { return x; }), Indexed(1, 4, 3, [](int, int y) { return y; }));
  ASSERT_EQ(doc->GenerateTarget(), 1);
  EXPECT_EQ(ui.PaneHistory(kPaneMessage), std::vector<std::string>{""});
  EXPECT_EQ(ui.PaneHistory(kPaneProcess), (std::vector<std::string>{"Merging Source 1", "Merging Source 2", ""}));
  EXPECT_EQ(steps(), (Steps{{false, 0}, {false, 33}, {false, 66}, {true, 100}, {false, 0}, {false, 33}, {false, 66},
                            {true, 100}}));
  EXPECT_EQ(ui.ProgressSteps().front().colour, kProgressCyan);

  Restart();
  Prepared(Indexed(4, 3, 2, [](int x, int) { return x; }), Indexed(4, 3, 2, [](int, int y) { return y; }));
  ASSERT_EQ(doc->GenerateTarget(), 1);
  EXPECT_EQ(ui.PaneHistory(kPaneProcess),
            (std::vector<std::string>{"Please wait...", "Merging Source 1", "Merging Source 2", ""}));
  EXPECT_EQ(steps(), (Steps{{false, 0}, {false, 33}, {false, 66}, {true, 100}, {false, 0}, {false, 33}, {false, 66},
                            {true, 100}}));

  Restart();
  Prepared(Coordinates24(5, 4), Coordinates24(5, 4));
  ASSERT_EQ(doc->GenerateTarget(), 1);
  EXPECT_EQ(ui.PaneHistory(kPaneMessage), (std::vector<std::string>{"Press space bar to quit.", ""}));
  EXPECT_EQ(ui.PaneHistory(kPaneProcess), (std::vector<std::string>{"Merging Source 1", "Merging Source 2", ""}));
  EXPECT_EQ(steps(), (Steps{{false, 80}, {true, 100}, {false, 80}, {true, 100}, {true, 100}}));
}

// A session whose bias moves while the Target is laid, as the window thread
// could move it while the stop check waits for it.
class BiasMovingUserInterface : public HeadlessUserInterface {
 public:
  bool IsSpaceBarDown() override {
    if (g_pDestDoc) g_pDestDoc->m_nSourceBias = 255;
    return HeadlessUserInterface::IsSpaceBarDown();
  }
};

TEST_F(EngineOperations, GenerationKeepsTheSettingsItStartedWith) {
  BiasMovingUserInterface moving;
  SetUserInterface(&moving);
  // Three strips of overlap; bias 0 keeps source 1's colour in every one.
  DibPtr a = CreateDib(200, 24, 300, 2, "x"), b = CreateDib(10, 24, 300, 2, "x");
  Prepared(std::move(a), std::move(b));
  doc->m_nSourceBias = 0;
  ASSERT_EQ(doc->GenerateTarget(), 1);
  for (int x = 0; x < 300; ++x) ASSERT_EQ(doc->m_pTarget->Row(1)[3 * x], 200 * 255 >> 8) << x;
  EXPECT_EQ(doc->m_nSourceBias, 255);
  SetUserInterface(&ui);

  // Without any target document the operators use the bias given, not a
  // default.
  TargetSettings t;
  t.merge.bias = 0;
  const DibPtr s1 = CreateDib(200, 24, 300, 2, "x"), s2 = CreateDib(10, 24, 300, 2, "x");
  const SampleCoverage none;
  documents.CloseTarget();
  doc = nullptr;
  RecordingObserver observer;
  const GeneratedTarget made = GenerateTargetPicture({*s1, none}, {*s2, none}, t, observer);
  ASSERT_EQ(made.result, GenerateResult::kDone);
  EXPECT_EQ(made.target->Row(0)[0], 200 * 255 >> 8);
  EXPECT_EQ(observer.stages, (std::vector<WorkStage>{WorkStage::kStoppable, WorkStage::kMergingSource1,
                                                     WorkStage::kMergingSource2, WorkStage::kNone}));
  EXPECT_EQ(observer.polls, 6);
}

TEST_F(EngineOperations, GenerationStoppedInEitherSourceLeavesNoTarget) {
  const DibPtr s1 = Coordinates24(300, 3), s2 = Coordinates24(300, 3);
  const SampleCoverage none;
  for (int poll : {1, 3, 4}) {
    RecordingObserver observer;
    observer.stopAtPoll = poll;
    const GeneratedTarget made = GenerateTargetPicture({*s1, none}, {*s2, none}, TargetSettings{}, observer);
    EXPECT_EQ(made.result, poll <= 3 ? GenerateResult::kStoppedInSource1 : GenerateResult::kStoppedInSource2) << poll;
    EXPECT_EQ(made.target, nullptr) << poll;
    EXPECT_EQ(observer.polls, poll);
  }
}

// Tall pictures laid without the projection go in bands of whole rows: a
// progress step after each band, rising to 100 for each source, and a stop
// between two bands of either source leaves no Target.
TEST_F(EngineOperations, TallTargetsReportBandsAndStopBetweenThem) {
  const DibPtr s1 = Coordinates24(5000, 1100), s2 = Coordinates24(4000, 1100);
  const SampleCoverage none;
  TargetSettings settings;
  settings.offsetX = 3000;
  settings.offsetY = 40;
  RecordingObserver all;
  const GeneratedTarget made = GenerateTargetPicture({*s1, none}, {*s2, none}, settings, all);
  ASSERT_EQ(made.result, GenerateResult::kDone);
  // Bands of 4M / 5000 = 838 rows of source 1, and 1048 of source 2.
  EXPECT_EQ(all.progress, (std::vector<int>{76, 99, 100, 95, 99, 100, 100}));
  EXPECT_EQ(all.polls, 4);
  for (int poll : {1, 2, 3, 4}) {
    RecordingObserver observer;
    observer.stopAtPoll = poll;
    const GeneratedTarget stopped = GenerateTargetPicture({*s1, none}, {*s2, none}, settings, observer);
    EXPECT_EQ(stopped.result, poll <= 2 ? GenerateResult::kStoppedInSource1 : GenerateResult::kStoppedInSource2)
        << poll;
    EXPECT_EQ(stopped.target, nullptr) << poll;
  }
}

TEST_F(EngineOperations, GenerationRefusesAnImpossibleCanvasWithoutMessages) {
  // An offset that puts source 2 far beyond any picture's size.
  const DibPtr s1 = Coordinates24(30, 3), s2 = Coordinates24(30, 3);
  const SampleCoverage none;
  TargetSettings t;
  t.offsetX = 70000;
  RecordingObserver observer;
  const GeneratedTarget made = GenerateTargetPicture({*s1, none}, {*s2, none}, t, observer);
  EXPECT_EQ(made.result, GenerateResult::kNoMemory);
  EXPECT_EQ(made.target, nullptr);
  EXPECT_TRUE(ui.Messages().empty());
  // The document tells the user, once.
  Prepared(Coordinates24(30, 3), Coordinates24(30, 3));
  doc->m_nOffsetX = 70000;
  EXPECT_EQ(doc->GenerateTarget(), 0);
  EXPECT_EQ(ui.Messages(), std::vector<std::string>{std::string(target_text::kNoMemoryTarget) +
                                                    " A picture of 70030 x 3 pixels is larger than the 65,500 "
                                                    "pixels a side the program can make."});
  EXPECT_EQ(doc->m_pTarget, nullptr);
}

// Two 45-megapixel photographs (8192 x 5464) overlapping by 3384 columns and
// faded: a Target of 13000 x 5464 (213 MB), which the program once refused
// for lack of memory on any machine.
TEST_F(EngineOperations, TwoFortyFiveMegapixelPhotographsJoin) {
  AddSource(CreateDib(0x40, 24, 8192, 5464, "x"));
  AddSource(CreateDib(0xC0, 24, 8192, 5464, "x"));
  doc->m_nOffsetX = 4808;
  doc->m_nOffsetY = 0;
  g_bFadeEdge2 = 1;
  doc->RefreshSources();
  const int made = doc->GenerateTarget();
  g_bFadeEdge2 = 0;
  ASSERT_EQ(made, 1) << ui.LastMessage();
  EXPECT_TRUE(ui.Messages().empty());
  const Dib& t = *doc->m_pTarget;
  EXPECT_EQ(t.Width(), 13000);
  EXPECT_EQ(t.Height(), 5464);
  EXPECT_EQ(t.Row(2000)[3 * 100], 0x40);    // source 1 alone
  EXPECT_EQ(t.Row(2000)[3 * 12900], 0xC0);  // source 2 alone
  // In the middle of the overlap both weigh in.
  const uint8_t mid = t.Row(2732)[3 * (4808 + 1692)];
  EXPECT_GT(mid, 0x40);
  EXPECT_LT(mid, 0xC0);
}

}  // namespace
}  // namespace tessara
