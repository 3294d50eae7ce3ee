#include "cli/join_options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace tessara {

const char* const kJoinUsage =
    "Usage: tessara-join [OPTIONS] SOURCE1 SOURCE2 OUTPUT\n"
    "       tessara-join --auto-align [OPTIONS] PICTURE1 PICTURE2 PICTURE3 ... OUTPUT\n"
    "Joins two pictures into one, as the Tessara program does, without windows.\n"
    "SOURCE1 and SOURCE2 are .bmp, .jpg (.jpeg, .jpe), .png, .tif (.tiff), .tga or .pcx files;\n"
    "a file of another format than its ending says is read as what it is. The ending of OUTPUT\n"
    "(bmp, jpg, png, tif, tga, pcx) chooses the format it is saved in.\n"
    "With more than two pictures, each next one is joined onto the join of those before it,\n"
    "placed by automatic alignment; pieces of a grid go in reading order. The merge options\n"
    "apply to every step, --scale1, --rotate1 and --mirror1 to the first picture, and the\n"
    "adjustments, the grid and the Zone to the finished Target.\n"
    "\n"
    "Placement and geometry:\n"
    "  --offset DX,DY          source 2's position relative to source 1 in pixels; DY counts\n"
    "                          rows upward (default 0,0)\n"
    "  --scale1 SX,SY          scale of source 1 in 1/1024 (1024 = 100%) or as percentages,\n"
    "  --scale2 SX,SY            e.g. 150% or 1536,1024 (one value sets both axes)\n"
    "  --rotate1 DEG           rotation of source 1 in degrees (decimals allowed)\n"
    "  --rotate2 DEG           rotation of source 2\n"
    "  --cut-corners1 0|1      1 keeps a rotated source 1 at its unrotated size (default 1)\n"
    "  --cut-corners2 0|1      the same for source 2\n"
    "  --mirror1, --mirror2    mirror that source left to right\n"
    "  --auto-align            find source 2's offset, rotation and scale from the pictures'\n"
    "                          common detail; --offset, --rotate2 or --scale2 given as well\n"
    "                          replace what was found\n"
    "  --print-alignment       find them as --auto-align does and print them as options\n"
    "                          (--offset DX,DY --rotate2 A --scale2 S); OUTPUT may then be left\n"
    "                          out. Nothing trustworthy found: exit status 1\n"
    "  --ignore-orientation    keep the stored pixels of a source whose orientation tag\n"
    "                          (JPEG and PNG EXIF, TIFF) asks for it to be turned; by\n"
    "                          default it is turned upright as it loads\n"
    "Merging:\n"
    "  --merge average|greatest|least|blend   rule where the sources overlap (default\n"
    "                          average); blend joins them along a seam where they differ\n"
    "                          least, every scale of detail over its own width\n"
    "  --bias N                0 favours source 1, 255 source 2 (0..255, default 128);\n"
    "                          with blend it moves the seam toward the other picture\n"
    "  --fade1 | --fade2       fade that source out toward the edges of the overlap\n"
    "                          (not with blend, which fades by itself)\n"
    "  --match-exposure        match source 2's exposure and colour to source 1's, by gains\n"
    "                          per channel found in the overlap, before the merge rule\n"
    "  --mono or|and           rule for two black-and-white sources (default or)\n"
    "Adjustments:\n"
    "  --contrast K            0..32, 16 is neutral\n"
    "  --brightness B          0..255, 128 is neutral\n"
    "  --swing DEG             cylindrical projection, 0..180 (0 = none)\n"
    "  --solid-grid N          solid grid lines every N pixels (2..1000)\n"
    "  --dotted-grid N         a dot every N pixels (2..1000)\n"
    "  --grid-colour black|white   (default black)\n"
    "Output:\n"
    "  --zone X1,Y1,X2,Y2      save only this rectangle of the Target (corners in Target\n"
    "                          pixels, y down from the top, kept inside the Target; at\n"
    "                          least 64 x 64 inside it)\n"
    "  --strip-metadata        write none of source 1's camera data (EXIF, XMP, IPTC, GPS\n"
    "                          included) into OUTPUT; by default a JPEG, PNG or TIFF output\n"
    "                          carries it, and source 1's colour profile always\n"
    "  --quality Q             JPEG quality of a .jpg output and of a colour .tif output\n"
    "                          compressed as JPEG, 1..100 (default 90)\n"
    "  --tiff-compression jpeg|deflate   how a colour .tif output is compressed: JPEG\n"
    "                          (default) or deflate, without loss; a black-and-white or\n"
    "                          256-colour Target is always saved at its own depth without\n"
    "                          loss (CCITT Group 4, deflate)\n"
    "  --quiet                 no progress display\n"
    "Lists of jobs:\n"
    "  --jobs FILE             one join per line of FILE (- for standard input): options and\n"
    "                          SOURCE1 SOURCE2 OUTPUT, quoted as in a shell, # comments; the\n"
    "                          options given here apply to every line; run several at a time\n"
    "  --resume                skip the lines whose OUTPUT exists and is newer than each of\n"
    "                          their pictures (a stopped list picks up where it stopped)\n"
    "  --shard K/N             run only the lines K, K+N, K+2N, ... of the list (its join\n"
    "                          lines counted from 1), so N machines share one list\n"
    "  --log FILE              append one JSON object per line of the list to FILE: line,\n"
    "                          output, status, seconds, message\n"
    "  --help, --version\n";

