// How the entry tree reads the bytes its entries hold in their archive: each container format
// gives the tree a reader of its own (containers/), the tree knows only this interface.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/ContainerFormat.h"
#include "fileio/ReadSource.h"

namespace tarn {

class CPackObject;

// The bytes of one entry, pulled piece by piece: exactly the entry's size of them, or a failure.
class CEntryStream {
 public:
  virtual ~CEntryStream() = default;
  // Up to n bytes into dst: how many, 0 once all were read, or -1 with the reason in Error().
  virtual std::int64_t Read(std::uint8_t* dst, std::size_t n) = 0;
  const std::string& Error() const { return m_error; }

 protected:
  std::int64_t Fail(std::string why) {
    m_error = std::move(why);
    return -1;
  }
  std::string m_error;
};

// Bytes held elsewhere (in memory, in the source archive as they are), read from a start.
class CSpanStream final : public CEntryStream {
 public:
  CSpanStream(const std::uint8_t* data, std::size_t size) : m_data(data), m_left(size) {}
  std::int64_t Read(std::uint8_t* dst, std::size_t n) override;

 private:
  const std::uint8_t* m_data;
  std::size_t m_left;
};

// A stream that could not start: it says why at its first read.
class CFailedStream final : public CEntryStream {
 public:
  explicit CFailedStream(std::string why) : m_why(std::move(why)) {}
  std::int64_t Read(std::uint8_t*, std::size_t) override { return Fail(m_why); }

 private:
  std::string m_why;
};

// An archive opened for reading its entries' bytes; the root of the tree read from it keeps it.
class CArchiveReader {
 public:
  explicit CArchiveReader(std::shared_ptr<CReadSource> source) : m_source(std::move(source)) {}
  virtual ~CArchiveReader() = default;
  CArchiveReader(const CArchiveReader&) = delete;
  CArchiveReader& operator=(const CArchiveReader&) = delete;

  virtual ContainerFormat Format() const = 0;
  CReadSource& Source() const { return *m_source; }
  const std::shared_ptr<CReadSource>& SharedSource() const { return m_source; }
  // Why the source bytes of entry cannot be read, told without reading them; empty when they can.
  virtual std::string Unreadable(const CPackObject& entry) const;
  // The source bytes of entry (a zip's inflated and checked against its size and CRC).
  virtual std::unique_ptr<CEntryStream> Open(const CPackObject& entry) = 0;
  // When entry last changed as the archive tells: its own time in a zip; a PAK or a WAD keeps
  // none, so the archive file's.
  virtual std::int64_t MemberTime(const CPackObject& entry) const;
  // Where entry's record starts in the archive file, as a hex editor would find it: a PAK's or
  // WAD's data, a zip member's local header. -1 when the archive does not hold it.
  virtual std::int64_t MemberOffset(const CPackObject& entry) const;

 private:
  std::shared_ptr<CReadSource> m_source;
};

// Entries stored as they are at their offset: PAK and WAD.
class CRangeReader final : public CArchiveReader {
 public:
  CRangeReader(std::shared_ptr<CReadSource> source, ContainerFormat format)
      : CArchiveReader(std::move(source)), m_format(format) {}
  ContainerFormat Format() const override { return m_format; }
  std::string Unreadable(const CPackObject& entry) const override;
  std::unique_ptr<CEntryStream> Open(const CPackObject& entry) override;

 private:
  ContainerFormat m_format;
};

}  // namespace tarn
