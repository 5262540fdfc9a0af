#include "maps/MapRender.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "maps/Bsp.h"
#include "maps/MapEntities.h"

namespace tarn {

namespace {

constexpr float kDegrees = static_cast<float>(M_PI) / 180;

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

// A texture's levels as one pixel samples them: the full size and the smaller ones.
struct Levels {
  std::vector<const MapImage*> level;
  bool glow = false;  // the levels carry glow
};

// A texel's colour (and glow) from level image at texel (x, y), the texture repeating.
inline const std::uint8_t* Texel(const MapImage& image, int x, int y) {
  x %= image.width;
  y %= image.height;
  if (x < 0) x += image.width;
  if (y < 0) y += image.height;
  return image.rgba.data() +
         (static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) + static_cast<std::size_t>(x)) * 4;
}

// Red, green, blue, alpha and the glow's red, green, blue of a texture at s, t (0 to 1 across
// it), as OpenGL samples it: between the four nearest texels of a level (linear) or the nearest
// (nearest), wrapping.
void SampleLevel(const MapImage& image, float s, float t, bool linear, float out[7]) {
  const float fu = s * static_cast<float>(image.width), fv = t * static_cast<float>(image.height);
  const bool glow = !image.glow.empty();
  if (!linear) {
    const int x = Wrap(fu, image.width), y = Wrap(fv, image.height);
    const std::uint8_t* p = Texel(image, x, y);
    for (int k = 0; k < 4; ++k) out[k] = p[k];
    const std::uint8_t* g = glow ? image.glow.data() + (p - image.rgba.data()) : nullptr;
    for (int k = 0; k < 3; ++k) out[4 + k] = g ? g[k] : 0;
    return;
  }
  const float u = fu - 0.5f, v = fv - 0.5f;
  const float uf = std::floor(u), vf = std::floor(v);
  const float ax = u - uf, ay = v - vf;
  // Far outside the texture's repeat the float loses its fraction; any texel will do there.
  const int x0 = Wrap(uf, image.width), y0 = Wrap(vf, image.height);
  const std::uint8_t* p[4] = {Texel(image, x0, y0), Texel(image, x0 + 1, y0), Texel(image, x0, y0 + 1),
                              Texel(image, x0 + 1, y0 + 1)};
  const float w[4] = {(1 - ax) * (1 - ay), ax * (1 - ay), (1 - ax) * ay, ax * ay};
  for (int k = 0; k < 4; ++k) out[k] = p[0][k] * w[0] + p[1][k] * w[1] + p[2][k] * w[2] + p[3][k] * w[3];
  for (int k = 0; k < 3; ++k) {
    out[4 + k] = 0;
    if (glow)
      for (int i = 0; i < 4; ++i)
        out[4 + k] +=
            image.glow[static_cast<std::size_t>(p[i] - image.rgba.data()) + static_cast<std::size_t>(k)] * w[i];
  }
}

// The texture at s, t for a pixel whose level of detail is lod: trilinear between the two
// levels about it (GL_LINEAR_MIPMAP_LINEAR), or the nearest texel of the nearest level
// (GL_NEAREST_MIPMAP_NEAREST).
void SampleTexture(const Levels& levels, float s, float t, float lod, bool linear, float out[7]) {
  const int last = static_cast<int>(levels.level.size()) - 1;
  if (!(lod > 0)) return SampleLevel(*levels.level[0], s, t, linear, out);
  // A face seen exactly edge-on has an infinite level of detail: the smallest level it is.
  lod = std::min(lod, static_cast<float>(last) + 1);
  if (!linear) {
    const int level = lod <= 0.5f ? 0 : std::min(static_cast<int>(std::ceil(lod + 0.5f)) - 1, last);
    return SampleLevel(*levels.level[static_cast<std::size_t>(level)], s, t, false, out);
  }
  const int l0 = std::min(static_cast<int>(lod), last);
  const float f = l0 == last ? 0 : lod - static_cast<float>(l0);
  SampleLevel(*levels.level[static_cast<std::size_t>(l0)], s, t, true, out);
  if (f <= 0) return;
  float next[7];
  SampleLevel(*levels.level[static_cast<std::size_t>(l0 + 1)], s, t, true, next);
  for (int k = 0; k < 7; ++k) out[k] += (next[k] - out[k]) * f;
}

// The camera as the rasterizer needs it for the sky: a pixel's direction in the world.
struct ViewRays {
  float forward[3], right[3], up[3];
  float cx, cy, scale;
  void Direction(float px, float py, float d[3]) const {
    const float x = (px - cx) / scale, y = (cy - py) / scale;
    for (int k = 0; k < 3; ++k) d[k] = forward[k] + right[k] * x + up[k] * y;
  }
};

class CRasterizer {
 public:
  CRasterizer(const MapScene& scene, const ViewRays& rays, int width, int height, std::vector<std::uint8_t>& rgb,
              std::uint64_t limit)
      : m_scene(scene), m_rays(rays), m_width(width), m_height(height), m_rgb(rgb), m_limit(limit) {
    m_depth.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0.0f);
  }

