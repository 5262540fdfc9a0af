#include "game/ArchiveDiff.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "archive/PackObject.h"
#include "containers/PakFormat.h"
#include "document/TarnDoc.h"
#include "fileio/Strings.h"
#include "game/GameFolder.h"

namespace tarn {

namespace fs = std::filesystem;

namespace {

// Files up to this size are compared byte for byte after their CRC-32s agree; bigger ones
// (no game file comes near) by size and CRC-32 alone, to keep memory bounded.
constexpr std::int64_t kByteCompareLimit = 256 << 20;

// One side of a comparison: its files by path in lower case, each an entry that reads its bytes.
struct Side {
  std::unique_ptr<CTarnDoc> doc;                    // an archive
  std::vector<std::unique_ptr<CPackObject>> loose;  // a folder: entries that read the files in place
  std::map<std::string, std::pair<std::string, const CPackObject*>> files;  // key → shown path, entry
};

bool OpenSide(const fs::path& path, Side& side, DiffResult& result) {
  std::error_code ec;
  auto add = [&](const std::string& shown, const CPackObject* entry) {
    auto [it, fresh] = side.files.try_emplace(ToLower(shown), shown, entry);
    if (!fresh)
      result.warnings.push_back((shown == it->second.first
                                     ? Quoted(shown) + " is held twice in " + Quoted(path.string())
                                     : Quoted(shown) + " and " + Quoted(it->second.first) + " in " +
                                           Quoted(path.string()) + " differ only in case") +
                                "; the first is compared");
  };
  if (fs::is_directory(path, ec)) {
    ArchiveListing listing;
    std::vector<std::string> unreadable;
    ListFolderFiles(path, false, listing, &unreadable);
    for (const std::string& u : unreadable) result.errors.push_back("cannot read " + u);
    for (const ListedEntry& e : listing.entries) {
      // Entries of their own, not a tree: names that differ only in case stay apart.
      auto file = std::make_unique<CPackObject>();
      file->Rename((path / e.path).filename().string());
      file->SetSize(static_cast<std::int32_t>(std::min<std::int64_t>(e.size, pak::kMaxArchiveSize)));
      file->SetTempFile((path / e.path).string(), false);
      add(e.path, file.get());
      side.loose.push_back(std::move(file));
    }
    return true;
  }
  side.doc = std::make_unique<CTarnDoc>();
  if (!side.doc->Open(path)) {
    result.errors.push_back(LastErrorLine(*side.doc));
    return false;
  }
  ForEachFileInSaveOrder(side.doc->Root(), [&](const std::string& p, const CPackObject& f) { add(p, &f); });
  return true;
}

// Equal sizes first; then the CRC-32s of both, and only when they agree the bytes themselves.
// 1 the same, 0 different, -1 when either cannot be read (why says which).
// A zip's directory holds each entry's CRC-32: unchanged entries need not be inflated to be
// told apart by it.
bool StoredCrc(const CPackObject& f, uLong& crc) {
  if (!f.BytesInSource() || !f.Location().crcKnown) return false;
  crc = f.Location().crc;
  return true;
}

int SameContents(const CPackObject& a, const CPackObject& b, std::string* why) {
  if (a.Size() != b.Size()) return 0;
  uLong storedA = 0, storedB = 0;
  const bool knownA = StoredCrc(a, storedA), knownB = StoredCrc(b, storedB);
  if (knownA && knownB && storedA != storedB) return 0;
  const bool keep = a.Size() <= kByteCompareLimit;
  std::vector<std::uint8_t> kept;
  uLong crcA = crc32(0, nullptr, 0), crcB = crcA;
  if (keep) kept.reserve(static_cast<std::size_t>(std::max<std::int64_t>(a.Size(), 0)));
  if (!a.StreamData(
          [&](const std::uint8_t* p, std::size_t n) {
            crcA = crc32(crcA, p, static_cast<uInt>(n));
            if (keep) kept.insert(kept.end(), p, p + n);
            return true;
          },
          why))
    return -1;
  if (knownB && crcA != storedB) return 0;
  bool bytesEqual = true;
  std::size_t at = 0;
  if (!b.StreamData(
          [&](const std::uint8_t* p, std::size_t n) {
            crcB = crc32(crcB, p, static_cast<uInt>(n));
            if (keep) bytesEqual = bytesEqual && at + n <= kept.size() && std::memcmp(kept.data() + at, p, n) == 0;
            at += n;
            return true;
          },
          why))
    return -1;
  if (crcA != crcB) return 0;
  return bytesEqual ? 1 : 0;
}

}  // namespace

DiffResult DiffArchives(const fs::path& a, const fs::path& b) {
  DiffResult result;
  Side left, right;
  const bool openedA = OpenSide(a, left, result);
  const bool openedB = OpenSide(b, right, result);
  if (!openedA || !openedB) return result;
  auto l = left.files.begin();
  auto r = right.files.begin();
  while (l != left.files.end() || r != right.files.end()) {
    if (r == right.files.end() || (l != left.files.end() && l->first < r->first)) {
      result.lines.push_back({'-', l->second.first});
      ++l;
    } else if (l == left.files.end() || r->first < l->first) {
      result.lines.push_back({'+', r->second.first});
      ++r;
    } else {
      std::string why;
      const int same = SameContents(*l->second.second, *r->second.second, &why);
      if (same < 0) result.errors.push_back("cannot compare " + Quoted(l->second.first) + ": " + why);
      else if (same == 0) result.lines.push_back({'M', l->second.first});
      ++l;
      ++r;
    }
  }
  return result;
}

bool IsSearchedArchive(std::string_view fileName) {
  const std::string ext = ExtensionOf(fileName);
  return ext == "pak" || ext == "pk2" || ext == "pk3" || ext == "pk4" || ext == "pkz" || ext == "zip" || ext == "kpf" ||
         ext == "wad";
}

void FindEntries(const std::vector<fs::path>& roots, std::string_view pattern,
                 const std::function<void(const fs::path& source, const std::string& path)>& found,
                 std::vector<std::string>& errors) {
  auto searchArchive = [&](const fs::path& archive) {
    ArchiveListing listing;
    std::string why;
    if (!ListArchive(archive, listing, &why)) {
      errors.push_back(why);
      return;
    }
    for (const ListedEntry& e : listing.entries)
      if (WildcardMatch(pattern, e.path)) found(archive, e.path);
  };
  for (const fs::path& root : roots) {
    std::error_code ec;
    if (!fs::is_directory(root, ec)) {
      if (fs::is_regular_file(root, ec)) searchArchive(root);
      else errors.push_back(Quoted(root.string()) + " is neither a folder nor an archive");
      continue;
    }
    ArchiveListing files;
    std::vector<std::string> unreadable;
    ListFolderFiles(root, false, files, &unreadable);
    for (const std::string& u : unreadable) errors.push_back("cannot read " + u);
    for (const ListedEntry& f : files.entries) {
      if (WildcardMatch(pattern, f.path)) found(root / f.path, f.path);
      if (IsSearchedArchive(f.path)) searchArchive(root / f.path);
    }
  }
}

}  // namespace tarn
