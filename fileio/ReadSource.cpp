#include "fileio/ReadSource.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarn {

std::shared_ptr<CFileSource> CFileSource::Open(const std::filesystem::path& path, std::string* why) {
  auto fail = [&](const std::string& reason) -> std::shared_ptr<CFileSource> {
    if (why) *why = reason;
    return nullptr;
  };
  // Looked at before opening: opening a pipe would wait for a writer.
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return fail(SystemReason(errno));
  if (!S_ISREG(st.st_mode)) return fail(S_ISDIR(st.st_mode) ? SystemReason(EISDIR) : "not a regular file");
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return fail(SystemReason(errno));
  return std::shared_ptr<CFileSource>(new CFileSource(f, path, FileStamp::OfDescriptor(::fileno(f))));
}

bool CFileSource::ChangedSinceOpened() const { return !(FileStamp::OfDescriptor(::fileno(m_file)) == m_stamp); }

CFileSource::~CFileSource() { std::fclose(m_file); }

bool CFileSource::ReadAt(std::uint64_t offset, void* dst, std::size_t n) {
  if (!Contains(static_cast<std::int64_t>(offset), static_cast<std::int64_t>(n))) return false;
  // pread shares no file position: a save on one thread and a preview on another both read.
  auto* p = static_cast<char*>(dst);
  while (n > 0) {
    const ssize_t got = ::pread(::fileno(m_file), p, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
  return true;
}

bool CMemorySource::ReadAt(std::uint64_t offset, void* dst, std::size_t n) {
  if (!Contains(static_cast<std::int64_t>(offset), static_cast<std::int64_t>(n))) return false;
  if (n) std::memcpy(dst, m_bytes.data() + offset, n);
  return true;
}

}  // namespace tarn
