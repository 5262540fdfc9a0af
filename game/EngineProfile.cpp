#include "game/EngineProfile.h"

#include "fileio/Strings.h"

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
    // after its packages, so loose files win. Its .lit rules were not traced. But exec (cmd.c
    // Cmd_Exec_f) first looks for its script with FS_Search(name, caseinsensitive): for a
    // folder, listdirectory of the folders the name gives, as spelled, and matchpattern of the
    // names in it in any case; the name found is then loaded by the rules above, from the
    // same place. So a loose TEST.CFG answers "exec test.cfg".
    {Engine::DarkPlaces, "darkplaces", "DarkPlaces", "DarkPlaces", 65536, NameMatch::AnyCase, NameMatch::AnyCase,
     NameMatch::Exact, true, false, false, NameMatch::AnyCaseFileName},
    // Half-Life's engine (GoldSrc) is not open: the profile is written against Xash3D FWGS, which
    // loads Half-Life's files, at FWGS/xash3d-fwgs 633203e (2026-08-22). filesystem/pak.c
    // FS_LoadPackPAK leaves out a pak of more than MAX_FILES_IN_PACK 65536 files ("Ignored.") and
    // finds its members with Q_stricmp, as zip.c does a pk3's; dir.c FS_FixFileCase finds loose
    // files in any case on Linux too; searchpath.c FS_AddGameDirectory adds the folder last, so
    // loose files win. Half-Life's maps carry their coloured light: no .lit is read for them.
    {Engine::GoldSrc, "goldsrc", "Half-Life (Xash3D FWGS)", "Xash3D FWGS", 65536, NameMatch::AnyCase,
     NameMatch::AnyCase, NameMatch::AnyCase, true, false, false},
};

struct Alias {
  std::string_view name;
  Engine engine;
};

constexpr Alias kAliases[] = {
    {"quakespasm", Engine::Quake},      {"ironwail", Engine::Quake},   {"vkquake", Engine::Quake},
    {"quakespasm-spiked", Engine::Qss}, {"fteqw", Engine::Fte},        {"yquake2", Engine::Yamagi},
    {"dp", Engine::DarkPlaces},         {"halflife", Engine::GoldSrc}, {"xash3d", Engine::GoldSrc},
};

using P = PastLimit;

// Quakespasm 0.95 Quake/gl_model.h and Quake/gl_model.c Mod_LoadAliasModel (sezero/quakespasm):
// "has too many vertices" past MAXALIASVERTS and "has too many triangles" past MAXALIASTRIS,
// "posenum >= MAXALIASFRAMES" in Mod_LoadAliasFrame and Mod_LoadAliasGroup, "Invalid # of
// skins" past MAX_SKINS in Mod_LoadAllSkins, all Sys_Error; a skin taller than MAX_LBM_HEIGHT
// (Quake/glquake.h) is only a developer warning. Quakespasm 0.96 raised MAXALIASFRAMES to
// 1024; 0.95.1, which the profile is written against, has 256.
constexpr ModelLimits kQuakespasmMdl = {"Quakespasm 0.95",      {2000, "MAXALIASVERTS"},
                                        {4096, "MAXALIASTRIS"}, {256, "MAXALIASFRAMES"},
                                        {32, "MAX_SKINS"},      {480, "MAX_LBM_HEIGHT", P::Warns}};
// id's own GLQuake, id-Software/Quake WinQuake/gl_model.h: MAXALIASVERTS 1024 (gl_model.c
// Mod_LoadAliasModel: "has too many vertices"), MAXALIASTRIS 2048 and MAXALIASFRAMES 256,
// which it never checks (its tables of that size are written past), MAX_SKINS 32 ("Invalid #
// of skins"), a skin taller than MAX_LBM_HEIGHT 480 a fatal error.
constexpr ModelLimits kGlQuakeMdl = {"id's GLQuake",
                                     {1024, "MAXALIASVERTS"},
                                     {2048, "MAXALIASTRIS", P::Overflows},
                                     {256, "MAXALIASFRAMES", P::Overflows},
                                     {32, "MAX_SKINS"},
                                     {480, "MAX_LBM_HEIGHT"}};
