#include "game/GameFolder.h"

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <set>
#include <utility>
#include <vector>

#include "archive/ContainerFormat.h"
#include "archive/EntryNames.h"
#include "archive/EntryTypes.h"
#include "archive/PackObject.h"
#include "containers/Container.h"
#include "containers/PakFormat.h"
#include "document/TarnDoc.h"
#include "fileio/ReadSource.h"
#include "fileio/Strings.h"
#include "game/LoadOrder.h"

namespace tarn {

namespace fs = std::filesystem;

std::string LastErrorLine(const CTarnDoc& doc) {
  std::string text = doc.LastError();
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

bool IsPackageName(std::string_view fileName) {
  static const std::set<std::string, std::less<>> kExtensions = {"pak", "pk2", "pk3", "pk4",
                                                                 "pkz", "zip", "apk", "kpf"};
  return kExtensions.count(ExtensionOf(fileName)) != 0;
}

namespace {

// Only the first few packages of a folder are read: the base game's pak0 tells, and a folder of
// hundreds of packages should not keep a dialog waiting.
constexpr std::size_t kPackagesToRead = 4;

const EngineProfile* GameOfListing(const ArchiveListing& listing) {
  for (const ListedEntry& e : listing.entries) {
    const std::string path = ToLower(e.path);
    const EntryType type = FileTypeOf(path);
    if (path.starts_with("pics/") || type == EntryType::Quake2Texture || type == EntryType::Quake2Model ||
        type == EntryType::Quake2Sprite)
      return FindEngineProfile("quake2");
    if (path.starts_with("progs/") || type == EntryType::QuakeModel || path == "gfx.wad")
      return FindEngineProfile("quake");
  }
  return nullptr;
}

const EngineProfile* GameOfFolder(const fs::path& given) {
  const fs::path folder = given.has_filename() ? given : given.parent_path();
  const std::string name = ToLower(folder.filename().string());
  if (name == "baseq2") return FindEngineProfile("quake2");
  if (name == "id1") return FindEngineProfile("quake");
  std::error_code ec;
  if (fs::is_directory(folder / "baseq2", ec)) return FindEngineProfile("quake2");
  if (fs::is_directory(folder / "id1", ec)) return FindEngineProfile("quake");
  std::vector<fs::path> packages;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (IsPackageName(it->path().filename().string()) && it->is_regular_file(ec)) packages.push_back(it->path());
  std::sort(packages.begin(), packages.end());
  if (packages.size() > kPackagesToRead) packages.resize(kPackagesToRead);
  for (const fs::path& p : packages) {
    ArchiveListing listing;
    if (!ListArchive(p, listing, nullptr)) continue;
    if (const EngineProfile* game = GameOfListing(listing)) return game;
  }
  return nullptr;
}

}  // namespace

const EngineProfile* ProposeEngine(const std::vector<fs::path>& folders) {
  for (const fs::path& f : folders)
    if (const EngineProfile* game = GameOfFolder(f)) return game;
  return nullptr;
}

bool ListArchive(const fs::path& archive, ArchiveListing& out, std::string* error) {
  out = ArchiveListing{};
  std::string why;
  auto source = CFileSource::Open(archive, &why);
  if (!source) {
    if (error) *error = "cannot open " + Quoted(archive.string()) + ": " + why;
    return false;
  }
  // A PAK's directory is read as it is, names in their stored case: engines that compare them
  // exactly must be judged on those, not on the lower-cased names of Tarn's tree.
  PakIndex index;
  if (ReadPakIndex(*source, index) == PakReadResult::Ok) {
    out.pak = true;
    out.records = index.records.size();
    out.entries.reserve(index.records.size());
    for (const PakRecord& r : index.records) out.entries.push_back({std::string(r.path), r.size});
    return true;
  }
  // A zip's central directory as stored, for the same reason: engines see its names, not
  // Tarn's tree with its "(2)" for a second entry of one name.
  if (ProbeFormat(*source) == ContainerFormat::Zip) {
    DirectoryListing listing;
    if (!CodecFor(ContainerFormat::Zip).Open(source, listing, &why)) {
      if (error) *error = "cannot open " + Quoted(archive.string()) + ": " + why;
      return false;
    }
    out.records = listing.records.size();
    for (const DirectoryRecord& r : listing.records)
      if (!r.directory) out.entries.push_back({std::string(r.path), r.size});
    return true;
  }
  // Every other container through the document, which opens whatever Tarn knows.
  CTarnDoc doc;
  if (!doc.Open(archive)) {
    if (error) *error = LastErrorLine(doc);
    return false;
  }
  ForEachFileInSaveOrder(doc.Root(), [&](const std::string& path, const CPackObject& f) {
    out.entries.push_back({path, f.Size()});
  });
  out.records = out.entries.size();
  return true;
}

namespace {

struct DirId {
  dev_t device;
  ino_t inode;
  bool operator<(const DirId& o) const { return device != o.device ? device < o.device : inode < o.inode; }
};

constexpr int kMaxFolderDepth = 64;

void WalkFolder(const fs::path& dir, const std::string& prefix, int depth, bool skipPackages, std::set<DirId>& seen,
                ArchiveListing& out, std::vector<std::string>* unreadable) {
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) {
    if (unreadable) unreadable->push_back(Quoted(dir.string()) + ": " + ec.message());
    return;
  }
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) {
      if (unreadable) unreadable->push_back(Quoted(dir.string()) + ": " + ec.message());
      return;
    }
    const fs::path& path = it->path();
    const std::string name = path.filename().string();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) continue;  // a dangling link is no file for the engine either
    if (S_ISDIR(st.st_mode)) {
      // FTE mounts a folder named *.pk3dir as a package of its own, never as loose files.
      if (depth == 0 && skipPackages && ExtensionOf(name) == "pk3dir") continue;
      // A link back up the tree is followed once only.
      if (depth + 1 >= kMaxFolderDepth || !seen.insert({st.st_dev, st.st_ino}).second) continue;
      WalkFolder(path, prefix + name + "/", depth + 1, skipPackages, seen, out, unreadable);
    } else if (S_ISREG(st.st_mode)) {
      if (depth == 0 && skipPackages && IsPackageName(name)) continue;
      out.entries.push_back({prefix + name, static_cast<std::int64_t>(st.st_size)});
    }
  }
}

}  // namespace

