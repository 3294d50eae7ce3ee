// The About box: the icon, the version, OK and a button to the website.
#pragma once

#include <QDialog>

#include "framework/version.h"

namespace tessara {

inline constexpr const char* kVersionText = "Tessara Version " TESSARA_VERSION;

class CAboutDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDialog(QWidget* parent = nullptr);
  // Opens the product's page in the browser.
  void OnWebsite();
};

}  // namespace tessara
