#include "containers/Container.h"

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "archive/EntryNames.h"
#include "fileio/ByteIO.h"
#include "fileio/ReadSource.h"
#include "fileio/SafeSave.h"
#include "fileio/Strings.h"
#include "fileio/Words.h"

namespace tarn {

// One codec per format, each in its own unit.
const CContainerCodec& PakCodec();
const CContainerCodec& ZipCodec();
const CContainerCodec& WadCodec(ContainerFormat version);

const CContainerCodec& CodecFor(ContainerFormat format) {
  switch (format) {
    case ContainerFormat::Zip: return ZipCodec();
    case ContainerFormat::Wad2:
    case ContainerFormat::Wad3: return WadCodec(format);
    case ContainerFormat::Pak: break;
  }
  return PakCodec();
}

bool WriteFilesThenDirectory(
    CSafeSave& out, const CPackObject& root, std::vector<std::uint8_t> header, const RecordMaker& record,
    const std::function<void(std::vector<std::uint8_t>&, std::uint32_t, std::uint32_t)>& finish, std::string* error,
    CProgress* progress) {
  if (!out.Write(header.data(), header.size())) return false;
  std::uint64_t position = header.size();
  std::vector<std::uint32_t> offsets;
  bool ok = true;
  std::string path;
  VisitFilesInSaveOrder(root, path, [&](const std::string& filePath, const CPackObject& file) {
    if (!ok) return;
    offsets.push_back(static_cast<std::uint32_t>(position));
    bool diskFailed = false, stopped = false;
    std::string why;
    ok = file.StreamData(
        [&](const std::uint8_t* p, std::size_t n) {
          position += n;
          diskFailed = !out.Write(p, n);
          stopped = !diskFailed && !Advance(progress, n, filePath);
          return !diskFailed && !stopped;
        },
        &why);
    if (!ok && !diskFailed && !stopped && error) *error = why;
  });
  if (!ok) return false;
  const auto directoryOffset = static_cast<std::uint32_t>(position);
  std::size_t i = 0;
  std::vector<std::uint8_t> bytes;
  VisitFilesInSaveOrder(root, path, [&](const std::string& p, const CPackObject& file) {
    if (!ok) return;
    bytes.clear();
    ok = record(p, file, offsets[i++], bytes, error) && out.Write(bytes.data(), bytes.size());
  });
  if (!ok) return false;
  finish(header, directoryOffset, static_cast<std::uint32_t>(offsets.size()));
  if (std::fseek(out.File(), 0, SEEK_SET) != 0) {
    out.WriteFailed(errno);
    return false;
  }
  return out.Write(header.data(), header.size());
}

std::string UnsafePathReason(std::string_view path) {
  for (std::size_t start = 0;;) {
    const std::size_t slash = path.find('/', start);
    std::string why = UnsafeNameReason(path.substr(start, slash == std::string_view::npos ? slash : slash - start));
    if (!why.empty() || slash == std::string_view::npos) return why;
    start = slash + 1;
  }
}

namespace {

// Where the last "/" of a path is, or npos. Records come by the ten thousand, and their paths
// are short: a word at a time from the end, without a library call.
std::size_t LastSlash(std::string_view path) {
  const char* p = path.data();
  std::size_t n = path.size();
  if constexpr (kWordsInOrder) {
    for (; n >= 8; n -= 8) {
      std::uint64_t w;
      std::memcpy(&w, p + n - 8, 8);
      if (const std::uint64_t zero = ExactZeroBytes(w ^ (kEveryByte * '/')))
        return n - 8 + static_cast<std::size_t>((63 - std::countl_zero(zero)) / 8);
    }
  }
  while (n > 0)
    if (p[--n] == '/') return n;
  return std::string_view::npos;
}

// a == b, a word at a time: the records of one directory ask for it with the same bytes.
bool SameBytes(std::string_view a, std::string_view b) {
  const std::size_t n = a.size();
  if (n != b.size()) return false;
  if (n < 8) {
    for (std::size_t i = 0; i < n; ++i)
      if (a[i] != b[i]) return false;
    return true;
  }
  const auto word = [](const char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
  };
  for (std::size_t i = 0; i + 8 < n; i += 8)
    if (word(a.data() + i) != word(b.data() + i)) return false;
  return word(a.data() + n - 8) == word(b.data() + n - 8);
}

}  // namespace

// Builds the tree record by record. Records of one directory usually come together, and a
// directory path resolves to the same entry every time while the tree only grows: each resolved
// path is remembered, and the last one is tried first.
class CTreeBuilder {
 public:
  CTreeBuilder(ContainerFormat format, std::vector<std::string>* renamed) : m_format(format), m_renamed(renamed) {
    m_root = std::make_unique<CPackObject>();
    m_root->Rename("root");
    m_root->SetDirectory(true);
    m_root->SetFormat(format);
  }

