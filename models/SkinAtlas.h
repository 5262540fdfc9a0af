// Several textures side by side in one picture. A Half-Life model's meshes, or an MD3's
// surfaces, each draw with a texture of their own, but Quake's and Quake II's models, and Tarn's
// model viewer, have one skin: the textures go into one, each triangle's coordinates moved to
// where its texture went, so that every surface is shown (and converted) with its own.
#pragma once

#include <vector>

#include "pictures/ImageDecode.h"

namespace tarn {

// The largest side an atlas is made with: the largest skin Tarn's viewer and models take.
inline constexpr int kMaxSkinAtlasSide = 4096;

struct SkinAtlas {
  struct Place {
    int x = 0, y = 0, width = 0, height = 0;
  };
  RgbaImage image;
  std::vector<Place> places;  // one for each texture, in the order given

  // A coordinate (0 to 1 across texture t) as one across the atlas. Kept inside t's place:
  // past its edge it would show the neighbouring texture rather than this one's edge.
  void Map(int t, float& u, float& v) const;
};

// The textures (each at least 1 × 1) in rows, tallest first, in a picture at most maxSide wide
// and high; false, with out left alone, when they do not fit.
bool PackSkinAtlas(const std::vector<const RgbaImage*>& textures, int maxSide, SkinAtlas& out);

}  // namespace tarn