  // One group's textures: its picture's levels, its light page and how its faces are drawn
  // (sky: the layers behind and over).
  void Use(const Levels* levels, const std::uint8_t* page, int pageSide, const MapDrawGroup& group,
           const Levels* skyBack, const Levels* skyFront) {
    m_levels = levels;
    m_page = page;
    m_pageSide = pageSide;
    m_surface = group.surface;
    m_alpha = group.alpha;
    m_skyBack = skyBack;
    m_skyFront = skyFront;
  }

  // Rows begun and pixels tested so far; once a row would take them past the limit, Triangle
  // draws nothing more.
  std::uint64_t Work() const { return m_work; }
  bool Spent() const { return m_spent; }

  void Triangle(const ScreenVertex& a, ScreenVertex b, ScreenVertex c) {
    float area = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
    if (!(std::fabs(area) > 1e-6f)) return;
    // Quake's faces wind clockwise seen from their front, and so do they on the picture (its y
    // down): a face turning the other way shows its back.
    if (area < 0 && m_scene.oneSided) return;
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

    const MapShading& shading = m_scene.shading;
    const MapImage& base = *m_levels->level[0];
    const float tw0 = static_cast<float>(base.width), th0 = static_cast<float>(base.height);
    const float top = std::min({a.y, b.y, c.y}), bottom = std::max({a.y, b.y, c.y});
    const float left = std::min({a.x, b.x, c.x}), right = std::max({a.x, b.x, c.x});
    const int y0 = ClampToInt(std::ceil(top - 0.5f), 0, m_height),
              y1 = ClampToInt(std::floor(bottom - 0.5f), -1, m_height - 1);
    const ScreenVertex* v[3] = {&a, &b, &c};
    const bool fence = m_surface == MapSurface::Fence;
    const bool sky = m_surface == MapSurface::Sky && (m_skyBack || m_scene.images.skyBox.width > 0);
    const bool blend = m_alpha < 1;
    // Quakespasm keeps a fence's texel where its alpha passes 0.666 (glAlphaFunc in gl_rmain.c).
    const float fenceCut = shading.linear ? 0.666f * 255 : 127.5f;
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
        std::uint8_t* o = out + static_cast<std::size_t>(x) * 3;
        if (sky) {
          depth[x] = w;
          Sky(static_cast<float>(x) + 0.5f, py, o);
          continue;
        }
        const float s = sw * z, t = tw * z;
        // The texture's footprint: the derivatives of s and t along x and y, in texels.
        const float lod = MapTextureLod((ds[0] - s * dw[0]) * z * tw0, (dt[0] - t * dw[0]) * z * th0,
                                        (ds[1] - s * dw[1]) * z * tw0, (dt[1] - t * dw[1]) * z * th0);
        float texel[7];
        SampleTexture(*m_levels, s, t, lod, shading.linear, texel);
        if (fence && !(texel[3] > fenceCut)) continue;
        float light[3];
        Light(uw * z, vw * z, light);
        if (!blend) depth[x] = w;
        for (int k = 0; k < 3; ++k) {
          const float shaded = MapShade(shading, texel[k], texel[4 + k], light[k]);
          const float value = blend ? shaded * m_alpha + static_cast<float>(o[k]) * (1 - m_alpha) : shaded;
          o[k] = static_cast<std::uint8_t>(std::lround(value));
        }
      }
    }
  }

 private:
  // The page filtered between its four nearest luxels, as bytes.
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
    for (int k = 0; k < 3; ++k) {
      const float top = p00[k] + (p10[k] - p00[k]) * ax, bottom = p01[k] + (p11[k] - p01[k]) * ax;
      light[k] = top + (bottom - top) * ay;
    }
  }

  // The sky where the pixel looks: Quake II's box, or Quake's layer over the one behind, by its
  // alpha.
  void Sky(float px, float py, std::uint8_t* o) const {
    float d[3], s, t;
    m_rays.Direction(px, py, d);
    if (!m_skyBack) return BoxSky(d, o);
    MapSkyTexel(d, s, t);
    float back[7], front[7];
    SampleTexture(*m_skyBack, s, t, 0, m_scene.shading.linear, back);
    SampleTexture(*m_skyFront, s, t, 0, m_scene.shading.linear, front);
    const float a = front[3] / 255;
    for (int k = 0; k < 3; ++k)
      o[k] = static_cast<std::uint8_t>(std::lround(std::min(back[k] * (1 - a) + front[k] * a, 255.0f)));
  }

  // Quake II's sky box along d, its full size filtered as the look filters (the engine makes no
  // smaller levels of it: gl1_image.c uploads it_sky pictures without mipmaps).
  void BoxSky(const float d[3], std::uint8_t* o) const {
    const MapImages& images = m_scene.images;
    int side = 0;
    float s, t, x, y;
    MapSkyBoxTexel(d, side, s, t);
    MapSkyBoxAtlasTexel(side, s, t, images.skyBoxSide, x, y);
    float texel[7];
    SampleLevel(images.skyBox, x / static_cast<float>(images.skyBox.width),
                y / static_cast<float>(images.skyBox.height), m_scene.shading.linear, texel);
    for (int k = 0; k < 3; ++k) o[k] = static_cast<std::uint8_t>(std::lround(std::clamp(texel[k], 0.0f, 255.0f)));
  }

  const MapScene& m_scene;
  const ViewRays& m_rays;
  int m_width, m_height;
  std::vector<std::uint8_t>& m_rgb;
  std::vector<float> m_depth;  // the reciprocal of the distance; 0 where nothing is drawn yet
  const Levels* m_levels = nullptr;
  const Levels* m_skyBack = nullptr;
  const Levels* m_skyFront = nullptr;
  const std::uint8_t* m_page = nullptr;
  int m_pageSide = 0;
  MapSurface m_surface = MapSurface::Solid;
  float m_alpha = 1;
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

