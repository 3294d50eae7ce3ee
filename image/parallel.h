// Runs independent pieces of a pixel loop on every core. Each index of the range
// is handled exactly once and no two indices touch the same output bytes, so the
// result is the same as a loop on one thread. Stopping and progress stay with
// the caller, between calls.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <thread>
#include <vector>

namespace tessara {

// One worker per core, at most 8. TESSARA_WORKERS (1..64) sets the count for a
// run, so the thread checks can split the work more ways than the machine has
// cores.
inline int WorkerCount() {
  static const int n = [] {
    if (const char* v = std::getenv("TESSARA_WORKERS")) {
      const int asked = std::atoi(v);
      if (asked >= 1 && asked <= 64) return asked;
    }
    return static_cast<int>(std::max(1u, std::min(8u, std::thread::hardware_concurrency())));
  }();
  return n;
}

// Calls fn(begin, end) on contiguous parts of [begin, end), one per core; small
// ranges stay on the calling thread. The workers are joined when the call
// ends, also when the calling thread's part throws.
template <typename Fn>
void ParallelRanges(int begin, int end, int minPerThread, Fn&& fn) {
  const int total = end - begin;
  const int parts = std::max(1, std::min(WorkerCount(), total / std::max(1, minPerThread)));
  if (parts <= 1) {
    if (total > 0) fn(begin, end);
    return;
  }
  std::vector<std::jthread> threads;
  threads.reserve(static_cast<size_t>(parts - 1));
  const int step = (total + parts - 1) / parts;
  for (int i = 1; i < parts; ++i) {
    const int b = begin + i * step, e = std::min(end, b + step);
    if (b < e) threads.emplace_back([&fn, b, e] { fn(b, e); });
  }
  fn(begin, std::min(end, begin + step));
}

}  // namespace tessara
