#include "image/safe_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>
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
// The temporary files of a save are named ".NAME.tmp-PID-" and six letters or
// digits, PID being the writing process; saves of older versions wrote
// ".NAME.tmp-" and the six letters alone. A finished file waiting to be copied
// into a file with other hard links is named ".NAME.copy-PID-" and six letters
// or digits, PID being the process that copies it.
constexpr char kTempMark[] = ".tmp-";
constexpr char kCopyMark[] = ".copy-";
constexpr int kTempLetters = 6;

enum class Leftover { kNone, kOldTemp, kTemp, kCopy };

struct LeftoverName {
  Leftover kind = Leftover::kNone;
  pid_t pid = 0;
  std::string target;  // the NAME the file was written for
};

bool IsLetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

LeftoverName ParseLeftover(const std::string& name) {
  LeftoverName r;
  if (name.size() < 2 + kTempLetters || name[0] != '.') return r;
  const size_t letters = name.size() - kTempLetters;
  for (size_t i = letters; i < name.size(); ++i)
    if (!IsLetterOrDigit(name[i])) return r;
  // ".NAME.tmp-" right before the letters: a save of an older version.
  const size_t tempMark = sizeof kTempMark - 1;
  if (letters >= 2 + tempMark && name.compare(letters - tempMark, tempMark, kTempMark) == 0) {
    r.kind = Leftover::kOldTemp;
    r.target = name.substr(1, letters - tempMark - 1);
    return r;
  }
  // Otherwise "-PID-" before the letters, and a mark before the PID.
  if (name[letters - 1] != '-') return r;
  size_t digits = letters - 1;
  while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
  const size_t count = letters - 1 - digits;
  if (count == 0 || count > 9) return r;
  for (const auto& [mark, kind] : {std::pair{kTempMark, Leftover::kTemp}, std::pair{kCopyMark, Leftover::kCopy}}) {
    const size_t length = std::strlen(mark);
    if (digits >= 2 + length && name.compare(digits - length, length, mark) == 0) {
      r.kind = kind;
      r.pid = static_cast<pid_t>(std::stol(name.substr(digits, count)));
      r.target = name.substr(1, digits - length - 1);
      return r;
    }
  }
  return r;
}

// A writer is gone when no process has its number any more, or when its file
// has not been touched for over an hour (no save takes that long; the number
// may have passed to another process since).
bool WriterIsGone(pid_t pid, const struct stat& st) {
  const auto modified = std::chrono::system_clock::from_time_t(st.st_mtime);
  if (std::chrono::system_clock::now() - modified > std::chrono::hours(1)) return true;
  return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH;
}

// Puts `value` in decimal at `out` without allocating (it runs in a forked
// child) and returns the end of the digits.
char* PutDecimal(char* out, unsigned long value) {
  char digits[24];
  int n = 0;
  do digits[n++] = static_cast<char>('0' + value % 10), value /= 10;
  while (value);
  while (n) *out++ = digits[--n];
  *out = '\0';
  return out;
}

void SyncFolderOf(const char* file) {
  // The folder's path is the file's up to its last slash (the names built
  // here always have a folder part).
  char folder[4096];
  const char* slash = std::strrchr(file, '/');
  const size_t n = slash ? static_cast<size_t>(slash - file) : 0;
  if (n == 0 || n >= sizeof folder) return;
  std::memcpy(folder, file, n);
  folder[n] = '\0';
  const int dfd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return;
  fsync(dfd);
  close(dfd);
}

