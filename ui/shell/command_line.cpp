#include "ui/shell/command_line.h"

#include <QMimeData>
#include <QUrl>

#include "framework/version.h"

namespace tessara {

namespace {

const char* const kUsage =
    "Usage: tessara [SOURCE1 [SOURCE2]]\n"
    "Joins two pictures into one. The files given are opened as source 1 and\n"
    "source 2, as File > Open would open them (BMP, JPEG, PNG, TIFF, Targa, PCX);\n"
    "a third is refused as File > Open refuses it.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "  -v, --version  show the version and exit\n"
    "\n"
    "Use -- before a file name that starts with a dash. tessara-join does the\n"
    "same work without windows.\n";

CommandLine Fail(const QString& why) {
  CommandLine line;
  line.exitCode = 2;
  line.output = QStringLiteral("tessara: ") + why + QStringLiteral("\nTry 'tessara --help'.\n");
  return line;
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
  CommandLine line;
  bool optionsEnded = false;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (!optionsEnded && a == QLatin1String("--")) {
      optionsEnded = true;
    } else if (!optionsEnded && (a == QLatin1String("--help") || a == QLatin1String("-h"))) {
      line.exitCode = 0;
      line.output = QString::fromUtf8(kUsage);
      return line;
    } else if (!optionsEnded && (a == QLatin1String("--version") || a == QLatin1String("-v"))) {
      line.exitCode = 0;
      line.output = QStringLiteral("tessara " TESSARA_VERSION "\n");
      return line;
    } else if (!optionsEnded && a.size() > 1 && a.startsWith(QLatin1Char('-'))) {
      return Fail(QStringLiteral("unknown option ") + a);
    } else if (a.isEmpty()) {
      return Fail(QStringLiteral("an empty file name"));
    } else {
      line.sources << a;
    }
  }
  return line;
}

QStringList DroppedFiles(const QMimeData* data) {
  QStringList files;
  if (!data || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile() && !url.toLocalFile().isEmpty()) files << url.toLocalFile();
  return files;
}

}  // namespace tessara
