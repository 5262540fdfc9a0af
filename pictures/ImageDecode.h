// Any picture a modder brings in, decoded to red, green, blue, alpha: PNG, JPEG, TGA, BMP, PCX
// and the games' own pictures (Quake pictures, mip textures and model skins, Quake II textures).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pictures/Palette.h"

namespace tarn {

namespace image {
// Nothing wider or higher is decoded: the size is checked before anything is allocated.
inline constexpr int kMaxSide = 8192;
}  // namespace image

struct RgbaImage {
  int width = 0;
  int height = 0;
  // width × height × 4 bytes, rows top first without padding.
  std::vector<std::uint8_t> rgba;
  // For pictures stored as palette indices (indexed PNG, PCX, the game formats): the indices,
  // one byte a pixel without padding, and the palette they index. An encoder whose palette is
  // the same can keep them as they are.
  std::vector<std::uint8_t> indices;
  Palette palette;
  int paletteSize = 0;

  bool HasIndices() const { return !indices.empty(); }
  std::size_t PixelCount() const { return static_cast<std::size_t>(width) * static_cast<std::size_t>(height); }
  const std::uint8_t* Pixel(std::size_t i) const { return rgba.data() + 4 * i; }
};

// Whether a picture of width × height is one Tarn reads: false, with why, when it has no
// pixels or a side past image::kMaxSide. Checked before anything is allocated.
bool PictureSizeFits(std::int64_t width, std::int64_t height, std::string* error);
// out becomes a width × height picture, every pixel transparent black.
void StartImage(RgbaImage& out, int width, int height);

// Decodes bytes to RGBA. name (a file or entry name) tells the formats that carry no signature
// apart: ".lmp", ".wal", ".mip", ".tga". False with a one-line reason in error.
bool DecodeImage(std::span<const std::uint8_t> bytes, std::string_view name, RgbaImage& out, std::string* error);

// A Quake mip texture (as a WAD2 'D' lump or inside a map): its full-size level. name receives
// the texture's name.
bool DecodeMiptex(std::span<const std::uint8_t> bytes, RgbaImage& out, std::string* name, std::string* error);

// Fills out from palette indices (rows without padding). Index 255 becomes transparent when
// transparent255 is set, as Quake draws its pictures and '{' textures.
void ImageFromIndices(int width, int height, std::span<const std::uint8_t> indices, const Palette& palette,
                      bool transparent255, RgbaImage& out);

}  // namespace tarn
