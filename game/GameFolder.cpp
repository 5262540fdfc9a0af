#include "game/GameFolder.h"

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <set>
#include <unordered_set>
#include <utility>

#include "archive/Container.h"
#include "archive/ContainerFormat.h"
#include "archive/EntryNames.h"
#include "archive/PackObject.h"
#include "archive/PakFormat.h"
#include "archive/ReadSource.h"
#include "archive/Strings.h"
#include "archive/TarnDoc.h"

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
  if (!doc.OnOpenDocument(archive)) {
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

std::vector<std::string> ParsePakList(std::string_view text) {
  // The tokens as COM_Parse splits them (sezero/quakespasm Quake/common.c): white space apart,
  // "//" to the end of the line is a comment, "..." quotes, and { } ( ) ' : stand alone.
  std::vector<std::string> tokens;
  std::size_t i = 0;
  auto single = [](char c) { return c == '{' || c == '}' || c == '(' || c == ')' || c == '\'' || c == ':'; };
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c <= ' ') {
      ++i;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
      while (i < text.size() && text[i] != '\n') ++i;
    } else if (c == '"') {
      const std::size_t end = text.find('"', i + 1);
      tokens.emplace_back(text.substr(i + 1, end == std::string_view::npos ? std::string_view::npos : end - i - 1));
      i = end == std::string_view::npos ? text.size() : end + 1;
    } else if (single(static_cast<char>(c))) {
      tokens.emplace_back(1, static_cast<char>(c));
      ++i;
    } else {
      const std::size_t start = i;
      while (i < text.size() && static_cast<unsigned char>(text[i]) > ' ' && !single(text[i])) ++i;
      tokens.emplace_back(text.substr(start, i - start));
    }
  }
  return tokens;
}

namespace {

// How the engine compares the names of an archive it loaded.
void MatchNames(const EngineProfile& profile, GameSource& source) {
  source.match = source.listing.pak ? profile.pakNames : profile.zipNames;
  // Alex3474247/Quakespasm-Spiked quakespasm/Quake/fs_zip.c FSZIP_EnumerateCentralDirectory
  // lower-cases every member's name as it reads the zip.
  if (profile.id == Engine::Qss && !source.listing.pak)
    for (ListedEntry& e : source.listing.entries) e.path = ToLower(e.path);
}

// A .pak that is not one stops Quake (COM_LoadPackFile: "%s is not a packfile"), Quake II
// (FS_LoadPackFile) and Yamagi (FS_LoadPAK) with a fatal error; FTE (FSPAK_LoadArchive) and
// the zip readers only say so and go on.
bool FailureIsFatal(const EngineProfile& profile, const fs::path& path) {
  return ExtensionOf(path.filename().string()) == "pak" && profile.id != Engine::Fte;
}

}  // namespace

// Decides, for one game folder, which packages the engine loads and in what order, the way
// that engine's own code walks the folder. Each engine's routine cites the function it follows.
class CFolderPlanner {
 public:
  CFolderPlanner(CGameView& view, fs::path folder, std::size_t index, std::string virtualPak = {})
      : m_view(view),
        m_profile(view.Profile()),
        m_folder(std::move(folder)),
        m_index(index),
        m_virtual(std::move(virtualPak)) {}

  void Run() {
    ScanNames();
    switch (m_profile.id) {
      case Engine::Quake:
      case Engine::Rerelease: PlanQuake(); break;
      case Engine::Qss: PlanQss(); break;
      case Engine::Fte: PlanFte(); break;
      case Engine::Quake2: PlanQuake2(); break;
      case Engine::Yamagi: PlanYamagi(); break;
    }
    ExplainTheRest();
  }

 private:
  // --- the engines ---

  // id-Software/Quake WinQuake/common.c COM_AddGameDirectory: the folder is linked first, then
  // "pak%i.pak" for i = 0, 1, ... each linked ahead of the last, until one does not load
  // ("if (!pak) break;"). Quakespasm's COM_LoadPackFile also returns nothing for a pak with no
  // files ("has no files, ignored"), so an empty pak ends the numbering there too.
  void PlanQuake() {
    AddLoose();
    for (int i = 0;; ++i) {
      const std::string name = Numbered(i, "pak");
      if (Add(name)) continue;
      const std::string why = (Exists(name) ? name + " is not loaded" : name + " is missing") +
                              ", and the engine stops at the first number it cannot load";
      for (const std::string& n : m_names)
        if (NumberOf(n, "pak") > i) m_why.emplace(n, why);
      break;
    }
  }