void ListFolderFiles(const fs::path& folder, bool skipPackages, ArchiveListing& out,
                     std::vector<std::string>* unreadable) {
  out = ArchiveListing{};
  std::set<DirId> seen;
  struct stat st;
  if (::stat(folder.c_str(), &st) == 0) seen.insert({st.st_dev, st.st_ino});
  WalkFolder(folder, "", 0, skipPackages, seen, out, unreadable);
  std::sort(out.entries.begin(), out.entries.end(),
            [](const ListedEntry& a, const ListedEntry& b) { return a.path < b.path; });
}

CGameView::CGameView(const EngineProfile& profile) : m_profile(&profile) {}
CGameView::CGameView(CGameView&&) noexcept = default;
CGameView& CGameView::operator=(CGameView&&) noexcept = default;
CGameView::~CGameView() = default;

CGameView CGameView::LoadFolders(const EngineProfile& profile, const std::vector<fs::path>& folders) {
  CGameView view(profile);
  view.m_folders = folders;
  // Each game folder is added after the one before and so wins over it
  // (id-Software/Quake WinQuake/common.c COM_InitFilesystem: id1, then -game); one already
  // added is not added again (fteqw engine/common/fs.c FS_AddGameDirectory, "already loaded").
  std::set<fs::path> added;
  FolderPlan plan;
  for (std::size_t i = 0; i < folders.size(); ++i) {
    std::error_code ec;
    if (added.insert(fs::weakly_canonical(folders[i], ec)).second) PlanFolder(profile, folders[i], i, plan);
  }
  view.m_modSet = added.size() > 1;
  view.m_sources = std::move(plan.sources);
  view.m_passed = std::move(plan.passed);
  view.m_failures = std::move(plan.failures);
  view.m_unreadable = std::move(plan.unreadable);
  view.MakeRoomForBytes();
  view.CheckRegistered();
  return view;
}

