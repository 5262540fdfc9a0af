// The rules a map is drawn by, in one place for the software renderer (MapRender.h: tarn-pak's
// pictures, thumbnails, previews) and the OpenGL window (viewers/maps/MapView): which faces are
// drawn and from which side, how each kind of surface looks (walls, "{" fences, liquids, sky,
// Quake II's translucent surfaces), which texture level a pixel takes and how it is filtered,
// and how the light meets the texture.
//
// The engine look is Quakespasm's out of the box (Quake/gl_rmain.c, gl_texmgr.c, r_brush.c):
// gl_overbright 1, so a lightmap byte of 128 draws the texture as it is and 255 twice as
// bright, the product clamped; gl_texturemode GL_LINEAR_MIPMAP_LINEAR, levels made from the full
// size by averaging; gl_fullbrights 1, the palette's last 32 colours drawn unlit; liquids
// unlit and opaque (r_wateralpha 1), sky as its two layers seen along the view (gl_sky.c at
// time 0), gamma and contrast 1. Quake II's sky is the box yquake2's GL renderer draws
// (gl1_warp.c), its pictures filtered as the look filters. The plain look is Tarn's older one:
// nearest texels of the nearest level, light clamped to 1 before it meets the texture, no glow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarn {

struct BspMap;

struct MapLook {
  bool engine = true;
  // The world alone: no doors, lifts or other brush entities (Quakespasm's view of a map whose
  // entities are not spawned).
  bool worldOnly = false;
};

enum class MapSurface {
  Solid,   // lit, opaque
  Fence,   // a "{" texture: its last colour (alpha) not drawn
  Liquid,  // Quake's "*" textures, Quake II's SURF_WARP: unlit, the texture as it is
  Sky,     // Quake's "sky" textures, Quake II's SURF_SKY: the sky seen along the view
  Hidden,  // not drawn: Quake II's SURF_NODRAW, triggers and clips, brush entities of a world-only look
};

struct MapFaceStyle {
  MapSurface surface = MapSurface::Solid;
  // Quake II's SURF_TRANS33 and SURF_TRANS66 (ref_gl gl_rsurf.c: 0.33 and 0.66), blended over
  // what is behind after the opaque faces; 1 for the rest.
  float alpha = 1;
};

// How far Quake's liquids are seen through (Quakespasm gl_rmisc.c R_ParseWorldspawn and
// GL_WaterAlphaForSurface): r_wateralpha 1 and its kin, or the worldspawn's "wateralpha",
// "lavaalpha", "slimealpha" and "telealpha" (a leading "_" allowed); lava, slime and teleporters
// take water's when theirs is 0.
struct MapLiquids {
  float water = 1, lava = 0, slime = 0, tele = 0;
};
MapLiquids MapLiquidsOf(const BspMap& map);

// The face's kind; its index is into BspMap::faces. Without liquids, Quake's are opaque.
MapFaceStyle MapFaceStyleOf(const BspMap& map, std::size_t face, const MapLook& look,
                            const MapLiquids* liquids = nullptr);

// Whether faces are drawn from their front only, as the engines draw a level (a map with a
// player start, seen from inside); a map without one is an object seen from outside, both sides.
bool MapDrawsOneSided(const BspMap& map);

struct MapShading {
  // The light a page byte stands for: byte × lightScale / 255.
  float lightScale = 2;
  // Plain: the light clamped to 1 before it meets the texture. Engine: the product clamped.
  bool clampLightFirst = false;
  // Textures filtered between texels and between levels (trilinear); else the nearest texel of
  // the nearest level.
  bool linear = true;
  // Fullbright texels kept apart and drawn unlit.
  bool glow = true;
  // The byte of the pages' white block, which faces without a lightmap sample: light 1.
  std::uint8_t unlitByte = 128;
  // Where no face is drawn: Quakespasm clears to r_clearcolor 2, the palette's dark grey (a map
  // without faces stays black); the plain look to black.
  std::uint8_t background[3] = {0, 0, 0};
};

MapShading MapShadingOf(const BspMap& map, const MapLook& look);

// A pixel's colour from its texel (and the texel's unlit glow, 0 without) and its light.
inline float MapShade(const MapShading& s, float texel, float glow, float light) {
  const float l = light * s.lightScale / 255.0f;
  const float lit = s.clampLightFirst ? texel * (l < 1 ? l : 1) : texel * l;
  const float v = lit + glow;
  return v < 255 ? v : 255;
}

// The level of detail OpenGL takes for a pixel (OpenGL 4.6 section 8.14.1, the scale factor
// the longer of the texture's footprints along the picture's x and y): log2 of it, in texels of
// the full size per pixel. Level 0 where it is 0 or less (magnified).
float MapTextureLod(float dsdx, float dtdx, float dsdy, float dtdy);

// Where a view direction meets Quake's sky, in texels of a 128-texel layer (gl_sky.c
// Sky_GetTexCoord at time 0: the direction flattened three times upward, 6 × 63 units out).
void MapSkyTexel(const float direction[3], float& s, float& t);

// Quake II's sky box as the worldspawn names it (game g_spawn.c SP_worldspawn, client
// cl_view.c CL_PrepRefresh): "sky", else "unit1_"; "skyrotate" degrees a second about "skyaxis".
// The engine turns the box by the time since the level began times skyrotate (gl1_warp.c
// R_DrawSkyBox); a still picture is the level at time 0, so the box is drawn unturned. name is
// empty for maps of the other games, and for a "sky" that is no plain path in the game's files.
struct MapSkyBox {
  std::string name;
  float rotate = 0;
  float axis[3] = {0, 0, 0};
};
MapSkyBox MapSkyBoxOf(const BspMap& map);

// The box's six pictures are env/<name><suffix>, in this order (gl1_warp.c suf[]).
inline constexpr const char* kMapSkySuffixes[6] = {"rt", "bk", "lf", "ft", "up", "dn"};

// Where a view direction meets the sky box: which picture (an index into kMapSkySuffixes) and
// where on it, s from its left, t from its top row, 0 to 1 across (gl1_warp.c R_DrawSkyPolygon's
// vec_to_st, skytexorder and R_MakeSkyVec's (s + 1) / 2, 1 - (t + 1) / 2).
void MapSkyBoxTexel(const float direction[3], int& side, float& s, float& t);

// The vertical field of view of a picture for Quake's fov (degrees, horizontal at 4:3), as
// Quakespasm adapts it to any shape (scr_fov_adapt 1): the same vertical angle at every width.
float MapVerticalFov(float fov, int width, int height);

}  // namespace tarn
