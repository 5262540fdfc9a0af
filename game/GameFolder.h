// Game folders as an engine sees them: which packages it loads from each folder and in what
// order, the loose files beside them, and for every path the copy the engine loads and the
// copies that copy hides. Only the archives' directories are read; bytes only when asked for.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "game/EngineProfile.h"

namespace tarn {

class CPackObject;
class CTarnDoc;

// What an engine's way of reading a directory record does to it.
enum class EntryFlaw : std::uint8_t {
  None,
  // The engine holds the record under another name than this one (a PAK name that fills its 56
  // bytes, read on into the offset or cut short), so a request for path never finds it.
  NeverFound,
  // Finding it stops the engine (Yamagi: a zip member's name cut to 63 bytes, which the zip
  // reader is then asked for and does not have).
  StopsEngine,
};

struct ListedEntry {
  std::string path;  // "maps/e1m1.bsp"
  std::int64_t size = 0;
  EntryFlaw flaw = EntryFlaw::None;
};

// One archive's directory, or a folder's files.
struct ArchiveListing {
  std::vector<ListedEntry> entries;  // an archive's in its own order; a folder's sorted by path
  bool pak = false;                  // a PAK: the names as the archive stores them
  std::size_t records = 0;           // an archive's directory records, a zip's directories included
  // A PAK read as an engine reads it: the records its header claims that lie (partly) past the
  // end of the file, whose names the engine takes from whatever its memory held; not listed.
  std::size_t pastEnd = 0;
};

// Reads an archive's directory, of any container Tarn opens; false with the reason when it
// cannot be read. PAK and zip names are the stored ones; other containers give the names of
// Tarn's tree.
bool ListArchive(const std::filesystem::path& archive, ArchiveListing& out, std::string* error);

// The files below a folder (recursively, following links to folders once), as paths relative
// to it with "/". With skipPackages, the folder's own package files (*.pak, *.pk3, ...) are left
// out. Folders that cannot be read are named in unreadable.
void ListFolderFiles(const std::filesystem::path& folder, bool skipPackages, ArchiveListing& out,
                     std::vector<std::string>* unreadable = nullptr);

// Whether a file name has the extension of a package (pak, pk2, pk3, pk4, pkz, zip, apk, kpf).
bool IsPackageName(std::string_view fileName);

// The engine that the folders' game suggests, for a dialog to propose: Quake II's first engine
// for a "baseq2" folder, or packages holding Quake II's pictures, textures or models ("pics/",
// .wal, .md2, .sp2); Quake's for "id1", or packages holding "progs/", .mdl or gfx.wad. A folder
// holding one of those game folders counts as that game. The base game (given first) decides;
// nullptr when no folder tells.
const EngineProfile* ProposeEngine(const std::vector<std::filesystem::path>& folders);

enum class SourceKind { Archive, Folder };

// One place the engine looks: an archive, or a folder of loose files.
struct GameSource {
  SourceKind kind = SourceKind::Archive;
  std::filesystem::path path;
  std::size_t folder = 0;  // the game folder it belongs to (0: the first given, the base game)
  NameMatch match = NameMatch::Exact;
  ArchiveListing listing;
};

// A package file of a game folder that the engine does not load, and why.
struct PassedOver {
  std::filesystem::path path;
  std::string reason;
};

// A package the engine tries to load and cannot; fatal when the engine stops there.
struct LoadFailure {
  std::filesystem::path path;
  std::string reason;  // what is wrong with it (with the engine's own words), not what follows
  bool fatal = false;
  std::string rule = "package-unreadable";  // the check that reports it
};

// A copy of a file: entry `entry` of source `source`.
struct GameCopy {
  std::uint32_t source = 0;
  std::uint32_t entry = 0;
  bool operator==(const GameCopy&) const = default;
};

// A path the engine answers: the copies that answer it, the one it loads first.
struct GameFile {
  std::string path;  // as the engine is asked for it
  std::vector<GameCopy> copies;
};

// The merged tree for a window: the loaded copy of every path; fileOf leads from an entry of
// the tree to its GameFile (whose other copies are the shadowed ones). Loose files read their
// bytes from disk; archive members through CGameView::Open.
struct MergedTree {
  std::unique_ptr<CPackObject> root;
  std::unordered_map<const CPackObject*, std::size_t> fileOf;  // index into the Files() it was built from
};

// Where a pak of new or changed files goes in a mod's folder so that the engine loads it after
// the mod's own packages: the next number that engine loads. What would still win over it is
// said, so that the caller can warn.
struct NewPakPlan {
  std::filesystem::path path;                      // empty when no number works (see problem)
  std::vector<std::filesystem::path> loadedLater;  // packages the engine would load after it
  bool looseFilesWin = false;                      // the engine prefers the folder's loose files to any package
  std::string problem;
};

// Never proposes a pak of another folder: only modFolder is looked at. (With the load order, in
// LoadOrder.cpp.)
NewPakPlan PlanNewPak(const EngineProfile& profile, const std::filesystem::path& modFolder);

class CGameView {
 public:
  // The game folders the way the engine adds them: the base game first, then each mod, a later
  // folder winning over an earlier one.
  static CGameView LoadFolders(const EngineProfile& profile, const std::vector<std::filesystem::path>& folders);
  // One archive on its own, as the engine reads it.
  static CGameView LoadArchive(const EngineProfile& profile, const std::filesystem::path& archive);

