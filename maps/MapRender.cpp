#include "maps/MapRender.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "maps/Bsp.h"
#include "maps/MapEntities.h"

namespace tarn {

namespace {

constexpr float kDegrees = static_cast<float>(M_PI) / 180;
constexpr int kLevels = 4;  // the full size and three smaller, as a mip texture holds

// A vertex in the camera's frame: x to the right, y up, z the distance ahead.
struct ViewVertex {
  float x, y, z;
  float s, t, u, v;
};

// A vertex on the picture: its pixel position, and what is interpolated along the screen (the
// reciprocal of its distance and the coordinates divided by the distance).
struct ScreenVertex {
  float x, y, w, sw, tw, uw, vw;
};

// Half the size of each texel of a level from the one before, averaging the texels that are
// not see-through (so that a "{" texture's hidden colour does not bleed into its edges).
MapImage HalfSize(const MapImage& from) {
  MapImage to;
  to.width = std::max(1, from.width / 2);
  to.height = std::max(1, from.height / 2);
  to.alphaTest = from.alphaTest;
  to.rgba.resize(static_cast<std::size_t>(to.width) * static_cast<std::size_t>(to.height) * 4);
  for (int y = 0; y < to.height; ++y)
    for (int x = 0; x < to.width; ++x) {
      unsigned sum[3] = {0, 0, 0}, opaque = 0, all[3] = {0, 0, 0};
      for (int k = 0; k < 4; ++k) {
        const int sx = std::min(2 * x + (k & 1), from.width - 1), sy = std::min(2 * y + (k >> 1), from.height - 1);
        const std::uint8_t* p = from.rgba.data() + (static_cast<std::size_t>(sy) * from.width + sx) * 4;
        for (int c = 0; c < 3; ++c) all[c] += p[c];
        if (p[3] < 128) continue;
        ++opaque;
        for (int c = 0; c < 3; ++c) sum[c] += p[c];
      }
      std::uint8_t* q = to.rgba.data() + (static_cast<std::size_t>(y) * to.width + x) * 4;
      for (int c = 0; c < 3; ++c) q[c] = static_cast<std::uint8_t>(opaque ? sum[c] / opaque : all[c] / 4);
      q[3] = opaque >= 2 ? 255 : 0;
    }
  return to;
}

// Sutherland-Hodgman against a plane a·x + b·y + c·z + d >= 0 of the camera's frame.
int ClipPolygon(const ViewVertex* in, int n, ViewVertex* out, float a, float b, float c, float d) {
  int m = 0;
  for (int i = 0; i < n; ++i) {
    const ViewVertex& p = in[i];
    const ViewVertex& q = in[(i + 1) % n];
    const float dp = a * p.x + b * p.y + c * p.z + d, dq = a * q.x + b * q.y + c * q.z + d;
    if (dp >= 0) out[m++] = p;
    if ((dp >= 0) != (dq >= 0)) {
      const float f = dp / (dp - dq);
      out[m++] = {p.x + (q.x - p.x) * f, p.y + (q.y - p.y) * f, p.z + (q.z - p.z) * f, p.s + (q.s - p.s) * f,
                  p.t + (q.t - p.t) * f, p.u + (q.u - p.u) * f, p.v + (q.v - p.v) * f};
    }
  }
  return m;
}

// A pixel index from a coordinate that may be anything a damaged map gives (NaN included).
int ClampToInt(float f, int lo, int hi) {
  if (!(f >= static_cast<float>(lo))) return lo;
  if (!(f <= static_cast<float>(hi))) return hi;
  return static_cast<int>(f);
}

// A texel index along a side of size n, the texture repeating.
int Wrap(float f, int n) {
  f -= std::floor(f / static_cast<float>(n)) * static_cast<float>(n);
  const int i = f >= 0 && f < static_cast<float>(n) ? static_cast<int>(f) : 0;
  return std::min(i, n - 1);
}

class CRasterizer {
 public:
  CRasterizer(const MapScene& scene, int width, int height, std::vector<std::uint8_t>& rgb, std::uint64_t limit)
      : m_scene(scene), m_width(width), m_height(height), m_rgb(rgb), m_limit(limit) {
    m_depth.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0.0f);
  }

