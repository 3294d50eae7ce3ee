// A file's bytes read into memory for a decoder.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "image/picture_memory.h"
#include "image/ximage.h"

namespace tessara {

// The bytes of a file for decoding, read into memory. The file is not mapped:
// a file cut short by another program while it is decoded would kill us on
// the first access past its new end. Only regular files are read (a device or
// a pipe could feed us without end), and no more than the codec layer could
// ever make a picture of.
class FileBytes {
 public:
  explicit FileBytes(const std::string& path) {
    // Not blocking: opening a pipe would otherwise wait for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
      close(fd);
      return;
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxFileBytes) {
      m_szWhy = "The file of " + MegabytesText(static_cast<uint64_t>(st.st_size)) +
                " is larger than any picture the program can make.";
      close(fd);
      return;
    }
    const size_t size = static_cast<size_t>(st.st_size);
    const size_t capacity = size ? size : 1;
    m_block = PictureBlock::Allocate(capacity);
    m_pData = m_block.Data();
    if (!m_pData) {
      m_szWhy = "Not enough memory to read the file. " + MemoryAskedText(capacity);
      close(fd);
      return;
    }
    // What the file holds now: if it shrinks while we read, the rest is
    // simply missing and the decoder says so.
    size_t have = 0;
    while (have < size) {
      const ssize_t n = read(fd, m_pData + have, size - have);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        close(fd);
        return;
      }
      if (n == 0) break;
      have += static_cast<size_t>(n);
    }
    close(fd);
    m_nSize = have;
    m_bOk = true;
  }
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  bool Ok() const { return m_bOk; }
  // Why the file was not read, when it was for its size; empty otherwise.
  const std::string& Why() const { return m_szWhy; }
  const uint8_t* Data() const { return m_pData; }
  size_t Size() const { return m_nSize; }

 private:
  // A compressed file can never be larger than the largest picture.
  static constexpr uint64_t kMaxFileBytes = kMaxImageBytes + (uint64_t{1} << 20);
  PictureBlock m_block;
  uint8_t* m_pData = nullptr;
  size_t m_nSize = 0;
  bool m_bOk = false;
  std::string m_szWhy;
};


}  // namespace tessara
