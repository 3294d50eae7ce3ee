// Writing a file without ever losing the one already there: the bytes go to a
// temporary file in the same folder, which replaces the named file only when
// everything was written; on any failure the temporary file is removed. What a
// killed save leaves is tidied by the next save into the folder.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace tessara {

// `write` puts the whole content into the open file and returns false on error.
bool WriteFileReplacing(const std::string& path, const std::function<bool(std::FILE*)>& write);
bool WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size);

// Why the last WriteFileReplacing on this thread failed, in the system's words
// ("No space left on device"); empty after a success or when the system gave
// no reason.
std::string LastSaveFailure();

// Finishes what a save over `path` that was killed half way left to do, so
// that the file holds the whole old content or the whole new one; called
// before a file is read.
void FinishInterruptedSaves(const std::string& path);

}  // namespace tessara
