#include "archive/PackObject.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "archive/ByteIO.h"
#include "archive/EntryNames.h"
#include "archive/PakFormat.h"
#include "archive/PakWriter.h"

namespace tarn {

namespace {

constexpr std::size_t kChunk = 1 << 20;

}  // namespace

// --- name index ---

namespace {
// Marks a slot whose entry was erased, so that probing goes on past it. Never dereferenced.
alignas(CPackObject) char tombstoneStorage[1];
CPackObject* const kTombstone = reinterpret_cast<CPackObject*>(tombstoneStorage);

std::size_t HashName(std::string_view s) { return std::hash<std::string_view>{}(s); }
}  // namespace

CPackObject* CNameIndex::Find(std::string_view name) const {
  if (m_slots.empty()) return nullptr;
  const std::size_t mask = m_slots.size() - 1;
  const std::size_t hash = HashName(name);
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    ++m_probes;
    const Slot& slot = m_slots[i];
    if (!slot.entry) return nullptr;
    if (slot.hash == hash && slot.entry != kTombstone && slot.entry->Name() == name) return slot.entry;
  }
}

void CNameIndex::Place(CPackObject* entry, std::size_t hash) {
  const std::size_t mask = m_slots.size() - 1;
  std::size_t i = hash & mask;
  for (++m_probes; m_slots[i].entry && m_slots[i].entry != kTombstone; ++m_probes) i = (i + 1) & mask;
  if (!m_slots[i].entry) ++m_filled;
  m_slots[i] = {entry, hash};
  ++m_live;
}

void CNameIndex::Insert(CPackObject* entry) {
  if ((m_filled + 1) * 2 > m_slots.size())
    Rehash(m_live * 4 >= m_slots.size() ? std::max<std::size_t>(8, m_slots.size() * 2) : m_slots.size());
  Place(entry, HashName(entry->Name()));
}

void CNameIndex::Erase(const CPackObject* entry) {
  if (m_slots.empty()) return;
  const std::size_t mask = m_slots.size() - 1;
  for (std::size_t i = HashName(entry->Name()) & mask; m_slots[i].entry; i = (i + 1) & mask) {
    if (m_slots[i].entry == entry) {
      m_slots[i].entry = kTombstone;
      --m_live;
      return;
    }
  }
}

void CNameIndex::Clear() {
  m_slots.clear();
  m_slots.shrink_to_fit();
  m_live = m_filled = 0;
}

void CNameIndex::Rehash(std::size_t slots) {
  std::vector<Slot> old(slots);
  old.swap(m_slots);
  m_live = m_filled = 0;
  for (const Slot& s : old)
    if (s.entry && s.entry != kTombstone) Place(s.entry, s.hash);
}

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
  m_children->index.Clear();
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
}

void CPackObject::SetDirectory(bool isDirectory) {
  m_isDirectory = isDirectory;
  SetKind();
}

CPackObject::Extra& CPackObject::MakeExtra() {
  if (!m_extra) m_extra = std::make_unique<Extra>();
  return *m_extra;
}

const std::string& CPackObject::TempPath() const {
  static const std::string none;
  return m_extra ? m_extra->tempPath : none;
}

void CPackObject::SetData(std::vector<std::uint8_t> bytes) { MakeExtra().data = std::move(bytes); }

void CPackObject::SetKind() {
  int kind = kIconFile;
  if (m_isDirectory) {
    m_image = kIconDirectory;
    m_selectedImage = kIconOpenDirectory;
    return;
  }
  const std::string& n = m_name;
  if (n.size() >= 4) {
    if (EndsWith(n, ".wav"))
      kind = kIconSound;
    else if (EndsWith(n, ".mdl"))
      kind = kIconMdl;
    else if (EndsWith(n, ".md2"))
      kind = kIconMd2;
    else if (EndsWith(n, ".pcx") || EndsWith(n, ".lmp") || EndsWith(n, ".wal"))
      kind = kIconPicture;
    else if (EndsWith(n, ".cfg") || EndsWith(n, ".txt") || EndsWith(n, ".rc"))
      kind = kIconText;
    else if (EndsWith(n, ".sp2") || EndsWith(n, ".spr"))
      kind = kIconSprite;
  }
  m_image = m_selectedImage = kind;
}

// --- tree ---

CPackObject* CPackObject::Root() {
  CPackObject* p = this;
  while (p->m_parent) p = p->m_parent;
  return p;
}

const CPackObject* CPackObject::Root() const { return const_cast<CPackObject*>(this)->Root(); }

CPackObject::ChildTable& CPackObject::EnsureChildren() {
  if (!m_children) m_children = std::make_unique<ChildTable>();
  return *m_children;
}

