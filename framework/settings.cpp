#include "framework/settings.h"

#include <cstdlib>

namespace tessara {

namespace {
MemorySettingsStore g_defaultStore;
ISettingsStore* g_pStore = &g_defaultStore;
}  // namespace

std::string MemorySettingsStore::GetString(const std::string& section, const std::string& key,
                                           const std::string& fallback) {
  auto it = m_values.find({section, key});
  return it == m_values.end() ? fallback : it->second;
}

int MemorySettingsStore::GetInt(const std::string& section, const std::string& key, int fallback) {
  auto it = m_values.find({section, key});
  return it == m_values.end() ? fallback : std::atoi(it->second.c_str());
}

void MemorySettingsStore::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  m_values[{section, key}] = value;
}

void MemorySettingsStore::WriteInt(const std::string& section, const std::string& key, int value) {
  m_values[{section, key}] = std::to_string(value);
}

ISettingsStore& Settings() { return *g_pStore; }
void SetSettingsStore(ISettingsStore* store) { g_pStore = store ? store : &g_defaultStore; }

}  // namespace tessara