  // Alex3474247/Quakespasm-Spiked quakespasm/Quake/common.c COM_AddGameDirectoryBase: the
  // packages pak.lst names, in its order; then pak%i.pak and pak%i.pk3 for i = 0, 1, ... until
  // neither loads; then, unless -nowildpaks, every *.pak and *.pk3 in the order the folder lists
  // them (COM_ListSystemFiles, readdir: no order the engine defines; Tarn takes them by name);
  // then the folder itself, so loose files win. COM_AddPackage never adds a file twice.
  void PlanQss() {
    for (const std::string& token : PakListTokens()) {
      const std::string ext = ExtensionOf(token);
      if (ext == "pak" || ext == "pk3" || ext == "pk4" || ext == "zip" || ext == "apk") Add(token);
    }
    for (int i = 0;; ++i) {
      const bool pak = Add(Numbered(i, "pak"));
      const bool pk3 = Add(Numbered(i, "pk3"));
      if (!pak && !pk3) break;
    }
    for (const std::string& n : m_names) {
      const std::string ext = ExtensionOf(n);
      if (IsFile(n) && (ext == "pak" || ext == "pk3")) Add(n);
    }
    AddLoose();
  }

  // fteqw engine/common/fs.c FS_AddDataFiles, for the package types FS_RegisterDefaultFileSystems
  // marks for scanning, in its order (pak, PAK, pk3dir, pk3, pk4; zip and apk are not scanned):
  // the packages pak.lst names; then per type pak%i.<type> until one is missing; then per type
  // every *.<type> (the extension as written: "PAK" is registered apart for case-sensitive
  // systems). FS_AddPathHandle links the folder after them, so loose files win.
  void PlanFte() {
    static const char* const kTypes[] = {"pak", "PAK", "pk3dir", "pk3", "pk4"};
    for (const std::string& token : PakListTokens()) {
      const std::string ext = ExtensionOf(token);
      if (ext == "pak" || ext == "pk3dir" || ext == "pk3" || ext == "pk4") Add(token);
    }
    for (const char* type : kTypes)
      for (int i = 0;; ++i)
        if (!Exists(Numbered(i, type)) || !Add(Numbered(i, type))) break;
    for (const char* type : kTypes)
      for (const std::string& n : m_names) {
        const std::size_t dot = n.rfind('.');
        if (dot != std::string::npos && n.compare(dot + 1, std::string::npos, type) == 0) Add(n);
      }
    AddLoose();
  }

  // id-Software/Quake-2 qcommon/files.c FS_AddGameDirectory: the folder first, then pak0.pak to
  // pak9.pak; a missing one is skipped ("continue"), not the end.
  void PlanQuake2() {
    AddLoose();
    for (int i = 0; i < 10; ++i) Add(Numbered(i, "pak"));
  }

  // yquake2/yquake2 src/common/filesystem.c FS_AddDirToSearchPath: the folder first; then per
  // type of fs_packtypes (pak, pk2, pk3, pkz, zip) pak0 to pak99 (MAX_PAKS), gaps skipped; then
  // per type every *.<type> whose name does not start with "pak" ("If the pak starts with the
  // string 'pak' it's ignored"), in the order FS_ListFiles gives (not sorted; Tarn takes them by
  // name). That the extension must be written in lower case, as the pattern is, is inferred from
  // Sys_FindFirst matching the pattern on Unix.
  void PlanYamagi() {
    static const char* const kTypes[] = {"pak", "pk2", "pk3", "pkz", "zip"};
    AddLoose();
    for (const char* type : kTypes)
      for (int i = 0; i < 100; ++i) Add(Numbered(i, type));
    for (const char* type : kTypes)
      for (const std::string& n : m_names) {
        const std::size_t dot = n.rfind('.');
        if (dot == std::string::npos || n.compare(dot + 1, std::string::npos, type) != 0 || !IsFile(n)) continue;
        if (n.rfind("pak", 0) == 0) {
          m_why.emplace(n, "Yamagi Quake II loads a package whose name starts with \"pak\" only as pak0 to pak99");
          continue;
        }
        Add(n);
      }
  }

  // --- loading one package ---

