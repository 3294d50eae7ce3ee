// Saving over an existing file: the file keeps what it was apart from its
// content.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
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
