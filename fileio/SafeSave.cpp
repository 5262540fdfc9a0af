#include "fileio/SafeSave.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "fileio/Strings.h"

namespace tarn {

namespace fs = std::filesystem;

namespace {

FileStamp StampOf(const struct stat& st) {
  FileStamp s;
  s.exists = true;
  s.device = static_cast<std::uint64_t>(st.st_dev);
  s.inode = static_cast<std::uint64_t>(st.st_ino);
  s.size = static_cast<std::int64_t>(st.st_size);
  s.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return s;
}

// Temporaries carry their target's name, cut so that the whole stays within a name's limit.
std::string TempPrefix(const std::string& name) { return "." + name.substr(0, 200) + ".tarn-"; }

std::string TempName(const std::string& name) {
  static std::atomic<unsigned> counter{0};
  return TempPrefix(name) + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
}

// An unnamed file can be given a name only through /proc (linkat with AT_EMPTY_PATH needs a
// capability ordinary users lack); without it, temporaries are named from the start.
bool CanNameUnnamedFiles() {
  static const bool can = ::access("/proc/self/fd", X_OK) == 0;
  return can;
}

unsigned CurrentUmask() {
  // Read rather than set and restore, which would race with other threads creating files.
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Umask:", 0) == 0) return static_cast<unsigned>(std::stoul(line.substr(6), nullptr, 8)) & 0777u;
  const mode_t old = ::umask(022);
  ::umask(old);
  return static_cast<unsigned>(old);
}

// The named temporaries that exist (or are about to) while their writers work, for a signal
// handler to remove before the process dies of the signal: a kill leaves the next save to
// clean up, but an interrupt can do it at once. Slots of fixed size, filled and emptied
// without a lock, since the handler may run on any thread at any moment; only async-signal-safe
// calls read them there.
struct PendingName {
  // Free, being filled, naming a file, or taken by the handler (which then never gives it back:
  // the process is ending).
  enum : int { kFree, kFilling, kNamed, kTaken };
  std::atomic<int> state{kFree};
  int dir = -1;
  char name[256] = {};
};
constexpr std::size_t kPendingSlots = 64;
PendingName g_pending[kPendingSlots];

// The slot now naming name in the folder dir; -1 when none is free (the name then waits for
// the next save's sweep, as after a kill).
int NotePending(int dir, const std::string& name) {
  if (name.size() >= sizeof(PendingName::name)) return -1;
  for (std::size_t i = 0; i < kPendingSlots; ++i) {
    int expected = PendingName::kFree;
    if (!g_pending[i].state.compare_exchange_strong(expected, PendingName::kFilling)) continue;
    g_pending[i].dir = dir;
    std::memcpy(g_pending[i].name, name.c_str(), name.size() + 1);
    g_pending[i].state.store(PendingName::kNamed, std::memory_order_release);
    return static_cast<int>(i);
  }
  return -1;
}

void ForgetPending(int& slot) {
  if (slot < 0) return;
  int expected = PendingName::kNamed;
  g_pending[slot].state.compare_exchange_strong(expected, PendingName::kFree);
  slot = -1;
}

void RemovePendingThenDie(int sig) {
  RemovePendingTemporaries();
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

}  // namespace

void RemovePendingTemporaries() {
  for (PendingName& p : g_pending) {
    int expected = PendingName::kNamed;
    if (p.state.compare_exchange_strong(expected, PendingName::kTaken)) ::unlinkat(p.dir, p.name, 0);
  }
}

void RemoveTemporariesOnSignals() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction now {};
    // A signal ignored on purpose (nohup) stays ignored.
    if (::sigaction(sig, nullptr, &now) != 0 || now.sa_handler == SIG_IGN) continue;
    struct sigaction on {};
    on.sa_handler = RemovePendingThenDie;
    ::sigemptyset(&on.sa_mask);
    ::sigaction(sig, &on, nullptr);
  }
}

