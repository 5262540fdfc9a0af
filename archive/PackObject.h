// One archive entry, directory or file, and the tree operations on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "archive/ContainerFormat.h"
#include "archive/NameIndex.h"
#include "fileio/Progress.h"
#include "fileio/ReadSource.h"

namespace tarn {

class ByteReader;
class ByteWriter;
class CArchiveReader;
class CEntryStream;
class CExtractFolder;
class CTreeBuilder;

// A disk file entry or directory that failed during import or export, with the reason.
struct TransferFailure {
  std::string name;
  std::string reason;
};

struct ImportOptions {
  // Imported bytes are copied to a private temporary file so that later changes on disk do not
  // reach the archive. A caller that saves at once (the command-line tool) may read the disk
  // file in place instead.
  bool snapshot = true;
  // Told the bytes copied; when it says stop, the import ends (cancelled in the report) and
  // what it imported so far stays for the caller to drop.
  CProgress* progress = nullptr;
};

struct ImportReport {
  int imported = 0;
  std::vector<TransferFailure> failures;
  bool cancelled = false;
};

struct ExportReport {
  int written = 0;  // files written, each to a path of its own
  // The files written, by their paths below the export's folder: an export that goes on (into
  // the same report) never writes over one of them. A file whose path is taken is refused.
  std::unordered_set<std::string> writtenPaths;
  // The folders it made, by their paths likewise: a file and a folder of one path are never
  // both written.
  std::unordered_set<std::string> madeFolders;
  std::vector<TransferFailure> refused;  // names that cannot be written safely, skipped with their subtrees
  std::vector<TransferFailure> failed;   // files or folders that could not be written
  bool cancelled = false;                // stopped by its progress; the files written so far stay
  bool ok() const { return refused.empty() && failed.empty() && !cancelled; }
};

class CPackObject;

// Where a file's bytes lie in the archive it was read from, as its directory says.
struct EntryLocation {
  std::int64_t offset = 0;       // PAK, WAD: where the bytes start; ZIP: the entry's index in the archive
  std::uint32_t storedSize = 0;  // ZIP: the size of the compressed bytes
  std::uint32_t crc = 0;         // ZIP: the CRC-32 of the bytes
  std::uint16_t method = 0;      // ZIP: 0 stored, 8 deflated
  bool crcKnown = false;
};

// Why the bytes of an entry read from an archive cannot be read.
enum class EntryProblem : std::uint8_t {
  None,
  Outside,         // the directory puts them (partly) outside the file
  Encrypted,       // a zip entry with the encryption flag
  Method,          // a zip compression method Tarn cannot undo
  CompressedLump,  // a WAD lump marked compressed, which no engine ever decoded
};

// The children of a directory in their order, yielding CPackObject pointers.
class CChildRange {
 public:
  class iterator {
   public:
    using value_type = CPackObject*;
    using difference_type = std::ptrdiff_t;
    iterator() = default;
    explicit iterator(CPackObject* p) : m_p(p) {}
    CPackObject* operator*() const { return m_p; }
    iterator& operator++();
    iterator operator++(int) {
      iterator old = *this;
      ++*this;
      return old;
    }
    bool operator==(const iterator& o) const { return m_p == o.m_p; }

   private:
    CPackObject* m_p = nullptr;
  };
  explicit CChildRange(CPackObject* first) : m_first(first) {}
  iterator begin() const { return iterator(m_first); }
  iterator end() const { return iterator(); }
  bool empty() const { return m_first == nullptr; }

 private:
  CPackObject* m_first;
};

class CPackObject {
  struct Extra;

 public:
  CPackObject();
  ~CPackObject();
  CPackObject(const CPackObject&) = delete;
  CPackObject& operator=(const CPackObject&) = delete;
  // Entries come from a pool of slabs rather than one allocation each: an archive of ten
  // thousand entries is read in a few pages instead of ten thousand heap blocks.
  static void* operator new(std::size_t size);
  static void operator delete(void* p) noexcept;
  // Told that about count entries are about to be made (an archive being opened), the pool
  // makes room for them at once.
  static void ExpectEntries(std::size_t count);

