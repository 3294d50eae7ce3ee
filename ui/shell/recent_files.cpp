#include "ui/shell/recent_files.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include "ui/common/qt_settings.h"

namespace tessara {

namespace {
constexpr const char* kSection = "Recent File List";
}

void CRecentFileList::Load() {
  m_files.clear();
  QSettings store(kCompanyKey, kApplicationName);
  store.beginGroup(kSection);
  for (int i = 1; i <= kSize; ++i) {
    const QString path = store.value(QStringLiteral("File%1").arg(i)).toString();
    if (!path.isEmpty() && !m_files.contains(path)) m_files.append(path);
  }
}

void CRecentFileList::Add(const QString& path) {
  const QString full = QFileInfo(path).absoluteFilePath();
  m_files.removeAll(full);
  m_files.prepend(full);
  while (m_files.size() > kSize) m_files.removeLast();
  Save();
}

void CRecentFileList::Remove(int index) {
  if (index < 0 || index >= m_files.size()) return;
  m_files.removeAt(index);
  Save();
}

QString CRecentFileList::MenuText(int index, const QString& path) {
  const int n = index + 1;
  QString number = n < 10 ? QStringLiteral("&%1").arg(n) : (n == 10 ? QStringLiteral("1&0") : QString::number(n));
  QString shown = QDir::toNativeSeparators(path);
  // Long paths keep their start and their file name.
  if (shown.size() > 60) shown = shown.left(20) + QStringLiteral("...") + shown.right(37);
  shown.replace('&', QStringLiteral("&&"));
  return number + ' ' + shown;
}

void CRecentFileList::Save() const {
  QSettings store(kCompanyKey, kApplicationName);
  store.beginGroup(kSection);
  store.remove(QString());
  for (int i = 0; i < m_files.size(); ++i) store.setValue(QStringLiteral("File%1").arg(i + 1), m_files[i]);
}

}  // namespace tessara