FileStamp FileStamp::OfPath(const fs::path& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? StampOf(st) : FileStamp{};
}

FileStamp FileStamp::OfDescriptor(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 ? StampOf(st) : FileStamp{};
}

std::string SystemReason(int err) { return std::strerror(err); }

std::string SaveFailure::Text() const { return Quoted(path.string()) + ": " + reason; }

SaveTarget InspectSaveTarget(const fs::path& path) {
  SaveTarget t;
  t.requested = path;
  fs::path p = path;
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (::lstat(p.c_str(), &st) != 0) {
      if (errno != ENOENT) t.refusal = SystemReason(errno);
      break;
    }
    if (S_ISLNK(st.st_mode)) {
      if (hops == 40) {
        t.refusal = SystemReason(ELOOP);
        break;
      }
      std::error_code ec;
      const fs::path link = fs::read_symlink(p, ec);
      if (ec) {
        t.refusal = ec.message();
        break;
      }
      p = link.is_absolute() ? link : p.parent_path() / link;
      continue;
    }
    t.exists = true;
    t.stamp = StampOf(st);
    if (S_ISDIR(st.st_mode)) {
      t.refusal = SystemReason(EISDIR);
    } else if (!S_ISREG(st.st_mode)) {
      t.refusal = "not a regular file";
    } else {
      t.otherNames = st.st_nlink > 1 ? static_cast<std::uint64_t>(st.st_nlink - 1) : 0;
      t.mode = static_cast<unsigned>(st.st_mode & 07777);
      t.owner = st.st_uid;
      t.group = st.st_gid;
      // The write bits count even for a process the system lets write anything.
      t.readOnly =
          (st.st_mode & 0222) == 0 || (::faccessat(AT_FDCWD, p.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES);
    }
    break;
  }
  t.path = p;
  return t;
}

std::vector<SaveConcern> ConcernsOf(const SaveTarget& target, const std::optional<FileStamp>& expected) {
  std::vector<SaveConcern> concerns;
  if (!target.exists) return concerns;
  if (expected && !(target.stamp == *expected)) concerns.push_back(SaveConcern::ChangedOnDisk);
  if (target.otherNames > 0) concerns.push_back(SaveConcern::HardLinks);
  if (target.readOnly) concerns.push_back(SaveConcern::ReadOnly);
  return concerns;
}

std::string DescribeConcern(SaveConcern concern, const SaveTarget& target) {
  const std::string name = Quoted(target.requested.string());
  switch (concern) {
    case SaveConcern::HardLinks: {
      const std::string n = std::to_string(target.otherNames);
      return name + " has " + n + (target.otherNames == 1 ? " other name" : " other names") +
             " (hard links); saving gives this name a new file and leaves " +
             (target.otherNames == 1 ? "the other" : "the others") + " with the old contents.";
    }
    case SaveConcern::ReadOnly: return name + " is read-only.";
    case SaveConcern::ChangedOnDisk: return name + " has been changed on disk since it was opened or last saved.";
  }
  return name;
}

// --- the pending file ---

int CPendingFile::Descriptor() const { return m_file ? ::fileno(m_file) : -1; }

bool CPendingFile::Create(int dirFd, const std::string& name, unsigned mode, bool unnamed, int* err) {
  Discard();
  m_dir = dirFd;
  m_name = name;
  int fd = -1;
  m_unnamed = false;
  if (unnamed && CanNameUnnamedFiles()) {
    fd = ::openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, static_cast<mode_t>(mode));
    // Only a file system that cannot make unnamed files falls back; anything else is the answer.
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      *err = errno;
      return false;
    }
    m_unnamed = fd >= 0;
  }
  while (fd < 0) {
    m_tempName = TempName(name);
    // Noted before it is made: an interrupt between the two would leave it otherwise.
    m_pendingSlot = NotePending(dirFd, m_tempName);
    fd = ::openat(dirFd, m_tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  static_cast<mode_t>(mode));
    if (fd < 0) {
      const int why = errno;
      ForgetPending(m_pendingSlot);
      if (why == EEXIST) continue;
      *err = why;
      m_tempName.clear();
      return false;
    }
  }
  // Held until the file is closed: tells RemoveStaleTemporaries that its writer lives.
  ::flock(fd, LOCK_EX | LOCK_NB);
  m_file = ::fdopen(fd, "wb");
  if (!m_file) {
    *err = errno;
    ::close(fd);
    Discard();
    return false;
  }
  return true;
}

