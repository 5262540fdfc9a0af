#include "game/EngineChecks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>

#include "document/TarnDoc.h"
#include "fileio/Strings.h"
#include "maps/MapHeader.h"
#include "models/ModelHeader.h"
#include "sounds/SoundInfo.h"

namespace tarn {

namespace {

// Quake II's header: "IBSP", the version and 19 lumps.
constexpr std::size_t kQuake2MapHeaderBytes = 8 + 19 * 8;

const char* ContainerName(SoundContainer c) {
  switch (c) {
    case SoundContainer::Wave: return "WAV";
    case SoundContainer::Ogg: return "Ogg";
    case SoundContainer::Mp3: return "MP3";
    case SoundContainer::Flac: return "FLAC";
    case SoundContainer::Unknown: break;
  }
  return "no sound format Tarn knows";
}

// Loose files the engine may be asked for; documents and the like beside a mod are left alone.
bool IsGameDataName(std::string_view path) {
  static const std::set<std::string, std::less<>> kExtensions = {
      "bsp", "lit", "ent", "mdl",  "md2",  "md3", "iqm", "md5mesh", "md5anim", "spr", "sp2",
      "wav", "ogg", "mp3", "flac", "opus", "lmp", "pcx", "wal",     "tga",     "png", "jpg",
      "dat", "cfg", "rc",  "wad",  "loc",  "dem", "lst", "skin",    "shader",  "it",  "s3m",
      "xm",  "mod", "umx", "cin",  "roq",  "fnt", "pic", "bmp",     "dds",     "ktx"};
  return kExtensions.count(ExtensionOf(path)) != 0;
}

std::string Stem(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  const std::size_t slash = path.rfind('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return std::string(path);
  return std::string(path.substr(0, dot));
}

// Past this an MDL's poses are not counted, only its header's frames: no model the games load
// comes near it.
constexpr std::int64_t kMaxModelBytes = std::int64_t{64} << 20;
// A wave's loop chunks usually follow its data: sound effects are read whole, up to this.
constexpr std::size_t kMostSoundBytes = std::size_t{32} << 20;

}  // namespace

SniffedModel SniffModel(std::span<const std::uint8_t> b) {
  SniffedModel s;
  auto starts = [&](std::string_view magic) {
    return b.size() >= magic.size() && std::memcmp(b.data(), magic.data(), magic.size()) == 0;
  };
  auto word = [&](std::size_t at) {
    return static_cast<std::int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                     static_cast<std::uint32_t>(b[at + 3]) << 24);
  };
  if (b.size() >= 4) s.first = word(0);
  if (b.size() >= 8) s.second = word(4);
  if (starts("IDPO")) s.format = ModelFormat::Mdl;
  else if (starts("IDP2")) s.format = ModelFormat::Md2;
  else if (starts("IDP3")) s.format = ModelFormat::Md3;
  else if (starts(std::string_view("INTERQUAKEMODEL\0", 16))) s.format = ModelFormat::Iqm;
  else if (starts("MD5Version")) s.format = ModelFormat::Md5;
  // A Half-Life model's sequence groups (NAME01.mdl, "IDSQ") are read by its loader alone,
  // never asked for by name: only the model itself (and its textures, NAMEt.mdl) are told.
  else if (starts("IDST")) s.format = ModelFormat::HalfLife;
  return s;
}

namespace {

class CChecker {
 public:
  explicit CChecker(CGameView& view) : m_view(view), m_profile(view.Profile()) {}

  std::vector<EngineProblem> Run() {
    for (const LoadFailure& f : m_view.Failures())
      Report(f.path.string(), "", f.rule,
             f.reason + (f.fatal ? "; the engine stops with a fatal error" : "; the engine goes on without it"));
    for (const PassedOver& p : m_view.Passed())
      Report(p.path.string(), "", "never-loaded", "never loaded: " + p.reason);
    for (std::uint32_t s = 0; s < m_view.Sources().size(); ++s) CheckSource(s);
    return std::move(m_problems);
  }

 private:
  std::string Engines() const { return std::string(m_profile.engines); }

  void Report(std::string file, std::string entry, std::string rule, std::string message) {
    m_problems.push_back(
        {std::move(file), std::move(entry), std::move(rule), std::string(m_profile.name), std::move(message)});
  }
  void Report(GameCopy c, std::string rule, std::string message) {
    const GameSource& src = m_view.Source(c);
    if (src.kind == SourceKind::Archive)
      Report(src.path.string(), m_view.Entry(c).path, std::move(rule), std::move(message));
    else Report(m_view.Location(c).string(), "", std::move(rule), std::move(message));
  }

  void CheckSource(std::uint32_t s) {
    const GameSource& src = m_view.Sources()[s];
    const auto& entries = src.listing.entries;
    if (src.kind == SourceKind::Archive && src.listing.pak) CheckPakCount(src);
    for (std::uint32_t e = 0; e < entries.size(); ++e) {
      const GameCopy copy{s, e};
      const std::string& path = entries[e].path;
      if (src.kind == SourceKind::Archive) CheckNameLength(copy);
      if (IsExact(src.match) && HasCapitals(path) && (src.kind == SourceKind::Archive || IsGameDataName(path)) &&
          !m_view.Finds(copy, ToLower(path)))
        Report(copy, "name-case",
               "the name has capital letters, and " + Engines() + " compare " +
                   (src.kind == SourceKind::Archive ? "the names in a pak" : "the names of loose files (on Linux)") +
                   " exactly: asked for " + Quoted(ToLower(path)) + ", the engine does not find it");
      const std::string ext = ExtensionOf(path);
      if (ext == "bsp") CheckMap(copy);
      else if (ext == "lit" && m_profile.readsLit) CheckLit(copy);
      else if (IsModelExtension(ext)) CheckModelFile(copy, ext);
      else if (ext == "skin") CheckSkinFile(copy);
      else if (path.rfind("sound/", 0) == 0 || path.rfind("music/", 0) == 0) CheckSound(copy, ext);
    }
  }