namespace {

// Whether the pak is id's own pak0.pak, as Quakespasm 0.95.1 Quake/common.c COM_LoadPackFile
// knows it: PAK0_COUNT 339 files, and a directory whose CRC (crc.c: CRC-CCITT, 0xffff first) is
// one of its releases'. Any other pak makes the game a modified one.
bool IsIdPak0(const GameSource& source) {
  constexpr std::size_t kCount = 339;
  if (!source.listing.pak || source.listing.records != kCount) return false;
  std::string why;
  auto file = CFileSource::Open(source.path, &why);
  std::uint8_t header[pak::kHeaderSize];
  if (!file || !file->ReadAt(0, header, sizeof header)) return false;
  const auto u32 = [&](int i) {
    return static_cast<std::uint32_t>(header[i] | header[i + 1] << 8 | header[i + 2] << 16) |
           static_cast<std::uint32_t>(header[i + 3]) << 24;
  };
  const std::uint32_t at = u32(4), length = u32(8);
  if (length != kCount * pak::kRecordSize) return false;
  std::vector<std::uint8_t> directory(length);
  if (!file->ReadAt(at, directory.data(), directory.size())) return false;
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t byte : directory) {
    crc ^= static_cast<std::uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit) crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc == 13900 || crc == 62751 || crc == 32981;  // PAK0_CRC_V100, _V101, _V106
}

}  // namespace

// id-Software/Quake WinQuake/common.c COM_CheckRegistered, as Quakespasm 0.95.1 keeps it, once
// every package is loaded: the game is the registered one when COM_FindFile finds gfx/pop.lmp,
// anywhere (its bytes are compared with the registered picture too, "Corrupted data file.",
// which Tarn does not do). Without it the shareware game runs, and then
// - a modified game stops the engine: "You must have the registered version to use modified
//   games" - one with a -game folder (COM_InitFilesystem sets com_modified), or a pak that is
//   not id's pak0.pak (quakespasm.pak aside, which COM_AddGameDirectory keeps out of it);
// - COM_FindFile finds no loose file in a subfolder: "if not a registered version, don't ever
//   go beyond base" (see Answers).
void CGameView::CheckRegistered() {
  if (m_profile->id != Engine::Quake || !Lookup("gfx/pop.lmp").empty()) return;
  m_shareware = true;
  const std::string stop =
      ", and without gfx/pop.lmp (the registered game's) the engine runs the shareware game, which "
      "refuses it: \"You must have the registered version to use modified games\"";
  if (m_modSet && m_folders.size() > 1) {
    m_failures.push_back({m_folders[1], "is a mod's folder (-game)" + stop, true, "shareware"});
    return;
  }
  for (const GameSource& s : m_sources)
    if (s.kind == SourceKind::Archive && s.path.filename() != "quakespasm.pak" && !IsIdPak0(s)) {
      m_failures.push_back({s.path, "is not id's pak0.pak" + stop, true, "shareware"});
      return;
    }
}

CGameView CGameView::LoadArchive(const EngineProfile& profile, const fs::path& archive) {
  CGameView view(profile);
  view.m_folders = {archive.parent_path()};
  GameSource source;
  source.path = archive;
  FolderPlan plan;
  std::string passedOver;
  if (ReadPackage(profile, source, plan, &passedOver)) view.m_sources.push_back(std::move(source));
  else if (!passedOver.empty()) view.m_passed.push_back({archive, passedOver});
  view.m_failures = std::move(plan.failures);
  view.MakeRoomForBytes();
  return view;
}

void CGameView::MakeRoomForBytes() {
  m_docs.resize(m_sources.size());
  m_looseRoots.resize(m_sources.size());
  m_earlier.resize(m_sources.size());
}

fs::path CGameView::Location(GameCopy c) const {
  const GameSource& s = Source(c);
  return s.kind == SourceKind::Archive ? s.path : s.path / Entry(c).path;
}

const LoadFailure* CGameView::Stop() const {
  for (const LoadFailure& f : m_failures)
    if (f.fatal) return &f;
  return nullptr;
}

namespace {

// The name the engine holds an entry under, where that differs from the stored one only by
// being cut (Yamagi's zip members).
std::string_view HeldName(const ListedEntry& e) {
  std::string_view name = e.path;
  if (e.flaw == EntryFlaw::StopsEngine && name.size() >= kYamagiNameLimit) name = name.substr(0, kYamagiNameLimit - 1);
  return name;
}

}  // namespace

