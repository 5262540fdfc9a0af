// Textures embedded in Quake maps (version 29, and the extended "BSP2" and "2PSB" layouts),
// and WAD2 texture files to hold them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "containers/WadFormat.h"
#include "fileio/SafeSave.h"

namespace tarn {

namespace bsp {
inline constexpr std::int32_t kVersion29 = 29;
inline constexpr std::size_t kTextureLump = 2;
inline constexpr std::size_t kLumpCount = 15;
inline constexpr std::size_t kHeaderSize = 4 + kLumpCount * 8;
inline constexpr std::size_t kMiptexHeader = 40;
inline constexpr std::size_t kNameSize = 16;
}  // namespace bsp

struct MapTexture {
  std::string name;                 // as stored, up to its NUL
  std::vector<std::uint8_t> bytes;  // header and the four mip levels, exactly as the map holds them
};

struct MapTextures {
  enum class Kind { Quake, Quake2, Other };
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
// engine does, ignoring case). Returns how many were added.
int AddMapTextures(const MapTextures& map, std::vector<WadLump>& lumps);

}  // namespace tarn
