// Tessara: joins two pictures into one.
#include <QApplication>

#include "app/tessara_app.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tessara"));
  tessara::CTessaraApp tessara;
  if (!tessara.InitInstance()) return 1;
  return QApplication::exec();
}
