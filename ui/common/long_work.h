// Long work (loading a source, preparing the sources, automatic alignment,
// building and saving the Target) runs on a worker thread, one piece at a time,
// while the window thread goes on with its events: the windows repaint, the
// status line shows the progress, and the stop keys bring up the stop question.
//
// Everything the work says to the user passes through the user interface and
// the documents' notifications, which hand it to the window thread:
//  - messages, questions and notifications wait there until the window thread
//    has dealt with them, so that the window thread may read the documents
//    while the worker stands still;
//  - pane texts and progress go without waiting.
// Between those moments the documents belong to the worker: the views paint
// what they showed last (`CShownPicture`), the user's input to the windows is
// thrown away, and every command is disabled through the command route. Only a
// dialog opened by the work itself (the stop question, a message) takes input.
#pragma once

#include <QPixmap>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

class QObject;
class QPainter;
class QWidget;

namespace tessara {

class CDestdoc;

// Whether long work is running (on the window thread: whether it waits for any).
bool LongWorkRunning();
// Whether this is a worker thread of long work.
bool OnWorkerThread();
// Whether the window thread may read the documents now: no work runs, or the
// worker waits for the window thread to deal with what it said.
bool DocumentsAtRest();
// Whether user input to `watched` must be thrown away now: long work runs and
// `watched` is not inside a dialog that the work itself has opened.
bool LongWorkRefusesInput(QObject* watched);

// Runs `work` on a worker thread and returns once it has ended; the window
// thread handles its events meanwhile, without ever running the work's code.
// Called on a worker thread (work that is part of other work), it runs `work`
// there at once. An exception thrown by the work is thrown again here.
void RunLongWorkOnWorker(const std::function<void()>& work);

template <class Work>
auto RunLongWork(Work&& work) -> std::invoke_result_t<Work&> {
  using Result = std::invoke_result_t<Work&>;
  if constexpr (std::is_void_v<Result>) {
    RunLongWorkOnWorker(work);
  } else {
    std::optional<Result> result;
    RunLongWorkOnWorker([&] { result.emplace(work()); });
    return std::move(*result);
  }
}

// Builds the session's Target as long work, and on the same thread has the
// Target Window make it ready for the screen; 1 when it was built.
int GenerateTargetAsLongWork(CDestdoc& doc);

// From a worker: runs `task` on the window thread, and with `wait` returns only
// once it has run. Elsewhere: runs `task` at once.
void RunOnWindowThread(std::function<void()> task, bool wait);

// What a view shows while the documents belong to the worker: its picture as
// it was when the work began, or when the window thread last painted it with
// the worker waiting. Outside long work the view simply paints.
class CShownPicture {
 public:
  // With `liveWhileWorking` false the widget shows the kept picture until the
  // work is over, even while the worker waits (its picture is made by the
  // work itself, on the work's thread).
  explicit CShownPicture(QWidget& widget, bool liveWhileWorking = true);
  ~CShownPicture();
  CShownPicture(const CShownPicture&) = delete;
  CShownPicture& operator=(const CShownPicture&) = delete;

  // Paints the widget by `draw`, or by the picture kept when the documents may
  // not be read.
  void Paint(const std::function<void(QPainter&)>& draw);
  // Keeps the widget's present picture (done for every view as work begins).
  void Keep();
  // Once the work is over: a widget that showed the kept picture (perhaps
  // resized meanwhile) is painted from the documents again.
  void Release();
  // How many paints showed the kept picture (for the tests).
  int KeptPaints() const { return m_nKeptPaints; }

 private:
  QWidget& m_widget;
  bool m_bLiveWhileWorking;
  std::function<void(QPainter&)> m_draw;
  QPixmap m_kept;
  int m_nKeptPaints = 0;
  bool m_bShowedKept = false;
};

}  // namespace tessara
