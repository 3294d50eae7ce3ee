#include "ui_test_support.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QMessageBox>
#include <QSettings>
#include <QTest>

#include "engine/destdoc.h"
#include "framework/registry.h"
#include "ui/common/long_work.h"
#include "ui/common/modal.h"
#include "ui/common/qt_settings.h"
#include "ui/common/ui_registry.h"
#include "ui/shell/main_frame.h"
#include "ui/shell/tessara_app.h"

namespace tessara::test {

QString TestData(const QString& relative) { return QStringLiteral(TESSARA_TESTDATA "/") + relative; }

CProgramUnderTest::CProgramUnderTest() { InstallDialogAnswers(); }

void CProgramUnderTest::InstallDialogAnswers() {
  SetModalHook([this](QDialog& dialog) -> std::optional<int> {
    if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
      m_boxes.append({box->windowTitle(), box->text(), int(box->standardButtons()), int(box->icon())});
      if (box->standardButtons() & QMessageBox::Yes)
        return m_answers.isEmpty() ? int(QMessageBox::No) : m_answers.takeFirst();
      return int(QMessageBox::Ok);
    }
    if (auto* files = qobject_cast<CMyfiledialog*>(&dialog)) {
      m_fileDialogTitles.append(files->windowTitle());
      return m_fileDialog ? m_fileDialog(*files) : int(QDialog::Rejected);
    }
    m_otherDialogs.append(dialog.metaObject()->className());
    return m_otherDialog ? m_otherDialog(dialog) : int(QDialog::Rejected);
  });
}

CProgramUnderTest::~CProgramUnderTest() {
  Stop();
  SetModalHook(nullptr);
}

bool CProgramUnderTest::Start(bool keepSettings) {
  if (!keepSettings) QSettings(kCompanyKey, kApplicationName).clear();
  CTessaraApp::SetDisplayColoursForTest(0);
  m_pApp = std::make_unique<CTessaraApp>();
  return m_pApp->InitInstance();
}

void CProgramUnderTest::Stop() {
  if (!m_pApp) return;
  // A test that let dialogs run for real is over: the question at exit (an
  // unsaved Target) is answered from the queue, No when it is empty.
  InstallDialogAnswers();
  if (g_pMainFrame && g_pMainFrame->isVisible()) g_pMainFrame->close();
  m_pApp.reset();
  QApplication::processEvents();
}

CMainFrame& CProgramUnderTest::Frame() { return *g_pMainFrame; }

QStringList CProgramUnderTest::MessageTexts() const {
  QStringList texts;
  for (const SeenBox& b : m_boxes) texts << b.text;
  return texts;
}

int AnswerFileDialog(CMyfiledialog& dialog, const QString& path, int filterIndex) {
  dialog.SetFilterIndex(filterIndex);
  dialog.selectFile(path);
  return QDialog::Accepted;
}

bool CProgramUnderTest::OpenSource(const QString& path, int filterIndex) {
  const int before = g_nSourcesLoaded;
  m_fileDialog = [path, filterIndex](CMyfiledialog& d) { return AnswerFileDialog(d, path, filterIndex); };
  Command(cmd::kFileOpen);
  m_fileDialog = nullptr;
  Idle();
  return g_nSourcesLoaded == before + 1;
}

bool CProgramUnderTest::OpenCoffeePair() {
  return OpenSource(TestData("pairs/coffee_left.png"), 3) && OpenSource(TestData("pairs/coffee_right.png"), 3);
}

bool CProgramUnderTest::Command(int id) { return Frame().ExecuteCommand(id); }

void CProgramUnderTest::Idle() {
  QApplication::processEvents();
  Frame().OnIdle();
}

QString DifferenceFromBatchJoin(const QString& program, const QStringList& args, const QString& saved,
                                const QString& joined) {
  QProcess join;
  join.start(program, args);
  if (!join.waitForFinished(120000)) return QStringLiteral("the batch tool did not finish");
  if (join.exitCode() != 0) return QStringLiteral("the batch tool failed with %1").arg(join.exitCode());
  QFile mine(saved), theirs(joined);
  if (!mine.open(QIODevice::ReadOnly) || !theirs.open(QIODevice::ReadOnly)) return QStringLiteral("a file is missing");
  const QByteArray x = mine.readAll(), y = theirs.readAll();
  if (x.size() <= 1000) return QStringLiteral("only %1 bytes saved").arg(x.size());
  if (x != y) return QStringLiteral("%1 bytes against %2").arg(x.size()).arg(y.size());
  return QString();
}

int CheckAbortAsLongWork() {
  return RunLongWork([] {
    RunOnWindowThread([] {}, true);
    return g_pDestDoc->CheckAbort();
  });
}

}  // namespace tessara::test