std::string CPackObject::UniqueName(const std::string& lower) {
  if (!FindChild(lower)) return lower;
  std::string base = lower, ext;
  if (lower.size() > 3) {
    std::size_t dot = lower.rfind('.');
    if (dot != std::string::npos) {
      base = lower.substr(0, dot);
      ext = lower.substr(dot);
    }
  }
  int& next = EnsureChildren().nextSuffix[lower];
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
  ChildTable& c = EnsureChildren();
  child->m_parent = this;
  child->SetKind();
  CPackObject* raw = child.release();
  raw->m_prevSibling = c.last;
  raw->m_nextSibling = nullptr;
  (c.last ? c.last->m_nextSibling : c.first) = raw;
  c.last = raw;
  c.index.Insert(raw);
  return raw;
}

CPackObject* CPackObject::AddChild(std::string_view name, bool isDirectory) {
  auto child = std::make_unique<CPackObject>();
  child->m_name = UniqueName(StoredName(name));
  child->m_isDirectory = isDirectory;
  return Enter(std::move(child));
}

std::string CPackObject::FreeName(std::string_view typed) { return UniqueName(StoredName(typed)); }

CPackObject* CPackObject::AdoptChild(std::unique_ptr<CPackObject> child) {
  if (!child) return nullptr;
  child->m_name = UniqueName(StoredName(child->m_name));
  if (child->m_extra) child->m_extra->source.reset();
  return Enter(std::move(child));
}

CPackObject* CPackObject::FindChild(std::string_view name) const {
  return m_children ? m_children->index.Find(name) : nullptr;
}

CPackObject* CPackObject::FindChildDirectory(std::string_view name) const {
  // Names are unique within a directory, so the only candidate is the one the map holds.
  CPackObject* found = FindChild(name);
  return found && found->m_isDirectory ? found : nullptr;
}

CPackObject* CPackObject::FindByPath(std::string_view path) const {
  const CPackObject* dir = this;
  while (true) {
    std::size_t slash = path.find('/');
    if (slash == std::string_view::npos) return dir->FindChild(path);
    dir = dir->FindChildDirectory(path.substr(0, slash));
    if (!dir) return nullptr;
    path.remove_prefix(slash + 1);
  }
}

std::unique_ptr<CPackObject> CPackObject::DetachChild(CPackObject* child) {
  if (!m_children || !child || child->m_parent != this || m_children->index.Find(child->m_name) != child)
    return nullptr;
  // Bound before it leaves: its offsets describe the archive this directory reads from.
  if (child->m_isDirectory || child->m_offset > 0 || child->m_size > 0)
    if (const auto& source = SourceRef(); source && !(child->m_extra && child->m_extra->source)) child->SetSource(source);
  ChildTable& c = *m_children;
  c.index.Erase(child);
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
  if (!child || child->m_parent || FindChild(child->m_name) || (before && before->m_parent != this)) return nullptr;
  CPackObject* raw = Enter(std::move(child));
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
  return raw;
}

bool CPackObject::Rename(const std::string& newName) {
  if (newName.empty() || newName.find('/') != std::string::npos || newName.find('\0') != std::string::npos)
    return false;
  if (newName == m_name) return true;
  if (!m_parent) {
    m_name = newName;
    SetKind();
    return true;
  }
  ChildTable& siblings = *m_parent->m_children;
  if (siblings.index.Find(newName)) return false;
  if (siblings.index.Find(m_name) != this) return false;
  siblings.index.Erase(this);
  m_name = newName;
  siblings.index.Insert(this);
  siblings.nextSuffix.clear();
  SetKind();
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

void CPackObject::SetSource(std::shared_ptr<CReadSource> source) { MakeExtra().source = std::move(source); }

CReadSource* CPackObject::Source() const { return SourceRef().get(); }

const std::shared_ptr<CReadSource>& CPackObject::SourceRef() const {
  static const std::shared_ptr<CReadSource> none;
  for (const CPackObject* p = this; p; p = p->m_parent)
    if (p->m_extra && p->m_extra->source) return p->m_extra->source;
  return none;
}

void CPackObject::UnbindSource() {
  if (m_parent && m_extra) m_extra->source.reset();
}

int CPackObject::LoadData() {
  if (HasData() || m_isDirectory) return 0;
  if (m_size < 1) return 0;
  std::vector<std::uint8_t> bytes;
  const std::string& tempPath = TempPath();
  if (!tempPath.empty()) {
    std::error_code ec;
    auto onDisk = std::filesystem::file_size(tempPath, ec);
    if (ec || onDisk < static_cast<std::uint64_t>(m_size)) return 0;
    std::FILE* f = std::fopen(tempPath.c_str(), "rb");
    if (!f) return 0;
    bytes.resize(static_cast<std::size_t>(m_size));
    bool ok = std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
    std::fclose(f);
    if (!ok) return 0;
  } else {
    CReadSource* source = Source();
    // Never allocate for bytes the archive cannot hold.
    if (!source || m_damaged || !source->Contains(m_offset, m_size)) return 0;
    bytes.resize(static_cast<std::size_t>(m_size));
    if (!source->ReadAt(static_cast<std::uint64_t>(m_offset), bytes.data(), bytes.size())) return 0;
  }
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
    if (data->size() < static_cast<std::size_t>(m_size)) return fail("the bytes of " + Quoted(PathInArchive()) + " are incomplete");
  } else if (m_size > 0 && TempPath().empty()) {
    const CReadSource* source = Source();
    if (!source) return fail(Quoted(PathInArchive()) + " has no archive to read its bytes from");
    if (m_damaged || !source->Contains(m_offset, m_size))
      return fail("the data of " + Quoted(PathInArchive()) + " lie outside the archive");
  }
  return true;
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
  if (size == 0) return true;
  const std::size_t chunk = std::min(size, kChunk);
  const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(chunk);
  if (!TempPath().empty()) {
    std::FILE* f = std::fopen(TempPath().c_str(), "rb");
    if (!f) return fail("cannot open the temporary file of " + Quoted(PathInArchive()));
    std::size_t left = size;
    while (left > 0) {
      std::size_t n = std::min(left, chunk);
      if (std::fread(buffer.get(), 1, n, f) != n) {
        std::fclose(f);
        return fail("the temporary file of " + Quoted(PathInArchive()) + " is shorter than the entry");
      }
      if (!sink(buffer.get(), n)) {
        std::fclose(f);
        return fail("cannot write the bytes of " + Quoted(PathInArchive()));
      }
      left -= n;
    }
    std::fclose(f);
    return true;
  }
  CReadSource* source = Source();
  std::uint64_t at = static_cast<std::uint64_t>(m_offset);
  std::size_t left = size;
  while (left > 0) {
    std::size_t n = std::min(left, chunk);
    if (!source->ReadAt(at, buffer.get(), n)) return fail("cannot read the bytes of " + Quoted(PathInArchive()));
    if (!sink(buffer.get(), n)) return fail("cannot write the bytes of " + Quoted(PathInArchive()));
    at += n;
    left -= n;
  }
  return true;
}