  // --- fields ---
  const std::string& Name() const { return m_name; }
  bool IsDirectory() const { return m_isDirectory; }
  void SetDirectory(bool isDirectory);
  // False when the name holds a byte that is escaped in output or refused on disk (a control
  // byte, "\\" or ":"); kept with the name, so that a listing need not look again.
  bool PlainName() const { return m_plainName; }
  // Another entry of the directory has this name in some case: the archive held both, and both
  // are kept as it has them. A lookup by name finds the first of them in the directory's order.
  bool SharesName() const;
  // One of those that a lookup by name does not find: an earlier sibling holds the name.
  bool Shadowed() const { return m_shadowed; }
  std::int64_t Size() const { return m_size; }
  void SetSize(std::int64_t size) { m_size = size; }
  std::int64_t Offset() const { return m_offset; }
  void SetOffset(std::int64_t offset) {
    m_offset = offset;
    m_located = true;
  }
  // Where the bytes lie in the source archive; SetLocation also sets the offset. An entry has
  // one once read from an archive or given an offset; one made since has none.
  EntryLocation Location() const { return {m_offset, m_storedSize, m_crc, m_method, m_crcKnown}; }
  void SetLocation(const EntryLocation& location);
  bool HasLocation() const { return m_located; }
  CPackObject* Parent() const { return m_parent; }
  const std::string& TempPath() const;
  // Takes over a temporary file holding this entry's bytes; an owned one is deleted with the entry.
  void SetTempFile(const std::string& path, bool owned = true);

  // Set when the entry's bytes in the source archive cannot be read: the archive's record
  // points outside the file, or it holds them in a way Tarn cannot undo (see EntryProblem).
  bool IsDamaged() const { return m_problem != EntryProblem::None; }
  void SetDamaged(bool damaged) { m_problem = damaged ? EntryProblem::Outside : EntryProblem::None; }
  EntryProblem Problem() const { return m_problem; }
  void SetProblem(EntryProblem problem) { m_problem = problem; }

  bool HasData() const { return m_extra && m_extra->data; }
  const std::vector<std::uint8_t>* Data() const { return HasData() ? &*m_extra->data : nullptr; }
  // Gives the entry new bytes; they replace whatever the source archive holds for it.
  void SetData(std::vector<std::uint8_t> bytes);
  void ReleaseData() {
    if (m_extra) m_extra->data.reset();
  }
  // True when the bytes are those of the source archive, unchanged: neither given in memory
  // nor taken from a file since it was read.
  // When the file last changed, in seconds since 1970: the time it was given (an import takes
  // its disk file's, an edit the moment of the edit), else the archive's (a zip member's own, a
  // PAK's or WAD's file); 0 when nothing tells.
  std::int64_t Time() const;
  void SetTime(std::int64_t unixSeconds) { MakeExtra().time = unixSeconds; }
  bool BytesInSource() const;
  // Told after a save that the source archive now holds the bytes given: they are read from
  // there again (and copied as they are stored) like any other entry's.
  void SetSaved() {
    if (m_extra) m_extra->replaced = false;
  }
  // Where the source archive holds this entry (see CArchiveReader::MemberOffset); -1 for none.
  std::int64_t PlaceInArchive() const;
  // Expires when the entry is destroyed: for what refers to the entry from outside its tree (an
  // archive opened inside its bytes), which may outlive it in a discarded undo step.
  std::weak_ptr<const void> Lifetime();

  // --- tree ---
  CPackObject* Root();
  const CPackObject* Root() const;
  CChildRange Children() const { return CChildRange(m_children ? m_children->first : nullptr); }
  std::size_t ChildCount() const { return m_children ? m_children->count + m_children->shadowed : 0; }
  // The work of name lookups so far: slots of the name index looked at (see CNameIndex::Probes),
  // and siblings compared while the directory was too small for an index.
  std::size_t IndexProbes() const { return m_children ? m_children->index.Probes() + m_children->scanned : 0; }

  // The container the tree is to be stored in, which decides how names are stored (see
  // EntryNames.h); kept by the root, PAK when never set.
  ContainerFormat Format() const;
  void SetFormat(ContainerFormat format);  // the root's

