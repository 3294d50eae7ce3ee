#include "image/safe_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace tessara {

bool WriteFileReplacing(const std::string& path, const std::function<bool(std::FILE*)>& write) {
  namespace fs = std::filesystem;
  if (path.empty()) return false;
  std::error_code ec;
  if (fs::is_directory(path, ec)) return false;
  const bool replacing = fs::exists(path, ec);
  const fs::path target(path);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string tmpl = (folder / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
  const int fd = mkstemp(tmpl.data());
  if (fd < 0) return false;
  // Give the new file the permissions an ordinary new file would get.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  std::FILE* f = fdopen(fd, "wb");
  if (!f) {
    close(fd);
    unlink(tmpl.c_str());
    return false;
  }
  bool ok = write(f);
  if (std::fflush(f) != 0 || std::ferror(f)) ok = false;
  // When a file is replaced, its new content must be on disk before the name
  // moves to it, or a crash could leave neither version.
  if (ok && replacing && fsync(fileno(f)) != 0) ok = false;
  if (std::fclose(f) != 0) ok = false;
  if (ok && std::rename(tmpl.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) unlink(tmpl.c_str());
  return ok;
}

bool WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size) {
  return WriteFileReplacing(path, [&](std::FILE* f) { return size == 0 || std::fwrite(data, 1, size, f) == size; });
}

}  // namespace tessara