bool CPackObject::CopyBytes(std::vector<std::uint8_t>& out, std::string* error, std::size_t max, bool* cut) const {
  out.clear();
  const std::size_t size = static_cast<std::size_t>(std::max<std::int32_t>(m_size, 0));
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

// --- saving ---

bool CPakWriter::Write(const void* data, std::size_t n) {
  if (Failed()) return false;
  if (!m_out.Write(data, n)) {
    Fail(kWriteFailed);
    return false;
  }
  m_position += static_cast<std::int64_t>(n);
  if (!Advance(m_progress, n)) {
    Fail(kCancelled);
    return false;
  }
  return true;
}

bool CPackObject::WriteData(CPakWriter& writer) const {
  for (CPackObject* c : Children()) {
    if (c->m_isDirectory) continue;
    writer.RecordOffset(static_cast<std::int32_t>(writer.Position()));
    std::string why;
    if (!c->StreamData([&](const std::uint8_t* p, std::size_t n) { return writer.Write(p, n); }, &why)) {
      writer.Fail(writer.Failed() ? writer.Error() : why);
      return false;
    }
  }
  for (CPackObject* c : Children())
    if (c->m_isDirectory && !c->WriteData(writer)) return false;
  return true;
}

bool CPackObject::WriteDirectory(CPakWriter& writer, std::string prefix) const {
  if (m_parent) prefix += m_name + "/";
  for (CPackObject* c : Children()) {
    if (c->m_isDirectory) continue;
    std::uint8_t record[pak::kRecordSize] = {};
    std::string path = prefix + c->m_name;
    std::memcpy(record, path.data(), std::min(path.size(), pak::kMaxPathLength));
    StoreU32(record + pak::kNameField, static_cast<std::uint32_t>(writer.TakeOffset()));
    StoreU32(record + pak::kNameField + 4, static_cast<std::uint32_t>(c->m_size));
    if (!writer.Write(record, sizeof record)) return false;
  }
  for (CPackObject* c : Children())
    if (c->m_isDirectory && !c->WriteDirectory(writer, prefix)) return false;
  return true;
}

void ApplyOffsets(CPackObject& root, const std::vector<std::int32_t>& offsets) {
  std::size_t i = 0;
  std::function<void(CPackObject&)> walk = [&](CPackObject& dir) {
    for (CPackObject* c : dir.Children())
      if (!c->IsDirectory() && i < offsets.size()) c->SetOffset(offsets[i++]);
    for (CPackObject* c : dir.Children())
      if (c->IsDirectory()) walk(*c);
  };
  walk(root);
}

void ForEachFileInSaveOrder(const CPackObject& dir,
                            const std::function<void(const std::string&, const CPackObject&)>& fn) {
  std::function<void(const CPackObject&, const std::string&)> walk = [&](const CPackObject& d,
                                                                          const std::string& prefix) {
    for (CPackObject* c : d.Children())
      if (!c->IsDirectory()) fn(prefix + c->Name(), *c);
    for (CPackObject* c : d.Children())
      if (c->IsDirectory()) walk(*c, prefix + c->Name() + "/");
  };
  walk(dir, dir.Parent() ? dir.PathInArchive() + "/" : std::string());
}

}  // namespace tarn
