// The split of a loop over worker threads: every part runs once, whatever the
// others do, on threads that are kept from call to call.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "image/parallel.h"

namespace tessara {
namespace {

// The calling thread's part throws while the workers still run: they are
// joined (each part done once) and the exception reaches the caller.
TEST(ParallelRanges, ThrowOnTheCallingThreadJoinsTheWorkers) {
  if (WorkerCount() < 2) GTEST_SKIP() << "one worker: nothing runs beside the calling thread";
  std::atomic<int> done{0};
  EXPECT_THROW(ParallelRanges(0, 1000, 1,
                              [&](int b, int e) {
                                if (b == 0) throw std::runtime_error("first part");
                                done += e - b;
                              }),
               std::runtime_error);
  const int step = (1000 + WorkerCount() - 1) / WorkerCount();
  EXPECT_EQ(done.load(), 1000 - step);
}

// The same threads serve every call: forty calls run on no more threads than
// one call splits into (threads started per call would be new every time).
TEST(ParallelRanges, WorkersAreKeptFromCallToCall) {
  if (WorkerCount() < 2) GTEST_SKIP() << "one worker: nothing runs beside the calling thread";
  std::mutex lock;
  std::set<std::thread::id> seen;
  for (int round = 0; round < 40; ++round)
    ParallelRanges(0, 64, 1, [&](int, int) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      std::lock_guard hold(lock);
      seen.insert(std::this_thread::get_id());
    });
  EXPECT_LE(seen.size(), static_cast<size_t>(WorkerCount()));
}

// Calls from inside parts, and from two threads at once, all finish with
// every index done exactly once (a pool whose workers wait for each other
// would hang here).
TEST(ParallelRanges, NestedAndConcurrentCallsFinish) {
  std::vector<std::atomic<int>> hits(200 * 50);
  const auto nested = [&] {
    ParallelRanges(0, 200, 1, [&](int b, int e) {
      for (int i = b; i < e; ++i)
        ParallelRanges(0, 50, 1, [&](int c, int d) {
          for (int j = c; j < d; ++j) ++hits[static_cast<size_t>(i * 50 + j)];
        });
    });
  };
  std::thread other(nested);
  nested();
  other.join();
  for (const auto& h : hits) ASSERT_EQ(h.load(), 2);
}

}  // namespace
}  // namespace tessara