  CGameView(CGameView&&) noexcept;
  CGameView& operator=(CGameView&&) noexcept;
  ~CGameView();

  const EngineProfile& Profile() const { return *m_profile; }
  const std::vector<std::filesystem::path>& Folders() const { return m_folders; }
  // Every source in the engine's order: each one wins over those before it.
  const std::vector<GameSource>& Sources() const { return m_sources; }
  const std::vector<PassedOver>& Passed() const { return m_passed; }
  const std::vector<LoadFailure>& Failures() const { return m_failures; }
  // The first package the engine stops at with a fatal error, so that it never runs; nullptr
  // when there is none.
  const LoadFailure* Stop() const;
  // Folders below the game folders that could not be read.
  const std::vector<std::string>& Unreadable() const { return m_unreadable; }

  const ListedEntry& Entry(GameCopy c) const { return m_sources[c.source].listing.entries[c.entry]; }
  const GameSource& Source(GameCopy c) const { return m_sources[c.source]; }
  // Where a copy lies, for messages: the archive, or the loose file.
  std::filesystem::path Location(GameCopy c) const;

  // The copies that answer a request for path, the one the engine loads first; empty when none.
  // The first one may be flawed (EntryFlaw::StopsEngine): the engine stops as it reads it.
  std::vector<GameCopy> Lookup(std::string_view path) const;
  // Copies whose path differs from path only in case and that do not answer it.
  std::vector<GameCopy> OtherCase(std::string_view path) const;
  // Whether the copy answers a request for path (its name in the engine's way of comparing).
  bool Finds(GameCopy c, std::string_view path) const { return Answers(c, path); }
  // Why a loose file of exactly that path is not found, when a rule of the engine's hides it
  // (Quake's shareware game); empty when none does.
  std::string HiddenBecause(std::string_view path) const;
  // Every path the engine answers, sorted by path.
  std::vector<GameFile> Files() const;

  // An entry that reads the copy's bytes (in its archive's own tree, or the loose file on
  // disk), valid while the view lives; nullptr with the reason when the archive cannot be opened.
  CPackObject* Open(GameCopy c, std::string* error);
  // Up to max bytes from the start of a copy; false with the reason when they cannot be read.
  bool ReadPrefix(GameCopy c, std::size_t max, std::vector<std::uint8_t>& out, std::string* error);

  MergedTree BuildTree(const std::vector<GameFile>& files) const;

 private:
  explicit CGameView(const EngineProfile& profile);
  bool Answers(GameCopy c, std::string_view path) const;
  bool PackagesSkipped(std::string_view path) const;
  void MakeRoomForBytes();  // once the sources are known
  void CheckRegistered();   // and then, for Quake: the shareware game's rules

  const EngineProfile* m_profile;
  std::vector<std::filesystem::path> m_folders;
  bool m_modSet = false;     // more than the base game's folder was loaded
  bool m_shareware = false;  // Quake without gfx/pop.lmp: the shareware game
  std::vector<GameSource> m_sources;
  std::vector<PassedOver> m_passed;
  std::vector<LoadFailure> m_failures;
  std::vector<std::string> m_unreadable;
  // Opened when bytes are first wanted: an archive's document, a folder's tree of loose files.
  std::vector<std::unique_ptr<CTarnDoc>> m_docs;
  std::vector<std::unique_ptr<CPackObject>> m_looseRoots;
  std::unordered_map<std::uint64_t, CPackObject*> m_opened;  // by source and entry
  std::vector<std::vector<std::uint32_t>> m_earlier;         // records of the same name before each one
  // Every copy by its name in lower case, in the engine's order; made once lookups are many.
  mutable std::unordered_map<std::string, std::vector<GameCopy>> m_index;
  mutable int m_lookups = 0;
};

// A document's last error on one line, for lists of messages.
std::string LastErrorLine(const CTarnDoc& doc);

}  // namespace tarn
