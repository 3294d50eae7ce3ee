// Camera data through Exiv2: read from the bytes of a JPEG, PNG or TIFF file,
// written into the bytes of a saved one; and the orientation tag read from an
// EXIF block by a small checked reader of our own, so that a picture is
// turned upright even when the rest of its EXIF is beyond repair.
#include "image/metadata.h"

#include <exiv2/exiv2.hpp>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "image/ximage.h"

namespace tessara {

struct CameraRecords {
  Exiv2::ExifData exif;
  Exiv2::XmpData xmp;
  Exiv2::IptcData iptc;
};

bool CameraData::Empty() const {
  return !m_pRecords || (m_pRecords->exif.empty() && m_pRecords->xmp.empty() && m_pRecords->iptc.empty());
}

namespace {

// Exiv2 is set up once; its XMP toolkit is not to be entered by two threads
// at a time, so every use holds this lock.
std::mutex& Exiv2Lock() {
  static std::mutex lock;
  static const bool ready = [] {
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    Exiv2::XmpParser::initialize();
    return true;
  }();
  (void)ready;
  return lock;
}

bool IsMetadataFormat(int format) {
  return format == CXIMAGE_FORMAT_JPG || format == CXIMAGE_FORMAT_PNG || format == CXIMAGE_FORMAT_TIF;
}

uint32_t Get16(const uint8_t* p, bool big) { return big ? (p[0] << 8) | p[1] : p[0] | (p[1] << 8); }
uint32_t Get32(const uint8_t* p, bool big) {
  return big ? (uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3]
             : p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
}

// Tags of the first directory that describe how the pixels of the file they
// came from are stored, or point into it: written with another picture they
// would lie, so they are not carried.
bool IsStructureTag(uint16_t tag) {
  switch (tag) {
    case 0x00FE:  // NewSubfileType
    case 0x00FF:  // SubfileType
    case 0x0100:  // ImageWidth
    case 0x0101:  // ImageLength
    case 0x0102:  // BitsPerSample
    case 0x0103:  // Compression
    case 0x0106:  // PhotometricInterpretation
    case 0x0107:  // Thresholding
    case 0x010A:  // FillOrder
    case 0x0111:  // StripOffsets
    case 0x0115:  // SamplesPerPixel
    case 0x0116:  // RowsPerStrip
    case 0x0117:  // StripByteCounts
    case 0x0118:  // MinSampleValue
    case 0x0119:  // MaxSampleValue
    case 0x011A:  // XResolution
    case 0x011B:  // YResolution
    case 0x011C:  // PlanarConfiguration
    case 0x0128:  // ResolutionUnit
    case 0x012D:  // TransferFunction
    case 0x013D:  // Predictor
    case 0x0140:  // ColorMap
    case 0x0142:  // TileWidth
    case 0x0143:  // TileLength
    case 0x0144:  // TileOffsets
    case 0x0145:  // TileByteCounts
    case 0x014A:  // SubIFDs
    case 0x0152:  // ExtraSamples
    case 0x0153:  // SampleFormat
    case 0x015B:  // JPEGTables
    case 0x0200:  // JPEGProc
    case 0x0201:  // JPEGInterchangeFormat
    case 0x0202:  // JPEGInterchangeFormatLength
    case 0x0211:  // YCbCrCoefficients
    case 0x0212:  // YCbCrSubSampling
    case 0x0213:  // YCbCrPositioning
    case 0x0214:  // ReferenceBlackWhite
    case 0x02BC:  // XMLPacket: the XMP is written on its own
    case 0x83BB:  // IPTC-NAA: likewise
    case 0x8649:  // Photoshop resources
    case 0x8773:  // InterColorProfile: the encoders write the profile
    case 0x935C:  // ImageSourceData
      return true;
    default:
      return false;
  }
}

// The EXIF entries worth carrying into another file: the camera's own (the
// first directory's descriptive tags, the Exif and GPS directories, maker
// notes), never a thumbnail or the pages and previews of the file they came
// from.
Exiv2::ExifData CarriedExif(const Exiv2::ExifData& from) {
  Exiv2::ExifData out;
  for (const Exiv2::Exifdatum& d : from) {
    const std::string group = d.groupName();
    if (group == "Thumbnail" || group.rfind("SubImage", 0) == 0 || group.rfind("Image2", 0) == 0 ||
        group.rfind("Image3", 0) == 0 || group == "SubThumb1")
      continue;
    if (group == "Image" && IsStructureTag(d.tag())) continue;
    out.add(d);
  }
  return out;
}

// Sets the size, orientation and software of a saved picture in its EXIF and
// drops any thumbnail.
void StampExif(Exiv2::ExifData& exif, const CameraDataToWrite& data) {
  Exiv2::ExifThumb(exif).erase();
  exif["Exif.Image.Orientation"] = static_cast<uint16_t>(1);
  exif["Exif.Image.Software"] = data.software;
  exif["Exif.Photo.PixelXDimension"] = static_cast<uint32_t>(data.width);
  exif["Exif.Photo.PixelYDimension"] = static_cast<uint32_t>(data.height);
}

void StampXmp(Exiv2::XmpData& xmp, const CameraDataToWrite& data) {
  if (xmp.empty()) return;
  auto set = [&](const char* key, const std::string& value) {
    const Exiv2::XmpKey k(key);
    if (xmp.findKey(k) != xmp.end()) xmp[key] = value;
  };
  set("Xmp.tiff.Orientation", "1");
  set("Xmp.tiff.ImageWidth", std::to_string(data.width));
  set("Xmp.tiff.ImageLength", std::to_string(data.height));
  set("Xmp.exif.PixelXDimension", std::to_string(data.width));
  set("Xmp.exif.PixelYDimension", std::to_string(data.height));
  set("Xmp.tiff.Software", data.software);
  const auto thumbs = xmp.findKey(Exiv2::XmpKey("Xmp.xmp.Thumbnails"));
  if (thumbs != xmp.end()) xmp.erase(thumbs);
}

uint32_t Crc(const uint8_t* type, const uint8_t* data, size_t n) {
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, type, 4);
  if (n) crc = crc32_z(crc, data, n);
  return static_cast<uint32_t>(crc);
}

void AppendChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  const uint32_t n = static_cast<uint32_t>(data.size());
  const uint8_t len[4] = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
  out.insert(out.end(), len, len + 4);
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  const uint32_t crc = Crc(reinterpret_cast<const uint8_t*>(type), data.data(), data.size());
  const uint8_t c[4] = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)};
  out.insert(out.end(), c, c + 4);
}