bool CPendingFile::Flush(bool sync, int* err) {
  if (!m_file) {
    *err = EBADF;
    return false;
  }
  if (std::fflush(m_file) != 0 || (sync && ::fsync(Descriptor()) != 0)) {
    *err = errno;
    return false;
  }
  return true;
}

bool CPendingFile::Link(int* err) {
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", Descriptor());
  while (true) {
    m_tempName = TempName(m_name);
    m_pendingSlot = NotePending(m_dir, m_tempName);
    if (::linkat(AT_FDCWD, self, m_dir, m_tempName.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    const int why = errno;
    ForgetPending(m_pendingSlot);
    if (why != EEXIST) {
      *err = why;
      m_tempName.clear();
      return false;
    }
  }
}

bool CPendingFile::Publish(bool syncFolder, int* err) {
  if (!m_file) {
    *err = EBADF;
    return false;
  }
  if (m_unnamed && !Link(err)) return false;
  const int closed = std::fclose(m_file);
  m_file = nullptr;
  if (closed != 0) {
    *err = errno;
    return false;
  }
  if (::renameat(m_dir, m_tempName.c_str(), m_dir, m_name.c_str()) != 0) {
    *err = errno;
    return false;
  }
  m_tempName.clear();
  ForgetPending(m_pendingSlot);
  if (syncFolder) ::fsync(m_dir);
  return true;
}

void CPendingFile::Discard() {
  if (m_file) std::fclose(m_file);
  m_file = nullptr;
  if (!m_tempName.empty()) ::unlinkat(m_dir, m_tempName.c_str(), 0);
  m_tempName.clear();
  ForgetPending(m_pendingSlot);
}

int RemoveStaleTemporaries(int dirFd, const std::string& name) {
  const int listFd = ::dup(dirFd);
  if (listFd < 0) return 0;
  DIR* d = ::fdopendir(listFd);
  if (!d) {
    ::close(listFd);
    return 0;
  }
  ::rewinddir(d);
  const std::string prefix = TempPrefix(name);
  int removed = 0;
  while (const dirent* e = ::readdir(d)) {
    const std::string n = e->d_name;
    if (n.rfind(prefix, 0) != 0 || n.size() < prefix.size() + 4 || n.compare(n.size() - 4, 4, ".tmp") != 0) continue;
    const long pid = std::strtol(n.c_str() + prefix.size(), nullptr, 10);
    // A writer that still runs, or that cannot be asked, keeps its file.
    if (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    const int fd = ::openat(dirFd, n.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    // And one whose lock is held (a writer of another machine, a reused number) keeps it too.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::unlinkat(dirFd, n.c_str(), 0) == 0)
      ++removed;
    ::close(fd);
  }
  ::closedir(d);
  return removed;
}

// --- the save ---

bool CSafeSave::Fail(SaveStage stage, const std::string& reason) {
  m_failure = {stage, m_target.path.empty() ? m_target.requested : m_target.path, reason};
  m_file.Discard();
  return false;
}

bool CSafeSave::FailErrno(SaveStage stage, int err) { return Fail(stage, SystemReason(err)); }

bool CSafeSave::Begin(const fs::path& path, const Options& options) {
  Abort();
  m_failure = {};
  m_committed = {};
  m_writeErrno = 0;
  m_unstarted = 0;
  m_target = InspectSaveTarget(path);
  if (!m_target.refusal.empty()) return Fail(SaveStage::Replace, m_target.refusal);
  for (SaveConcern c : ConcernsOf(m_target, options.expected))
    if (!options.consent.Allows(c)) return Fail(SaveStage::Refused, DescribeConcern(c, m_target));

  const fs::path folder = m_target.path.has_parent_path() ? m_target.path.parent_path() : fs::path(".");
  m_dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (m_dir < 0) return FailErrno(SaveStage::Create, errno);
  const std::string leaf = m_target.path.filename().string();
  RemoveStaleTemporaries(m_dir, leaf);
  int err = 0;
  // Private while it is written; given the old file's mode (or the usual one) when complete.
  if (!m_file.Create(m_dir, leaf, 0600, options.unnamedTemporary, &err)) return FailErrno(SaveStage::Create, err);
  // Archives are written in pieces of a few KiB (libzip copies entries 8 KiB at a time): a
  // large buffer makes them a few large writes. The C library sizes no buffer it is not given.
  if (!m_buffer) m_buffer = std::make_unique<char[]>(kBufferSize);
  std::setvbuf(File(), m_buffer.get(), _IOFBF, kBufferSize);
  return true;
}

bool CSafeSave::Write(const void* data, std::size_t n) {
  if (!File()) return false;
  if (n && std::fwrite(data, 1, n, File()) != n) {
    WriteFailed(errno);
    return false;
  }
  // A large archive goes to the disk as it is written, not all at the flush before the rename:
  // the disk then works while the rest is being made.
  m_unstarted += n;
  if (m_unstarted >= (8u << 20)) {
    m_unstarted = 0;
    if (std::fflush(File()) != 0) {
      WriteFailed(errno);
      return false;
    }
    ::sync_file_range(m_file.Descriptor(), 0, 0, SYNC_FILE_RANGE_WRITE);
  }
  return true;
}

void CSafeSave::WriteFailed(int err) {
  if (!m_writeErrno) m_writeErrno = err ? err : EIO;
}

bool CSafeSave::Commit() {
  if (!File()) return m_failure.stage == SaveStage::None ? Fail(SaveStage::Create, SystemReason(EBADF)) : false;
  if (m_writeErrno) return FailErrno(SaveStage::Write, m_writeErrno);
  if (std::ferror(File())) return FailErrno(SaveStage::Write, EIO);
  int err = 0;
  if (!m_file.Flush(true, &err)) return FailErrno(SaveStage::Write, err);

  const int fd = m_file.Descriptor();
  if (m_target.exists) {
    // Owner first: a change of owner clears the set-id bits that the mode then restores.
    struct stat now;
    if (::fstat(fd, &now) == 0 && (now.st_uid != m_target.owner || now.st_gid != m_target.group) &&
        ::fchown(fd, m_target.owner, m_target.group) != 0)
      (void)::fchown(fd, static_cast<uid_t>(-1), m_target.group);
    ::fchmod(fd, static_cast<mode_t>(m_target.mode));
  } else {
    ::fchmod(fd, static_cast<mode_t>(0666u & ~CurrentUmask()));
  }

  // Someone else wrote the target while this save ran: theirs stays, this one fails.
  const std::string leaf = m_target.path.filename().string();
  struct stat st;
  const FileStamp current = ::fstatat(m_dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? StampOf(st) : FileStamp{};
  if (!(current == m_target.stamp))
    return Fail(SaveStage::Replace, "it was changed by another program while it was being saved");

  m_committed = FileStamp::OfDescriptor(fd);
  if (!m_file.Publish(true, &err)) {
    m_committed = {};
    return FailErrno(SaveStage::Replace, err);
  }
  ::close(m_dir);
  m_dir = -1;
  return true;
}

void CSafeSave::Abort() {
  m_file.Discard();
  if (m_dir >= 0) ::close(m_dir);
  m_dir = -1;
}

}  // namespace tarn
