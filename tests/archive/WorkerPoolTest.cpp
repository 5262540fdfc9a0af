#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>

#include "TestSupport.h"
#include "fileio/WorkerPool.h"

namespace tarn::test {
namespace {

// A process allowed one CPU counts one, however many the machine has.
TEST(WorkerPool, WidthFollowsTheAffinityMask) {
  EXPECT_GE(UsableCpus(), 1u);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    if (sched_setaffinity(0, sizeof one, &one) != 0) _exit(2);
    _exit(UsableCpus() == 1 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Work that waits on work finishes on a pool whose only worker is busy waiting (the waiter
// runs what no worker has started), and what a task throws reaches whoever waits on it.
TEST(WorkerPool, WaitingNeverStallsAndErrorsReachTheWaiter) {
  CWorkerPool pool(1);
  std::atomic<int> ran{0};
  auto outer = pool.Submit([&] {
    auto inner = pool.Submit([&] { ++ran; });
    pool.Wait(inner);
    ++ran;
  });
  pool.Wait(outer);
  EXPECT_EQ(ran, 2);

  auto failing = pool.Submit([] { throw std::runtime_error("no room"); });
  EXPECT_THROW(pool.Wait(failing), std::runtime_error);

  std::atomic<int> copies{0};
  EXPECT_THROW(RunOnWorkers(3,
                            [&] {
                              if (++copies == 1) throw std::runtime_error("first copy");
                            }),
               std::runtime_error);
  EXPECT_EQ(copies, 1 + std::min(3u, CWorkerPool::Shared().Workers()));
}

}  // namespace
}  // namespace tarn::test
