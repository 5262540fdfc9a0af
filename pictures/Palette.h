// 256-colour palettes: the Quake and Quake II palettes the program carries, and those of PCX files.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace tarn {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

struct Palette {
  std::array<Rgb, 256> colors{};
  bool operator==(const Palette&) const = default;
};

inline constexpr int kQuakePaletteId = 148;
inline constexpr int kQuake2PaletteId = 172;

// Fills the palette from the carried resource 148 (Quake) or 172 (Quake II); false for other ids.
bool LoadPalette(int resourceId, Palette& out);

// A RIFF palette file: 24 bytes of header skipped, then 256 entries of red, green, blue, flags.
bool ParseRiffPalette(std::span<const std::uint8_t> bytes, Palette& out);

namespace resources {
std::span<const std::uint8_t> Find(const char* name);
}

}  // namespace tarn