// A PNG gets its EXIF as an eXIf chunk and its XMP as the iTXt chunk other
// programs look for, both right after the header chunk. PNG has no place for
// IPTC records of its own, so they are not written there.
bool EmbedInPng(std::vector<uint8_t>& file, const Exiv2::ExifData& exif, const Exiv2::XmpData& xmp,
                std::string& error) {
  constexpr size_t kAfterHeader = 8 + 8 + 13 + 4;
  if (file.size() < kAfterHeader || std::memcmp(file.data() + 12, "IHDR", 4) != 0) {
    error = "the saved PNG file has no header chunk";
    return false;
  }
  std::vector<uint8_t> chunks;
  if (!exif.empty()) {
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::bigEndian, exif);
    if (!blob.empty()) AppendChunk(chunks, "eXIf", std::vector<uint8_t>(blob.begin(), blob.end()));
  }
  if (!xmp.empty()) {
    std::string packet;
    if (Exiv2::XmpParser::encode(packet, xmp, Exiv2::XmpParser::useCompactFormat) == 0 && !packet.empty()) {
      static const char kKeyword[] = "XML:com.adobe.xmp";
      std::vector<uint8_t> text(kKeyword, kKeyword + sizeof kKeyword);  // with its 0
      // Not compressed, no language, no translated keyword.
      text.insert(text.end(), {0, 0, 0, 0});
      text.insert(text.end(), packet.begin(), packet.end());
      AppendChunk(chunks, "iTXt", text);
    }
  }
  file.insert(file.begin() + kAfterHeader, chunks.begin(), chunks.end());
  return true;
}

// JPEG and TIFF files are rewritten by Exiv2 in memory. A TIFF keeps the
// entries its encoder wrote (they describe its own pixels); the camera's are
// added to them.
bool EmbedWithExiv2(std::vector<uint8_t>& file, int format, const Exiv2::ExifData& exif, const Exiv2::XmpData& xmp,
                    const Exiv2::IptcData& iptc) {
  Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(file.data(), static_cast<long>(file.size()));
  if (!image.get()) return false;
  image->readMetadata();
  if (format == CXIMAGE_FORMAT_TIF) {
    Exiv2::ExifData& own = image->exifData();
    for (const Exiv2::Exifdatum& d : exif) {
      if (d.groupName() == "Image" && IsStructureTag(d.tag())) continue;
      const Exiv2::ExifKey key(d.key());
      auto at = own.findKey(key);
      if (at != own.end()) own.erase(at);
      own.add(d);
    }
  } else {
    image->setExifData(exif);
  }
  image->setXmpData(xmp);
  image->setIptcData(iptc);
  image->writeMetadata();
  Exiv2::BasicIo& io = image->io();
  if (io.open() != 0) return false;
  const long size = io.size();
  if (size <= 0) {
    io.close();
    return false;
  }
  std::vector<uint8_t> written(static_cast<size_t>(size));
  io.seek(0, Exiv2::BasicIo::beg);
  const long got = io.read(written.data(), size);
  io.close();
  if (got != size) return false;
  file.swap(written);
  return true;
}

}  // namespace

