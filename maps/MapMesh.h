// A loaded map made ready for drawing: one vertex array of every face, triangle lists grouped
// by texture and lightmap page so that a frame is one draw call a group, the polygon outlines
// for the wireframe, and the faces' first lightmaps packed into a few square pages. Built once,
// in one pass over the faces and one over the groups, with no drawing API: the window uploads it
// to OpenGL, the software renderer (MapRender.h) draws from it as it is.
//
// The pages are bounded by what the map's lighting lump holds, however its faces point into it:
// a lightmap larger than the engines draw, or one that only repeats bytes other faces light
// from, cannot make them grow.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "maps/MapLook.h"

namespace tarn {

struct BspMap;

struct MapMeshVertex {
  float x, y, z;
  float s, t;  // texture coordinates, 0 to 1 across the texture
  float u, v;  // lightmap page coordinates, 0 to 1 across the page
};

struct MapDrawGroup {
  int texture = -1;  // into BspMap::textures; -1 for faces without one
  int page = 0;      // lightmap page
  std::uint32_t firstIndex = 0, indexCount = 0;
  // How its faces are drawn (MapLook.h); the groups come opaque first, then the translucent.
  MapSurface surface = MapSurface::Solid;
  float alpha = 1;
};

struct MapLightPage {
  std::vector<std::uint8_t> rgb;  // side × side samples of red, green, blue
};

struct MapMesh {
  std::vector<MapMeshVertex> vertices;
  std::vector<std::uint32_t> triangles;  // indices into vertices, by group
  std::vector<MapDrawGroup> groups;
  std::vector<std::uint32_t> outlines;  // pairs of indices: every polygon's edges
  int pageSide = 0;                     // a power of two, as small as holds the light in one page where it can
  std::vector<MapLightPage> pages;
  std::size_t drawnFaces = 0;
  // Faces drawn without their light: lightmaps wider than the engines draw (kMostMapLuxels), and
  // lightmaps beyond what the lighting lump can hold as faces of their own.
  std::size_t oversizedLight = 0, excessLight = 0;
  float mins[3]{}, maxs[3]{};  // of the drawn vertices
  bool empty = true;
};

// Faces no player sees: Quake II's SURF_NODRAW, and the textures compilers put on triggers
// and clipping brushes (MapFaceStyleOf's Hidden).
bool HiddenMapFace(const BspMap& map, std::size_t face);

// The most luxels a side of a face's lightmap an engine draws, at 16 texels a luxel: DarkPlaces
// refuses a wider face in a Quake, Half-Life or Quake II map ("Bad surface extents" in
// model_brush.c); Quakespasm stops at 126 (extents of 2000 texels), WinQuake, GoldSrc and
// Quake II's software renderer at 17, id's Quake II GL renderer at its 128-luxel blocks. The
// finer luxels of a BSPX lightmap scale (LMSHIFT), counted at 16 texels, come out fewer.
inline constexpr int kMostMapLuxels = 256;
// Light pages are at most this many luxels a side, and there are at most kMostMapPages of them.
inline constexpr int kMapPageSide = 1024;
inline constexpr int kMostMapPages = 64;

// sizes[i] is texture i's width and height in texels (64 × 64 taken for a zero). Faces without
// light of their own are drawn from a white corner of a page (MapShading::unlitByte), the dark
// ones (BspFace::dark) from a black one. Pages are at most maxPageSide a side (a power of two).
// The look decides which faces are drawn and how (MapFaceStyleOf).
MapMesh BuildMapMesh(const BspMap& map, std::span<const std::pair<int, int>> sizes, int maxPageSide = kMapPageSide,
                     const MapLook& look = {});

// How far a ray from `from` along the unit `direction` goes, up to `reach`, before it meets a
// face the eye stops at from the side the face is seen from: a solid or sky face, met on its
// front (the games wind faces clockwise seen from the front). Liquids and fences are seen
// through, and a face met from behind is the inside of a brush the ray starts in. Where the map
// viewer may put its camera without leaving the room it looks into.
float MapTraceToWall(const MapMesh& mesh, const float from[3], const float direction[3], float reach);

}  // namespace tarn
