// Times the two long engine operations on large pictures, each beside libvips
// doing the nearest equivalent job in the same run:
//   PrepareSource of a 6000 x 4000 24-bit picture at 1.5 degrees and scale 1034
//     vs  vips similarity --scale 1.01 --angle 1.5 --interpolate bilinear
//   GenerateTarget (Average, fade on source 2) of two such pictures overlapping
//   by 30 %  vs  vips merge A.v B.v out.v horizontal -4200 0
// Prints the ratio ours / vips (at most 1.0 means we are as fast) and the peak
// memory of this process.
//
//   bench_engine [WIDTH HEIGHT]
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_support.h"
#include "engine/destdoc.h"
#include "engine/tessara_doc.h"
#include "engine/documents.h"

namespace fs = std::filesystem;
using namespace tessara;
using tessara::bench::Seconds;
using tessara::bench::TimeCommand;
using tessara::bench::WritePpm;

namespace {

DibPtr MakePicture(int width, int height, int phase) {
  DibPtr dib = CreateDib(0, 24, width, height, "no memory for the test picture");
  uint32_t noise = 12345u + static_cast<uint32_t>(phase);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = dib->Row(y);
    for (int x = 0; x < width; ++x) {
      noise = noise * 1103515245u + 12345u;
      const int n = static_cast<int>((noise >> 16) & 7);
      row[3 * x] = static_cast<uint8_t>((x * 255 / width + n) & 0xFF);
      row[3 * x + 1] = static_cast<uint8_t>((y * 255 / height + n) & 0xFF);
      row[3 * x + 2] = static_cast<uint8_t>(static_cast<int>(127 + 120 * std::sin(x * 0.01 + y * 0.003)) + n / 2);
    }
  }
  return dib;
}

}  // namespace

int main(int argc, char** argv) {
  const int width = argc > 2 ? std::atoi(argv[1]) : 6000;
  const int height = argc > 2 ? std::atoi(argv[2]) : 4000;
  const bool haveVips = std::system("command -v vips >/dev/null 2>&1") == 0;
  const fs::path dir = fs::temp_directory_path() / ("tessara-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);

  HeadlessUserInterface ui;
  SetUserInterface(&ui);
  CDocuments documents;
  CDestdoc& doc = documents.MakeTarget();
  CTessaraDoc* s1 = documents.OpenSource();
  s1->m_pDib = MakePicture(width, height, 0);
  s1->InitDibData();
  CTessaraDoc* s2 = documents.OpenSource();
  s2->m_pDib = MakePicture(width, height, 1);
  s2->InitDibData();
  if (haveVips) {
    WritePpm(*s1->m_pDib, dir / "a.ppm");
    WritePpm(*s2->m_pDib, dir / "b.ppm");
    (void)std::system(("vips copy " + (dir / "a.ppm").string() + " " + (dir / "a.v").string() + " && vips copy " +
                 (dir / "b.ppm").string() + " " + (dir / "b.v").string())
                    .c_str());
  }

  std::printf("%d x %d, 24 bits\n", width, height);
  // Preparation at 1.5 degrees, scale 1034, corners kept.
  doc.m_nScale1X = doc.m_nScale1Y = 1034;
  doc.m_dRotation1 = 1.5;
  doc.m_bCutCorners1 = 0;
  double best = 1e30;
  for (int r = 0; r < 3; ++r) {
    auto start = std::chrono::steady_clock::now();
    if (doc.PrepareSource(1) != kPrepareDone) return 1;
    best = std::min(best, Seconds(start));
  }
  double vipsBest = -1;
  if (haveVips)
    for (int r = 0; r < 3; ++r) {
      const double t = TimeCommand("vips similarity " + (dir / "a.v").string() + " " + (dir / "out.v").string() +
                                   " --scale 1.01 --angle 1.5 --interpolate bilinear");
      if (t > 0 && (vipsBest < 0 || t < vipsBest)) vipsBest = t;
    }
  std::printf("PrepareSource   ours %.3f s   vips %.3f s   ratio ours/vips %.2f\n", best, vipsBest,
              vipsBest > 0 ? best / vipsBest : 0.0);

  // Generation: both prepared at full size, source 2 4200 columns right.
  doc.m_nScale1X = doc.m_nScale1Y = 1024;
  doc.m_dRotation1 = 0;
  doc.m_bCutCorners1 = 1;
  if (doc.PrepareSource(1) != kPrepareDone || doc.PrepareSource(2) != kPrepareDone) return 1;
  doc.m_nOffsetX = width * 7 / 10;
  g_nMergeRule = kMergeAverage;
  g_bFadeEdge2 = 1;
  best = 1e30;
  for (int r = 0; r < 3; ++r) {
    auto start = std::chrono::steady_clock::now();
    if (doc.GenerateTarget() != 1) return 1;
    best = std::min(best, Seconds(start));
  }
  vipsBest = -1;
  if (haveVips)
    for (int r = 0; r < 3; ++r) {
      const double t = TimeCommand("vips merge " + (dir / "a.v").string() + " " + (dir / "b.v").string() + " " +
                                   (dir / "out.v").string() + " horizontal -- " +
                                   std::to_string(-(width * 7 / 10)) + " 0");
      if (t > 0 && (vipsBest < 0 || t < vipsBest)) vipsBest = t;
    }
  std::printf("GenerateTarget  ours %.3f s   vips %.3f s   ratio ours/vips %.2f\n", best, vipsBest,
              vipsBest > 0 ? best / vipsBest : 0.0);

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double pictureMb = 3.0 * width * height / 1e6;
  std::printf("peak memory %.0f MB (one picture is %.0f MB: 2 sources + 2 prepared + Target %.0f MB)\n",
              usage.ru_maxrss / 1024.0, pictureMb, pictureMb * 4 + 3.0 * (width * 17 / 10) * height / 1e6);
  fs::remove_all(dir);
  return 0;
}
