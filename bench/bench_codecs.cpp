// Loads and saves a large picture in each of the six formats, and has
// ImageMagick's convert do the same conversion on the same file in the same run.
// Prints each path's best time of several runs and the ratio convert / ours
// (above 1 means we are faster).
//
//   bench_codecs [WIDTH HEIGHT [RUNS]]     default 6000 x 4000, 3 runs; then PNG
//                                           saving against vips on the same picture
//   bench_codecs --png-save PICTURE [RUNS]  saving PICTURE as PNG, ours against
//                                           `vips pngsave` with its defaults
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "image/ximage.h"

namespace fs = std::filesystem;
using namespace tessara;
using tessara::bench::Seconds;

namespace {

// A photo-like picture: smooth gradients with fine texture, so the compressors
// have real work and run-length coders are not flattered.
void MakePicture(CxImage& img, int width, int height) {
  img.Create(width, height, 24);
  uint32_t noise = 12345;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = img.GetBits(y);
    for (int x = 0; x < width; ++x) {
      noise = noise * 1103515245u + 12345u;
      const int n = static_cast<int>((noise >> 16) & 7);
      row[3 * x] = static_cast<uint8_t>((x * 255 / width + n) & 0xFF);
      row[3 * x + 1] = static_cast<uint8_t>((y * 255 / height + n) & 0xFF);
      row[3 * x + 2] = static_cast<uint8_t>(static_cast<int>(127 + 120 * std::sin(x * 0.01 + y * 0.003)) + n / 2);
    }
  }
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Saves a loaded picture as PNG, and has vips save the same picture (from its
// own format, which costs nothing to read) with its defaults: median times,
// file sizes, and whether libpng reads our file back to the same pixels.
int PngSave(const std::string& path, int runs) {
  CxImage picture(path, CXIMAGE_FORMAT_UNKNOWN);
  if (!picture.IsValid()) {
    std::printf("cannot load %s: %s\n", path.c_str(), picture.GetLastError());
    return 1;
  }
  const fs::path dir = fs::temp_directory_path() / ("tessara-bench-png-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string ours = (dir / "ours.png").string(), theirs = (dir / "vips.png").string(),
                    native = (dir / "in.v").string();
  const bool haveVips = std::system(("vips copy '" + path + "' '" + native + "' >/dev/null 2>&1").c_str()) == 0;
  std::vector<double> t, tv;
  for (int r = 0; r < runs; ++r) {
    fs::remove(ours);
    auto start = std::chrono::steady_clock::now();
    if (!picture.Save(ours, CXIMAGE_FORMAT_PNG)) {
      std::printf("save failed: %s\n", picture.GetLastError());
      return 1;
    }
    t.push_back(Seconds(start));
    if (haveVips) {
      fs::remove(theirs);
      start = std::chrono::steady_clock::now();
      if (std::system(("vips pngsave '" + native + "' '" + theirs + "'").c_str()) != 0) return 1;
      tv.push_back(Seconds(start));
    }
  }
  CxImage back(ours, CXIMAGE_FORMAT_PNG);
  bool same = back.IsValid() && back.GetWidth() == picture.GetWidth() && back.GetHeight() == picture.GetHeight();
  for (int y = 0; same && y < picture.GetHeight(); ++y)
    same = std::memcmp(back.GetBits(y), picture.GetBits(y), static_cast<size_t>(picture.GetWidth()) * 3) == 0;
  std::printf("PNG save of a %d x %d picture, median of %d runs\n", picture.GetWidth(), picture.GetHeight(), runs);
  std::printf("ours        %7.3f s  %10ju bytes  reads back %s\n", Median(t), static_cast<uintmax_t>(fs::file_size(ours)),
              same ? "the same" : "DIFFERENT");
  if (haveVips) {
    std::printf("vips        %7.3f s  %10ju bytes\n", Median(tv), static_cast<uintmax_t>(fs::file_size(theirs)));
    std::printf("time ours/vips %.2f  size ours/vips %.3f\n", Median(t) / Median(tv),
                static_cast<double>(fs::file_size(ours)) / static_cast<double>(fs::file_size(theirs)));
  }
  fs::remove_all(dir);
  return same ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "--png-save") return PngSave(argv[2], argc > 3 ? std::atoi(argv[3]) : 7);
  const int width = argc > 2 ? std::atoi(argv[1]) : 6000;
  const int height = argc > 2 ? std::atoi(argv[2]) : 4000;
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
  const bool haveConvert = std::system("command -v convert >/dev/null 2>&1") == 0;
  const fs::path dir = fs::temp_directory_path() / ("tessara-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);

  CxImage picture;
  MakePicture(picture, width, height);
  struct Format {
    const char* ext;
    int number;
  } formats[] = {{"bmp", CXIMAGE_FORMAT_BMP}, {"jpg", CXIMAGE_FORMAT_JPG}, {"png", CXIMAGE_FORMAT_PNG},
                 {"tif", CXIMAGE_FORMAT_TIF}, {"tga", CXIMAGE_FORMAT_TGA}, {"pcx", CXIMAGE_FORMAT_PCX}};

  std::printf("load + save of a %d x %d picture, best of %d runs\n", width, height, runs);
  std::printf("%-6s %10s %10s %8s\n", "format", "ours s", "convert s", "ratio");
  int status = 0;
  for (const Format& f : formats) {
    const std::string in = (dir / (std::string("in.") + f.ext)).string();
    const std::string ours = (dir / (std::string("ours.") + f.ext)).string();
    const std::string theirs = (dir / (std::string("theirs.") + f.ext)).string();
    if (!picture.Save(in, f.number)) {
      std::printf("%-6s cannot write the input: %s\n", f.ext, picture.GetLastError());
      status = 1;
      continue;
    }
    double best = 1e30, bestConvert = 1e30;
    for (int r = 0; r < runs; ++r) {
      // Both tools write a new file each run.
      fs::remove(ours);
      fs::remove(theirs);
      auto start = std::chrono::steady_clock::now();
      CxImage img(in, f.number);
      const bool ok = img.IsValid() && img.Save(ours, f.number);
      best = std::min(best, Seconds(start));
      if (!ok) {
        std::printf("%-6s failed: %s\n", f.ext, img.GetLastError());
        status = 1;
        break;
      }
      if (haveConvert) {
        // Same quality as ours for the lossy paths.
        const std::string cmd = "convert '" + in + "' -quality 90 '" + theirs + "'";
        start = std::chrono::steady_clock::now();
        if (std::system(cmd.c_str()) != 0) bestConvert = -1;
        bestConvert = std::min(bestConvert, Seconds(start));
      }
    }
    if (haveConvert && bestConvert > 0)
      std::printf("%-6s %10.3f %10.3f %8.2f\n", f.ext, best, bestConvert, bestConvert / best);
    else
      std::printf("%-6s %10.3f %10s %8s\n", f.ext, best, "-", "-");
  }
  // PNG saving against vips on the same picture.
  if (status == 0 && std::system("command -v vips >/dev/null 2>&1") == 0)
    status = PngSave((dir / "in.bmp").string(), std::max(runs, 3));
  fs::remove_all(dir);
  return status;
}
