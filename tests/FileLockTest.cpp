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
  // Give the waiter time to find the old file locked (either order must end the same way).
  std::this_thread::sleep_for(100ms);
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