  // Creates an entry below this directory, its name stored as the container stores names and
  // made unique with "(n)".
  CPackObject* AddChild(std::string_view name, bool isDirectory);
  // Creates an entry below this directory named exactly so, beside a sibling that has the name
  // in some case (see SharesName): a name an archive or a game folder holds, not one a user gives.
  CPackObject* AddChildAsIs(std::string_view name, bool isDirectory);
  // Enters a detached entry (from a transfer stream, say) below this directory, named as
  // AddChild would name it, and its subtree's names as the container stores them.
  CPackObject* AdoptChild(std::unique_ptr<CPackObject> child);
  // The name AddChild would give an entry called `typed` here: lower-cased, made unique.
  std::string FreeName(std::string_view typed);
  // The child of that name in any case (of names kept beside each other, the one of exactly that
  // name, else the first), or nullptr.
  CPackObject* FindChild(std::string_view name) const;
  CPackObject* FindChildDirectory(std::string_view name) const;
  // The child whose name has exactly these bytes, shadowed ones included, or nullptr.
  CPackObject* FindChildExact(std::string_view name) const;
  CPackObject* FindByPath(std::string_view path) const;
  // 1 when removed and destroyed, 0 when the child is not in this directory.
  int RemoveChild(CPackObject* child);
  // Takes the child out whole. Its bytes stay readable: an entry that read them from the
  // source archive keeps that archive (see ArchiveRef).
  std::unique_ptr<CPackObject> DetachChild(CPackObject* child);
  // Enters a detached entry under its own name, before `before` (one of the children) or at the
  // end: putting back what was taken out. A name a child already has is kept beside it (see
  // SharesName), the first of them in order being the one found by name.
  CPackObject* InsertChild(std::unique_ptr<CPackObject> child, CPackObject* before);
  // The child after this one in the directory's order; nullptr for the last.
  CPackObject* NextSibling() const { return m_nextSibling; }
  // Refuses (false) an empty name, a name holding "/" or NUL, and a name another entry of the
  // directory already has in any case; renaming to the current name, or to it in another case,
  // succeeds. mayShare lets the name be a sibling's (undoing a rename that ended a sharing).
  bool Rename(const std::string& newName, bool mayShare = false);
  int CountFiles() const;
  void DeleteChildren();
  // Looks at the name once for the bytes PlainName() tells of; every change of name calls it.
  void NotePlainName();
  // "dir/sub/name", the path written to the archive; empty for the root.
  std::string PathInArchive() const;
  bool IsInside(const CPackObject* ancestor) const;

  // --- bytes ---
  // The source archive this entry's subtree reads from: the root's, or the one bound to the
  // nearest ancestor that came back from elsewhere (an undone delete after a save, whose
  // locations still describe the archive it was deleted from). A file whose bytes the entries'
  // locations point at as they are (PAK semantics), or an opened container that knows how its
  // entries are stored.
  void SetSource(std::shared_ptr<CReadSource> source);
  void SetArchive(std::shared_ptr<CArchiveReader> reader);
  CReadSource* Source() const;
  CArchiveReader* Archive() const;
  const std::shared_ptr<CArchiveReader>& ArchiveRef() const;
  // Forgets an archive bound below the root, once the entry's locations describe the root's.
  void UnbindSource();
  // 1 when the bytes were loaded now (the caller releases them after use), 0 otherwise:
  // already loaded, nothing to load, or no readable source.
  int LoadData();
  // False, with a reason, when StreamData is bound to fail before reading anything: a
  // directory, a bad size, or bytes that lie outside the source archive or cannot be read from it.
  bool CanStream(std::string* error) const;
  // Hands the bytes to sink in pieces without keeping them, from memory, the temporary file or
  // the source archive. False with a reason when they cannot all be read or the sink refuses.
  bool StreamData(const std::function<bool(const std::uint8_t*, std::size_t)>& sink, std::string* error) const;
  // A copy of the bytes (at most max of them; cut tells whether there were more), leaving the
  // entry as it was: safe beside other readers, on any thread. False with a reason.
  bool CopyBytes(std::vector<std::uint8_t>& out, std::string* error, std::size_t max = SIZE_MAX,
                 bool* cut = nullptr) const;
  // The bytes to pull piece by piece, exactly Size() of them or a failure; nullptr, with the
  // reason, when CanStream says no.
  std::unique_ptr<CEntryStream> OpenStream(std::string* error) const;