  void Add(const DirectoryRecord& rec) {
    std::string_view path = rec.path;
    if (rec.directory) {
      while (!path.empty() && path.back() == '/') path.remove_suffix(1);
      if (!path.empty()) Directory(path, rec.path);
      return;
    }
    const std::size_t lastSlash = LastSlash(path);
    CPackObject* dir = lastSlash == std::string_view::npos ? m_root.get() : Directory(path.substr(0, lastSlash), path);
    const std::string_view leaf = lastSlash == std::string_view::npos ? path : path.substr(lastSlash + 1);
    CPackObject* file = Child(dir, leaf, false, path);
    if (m_renamed) NoteUnsafe(*file, leaf, path);
    file->m_size = rec.size;
    file->SetLocation(rec.location);
    file->m_problem = rec.problem;
    if (rec.problem != EntryProblem::None) ++m_damaged;
  }

  std::unique_ptr<CPackObject> Take() { return std::move(m_root); }
  int Damaged() const { return m_damaged; }

 private:
  CPackObject* Directory(std::string_view dirPath, std::string_view recordPath) {
    if (m_lastDir && SameBytes(dirPath, m_lastPath)) return m_lastDir;
    const std::size_t hash = CNameIndex::Hash(dirPath);
    CPackObject* dir = FindKnown(dirPath, hash);
    if (!dir) {
      dir = m_root.get();
      for (std::size_t start = 0;;) {
        const std::size_t slash = dirPath.find('/', start);
        const std::string_view segment = dirPath.substr(start, slash == std::string_view::npos ? slash : slash - start);
        const std::string_view upTo = recordPath.substr(0, slash == std::string_view::npos ? dirPath.size() : slash);
        CPackObject* sub = ExactDirectory(dir, segment);
        if (!sub) {
          sub = Child(dir, segment, true, upTo);
          if (m_renamed) NoteUnsafe(*sub, segment, upTo);
        }
        dir = sub;
        if (slash == std::string_view::npos) break;
        start = slash + 1;
      }
      Remember(dirPath, hash, dir);
    }
    m_lastPath = dirPath;
    m_lastDir = dir;
    return m_lastDir;
  }

  // Each directory path met so far, with its entry, in an open-addressing table placed by
  // CNameIndex::Hash: paths equal but for case meet in a probe and are told apart by their
  // bytes. The record's bytes may not outlive it: the paths kept are copies.
  struct KnownDirectory {
    std::size_t hash = 0;
    CPackObject* dir = nullptr;  // none: a free slot
    std::string path;
  };

  CPackObject* FindKnown(std::string_view path, std::size_t hash) const {
    if (m_known.empty()) return nullptr;
    const std::size_t mask = m_known.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const KnownDirectory& k = m_known[i];
      if (!k.dir) return nullptr;
      if (k.hash == hash && SameBytes(k.path, path)) return k.dir;
    }
  }

  void Remember(std::string_view path, std::size_t hash, CPackObject* dir) {
    if ((m_knownCount + 1) * 2 > m_known.size()) {
      std::vector<KnownDirectory> old(std::max<std::size_t>(64, m_known.size() * 2));
      old.swap(m_known);
      for (KnownDirectory& k : old)
        if (k.dir) Place(std::move(k));
    }
    Place({hash, dir, std::string(path)});
    ++m_knownCount;
  }

  void Place(KnownDirectory known) {
    const std::size_t mask = m_known.size() - 1;
    std::size_t i = known.hash & mask;
    while (m_known[i].dir) i = (i + 1) & mask;
    m_known[i] = std::move(known);
  }

  // The directory of that name, byte for byte, in dir: names that differ in case are apart.
  static CPackObject* ExactDirectory(CPackObject* dir, std::string_view name) {
    CPackObject* found = dir->FindChild(name);
    if (!found) return nullptr;
    if (found->m_isDirectory && SameBytes(found->m_name, name)) return found;
    if (dir->m_children->shadowed == 0) return nullptr;
    for (CPackObject* p : dir->Children())
      if (p->m_shadowed && p->m_isDirectory && SameBytes(p->m_name, name)) return p;
    return nullptr;
  }

