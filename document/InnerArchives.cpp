// Archives inside the document's archive, opened in place. Each is a document of its own over
// a private copy of the holding file's bytes; the outer document keeps them all, flat, so that
// one history holds every edit and one save writes them, innermost first.
#include <algorithm>
#include <fstream>

#include "document/TarnDoc.h"
#include "fileio/Strings.h"
#include "fileio/TempFile.h"

namespace tarn {

namespace fs = std::filesystem;

namespace {

// What the holding file's bytes are: an opened tree stands for them only while they stay the
// ones it was read from or last written into. Bytes merely loaded for a look do not count.
struct HolderBytes {
  bool inSource = false;
  std::int64_t offset = 0, size = 0;
  std::string temp;
  const void* data = nullptr;
  bool operator==(const HolderBytes&) const = default;
};

HolderBytes BytesOf(const CPackObject& holder) {
  if (holder.BytesInSource()) return {true, holder.Offset(), holder.Size(), {}, nullptr};
  const auto* data = holder.Data();
  return {false, 0, holder.Size(), holder.TempPath(), data ? data->data() : nullptr};
}

void Mix(std::uint64_t& h, const void* p, std::size_t n) {
  const auto* b = static_cast<const std::uint8_t*>(p);
  for (std::size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 0x100000001b3ull;
}
template <typename T>
void MixValue(std::uint64_t& h, const T& v) {
  Mix(h, &v, sizeof v);
}

// A fingerprint of everything a save of the tree would write: names, places, sizes, and where
// each file's bytes come from (their place in the source, or the bytes given since). An edit
// undone gives the fingerprint back, so an inner archive is rewritten only when it changed.
void Fingerprint(const CPackObject& dir, std::uint64_t& h) {
  for (const CPackObject* c : dir.Children()) {
    Mix(h, c->Name().data(), c->Name().size());
    MixValue(h, c->IsDirectory());
    if (c->IsDirectory()) {
      Fingerprint(*c, h);
      MixValue(h, std::uint8_t{0xFF});  // the end of the directory
      continue;
    }
    MixValue(h, c->Size());
    if (c->BytesInSource()) {
      MixValue(h, c->Offset());
    } else if (const auto* data = c->Data()) {
      Mix(h, data->data(), data->size());
    } else {
      Mix(h, c->TempPath().data(), c->TempPath().size());
    }
  }
}

std::uint64_t FingerprintOf(const CPackObject& root) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  Fingerprint(root, h);
  return h;
}

// Inner archives within inner archives go no deeper than this.
constexpr int kMaxDepth = 16;

}  // namespace

struct CTarnDoc::Inner {
  CPackObject* holder = nullptr;    // only while alive says so
  std::weak_ptr<const void> alive;  // the holder's Lifetime: it may go with a discarded undo step
  std::unique_ptr<CTarnDoc> doc;
  fs::path file;  // the private copy, and where the inner archive is written
  HolderBytes bytes;
  std::uint64_t written = 0;  // the fingerprint of the tree as its file holds it
  bool live = false;          // shown when the save began
  ~Inner() {
    doc.reset();
    std::error_code ec;
    fs::remove(file, ec);
  }
};

// Here, where an inner archive is a complete type.
CTarnDoc::CTarnDoc() { ResetRoot(); }

CTarnDoc::~CTarnDoc() {
  // The history may hold entries of inner archives; it goes before the trees they belong to.
  m_history.Clear();
  ForgetInner();
}

void CTarnDoc::ForgetInner() { m_inner.clear(); }

bool CTarnDoc::InnerLive(const Inner& inner, int depth) const {
  if (depth > kMaxDepth || inner.alive.expired() || !(BytesOf(*inner.holder) == inner.bytes)) return false;
  const CPackObject* root = inner.holder->Root();
  if (root == m_root.get()) return true;
  for (const auto& other : m_inner)
    if (other.get() != &inner && &other->doc->Root() == root) return InnerLive(*other, depth + 1);
  return false;
}

CPackObject* CTarnDoc::InnerRoot(const CPackObject& holder) const {
  // The newest first: a file given its bytes back by an undo may match an older one too.
  for (auto it = m_inner.rbegin(); it != m_inner.rend(); ++it)
    if ((*it)->holder == &holder && !(*it)->alive.expired() && InnerLive(**it)) return &(*it)->doc->Root();
  return nullptr;
}

CPackObject* CTarnDoc::HolderOf(const CPackObject& root) const {
  for (const auto& inner : m_inner)
    if (&inner->doc->Root() == &root) return inner->alive.expired() ? nullptr : inner->holder;
  return nullptr;
}

const CTarnDoc* CTarnDoc::InnerDocument(const CPackObject& root) const {
  for (const auto& inner : m_inner)
    if (&inner->doc->Root() == &root) return inner->doc.get();
  return nullptr;
}

std::string CTarnDoc::FullPath(const CPackObject& entry) const {
  std::string path = entry.PathInArchive();
  const CPackObject* root = entry.Root();
  for (int depth = 0; depth <= kMaxDepth; ++depth) {
    const CPackObject* holder = HolderOf(*root);
    if (!holder) break;
    const std::string above = holder->PathInArchive();
    path = path.empty() ? above : above + "/" + path;
    root = holder->Root();
  }
  return path;
}

CPackObject* CTarnDoc::FindFullPath(std::string_view path) const {
  CPackObject* at = m_root.get();
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view name = path.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    if (name.empty()) continue;
    if (!at->IsDirectory()) {
      at = InnerRoot(*at);
      if (!at) return nullptr;
    }
    at = at->FindChild(name);
    if (!at) return nullptr;
  }
  return at;
}

