#include "fileio/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "fileio/Strings.h"

namespace tarn {

CFileLock::Outcome CFileLock::Acquire(const std::filesystem::path& path, std::chrono::milliseconds timeout,
                                      std::unique_ptr<CFileLock>* lock, std::string* error) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  auto fail = [&](Outcome outcome, const std::string& why) {
    if (error) *error = Quoted(path.string()) + ": " + why;
    return outcome;
  };
  while (true) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? Outcome::NoFile : fail(Outcome::Failed, SystemReason(errno));
    bool held = false;
    while (true) {
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        held = true;
        break;
      }
      if (errno != EWOULDBLOCK && errno != EINTR) {
        const int err = errno;
        ::close(fd);
        return fail(Outcome::Failed, SystemReason(err));
      }
      if (std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!held) {
      ::close(fd);
      return fail(Outcome::TimedOut, "another program is changing it");
    }
    const FileStamp locked = FileStamp::OfDescriptor(fd);
    if (locked.SameFile(FileStamp::OfPath(path))) {
      lock->reset(new CFileLock(fd, locked));
      return Outcome::Locked;
    }
    // The holder replaced the file while this one waited: the lock guards nothing now.
    ::close(fd);
  }
}

CFileLock::~CFileLock() { ::close(m_fd); }

}  // namespace tarn
