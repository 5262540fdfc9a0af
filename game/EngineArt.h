// Replacement art: the true-colour pictures today's engines load in place of the 8-bit
// originals, each under the name and in the folder the engine asks for, with the glowing pixels
// (and a player skin's pants and shirt) on layers of their own; and such pictures brought back
// into the originals. Each engine's rules are taken from its own code, cited in EngineArt.cpp
// where they are set.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/PictureSpots.h"
#include "pictures/GlowLayers.h"
#include "pictures/ImageWrite.h"

namespace tarn {

class CPackObject;
class CProgress;

// How the engine names the map folder of textures/MAPNAME/: the map's path below maps/ without
// its extension (Quakespasm, DarkPlaces: "maps/dm/x.bsp" gives "dm/x"), or its file name alone
// (FTE's COM_FileBase: "x").
enum class MapFolder { None, BelowMaps, BaseName };

// How the pictures of a model's skin group (and of a sprite's frame group) are numbered.
enum class GroupNames {
  None,      // the engine reads no replacement for them
  ManyOnly,  // NAME_I_J for a group of several, NAME_I for a group of one (DarkPlaces)
  Always,    // NAME_I_J for every picture of a group (FTE)
};

// Where the engine's glowing indices come from.
enum class GlowRange {
  Fixed224,      // 224 to 255, whatever the game holds (Quakespasm's Mod_CheckFullbrights: > 223)
  ColormapByte,  // 256 - gfx/colormap.lmp[16384], none without that byte (DarkPlaces)
  ColormapRows,  // the last colours the colour map's last row keeps; 32 without it (FTE)
  None,          // Quake II's pictures have none
};

struct ArtProfile {
  std::string_view name;                 // as typed after --engine
  std::string_view aliases;              // other names it answers to, separated by spaces
  std::string_view displayName;          // for messages and menus
  std::string_view gameEngine;           // the game profile whose load order applies (game/EngineProfile.h)
  std::vector<ImageFileFormat> formats;  // the formats of Tarn's that the engine reads; the first by default
  bool quake2 = false;                   // Quake II's .wal and .pcx pictures, in Quake II's palette
  // What it reads a replacement for.
  bool liquids = true, sky = false, skins = false, sprites = false, wadPictures = false, loosePictures = false,
       conchars = false;
  GroupNames skinGroups = GroupNames::None;
  GroupNames spriteGroups = GroupNames::None;
  MapFolder mapFolder = MapFolder::None;
  bool skyInMapFolder = false;       // the sky too is looked for in textures/MAPNAME/
  std::string_view glowSuffix;       // the layer of glowing pixels, "_glow" or "_luma"; empty when none
  std::string_view otherGlowSuffix;  // the one it looks for when that is missing
  bool pantsShirt = false;           // _pants and _shirt of a colour-mapped skin
  bool lowerCaseTextures = false;    // world texture names lower-cased before they are looked for
  bool allStarsToHash = false;       // every "*" of a name becomes "#", not only the first
  bool unnamedTextures = false;      // a texture without a name is "unnamedN" (N its number in the map)
  GlowRange glow = GlowRange::Fixed224;
  int concharsSecondTransparent = -1;  // the console font's see-through indices are 0 and this
  // MAX_QPATH: no file of a longer path is loaded, and no longer name of a skin, sprite frame
  // or picture (with its layer's suffix and extension) is asked for.
  int maxPath = 64;
  // The same for world textures, whose names some engines make in larger buffers (MAX_OSPATH).
  int maxTexturePath = 64;
};

std::span<const ArtProfile> ArtProfiles();
// By name or alias ("quakespasm", "dp", "ironwail", ...), any case; nullptr when unknown.
const ArtProfile* FindArtProfile(std::string_view name);
// "quakespasm, ironwail, qss, darkplaces, fte, yamagi", for messages.
std::string ArtProfileNames();

// Whether the engine may read a replacement for a picture of this file (by its extension), or
// needs the file for the palette: the files worth reading.
bool MayHoldArt(std::string_view path, const ArtProfile& profile);

// A game file the pictures are read from (and brought back into).
struct ArtFile {
  std::string path;  // its path in the game: "maps/e1m1.bsp", "gfx.wad", "progs/player.mdl"
  CPackObject* entry = nullptr;
};

struct ArtOptions {
  const ArtProfile* profile = nullptr;
  ImageFileFormat format = ImageFileFormat::Png;
  // Only this map's textures ("e1m1", or its path "maps/e1m1.bsp"), all in the map's own folder
  // where the engine has one. Empty: every picture.
  std::string map;
  // Where the work runs: 0 for the process's worker pool, as wide as the CPUs it may use.
  unsigned threads = 0;
};

// One picture the engine can replace.
struct ArtItem {
  std::size_t file = 0;  // into the files given
  PictureSpot spot;
  LayerRules rules;
  std::string target;   // the path the engine asks for, without an extension
  std::string label;    // the picture for messages: "maps/e1m1.bsp: texture \"*water1\""
  bool shared = false;  // the same pixels as an earlier picture of this target: one file serves both
};

struct ArtReport {
  int pictures = 0;                   // pictures written (shared ones once); on import, replacements read
  int files = 0;                      // files written, layers included; on import, pictures changed
  std::vector<std::string> refused;   // pictures left out, and why (names never written)
  std::vector<std::string> problems;  // files or pictures that could not be read or written
  std::vector<std::string> notes;     // what was done beyond the obvious
  bool stopped = false;               // the progress said stop
};

// The game's palette and the engine's glowing indices, from the files (gfx/palette.lmp,
// gfx/colormap.lmp; Quake II's pics/colormap.pcx), else Tarn's own.
struct ArtPalette {
  Palette palette;
  int glowFirst = 1, glowLast = 0;
  std::string source;  // where the glowing range came from, for notes
};
ArtPalette PaletteForArt(const std::vector<ArtFile>& files, const ArtProfile& profile);

// Every picture of the files the engine can replace, those of WADs first (a map's textures come
// from them) and then in the files' order, with its target decided: names the engine would not
// find or that would leave the folder are refused, and two different pictures that would take
// one file (once "*" becomes "#" or case is folded) are told apart by the map's own folder where
// the engine has one, and otherwise the second is refused. The files' bytes are read on the way; visit, when given,
// sees each new picture's indices as it is found (shared ones are not visited).
std::vector<ArtItem> PlanArt(const std::vector<ArtFile>& files, const ArtOptions& options, const ArtPalette& palette,
                             ArtReport& report, CProgress* progress = nullptr,
                             const std::function<void(const ArtItem&, Picture&&)>& visit = {});

// Writes every picture of the files below folder (which is made when missing; nothing is ever
// written outside it, nor through a link), each layer a file: TARGET.png, TARGET_glow.png, ...
// Pictures are encoded on the worker pool (or options.threads) while the files are read.
ArtReport ExportArt(const std::vector<ArtFile>& files, const ArtOptions& options, const std::filesystem::path& folder,
                    CProgress* progress = nullptr);

// The file names of one picture's layers below a folder, as the engine looks for them:
// base, glow, pants, shirt (empty where the engine reads none).
struct ArtLayerNames {
  std::string base, glow, otherGlow, pants, shirt;
};
ArtLayerNames LayerNamesOf(const ArtItem& item, const ArtOptions& options);

// A file of the game whose bytes a replacement changed.
struct ArtChange {
  std::size_t file = 0;
  std::vector<std::uint8_t> bytes;
};

// Brings the replacements found below folder back into the files' pictures: each picture whose
// TARGET file (in options.format, or else the other format) is there, with its glow, pants and
// shirt layers when they are, is joined back into the original's indices (formats/GlowLayers.h
// JoinLayers) and written into a copy of its file; a texture's mip levels are made again when
// its pixels changed. changes receives each file that changed; files whose pictures came back
// the same are left out.
ArtReport ImportArt(const std::vector<ArtFile>& files, const ArtOptions& options, const std::filesystem::path& folder,
                    std::vector<ArtChange>& changes, CProgress* progress = nullptr);

}  // namespace tarn
