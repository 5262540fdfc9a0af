// The pictures a map's faces are drawn with, as red, green, blue and alpha: the textures the
// map holds, Quake II's WALs and the WADs a Quake or Half-Life map names in its worldspawn's
// "wad" key, found through a lookup; a checkerboard for the ones found nowhere. Shared by the
// OpenGL window and the software renderer, so both draw the same textures.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "maps/MapLook.h"

namespace tarn {

class CPackObject;
struct BspMap;

// The bytes of another file by its path ("textures/e1u1/floor.wal", "halflife.wad"); false when
// there is none. Whoever knows where the map came from (its archive, the game folders) makes it.
using MapFileLookup = std::function<bool(const std::string& path, std::vector<std::uint8_t>& bytes)>;

// Files of the archive the entry is in, by their path in it (as given, then in lower case).
MapFileLookup ArchiveLookup(const CPackObject& entry);

struct MapImage {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgba;  // width × height × 4, rows top first
  bool alphaTest = false;          // a "{" texture: alpha 0 where it is see-through
  // The engine look's fullbright texels (Quake's palette from 224), drawn unlit over the rest,
  // as rgba is; those texels black in rgba then. Empty when the picture has none.
  std::vector<std::uint8_t> glow;
};

// The smaller levels of a picture, half the size each down to 1 × 1, each texel the mean of the
// four it covers (Quakespasm's TexMgr_MipMapW and TexMgr_MipMapH), see-through texels of a "{"
// texture left out of the mean so that their colour does not bleed.
std::vector<MapImage> MapMipLevels(const MapImage& full);

struct MapImages {
  // The distinct pictures, the checkerboard last. Textures of one name share a picture, so a
  // map naming one large WAD texture many times decodes it once.
  std::vector<MapImage> images;
  std::vector<std::size_t> ofTexture;  // each map texture's picture; the checkerboard when missing
  // The names found nowhere, each once, in the map's order.
  std::vector<std::string> missing;
  // The WADs of the "wad" key that were found, by the path that found them.
  std::vector<std::string> wads;
  // A Quake sky texture's two layers (gl_sky.c Sky_LoadTexture): the solid one behind (its
  // right half) and the one over it (its left half, colour 0 see-through), by map texture;
  // -1 for textures that are no sky.
  std::vector<std::pair<int, int>> skyLayers;
  // Quake II's sky box (MapSkyBoxOf) when some face is sky: its six pictures in one,
  // kMapSkyBoxColumns across and two down in kMapSkySuffixes' order, each scaled to skyBoxSide
  // square (the largest of them, at most kMapSkyBoxMostSide). Empty when any of the six is found
  // nowhere (or they would take more pixels than the map's outside pictures may): the sky faces
  // are then drawn with their own texture, as they always were, and the pictures not found are in
  // missing as "env/<name><suffix>".
  MapImage skyBox;
  int skyBoxSide = 0;

  std::size_t Checker() const { return images.size() - 1; }
  // A face's picture from its texture index (-1, or out of range: the checkerboard).
  std::size_t ImageOf(int texture) const {
    return texture >= 0 && static_cast<std::size_t>(texture) < ofTexture.size()
               ? ofTexture[static_cast<std::size_t>(texture)]
               : Checker();
  }
  bool Missing(int texture) const { return ImageOf(texture) == Checker(); }
};

inline constexpr int kMapSkyBoxColumns = 3;
inline constexpr int kMapSkyBoxMostSide = 2048;

// Where a point of the sky box (MapSkyBoxTexel) lies in MapImages::skyBox, in texels: kept half a
// texel inside its picture, so that filtering never reaches the next one (gl1_warp.c clamps
// to sky_min and sky_max for the same reason).
inline void MapSkyBoxAtlasTexel(int side, float s, float t, int tile, float& x, float& y) {
  const float n = static_cast<float>(tile), lo = 0.5f / n, hi = 1 - lo;
  s = !(s >= lo) ? lo : s > hi ? hi : s;  // NaN (a damaged map's direction): lo
  t = !(t >= lo) ? lo : t > hi ? hi : t;
  x = (static_cast<float>(side % kMapSkyBoxColumns) + s) * n;
  y = (static_cast<float>(side / kMapSkyBoxColumns) + t) * n;
}

// lookup may be empty: then only what the map holds is found. The look decides whether
// fullbright texels are kept apart (MapShading::glow).
MapImages DecodeMapImages(const BspMap& map, const MapFileLookup& lookup, const MapLook& look = {});

// Every path DecodeMapImages may ask its lookup for, so that the files can be gathered first
// where the lookup cannot reach them (a worker thread that must not touch an archive's tree).
std::vector<std::string> MapFilesWanted(const BspMap& map);

// The names of the textures neither the map holds nor the lookup finds (a WAL for Quake II, a
// texture lump of one of the map's WADs for the others), each once; nothing is decoded, so a
// damaged file that is there counts as found.
std::vector<std::string> MissingMapTextures(const BspMap& map, const MapFileLookup& lookup);

// Each texture's size in texels for BuildMapMesh: the map's own, else its picture's; a missing
// texture keeps the size the map gives it, so the checkerboard lies as the texture would.
std::vector<std::pair<int, int>> MapTextureSizes(const BspMap& map, const MapImages& images);

// The mip textures of the WADs the worldspawn's "wad" key names, found through lookup, by name
// in any case: the first WAD that has one wins, as the engines search them. The bytes are the
// WAD's lump (for `tarn-pak maptex --embed` and --unembed).
std::function<bool(const std::string& name, std::vector<std::uint8_t>& miptex)> MapWadTextures(
    const BspMap& map, const MapFileLookup& lookup);

// The paths of the worldspawn's "wad" key, in its order (";"-separated, as the compilers write
// them: often absolute Windows paths such as "\half-life\valve\halflife.wad").
std::vector<std::string> MapWadPaths(const BspMap& map);

}  // namespace tarn
