// Game files built byte by byte, without the test framework, so the benchmarks build the same
// fixtures as the tests: mip textures and the maps that hold them, pictures, models, sprites.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace tarn::test {

using Bytes = std::vector<std::uint8_t>;

inline void PutU32(Bytes& b, std::size_t at, std::uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

using PixelFn = std::function<std::uint8_t(int x, int y)>;

// A mip texture whose full-size pixel (x, y) is f(x, y); each smaller level the top left pixel
// of its square.
inline Bytes ArtMiptex(const std::string& name, int w, int h, const PixelFn& f) {
  Bytes b(40, 0);
  std::memcpy(b.data(), name.data(), std::min<std::size_t>(name.size(), 15));
  PutU32(b, 16, static_cast<std::uint32_t>(w));
  PutU32(b, 20, static_cast<std::uint32_t>(h));
  for (int k = 0; k < 4; ++k) {
    PutU32(b, 24 + 4 * k, static_cast<std::uint32_t>(b.size()));
    for (int y = 0; y < (h >> k); ++y)
      for (int x = 0; x < (w >> k); ++x) b.push_back(f(x << k, y << k));
  }
  return b;
}

// A Quake map of nothing but its texture lump.
inline Bytes TextureMap(const std::vector<Bytes>& textures) {
  Bytes lump;
  PutU32(lump, 0, static_cast<std::uint32_t>(textures.size()));
  lump.resize(4 + 4 * textures.size());
  for (std::size_t i = 0; i < textures.size(); ++i) {
    PutU32(lump, 4 + 4 * i, static_cast<std::uint32_t>(lump.size()));
    lump.insert(lump.end(), textures[i].begin(), textures[i].end());
  }
  Bytes map(124, 0);
  PutU32(map, 0, 29);
  PutU32(map, 4 + 2 * 8, 124);
  PutU32(map, 4 + 2 * 8 + 4, static_cast<std::uint32_t>(lump.size()));
  map.insert(map.end(), lump.begin(), lump.end());
  return map;
}

// A Quake picture (.lmp, or a WAD's 'B' lump).
inline Bytes ArtLmp(int w, int h, const PixelFn& f) {
  Bytes b;
  PutU32(b, 0, static_cast<std::uint32_t>(w));
  PutU32(b, 4, static_cast<std::uint32_t>(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.push_back(f(x, y));
  return b;
}

// A Quake model with no frames: skins of w × h, each a single skin of one pattern, or (a
// group) several; the header and skins are all the art tools read.
struct ArtSkin {
  std::vector<PixelFn> pictures;  // one: a single skin; more: a group
};
inline Bytes ArtMdl(int w, int h, const std::vector<ArtSkin>& skins) {
  Bytes b(84, 0);
  std::memcpy(b.data(), "IDPO", 4);
  PutU32(b, 4, 6);
  PutU32(b, 48, static_cast<std::uint32_t>(skins.size()));
  PutU32(b, 52, static_cast<std::uint32_t>(w));
  PutU32(b, 56, static_cast<std::uint32_t>(h));
  for (const ArtSkin& s : skins) {
    PutU32(b, b.size(), s.pictures.size() == 1 ? 0 : 1);
    if (s.pictures.size() > 1) {
      PutU32(b, b.size(), static_cast<std::uint32_t>(s.pictures.size()));
      for (std::size_t k = 0; k < s.pictures.size(); ++k) PutU32(b, b.size(), 0x3DCCCCCD);  // 0.1 s
    }
    for (const PixelFn& f : s.pictures)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.push_back(f(x, y));
  }
  return b;
}

// A Quake sprite of single frames of w × h.
inline Bytes ArtSpr(int w, int h, const std::vector<PixelFn>& frames) {
  Bytes b(36, 0);
  std::memcpy(b.data(), "IDSP", 4);
  PutU32(b, 4, 1);
  PutU32(b, 16, static_cast<std::uint32_t>(w));
  PutU32(b, 20, static_cast<std::uint32_t>(h));
  PutU32(b, 24, static_cast<std::uint32_t>(frames.size()));
  for (const PixelFn& f : frames) {
    PutU32(b, b.size(), 0);
    PutU32(b, b.size(), 0);
    PutU32(b, b.size(), 0);
    PutU32(b, b.size(), static_cast<std::uint32_t>(w));
    PutU32(b, b.size(), static_cast<std::uint32_t>(h));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) b.push_back(f(x, y));
  }
  return b;
}

}  // namespace tarn::test
