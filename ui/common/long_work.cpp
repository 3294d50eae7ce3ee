#include "ui/common/long_work.h"

#include <QApplication>
#include <QEventLoop>
#include <QPainter>
#include <QTimer>
#include <QWindow>
#include <QWidget>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/destdoc.h"
#include "ui/common/shell.h"

namespace tessara {

namespace {

// What one piece of work and the window thread hand each other. Every handing
// over goes through the mutex, so that the documents written by one side are
// seen whole by the other.
struct WorkChannel {
  struct Task {
    std::function<void()> run;
    bool wait = false;
    bool done = false;
  };
  std::mutex mutex;
  std::condition_variable doneTask;
  std::deque<Task*> tasks;
  bool finished = false;
};

thread_local WorkChannel* t_pChannel = nullptr;  // set on a worker thread

// Window thread only.
int g_nRunning = 0;
// Tasks that the worker waits for, running now on the window thread.
int g_nWaitedTasks = 0;
// The modal dialog that stood when each running work began: it belongs to
// whoever started the work and takes no input meanwhile.
std::vector<QWidget*> g_modalAtStart;
std::vector<CShownPicture*> g_shownPictures;

// How often the window thread looks for what the worker has said.
constexpr int kPollMilliseconds = 4;

// Runs the window thread's share of `channel`: what the worker has said so
// far. True once the work has ended and nothing is left.
bool Drain(WorkChannel& channel) {
  for (;;) {
    WorkChannel::Task* task;
    {
      std::lock_guard lock(channel.mutex);
      if (channel.tasks.empty()) return channel.finished;
      task = channel.tasks.front();
      channel.tasks.pop_front();
    }
    if (task->wait) {
      ++g_nWaitedTasks;
      task->run();
      --g_nWaitedTasks;
      std::lock_guard lock(channel.mutex);
      task->done = true;
      channel.doneTask.notify_all();
    } else {
      task->run();
      delete task;
    }
  }
}

}  // namespace

bool LongWorkRunning() { return OnWorkerThread() || g_nRunning > 0; }

bool OnWorkerThread() { return t_pChannel != nullptr; }

bool DocumentsAtRest() { return !OnWorkerThread() && (g_nRunning == 0 || g_nWaitedTasks > 0); }

bool LongWorkRefusesInput(QObject* watched) {
  if (g_nRunning == 0) return false;
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal || modal == g_modalAtStart.back()) return true;
  // The question or message the work has put up answers as any dialog: its
  // window system window, then its widgets, see the input.
  if (watched == modal->windowHandle()) return false;
  for (QObject* o = watched; o; o = o->parent())
    if (o == modal) return false;
  return true;
}

void RunLongWorkOnWorker(const std::function<void()>& work) {
  if (OnWorkerThread()) {
    work();
    return;
  }
  // What the views show while the documents are the worker's.
  for (CShownPicture* shown : g_shownPictures) shown->Keep();
  WorkChannel channel;
  std::exception_ptr failure;
  ++g_nRunning;
  // Work started while other work waits for the window thread: the documents
  // are this work's until it ends.
  const int outerWaits = g_nWaitedTasks;
  g_nWaitedTasks = 0;
  g_modalAtStart.push_back(QApplication::activeModalWidget());
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(kPollMilliseconds);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (Drain(channel)) loop.quit();
  });
  std::thread worker([&] {
    t_pChannel = &channel;
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    t_pChannel = nullptr;
    std::lock_guard lock(channel.mutex);
    channel.finished = true;
  });
  poll.start();
  loop.exec();
  poll.stop();
  worker.join();
  g_modalAtStart.pop_back();
  g_nWaitedTasks = outerWaits;
  --g_nRunning;
  if (g_nRunning == 0)
    for (CShownPicture* shown : g_shownPictures) shown->Release();
  if (failure) std::rethrow_exception(failure);
}

int GenerateTargetAsLongWork(CDestdoc& doc) {
  return RunLongWork([&] {
    const int made = doc.GenerateTarget();
    if (g_pShell) g_pShell->PrepareShownTarget();
    return made;
  });
}

void RunOnWindowThread(std::function<void()> task, bool wait) {
  WorkChannel* channel = t_pChannel;
  if (!channel) {
    task();
    return;
  }
  if (!wait) {
    std::lock_guard lock(channel->mutex);
    channel->tasks.push_back(new WorkChannel::Task{std::move(task), false, false});
    return;
  }
  WorkChannel::Task waited{std::move(task), true, false};
  std::unique_lock lock(channel->mutex);
  channel->tasks.push_back(&waited);
  channel->doneTask.wait(lock, [&] { return waited.done; });
}

CShownPicture::CShownPicture(QWidget& widget, bool liveWhileWorking)
    : m_widget(widget), m_bLiveWhileWorking(liveWhileWorking) {
  g_shownPictures.push_back(this);
}

CShownPicture::~CShownPicture() { std::erase(g_shownPictures, this); }

void CShownPicture::Keep() {
  if (m_widget.isVisible()) m_kept = m_widget.grab();
}

void CShownPicture::Release() {
  m_kept = QPixmap();
  if (m_bShowedKept) m_widget.update();
  m_bShowedKept = false;
}

void CShownPicture::Paint(const std::function<void(QPainter&)>& draw) {
  QPainter painter(&m_widget);
  if (g_nRunning == 0) {
    draw(painter);
    return;
  }
  if (m_bLiveWhileWorking && DocumentsAtRest()) {
    // The worker waits: the picture is painted from the documents, and kept.
    const qreal ratio = m_widget.devicePixelRatioF();
    QPixmap fresh(m_widget.size() * ratio);
    fresh.setDevicePixelRatio(ratio);
    fresh.fill(m_widget.palette().color(m_widget.backgroundRole()));
    {
      QPainter onFresh(&fresh);
      draw(onFresh);
    }
    m_kept = fresh;
    painter.drawPixmap(0, 0, m_kept);
    return;
  }
  ++m_nKeptPaints;
  m_bShowedKept = true;
  painter.fillRect(m_widget.rect(), m_widget.palette().color(m_widget.backgroundRole()));
  if (!m_kept.isNull()) painter.drawPixmap(0, 0, m_kept);
}

}  // namespace tessara
