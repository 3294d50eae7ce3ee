// libFuzzer target for one decoder of the codec layer, chosen at build time by
// TESSARA_FUZZ_FORMAT. What a JPEG, PNG or TIFF carries besides its pixels is
// taken as a load takes it: the picture turned by its orientation tag, its
// colour profile checked, and its camera data written into the encoded copy.
// Whatever decodes is encoded again in the same format (or as Targa for
// bitmaps) so the encoders see odd pictures too. For bitmaps the
// source-document path is exercised as well: the raw block, its check, and a
// walk over its pixels when the check passes. A JPEG is also read a few rows
// at a time, which must give the whole decoder's pixels and fail where it
// fails.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "image/codec.h"
#include "image/colour_profile.h"
#include "image/dib.h"
#include "image/metadata.h"
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
  if (format == CXIMAGE_FORMAT_JPG) {
    const std::unique_ptr<JpegRowReader> reader = JpegRowReader::Open(data, size);
    // A picture the whole decoder may not make is read by rows all the same.
    if (reader && reader->Reads() &&
        DibBlockBytes(24, reader->Width(), reader->Height()) <= PictureByteLimit()) {
      const int width = reader->Width(), height = reader->Height();
      const size_t stride = 3 * static_cast<size_t>(width);
      constexpr int kPiece = 7;
      std::vector<uint8_t> rows(stride * kPiece);
      uint8_t* at[kPiece];
      for (int i = 0; i < kPiece; ++i) at[i] = rows.data() + stride * static_cast<size_t>(i);
      bool same = true, read = true;
      for (int y = 0; y < height && read; y += kPiece) {
        const int n = std::min(kPiece, height - y);
        read = reader->Read(at, n);
        for (int i = 0; read && same && i < n; ++i)
          same = img.IsValid() && img.GetWidth() == width && img.GetHeight() == height &&
                 std::memcmp(at[i], img.GetBits(height - 1 - (y + i)), stride) == 0;
      }
      if (read != img.IsValid() || (read && !same)) __builtin_trap();
    }
  }
  if (img.IsValid()) {
    img.Orient(img.m_metadata.orientation);
    if (!img.m_metadata.iccProfile.empty() &&
        CheckProfile(img.m_metadata.iccProfile, img.GetBpp() <= 8 && img.IsGrayScale()) != ProfileUse::kUsable)
      img.m_metadata.iccProfile.clear();
    std::vector<uint8_t> out;
    const int as = format == CXIMAGE_FORMAT_BMP ? CXIMAGE_FORMAT_TGA : format;
    if (img.Encode(out, as) && !img.m_metadata.camera.Empty()) {
      const CameraDataToWrite camera{img.m_metadata.camera, img.GetWidth(), img.GetHeight(), "fuzz"};
      std::string why;
      EmbedCameraData(out, as, camera, why);
    }
  }
  if (format == CXIMAGE_FORMAT_BMP) {
    if (DibPtr dib = ReadDibMemory(data, size)) {
      if (DibFitsBlock(*dib)) (void)DibToRgb(*dib);
    }
  }
  return 0;
}
