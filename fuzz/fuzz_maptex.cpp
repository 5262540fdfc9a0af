// A map's texture lump of any shape, its textures replaced from a WAD that is the input too:
// refused or rewritten; a rewrite reads back as a map with as many textures, the other lumps
// whole; putting the map's own textures back changes nothing.
#include <cstdlib>

#include "maps/Bsp.h"
#include "maps/MapTextures.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  tarn::MapTextureFinder wad;
  tarn::WadTextureFinder(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), wad, nullptr);
  // Every name finds the input itself, read as a mip texture.
  const tarn::MapTextureFinder itself = [&](const std::string&, std::vector<std::uint8_t>& out) {
    out.assign(bytes.begin(), bytes.end());
    return true;
  };
  std::vector<std::uint8_t> out;
  tarn::MapTextureReport report;
  for (const tarn::MapTextureFinder* finder : {static_cast<const tarn::MapTextureFinder*>(&wad), &itself}) {
    if (!*finder) continue;
    report = {};
    if (!tarn::ReplaceMapTextures(bytes, *finder, out, report, nullptr)) {
      if (!out.empty()) std::abort();
      continue;
    }
    tarn::BspHeader before, after;
    if (!tarn::ReadBspHeader(bytes, before, nullptr) || !tarn::ReadBspHeader(out, after, nullptr)) std::abort();
    for (std::size_t i = 0; i < before.lumps.size(); ++i)
      if (i != 2 && before.lumps[i].length != after.lumps[i].length) std::abort();
    if (report.replaced.empty() && !std::equal(bytes.begin(), bytes.end(), out.begin(), out.end())) std::abort();
  }
  const tarn::MapTextures own = tarn::ReadMapTextures(bytes);
  std::vector<tarn::WadLump> lumps;
  tarn::AddMapTextures(own, lumps);
  tarn::MapTextureFinder back;
  // Names the engine tells apart only by case share one WAD lump: those maps put back another's.
  const bool distinct = lumps.size() == own.textures.size();
  if (distinct && !lumps.empty() &&
      tarn::WadTextureFinder(tarn::BuildWad(own.kind == tarn::MapTextures::Kind::HalfLife ? tarn::ContainerFormat::Wad3
                                                                                          : tarn::ContainerFormat::Wad2,
                                            lumps),
                             back, nullptr)) {
    report = {};
    if (tarn::ReplaceMapTextures(bytes, back, out, report, nullptr) && !report.replaced.empty()) std::abort();
  }
  for (bool embed : {true, false}) {
    report = {};
    tarn::EmbedMapTextures(bytes, embed, itself, out, report, nullptr);
  }
  return 0;
}
