// What files carry besides their pixels: orientation tags turned upright as a
// picture loads, camera data and colour profiles carried into the saved
// Target, source 2 converted into source 1's colour space, and damaged
// metadata that costs only itself; and files that lie in the parts beside
// their pixels: side chunks longer than the file, scans repeated without end.
#include <gtest/gtest.h>
#include <lcms2.h>
#include <tiffio.h>
#include <zlib.h>

#include <exiv2/exiv2.hpp>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>

#include "engine/prepare_source.h"
#include "framework/settings.h"
#include "framework/version.h"
#include "image/colour_profile.h"
#include "image/metadata.h"
#include "tests/engine_fixture.h"
#include "tests/test_support.h"

namespace tessara {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using test::RgbImage;

// A TIFF-structured EXIF block with one entry, the orientation; `type` and
// `count` may be made wrong on purpose.
Bytes ExifBlob(int orientation, bool bigEndian = false, uint16_t type = 3, uint32_t count = 1) {
  auto u16 = [&](Bytes& b, uint32_t v) {
    if (bigEndian) b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)});
    else b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
  };
  auto u32 = [&](Bytes& b, uint32_t v) {
    if (bigEndian) b.insert(b.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    else b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
  };
  Bytes b = bigEndian ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
  u16(b, 42);
  u32(b, 8);
  u16(b, 1);
  u16(b, 0x0112);
  u16(b, type);
  u32(b, count);
  u16(b, static_cast<uint32_t>(orientation));
  u16(b, 0);
  u32(b, 0);
  return b;
}

// A JPEG with an APP1 (EXIF) or APP2 segment put right after its start.
Bytes WithSegment(const Bytes& jpeg, uint8_t marker, const Bytes& payload) {
  const size_t n = payload.size() + 2;
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  out.insert(out.end(), {0xFF, marker, uint8_t(n >> 8), uint8_t(n)});
  out.insert(out.end(), payload.begin(), payload.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}
Bytes WithExif(const Bytes& jpeg, const Bytes& blob) {
  Bytes payload = {'E', 'x', 'i', 'f', 0, 0};
  payload.insert(payload.end(), blob.begin(), blob.end());
  return WithSegment(jpeg, 0xE1, payload);
}

// A PNG with a chunk put right after its header chunk.
Bytes WithChunk(const Bytes& png, const char* type, const Bytes& data) {
  Bytes chunk;
  const uint32_t n = static_cast<uint32_t>(data.size());
  chunk.insert(chunk.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
  chunk.insert(chunk.end(), type, type + 4);
  chunk.insert(chunk.end(), data.begin(), data.end());
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
  crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  chunk.insert(chunk.end(), {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)});
  Bytes out(png.begin(), png.begin() + 33);
  out.insert(out.end(), chunk.begin(), chunk.end());
  out.insert(out.end(), png.begin() + 33, png.end());
  return out;
}

Bytes Encoded(const RgbImage& picture, int format) {
  CxImage img;
  test::MakeImage24(img, picture.width, picture.height, picture.rgb);
  Bytes out;
  EXPECT_TRUE(img.Encode(out, format)) << img.GetLastError();
  return out;
}

// An uncompressed RGB TIFF with the given orientation tag.
Bytes TiffWithOrientation(const RgbImage& p, int orientation) {
  const fs::path path = test::TempDir() / ("o" + std::to_string(orientation) + ".tif");
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(p.width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(p.height));
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation);
  for (int y = 0; y < p.height; ++y) {
    Bytes row(p.rgb.begin() + y * p.width * 3, p.rgb.begin() + (y + 1) * p.width * 3);
    TIFFWriteScanline(tif, row.data(), uint32_t(y), 0);
  }
  TIFFClose(tif);
  return test::ReadBytes(path);
}