int ExifOrientation(const uint8_t* exif, size_t size) {
  if (!exif || size < 8) return 0;
  bool big;
  if (exif[0] == 'I' && exif[1] == 'I') big = false;
  else if (exif[0] == 'M' && exif[1] == 'M') big = true;
  else return 0;
  if (Get16(exif + 2, big) != 42) return 0;
  const uint64_t ifd = Get32(exif + 4, big);
  if (ifd + 2 > size) return 0;
  const uint32_t entries = Get16(exif + ifd, big);
  for (uint32_t i = 0; i < entries; ++i) {
    const uint64_t at = ifd + 2 + uint64_t{12} * i;
    if (at + 12 > size) return 0;
    const uint8_t* e = exif + at;
    if (Get16(e, big) != 0x0112) continue;
    // SHORT, one value, held in the entry itself.
    if (Get16(e + 2, big) != 3 || Get32(e + 4, big) != 1) return 0;
    const uint32_t v = Get16(e + 8, big);
    return v >= 1 && v <= 8 ? static_cast<int>(v) : 0;
  }
  return 0;
}

namespace {

// The camera data of a file, or null when Exiv2 cannot read it.
std::shared_ptr<CameraRecords> ReadRecords(const uint8_t* data, size_t size, PictureMetadata& out) {
  try {
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(data, static_cast<long>(size));
    if (!image.get()) return nullptr;
    image->readMetadata();
    auto records = std::make_shared<CameraRecords>();
    records->exif = CarriedExif(image->exifData());
    records->xmp = image->xmpData();
    records->iptc = image->iptcData();
    if (!image->xmpPacket().empty() && records->xmp.empty()) out.ignored.push_back("a damaged XMP packet");
    return records;
  } catch (...) {
    return nullptr;
  }
}

// The JPEG without its colour profile's segments: Exiv2 refuses a whole file
// whose profile it finds damaged, and the camera data should not go with the
// profile. Empty when the segments cannot be walked.
std::vector<uint8_t> JpegWithoutProfile(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return out;
  out.reserve(size);
  out.insert(out.end(), data, data + 2);
  size_t at = 2;
  while (at + 4 <= size && data[at] == 0xFF) {
    const uint8_t marker = data[at + 1];
    if (marker == 0xDA) break;  // the scan: everything after is kept
    const size_t length = (size_t{data[at + 2]} << 8) | data[at + 3];
    if (length < 2 || at + 2 + length > size) return {};
    const bool profile = marker == 0xE2 && length >= 14 && std::memcmp(data + at + 4, "ICC_PROFILE", 12) == 0;
    if (!profile) out.insert(out.end(), data + at, data + at + 2 + length);
    at += 2 + length;
  }
  out.insert(out.end(), data + at, data + size);
  return out;
}

}  // namespace

void ReadFileMetadata(const uint8_t* data, size_t size, int format, PictureMetadata& out) {
  if (!data || !IsMetadataFormat(format)) return;
  std::lock_guard<std::mutex> hold(Exiv2Lock());
  std::shared_ptr<CameraRecords> records = ReadRecords(data, size, out);
  if (!records && format == CXIMAGE_FORMAT_JPG) {
    const std::vector<uint8_t> without = JpegWithoutProfile(data, size);
    if (!without.empty() && without.size() < size) records = ReadRecords(without.data(), without.size(), out);
  }
  // Whatever Exiv2 could not read costs only the camera data.
  if (!records) out.ignored.push_back("damaged camera data");
  out.camera.m_pRecords = std::move(records);
}

bool EmbedCameraData(std::vector<uint8_t>& file, int format, const CameraDataToWrite& data, std::string& error) {
  if (!IsMetadataFormat(format) || data.camera.Empty()) return true;
  std::lock_guard<std::mutex> hold(Exiv2Lock());
  try {
    Exiv2::ExifData exif = data.camera.m_pRecords->exif;
    Exiv2::XmpData xmp = data.camera.m_pRecords->xmp;
    const Exiv2::IptcData& iptc = data.camera.m_pRecords->iptc;
    if (!exif.empty()) StampExif(exif, data);
    StampXmp(xmp, data);
    if (format == CXIMAGE_FORMAT_PNG) return EmbedInPng(file, exif, xmp, error);
    if (EmbedWithExiv2(file, format, exif, xmp, iptc)) return true;
    error = "the camera data could not be written";
  } catch (const std::exception& e) {
    error = std::string("the camera data could not be written (") + e.what() + ")";
  } catch (...) {
    error = "the camera data could not be written";
  }
  return false;
}

std::string ReadMetadataValue(const uint8_t* data, size_t size, const std::string& key) {
  std::lock_guard<std::mutex> hold(Exiv2Lock());
  try {
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(data, static_cast<long>(size));
    if (!image.get()) return {};
    image->readMetadata();
    if (key.rfind("Exif.", 0) == 0) {
      const Exiv2::ExifData& exif = image->exifData();
      auto it = exif.findKey(Exiv2::ExifKey(key));
      return it == exif.end() ? std::string() : it->toString();
    }
    if (key.rfind("Xmp.", 0) == 0) {
      const Exiv2::XmpData& xmp = image->xmpData();
      auto it = xmp.findKey(Exiv2::XmpKey(key));
      return it == xmp.end() ? std::string() : it->toString();
    }
    if (key.rfind("Iptc.", 0) == 0) {
      const Exiv2::IptcData& iptc = image->iptcData();
      auto it = iptc.findKey(Exiv2::IptcKey(key));
      return it == iptc.end() ? std::string() : it->toString();
    }
  } catch (...) {
  }
  return {};
}

}  // namespace tessara
