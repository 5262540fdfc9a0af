// Map bytes of any shape: every face read points at vertices inside the vertex list, its
// lightmap lies inside the lighting, and replacing the entity lump of a readable map gives a
// map that reads back with the new text; its own text, once checked, reads back the same.
#include <cstdlib>
#include <string>

#include "formats/Bsp.h"
#include "formats/MapEntities.h"

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
