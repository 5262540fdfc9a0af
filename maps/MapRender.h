// A map drawn on the processor, without a window or a graphics driver: for tarn-pak's pictures
// of maps and the browser's thumbnails. The same mesh, textures, light and rules as the OpenGL
// window (MapMesh.h, MapImages.h, MapLook.h), drawn from a camera with a z-buffer as OpenGL
// draws: texture coordinates correct for perspective, each pixel's level of detail from its
// texture footprint, the textures and lightmaps filtered, "{" textures seen through, the sky
// seen along the view, Quake II's translucent faces blended last.
#pragma once

#include <cstdint>
#include <vector>

#include "maps/MapImages.h"
#include "maps/MapMesh.h"

namespace tarn {

struct BspMap;

// Degrees, vertical, as the window's: Quake's fov 90 (at 4:3; MapVerticalFov).
inline constexpr float kMapFieldOfView = 73.739795f;
inline constexpr float kMapEyeHeight = 22;  // above a player start's origin, as Quake's view sits
inline constexpr float kMapNearPlane = 4;
inline constexpr int kMapRenderMaxSide = 8192;

// Quake's angles: yaw about the up axis from +x, pitch positive looking down, roll about the
// view, in degrees (as the engine's viewpos prints them).
struct MapCamera {
  float position[3]{};
  float yaw = 0, pitch = 0, roll = 0;
  float fieldOfView = kMapFieldOfView;
};

// The camera's axes in the world (Quake's AngleVectors): forward, right and up.
void MapCameraAxes(const MapCamera& camera, float forward[3], float right[3], float up[3]);

// Where the window opens a map: at the player start (FindStart), at eye height, looking along
// its angle; in the middle of the map when there is none.
MapCamera MapStartCamera(const BspMap& map);

// What a map is drawn from, made once for any number of pictures.
struct MapScene {
  MapImages images;
  MapMesh mesh;
  MapShading shading;
  bool oneSided = false;  // MapDrawsOneSided: back faces left out
  // Each picture's smaller levels down to 1 × 1 (MapMipLevels), for faces seen from afar.
  std::vector<std::vector<MapImage>> mips;
};

MapScene BuildMapScene(const BspMap& map, const MapFileLookup& lookup, const MapLook& look = {});

// How much drawing a picture may do, so that a map of any shape gives its picture in bounded
// time: every pixel a triangle covers is tested against the depth buffer, and a map can pile
// up faces where the camera looks. Counted as rows begun and pixels tested.
struct MapRenderWork {
  // In: the most there may be; 0 for kMapRenderWorkPerPixel for each pixel of the picture.
  std::uint64_t limit = 0;
  // Out: how much there was, and whether the limit stopped the drawing before every face was
  // drawn (the picture then holds the faces drawn until then).
  std::uint64_t done = 0;
  bool cutShort = false;
};
// Far more than real levels need drawn whole without culling, seen from anywhere in them.
inline constexpr std::uint64_t kMapRenderWorkPerPixel = 256;

// The map from the camera into rgb: width × height pixels of red, green, blue, rows top first,
// the look's background (MapShading::background) where nothing is. False, leaving rgb empty, for a size of 0 or past
// kMapRenderMaxSide.
bool RenderMap(const MapScene& scene, const MapCamera& camera, int width, int height, std::vector<std::uint8_t>& rgb,
               MapRenderWork* work = nullptr);

}  // namespace tarn
