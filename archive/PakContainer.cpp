// The ".pak" container: a header, the files' bytes as they are, and a directory of 64-byte
// records naming them by their whole path in lower case.
#include <algorithm>
#include <cstring>

#include "archive/ByteIO.h"
#include "archive/Container.h"
#include "archive/PakFormat.h"
#include "archive/SafeSave.h"
#include "archive/Strings.h"

namespace tarn {

namespace {

DirectoryRecord ToDirectoryRecord(const PakRecord& rec) {
  DirectoryRecord r;
  r.path = rec.path;
  r.size = rec.size;
  r.location.offset = rec.offset;
  r.problem = rec.dataInside ? EntryProblem::None : EntryProblem::Outside;
  return r;
}

void NoteDamage(const PakIndex& index, DirectoryListing& listing) {
  if (index.directoryTruncated || index.directoryLength % static_cast<std::int32_t>(pak::kRecordSize) != 0)
    listing.problems.push_back("The archive's directory is damaged; some entries may be missing.");
}

}  // namespace

DirectoryListing PakListing(const PakIndex& index) {
  DirectoryListing listing;
  listing.records.reserve(index.records.size());
  for (const PakRecord& rec : index.records) listing.Add(ToDirectoryRecord(rec));
  NoteDamage(index, listing);
  return listing;
}

namespace {

class CPakCodec final : public CContainerCodec {
 public:
  ContainerFormat Format() const override { return ContainerFormat::Pak; }

  std::unique_ptr<CArchiveReader> Open(std::shared_ptr<CReadSource> source, DirectoryListing& listing,
                                       std::string* error) const override {
    PakIndex index;
    if (ReadPakHeader(*source, index) != PakReadResult::Ok) {
      if (error) *error = "the file is not a PAK archive";
      return nullptr;
    }
    // Records handed on one by one are read a piece at a time; kept ones point into the
    // directory's bytes, which the listing then keeps whole.
    const std::size_t piece = listing.sink ? std::min<std::size_t>(index.recordCount, 1024) : index.recordCount;
    listing.rawDirectory.resize(piece * pak::kRecordSize);
    if (!listing.sink) listing.records.reserve(index.recordCount);
    listing.Expect(index.recordCount);
    for (std::size_t done = 0; done < index.recordCount;) {
      const std::size_t n = std::min(piece, index.recordCount - done);
      const std::uint64_t at = static_cast<std::uint64_t>(index.directoryOffset) + done * pak::kRecordSize;
      if (!source->ReadAt(at, listing.rawDirectory.data(), n * pak::kRecordSize)) {
        index.directoryTruncated = true;
        break;
      }
      for (std::size_t i = 0; i < n; ++i)
        listing.Add(ToDirectoryRecord(ParsePakRecord(*source, listing.rawDirectory.data() + i * pak::kRecordSize)));
      done += n;
    }
    NoteDamage(index, listing);
    return std::make_unique<CRangeReader>(std::move(source), ContainerFormat::Pak);
  }

  std::vector<std::string> Check(std::shared_ptr<CReadSource> source) const override {
    PakIndex index;
    if (ReadPakIndex(*source, index) != PakReadResult::Ok) return {"the file is no longer a PAK archive"};
    return CheckPakIndex(index);
  }

  std::vector<std::string> SaveBlockers(const CPackObject& root) const override {
    std::vector<std::string> blockers;
    std::int64_t end = static_cast<std::int64_t>(pak::kHeaderSize);
    std::int64_t files = 0;
    std::string path;
    VisitFilesInSaveOrder(root, path, [&](const std::string& p, const CPackObject& file) {
      ++files;
      if (p.size() > pak::kMaxPathLength)
        blockers.push_back("The path " + Quoted(p) + " is longer than 55 characters.");
      // What extraction would refuse is not written either: no "..", no absolute or empty
      // names, no control characters (a NUL would cut the name short in the record).
      if (const std::string why = UnsafePathReason(p); !why.empty())
        blockers.push_back("The path " + Quoted(p) + " cannot be stored in a PAK: " + why + ".");
      if (file.Size() < 0) blockers.push_back("The file " + Quoted(p) + " has an invalid size.");
      else if (file.Size() > pak::kMaxArchiveSize)
        blockers.push_back("The file " + Quoted(p) + " is 2 GiB or larger, more than a PAK file can hold.");
      end += std::clamp<std::int64_t>(file.Size(), 0, pak::kMaxArchiveSize);
    });
    end += files * static_cast<std::int64_t>(pak::kRecordSize);
    if (end > pak::kMaxArchiveSize)
      blockers.push_back("The archive would be " + std::to_string(end) +
                         " bytes, more than the 2 GiB a PAK file can hold.");
    return blockers;
  }

  bool Write(const CPackObject& root, CSafeSave& out, const WriteOptions& options, std::string* error) const override {
    return WriteFilesThenDirectory(
        out, root, {'P', 'A', 'C', 'K', 0, 0, 0, 0, 0, 0, 0, 0},
        [](const std::string& path, const CPackObject& file, std::uint32_t offset, std::vector<std::uint8_t>& record,
           std::string*) {
          record.assign(pak::kRecordSize, 0);
          // Quake's lookups compare paths as they are, and ask for them in lower case.
          const std::string stored = ToLower(path);
          std::memcpy(record.data(), stored.data(), std::min(stored.size(), pak::kMaxPathLength));
          StoreU32(record.data() + pak::kNameField, offset);
          StoreU32(record.data() + pak::kNameField + 4, static_cast<std::uint32_t>(file.Size()));
          return true;
        },
        [](std::vector<std::uint8_t>& header, std::uint32_t directoryOffset, std::uint32_t count) {
          StoreU32(header.data() + 4, directoryOffset);
          StoreU32(header.data() + 8, count * static_cast<std::uint32_t>(pak::kRecordSize));
        },
        error, options.progress);
  }
};

}  // namespace

const CContainerCodec& PakCodec() {
  static const CPakCodec codec;
  return codec;
}

}  // namespace tarn
