#include "archive/ReadSource.h"

#include <sys/stat.h>

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
  if (n == 0) return true;
  if (std::fseek(m_file, static_cast<long>(offset), SEEK_SET) != 0) return false;
  return std::fread(dst, 1, n, m_file) == n;
}

bool CMemorySource::ReadAt(std::uint64_t offset, void* dst, std::size_t n) {
  if (!Contains(static_cast<std::int64_t>(offset), static_cast<std::int64_t>(n))) return false;
  if (n) std::memcpy(dst, m_bytes.data() + offset, n);
  return true;
}

}  // namespace tarn
