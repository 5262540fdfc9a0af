#include "maps/MapMesh.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <unordered_map>

#include "maps/Bsp.h"

namespace tarn {

namespace {

// Every page starts with a white block the unlit faces sample and a black one beside it for
// the dark ones; four luxels a side so that linear filtering at its centre sees nothing else.
constexpr int kWhiteSide = 4;

// A face's first lightmap as it goes onto a page: w × h luxels with a one-luxel border.
struct LightBlock {
  std::int64_t offset = 0;
  int w = 0, h = 0;
  int page = -1, x = 0, y = 0;  // page -1: left out, its faces unlit
};

// Shelves across square pages of one side, filled left to right and top to bottom, the next page
// opened only when a block fits nowhere on the last shelf or below it. Fed the tallest blocks
// first, each shelf holds blocks of about its height, so little is wasted above them.
class CShelves {
 public:
  explicit CShelves(int side) : m_side(side) {}
  // Where a block of w × h goes (w and h at most the side less the white block); false when the
  // pages would be more than kMostMapPages.
  bool Place(int w, int h, int& page, int& x, int& y) {
    if (m_pages > 0 && m_x + w > m_side) {
      m_y += m_shelf;
      m_x = 0, m_shelf = 0;
    }
    if (m_pages == 0 || m_y + h > m_side) {
      if (m_pages == kMostMapPages) return false;
      ++m_pages;
      // The white and black blocks in the corner start the first shelf.
      m_x = 2 * kWhiteSide, m_y = 0, m_shelf = kWhiteSide;
    }
    page = m_pages - 1;
    x = m_x, y = m_y;
    m_x += w;
    m_shelf = std::max(m_shelf, h);
    return true;
  }
  int Pages() const { return m_pages; }

