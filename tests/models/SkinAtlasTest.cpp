// Textures put side by side into one skin: each keeps its pixels, and coordinates into it land
// in its place, never in a neighbour's, whether a lookup takes the texel under them or they
// are rounded to whole texels.
#include <gtest/gtest.h>

#include <cmath>

#include "models/SkinAtlas.h"

namespace tarn {
namespace {

RgbaImage Filled(int width, int height, std::uint8_t red) {
  RgbaImage image;
  image.width = width, image.height = height;
  image.rgba.assign(static_cast<std::size_t>(width) * height * 4, 255);
  for (std::size_t i = 0; i < image.rgba.size(); i += 4) image.rgba[i] = red;
  return image;
}

std::uint8_t RedAt(const RgbaImage& image, float u, float v, bool rounded) {
  const auto texel = [&](float c, int size) {
    return std::min(size - 1, static_cast<int>(rounded ? std::lround(c * size) : std::floor(c * size)));
  };
  return image.rgba[(static_cast<std::size_t>(texel(v, image.height)) * image.width + texel(u, image.width)) * 4];
}

TEST(SkinAtlas, EachTextureKeepsItsPixelsAndItsCoordinatesStayInItsPlace) {
  const RgbaImage wide = Filled(8, 2, 10), tall = Filled(2, 8, 20), small = Filled(3, 3, 30);
  SkinAtlas atlas;
  ASSERT_TRUE(PackSkinAtlas({&wide, &tall, &small}, 64, atlas));
  ASSERT_EQ(atlas.places.size(), 3u);
  const std::uint8_t reds[] = {10, 20, 30};
  for (int t = 0; t < 3; ++t) {
    // Every corner and the middle of each texture, and coordinates past its edges (wrapping
    // ones, a NaN), sample that texture.
    for (auto [u, v] : {std::pair{0.f, 0.f}, {1.f, 1.f}, {0.5f, 0.5f}, {1.f, 0.f}, {-0.7f, 2.5f}, {NAN, 0.3f}}) {
      float mu = u, mv = v;
      atlas.Map(t, mu, mv);
      for (bool rounded : {false, true})
        EXPECT_EQ(RedAt(atlas.image, mu, mv, rounded), reds[t]) << "texture " << t << " at " << u << "," << v;
    }
  }
  // No two places overlap.
  for (int a = 0; a < 3; ++a)
    for (int b = a + 1; b < 3; ++b) {
      const auto& p = atlas.places[a];
      const auto& q = atlas.places[b];
      EXPECT_TRUE(p.x + p.width <= q.x || q.x + q.width <= p.x || p.y + p.height <= q.y || q.y + q.height <= p.y);
    }
  // Too large for the side allowed, or a texture without its pixels: refused, nothing changed.
  SkinAtlas kept = atlas;
  EXPECT_FALSE(PackSkinAtlas({&wide, &tall}, 6, kept));
  RgbaImage hollow = Filled(4, 4, 1);
  hollow.rgba.resize(5);
  EXPECT_FALSE(PackSkinAtlas({&hollow}, 64, kept));
  EXPECT_EQ(kept.image.rgba, atlas.image.rgba);
}

}  // namespace
}  // namespace tarn
