// Map bytes of any shape: textures are read only from inside the texture lump, and a WAD2 made
// of them reads back with the same lumps.
#include <cstdlib>
#include <cstring>

#include "maps/MapTextures.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarn::MapTextures map = tarn::ReadMapTextures({data, size});
  std::vector<tarn::WadLump> lumps;
  tarn::AddMapTextures(map, lumps);
  for (const auto& t : map.textures)
    if (t.bytes.size() < 40 || t.bytes.size() > size) std::abort();
  const auto wad = tarn::BuildWad2(lumps);
  if (wad.size() < 12 || std::memcmp(wad.data(), "WAD2", 4) != 0) std::abort();
  return 0;
}
