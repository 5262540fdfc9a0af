// An advisory lock on an archive for a whole read-modify-write, so that two programs editing
// one archive at once take turns instead of one silently losing the other's change.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "fileio/SafeSave.h"

namespace tarn {

class CFileLock {
 public:
  enum class Outcome { Locked, NoFile, TimedOut, Failed };

  // Takes an exclusive lock (flock) on the file the path names, following links, waiting up to
  // timeout for another holder. A save replaces the file, so a lock won on a file the path no
  // longer names is dropped and the new file locked instead. NoFile: there is nothing to lock.
  static Outcome Acquire(const std::filesystem::path& path, std::chrono::milliseconds timeout,
                         std::unique_ptr<CFileLock>* lock, std::string* error);
  ~CFileLock();
  CFileLock(const CFileLock&) = delete;
  CFileLock& operator=(const CFileLock&) = delete;

  // True when the lock is on the file of this stamp.
  bool Covers(const FileStamp& stamp) const { return m_stamp.SameFile(stamp); }

 private:
  CFileLock(int fd, FileStamp stamp) : m_fd(fd), m_stamp(stamp) {}
  int m_fd;
  FileStamp m_stamp;
};

}  // namespace tarn
