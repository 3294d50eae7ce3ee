// Starting and stopping the real program inside a test, and answering its
// dialogs: message boxes are recorded and answered from a queue, file dialogs
// by a function the test gives, every other dialog by a function or Cancel.
#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "ui/common/file_dialog.h"

namespace tessara {
class CTessaraApp;
class CMainFrame;
}  // namespace tessara

namespace tessara::test {

QString TestData(const QString& relative);

struct SeenBox {
  QString title;
  QString text;
  int buttons = 0;
  int icon = 0;
};

class CProgramUnderTest {
 public:
  CProgramUnderTest();
  ~CProgramUnderTest();

  // Starts the program; the settings store is emptied first unless
  // `keepSettings` (a restart after Stop).
  bool Start(bool keepSettings = false);
  // Ends it as a user's Exit would, then destroys it.
  void Stop();
  CTessaraApp& App() { return *m_pApp; }
  CMainFrame& Frame();

  // Message boxes seen, in order; answers for boxes with Yes and No.
  QList<SeenBox> m_boxes;
  QList<int> m_answers;
  QStringList MessageTexts() const;
  // File dialogs: the function sets up the answer and returns the result.
  std::function<int(CMyfiledialog&)> m_fileDialog;
  QStringList m_fileDialogTitles;
  // Any other modal dialog.
  std::function<int(QDialog&)> m_otherDialog;
  QStringList m_otherDialogs;

  // Opens `path` through File > Open, answering the dialog with it.
  bool OpenSource(const QString& path, int filterIndex = 8);
  // Opens the coffee pair of the test pictures as sources 1 and 2.
  bool OpenCoffeePair();
  // Runs a command through the route (as the menu does); false when disabled.
  bool Command(int id);
  // Lets pending events and the idle work run.
  void Idle();

 private:
  // Message boxes, file dialogs and other dialogs answered as described above.
  void InstallDialogAnswers();
  std::unique_ptr<CTessaraApp> m_pApp;
};

// Runs the batch tool `program` with `args` (writing `joined`) and compares its
// file with `saved`, byte for byte: empty when the tool succeeded and both files
// hold the same picture of some size, otherwise what differs.
QString DifferenceFromBatchJoin(const QString& program, const QStringList& args, const QString& saved,
                                const QString& joined);

// Answers a file dialog with `path` and the 1-based filter.
int AnswerFileDialog(CMyfiledialog& dialog, const QString& path, int filterIndex);

// The Target's stop check, made as long work makes it: on the worker thread,
// once the window thread has handled the events already waiting (keys posted
// before, say). 1 when the user chose to stop.
int CheckAbortAsLongWork();

}  // namespace tessara::test
