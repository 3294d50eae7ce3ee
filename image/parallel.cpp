#include "image/parallel.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace tessara {

int WorkerCount() {
  static const int n = [] {
    if (const char* v = std::getenv("TESSARA_WORKERS")) {
      const int asked = std::atoi(v);
      if (asked >= 1 && asked <= 64) return asked;
    }
    return static_cast<int>(std::max(1u, std::min(8u, std::thread::hardware_concurrency())));
  }();
  return n;
}

namespace {

// One call's parts. Whoever takes a part (a worker or the caller) counts it
// done when it ends; the caller waits for the count.
struct Batch {
  const std::function<void(int)>* part = nullptr;
  int parts = 0;
  int taken = 0;  // guarded by the pool's lock
  int done = 0;   // guarded by the pool's lock
  std::exception_ptr error;
  std::condition_variable finished;
};

class WorkerPool {
 public:
  explicit WorkerPool(int threads) {
    for (int i = 0; i < threads; ++i) m_threads.emplace_back([this] { Work(); });
  }
  ~WorkerPool() {
    {
      std::lock_guard lock(m_lock);
      m_closing = true;
    }
    m_waiting.notify_all();
    for (std::thread& t : m_threads) t.join();
  }

  void Run(int parts, const std::function<void(int)>& part) {
    Batch batch;
    batch.part = &part;
    batch.parts = parts;
    std::unique_lock lock(m_lock);
    m_queue.push_back(&batch);
    lock.unlock();
    m_waiting.notify_all();
    lock.lock();
    // The caller takes parts too, so a call from inside a part never waits
    // for workers that are all busy waiting themselves.
    while (batch.taken < batch.parts) RunOne(batch, lock);
    batch.finished.wait(lock, [&] { return batch.done == batch.parts; });
    if (batch.error) std::rethrow_exception(batch.error);
  }

 private:
  // Runs the batch's next part with the lock released; called with the lock
  // held and a part left to take.
  void RunOne(Batch& batch, std::unique_lock<std::mutex>& lock) {
    const int index = batch.taken++;
    if (batch.taken == batch.parts) m_queue.erase(std::find(m_queue.begin(), m_queue.end(), &batch));
    lock.unlock();
    std::exception_ptr error;
    try {
      (*batch.part)(index);
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    if (error && !batch.error) batch.error = error;
    if (++batch.done == batch.parts) batch.finished.notify_all();
  }

  void Work() {
    std::unique_lock lock(m_lock);
    for (;;) {
      m_waiting.wait(lock, [&] { return m_closing || !m_queue.empty(); });
      if (m_closing) return;
      RunOne(*m_queue.front(), lock);
    }
  }

  std::mutex m_lock;
  std::condition_variable m_waiting;
  std::deque<Batch*> m_queue;
  bool m_closing = false;
  std::vector<std::thread> m_threads;
};

}  // namespace

void RunParts(int parts, const std::function<void(int)>& part) {
  if (parts <= 0) return;
  if (parts == 1) {
    part(0);
    return;
  }
  // The calling thread is one of the workers.
  static WorkerPool pool(WorkerCount() - 1);
  pool.Run(parts, part);
}

}  // namespace tessara
