// The facts of a compiled map, as `tarn-pak info` and the preview pane give them: its format,
// each lump's size, what it holds, whether it is lit and whether the .lit beside it matches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "maps/Bsp.h"
#include "maps/MapImages.h"

namespace tarn {

class CPackObject;

struct MapFacts {
  BspHeader header;
  std::size_t faces = 0, texinfo = 0, models = 0, vertices = 0;
  std::size_t textures = 0, embedded = 0;
  std::size_t entities = 0;
  std::string entityError;    // why the entity lump does not parse; empty when it does
  std::int64_t lighting = 0;  // bytes of the light the faces are drawn with, as its lump stores it
  std::string lightSource;    // where that light is (BspMap::lightSource); empty when unlit
  bool colouredLight = false;
  std::vector<BspxLump> bspx;             // the BSPX table's readable lumps
  std::vector<std::string> bspxLighting;  // its per-face lumps that were used
  enum class Lit { None, Matching, Wrong, NotTaken };
  Lit lit = Lit::None;
  std::string litNote;  // why a .lit does not match
  // Textures the map names but neither holds nor finds: Quake's and Half-Life's header-only ones
  // that no WAD of the worldspawn's "wad" key holds, and those of a Quake II map with no
  // textures/NAME.wal. Quake's offsets of -1 name nothing and are counted alone.
  std::vector<std::string> missingTextures;
  std::size_t unnamedMissing = 0;
  std::vector<std::string> external;  // the names a Quake II map takes from textures/NAME.wal
  std::vector<std::string> problems;
};

// Reads the map's bytes; lit, when given, is the .lit beside it. The textures the map does not
// hold are looked for through textures; without it, every one of a Quake or Half-Life map is
// missing and none of a Quake II map's. False, with the reason, when it is not a map that can
// be read.
bool ReadMapFacts(std::span<const std::uint8_t> bytes, const std::vector<std::uint8_t>* lit, MapFacts& facts,
                  std::string* error, const MapFileLookup* textures = nullptr);

// The facts of a map entry: its .lit is the one of the same name in its directory, and the
// textures it does not hold are looked for through textures, or in the same archive when that
// is null.
bool ReadMapFacts(CPackObject& entry, MapFacts& facts, std::string* error, const MapFileLookup* textures = nullptr);

// "29", "30", "38", or the magic of the extended formats ("BSP2", "2PSB").
std::string MapVersion(const BspHeader& header);

}  // namespace tarn
