// The split of a loop over worker threads: the workers are joined whatever
// the calling thread's own part does.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

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

}  // namespace
}  // namespace tessara