CPackObject* CTarnDoc::OpenInner(CPackObject& holder, std::string* error) {
  if (CPackObject* open = InnerRoot(holder)) return open;
  const std::string label = Quoted(FullPath(holder));
  auto fail = [&](const std::string& why) -> CPackObject* {
    if (error) *error = why;
    return nullptr;
  };
  if (holder.IsDirectory()) return fail(label + " is a directory");
  int depth = 0;
  for (const CPackObject* r = holder.Root(); (r = HolderOf(*r)) != nullptr; r = r->Root())
    if (++depth >= kMaxDepth) return fail(label + " lies too deep inside other archives");
  auto inner = std::make_unique<Inner>();
  inner->holder = &holder;
  inner->alive = holder.Lifetime();
  const auto temp = CreateTempFile("tarn-inner");
  if (!temp) return fail("no temporary file could be made for " + label);
  inner->file = *temp;
  {
    std::ofstream out(inner->file, std::ios::binary | std::ios::trunc);
    std::string why;
    const bool ok = holder.StreamData(
        [&](const std::uint8_t* p, std::size_t n) {
          out.write(reinterpret_cast<const char*>(p), static_cast<std::streamsize>(n));
          return static_cast<bool>(out);
        },
        &why);
    out.close();
    if (!ok || !out) return fail(label + " cannot be read" + (why.empty() ? "" : ": " + why));
  }
  inner->doc = std::make_unique<CTarnDoc>();
  inner->doc->SetWriteOptions(m_writeOptions);
  if (!inner->doc->Open(inner->file)) {
    // The reason names the private copy; the user knows the file by its place in the archive.
    std::string why = inner->doc->LastError();
    const std::string copy = Quoted(inner->file.string());
    for (std::size_t at; (at = why.find(copy)) != std::string::npos;) why.replace(at, copy.size(), label);
    return fail(why);
  }
  inner->bytes = BytesOf(holder);
  inner->written = FingerprintOf(inner->doc->Root());
  m_inner.push_back(std::move(inner));
  return &m_inner.back()->doc->Root();
}

void CTarnDoc::NoteInnerHolders() {
  for (const auto& inner : m_inner)
    if (inner->live) inner->bytes = BytesOf(*inner->holder);
}

bool CTarnDoc::WriteInnerArchives() {
  for (const auto& inner : m_inner) inner->live = InnerLive(*inner);
  // Innermost first: a holder's own bytes are settled before the archive holding it is written.
  std::vector<std::pair<int, Inner*>> due;
  for (const auto& inner : m_inner) {
    if (!inner->live) continue;
    int depth = 0;
    for (const CPackObject* r = inner->holder->Root(); (r = HolderOf(*r)) != nullptr; r = r->Root()) ++depth;
    due.emplace_back(depth, inner.get());
  }
  std::sort(due.begin(), due.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (auto& [depth, inner] : due) {
    if (FingerprintOf(inner->doc->Root()) == inner->written) continue;
    CTarnDoc& doc = *inner->doc;
    if (!doc.Save(inner->file, {}, doc.Format()))
      return Fail("The archive inside, " + Quoted(FullPath(*inner->holder)) + ", cannot be saved:\n" + doc.LastError());
    std::error_code ec;
    const auto size = fs::file_size(inner->file, ec);
    if (ec) return Fail("The archive inside, " + Quoted(FullPath(*inner->holder)) + ", cannot be read back.");
    CPackObject& holder = *inner->holder;
    holder.ReleaseData();
    // The file is the inner document's: the entry reads it, and never deletes it. Let go first,
    // so that a second write into the same file still counts as new bytes.
    holder.SetTempFile({}, false);
    holder.SetTempFile(inner->file.string(), false);
    holder.SetSize(static_cast<std::int64_t>(size));
    inner->bytes = BytesOf(holder);
    inner->written = FingerprintOf(doc.Root());
  }
  return true;
}

}  // namespace tarn
