// Textures embedded in Quake maps (version 29, and the extended "BSP2" and "2PSB" layouts) and
// Half-Life maps (version 30, each texture with its palette), WAD2 and WAD3 files to hold them,
// and the texture lump rewritten: textures replaced by name from a WAD or a folder of pictures,
// a Half-Life map's textures put into it from its WADs or left to them, the rest of the map
// byte for byte.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "containers/WadFormat.h"
#include "fileio/SafeSave.h"

namespace tarn {

namespace bsp {
inline constexpr std::int32_t kVersion29 = 29;
inline constexpr std::int32_t kVersion30 = 30;
inline constexpr std::size_t kTextureLump = 2;
inline constexpr std::size_t kLumpCount = 15;
inline constexpr std::size_t kHeaderSize = 4 + kLumpCount * 8;
inline constexpr std::size_t kMiptexHeader = 40;
inline constexpr std::size_t kNameSize = 16;
}  // namespace bsp

struct MapTexture {
  std::string name;                 // as stored, up to its NUL
  std::vector<std::uint8_t> bytes;  // header and the four mip levels (and a Half-Life palette), as the map holds them
};

struct MapTextures {
  enum class Kind { Quake, HalfLife, Quake2, Other };
  Kind kind = Kind::Other;
  std::vector<MapTexture> textures;
  int skipped = 0;                    // entries with no pixels: missing (-1) or header only
  std::vector<std::string> problems;  // what could not be extracted, and why
};

MapTextures ReadMapTextures(std::span<const std::uint8_t> map);

// The file: "WAD2", count and directory offset, the lumps from offset 12, then the records
// (the WAD layout of archive/WadFormat.h).
std::vector<std::uint8_t> BuildWad2(const std::vector<WadLump>& lumps);

// Written through CSafeSave: in place only when complete. False with a reason.
bool WriteWad2File(const std::filesystem::path& path, const std::vector<WadLump>& lumps, std::string* error,
                   const SaveConsent& consent = {});

// Adds the textures of one map to lumps, leaving out names already there (compared as the
// engine does, ignoring case), as 'D' lumps of a WAD2 or Half-Life's 0x43 of a WAD3. Returns
// how many were added.
int AddMapTextures(const MapTextures& map, std::vector<WadLump>& lumps);

// A WAD of either version through CSafeSave, as WriteWad2File.
bool WriteWadFile(const std::filesystem::path& path, ContainerFormat version, const std::vector<WadLump>& lumps,
                  std::string* error, const SaveConsent& consent = {});

// What a rewrite of the texture lump did, by texture name.
struct MapTextureReport {
  std::vector<std::string> replaced;  // given new pixels (or embedded, or left to the WADs)
  std::vector<std::string> same;      // given the bytes they had
  std::vector<std::string> notFound;  // embedded, but the source has no texture of their name
  std::vector<std::string> refused;   // "NAME: why" for the source's textures that cannot go in
  std::vector<std::string> notes;     // "NAME: now 128x128, was 64x64" and the like
};

// A texture a map may take: a mip texture as a WAD holds it (header, four levels; a Half-Life
// one with its palette after them), found by name in any case. False when there is none.
using MapTextureFinder = std::function<bool(const std::string& name, std::vector<std::uint8_t>& miptex)>;

// The textures of a WAD2 or WAD3 by name, the first of a name winning, as a finder; false, with
// a reason, when the bytes are no WAD.
bool WadTextureFinder(std::vector<std::uint8_t> wad, MapTextureFinder& finder, std::string* error);

// The pictures of a folder as a finder for a Quake map: NAME.mip as it is, NAME.png (.tga, .bmp,
// .pcx, .jpg, .lmp) encoded to Quake's palette. A picture that does not encode is refused with
// its reason (refused gets "NAME: why").
MapTextureFinder FolderTextureFinder(const std::filesystem::path& folder, std::vector<std::string>* refused);

// The map with each embedded texture the finder holds replaced by its bytes, the name field the
// map's own; every other byte of the texture lump and of the map kept, the lumps after it moved
// and the offsets corrected. A texture of the wrong kind (a palette where the map's have none,
// or none where they have one), a side that is not a multiple of 16, or damaged levels is left
// as it was and refused. False, with a reason, for a map that is not Quake's or Half-Life's or
// whose texture lump cannot be read whole; out is then empty.
bool ReplaceMapTextures(std::span<const std::uint8_t> map, const MapTextureFinder& finder,
                        std::vector<std::uint8_t>& out, MapTextureReport& report, std::string* error);

// A Half-Life map's textures that are only named (the pixels in a WAD of its "wad" key) made
// embedded from the finder; or (EmbedTextures false) its embedded textures left to its WADs, a
// header only in their place, each only when the finder holds it, so that none is lost.
bool EmbedMapTextures(std::span<const std::uint8_t> map, bool embed, const MapTextureFinder& finder,
                      std::vector<std::uint8_t>& out, MapTextureReport& report, std::string* error);

}  // namespace tarn
