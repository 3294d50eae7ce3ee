#include "ui/common/help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "framework/user_interface.h"

namespace tessara {

QString HelpPagePath() {
  const QString exeDir = QCoreApplication::applicationDirPath();
  const QString ownName = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
  QStringList candidates;
  for (const QString& name : {ownName, QString::fromUtf8(kExecutableName)}) {
    candidates << exeDir + QStringLiteral("/help/") + name + QStringLiteral(".html")
               << exeDir + QStringLiteral("/../share/doc/tessara/help/") + name + QStringLiteral(".html");
  }
#ifdef TESSARA_SOURCE_HELP_DIR
  // Run from the build tree (the window tests): the page in the sources.
  candidates << QStringLiteral(TESSARA_SOURCE_HELP_DIR "/") + QString::fromUtf8(kExecutableName) +
                    QStringLiteral(".html");
#endif
  for (const QString& path : candidates)
    if (QFileInfo(path).isFile()) return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  return {};
}

bool OpenHelp(const QString& anchor) {
  const QString path = HelpPagePath();
  if (path.isEmpty()) {
    ShowMessage("The help page " + std::string(kExecutableName) + ".html cannot be found beside the program.");
    return false;
  }
  QUrl url = QUrl::fromLocalFile(path);
  if (!anchor.isEmpty()) url.setFragment(anchor);
  if (QDesktopServices::openUrl(url)) return true;
  // No web browser the desktop knows of: the user can still open the page.
  ShowMessage(std::string(help_text::kOpenInBrowser) + QDir::toNativeSeparators(path).toStdString());
  return false;
}

}  // namespace tessara