 private:
  int m_side;
  int m_pages = 0, m_x = 0, m_y = 0, m_shelf = 0;
};

}  // namespace

bool HiddenMapFace(const BspMap& map, std::size_t face) {
  return MapFaceStyleOf(map, face, MapLook{}).surface == MapSurface::Hidden;
}

MapMesh BuildMapMesh(const BspMap& map, std::span<const std::pair<int, int>> sizes, int maxPageSide,
                     const MapLook& look) {
  MapMesh mesh;
  const MapShading shading = MapShadingOf(map, look);
  const std::size_t faceCount = map.faces.size();
  int most = 16;
  while (most * 2 <= std::min(maxPageSide, kMapPageSide)) most *= 2;

  // Each face's block, or -1 when it is unlit, -2 when hidden. A block is read once however many
  // faces light from it, and blocks of their own are taken only while their luxels fit in the
  // lighting lump: a compiler writes every face's lightmaps apart, so only a damaged or hostile
  // map asks for more, and its faces beyond that are drawn unlit.
  std::vector<int> blockOf(faceCount, -1);
  std::vector<LightBlock> blocks;
  std::unordered_map<std::int64_t, int> blockAt;
  const std::uint64_t samples = map.lighting.size() / static_cast<std::size_t>(std::max(map.lightBytes, 1));
  std::uint64_t taken = 0;
  const int widest = std::min(kMostMapLuxels, most - 2 * kWhiteSide - 2);
  std::vector<MapFaceStyle> styles(faceCount);
  const MapLiquids liquids = MapLiquidsOf(map);
  for (std::size_t i = 0; i < faceCount; ++i) {
    const BspFace& f = map.faces[i];
    styles[i] = MapFaceStyleOf(map, i, look, &liquids);
    if (styles[i].surface == MapSurface::Hidden) {
      blockOf[i] = -2;
      continue;
    }
    if (f.lightOffset < 0 || f.lightWidth <= 0 || f.lightHeight <= 0) continue;
    if (f.lightWidth > widest || f.lightHeight > widest) {
      ++mesh.oversizedLight;
      continue;
    }
    const auto known = blockAt.find(f.lightOffset);
    if (known != blockAt.end() && blocks[static_cast<std::size_t>(known->second)].w == f.lightWidth &&
        blocks[static_cast<std::size_t>(known->second)].h == f.lightHeight) {
      blockOf[i] = known->second;
      continue;
    }
    const std::uint64_t luxels = static_cast<std::uint64_t>(f.lightWidth) * static_cast<std::uint64_t>(f.lightHeight);
    if (taken + luxels > samples) {
      ++mesh.excessLight;
      continue;
    }
    taken += luxels;
    blockOf[i] = static_cast<int>(blocks.size());
    if (known == blockAt.end()) blockAt.emplace(f.lightOffset, static_cast<int>(blocks.size()));
    blocks.push_back({f.lightOffset, f.lightWidth, f.lightHeight});
  }

  // The tallest first, for the shelves; then the smallest page side that holds them all on one
  // page, up to the largest, where they take as many pages as they need.
  std::vector<int> order(blocks.size());
  std::uint64_t area = 2 * kWhiteSide * kWhiteSide;
  int side = 16;
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    order[b] = static_cast<int>(b);
    area += static_cast<std::uint64_t>(blocks[b].w + 2) * static_cast<std::uint64_t>(blocks[b].h + 2);
    while (side < std::max(blocks[b].w, blocks[b].h) + 2 + 2 * kWhiteSide) side *= 2;
  }
  std::sort(order.begin(), order.end(), [&](int a, int b) {
    const LightBlock &p = blocks[static_cast<std::size_t>(a)], &q = blocks[static_cast<std::size_t>(b)];
    return p.h != q.h ? p.h > q.h : p.w != q.w ? p.w > q.w : a < b;
  });
  while (side < most && static_cast<std::uint64_t>(side) * static_cast<std::uint64_t>(side) < area) side *= 2;
  for (;; side *= 2) {
    CShelves shelves(side);
    for (int b : order) {
      LightBlock& block = blocks[static_cast<std::size_t>(b)];
      if (!shelves.Place(block.w + 2, block.h + 2, block.page, block.x, block.y)) block.page = -1;
    }
    if (shelves.Pages() <= 1 || side >= most) {
      mesh.pageSide = side;
      mesh.pages.resize(static_cast<std::size_t>(std::max(shelves.Pages(), 1)));
      break;
    }
  }
  const int pageSide = mesh.pageSide;
  const float scale = 1.0f / static_cast<float>(pageSide);
  for (MapLightPage& p : mesh.pages) {
    p.rgb.assign(static_cast<std::size_t>(pageSide) * static_cast<std::size_t>(pageSide) * 3, 0);
    for (int y = 0; y < kWhiteSide; ++y)
      std::fill_n(p.rgb.begin() + static_cast<std::ptrdiff_t>(y) * pageSide * 3, kWhiteSide * 3, shading.unlitByte);
  }
  // Style 0 only, with its edge luxels repeated into a one-luxel border so that filtering never
  // reaches a neighbour's.
  const int bytes = map.lightBytes;
  for (const LightBlock& block : blocks) {
    if (block.page < 0) continue;
    const int lw = block.w, lh = block.h;
    const std::uint8_t* src = map.lighting.data() + block.offset;
    MapLightPage& page = mesh.pages[static_cast<std::size_t>(block.page)];
    for (int y = -1; y <= lh; ++y) {
      const int sy = std::clamp(y, 0, lh - 1);
      std::uint8_t* row = page.rgb.data() + (static_cast<std::size_t>(block.y + 1 + y) * pageSide + block.x + 1) * 3;
      for (int x = -1; x <= lw; ++x) {
        const std::uint8_t* s = src + (static_cast<std::size_t>(sy) * lw + std::clamp(x, 0, lw - 1)) * bytes;
        std::uint8_t* d = row + static_cast<std::ptrdiff_t>(x) * 3;
        d[0] = s[0];
        d[1] = bytes >= 3 ? s[1] : s[0];
        d[2] = bytes >= 3 ? s[2] : s[0];
      }
    }
  }
  // Each face's page, or -1 when hidden; then its place in the page, -1 for the white block.
  std::vector<int> pageOf(faceCount, -1);
  std::vector<std::pair<int, int>> cornerOf(faceCount, {-1, -1});
  for (std::size_t i = 0; i < faceCount; ++i) {
    if (blockOf[i] == -2) continue;
    pageOf[i] = 0;
    if (blockOf[i] < 0) continue;
    const LightBlock& block = blocks[static_cast<std::size_t>(blockOf[i])];
    if (block.page < 0) {
      ++mesh.excessLight;
      continue;
    }
    pageOf[i] = block.page;
    cornerOf[i] = {block.x, block.y};
  }
  const int pages = static_cast<int>(mesh.pages.size());

  // Groups by (kind, texture, page), the opaque kinds first and texture -1 first in each: the
  // faces sorted by that key, each group's triangles together.
  auto classOf = [&](std::size_t i) -> std::uint64_t {
    const MapFaceStyle& st = styles[i];
    const std::uint64_t translucent = st.alpha >= 1 ? 0 : st.alpha >= 0.5f ? 1 : 2;
    return translucent * 4 + static_cast<std::uint64_t>(st.surface);
  };
  const std::uint64_t textures = map.textures.size() + 1;
  auto keyOf = [&](std::size_t i) {
    return (classOf(i) * textures + static_cast<std::uint64_t>(map.faces[i].texture + 1)) *
               static_cast<std::uint64_t>(pages) +
           static_cast<std::uint64_t>(pageOf[i]);
  };
  std::vector<std::pair<std::uint64_t, std::uint32_t>> order2;
  order2.reserve(faceCount);
  std::size_t vertexTotal = 0, indexTotal = 0;
  for (std::size_t i = 0; i < faceCount; ++i) {
    if (pageOf[i] < 0) continue;
    order2.emplace_back(keyOf(i), static_cast<std::uint32_t>(i));
    vertexTotal += map.faces[i].count;
    indexTotal += (map.faces[i].count - 2) * 3;
  }
  std::sort(order2.begin(), order2.end());
  mesh.triangles.reserve(indexTotal);
  mesh.vertices.reserve(vertexTotal);
  mesh.outlines.reserve(vertexTotal * 2);

