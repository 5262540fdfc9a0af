// A map drawn on the processor, without a window or a graphics driver: for tarn-pak's pictures
// of maps and the browser's thumbnails. The same mesh, textures and light as the OpenGL window
// (MapMesh.h, MapImages.h), drawn from a camera with a z-buffer: texture coordinates correct
// for perspective, each texture's level of detail chosen from its distance, the lightmaps
// filtered, "{" textures seen through.
#pragma once

#include <cstdint>
#include <vector>

#include "maps/MapImages.h"
#include "maps/MapMesh.h"

namespace tarn {

struct BspMap;

inline constexpr float kMapFieldOfView = 70;  // degrees, vertical, as the window's
inline constexpr float kMapEyeHeight = 22;    // above a player start's origin, as Quake's view sits
inline constexpr float kMapNearPlane = 4;
inline constexpr int kMapRenderMaxSide = 8192;

// Quake's angles: yaw about the up axis from +x, pitch positive looking down, in degrees.
struct MapCamera {
  float position[3]{};
  float yaw = 0, pitch = 0;
  float fieldOfView = kMapFieldOfView;
};

// Where the window opens a map: at the player start (FindStart), at eye height, looking along
// its angle; in the middle of the map when there is none.
MapCamera MapStartCamera(const BspMap& map);

// What a map is drawn from, made once for any number of pictures.
struct MapScene {
  MapImages images;
  MapMesh mesh;
  float lightScale = 1;
  // Each picture's smaller levels (half, quarter, eighth), for faces seen from afar.
  std::vector<std::vector<MapImage>> mips;
};

MapScene BuildMapScene(const BspMap& map, const MapFileLookup& lookup);

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
// black where nothing is. False, leaving rgb empty, for a size of 0 or past kMapRenderMaxSide.
bool RenderMap(const MapScene& scene, const MapCamera& camera, int width, int height, std::vector<std::uint8_t>& rgb,
               MapRenderWork* work = nullptr);

}  // namespace tarn
