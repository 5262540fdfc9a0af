// Random-access byte sources: the open archive on disk, or bytes in memory (tests, fuzzers).
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "fileio/SafeSave.h"

namespace tarn {

class CReadSource {
 public:
  virtual ~CReadSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Reads exactly n bytes at offset; false when any of them lies outside the source or the read
  // fails. Safe to call from several threads at once.
  virtual bool ReadAt(std::uint64_t offset, void* dst, std::size_t n) = 0;

  bool Contains(std::int64_t offset, std::int64_t length) const {
    return offset >= 0 && length >= 0 && static_cast<std::uint64_t>(offset) <= Size() &&
           static_cast<std::uint64_t>(length) <= Size() - static_cast<std::uint64_t>(offset);
  }
};

// A file opened read-only; its size is taken once at opening.
class CFileSource final : public CReadSource {
 public:
  // nullptr, with the system's reason in why, when the file cannot be opened or is not a regular file.
  static std::shared_ptr<CFileSource> Open(const std::filesystem::path& path, std::string* why = nullptr);
  ~CFileSource() override;
  CFileSource(const CFileSource&) = delete;
  CFileSource& operator=(const CFileSource&) = delete;

  std::uint64_t Size() const override { return static_cast<std::uint64_t>(m_stamp.size); }
  bool ReadAt(std::uint64_t offset, void* dst, std::size_t n) override;
  const std::filesystem::path& Path() const { return m_path; }
  // The open file as it was when opened.
  const FileStamp& Stamp() const { return m_stamp; }
  // True when the open file was written to since (by whatever program): offsets read from it
  // then no longer describe its bytes.
  bool ChangedSinceOpened() const;

 private:
  CFileSource(std::FILE* f, std::filesystem::path path, FileStamp stamp)
      : m_file(f), m_path(std::move(path)), m_stamp(stamp) {}
  std::FILE* m_file;
  std::filesystem::path m_path;
  FileStamp m_stamp;
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
