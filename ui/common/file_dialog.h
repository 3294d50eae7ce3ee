// CMyfiledialog: the program's file dialog for opening sources and saving the
// Target. The file list is 200 pixels taller than in the standard dialog, so
// more pictures show at once; everything below the list moves down with it.
#pragma once

#include <QFileDialog>
#include <QStringList>

namespace tessara {

// Turns a filter string of "description|pattern|...||" pairs into the dialog's
// name filters, one per pair, in order. "*.*" means every file.
QStringList ParseFilterString(const char* filter);

// The file-type filters of the open dialog (seven) and the save dialog (six).
inline constexpr const char* kOpenFilter =
    "Bitmap Files (*.bmp)|*.bmp|Jpeg Files (*.jpg)|*.jpg|Png Files (*.png)|*.png|Tif Files (*.tif)|*.tif|"
    "Tga Files (*.tga)|*.tga|Pcx Files (*.pcx)|*.pcx|All Files (*.*)|*.*||";

class CMyfiledialog : public QFileDialog {
  Q_OBJECT
 public:
  static constexpr int kExtraHeight = 200;

  // `open` chooses an open or a save dialog; `filter` is a "|"-separated filter
  // string. The dialog has no default extension and no initial file name; a
  // save dialog asks before replacing a file.
  CMyfiledialog(bool open, const char* filter, QWidget* parent = nullptr);

  // Results, read after the dialog closed with OK.
  QString GetPathName() const;
  QString GetFileName() const;
  // 1-based index of the selected filter.
  int GetFilterIndex() const;
  // Selects a filter by its 1-based index; out of range keeps the first.
  void SetFilterIndex(int index);
  const QStringList& Filters() const { return m_filters; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QStringList m_filters;
  bool m_bGrown = false;
};

// The directory part of a chosen path: its first length(path) - length(name)
// characters, so with the trailing separator.
QString DirectoryOfPath(const QString& path, const QString& name);

}  // namespace tessara
