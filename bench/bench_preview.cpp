// Times what the desktop program does between a user opening two photographs
// and the Align Window's preview: each file loaded as a source (decoded,
// turned by its orientation tag), both sources prepared, the preview built.
// The sources stay loaded, as in the program, so the prepared copies are
// copies. Prints each step and the total, which should stay within a second
// for two 45-megapixel photographs; then one step of a drag of source 2.
//
//   bench_preview SOURCE1 SOURCE2
#include <chrono>
#include <cstdio>
#include <string>

#include "bench/bench_support.h"
#include "engine/align_doc.h"
#include "engine/destdoc.h"
#include "engine/documents.h"
#include "engine/tessara_doc.h"

using namespace tessara;
using tessara::bench::Seconds;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_preview SOURCE1 SOURCE2\n");
    return 2;
  }
  HeadlessUserInterface ui;
  SetUserInterface(&ui);
  CDocuments documents;
  CDestdoc& doc = documents.MakeTarget();
  CAlignDoc& align = documents.MakeAlign();
  // An Align Window of a usual size.
  align.m_nClientWidth = 1200;
  align.m_nClientHeight = 800;
  const auto start = std::chrono::steady_clock::now();
  double at = 0;
  auto step = [&](const char* what) {
    const double now = Seconds(start);
    std::printf("  %-22s %6.3f s\n", what, now - at);
    at = now;
  };
  for (int n = 1; n <= 2; ++n) {
    CTessaraDoc* src = documents.OpenSource();
    if (!src || !src->OnOpenDocument(argv[n])) {
      std::fprintf(stderr, "cannot load %s\n", argv[n]);
      return 1;
    }
    step(n == 1 ? "load source 1" : "load source 2");
  }
  const double loaded = at;
  const PrepareResult c = doc.PrepareSource(1);
  step("prepare source 1");
  const PrepareResult d = doc.PrepareSource(2);
  step("prepare source 2");
  align.RebuildPreview(d != kPrepareDone ? d : c);
  step("preview");
  std::printf("  %-22s %6.3f s (from the second load to the preview: %.3f s)\n", "total", at, at - loaded);
  // A step of a drag: source 2 moved, prepared again, the preview rebuilt.
  doc.m_nOffsetX += 10;
  const PrepareResult e = doc.PrepareSource(2);
  align.RebuildPreview(e);
  step("one step of a drag");
  if (e != kPrepareDone) return 1;
  return c == kPrepareDone && d == kPrepareDone ? 0 : 1;
}