// The stored picture that an orientation tag turns into `upright`, from the
// tag's own words: where the stored 0th row and 0th column are seen.
RgbImage StoredFor(const RgbImage& upright, int tag) {
  const int W = upright.width, H = upright.height;
  const bool quarter = tag >= 5;
  RgbImage s{quarter ? H : W, quarter ? W : H, {}};
  s.rgb.resize(upright.rgb.size());
  for (int sy = 0; sy < s.height; ++sy)
    for (int sx = 0; sx < s.width; ++sx) {
      int dx = sx, dy = sy;
      switch (tag) {
        case 2: dx = W - 1 - sx; break;                      // 0th row top, 0th column right
        case 3: dx = W - 1 - sx, dy = H - 1 - sy; break;     // bottom, right
        case 4: dy = H - 1 - sy; break;                      // bottom, left
        case 5: dx = sy, dy = sx; break;                     // left side, top
        case 6: dx = W - 1 - sy, dy = sx; break;             // right side, top
        case 7: dx = W - 1 - sy, dy = H - 1 - sx; break;     // right side, bottom
        case 8: dx = sy, dy = H - 1 - sx; break;             // left side, bottom
        default: break;
      }
      std::memcpy(&s.rgb[(size_t(sy) * s.width + sx) * 3], &upright.rgb[(size_t(dy) * W + dx) * 3], 3);
    }
  return s;
}

RgbImage DibRgb(const Dib& dib) { return RgbImage{dib.Width(), dib.Height(), DibToRgb(dib)}; }

// The bytes of a profile Little CMS made (and closes).
using test::SrgbProfile;
using test::WideProfile;

// The ICC profile split into APP2 segments as the ICC specification lays
// them out.
Bytes WithIcc(Bytes jpeg, const Bytes& icc) {
  const size_t per = 65519;
  const int count = int((icc.size() + per - 1) / per);
  for (int i = count - 1; i >= 0; --i) {
    Bytes payload = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, uint8_t(i + 1), uint8_t(count)};
    const size_t from = size_t(i) * per, to = std::min(icc.size(), from + per);
    payload.insert(payload.end(), icc.begin() + long(from), icc.begin() + long(to));
    jpeg = WithSegment(jpeg, 0xE2, payload);
  }
  return jpeg;
}

class Metadata : public test::EngineTest {
 protected:
  void SetUp() override {
    test::EngineTest::SetUp();
    SetSettingsStore(&store);
  }
  void TearDown() override {
    SetSettingsStore(nullptr);
    test::EngineTest::TearDown();
  }
  CTessaraDoc* Open(const Bytes& bytes, const std::string& name) {
    const fs::path path = test::TempDir() / name;
    test::WriteBytes(path, bytes);
    CTessaraDoc* src = documents.OpenSource();
    if (!src->OnOpenDocument(path.string())) {
      documents.CloseSource(*src);
      return nullptr;
    }
    return src;
  }
  MemorySettingsStore store;
};

TEST(ExifOrientation, ReadsOnlyAWellFormedTag) {
  for (int o = 1; o <= 8; ++o) {
    EXPECT_EQ(ExifOrientation(ExifBlob(o).data(), ExifBlob(o).size()), o);
    EXPECT_EQ(ExifOrientation(ExifBlob(o, true).data(), ExifBlob(o, true).size()), o);
  }
  const Bytes zero = ExifBlob(0), nine = ExifBlob(9), longType = ExifBlob(6, false, 4), two = ExifBlob(6, false, 3, 2);
  EXPECT_EQ(ExifOrientation(zero.data(), zero.size()), 0);
  EXPECT_EQ(ExifOrientation(nine.data(), nine.size()), 0);
  EXPECT_EQ(ExifOrientation(longType.data(), longType.size()), 0);
  EXPECT_EQ(ExifOrientation(two.data(), two.size()), 0);
  // Cut anywhere, or its directory pointing past the end: nothing, no read
  // outside the block (the sanitizer build sees that).
  const Bytes six = ExifBlob(6);
  for (size_t n = 0; n < six.size() - 4; ++n) EXPECT_EQ(ExifOrientation(six.data(), n), 0) << n;
  Bytes far = six;
  far[4] = 0xF0;
  EXPECT_EQ(ExifOrientation(far.data(), far.size()), 0);
}

