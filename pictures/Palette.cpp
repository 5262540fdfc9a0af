#include "pictures/Palette.h"

namespace tarn {

bool ParseRiffPalette(std::span<const std::uint8_t> bytes, Palette& out) {
  constexpr std::size_t kSkip = 24;
  if (bytes.size() < kSkip + 256 * 4) return false;
  for (std::size_t i = 0; i < 256; ++i) {
    const std::uint8_t* e = bytes.data() + kSkip + 4 * i;
    out.colors[i] = {e[0], e[1], e[2]};
  }
  return true;
}

bool LoadPalette(int resourceId, Palette& out) {
  // Made once: every picture of a kind shares the same table.
  static const auto load = [](const char* name) {
    Palette p;
    ParseRiffPalette(resources::Find(name), p);
    return p;
  };
  static const Palette quake = load("quake.pal");
  static const Palette quake2 = load("quake2.pal");
  if (resourceId == kQuakePaletteId) {
    out = quake;
    return true;
  }
  if (resourceId == kQuake2PaletteId) {
    out = quake2;
    return true;
  }
  return false;
}

}  // namespace tarn
