#include "archive/PackObject.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "archive/ArchiveReader.h"
#include "archive/EntryNames.h"
#include "fileio/ByteIO.h"
#include "fileio/Strings.h"
#include "fileio/Words.h"

namespace tarn {

namespace {

// The most an entry's bytes are read in at once.
constexpr std::size_t kChunk = 1 << 20;

}  // namespace

// --- entry ---

CPackObject::CPackObject() = default;

CPackObject::~CPackObject() {
  DeleteTempFile();
  DestroyChildren();
}

void CPackObject::DestroyChildren() {
  if (!m_children) return;
  CPackObject* p = m_children->first;
  m_children->first = m_children->last = nullptr;
  m_children->Clear();
  while (p) {
    CPackObject* next = p->m_nextSibling;
    p->m_parent = nullptr;
    delete p;
    p = next;
  }
}

void CPackObject::DeleteTempFile() {
  if (!m_extra) return;
  if (!m_extra->tempPath.empty() && m_extra->ownsTempFile) std::remove(m_extra->tempPath.c_str());
  m_extra->tempPath.clear();
  m_extra->ownsTempFile = false;
}

void CPackObject::SetTempFile(const std::string& path, bool owned) {
  if (path == TempPath()) {
    if (m_extra) m_extra->ownsTempFile = owned && !path.empty();
    return;
  }
  DeleteTempFile();
  MakeExtra().tempPath = path;
  m_extra->ownsTempFile = owned && !path.empty();
  m_extra->replaced = true;
  m_extra->time = std::time(nullptr);
}

void CPackObject::SetDirectory(bool isDirectory) { m_isDirectory = isDirectory; }

void CPackObject::SetLocation(const EntryLocation& location) {
  m_offset = location.offset;
  m_storedSize = location.storedSize;
  m_crc = location.crc;
  m_method = location.method;
  m_crcKnown = location.crcKnown;
  m_located = true;
}

CPackObject::Extra& CPackObject::MakeExtra() {
  if (!m_extra) m_extra = std::make_unique<Extra>();
  return *m_extra;
}

const std::string& CPackObject::TempPath() const {
  static const std::string none;
  return m_extra ? m_extra->tempPath : none;
}

std::weak_ptr<const void> CPackObject::Lifetime() {
  Extra& extra = MakeExtra();
  if (!extra.alive) extra.alive = std::make_shared<const int>(0);
  return extra.alive;
}

void CPackObject::SetData(std::vector<std::uint8_t> bytes) {
  Extra& extra = MakeExtra();
  extra.data = std::move(bytes);
  extra.replaced = true;
  extra.time = std::time(nullptr);
}

std::int64_t CPackObject::Time() const {
  if (m_extra && m_extra->time) return m_extra->time;
  if (!BytesInSource()) return 0;
  const CArchiveReader* archive = Archive();
  return archive ? archive->MemberTime(*this) : 0;
}

std::int64_t CPackObject::PlaceInArchive() const {
  const CArchiveReader* archive = BytesInSource() ? Archive() : nullptr;
  return archive ? archive->MemberOffset(*this) : -1;
}

bool CPackObject::BytesInSource() const { return !m_isDirectory && m_located && (!m_extra || !m_extra->replaced); }

void CPackObject::NotePlainName() { m_plainName = !HasSpecialByte(m_name, true); }

bool CPackObject::SharesName() const {
  if (m_shadowed) return true;
  if (!m_parent || m_parent->m_children->shadowed == 0) return false;
  for (CPackObject* p : m_parent->Children())
    if (p->m_shadowed && SameName(p->m_name, m_name)) return true;
  return false;
}

// --- tree ---

CPackObject* CPackObject::Root() {
  CPackObject* p = this;
  while (p->m_parent) p = p->m_parent;
  return p;
}

const CPackObject* CPackObject::Root() const { return const_cast<CPackObject*>(this)->Root(); }

ContainerFormat CPackObject::Format() const {
  const CPackObject* root = Root();
  return root->m_extra ? root->m_extra->format : ContainerFormat::Pak;
}

void CPackObject::SetFormat(ContainerFormat format) {
  // The names the tree has are kept: those read from an archive are what the engine asks for,
  // and those given since were stored as the format then asked; a converted archive keeps both.
  if (format == Format() && !m_parent) return;
  MakeExtra().format = format;
}

void CPackObject::StoreNames(ContainerFormat format) {
  // Names only ever lose case here, so two siblings can never come to share one: the index,
  // which ignores case, already keeps them apart.
  for (CPackObject* c : Children()) {
    std::string stored = StoredName(c->m_name, format);
    if (stored != c->m_name) {
      c->m_name = std::move(stored);
      c->NotePlainName();
    }
    if (c->m_isDirectory) c->StoreNames(format);
  }
}

CPackObject::ChildTable& CPackObject::EnsureChildren() {
  if (!m_children) m_children = std::make_unique<ChildTable>();
  return *m_children;
}

std::string CPackObject::UniqueName(const std::string& stored) {
  if (!FindChild(stored)) return stored;
  std::string base = stored, ext;
  if (stored.size() > 3) {
    std::size_t dot = stored.rfind('.');
    if (dot != std::string::npos) {
      base = stored.substr(0, dot);
      ext = stored.substr(dot);
    }
  }
  int& next = EnsureChildren().nextSuffix[ToLower(stored)];
  int n = std::max(next, 2);
  std::string candidate;
  while (true) {
    candidate = base + "(" + std::to_string(n) + ")" + ext;
    ++n;
    if (!FindChild(candidate)) break;
  }
  next = n;
  return candidate;
}

CPackObject* CPackObject::Enter(std::unique_ptr<CPackObject> child) {
  const std::size_t hash = CNameIndex::Hash(child->m_name);
  return Enter(std::move(child), hash);
}

CPackObject* CPackObject::Enter(std::unique_ptr<CPackObject> child, std::size_t hash) {
  child->NotePlainName();
  return EnterClassified(std::move(child), hash);
}

CPackObject* CPackObject::EnterClassified(std::unique_ptr<CPackObject> child, std::size_t hash) {
  CPackObject* raw = Link(std::move(child));
  m_children->Add(raw, hash);
  return raw;
}

CPackObject* CPackObject::Link(std::unique_ptr<CPackObject> child) {
  ChildTable& c = EnsureChildren();
  child->m_parent = this;
  CPackObject* raw = child.release();
  raw->m_prevSibling = c.last;
  raw->m_nextSibling = nullptr;
  (c.last ? c.last->m_nextSibling : c.first) = raw;
  c.last = raw;
  return raw;
}

CPackObject* CPackObject::ChildTable::Find(std::string_view name, std::size_t hash) const {
  if (indexed) return index.Find(name, hash);
  const auto low = static_cast<std::uint32_t>(hash);
  bool seen = false;
  for (std::size_t i = 0; i < count; ++i) seen |= hashes[i] == low;
  scanned += count;
  if (!seen) return nullptr;
  std::size_t n = 0;
  CPackObject* p = first;
  for (; p; p = p->m_nextSibling, ++n)
    if (p->m_nameHash == low && !p->m_shadowed && SameName(p->m_name, name)) break;
  scanned += n;
  return p;
}

void CPackObject::ChildTable::Add(CPackObject* child, std::size_t hash) {
  child->m_nameHash = static_cast<std::uint32_t>(hash);
  if (indexed) {
    ++count;
    index.Insert(child, hash);
  } else if (count < kSmall) {
    hashes[count++] = child->m_nameHash;
  } else {
    ++count;
    indexed = true;
    index.Reserve(8 * kSmall);  // a directory that outgrew the array is likely to grow on
    for (CPackObject* p = first; p; p = p->m_nextSibling)
      if (!p->m_shadowed) index.Insert(p, p == child ? hash : CNameIndex::Hash(p->m_name));
  }
}

void CPackObject::ChildTable::AddSharing(CPackObject* child, std::size_t hash, CPackObject* holder) {
  child->m_nameHash = static_cast<std::uint32_t>(hash);
  // Lookups find the first of the names in the directory's order, as an engine reading the
  // archive's directory from its start does.
  bool childFirst = false;
  for (CPackObject* p = first; p && p != holder; p = p->m_nextSibling)
    if (p == child) childFirst = true;
  if (childFirst) {
    Unindex(holder);
    holder->m_shadowed = true;
    Add(child, hash);
  } else {
    child->m_shadowed = true;
  }
  ++shadowed;
}

void CPackObject::ChildTable::Remove(CPackObject* child) {
  if (child->m_shadowed) {
    child->m_shadowed = false;
    --shadowed;
    return;
  }
  Unindex(child);
  if (shadowed == 0) return;
  // The next sibling of the same name is now the one a lookup finds.
  for (CPackObject* p = first; p; p = p->m_nextSibling)
    if (p->m_shadowed && SameName(p->m_name, child->m_name)) {
      p->m_shadowed = false;
      --shadowed;
      Add(p, CNameIndex::Hash(p->m_name));
      return;
    }
}

void CPackObject::ChildTable::Unindex(const CPackObject* child) {
  if (indexed) {
    --count;
    index.Erase(child);
    return;
  }
  // Siblings may share a hash: any one copy of it stands for this child.
  for (std::size_t i = 0; i < count; ++i)
    if (hashes[i] == child->m_nameHash) {
      hashes[i] = hashes[--count];
      return;
    }
}

void CPackObject::ChildTable::Clear() {
  index.Clear();
  indexed = false;
  count = 0;
  shadowed = 0;
}

CPackObject* CPackObject::AddChild(std::string_view name, bool isDirectory) {
  auto child = std::make_unique<CPackObject>();
  child->m_name = UniqueName(StoredName(*this, name));
  child->m_isDirectory = isDirectory;
  return Enter(std::move(child));
}

CPackObject* CPackObject::AddChildAsIs(std::string_view name, bool isDirectory) {
  auto child = std::make_unique<CPackObject>();
  child->m_name.assign(name);
  child->m_isDirectory = isDirectory;
  child->NotePlainName();
  const std::size_t hash = CNameIndex::Hash(name);
  CPackObject* holder = FindChild(name);
  if (!holder) return EnterClassified(std::move(child), hash);
  CPackObject* raw = Link(std::move(child));
  m_children->AddSharing(raw, hash, holder);
  return raw;
}

std::string CPackObject::FreeName(std::string_view typed) { return UniqueName(StoredName(*this, typed)); }

CPackObject* CPackObject::AdoptChild(std::unique_ptr<CPackObject> child) {
  if (!child) return nullptr;
  const ContainerFormat format = Format();
  child->m_name = UniqueName(StoredName(child->m_name, format));
  if (child->m_extra) {
    child->m_extra->archive.reset();
    child->m_extra->format = ContainerFormat::Pak;
  }
  if (child->m_isDirectory) child->StoreNames(format);
  return Enter(std::move(child));
}

CPackObject* CPackObject::FindChild(std::string_view name) const {
  CPackObject* found = m_children ? m_children->Find(name) : nullptr;
  if (!found || m_children->shadowed == 0 || found->m_name == name) return found;
  // Of names kept beside each other, the one asked for exactly.
  for (CPackObject* p : Children())
    if (p->m_shadowed && p->m_name == name) return p;
  return found;
}

CPackObject* CPackObject::FindChildDirectory(std::string_view name) const {
  CPackObject* found = FindChild(name);
  if (found && found->m_isDirectory) return found;
  // A file may share the name with a directory the archive also holds.
  if (!found || m_children->shadowed == 0) return nullptr;
  for (CPackObject* p : Children())
    if (p->m_isDirectory && SameName(p->m_name, name)) return p;
  return nullptr;
}

CPackObject* CPackObject::FindChildExact(std::string_view name) const {
  CPackObject* found = FindChild(name);
  if (found && found->m_name == name) return found;
  if (!found || m_children->shadowed == 0) return nullptr;
  for (CPackObject* p : Children())
    if (p->m_shadowed && p->m_name == name) return p;
  return nullptr;
}

CPackObject* CPackObject::FindByPath(std::string_view path) const {
  const std::size_t slash = path.find('/');
  if (slash == std::string_view::npos) return FindChild(path);
  const std::string_view segment = path.substr(0, slash), rest = path.substr(slash + 1);
  CPackObject* dir = FindChildDirectory(segment);
  if (!dir) return nullptr;
  CPackObject* found = dir->FindByPath(rest);
  if (found || m_children->shadowed == 0) return found;
  // Folders kept apart that differ only in case: the rest of the path may lie in another.
  for (CPackObject* p : Children())
    if (p != dir && p->m_isDirectory && SameName(p->m_name, segment) && (found = p->FindByPath(rest))) return found;
  return nullptr;
}

std::unique_ptr<CPackObject> CPackObject::DetachChild(CPackObject* child) {
  if (!m_children || !child || child->m_parent != this ||
      (!child->m_shadowed && m_children->Find(child->m_name) != child))
    return nullptr;
  // Bound before it leaves: its offsets describe the archive this directory reads from.
  if (child->m_isDirectory || child->m_offset > 0 || child->m_size > 0)
    if (const auto& archive = ArchiveRef(); archive && !(child->m_extra && child->m_extra->archive))
      child->MakeExtra().archive = archive;
  ChildTable& c = *m_children;
  c.Remove(child);
  (child->m_prevSibling ? child->m_prevSibling->m_nextSibling : c.first) = child->m_nextSibling;
  (child->m_nextSibling ? child->m_nextSibling->m_prevSibling : c.last) = child->m_prevSibling;
  child->m_prevSibling = child->m_nextSibling = nullptr;
  child->m_parent = nullptr;
  // A freed name may be lower than a remembered counter: forget the counters.
  c.nextSuffix.clear();
  return std::unique_ptr<CPackObject>(child);
}

int CPackObject::RemoveChild(CPackObject* child) { return DetachChild(child) ? 1 : 0; }

CPackObject* CPackObject::InsertChild(std::unique_ptr<CPackObject> child, CPackObject* before) {
  if (!child || child->m_parent || (before && before->m_parent != this)) return nullptr;
  child->NotePlainName();
  const std::size_t hash = CNameIndex::Hash(child->m_name);
  child->m_shadowed = true;  // not found by the lookup below until classified
  CPackObject* raw = Link(std::move(child));
  if (before) {
    // Entered at the end; moved in front of `before`.
    ChildTable& c = *m_children;
    c.last = raw->m_prevSibling;
    (c.last ? c.last->m_nextSibling : c.first) = nullptr;
    raw->m_prevSibling = before->m_prevSibling;
    raw->m_nextSibling = before;
    (before->m_prevSibling ? before->m_prevSibling->m_nextSibling : c.first) = raw;
    before->m_prevSibling = raw;
  }
  ChildTable& c = *m_children;
  CPackObject* holder = c.Find(raw->m_name, hash);
  raw->m_shadowed = false;
  if (holder) c.AddSharing(raw, hash, holder);
  else c.Add(raw, hash);
  return raw;
}

bool CPackObject::Rename(const std::string& newName, bool mayShare) {
  if (newName.empty() || newName.find('/') != std::string::npos || newName.find('\0') != std::string::npos)
    return false;
  if (newName == m_name) return true;
  if (!m_parent) {
    m_name = newName;
    NotePlainName();
    return true;
  }
  ChildTable& siblings = *m_parent->m_children;
  CPackObject* holder = siblings.Find(newName);
  if (holder && holder != this && !mayShare) return false;
  if (!m_shadowed && siblings.Find(m_name) != this) return false;
  siblings.Remove(this);
  m_name = newName;
  const std::size_t hash = CNameIndex::Hash(m_name);
  // Taking this entry out may have handed its old name on: the new one is looked up again,
  // past this entry.
  m_shadowed = true;
  holder = siblings.Find(m_name, hash);
  m_shadowed = false;
  if (holder) siblings.AddSharing(this, hash, holder);
  else siblings.Add(this, hash);
  siblings.nextSuffix.clear();
  NotePlainName();
  return true;
}

int CPackObject::CountFiles() const {
  int n = 0;
  for (CPackObject* c : Children()) n += c->m_isDirectory ? c->CountFiles() : 1;
  return n;
}

void CPackObject::DeleteChildren() {
  ReleaseData();
  DeleteTempFile();
  DestroyChildren();
  if (m_children) m_children->nextSuffix.clear();
}

std::string CPackObject::PathInArchive() const {
  if (!m_parent) return {};
  std::string parentPath = m_parent->PathInArchive();
  return parentPath.empty() ? m_name : parentPath + "/" + m_name;
}

bool CPackObject::IsInside(const CPackObject* ancestor) const {
  for (const CPackObject* p = this; p; p = p->m_parent)
    if (p == ancestor) return true;
  return false;
}

// --- bytes ---

void CPackObject::SetSource(std::shared_ptr<CReadSource> source) {
  SetArchive(source ? std::make_shared<CRangeReader>(std::move(source), Format()) : nullptr);
}

void CPackObject::SetArchive(std::shared_ptr<CArchiveReader> reader) { MakeExtra().archive = std::move(reader); }

CArchiveReader* CPackObject::Archive() const { return ArchiveRef().get(); }

const std::shared_ptr<CArchiveReader>& CPackObject::ArchiveRef() const {
  static const std::shared_ptr<CArchiveReader> none;
  for (const CPackObject* p = this; p; p = p->m_parent)
    if (p->m_extra && p->m_extra->archive) return p->m_extra->archive;
  return none;
}

void CPackObject::UnbindSource() {
  if (m_parent && m_extra) m_extra->archive.reset();
}

CReadSource* CPackObject::Source() const {
  CArchiveReader* archive = Archive();
  return archive ? &archive->Source() : nullptr;
}

int CPackObject::LoadData() {
  if (HasData() || m_isDirectory) return 0;
  if (m_size < 1) return 0;
  std::vector<std::uint8_t> bytes;
  // Never allocate for bytes that cannot be there.
  std::string why;
  if (!CanStream(&why)) return 0;
  auto stream = OpenStream(&why);
  if (!stream) return 0;
  bytes.resize(static_cast<std::size_t>(m_size));
  std::size_t at = 0;
  while (true) {
    const std::int64_t n = stream->Read(bytes.data() + at, bytes.size() - at);
    if (n < 0) return 0;
    if (n == 0) break;
    at += static_cast<std::size_t>(n);
  }
  if (at != bytes.size()) return 0;
  MakeExtra().data = std::move(bytes);
  return 1;
}

bool CPackObject::CanStream(std::string* error) const {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (m_isDirectory) return fail(Quoted(PathInArchive()) + " is a directory");
  if (m_size < 0) return fail(Quoted(PathInArchive()) + " has a negative size");
  if (const auto* data = Data()) {
    if (data->size() < static_cast<std::size_t>(m_size))
      return fail("the bytes of " + Quoted(PathInArchive()) + " are incomplete");
    return true;
  }
  if (!TempPath().empty()) return true;
  const CArchiveReader* archive = Archive();
  if (!m_located || !archive) {
    if (m_size == 0) return true;
    return fail(Quoted(PathInArchive()) +
                (m_located ? " has no archive to read its bytes from" : " was never given its bytes"));
  }
  std::string why = archive->Unreadable(*this);
  return why.empty() ? true : fail(why);
}

namespace {

class CTempFileStream final : public CEntryStream {
 public:
  CTempFileStream(std::FILE* f, std::uint64_t size, std::string label)
      : m_file(f), m_left(size), m_label(std::move(label)) {
    // Read in small pieces by a zip's writer: a large buffer makes them a few large reads. The
    // C library sizes no buffer it is not given.
    if (size > kBufferSize) {
      m_buffer = std::make_unique<char[]>(kBufferSize);
      std::setvbuf(m_file, m_buffer.get(), _IOFBF, kBufferSize);
    }
  }
  ~CTempFileStream() override { std::fclose(m_file); }
  std::int64_t Read(std::uint8_t* dst, std::size_t n) override {
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, m_left));
    if (n == 0) return 0;
    if (std::fread(dst, 1, n, m_file) != n)
      return Fail("the temporary file of " + Quoted(m_label) + " is shorter than the entry");
    m_left -= n;
    return static_cast<std::int64_t>(n);
  }