TEST_F(Metadata, EveryOrientationLoadsUprightFromJpegPngAndTiff) {
  const RgbImage upright{7, 5, test::PatternRgb(7, 5)};
  for (int tag = 2; tag <= 8; ++tag) {
    const RgbImage stored = StoredFor(upright, tag);
    // Lossless files: the loaded picture is the upright one, exactly.
    CTessaraDoc* png = Open(WithChunk(Encoded(stored, CXIMAGE_FORMAT_PNG), "eXIf", ExifBlob(tag)), "o.png");
    ASSERT_TRUE(png) << tag;
    EXPECT_EQ(test::MaxDifference(DibRgb(*png->m_pDib), upright), 0) << "PNG " << tag;
    EXPECT_EQ(png->m_nWidth, 7);
    EXPECT_NE(png->m_szLoadNote.find("Turned upright"), std::string::npos);
    RemoveSource(1);
    CTessaraDoc* tif = Open(TiffWithOrientation(stored, tag), "o.tif");
    ASSERT_TRUE(tif) << tag;
    EXPECT_EQ(test::MaxDifference(DibRgb(*tif->m_pDib), upright), 0) << "TIFF " << tag;
    RemoveSource(1);
    // JPEG: the tagged file against the same file loaded as stored and turned
    // here.
    const Bytes jpeg = WithExif(Encoded(stored, CXIMAGE_FORMAT_JPG), ExifBlob(tag));
    store.WriteInt(settings_key::kConfigure, settings_key::kTurnByOrientation, 0);
    CTessaraDoc* kept = Open(jpeg, "o.jpg");
    ASSERT_TRUE(kept);
    const RgbImage asStored = DibRgb(*kept->m_pDib);
    EXPECT_EQ(kept->m_metadata.orientation, tag);
    EXPECT_NE(kept->m_szLoadNote.find("Shown as stored"), std::string::npos);
    RemoveSource(1);
    store.WriteInt(settings_key::kConfigure, settings_key::kTurnByOrientation, 1);
    CTessaraDoc* turned = Open(jpeg, "o.jpg");
    ASSERT_TRUE(turned);
    // Turning the stored picture back by the tag's words gives the stored one.
    EXPECT_EQ(test::MaxDifference(StoredFor(DibRgb(*turned->m_pDib), tag), asStored), 0) << "JPEG " << tag;
    EXPECT_EQ(turned->m_metadata.orientation, 1);
    RemoveSource(1);
  }
  // The setting off keeps a tagged PNG's stored pixels too.
  store.WriteInt(settings_key::kConfigure, settings_key::kTurnByOrientation, 0);
  const RgbImage stored6 = StoredFor(upright, 6);
  CTessaraDoc* png = Open(WithChunk(Encoded(stored6, CXIMAGE_FORMAT_PNG), "eXIf", ExifBlob(6)), "o.png");
  ASSERT_TRUE(png);
  EXPECT_EQ(test::MaxDifference(DibRgb(*png->m_pDib), stored6), 0);
}

TEST_F(Metadata, QuarterTurnsKeepIndexedPicturesAndTheirResolution) {
  // 1-, 4- and 8-bit pictures turned a quarter: every index lands where the
  // tag says, and the resolutions change places (sizes that leave short
  // blocks of eight rows and columns at both ends, and a whole one).
  for (auto [w, h] : {std::pair{13, 6}, std::pair{37, 21}, std::pair{16, 8}})
  for (int bits : {1, 4, 8}) {
    for (int tag : {5, 6, 7, 8}) {
      DibPtr dib = test::Indexed(bits, w, h, [](int x, int y) { return x * 3 + y * 5 + (x * y) % 7; });
      CxImage img(std::move(dib));
      // An indexed block goes through the bitmap decoder.
      ASSERT_TRUE(img.IsValid());
      img.SetXDpi(100);
      img.SetYDpi(300);
      const RgbImage before = test::ToRgb(img);
      ASSERT_TRUE(img.Orient(tag));
      EXPECT_EQ(img.GetWidth(), h);
      EXPECT_EQ(img.GetHeight(), w);
      EXPECT_EQ(img.m_nXDpi, 300);
      EXPECT_EQ(img.m_nYDpi, 100);
      EXPECT_EQ(test::MaxDifference(StoredFor(test::ToRgb(img), tag), before), 0) << bits << " bits, tag " << tag;
    }
  }
}

