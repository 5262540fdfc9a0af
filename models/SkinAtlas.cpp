#include "models/SkinAtlas.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

namespace tarn {

void SkinAtlas::Map(int t, float& u, float& v) const {
  if (t < 0 || static_cast<std::size_t>(t) >= places.size() || image.width <= 0 || image.height <= 0) return;
  const Place& p = places[static_cast<std::size_t>(t)];
  // A quarter of a texel in from the place's edges: a lookup there takes the place's edge texel,
  // and so does a coordinate rounded to whole texels (the games' models keep them so).
  const auto inside = [](float c, int at, int size, int whole) {
    if (!std::isfinite(c)) c = 0;
    const float lo = (at + 0.25f) / whole, hi = (at + size - 0.75f) / whole;
    return std::clamp((at + c * size) / whole, lo, std::max(lo, hi));
  };
  u = inside(u, p.x, p.width, image.width);
  v = inside(v, p.y, p.height, image.height);
}

bool PackSkinAtlas(const std::vector<const RgbaImage*>& textures, int maxSide, SkinAtlas& out) {
  if (textures.empty()) return false;
  std::int64_t area = 0;
  int widest = 0;
  for (const RgbaImage* t : textures) {
    if (!t || t->width < 1 || t->height < 1 || t->width > maxSide || t->height > maxSide ||
        t->rgba.size() != static_cast<std::size_t>(t->width) * t->height * 4)
      return false;
    area += static_cast<std::int64_t>(t->width) * t->height;
    widest = std::max(widest, t->width);
  }
  // Rows about as wide as the atlas is high, so that neither side runs far past the other.
  const int width = std::min(maxSide, std::max(widest, static_cast<int>(std::ceil(std::sqrt(double(area))))));
  std::vector<std::size_t> order(textures.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return textures[a]->height > textures[b]->height; });
  std::vector<SkinAtlas::Place> places(textures.size());
  int x = 0, y = 0, rowHeight = 0;
  for (std::size_t i : order) {
    const RgbaImage& t = *textures[i];
    if (x + t.width > width) x = 0, y += rowHeight, rowHeight = 0;
    if (y + t.height > maxSide) return false;
    places[i] = {x, y, t.width, t.height};
    x += t.width;
    rowHeight = std::max(rowHeight, t.height);
  }
  SkinAtlas atlas;
  atlas.image.width = width;
  atlas.image.height = y + rowHeight;
  atlas.image.rgba.assign(static_cast<std::size_t>(atlas.image.width) * atlas.image.height * 4, 0);
  for (std::size_t i = 0; i < textures.size(); ++i) {
    const RgbaImage& t = *textures[i];
    const SkinAtlas::Place& p = places[i];
    for (int row = 0; row < t.height; ++row)
      std::memcpy(&atlas.image.rgba[(static_cast<std::size_t>(p.y + row) * atlas.image.width + p.x) * 4],
                  &t.rgba[static_cast<std::size_t>(row) * t.width * 4], static_cast<std::size_t>(t.width) * 4);
  }
  atlas.places = std::move(places);
  out = std::move(atlas);
  return true;
}

}  // namespace tarn
