// The recent-file list of the File menu: up to 16 source files, newest first,
// kept in the settings store's "Recent File List" section as File1..File16.
#pragma once

#include <QString>
#include <QStringList>

namespace tessara {

class CRecentFileList {
 public:
  static constexpr int kSize = 16;
  // Reads the list from the settings store.
  void Load();
  // Puts `path` at the top (once), dropping the oldest beyond 16; stored at once.
  void Add(const QString& path);
  void Remove(int index);
  const QStringList& Files() const { return m_files; }
  // The text of entry `index` in the menu: its number and the path.
  static QString MenuText(int index, const QString& path);

 private:
  void Save() const;
  QStringList m_files;
};

}  // namespace tessara
