#include <thread>

#include "TestSupport.h"
#include "fileio/FileLock.h"

namespace tarn::test {
namespace {

using namespace std::chrono_literals;

TEST(FileLock, ASecondHolderWaitsThenGivesUp) {
  TempDir dir;
  const fs::path p = dir / "a.pak";
  std::unique_ptr<CFileLock> first, second;
  std::string why;
  EXPECT_EQ(CFileLock::Acquire(p, 0ms, &first, &why), CFileLock::Outcome::NoFile);
  WriteFile(p, "x");
  ASSERT_EQ(CFileLock::Acquire(p, 0ms, &first, &why), CFileLock::Outcome::Locked);
  EXPECT_TRUE(first->Covers(FileStamp::OfPath(p)));
  EXPECT_EQ(CFileLock::Acquire(p, 50ms, &second, &why), CFileLock::Outcome::TimedOut);
  EXPECT_EQ(why, "\"" + p.string() + "\": another program is changing it");
  first.reset();
  EXPECT_EQ(CFileLock::Acquire(p, 0ms, &second, &why), CFileLock::Outcome::Locked);
}

TEST(FileLock, AWaiterLocksTheFileThatReplacedTheLockedOne) {
  TempDir dir;
  const fs::path p = dir / "a.pak";
  WriteFile(p, "old");
  std::unique_ptr<CFileLock> holder, waiter;
  std::string why;
  ASSERT_EQ(CFileLock::Acquire(p, 0ms, &holder, &why), CFileLock::Outcome::Locked);
  CFileLock::Outcome outcome = CFileLock::Outcome::Failed;
  std::thread other([&] { outcome = CFileLock::Acquire(p, 60s, &waiter, &why); });
  // Either order must end the same way; the harder one is the waiter holding the old file
  // open when it is replaced, so wait (on what the waiter does, not on the clock) until it has
  // opened it.
  const auto opened = [&] {
    int count = 0;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      if (fs::read_symlink(fd.path(), ec) == p) ++count;
    }
    return count >= 2;
  };
  while (!opened()) std::this_thread::yield();
  // The holder saves: a new file takes the name, then the lock on the old one goes.
  WriteFile(dir / "new", "new");
  fs::rename(dir / "new", p);
  holder.reset();
  other.join();
  ASSERT_EQ(outcome, CFileLock::Outcome::Locked);
  EXPECT_TRUE(waiter->Covers(FileStamp::OfPath(p)));
}

}  // namespace
}  // namespace tarn::test
