// 8-bit palette-indexed pictures and the decoders of the picture formats: PCX, Quake LMP
// pictures, Quake II WAL textures and the first skin of a Quake model.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/Palette.h"

namespace tarn {

// Rows top first, each padded with zeros to a multiple of 4 bytes.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
  // True-colour pictures (24-bit PCX): width × height × 4 bytes of red, green, blue, alpha,
  // rows top first without padding; pixels stays empty.
  std::vector<std::uint8_t> rgba;
  bool IsTrueColor() const { return !rgba.empty(); }

  int Stride() const { return (width + 3) & ~3; }
  std::uint8_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * Stride() + x]; }
  const std::uint8_t* Row(int y) const { return pixels.data() + static_cast<std::size_t>(y) * Stride(); }
};

// Pictures with their palettes, as a viewer shows them: when there are fewer palettes than
// pictures, the first palette serves the pictures without one.
struct PictureSet {
  std::vector<Picture> pictures;
  std::vector<Palette> palettes;
  const Palette& PaletteFor(std::size_t picture) const {
    return picture < palettes.size() ? palettes[picture] : palettes.front();
  }
};

// width × height indices, rows top first without padding, into a picture.
bool BuildPicture(int width, int height, std::span<const std::uint8_t> indices, Picture& out);

// PCX: the file's own palette (its last 768 bytes) and run-length coded pixels from offset 128.
bool DecodePcx(std::span<const std::uint8_t> bytes, Picture& picture, Palette& palette, std::string* error = nullptr);

namespace lmp {
inline constexpr int kMaxWidth = 300;
inline constexpr int kMaxHeight = 200;
inline constexpr const char* kNotViewable = ".lmp not viewable";
}  // namespace lmp
// A Quake picture: width and height, then the indices. Larger than 300 × 200, negative or
// short: not a picture (palettes, colour maps and other tables share the extension).
bool DecodeLmp(std::span<const std::uint8_t> bytes, Picture& picture);

namespace wal {
inline constexpr std::size_t kHeaderSize = 100;
inline constexpr std::size_t kWidth = 32, kHeight = 36, kMip0 = 40, kNextName = 56, kNextNameSize = 32;
}  // namespace wal
// A Quake II texture's full-size picture; nextFrame receives the name of the animation's next frame.
bool DecodeWal(std::span<const std::uint8_t> bytes, Picture& picture, std::string* nextFrame, std::string* error = nullptr);

namespace mdlskin {
inline constexpr std::size_t kHeaderSize = 84;
inline constexpr std::size_t kSkinWidth = 52, kSkinHeight = 56;
}  // namespace mdlskin
// The first skin of a Quake model when it is a single picture (not a group).
bool DecodeMdlSkin(std::span<const std::uint8_t> bytes, Picture& picture, std::string* error = nullptr);

}  // namespace tarn
