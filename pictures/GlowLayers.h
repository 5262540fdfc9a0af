// An 8-bit picture as the layers an engine reads beside it, and back: the base picture, the
// glowing pixels (fullbrights) on a layer of their own, and for the player's skin the pants and
// shirt that the engine tints with each player's colours. Also the glowing pixels that are
// likely accidents (stray fullbrights), and quenching them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "pictures/ImageDecode.h"
#include "pictures/Pictures.h"

namespace tarn {

// The colour-mapped ranges of a Quake skin (DarkPlaces' palette.c Palette_SetupSpecialPalettes:
// pants_start 96, shirt_start 16; FTE's BOTTOM_RANGE and TOP_RANGE): each 16 shades of one colour
// the engine replaces with a player's, and draws on the layer as the palette's grey ramp 0 to 15.
inline constexpr int kPantsFirst = 96;
inline constexpr int kShirtFirst = 16;
inline constexpr int kColormapShades = 16;

// How an engine draws one picture, as far as its layers go.
struct LayerRules {
  // The indices that glow: first to last; first > last when none do.
  int glowFirst = 1;
  int glowLast = 0;
  // Drawn in the map's light (world textures, model skins): the glowing pixels are drawn
  // unlit, from a layer of their own added to the lit base, and are black in the base. Pictures
  // drawn unlit anyway (liquids, sky, sprites, menu pictures) keep every pixel in the base.
  bool lit = false;
  // The indices drawn see-through (-1: none): 255 in "{" textures, sprites and pictures; the
  // console font's 0 (and 255 in Quakespasm).
  int transparent = -1;
  int transparent2 = -1;
  // The player's skin: pants and shirt go to layers of their own, black in the base.
  bool colormap = false;
  // A see-through pixel keeps a neighbour's colour under its zero alpha, as Yamagi Quake II
  // uploads 8-bit pictures (files/stb.c R_Convert8to32), so that filtering brings in no black.
  bool fringe = false;

  bool Transparent(int index) const { return index == transparent || index == transparent2; }
  bool Glowing(int index) const { return lit && index >= glowFirst && index <= glowLast && !Transparent(index); }
  bool Pants(int index) const { return colormap && index >= kPantsFirst && index < kPantsFirst + kColormapShades; }
  bool Shirt(int index) const { return colormap && index >= kShirtFirst && index < kShirtFirst + kColormapShades; }
};

struct PictureLayers {
  RgbaImage base;
  // Empty (no pixels) when the picture has none of them: the engine then reads no such layer.
  // Pixels of no glow, pants or shirt are transparent black, which adds nothing.
  RgbaImage glow, pants, shirt;
};

// The picture's layers at its own size. Glowing, pants and shirt pixels are opaque black in the
// base: what Quakespasm's nobright palette (gl_texmgr.c TexMgr_LoadPalette) and DarkPlaces'
// palette_bgra_nofullbrights give them. Opaque, not transparent: DarkPlaces draws a wall whose
// picture has any alpha below 255 blended (model_brush.c, hasalpha), and a skin as well.
PictureLayers SplitLayers(const Picture& picture, const Palette& palette, const LayerRules& rules);

// A replacement's layers, any of glow, pants and shirt missing (nullptr).
struct LayerImages {
  const RgbaImage* base = nullptr;
  const RgbaImage* glow = nullptr;
  const RgbaImage* pants = nullptr;
  const RgbaImage* shirt = nullptr;
};

// The replacement back into the original's indices, the original's size (a replacement of
// another size is scaled to it: its base smoothly, its other layers to the nearest pixel):
// - a pixel less than half opaque becomes see-through where the rules have a see-through index;
// - a pixel the glow layer lights (opaque, not black) glows, with the glow layer's colour; no
//   other pixel glows (the glow layer is the glow mask);
// - a pixel the pants or shirt layer holds takes that range's shade nearest its colour;
// - a pixel whose colour and glowing are the original's keeps the original's index, so that a
//   picture brought back unchanged is the same bytes (palettes hold some colours twice);
// - any other is encoded as Tarn encodes pictures (formats/ImageEncode.h: exact colours, then
//   the nearest by CIEDE2000; glowing ones the nearest glowing colour).
// out receives width × height indices, rows without padding. False with the reason when the
// base is missing or has no pixels.
bool JoinLayers(const LayerImages& layers, const Picture& original, const Palette& palette, const LayerRules& rules,
                std::vector<std::uint8_t>& out, std::string* error);

// Mip levels 1 to 3 of a texture's full-size indices, made as Tarn's encoder makes them: 2 × 2
// averages of the colours (see-through pixels left out where there are any), matched again,
// and glowing where at least half of the full-size pixels under them glow.
std::array<Picture, 3> MipLevelsFor(const Picture& full, const Palette& palette, const LayerRules& rules);

// --- stray fullbrights ---

// A glowing pixel of a picture.
struct GlowPixel {
  int x = 0, y = 0;
  std::uint8_t index = 0;
};

// The rule for a glowing pixel that is likely an accident, the mark of a picture brought into
// the palette from true colour: it is one of a group of at most kStrayGroup glowing pixels that
// touch no other glowing pixel (eight neighbours), the picture has at most kStrayGroups such
// groups, and, when there are several, they are not a mirror image of themselves (left to right
// or top to bottom about their middle). More small groups than that, or a symmetric few, are a
// pattern drawn on purpose (a panel's lights, a sight), and large groups are lights, lava, screens.
inline constexpr int kStrayGroup = 2;
inline constexpr int kStrayGroups = 4;
inline constexpr const char* kStrayRule =
    "at most 4 groups of 1 or 2 glowing pixels touching no other glowing pixel, not a symmetric pattern";

// Every glowing pixel of the picture (indices first to last, but transparent), rows top first.
std::vector<GlowPixel> GlowingPixels(const Picture& picture, int first, int last, int transparent = -1);
// Those of them that are strays by the rule above.
std::vector<GlowPixel> StrayGlowPixels(const Picture& picture, int first, int last, int transparent = -1);
// The index of the colour nearest the glowing one that does not glow (nor is transparent), by
// CIEDE2000 as the encoder matches.
std::uint8_t NearestNotGlowing(const Palette& palette, std::uint8_t index, int first, int last, int transparent = -1);

}  // namespace tarn
