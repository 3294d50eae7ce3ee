// Tessara: joins two pictures into one.
#include <QApplication>
#include <QFile>
#include <cstdio>

#include "ui/shell/command_line.h"
#include "ui/shell/tessara_app.h"

namespace {

int Print(const tessara::CommandLine& line) {
  std::fputs(line.output.toLocal8Bit().constData(), line.exitCode == 0 ? stdout : stderr);
  return line.exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  // --help and --version answer without a display.
  QStringList raw;
  for (int i = 0; i < argc; ++i) raw << QFile::decodeName(argv[i]);
  if (const tessara::CommandLine early = tessara::ParseCommandLine(raw); early.exitCode == 0) return Print(early);

  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tessara"));
  // Qt's own options (-platform, -style, ...) are gone from the arguments now.
  const tessara::CommandLine line = tessara::ParseCommandLine(QApplication::arguments());
  if (line.exitCode >= 0) return Print(line);
  tessara::CTessaraApp tessara;
  if (!tessara.InitInstance()) return 1;
  tessara.OpenSourceFiles(line.sources);
  return QApplication::exec();
}
