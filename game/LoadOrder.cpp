#include "game/LoadOrder.h"

#include <algorithm>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "containers/PakFormat.h"
#include "fileio/ReadSource.h"
#include "fileio/Strings.h"
#include "game/EnginePak.h"

namespace tarn {

namespace fs = std::filesystem;

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

void MatchNames(const EngineProfile& profile, GameSource& source) {
  source.match = source.listing.pak ? profile.pakNames : profile.zipNames;
  // Alex3474247/Quakespasm-Spiked quakespasm/Quake/fs_zip.c FSZIP_EnumerateCentralDirectory
  // lower-cases every member's name as it reads the zip.
  if (profile.id == Engine::Qss && !source.listing.pak)
    for (ListedEntry& e : source.listing.entries) e.path = ToLower(e.path);
  // Yamagi Quake II 8.20 FS_LoadPK3 takes each name through unzGetCurrentFileInfo into a buffer
  // of MAX_QPATH and keeps 63 bytes of a longer one; FS_FOpenFile then finds the cut name and
  // asks unzLocateFile for it, which the zip does not hold: "Couldn't reopen", a fatal error.
  if (profile.id == Engine::Yamagi && !source.listing.pak)
    for (ListedEntry& e : source.listing.entries)
      if (e.path.size() >= kYamagiNameLimit) e.flaw = EntryFlaw::StopsEngine;
}

namespace {

// FTE reads a .pak by its own rules, not modelled in EnginePak: one it cannot read stops no one.
// Tarn's reader answers for it, and for every zip.
bool FailureIsFatal(const EngineProfile& profile, const fs::path& path) {
  return ExtensionOf(path.filename().string()) == "pak" && profile.id != Engine::Fte;
}

}  // namespace

bool ReadPackage(const EngineProfile& profile, GameSource& source, FolderPlan& plan, std::string* passedOver) {
  if (ExtensionOf(source.path.filename().string()) == "pak" && ReadsPakAsEngine(profile)) {
    const EnginePak pak = ReadPakAsEngine(profile, source.path, source.listing);
    switch (pak.verdict) {
      case PakVerdict::Loads: MatchNames(profile, source); return true;
      case PakVerdict::Ignored:
        if (passedOver) *passedOver = "it " + pak.reason + ", and the engine passes over it";
        return false;
      case PakVerdict::Refused:
      case PakVerdict::Stops:
        plan.failures.push_back({source.path, pak.reason, pak.verdict == PakVerdict::Stops, pak.rule});
        return false;
    }
  }
  std::string why;
  if (!ListArchive(source.path, source.listing, &why)) {
    plan.failures.push_back({source.path, why, FailureIsFatal(profile, source.path)});
    return false;
  }
  // Yamagi Quake II 8.20: unzOpen refuses a zip of no entries, and FS_LoadPK3 takes that as no
  // package there (its "has %i files" stop is never reached).
  if (!source.listing.pak && source.listing.records == 0 && profile.id == Engine::Yamagi) {
    if (passedOver) *passedOver = "it holds no files, and Yamagi Quake II skips it";
    return false;
  }
  MatchNames(profile, source);
  return true;
}

namespace {

// Decides, for one game folder, which packages the engine loads and in what order, the way
// that engine's own code walks the folder. Each engine's routine cites the function it follows.
class CFolderPlanner {
 public:
  CFolderPlanner(const EngineProfile& profile, FolderPlan& plan, fs::path folder, std::size_t index,
                 std::string virtualPak = {})
      : m_plan(plan),
        m_profile(profile),
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
      case Engine::DarkPlaces: PlanDarkPlaces(); break;
      case Engine::GoldSrc: PlanXash(); break;
    }
    ExplainTheRest();
  }

 private:
  // --- the engines ---

