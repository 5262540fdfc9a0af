// WAD2 and WAD3 as containers: flat, each lump shown as a file named after it with an
// extension that keeps its type (see WadFormat.h).
#include <algorithm>
#include <cstring>

#include "archive/EntryNames.h"
#include "containers/Container.h"
#include "containers/WadFormat.h"
#include "fileio/ByteIO.h"
#include "fileio/SafeSave.h"
#include "fileio/Strings.h"

namespace tarn {

namespace {

class CWadCodec final : public CContainerCodec {
 public:
  explicit CWadCodec(ContainerFormat version) : m_version(version) {}
  ContainerFormat Format() const override { return m_version; }

  std::unique_ptr<CArchiveReader> Open(std::shared_ptr<CReadSource> source, DirectoryListing& listing,
                                       std::string* error) const override {
    WadIndex index;
    if (!ReadWadIndex(*source, index)) {
      if (error) *error = "the file is not a WAD";
      return nullptr;
    }
    if (index.fileSize < wad::kHeaderSize) {
      if (error) *error = "the WAD is cut short: it has no room for its 12-byte header";
      return nullptr;
    }
    listing.Expect(index.records.size());
    for (const WadRecord& rec : index.records) {
      DirectoryRecord r;
      r.path = listing.Keep(WadEntryName(rec.name, rec.type, index.version));
      r.size = rec.diskSize;
      r.location.offset = rec.offset;
      r.problem = !rec.dataInside        ? EntryProblem::Outside
                  : rec.compression != 0 ? EntryProblem::CompressedLump
                                         : EntryProblem::None;
      listing.Add(r);
    }
    if (index.directoryTruncated)
      listing.problems.push_back("The WAD's directory is damaged; some lumps may be missing.");
    return std::make_unique<CRangeReader>(std::move(source), index.version);
  }

  std::vector<std::string> Check(std::shared_ptr<CReadSource> source) const override {
    WadIndex index;
    if (!ReadWadIndex(*source, index)) return {"the file is no longer a WAD"};
    return CheckWadIndex(index);
  }

  std::vector<std::string> SaveBlockers(const CPackObject& root) const override {
    std::vector<std::string> blockers;
    std::int64_t end = static_cast<std::int64_t>(wad::kHeaderSize);
    std::string path;
    VisitFilesInSaveOrder(root, path, [&](const std::string& p, const CPackObject& file) {
      if (file.Parent() != &root) {
        blockers.push_back("A WAD holds no directories: " + Quoted(p) + " is in one.");
        return;
      }
      std::string why;
      if (!WadLumpOf(file.Name(), m_version, &why)) blockers.push_back(why + ".");
      if (file.Size() < 0 || file.Size() > wad::kMaxFileSize)
        blockers.push_back("The file " + Quoted(p) + " is 2 GiB or larger, more than a WAD can hold.");
      end += std::clamp<std::int64_t>(file.Size(), 0, wad::kMaxFileSize) + static_cast<std::int64_t>(wad::kRecordSize);
    });
    if (end > wad::kMaxFileSize)
      blockers.push_back("The WAD would be " + std::to_string(end) + " bytes, more than the 2 GiB a WAD can hold.");
    return blockers;
  }

  bool Write(const CPackObject& root, CSafeSave& out, const WriteOptions& options, std::string* error) const override {
    const std::uint8_t version = m_version == ContainerFormat::Wad3 ? '3' : '2';
    return WriteFilesThenDirectory(
        out, root, {'W', 'A', 'D', version, 0, 0, 0, 0, 0, 0, 0, 0},
        [this](const std::string&, const CPackObject& file, std::uint32_t offset, std::vector<std::uint8_t>& record,
               std::string* why) {
          const auto lump = WadLumpOf(file.Name(), m_version, why);
          if (!lump) return false;
          record.assign(wad::kRecordSize, 0);
          StoreU32(record.data(), offset);
          StoreU32(record.data() + 4, static_cast<std::uint32_t>(file.Size()));
          StoreU32(record.data() + 8, static_cast<std::uint32_t>(file.Size()));
          record[12] = lump->type;
          std::memcpy(record.data() + 16, lump->name.data(), std::min(lump->name.size(), wad::kMaxNameLength));
          return true;
        },
        [](std::vector<std::uint8_t>& header, std::uint32_t directoryOffset, std::uint32_t count) {
          StoreU32(header.data() + 4, count);
          StoreU32(header.data() + 8, directoryOffset);
        },
        error, options.progress);
  }

 private:
  ContainerFormat m_version;
};

}  // namespace

const CContainerCodec& WadCodec(ContainerFormat version) {
  static const CWadCodec wad2(ContainerFormat::Wad2), wad3(ContainerFormat::Wad3);
  return version == ContainerFormat::Wad3 ? wad3 : wad2;
}

}  // namespace tarn
