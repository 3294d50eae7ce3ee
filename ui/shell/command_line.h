// The desktop program's command line: `tessara [SOURCE1 [SOURCE2]]`, plus
// --help and --version. File managers call it so for "Open with".
#pragma once

#include <QString>
#include <QStringList>

class QMimeData;

namespace tessara {

struct CommandLine {
  // The files to open as source 1 and 2, in order. More are kept: opening
  // them tells the user, as a file manager's "Open with" may pass any number.
  QStringList sources;
  // When 0 or more, the program prints `output` (to standard output for 0,
  // standard error otherwise) and ends with this status instead of starting.
  int exitCode = -1;
  QString output;
};

// `arguments` as the process got them, the program's name first.
CommandLine ParseCommandLine(const QStringList& arguments);

// The local files among what is dropped on the window, in order; empty when
// the drop carries none (text, or places on other machines).
QStringList DroppedFiles(const QMimeData* data);

}  // namespace tessara
