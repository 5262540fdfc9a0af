// 8-bit palette-indexed pictures (and the true-colour ones some PCX files hold) and the
// decoders of the picture formats: PCX, Quake LMP pictures, Quake II WAL textures and the skins
// of a Quake model.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "pictures/Palette.h"

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
  // The indices without the rows' padding, as encoders and the mip-level writers want them.
  std::vector<std::uint8_t> Packed() const;
};

// Pictures with their palettes, as a viewer shows them: when there are fewer palettes than
// pictures, the first palette serves the pictures without one.
struct PictureSet {
  std::vector<Picture> pictures;
  std::vector<Palette> palettes;
  // Index 255 is see-through, as Quake draws its pictures, sprites and "{" textures.
  bool transparent255 = false;
  // The palettes came with the pictures (a PCX file's, a Half-Life picture's): no other is
  // theirs. Otherwise they are the game's, which a viewer may change.
  bool ownPalettes = false;
  const Palette& PaletteFor(std::size_t picture) const {
    return picture < palettes.size() ? palettes[picture] : palettes.front();
  }
};

// width × height indices, rows top first without padding, into a picture.
bool BuildPicture(int width, int height, std::span<const std::uint8_t> indices, Picture& out);

// PCX: run-length coded pixels from offset 128. A 256-colour picture (8 bits, one plane) has its
// own palette in its last 768 bytes; a 24-bit one (8 bits, three planes) comes out true colour
// and leaves the palette as it was. Other kinds are refused with a reason.
bool DecodePcx(std::span<const std::uint8_t> bytes, Picture& picture, Palette& palette, std::string* error = nullptr);

namespace lmp {
inline constexpr const char* kNotViewable = ".lmp not viewable";
}  // namespace lmp
// A Quake picture: width and height, then the indices. Any positive size whose pixels fit in the
// bytes is a picture (console backgrounds of source ports are far larger than Quake's 320 × 200);
// the tables that share the extension (palettes, colour maps) read as sizes that do not fit.
bool DecodeLmp(std::span<const std::uint8_t> bytes, Picture& picture);

// The palette a Half-Life picture or texture carries after its pixels, at offset at: a 16-bit
// count of 256 and 768 bytes of red, green, blue. False (palette untouched) when there is none.
bool ReadTrailingPalette(std::span<const std::uint8_t> bytes, std::size_t at, Palette& palette);

namespace miptex {
inline constexpr std::size_t kNameSize = 16;
inline constexpr std::size_t kHeaderSize = 40;
}  // namespace miptex
// A mip texture (a WAD lump, or a map's): the full-size level of its four. A Half-Life texture's
// own palette, after the smallest level, goes to palette with ownPalette set; otherwise palette
// is left for the caller (Quake's). name receives the texture's name.
bool DecodeMip(std::span<const std::uint8_t> bytes, Picture& picture, Palette& palette, bool* ownPalette,
               std::string* name = nullptr, std::string* error = nullptr);

namespace conchars {
// gfx.wad's console font: 16 x 16 characters of 8 x 8 pixels, with no header at all.
inline constexpr int kSide = 128;
}  // namespace conchars
bool DecodeConchars(std::span<const std::uint8_t> bytes, Picture& picture);

namespace wal {
inline constexpr std::size_t kHeaderSize = 100;
inline constexpr std::size_t kWidth = 32, kHeight = 36, kMip0 = 40, kNextName = 56, kNextNameSize = 32;
}  // namespace wal
// A Quake II texture's full-size picture; nextFrame receives the name of the animation's next frame.
bool DecodeWal(std::span<const std::uint8_t> bytes, Picture& picture, std::string* nextFrame,
               std::string* error = nullptr);

namespace mdlskin {
inline constexpr std::size_t kHeaderSize = 84;
inline constexpr std::size_t kSkinCount = 48, kSkinWidth = 52, kSkinHeight = 56;
}  // namespace mdlskin
// Every skin of a Quake model in file order, the pictures of a skin group one after another.
// False, with a reason, when there is none; skins read before damage are kept.
bool DecodeMdlSkins(std::span<const std::uint8_t> bytes, std::vector<Picture>& pictures, std::string* error = nullptr);

}  // namespace tarn
