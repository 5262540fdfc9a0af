// The software renderer's budget, on faces anywhere and cameras anywhere: it never does more
// than its limit; it says it was cut short only when the next row would have passed the limit;
// and a picture not cut short is the same, and not cut short, when drawn again with a limit of
// exactly the work it took, while one less cuts it short.
#include <cstdlib>

#include "FuzzInput.h"
#include "maps/Bsp.h"
#include "maps/MapRender.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarn::fuzz::Input in{data, size};
  const int width = in.Byte() % 64 + 1, height = in.Byte() % 64 + 1;
  tarn::MapRenderWork work;
  work.limit = in.U32() % 200000;
  tarn::MapCamera camera;
  for (float& p : camera.position) p = static_cast<float>(static_cast<std::int16_t>(in.U16()));
  camera.yaw = static_cast<float>(in.U16() % 360);
  camera.pitch = static_cast<float>(in.Byte() % 180) - 90;
  camera.fieldOfView = static_cast<float>(in.Byte() % 170) + 1;

  // Polygons of 3 to 8 corners, some of them large, some far off, some behind the camera.
  tarn::BspMap map;
  for (std::size_t faces = in.Byte() % 64; faces; --faces) {
    tarn::BspFace f;
    f.first = static_cast<std::uint32_t>(map.vertices.size());
    f.count = in.Byte() % 6 + 3;
    const float scale = static_cast<float>(1 << (in.Byte() % 16));
    for (std::uint32_t k = 0; k < f.count; ++k) {
      tarn::BspVertex v;
      v.x = static_cast<float>(static_cast<std::int8_t>(in.Byte())) * scale;
      v.y = static_cast<float>(static_cast<std::int8_t>(in.Byte())) * scale;
      v.z = static_cast<float>(static_cast<std::int8_t>(in.Byte())) * scale;
      v.s = v.x, v.t = v.y;
      map.vertices.push_back(v);
    }
    map.faces.push_back(f);
  }
  const tarn::MapScene scene = tarn::BuildMapScene(map, {});
  std::vector<std::uint8_t> rgb, again;
  if (!tarn::RenderMap(scene, camera, width, height, rgb, &work)) std::abort();
  const std::uint64_t limit = work.limit ? work.limit : tarn::kMapRenderWorkPerPixel * width * height;
  if (work.done > limit) std::abort();
  if (work.cutShort && work.done + static_cast<std::uint64_t>(width) < limit) std::abort();
  if (!work.cutShort && work.done > 0) {
    tarn::MapRenderWork exact;
    exact.limit = work.done;
    if (!tarn::RenderMap(scene, camera, width, height, again, &exact) || exact.cutShort || again != rgb ||
        exact.done != work.done)
      std::abort();
    tarn::MapRenderWork less;
    less.limit = work.done - 1;
    if (less.limit && (!tarn::RenderMap(scene, camera, width, height, again, &less) || !less.cutShort)) std::abort();
  }
  return 0;
}
