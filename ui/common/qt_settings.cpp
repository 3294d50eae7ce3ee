#include "ui/common/qt_settings.h"

#include <QSettings>

namespace tessara {

namespace {
QString Key(const std::string& section, const std::string& key) {
  return QString::fromStdString(section) + '/' + QString::fromStdString(key);
}
}  // namespace

std::string CQtSettingsStore::GetString(const std::string& section, const std::string& key,
                                        const std::string& fallback) {
  QSettings store(kCompanyKey, kApplicationName);
  const QVariant v = store.value(Key(section, key));
  return v.isValid() ? v.toString().toStdString() : fallback;
}

int CQtSettingsStore::GetInt(const std::string& section, const std::string& key, int fallback) {
  QSettings store(kCompanyKey, kApplicationName);
  const QVariant v = store.value(Key(section, key));
  bool ok = false;
  const int n = v.toInt(&ok);
  return v.isValid() && ok ? n : fallback;
}

void CQtSettingsStore::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  QSettings store(kCompanyKey, kApplicationName);
  store.setValue(Key(section, key), QString::fromStdString(value));
}

void CQtSettingsStore::WriteInt(const std::string& section, const std::string& key, int value) {
  QSettings store(kCompanyKey, kApplicationName);
  store.setValue(Key(section, key), value);
}

}  // namespace tessara