  // One group's textures: its picture's levels and its light page.
  void Use(const MapImage* const* levels, const std::uint8_t* page, int pageSide) {
    m_levels = levels;
    m_page = page;
    m_pageSide = pageSide;
  }

  // Rows begun and pixels tested so far; once a row would take them past the limit, Triangle
  // draws nothing more.
  std::uint64_t Work() const { return m_work; }
  bool Spent() const { return m_spent; }

  void Triangle(const ScreenVertex& a, ScreenVertex b, ScreenVertex c) {
    float area = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
    if (!(std::fabs(area) > 1e-6f)) return;
    if (area < 0) std::swap(b, c), area = -area;
    const float inv = 1.0f / area;
    const float e1x = b.x - a.x, e1y = b.y - a.y, e2x = c.x - a.x, e2y = c.y - a.y;
    auto gradient = [&](float va, float vb, float vc, float& ddx, float& ddy) {
      ddx = ((vb - va) * e2y - (vc - va) * e1y) * inv;
      ddy = ((vc - va) * e1x - (vb - va) * e2x) * inv;
    };
    float dw[2], ds[2], dt[2], du[2], dv[2];
    gradient(a.w, b.w, c.w, dw[0], dw[1]);
    gradient(a.sw, b.sw, c.sw, ds[0], ds[1]);
    gradient(a.tw, b.tw, c.tw, dt[0], dt[1]);
    gradient(a.uw, b.uw, c.uw, du[0], du[1]);
    gradient(a.vw, b.vw, c.vw, dv[0], dv[1]);

    // The level of detail: a texel of the full size covers K·z³ pixels' worth of the triangle
    // (the projection's area scale goes with the cube of the distance), K from its whole area.
    const MapImage& base = *m_levels[0];
    float zFrom[kLevels] = {0, std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::infinity()};
    {
      const float sa = a.sw / a.w * base.width, ta = a.tw / a.w * base.height;
      const float sb = b.sw / b.w * base.width, tb = b.tw / b.w * base.height;
      const float sc = c.sw / c.w * base.width, tc = c.tw / c.w * base.height;
      const float texels = std::fabs((sb - sa) * (tc - ta) - (sc - sa) * (tb - ta));
      const float za = 1 / a.w, zb = 1 / b.w, zc = 1 / c.w;
      const float k = texels / (area * (za * za * za + zb * zb * zb + zc * zc * zc) / 3);
      if (k > 0 && std::isfinite(k))
        for (int level = 1; level < kLevels; ++level)
          // Level L from where a pixel spans 2^(L - ½) texels a side.
          zFrom[level] = std::cbrt(std::pow(4.0f, static_cast<float>(level) - 0.5f) / k);
    }

    const float top = std::min({a.y, b.y, c.y}), bottom = std::max({a.y, b.y, c.y});
    const float left = std::min({a.x, b.x, c.x}), right = std::max({a.x, b.x, c.x});
    const int y0 = ClampToInt(std::ceil(top - 0.5f), 0, m_height),
              y1 = ClampToInt(std::floor(bottom - 0.5f), -1, m_height - 1);
    const ScreenVertex* v[3] = {&a, &b, &c};
    const bool alphaTest = base.alphaTest;
    for (int y = y0; y <= y1; ++y) {
      // Counted before the row is drawn, so that no row takes the work past the limit.
      if (m_work >= m_limit) {
        m_spent = true;
        return;
      }
      ++m_work;
      const float py = static_cast<float>(y) + 0.5f;
      // Where the row is inside all three edges.
      float lo = left, hi = right;
      bool empty = false;
      for (int k = 0; k < 3 && !empty; ++k) {
        const ScreenVertex& p = *v[k];
        const ScreenVertex& q = *v[(k + 1) % 3];
        const float ea = -(q.y - p.y), eb = q.x - p.x;  // inside: ea·(x - p.x) + eb·(y - p.y) >= 0
        const float rest = eb * (py - p.y);
        if (ea > 0) lo = std::max(lo, p.x - rest / ea);
        else if (ea < 0) hi = std::min(hi, p.x - rest / ea);
        else if (rest < 0) empty = true;
      }
      if (empty) continue;
      const int x0 = ClampToInt(std::ceil(lo - 0.5f), 0, m_width),
                x1 = ClampToInt(std::floor(hi - 0.5f), -1, m_width - 1);
      if (x0 > x1) continue;
      const auto pixels = static_cast<std::uint64_t>(x1 - x0 + 1);
      if (pixels > m_limit - m_work) {
        m_spent = true;
        return;
      }
      m_work += pixels;
      const float fx = static_cast<float>(x0) + 0.5f - a.x, fy = py - a.y;
      float w = a.w + dw[0] * fx + dw[1] * fy, sw = a.sw + ds[0] * fx + ds[1] * fy;
      float tw = a.tw + dt[0] * fx + dt[1] * fy, uw = a.uw + du[0] * fx + du[1] * fy;
      float vw = a.vw + dv[0] * fx + dv[1] * fy;
      float* depth = m_depth.data() + static_cast<std::size_t>(y) * m_width;
      std::uint8_t* out = m_rgb.data() + static_cast<std::size_t>(y) * m_width * 3;
      for (int x = x0; x <= x1; ++x, w += dw[0], sw += ds[0], tw += dt[0], uw += du[0], vw += dv[0]) {
        if (!(w > depth[x])) continue;
        const float z = 1.0f / w;
        const int level = (z >= zFrom[1]) + (z >= zFrom[2]) + (z >= zFrom[3]);
        const MapImage& image = *m_levels[level];
        const std::uint8_t* texel =
            image.rgba.data() +
            (static_cast<std::size_t>(Wrap(tw * z * static_cast<float>(image.height), image.height)) *
                 static_cast<std::size_t>(image.width) +
             static_cast<std::size_t>(Wrap(sw * z * static_cast<float>(image.width), image.width))) *
                4;
        if (alphaTest && texel[3] < 128) continue;
        depth[x] = w;
        float light[3];
        Light(uw * z, vw * z, light);
        std::uint8_t* o = out + static_cast<std::size_t>(x) * 3;
        for (int k = 0; k < 3; ++k) o[k] = static_cast<std::uint8_t>(static_cast<float>(texel[k]) * light[k]);
      }
    }
  }