  // --- transfer stream ---
  // Writes this entry with its subtree. Files whose bytes cannot be read are written empty and
  // named in unreadable, so the stream stays readable.
  void Serialize(ByteWriter& out, std::vector<std::string>* unreadable = nullptr) const;
  struct StreamOptions {
    bool spillToTempFiles = true;  // keep pasted bytes on disk rather than in memory
    int maxDepth = 512;
  };
  // Reads an entry with its subtree; nullptr (with a reason) when the stream is malformed.
  static std::unique_ptr<CPackObject> Deserialize(ByteReader& in, const StreamOptions& options, std::string* error);
  static std::unique_ptr<CPackObject> Deserialize(ByteReader& in, std::string* error) {
    return Deserialize(in, StreamOptions{}, error);
  }

  // --- disk transfer ---
  // Imports one disk file into this directory; refused, with the reason, when the container
  // cannot hold a file of that name here (see UnfitNameReason).
  CPackObject* ImportFile(const std::filesystem::path& diskPath, const ImportOptions& options, std::string* error);
  // Imports a disk folder's contents below this directory, recursively.
  ImportReport ImportDirectory(const std::filesystem::path& folder, const ImportOptions& options = {});
  // Writes this file, or this directory's subtree (as a folder named after it, except for the
  // root), below the disk folder; with withParents, below the folders of its directories, as
  // its path in the archive has them. Never writes through a link (see CExtractFolder); an
  // entry whose bytes cannot be read leaves no file. Reports the bytes written to progress and
  // stops when it says so, leaving the files written so far (never part of one).
  ExportReport ExportToDisk(const std::filesystem::path& folder, bool withParents = false,
                            CProgress* progress = nullptr) const;
  // The same as one part of a larger export, whose report it adds to: the folders of the
  // directories between base (an ancestor, or the parent when none) and this entry are made as
  // its path has them, and nothing written earlier into report is written over.
  void ExportInto(const std::filesystem::path& folder, const CPackObject* base, ExportReport& report,
                  CProgress* progress = nullptr) const;
  // The bytes of the files in this subtree.
  std::uint64_t TotalBytes() const;

 private:
  friend class CChildRange::iterator;
  friend class CTreeBuilder;
  struct ChildTable {
    // Owning, doubly linked through the children's sibling links, in insertion order.
    CPackObject* first = nullptr;
    CPackObject* last = nullptr;
    std::size_t count = 0;
    // Most directories hold a few entries: those keep their children's hashes (m_nameHash) in
    // a small array, in no order, and only a directory that grows past kSmall gets an index,
    // which it then keeps. Opening an archive of ten thousand entries so spares a table for
    // each small directory, and a new name is told free without visiting the siblings.
    static constexpr std::size_t kSmall = 16;
    bool indexed = false;
    mutable std::size_t scanned = 0;  // hashes and siblings compared while small
    std::uint32_t hashes[kSmall];     // the first count are the children's, while small
    CNameIndex index;
    // The child of that name in any case (hash: CNameIndex::Hash of it), or nullptr.
    CPackObject* Find(std::string_view name, std::size_t hash) const;
    CPackObject* Find(std::string_view name) const { return Find(name, CNameIndex::Hash(name)); }
    // Counts in a linked child whose m_nameHash is set, and takes one out before it leaves.
    void Add(CPackObject* child, std::size_t hash);
    void Remove(CPackObject* child);
    // Counts in a linked child whose name a sibling holds (hash: of its name): the first of
    // them in the directory's order is the one indexed, the others are shadowed.
    void AddSharing(CPackObject* child, std::size_t hash, CPackObject* holder);
    void Unindex(const CPackObject* child);  // out of the index or the array only
    // Children linked but not indexed: their names are held by earlier siblings.
    std::size_t shadowed = 0;
    void Clear();
    // For each taken base+extension (in lower case), the lowest counter that may still be
    // free: keeps unique-naming linear when many entries share one name.
    std::unordered_map<std::string, int> nextSuffix;
  };
  ChildTable& EnsureChildren();
  std::string UniqueName(const std::string& storedName);
  CPackObject* Enter(std::unique_ptr<CPackObject> child);
  CPackObject* Enter(std::unique_ptr<CPackObject> child, std::size_t hash);
  // Enter for a child whose plainness is already noted.
  CPackObject* EnterClassified(std::unique_ptr<CPackObject> child, std::size_t hash);
  // Links a child at the end of the directory's order, entering it in no index.
  CPackObject* Link(std::unique_ptr<CPackObject> child);
  // Plainness found while the name was read (HasSpecialByte), so that it is not looked for twice.
  void NotePlainName(bool plain) { m_plainName = plain; }
  void StoreNames(ContainerFormat format);
  void DeleteTempFile();
  void DestroyChildren();
  bool ImportFolderRecursive(const std::filesystem::path& folder, const ImportOptions& options, ImportReport& report,
                             std::vector<std::filesystem::path>& stack);
  // The files of an export, each to be written into its folder: found (and their folders made)
  // in order, then written on as many threads as there are cores.
  struct ExportPlan;
  // below: the folder's path under the export's folder, "" or ending in "/".
  void PlanExport(const CExtractFolder& folder, const std::string& below, ExportReport& report, ExportPlan& plan) const;
  static void WriteExport(ExportPlan& plan, ExportReport& report, CProgress* progress);
  // Opens (creating it) the folder for this directory in parent; false, reported, when refused or failed.
  bool EnterExportFolder(const CExtractFolder& parent, std::optional<CExtractFolder>& sub, ExportReport& report) const;
  static std::unique_ptr<CPackObject> ReadEntry(ByteReader& in, const StreamOptions& options, int depth);

