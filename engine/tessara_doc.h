// A source document: one picture loaded from a file, registered as source 1 or
// source 2. Bitmaps are read as raw blocks (normalised to a 40-byte header with
// rows right after the colour table); other formats go through the codec layer.
// The picture is never changed after loading.
#pragma once

#include <memory>
#include <string>

#include "engine/coverage.h"
#include "framework/document.h"
#include "image/dib.h"
#include "image/ximage.h"

namespace tessara {

namespace source_text {
inline constexpr const char* kUnableToLoad = "Unable to load this picture file";
inline constexpr const char* kCannotLoadFile = "Cannot load this file";
inline constexpr const char* kCannotHandle = "Cannot handle this type of image.";
inline constexpr const char* kTooBig = "Image is too big to load";
inline constexpr const char* kFailedToOpen = "Failed to open document.";
}  // namespace source_text

// The format a file's name announces: by its last three characters, any case
// (bmp, jpg, png, tif, tga, pcx), or by the endings .jpeg, .jpe and .tiff. 0
// when it announces none the program reads.
int FormatOfFileName(const std::string& path);
// What a format is called in messages ("JPEG", "Targa").
const char* FormatName(int format);
// A message box text followed by a second line naming the file (its name
// only) and, when there is one, the reason: "Unable to load this picture
// file\nphoto.tga: bad TGA header".
std::string WithFileAndReason(const char* text, const std::string& path, const std::string& reason);

// Made, kept in its slot and closed by CDocuments (engine/documents.h).
class CTessaraDoc : public CDocument {
 public:
  // Loads the picture as its name announces (FormatOfFileName); a file whose
  // content is of another format says so and is loaded by its content. False
  // (after telling the user why) when nothing was loaded.
  bool OnOpenDocument(const std::string& path);
  int LoadBitmapFile(const std::string& path);
  // `namedFormat`: the format the file's name announced, when not `format`
  // (0, "try every decoder", for a file named as a bitmap that is none). A
  // picture found to be of another format than its name says is reported.
  int LoadWithCodec(const std::string& path, int format, int namedFormat = 0);
  void InitDibData();
  // Takes what the decoded picture's file said besides its pixels, turns the
  // picture upright when its tag asks and the user wants it, drops a colour
  // profile that cannot be used, and writes the load's note. False when there
  // was no memory to turn the picture.
  bool TakeMetadata();

  int m_nWidth = 1;
  int m_nHeight = 1;
  // Set when the user stopped the load with a stop key.
  bool m_bLoadStopped = false;
  DibPtr m_pDib;
  // The decoded picture while its block is taken over; null otherwise.
  std::unique_ptr<CxImage> m_pImage;
  // What the file said besides its pixels: the colour profile (empty: sRGB),
  // the camera data, the orientation tag (`orientation` is 1 once the picture
  // was turned upright; otherwise what the tag asked and was not done).
  PictureMetadata m_metadata;
  // Why the last loader returned 0, in the words its message gave.
  std::string m_szLoadFailure;
  // What the status line says of this picture when it loads and when its
  // window is active (empty when there is nothing to say).
  std::string m_szLoadNote;
  // For a picture that is itself a join (a Target taken as source 1): which of
  // its pixels came from a picture, the rest being background. Empty for a
  // picture loaded from a file, every pixel of which counts.
  SampleCoverage m_coverage;

  // Makes this document hold a picture made in memory (a Target), with what
  // is known of it, as if it had been loaded.
  void TakePicture(DibPtr picture, SampleCoverage coverage, PictureMetadata metadata, const std::string& title);
};


// Brings a bitmap block read from a file to the form the rest of the program
// takes: a 40-byte header, 4-byte colour-table entries and the rows right after
// them. `bitsOffset` is the file header's offset of the rows (0 when unknown).
// The block comes from ReadDibFile; the spare bytes after the file's data are
// dropped from it, so rows the file does not hold never count as present. Rows
// stored top first (a negative height) are turned bottom first. False when the
// file header puts the rows past the end of the file (no picture to take); a
// block that cannot be normalised otherwise (rows running past the end) is left
// as it is, and the preparation of the sources refuses it later.
bool NormaliseBitmapBlock(DibPtr& dib, uint32_t bitsOffset);

}  // namespace tessara
