#include "archive/ReadSource.h"

#include <cstring>

namespace tarn {

std::shared_ptr<CFileSource> CFileSource::Open(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return nullptr;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return nullptr;
  if (std::fseek(f, 0, SEEK_END) != 0) {
    std::fclose(f);
    return nullptr;
  }
  long end = std::ftell(f);
  if (end < 0) {
    std::fclose(f);
    return nullptr;
  }
  return std::shared_ptr<CFileSource>(new CFileSource(f, path, static_cast<std::uint64_t>(end)));
}

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