  // What the engine's loader makes of the header, where it still loads the pak; what stops or
  // refuses it is a load failure, told above.
  void CheckPakCount(const GameSource& src) {
    const std::string claimed = std::to_string(src.listing.records);
    // Yamagi Quake II 8.20 FS_LoadPAK: "'%s' has %i > %i files", and it goes on.
    if (m_profile.id == Engine::Yamagi && src.listing.records > static_cast<std::size_t>(m_profile.maxFilesInPak))
      Report(src.path.string(), "", "files-per-pak",
             "holds " + claimed + " files by its header, more than " + std::to_string(m_profile.maxFilesInPak) +
                 ": Yamagi Quake II warns (\"has " + claimed +
                 " > 4096 files\"), and older versions stop with a fatal error");
    if (src.listing.pastEnd > 0)
      Report(src.path.string(), "", "pak-directory",
             "its header claims " + claimed + " files, " + std::to_string(src.listing.pastEnd) +
                 " of them past the end of the file: the engine loads the pak, and takes those records from "
                 "whatever its memory held");
  }

  // Names the engine's own copy of a record spoils.
  void CheckNameLength(GameCopy c) {
    const ListedEntry& e = m_view.Entry(c);
    if (m_view.Source(c).listing.pak && e.path.size() == 56) {
      // The 56-byte field holds no NUL. DarkPlaces fs.c FS_LoadPackPAK writes one over its last
      // byte; Quakespasm's COM_LoadPackFile and Yamagi's FS_LoadPAK copy up to 63 bytes with
      // q_strlcpy, on into the record's offset.
      std::string what;
      if (m_profile.id == Engine::DarkPlaces)
        what = "DarkPlaces cuts it to 55 characters and never finds it by its name";
      else if (e.flaw == EntryFlaw::NeverFound)
        what = "the engine reads on into the record's offset and holds it under another name: never found";
      else
        what = "the engine reads on into the record's offset, and finds it only because the offset's first byte is 0";
      // FTE's and Xash3D's copies were not traced.
      if (m_profile.id != Engine::Fte && m_profile.id != Engine::GoldSrc)
        Report(c, "pak-name-length", "the name fills all 56 bytes of its field, with no NUL: " + what);
    }
    if (e.flaw == EntryFlaw::StopsEngine)
      Report(c, "zip-name-length",
             "the name is " + std::to_string(e.path.size()) +
                 " bytes long: Yamagi Quake II keeps 63 of them, and asked for it stops with a fatal error "
                 "(\"Couldn't reopen\")");
  }

  bool Read(GameCopy c, std::size_t max, std::vector<std::uint8_t>& bytes) {
    std::string why;
    if (m_view.ReadPrefix(c, max, bytes, &why)) return true;
    Report(c, "unreadable", "cannot be read: " + why);
    return false;
  }

  // Quake's own loader takes version 29 only (id-Software/Quake WinQuake/gl_model.c
  // Mod_LoadBrushModel: "has wrong version number"); its ports add BSP2, 2PSB and Quake 64
  // (sezero/quakespasm, andrei-drexler/ironwail Quake/gl_model.c Mod_LoadBrushModel: anything
  // else "has unsupported version number"). Quake II takes IBSP version 38 only
  // (id-Software/Quake-2 ref_gl/gl_model.c Mod_LoadBrushModel). FTE reads the maps of every
  // game it plays; only what no engine reads is told for it (inferred from its model loaders).
  void CheckMap(GameCopy c) {
    std::vector<std::uint8_t> bytes;
    if (!Read(c, kQuake2MapHeaderBytes, bytes)) return;
    const MapHeader h = ReadMapHeader(bytes);
    using K = MapHeader::Kind;
    const bool quakeMap = h.kind == K::Quake || h.kind == K::Bsp2 || h.kind == K::Bsp2Old || h.kind == K::Quake64;
    std::string what;
    switch (h.kind) {
      case K::HalfLife: what = "a Half-Life map (version 30)"; break;
      case K::Quake2: what = "a Quake II map (IBSP 38)"; break;
      case K::Quake2Qbism: what = "an extended Quake II map (QBSP 38)"; break;
      case K::Quake3: what = "a Quake III map (IBSP 46)"; break;
      case K::Bsp2: what = "a BSP2 map"; break;
      case K::Bsp2Old: what = "a 2PSB map"; break;
      case K::Quake64: what = "a Quake 64 map"; break;
      case K::Quake: what = "a Quake map (version 29)"; break;
      case K::Unknown: what = "not a map Tarn knows (version " + std::to_string(h.version) + ")"; break;
      case K::TooShort: what = "too short for a map"; break;
    }
    bool ok = false;
    switch (m_profile.id) {
      case Engine::Quake:
      case Engine::Qss:
      case Engine::Rerelease: ok = quakeMap; break;
      case Engine::Fte:
      case Engine::DarkPlaces: ok = h.kind != K::Unknown && h.kind != K::TooShort; break;
      // Yamagi Quake II reads QBSP as the 2023 re-release does (yquake2 ref Mod_LoadBrushModel
      // takes QBSPHEADER); id's Quake II takes IBSP alone.
      case Engine::Quake2: ok = h.kind == K::Quake2; break;
      case Engine::Yamagi: ok = h.kind == K::Quake2 || h.kind == K::Quake2Qbism; break;
      // FWGS/xash3d-fwgs 633203e engine/common/model.c Mod_LoadModel: Q1BSP_VERSION,
      // HLBSP_VERSION and QBSP2_VERSION go to Mod_LoadBrushModel, any other "has unknown format".
      case Engine::GoldSrc: ok = h.kind == K::Quake || h.kind == K::HalfLife || h.kind == K::Bsp2; break;
    }
    if (ok && m_profile.id == Engine::Quake2) CheckQuake2Limits(c, bytes);
    if (ok) return;
    if (h.kind == K::Quake2Qbism && m_profile.id == Engine::Quake2) {
      Report(c, "map-version",
             "is " + what + ", of the larger limits the 2023 re-release takes (and Yamagi Quake II); " + Engines() +
                 " loads IBSP version 38 maps only");
      return;
    }
    const bool anyMap = m_profile.id == Engine::Fte || m_profile.id == Engine::DarkPlaces;
    const std::string loads = anyMap                 ? "the maps of Quake, Half-Life, Quake II and Quake III"
                              : m_profile.quake2Data ? "IBSP version 38 maps only"
                              : m_profile.id == Engine::GoldSrc
                                  ? "maps of version 30 (Half-Life's), 29 and BSP2 only (\"has unknown format\")"
                                  : "maps of version 29, BSP2, 2PSB and Quake 64 only";
    Report(c, "map-version", "is " + what + "; " + Engines() + " load " + loads);
  }