 private:
  // The page filtered between its four nearest luxels, scaled and clamped to 1, as the window's.
  void Light(float u, float v, float light[3]) const {
    const int side = m_pageSide;
    float fu = u * static_cast<float>(side) - 0.5f, fv = v * static_cast<float>(side) - 0.5f;
    if (!(fu >= 0)) fu = 0;
    if (!(fv >= 0)) fv = 0;
    const float last = static_cast<float>(side - 1);
    fu = std::min(fu, last), fv = std::min(fv, last);
    const int x0 = static_cast<int>(fu), y0 = static_cast<int>(fv);
    const int x1 = std::min(x0 + 1, side - 1), y1 = std::min(y0 + 1, side - 1);
    const float ax = fu - static_cast<float>(x0), ay = fv - static_cast<float>(y0);
    const std::uint8_t* p00 = m_page + (static_cast<std::size_t>(y0) * side + x0) * 3;
    const std::uint8_t* p10 = m_page + (static_cast<std::size_t>(y0) * side + x1) * 3;
    const std::uint8_t* p01 = m_page + (static_cast<std::size_t>(y1) * side + x0) * 3;
    const std::uint8_t* p11 = m_page + (static_cast<std::size_t>(y1) * side + x1) * 3;
    const float scale = m_scene.lightScale / 255.0f;
    for (int k = 0; k < 3; ++k) {
      const float top = p00[k] + (p10[k] - p00[k]) * ax, bottom = p01[k] + (p11[k] - p01[k]) * ax;
      light[k] = std::min((top + (bottom - top) * ay) * scale, 1.0f);
    }
  }

