// A generated Quake map of the size of a large level, for the benchmarks of loading and of
// drawing maps.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace tarn::bench {

using Bytes = std::vector<std::uint8_t>;

inline void U32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void U16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void F32(Bytes& b, float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, 4);
  U32(b, bits);
}

// A BSP29 map of faces floor tiles, 64 units square, each with its own 5 × 5 lightmap; its own
// vertices and edges, as a compiler writes them for faces that share no corners.
inline Bytes MakeMap(int faces) {
  const int textures = 64, side = 256;
  std::vector<Bytes> lumps(15);
  // A level: somewhere for a player to start, so that it is drawn one-sided as levels are.
  const std::string entities =
      "{\"classname\" \"worldspawn\"}\n{\"classname\" \"info_player_start\" \"origin\" \"32 32 24\"}\n";
  lumps[0].assign(entities.begin(), entities.end());
  lumps[0].push_back(0);
  U32(lumps[2], textures);
  lumps[2].resize(4 + 4 * textures);
  for (int t = 0; t < textures; ++t) {
    const auto offset = static_cast<std::uint32_t>(lumps[2].size());
    std::memcpy(lumps[2].data() + 4 + 4 * t, &offset, 4);
    Bytes m(40, 0);
    const std::string name = "tex" + std::to_string(t);
    std::memcpy(m.data(), name.data(), name.size());
    m[16] = 64, m[20] = 64;
    std::uint32_t at = 40;
    for (int k = 0; k < 4; ++k) {
      std::memcpy(m.data() + 24 + 4 * k, &at, 4);
      at += (64u >> k) * (64u >> k);
    }
    m.resize(at, static_cast<std::uint8_t>(t));
    lumps[2].insert(lumps[2].end(), m.begin(), m.end());
  }
  for (int t = 0; t < textures; ++t) {
    for (float f : {1.f, 0.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f}) F32(lumps[6], f);
    U32(lumps[6], static_cast<std::uint32_t>(t));
    U32(lumps[6], 0);
  }
  U32(lumps[12], 0), U32(lumps[12], 0);  // edge 0 is never used
  for (int i = 0; i < faces; ++i) {
    const float x = static_cast<float>(i % side) * 64, y = static_cast<float>(i / side) * 64;
    const std::uint32_t base = static_cast<std::uint32_t>(lumps[3].size() / 12);
    // Clockwise seen from above, the side a floor is seen from.
    for (auto [vx, vy] : {std::pair{x, y}, {x, y + 64}, {x + 64, y + 64}, {x + 64, y}})
      F32(lumps[3], vx), F32(lumps[3], vy), F32(lumps[3], 0);
    const std::uint32_t firstEdge = static_cast<std::uint32_t>(lumps[13].size() / 4);
    for (std::uint32_t k = 0; k < 4; ++k) {
      U32(lumps[13], static_cast<std::uint32_t>(lumps[12].size() / 4));
      U16(lumps[12], base + k), U16(lumps[12], base + (k + 1) % 4);
    }
    U16(lumps[7], 0), U16(lumps[7], 0), U32(lumps[7], firstEdge), U16(lumps[7], 4);
    U16(lumps[7], static_cast<std::uint32_t>(i % textures));
    lumps[7].insert(lumps[7].end(), {0, 255, 255, 255});
    U32(lumps[7], static_cast<std::uint32_t>(lumps[8].size()));
    lumps[8].resize(lumps[8].size() + 25, static_cast<std::uint8_t>(i));
  }
  for (float f : {0.f, 0.f, -8.f, side * 64.f, 64.f * (faces / side + 1), 8.f, 0.f, 0.f, 0.f}) F32(lumps[14], f);
  lumps[14].resize(lumps[14].size() + 20, 0);
  U32(lumps[14], 0), U32(lumps[14], static_cast<std::uint32_t>(faces));

  Bytes out;
  U32(out, 29);
  out.resize(4 + 15 * 8);
  for (std::size_t i = 0; i < lumps.size(); ++i) {
    const auto at = static_cast<std::uint32_t>(out.size()), length = static_cast<std::uint32_t>(lumps[i].size());
    std::memcpy(out.data() + 4 + 8 * i, &at, 4);
    std::memcpy(out.data() + 8 + 8 * i, &length, 4);
    out.insert(out.end(), lumps[i].begin(), lumps[i].end());
    while (out.size() % 4) out.push_back(0);
  }
  return out;
}

}  // namespace tarn::bench