  // id's Quake II stops on a map with more of a kind than qcommon/qfiles.h allows
  // (qcommon/cmodel.c CMod_Load*: "Map has too many ..."); the 2023 re-release raised them, and
  // ericw-tools writes such a map as QBSP for it.
  void CheckQuake2Limits(GameCopy c, const std::vector<std::uint8_t>& header) {
    struct Limit {
      int lump;
      std::int64_t record, most;
      const char* what;
    };
    static constexpr Limit kLimits[] = {{13, 48, 1024, "models"},
                                        {14, 12, 8192, "brushes"},
                                        {5, 76, 8192, "texinfo records"},
                                        {1, 20, 65536, "planes"},
                                        {4, 28, 65536, "nodes"},
                                        {8, 28, 65536, "leafs"},
                                        {15, 4, 65536, "brush sides"},
                                        {10, 2, 65536, "leaf brushes"},
                                        {17, 8, 256, "areas"},
                                        {18, 8, 1024, "area portals"},
                                        {0, 1, 0x40000, "bytes of entities"}};
    if (header.size() < kQuake2MapHeaderBytes) return;
    for (const Limit& l : kLimits) {
      const std::size_t at = 8 + static_cast<std::size_t>(l.lump) * 8 + 4;
      const std::int64_t length = static_cast<std::int32_t>(header[at] | header[at + 1] << 8 | header[at + 2] << 16 |
                                                            static_cast<std::uint32_t>(header[at + 3]) << 24);
      const std::int64_t count = length / l.record;
      if (count > l.most)
        Report(c, "map-limits",
               "has " + std::to_string(count) + " " + l.what + ", past the " + std::to_string(l.most) + " " +
                   Engines() +
                   " loads (\"Map has too many\"); the 2023 re-release takes more, as an extended (QBSP) map");
    }
  }

  // Coloured light as Quakespasm's family reads it (sezero/quakespasm, andrei-drexler/ironwail
  // Quake/gl_model.c Mod_LoadLighting): "QLIT", version 1, and 8 + 3 × the map's lighting
  // lump bytes, or "Outdated .lit file" and white light; and only from the map's own game
  // folder or a later one ("ignored %s from a gamedir with lower priority").
  void CheckLit(GameCopy lit) {
    const std::string& path = m_view.Entry(lit).path;
    const auto copies = m_view.Lookup(path);
    if (copies.empty() || !(copies.front() == lit)) return;  // a hidden copy is never read
    std::vector<std::uint8_t> bytes;
    if (!Read(lit, 8, bytes)) return;
    const LitHeader header = ReadLitHeader(bytes);
    if (!header.qlit) {
      Report(lit, "lit-header", "does not start with \"QLIT\": " + Engines() + " ignore it (\"Corrupt .lit file\")");
      return;
    }
    if (header.version != 1) {
      Report(lit, "lit-header",
             "is version " + std::to_string(header.version) + ", and " + Engines() +
                 " read version 1 only (\"Unknown .lit file version\")");
      return;
    }
    const std::string mapPath = Stem(path) + ".bsp";
    const auto maps = m_view.Lookup(mapPath);
    if (maps.empty()) return;
    const GameCopy map = maps.front();
    if (m_view.Source(lit).folder < m_view.Source(map).folder) {
      Report(lit, "lit-folder",
             "comes from an earlier game folder than " + Quoted(mapPath) + ", and " + Engines() +
                 " take a .lit only from the map's own folder or a later one");
      return;
    }
    std::vector<std::uint8_t> mapBytes;
    if (!Read(map, kMapHeaderBytes, mapBytes)) return;
    const MapHeader h = ReadMapHeader(mapBytes);
    if (!h.hasLighting) return;
    const std::int64_t expected = 8 + 3 * h.lightingLength;
    const std::int64_t size = m_view.Entry(lit).size;
    if (size == expected) return;
    Report(lit, "lit-size",
           "is " + std::to_string(size) + " bytes, but the lighting of " + Quoted(mapPath) + " needs 8 + 3 × " +
               std::to_string(h.lightingLength) + " = " + std::to_string(expected) + ": " + Engines() +
               " ignore it (\"Outdated .lit file\") and light the map in white");
  }

  // The names a game asks for a model by; a model's format is told by its first bytes, as
  // every engine's Mod_LoadModel does, whatever the name says.
  static bool IsModelExtension(std::string_view ext) {
    return ext == "mdl" || ext == "md2" || ext == "md3" || ext == "iqm" || ext == "md5mesh";
  }