  const MapScene& m_scene;
  int m_width, m_height;
  std::vector<std::uint8_t>& m_rgb;
  std::vector<float> m_depth;  // the reciprocal of the distance; 0 where nothing is drawn yet
  const MapImage* const* m_levels = nullptr;
  const std::uint8_t* m_page = nullptr;
  int m_pageSide = 0;
  std::uint64_t m_limit, m_work = 0;
  bool m_spent = false;
};

}  // namespace

MapCamera MapStartCamera(const BspMap& map) {
  std::vector<MapEntity> entities;
  ParseEntities(map.entities, entities, nullptr);
  const MapStart start = FindStart(map, entities);
  MapCamera camera;
  for (int k = 0; k < 3; ++k) camera.position[k] = start.origin[k];
  if (start.from != "centre") camera.position[2] += kMapEyeHeight;
  camera.yaw = start.yaw;
  return camera;
}

MapScene BuildMapScene(const BspMap& map, const MapFileLookup& lookup) {
  MapScene scene;
  scene.images = DecodeMapImages(map, lookup);
  scene.mesh = BuildMapMesh(map, MapTextureSizes(map, scene.images));
  scene.lightScale = MapLightScale(map);
  // Only the pictures some face is drawn with get their smaller levels.
  std::vector<bool> used(scene.images.images.size(), false);
  for (const MapDrawGroup& g : scene.mesh.groups) used[scene.images.ImageOf(g.texture)] = true;
  scene.mips.resize(scene.images.images.size());
  for (std::size_t i = 0; i < used.size(); ++i) {
    if (!used[i]) continue;
    const MapImage* from = &scene.images.images[i];
    for (int level = 1; level < kLevels; ++level) from = &scene.mips[i].emplace_back(HalfSize(*from));
  }
  return scene;
}

