// What a picture file says about its picture besides the pixels: the way it is
// meant to be turned for viewing, its colour profile and the camera data
// (EXIF, XMP, IPTC). Read from JPEG, PNG and TIFF files (bitmaps, Targa and PCX
// files hold none), kept beside the decoded picture, and written back into a
// saved JPEG, PNG or TIFF file.
//
// Metadata is never worth a picture: a damaged block is dropped, a note says
// what was ignored, and the picture loads or saves as if the block was absent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tessara {

// The camera data of one file, held in the metadata library's own form so
// that it can be written into another file without a loss. Copies share it.
struct CameraRecords;
class CameraData {
 public:
  bool Empty() const;

  std::shared_ptr<const CameraRecords> m_pRecords;
};

struct PictureMetadata {
  // 1..8 as EXIF and TIFF number them; 1 (upright) when absent or not one of
  // them.
  int orientation = 1;
  // The file's orientation tag as it was found (0 when absent), for telling
  // the user; `orientation` is what is still to be done to the pixels.
  int taggedOrientation = 0;
  // The ICC profile as stored; empty when the file has none or it could not
  // be used (the picture then counts as sRGB).
  std::vector<uint8_t> iccProfile;
  CameraData camera;
  // What was found damaged and left out, in words for the status line.
  std::vector<std::string> ignored;
};

// Reads what a JPEG, PNG or TIFF file of `size` bytes at `data` carries
// besides its pixels. `format` is the codec layer's number of the format that
// decoded the file. Other formats leave `out` as it is.
void ReadFileMetadata(const uint8_t* data, size_t size, int format, PictureMetadata& out);

// The orientation tag read from a TIFF-structured EXIF block (as a JPEG's
// APP1 segment holds it after "Exif\0\0", or a PNG's eXIf chunk): 1..8, or 0
// when the block has none or is not one.
int ExifOrientation(const uint8_t* exif, size_t size);

// What is written into a saved file of source 1's camera data.
struct CameraDataToWrite {
  CameraData camera;
  int width = 0;   // of the saved picture
  int height = 0;
  // The program's name and version, for the software tag.
  std::string software;
};

// Writes the camera data into an encoded JPEG, PNG or TIFF file held in
// `file` (the encoder's output, before it is written to disk): the EXIF with
// the size tags set to the saved picture's, the orientation 1, no thumbnail and
// the software tag; the XMP and IPTC likewise. True when written or when there
// is nothing to write; false with `error` set when the file could not take it
// (the file is then left as it was).
bool EmbedCameraData(std::vector<uint8_t>& file, int format, const CameraDataToWrite& data, std::string& error);

// The camera data of a file (read back, for tests and the batch tool): the
// value of one EXIF or XMP key ("Exif.Image.Make", "Xmp.dc.creator"), empty when
// it has none.
std::string ReadMetadataValue(const uint8_t* data, size_t size, const std::string& key);

}  // namespace tessara
