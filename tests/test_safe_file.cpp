// Saving over an existing file: the file keeps what it was apart from its
// content.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "image/safe_file.h"
#include "tests/test_support.h"

namespace tessara {
namespace {

namespace fs = std::filesystem;

bool Save(const fs::path& p, const std::string& text) {
  return WriteFileReplacing(p.string(), reinterpret_cast<const uint8_t*>(text.data()), text.size());
}
std::string Content(const fs::path& p) {
  const std::vector<uint8_t> b = test::ReadBytes(p);
  return std::string(b.begin(), b.end());
}
mode_t Mode(const fs::path& p) {
  struct stat st {};
  ::stat(p.c_str(), &st);
  return st.st_mode & 07777;
}

TEST(SafeFile, ReplacedFileKeepsItsModeAndLinksAreWrittenThrough) {
  const fs::path dir = test::TempDir();
  const fs::path priv = dir / "private.bmp";
  ASSERT_TRUE(Save(priv, "old"));
  chmod(priv.c_str(), 0600);
  ASSERT_TRUE(Save(priv, "new"));
  EXPECT_EQ(Content(priv), "new");
  EXPECT_EQ(Mode(priv), 0600u);

  const fs::path link = dir / "link.bmp";
  fs::create_symlink(priv.filename(), link);
  ASSERT_TRUE(Save(link, "through the link"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Content(priv), "through the link");
  EXPECT_EQ(Mode(priv), 0600u);

  // Nothing of the temporary files stays behind.
  int files = 0;
  for (const auto& e : fs::directory_iterator(dir)) files += e.path().filename().string()[0] == '.';
  EXPECT_EQ(files, 0);
}

// A file with a second hard link is rewritten where it is: both names show the
// new content, and no temporary file is left.
TEST(SafeFile, HardLinkedFileIsRewrittenInPlace) {
  const fs::path dir = test::TempDir() / "links";
  fs::create_directories(dir);
  const fs::path a = dir / "a.png", b = dir / "b.png";
  ASSERT_TRUE(Save(a, "a much longer old content"));
  fs::create_hard_link(a, b);
  ASSERT_TRUE(Save(a, "new"));
  EXPECT_EQ(Content(a), "new");
  EXPECT_EQ(Content(b), "new");
  EXPECT_EQ(fs::hard_link_count(a), 2u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

// A process number no process has: a child that has already ended.
pid_t GonePid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

// What a killed save left behind goes with the next save into the folder:
// at once when its writer is gone, after an hour otherwise (and always after
// an hour for the names older versions wrote). A save in progress and files
// that only look alike stay.
TEST(SafeFile, LeftoversOfKilledSavesAreRemovedByTheNextSave) {
  const fs::path dir = test::TempDir() / "stale";
  fs::create_directories(dir);
  const std::string gone = std::to_string(GonePid()), alive = std::to_string(getpid());
  const fs::path deadWriter = dir / (".picture.png.tmp-" + gone + "-Ab3xYz"),
                 liveWriter = dir / (".other.jpg.tmp-" + alive + "-Qw12er"),
                 oldStale = dir / ".picture.png.tmp-Ab3xYz", oldFresh = dir / ".other.jpg.tmp-Qw12er",
                 liveButOld = dir / (".third.tif.tmp-" + alive + "-Zx81qq"), alike = dir / ".notes.tmp-abc",
                 plain = dir / "picture.png.tmp-Ab3xYz", noNumber = dir / ".picture.png.tmp--Ab3xYz";
  for (const fs::path& p : {deadWriter, liveWriter, oldStale, oldFresh, liveButOld, alike, plain, noNumber})
    test::WriteBytes(p, {1});
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(2);
  for (const fs::path& p : {oldStale, liveButOld, alike, plain, noNumber}) fs::last_write_time(p, old);
  ASSERT_TRUE(Save(dir / "out.bmp", "x"));
  for (const fs::path& p : {deadWriter, oldStale, liveButOld}) EXPECT_FALSE(fs::exists(p)) << p;
  for (const fs::path& p : {liveWriter, oldFresh, alike, plain, noNumber}) EXPECT_TRUE(fs::exists(p)) << p;
}

// `size` bytes from a generator started at `first`: two such texts differ
// almost everywhere, so a mix of them shows at once.
std::string Filler(size_t size, char first) {
  std::string text(size, first);
  uint32_t state = static_cast<uint8_t>(first) * 2654435761u;
  for (char& c : text) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  return text;
}

// Rewrites a file's content where it is (its inode and links stay).
void Overwrite(const fs::path& p, const std::string& text) {
  std::FILE* f = std::fopen(p.c_str(), "r+b");
  ASSERT_TRUE(f);
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  fs::resize_file(p, text.size());
}

std::vector<fs::path> DotFiles(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string()[0] == '.') files.push_back(e.path());
  return files;
}

// A save over a hard-linked file, killed at many moments (the saver, and at
// times the process copying the finished file in as well): once what it left
// is tidied, both names show the whole old content or the whole new one, and
// nothing of the save is left in the folder.
TEST(SafeFile, KilledSaveOverHardLinkLeavesOldOrNew) {
  const fs::path dir = test::TempDir() / "killed";
  fs::create_directories(dir);
  const fs::path a = dir / "a.png", b = dir / "b.png";
  const std::string before = Filler(3 << 20, 'a'), after = Filler(4 << 20, 'q');
  ASSERT_TRUE(Save(a, before));
  fs::create_hard_link(a, b);

  const auto startSave = [&] {
    const pid_t child = fork();
    if (child == 0) _exit(Save(a, after) ? 0 : 1);
    return child;
  };
  // How long a whole save takes here, to spread the kills over it.
  const auto t0 = std::chrono::steady_clock::now();
  int status = 0;
  waitpid(startSave(), &status, 0);
  const auto whole = std::chrono::steady_clock::now() - t0;
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(Content(b), after);

  int sawOld = 0, sawNew = 0;
  constexpr int kTries = 40;
  for (int i = 0; i < kTries; ++i) {
    Overwrite(a, before);
    const pid_t saver = startSave();
    // The kills spread over twice the time one save took, since a save can
    // be slower under load than the one measured; the last try lets the
    // save end first, whatever the machine is doing.
    const auto deadline = std::chrono::steady_clock::now() + whole * 2 * i / kTries;
    const bool killCopier = i % 3 == 2;
    const bool last = i == kTries - 1;
    while (!last && std::chrono::steady_clock::now() < deadline) {
      if (killCopier) {
        for (const fs::path& p : DotFiles(dir)) {
          const std::string name = p.filename().string();
          const size_t mark = name.find(".copy-");
          if (mark != std::string::npos) kill(std::stoi(name.substr(mark + 6)), SIGKILL);
        }
      }
    }
    if (!last) kill(saver, SIGKILL);
    waitpid(saver, nullptr, 0);
    // A copier still running finishes on its own; then what is left is tidied.
    for (int wait = 0; wait < 500 && !DotFiles(dir).empty(); ++wait) {
      FinishInterruptedSaves(a.string());
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(DotFiles(dir).empty()) << "try " << i;
    const std::string now = Content(a);
    EXPECT_EQ(Content(b), now) << "try " << i;
    EXPECT_TRUE(now == before || now == after) << "try " << i << ": a mix of " << now.size() << " bytes";
    sawOld += now == before;
    sawNew += now == after;
  }
  // The kills fell both before and after the point where the new content wins.
  EXPECT_GT(sawOld, 0);
  EXPECT_GT(sawNew, 0);
}

// After a crash in the middle of the copy (the file half old, half new), the
// finished copy that stays beside it is copied in before the file is read.
TEST(SafeFile, CopyCutShortIsFinishedBeforeTheFileIsRead) {
  const fs::path dir = test::TempDir() / "crashed";
  fs::create_directories(dir);
  const fs::path a = dir / "a.tif", b = dir / "b.tif";
  const std::string after = Filler(100000, 'n');
  ASSERT_TRUE(Save(a, Filler(150000, 'o').substr(0, 60000) + after.substr(60000)));
  fs::create_hard_link(a, b);
  const std::string copy = ".a.tif.copy-" + std::to_string(GonePid()) + "-k2Lm9p";
  test::WriteBytes(dir / copy, std::vector<uint8_t>(after.begin(), after.end()));
  // A copy whose copier is still at work is left to it.
  const fs::path busy = dir / (".a.tif.copy-" + std::to_string(getpid()) + "-k2Lm9q");
  test::WriteBytes(busy, {1, 2, 3});
  FinishInterruptedSaves(a.string());
  EXPECT_EQ(Content(b), after);
  EXPECT_FALSE(fs::exists(dir / copy));
  EXPECT_TRUE(fs::exists(busy));
  EXPECT_EQ(fs::hard_link_count(a), 2u);
}

TEST(SafeFile, ReadOnlyFileIsNotReplaced) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write any file";
  const fs::path file = test::TempDir() / "kept.png";
  ASSERT_TRUE(Save(file, "kept"));
  chmod(file.c_str(), 0444);
  EXPECT_FALSE(Save(file, "lost"));
  EXPECT_EQ(Content(file), "kept");
}

}  // namespace
}  // namespace tessara