// Source 1 as a camera writes it: EXIF with GPS and a thumbnail, XMP, IPTC,
// a wide-gamut profile and orientation 6 (stored sideways).
Bytes CameraJpeg(const RgbImage& upright) {
  Bytes jpeg = WithIcc(Encoded(StoredFor(upright, 6), CXIMAGE_FORMAT_JPG), WideProfile());
  Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(jpeg.data(), long(jpeg.size()));
  image->readMetadata();
  Exiv2::ExifData& exif = image->exifData();
  exif["Exif.Image.Make"] = "Testcam";
  exif["Exif.Image.Model"] = "T-45";
  exif["Exif.Image.Orientation"] = uint16_t(6);
  exif["Exif.Image.Artist"] = "A. Photographer";
  exif["Exif.Photo.DateTimeOriginal"] = "2026:12:01 10:11:12";
  exif["Exif.Photo.PixelXDimension"] = uint32_t(upright.height);
  exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
  exif["Exif.GPSInfo.GPSLatitude"] = "48/1 51/1 30/1";
  Exiv2::ExifThumb thumb(exif);
  const Bytes small = Encoded({8, 8, Bytes(8 * 8 * 3, 99)}, CXIMAGE_FORMAT_JPG);
  thumb.setJpegThumbnail(small.data(), long(small.size()));
  image->xmpData()["Xmp.dc.creator"] = "A. Photographer";
  image->xmpData()["Xmp.tiff.Orientation"] = "6";
  image->iptcData()["Iptc.Application2.Byline"] = "A. Photographer";
  image->writeMetadata();
  Exiv2::BasicIo& io = image->io();
  io.open();
  Bytes out(size_t(io.size()));
  io.read(out.data(), long(out.size()));
  io.close();
  return out;
}

TEST_F(Metadata, TheSavedTargetCarriesSource1sCameraDataAndProfile) {
  const RgbImage upright{40, 30, test::PatternRgb(40, 30)};
  ASSERT_TRUE(Open(CameraJpeg(upright), "camera.jpg"));
  ASSERT_TRUE(Open(Encoded({40, 30, test::PatternRgb(40, 30)}, CXIMAGE_FORMAT_PNG), "plain.png"));
  EXPECT_EQ(documents.Source(1)->m_nWidth, 40);
  EXPECT_EQ(documents.Source(1)->m_metadata.iccProfile, WideProfile());
  doc->m_nOffsetX = 25;
  ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
  ASSERT_EQ(doc->PrepareSource(2), kPrepareDone);
  ASSERT_EQ(doc->GenerateTarget(), 1);
  const int width = doc->m_nTargetWidth, height = doc->m_nTargetHeight;
  for (const char* ending : {"jpg", "png", "tif"}) {
    const fs::path out = test::TempDir() / (std::string("joined.") + ending);
    ASSERT_EQ(doc->SaveTargetToPath(out.string(), 0), 1) << ending;
    EXPECT_TRUE(doc->m_szSaveNote.empty()) << doc->m_szSaveNote;
    const Bytes file = test::ReadBytes(out);
    auto value = [&](const char* key) { return ReadMetadataValue(file.data(), file.size(), key); };
    EXPECT_EQ(value("Exif.Image.Make"), "Testcam") << ending;
    EXPECT_EQ(value("Exif.Image.Artist"), "A. Photographer") << ending;
    EXPECT_EQ(value("Exif.Photo.DateTimeOriginal"), "2026:12:01 10:11:12") << ending;
    EXPECT_EQ(value("Exif.GPSInfo.GPSLatitudeRef"), "N") << ending;
    EXPECT_EQ(value("Exif.Image.Orientation"), "1") << ending;
    EXPECT_EQ(value("Exif.Photo.PixelXDimension"), std::to_string(width)) << ending;
    EXPECT_EQ(value("Exif.Photo.PixelYDimension"), std::to_string(height)) << ending;
    EXPECT_EQ(value("Exif.Image.Software"), "Tessara " TESSARA_VERSION) << ending;
    EXPECT_EQ(value("Exif.Thumbnail.JPEGInterchangeFormat"), "") << ending;
    EXPECT_EQ(value("Xmp.dc.creator"), "A. Photographer") << ending;
    EXPECT_EQ(value("Xmp.tiff.Orientation"), "1") << ending;
    if (std::string(ending) != "png") {
      EXPECT_EQ(value("Iptc.Application2.Byline"), "A. Photographer") << ending;
    }
    // The file still decodes, to the Target, with source 1's profile.
    CxImage back(out.string(), CXIMAGE_FORMAT_UNKNOWN);
    ASSERT_TRUE(back.IsValid()) << ending << ": " << back.GetLastError();
    EXPECT_EQ(back.GetWidth(), width);
    EXPECT_EQ(back.m_metadata.iccProfile, WideProfile()) << ending;
    if (std::string(ending) == "png") {
      EXPECT_EQ(test::MaxDifference(test::ToRgb(back), DibRgb(*doc->m_pTarget)), 0);
    }
    if (std::string(ending) == "tif" && test::HaveCommand("tiffinfo")) {
      bool ok = false;
      test::RunCommand("tiffinfo " + out.string() + " >/dev/null 2>&1", &ok);
      EXPECT_TRUE(ok);
    }
  }
  // Turned off: no camera data at all, the profile still.
  store.WriteInt(settings_key::kConfigure, settings_key::kKeepCameraData, 0);
  const fs::path bare = test::TempDir() / "bare.jpg";
  ASSERT_EQ(doc->SaveTargetToPath(bare.string(), 0), 1);
  const Bytes file = test::ReadBytes(bare);
  EXPECT_EQ(ReadMetadataValue(file.data(), file.size(), "Exif.Image.Make"), "");
  EXPECT_EQ(ReadMetadataValue(file.data(), file.size(), "Exif.GPSInfo.GPSLatitudeRef"), "");
  EXPECT_EQ(ReadMetadataValue(file.data(), file.size(), "Xmp.dc.creator"), "");
  EXPECT_EQ(CxImage(bare.string(), CXIMAGE_FORMAT_JPG).m_metadata.iccProfile, WideProfile());
}