// Yamagi Quake II 8.20 FS_FOpenFile, "Evil hack for maps.lst and players/": with no mod set
// (the game cvar empty) every package is skipped for these names, found only as loose files.
bool CGameView::PackagesSkipped(std::string_view path) const {
  return m_profile->id == Engine::Yamagi && !m_modSet && (path == "maps.lst" || path.rfind("players/", 0) == 0);
}

bool CGameView::Answers(GameCopy c, std::string_view path) const {
  const ListedEntry& e = Entry(c);
  const GameSource& s = Source(c);
  if (e.flaw == EntryFlaw::NeverFound) return false;
  if (s.kind == SourceKind::Archive && PackagesSkipped(path)) return false;
  if (s.kind == SourceKind::Folder) {
    // The shareware game finds loose files only at the top of a game folder (CheckRegistered).
    if (m_shareware && path.find_first_of("/\\") != std::string_view::npos) return false;
    const std::string ext = ExtensionOf(path);
    if (ext == "cfg" || ext == "rc") return NameAnswers(m_profile->looseScripts, HeldName(e), path);
  }
  return NameAnswers(s.match, HeldName(e), path);
}

std::vector<GameCopy> CGameView::Lookup(std::string_view path) const {
  // Yamagi keeps the name asked for in a buffer of MAX_QPATH too (FS_FOpenFile's handle->name).
  if (m_profile->id == Engine::Yamagi && path.size() >= kYamagiNameLimit) path = path.substr(0, kYamagiNameLimit - 1);
  auto answers = [&](GameCopy c) { return Answers(c, path); };
  std::vector<GameCopy> copies;
  // One question is answered by walking the sources; many (the checks) by an index of the names.
  if (m_index.empty() && ++m_lookups > 4) {
    for (std::size_t s = m_sources.size(); s-- > 0;)
      for (std::size_t e = 0; e < m_sources[s].listing.entries.size(); ++e)
        m_index[ToLower(HeldName(m_sources[s].listing.entries[e]))].push_back(
            {static_cast<std::uint32_t>(s), static_cast<std::uint32_t>(e)});
  }
  if (!m_index.empty()) {
    const auto it = m_index.find(ToLower(path));
    if (it != m_index.end())
      for (GameCopy c : it->second)
        if (answers(c)) copies.push_back(c);
    return copies;
  }
  // The search path is walked from the last source added; inside a source the first record
  // of the name is the one found (COM_FindFile's loops).
  for (std::size_t s = m_sources.size(); s-- > 0;)
    for (std::size_t e = 0; e < m_sources[s].listing.entries.size(); ++e) {
      const GameCopy c{static_cast<std::uint32_t>(s), static_cast<std::uint32_t>(e)};
      if (answers(c)) copies.push_back(c);
    }
  return copies;
}

std::string CGameView::HiddenBecause(std::string_view path) const {
  if (!m_shareware || path.find_first_of("/\\") == std::string_view::npos) return {};
  for (std::size_t s = m_sources.size(); s-- > 0;) {
    const auto& entries = m_sources[s].listing.entries;
    if (m_sources[s].kind != SourceKind::Folder) continue;
    for (std::size_t e = 0; e < entries.size(); ++e)
      if (entries[e].path == path)
        return Quoted(Location({static_cast<std::uint32_t>(s), static_cast<std::uint32_t>(e)}).string()) +
               " is there, but without gfx/pop.lmp " + std::string(m_profile->engines) +
               " run the shareware game, which finds no loose file in a subfolder";
  }
  return {};
}

std::vector<GameCopy> CGameView::OtherCase(std::string_view path) const {
  std::vector<GameCopy> copies;
  for (std::size_t s = m_sources.size(); s-- > 0;) {
    const GameSource& src = m_sources[s];
    if (!IsExact(src.match)) continue;
    const auto& entries = src.listing.entries;
    for (std::size_t e = 0; e < entries.size(); ++e) {
      const GameCopy c{static_cast<std::uint32_t>(s), static_cast<std::uint32_t>(e)};
      if (entries[e].path != path && SameName(entries[e].path, path) && !Answers(c, path)) copies.push_back(c);
    }
  }
  return copies;
}

