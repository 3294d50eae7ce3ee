// Helpers shared by the tests: test pictures, temporary folders, PPM files and
// running ImageMagick or netpbm as independent readers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "image/dib.h"
#include "image/ximage.h"

namespace tessara::test {

std::filesystem::path TestData(const std::string& relative);
// A fresh folder under the system's temporary folder, removed at exit.
std::filesystem::path TempDir();

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // top-down, red, green, blue
};
// Reads a binary PPM (P6, maxval up to 255, scaled to 0..255). Empty image on
// failure.
RgbImage ReadPpm(const std::vector<uint8_t>& bytes);
RgbImage ReadPpmFile(const std::filesystem::path& path);
// The picture held by `img` as top-down RGB.
RgbImage ToRgb(const CxImage& img);
// Runs a shell command and returns its standard output; `ok` tells whether it
// exited with 0.
std::vector<uint8_t> RunCommand(const std::string& command, bool* ok = nullptr);
bool HaveCommand(const std::string& name);
// Largest difference of any channel; -1 when the sizes differ.
int MaxDifference(const RgbImage& a, const RgbImage& b);

// Makes a picture in a CxImage from top-down RGB values, at the depth given:
// 24 takes the colours as they are; 8, 4 and 1 take `palette` (blue, green,
// red entries) and the indices in `indices` (top-down, one per pixel).
void MakeImage24(CxImage& img, int width, int height, const std::vector<uint8_t>& rgb);
void MakeIndexed(CxImage& img, int width, int height, int depth, const std::vector<RGBQUAD>& palette,
                 const std::vector<uint8_t>& indices);
// A small asymmetric test picture ("F" in red on blue with a gradient), so a
// flipped row order, a red/blue swap or wrong padding shows at once.
std::vector<uint8_t> PatternRgb(int width, int height);

// Colour profiles made by Little CMS, each made once (a profile's header
// carries the time it was made): sRGB, and a wider RGB space (the Adobe RGB
// primaries, gamma 2.2).
const std::vector<uint8_t>& SrgbProfile();
const std::vector<uint8_t>& WideProfile();

}  // namespace tessara::test
