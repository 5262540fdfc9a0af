#include "game/EngineProfile.h"

#include "archive/Strings.h"

namespace tarn {

namespace {

constexpr EngineProfile kProfiles[] = {
    // Written against Quakespasm 0.95.1 and checked by running it. id-Software/Quake
    // WinQuake/common.c: COM_LoadPackFile stops with "%s has %i files" past
    // MAX_FILES_IN_PACK 2048, COM_FindFile compares pak members with strcmp and finds loose files
    // through the file system (exact on Linux), COM_AddGameDirectory links the folder before its
    // paks so that every pak wins. sezero/quakespasm, andrei-drexler/ironwail and Novum/vkQuake
    // Quake/common.c keep all of it; their Quake/gl_model.c Mod_LoadLighting reads .lit files
    // and refuses one whose size does not fit the map (id's engine reads none).
    {Engine::Quake, "quake", "Quake / Quakespasm / Ironwail / vkQuake", "Quake, Quakespasm, Ironwail and vkQuake", 2048,
     NameMatch::Exact, NameMatch::Exact, NameMatch::Exact, false, true, false},
    // Alex3474247/Quakespasm-Spiked quakespasm/Quake/common.c: COM_LoadPackFile keeps the
    // "%s has %i files" stop, with MAX_FILES_IN_PACK raised to 4096 (its header was not at
    // hand to re-read: taken as documented by its authors), pak members still compared with strcmp, zip members
    // lower-cased when the zip is read
    // (fs_zip.c FSZIP_EnumerateCentralDirectory), and COM_AddGameDirectoryBase links the folder
    // last ("spike -- moved this last"), so loose files win.
    {Engine::Qss, "qss", "Quakespasm-Spiked", "Quakespasm-Spiked", 4096, NameMatch::Exact, NameMatch::Exact,
     NameMatch::Exact, true, true, false},
    // fteqw engine/common/fs_pak.c: FSPAK_LoadArchive has the limit commented out and
    // FSPAK_FLocate compares with Q_strcasecmp; fs.c FS_AddPathHandle adds the packages before
    // linking the folder, so loose files win. That FTE finds loose files in any case too is
    // inferred from its case-insensitive file hash; its .lit rules were not traced.
    {Engine::Fte, "fte", "FTE", "FTE", 0, NameMatch::AnyCase, NameMatch::AnyCase, NameMatch::AnyCase, true, false,
     false},
    // id-Software/Quake-2 qcommon/files.c: FS_LoadPackFile stops past MAX_FILES_IN_PACK 4096
    // (qfiles.h), FS_FOpenFile compares pak members with Q_strcasecmp and opens loose files by
    // their exact name; FS_AddGameDirectory links the folder before its paks.
    {Engine::Quake2, "quake2", "Quake II", "Quake II", 4096, NameMatch::AnyCase, NameMatch::AnyCase, NameMatch::Exact,
     false, false, true},
    // Yamagi Quake II 8.20, yquake2/yquake2 src/common/filesystem.c: FS_LoadPAK warns past
    // MAX_FILES_IN_PACK 4096 (files.h; older versions stopped with a fatal error), FS_FOpenFile
    // compares pack members with Q_stricmp (zip members through unzLocateFile, case-insensitive)
    // and opens loose files by the exact name, then by the name lower-cased (Q_strlwr);
    // FS_AddDirToSearchPath links the folder first.
    {Engine::Yamagi, "yamagi", "Yamagi Quake II", "Yamagi Quake II", 4096, NameMatch::AnyCase, NameMatch::AnyCase,
     NameMatch::ExactThenLower, false, false, true},
    // The 2021 re-release as the ports that read its files document it: andrei-drexler/ironwail
    // Quake/common.c COM_InitBaseDir takes the re-release's folder ("%s/rerelease") as the base
    // folder and loads its game folders by the Quake rules above (COM_AddGameDirectory); LOC_LoadFile
    // reads QuakeEX.kpf for its texts only, it is never on the search path. What the
    // re-release's own engine does beyond that is not documented, so these rules are inferred.
    {Engine::Rerelease, "rerelease", "Quake (2021 re-release)", "the Quake re-release (as Ironwail reads it)", 2048,
     NameMatch::Exact, NameMatch::Exact, NameMatch::Exact, false, true, false},
    // DarkPlaces as Debian 12 ships it (0~20180908~beta1), DarkPlacesEngine/DarkPlaces fs.c:
    // FS_LoadPackPAK refuses more than MAX_FILES_IN_PACK 65536 and sets ignorecase for paks, as
    // FS_LoadPackPK3 does for zips, so FS_FindFile compares their members with strcasecmp; loose
    // files are found by FS_SysFileExists, the exact name; FS_AddGameDirectory links the folder
    // after its packages, so loose files win. Its .lit rules were not traced.
    {Engine::DarkPlaces, "darkplaces", "DarkPlaces", "DarkPlaces", 65536, NameMatch::AnyCase, NameMatch::AnyCase,
     NameMatch::Exact, true, false, false},
};

struct Alias {
  std::string_view name;
  Engine engine;
};

constexpr Alias kAliases[] = {
    {"quakespasm", Engine::Quake},      {"ironwail", Engine::Quake}, {"vkquake", Engine::Quake},
    {"quakespasm-spiked", Engine::Qss}, {"fteqw", Engine::Fte},      {"yquake2", Engine::Yamagi},
    {"dp", Engine::DarkPlaces},
};

}  // namespace

const EngineProfile* FindEngineProfile(std::string_view name) {
  const std::string lower = ToLower(name);
  for (const Alias& a : kAliases)
    if (a.name == lower) return &kProfiles[static_cast<int>(a.engine)];
  for (const EngineProfile& p : kProfiles)
    if (p.name == lower) return &p;
  return nullptr;
}

const EngineProfile& DefaultEngineProfile() { return kProfiles[0]; }

std::span<const EngineProfile> EngineProfiles() { return kProfiles; }

std::string EngineProfileNames() {
  std::string names;
  for (const EngineProfile& p : kProfiles) {
    if (!names.empty()) names += ", ";
    names += p.name;
  }
  return names;
}

bool NameAnswers(NameMatch m, std::string_view stored, std::string_view requested) {
  if (stored.size() != requested.size()) return false;
  if (stored == requested) return true;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (std::size_t i = 0; i < stored.size(); ++i) {
    switch (m) {
      case NameMatch::Exact: return false;
      case NameMatch::AnyCase:
        if (lower(stored[i]) != lower(requested[i])) return false;
        break;
      case NameMatch::ExactThenLower:
        if (stored[i] != lower(requested[i])) return false;
        break;
    }
  }
  return true;
}

bool HasCapitals(std::string_view name) {
  for (char c : name)
    if (c >= 'A' && c <= 'Z') return true;
  return false;
}

std::string ExtensionOf(std::string_view fileName) {
  const std::size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  return ToLower(fileName.substr(dot + 1));
}

}  // namespace tarn
