// tessara-join --jobs: lines split as a shell splits them, the list read into
// jobs checked like a command line, and whole lists run by the built tool:
// the good lines written exactly as single joins write them, the bad ones
// reported with their reasons, exit 1.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cli/job_list.h"
#include "tests/test_support.h"

namespace tessara {
namespace {

namespace fs = std::filesystem;
using Words = std::vector<std::string>;

Words Split(const std::string& line, std::string* error = nullptr) {
  Words words;
  std::string e;
  const bool ok = SplitJobLine(line, words, e);
  if (error) *error = ok ? std::string() : e;
  return ok ? words : Words{"<error>"};
}

TEST(JobLine, SplitsLikeAShell) {
  EXPECT_EQ(Split("  a  b\tc "), (Words{"a", "b", "c"}));
  EXPECT_EQ(Split(""), Words{});
  EXPECT_EQ(Split("   # only a comment"), Words{});
  EXPECT_EQ(Split("a b # c d"), (Words{"a", "b"}));
  EXPECT_EQ(Split("a#b"), Words{"a#b"});  // a # inside a word is part of it
  EXPECT_EQ(Split("'my page 1.png' \"x y\" z\\ w"), (Words{"my page 1.png", "x y", "z w"}));
  EXPECT_EQ(Split("'a \\ \"b\"'"), Words{"a \\ \"b\""});  // nothing special inside '...'
  EXPECT_EQ(Split("\"a\\\"b\\\\c\\d\""), Words{"a\"b\\c\\d"});
  EXPECT_EQ(Split("pre'quoted'post \"\" ''"), (Words{"prequotedpost", "", ""}));
  EXPECT_EQ(Split("a\r"), Words{"a"});  // lists written on other systems
  std::string error;
  Split("'open", &error);
  EXPECT_EQ(error, "unterminated ' quote");
  Split("\"open", &error);
  EXPECT_EQ(error, "unterminated \" quote");
  Split("a \\", &error);
  EXPECT_EQ(error, "a backslash ends the line");
}

TEST(JobList, LinesBecomeCheckedJobs) {
  const std::string text =
      "# a list\n"
      "\n"
      "--offset 10,0 a.png b.png 'one out.png'\n"
      "--bias 300 a.png b.png two.png\n"
      "a.png b.png\n"
      "a.png b.png ./sub/../one\\ out.png\n"
      "--jobs other.txt a.png b.png three.png\n"
      "a.png b.png \"four.png\n"
      "--mirror1 a.png b.png five.tga   # the last\n";
  const std::vector<Job> jobs = ReadJobList(text, {"--merge", "least"});
  ASSERT_EQ(jobs.size(), 7u);
  EXPECT_EQ(jobs[0].line, 3);
  EXPECT_EQ(jobs[0].error, "");
  EXPECT_EQ(jobs[0].output, "one out.png");
  EXPECT_EQ(jobs[0].args, (Words{"--merge", "least", "--offset", "10,0", "a.png", "b.png", "one out.png"}));
  EXPECT_EQ(jobs[1].error, "--bias takes an integer from 0 to 255");
  EXPECT_EQ(jobs[2].error, "expected SOURCE1 SOURCE2 OUTPUT");
  // Another name for the same file would be written by two joins at once.
  EXPECT_EQ(jobs[3].error, "the same OUTPUT as line 3");
  EXPECT_NE(jobs[4].error.find("--jobs"), std::string::npos);
  EXPECT_EQ(jobs[5].error, "unterminated \" quote");
  EXPECT_EQ(jobs[6].line, 9);
  EXPECT_EQ(jobs[6].error, "");
  // The common options are checked with every line.
  EXPECT_EQ(ReadJobList("a.png b.png c.png\n", {"--swing", "200"})[0].error,
            "--swing takes an integer from 0 to 180");
}

int Join(const std::string& args, std::string* err) {
  const fs::path errFile = test::TempDir() / "stderr.txt";
  const std::string cmd = std::string(TESSARA_JOIN) + " " + args + " 2>'" + errFile.string() + "' >/dev/null";
  const int status = std::system(cmd.c_str());
  const std::vector<uint8_t> bytes = test::ReadBytes(errFile);
  err->assign(bytes.begin(), bytes.end());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(JobList, RunsGoodLinesAndReportsBadOnes) {
  const fs::path dir = test::TempDir();
  const std::string left = test::TestData("pairs/coffee_left.png").string();
  const std::string right = test::TestData("pairs/coffee_right.png").string();
  // The reference: the same joins, one at a time.
  std::string err;
  ASSERT_EQ(Join("--merge greatest --offset 220,0 '" + left + "' '" + right + "' '" + (dir / "single a.png").string() + "'", &err), 0) << err;
  ASSERT_EQ(Join("--merge greatest --offset 200,-8 --fade2 '" + left + "' '" + right + "' '" + (dir / "single b.bmp").string() + "'", &err), 0) << err;
  const fs::path list = dir / "jobs.txt";
  std::ofstream(list) << "# two good, three bad\n"
                      << "--offset 220,0 '" << left << "' '" << right << "' '" << (dir / "job a.png").string() << "'\n"
                      << "'" << left << "' '" << (dir / "missing.png").string() << "' '" << (dir / "c.png").string() << "'\n"
                      << "--offset 200,-8 --fade2 \"" << left << "\" \"" << right << "\" " << (dir / "job\\ b.bmp").string() << "\n"
                      << "--zone 0,0,10,10 '" << left << "' '" << right << "' '" << (dir / "d.png").string() << "'\n"
                      << "--rotate1 x a b e.png\n";
  EXPECT_EQ(Join("--quiet --merge greatest --jobs '" + list.string() + "'", &err), 1);
  // The good lines wrote what the single joins wrote, byte for byte.
  EXPECT_EQ(test::ReadBytes(dir / "job a.png"), test::ReadBytes(dir / "single a.png"));
  EXPECT_EQ(test::ReadBytes(dir / "job b.bmp"), test::ReadBytes(dir / "single b.bmp"));
  EXPECT_FALSE(fs::exists(dir / "c.png"));
  EXPECT_FALSE(fs::exists(dir / "d.png"));
  // One summary, each failed line with its reason.
  EXPECT_NE(err.find("tessara-join: 2 of 5 jobs written, 3 failed:"), std::string::npos) << err;
  EXPECT_NE(err.find("  line 3 " + (dir / "c.png").string() + ": "), std::string::npos) << err;
  EXPECT_NE(err.find("  line 5 " + (dir / "d.png").string() + ": Zone dimensions are too small.; Height and width should be at least 64 pixels."), std::string::npos) << err;
  EXPECT_NE(err.find("  line 6: --rotate1 takes an angle in degrees"), std::string::npos) << err;
  EXPECT_EQ(err.find("line 2 "), std::string::npos) << err;
  EXPECT_EQ(err.find("line 4 "), std::string::npos) << err;
  // An all-good list from standard input exits 0; a list that cannot be read, 1.
  std::ofstream(dir / "good.txt") << "'" << left << "' '" << right << "' '" << (dir / "e.tga").string() << "'\n";
  EXPECT_EQ(Join("--jobs - < '" + (dir / "good.txt").string() + "'", &err), 0) << err;
  EXPECT_TRUE(fs::exists(dir / "e.tga"));
  EXPECT_NE(err.find("1 of 1 jobs written"), std::string::npos) << err;
  EXPECT_EQ(Join("--jobs '" + (dir / "none.txt").string() + "'", &err), 1);
  EXPECT_NE(err.find("cannot read the list of jobs"), std::string::npos) << err;
  // Names of the three files belong in the list, not beside --jobs.
  EXPECT_EQ(Join("--jobs '" + list.string() + "' a b c.png", &err), 2);
}

}  // namespace
}  // namespace tessara
