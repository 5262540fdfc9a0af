// A loaded map made ready for drawing: one vertex array of every face, triangle lists grouped
// by texture and lightmap page so that a frame is one draw call a group, the polygon outlines
// for the wireframe, and the faces' first lightmaps packed into a few square pages. Built once,
// in one pass over the faces and one over the groups, with no drawing API: the window uploads it
// to OpenGL, the software renderer (MapRender.h) draws from it as it is.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

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
};

struct MapLightPage {
  std::vector<std::uint8_t> rgb;  // side × side samples of red, green, blue
};

struct MapMesh {
  std::vector<MapMeshVertex> vertices;
  std::vector<std::uint32_t> triangles;  // indices into vertices, by group
  std::vector<MapDrawGroup> groups;
  std::vector<std::uint32_t> outlines;  // pairs of indices: every polygon's edges
  int pageSide = 0;
  std::vector<MapLightPage> pages;
  std::size_t drawnFaces = 0;
  float mins[3]{}, maxs[3]{};  // of the drawn vertices
  bool empty = true;
};

// Faces no player sees: Quake II's SURF_NODRAW, and the textures compilers put on triggers
// and clipping brushes.
bool HiddenMapFace(const BspMap& map, std::size_t face);

// sizes[i] is texture i's width and height in texels (64 × 64 taken for a zero). Faces without
// light of their own are drawn from a white corner of their page.
MapMesh BuildMapMesh(const BspMap& map, std::span<const std::pair<int, int>> sizes, int pageSide = 1024);

}  // namespace tarn
