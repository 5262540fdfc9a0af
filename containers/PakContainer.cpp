// The ".pak" container: a header, the files' bytes as they are, and a directory of 64-byte
// records naming them by their whole path.
#include <algorithm>
#include <cstring>

#include "containers/Container.h"
#include "containers/PakFormat.h"
#include "fileio/ByteIO.h"
#include "fileio/SafeSave.h"
#include "fileio/Strings.h"

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

// What is wrong with the directory, exactly, and how much of it could be read (read: the
// records read; a file cut short loses its directory first, which lies at its end).
void NoteDamage(const PakIndex& index, std::size_t read, DirectoryListing& listing) {
  const std::int64_t length = index.directoryLength, offset = index.directoryOffset;
  const auto fileSize = static_cast<std::int64_t>(index.fileSize);
  const std::int64_t wanted = length > 0 ? length / static_cast<std::int64_t>(pak::kRecordSize) : 0;
  const std::string readable = std::to_string(read) + " of " + std::to_string(wanted) + " entries can be read";
  if (fileSize < static_cast<std::int64_t>(pak::kHeaderSize)) {
    listing.problems.push_back("The file ends inside the PAK header (" + std::to_string(fileSize) + " of " +
                               std::to_string(pak::kHeaderSize) + " bytes): it has no directory to read.");
    return;
  }
  if (offset < 0 || length < 0)
    listing.problems.push_back("The header gives the directory a negative " +
                               std::string(offset < 0 ? "offset" : "length") + ": no entries can be read.");
  else if (index.directoryTruncated && offset >= fileSize)
    listing.problems.push_back("The directory lies past the end of the file (at " + std::to_string(offset) +
                               ", the file has " + std::to_string(fileSize) + " bytes): " + readable + ".");
  else if (index.directoryTruncated)
    listing.problems.push_back("The directory runs past the end of the file (" + std::to_string(offset) + " + " +
                               std::to_string(length) + " bytes, the file has " + std::to_string(fileSize) +
                               "): " + readable + ".");
  if (length % static_cast<std::int32_t>(pak::kRecordSize) != 0)
    listing.problems.push_back("The directory's length (" + std::to_string(length) +
                               " bytes) is not a whole number of 64-byte records.");
}

}  // namespace

DirectoryListing PakListing(const PakIndex& index) {
  DirectoryListing listing;
  listing.records.reserve(index.records.size());
  for (const PakRecord& rec : index.records) listing.Add(ToDirectoryRecord(rec));
  NoteDamage(index, index.records.size(), listing);
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
    std::size_t done = 0;
    while (done < index.recordCount) {
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
    NoteDamage(index, done, listing);
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
          // Quake's lookups compare paths as they are: each is written as the tree has it (a
          // read name as read, a given one as stored when given).
          std::memcpy(record.data(), path.data(), std::min(path.size(), pak::kMaxPathLength));
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
