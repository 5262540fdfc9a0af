// The light pages of faces whose lightmaps are of any size and start anywhere in the lighting
// lump (overlapping, shared, far larger than engines draw): at most kMostMapPages pages of a
// power-of-two side, each luxel block inside its page and apart from the others (every lit
// face's first luxel is still its own first byte once all are copied), every light coordinate
// on its page, and every face accounted for as lit, unlit, oversized or in excess.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "FuzzInput.h"
#include "maps/Bsp.h"
#include "maps/MapMesh.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarn::fuzz::Input in{data, size};
  tarn::BspMap map;
  const int maxSide = 1 << (in.Byte() % 12);
  map.lightBytes = in.Byte() & 1 ? 3 : 1;
  map.lighting.resize(in.U32() % (1 << 20));
  for (std::uint8_t& b : map.lighting) b = in.Byte();
  const std::size_t faces = in.U16() % 3000;
  std::size_t lit = 0;
  for (std::size_t i = 0; i < faces; ++i) {
    tarn::BspFace f;
    f.first = static_cast<std::uint32_t>(map.vertices.size());
    f.count = 4;
    const int w = static_cast<int>(in.U16() % 1100) + 1, h = static_cast<int>(in.U16() % 1100) + 1;
    const std::uint64_t need =
        static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h) * static_cast<std::uint64_t>(map.lightBytes);
    // Lightmaps lie inside the lump, as the map's reader sees to.
    if (in.Byte() & 1 && need <= map.lighting.size()) {
      f.lightOffset = static_cast<std::int64_t>(in.U32() % (map.lighting.size() - need + 1));
      f.lightWidth = w, f.lightHeight = h;
      f.styles[0] = 0;
      ++lit;
    }
    const float u[4] = {0.5f, static_cast<float>(w) - 0.5f, static_cast<float>(w) - 0.5f, 0.5f};
    const float v[4] = {0.5f, 0.5f, static_cast<float>(h) - 0.5f, static_cast<float>(h) - 0.5f};
    for (int k = 0; k < 4; ++k) {
      tarn::BspVertex vertex;
      vertex.x = static_cast<float>(k & 1), vertex.y = static_cast<float>(k >> 1);
      vertex.u = u[k], vertex.v = v[k];
      map.vertices.push_back(vertex);
    }
    map.faces.push_back(f);
  }

  const tarn::MapMesh mesh = tarn::BuildMapMesh(map, {}, maxSide);
  const int side = mesh.pageSide;
  if (mesh.pages.empty() || mesh.pages.size() > static_cast<std::size_t>(tarn::kMostMapPages)) std::abort();
  if (side < 16 || side > std::max(maxSide, 16) || side > tarn::kMapPageSide || (side & (side - 1))) std::abort();
  for (const tarn::MapLightPage& p : mesh.pages)
    if (p.rgb.size() != static_cast<std::size_t>(side) * static_cast<std::size_t>(side) * 3) std::abort();
  if (mesh.drawnFaces != faces || mesh.vertices.size() != 4 * faces) std::abort();
  if (mesh.oversizedLight + mesh.excessLight > lit) std::abort();

  // Each vertex's page, from the group its triangles are in.
  std::vector<int> pageOf(mesh.vertices.size(), -1);
  for (const tarn::MapDrawGroup& g : mesh.groups) {
    if (g.page < 0 || static_cast<std::size_t>(g.page) >= mesh.pages.size()) std::abort();
    for (std::uint32_t t = g.firstIndex; t < g.firstIndex + g.indexCount; ++t) pageOf[mesh.triangles[t]] = g.page;
  }
  std::size_t drawnLit = 0;
  const float white = 2.0f / static_cast<float>(side);
  for (std::size_t i = 0; i < faces; ++i) {
    const tarn::MapMeshVertex& m = mesh.vertices[4 * i];
    for (std::size_t k = 0; k < 4; ++k) {
      const tarn::MapMeshVertex& c = mesh.vertices[4 * i + k];
      if (!(c.u >= 0 && c.u <= 1 && c.v >= 0 && c.v <= 1)) std::abort();
    }
    const tarn::BspFace& f = map.faces[i];
    if (m.u == white && m.v == white) continue;  // unlit, from the white corner
    if (f.lightOffset < 0) std::abort();
    ++drawnLit;
    // The corner vertex sits on the middle of the block's first luxel.
    const float fx = m.u * static_cast<float>(side) - 0.5f, fy = m.v * static_cast<float>(side) - 0.5f;
    const int x = static_cast<int>(fx), y = static_cast<int>(fy);
    if (x < 1 || y < 1 || x >= side || y >= side || static_cast<float>(x) != fx || static_cast<float>(y) != fy)
      std::abort();
    const std::uint8_t* got = mesh.pages[static_cast<std::size_t>(pageOf[4 * i])].rgb.data();
    const std::uint8_t* luxel = got + (static_cast<std::size_t>(y) * static_cast<std::size_t>(side) + x) * 3;
    const std::uint8_t* source = map.lighting.data() + f.lightOffset;
    for (int c = 0; c < 3; ++c)
      if (luxel[c] != source[map.lightBytes == 3 ? c : 0]) std::abort();
  }
  if (drawnLit + mesh.oversizedLight + mesh.excessLight != lit) std::abort();
  return 0;
}
