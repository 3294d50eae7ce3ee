// libFuzzer target for one decoder of the codec layer, chosen at build time by
// TESSARA_FUZZ_FORMAT. Whatever decodes is encoded again in the same format (or
// as PNG for bitmaps) so the encoders see odd pictures too. For bitmaps the
// source-document path is exercised as well: the raw block, its check, and a
// walk over its pixels when the check passes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/dib.h"
#include "image/ximage.h"

#ifndef TESSARA_FUZZ_FORMAT
#error "TESSARA_FUZZ_FORMAT must name a format number"
#endif

// Pictures are held to 32 MB here, so that with libFuzzer's -malloc_limit_mb at
// 96 any allocation of more than the picture plus 64 MB of working memory is a
// finding.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tessara::SetPictureByteLimit(uint64_t{32} << 20);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tessara;
  const int format = TESSARA_FUZZ_FORMAT;
  CxImage img(data, size, format);
  if (img.IsValid()) {
    std::vector<uint8_t> out;
    img.Encode(out, format == CXIMAGE_FORMAT_BMP ? CXIMAGE_FORMAT_TGA : format);
  }
  if (format == CXIMAGE_FORMAT_BMP) {
    if (DibPtr dib = ReadDibMemory(data, size)) {
      if (DibFitsBlock(*dib)) (void)DibToRgb(*dib);
    }
  }
  return 0;
}