bool RenderMap(const MapScene& scene, const MapCamera& camera, int width, int height, std::vector<std::uint8_t>& rgb,
               MapRenderWork* work) {
  rgb.clear();
  MapRenderWork unused;
  if (!work) work = &unused;
  work->done = 0;
  work->cutShort = false;
  if (width <= 0 || height <= 0 || width > kMapRenderMaxSide || height > kMapRenderMaxSide) return false;
  rgb.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, 0);
  const MapMesh& mesh = scene.mesh;
  if (mesh.empty || scene.images.images.empty()) return true;

  const float fov = std::clamp(std::isfinite(camera.fieldOfView) ? camera.fieldOfView : kMapFieldOfView, 1.0f, 170.0f);
  const float yaw = camera.yaw * kDegrees, pitch = std::clamp(camera.pitch, -89.0f, 89.0f) * kDegrees;
  const float cy = std::cos(yaw), sy = std::sin(yaw), cp = std::cos(pitch), sp = std::sin(pitch);
  const float forward[3] = {cp * cy, cp * sy, -sp}, right[3] = {sy, -cy, 0}, up[3] = {sp * cy, sp * sy, cp};
  const float ky = std::tan(fov * kDegrees / 2);
  const float scale = static_cast<float>(height) / 2 / ky;  // pixels per unit at distance 1
  const float kx = static_cast<float>(width) / 2 / scale;
  const float cx = static_cast<float>(width) / 2, cyScreen = static_cast<float>(height) / 2;

  // Every vertex into the camera's frame once; a non-finite one (a damaged map, or a camera
  // nowhere) keeps its triangles out.
  std::vector<ViewVertex> view(mesh.vertices.size());
  std::vector<bool> finite(mesh.vertices.size());
  for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
    const MapMeshVertex& m = mesh.vertices[i];
    const float d[3] = {m.x - camera.position[0], m.y - camera.position[1], m.z - camera.position[2]};
    ViewVertex& v = view[i];
    v.x = d[0] * right[0] + d[1] * right[1] + d[2] * right[2];
    v.y = d[0] * up[0] + d[1] * up[1] + d[2] * up[2];
    v.z = d[0] * forward[0] + d[1] * forward[1] + d[2] * forward[2];
    v.s = m.s, v.t = m.t, v.u = m.u, v.v = m.v;
    finite[i] = std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.s) &&
                std::isfinite(v.t) && std::isfinite(v.u) && std::isfinite(v.v);
  }

  // The near plane and the four sides, a little outside the picture so that rounding never
  // leaves its edge pixels out.
  const float gx = kx * 1.01f, gy = ky * 1.01f;
  const float planes[5][4] = {{0, 0, 1, -kMapNearPlane}, {1, 0, gx, 0}, {-1, 0, gx, 0}, {0, 1, gy, 0}, {0, -1, gy, 0}};
  const std::uint64_t limit =
      work->limit ? work->limit
                  : kMapRenderWorkPerPixel * static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  CRasterizer raster(scene, width, height, rgb, limit);
  for (const MapDrawGroup& g : mesh.groups) {
    if (raster.Spent()) break;
    const std::size_t image = scene.images.ImageOf(g.texture);
    const MapImage* levels[kLevels] = {&scene.images.images[image]};
    for (int level = 1; level < kLevels; ++level) {
      const std::vector<MapImage>& mips = scene.mips[image];
      levels[level] = static_cast<std::size_t>(level) <= mips.size() ? &mips[static_cast<std::size_t>(level) - 1]
                                                                     : levels[level - 1];
    }
    raster.Use(levels, mesh.pages[static_cast<std::size_t>(g.page)].rgb.data(), mesh.pageSide);
    const std::size_t end = std::min<std::size_t>(std::size_t{g.firstIndex} + g.indexCount, mesh.triangles.size());
    for (std::size_t t = g.firstIndex; t + 3 <= end; t += 3) {
      const std::uint32_t ia = mesh.triangles[t], ib = mesh.triangles[t + 1], ic = mesh.triangles[t + 2];
      if (!finite[ia] || !finite[ib] || !finite[ic]) continue;
      ViewVertex polygon[2][16] = {{view[ia], view[ib], view[ic]}};
      int n = 3, from = 0;
      bool out = false;
      for (const auto& p : planes) {
        int inside = 0;
        for (int k = 0; k < n; ++k) {
          const ViewVertex& q = polygon[from][k];
          inside += p[0] * q.x + p[1] * q.y + p[2] * q.z + p[3] >= 0;
        }
        if (inside == n) continue;
        if (inside == 0) {
          out = true;
          break;
        }
        n = ClipPolygon(polygon[from], n, polygon[1 - from], p[0], p[1], p[2], p[3]);
        from = 1 - from;
        if (n < 3) {
          out = true;
          break;
        }
      }
      if (out) continue;
      ScreenVertex screen[16];
      for (int k = 0; k < n; ++k) {
        const ViewVertex& q = polygon[from][k];
        const float w = 1.0f / q.z;
        screen[k] = {cx + q.x * w * scale, cyScreen - q.y * w * scale, w, q.s * w, q.t * w, q.u * w, q.v * w};
      }
      for (int k = 1; k + 1 < n; ++k) raster.Triangle(screen[0], screen[k], screen[k + 1]);
      if (raster.Spent()) break;
    }
  }
  work->done = raster.Work();
  work->cutShort = raster.Spent();
  return true;
}

}  // namespace tarn