TEST_F(Metadata, Source2IsConvertedIntoSource1sSpace) {
  const RgbImage picture{31, 17, test::PatternRgb(31, 17)};
  const Bytes plain = Encoded(picture, CXIMAGE_FORMAT_PNG);
  // Source 1 in the wide space, source 2 tagged sRGB.
  ASSERT_TRUE(Open(WithChunk(plain, "iCCP", [] {
                     Bytes data = {'w', 'i', 'd', 'e', 0, 0};
                     const IccProfile icc = WideProfile();
                     uLongf n = compressBound(uLong(icc.size()));
                     Bytes z(n);
                     compress(z.data(), &n, icc.data(), uLong(icc.size()));
                     data.insert(data.end(), z.begin(), z.begin() + long(n));
                     return data;
                   }()),
                   "wide.png"));
  ASSERT_TRUE(Open(WithIcc(Encoded(picture, CXIMAGE_FORMAT_JPG), SrgbProfile()), "srgb.jpg"));
  ASSERT_EQ(documents.Source(1)->m_metadata.iccProfile, WideProfile());
  ASSERT_EQ(doc->PrepareSource(2), kPrepareDone);
  // What Little CMS itself makes of source 2's picture.
  Dib& source2 = *documents.Source(2)->m_pDib;
  const IccProfile from = SrgbProfile(), to = WideProfile();
  cmsHPROFILE a = cmsOpenProfileFromMem(from.data(), cmsUInt32Number(from.size()));
  cmsHPROFILE b = cmsOpenProfileFromMem(to.data(), cmsUInt32Number(to.size()));
  cmsHTRANSFORM t = cmsCreateTransform(a, TYPE_BGR_8, b, TYPE_BGR_8, INTENT_RELATIVE_COLORIMETRIC,
                                       cmsFLAGS_BLACKPOINTCOMPENSATION);
  ASSERT_TRUE(t);
  const Dib& copy = *doc->m_pSource2;
  ASSERT_EQ(copy.Width(), source2.Width());
  int changed = 0;
  for (int y = 0; y < copy.Height(); ++y) {
    Bytes expected(size_t(copy.Width()) * 3);
    cmsDoTransform(t, source2.Row(y), expected.data(), cmsUInt32Number(copy.Width()));
    ASSERT_EQ(std::memcmp(expected.data(), copy.Row(y), expected.size()), 0) << "row " << y;
    changed += std::memcmp(source2.Row(y), copy.Row(y), expected.size()) != 0;
  }
  EXPECT_GT(changed, 0);
  cmsDeleteTransform(t);
  cmsCloseProfile(a);
  cmsCloseProfile(b);
  // Source 1 is never converted; a pair in one space merges as it is.
  ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
  EXPECT_EQ(test::MaxDifference(DibRgb(*doc->m_pSource1), DibRgb(*documents.Source(1)->m_pDib)), 0);
  EXPECT_TRUE(SameColourSpace(SrgbProfile(), {}));
  EXPECT_FALSE(SameColourSpace(WideProfile(), {}));
}

