// The per-user settings store: the platform's per-user settings under the
// company key and the application name, sections as groups. Every value is read
// from and written to the store itself; nothing is kept in memory.
#pragma once

#include "framework/settings.h"

namespace tessara {

inline constexpr const char* kCompanyKey = "Local AppWizard-Generated Applications";
inline constexpr const char* kApplicationName = "Tessara";

class CQtSettingsStore : public ISettingsStore {
 public:
  std::string GetString(const std::string& section, const std::string& key, const std::string& fallback) override;
  int GetInt(const std::string& section, const std::string& key, int fallback) override;
  void WriteString(const std::string& section, const std::string& key, const std::string& value) override;
  void WriteInt(const std::string& section, const std::string& key, int value) override;
};

}  // namespace tessara
