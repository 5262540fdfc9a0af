// Half-Life's pictures in their own colours: a palette made for each texture (or sprite), and
// Half-Life's sprites (version 2 of "IDSP": a texture format and a palette after the header).
//
// Every WAD3 texture carries its 256 colours after its smallest mip level, so nothing ties it to
// Quake's: a picture of 256 colours or fewer keeps them exactly; a larger one gets libimagequant's
// palette. A "{" texture is see-through where it holds index 255, which the tools (WadMaker,
// Wally) make pure blue; a decal (decals.wad) is drawn in the colour at index 255 with each
// pixel's index as its opacity, its other entries a grey ramp.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "pictures/ImageDecode.h"
#include "pictures/PaletteMatch.h"
#include "pictures/Pictures.h"

namespace tarn {

inline constexpr Rgb kHalfLifeTransparent{0, 0, 255};

// A palette for the pixels of every picture whose mask (when given, one flag a pixel) does not
// mark them transparent: their own colours when there are at most `colours` of them, else the
// colours libimagequant finds. used receives how many entries are taken (the rest are black).
// False, with the reason, when no palette can be made.
bool MakeOwnPalette(const std::vector<const RgbaImage*>& images, const std::vector<std::vector<std::uint8_t>>& masks,
                    int colours, Palette& out, int& used, std::string* error);

// A decal's indices (its opacity: the alpha channel where the picture has one, else its
// darkness) and its palette: a grey ramp, the colour the decal is drawn in at 255.
void MakeDecal(const RgbaImage& image, std::vector<std::uint8_t>& indices, Palette& palette);

// The 16-bit count of 256 and the 768 bytes of a Half-Life texture's or picture's palette, with
// the two bytes of padding the tools write after them.
void AppendTrailingPalette(std::vector<std::uint8_t>& bytes, const Palette& palette);

namespace hlsprite {
inline constexpr std::size_t kHeaderSize = 40;
inline constexpr std::int32_t kVersion = 2;
enum class Orientation { ParallelUpright, FacingUpright, Parallel, Oriented, ParallelOriented };
enum class TextureFormat { Normal, Additive, IndexAlpha, AlphaTest };
const char* OrientationName(Orientation o);      // "parallel-upright", ...
const char* TextureFormatName(TextureFormat f);  // "normal", "additive", "index-alpha", "alpha-test"
}  // namespace hlsprite

struct HalfLifeSpriteInfo {
  hlsprite::Orientation orientation = hlsprite::Orientation::Parallel;
  hlsprite::TextureFormat format = hlsprite::TextureFormat::Normal;
  int width = 0, height = 0, frames = 0;
};

// The version at byte 4 of an "IDSP" sprite: 1 Quake, 2 Half-Life; 0 when there is none.
int SpriteVersion(std::span<const std::uint8_t> bytes);

// Appends the sprite's pictures with its palette, as Half-Life draws them: index 255 see-through
// for alpha-test; for index-alpha, true-colour pictures in the palette's last colour with each
// pixel's index as its opacity. Reading stops at the first damaged frame; what was read stays.
// False, with the reason, when the header or the palette is damaged.
bool ReadHalfLifeSprite(std::span<const std::uint8_t> bytes, PictureSet& out, HalfLifeSpriteInfo* info = nullptr,
                        std::string* error = nullptr);

struct HalfLifeSpriteOptions {
  hlsprite::Orientation orientation = hlsprite::Orientation::Parallel;
  hlsprite::TextureFormat format = hlsprite::TextureFormat::AlphaTest;
  Dither dither = Dither::None;
};
// Pictures (of any sizes) as a Half-Life sprite of single frames with one palette made for them
// all. False, with the reason, when there are none.
bool EncodeHalfLifeSprite(const std::vector<RgbaImage>& frames, const HalfLifeSpriteOptions& options,
                          std::vector<std::uint8_t>& out, std::string* error);

}  // namespace tarn