// Copies the whole of the finished file `from` over the content of `to`,
// keeping `to`'s inode (and so every hard link to it), then removes `from`.
// Room is reserved first, so a full disk stops the copy before the old
// content is touched. Uses only system calls, since it also runs in a forked
// child; gives back 0 or the errno of the failure. When the copy is cut short
// `from` stays, and the next save into the folder, or the next load of the
// file, finishes it.
int CopyOver(const char* from, const char* to, uint8_t* buffer, size_t bufferSize) {
  const int in = open(from, O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  struct stat st {};
  if (fstat(in, &st) != 0) {
    const int error = errno;
    close(in);
    return error;
  }
  const int out = open(to, O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
  if (out < 0) {
    const int error = errno;
    close(in);
    return error;
  }
  int error = 0;
  if (st.st_size > 0) {
    const int reserved = posix_fallocate(out, 0, st.st_size);
    // Some file systems cannot reserve; the copy goes on there.
    if (reserved != 0 && reserved != EOPNOTSUPP && reserved != EINVAL) error = reserved;
  }
  off_t done = 0;
  while (!error && done < st.st_size) {
    const ssize_t n = pread(in, buffer, bufferSize, done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    for (ssize_t put = 0; put < n && !error;) {
      const ssize_t w = pwrite(out, buffer + put, static_cast<size_t>(n - put), done + put);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) error = w < 0 ? errno : EIO;
      else put += w;
    }
    done += n;
  }
  if (!error && ftruncate(out, st.st_size) != 0) error = errno;
  if (!error && fsync(out) != 0) error = errno;
  if (close(out) != 0 && !error) error = errno;
  close(in);
  if (!error) {
    unlink(from);
    SyncFolderOf(from);
  }
  return error;
}

constexpr size_t kCopyBuffer = 1 << 20;

// Finishes the copy a killed save left in `copy` over `target`, after taking
// it over under this process's number so that no other process does the
// same at once.
// Gives back false when the copy is still to be done.
bool FinishCopy(const std::filesystem::path& copy, const std::filesystem::path& target, const std::string& letters) {
  const std::filesystem::path mine =
      copy.parent_path() /
      ("." + target.filename().string() + kCopyMark + std::to_string(getpid()) + "-" + letters);
  if (std::rename(copy.c_str(), mine.c_str()) != 0) return false;  // another process took it
  struct stat st {};
  // A file the user has since removed is not brought back.
  if (lstat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    unlink(mine.c_str());
    return true;
  }
  std::vector<uint8_t> buffer(kCopyBuffer);
  // On failure it stays for a later try, under a number that will soon be gone.
  return CopyOver(mine.c_str(), target.c_str(), buffer.data(), buffer.size()) == 0;
}

// Tidies what saves killed before they finished left in `folder`, among files
// owned by this user: a temporary file whose writer is gone is removed, and a
// finished copy whose copier is gone is copied into its file (the oldest
// first, so the newest save wins).
// Gives back how many copies are left unfinished.
int TidyLeftovers(const std::filesystem::path& folder, const std::string& onlyFor = {}) {
  namespace fs = std::filesystem;
  struct Copy {
    time_t modified;
    fs::path path;
    std::string target;
  };
  std::vector<Copy> copies;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const LeftoverName left = ParseLeftover(name);
    if (left.kind == Leftover::kNone || (!onlyFor.empty() && left.target != onlyFor)) continue;
    struct stat st {};
    if (lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) continue;
    if (!WriterIsGone(left.kind == Leftover::kOldTemp ? 0 : left.pid, st)) continue;
    if (left.kind == Leftover::kCopy) copies.push_back({st.st_mtime, it->path(), left.target});
    else unlink(it->path().c_str());
  }
  std::stable_sort(copies.begin(), copies.end(), [](const Copy& a, const Copy& b) { return a.modified < b.modified; });
  int unfinished = 0;
  for (const Copy& c : copies) {
    const std::string name = c.path.filename().string();
    unfinished += !FinishCopy(c.path, folder / c.target, name.substr(name.size() - kTempLetters));
  }
  return unfinished;
}

// A file with other hard links is rewritten in place so that every name keeps
// showing it. The finished temporary file is first renamed to a copy name, so
// that it is known to be whole; the copy then runs in a child process of its
// own, which finishes it even when this process is killed (a kill at any
// moment leaves the old picture or, once the child is done, the new one). If
// the child cannot be started the copy runs here; a copy cut short by a crash
// is finished later from the copy file.
int CopyInPlace(const std::string& temp, const std::string& to, const std::string& letters) {
  const std::filesystem::path folder = std::filesystem::path(temp).parent_path();
  const std::string prefix = (folder / ("." + std::filesystem::path(to).filename().string() + kCopyMark)).string();
  // Everything the child needs is made before it is forked: it may only make
  // system calls.
  std::string copyName = prefix + std::string(24, '\0') + "-" + letters;
  std::vector<uint8_t> buffer(kCopyBuffer);
  char* const number = copyName.data() + prefix.size();
  const auto claim = [&](pid_t pid) {
    char* end = PutDecimal(number, static_cast<unsigned long>(pid));
    *end++ = '-';
    std::memcpy(end, letters.data(), letters.size());
    end[letters.size()] = '\0';
    if (rename(temp.c_str(), copyName.c_str()) != 0) return errno;
    SyncFolderOf(copyName.c_str());
    return 0;
  };
  const pid_t child = fork();
  if (child == 0) {
    // Its own session: the terminal's Ctrl+C and a kill of the program's
    // process group do not reach it.
    setsid();
    signal(SIGINT, SIG_IGN);
    signal(SIGTERM, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
    int error = claim(getpid());
    if (!error) error = CopyOver(copyName.c_str(), to.c_str(), buffer.data(), buffer.size());
    _exit(error & 0xff);
  }
  if (child < 0) {
    const int error = claim(getpid());
    return error ? error : CopyOver(copyName.c_str(), to.c_str(), buffer.data(), buffer.size());
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return errno;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  // The child was killed: whatever it did not do is done here.
  unlink(temp.c_str());
  return TidyLeftovers(folder, std::filesystem::path(to).filename().string()) == 0 ? 0 : EIO;
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
  TidyLeftovers(folder);
  std::string tmpl =
      (folder / ("." + target.filename().string() + kTempMark + std::to_string(getpid()) + "-XXXXXX")).string();
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
    error = CopyInPlace(tmpl, path, tmpl.substr(tmpl.size() - kTempLetters));
    unlink(tmpl.c_str());
    return error == 0 ? true : Failed(error);
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

void FinishInterruptedSaves(const std::string& path) {
  const std::filesystem::path file(path);
  TidyLeftovers(file.has_parent_path() ? file.parent_path() : std::filesystem::path("."), file.filename().string());
}

}  // namespace tessara
