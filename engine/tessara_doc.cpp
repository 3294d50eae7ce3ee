// Loading a source picture.
#include "engine/tessara_doc.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>

#include "framework/settings.h"
#include "framework/user_interface.h"
#include "image/colour_profile.h"
#include "image/safe_file.h"

namespace tessara {

namespace {

// Only regular files are pictures: opening a pipe would wait for a writer (the
// window would freeze), and a device has no end. `why` gets the system's
// reason when the file cannot be opened.
bool CanOpenForReading(const std::string& path, std::string* why = nullptr) {
  // A save over the file that was killed half way is finished first, so the
  // picture read is whole.
  FinishInterruptedSaves(path);
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    if (why) *why = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    if (why) *why = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "Not a regular file";
    return false;
  }
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    if (why) *why = std::strerror(errno);
    return false;
  }
  std::fclose(f);
  return true;
}

std::string FileNameOf(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// Whether a file begins as a bitmap file does ("BM"), and why the program's
// bitmap reader did not take it.
bool BeginsAsBitmap(const std::string& path, std::string& why) {
  uint8_t head[kBmpFileHeaderBytes] = {};
  size_t got = 0;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
  }
  const bool bm = got >= 2 && head[0] == 'B' && head[1] == 'M';
  if (!bm) why = "It is not a bitmap (it does not begin with BM), nor another picture the program reads.";
  else if (got < sizeof head) why = "The file is too short to be a bitmap.";
  else why = "Its bitmap headers do not fit the file, or there is not enough memory to hold it.";
  return bm;
}

// Pictures of at least this many pixels take long enough to load that the
// progress pane follows them and the stop keys are watched.
constexpr uint64_t kWatchedLoadPixels = 8'000'000;
constexpr ProgressColour kLoadProgress{0, 255, 0};
constexpr ProgressColour kLoadDone{128, 128, 128};

class LoadWatch final : public DecodeWatch {
 public:
  ~LoadWatch() override {
    if (m_nPercent >= 0) UserInterface().ShowProgress(kLoadDone, 100);
  }
  bool Continue(const CxImage& picture, uint64_t done, uint64_t total) override {
    const uint64_t pixels = static_cast<uint64_t>(std::max(picture.GetWidth(), 0)) *
                            static_cast<uint64_t>(std::max(picture.GetHeight(), 0));
    if (pixels < kWatchedLoadPixels || total == 0) {
      // A small picture can still take long (a file that repeats its data):
      // the stop keys are looked at a few times a second, without progress.
      const auto now = std::chrono::steady_clock::now();
      if (now - m_lastLook < std::chrono::milliseconds(200)) return true;
      m_lastLook = now;
      return !UserWantsToStop();
    }
    const int percent = static_cast<int>(std::min(done, total) * 100 / total);
    if (percent == m_nPercent) return true;
    m_nPercent = percent;
    UserInterface().ShowProgress(kLoadProgress, percent);
    return !UserWantsToStop();
  }

 private:
  int m_nPercent = -1;
  std::chrono::steady_clock::time_point m_lastLook = std::chrono::steady_clock::now();
};

