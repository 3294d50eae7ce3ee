// Every PNG among the test pictures, decoded by our decoder and by libpng on
// its own (expanded to 8-bit RGBA): the pixels agree wherever the picture is
// opaque. Files libpng itself refuses are left to the broken-file tests.
#include <gtest/gtest.h>
#include <png.h>

#include <csetjmp>
#include <filesystem>
#include <vector>

#include "image/codec.h"
#include "tests/test_support.h"

namespace tessara {
namespace {

namespace fs = std::filesystem;

struct Rgba {
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;  // top-down, 4 bytes a pixel
};

// libpng's own reading, without our code in between; false when it refuses.
bool ReadWithLibpng(const fs::path& path, Rgba& out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  png_structp png = png_create_read_struct(
      PNG_LIBPNG_VER_STRING, nullptr, [](png_structp p, png_const_charp) { png_longjmp(p, 1); },
      [](png_structp, png_const_charp) {});
  png_infop info = png_create_info_struct(png);
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_read_info(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  out.width = static_cast<int>(png_get_image_width(png, info));
  out.height = static_cast<int>(png_get_image_height(png, info));
  out.pixels.assign(static_cast<size_t>(out.width) * out.height * 4, 0);
  for (int y = 0; y < out.height; ++y) rows.push_back(&out.pixels[static_cast<size_t>(y) * out.width * 4]);
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  return true;
}

TEST(PngDecode, AgreesWithLibpngOnEveryTestPicture) {
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(test::TestData(""))) {
    if (entry.path().extension() != ".png") continue;
    Rgba theirs;
    if (!ReadWithLibpng(entry.path(), theirs)) continue;
    SCOPED_TRACE(entry.path().string());
    const CxImage img(entry.path().string(), CXIMAGE_FORMAT_PNG);
    ASSERT_TRUE(img.IsValid()) << img.GetLastError();
    const test::RgbImage ours = test::ToRgb(img);
    ASSERT_EQ(ours.width, theirs.width);
    ASSERT_EQ(ours.height, theirs.height);
    size_t compared = 0, differing = 0;
    for (size_t i = 0; i < static_cast<size_t>(ours.width) * ours.height; ++i) {
      const uint8_t* t = &theirs.pixels[4 * i];
      if (t[3] != 255) continue;  // laid over a background: its own tests
      ++compared;
      const uint8_t* o = &ours.rgb[3 * i];
      differing += o[0] != t[0] || o[1] != t[1] || o[2] != t[2];
    }
    EXPECT_EQ(differing, 0u) << "of " << compared;
    ++files;
  }
  EXPECT_GE(files, 20);
}

}  // namespace
}  // namespace tessara
