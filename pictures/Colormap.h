// Colour maps made from a palette by the rules of id's own tools, and art moved from one
// palette to another.
//
// Quake's colormap.lmp: 64 rows of 256 indices, row l holding each colour at (63 - l) / 32 of its
// brightness (rounded, at most 255: rows 0 to 30 brighter than the colour, row 31 the colour,
// row 63 nearly black), matched by qlumpy's BestColor (id-Software/Quake-Tools
// qutils/QLUMPY/QUAKEGRB.C: least squared RGB distance over indices 0 to 254, 255 being the
// transparent colour, and black unless a colour is nearer than twice its own distance from it);
// the last `fullbrights` colours stay themselves in every row. qlumpy's own GrabColormap2 steps
// by 2/63 rather than 1/32; the shipped colormap.lmp follows the 1/32 steps byte for byte.
//
// Quake II's colormap.pcx: qdata's Cmd_Colormap (id-Software/Quake-2-Tools qdata/images.c):
// 64 rows of each colour at 2 - 2 l / 63 of its brightness, matched over indices 1 to 254, the
// last `fullbrights` (1: index 255) kept; then 256 rows of the 66% translucency table, colour c
// seen through colour l; 256 x 320 pixels with the palette.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "pictures/Palette.h"
#include "pictures/Pictures.h"

namespace tarn {

namespace colormap {
inline constexpr int kLevels = 64;
inline constexpr std::size_t kQuakeBytes = 64 * 256;
inline constexpr int kQuakeFullbrights = 32;
inline constexpr int kQuake2Fullbrights = 1;
inline constexpr int kQuake2Rows = 64 + 256;
}  // namespace colormap

// 16384 bytes.
std::vector<std::uint8_t> MakeQuakeColormap(const Palette& palette, int fullbrights = colormap::kQuakeFullbrights);
// 256 x 320 indices; BuildPcx with the palette makes the file.
Picture MakeQuake2Colormap(const Palette& palette, int fullbrights = colormap::kQuake2Fullbrights);

// A Quake colour map as a picture: 256 wide, a row for each light level (the brightest first).
// False when the bytes are no colour map (16384 bytes, or 16385 as qlumpy wrote it).
bool DecodeQuakeColormap(std::span<const std::uint8_t> bytes, Picture& out);
bool IsQuakeColormapSize(std::size_t size);

// For each index of from, the index of to nearest its colour (least squared RGB distance): the
// last `fullbrights` indices go to the nearest of to's last `fullbrights`, the others to the
// nearest of the rest, so that what glows still glows and nothing new does. Index 255 stays 255:
// it is the transparent colour of pictures, sprites and "{" textures.
std::array<std::uint8_t, 256> RemapTable(const Palette& from, const Palette& to, int fullbrights);

enum class RemapOutcome { Changed, Unchanged, NotArt, Damaged };
// An art file named `name` (a Quake picture .lmp, a texture .mip or .wal, a Quake model's skins
// .mdl, a Quake sprite .spr) with its pixels' indices passed through the table. A picture drawn
// in from's palette already unchanged by the table comes back Unchanged; files that hold no
// indexed art (palettes, colour maps, sounds...) NotArt; files whose layout does not hold Damaged.
RemapOutcome RemapArt(const std::string& name, std::span<const std::uint8_t> bytes,
                      const std::array<std::uint8_t, 256>& table, std::vector<std::uint8_t>& out,
                      std::string* error = nullptr);

}  // namespace tarn
