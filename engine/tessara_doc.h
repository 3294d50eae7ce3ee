// A source document: one picture loaded from a file, registered as source 1 or
// source 2. Bitmaps are read as raw blocks (normalised to a 40-byte header with
// rows right after the colour table); other formats go through the codec layer.
// The picture is never changed after loading.
#pragma once

#include <string>

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

class CTessaraDoc : public CDocument {
 public:
  // Enters the registry at slot g_nSourcesLoaded.
  CTessaraDoc();
  // Frees the picture and leaves the registry: leaving slot 0 moves a source 2
  // up to become source 1.
  ~CTessaraDoc() override;

  // Loads the picture by the last three characters of the path, lower-cased.
  // False (after telling the user why) when nothing was loaded.
  bool OnOpenDocument(const std::string& path);
  int LoadBitmapFile(const std::string& path);
  int LoadWithCodec(const std::string& path, int format);
  void InitDibData();

  int m_nWidth = 1;
  int m_nHeight = 1;
  // Set when the user stopped the load with a stop key.
  bool m_bLoadStopped = false;
  DibPtr m_pDib;
  CxImage* m_pImage = nullptr;
};

// Brings a bitmap block read from a file to the form the rest of the program
// takes: a 40-byte header, 4-byte colour-table entries and the rows right after
// them. `bitsOffset` is the file header's offset of the rows (0 when unknown).
// The block comes from ReadDibFile; the spare bytes after the file's data are
// dropped from it, so rows the file does not hold never count as present. A
// block that cannot be normalised (rows outside the file) is otherwise left as
// it is; the preparation of the sources refuses it later.
void NormaliseBitmapBlock(DibPtr& dib, uint32_t bitsOffset);

// The frame side of a source window's life: its creation raises the count of
// loaded sources and its end lowers it.
void SourceFrameCreated();
void SourceFrameDestroyed();

}  // namespace tessara
