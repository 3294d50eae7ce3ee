// Runs independent pieces of a pixel loop on every core. Each index of the range
// is handled exactly once and no two indices touch the same output bytes, so the
// result is the same as a loop on one thread. Stopping and progress stay with
// the caller, between calls.
#pragma once

#include <algorithm>
#include <functional>

namespace tessara {

// One worker per core, at most 8. TESSARA_WORKERS (1..64) sets the count for a
// run, so the thread checks can split the work more ways than the machine has
// cores.
int WorkerCount();

// Calls part(0) .. part(parts - 1), each once, on the program's worker threads
// and the calling thread, and returns when all are done. The worker threads
// are started once and kept. A call made from inside a part (on a worker or
// not) runs as well: a caller waiting for its parts runs them itself while
// nobody else has taken them. When parts throw, the first exception reaches
// the caller once every part has ended.
void RunParts(int parts, const std::function<void(int)>& part);

// Calls fn(begin, end) on contiguous parts of [begin, end), one per core; small
// ranges stay on the calling thread.
template <typename Fn>
void ParallelRanges(int begin, int end, int minPerThread, Fn&& fn) {
  const int total = end - begin;
  const int parts = std::max(1, std::min(WorkerCount(), total / std::max(1, minPerThread)));
  if (parts <= 1) {
    if (total > 0) fn(begin, end);
    return;
  }
  const int step = (total + parts - 1) / parts;
  RunParts(parts, [&fn, begin, end, step](int i) {
    const int b = begin + i * step, e = std::min(end, b + step);
    if (b < e) fn(b, e);
  });
}

}  // namespace tessara
