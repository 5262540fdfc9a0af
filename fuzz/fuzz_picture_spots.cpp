// Any bytes as a map, WAD, model, sprite, picture, Quake II texture or PCX (the first byte picks
// which): every picture found lies inside the file and reads back; written back in its place it
// changes no byte; its layers join back into the same indices; its strays are its own pixels.
#include <cstdlib>

#include "FuzzPictures.h"
#include "formats/PictureSpots.h"
#include "pictures/GlowLayers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const char* const kNames[] = {"m.bsp", "g.wad", "p.mdl", "s.spr", "c.lmp", "t.wal", "x.pcx"};
  if (size == 0) return 0;
  const char* name = kNames[data[0] % (sizeof kNames / sizeof *kNames)];
  const std::span<const std::uint8_t> bytes(data + 1, size - 1);
  const tarn::PictureSpots found = tarn::FindPictureSpots(name, bytes);
  tarn::Palette palette;
  tarn::LoadPalette(tarn::kQuakePaletteId, palette);
  for (const tarn::PictureSpot& spot : found.spots) {
    tarn::Picture p;
    tarn::Palette own = palette;
    if (!tarn::ReadSpot(bytes, spot, p, nullptr, &own)) std::abort();
    CheckPicture(p);
    if (p.width != spot.width || p.height != spot.height) std::abort();
    if (static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height) > 256 * 256) continue;
    if (spot.kind != tarn::SpotKind::Pcx) {
      std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
      if (!tarn::WriteSpot(copy, spot, p, nullptr, own, nullptr) ||
          copy != std::vector<std::uint8_t>(bytes.begin(), bytes.end()))
        std::abort();
    }
    tarn::LayerRules rules;
    rules.lit = true;
    rules.glowFirst = 224, rules.glowLast = 255;
    rules.colormap = spot.kind == tarn::SpotKind::ModelSkin;
    rules.transparent = spot.kind == tarn::SpotKind::SpriteFrame ? 255 : -1;
    const tarn::PictureLayers layers = tarn::SplitLayers(p, own, rules);
    std::vector<std::uint8_t> back;
    const tarn::LayerImages images{&layers.base, layers.glow.rgba.empty() ? nullptr : &layers.glow,
                                   layers.pants.rgba.empty() ? nullptr : &layers.pants,
                                   layers.shirt.rgba.empty() ? nullptr : &layers.shirt};
    if (!tarn::JoinLayers(images, p, own, rules, back, nullptr)) std::abort();
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x)
        if (back[static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width) + static_cast<std::size_t>(x)] !=
            p.At(x, y))
          std::abort();
    for (const tarn::GlowPixel& g : tarn::StrayGlowPixels(p, 224, 255))
      if (g.x < 0 || g.y < 0 || g.x >= p.width || g.y >= p.height || p.At(g.x, g.y) != g.index) std::abort();
  }
  return 0;
}
