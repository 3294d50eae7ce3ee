#include "image/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace tessara {

namespace {
thread_local std::string t_lastFailure;

// Records the system's reason for the failure (errno as it stands) and fails.
bool Failed(int error = errno) {
  t_lastFailure = error ? std::strerror(error) : "";
  return false;
}

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
// The temporary files of a save are named ".NAME.tmp-" and six letters or
// digits.
constexpr char kTempMark[] = ".tmp-";
constexpr int kTempLetters = 6;

bool IsOurTempName(const std::string& name) {
  const size_t mark = sizeof kTempMark - 1;
  if (name.size() < 1 + 1 + mark + kTempLetters || name[0] != '.') return false;
  const size_t at = name.size() - kTempLetters - mark;
  if (name.compare(at, mark, kTempMark) != 0) return false;
  for (size_t i = name.size() - kTempLetters; i < name.size(); ++i) {
    const char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

// Removes what saves killed before they finished left in `folder`: files with
// our temporary name, owned by this user, untouched for over an hour (no save
// runs that long, so none is still being written).
void RemoveStaleTemps(const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const auto now = std::chrono::system_clock::now();
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!IsOurTempName(name)) continue;
    struct stat st {};
    if (lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) continue;
    const auto modified = std::chrono::system_clock::from_time_t(st.st_mtime);
    if (now - modified > std::chrono::hours(1)) unlink(it->path().c_str());
  }
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// A file with other hard links is rewritten in place so that every name keeps
// showing it: the finished temporary file is copied over it. Room for the new
// content is reserved first, so a full disk stops the save before the old
// content is touched.
bool CopyInPlace(const std::string& from, const std::string& to) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st {};
  std::vector<uint8_t> bytes;
  bool ok = fstat(in, &st) == 0;
  if (ok) {
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t have = 0;
    while (ok && have < bytes.size()) {
      const ssize_t n = read(in, bytes.data() + have, bytes.size() - have);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ok = false;
      else have += static_cast<size_t>(n);
    }
  }
  close(in);
  if (!ok) return false;
  const int out = open(to.c_str(), O_WRONLY | O_CLOEXEC);
  if (out < 0) return false;
  const int reserved = bytes.empty() ? 0 : posix_fallocate(out, 0, static_cast<off_t>(bytes.size()));
  const bool room = reserved == 0 || reserved == EOPNOTSUPP || reserved == EINVAL;
  if (!room) errno = reserved;  // posix_fallocate gives its error back instead of setting errno
  ok = room && WriteAll(out, bytes.data(), bytes.size()) && ftruncate(out, static_cast<off_t>(bytes.size())) == 0 &&
       fsync(out) == 0;
  const int error = errno;
  if (close(out) != 0) ok = false;
  else errno = error;
  return ok;
}
}  // namespace

bool WriteFileReplacing(const std::string& name, const std::function<bool(std::FILE*)>& write) {
  namespace fs = std::filesystem;
  t_lastFailure.clear();
  if (name.empty()) return Failed(ENOENT);
  std::error_code ec;
  // A symbolic link is written through: its target gets the new content and
  // the link stays.
  fs::path target(name);
  if (fs::is_symlink(target, ec)) {
    const fs::path resolved = fs::weakly_canonical(target, ec);
    if (ec) return Failed(ec.value());
    target = resolved;
  }
  const std::string path = target.string();
  if (fs::is_directory(target, ec)) return Failed(EISDIR);
  struct stat old {};
  const bool replacing = ::stat(path.c_str(), &old) == 0;
  // A file the user may not write is not replaced behind their back.
  if (replacing && access(path.c_str(), W_OK) != 0) return Failed();
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  RemoveStaleTemps(folder);
  std::string tmpl = (folder / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
  const int fd = mkstemp(tmpl.data());
  if (fd < 0) return Failed();
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
    const int error = errno;
    close(fd);
    unlink(tmpl.c_str());
    return Failed(error);
  }
  // The first system error of the writing is the one the user is told.
  int error = 0;
  errno = 0;
  bool ok = write(f);
  if (!ok) error = errno;
  if (std::fflush(f) != 0 || std::ferror(f)) {
    if (ok || !error) error = errno;
    ok = false;
  }
  // When a file is replaced, its new content must be on disk before the name
  // moves to it, or a crash could leave neither version.
  if (ok && replacing && fsync(fileno(f)) != 0) ok = false, error = errno;
  if (std::fclose(f) != 0) {
    if (ok) error = errno;
    ok = false;
  }
  if (ok && replacing && old.st_nlink > 1 && S_ISREG(old.st_mode)) {
    errno = 0;
    ok = CopyInPlace(tmpl, path);
    error = errno;
    unlink(tmpl.c_str());
    return ok ? true : Failed(error);
  }
  if (ok && std::rename(tmpl.c_str(), path.c_str()) != 0) ok = false, error = errno;
  if (!ok) {
    unlink(tmpl.c_str());
    return Failed(error);
  }
  SyncFolder(folder);
  return true;
}

bool WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size) {
  return WriteFileReplacing(path, [&](std::FILE* f) { return size == 0 || std::fwrite(data, 1, size, f) == size; });
}

std::string LastSaveFailure() { return t_lastFailure; }

}  // namespace tessara
