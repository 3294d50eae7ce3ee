// CMyfiledialog: the program's file dialog for opening sources and saving the
// Target. The file list is 200 pixels taller than in the standard dialog, so
// more pictures show at once; everything below the list moves down with it.
#pragma once

#include <QFileDialog>
#include <QStringList>

namespace tessara {

// Turns a filter string of "description|pattern|...||" pairs into the dialog's
// name filters, one per pair, in order. "*.*" means every file; a pattern may
// list several, separated by ";".
QStringList ParseFilterString(const char* filter);

// The file-type filters of the open dialog: every picture the program reads,
// then the seven types (1 Bitmap .. 7 All Files as "Last Open Extension"
// numbers them). Endings match in any case.
inline constexpr const char* kOpenFilter =
    "All Pictures (*.bmp;*.jpg;*.jpeg;*.jpe;*.png;*.tif;*.tiff;*.tga;*.pcx)|"
    "*.bmp;*.jpg;*.jpeg;*.jpe;*.png;*.tif;*.tiff;*.tga;*.pcx|"
    "Bitmap Files (*.bmp)|*.bmp|Jpeg Files (*.jpg;*.jpeg;*.jpe)|*.jpg;*.jpeg;*.jpe|Png Files (*.png)|*.png|"
    "Tif Files (*.tif;*.tiff)|*.tif;*.tiff|Tga Files (*.tga)|*.tga|Pcx Files (*.pcx)|*.pcx|All Files (*.*)|*.*||";
// "Last Open Extension" keeps the numbers it always had (1 Bitmap .. 7 All
// Files), so a value remembered before "All Pictures" came first still names
// its filter; "All Pictures" is remembered as 8. The dialog's own indices
// (1-based, "All Pictures" 1) from and to the remembered value; 0 (nothing
// remembered) shows "All Pictures".
int OpenFilterToRemember(int dialogIndex);
int OpenFilterToShow(int remembered);

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