  // Which engines load the model's format at all, then the checks of MDL and MD2 headers.
  void CheckModelFile(GameCopy c, const std::string& ext) {
    std::vector<std::uint8_t> head;
    if (!Read(c, 16, head)) return;
    const SniffedModel sniffed = SniffModel(head);
    const bool idModel = !sniffed.format || *sniffed.format == ModelFormat::Mdl || *sniffed.format == ModelFormat::Md2;
    if (idModel && (ext == "mdl" || ext == "md2") && !ModelLimitsFor(m_profile.id, ext == "md2").empty()) {
      CheckModel(c, ext == "md2");
      return;
    }
    if (!sniffed.format) return;
    const ModelFormat format = *sniffed.format;
    const FormatSupport support = ModelFormatSupport(m_profile.id, format);
    const std::string& path = m_view.Entry(c).path;
    // progs/x.md5mesh beside progs/x.mdl is art for the engines that take it in place of the
    // MDL; the game asks for the MDL, and an engine that reads no MD5 never opens it.
    if ((format == ModelFormat::Md3 || format == ModelFormat::Md5) && ext != "mdl" &&
        !m_view.Lookup(Stem(path) + ".mdl").empty()) {
      CheckReplacement(c, format, support);
      return;
    }
    if (support.loads) {
      // FWGS/xash3d-fwgs 633203e engine/common/mod_studio.c Mod_LoadStudioModel: a studio model
      // of another version than STUDIO_VERSION 10 is "has wrong version number" and not loaded.
      if (m_profile.id == Engine::GoldSrc && format == ModelFormat::HalfLife && sniffed.second != 10)
        Report(c, "model-header",
               "is a Half-Life studio model of version " + std::to_string(sniffed.second) +
                   "; Xash3D FWGS loads version 10 only, and leaves this one out (\"... has wrong version number (" +
                   std::to_string(sniffed.second) + " should be 10)\")");
      return;
    }
    std::string said(support.said);
    if (const std::size_t at = said.find("%i"); at != std::string::npos)
      said.replace(at, 2, std::to_string(sniffed.first));
    std::string what = "is " + std::string(ModelFormatName(format));
    if (format == ModelFormat::HalfLife) {
      if (sniffed.second != 10) what += " of version " + std::to_string(sniffed.second);
      what += " (only Half-Life's own engine and FTE load them)";
    }
    const std::string e = ModelEngine();
    std::string fate;
    switch (support.refusal) {
      case PastLimit::Refuses: fate = " leaves the model out (\"" + said + "\") and goes on"; break;
      case PastLimit::Drops: fate = " ends the game with an error (\"" + said + "\") and drops to the console"; break;
      default: fate = " quits with a fatal error (\"" + said + "\")"; break;
    }
    Report(c, "model-format",
           what + "; asked for it, " + e + fate + (support.others.empty() ? "" : "; " + std::string(support.others)));
  }

  // The engine a model's format is told for: the one each profile was written against.
  std::string ModelEngine() const {
    switch (m_profile.id) {
      case Engine::Quake: return "Quakespasm";
      case Engine::Rerelease: return "Ironwail";
      default: return std::string(m_profile.engines);
    }
  }

  // An MD5 mesh in place of an MDL: Ironwail's Mod_LoadMD5MeshModel (andrei-drexler/ironwail
  // v0.8.2 Quake/gl_model.c) reads its frames from NAME.md5anim (MD5Anim_Begin); without one
  // it warns "NAME.mdl has no poses" (the model keeps the MDL's name), loadMd5Replacement
  // fails and Mod_LoadAliasModel goes on with the MDL.
  void CheckReplacement(GameCopy c, ModelFormat format, const FormatSupport& support) {
    if (format != ModelFormat::Md5 || support.replacesMdl.empty()) return;
    if (m_profile.id != Engine::Quake && m_profile.id != Engine::Rerelease) return;
    const std::string stem = Stem(m_view.Entry(c).path);
    if (!m_view.Lookup(stem + ".md5anim").empty()) return;
    Report(c, "model-replacement",
           "stands in for " + Quoted(stem + ".mdl") + " in " + std::string(support.replacesMdl) + ", but there is no " +
               Quoted(stem + ".md5anim") + " beside it: Ironwail warns (\"" + stem +
               ".mdl has no poses\") and draws the MDL");
  }