constexpr ModelLimits kQuakeMdl[] = {kQuakespasmMdl, kGlQuakeMdl};
// Quakespasm-Spiked (Shpoike/Quakespasm quakespasm/Quake/gl_model.h, gl_model.c): past
// MAXALIASVERTS 65536 the model is left out with a warning, triangles take what memory gives,
// a header of more than MAXALIASFRAMES 1024 frames is cut with a warning and more poses stop
// it ("posenum >= MAXALIASFRAMES"); MAX_SKINS 32 as Quakespasm.
constexpr ModelLimits kQssMdl[] = {{"Quakespasm-Spiked",
                                    {65536, "MAXALIASVERTS", P::Refuses},
                                    {},
                                    {1024, "MAXALIASFRAMES"},
                                    {32, "MAX_SKINS"},
                                    {480, "MAX_LBM_HEIGHT", P::Warns}}};
// Ironwail, which reads the re-release's files (andrei-drexler/ironwail Quake/gl_model.h,
// gl_model.c Mod_LoadAliasModel): MAXALIASVERTS 0x7fff and MAXALIASFRAMES 1024 poses stop it,
// triangles are only warned of past Quakespasm's 4096 (with developer set), MAX_SKINS 32.
constexpr ModelLimits kRereleaseMdl[] = {{"Ironwail",
                                          {0x7fff, "MAXALIASVERTS"},
                                          {},
                                          {1024, "MAXALIASFRAMES"},
                                          {32, "MAX_SKINS"},
                                          {480, "MAX_LBM_HEIGHT", P::Warns}}};
// DarkPlaces model_alias.c Mod_IDP0_Load: BOUNDI stops at 65536 of any count or skin size;
// Mod_IDP2_Load stops past 65536 triangles, vertices and frames and 256 skins.
constexpr ModelLimits kDarkPlacesMdl[] = {{"DarkPlaces", {65535}, {65535}, {65535}, {65535}, {65535}}};
constexpr ModelLimits kDarkPlacesMd2[] = {{"DarkPlaces", {65536}, {65536}, {65536}, {256}, {}}};
// id-Software/Quake-2 qcommon/qfiles.h and ref_gl/gl_model.c Mod_LoadAliasModel: past
// MAX_VERTS 2048 ("has too many vertices") and MAX_LBM_HEIGHT 480 ("has a skin taller than")
// ri.Sys_Error(ERR_DROP) ends the game and drops to the console; MAX_MD2SKINS 32 is the size
// of the model's skin table, filled without a check; MAX_TRIANGLES 4096 and MAX_FRAMES 512 are
// the format's, which its tools keep to and its loader does not check.
constexpr ModelLimits kQuake2Md2[] = {{"Quake II",
                                       {2048, "MAX_VERTS", P::Drops, "has too many vertices"},
                                       {4096, "MAX_TRIANGLES", P::Unchecked},
                                       {512, "MAX_FRAMES", P::Unchecked},
                                       {32, "MAX_MD2SKINS", P::Overflows},
                                       {480, "MAX_LBM_HEIGHT", P::Drops, "has a skin taller than 480"}}};
// Yamagi Quake II 8.20, yquake2/yquake2 src/common/header/files.h and
// src/client/refresh/files/models.c Mod_LoadMD2: past MAX_VERTS and MAX_LBM_HEIGHT it prints
// why and returns no model, and each renderer's Mod_ForName (gl1_model.c, gl3_model.c,
// sw_model.c) then ends the game with ERR_DROP "Failed to load": the player is back at the
// console. 8.20 fills its skin table of MAX_MD2SKINS without a check (from 8.30 on "extra
// sprites will be ignored").
constexpr ModelLimits kYamagiMd2[] = {{"Yamagi Quake II 8.20",
                                       {2048, "MAX_VERTS", P::Drops, "has too many vertices"},
                                       {4096, "MAX_TRIANGLES", P::Unchecked},
                                       {512, "MAX_FRAMES", P::Unchecked},
                                       {32, "MAX_MD2SKINS", P::Overflows},
                                       {480, "MAX_LBM_HEIGHT", P::Drops, "has a skin taller than 480"},
                                       "Mod_ForName: Failed to load"}};

}  // namespace

