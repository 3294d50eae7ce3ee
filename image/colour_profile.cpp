// Colour profiles through Little CMS 2. Profiles come from files and are never
// trusted: every one is opened, checked for its colour space and asked for a
// transform before it is used, and Little CMS reports its errors to nobody.
#include "image/colour_profile.h"

#include <lcms2.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "image/parallel.h"

namespace tessara {

namespace {

void Quiet(cmsContext, cmsUInt32Number, const char*) {}

struct ProfileCloser {
  void operator()(void* p) const {
    if (p) cmsCloseProfile(p);
  }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

struct TransformDeleter {
  void operator()(void* t) const {
    if (t) cmsDeleteTransform(t);
  }
};
using Transform = std::unique_ptr<void, TransformDeleter>;

Profile Open(const IccProfile& icc) {
  static const bool quiet = [] {
    cmsSetLogErrorHandler(Quiet);
    return true;
  }();
  (void)quiet;
  if (icc.empty()) return Profile(cmsCreate_sRGBProfile());
  if (icc.size() < 132 || icc.size() > 0xFFFFFFFFu) return nullptr;
  return Profile(cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size())));
}

// The device class and colour space of a profile, read from its header as
// numbers: a file may put any value there, which no enumeration should hold.
constexpr uint32_t kRgbSpace = 0x52474220;   // 'RGB '
constexpr uint32_t kGreySpace = 0x47524159;  // 'GRAY'
uint32_t HeaderField(const IccProfile& icc, size_t at) {
  return (uint32_t{icc[at]} << 24) | (uint32_t{icc[at + 1]} << 16) | (uint32_t{icc[at + 2]} << 8) | icc[at + 3];
}
// The empty profile is the built-in sRGB, a display profile.
uint32_t DeviceClass(const IccProfile& icc) { return icc.size() >= 132 ? HeaderField(icc, 12) : 0x6D6E7472; }
uint32_t ColourSpace(const IccProfile& icc) { return icc.size() >= 132 ? HeaderField(icc, 16) : kRgbSpace; }

bool UsableClass(const IccProfile& icc) {
  switch (DeviceClass(icc)) {
    case 0x73636E72:  // 'scnr', input
    case 0x6D6E7472:  // 'mntr', display
    case 0x70727472:  // 'prtr', output
    case 0x73706163:  // 'spac', colour space
      return true;
    default:
      return false;
  }
}

constexpr cmsUInt32Number kFlags = cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOCACHE;

// A transform between two RGB profiles for pixels in blue, green, red order.
Transform MakeTransform(const IccProfile& from, const IccProfile& to, cmsUInt32Number format) {
  if (ColourSpace(from) != kRgbSpace || ColourSpace(to) != kRgbSpace || !UsableClass(from) || !UsableClass(to))
    return nullptr;
  Profile a = Open(from), b = Open(to);
  if (!a || !b) return nullptr;
  return Transform(cmsCreateTransform(a.get(), format, b.get(), format, INTENT_RELATIVE_COLORIMETRIC, kFlags));
}

}  // namespace

ProfileUse CheckProfile(const IccProfile& icc, bool grey) {
  Profile p = Open(icc);
  if (!p || !UsableClass(icc)) return ProfileUse::kUnreadable;
  const uint32_t space = ColourSpace(icc);
  if (space == kGreySpace) {
    if (!grey) return ProfileUse::kWrongSpace;
    Profile srgb = Open({});
    Transform t(cmsCreateTransform(p.get(), TYPE_GRAY_8, srgb.get(), TYPE_BGR_8, INTENT_RELATIVE_COLORIMETRIC, kFlags));
    return t ? ProfileUse::kUsable : ProfileUse::kUnreadable;
  }
  if (space != kRgbSpace) return ProfileUse::kWrongSpace;
  return MakeTransform(icc, {}, TYPE_BGR_8) ? ProfileUse::kUsable : ProfileUse::kUnreadable;
}

