#include "formats/MapMesh.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "formats/Bsp.h"

namespace tarn {

namespace {

constexpr std::uint32_t kQuake2NoDraw = 0x80;
// Every page starts with a white block the unlit faces sample; four luxels a side so that
// linear filtering at its centre sees nothing else.
constexpr int kWhiteSide = 4;

bool SameName(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  return i == a.size() && !b[i];
}

// Shelves filled left to right in face order, a new page when one is full: linear in faces,
// and real maps' lightmaps are small enough that the waste stays low.
class CPacker {
 public:
  explicit CPacker(int side) : m_side(side) {}
  // Where a block of w × h goes: its page and corner; false when it can never fit.
  bool Place(int w, int h, int& page, int& x, int& y) {
    if (w > m_side || h > m_side) return false;
    if (m_pages == 0) NewPage();
    if (m_x + w > m_side) {
      m_y += m_shelf;
      m_x = 0;
      m_shelf = 0;
    }
    if (m_y + h > m_side) NewPage();
    page = m_pages - 1;
    x = m_x;
    y = m_y;
    m_x += w;
    m_shelf = std::max(m_shelf, h);
    return true;
  }
  int Pages() const { return m_pages; }

 private:
  void NewPage() {
    ++m_pages;
    m_x = kWhiteSide;
    m_y = 0;
    m_shelf = kWhiteSide;
  }
  int m_side;
  int m_pages = 0, m_x = 0, m_y = 0, m_shelf = 0;
};

}  // namespace

bool HiddenMapFace(const BspMap& map, std::size_t face) {
  const BspFace& f = map.faces[face];
  if (map.header.format == BspFormat::Quake2 && (f.flags & kQuake2NoDraw)) return true;
  if (f.texture < 0) return false;
  const std::string& name = map.textures[static_cast<std::size_t>(f.texture)].name;
  return SameName(name, "trigger") || SameName(name, "clip") || SameName(name, "aaatrigger");
}

MapMesh BuildMapMesh(const BspMap& map, std::span<const std::pair<int, int>> sizes, int pageSide) {
  MapMesh mesh;
  mesh.pageSide = pageSide;
  const std::size_t faceCount = map.faces.size();
  // Each face's page, or -1 when hidden; then each face's place in its page.
  std::vector<int> pageOf(faceCount, -1);
  std::vector<std::pair<int, int>> cornerOf(faceCount, {-1, -1});
  CPacker packer(pageSide);
  const float scale = 1.0f / static_cast<float>(pageSide);
  for (std::size_t i = 0; i < faceCount; ++i) {
    const BspFace& f = map.faces[i];
    if (HiddenMapFace(map, i)) continue;
    int page = 0, x = -1, y = -1;
    if (f.lightOffset < 0 || f.lightWidth <= 0 || f.lightHeight <= 0 ||
        !packer.Place(f.lightWidth + 2, f.lightHeight + 2, page, x, y)) {
      // Unlit: the white block of the page being filled.
      page = std::max(packer.Pages() - 1, 0);
      x = y = -1;
    }
    pageOf[i] = page;
    cornerOf[i] = {x, y};
  }
  const int pages = std::max(packer.Pages(), 1);
  mesh.pages.resize(static_cast<std::size_t>(pages));
  for (MapLightPage& p : mesh.pages) {
    p.rgb.assign(static_cast<std::size_t>(pageSide) * static_cast<std::size_t>(pageSide) * 3, 0);
    for (int y = 0; y < kWhiteSide; ++y)
      std::fill_n(p.rgb.begin() + static_cast<std::ptrdiff_t>(y) * pageSide * 3, kWhiteSide * 3, 255);
  }

  // Groups by (texture, page), texture -1 first: a counting sort of the faces.
  const int textures = static_cast<int>(map.textures.size()) + 1;
  auto keyOf = [&](std::size_t i) { return (map.faces[i].texture + 1) * pages + pageOf[i]; };
  std::vector<std::uint32_t> counts(static_cast<std::size_t>(textures) * static_cast<std::size_t>(pages) + 1, 0);
  std::size_t vertexTotal = 0;
  for (std::size_t i = 0; i < faceCount; ++i) {
    if (pageOf[i] < 0) continue;
    counts[static_cast<std::size_t>(keyOf(i)) + 1] += (map.faces[i].count - 2) * 3;
    vertexTotal += map.faces[i].count;
  }
  for (std::size_t k = 1; k < counts.size(); ++k) counts[k] += counts[k - 1];
  mesh.triangles.resize(counts.back());
  mesh.vertices.reserve(vertexTotal);
  mesh.outlines.reserve(vertexTotal * 2);
  std::vector<std::uint32_t> cursor(counts.begin(), counts.end() - 1);

  for (int k = 0; k < 3; ++k) {
    mesh.mins[k] = std::numeric_limits<float>::max();
    mesh.maxs[k] = std::numeric_limits<float>::lowest();
  }
  for (std::size_t i = 0; i < faceCount; ++i) {
    if (pageOf[i] < 0) continue;
    const BspFace& f = map.faces[i];
    ++mesh.drawnFaces;
    float w = 64, h = 64;
    if (f.texture >= 0 && static_cast<std::size_t>(f.texture) < sizes.size()) {
      const auto [tw, th] = sizes[static_cast<std::size_t>(f.texture)];
      if (tw > 0 && th > 0) w = static_cast<float>(tw), h = static_cast<float>(th);
    }
    const auto [cx, cy] = cornerOf[i];
    MapLightPage& page = mesh.pages[static_cast<std::size_t>(pageOf[i])];
    if (cx >= 0) {
      // Style 0 only, with its edge luxels repeated into a one-luxel border so that filtering
      // never reaches a neighbour's.
      const int lw = f.lightWidth, lh = f.lightHeight, bytes = map.lightBytes;
      const std::uint8_t* src = map.lighting.data() + f.lightOffset;
      for (int y = -1; y <= lh; ++y) {
        const int sy = std::clamp(y, 0, lh - 1);
        std::uint8_t* row = page.rgb.data() + (static_cast<std::size_t>(cy + 1 + y) * pageSide + cx + 1) * 3;
        for (int x = -1; x <= lw; ++x) {
          const std::uint8_t* s = src + (static_cast<std::size_t>(sy) * lw + std::clamp(x, 0, lw - 1)) * bytes;
          std::uint8_t* d = row + static_cast<std::ptrdiff_t>(x) * 3;
          d[0] = s[0];
          d[1] = bytes >= 3 ? s[1] : s[0];
          d[2] = bytes >= 3 ? s[2] : s[0];
        }
      }
    }
    const auto base = static_cast<std::uint32_t>(mesh.vertices.size());
    for (std::uint32_t k = 0; k < f.count; ++k) {
      const BspVertex& v = map.vertices[f.first + k];
      MapMeshVertex m{v.x, v.y, v.z, v.s / w, v.t / h, 2 * scale, 2 * scale};
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
    std::uint32_t& at = cursor[static_cast<std::size_t>(keyOf(i))];
    for (std::uint32_t k = 1; k + 1 < f.count; ++k) {
      mesh.triangles[at++] = base;
      mesh.triangles[at++] = base + k;
      mesh.triangles[at++] = base + k + 1;
    }
  }
  for (std::size_t key = 0; key + 1 < counts.size(); ++key) {
    if (counts[key + 1] == counts[key]) continue;
    MapDrawGroup g;
    g.texture = static_cast<int>(key) / pages - 1;
    g.page = static_cast<int>(key) % pages;
    g.firstIndex = counts[key];
    g.indexCount = counts[key + 1] - counts[key];
    mesh.groups.push_back(g);
  }
  mesh.empty = mesh.vertices.empty();
  if (mesh.empty)
    for (int k = 0; k < 3; ++k) mesh.mins[k] = mesh.maxs[k] = 0;
  return mesh;
}

}  // namespace tarn