std::vector<GameFile> CGameView::Files() const {
  struct Item {
    std::string_view path;
    GameCopy copy;
  };
  std::vector<Item> items;
  std::size_t total = 0;
  for (const GameSource& s : m_sources) total += s.listing.entries.size();
  items.reserve(total);
  for (std::size_t s = 0; s < m_sources.size(); ++s)
    for (std::size_t e = 0; e < m_sources[s].listing.entries.size(); ++e) {
      const ListedEntry& entry = m_sources[s].listing.entries[e];
      const GameCopy copy{static_cast<std::uint32_t>(s), static_cast<std::uint32_t>(e)};
      if (Answers(copy, entry.path) || entry.flaw == EntryFlaw::StopsEngine) items.push_back({entry.path, copy});
    }
  // By name in any case, and within a name in the engine's order: the last source first, and
  // in one source its first record first.
  std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    if (int c = CompareAnyCase(a.path, b.path)) return c < 0;
    if (a.copy.source != b.copy.source) return a.copy.source > b.copy.source;
    return a.copy.entry < b.copy.entry;
  });

  std::vector<GameFile> files;
  files.reserve(items.size());
  for (std::size_t i = 0; i < items.size();) {
    std::size_t j = i + 1;
    while (j < items.size() && SameName(items[j].path, items[i].path)) ++j;
    if (j == i + 1) {  // most paths have one copy
      files.push_back({std::string(items[i].path), {items[i].copy}});
      i = j;
      continue;
    }
    // Each spelling in the group is a request the engine could be given; a copy answers it
    // when its source compares in any case or when it is spelt the same. Spellings answered
    // by the very same copies are one path.
    std::vector<std::vector<GameCopy>> answered;
    for (std::size_t k = i; k < j; ++k) {
      const std::string& spelling = Entry(items[k].copy).path;
      std::vector<GameCopy> copies;
      for (std::size_t m = i; m < j; ++m)
        if (Answers(items[m].copy, spelling) || (m == k && Entry(items[m].copy).flaw == EntryFlaw::StopsEngine))
          copies.push_back(items[m].copy);
      if (std::find(answered.begin(), answered.end(), copies) != answered.end()) continue;
      answered.push_back(copies);
      files.push_back({spelling, std::move(copies)});
    }
    i = j;
  }
  std::sort(files.begin(), files.end(), [](const GameFile& a, const GameFile& b) { return a.path < b.path; });
  return files;
}