  // id-Software/Quake WinQuake/common.c COM_AddGameDirectory: the folder is linked first, then
  // "pak%i.pak" for i = 0, 1, ... each linked ahead of the last, until one does not load
  // ("if (!pak) break;"). Quakespasm's COM_LoadPackFile also returns nothing for a pak with no
  // files ("has no files, ignored"), so an empty pak ends the numbering there too.
  //
  // Quakespasm 0.95.1 also loads quakespasm.pak from the base folder (the one above id1) right
  // after trying pak0.pak of the first game folder, whether that loaded or not.
  void PlanQuake() {
    AddLoose();
    for (int i = 0;; ++i) {
      const std::string name = Numbered(i, "pak");
      const bool loaded = Add(name);
      if (i == 0 && m_index == 0 && m_virtual.empty() && m_profile.id == Engine::Quake) AddEnginePak();
      if (loaded) continue;
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

  // Yamagi Quake II 8.20, yquake2/yquake2 src/common/filesystem.c FS_AddDirToSearchPath: the
  // folder first; then per type of fs_packtypes (pak, pk2, pk3, pkz, zip) pak0 to pak99
  // (MAX_PAKS), gaps skipped; then per type every *.<type> but those named pak0 to pak99 plus
  // the type in any case (Q_strcasecmp), in the order FS_ListFiles gives (not sorted; Tarn
  // takes them by name). So pak01.pak, pak100.pak and pakfoo.pak load with the others, and
  // PAK1.pak (not opened as pak1.pak on Linux) never does. From 7.45 to 8.00 every name
  // starting with "pak" was passed over; 8.10 made it this. The extension must be written in
  // lower case, as the pattern is: Sys_FindFirst matches it with glob_match, case-sensitive.
  void PlanYamagi() {
    static const char* const kTypes[] = {"pak", "pk2", "pk3", "pkz", "zip"};
    AddLoose();
    for (const char* type : kTypes)
      for (int i = 0; i < 100; ++i) Add(Numbered(i, type));
    for (const char* type : kTypes)
      for (const std::string& n : m_names) {
        const std::size_t dot = n.rfind('.');
        if (dot == std::string::npos || n.compare(dot + 1, std::string::npos, type) != 0 || !IsFile(n)) continue;
        const long number = NumberOf(ToLower(n), type);
        if (number >= 0 && number < 100) {
          if (n != Numbered(static_cast<int>(number), type))
            m_why.emplace(n,
                          "Yamagi Quake II opens pak0 to pak99 by their names in lower case, and leaves names "
                          "like them in any other case out of its sweep of the other packages");
          continue;
        }
        Add(n);
      }
  }

  // DarkPlaces (Debian 12's 0~20180908~beta1) fs.c FS_AddGameDirectory: the folder's names
  // sorted with strcasecmp (stringlistsort), every *.pak in that order (so pak9.pak after, and
  // over, pak10.pak), then every *.pk3, *.obb and *.pk3dir, the extensions in any case; then
  // the folder itself, so loose files win over every package.
  void PlanDarkPlaces() {
    std::vector<std::string> names(m_names);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      const int c = CompareAnyCase(a, b);
      return c != 0 ? c < 0 : a < b;
    });
    for (const std::string& n : names)
      if (IsFile(n) && ExtensionOf(n) == "pak") Add(n);
    for (const std::string& n : names) {
      const std::string ext = ExtensionOf(n);
      if (ext == "pk3" || ext == "obb" || ext == "pk3dir") Add(n);
    }
    AddLoose();
  }