// The picture decoded from the file; null when there is no memory even for
// the picture object (the decoders report their own shortages as errors).
std::unique_ptr<CxImage> MakeImage(const std::string& path, int format) {
  try {
    return std::make_unique<CxImage>(path, format);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// Words for an orientation tag's turn ("turned 90 degrees clockwise").
std::string DescribeOrientation(int orientation) {
  switch (orientation) {
    case 2: return "mirrored left to right";
    case 3: return "turned 180 degrees";
    case 4: return "mirrored top to bottom";
    case 5: return "turned 90 degrees clockwise and mirrored";
    case 6: return "turned 90 degrees clockwise";
    case 7: return "turned 90 degrees counter-clockwise and mirrored";
    case 8: return "turned 90 degrees counter-clockwise";
    default: return "left as it is";
  }
}

}  // namespace

int FormatOfFileName(const std::string& path) {
  std::string lower = path;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  auto endsWith = [&](const char* ending) {
    const size_t n = std::strlen(ending);
    return lower.size() >= n && lower.compare(lower.size() - n, n, ending) == 0;
  };
  if (endsWith("bmp")) return CXIMAGE_FORMAT_BMP;
  if (endsWith("jpg") || endsWith(".jpeg") || endsWith(".jpe")) return CXIMAGE_FORMAT_JPG;
  if (endsWith("png")) return CXIMAGE_FORMAT_PNG;
  if (endsWith("tif") || endsWith(".tiff")) return CXIMAGE_FORMAT_TIF;
  if (endsWith("tga")) return CXIMAGE_FORMAT_TGA;
  if (endsWith("pcx")) return CXIMAGE_FORMAT_PCX;
  return CXIMAGE_FORMAT_UNKNOWN;
}

const char* FormatName(int format) {
  switch (format) {
    case CXIMAGE_FORMAT_BMP: return "bitmap";
    case CXIMAGE_FORMAT_JPG: return "JPEG";
    case CXIMAGE_FORMAT_PNG: return "PNG";
    case CXIMAGE_FORMAT_TIF: return "TIFF";
    case CXIMAGE_FORMAT_TGA: return "Targa";
    case CXIMAGE_FORMAT_PCX: return "PCX";
    default: return "unknown";
  }
}

std::string WithFileAndReason(const char* text, const std::string& path, const std::string& reason) {
  std::string out = std::string(text) + "\n" + FileNameOf(path);
  if (!reason.empty()) out += ": " + reason;
  return out;
}

bool CTessaraDoc::OnOpenDocument(const std::string& path) {
  m_bLoadStopped = false;
  m_metadata = PictureMetadata();
  m_szLoadNote.clear();
  m_szLoadFailure.clear();
  std::string why;
  if (!CanOpenForReading(path, &why)) {
    ShowMessage(WithFileAndReason(source_text::kFailedToOpen, path, why));
    return false;
  }
  const int format = FormatOfFileName(path);
  int loaded = 0;
  if (format == CXIMAGE_FORMAT_BMP) loaded = LoadBitmapFile(path);
  else if (format != CXIMAGE_FORMAT_UNKNOWN) loaded = LoadWithCodec(path, format);
  else m_szLoadFailure = "The program reads pictures ending in .bmp, .jpg, .jpeg, .jpe, .png, .tif, .tiff, .tga and .pcx.";
  if (m_bLoadStopped) return false;  // the user's choice: nothing to report
  if (!loaded) {
    ShowMessage(WithFileAndReason(source_text::kUnableToLoad, path, m_szLoadFailure));
    return false;
  }
  SetPathName(path);
  SetTitle(FileNameOf(path));
  if (!m_szLoadNote.empty()) UserInterface().SetPaneText(kPaneMessage, m_szLoadNote);
  return true;
}

int CTessaraDoc::LoadBitmapFile(const std::string& path) {
  std::string why;
  if (!CanOpenForReading(path, &why)) {
    m_szLoadFailure = why;
    return 0;
  }
  m_pDib.reset();
  uint32_t bitsOffset = 0;
  m_pDib = ReadDibFile(path, &bitsOffset);
  if (m_pDib && !NormaliseBitmapBlock(m_pDib, bitsOffset)) m_pDib.reset();
  InitDibData();
  if (!m_pDib) {
    // A picture of another kind under a bitmap's name: the codec layer finds
    // what it is and loads it as that. A file that begins as a bitmap is one,
    // however damaged.
    std::string whyNot;
    if (!BeginsAsBitmap(path, whyNot)) {
      if (LoadWithCodec(path, CXIMAGE_FORMAT_UNKNOWN, CXIMAGE_FORMAT_BMP)) return 1;
      if (m_bLoadStopped || !m_szLoadFailure.empty()) return 0;
    }
    ShowMessage(source_text::kCannotLoadFile);
    m_szLoadFailure = whyNot;
    return 0;
  }
  SetPathName(path);
  return 1;
}

void CTessaraDoc::TakePicture(DibPtr picture, SampleCoverage coverage, PictureMetadata metadata,
                              const std::string& title) {
  m_pImage.reset();
  m_pDib = std::move(picture);
  m_coverage = std::move(coverage);
  m_metadata = std::move(metadata);
  m_szLoadNote.clear();
  InitDibData();
  SetTitle(title);
}

void CTessaraDoc::InitDibData() {
  if (!m_pDib || m_pDib->Size() < sizeof(BITMAPINFOHEADER)) return;
  m_nWidth = m_pDib->Header().biWidth;
  m_nHeight = m_pDib->Header().biHeight;
}

int CTessaraDoc::LoadWithCodec(const std::string& path, int format, int namedFormat) {
  if (namedFormat == CXIMAGE_FORMAT_UNKNOWN) namedFormat = format;
  {
    LoadWatch watch;
    ScopedDecodeWatch watching(&watch);
    m_pImage = MakeImage(path, format);
  }
  auto drop = [this]() { m_pImage.reset(); };
  // The message shown, which is also the reason the load failed.
  auto refuse = [&](const std::string& text) {
    ShowMessage(text);
    m_szLoadFailure = text;
    drop();
    return 0;
  };
  if (!m_pImage) return refuse(source_text::kTooBig);
  if (m_pImage->WasStopped()) {
    m_bLoadStopped = true;
    drop();
    return 0;
  }
  if (!m_pImage->IsValid()) {
    // Nothing took a file named as a bitmap: its reader says why.
    if (format == CXIMAGE_FORMAT_UNKNOWN) {
      drop();
      return 0;
    }
    const std::string why = m_pImage->GetLastError();
    return refuse(why.empty() ? "The file could not be read." : why);
  }
  // Taken by its content; the user hears what the file really is.
  const int found = m_pImage->DecodedFormat();
  if (found != namedFormat && found != CXIMAGE_FORMAT_UNKNOWN)
    ShowMessage(FileNameOf(path) + " is a " + FormatName(found) + " picture");
  const BITMAPINFOHEADER& hdr = m_pImage->Header();
  if (hdr.biBitCount == 16 || hdr.biCompression != BI_RGB) return refuse(source_text::kCannotHandle);
  if (!TakeMetadata()) return refuse(source_text::kTooBig);
  const int w = m_pImage->GetWidth(), h = m_pImage->GetHeight();
  // The picture becomes the document's block as it is, with the spare bytes
  // every block carries after its rows.
  DibPtr dib = m_pImage->TakeDib();
  if (!dib) return refuse(source_text::kTooBig);
  drop();
  m_pDib = std::move(dib);
  m_nWidth = w;
  m_nHeight = h;
  return 1;
}

bool CTessaraDoc::TakeMetadata() {
  CxImage& image = *m_pImage;
  m_metadata = std::move(image.m_metadata);
  image.m_metadata = PictureMetadata();
  std::string note;
  const int tag = m_metadata.orientation;
  if (tag >= 2 && tag <= 8) {
    if (Settings().GetInt(settings_key::kConfigure, settings_key::kTurnByOrientation, 1) != 0) {
      if (!image.Orient(tag)) return false;
      m_metadata.orientation = 1;
      note = "Turned upright by its orientation tag (" + DescribeOrientation(tag) + ").";
    } else {
      note = "Shown as stored: its orientation tag asks for it to be " + DescribeOrientation(tag) + ".";
    }
  }
  if (!m_metadata.iccProfile.empty()) {
    const bool grey = image.GetBpp() <= 8 && image.IsGrayScale();
    const ProfileUse use = CheckProfile(m_metadata.iccProfile, grey);
    if (use != ProfileUse::kUsable) {
      m_metadata.ignored.push_back(use == ProfileUse::kWrongSpace ? "a colour profile of another colour space"
                                                                  : "a damaged colour profile");
      m_metadata.iccProfile.clear();
    }
  }
  if (!m_metadata.ignored.empty()) {
    if (!note.empty()) note += ' ';
    note += "Ignored: ";
    for (size_t i = 0; i < m_metadata.ignored.size(); ++i) {
      if (i) note += ", ";
      note += m_metadata.ignored[i];
    }
    note += '.';
  }
  m_szLoadNote = note;
  return true;
}

bool NormaliseBitmapBlock(DibPtr& dib, uint32_t bitsOffset) {
  if (!dib || dib->Size() < kDibSpareBytes) return true;
  // The block is as long as the file: the bitmap data, then spare bytes where
  // the file had its file header. Those bytes lie after the file's end, so rows
  // reaching into them are rows the file does not have: the block stops at the
  // end of the data, and the preparation refuses such a picture as short.
  dib->Truncate(dib->Size() - kDibSpareBytes);
  const uint8_t* data = dib->Data();
  const size_t dataEnd = dib->Size();
  // The file header counts its offset from the start of the file, 14 bytes
  // before the block.
  std::optional<uint64_t> givenRows;
  if (bitsOffset >= kBmpFileHeaderBytes) givenRows = bitsOffset - kBmpFileHeaderBytes;
  // Rows said to start past the end of the file are no rows at all: taking
  // whatever follows the colour table instead would show bytes that are not
  // the picture.
  if (givenRows && *givenRows > dataEnd) return false;
  BmpLayout layout;
  if (!ReadBmpLayout(data, dataEnd, 0, givenRows, layout)) return true;

  // Where the rows are now, and where the colour table and masks say they
  // should be.
  const int64_t entries = layout.tableEntries;
  const uint64_t tableEnd = layout.tableAt + static_cast<uint64_t>(entries) * layout.entryBytes;
  const uint64_t rowBytes = layout.rowsAt <= dataEnd ? dataEnd - layout.rowsAt : 0;
  // Rows stored top first (a negative height) are turned bottom first, as
  // every other picture is held; only when all of them are there (a short one
  // is refused by the preparation anyway) and not run-length coded.
  const uint64_t stride = layout.stride > 0 ? static_cast<uint64_t>(layout.stride) : 0;
  const bool turnOver = layout.topDown && !layout.runLength && stride > 0 && layout.height > 0 &&
                        static_cast<uint64_t>(layout.height) <= rowBytes / stride;
  const uint64_t allRows = turnOver ? stride * static_cast<uint64_t>(layout.height) : 0;
  if (layout.header.biSize == 40 && layout.rowsAt == tableEnd && !turnOver) return true;  // already in shape
  if (tableEnd > dataEnd || layout.rowsAt > dataEnd || (layout.masks && layout.masksAt + 12 > dataEnd)) return true;

  BITMAPINFOHEADER h = layout.header;
  h.biSize = 40;
  if (turnOver) h.biHeight = static_cast<int32_t>(layout.height);
  const size_t maskBytes = layout.masks ? 12 : 0;
  const uint64_t newTable = static_cast<uint64_t>(entries) * 4;
  const uint64_t total = 40 + maskBytes + newTable + rowBytes;
  DibPtr out = Dib::Allocate(static_cast<size_t>(total));
  if (!out) return true;
  uint8_t* dst = out->Data();
  std::memcpy(dst, &h, 40);
  size_t at = 40;
  if (layout.masks) {
    std::memcpy(dst + at, data + layout.masksAt, 12);
    at += 12;
  }
  const size_t entryBytes = static_cast<size_t>(layout.entryBytes);
  for (int64_t i = 0; i < entries; ++i, at += 4) {
    const uint8_t* e = data + layout.tableAt + static_cast<size_t>(i) * entryBytes;
    dst[at] = e[0], dst[at + 1] = e[1], dst[at + 2] = e[2];
    dst[at + 3] = entryBytes == 4 ? e[3] : 0;
  }
  const uint8_t* rows = data + layout.rowsAt;
  if (turnOver) {
    const int64_t height = layout.height;
    for (int64_t r = 0; r < height; ++r)
      std::memcpy(dst + at + static_cast<size_t>(r * stride), rows + static_cast<size_t>((height - 1 - r) * stride),
                  static_cast<size_t>(stride));
    std::memcpy(dst + at + allRows, rows + allRows, static_cast<size_t>(rowBytes - allRows));
  } else {
    std::memcpy(dst + at, rows, static_cast<size_t>(rowBytes));
  }
  dib = std::move(out);
  return true;
}

}  // namespace tessara