void MapCameraAxes(const MapCamera& camera, float forward[3], float right[3], float up[3]) {
  const float yaw = camera.yaw * kDegrees, pitch = camera.pitch * kDegrees, roll = camera.roll * kDegrees;
  const float cy = std::cos(yaw), sy = std::sin(yaw), cp = std::cos(pitch), sp = std::sin(pitch);
  const float cr = std::cos(roll), sr = std::sin(roll);
  forward[0] = cp * cy, forward[1] = cp * sy, forward[2] = -sp;
  right[0] = -sr * sp * cy + cr * sy, right[1] = -sr * sp * sy - cr * cy, right[2] = -sr * cp;
  up[0] = cr * sp * cy + sr * sy, up[1] = cr * sp * sy - sr * cy, up[2] = cr * cp;
}

MapScene BuildMapScene(const BspMap& map, const MapFileLookup& lookup, const MapLook& look) {
  MapScene scene;
  scene.images = DecodeMapImages(map, lookup, look);
  scene.mesh = BuildMapMesh(map, MapTextureSizes(map, scene.images), kMapPageSide, look);
  scene.shading = MapShadingOf(map, look);
  scene.oneSided = MapDrawsOneSided(map);
  // Only the pictures some face is drawn with get their smaller levels.
  std::vector<bool> used(scene.images.images.size(), false);
  for (const MapDrawGroup& g : scene.mesh.groups) {
    used[scene.images.ImageOf(g.texture)] = true;
    if (g.surface == MapSurface::Sky && g.texture >= 0 &&
        static_cast<std::size_t>(g.texture) < scene.images.skyLayers.size())
      for (int layer : {scene.images.skyLayers[static_cast<std::size_t>(g.texture)].first,
                        scene.images.skyLayers[static_cast<std::size_t>(g.texture)].second})
        if (layer >= 0) used[static_cast<std::size_t>(layer)] = true;
  }
  scene.mips.resize(scene.images.images.size());
  for (std::size_t i = 0; i < used.size(); ++i)
    if (used[i]) scene.mips[i] = MapMipLevels(scene.images.images[i]);
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
  rgb.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
  for (std::size_t i = 0; i < rgb.size(); i += 3)
    std::copy_n(scene.shading.background, 3, rgb.begin() + static_cast<std::ptrdiff_t>(i));
  const MapMesh& mesh = scene.mesh;
  if (mesh.empty || scene.images.images.empty()) return true;

  const float fov = std::clamp(std::isfinite(camera.fieldOfView) ? camera.fieldOfView : kMapFieldOfView, 1.0f, 170.0f);
  MapCamera aim = camera;
  aim.pitch = std::clamp(std::isfinite(camera.pitch) ? camera.pitch : 0.0f, -89.0f, 89.0f);
  if (!std::isfinite(aim.yaw)) aim.yaw = 0;
  if (!std::isfinite(aim.roll)) aim.roll = 0;
  ViewRays rays;
  float* const forward = rays.forward;
  float* const right = rays.right;
  float* const up = rays.up;
  MapCameraAxes(aim, forward, right, up);
  const float ky = std::tan(fov * kDegrees / 2);
  const float scale = static_cast<float>(height) / 2 / ky;  // pixels per unit at distance 1
  const float kx = static_cast<float>(width) / 2 / scale;
  const float cx = static_cast<float>(width) / 2, cyScreen = static_cast<float>(height) / 2;
  rays.cx = cx, rays.cy = cyScreen, rays.scale = scale;

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
  CRasterizer raster(scene, rays, width, height, rgb, limit);
  auto levelsOf = [&](std::size_t image) {
    Levels l;
    l.level.push_back(&scene.images.images[image]);
    if (image < scene.mips.size())
      for (const MapImage& m : scene.mips[image]) l.level.push_back(&m);
    return l;
  };
  for (const MapDrawGroup& g : mesh.groups) {
    if (raster.Spent()) break;
    const Levels levels = levelsOf(scene.images.ImageOf(g.texture));
    Levels back, front;
    bool sky = false;
    if (g.surface == MapSurface::Sky && g.texture >= 0 &&
        static_cast<std::size_t>(g.texture) < scene.images.skyLayers.size()) {
      const auto [b, f] = scene.images.skyLayers[static_cast<std::size_t>(g.texture)];
      if (b >= 0 && f >= 0) {
        back = levelsOf(static_cast<std::size_t>(b));
        front = levelsOf(static_cast<std::size_t>(f));
        sky = true;
      }
    }
    raster.Use(&levels, mesh.pages[static_cast<std::size_t>(g.page)].rgb.data(), mesh.pageSide, g,
               sky ? &back : nullptr, sky ? &front : nullptr);
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
