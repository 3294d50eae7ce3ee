// tessara-join with more than two pictures, and lists of jobs that resume
// after a stop, split over machines and keep a log: pieces cut from a test
// picture join back to it, and every line of a list is done exactly once.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <opencv2/core.hpp>
#include <thread>

#include "cli/job_list.h"
#include "cli/join_options.h"
#include "image/codec.h"
#include "tests/test_support.h"

extern char** environ;

namespace tessara {
namespace {

namespace fs = std::filesystem;

int Join(const std::string& args, std::string* err = nullptr, std::string* out = nullptr) {
  const fs::path errFile = test::TempDir() / "chain-stderr.txt", outFile = test::TempDir() / "chain-stdout.txt";
  const std::string cmd =
      std::string(TESSARA_JOIN) + " " + args + " 2>'" + errFile.string() + "' >'" + outFile.string() + "'";
  const int status = std::system(cmd.c_str());
  const auto text = [](const fs::path& p) {
    const std::vector<uint8_t> b = test::ReadBytes(p);
    return std::string(b.begin(), b.end());
  };
  if (err) *err = text(errFile);
  if (out) *out = text(outFile);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

test::RgbImage Load(const fs::path& p, int format) { return test::ToRgb(CxImage(p.string(), format)); }

// The piece of `whole` at column x, row y (from the top), saved as PNG.
std::string Cut(const test::RgbImage& whole, int x, int y, int w, int h, const fs::path& out) {
  std::vector<uint8_t> rgb;
  for (int r = 0; r < h; ++r) {
    const uint8_t* row = &whole.rgb[(static_cast<size_t>(y + r) * whole.width + x) * 3];
    rgb.insert(rgb.end(), row, row + 3 * w);
  }
  CxImage piece;
  test::MakeImage24(piece, w, h, rgb);
  EXPECT_TRUE(piece.Save(out.string(), CXIMAGE_FORMAT_PNG));
  return "'" + out.string() + "'";
}

int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

// Three pieces in a row and four in a 2 x 2 grid, each overlapping its
// neighbours, join back into the picture they were cut from. Where a piece
// lies on background of the join so far (the grid's last piece), it lies
// alone instead of being mixed with the background.
TEST(Chains, PiecesInARowAndInAGridJoinBackToTheWhole) {
  const fs::path dir = test::TempDir() / "chains";
  fs::create_directories(dir);
  const test::RgbImage whole = Load(test::TestData("photos/astronaut.png"), CXIMAGE_FORMAT_PNG);
  ASSERT_EQ(whole.width, 512);
  const std::string a = Cut(whole, 0, 0, 220, 512, dir / "a.png"), b = Cut(whole, 146, 0, 220, 512, dir / "b.png"),
                    c = Cut(whole, 292, 0, 220, 512, dir / "c.png");
  std::string err, out;
  ASSERT_EQ(Join("--auto-align --print-alignment --quiet " + a + " " + b + " " + c + " '" + (dir / "row.bmp").string() +
                     "'",
                 &err, &out),
            0)
      << err;
  EXPECT_EQ(out, "--offset 146,0 --rotate2 0.0 --scale2 1024\n--offset 292,0 --rotate2 0.0 --scale2 1024\n");
  EXPECT_LE(test::MaxDifference(Load(dir / "row.bmp", CXIMAGE_FORMAT_BMP), whole), 1);

  // The chain's steps are the joins one would do one at a time.
  ASSERT_EQ(Join("--auto-align --quiet " + a + " " + b + " '" + (dir / "ab.bmp").string() + "'", &err), 0) << err;
  ASSERT_EQ(Join("--auto-align --quiet '" + (dir / "ab.bmp").string() + "' " + c + " '" +
                     (dir / "by hand.bmp").string() + "'",
                 &err),
            0)
      << err;
  EXPECT_EQ(test::ReadBytes(dir / "by hand.bmp"), test::ReadBytes(dir / "row.bmp"));

  const std::string g1 = Cut(whole, 0, 0, 300, 300, dir / "g1.png"), g2 = Cut(whole, 212, 0, 300, 300, dir / "g2.png"),
                    g3 = Cut(whole, 0, 212, 300, 300, dir / "g3.png"),
                    g4 = Cut(whole, 212, 212, 300, 300, dir / "g4.png");
  ASSERT_EQ(Join("--print-alignment --quiet " + g1 + " " + g2 + " " + g3 + " " + g4 + " '" +
                     (dir / "grid.png").string() + "'",
                 &err, &out),
            0)
      << err;
  EXPECT_EQ(Lines(out), 3) << out;
  EXPECT_LE(test::MaxDifference(Load(dir / "grid.png", CXIMAGE_FORMAT_PNG), whole), 2);
}

// Blend and exposure matching in a chain: pieces of one photograph, the
// middle one exposed brighter and the last darker, come back as the
// photograph, each step's gains named on standard error; the grid's last
// piece, lying partly on the join's background, joins as well.
TEST(Chains, BlendedAndMatchedPiecesJoinBackToTheWhole) {
  const fs::path dir = test::TempDir() / "blended-chain";
  fs::create_directories(dir);
  test::RgbImage whole = Load(test::TestData("photos/astronaut.png"), CXIMAGE_FORMAT_PNG);
  for (uint8_t& v : whole.rgb) v = std::min<uint8_t>(v, 200);  // no highlight clipped by the brighter piece
  const auto exposed = [&](double gain) {
    test::RgbImage e = whole;
    for (uint8_t& v : e.rgb) v = static_cast<uint8_t>(std::lround(v * gain));
    return e;
  };
  const std::string a = Cut(whole, 0, 0, 220, 512, dir / "a.png"),
                    b = Cut(exposed(1.15), 146, 0, 220, 512, dir / "b.png"),
                    c = Cut(exposed(0.9), 292, 0, 220, 512, dir / "c.png");
  std::string err;
  ASSERT_EQ(Join("--auto-align --merge blend --match-exposure " + a + " " + b + " " + c + " '" +
                     (dir / "row.bmp").string() + "'",
                 &err),
            0)
      << err;
  EXPECT_NE(err.find("b.png: Source 2 matched to source 1: red x0.8"), std::string::npos) << err;
  EXPECT_NE(err.find("c.png: Source 2 matched to source 1: red x1.1"), std::string::npos) << err;
  const test::RgbImage row = Load(dir / "row.bmp", CXIMAGE_FORMAT_BMP);
  ASSERT_EQ(row.width, whole.width);
  double sum = 0;
  for (size_t i = 0; i < row.rgb.size(); ++i) sum += std::abs(row.rgb[i] - whole.rgb[i]);
  EXPECT_LT(sum / static_cast<double>(row.rgb.size()), 1.5);

  const std::string g1 = Cut(whole, 0, 0, 300, 300, dir / "g1.png"), g2 = Cut(whole, 212, 0, 300, 300, dir / "g2.png"),
                    g3 = Cut(whole, 0, 212, 300, 300, dir / "g3.png"),
                    g4 = Cut(whole, 212, 212, 300, 300, dir / "g4.png");
  ASSERT_EQ(Join("--auto-align --quiet --merge blend " + g1 + " " + g2 + " " + g3 + " " + g4 + " '" + (dir / "grid.png").string() +
                     "'",
                 &err),
            0)
      << err;
  EXPECT_LE(test::MaxDifference(Load(dir / "grid.png", CXIMAGE_FORMAT_PNG), whole), 2);
}

// A picture that shares nothing with the join so far stops the chain: exit
// status 1, its name in the message, nothing written. Without automatic
// alignment a chain is refused before anything is loaded.
TEST(Chains, APictureWithoutCommonDetailStopsTheChain) {
  const fs::path dir = test::TempDir() / "chain-stop";
  fs::create_directories(dir);
  const test::RgbImage whole = Load(test::TestData("photos/astronaut.png"), CXIMAGE_FORMAT_PNG);
  const std::string a = Cut(whole, 0, 0, 300, 512, dir / "a.png"), b = Cut(whole, 200, 0, 312, 512, dir / "b.png");
  CxImage flat;
  test::MakeImage24(flat, 200, 200, std::vector<uint8_t>(200 * 200 * 3, 128));
  ASSERT_TRUE(flat.Save((dir / "flat.png").string(), CXIMAGE_FORMAT_PNG));
  const fs::path output = dir / "out.png";
  std::string err;
  EXPECT_EQ(Join("--auto-align --quiet " + a + " " + b + " '" + (dir / "flat.png").string() + "' '" +
                     output.string() + "'",
                 &err),
            1);
  EXPECT_NE(err.find("No common detail found"), std::string::npos) << err;
  EXPECT_NE(err.find("flat.png"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(output));
  EXPECT_EQ(Join(a + " " + b + " " + a + " '" + output.string() + "'", &err), 2);
  EXPECT_NE(err.find("needs --auto-align"), std::string::npos) << err;
}

TEST(JoinOptions, ChainsAndListOptions) {
  std::string error;
  auto o = ParseJoinOptions({"--auto-align", "p1.png", "p2.tga", "p3.jpg", "out.tif"}, error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->sources, (std::vector<std::string>{"p1.png", "p2.tga", "p3.jpg"}));
  EXPECT_EQ(o->output, "out.tif");
  o = ParseJoinOptions({"--jobs", "list.txt", "--resume", "--shard", "2/5", "--log=run.json"}, error);
  ASSERT_TRUE(o) << error;
  EXPECT_TRUE(o->resume);
  EXPECT_EQ(o->shardIndex, 2);
  EXPECT_EQ(o->shardCount, 5);
  EXPECT_EQ(o->log, "run.json");
  for (const auto& args : std::vector<std::vector<std::string>>{{"--jobs", "l", "--shard", "0/3"},
                                                                {"--jobs", "l", "--shard", "4/3"},
                                                                {"--jobs", "l", "--shard", "3"},
                                                                {"--resume", "a.png", "b.png", "c.png"},
                                                                {"--auto-align", "--offset", "5,5", "a", "b", "c",
                                                                 "d.png"}})
    EXPECT_FALSE(ParseJoinOptions(args, error)) << args[2];
}

// The log: one JSON object a line, read back by an independent reader.
std::vector<std::map<std::string, std::string>> ReadLog(const fs::path& p) {
  std::vector<std::map<std::string, std::string>> entries;
  std::ifstream in(p);
  for (std::string line; std::getline(in, line);) {
    cv::FileStorage json(line, cv::FileStorage::READ | cv::FileStorage::MEMORY | cv::FileStorage::FORMAT_JSON);
    EXPECT_TRUE(json.isOpened()) << line;
    std::map<std::string, std::string> e;
    e["line"] = std::to_string(static_cast<int>(json["line"]));
    for (const char* key : {"output", "status", "message"}) e[key] = static_cast<std::string>(json[key]);
    EXPECT_GE(static_cast<double>(json["seconds"]), 0.0);
    entries.push_back(e);
  }
  return entries;
}

// A list of joins, one output each, in `dir`.
fs::path WriteList(const fs::path& dir, int joins) {
  const std::string left = test::TestData("pairs/coffee_left.png").string();
  const std::string right = test::TestData("pairs/coffee_right.png").string();
  const fs::path list = dir / "list.txt";
  std::ofstream out(list);
  out << "# joins of the coffee pair\n";
  for (int i = 0; i < joins; ++i)
    out << "--offset " << 200 + i << ",0 '" << left << "' '" << right << "' '" << (dir / ("out" + std::to_string(i) + ".png")).string()
        << "'\n";
  return list;
}

std::map<int, int> WrittenLines(const std::vector<std::map<std::string, std::string>>& log) {
  std::map<int, int> written;
  for (const auto& e : log)
    if (e.at("status") == "written") ++written[std::stoi(e.at("line"))];
  return written;
}

// Three machines' shares of one list do each line exactly once.
TEST(JobList, ShardsTogetherDoEveryLineOnce) {
  const fs::path dir = test::TempDir() / "shards";
  fs::create_directories(dir);
  const fs::path list = WriteList(dir, 7), log = dir / "log.json";
  std::string err;
  for (const char* shard : {"1/3", "2/3", "3/3"})
    ASSERT_EQ(Join(std::string("--quiet --shard ") + shard + " --log '" + log.string() + "' --jobs '" + list.string() + "'", &err), 0)
        << err;
  const auto entries = ReadLog(log);
  EXPECT_EQ(entries.size(), 7u);
  const std::map<int, int> written = WrittenLines(entries);
  ASSERT_EQ(written.size(), 7u);
  for (const auto& [line, times] : written) EXPECT_EQ(times, 1) << "line " << line;
  bool named = false;
  for (const auto& e : entries) named |= e.at("line") == "2" && e.at("output") == (dir / "out0.png").string();
  EXPECT_TRUE(named);
}

// A list stopped with SIGTERM half way, then run again with --resume: the
// lines written before are left alone, the rest are done, every output is a
// whole picture and nothing half-written stays in the folder.
TEST(JobList, StoppedListResumesWhereItStopped) {
  const fs::path dir = test::TempDir() / "resume";
  fs::create_directories(dir);
  constexpr int kJoins = 16;
  const fs::path list = WriteList(dir, kJoins), log = dir / "log.json";
  std::vector<std::string> args{TESSARA_JOIN, "--quiet", "--log", log.string(), "--jobs", list.string()};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, TESSARA_JOIN, nullptr, nullptr, argv.data(), environ), 0);
  // Stopped once a few lines are written.
  const auto writtenSoFar = [&] {
    const std::vector<uint8_t> b = test::ReadBytes(log);
    const std::string text(b.begin(), b.end());
    int n = 0;
    for (size_t at = text.find("\"written\""); at != std::string::npos; at = text.find("\"written\"", at + 1)) ++n;
    return n;
  };
  for (int wait = 0; wait < 3000 && writtenSoFar() < 3; ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  const std::map<int, int> first = WrittenLines(ReadLog(log));
  ASSERT_GE(first.size(), 3u);
  if (first.size() == static_cast<size_t>(kJoins)) GTEST_SKIP() << "the list ended before the stop reached it";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130);

  std::string err;
  ASSERT_EQ(Join("--quiet --resume --log '" + log.string() + "' --jobs '" + list.string() + "'", &err), 0) << err;
  const auto entries = ReadLog(log);
  const std::map<int, int> written = WrittenLines(entries);
  ASSERT_EQ(written.size(), static_cast<size_t>(kJoins));
  for (const auto& [line, times] : written) EXPECT_EQ(times, 1) << "line " << line;
  int doneBefore = 0;
  for (const auto& e : entries) doneBefore += e.at("status") == "done before";
  EXPECT_EQ(doneBefore, static_cast<int>(first.size()));
  for (int i = 0; i < kJoins; ++i) {
    const CxImage picture((dir / ("out" + std::to_string(i) + ".png")).string(), CXIMAGE_FORMAT_PNG);
    EXPECT_TRUE(picture.IsValid()) << i;
  }
  for (const auto& e : fs::directory_iterator(dir)) EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
}

// The shares of a list, as a scheduler would hand them out.
TEST(JobList, ShardIndicesCountJoinLines) {
  std::vector<Job> jobs(8);
  for (int i = 0; i < 8; ++i) jobs[static_cast<size_t>(i)].line = 3 + 2 * i;  // comments between the joins
  const std::vector<Job> second = TakeShard(jobs, 2, 3);
  ASSERT_EQ(second.size(), 3u);
  EXPECT_EQ(second[0].line, 5);
  EXPECT_EQ(second[1].line, 11);
  EXPECT_EQ(second[2].line, 17);
}

}  // namespace
}  // namespace tessara