  // A new child of dir with the record's name, byte for byte: the name the engine asks for. A
  // name a sibling has in some case is kept beside it, as the archive holds both.
  CPackObject* Child(CPackObject* dir, std::string_view name, bool isDirectory, std::string_view shownPath) {
    auto child = std::make_unique<CPackObject>();
    child->m_name.assign(name);
    bool special = false;
    const std::size_t hash = CNameIndex::Hash(name, special);
    child->m_isDirectory = isDirectory;
    child->NotePlainName(!special);
    CPackObject* holder = dir->m_children ? dir->m_children->Find(name, hash) : nullptr;
    if (!holder) return dir->EnterClassified(std::move(child), hash);
    CPackObject* raw = dir->Link(std::move(child));
    dir->m_children->AddSharing(raw, hash, holder);
    if (m_renamed)
      m_renamed->push_back(
          isDirectory != holder->m_isDirectory && SameBytes(holder->m_name, name)
              ? FileAndFolderNote(PathOf(dir, holder->m_name))
              : SharedNameNote(PathOf(dir, holder->m_name), shownPath, isDirectory && holder->m_isDirectory));
    return raw;
  }

  // Names that cannot be written out as a file's or folder's are few: the reason is only
  // looked for once a quick scan finds something suspect.
  void NoteUnsafe(const CPackObject& entry, std::string_view name, std::string_view shownPath) {
    // The entry's name is the record's.
    if (!name.empty() && name[0] != '.' && entry.PlainName()) return;
    const std::string why = UnsafeNameReason(name);
    if (!why.empty()) m_renamed->push_back(Quoted(shownPath) + " cannot be exported: " + why);
  }

  static std::string SharedNameNote(const std::string& first, std::string_view second, bool folders) {
    if (folders) return Quoted(first) + " and " + Quoted(second) + " differ only in case: both folders are kept apart";
    if (first == second)
      return Quoted(first) + " is in the archive twice: both are kept as they are; the engine loads the first";
    // Engines ask for names in lower case and compare them as they are.
    const std::string lower = ToLower(first);
    std::string loaded = "neither";
    if (first == lower) loaded = Quoted(first);
    else if (second == lower) loaded = Quoted(second);
    return Quoted(first) + " and " + Quoted(second) +
           " differ only in case: both are kept as they are; the engine loads " + loaded;
  }

  static std::string PathOf(const CPackObject* dir, const std::string& name) {
    return dir->Parent() ? dir->PathInArchive() + "/" + name : name;
  }

  ContainerFormat m_format;
  std::vector<std::string>* m_renamed;
  std::unique_ptr<CPackObject> m_root;
  std::vector<KnownDirectory> m_known;
  std::size_t m_knownCount = 0;
  std::string m_lastPath;
  CPackObject* m_lastDir = nullptr;
  int m_damaged = 0;
};

CTreeBuilding::CTreeBuilding(ContainerFormat format, std::vector<std::string>* renamed)
    : m_builder(std::make_unique<CTreeBuilder>(format, renamed)) {}
CTreeBuilding::~CTreeBuilding() = default;
void CTreeBuilding::Add(const DirectoryRecord& record) { m_builder->Add(record); }
std::unique_ptr<CPackObject> CTreeBuilding::Take() { return m_builder->Take(); }
int CTreeBuilding::Damaged() const { return m_builder->Damaged(); }

std::unique_ptr<CPackObject> BuildTree(const DirectoryListing& listing, ContainerFormat format, int* damaged,
                                       std::vector<std::string>* renamed) {
  CTreeBuilder builder(format, renamed);
  for (const DirectoryRecord& rec : listing.records) builder.Add(rec);
  if (damaged) *damaged = builder.Damaged();
  return builder.Take();
}

bool Relocate(CPackObject& root, const DirectoryListing& listing) {
  std::size_t next = 0;
  bool matched = true;
  std::string path;
  VisitFilesInSaveOrder(root, path, [&](const std::string&, const CPackObject& constFile) {
    auto& file = const_cast<CPackObject&>(constFile);
    while (next < listing.records.size() && listing.records[next].directory) ++next;
    if (next == listing.records.size()) {
      matched = false;
      file.SetDamaged(true);
      return;
    }
    const DirectoryRecord& rec = listing.records[next++];
    file.SetLocation(rec.location);
    file.SetProblem(rec.size == file.Size() ? rec.problem : EntryProblem::Outside);
    if (rec.size != file.Size()) matched = false;
    // Written into the file that is now the source: its bytes are there, at that place.
    else file.SetSaved();
  });
  return matched && next == listing.records.size();
}

}  // namespace tarn
