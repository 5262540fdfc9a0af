// Map bytes of any shape: every face read points at vertices inside the vertex list, its
// lightmap lies inside the lighting, replacing the entity lump of a readable map gives a map
// that reads back with the new text (its own text, once checked, reads back the same), and the
// map draws (its bytes also standing for every WAL and WAD it asks for) from its start and from
// inside its geometry.
#include <cstdlib>
#include <string>

#include "maps/Bsp.h"
#include "maps/MapEntities.h"
#include "maps/MapRender.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarn::BspMap map;
  if (!tarn::LoadBsp({data, size}, map, nullptr)) return 0;
  for (const tarn::BspFace& f : map.faces) {
    if (f.first + static_cast<std::uint64_t>(f.count) > map.vertices.size()) std::abort();
    if (f.texture >= static_cast<std::int64_t>(map.textures.size())) std::abort();
    if (f.lightOffset >= 0 && static_cast<std::uint64_t>(f.lightOffset) + static_cast<std::uint64_t>(f.lightWidth) *
                                                                              f.lightHeight * map.lightBytes *
                                                                              f.StyleCount() >
                                  map.lighting.size())
      std::abort();
  }
  std::vector<tarn::MapEntity> entities;
  tarn::ParseEntities(map.entities, entities, nullptr);
  tarn::FindStart(map, entities);
  {
    // A Quake II map's sky box gets pictures that decode, so that it is drawn from wherever the
    // map puts its sky faces.
    const tarn::MapFileLookup lookup = [&](const std::string& path, std::vector<std::uint8_t>& bytes) {
      if (path.rfind("env/", 0) == 0 && path.size() > 4 && path.compare(path.size() - 4, 4, ".tga") == 0) {
        bytes = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, 24, 0x20, 10, 20, 30, 40, 50, 60};
        return true;
      }
      bytes.assign(data, data + size);
      return true;
    };
    const tarn::MapScene scene = tarn::BuildMapScene(map, lookup);
    std::vector<std::uint8_t> rgb;
    tarn::MapCamera camera = tarn::MapStartCamera(map);
    if (!tarn::RenderMap(scene, camera, 48, 30, rgb) || rgb.size() != 48 * 30 * 3) std::abort();
    if (!map.vertices.empty()) {
      const tarn::BspVertex& v = map.vertices[map.vertices.size() / 2];
      camera.position[0] = v.x, camera.position[1] = v.y, camera.position[2] = v.z + 1;
      camera.pitch = 30;
      tarn::RenderMap(scene, camera, 17, 9, rgb);
    }
  }
  const std::string text = "{\n\"classname\" \"worldspawn\"\n}\n";
  std::vector<std::uint8_t> out;
  if (tarn::ReplaceEntityLump({data, size}, text, out, nullptr)) {
    tarn::BspMap again;
    if (!tarn::LoadBsp(out, again, nullptr) || again.entities != text || again.faces.size() != map.faces.size())
      std::abort();
  }
  std::string lump, back;
  if (!tarn::ReadEntityText({data, size}, lump, nullptr)) std::abort();
  if (tarn::SetEntityText({data, size}, lump, out, nullptr) &&
      (!tarn::ReadEntityText(out, back, nullptr) || back != lump))
    std::abort();
  return 0;
}