  // Quake III's skin files, which name a picture for each of a model's surfaces. DarkPlaces
  // 0~20180908 model_shared.c Mod_LoadSkinFiles reads MODEL_0.skin, MODEL_1.skin, ... (MODEL the
  // model's whole name, "progs/x.md3_0.skin") up to the first missing, for every model it loads
  // but maps and sprites. FTE (fteqw engine/common/com_mesh.c Mod_CountSkinFiles) takes
  // MODEL_N.skin or, missing that, the name without its extension ("progs/x_0.skin"), also up
  // to the first N with neither. Others' rules are not told: Quakespasm reads none, Ironwail
  // and vkQuake read them for an MD3 in place of an MDL only.
  void CheckSkinFile(GameCopy c) {
    const bool fte = m_profile.id == Engine::Fte;
    if (m_profile.id != Engine::DarkPlaces && !fte) return;
    const std::string& path = m_view.Entry(c).path;
    const auto copies = m_view.Lookup(path);
    if (copies.empty() || !(copies.front() == c)) return;
    const std::string stem = Stem(path);
    const std::size_t underscore = stem.rfind('_');
    const std::string number = underscore == std::string::npos ? "" : stem.substr(underscore + 1);
    const bool numbered = !number.empty() && number.size() < 4 &&
                          std::all_of(number.begin(), number.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
    const std::string base = numbered ? stem.substr(0, underscore) : stem;
    const std::string rule =
        fte ? "FTE reads MODEL_0.skin, MODEL_1.skin, ... (MODEL the model's name, with or without its extension)"
            : "DarkPlaces reads MODEL_0.skin, MODEL_1.skin, ... (MODEL the model's whole name, \"progs/x.md3_0.skin\")";
    auto found = [&](const std::string& p) { return !m_view.Lookup(p).empty(); };
    // The model the skin file is for, as the engine names it.
    std::string model;
    if (IsModelExtension(ExtensionOf(base)) && found(base)) model = base;
    std::string sameStem;  // a model whose name without its extension is base
    for (const char* e : {".md3", ".mdl", ".iqm", ".md2", ".md5mesh"})
      if (sameStem.empty() && found(base + e)) sameStem = base + e;
    if (fte && model.empty()) model = sameStem;
    // FTE's QuakeC may name any skin file (setcustomskin), and its Quake II player models read
    // players/MODEL/SKIN.skin (client/cl_parse.c): only a gap in a model's numbers is told.
    if (fte && (!numbered || model.empty())) return;
    if (!numbered || model.empty()) {
      std::string hint;
      if (!sameStem.empty()) hint = ": for " + Quoted(sameStem) + " it asks for " + Quoted(sameStem + "_0.skin");
      Report(c, "skin-file", "is read for no model: " + rule + ", up to the first missing" + hint);
      return;
    }
    const int n = std::stoi(number);
    for (int k = 0; k < n; ++k) {
      const std::string want = model + "_" + std::to_string(k) + ".skin";
      if (found(want) || (fte && found(Stem(model) + "_" + std::to_string(k) + ".skin"))) continue;
      Report(c, "skin-file",
             "is never read: " + rule + ", stopping at the first missing, " + Quoted(want) + ", before this one");
      return;
    }
  }

  // The model's header as the engine's loader reads it (what it refuses outright, then each
  // count against its limits, the most generous engine's first); an MDL's poses and an MD2's
  // texture coordinates need the whole file.
  void CheckModel(GameCopy c, bool md2) {
    const std::span<const ModelLimits> limits = ModelLimitsFor(m_profile.id, md2);
    if (limits.empty()) return;
    std::vector<std::uint8_t> bytes;
    if (!Read(c, kModelHeaderBytes, bytes)) return;
    const ModelHeader h = ReadModelHeader(bytes);
    const std::int64_t size = m_view.Entry(c).size;
    std::vector<std::uint8_t> whole;
    auto readWhole = [&] {
      std::string why;  // an unreadable model was told of above
      return whole.size() == static_cast<std::size_t>(size) ||
             (size <= kMaxModelBytes && m_view.ReadPrefix(c, static_cast<std::size_t>(size), whole, &why));
    };
    if (CheckModelHeader(c, h, md2, size)) return;
    if (h.kind != (md2 ? ModelHeader::Kind::Md2 : ModelHeader::Kind::Mdl)) return;
    if (md2 && m_profile.id == Engine::DarkPlaces && readWhole()) {
      // DarkPlaces model_alias.c Mod_IDP2_Load: "has an invalid skin coordinate (%i %i) on vert
      // %i, changing to 0 0", for each drawn vertex whose s or t is off the skin.
      if (const OffSkinCoordinates off = FindMd2OffSkinCoordinates(whole); off.count > 0)
        Report(c, "model-skin-coordinates",
               Grouped(off.count) + " of its texture coordinates lie off its " + std::to_string(h.skinWidth) + " × " +
                   std::to_string(h.skinHeight) + " skin (the first at " + std::to_string(off.s) + ", " +
                   std::to_string(off.t) +
                   "); DarkPlaces moves each to 0, 0 (\"has an invalid skin coordinate\"), and those corners show "
                   "the skin's top left pixel");
    }
    std::int64_t frames = h.frames;
    if (!md2 && readWhole())
      if (const std::int64_t poses = CountMdlPoses(whole); poses >= 0) frames = poses;
    struct Count {
      std::int64_t value;
      ModelLimit ModelLimits::*limit;
      const char *before, *after;
    };
    const Count counts[] = {{h.vertices, &ModelLimits::vertices, "has ", " vertices"},
                            {h.triangles, &ModelLimits::triangles, "has ", " triangles"},
                            {frames, &ModelLimits::frames, "has ", md2 ? " frames" : " frames (poses)"},
                            {h.skins, &ModelLimits::skins, "has ", " skins"},
                            {h.skinHeight, &ModelLimits::skinHeight, "has a skin ", " pixels high"}};
    for (const Count& n : counts)
      for (const ModelLimits& l : limits) {
        const ModelLimit& limit = l.*n.limit;
        if (limit.max == 0 || n.value <= limit.max) continue;
        Report(c, "model-limits",
               n.before + Grouped(n.value) + n.after + "; " + std::string(l.engine) + " " +
                   (limit.past == PastLimit::Unchecked ? "models keep to" : "loads at most") + " " +
                   std::to_string(limit.max) + (limit.name.empty() ? "" : " (" + std::string(limit.name) + ")") +
                   Consequence(l, limit));
        break;
      }
  }

  // How an engine's loader ends on a model it refuses.
  enum class Fate {
    Quits,    // Sys_Error: the program ends
    Stops,    // DarkPlaces' Host_Error: the game ends (a dedicated server quits)
    Drops,    // Quake II's ERR_DROP: the game ends, back at the console
    LeftOut,  // the model is not loaded and the game goes on
  };

  static std::string Told(const std::string& what, std::string_view engine, Fate fate, const std::string& said,
                          std::string_view dropped = {}) {
    std::string text = what + "; " + std::string(engine) + " ";
    switch (fate) {
      case Fate::Quits: return text + "quit with a fatal error (\"" + said + "\")";
      case Fate::Stops: return text + "stops the game with an error (\"" + said + "\"), and a dedicated server quits";
      case Fate::LeftOut: return text + "leaves the model out (\"" + said + "\") and goes on";
      case Fate::Drops:
        if (dropped.empty()) return text + "ends the game with an error (\"" + said + "\") and drops to the console";
        return text + "says \"" + said + "\", then ends the game with an error (\"" + std::string(dropped) +
               "\") and drops to the console";
    }
    return text;
  }

  static std::string FourCc(std::span<const std::uint8_t> b) {
    std::string s;
    for (std::size_t i = 0; i < 4 && i < b.size(); ++i)
      s += b[i] >= 0x20 && b[i] < 0x7F ? static_cast<char>(b[i]) : '?';
    return s;
  }

  // What the loaders refuse in the header before they look at any limit, each engine's first
  // refusal (it stops there). True when one was told: the header's counts then mean nothing.
  bool CheckModelHeader(GameCopy c, const ModelHeader& h, bool md2, std::int64_t fileSize) {
    using K = ModelHeader::Kind;
    if (h.kind == K::TooShort) {
      Report(c, "model-header", std::string("is too short for a ") + (md2 ? "Quake II" : "Quake") + " model's header");
      return true;
    }
    std::vector<std::uint8_t> head;
    if (!Read(c, 4, head)) return true;
    const std::string ident = Quoted(FourCc(head));
    const std::string v = std::to_string(h.version);
    std::string told;
    if (!md2) {
      // sezero/quakespasm 0.95.1 Quake/gl_model.c: Mod_LoadModel reads anything but IDPO and
      // IDSP as a map (Mod_LoadBrushModel: "wrong version number"); Mod_LoadAliasModel and
      // Mod_LoadAllSkins Sys_Error on the rest. id's GLQuake (WinQuake/gl_model.c) and the ports
      // built on Quakespasm's code (Quakespasm-Spiked, Ironwail, vkQuake) keep these checks.
      const bool quakeFamily =
          m_profile.id == Engine::Quake || m_profile.id == Engine::Qss || m_profile.id == Engine::Rerelease;
      if (quakeFamily) {
        const std::string_view e = m_profile.engines;
        if (h.kind != K::Mdl && ident != "\"IDSP\"")
          told = Told("starts " + ident + ", not \"IDPO\": it is no Quake model", e, Fate::Quits,
                      "Mod_LoadBrushModel: ... has wrong version number");
        else if (h.kind != K::Mdl) return false;
        else if (h.version != kMdlVersion)
          told = Told("is version " + v + ", and Quake models are version 6", e, Fate::Quits,
                      "has wrong version number (" + v + " should be 6)");
        else if (h.vertices <= 0) told = Told("has no vertices", e, Fate::Quits, "has no vertices");
        else if (h.triangles <= 0) told = Told("has no triangles", e, Fate::Quits, "has no triangles");
        else if (h.frames < 1)
          told = Told("has no frames", e, Fate::Quits, "Invalid # of frames: " + std::to_string(h.frames));
        else if (h.skins < 1)
          told = Told("has no skins", e, Fate::Quits, "Invalid # of skins: " + std::to_string(h.skins));
      } else if (m_profile.id == Engine::DarkPlaces) {
        // DarkPlaces 0~20180908 model_shared.c Mod_LoadModel picks the loader by the first bytes
        // (IDP2 is read as a Quake II model) and leaves out what it does not know;
        // model_alias.c Mod_IDP0_Load stops on another version and, by BOUNDI, on a count or
        // skin size below 0 and a synctype other than 0 or 1.
        if (h.kind == K::Unknown && ident != "\"IDP2\"" && ident != "\"IDSP\"")
          told = Told("starts " + ident + ", not \"IDPO\": it is no Quake model", "DarkPlaces", Fate::LeftOut,
                      "is of unknown/unsupported type");
        else if (h.kind != K::Mdl) return false;
        else if (h.version != kMdlVersion)
          told = Told("is version " + v + ", and Quake models are version 6", "DarkPlaces", Fate::Stops,
                      "has wrong version number (" + v + " should be 6)");
        else if (h.skins < 0 || h.skinWidth < 0 || h.skinHeight < 0 || h.vertices < 0 || h.triangles < 0 ||
                 h.frames < 0)
          told = Told("has a negative count or skin size", "DarkPlaces", Fate::Stops, "has an invalid ...");
        else if (h.synctype != 0 && h.synctype != 1)
          told = Told("has synctype " + std::to_string(h.synctype) + " (0 or 1)", "DarkPlaces", Fate::Stops,
                      "has an invalid ...");
      }
    } else if (m_profile.id == Engine::Quake2 || m_profile.id == Engine::Yamagi) {
      // id-Software/Quake-2 ref_gl/gl_model.c Mod_ForName ("unknown fileid") and
      // Mod_LoadAliasModel; yquake2 8.20 src/client/refresh/files/models.c Mod_LoadMD2, whose
      // refusals each renderer's Mod_ForName turns into ERR_DROP "Failed to load".
      const bool yamagi = m_profile.id == Engine::Yamagi;
      const std::string_view e = yamagi ? "Yamagi Quake II 8.20" : "Quake II";
      const std::string_view dropped = yamagi ? "Mod_ForName: Failed to load" : "";
      auto drop = [&](const std::string& what, const std::string& said) {
        return Told(what, e, Fate::Drops, said, dropped);
      };
      if (h.kind != K::Md2 && ident != "\"IDSP\"" && ident != "\"IBSP\"")
        told = Told("starts " + ident + ", not \"IDP2\": it is no Quake II model", e, Fate::Drops,
                    "Mod_ForName: unknown fileid");
      else if (h.kind != K::Md2) return false;
      else if (h.version != kMd2Version)
        told = drop("is version " + v + ", and Quake II models are version 8",
                    "has wrong version number (" + v + " should be 8)");
      else if (yamagi && (h.end < 0 || h.end > fileSize))
        told = drop("says it ends at byte " + std::to_string(h.end) + " of " + std::to_string(fileSize),
                    "file size(" + std::to_string(fileSize) + ") too small, should be " + std::to_string(h.end));
      else if (h.vertices <= 0) told = drop("has no vertices", "has no vertices");
      else if (h.texCoords <= 0) told = drop("has no texture coordinates", "has no st vertices");
      else if (h.triangles <= 0) told = drop("has no triangles", "has no triangles");
      else if (h.frames <= 0) told = drop("has no frames", "has no frames");
    } else if (m_profile.id == Engine::DarkPlaces) {
      // DarkPlaces 0~20180908 model_alias.c Mod_IDP2_Load (an IDPO file is read as a Quake model).
      if (h.kind == K::Unknown && ident != "\"IDPO\"" && ident != "\"IDSP\"" && ident != "\"IBSP\"")
        told = Told("starts " + ident + ", not \"IDP2\": it is no Quake II model", "DarkPlaces", Fate::LeftOut,
                    "is of unknown/unsupported type");
      else if (h.kind != K::Md2) return false;
      else if (h.version != kMd2Version)
        told = Told("is version " + v + ", and Quake II models are version 8", "DarkPlaces", Fate::Stops,
                    "has wrong version number (" + v + " should be 8)");
      else if (h.triangles < 1 || h.vertices < 1 || h.frames < 1 || h.skins < 0)
        told = Told("has no triangles, vertices or frames, or a negative count", "DarkPlaces", Fate::Stops,
                    "has invalid number of ...");
      else {
        const bool offsetsInside = (h.skins < 1 || (h.skinsAt > 0 && h.skinsAt < h.end)) && h.texCoordsAt > 0 &&
                                   h.texCoordsAt < h.end && h.trianglesAt > 0 && h.trianglesAt < h.end &&
                                   h.framesAt > 0 && h.framesAt < h.end && h.glCommandsAt > 0 && h.glCommandsAt < h.end;
        if (!offsetsInside)
          told = Told("has a section that does not start inside the size its header gives", "DarkPlaces", Fate::Stops,
                      "is not a valid model");
      }
    }
    if (told.empty()) return false;
    Report(c, "model-header", told);
    return true;
  }

  static std::string Grouped(std::int64_t n) {
    std::string digits = std::to_string(n < 0 ? -n : n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
      if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
      out += digits[i];
    }
    return n < 0 ? "-" + out : out;
  }

  static std::string Consequence(const ModelLimits& l, const ModelLimit& limit) {
    switch (limit.past) {
      case PastLimit::Stops: return " and stops with an error";
      case PastLimit::Drops:
        if (l.dropped.empty())
          return ": it ends the game with an error (\"" + std::string(limit.said) + "\") and drops to the console";
        return ": it says \"" + std::string(limit.said) + "\", then ends the game with an error (\"" +
               std::string(l.dropped) + "\") and drops to the console";
      case PastLimit::Refuses: return " and leaves the model out";
      case PastLimit::Cuts: return " and leaves the rest out";
      case PastLimit::Warns: return ", and only warns";
      case PastLimit::Overflows: return ", and writes past its table of that size";
      case PastLimit::Unchecked: return ", which the engine does not check";
    }
    return "";
  }

  void CheckSound(GameCopy c, const std::string& ext) {
    const bool music = m_view.Entry(c).path.rfind("music/", 0) == 0;
    // Which files the engine reads as sound, and in which formats.
    std::set<std::string> wanted;
    switch (m_profile.id) {
      case Engine::Quake:
      case Engine::Qss:
      case Engine::Rerelease:
        // Sound effects: WinQuake/snd_mem.c S_LoadSound reads "sound/NAME.wav". Music: the
        // ports' bgmusic.c plays music/trackNN in these formats, by the extension.
        wanted = music ? std::set<std::string>{"ogg", "opus", "mp3", "flac", "wav"} : std::set<std::string>{"wav"};
        break;
      case Engine::Quake2:
        if (!music) wanted = {"wav"};
        break;  // music comes from the CD
      // yquake2/yquake2 src/client/sound/sound.c S_LoadSound tries NAME.ogg before NAME.wav;
      // the music is Ogg Vorbis (OGG_InitTrackList).
      case Engine::Yamagi: wanted = music ? std::set<std::string>{"ogg"} : std::set<std::string>{"wav", "ogg"}; break;
      // DarkPlaces/snd_wav.c S_LoadWavFile is tried for any name; only its rules for waves are told.
      case Engine::DarkPlaces:
        if (!music) wanted = {"wav"};
        break;
      case Engine::Fte: break;      // FTE decodes what it can by content: nothing is told for it
      case Engine::GoldSrc: break;  // Xash3D's sound loaders were not traced: nothing is told
    }
    if (!wanted.count(ext)) return;
    // The "fmt " chunk nearly always comes first: a short read, and a longer one only when not.
    std::vector<std::uint8_t> bytes;
    if (!Read(c, ext == "wav" ? 512 : 16, bytes)) return;
    SoundHeader info = ReadSoundHeader(bytes);
    if (info.container == SoundContainer::Wave && !info.fmtFound && bytes.size() == 512) {
      if (!Read(c, kSoundHeaderBytes, bytes)) return;
      info = ReadSoundHeader(bytes);
    }
    using C = SoundContainer;
    const C expected = ext == "wav" ? C::Wave : ext == "mp3" ? C::Mp3 : ext == "flac" ? C::Flac : C::Ogg;
    if (info.container != expected) {
      Report(c, "sound-format",
             "holds " + std::string(ContainerName(info.container)) + " data, not " + ContainerName(expected) + ": " +
                 Engines() + " choose the decoder by the name and cannot play it");
      return;
    }
    if (info.container != C::Wave || music) return;  // the music players take any WAV they can decode
    // id-Software/Quake WinQuake/snd_mem.c GetWavinfo ("Microsoft PCM format only") and
    // S_LoadSound ("is a stereo sample"); the same in id-Software/Quake-2 client/snd_mem.c.
    // Yamagi's S_LoadSound takes one or two channels (yquake2 src/client/sound/sound.c).
    if (!info.fmtFound) {
      Report(c, "sound-format", "has no readable \"fmt \" chunk in its first 64 KiB: " + Engines() + " cannot play it");
      return;
    }
    // DarkPlaces takes stereo "(intended for music)", S_LoadWavFile says.
    const int maxChannels = m_profile.id == Engine::Yamagi || m_profile.id == Engine::DarkPlaces ? 2 : 1;
    if (info.format != 1)
      Report(c, "sound-format",
             "is not PCM (format " + std::to_string(info.format) + "): " + Engines() +
                 " play PCM only (\"Microsoft PCM format only\")");
    else if (info.channels < 1 || info.channels > maxChannels)
      Report(c, "sound-format",
             "has " + std::to_string(info.channels) + " channels: " + Engines() +
                 (maxChannels == 1 ? " play mono sounds only (\"is a stereo sample\")" : " play one or two"));
    else if (info.bits != 8 && info.bits != 16)
      Report(c, "sound-format",
             "has " + std::to_string(info.bits) + "-bit samples: " + Engines() + " play 8 and 16 bits");
    else CheckWaveTiming(c, info.rate);
  }

  // How the engine plays a wave it takes: at what speed, and whether and where it loops.
  void CheckWaveTiming(GameCopy c, std::uint32_t rate) {
    const Engine id = m_profile.id;
    // Quake's ResampleSfx (WinQuake/snd_mem.c, and Quake II's client/snd_mem.c) steps through
    // the samples in 256ths: fracstep = stepscale * 256, cut to a whole number. A rate that is
    // not a simple multiple of the mixer's plays off pitch; told where it is past 0.5% (a
    // twelfth of a semitone) at one of the rates Quake mixes at (its sndspeed: 11025 by
    // default, 22050, 44100).
    if (id == Engine::Quake || id == Engine::Qss || id == Engine::Quake2) {
      double worst = 0;
      std::uint32_t worstAt = 0;
      for (std::uint32_t speed : {11025u, 22050u, 44100u}) {
        const float stepscale = static_cast<float>(rate) / static_cast<float>(speed);
        const int fracstep = static_cast<int>(stepscale * 256);
        const double off = fracstep / (256.0 * static_cast<double>(rate) / speed) - 1;
        if (std::abs(off) > std::abs(worst)) worst = off, worstAt = speed;
      }
      if (std::abs(worst) > 0.005) {
        char percent[16];
        std::snprintf(percent, sizeof percent, "%.1f%%", std::abs(worst) * 100);
        Report(c, "sound-speed",
               "is at " + std::to_string(rate) + " Hz: " + Engines() +
                   " step through it in 256ths of a sample and play it " + percent + (worst < 0 ? " slow" : " fast") +
                   " when mixing at " + std::to_string(worstAt) +
                   " Hz (sounds at 11025, 22050 and 44100 Hz play true)");
      }
    }
    if (id != Engine::Quake && id != Engine::Qss && id != Engine::Rerelease && id != Engine::Quake2 &&
        id != Engine::DarkPlaces)
      return;
    std::vector<std::uint8_t> bytes;
    if (!Read(c, kMostSoundBytes, bytes)) return;
    SoundInfo sound;
    if (!ReadSoundInfo(bytes, sound, nullptr)) return;
    const std::string path = m_view.Entry(c).path;
    if (sound.loopStart && !sound.loopFromCue) {
      Report(c, "sound-loop",
             "loops only in its sampler chunk (\"smpl\"): " + Engines() +
                 " loop a wave from its cue point (\"cue \") alone, and play this one once");
      return;
    }
    if (!sound.loopStart) {
      // S_StaticSound: "Sound %s not looped", and the ambient sound is not played at all.
      if ((id == Engine::Quake || id == Engine::Qss || id == Engine::Rerelease) &&
          path.rfind("sound/ambience/", 0) == 0)
        Report(c, "sound-loop",
               "has no loop point (\"cue \" chunk): played as an ambient sound, " + Engines() + " refuse it (\"Sound " +
                   path.substr(6) + " not looped\") and it stays silent");
      return;
    }
    const std::string frames = std::to_string(sound.frames);
    if (*sound.loopStart >= sound.frames)
      Report(c, "sound-loop",
             "loops from sample " + std::to_string(*sound.loopStart) + ", past the end of its " + frames +
                 " samples: " + Engines() + " have nothing to loop");
    else if (sound.loopEnd && *sound.loopEnd > sound.frames)
      Report(c, "sound-loop",
             "says its loop (its \"mark\" length) ends at sample " + std::to_string(*sound.loopEnd) +
                 ", past the end of its " + frames + " samples: " +
                 (id == Engine::DarkPlaces ? "DarkPlaces warns (\"has a bad loop length\") and cuts it there"
                  : id == Engine::Quake2   ? "Quake II ends the game with an error (\"has a bad loop length\")"
                                           : Engines() + " stop with a fatal error (\"has a bad loop length\")"));
  }

  CGameView& m_view;
  const EngineProfile& m_profile;
  std::vector<EngineProblem> m_problems;
};

}  // namespace

std::vector<EngineProblem> CheckForEngine(CGameView& view) { return CChecker(view).Run(); }

std::vector<EngineProblem> CheckEverything(CGameView& view) {
  std::vector<EngineProblem> problems;
  for (const GameSource& s : view.Sources()) {
    if (s.kind != SourceKind::Archive) continue;
    CTarnDoc doc;
    if (!doc.Open(s.path)) continue;  // the engine's checks say why it cannot be read
    for (std::string& problem : doc.CheckArchive())
      problems.push_back({s.path.string(), {}, {}, {}, std::move(problem)});
  }
  for (const std::string& u : view.Unreadable()) problems.push_back({{}, {}, {}, {}, "cannot read " + u});
  for (EngineProblem& e : CheckForEngine(view)) problems.push_back(std::move(e));
  return problems;
}

}  // namespace tarn