namespace {

bool ParseInt(const std::string& text, long long lo, long long hi, int& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno || *end || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

// Splits "a,b,c" into exactly `count` integers.
bool ParseInts(const std::string& text, size_t count, long long lo, long long hi, std::vector<int>& out) {
  out.clear();
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    int v;
    if (!ParseInt(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start), lo, hi, v))
      return false;
    out.push_back(v);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out.size() == count;
}

// Zone corners: any integers, clamped to the Target later; a value beyond an
// int saturates, which the clamping treats the same way.
bool ParseCorners(const std::string& text, std::vector<int>& out) {
  out.clear();
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    const std::string part = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const size_t sign = !part.empty() && (part[0] == '-' || part[0] == '+') ? 1 : 0;
    auto isDigit = [](unsigned char c) { return std::isdigit(c) != 0; };
    if (part.size() == sign || !std::all_of(part.begin() + static_cast<long>(sign), part.end(), isDigit)) return false;
    const long long v = std::strtoll(part.c_str(), nullptr, 10);  // saturates on overflow
    out.push_back(static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out.size() == 4;
}

// A scale: 1/1024 units or a percentage ("150%"), 1..32767 in 1/1024.
bool ParseScale(const std::string& text, int& out) {
  if (!text.empty() && text.back() == '%') {
    errno = 0;
    char* end = nullptr;
    const std::string number = text.substr(0, text.size() - 1);
    const double pct = std::strtod(number.c_str(), &end);
    if (number.empty() || errno || *end || !std::isfinite(pct)) return false;
    const double v = std::floor(pct * 1024.0 / 100.0 + 0.5);
    if (v < 1 || v > 32767) return false;
    out = static_cast<int>(v);
    return true;
  }
  return ParseInt(text, 1, 32767, out);
}

bool ParseScalePair(const std::string& text, int& x, int& y) {
  const size_t comma = text.find(',');
  if (comma == std::string::npos) {
    if (!ParseScale(text, x)) return false;
    y = x;
    return true;
  }
  return ParseScale(text.substr(0, comma), x) && ParseScale(text.substr(comma + 1), y);
}

bool ParseDegrees(const std::string& text, double& out) {
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || errno || *end || !std::isfinite(v) || std::fabs(v) > 36000) return false;
  out = v;
  return true;
}

bool Fail(std::string& error, const std::string& message) {
  error = message;
  return false;
}

// One option that takes a value ("--name value" or "--name=value", given as
// `arg`) into `o`; false with `error` set when the value is not one it takes.
bool ApplyValueOption(const std::string& arg, const std::string& name, const std::string& value, JoinOptions& o,
                      std::string& error) {
  std::vector<int> v;
  if (name == "--offset") {
    if (!ParseInts(value, 2, -1000000, 1000000, v)) return Fail(error, "--offset takes DX,DY: two integers");
    o.offsetX = v[0], o.offsetY = v[1];
    o.hasOffset = true;
  } else if (name == "--scale1" || name == "--scale2") {
    int& sx = name == "--scale1" ? o.scale1X : o.scale2X;
    int& sy = name == "--scale1" ? o.scale1Y : o.scale2Y;
    if (!ParseScalePair(value, sx, sy))
      return Fail(error, name + " takes SX,SY in 1/1024 (1..32767) or percentages such as 150%");
    if (name == "--scale2") o.hasScale2 = true;
  } else if (name == "--rotate1" || name == "--rotate2") {
    if (!ParseDegrees(value, name == "--rotate1" ? o.rotate1 : o.rotate2))
      return Fail(error, name + " takes an angle in degrees, such as 1.5");
    if (name == "--rotate2") o.hasRotate2 = true;
  } else if (name == "--cut-corners1" || name == "--cut-corners2") {
    if (!ParseInt(value, 0, 1, name == "--cut-corners1" ? o.cutCorners1 : o.cutCorners2))
      return Fail(error, name + " takes 0 or 1");
  } else if (name == "--merge") {
    if (value == "average") o.mergeRule = 0;
    else if (value == "greatest") o.mergeRule = 1;
    else if (value == "least") o.mergeRule = 2;
    else if (value == "blend") o.mergeRule = 3;
    else return Fail(error, "--merge takes average, greatest, least or blend");
  } else if (name == "--bias") {
    if (!ParseInt(value, 0, 255, o.bias)) return Fail(error, "--bias takes an integer from 0 to 255");
  } else if (name == "--mono") {
    if (value == "or") o.monoAnd = 0;
    else if (value == "and") o.monoAnd = 1;
    else return Fail(error, "--mono takes or or and");
  } else if (name == "--contrast") {
    if (!ParseInt(value, 0, 32, o.contrast)) return Fail(error, "--contrast takes an integer from 0 to 32");
  } else if (name == "--brightness") {
    if (!ParseInt(value, 0, 255, o.brightness)) return Fail(error, "--brightness takes an integer from 0 to 255");
  } else if (name == "--swing") {
    if (!ParseInt(value, 0, 180, o.swing)) return Fail(error, "--swing takes an integer from 0 to 180");
  } else if (name == "--solid-grid" || name == "--dotted-grid") {
    if (!ParseInt(value, 2, 1000, name == "--solid-grid" ? o.solidGrid : o.dottedGrid))
      return Fail(error, name + " takes a spacing from 2 to 1000");
  } else if (name == "--grid-colour" || name == "--grid-color") {
    if (value == "black") o.gridWhite = 0;
    else if (value == "white") o.gridWhite = 1;
    else return Fail(error, "--grid-colour takes black or white");
  } else if (name == "--quality") {
    if (!ParseInt(value, 1, 100, o.quality)) return Fail(error, "--quality takes an integer from 1 to 100");
  } else if (name == "--tiff-compression") {
    if (value == "jpeg") o.losslessTiff = false;
    else if (value == "deflate") o.losslessTiff = true;
    else return Fail(error, "--tiff-compression takes jpeg or deflate");
  } else if (name == "--jobs") {
    if (value.empty()) return Fail(error, "--jobs takes the name of a list of jobs");
    o.jobs = value;
  } else if (name == "--shard") {
    const size_t slash = value.find('/');
    int k = 0, n = 0;
    if (slash == std::string::npos || !ParseInt(value.substr(0, slash), 1, INT_MAX, k) ||
        !ParseInt(value.substr(slash + 1), 1, INT_MAX, n) || k > n)
      return Fail(error, "--shard takes K/N: two integers with 1 <= K <= N");
    o.shardIndex = k, o.shardCount = n;
  } else if (name == "--log") {
    if (value.empty()) return Fail(error, "--log takes the name of a file");
    o.log = value;
  } else if (name == "--zone") {
    if (!ParseCorners(value, v)) return Fail(error, "--zone takes X1,Y1,X2,Y2: four integers");
    o.zone = true;
    o.zoneX1 = v[0], o.zoneY1 = v[1], o.zoneX2 = v[2], o.zoneY2 = v[3];
  } else {
    return Fail(error, "unknown option " + arg);
  }
  return true;
}

// The sources and the output (or the job list) once every option is read.
bool TakePositional(const std::vector<std::string>& positional, JoinOptions& o, std::string& error) {
  if (o.fade1 && o.fade2) return Fail(error, "--fade1 and --fade2 cannot be used together");
  if (!o.jobs.empty()) {
    if (!positional.empty()) return Fail(error, "with --jobs, SOURCE1 SOURCE2 OUTPUT are given in the list");
    return true;
  }
  if (o.resume || o.shardCount || !o.log.empty()) return Fail(error, "--resume, --shard and --log go with --jobs");
  if (o.printAlignment && positional.size() == 2) {
    o.sources = positional;
    o.source1 = positional[0];
    o.source2 = positional[1];
    return true;
  }
  if (positional.size() < 3) return Fail(error, "expected SOURCE1 SOURCE2 OUTPUT");
  o.sources.assign(positional.begin(), positional.end() - 1);
  o.source1 = positional[0];
  o.source2 = positional[1];
  o.output = positional.back();
  if (o.sources.size() > 2) {
    if (!o.autoAlign)
      return Fail(error, "joining more than two pictures needs --auto-align: each next picture is placed where "
                         "it shares detail with the join of those before it");
    if (o.hasOffset || o.hasRotate2 || o.hasScale2)
      return Fail(error, "--offset, --rotate2 and --scale2 place one picture; with more than two pictures each is "
                         "placed by automatic alignment");
  }
  std::string ending = std::filesystem::path(o.output).extension().string();
  std::transform(ending.begin(), ending.end(), ending.begin(), [](unsigned char c) { return std::tolower(c); });
  static const char* const kEndings[] = {".bmp", ".jpg", ".png", ".tif", ".tga", ".pcx", ".wmf"};
  for (int i = 0; i < 7; ++i)
    if (ending == kEndings[i]) o.filterIndex = i + 1;
  if (o.filterIndex == 0) return Fail(error, "OUTPUT must end in .bmp, .jpg, .png, .tif, .tga or .pcx");
  return true;
}

}  // namespace