TEST_F(Metadata, BrokenMetadataCostsOnlyTheMetadata) {
  const RgbImage picture{20, 12, test::PatternRgb(20, 12)};
  const Bytes jpeg = Encoded(picture, CXIMAGE_FORMAT_JPG);
  Bytes scrambled = ExifBlob(6);
  scrambled.resize(400);
  for (size_t i = 14; i < scrambled.size(); ++i) scrambled[i] = uint8_t(i * 131 + 7);
  scrambled[10] = 0xFF;  // the entry count becomes huge
  Bytes garbageIcc(3000);
  for (size_t i = 0; i < garbageIcc.size(); ++i) garbageIcc[i] = uint8_t(i * 17);
  Bytes bigGarbage(60 * 1024 + 77);
  for (size_t i = 0; i < bigGarbage.size(); ++i) bigGarbage[i] = uint8_t(i * 29 + 3);
  Bytes xmp = {'h', 't', 't', 'p', ':', '/', '/', 'n', 's', '.', 'a', 'd', 'o', 'b', 'e', '.', 'c', 'o', 'm',
               '/', 'x', 'a', 'p', '/', '1', '.', '0', '/', 0};
  const std::string packet = "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF";
  xmp.insert(xmp.end(), packet.begin(), packet.end());
  // A thumbnail whose offset points far past the file.
  Bytes thumbPastEnd = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0, 26, 0, 0, 0,
                        2, 0, 0x01, 0x02, 4, 0, 1, 0, 0, 0, 0, 0, 0, 0x70, 0x02, 0x02, 4, 0, 1, 0, 0, 0, 0, 0, 1, 0,
                        0, 0, 0, 0};
  struct Case {
    const char* what;
    Bytes file;
    const char* name;
  } cases[] = {
      {"scrambled EXIF", WithExif(jpeg, scrambled), "a.jpg"},
      {"orientation 0", WithExif(jpeg, ExifBlob(0)), "b.jpg"},
      {"orientation 9", WithExif(jpeg, ExifBlob(9)), "c.jpg"},
      {"garbage profile", WithIcc(jpeg, garbageIcc), "d.jpg"},
      {"60 KB garbage profile", WithIcc(jpeg, bigGarbage), "e.jpg"},
      {"profile with a missing piece", WithSegment(jpeg, 0xE2, {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 2, 2, 1, 2, 3}), "f.jpg"},
      {"truncated XMP", WithSegment(jpeg, 0xE1, xmp), "g.jpg"},
      {"thumbnail past the file", WithExif(jpeg, thumbPastEnd), "h.jpg"},
      {"garbage PNG profile", WithChunk(Encoded(picture, CXIMAGE_FORMAT_PNG), "iCCP", {'x', 0, 0, 1, 2, 3, 4}), "i.png"},
      {"garbage eXIf", WithChunk(Encoded(picture, CXIMAGE_FORMAT_PNG), "eXIf", {'M', 'M', 0, 42, 0xFF, 0xFF, 0xFF, 0}), "j.png"},
  };
  for (const Case& c : cases) {
    ui.Clear();
    CTessaraDoc* src = Open(c.file, c.name);
    ASSERT_TRUE(src) << c.what;
    EXPECT_EQ(src->m_nWidth, 20) << c.what;
    EXPECT_EQ(src->m_nHeight, 12) << c.what;
    EXPECT_TRUE(src->m_metadata.iccProfile.empty()) << c.what;
    EXPECT_TRUE(ui.Messages().empty()) << c.what;
    // Joined with itself and saved: the save works whatever came with it.
    ASSERT_TRUE(Open(jpeg, "plain.jpg"));
    ASSERT_EQ(doc->PrepareSource(1), kPrepareDone);
    ASSERT_EQ(doc->PrepareSource(2), kPrepareDone);
    ASSERT_EQ(doc->GenerateTarget(), 1);
    for (const char* ending : {"jpg", "tif", "png"}) {
      const fs::path out = test::TempDir() / (std::string("broken.") + ending);
      EXPECT_EQ(doc->SaveTargetToPath(out.string(), 0), 1) << c.what << " " << ending;
      EXPECT_TRUE(CxImage(out.string(), CXIMAGE_FORMAT_UNKNOWN).IsValid()) << c.what << " " << ending;
    }
    Restart();
  }
  // The damaged profile is named in the load's note.
  CTessaraDoc* src = Open(WithIcc(jpeg, garbageIcc), "d.jpg");
  ASSERT_TRUE(src);
  EXPECT_NE(src->m_szLoadNote.find("Ignored: a damaged colour profile"), std::string::npos) << src->m_szLoadNote;
}

