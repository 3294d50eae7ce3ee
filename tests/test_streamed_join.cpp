// Joins made a band of rows at a time: the row reader against the whole
// decoder, which pairs and settings take that path, and the batch tool's file
// against the one its whole-picture path writes for the same job.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/prepare_source.h"
#include "engine/streamed_join.h"
#include "image/codec.h"
#include "image/colour_profile.h"
#include "image/ximage.h"
#include "tests/test_support.h"

extern char** environ;

namespace tessara {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct Photo {
  Photo(int w, int h, int v = 0) : width(w), height(h), variant(v) {}
  Photo& Grey() { return depth = 8, *this; }
  Photo& Progressive() { return options = kJpegOptionProgressive, *this; }
  Photo& Icc(const IccProfile& profile) { return icc = profile, *this; }
  Photo& Camera(const CameraData* data) { return camera = data, *this; }
  Photo& Dpi(int d) { return dpi = d, *this; }

  int width, height;
  int variant;  // which of several pictures of the kind
  int depth = 24;
  uint32_t options = 0;  // kJpegOption flags
  IccProfile icc;
  const CameraData* camera = nullptr;
  int dpi = 0;
};

// A picture with detail everywhere (and some pixels of the merge
// background, which laying source 1 must nudge), saved as a JPEG.
Bytes Encode(const Photo& p) {
  CxImage img(CXIMAGE_FORMAT_JPG);
  if (!img.Create(p.width, p.height, p.depth)) return {};
  if (p.depth == 8) img.SetGrayPalette();
  for (int y = 0; y < p.height; ++y) {
    uint8_t* row = img.GetBits(y);
    for (int x = 0; x < p.width; ++x) {
      const int v = (x * (3 + p.variant) + y * 5 + ((x ^ y) & 31) * 4 + (x * y >> 7)) & 255;
      if (p.depth == 8) {
        row[x] = static_cast<uint8_t>(v);
        continue;
      }
      const bool grey = (x / 40 + y / 40) % 7 == 0;
      row[3 * x] = grey ? 127 : static_cast<uint8_t>(v);
      row[3 * x + 1] = grey ? 127 : static_cast<uint8_t>((v * 3 + y) & 255);
      row[3 * x + 2] = grey ? 127 : static_cast<uint8_t>(255 - v);
    }
  }
  img.m_metadata.iccProfile = p.icc;
  if (p.camera) img.m_metadata.camera = *p.camera;
  if (p.dpi) img.SetXDpi(p.dpi), img.SetYDpi(p.dpi);
  img.m_dwCodecOptions = p.options;
  std::vector<uint8_t> out;
  if (!img.Encode(out, CXIMAGE_FORMAT_JPG)) return {};
  if (p.camera) {
    std::string why;
    EmbedCameraData(out, CXIMAGE_FORMAT_JPG, {*p.camera, p.width, p.height, "test"}, why);
  }
  return out;
}

fs::path Write(const fs::path& dir, const std::string& name, const Bytes& bytes) {
  const fs::path path = dir / name;
  test::WriteBytes(path, bytes);
  return path;
}

// The APP1 segment of a JPEG whose camera data asks for a turn, put into
// another JPEG right after its start marker.
Bytes WithTurnTag(const Bytes& jpeg) {
  const Bytes tagged = test::ReadBytes(test::TestData("metadata/jpg_camera_orientation6.jpg"));
  size_t at = 2;
  while (at + 4 <= tagged.size() && !(tagged[at] == 0xFF && tagged[at + 1] == 0xE1))
    at += 2 + ((tagged[at + 2] << 8) | tagged[at + 3]);
  if (at + 4 > tagged.size()) return {};
  const size_t length = 2 + ((tagged[at + 2] << 8) | tagged[at + 3]);
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  out.insert(out.end(), tagged.begin() + long(at), tagged.begin() + long(at + length));
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

TEST(JpegRowReader, GivesTheWholeDecodersPixelsAndStopsWhereItDoes) {
  const Bytes jpeg = Encode(Photo(333, 250, 1));
  CxImage whole(jpeg.data(), jpeg.size(), CXIMAGE_FORMAT_JPG);
  ASSERT_TRUE(whole.IsValid());
  std::unique_ptr<JpegRowReader> reader = JpegRowReader::Open(jpeg.data(), jpeg.size());
  ASSERT_TRUE(reader && reader->Reads());
  ASSERT_EQ(reader->Width(), 333);
  ASSERT_EQ(reader->Height(), 250);
  // Uneven pieces, one of a single row.
  std::vector<uint8_t> rows(250 * 333 * 3);
  int done = 0;
  for (int piece : {1, 17, 100, 132}) {
    std::vector<uint8_t*> at;
    for (int i = 0; i < piece; ++i) at.push_back(&rows[size_t(done + i) * 333 * 3]);
    ASSERT_TRUE(reader->Read(at.data(), piece)) << reader->Why();
    done += piece;
  }
  for (int y = 0; y < 250; ++y)
    ASSERT_EQ(std::memcmp(&rows[size_t(y) * 333 * 3], whole.GetBits(249 - y), 333 * 3), 0) << "row " << y;
  uint8_t* more = rows.data();
  EXPECT_FALSE(reader->Read(&more, 1));  // nothing beyond the picture

  // A file cut short: the reader stops with the whole decoder's words.
  const Bytes cut(jpeg.begin(), jpeg.begin() + long(jpeg.size() * 3 / 5));
  CxImage failed(cut.data(), cut.size(), CXIMAGE_FORMAT_JPG);
  ASSERT_FALSE(failed.IsValid());
  reader = JpegRowReader::Open(cut.data(), cut.size());
  ASSERT_TRUE(reader && reader->Reads());
  std::vector<uint8_t*> all;
  for (int y = 0; y < 250; ++y) all.push_back(&rows[size_t(y) * 333 * 3]);
  EXPECT_FALSE(reader->Read(all.data(), 250));
  EXPECT_EQ(reader->Why(), failed.GetLastError());

  // Grey and progressive files are the whole decoder's.
  for (const Photo& p : {Photo(64, 64).Grey(), Photo(64, 64).Progressive()}) {
    const Bytes other = Encode(p);
    reader = JpegRowReader::Open(other.data(), other.size());
    ASSERT_TRUE(reader);
    EXPECT_FALSE(reader->Reads());
    EXPECT_EQ(reader->Why(), "");
  }
  const Bytes png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
  reader = JpegRowReader::Open(png.data(), png.size());
  ASSERT_TRUE(reader);
  EXPECT_FALSE(reader->Reads());
  EXPECT_NE(reader->Why(), "");
}

// The copy made a row at a time from a ring just as long as the rows say:
// every row and run is the whole preparation's, so the rows each copy row
// reads are named right (a row left out would be read stale from the ring).
TEST(CopyRowMaker, MakesThePreparedCopyFromARingOfRows) {
  const int width = 301, height = 233;
  DibPtr source = NewDib(0, 24, width, height);
  ASSERT_TRUE(source);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = source->Row(y) + 3 * x;
      p[0] = uint8_t(x * 7 + y), p[1] = uint8_t(y * 5 ^ x), p[2] = uint8_t((x * y) >> 3);
    }
  struct Case {
    double rotation;
    int scaleX, scaleY;
    bool mirror, cutCorners;
  } cases[] = {{1.5, 1034, 1034, false, false}, {-7.25, 1024, 1024, false, true}, {12, 700, 1300, true, false},
               {-40, 2048, 512, true, true},    {0, 900, 1100, false, true},    {89.9, 1024, 1024, false, false}};
  for (const Case& c : cases) {
    SourceSettings settings;
    settings.rotation = c.rotation;
    settings.scaleX = c.scaleX;
    settings.scaleY = c.scaleY;
    settings.mirror = c.mirror;
    settings.cutCorners = c.cutCorners;
    WorkObserver observer;
    const PreparedSource whole = PrepareSourceCopy(*source, settings, observer);
    ASSERT_EQ(whole.result, kPrepareDone);
    const Dib& copy = *whole.picture;
    const CopyRowMaker maker(width, height, settings);
    ASSERT_TRUE(maker.Ok()) << c.rotation;
    ASSERT_EQ(maker.Width(), copy.Width());
    ASSERT_EQ(maker.Height(), copy.Height());
    int slots = 1;
    for (int y = 0; y < copy.Height(); ++y) {
      int first = 0, last = 0;
      if (maker.RowsRead(y, y, first, last)) slots = std::max(slots, last - first + 1);
    }
    const size_t stride = 3 * size_t(width);
    std::vector<uint8_t> ring(size_t(slots) * stride, 0xAB), row(3 * size_t(copy.Width()));
    const CoverageView cover(whole.coverage, copy);
    int decoded = 0;
    for (int y = copy.Height() - 1; y >= 0; --y) {
      int first = 0, last = 0;
      if (maker.RowsRead(y, y, first, last))
        for (; decoded < height - first; ++decoded)
          std::memcpy(&ring[size_t(decoded % slots) * stride], source->Row(height - 1 - decoded), stride);
      const SampleCoverage::Run run = maker.Make(y, row.data(), ring.data(), stride, slots);
      ASSERT_EQ(std::memcmp(row.data(), copy.Row(y), row.size()), 0) << c.rotation << " row " << y;
      const RowCoverage expected = cover.Row(y);
      for (int x = 0; x < copy.Width(); ++x)
        ASSERT_EQ(expected.Sampled(x), x == copy.Width() - 1 ? run.last : x >= run.begin && x < run.end)
            << c.rotation << " row " << y << " column " << x;
    }
  }
  SourceSettings pastRightAngle;
  pastRightAngle.rotation = 120;
  EXPECT_FALSE(CopyRowMaker(width, height, pastRightAngle).Ok());
}

TargetSettings Beside(int offsetX, int offsetY) {
  TargetSettings s;
  s.offsetX = offsetX;
  s.offsetY = offsetY;
  return s;
}

TEST(StreamedJoin, TakesOnlyPairsTheWholePathJoinsAsTheyAre) {
  const fs::path dir = test::TempDir();
  const Photo base(1200, 900, 2);
  const fs::path one = Write(dir, "one.jpg", Encode(base));
  const fs::path two = Write(dir, "two.jpg", Encode(Photo(1200, 900, 5)));
  const TargetSettings beside = Beside(700, 0);
  const auto opens = [&](const fs::path& a, const fs::path& b, const TargetSettings& s) {
    return StreamedJoin::Open(a.string(), b.string(), s, SourceSettings(), 0, nullptr) != nullptr;
  };
  ASSERT_TRUE(opens(one, two, beside));
  // Source 2 copied as it decodes: turned, scaled, mirrored; but a turn past
  // a right angle reads its rows out of order.
  SourceSettings turned;
  turned.rotation = -3.5;
  turned.scaleX = 900;
  turned.mirror = true;
  EXPECT_TRUE(StreamedJoin::Open(one.string(), two.string(), beside, turned, 0, nullptr));
  turned.rotation = 95;
  EXPECT_FALSE(StreamedJoin::Open(one.string(), two.string(), beside, turned, 0, nullptr));

  Photo sRgb = base;
  sRgb.icc = test::SrgbProfile();
  Photo wide = base;
  wide.icc = test::WideProfile();
  const fs::path srgb1 = Write(dir, "srgb1.jpg", Encode(sRgb)), srgb2 = Write(dir, "srgb2.jpg", Encode(sRgb));
  EXPECT_TRUE(opens(srgb1, srgb2, beside));  // one colour space: merged as they are
  const Bytes bytes = Encode(base);
  const struct {
    const char* what;
    fs::path first, second;
  } refused[] = {
      {"source 2 in another colour space", srgb1, Write(dir, "wide.jpg", Encode(wide))},
      {"a grey source", Write(dir, "grey.jpg", Encode(Photo(1200, 900).Grey())), two},
      {"a progressive source", one,
       Write(dir, "progressive.jpg", Encode(Photo(1200, 900).Progressive()))},
      {"a source to be turned", one, Write(dir, "turned.jpg", WithTurnTag(bytes))},
      {"a JPEG named otherwise", Write(dir, "named.png", bytes), two},
      {"a damaged header", one, Write(dir, "header.jpg", Bytes(bytes.begin(), bytes.begin() + 40))},
      {"a missing file", one, dir / "missing.jpg"},
      {"a Target written in one piece", Write(dir, "small1.jpg", Encode(Photo(300, 200))),
       Write(dir, "small2.jpg", Encode(Photo(300, 200)))},
  };
  for (const auto& r : refused) EXPECT_FALSE(opens(r.first, r.second, beside)) << r.what;
  ASSERT_FALSE(WithTurnTag(bytes).empty());

  // Settings that read rows away from the one being laid.
  TargetSettings projected = beside, matched = beside, blended = beside, gridded = beside;
  projected.swing = 40;
  matched.merge.matchExposure = true;
  blended.merge.rule = kMergeBlend;
  gridded.grid.dotted = true;
  gridded.grid.dotX = gridded.grid.dotY = 50;
  for (const TargetSettings* s : {&projected, &matched, &blended, &gridded}) EXPECT_FALSE(opens(one, two, *s));
}

TEST(StreamedJoin, StopsWhenAskedAndWritesNothing) {
  const fs::path dir = test::TempDir();
  const fs::path one = Write(dir, "one.jpg", Encode(Photo(1500, 1800, 1)));
  const fs::path two = Write(dir, "two.jpg", Encode(Photo(1500, 1800, 3)));
  int asked = 0;
  std::unique_ptr<StreamedJoin> join =
      StreamedJoin::Open(one.string(), two.string(), Beside(900, 0), SourceSettings(), 0, [&asked] { return ++asked > 1; });
  ASSERT_TRUE(join);
  CxImage image;
  ASSERT_TRUE(image.LendRows(join->Header(), *join));
  // Only the JPEG encoder reads rows made as they are saved.
  std::vector<uint8_t> png;
  EXPECT_FALSE(image.Encode(png, CXIMAGE_FORMAT_PNG));
  EXPECT_FALSE(image.Save((dir / "out.bmp").string(), CXIMAGE_FORMAT_BMP));
  EXPECT_FALSE(image.TakeDib());
  // Never started: the decoders give no rows, and the stop ends the wait.
  EXPECT_FALSE(image.Save((dir / "out.jpg").string(), CXIMAGE_FORMAT_JPG));
  EXPECT_EQ(std::string(image.GetLastError()), kRowsNotMade);
  EXPECT_TRUE(join->Stopped());
  EXPECT_FALSE(join->SourceFailed());
  EXPECT_FALSE(fs::exists(dir / "out.jpg"));
  EXPECT_FALSE(fs::exists(dir / "out.bmp"));
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// A field of /proc/self/status in kilobytes ("VmRSS:", "VmHWM:").
long StatusKb(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
  return -1;
}

TEST(StreamedJoin, HoldsNeitherTheSourcesNorTheTargetWhole) {
  const fs::path dir = test::TempDir();
  const fs::path one = Write(dir, "one.jpg", Encode(Photo(3500, 4000, 1)));
  const fs::path two = Write(dir, "two.jpg", Encode(Photo(3500, 4000, 3)));
  TargetSettings settings = Beside(2500, 0);
  settings.merge.fade2 = 1;
  std::unique_ptr<StreamedJoin> join = StreamedJoin::Open(one.string(), two.string(), settings, SourceSettings(), 0, nullptr);
  ASSERT_TRUE(join);
  CxImage image;
  ASSERT_TRUE(image.LendRows(join->Header(), *join));
  // The memory the save touches from here on, against the Target's 72 MB.
  { std::ofstream("/proc/self/clear_refs") << "5"; }
  const long before = StatusKb("VmRSS:");
  join->Start();
  ASSERT_TRUE(image.Save((dir / "out.jpg").string(), CXIMAGE_FORMAT_JPG)) << image.GetLastError();
  const long peak = StatusKb("VmHWM:");
  ASSERT_GT(before, 0);
  // A sanitizer's shadow memory grows with every byte touched.
  if (!kSanitized) {
    EXPECT_LT(peak - before, 6000L * 4000 * 3 / 1024 / 2);
  }
  EXPECT_EQ(join->RowsDone(), 4000);
  const CxImage saved((dir / "out.jpg").string(), CXIMAGE_FORMAT_JPG);
  EXPECT_EQ(saved.GetWidth(), 6000);
  EXPECT_EQ(saved.GetHeight(), 4000);
}

// Runs the built tool with `env` added; its exit status and what it wrote to
// stderr.
struct ToolRun {
  int status = -1;
  std::string err;
};
ToolRun RunTool(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
  const fs::path errFile = test::TempDir() / "stderr.txt";
  std::vector<std::string> argStrings = {TESSARA_JOIN};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv, envp;
  for (std::string& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStrings = env;
  for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  ToolRun run;
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, TESSARA_JOIN, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return run;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const Bytes err = test::ReadBytes(errFile);
  run.err.assign(err.begin(), err.end());
  return run;
}

const std::string kWhole = "TESSARA_WHOLE_PICTURES=1";

TEST(StreamedJoinTool, WritesTheWholePathsBytes) {
  const fs::path dir = test::TempDir();
  std::string why;
  const CxImage tagged(test::TestData("metadata/jpg_camera_orientation6.jpg").string(), CXIMAGE_FORMAT_JPG);
  ASSERT_FALSE(tagged.m_metadata.camera.Empty());
  const IccProfile srgb = test::SrgbProfile();
  // Source 1 with a colour profile, camera data and a resolution of its own;
  // a shorter and a narrower source 2.
  const std::string a = Write(dir, "a.jpg",
                              Encode(Photo(2600, 1700, 1).Icc(srgb).Camera(&tagged.m_metadata.camera).Dpi(300)))
                            .string();
  const std::string b = Write(dir, "b.jpg", Encode(Photo(2600, 1700, 4).Icc(srgb))).string();
  const std::string c = Write(dir, "c.jpg", Encode(Photo(1100, 1300, 7))).string();
  const std::string d = Write(dir, "d.jpg", Encode(Photo(1900, 1500, 9))).string();
  // Source 2 held whole: turned, grey, not a JPEG, in another colour space.
  const std::string grey = Write(dir, "grey.jpg", Encode(Photo(1500, 1900).Grey())).string();
  const std::string wide = Write(dir, "wide.jpg", Encode(Photo(2000, 1500).Icc(test::WideProfile()))).string();
  const std::string png = (dir / "e.png").string();
  {
    const Bytes e = Encode(Photo(1800, 1200, 11));
    CxImage picture(e.data(), e.size(), CXIMAGE_FORMAT_JPG);
    ASSERT_TRUE(picture.Save(png, CXIMAGE_FORMAT_PNG));
  }
  const std::string out = (dir / "out.jpg").string();
  const std::vector<std::vector<std::string>> jobs = {
      {"--offset", "1500,0", "--rotate2", "1.5", "--scale2", "1034", "--cut-corners2", "0", "--fade2", a, b},
      {"--offset", "1500,-100", "--rotate2", "-2", a, b},  // cut corners: unsampled pixels leave source 1
      {"--offset", "900,700", "--rotate2", "4", "--scale2", "870", "--mirror2", "--fade2", a, d},
      {"--offset", "1200,-300", "--rotate2", "95", "--cut-corners2", "0", a, c},  // held whole
      {"--offset", "-900,300", "--mirror2", "--merge", "greatest", a, grey},
      {"--offset", "700,0", "--fade2", a, png},
      {"--offset", "1200,0", a, wide},
      {"--offset", "1200,0", "--swing", "30", a, b},  // the whole-picture path
      {"--offset", "1500,0", "--fade2", a, b},
      {"--offset", "-900,300", "--merge", "greatest", "--fade1", a, b},
      {"--offset", "700,-250", "--merge", "least", "--bias", "40", c, d},
      {"--offset", "300,200", "--contrast", "30", "--brightness", "100", d, c},  // source 2 inside source 1
      {"--offset", "2000,1400", "--quality", "75", "--strip-metadata", c, d},   // apart, background between
      {"--offset", "-1200,-1600", "--fade1", d, c},
  };
  for (const std::vector<std::string>& job : jobs) {
    std::vector<std::string> args = job;
    args.push_back(out);
    std::string named;
    for (const std::string& s : job) named += s + " ";
    const ToolRun whole = RunTool(args, {kWhole});
    ASSERT_EQ(whole.status, 0) << named << whole.err;
    const Bytes expected = test::ReadBytes(out);
    fs::remove(out);
    const ToolRun streamed = RunTool(args);
    ASSERT_EQ(streamed.status, 0) << named << streamed.err;
    EXPECT_EQ(streamed.err, whole.err) << named;
    EXPECT_TRUE(test::ReadBytes(out) == expected) << named;
  }
  // On a terminal the progress line names the path taken.
  if (test::HaveCommand("script")) {
    const auto onTerminal = [&](const std::string& env, const std::string& options = "") {
      const Bytes shown = test::RunCommand("script -qec \"" + env + " '" + TESSARA_JOIN + "' --offset 1500,0 " +
                                           options + " '" + a + "' '" + b + "' '" + out + "'\" /dev/null");
      return std::string(shown.begin(), shown.end());
    };
    const std::string streamed = onTerminal(""), whole = onTerminal(kWhole);
    EXPECT_NE(streamed.find("Joining a.jpg and b.jpg"), std::string::npos) << streamed;
    EXPECT_NE(streamed.find("100%"), std::string::npos) << streamed;
    // Source 2 turned: copied as it decodes; turned past a right angle,
    // loaded and prepared first, then joined by bands.
    const std::string turned = onTerminal("", "--rotate2 1.5");
    EXPECT_EQ(turned.find("Loading"), std::string::npos) << turned;
    EXPECT_NE(turned.find("Joining a.jpg and b.jpg"), std::string::npos) << turned;
    const std::string held = onTerminal("", "--rotate2 95");
    EXPECT_NE(held.find("Loading b.jpg"), std::string::npos) << held;
    EXPECT_NE(held.find("Joining a.jpg and b.jpg"), std::string::npos) << held;
    EXPECT_EQ(whole.find("Joining"), std::string::npos) << whole;
    EXPECT_NE(whole.find("Loading a.jpg and b.jpg"), std::string::npos) << whole;
  }
  // The colour profile and camera data of source 1 are kept.
  ASSERT_EQ(RunTool({"--offset", "1500,0", a, b, out}).status, 0);
  const CxImage kept(out, CXIMAGE_FORMAT_JPG);
  EXPECT_EQ(kept.m_metadata.iccProfile, srgb);
  EXPECT_FALSE(kept.m_metadata.camera.Empty());
}

TEST(StreamedJoinTool, ADamagedSourceFailsAsTheWholePathFailsAndWritesNothing) {
  const fs::path dir = test::TempDir();
  const Bytes jpeg = Encode(Photo(2000, 1600, 3));
  const std::string a = Write(dir, "a.jpg", Encode(Photo(2000, 1600, 6))).string();
  const std::string cut = Write(dir, "cut.jpg", Bytes(jpeg.begin(), jpeg.begin() + long(jpeg.size() / 2))).string();
  const fs::path out = dir / "out.jpg";
  test::WriteBytes(out, {1, 2, 3});
  const ToolRun whole = RunTool({"--offset", "1200,0", a, cut, out.string()}, {kWhole});
  const ToolRun streamed = RunTool({"--offset", "1200,0", a, cut, out.string()});
  EXPECT_EQ(whole.status, 1);
  EXPECT_EQ(streamed.status, 1);
  EXPECT_NE(streamed.err.find("Unable to load this picture file\ncut.jpg: "), std::string::npos) << streamed.err;
  EXPECT_EQ(streamed.err, whole.err);
  EXPECT_EQ(test::ReadBytes(out), (Bytes{1, 2, 3}));
}

}  // namespace
}  // namespace tessara