  // Loads the package as the engine would: false when it is not on the search path afterwards.
  bool Add(const std::string& name) {
    const std::string key = ToLower(name);
    // Engines never add one file twice, and compare the names in any case (COM_AddPackage,
    // FS_AddWildDataFiles).
    if (m_added.count(key)) return true;
    if (!Exists(name)) return false;
    GameSource source;
    source.path = m_folder / name;
    source.folder = m_index;
    if (name == m_virtual) {
      source.match = m_profile.pakNames;
      return Push(key, std::move(source));
    }
    if (IsDirectory(name)) {
      if (m_profile.id != Engine::Fte || ExtensionOf(name) != "pk3dir") return false;
      source.kind = SourceKind::Folder;
      source.match = m_profile.looseNames;
      ListFolderFiles(source.path, false, source.listing, &m_view.m_unreadable);
      return Push(key, std::move(source));
    }
    std::string why;
    if (!ListArchive(source.path, source.listing, &why)) {
      Fail(source.path, why);
      return false;
    }
    if (source.listing.pak && source.listing.entries.empty() && !EmptyPakLoads(source.path)) return false;
    // yquake2/yquake2 src/common/filesystem.c FS_LoadPK3: ERR_FATAL "'%s' has %i files" when the
    // central directory counts no record at all.
    if (!source.listing.pak && source.listing.records == 0 && m_profile.id == Engine::Yamagi) {
      YamagiStops(source.path);
      return false;
    }
    MatchNames(m_profile, source);
    return Push(key, std::move(source));
  }

  bool Push(const std::string& key, GameSource source) {
    m_added.insert(key);
    m_view.m_sources.push_back(std::move(source));
    return true;
  }

  // What the engine does with a pak of no files.
  bool EmptyPakLoads(const fs::path& path) {
    switch (m_profile.id) {
      case Engine::Quake:
      case Engine::Qss:
      case Engine::Rerelease:
        // sezero/quakespasm Quake/common.c COM_LoadPackFile: "WARNING: %s has no files, ignored".
        m_why.emplace(path.filename().string(), "it holds no files, and the engine ignores an empty pak");
        return false;
      case Engine::Yamagi:
        // yquake2/yquake2 src/common/filesystem.c FS_LoadPAK: ERR_FATAL "'%s' is too short."
        YamagiStops(path);
        return false;
      case Engine::Fte:
      case Engine::Quake2: return true;
    }
    return true;
  }

  void YamagiStops(const fs::path& emptyPackage) {
    m_view.m_failures.push_back(
        {emptyPackage, "it holds no files, and Yamagi Quake II stops with a fatal error", true});
  }

  void Fail(const fs::path& path, const std::string& why) {
    m_view.m_failures.push_back({path, why, FailureIsFatal(m_profile, path)});
  }

  void AddLoose() {
    GameSource loose;
    loose.kind = SourceKind::Folder;
    loose.path = m_folder;
    loose.folder = m_index;
    loose.match = m_profile.looseNames;
    ListFolderFiles(m_folder, true, loose.listing, &m_view.m_unreadable);
    m_view.m_sources.push_back(std::move(loose));
  }

  // --- the folder's names ---

  void ScanNames() {
    std::error_code ec;
    for (fs::directory_iterator it(m_folder, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      m_names.push_back(name);
      std::error_code kindError;
      if (it->is_directory(kindError)) m_dirs.insert(name);
      else if (it->is_regular_file(kindError)) m_files.insert(name);
    }
    if (!m_virtual.empty() && !m_files.count(m_virtual)) {
      m_names.push_back(m_virtual);
      m_files.insert(m_virtual);
    }
    // Where an engine's order among packages comes from the folder listing, which no engine
    // sorts, Tarn takes them by name so that its answer at least does not change between runs.
    std::sort(m_names.begin(), m_names.end());
  }

  // Engines open a package by its exact name: on Linux "PAK0.PAK" is not "pak0.pak".
  bool Exists(const std::string& name) const { return m_files.count(name) || m_dirs.count(name); }
  bool IsFile(const std::string& name) const { return m_files.count(name) != 0; }
  bool IsDirectory(const std::string& name) const { return m_dirs.count(name) != 0; }

  std::vector<std::string> PakListTokens() {
    if (!IsFile("pak.lst")) return {};
    std::string why;
    auto source = CFileSource::Open(m_folder / "pak.lst", &why);
    if (!source) {
      m_view.m_unreadable.push_back(Quoted((m_folder / "pak.lst").string()) + ": " + why);
      return {};
    }
    constexpr std::uint64_t kMaxList = 1 << 20;
    std::string text(static_cast<std::size_t>(std::min(source->Size(), kMaxList)), '\0');
    if (!source->ReadAt(0, text.data(), text.size())) return {};
    std::vector<std::string> names;
    for (std::string& token : ParsePakList(text))
      // Both engines skip names that would lead out of the folder.
      if (token.find_first_of("/\\:") == std::string::npos) names.push_back(std::move(token));
    return names;
  }

  static std::string Numbered(int i, std::string_view type) {
    return "pak" + std::to_string(i) + "." + std::string(type);
  }

  // N for a name "pakN.<type>" as the engine writes it (digits without leading zeros), else -1.
  static long NumberOf(std::string_view name, std::string_view type) {
    if (name.size() < 5 + type.size() || name.substr(0, 3) != "pak") return -1;
    if (name.substr(name.size() - type.size() - 1) != "." + std::string(type)) return -1;
    const std::string_view digits = name.substr(3, name.size() - 4 - type.size());
    if (digits.empty() || digits.size() > 9 || (digits.size() > 1 && digits[0] == '0')) return -1;
    long n = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return -1;
      n = n * 10 + (c - '0');
    }
    return n;
  }