TEST(PngSideChunks, AChunkClaimingMoreThanTheFileIsRefusedBeforeAnyBuffer) {
  // An eXIf chunk that says it holds a gigabyte, in a file of a few hundred
  // bytes: refused at once, not read into a buffer of the size claimed.
  const Bytes png = Encoded({9, 4, test::PatternRgb(9, 4)}, CXIMAGE_FORMAT_PNG);
  Bytes lying(png.begin(), png.begin() + 33);
  lying.insert(lying.end(), {0x40, 0x00, 0x00, 0xD0, 'e', 'X', 'I', 'f', 'M', 'M', 0, 42});
  lying.insert(lying.end(), png.begin() + 33, png.end());
  // (The fuzz targets, held to 96 MB an allocation, replay this file too.)
  CxImage img(lying.data(), lying.size(), CXIMAGE_FORMAT_PNG);
  EXPECT_FALSE(img.IsValid());
  EXPECT_STREQ(img.GetLastError(), "Read Error: the PNG file is cut short");
  // What is not a PNG file at all is still told so by libpng.
  CxImage other(lying.data() + 1, lying.size() - 1, CXIMAGE_FORMAT_PNG);
  EXPECT_FALSE(other.IsValid());
  EXPECT_STRNE(other.GetLastError(), "Read Error: the PNG file is cut short");
}

// A progressive JPEG whose first scan (the DC one, which decodes the same
// however often it comes) comes `repeats` times in all.
Bytes RepeatedFirstScan(int width, int height, int repeats) {
  CxImage img;
  test::MakeImage24(img, width, height, test::PatternRgb(width, height));
  img.m_dwCodecOptions = 1;  // progressive
  Bytes jpeg;
  EXPECT_TRUE(img.Encode(jpeg, CXIMAGE_FORMAT_JPG));
  size_t first = 0;
  while (first + 3 < jpeg.size() && !(jpeg[first] == 0xFF && jpeg[first + 1] == 0xDA)) ++first;
  // The scan's data ends at the next marker other than a stuffed byte or a
  // restart.
  size_t end = first + 2 + ((size_t{jpeg[first + 2]} << 8) | jpeg[first + 3]);
  while (end + 1 < jpeg.size() &&
         !(jpeg[end] == 0xFF && jpeg[end + 1] != 0x00 && (jpeg[end + 1] < 0xD0 || jpeg[end + 1] > 0xD7)))
    ++end;
  const Bytes scan(jpeg.begin() + long(first), jpeg.begin() + long(end));
  Bytes out(jpeg.begin(), jpeg.begin() + long(end));
  for (int i = 1; i < repeats; ++i) out.insert(out.end(), scan.begin(), scan.end());
  out.insert(out.end(), jpeg.begin() + long(end), jpeg.end());
  return out;
}