  // FWGS/xash3d-fwgs 633203e filesystem/searchpath.c FS_AddGameDirectory: the folder's names
  // sorted byte by byte (sys.c stringlistsort), every .pak, then every .pk3, then every .pk3dir
  // (the extension in any case), each put ahead of the last, then the folder itself ahead of
  // them all. Its .wad files, which it also searches, are not followed here.
  void PlanXash() {
    std::vector<std::string> names(m_names);
    std::sort(names.begin(), names.end());
    for (const char* ext : {"pak", "pk3", "pk3dir"})
      for (const std::string& n : names)
        if (ExtensionOf(n) == ext && (IsFile(n) || std::string_view(ext) == "pk3dir")) Add(n);
    AddLoose();
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
      const bool virtualPack =
          m_profile.id == Engine::Fte || m_profile.id == Engine::DarkPlaces || m_profile.id == Engine::GoldSrc;
      if (!virtualPack || ExtensionOf(name) != "pk3dir") return false;
      source.kind = SourceKind::Folder;
      source.match = m_profile.looseNames;
      ListFolderFiles(source.path, false, source.listing, &m_plan.unreadable);
      return Push(key, std::move(source));
    }
    std::string passedOver;
    if (!ReadPackage(m_profile, source, m_plan, &passedOver)) {
      if (!passedOver.empty()) m_why.emplace(name, passedOver);
      return false;
    }
    return Push(key, std::move(source));
  }

  // quakespasm.pak of the base folder, the one above the first game folder.
  void AddEnginePak() {
    const fs::path path = (m_folder / ".." / "quakespasm.pak").lexically_normal();
    std::error_code ec;
    if (!fs::is_regular_file(path, ec) || m_added.count(path.string())) return;
    GameSource source;
    source.path = path;
    source.folder = m_index;
    if (ReadPackage(m_profile, source, m_plan, nullptr)) {
      m_added.insert(path.string());
      m_plan.sources.push_back(std::move(source));
    }
  }

  bool Push(const std::string& key, GameSource source) {
    m_added.insert(key);
    m_plan.sources.push_back(std::move(source));
    return true;
  }

  void AddLoose() {
    GameSource loose;
    loose.kind = SourceKind::Folder;
    loose.path = m_folder;
    loose.folder = m_index;
    loose.match = m_profile.looseNames;
    ListFolderFiles(m_folder, true, loose.listing, &m_plan.unreadable);
    m_plan.sources.push_back(std::move(loose));
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
      m_plan.unreadable.push_back(Quoted((m_folder / "pak.lst").string()) + ": " + why);
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
    for (const LoadFailure& f : m_plan.failures) failed.insert(f.path.string());
    for (const std::string& n : m_names) {
      const bool package = (IsFile(n) && IsPackageName(n)) || (IsDirectory(n) && ExtensionOf(n) == "pk3dir");
      if (!package || n == m_virtual || m_added.count(ToLower(n)) || failed.count((m_folder / n).string())) continue;
      auto it = m_why.find(n);
      m_plan.passed.push_back({m_folder / n, it != m_why.end() ? it->second : DefaultReason(n)});
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
      case Engine::DarkPlaces: return "DarkPlaces loads only .pak, .pk3, .obb and .pk3dir packages";
      case Engine::GoldSrc: return "Xash3D FWGS loads only .pak, .pk3 and .pk3dir packages (and searches .wad files)";
    }
    return "the engine does not load it";
  }

  FolderPlan& m_plan;
  const EngineProfile& m_profile;
  fs::path m_folder;
  std::size_t m_index;
  std::string m_virtual;  // a pak that is not there yet, taken as loadable (PlanNewPak)
  std::vector<std::string> m_names;
  std::unordered_set<std::string> m_files, m_dirs;
  std::unordered_set<std::string> m_added;             // lower case
  std::unordered_map<std::string, std::string> m_why;  // why a package did not load, by name
};

}  // namespace

void PlanFolder(const EngineProfile& profile, const fs::path& folder, std::size_t index, FolderPlan& plan,
                const std::string& virtualPak) {
  CFolderPlanner(profile, plan, folder, index, virtualPak).Run();
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
  // Quake II and Yamagi read pak0 to pak9 and pak0 to pak99; the others have no end (DarkPlaces
  // takes every pak by name, so a hundred numbers are plenty to find one sorting last).
  const bool dp = profile.id == Engine::DarkPlaces;
  const int last = profile.id == Engine::Quake2 ? 9 : profile.id == Engine::Yamagi || dp ? 99 : 999;
  // Where a gap ends the numbering, the first free number is the only one loaded in turn: a
  // higher one would load, if at all, with the packages the engine takes in no defined order.
  const bool gapsSkipped = profile.id == Engine::Quake2 || profile.id == Engine::Yamagi || dp;
  std::size_t bestLater = SIZE_MAX;
  for (int n = 0; n <= last; ++n) {
    const std::string name = "pak" + std::to_string(n) + ".pak";
    if (taken.count(name)) continue;
    // The folder as the engine would load it with the new pak in it.
    FolderPlan folder;
    PlanFolder(profile, modFolder, 0, folder, name);
    const auto& sources = folder.sources;
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