 private:
  static constexpr std::size_t kBufferSize = 256 << 10;
  std::unique_ptr<char[]> m_buffer;  // freed after the destructor closed the file
  std::FILE* m_file;
  std::uint64_t m_left;
  std::string m_label;
};

}  // namespace

std::unique_ptr<CEntryStream> CPackObject::OpenStream(std::string* error) const {
  if (!CanStream(error)) return nullptr;
  if (const auto* data = Data()) return std::make_unique<CSpanStream>(data->data(), static_cast<std::size_t>(m_size));
  if (!TempPath().empty()) {
    std::FILE* f = std::fopen(TempPath().c_str(), "rb");
    if (!f) {
      if (error) *error = "cannot open the temporary file of " + Quoted(PathInArchive());
      return nullptr;
    }
    return std::make_unique<CTempFileStream>(f, static_cast<std::uint64_t>(m_size), PathInArchive());
  }
  CArchiveReader* archive = Archive();
  if (!m_located || !archive) return std::make_unique<CSpanStream>(nullptr, 0);
  auto stream = archive->Open(*this);
  if (!stream && error) *error = "cannot read the bytes of " + Quoted(PathInArchive());
  return stream;
}

bool CPackObject::StreamData(const std::function<bool(const std::uint8_t*, std::size_t)>& sink,
                             std::string* error) const {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  // Everything that can be told without reading is told before any buffer is taken: an archive
  // of many records pointing outside it must cost nothing per record.
  if (!CanStream(error)) return false;
  const std::size_t size = static_cast<std::size_t>(m_size);
  if (const auto* data = Data())
    return size == 0 || sink(data->data(), size) ? true : fail("cannot write the bytes of " + Quoted(PathInArchive()));
  auto stream = OpenStream(error);
  if (!stream) return false;
  const std::size_t chunk = std::clamp<std::size_t>(size, 1, kChunk);
  const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(chunk);
  while (true) {
    const std::int64_t n = stream->Read(buffer.get(), chunk);
    if (n < 0) return fail(stream->Error());
    if (n == 0) return true;
    if (!sink(buffer.get(), static_cast<std::size_t>(n)))
      return fail("cannot write the bytes of " + Quoted(PathInArchive()));
  }
}

bool CPackObject::CopyBytes(std::vector<std::uint8_t>& out, std::string* error, std::size_t max, bool* cut) const {
  out.clear();
  const std::size_t size = static_cast<std::size_t>(std::max<std::int64_t>(m_size, 0));
  const bool more = size > max;
  if (cut) *cut = more;
  if (!CanStream(error)) return false;
  out.reserve(std::min(size, max));
  std::string why;
  const bool all = StreamData(
      [&](const std::uint8_t* p, std::size_t n) {
        out.insert(out.end(), p, p + std::min(n, max - out.size()));
        return out.size() < max || !more;
      },
      &why);
  // Stopped on purpose once max bytes were read.
  if (all || (more && out.size() == max)) return true;
  if (error) *error = why;
  return false;
}

void ForEachFileInSaveOrder(const CPackObject& dir,
                            const std::function<void(const std::string&, const CPackObject&)>& fn) {
  std::string path = dir.Parent() ? dir.PathInArchive() + "/" : std::string();
  VisitFilesInSaveOrder(dir, path, fn);
}

}  // namespace tarn
