#include "archive/ArchiveReader.h"

#include <algorithm>
#include <cstring>

#include "archive/PackObject.h"
#include "fileio/ReadSource.h"
#include "fileio/Strings.h"

namespace tarn {

std::int64_t CSpanStream::Read(std::uint8_t* dst, std::size_t n) {
  n = std::min(n, m_left);
  if (n) std::memcpy(dst, m_data, n);
  m_data += n;
  m_left -= n;
  return static_cast<std::int64_t>(n);
}

std::int64_t CArchiveReader::MemberTime(const CPackObject&) const {
  const auto* file = dynamic_cast<const CFileSource*>(m_source.get());
  return file && file->Stamp().exists ? file->Stamp().modifiedNs / 1000000000 : 0;
}

std::int64_t CArchiveReader::MemberOffset(const CPackObject& entry) const {
  return entry.BytesInSource() ? entry.Offset() : -1;
}

std::string CArchiveReader::Unreadable(const CPackObject& entry) const {
  const std::string name = Quoted(entry.PathInArchive());
  switch (entry.Problem()) {
    case EntryProblem::None: break;
    case EntryProblem::Outside: return "the data of " + name + " lie outside the archive";
    case EntryProblem::Encrypted: return name + ": encrypted entries are not supported";
    case EntryProblem::Method:
      return name + ": compression method " + std::to_string(entry.Location().method) + " is not supported";
    case EntryProblem::CompressedLump: return name + ": compressed WAD lumps are not supported";
  }
  return {};
}

namespace {

class CRangeStream final : public CEntryStream {
 public:
  CRangeStream(CReadSource& source, std::uint64_t at, std::uint64_t size, std::string label)
      : m_source(source), m_at(at), m_left(size), m_label(std::move(label)) {}
  std::int64_t Read(std::uint8_t* dst, std::size_t n) override {
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, m_left));
    if (n == 0) return 0;
    if (!m_source.ReadAt(m_at, dst, n)) return Fail("cannot read the bytes of " + Quoted(m_label));
    m_at += n;
    m_left -= n;
    return static_cast<std::int64_t>(n);
  }

 private:
  CReadSource& m_source;
  std::uint64_t m_at, m_left;
  std::string m_label;
};

}  // namespace

std::unique_ptr<CEntryStream> CRangeReader::Open(const CPackObject& entry) {
  if (!Unreadable(entry).empty()) return nullptr;
  return std::make_unique<CRangeStream>(Source(), static_cast<std::uint64_t>(entry.Offset()),
                                        static_cast<std::uint64_t>(entry.Size()), entry.PathInArchive());
}

std::string CRangeReader::Unreadable(const CPackObject& entry) const {
  std::string why = CArchiveReader::Unreadable(entry);
  if (why.empty() && !Source().Contains(entry.Offset(), entry.Size()))
    why = "the data of " + Quoted(entry.PathInArchive()) + " lie outside the archive";
  return why;
}

}  // namespace tarn