  std::string m_name = "untitled";
  CPackObject* m_parent = nullptr;
  CPackObject* m_prevSibling = nullptr;
  CPackObject* m_nextSibling = nullptr;
  // The low half of CNameIndex::Hash of the name, once entered: beside the sibling link, so
  // that comparing a small directory's names in turn reads one line of each entry.
  std::uint32_t m_nameHash = 0;
  std::uint32_t m_crc = 0;  // of the location below, placed here to fill the line
  // What few entries have, kept out of line so that an archive's many plain entries stay small.
  struct Extra {
    std::optional<std::vector<std::uint8_t>> data;
    std::string tempPath;
    bool ownsTempFile = false;
    bool replaced = false;                    // bytes given since the entry was read: the source no longer holds them
    std::shared_ptr<CArchiveReader> archive;  // the root's, or a detached subtree's
    ContainerFormat format = ContainerFormat::Pak;  // the root's only
    std::int64_t time = 0;                          // seconds since 1970; 0: as the archive says
    std::shared_ptr<const void> alive;              // see Lifetime
  };
  Extra& MakeExtra();
  std::unique_ptr<Extra> m_extra;
  std::unique_ptr<ChildTable> m_children;
  std::int64_t m_size = 0;
  // The location, field by field so that it packs with the flags below.
  std::int64_t m_offset = 0;
  std::uint32_t m_storedSize = 0;
  std::uint16_t m_method = 0;
  bool m_crcKnown = false;
  bool m_located = false;
  EntryProblem m_problem = EntryProblem::None;
  bool m_isDirectory = false;
  bool m_plainName = true;
  bool m_shadowed = false;
};

inline CChildRange::iterator& CChildRange::iterator::operator++() {
  m_p = m_p->m_nextSibling;
  return *this;
}

// Visits every file below dir in save order (files first, then subdirectories), with its archive
// path (a buffer reused from one call to the next: copy it to keep it).
void ForEachFileInSaveOrder(const CPackObject& dir,
                            const std::function<void(const std::string&, const CPackObject&)>& fn);
// The same without the cost of a std::function call per file, for the callers that visit many.
template <typename Fn>
void VisitFilesInSaveOrder(const CPackObject& dir, std::string& path, Fn&& fn) {
  const std::size_t base = path.size();
  for (CPackObject* c : dir.Children()) {
    if (c->IsDirectory()) continue;
    path.append(c->Name());
    fn(std::as_const(path), *c);
    path.resize(base);
  }
  for (CPackObject* c : dir.Children()) {
    if (!c->IsDirectory()) continue;
    path.append(c->Name()).push_back('/');
    VisitFilesInSaveOrder(*c, path, fn);
    path.resize(base);
  }
}

}  // namespace tarn
