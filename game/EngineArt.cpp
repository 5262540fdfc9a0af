#include "game/EngineArt.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "archive/EntryNames.h"
#include "archive/PackObject.h"
#include "archive/SafeExtract.h"
#include "fileio/Progress.h"
#include "fileio/Strings.h"
#include "fileio/WorkerPool.h"
#include "pictures/EntryPictures.h"
#include "pictures/ImageDecode.h"

namespace tarn {

namespace fs = std::filesystem;

namespace {

// The engines' rules, each from the engine's own code.
std::vector<ArtProfile> MakeProfiles() {
  std::vector<ArtProfile> all;

  // Quakespasm 0.95.1, gl_model.c Mod_LoadTextures: a regular texture is looked for as
  // "textures/%s/%s" (the map's path after "maps/", COM_StripExtension (loadmodel->name + 5))
  // and then "textures/%s", a liquid as "textures/%s/#%s" and "textures/#%s" (its "*" made "#");
  // its glowing pixels as "%s_glow", then "%s_luma", of a regular texture only. The sky is always
  // the map's own (Sky_LoadTexture). image.c Image_LoadImage reads ".tga", then ".pcx", nothing
  // else. Mod_CheckFullbrights counts every index above 223 as glowing, and the nobright and
  // fullbright palettes of gl_texmgr.c TexMgr_LoadPalette split at 224, 255 included. No
  // replacement of model skins, sprites or 2D pictures. MAX_QPATH 64 (quakedef.h).
  ArtProfile qs;
  qs.name = "quakespasm";
  qs.aliases = "quake qs";
  qs.displayName = "Quakespasm 0.95";
  qs.gameEngine = "quake";
  qs.formats = {ImageFileFormat::Tga};
  qs.mapFolder = MapFolder::BelowMaps;
  qs.glowSuffix = "_glow";
  qs.otherGlowSuffix = "_luma";
  qs.maxTexturePath = 4096;  // filename[MAX_OSPATH], MAX_OSPATH being PATH_MAX (q_stdinc.h)
  all.push_back(qs);

  // Ironwail, gl_model.c Mod_LoadTextures: the same names and layers as Quakespasm; its
  // image.c Image_LoadImage reads "png", "tga" and "jpg" (stb_image), then ".pcx" and ".lmp".
  ArtProfile iw = qs;
  iw.name = "ironwail";
  iw.aliases = "iw";
  iw.displayName = "Ironwail";
  iw.formats = {ImageFileFormat::Png, ImageFileFormat::Tga};
  all.push_back(iw);

  // Quakespasm-Spiked: world textures as Quakespasm (gl_model.c Mod_LoadTextures, with
  // gl_load24bit 1); image.c Image_LoadImage reads .dds, .tga, .png, .jpeg, .jpg, .pcx. A single
  // skin of a model is "%s_%i" (the model's path and the skin's number, Mod_LoadAllSkins: "spike
  // - external model textures with dp naming"), with "_glow" or "_luma"; a skin group keeps the
  // model's own pictures. gl_draw.c: gfx.wad's pictures as "gfx/%s" (Draw_PicFromWad2), other
  // pictures by their path without ".lmp" (Draw_CachePic), the console font as "gfx/conchars"
  // (Draw_LoadPics), whose 0 and 255 are see-through (TEXPREF_CONCHARS).
  ArtProfile qss = qs;
  qss.name = "qss";
  qss.aliases = "quakespasm-spiked spiked";
  qss.displayName = "Quakespasm-Spiked";
  qss.gameEngine = "qss";
  qss.formats = {ImageFileFormat::Png, ImageFileFormat::Tga};
  qss.skins = true;
  qss.wadPictures = qss.loosePictures = qss.conchars = true;
  qss.concharsSecondTransparent = 255;
  all.push_back(qss);

  // DarkPlaces, model_brush.c Mod_Q1BSP_LoadTextures: every name lower-cased ("LadyHavoc: force
  // all names to lowercase"), an unnamed texture "unnamed%i", then "textures/%s/%s" (the map's
  // path after "maps/") and "textures/%s", the sky too (a picture twice as wide as high). image.c
  // loadimagepixelsbgra makes every "*" "#" and reads .tga, .png, .jpg, .pcx (imageformats_textures;
  // .lmp too for gfx/ and other paths). gl_rmain.c R_SkinFrame_LoadExternal_SkinFrame reads the
  // layers "%s_glow" (or ".blend", "_blend", "_luma"), "%s_pants" and "%s_shirt". model_alias.c:
  // a skin is "%s_%i", a picture of a skin group of several "%s_%i_%i"; model_sprite.c names sprite
  // frames alike. gfx.wad's pictures and gfx/*.lmp as "gfx/%s" (gl_draw.c Draw_CachePic_Flags,
  // image.c: "conchars" with 0 see-through). palette.c Palette_SetupSpecialPalettes: glowing from
  // 256 - gfx/colormap.lmp[16384] (none when the colour map lacks that byte), pants 96 to 111,
  // shirt 16 to 31. MAX_QPATH 128 (qdefs.h).
  ArtProfile dp;
  dp.name = "darkplaces";
  dp.aliases = "dp";
  dp.displayName = "DarkPlaces";
  dp.gameEngine = "darkplaces";
  dp.formats = {ImageFileFormat::Png, ImageFileFormat::Tga};
  dp.sky = dp.skins = dp.sprites = dp.wadPictures = dp.loosePictures = dp.conchars = true;
  dp.skinGroups = dp.spriteGroups = GroupNames::ManyOnly;
  dp.mapFolder = MapFolder::BelowMaps;
  dp.skyInMapFolder = true;
  dp.glowSuffix = "_glow";
  dp.otherGlowSuffix = "_luma";
  dp.pantsShirt = true;
  dp.lowerCaseTextures = true;
  dp.allStarsToHash = true;
  dp.unnamedTextures = true;
  dp.glow = GlowRange::ColormapByte;
  dp.maxPath = dp.maxTexturePath = 128;
  all.push_back(dp);

  // FTE, gl_shader.c R_BuildLegacyTexnums with the map's COM_FileBase as its subpath, found by
  // client/image.c Image_LocateHighResTexture as "textures/%s/%s", "%s/%s" and "textures/%s"
  // (tex_path), every "*" made "#" (R_LoadHiResTexture), in r_imageextensions (dds ktx tga png
  // jpg); the glowing layer "%s_luma", then "%s_glow"; "%s_pants" and "%s_shirt" of a model's
  // skin. gl_model.c: an unnamed texture "unnamed%i"; the sky as "textures/%s" (gl_warp.c
  // R_InitSky). common/com_mesh.c Q1MDL_LoadSkins_GL: a skin "%s_%i", a skin group's pictures
  // "%s_%i_%i"; gl_model.c Mod_LoadSpriteFrameShader names sprite frames alike. 2D pictures as
  // "gfx/%s" (r_2d.c R2D_SafePicFromWad; wad.c: the console font's 0 see-through).
  // client/renderer.c: 32 glowing colours, or as many of the last as the colour map's last row
  // keeps. MAX_QPATH 128 (bothdefs.h).
  ArtProfile fte;
  fte.name = "fte";
  fte.aliases = "fteqw";
  fte.displayName = "FTE";
  fte.gameEngine = "fte";
  fte.formats = {ImageFileFormat::Png, ImageFileFormat::Tga};
  fte.sky = fte.skins = fte.sprites = fte.wadPictures = fte.loosePictures = fte.conchars = true;
  fte.skinGroups = fte.spriteGroups = GroupNames::Always;
  fte.mapFolder = MapFolder::BaseName;
  fte.glowSuffix = "_luma";
  fte.otherGlowSuffix = "_glow";
  fte.pantsShirt = true;
  fte.allStarsToHash = true;
  fte.unnamedTextures = true;
  fte.glow = GlowRange::ColormapRows;
  fte.maxPath = fte.maxTexturePath = 128;
  all.push_back(fte);

  // (Quakespasm-Spiked's skins are named in filename[MAX_QPATH], its textures in MAX_OSPATH.)
  // Yamagi Quake II, files/stb.c LoadHiColorImage (r_retexturing 1): any .wal or .pcx picture is
  // replaced by a .tga, .png or .jpg of the same path and name, at least as large; R_Convert8to32
  // makes index 255 see-through with a neighbour's colour under it. MAX_QPATH 64 (shared.h).
  ArtProfile yq2;
  yq2.name = "yamagi";
  yq2.aliases = "yquake2 yamagi-quake2";
  yq2.displayName = "Yamagi Quake II";
  yq2.gameEngine = "yamagi";
  yq2.formats = {ImageFileFormat::Png, ImageFileFormat::Tga};
  yq2.quake2 = true;
  yq2.liquids = false;
  yq2.glow = GlowRange::None;
  all.push_back(yq2);
  return all;
}

const std::vector<ArtProfile>& Profiles() {
  static const std::vector<ArtProfile> profiles = MakeProfiles();
  return profiles;
}

std::string LowerExtension(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  const std::size_t slash = path.rfind('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  return ToLower(path.substr(dot + 1));
}

std::string WithoutExtension(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  const std::size_t slash = path.rfind('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return std::string(path);
  return std::string(path.substr(0, dot));
}

std::string BaseName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// FNV-1a over a picture's size, pixels and how it is drawn: two pictures of one target are one
// when this is the same.
std::uint64_t PictureKey(const Picture& p, const LayerRules& rules) {
  std::uint64_t h = 1469598103934665603ull;
  auto mix = [&](std::uint8_t b) { h = (h ^ b) * 1099511628211ull; };
  for (int v : {p.width, p.height, rules.lit ? 1 : 0, rules.transparent, rules.transparent2, rules.colormap ? 1 : 0})
    for (int k = 0; k < 4; ++k) mix(static_cast<std::uint8_t>(static_cast<unsigned>(v) >> (8 * k)));
  for (int y = 0; y < p.height; ++y) {
    const std::uint8_t* row = p.Row(y);
    for (int x = 0; x < p.width; ++x) mix(row[x]);
  }
  return h;
}

// Reads a file's bytes whole; false with the reason.
bool ReadAll(CPackObject& entry, std::vector<std::uint8_t>& bytes, std::string* why) {
  CEntryBytes data(entry);
  if (!data.Ok()) {
    if (why) *why = "its data cannot be read";
    return false;
  }
  const auto b = data.Bytes();
  bytes.assign(b.begin(), b.end());
  return true;
}

const ArtFile* FindFile(const std::vector<ArtFile>& files, std::string_view path) {
  for (const ArtFile& f : files)
    if (f.entry && SameName(f.path, path)) return &f;
  return nullptr;
}

// The longest name a layer adds to a picture's target, with the extension: "_shirt.tga".
constexpr std::size_t kLongestTail = 10;
// A file's name may hold 255 bytes on the systems Tarn runs on.
constexpr std::size_t kMaxFileName = 255;

}  // namespace

std::span<const ArtProfile> ArtProfiles() { return Profiles(); }

const ArtProfile* FindArtProfile(std::string_view name) {
  const std::string n = ToLower(name);
  for (const ArtProfile& p : Profiles()) {
    if (n == p.name) return &p;
    std::string_view aliases = p.aliases;
    while (!aliases.empty()) {
      const std::size_t space = aliases.find(' ');
      if (aliases.substr(0, space) == n) return &p;
      if (space == std::string_view::npos) break;
      aliases.remove_prefix(space + 1);
    }
  }
  return nullptr;
}

bool MayHoldArt(std::string_view path, const ArtProfile& profile) {
  const std::string ext = LowerExtension(path);
  if (profile.quake2) return ext == "wal" || ext == "pcx";
  return ext == "bsp" || ext == "wad" || ext == "lmp" || (ext == "mdl" && profile.skins) ||
         (ext == "spr" && profile.sprites);
}

std::string ArtProfileNames() {
  std::string out;
  for (const ArtProfile& p : Profiles()) out += (out.empty() ? "" : ", ") + std::string(p.name);
  return out;
}

ArtPalette PaletteForArt(const std::vector<ArtFile>& files, const ArtProfile& profile) {
  ArtPalette out;
  std::vector<std::uint8_t> bytes;
  if (profile.quake2) {
    LoadPalette(kQuake2PaletteId, out.palette);
    // Quake II takes every 8-bit picture in the palette of pics/colormap.pcx (Draw_GetPalette).
    if (const ArtFile* f = FindFile(files, "pics/colormap.pcx"); f && ReadAll(*f->entry, bytes, nullptr)) {
      Picture p;
      Palette own;
      if (DecodePcx(bytes, p, own) && !p.IsTrueColor()) out.palette = own;
    }
    out.source = "Quake II has no glowing colours";
    return out;
  }
  LoadPalette(kQuakePaletteId, out.palette);
  if (const ArtFile* f = FindFile(files, "gfx/palette.lmp");
      f && ReadAll(*f->entry, bytes, nullptr) && bytes.size() >= 768)
    for (std::size_t i = 0; i < 256; ++i) out.palette.colors[i] = {bytes[3 * i], bytes[3 * i + 1], bytes[3 * i + 2]};
  const ArtFile* colormap = FindFile(files, "gfx/colormap.lmp");
  std::vector<std::uint8_t> map;
  const bool haveMap = colormap && ReadAll(*colormap->entry, map, nullptr);
  switch (profile.glow) {
    case GlowRange::Fixed224:
      out.glowFirst = 224, out.glowLast = 255;
      out.source = "indices 224 to 255 glow";
      break;
    case GlowRange::ColormapByte:
      if (!haveMap) {
        out.glowFirst = 224, out.glowLast = 255;
        out.source = "no gfx/colormap.lmp among the files: indices 224 to 255 glow, as with id's";
      } else if (map.size() >= 16385) {
        out.glowFirst = 256 - map[16384], out.glowLast = 255;
        out.source = "gfx/colormap.lmp's byte 16384 (" + std::to_string(map[16384]) + ") makes indices " +
                     std::to_string(out.glowFirst) + " to 255 glow";
      } else {
        out.source = "gfx/colormap.lmp holds no byte 16384: nothing glows in " + std::string(profile.displayName);
      }
      break;
    case GlowRange::ColormapRows: {
      int count = 32;
      if (haveMap && map.size() == 64 * 256 + 1) {
        count = 0;
        for (int i = 255; i >= 0 && map[static_cast<std::size_t>(i)] == map[63 * 256 + static_cast<std::size_t>(i)];
             --i)
          ++count;
        if (count < 2) count = 0;
      }
      if (count) out.glowFirst = 256 - count, out.glowLast = 255;
      out.source = count ? "indices " + std::to_string(256 - count) + " to 255 glow" : "nothing glows";
      break;
    }
    case GlowRange::None: break;
  }
  return out;
}

namespace {

// The planning of targets: names checked, pictures of one target told apart.
class CPlanner {
 public:
  CPlanner(const ArtOptions& options, const ArtPalette& palette, ArtReport& report)
      : m_options(options), m_profile(*options.profile), m_palette(palette), m_report(report) {}

  // Adds the item with picture; false when it is refused or shares an earlier file.
  enum class Take { New, Shared, Refused };
  Take Place(ArtItem& item, const Picture& picture, const std::vector<std::string>& targets, int limit) {
    const std::uint64_t key = PictureKey(picture, item.rules);
    for (const std::string& target : targets) {
      if (const std::string why = Problem(target, limit); !why.empty()) {
        Refuse(item, why);
        return Take::Refused;
      }
      const std::string folded = ToLower(target);
      const auto it = m_taken.find(folded);
      if (it == m_taken.end()) {
        m_taken.emplace(folded, Held{key, target, item.label, item.file});
        item.target = target;
        return Take::New;
      }
      if (it->second.key == key && it->second.target == target) {
        item.target = target;
        item.shared = true;
        return Take::Shared;
      }
      // The map's own folder would serve both pictures of the one map: it tells nothing apart.
      if (it->second.file == item.file) {
        m_lastClash = it->second;
        break;
      }
      m_lastClash = it->second;
    }
    Refuse(item, "it takes the file of " + m_lastClash.label + " (" + Quoted(m_lastClash.target) +
                     "), a different picture, once \"*\" is \"#\" and case is folded");
    return Take::Refused;
  }

  const ArtProfile& Profile() const { return m_profile; }
  const ArtOptions& Options() const { return m_options; }
  const ArtPalette& Palette() const { return m_palette; }

 private:
  struct Held {
    std::uint64_t key = 0;
    std::string target, label;
    std::size_t file = 0;
  };

  // Why the engine would never ask for target, or it cannot be written below the folder.
  std::string Problem(const std::string& target, int limit) const {
    std::size_t start = 0;
    for (;;) {
      const std::size_t slash = target.find('/', start);
      const std::string_view seg =
          std::string_view(target).substr(start, slash == std::string::npos ? slash : slash - start);
      if (std::string why = UnsafeNameReason(seg); !why.empty()) return why;
      if (seg.size() + kLongestTail > kMaxFileName) return "a name longer than a file's can be";
      if (slash == std::string::npos) break;
      start = slash + 1;
    }
    if (target.size() + kLongestTail >= static_cast<std::size_t>(limit))
      return std::string(m_profile.displayName) + " asks for no name of " + std::to_string(limit) +
             " bytes or more, with its layer's suffix and extension";
    return {};
  }

  void Refuse(const ArtItem& item, const std::string& why) {
    m_report.refused.push_back(item.label + ": " + why + "; not written");
  }

  const ArtOptions& m_options;
  const ArtProfile& m_profile;
  const ArtPalette& m_palette;
  ArtReport& m_report;
  std::unordered_map<std::string, Held> m_taken;
  Held m_lastClash;
};

// The texture's name as the engine looks for it, or nothing when it never looks.
std::optional<std::string> TextureName(const ArtProfile& profile, std::string name, int number, bool inMap) {
  if (name.empty()) {
    if (!profile.unnamedTextures || !inMap) return std::nullopt;
    name = "unnamed" + std::to_string(number);
  }
  if (profile.lowerCaseTextures) LowerInPlace(name);
  if (profile.allStarsToHash) {
    std::replace(name.begin(), name.end(), '*', '#');
  } else if (name[0] == '*') {
    name[0] = '#';
  }
  return name;
}

std::string MapFolderOf(const ArtProfile& profile, const std::string& mapPath) {
  std::string rest = mapPath;
  if (profile.mapFolder == MapFolder::BaseName) return WithoutExtension(BaseName(mapPath));
  // COM_StripExtension (loadmodel->name + 5): what follows "maps/".
  if (rest.size() > 5 && SameName(rest.substr(0, 5), "maps/")) rest = rest.substr(5);
  return WithoutExtension(rest);
}

bool IsMapFile(const std::string& path, const std::string& wanted) {
  if (wanted.empty()) return true;
  if (SameName(path, wanted)) return true;
  return SameName(WithoutExtension(BaseName(path)), WithoutExtension(BaseName(wanted))) &&
         wanted.find('/') == std::string::npos;
}

// The see-through and glowing rules of a world texture.
LayerRules TextureRules(const ArtProfile& profile, const ArtPalette& palette, const std::string& name, bool& sky,
                        bool& liquid) {
  LayerRules rules;
  sky = name.size() >= 3 && SameName(name.substr(0, 3), "sky");
  liquid = !name.empty() && name[0] == '*';
  rules.glowFirst = palette.glowFirst, rules.glowLast = palette.glowLast;
  if (!sky && !liquid) {
    rules.lit = !profile.glowSuffix.empty();
    if (name[0] == '{') rules.transparent = 255;
  }
  return rules;
}

// Scans one file: each picture the engine replaces, with its target(s) in the order tried.
void ScanFile(CPlanner& planner, std::size_t index, const ArtFile& file, std::span<const std::uint8_t> bytes,
              std::vector<ArtItem>& items, ArtReport& report,
              const std::function<void(const ArtItem&, Picture&&)>& visit) {
  const ArtProfile& profile = planner.Profile();
  const ArtOptions& options = planner.Options();
  const ArtPalette& palette = planner.Palette();
  const std::string ext = LowerExtension(file.path);
  const bool isMap = ext == "bsp";
  if (!options.map.empty() && (!isMap || !IsMapFile(file.path, options.map))) return;
  if (!MayHoldArt(file.path, profile) || (ext == "lmp" && !profile.loosePictures)) return;
  const bool gfxWad = SameName(file.path, "gfx.wad");
  if (file.path.size() >= static_cast<std::size_t>(profile.maxPath)) {
    report.refused.push_back(Quoted(file.path) + ": " + std::string(profile.displayName) +
                             " loads no file whose path is " + std::to_string(profile.maxPath) +
                             " bytes or more (MAX_QPATH); not written");
    return;
  }
  PictureSpots found = FindPictureSpots(file.path, bytes);
  for (const std::string& p : found.problems) report.problems.push_back(Quoted(file.path) + ": " + p);
  const std::string mapFolder = isMap && profile.mapFolder != MapFolder::None ? MapFolderOf(profile, file.path) : "";
  for (PictureSpot& spot : found.spots) {
    ArtItem item;
    item.file = index;
    std::vector<std::string> targets;
    switch (spot.kind) {
      case SpotKind::MapTexture:
      case SpotKind::WadTexture: {
        item.label = Quoted(file.path) + ": texture " + Quoted(spot.name);
        if (spot.kind == SpotKind::WadTexture && gfxWad) continue;  // no world texture lives there
        bool sky = false, liquid = false;
        item.rules = TextureRules(profile, palette, spot.name, sky, liquid);
        if ((sky && !profile.sky) || (liquid && !profile.liquids)) continue;
        const auto name = TextureName(profile, spot.name, spot.number, isMap);
        if (!name) {
          report.refused.push_back(item.label + ": a texture without a name, which " +
                                   std::string(profile.displayName) + " never looks for; not written");
          continue;
        }
        const bool ownFolder = isMap && !mapFolder.empty() && (!sky || profile.skyInMapFolder);
        if (!options.map.empty() && ownFolder) {
          targets.push_back("textures/" + mapFolder + "/" + *name);
        } else {
          targets.push_back("textures/" + *name);
          if (ownFolder) targets.push_back("textures/" + mapFolder + "/" + *name);
        }
        break;
      }
      case SpotKind::WadPicture:
      case SpotKind::Conchars:
        if (!gfxWad || !(spot.kind == SpotKind::Conchars ? profile.conchars : profile.wadPictures)) continue;
        item.label = Quoted(file.path) + ": picture " + Quoted(spot.name);
        item.rules.transparent = spot.kind == SpotKind::Conchars ? 0 : 255;
        if (spot.kind == SpotKind::Conchars) item.rules.transparent2 = profile.concharsSecondTransparent;
        // W_GetLumpName compares cleaned (lower-case) names: the engine asks in lower case.
        targets.push_back("gfx/" + ToLower(spot.name));
        break;
      case SpotKind::LmpPicture:
        item.label = Quoted(file.path);
        item.rules.transparent = 255;
        targets.push_back(WithoutExtension(file.path));
        break;
      case SpotKind::ModelSkin:
      case SpotKind::SpriteFrame: {
        const bool skin = spot.kind == SpotKind::ModelSkin;
        const GroupNames groups = skin ? profile.skinGroups : profile.spriteGroups;
        std::string number = "_" + std::to_string(spot.number);
        if (spot.member >= 0) {
          if (groups == GroupNames::None) continue;
          if (groups == GroupNames::Always || spot.groupSize > 1) number += "_" + std::to_string(spot.member);
        }
        item.label = Quoted(file.path) + ": " + (skin ? "skin " : "frame ") + number.substr(1);
        if (skin) {
          item.rules.lit = !profile.glowSuffix.empty();
          item.rules.glowFirst = palette.glowFirst, item.rules.glowLast = palette.glowLast;
          // The players' model is the one the engines colour (cl_main.c sets a colormap for
          // each client's entity, and dead bodies keep theirs).
          item.rules.colormap = profile.pantsShirt && SameName(file.path, "progs/player.mdl");
        } else {
          item.rules.transparent = 255;
        }
        targets.push_back(file.path + number);
        break;
      }
      case SpotKind::Wal:
      case SpotKind::Pcx:
        item.label = Quoted(file.path);
        item.rules.transparent = 255;
        item.rules.fringe = true;
        targets.push_back(WithoutExtension(file.path));
        break;
    }
    Picture picture;
    std::string why;
    if (!ReadSpot(bytes, spot, picture, &why)) {
      report.problems.push_back(item.label + ": " + why);
      continue;
    }
    const bool texture = spot.kind == SpotKind::MapTexture || spot.kind == SpotKind::WadTexture;
    item.spot = std::move(spot);
    const CPlanner::Take take =
        planner.Place(item, picture, targets, texture ? profile.maxTexturePath : profile.maxPath);
    if (take == CPlanner::Take::Refused) continue;
    if (take == CPlanner::Take::New && visit) visit(item, std::move(picture));
    items.push_back(std::move(item));
  }
}

}  // namespace

std::vector<ArtItem> PlanArt(const std::vector<ArtFile>& files, const ArtOptions& options, const ArtPalette& palette,
                             ArtReport& report, CProgress* progress,
                             const std::function<void(const ArtItem&, Picture&&)>& visit) {
  std::vector<ArtItem> items;
  CPlanner planner(options, palette, report);
  auto wanted = [&](const ArtFile& f) {
    return f.entry && MayHoldArt(f.path, *options.profile) &&
           (options.map.empty() || (LowerExtension(f.path) == "bsp" && IsMapFile(f.path, options.map)));
  };
  for (const ArtFile& f : files)
    if (wanted(f)) Expect(progress, static_cast<std::uint64_t>(std::max<std::int64_t>(f.entry->Size(), 0)));
  bool anyMap = false;
  // A texture WAD's textures claim textures/NAME first: maps are made from them, and a map's own
  // texture that differs goes to the map's folder.
  std::vector<std::size_t> order;
  for (bool wads : {true, false})
    for (std::size_t i = 0; i < files.size(); ++i)
      if ((LowerExtension(files[i].path) == "wad") == wads) order.push_back(i);
  for (std::size_t i : order) {
    const ArtFile& f = files[i];
    if (!wanted(f)) continue;
    anyMap = anyMap || (LowerExtension(f.path) == "bsp" && IsMapFile(f.path, options.map));
    CEntryBytes data(*f.entry);
    if (!data.Ok()) {
      report.problems.push_back(Quoted(f.path) + ": its data cannot be read");
    } else {
      ScanFile(planner, i, f, data.Bytes(), items, report, visit);
    }
    if (!Advance(progress, static_cast<std::uint64_t>(std::max<std::int64_t>(f.entry->Size(), 0)), f.path)) {
      report.stopped = true;
      break;
    }
  }
  if (!options.map.empty() && !anyMap) report.problems.push_back("no map " + Quoted(options.map) + " among the files");
  return items;
}

ArtLayerNames LayerNamesOf(const ArtItem& item, const ArtOptions& options) {
  ArtLayerNames n;
  const std::string ext = ImageFileExtension(options.format);
  const ArtProfile& p = *options.profile;
  n.base = item.target + ext;
  if (item.rules.lit && !p.glowSuffix.empty()) {
    n.glow = item.target + std::string(p.glowSuffix) + ext;
    if (!p.otherGlowSuffix.empty()) n.otherGlow = item.target + std::string(p.otherGlowSuffix) + ext;
  }
  if (item.rules.colormap) {
    n.pants = item.target + "_pants" + ext;
    n.shirt = item.target + "_shirt" + ext;
  }
  return n;
}

namespace {

// The folder a target's file goes in, entered from the chosen folder one name at a time.
std::optional<CExtractFolder> EnterFolders(const CExtractFolder& root, const std::string& path, std::string& leaf,
                                           std::string* why) {
  std::optional<CExtractFolder> at;
  const CExtractFolder* dir = &root;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = path.find('/', start);
    if (slash == std::string::npos) break;
    std::optional<CExtractFolder> sub;
    if (dir->Enter(path.substr(start, slash - start), &sub, why) != ExtractOutcome::Done) return std::nullopt;
    at = std::move(sub);
    dir = &*at;
    start = slash + 1;
  }
  leaf = path.substr(start);
  if (!at) {
    // The chosen folder itself: entered again so that the caller holds a folder of its own.
    std::optional<CExtractFolder> self;
    if (root.Enter(".", &self, why) != ExtractOutcome::Done) return std::nullopt;
    return self;
  }
  return at;
}

struct ExportJob {
  ArtItem item;
  Picture picture;
};

// Encodes and writes the jobs handed to it on the process's worker pool (a pool of its own when
// the options name a number of threads). The reading thread waits on the oldest job once enough
// are queued, and runs it itself when no worker has started it: on two cores the reader then
// encodes too rather than idling while the workers catch up.
class CArtWriters {
 public:
  CArtWriters(const ArtOptions& options, const Palette& palette, const CExtractFolder& root)
      : m_options(options), m_palette(palette), m_root(root) {
    if (options.threads) m_ownPool = std::make_unique<CWorkerPool>(options.threads);
    m_pool = m_ownPool ? m_ownPool.get() : &CWorkerPool::Shared();
  }
  ~CArtWriters() { Finish(); }

  void Add(ExportJob job) {
    // A few jobs a worker in flight at most: the pictures they hold are not held all at once.
    if (m_inFlight.size() >= 4 * std::max(1u, m_pool->Workers())) {
      m_pool->Wait(m_inFlight.front());
      m_inFlight.pop_front();
    }
    auto shared = std::make_shared<ExportJob>(std::move(job));
    m_inFlight.push_back(m_pool->Submit([this, shared] {
      std::string problem;
      const int written = Write(*shared, problem);
      std::lock_guard lock(m_mutex);
      if (written) ++pictures, files += written;
      if (!problem.empty()) problems.push_back(problem);
    }));
  }

  void Finish() {
    for (const auto& task : m_inFlight) m_pool->Wait(task);
    m_inFlight.clear();
  }

  // Read once Finish has returned.
  int pictures = 0, files = 0;
  std::vector<std::string> problems;

 private:
  // The picture's layers: those it has are written, those it has not are removed, so that a
  // layer left by an earlier export never lights what no longer glows.
  int Write(const ExportJob& job, std::string& problem) {
    const ArtLayerNames names = LayerNamesOf(job.item, m_options);
    const PictureLayers layers = SplitLayers(job.picture, m_palette, job.item.rules);
    std::string leaf, why;
    const std::optional<CExtractFolder> dir = EnterFolders(m_root, names.base, leaf, &why);
    if (!dir) {
      problem = job.item.label + ": " + why;
      return 0;
    }
    const std::size_t cut = names.base.size() - leaf.size();
    int written = 0;
    auto put = [&](const std::string& name, const RgbaImage& image) {
      if (name.empty()) return true;
      const std::string file = name.substr(cut);
      if (image.rgba.empty()) {
        if (!dir->RemoveFile(file, &why)) return problem = job.item.label + ": " + why, false;
        return true;
      }
      std::vector<std::uint8_t> bytes;
      if (!EncodeImageFile(image, m_options.format, bytes, &why)) return problem = job.item.label + ": " + why, false;
      const ExtractOutcome o = dir->WriteFile(
          file, [&](const CExtractFolder::Sink& sink, std::string*) { return sink(bytes.data(), bytes.size()); }, &why);
      if (o != ExtractOutcome::Done) return problem = job.item.label + ": " + why, false;
      ++written;
      return true;
    };
    const RgbaImage none;
    if (put(names.base, layers.base) && put(names.glow, layers.glow) && put(names.otherGlow, none) &&
        put(names.pants, layers.pants) && put(names.shirt, layers.shirt))
      return written;
    return written;
  }

  const ArtOptions& m_options;
  const Palette& m_palette;
  const CExtractFolder& m_root;
  std::unique_ptr<CWorkerPool> m_ownPool;
  CWorkerPool* m_pool = nullptr;
  std::deque<std::shared_ptr<CWorkerPool::Task>> m_inFlight;
  std::mutex m_mutex;
};

}  // namespace

ArtReport ExportArt(const std::vector<ArtFile>& files, const ArtOptions& options, const fs::path& folder,
                    CProgress* progress) {
  ArtReport report;
  if (!options.profile) {
    report.problems.push_back("no engine given");
    return report;
  }
  std::string why;
  std::optional<CExtractFolder> root = CExtractFolder::Open(folder, &why);
  if (!root) {
    report.problems.push_back(why);
    return report;
  }
  const ArtPalette palette = PaletteForArt(files, *options.profile);
  if (!palette.source.empty() && !options.profile->quake2) report.notes.push_back(palette.source);
  CArtWriters writers(options, palette.palette, *root);
  PlanArt(files, options, palette, report, progress, [&](const ArtItem& item, Picture&& picture) {
    writers.Add({item, std::move(picture)});
  });
  writers.Finish();
  report.pictures = writers.pictures;
  report.files = writers.files;
  report.problems.insert(report.problems.end(), writers.problems.begin(), writers.problems.end());
  return report;
}

namespace {

bool ReadImageFile(const fs::path& path, RgbaImage& out, bool& present, std::string* why) {
  std::error_code ec;
  present = fs::is_regular_file(path, ec);
  if (!present) return false;
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) {
    if (why) *why = Quoted(path.string()) + " cannot be read";
    return false;
  }
  std::string decodeWhy;
  if (!DecodeImage(bytes, path.filename().string(), out, &decodeWhy)) {
    if (why) *why = Quoted(path.string()) + ": " + decodeWhy;
    return false;
  }
  return true;
}

}  // namespace

ArtReport ImportArt(const std::vector<ArtFile>& files, const ArtOptions& options, const fs::path& folder,
                    std::vector<ArtChange>& changes, CProgress* progress) {
  ArtReport report;
  changes.clear();
  if (!options.profile) {
    report.problems.push_back("no engine given");
    return report;
  }
  const ArtPalette palette = PaletteForArt(files, *options.profile);
  const std::vector<ArtItem> items = PlanArt(files, options, palette, report, progress);
  if (report.stopped) return report;
  // Each layer is looked for in the format asked for, then in the other.
  std::vector<ArtOptions> formats{options};
  formats.push_back(options);
  formats.back().format = options.format == ImageFileFormat::Png ? ImageFileFormat::Tga : ImageFileFormat::Png;
  auto load = [&](const ArtItem& item, std::string ArtLayerNames::*which, RgbaImage& out, bool& failed) {
    for (const ArtOptions& o : formats) {
      const std::string name = LayerNamesOf(item, o).*which;
      if (name.empty()) return false;
      bool present = false;
      std::string why;
      if (ReadImageFile(folder / name, out, present, &why)) return true;
      if (present) {
        report.problems.push_back(item.label + ": " + why);
        failed = true;
        return false;
      }
    }
    return false;
  };
  std::size_t at = 0;
  while (at < items.size()) {
    const std::size_t fileIndex = items[at].file;
    std::size_t end = at;
    while (end < items.size() && items[end].file == fileIndex) ++end;
    std::vector<std::uint8_t> bytes;
    bool readDone = false, changed = false;
    for (std::size_t k = at; k < end; ++k) {
      const ArtItem& item = items[k];
      RgbaImage base, glow, pants, shirt;
      bool failed = false;
      if (!load(item, &ArtLayerNames::base, base, failed)) continue;
      const bool hasGlow =
          load(item, &ArtLayerNames::glow, glow, failed) || load(item, &ArtLayerNames::otherGlow, glow, failed);
      const bool hasPants = load(item, &ArtLayerNames::pants, pants, failed);
      const bool hasShirt = load(item, &ArtLayerNames::shirt, shirt, failed);
      if (failed) continue;
      if (!readDone) {
        std::string why;
        if (!ReadAll(*files[fileIndex].entry, bytes, &why)) {
          report.problems.push_back(Quoted(files[fileIndex].path) + ": " + why);
          break;
        }
        readDone = true;
      }
      Picture original;
      Palette own = palette.palette;
      std::string why;
      if (!ReadSpot(bytes, item.spot, original, &why, &own)) {
        report.problems.push_back(item.label + ": " + why);
        continue;
      }
      const LayerImages layers{&base, hasGlow ? &glow : nullptr, hasPants ? &pants : nullptr,
                               hasShirt ? &shirt : nullptr};
      std::vector<std::uint8_t> indices;
      if (!JoinLayers(layers, original, own, item.rules, indices, &why)) {
        report.problems.push_back(item.label + ": " + why);
        continue;
      }
      ++report.pictures;
      if (base.width != original.width || base.height != original.height)
        report.notes.push_back(item.label + ": the replacement is " + std::to_string(base.width) + "x" +
                               std::to_string(base.height) + ", scaled to the original's " +
                               std::to_string(original.width) + "x" + std::to_string(original.height));
      Picture full;
      BuildPicture(original.width, original.height, indices, full);
      if (full.pixels == original.pixels) continue;
      std::array<Picture, 3> levels;
      const bool mips = item.spot.mips[0] != 0;
      if (mips) levels = MipLevelsFor(full, own, item.rules);
      if (!WriteSpot(bytes, item.spot, full, mips ? &levels : nullptr, own, &why)) {
        report.problems.push_back(item.label + ": " + why);
        continue;
      }
      changed = true;
      ++report.files;
    }
    if (changed) changes.push_back({fileIndex, std::move(bytes)});
    at = end;
  }
  return report;
}

}  // namespace tarn
