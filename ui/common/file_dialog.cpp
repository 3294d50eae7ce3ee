#include "ui/common/file_dialog.h"

#include <QFileInfo>

namespace tessara {

QStringList ParseFilterString(const char* filter) {
  const QStringList parts = QString::fromUtf8(filter).split('|');
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    const QString& description = parts[i];
    QString pattern = parts[i + 1];
    if (description.isEmpty()) break;  // the closing "||"
    // "*.*" names every file, also one without a dot in its name.
    if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
    pattern.replace(';', ' ');
    QString name = description;
    const int open = name.lastIndexOf('(');
    if (open >= 0) name = name.left(open).trimmed();
    filters.append(QStringLiteral("%1 (%2)").arg(name, pattern));
  }
  return filters;
}

CMyfiledialog::CMyfiledialog(bool open, const char* filter, QWidget* parent)
    : QFileDialog(parent), m_filters(ParseFilterString(filter)) {
  setOption(QFileDialog::DontUseNativeDialog, true);
  setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  setFileMode(open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  setNameFilters(m_filters);
}

QString CMyfiledialog::GetPathName() const {
  const QStringList files = selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

QString CMyfiledialog::GetFileName() const { return QFileInfo(GetPathName()).fileName(); }

int CMyfiledialog::GetFilterIndex() const {
  const int index = m_filters.indexOf(selectedNameFilter());
  return index < 0 ? 1 : index + 1;
}

void CMyfiledialog::SetFilterIndex(int index) {
  if (index >= 1 && index <= m_filters.size()) selectNameFilter(m_filters[index - 1]);
}

void CMyfiledialog::showEvent(QShowEvent* event) {
  QFileDialog::showEvent(event);
  if (m_bGrown) return;
  m_bGrown = true;
  // The dialog keeps its place and width; the layout gives every extra pixel to
  // the file list, and the name and type rows and the buttons move down.
  resize(width(), height() + kExtraHeight);
}

int OpenFilterToRemember(int dialogIndex) { return dialogIndex <= 1 ? 8 : dialogIndex - 1; }

int OpenFilterToShow(int remembered) { return remembered >= 1 && remembered <= 7 ? remembered + 1 : 1; }

QString DirectoryOfPath(const QString& path, const QString& name) { return path.left(path.size() - name.size()); }

}  // namespace tessara
