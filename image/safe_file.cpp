#include "image/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace tessara {

namespace {
// The process's file-creation mask, read once while the program starts (before
// any worker thread could create a file between the two calls).
const mode_t g_umask = [] {
  const mode_t m = umask(0);
  umask(m);
  return m;
}();

// Makes what is written durable in its folder: the new name is on disk too.
void SyncFolder(const std::filesystem::path& folder) {
  const int dfd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return;
  fsync(dfd);
  close(dfd);
}
}  // namespace

bool WriteFileReplacing(const std::string& name, const std::function<bool(std::FILE*)>& write) {
  namespace fs = std::filesystem;
  if (name.empty()) return false;
  std::error_code ec;
  // A symbolic link is written through: its target gets the new content and
  // the link stays.
  fs::path target(name);
  if (fs::is_symlink(target, ec)) {
    const fs::path resolved = fs::weakly_canonical(target, ec);
    if (ec) return false;
    target = resolved;
  }
  const std::string path = target.string();
  if (fs::is_directory(target, ec)) return false;
  struct stat old {};
  const bool replacing = ::stat(path.c_str(), &old) == 0;
  // A file the user may not write is not replaced behind their back.
  if (replacing && access(path.c_str(), W_OK) != 0) return false;
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string tmpl = (folder / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
  const int fd = mkstemp(tmpl.data());
  if (fd < 0) return false;
  if (replacing) {
    // The replaced file's permissions, and its owner where we may set it.
    fchmod(fd, old.st_mode & 07777);
    if (fchown(fd, old.st_uid, old.st_gid) != 0) {
      // Not ours to give away: the new file stays the user's own.
    }
  } else {
    // The permissions an ordinary new file would get.
    fchmod(fd, 0666 & ~g_umask);
  }
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
  if (!ok) {
    unlink(tmpl.c_str());
    return false;
  }
  SyncFolder(folder);
  return true;
}

bool WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size) {
  return WriteFileReplacing(path, [&](std::FILE* f) { return size == 0 || std::fwrite(data, 1, size, f) == size; });
}

}  // namespace tessara