  // Every package file of the folder that did not load gets a reason.
  void ExplainTheRest() {
    std::unordered_set<std::string> failed;
    for (const LoadFailure& f : m_view.m_failures) failed.insert(f.path.string());
    for (const std::string& n : m_names) {
      const bool package = (IsFile(n) && IsPackageName(n)) || (IsDirectory(n) && ExtensionOf(n) == "pk3dir");
      if (!package || n == m_virtual || m_added.count(ToLower(n)) || failed.count((m_folder / n).string())) continue;
      auto it = m_why.find(n);
      m_view.m_passed.push_back({m_folder / n, it != m_why.end() ? it->second : DefaultReason(n)});
    }
  }

  std::string DefaultReason(const std::string& name) const {
    const std::string ext = ExtensionOf(name);
    const std::string exactly = HasCapitals(name) ? " (by the exact name: Linux file names are case-sensitive)" : "";
    switch (m_profile.id) {
      case Engine::Quake:
      case Engine::Rerelease:
        return ext == "pak" ? "the engine loads only pak0.pak, pak1.pak, ... in turn" + exactly
                            : "the engine loads no ." + ext + " packages, only paks";
      case Engine::Qss:
        if (ext == "pk4" || ext == "zip" || ext == "apk")
          return "Quakespasm-Spiked loads a ." + ext + " only when pak.lst names it";
        if (ext == "pak" || ext == "pk3") return "it did not load";
        return "Quakespasm-Spiked loads no ." + ext + " packages";
      case Engine::Fte:
        if (ext == "zip" || ext == "apk") return "FTE does not look for ." + ext + " packages in a game folder";
        if (ext == "pak" || ext == "pk3" || ext == "pk4" || ext == "pk3dir")
          return "FTE looks for packages by their exact extension (pak, PAK, pk3, pk4, pk3dir)";
        return "FTE loads no ." + ext + " packages";
      case Engine::Quake2:
        return ext == "pak" ? "Quake II loads only pak0.pak to pak9.pak" + exactly
                            : "Quake II loads no ." + ext + " packages, only paks";
      case Engine::Yamagi:
        if (ext == "pak" || ext == "pk2" || ext == "pk3" || ext == "pkz" || ext == "zip")
          return "Yamagi Quake II looks for packages by their exact extension";
        return "Yamagi Quake II loads no ." + ext + " packages";
    }
    return "the engine does not load it";
  }

  CGameView& m_view;
  const EngineProfile& m_profile;
  fs::path m_folder;
  std::size_t m_index;
  std::string m_virtual;  // a pak that is not there yet, taken as loadable (PlanNewPak)
  std::vector<std::string> m_names;
  std::unordered_set<std::string> m_files, m_dirs;
  std::unordered_set<std::string> m_added;             // lower case
  std::unordered_map<std::string, std::string> m_why;  // why a package did not load, by name
};

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
  for (std::size_t i = 0; i < folders.size(); ++i) {
    std::error_code ec;
    if (added.insert(fs::weakly_canonical(folders[i], ec)).second) CFolderPlanner(view, folders[i], i).Run();
  }
  view.MakeRoomForBytes();
  return view;
}