std::optional<JoinOptions> ParseJoinOptions(const std::vector<std::string>& args, std::string& error) {
  JoinOptions o;
  std::vector<std::string> positional;
  auto fail = [&](const std::string& message) {
    error = message;
    return std::nullopt;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() < 2 || a[0] != '-' || a == "-") {
      positional.push_back(a);
      continue;
    }
    if (a == "--") {
      positional.insert(positional.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    }
    if (a == "--help" || a == "-h") {
      o.help = true;
      continue;
    }
    if (a == "--version") {
      o.version = true;
      continue;
    }
    if (a == "--quiet" || a == "-q") o.quiet = true;
    else if (a == "--mirror1") o.mirror1 = 1;
    else if (a == "--mirror2") o.mirror2 = 1;
    else if (a == "--fade1") o.fade1 = 1;
    else if (a == "--match-exposure") o.matchExposure = true;
    else if (a == "--fade2") o.fade2 = 1;
    else if (a == "--auto-align") o.autoAlign = true;
    else if (a == "--ignore-orientation") o.ignoreOrientation = true;
    else if (a == "--strip-metadata") o.stripMetadata = true;
    else if (a == "--print-alignment") o.autoAlign = o.printAlignment = true;
    else if (a == "--resume") o.resume = true;
    else {
      // Options with a value: "--name value" or "--name=value".
      std::string name = a, value;
      const size_t eq = a.find('=');
      if (eq != std::string::npos) {
        name = a.substr(0, eq);
        value = a.substr(eq + 1);
      } else {
        static const char* const kWithValue[] = {
            "--offset", "--scale1",  "--scale2",     "--rotate1",    "--rotate2",     "--cut-corners1",
            "--cut-corners2", "--merge", "--bias",    "--mono",       "--contrast",    "--brightness",
            "--swing",  "--solid-grid", "--dotted-grid", "--grid-colour", "--grid-color", "--zone", "--jobs",
            "--shard",  "--log", "--quality", "--tiff-compression"};
        if (std::find(std::begin(kWithValue), std::end(kWithValue), name) == std::end(kWithValue))
          return fail("unknown option " + a);
        if (i + 1 >= args.size()) return fail(name + " needs a value");
        value = args[++i];
      }
      if (!ApplyValueOption(a, name, value, o, error)) return std::nullopt;
    }
  }
  if (o.help || o.version) return o;
  if (!TakePositional(positional, o, error)) return std::nullopt;
  return o;
}

}  // namespace tessara
