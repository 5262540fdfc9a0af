// Glowing pixels that are likely accidents (stray fullbrights) in the pictures an engine draws
// in the map's light: world textures of maps and WADs, and model skins. A glowing index there is
// drawn at full brightness in the dark, so a few of them scattered by a conversion from true
// colour shine like sparks. The rule is formats/GlowLayers.h kStrayRule.
#pragma once

#include <string>
#include <vector>

#include "game/EngineArt.h"
#include "pictures/GlowLayers.h"

namespace tarn {

// The glowing indices of a lit Quake picture: 224 to 255 (Quakespasm's Mod_CheckFullbrights,
// DarkPlaces and FTE with id's colour map), but for the see-through 255 of a "{" texture.
inline constexpr int kLitGlowFirst = 224;
inline constexpr int kLitGlowLast = 255;

struct GlowingPicture {
  std::size_t file = 0;  // into the files given
  PictureSpot spot;
  std::string name;               // for lists: "texture \"wbrick1_5\"", "skin 0", "skin 1.2"
  int transparent = -1;           // the see-through index, which never glows
  std::vector<GlowPixel> pixels;  // the strays, or every glowing pixel when all were asked for
};

// The lit pictures of the files with stray glowing pixels (or, with every, with any glowing
// pixel), in the files' order; only the files named in only (any case), when it is not empty.
// What cannot be read goes to problems.
std::vector<GlowingPicture> FindGlowingPictures(const std::vector<ArtFile>& files, const std::vector<std::string>& only,
                                                bool every, std::vector<std::string>& problems);

// Gives each pixel the nearest colour that does not glow, in copies of the files: the full-size
// level, and each pixel of a texture's smaller levels that glows although no full-size pixel
// under it glows any longer. changes receives the files that changed.
bool QuenchGlow(const std::vector<ArtFile>& files, const std::vector<GlowingPicture>& pictures, const Palette& palette,
                std::vector<ArtChange>& changes, std::vector<std::string>& problems);

}  // namespace tarn
