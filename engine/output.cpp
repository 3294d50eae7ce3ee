// Saving the Target: the output image cut from the whole Target or the Zone, the
// program's own bitmap writer, the writer through the codec layer, the choice
// between them by the file name, and the page height of a printed Target.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <optional>

#include "engine/destdoc.h"
#include "engine/streamed_join.h"
#include "engine/tessara_doc.h"
#include "framework/registry.h"
#include "framework/settings.h"
#include "framework/user_interface.h"
#include "framework/version.h"
#include "image/codec.h"
#include "image/colour_profile.h"
#include "image/packed_row.h"
#include "image/safe_file.h"
#include "image/ximage.h"

namespace tessara {

namespace {
const char* const kFilterEndings[] = {"bmp", "jpg", "png", "tif", "tga", "pcx", "wmf"};

std::string LowerEnding(const std::string& path) {
  std::string ending = std::filesystem::path(path).extension().string();
  if (!ending.empty()) ending.erase(0, 1);
  std::transform(ending.begin(), ending.end(), ending.begin(), [](unsigned char c) { return std::tolower(c); });
  return ending;
}
}  // namespace

std::string FailedSaveText(const std::string& path, const std::string& why) {
  return WithFileAndReason(target_text::kFailedSave, path, why);
}

int SavedJpegQuality() {
  const int quality = Settings().GetInt(settings_key::kConfigure, settings_key::kJpegQuality, kDefaultJpegQuality);
  return quality >= 1 && quality <= 100 ? quality : kDefaultJpegQuality;
}

DibPtr CDestdoc::PrepareOutput(int force24) {
  m_pSource1.reset();
  m_pSource2.reset();
  if (!m_pTarget) return nullptr;
  const Dib& target = *m_pTarget;
  const int tw = target.Width(), th = target.Height();
  int left = 0, top = 0;
  if (m_bZoneOnly == 1) {
    const int sx = std::max(1, m_nViewScaleX), sy = std::max(1, m_nViewScaleY);
    const int x1 = m_ptZoneAnchor.x * 100 / sx, x2 = m_ptZoneCorner.x * 100 / sx;
    const int y1 = m_ptZoneAnchor.y * 100 / sy, y2 = m_ptZoneCorner.y * 100 / sy;
    left = std::min(x1, x2);
    top = std::min(y1, y2);
    m_nOutputWidth = std::abs(x2 - x1);
    m_nOutputHeight = std::abs(y2 - y1);
    // A Zone is drawn inside the Target; never read outside it whatever the
    // corners say.
    left = std::clamp(left, 0, tw);
    top = std::clamp(top, 0, th);
    m_nOutputWidth = std::min(m_nOutputWidth, tw - left);
    m_nOutputHeight = std::min(m_nOutputHeight, th - top);
  } else {
    m_nOutputWidth = tw;
    m_nOutputHeight = th;
  }
  const int depth = force24 ? 24 : target.BitCount();
  DibPtr out = CreateDib(0, depth, m_nOutputWidth, m_nOutputHeight, target_text::kNoMemoryOutput);
  if (!out) return nullptr;
  if (depth == 1) {
    out->ColorTable()[0] = {0, 0, 0, 0};
    out->ColorTable()[1] = {255, 255, 255, 0};
  } else if (depth == 8) {
    // The Target's colours; the reserved byte of every entry written is 0,
    // also in the entries the Target leaves unused (they hold its fill).
    const RGBQUAD* from = target.ColorTable();
    RGBQUAD* to = out->ColorTable();
    for (int i = 0; i < 256; ++i) to[i] = {from[i].rgbBlue, from[i].rgbGreen, from[i].rgbRed, 0};
  }
  const int bottom = th - top - m_nOutputHeight;  // first stored row of the cut
  const int srcBits = target.BitCount();
  const RGBQUAD* table = target.ColorTable();
  for (int j = 0; j < m_nOutputHeight; ++j) {
    const uint8_t* in = target.Row(j + bottom);
    uint8_t* row = out->Row(j);
    for (int k = 0; k < m_nOutputWidth; ++k) {
      const int x = k + left;
      int index = 0;
      const uint8_t* bgr = nullptr;
      if (srcBits == 24) {
        bgr = in + 3 * x;
      } else {
        // Indexed Targets read through their colour table, as a cursor does.
        index = srcBits == 1 ? PackedBit(in, x) : in[x];
        bgr = &table[index].rgbBlue;
      }
      if (depth == 24) {
        row[3 * k] = bgr[0], row[3 * k + 1] = bgr[1], row[3 * k + 2] = bgr[2];
      } else if (depth == 8) {
        row[k] = static_cast<uint8_t>(index);
      } else if (index == 1) {
        SetPackedBit(row, k, true);
      }
    }
  }
  return out;
}

int CDestdoc::SaveTargetBmp(const std::string& path) {
  m_pOutput = PrepareOutput(0);
  if (!m_pOutput) return 0;
  const Dib& out = *m_pOutput;
  const BITMAPINFOHEADER& h = out.Header();
  const uint32_t tableBytes = h.biBitCount < 24 ? 4u << h.biBitCount : 0;
  const uint32_t offset = 54 + tableBytes;
  const bool ok = WriteFileReplacing(path, [&](std::FILE* f) {
    uint8_t header[54];
    const auto fileHeader = MakeBmpFileHeader(offset + h.biSizeImage, offset);
    std::memcpy(header, fileHeader.data(), fileHeader.size());
    std::memcpy(header + fileHeader.size(), &h, 40);
    if (std::fwrite(header, 1, sizeof header, f) != sizeof header) return false;
    if (tableBytes && std::fwrite(out.ColorTable(), 1, tableBytes, f) != tableBytes) return false;
    return h.biSizeImage == 0 || std::fwrite(out.Bits(), 1, h.biSizeImage, f) == h.biSizeImage;
  });
  m_pOutput.reset();
  if (!ok) ShowMessage(FailedSaveText(path, LastSaveFailure()));
  if (m_bRefreshAfterSave) RefreshSources();
  return ok ? 1 : 0;
}

namespace {
void AttachMetadataOf(CxImage& image, const PictureMetadata& first) {
  if (!image.IsValid()) return;
  // The Target is in source 1's colour space: the saved file says so (a grey
  // profile does not fit the colour picture saved).
  const IccProfile& icc = first.iccProfile;
  if (!icc.empty() && CheckProfile(icc, false) == ProfileUse::kUsable) image.m_metadata.iccProfile = icc;
  if (Settings().GetInt(settings_key::kConfigure, settings_key::kKeepCameraData, 1) != 0) {
    image.m_metadata.camera = first.camera;
    image.m_szSoftware = std::string("Tessara ") + TESSARA_VERSION;
  }
}
}  // namespace

void CDestdoc::AttachSource1Metadata(CxImage& image) const {
  if (const CTessaraDoc* first = g_pSourceDocs[0]) AttachMetadataOf(image, first->m_metadata);
}

int CDestdoc::SaveTargetFile(const std::string& path, int format) {
  // A TIFF file holds a black-and-white or 256-colour Target as it is, without
  // loss: CCITT Group 4 for 1 bit, deflate for 8 bits.
  const int depth = m_pTarget ? m_pTarget->BitCount() : 24;
  const bool ownDepth = format == CXIMAGE_FORMAT_TIF && (depth == 1 || depth == 8);
  // A whole 24-bit Target is its own output image: the encoders read it where
  // it lies (lent, and left as it was) instead of from a copy as large.
  std::optional<CxImage> image;
  if (m_bZoneOnly != 1 && m_pTarget && m_pTarget->BitCount() == 24) {
    m_pSource1.reset();
    m_pSource2.reset();
    image.emplace();
    if (image->Lend(*m_pTarget)) {
      m_nOutputWidth = m_pTarget->Width();
      m_nOutputHeight = m_pTarget->Height();
    } else {
      image.reset();
    }
  }
  if (!image) {
    m_pOutput = PrepareOutput(ownDepth ? 0 : 1);
    if (!m_pOutput) return 0;
    // The 24-bit output image becomes the codec layer's picture as it is
    // (a 1- or 8-bit one is read by the bitmap decoder).
    image.emplace(std::move(m_pOutput));
  }
  AttachSource1Metadata(*image);
  // A colour profile describes colours: a black-and-white or grey picture
  // carries none of source 1's colour space.
  if (image->IsValid() && image->GetBpp() <= 8 && (image->GetBpp() == 1 || image->IsGrayScale()))
    image->m_metadata.iccProfile.clear();
  image->m_nJpegQuality = SavedJpegQuality();
  if (format == CXIMAGE_FORMAT_TIF) {
    const bool lossless = Settings().GetInt(settings_key::kConfigure, settings_key::kLosslessTiff, 0) != 0;
    if (ownDepth ? depth == 8 : lossless) image->m_dwCodecOptions = kTiffDeflate;
  }
  return SaveOutputImage(*image, path, format);
}

int CDestdoc::SaveOutputImage(CxImage& image, const std::string& path, int format) {
  bool ok = image.IsValid() && image.Save(path, format);
  m_szSaveNote.clear();
  if (ok && !image.m_szMetadataWarning.empty()) {
    m_szSaveNote = "Saved without the camera data of source 1: " + image.m_szMetadataWarning + ".";
    SetStatusText(m_szSaveNote);
  }
  // The system's reason when the file could not be written, else the
  // encoder's.
  const std::string why = !image.m_szWriteFailure.empty() || image.m_szLastError == "null file handler"
                              ? image.m_szWriteFailure
                              : image.m_szLastError;
  // Rows that could not be made have a reason of their own, which their
  // maker tells.
  const bool rowsFailed = image.m_szLastError == kRowsNotMade;
  image.Destroy();
  if (!ok && !rowsFailed) ShowMessage(FailedSaveText(path, why));
  m_pOutput.reset();
  if (m_bRefreshAfterSave) RefreshSources();
  return ok ? 1 : 0;
}

int CDestdoc::SaveStreamedTarget(const std::string& chosen, int filterIndex, StreamedJoin& join) {
  const std::string path = ChosenSavePath(chosen, filterIndex);
  if (path.empty()) return 0;
  if (LowerEnding(path) != "jpg") {
    ShowMessage(FailedSaveText(path, "A Target made a band at a time is saved only as JPEG."));
    return 0;
  }
  CxImage image;
  if (!image.LendRows(join.Header(), join)) return 0;
  m_nOutputWidth = image.GetWidth();
  m_nOutputHeight = image.GetHeight();
  AttachMetadataOf(image, join.Source1Metadata());
  image.m_nJpegQuality = SavedJpegQuality();
  join.Start([this](int percent) { ShowProgress(kProgressCyan, percent); });
  const int saved = SaveOutputImage(image, path, CXIMAGE_FORMAT_JPG);
  ShowProgress(kProgressGrey, 100);
  return saved;
}

std::string SavePathWithEnding(const std::string& chosen, int filterIndex) {
  const std::string ending = LowerEnding(chosen);
  for (const char* e : kFilterEndings)
    if (ending == e) return chosen;
  if (filterIndex < 1 || filterIndex > 7) return std::string();
  return chosen + "." + kFilterEndings[filterIndex - 1];
}

std::string CDestdoc::ChosenSavePath(const std::string& chosen, int filterIndex) {
  m_szSaveNote.clear();
  const std::string name = std::filesystem::path(chosen).filename().string();
  ISettingsStore& store = Settings();
  store.WriteInt(settings_key::kConfigure, settings_key::kLastSaveExtension, filterIndex);
  store.WriteString(settings_key::kConfigure, settings_key::kLastSaveDirectory,
                    chosen.substr(0, chosen.size() - name.size()));
  const std::string path = SavePathWithEnding(chosen, filterIndex);
  if (path.empty())
    ShowMessage(FailedSaveText(chosen, "The name ends in none of .bmp, .jpg, .png, .tif, .tga and .pcx."));
  return path;
}

int CDestdoc::SaveTargetToPath(const std::string& chosen, int filterIndex) {
  const std::string path = ChosenSavePath(chosen, filterIndex);
  if (path.empty()) return 0;
  const std::string ending = LowerEnding(path);
  if (ending == "bmp") return SaveTargetBmp(path);
  const int format = ending == "jpg"   ? CXIMAGE_FORMAT_JPG
                     : ending == "png" ? CXIMAGE_FORMAT_PNG
                     : ending == "tif" ? CXIMAGE_FORMAT_TIF
                     : ending == "tga" ? CXIMAGE_FORMAT_TGA
                     : ending == "pcx" ? CXIMAGE_FORMAT_PCX
                                       : CXIMAGE_FORMAT_WMF;
  return SaveTargetFile(path, format);
}

int PrintDestinationHeight(int imageWidth, int imageHeight, int pageWidth, int dpiX, int dpiY) {
  const double denominator = static_cast<double>(imageWidth) * dpiX;
  if (!(denominator > 0)) return 0;
  const double h = static_cast<double>(imageHeight) * pageWidth * dpiY / denominator;
  return h < 2147483647.0 ? static_cast<int>(h) : 2147483647;
}

}  // namespace tessara
