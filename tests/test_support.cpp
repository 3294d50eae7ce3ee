#include "tests/test_support.h"

#include <unistd.h>

#include <lcms2.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace tessara::test {

namespace fs = std::filesystem;

fs::path TestData(const std::string& relative) { return fs::path(TESSARA_TESTDATA) / relative; }

namespace {
struct TempRoot {
  fs::path path;
  TempRoot() {
    std::string tmpl = (fs::temp_directory_path() / "tessara-test-XXXXXX").string();
    if (char* p = mkdtemp(tmpl.data())) path = p;
  }
  ~TempRoot() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
};
}  // namespace

fs::path TempDir() {
  static TempRoot root;
  static int counter = 0;
  fs::path dir = root.path / std::to_string(++counter);
  fs::create_directories(dir);
  return dir;
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

RgbImage ReadPpm(const std::vector<uint8_t>& bytes) {
  RgbImage out;
  size_t pos = 0;
  auto token = [&]() {
    std::string t;
    while (pos < bytes.size()) {
      char c = static_cast<char>(bytes[pos]);
      if (c == '#') {
        while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
      } else if (isspace(static_cast<unsigned char>(c))) {
        if (!t.empty()) break;
        ++pos;
      } else {
        t += c;
        ++pos;
      }
    }
    return t;
  };
  if (token() != "P6") return out;
  int w = std::atoi(token().c_str()), h = std::atoi(token().c_str()), maxval = std::atoi(token().c_str());
  ++pos;  // the single whitespace byte before the data
  // Readers write two-level pictures with a smaller maximum; scale to 0..255.
  if (w <= 0 || h <= 0 || maxval < 1 || maxval > 255 || bytes.size() < pos + size_t(w) * h * 3) return out;
  out.width = w;
  out.height = h;
  out.rgb.assign(bytes.begin() + static_cast<long>(pos), bytes.begin() + static_cast<long>(pos + size_t(w) * h * 3));
  if (maxval != 255)
    for (uint8_t& v : out.rgb) v = static_cast<uint8_t>(v * 255 / maxval);
  return out;
}

RgbImage ReadPpmFile(const fs::path& path) { return ReadPpm(ReadBytes(path)); }

RgbImage ToRgb(const CxImage& img) {
  RgbImage out;
  if (!img.IsValid()) return out;
  out.width = img.GetWidth();
  out.height = img.GetHeight();
  out.rgb.resize(size_t(out.width) * out.height * 3);
  const RGBQUAD* pal = img.GetPalette();
  for (int row = 0; row < out.height; ++row) {
    int y = out.height - 1 - row;
    const uint8_t* bits = img.GetBits(y);
    for (int x = 0; x < out.width; ++x) {
      uint8_t* p = &out.rgb[(size_t(row) * out.width + x) * 3];
      if (img.GetBpp() == 24) {
        p[0] = bits[3 * x + 2];
        p[1] = bits[3 * x + 1];
        p[2] = bits[3 * x];
      } else {
        const RGBQUAD& q = pal[img.GetPixelIndex(x, y)];
        p[0] = q.rgbRed;
        p[1] = q.rgbGreen;
        p[2] = q.rgbBlue;
      }
    }
  }
  return out;
}

std::vector<uint8_t> RunCommand(const std::string& command, bool* ok) {
  std::vector<uint8_t> out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) {
    if (ok) *ok = false;
    return out;
  }
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.insert(out.end(), buf, buf + n);
  int status = pclose(p);
  if (ok) *ok = status == 0;
  return out;
}

bool HaveCommand(const std::string& name) {
  bool ok = false;
  RunCommand("command -v " + name + " >/dev/null 2>&1", &ok);
  return ok;
}

int MaxDifference(const RgbImage& a, const RgbImage& b) {
  if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return -1;
  int worst = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) worst = std::max(worst, std::abs(int(a.rgb[i]) - int(b.rgb[i])));
  return worst;
}

void MakeImage24(CxImage& img, int width, int height, const std::vector<uint8_t>& rgb) {
  img.Create(width, height, 24);
  for (int row = 0; row < height; ++row) {
    uint8_t* bits = img.GetBits(height - 1 - row);
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = &rgb[(size_t(row) * width + x) * 3];
      bits[3 * x] = p[2];
      bits[3 * x + 1] = p[1];
      bits[3 * x + 2] = p[0];
    }
  }
}

void MakeIndexed(CxImage& img, int width, int height, int depth, const std::vector<RGBQUAD>& palette,
                 const std::vector<uint8_t>& indices) {
  img.Create(width, height, depth);
  for (int i = 0; i < img.GetNumColors() && i < int(palette.size()); ++i) img.GetPalette()[i] = palette[i];
  for (int row = 0; row < height; ++row)
    for (int x = 0; x < width; ++x) img.SetPixelIndex(x, height - 1 - row, indices[size_t(row) * width + x]);
}

std::vector<uint8_t> PatternRgb(int width, int height) {
  std::vector<uint8_t> rgb(size_t(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
      // The letter F in the upper left, red on a blue field with a gradient.
      bool stem = x == 1 && y >= 1 && y <= 5;
      bool bar = (y == 1 && x >= 1 && x <= 4) || (y == 3 && x >= 1 && x <= 3);
      if (stem || bar) {
        p[0] = 255, p[1] = 0, p[2] = 0;
      } else {
        p[0] = static_cast<uint8_t>(x * 7);
        p[1] = static_cast<uint8_t>(y * 5);
        p[2] = 200;
      }
    }
  return rgb;
}

namespace {
std::vector<uint8_t> Saved(cmsHPROFILE p) {
  cmsUInt32Number n = 0;
  cmsSaveProfileToMem(p, nullptr, &n);
  std::vector<uint8_t> bytes(n);
  cmsSaveProfileToMem(p, bytes.data(), &n);
  cmsCloseProfile(p);
  return bytes;
}

std::vector<uint8_t> MakeWideProfile() {
  cmsCIExyY white;
  cmsWhitePointFromTemp(&white, 6504);
  const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
  cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
  cmsToneCurve* curves[3] = {gamma, gamma, gamma};
  cmsHPROFILE p = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(gamma);
  return Saved(p);
}
}  // namespace

const std::vector<uint8_t>& SrgbProfile() {
  static const std::vector<uint8_t> srgb = Saved(cmsCreate_sRGBProfile());
  return srgb;
}

const std::vector<uint8_t>& WideProfile() {
  static const std::vector<uint8_t> wide = MakeWideProfile();
  return wide;
}

}  // namespace tessara::test