std::span<const ModelLimits> ModelLimitsFor(Engine engine, bool md2) {
  switch (engine) {
    // FTE's model loaders were not traced: nothing is told for it.
    case Engine::Fte: return {};
    case Engine::Quake: return md2 ? std::span<const ModelLimits>() : kQuakeMdl;
    case Engine::Qss: return md2 ? std::span<const ModelLimits>() : kQssMdl;
    case Engine::Rerelease: return md2 ? std::span<const ModelLimits>() : kRereleaseMdl;
    case Engine::DarkPlaces: return md2 ? std::span<const ModelLimits>(kDarkPlacesMd2) : kDarkPlacesMdl;
    case Engine::Quake2: return md2 ? std::span<const ModelLimits>(kQuake2Md2) : std::span<const ModelLimits>();
    case Engine::Yamagi: return md2 ? std::span<const ModelLimits>(kYamagiMd2) : std::span<const ModelLimits>();
    // Xash3D's alias model limits were not traced.
    case Engine::GoldSrc: return {};
  }
  return {};
}

// What each family's Mod_LoadModel does with a model asked for by name. "%i" in what it says
// stands for the file's first 32-bit word, which the Quake engines' map loader reads as the
// map's version (a map's header starts with it), as Quakespasm 0.95.1 prints it when run.
FormatSupport ModelFormatSupport(Engine engine, ModelFormat format) {
  using F = ModelFormat;
  using P = PastLimit;
  if (format == F::Mdl) {
    // id-Software/Quake-2 ref_gl/gl_model.c Mod_ForName and yquake2 8.20
    // src/client/refresh/gl1/gl1_model.c Mod_ForName know IDP2, IDS2 and IBSP only.
    if (engine == Engine::Quake2) return {false, P::Drops, "Mod_NumForName: unknown fileid for ..."};
    if (engine == Engine::Yamagi) return {false, P::Drops, "Mod_ForName: unknown fileid for ..."};
    return {};
  }
  switch (engine) {
    case Engine::Quake: {
      // sezero/quakespasm 0.95.1 (and every later version, 0.96.3 and master of 2026 alike)
      // Quake/gl_model.c Mod_LoadModel: IDPO and IDSP have loaders, anything else goes to
      // Mod_LoadBrushModel, which Sys_Errors on a version that is no map's. id's
      // WinQuake/gl_model.c does the same ("has wrong version number"). Of the ports that share
      // the profile, andrei-drexler/ironwail (v0.8.0 to v0.8.2, and master) Mod_LoadModel adds
      // only MD3_IDENT, as a Sys_Error ("Can't load '%s' directly"); Novum/vkQuake
      // Mod_LoadModel loads IDMD5HEADER since 1.32.1 and IDMD3HEADER since 1.33.0. Both take an
      // MD3 or an .md5mesh in place of the MDL of the same name (Ironwail Mod_LoadAliasModel:
      // loadMd3Replacement since v0.8.1 and loadMd5Replacement since v0.8.0, under
      // r_enhancedmodels; vkQuake Mod_LoadModel: MD5 since 1.30.0, MD3 since 1.33.0), when it
      // comes from the MDL's own game folder or a later one (path_id).
      constexpr std::string_view said = "Mod_LoadBrushModel: ... has unsupported version number (%i)";
      switch (format) {
        case F::Md3:
          return {false, P::Stops, said,
                  "Ironwail from 0.8.1 quits too (\"Can't load ... directly\"); vkQuake 1.33 and later load it",
                  "Ironwail 0.8.1 and later and vkQuake 1.33 and later"};
        case F::Md5:
          return {false, P::Stops, said, "vkQuake 1.32.1 and later load it",
                  "Ironwail 0.8 and later and vkQuake 1.30 and later"};
        default: return {false, P::Stops, said};
      }
    }
    case Engine::Rerelease: {
      // andrei-drexler/ironwail v0.8.2 Quake/gl_model.c Mod_LoadModel: MD3_IDENT is a Sys_Error,
      // any other unknown first bytes Mod_LoadBrushModel's; Mod_LoadAliasModel takes NAME.md3 and
      // NAME.md5mesh in place of NAME.mdl (r_enhancedmodels, on by default, in the order of
      // r_enhancedmodels_priority, "md3,md5").
      constexpr std::string_view said = "Mod_LoadBrushModel: ... has unsupported version number (%i)";
      switch (format) {
        case F::Md3:
          return {false, P::Stops, "Can't load '...' directly, please load '....mdl' instead", {}, "Ironwail"};
        case F::Md5: return {false, P::Stops, said, {}, "Ironwail"};
        default: return {false, P::Stops, said};
      }
    }
    case Engine::Qss:
      // Shpoike/Quakespasm master of 2021-07-10 (and the fork Alex3474247/Quakespasm-Spiked of
      // 2023) quakespasm/Quake/gl_model.c Mod_LoadModel: IDP3 (gl_mesh.c Mod_LoadMD3Model) and
      // "INTE" (Mod_LoadIQMModel) load; IDP2 is "is an md2 (unsupported)" and any other
      // unknown bytes reach Mod_LoadBrushModel, which only warns: the model is left out
      // (mod_ext_invalid) and the game goes on. Its later MD5 reader, which Ironwail and vkQuake
      // took theirs from (their commits say so), was not at hand: MD5 is not told for it.
      switch (format) {
        case F::Md2: return {false, P::Refuses, "... is an md2 (unsupported)"};
        case F::HalfLife:
          return {false, P::Refuses, "Mod_LoadBrushModel: ... has wrong version number (%i should be 29)"};
        default: return {};
      }
    case Engine::DarkPlaces:
      // DarkPlaces 0~20180908 (DarkPlacesEngine/darkplaces 8e8a0e1, 2018-09-09) model_shared.c
      // Mod_LoadModel: IDPO, IDP2, IDP3, INTERQUAKEMODEL and more by their first bytes; no MD5
      // and no Half-Life model, which it leaves out and goes on.
      if (format == F::Md5 || format == F::HalfLife)
        return {false, P::Refuses, "Mod_LoadModel: model \"...\" is of unknown/unsupported type"};
      return {};
    case Engine::Fte:
      // fte-team/fteqw engine/common/com_mesh.c Alias_Register, in its default build
      // (config_fteqw.h): MDL, MD2, MD3, IQM, MD5 and Half-Life models ("IDST", version 10).
      // gl/gl_model.c Mod_LoadModel tries r_replacemodels ("md3 md2 md5mesh") in place of an
      // MDL first, each from the MDL's package or a later one (COM_FDepthFile).
      if (format == F::Md3 || format == F::Md5) return {true, P::Stops, {}, {}, "FTE"};
      return {};
    case Engine::Quake2:
      if (format == F::Md2) return {};
      return {false, P::Drops, "Mod_NumForName: unknown fileid for ..."};
    case Engine::Yamagi:
      if (format == F::Md2) return {};
      return {false, P::Drops, "Mod_ForName: unknown fileid for ..."};
    case Engine::GoldSrc:
      // FWGS/xash3d-fwgs 633203e engine/common/model.c Mod_LoadModel: IDST (mod_studio.c), IDSP
      // (mod_sprite.c), IDPO (mod_alias.c) and maps of version 29, 30 and BSP2 by their first
      // bytes; anything else "has unknown format". The server and the client load precached
      // models with crash false (server/sv_init.c, client/cl_main.c), so only that is printed and
      // the model is left out.
      if (format == F::HalfLife) return {};
      return {false, P::Refuses, "... has unknown format"};
  }
  return {};
}

std::string_view ModelFormatName(ModelFormat format) {
  switch (format) {
    case ModelFormat::Mdl: return "a Quake model (MDL)";
    case ModelFormat::Md2: return "a Quake II model (MD2)";
    case ModelFormat::Md3: return "a Quake III model (MD3)";
    case ModelFormat::Iqm: return "an Inter-Quake Model (IQM)";
    case ModelFormat::Md5: return "an MD5 mesh";
    case ModelFormat::HalfLife: return "a Half-Life studio model";
  }
  return "";
}

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
  const std::size_t nameAt = requested.rfind('/') + 1;  // 0 when there is no folder
  for (std::size_t i = 0; i < stored.size(); ++i) {
    switch (m) {
      case NameMatch::Exact: return false;
      case NameMatch::AnyCase:
        if (lower(stored[i]) != lower(requested[i])) return false;
        break;
      case NameMatch::AnyCaseFileName:
        if (i < nameAt ? stored[i] != requested[i] : lower(stored[i]) != lower(requested[i])) return false;
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
