// Random-access byte sources: the open archive on disk, or bytes in memory (tests, fuzzers).
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace tarn {

class CReadSource {
 public:
  virtual ~CReadSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Reads exactly n bytes at offset; false when any of them lies outside the source or the read fails.
  virtual bool ReadAt(std::uint64_t offset, void* dst, std::size_t n) = 0;

  bool Contains(std::int64_t offset, std::int64_t length) const {
    return offset >= 0 && length >= 0 && static_cast<std::uint64_t>(offset) <= Size() &&
           static_cast<std::uint64_t>(length) <= Size() - static_cast<std::uint64_t>(offset);
  }
};

// A file opened read-only; its size is taken once at opening.
class CFileSource final : public CReadSource {
 public:
  static std::shared_ptr<CFileSource> Open(const std::filesystem::path& path);
  ~CFileSource() override;
  CFileSource(const CFileSource&) = delete;
  CFileSource& operator=(const CFileSource&) = delete;

  std::uint64_t Size() const override { return m_size; }
  bool ReadAt(std::uint64_t offset, void* dst, std::size_t n) override;
  const std::filesystem::path& Path() const { return m_path; }

 private:
  CFileSource(std::FILE* f, std::filesystem::path path, std::uint64_t size)
      : m_file(f), m_path(std::move(path)), m_size(size) {}
  std::FILE* m_file;
  std::filesystem::path m_path;
  std::uint64_t m_size;
};

class CMemorySource final : public CReadSource {
 public:
  explicit CMemorySource(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}
  CMemorySource(const std::uint8_t* data, std::size_t n) : m_bytes(data, data + n) {}
  std::uint64_t Size() const override { return m_bytes.size(); }
  bool ReadAt(std::uint64_t offset, void* dst, std::size_t n) override;

 private:
  std::vector<std::uint8_t> m_bytes;
};

}  // namespace tarn