CGameView CGameView::LoadArchive(const EngineProfile& profile, const fs::path& archive) {
  CGameView view(profile);
  view.m_folders = {archive.parent_path()};
  GameSource source;
  source.path = archive;
  std::string why;
  if (ListArchive(archive, source.listing, &why)) {
    MatchNames(profile, source);
    view.m_sources.push_back(std::move(source));
  } else {
    view.m_failures.push_back({archive, why, FailureIsFatal(profile, archive)});
  }
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

std::vector<GameCopy> CGameView::Lookup(std::string_view path) const {
  auto answers = [&](GameCopy c) {
    const std::string& stored = Entry(c).path;
    return SameName(stored, path) && (!IsExact(Source(c).match) || stored == path);
  };
  std::vector<GameCopy> copies;
  // One question is answered by walking the sources; many (the checks) by an index of the names.
  if (m_index.empty() && ++m_lookups > 4) {
    for (std::size_t s = m_sources.size(); s-- > 0;)
      for (std::size_t e = 0; e < m_sources[s].listing.entries.size(); ++e)
        m_index[ToLower(m_sources[s].listing.entries[e].path)].push_back(
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

std::vector<GameCopy> CGameView::OtherCase(std::string_view path) const {
  std::vector<GameCopy> copies;
  for (std::size_t s = m_sources.size(); s-- > 0;) {
    const GameSource& src = m_sources[s];
    if (!IsExact(src.match)) continue;
    const auto& entries = src.listing.entries;
    for (std::size_t e = 0; e < entries.size(); ++e)
      if (entries[e].path != path && SameName(entries[e].path, path))
        copies.push_back({static_cast<std::uint32_t>(s), static_cast<std::uint32_t>(e)});
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
    for (std::size_t e = 0; e < m_sources[s].listing.entries.size(); ++e)
      items.push_back(
          {m_sources[s].listing.entries[e].path, {static_cast<std::uint32_t>(s), static_cast<std::uint32_t>(e)}});
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
        if (!IsExact(Source(items[m].copy).match) || Entry(items[m].copy).path == spelling)
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
    if (!opened->OnOpenDocument(src.path)) {
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

NewPakPlan PlanNewPak(const EngineProfile& profile, const fs::path& modFolder) {
  NewPakPlan plan;
  plan.looseFilesWin = profile.looseFilesWin;
  std::error_code ec;
  if (!fs::is_directory(modFolder, ec)) {
    plan.problem = Quoted(modFolder.string()) + " is not a folder";
    return plan;
  }
  std::set<std::string> taken;  // in lower case: a name that differs only in case is no new name
  for (fs::directory_iterator it(modFolder, ec), end; !ec && it != end; it.increment(ec))
    taken.insert(ToLower(it->path().filename().string()));
  // Quake II and Yamagi read pak0 to pak9 and pak0 to pak99; the others have no end.
  const int last = profile.id == Engine::Quake2 ? 9 : profile.id == Engine::Yamagi ? 99 : 999;
  // Where a gap ends the numbering, the first free number is the only one loaded in turn: a
  // higher one would load, if at all, with the packages the engine takes in no defined order.
  const bool gapsSkipped = profile.id == Engine::Quake2 || profile.id == Engine::Yamagi;
  std::size_t bestLater = SIZE_MAX;
  for (int n = 0; n <= last; ++n) {
    const std::string name = "pak" + std::to_string(n) + ".pak";
    if (taken.count(name)) continue;
    // The folder as the engine would load it with the new pak in it.
    CGameView view(profile);
    view.m_folders = {modFolder};
    CFolderPlanner(view, modFolder, 0, name).Run();
    const auto& sources = view.Sources();
    const auto at =
        std::find_if(sources.begin(), sources.end(), [&](const GameSource& s) { return s.path.filename() == name; });
    if (at == sources.end()) {
      if (gapsSkipped) continue;
      break;
    }
    std::vector<fs::path> later;
    for (auto s = at + 1; s != sources.end(); ++s)
      if (s->kind == SourceKind::Archive || s->path != modFolder) later.push_back(s->path);
    if (later.size() < bestLater) {
      bestLater = later.size();
      plan.path = modFolder / name;
      plan.loadedLater = std::move(later);
    }
    if (bestLater == 0 || !gapsSkipped) break;
  }
  if (plan.path.empty())
    plan.problem =
        "no pak number is left that " + std::string(profile.engines) + " would load in " + Quoted(modFolder.string());
  return plan;
}

}  // namespace tarn