  for (int k = 0; k < 3; ++k) {
    mesh.mins[k] = std::numeric_limits<float>::max();
    mesh.maxs[k] = std::numeric_limits<float>::lowest();
  }
  for (std::size_t n = 0; n < order2.size(); ++n) {
    const std::size_t i = order2[n].second;
    const BspFace& f = map.faces[i];
    if (n == 0 || order2[n].first != order2[n - 1].first) {
      MapDrawGroup g;
      g.texture = f.texture;
      g.page = pageOf[i];
      g.firstIndex = static_cast<std::uint32_t>(mesh.triangles.size());
      g.surface = styles[i].surface;
      g.alpha = styles[i].alpha;
      mesh.groups.push_back(g);
    }
    ++mesh.drawnFaces;
    float w = 64, h = 64;
    if (f.texture >= 0 && static_cast<std::size_t>(f.texture) < sizes.size()) {
      const auto [tw, th] = sizes[static_cast<std::size_t>(f.texture)];
      if (tw > 0 && th > 0) w = static_cast<float>(tw), h = static_cast<float>(th);
    }
    const auto [cx, cy] = cornerOf[i];
    // The white block's centre, or the black one's for a dark face.
    const float corner = (f.dark ? 6 : 2) * scale;
    const auto base = static_cast<std::uint32_t>(mesh.vertices.size());
    for (std::uint32_t k = 0; k < f.count; ++k) {
      const BspVertex& v = map.vertices[f.first + k];
      MapMeshVertex m{v.x, v.y, v.z, v.s / w, v.t / h, corner, 2 * scale};
      if (cx >= 0) {
        m.u = (static_cast<float>(cx + 1) + v.u) * scale;
        m.v = (static_cast<float>(cy + 1) + v.v) * scale;
      }
      mesh.vertices.push_back(m);
      const float p[3] = {v.x, v.y, v.z};
      for (int c = 0; c < 3; ++c) {
        mesh.mins[c] = std::min(mesh.mins[c], p[c]);
        mesh.maxs[c] = std::max(mesh.maxs[c], p[c]);
      }
      mesh.outlines.push_back(base + k);
      mesh.outlines.push_back(base + (k + 1) % f.count);
    }
    for (std::uint32_t k = 1; k + 1 < f.count; ++k) {
      mesh.triangles.push_back(base);
      mesh.triangles.push_back(base + k);
      mesh.triangles.push_back(base + k + 1);
    }
    mesh.groups.back().indexCount = static_cast<std::uint32_t>(mesh.triangles.size()) - mesh.groups.back().firstIndex;
  }
  mesh.empty = mesh.vertices.empty();
  if (mesh.empty)
    for (int k = 0; k < 3; ++k) mesh.mins[k] = mesh.maxs[k] = 0;
  return mesh;
}

float MapTraceToWall(const MapMesh& mesh, const float from[3], const float direction[3], float reach) {
  const auto sub = [](const float* a, const float* b, float* out) {
    for (int k = 0; k < 3; ++k) out[k] = a[k] - b[k];
  };
  const auto cross = [](const float* a, const float* b, float* out) {
    out[0] = a[1] * b[2] - a[2] * b[1], out[1] = a[2] * b[0] - a[0] * b[2], out[2] = a[0] * b[1] - a[1] * b[0];
  };
  const auto dot = [](const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; };
  float nearest = reach;
  for (const MapDrawGroup& g : mesh.groups) {
    if (g.surface != MapSurface::Solid && g.surface != MapSurface::Sky) continue;
    const std::size_t end = std::min<std::size_t>(mesh.triangles.size(), std::size_t{g.firstIndex} + g.indexCount);
    for (std::size_t i = g.firstIndex; i + 2 < end; i += 3) {
      if (mesh.triangles[i] >= mesh.vertices.size() || mesh.triangles[i + 1] >= mesh.vertices.size() ||
          mesh.triangles[i + 2] >= mesh.vertices.size())
        continue;
      const MapMeshVertex &va = mesh.vertices[mesh.triangles[i]], &vb = mesh.vertices[mesh.triangles[i + 1]],
                          &vc = mesh.vertices[mesh.triangles[i + 2]];
      const float a[3] = {va.x, va.y, va.z}, b[3] = {vb.x, vb.y, vb.z}, c[3] = {vc.x, vc.y, vc.z};
      float ab[3], ac[3], front[3];
      sub(b, a, ab);
      sub(c, a, ac);
      cross(ac, ab, front);
      if (dot(front, direction) >= 0) continue;  // met from behind, or along it
      // Where the ray meets the triangle's plane, and whether that point lies inside it.
      float p[3], t[3], q[3];
      cross(direction, ac, p);
      const float det = dot(ab, p);
      if (det == 0 || !std::isfinite(det)) continue;
      sub(from, a, t);
      const float u = dot(t, p) / det;
      if (!(u >= 0 && u <= 1)) continue;
      cross(t, ab, q);
      const float v = dot(direction, q) / det;
      if (!(v >= 0 && u + v <= 1)) continue;
      const float distance = dot(ac, q) / det;
      if (distance >= 0 && distance < nearest) nearest = distance;
    }
  }
  return nearest;
}

}  // namespace tarn