namespace {

CPackObject* EnsureDirectories(CPackObject& root, std::string_view path) {
  CPackObject* dir = &root;
  while (true) {
    const std::size_t slash = path.find('/');
    if (slash == std::string_view::npos) return dir;
    const std::string_view segment = path.substr(0, slash);
    CPackObject* sub = dir->FindChildExact(segment);
    dir = sub && sub->IsDirectory() ? sub : dir->AddChildAsIs(segment, true);
    path.remove_prefix(slash + 1);
  }
}

// The k-th file (from 0) of the path in the tree, in its order: of exactly that path, or of it in
// any case when anyCase; nullptr when there are fewer.
CPackObject* NthFile(const CPackObject& root, std::string_view path, std::uint32_t k, bool anyCase) {
  const auto same = [&](const std::string& name, std::string_view wanted) {
    return anyCase ? SameName(name, wanted) : name == wanted;
  };
  CPackObject* found = nullptr;
  const std::function<void(const CPackObject&, std::string_view)> walk = [&](const CPackObject& dir,
                                                                             std::string_view rest) {
    const std::size_t slash = rest.find('/');
    for (CPackObject* c : dir.Children()) {
      if (found) return;
      if (slash == std::string_view::npos) {
        if (!c->IsDirectory() && same(c->Name(), rest) && k-- == 0) found = c;
      } else if (c->IsDirectory() && same(c->Name(), rest.substr(0, slash))) {
        walk(*c, rest.substr(slash + 1));
      }
    }
  };
  walk(root, path);
  return found;
}

std::string_view LeafOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

CPackObject* CGameView::Open(GameCopy c, std::string* error) {
  const GameSource& src = Source(c);
  const ListedEntry& listed = Entry(c);
  const std::uint64_t id = (static_cast<std::uint64_t>(c.source) << 32) | c.entry;
  if (auto it = m_opened.find(id); it != m_opened.end()) return it->second;
  if (src.kind == SourceKind::Folder) {
    auto& root = m_looseRoots[c.source];
    if (!root) {
      root = std::make_unique<CPackObject>();
      root->SetDirectory(true);
    }
    // A loose file is read where it lies; each copy gets its own entry (names that differ only
    // in case are apart on disk, and apart here).
    CPackObject* dir = EnsureDirectories(*root, listed.path);
    CPackObject* file = dir->AddChild(LeafOf(listed.path), false);
    file->SetSize(static_cast<std::int32_t>(std::min<std::int64_t>(listed.size, pak::kMaxArchiveSize)));
    file->SetTempFile((src.path / listed.path).string(), false);
    m_opened.emplace(id, file);
    return file;
  }
  auto& doc = m_docs[c.source];
  if (!doc) {
    auto opened = std::make_unique<CTarnDoc>();
    if (!opened->Open(src.path)) {
      if (error) *error = LastErrorLine(*opened);
      return nullptr;
    }
    doc = std::move(opened);
  }
  // Records of one path keep their names in the tree, in the archive's order: the entry is the
  // k-th file of that path, counted as the engine compares names (the listing may hold them
  // lower-cased then).
  const bool anyCase = src.match != NameMatch::Exact;
  auto& earlierOf = m_earlier[c.source];
  if (earlierOf.empty() && !src.listing.entries.empty()) {
    std::unordered_map<std::string, std::uint32_t> seen;
    earlierOf.reserve(src.listing.entries.size());
    for (const ListedEntry& e : src.listing.entries) earlierOf.push_back(seen[anyCase ? ToLower(e.path) : e.path]++);
  }
  CPackObject* entry = NthFile(doc->Root(), listed.path, earlierOf[c.entry], anyCase);
  // A listing that lower-cased the names (as Quakespasm-Spiked reads zips) finds them in any case.
  if (!entry && !anyCase) entry = NthFile(doc->Root(), listed.path, earlierOf[c.entry], true);
  if (!entry || entry->IsDirectory()) {
    if (error) *error = Quoted(listed.path) + " is not in " + Quoted(src.path.string()) + " any more";
    return nullptr;
  }
  m_opened.emplace(id, entry);
  return entry;
}

bool CGameView::ReadPrefix(GameCopy c, std::size_t max, std::vector<std::uint8_t>& out, std::string* error) {
  out.clear();
  CPackObject* entry = Open(c, error);
  if (!entry) return false;
  const std::size_t want =
      std::min<std::size_t>(max, static_cast<std::size_t>(std::max<std::int64_t>(entry->Size(), 0)));
  out.reserve(want);
  const bool all = entry->StreamData(
      [&](const std::uint8_t* p, std::size_t n) {
        out.insert(out.end(), p, p + std::min(n, want - out.size()));
        return out.size() < want;  // enough read: stop
      },
      error);
  return all || out.size() == want;
}

MergedTree CGameView::BuildTree(const std::vector<GameFile>& files) const {
  MergedTree tree;
  tree.root = std::make_unique<CPackObject>();
  tree.root->Rename("root");
  tree.root->SetDirectory(true);
  for (std::size_t i = 0; i < files.size(); ++i) {
    const GameCopy loaded = files[i].copies.front();
    CPackObject* dir = EnsureDirectories(*tree.root, files[i].path);
    // Shown as the engine names it: files apart for the engine stay apart, whatever their case.
    CPackObject* file = dir->AddChildAsIs(LeafOf(files[i].path), false);
    file->SetSize(static_cast<std::int32_t>(std::min<std::int64_t>(Entry(loaded).size, pak::kMaxArchiveSize)));
    if (Source(loaded).kind == SourceKind::Folder) file->SetTempFile(Location(loaded).string(), false);
    tree.fileOf.emplace(file, i);
  }
  return tree;
}

}  // namespace tarn
