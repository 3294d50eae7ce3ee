// The per-user settings store, by section and key. The desktop program installs
// one over the platform's store; tests and the batch tool use the in-memory one.
#pragma once

#include <map>
#include <string>
#include <utility>

namespace tessara {

namespace settings_key {
inline constexpr const char* kConfigure = "Configure";
inline constexpr const char* kLastOpenDirectory = "Last Open Directory";
inline constexpr const char* kLastOpenExtension = "Last Open Extension";
inline constexpr const char* kLastSaveDirectory = "Last Save Directory";
inline constexpr const char* kLastSaveExtension = "Last Save Extension";
// 1 (the default) or 0: pictures are turned upright by their orientation tag
// as they load; the saved Target carries source 1's camera data.
inline constexpr const char* kTurnByOrientation = "Turn pictures by their orientation tag";
inline constexpr const char* kKeepCameraData = "Keep the camera data of source 1";
// How a saved Target is compressed: the JPEG quality (1..100, default 90) of
// .jpg files and of colour TIFF files, and 1 (default 0) when colour TIFF
// files are compressed without loss instead (deflate).
inline constexpr const char* kJpegQuality = "JPEG Quality";
inline constexpr const char* kLosslessTiff = "Lossless TIFF";
}  // namespace settings_key

class ISettingsStore {
 public:
  virtual ~ISettingsStore() = default;
  virtual std::string GetString(const std::string& section, const std::string& key, const std::string& fallback) = 0;
  virtual int GetInt(const std::string& section, const std::string& key, int fallback) = 0;
  virtual void WriteString(const std::string& section, const std::string& key, const std::string& value) = 0;
  virtual void WriteInt(const std::string& section, const std::string& key, int value) = 0;
};

class MemorySettingsStore : public ISettingsStore {
 public:
  std::string GetString(const std::string& section, const std::string& key, const std::string& fallback) override;
  int GetInt(const std::string& section, const std::string& key, int fallback) override;
  void WriteString(const std::string& section, const std::string& key, const std::string& value) override;
  void WriteInt(const std::string& section, const std::string& key, int value) override;

 private:
  std::map<std::pair<std::string, std::string>, std::string> m_values;
};

// The store in use; an in-memory one until another is set.
ISettingsStore& Settings();
void SetSettingsStore(ISettingsStore* store);

}  // namespace tessara
