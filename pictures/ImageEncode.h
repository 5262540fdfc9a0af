// True-colour pictures into the games' formats: Quake pictures (.lmp), Quake mip textures
// (.mip, a WAD2 'D' lump), Quake II textures (.wal) and 8-bit PCX, each in its game's palette
// or one given. This is the one entry both tarn-pak and the window use; it needs no toolkit.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pictures/ImageDecode.h"
#include "pictures/PaletteMatch.h"
#include "pictures/Pictures.h"

namespace tarn {

enum class OutputKind { Lmp, Mip, Wal, Pcx };

// By the name's extension (".lmp", ".mip", ".wal", ".pcx"); nothing for any other.
std::optional<OutputKind> OutputKindOf(std::string_view name);
const char* ExtensionOf(OutputKind kind);

enum class PaletteChoice {
  Default,  // Quake's for .lmp and .mip, Quake II's for .wal and .pcx
  Quake,
  Quake2,
  Given,    // EncodeOptions::palette
  Optimal,  // a new palette made for the picture (.pcx, and a Half-Life texture or picture)
};

struct EncodeOptions {
  PaletteChoice paletteChoice = PaletteChoice::Default;
  Palette palette;  // for PaletteChoice::Given
  Dither dither = Dither::None;
  // Auto gives glowing indices only to a picture drawn in the palette already (every opaque
  // pixel one of its colours): palette art keeps its glowing parts, a photograph gets none.
  Fullbright fullbright = Fullbright::Auto;
  // Where the picture glows on purpose: a picture of its size whose pixels that are not black
  // (nor transparent) take the nearest glowing colour, whatever fullbright says. None when empty.
  RgbaImage glow;
  // The texture's name (.mip at most 15 characters, .wal at most 31); '{' makes a Quake
  // texture transparent.
  std::string name;
  // A transparent pixel in a texture that cannot be transparent is an error, not its colour.
  bool strict = false;
  // Index 255 is a colour like any other, never transparency: a model's skin.
  bool opaque = false;
  // Textures whose sides are not multiples of 16 are scaled up to the next ones, not refused.
  bool resize = false;
  // A Half-Life texture or picture (.mip, .lmp in a WAD3): it carries its own palette after its
  // pixels, made for it (HalfLife.h) unless another is chosen; no colour glows.
  bool halfLife = false;
  // A Half-Life decal (decals.wad): its opacity as its indices, drawn in the colour at 255.
  bool decal = false;
  // Quake II textures' other fields.
  std::string nextFrame;
  std::int32_t flags = 0, contents = 0, value = 0;
};

namespace walfile {
inline constexpr std::size_t kNameSize = 32;
}  // namespace walfile
namespace wadtype {
inline constexpr std::uint8_t kNone = 0;
inline constexpr std::uint8_t kPicture = 'B';  // a Quake picture, as in gfx.wad
inline constexpr std::uint8_t kMiptex = 'D';
}  // namespace wadtype

struct EncodeResult {
  bool ok = false;
  std::string error;                      // one line, when !ok
  std::vector<std::uint8_t> bytes;        // the file, or the WAD lump
  std::uint8_t wadType = wadtype::kNone;  // the type a WAD2 stores these bytes as; kNone: not a WAD lump
  // The full-size level as indices, and the palette they index (the encoded look).
  Picture picture;
  Palette palette;
};

EncodeResult EncodeImage(const RgbaImage& image, OutputKind kind, const EncodeOptions& options);

// The encoded full-size picture as RGBA (transparent index 255 as alpha 0 where the kind is
// transparent), to show beside the original. False with the reason when encoding would fail.
bool PreviewEncoded(const RgbaImage& image, OutputKind kind, const EncodeOptions& options, RgbaImage& out,
                    std::string* error);

// A palette file: 768 bytes of red, green, blue (.lmp, .pal), a RIFF palette, or a PCX file's palette.
bool LoadPaletteFile(std::span<const std::uint8_t> bytes, Palette& out, std::string* error);

// Mip levels 1 to 3 of a texture's full-size colours: each a 2 × 2 average of the level above's
// colours (alpha-weighted where the texture is transparent), matched by the same rules.
std::array<Picture, 3> MakeMipLevels(const RgbaImage& level0, bool transparent, PaletteMatcher& matcher, Dither dither);

// Quake pictures as sprite frames: a Quake sprite (.spr) of single frames, all of one size, in
// Quake's palette. False with the reason in error.
bool BuildQuakeSprite(const std::vector<Picture>& frames, std::vector<std::uint8_t>& out, std::string* error);
// A Quake II sprite (.sp2) naming each frame's PCX file.
std::vector<std::uint8_t> BuildQuake2Sprite(const std::vector<Picture>& frames, const std::vector<std::string>& names);

// A sprite made of pictures, as files: a Quake sprite (its frames Quake pictures, all of one
// size), or a Quake II sprite with its frames as PCX files, named stem_0.pcx, stem_1.pcx, ...
// beside it and named in it with framesFolder before them (the folder the game looks in, as
// "sprites/"). The sprite comes last. False with the reason in error.
struct SpriteFile {
  std::string name;  // stem.spr, stem.sp2, stem_N.pcx
  std::vector<std::uint8_t> bytes;
};
bool EncodeSprite(const std::vector<RgbaImage>& frames, bool quake2, const std::string& stem,
                  const std::string& framesFolder, const EncodeOptions& options, std::vector<SpriteFile>& files,
                  std::string* error);

// A texture name made from a file's stem, cut to what kind can hold.
std::string TextureNameFor(const std::string& stem, OutputKind kind);

// 8-bit, one plane, run-length coded, the palette at the end after its 0x0C marker.
std::vector<std::uint8_t> BuildPcx(const Picture& picture, const Palette& palette);

}  // namespace tarn
