#include "maps/MapLook.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "maps/Bsp.h"
#include "maps/MapEntities.h"
#include "pictures/Palette.h"

namespace tarn {

namespace {

// Quake II's surface flags (qcommon/qfiles.h).
constexpr std::uint32_t kSurfSky = 0x4, kSurfWarp = 0x8, kSurfTrans33 = 0x10, kSurfTrans66 = 0x20;
constexpr std::uint32_t kSurfNoDraw = 0x80;

bool SameName(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  return i == a.size() && !b[i];
}

bool StartsWithNoCase(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; b[i]; ++i)
    if (i >= a.size() || std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  return true;
}

}  // namespace

MapLiquids MapLiquidsOf(const BspMap& map) {
  MapLiquids liquids;
  std::vector<MapEntity> entities;
  ParseEntities(map.entities, entities, nullptr);
  if (entities.empty()) return liquids;
  for (const auto& [key, value] : entities.front().keys) {
    const std::string k = !key.empty() && key.front() == '_' ? key.substr(1) : key;
    float* into = k == "wateralpha"   ? &liquids.water
                  : k == "lavaalpha"  ? &liquids.lava
                  : k == "slimealpha" ? &liquids.slime
                  : k == "telealpha"  ? &liquids.tele
                                      : nullptr;
    if (!into) continue;
    // atof's reading: a number, or 0.
    char* end = nullptr;
    const float v = std::strtof(value.c_str(), &end);
    *into = std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f;
  }
  return liquids;
}

MapFaceStyle MapFaceStyleOf(const BspMap& map, std::size_t face, const MapLook& look, const MapLiquids* liquids) {
  MapFaceStyle style;
  const BspFace& f = map.faces[face];
  if (look.worldOnly && !map.models.empty()) {
    const BspModel& world = map.models.front();
    if (f.index < static_cast<std::int64_t>(world.firstFace) ||
        f.index >= static_cast<std::int64_t>(world.firstFace) + world.faceCount)
      return {MapSurface::Hidden, 1};
  }
  const std::string* name = f.texture >= 0 && static_cast<std::size_t>(f.texture) < map.textures.size()
                                ? &map.textures[f.texture].name
                                : nullptr;
  if (BspIsQuake2(map.header.format)) {
    // Sky first: ref_gl gl_rsurf.c draws SURF_SKY faces as the sky whatever else they say, and
    // compilers mark them SURF_NODRAW too.
    if (f.flags & kSurfSky) return {MapSurface::Sky, 1};
    if (f.flags & kSurfNoDraw) return {MapSurface::Hidden, 1};
    if (f.flags & kSurfWarp) style.surface = MapSurface::Liquid;
    // ref_gl gl_rsurf.c R_DrawAlphaSurfaces: TRANS33 at 0.33, TRANS66 at 0.66.
    if (f.flags & kSurfTrans33) style.alpha = 0.33f;
    else if (f.flags & kSurfTrans66) style.alpha = 0.66f;
    return style;
  }
  if (!name) return style;
  if (SameName(*name, "trigger") || SameName(*name, "clip") || SameName(*name, "aaatrigger"))
    return {MapSurface::Hidden, 1};
  // The engines' names for special textures (gl_model.c Mod_LoadTextures: "sky", "*").
  if (StartsWithNoCase(*name, "sky")) style.surface = MapSurface::Sky;
  else if (!name->empty() && name->front() == '*') {
    style.surface = MapSurface::Liquid;
    if (liquids) {
      // Quakespasm gl_model.c Mod_LoadTextures names the kinds by these beginnings.
      const float own = StartsWithNoCase(*name, "*lava")    ? liquids->lava
                        : StartsWithNoCase(*name, "*slime") ? liquids->slime
                        : StartsWithNoCase(*name, "*tele")  ? liquids->tele
                                                            : liquids->water;
      style.alpha = own > 0 ? own : liquids->water;
    }
  } else if (!name->empty() && name->front() == '{') style.surface = MapSurface::Fence;
  return style;
}

bool MapDrawsOneSided(const BspMap& map) {
  std::vector<MapEntity> entities;
  ParseEntities(map.entities, entities, nullptr);
  return FindStart(map, entities).from != "centre";
}

MapShading MapShadingOf(const BspMap& map, const MapLook& look) {
  MapShading s;
  // Quake's light is twice as bright as its bytes say (128 is the texture as drawn);
  // Half-Life's and Quake II's are taken as they are, and a map without lighting is drawn
  // fullbright.
  const BspFormat f = map.header.format;
  const bool quake = f != BspFormat::HalfLife && !BspIsQuake2(f);
  s.lightScale = map.lighting.empty() || !quake ? 1.0f : 2.0f;
  s.clampLightFirst = !look.engine;
  s.linear = look.engine;
  s.glow = look.engine && quake;
  s.unlitByte = static_cast<std::uint8_t>(std::lround(255.0f / s.lightScale));
  if (look.engine && quake && !map.faces.empty()) {
    Palette palette;
    LoadPalette(kQuakePaletteId, palette);
    s.background[0] = palette.colors[2].r, s.background[1] = palette.colors[2].g, s.background[2] = palette.colors[2].b;
  }
  return s;
}

float MapTextureLod(float dsdx, float dtdx, float dsdy, float dtdy) {
  const float rho2 = std::max(dsdx * dsdx + dtdx * dtdx, dsdy * dsdy + dtdy * dtdy);
  if (!(rho2 > 1)) return 0;  // NaN too
  return 0.5f * std::log2(rho2);
}

void MapSkyTexel(const float direction[3], float& s, float& t) {
  const float d[3] = {direction[0], direction[1], direction[2] * 3};
  const float length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  const float scale = length > 0 ? 6 * 63 / length : 0;
  s = d[0] * scale / 128;
  t = d[1] * scale / 128;
}

MapSkyBox MapSkyBoxOf(const BspMap& map) {
  MapSkyBox box;
  if (!BspIsQuake2(map.header.format)) return box;
  box.name = "unit1_";
  std::vector<MapEntity> entities;
  ParseEntities(map.entities, entities, nullptr);
  if (entities.empty()) return box;
  const MapEntity& world = entities.front();
  if (const std::string* sky = world.Find("sky"); sky && !sky->empty()) box.name = *sky;
  // A name that would leave env/ (or the game's folder) names no sky the engine finds.
  if (box.name.size() > 60 || box.name.find("..") != std::string::npos ||
      box.name.find_first_of(":\\\0", 0, 3) != std::string::npos || box.name.front() == '/')
    box.name.clear();
  const auto number = [](const std::string& text) {
    const float v = std::strtof(text.c_str(), nullptr);
    return std::isfinite(v) ? v : 0.0f;
  };
  if (const std::string* rotate = world.Find("skyrotate")) box.rotate = number(*rotate);
  if (const std::string* axis = world.Find("skyaxis")) {
    // sscanf's "%f %f %f": the numbers there are, the rest 0.
    const char* at = axis->c_str();
    for (float& a : box.axis) {
      char* end = nullptr;
      const float v = std::strtof(at, &end);
      if (end == at) break;
      a = std::isfinite(v) ? v : 0.0f;
      at = end;
    }
  }
  return box;
}

void MapSkyBoxTexel(const float direction[3], int& side, float& s, float& t) {
  const float x = direction[0], y = direction[1], z = direction[2];
  const float ax = std::fabs(x), ay = std::fabs(y), az = std::fabs(z);
  // The engine's axis: x where it is strictly the largest, then y, else z (so a tie between x
  // and y falls to z, as the engine's does).
  // Each picture's s and t are two coordinates over the third (vec_to_st); the axes take the
  // pictures in skytexorder {0, 2, 1, 3, 4, 5}: +x rt, -x lf, +y bk, -y ft, +z up, -z dn.
  float u, v, d;
  if (ax > ay && ax > az) {
    side = x < 0 ? 2 : 0;
    d = ax, u = x < 0 ? y : -y, v = z;
  } else if (ay > az && ay > ax) {
    side = y < 0 ? 3 : 1;
    d = ay, u = y < 0 ? -x : x, v = z;
  } else {
    side = z < 0 ? 5 : 4;
    d = az, u = -y, v = z < 0 ? x : -x;
  }
  if (!(d > 0)) {
    s = t = 0.5f;
    return;
  }
  s = (u / d + 1) / 2;
  t = 1 - (v / d + 1) / 2;
}

float MapVerticalFov(float fov, int width, int height) {
  (void)width, (void)height;  // adapted: the same vertical angle whatever the shape
  constexpr float kDegrees = static_cast<float>(M_PI) / 180;
  const float f = std::clamp(std::isfinite(fov) ? fov : 90.0f, 1.0f, 179.0f);
  return 2 * std::atan(0.75f * std::tan(f * kDegrees / 2)) / kDegrees;
}

}  // namespace tarn
