// What the benchmarks share: timing, and writing a picture where peer tools
// can read it.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "image/dib.h"

namespace tessara::bench {

inline double Seconds(const std::chrono::steady_clock::time_point& start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs a shell command; its wall time, or -1 when it failed.
inline double TimeCommand(const std::string& cmd) {
  auto start = std::chrono::steady_clock::now();
  if (std::system(cmd.c_str()) != 0) return -1;
  return Seconds(start);
}

// Writes a 24-bit picture as a binary PPM (top row first), which vips reads.
inline void WritePpm(const Dib& dib, const std::filesystem::path& path) {
  std::ofstream f(path, std::ios::binary);
  f << "P6\n" << dib.Width() << " " << dib.Height() << "\n255\n";
  std::string row(static_cast<size_t>(dib.Width()) * 3, '\0');
  for (int y = dib.Height() - 1; y >= 0; --y) {
    const uint8_t* p = dib.Row(y);
    for (int x = 0; x < dib.Width(); ++x) {
      row[3 * x] = static_cast<char>(p[3 * x + 2]);
      row[3 * x + 1] = static_cast<char>(p[3 * x + 1]);
      row[3 * x + 2] = static_cast<char>(p[3 * x]);
    }
    f.write(row.data(), static_cast<std::streamsize>(row.size()));
  }
}

}  // namespace tessara::bench