TEST(JpegScans, AFileThatRepeatsItsScansBeyondAnyEncoderIsRefusedAtOnce) {
  const Bytes file = RepeatedFirstScan(64, 48, 2000);
  const auto start = std::chrono::steady_clock::now();
  CxImage img(file.data(), file.size(), CXIMAGE_FORMAT_JPG);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(img.IsValid());
  EXPECT_STREQ(img.GetLastError(), "Corrupt JPEG data: more than 500 scans (no encoder writes so many)");
  // A few repeats are the file's own business.
  const Bytes fine = RepeatedFirstScan(64, 48, 3);
  EXPECT_TRUE(CxImage(fine.data(), fine.size(), CXIMAGE_FORMAT_JPG).IsValid());
}

TEST_F(Metadata, TheStopKeysStopASmallPictureThatLoadsForLong) {
  // Below the size whose load shows progress, but 499 scans of it take a
  // second or more: the space bar (answered Yes) stops the load within a
  // fraction of a second.
  const Bytes file = RepeatedFirstScan(2800, 2000, 499);
  ui.PressSpaceAtPoll(1);
  ui.QueueAnswer(true);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Open(file, "slow.jpg"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_TRUE(ui.Messages().empty());
  EXPECT_EQ(g_nSourcesLoaded, 0);
}

TEST_F(Metadata, FilesMadeByOtherProgramsLoadWithWhatTheyCarry) {
  // Made by tests/data/metadata/make_files.py (and ImageMagick for the TIFF)
  // from the 61 x 47 test picture.
  struct Case {
    const char* name;
    int width;
    bool profile;
    const char* make;
  } cases[] = {
      {"jpg_camera_orientation6.jpg", 47, true, "Testcam"},
      {"jpg_big_endian_orientation8.jpg", 47, false, "Testcam"},
      {"png_exif_orientation6_profile.png", 47, true, "Testcam"},
      {"tif_orientation6_profile.tif", 47, true, ""},
      {"jpg_orientation9.jpg", 61, false, "Testcam"},
      {"jpg_thumbnail_past_end.jpg", 61, false, ""},
      {"jpg_scrambled_exif.jpg", 61, false, ""},
      {"jpg_garbage_profile_60k.jpg", 61, false, ""},
      {"jpg_truncated_xmp.jpg", 61, false, ""},
      {"png_garbage_profile.png", 61, false, ""},
      {"png_garbage_exif.png", 61, false, ""},
  };
  for (const Case& c : cases) {
    ui.Clear();
    CTessaraDoc* src = Open(test::ReadBytes(test::TestData(std::string("metadata/") + c.name)), c.name);
    ASSERT_TRUE(src) << c.name;
    EXPECT_TRUE(ui.Messages().empty()) << c.name;
    EXPECT_EQ(src->m_nWidth, c.width) << c.name;
    EXPECT_EQ(src->m_nHeight, c.width == 47 ? 61 : 47) << c.name;
    EXPECT_EQ(!src->m_metadata.iccProfile.empty(), c.profile) << c.name;
    if (c.profile) {
      EXPECT_EQ(ProfileName(src->m_metadata.iccProfile), "Wide test RGB") << c.name;
    }
    if (*c.make) {
      // What was read is what a save writes.
      CxImage out(CreateDib(0, 24, 8, 8, "x"));
      out.m_metadata.camera = src->m_metadata.camera;
      Bytes file;
      ASSERT_TRUE(out.Encode(file, CXIMAGE_FORMAT_JPG));
      std::string why;
      ASSERT_TRUE(EmbedCameraData(file, CXIMAGE_FORMAT_JPG, {src->m_metadata.camera, 8, 8, "t"}, why)) << why;
      EXPECT_EQ(ReadMetadataValue(file.data(), file.size(), "Exif.Image.Make"), c.make) << c.name;
    }
    RemoveSource(1);
  }
}

}  // namespace
}  // namespace tessara
