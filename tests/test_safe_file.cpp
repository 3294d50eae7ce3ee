// Saving over an existing file: the file keeps what it was apart from its
// content.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <string>

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

// What a killed save left behind goes with the next save into the folder once
// it is over an hour old; a fresh one (a save in progress) and files that only
// look alike stay.
TEST(SafeFile, StaleTemporaryFilesAreRemovedByTheNextSave) {
  const fs::path dir = test::TempDir() / "stale";
  fs::create_directories(dir);
  const fs::path stale = dir / ".picture.png.tmp-Ab3xYz", fresh = dir / ".other.jpg.tmp-Qw12er",
                 alike = dir / ".notes.tmp-abc", plain = dir / "picture.png.tmp-Ab3xYz";
  for (const fs::path& p : {stale, fresh, alike, plain}) test::WriteBytes(p, {1});
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(2);
  for (const fs::path& p : {stale, alike, plain}) fs::last_write_time(p, old);
  ASSERT_TRUE(Save(dir / "out.bmp", "x"));
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(fresh));
  EXPECT_TRUE(fs::exists(alike));
  EXPECT_TRUE(fs::exists(plain));
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