std::string ProfileName(const IccProfile& icc) {
  if (icc.empty()) return "sRGB";
  Profile p = Open(icc);
  if (!p) return "an unreadable profile";
  char text[256] = {};
  const cmsUInt32Number n = cmsGetProfileInfoASCII(p.get(), cmsInfoDescription, "en", "US", text, sizeof text);
  if (n == 0 || text[0] == '\0') return "an unnamed profile";
  return text;
}

namespace {

// The same space when the colorants and the tone curves agree: two files of
// the one sRGB profile, written by different programs, differ in their bytes
// (tags, descriptions, dates) but not in this.
bool SameRgbSpace(cmsHPROFILE a, cmsHPROFILE b) {
  const cmsTagSignature colorants[] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag,
                                       cmsSigMediaWhitePointTag};
  for (cmsTagSignature tag : colorants) {
    const auto* x = static_cast<const cmsCIEXYZ*>(cmsReadTag(a, tag));
    const auto* y = static_cast<const cmsCIEXYZ*>(cmsReadTag(b, tag));
    if (!x || !y) return false;
    const double d = std::abs(x->X - y->X) + std::abs(x->Y - y->Y) + std::abs(x->Z - y->Z);
    if (d > 0.002) return false;
  }
  const cmsTagSignature curves[] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
  for (cmsTagSignature tag : curves) {
    const auto* x = static_cast<const cmsToneCurve*>(cmsReadTag(a, tag));
    const auto* y = static_cast<const cmsToneCurve*>(cmsReadTag(b, tag));
    if (!x || !y) return false;
    for (int i = 0; i <= 16; ++i) {
      const cmsFloat32Number v = static_cast<cmsFloat32Number>(i / 16.0);
      if (std::abs(cmsEvalToneCurveFloat(x, v) - cmsEvalToneCurveFloat(y, v)) > 0.002f) return false;
    }
  }
  return true;
}

}  // namespace

bool SameColourSpace(const IccProfile& a, const IccProfile& b) {
  if (a == b) return true;
  if (ColourSpace(a) != kRgbSpace || ColourSpace(b) != kRgbSpace) return false;
  Profile pa = Open(a), pb = Open(b);
  if (!pa || !pb) return false;
  // Profiles built on lookup tables rather than colorants and curves are
  // never taken for one another.
  return SameRgbSpace(pa.get(), pb.get());
}

bool ConvertColours(Dib& dib, const IccProfile& from, const IccProfile& to) {
  if (dib.Size() < sizeof(BITMAPINFOHEADER) || !DibFitsBlock(dib)) return false;
  const BITMAPINFOHEADER& h = dib.Header();
  if (h.biCompression != BI_RGB) return false;
  const int bits = h.biBitCount, w = h.biWidth, height = h.biHeight;
  if (bits == 1) return true;
  if (bits == 4 || bits == 8) {
    // The colour table's entries are blue, green, red and a reserved byte.
    Transform t = MakeTransform(from, to, TYPE_BGRA_8);
    if (!t) return false;
    const uint32_t entries = h.biClrUsed ? h.biClrUsed : (1u << bits);
    RGBQUAD* table = dib.ColorTable();
    std::vector<RGBQUAD> out(entries);
    cmsDoTransform(t.get(), table, out.data(), entries);
    for (uint32_t i = 0; i < entries; ++i) out[i].rgbReserved = table[i].rgbReserved;
    std::memcpy(table, out.data(), entries * sizeof(RGBQUAD));
    return true;
  }
  if (bits != 24 && bits != 32) return false;
  Transform t = MakeTransform(from, to, bits == 24 ? TYPE_BGR_8 : TYPE_BGRA_8);
  if (!t) return false;
  // Rows are independent; a transform without a cache may be used by several
  // threads at once.
  void* transform = t.get();
  ParallelRanges(0, height, 64, [&](int first, int end) {
    for (int y = first; y < end; ++y) {
      uint8_t* row = dib.Row(y);
      cmsDoTransform(transform, row, row, static_cast<cmsUInt32Number>(w));
    }
  });
  return true;
}

}  // namespace tessara
