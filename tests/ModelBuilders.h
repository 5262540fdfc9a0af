// Builders of small Quake and Quake II models for the tests.
#pragma once

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace tarn::test {

inline void PutF32(Bytes& b, std::size_t at, float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, 4);
  PutU32(b, at, bits);
}

inline void PutI16(Bytes& b, std::size_t at, std::int16_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8);
}

// A Quake model: single skins (skin k's index = (x + y + 50k) % 256), three vertices, one
// triangle, and a simple frame per name (vertex i at (i, 2i, 3i) before scale 2 and translate 1).
inline Bytes Mdl(const std::vector<std::string>& frames, int skinW = 4, int skinH = 2, std::int32_t version = 6,
                 int skins = 1) {
  Bytes b(84, 0);
  std::memcpy(b.data(), "IDPO", 4);
  PutU32(b, 4, static_cast<std::uint32_t>(version));
  for (int i = 0; i < 3; ++i) PutF32(b, 8 + 4 * i, 2.0f), PutF32(b, 20 + 4 * i, 1.0f);
  PutU32(b, 48, static_cast<std::uint32_t>(skins));
  PutU32(b, 52, static_cast<std::uint32_t>(skinW));
  PutU32(b, 56, static_cast<std::uint32_t>(skinH));
  PutU32(b, 60, 3);
  PutU32(b, 64, 1);
  PutU32(b, 68, static_cast<std::uint32_t>(frames.size()));
  for (int k = 0; k < skins; ++k) {
    PutU32(b, b.size(), 0);
    for (int y = 0; y < skinH; ++y)
      for (int x = 0; x < skinW; ++x) b.push_back(static_cast<std::uint8_t>((x + y + 50 * k) % 256));
  }
  for (int v = 0; v < 3; ++v) {  // onseam, s, t
    std::size_t at = b.size();
    PutU32(b, at, v == 0 ? 1 : 0);
    PutU32(b, at + 4, static_cast<std::uint32_t>(10 * v));
    PutU32(b, at + 8, static_cast<std::uint32_t>(5 * v));
  }
  std::size_t at = b.size();
  PutU32(b, at, 0);  // faces back
  PutU32(b, at + 4, 0), PutU32(b, at + 8, 1), PutU32(b, at + 12, 2);
  for (const auto& name : frames) {
    PutU32(b, b.size(), 0);
    b.resize(b.size() + 8, 0);
    std::size_t n = b.size();
    b.resize(n + 16, 0);
    std::memcpy(&b[n], name.data(), std::min<std::size_t>(name.size(), 15));
    for (int v = 0; v < 3; ++v)
      b.insert(b.end(),
               {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(2 * v), static_cast<std::uint8_t>(3 * v), 0});
  }
  return b;
}

// A Quake model of one frame over the given vertices (on the byte grid, scale 1, no
// translation, each with its index into the games' normals) and triangles, its 8 × 8 skin all
// of palette index colour and every texture coordinate at the skin's corner: an untextured
// model, whose faces differ by their shading alone.
struct ShapeVertex {
  std::uint8_t x, y, z, normal;
};
inline Bytes ShapeMdl(const std::vector<ShapeVertex>& vertices, const std::vector<std::array<int, 3>>& triangles,
                      std::uint8_t colour) {
  Bytes b(84, 0);
  std::memcpy(b.data(), "IDPO", 4);
  PutU32(b, 4, 6);
  for (int i = 0; i < 3; ++i) PutF32(b, 8 + 4 * i, 1.0f), PutF32(b, 20 + 4 * i, 0.0f);
  PutU32(b, 48, 1);
  PutU32(b, 52, 8);
  PutU32(b, 56, 8);
  PutU32(b, 60, static_cast<std::uint32_t>(vertices.size()));
  PutU32(b, 64, static_cast<std::uint32_t>(triangles.size()));
  PutU32(b, 68, 1);
  PutU32(b, b.size(), 0);
  b.insert(b.end(), 64, colour);
  b.resize(b.size() + 12 * vertices.size(), 0);  // onseam, s, t
  for (const auto& t : triangles) {
    const std::size_t at = b.size();
    PutU32(b, at, 1);  // faces front
    for (int k = 0; k < 3; ++k) PutU32(b, at + 4 + 4 * static_cast<std::size_t>(k), static_cast<std::uint32_t>(t[k]));
  }
  PutU32(b, b.size(), 0);  // a simple frame
  b.resize(b.size() + 8 + 16, 0);
  std::memcpy(&b[b.size() - 16], "shape1", 6);
  for (const ShapeVertex& v : vertices) b.insert(b.end(), {v.x, v.y, v.z, v.normal});
  return b;
}

// A Quake II model with three vertices, three texture coordinates, one triangle (corners use
// texture coordinates 2, 1, 0) and the given skin paths and frame names.
inline Bytes Md2(const std::vector<std::string>& skins, const std::vector<std::string>& frames) {
  const std::int32_t frameSize = 40 + 3 * 4;
  Bytes b(68, 0);
  std::memcpy(b.data(), "IDP2", 4);
  PutU32(b, 4, 8);
  PutU32(b, 16, frameSize);
  PutU32(b, 20, static_cast<std::uint32_t>(skins.size()));
  PutU32(b, 24, 3);
  PutU32(b, 28, 3);
  PutU32(b, 32, 1);
  PutU32(b, 40, static_cast<std::uint32_t>(frames.size()));
  const std::size_t skinsAt = 68, stAt = skinsAt + 64 * skins.size(), trisAt = stAt + 12, framesAt = trisAt + 12;
  PutU32(b, 44, static_cast<std::uint32_t>(skinsAt));
  PutU32(b, 48, static_cast<std::uint32_t>(stAt));
  PutU32(b, 52, static_cast<std::uint32_t>(trisAt));
  PutU32(b, 56, static_cast<std::uint32_t>(framesAt));
  b.resize(framesAt + frames.size() * frameSize, 0);
  for (std::size_t i = 0; i < skins.size(); ++i) std::memcpy(&b[skinsAt + 64 * i], skins[i].data(), skins[i].size());
  for (int i = 0; i < 3; ++i) PutI16(b, stAt + 4 * i, static_cast<std::int16_t>(8 * i)), PutI16(b, stAt + 4 * i + 2, 4);
  for (int i = 0; i < 3; ++i)
    PutI16(b, trisAt + 2 * i, static_cast<std::int16_t>(i)),
        PutI16(b, trisAt + 6 + 2 * i, static_cast<std::int16_t>(2 - i));
  for (std::size_t f = 0; f < frames.size(); ++f) {
    std::size_t at = framesAt + f * frameSize;
    for (int i = 0; i < 3; ++i) PutF32(b, at + 4 * i, 1.0f);
    std::memcpy(&b[at + 24], frames[f].data(), std::min<std::size_t>(frames[f].size(), 15));
    for (int v = 0; v < 3; ++v) b[at + 40 + 4 * v] = static_cast<std::uint8_t>(v + 1);
  }
  return b;
}

// A 2 × 1 PCX whose palette maps index i to (i, i, 255).
inline Bytes SkinPcx() {
  Bytes b(128, 0);
  b[1] = 5, b[3] = 8, b[8] = 1, b[65] = 1, b[66] = 2;
  b.insert(b.end(), {0x03, 0x07, 0x0C});
  for (int i = 0; i < 256; ++i) b.insert(b.end(), {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i), 255});
  return b;
}

// A Quake III model (".md3"), its layout as id's qfiles.h md3Header_t and md3Surface_t have it:
// one surface of one triangle over three vertices, a shader naming shader (a texture path),
// and frames positions apart, vertex i of frame f at (i + f, 2i, 3i) (in 1/64 units).
inline Bytes Md3(int frames, const std::string& shader) {
  constexpr std::size_t kHeader = 108, kFrame = 56, kSurface = 108;
  const std::size_t surfaceAt = kHeader + kFrame * static_cast<std::size_t>(frames);
  const std::size_t shadersAt = kSurface, trisAt = shadersAt + 68, stAt = trisAt + 12, xyzAt = stAt + 3 * 8;
  const std::size_t surfaceEnd = xyzAt + 3 * 8 * static_cast<std::size_t>(frames);
  Bytes b(surfaceAt + surfaceEnd, 0);
  std::memcpy(b.data(), "IDP3", 4);
  PutU32(b, 4, 15);
  std::memcpy(&b[8], "test", 4);
  PutU32(b, 76, static_cast<std::uint32_t>(frames)), PutU32(b, 80, 0), PutU32(b, 84, 1), PutU32(b, 88, 0);
  PutU32(b, 92, kHeader), PutU32(b, 96, static_cast<std::uint32_t>(surfaceAt));
  PutU32(b, 100, static_cast<std::uint32_t>(surfaceAt)), PutU32(b, 104, static_cast<std::uint32_t>(b.size()));
  for (int f = 0; f < frames; ++f) {
    const std::size_t at = kHeader + kFrame * static_cast<std::size_t>(f);
    PutF32(b, at + 12, 3.0f), PutF32(b, at + 16, 3.0f), PutF32(b, at + 20, 3.0f), PutF32(b, at + 36, 4.0f);
    const std::string name = "frame" + std::to_string(f + 1);
    std::memcpy(&b[at + 40], name.data(), name.size());
  }
  const std::size_t s0 = surfaceAt;
  std::memcpy(&b[s0], "IDP3", 4);
  std::memcpy(&b[s0 + 4], "body", 4);
  PutU32(b, s0 + 72, static_cast<std::uint32_t>(frames)), PutU32(b, s0 + 76, 1), PutU32(b, s0 + 80, 3);
  PutU32(b, s0 + 84, 1), PutU32(b, s0 + 88, trisAt), PutU32(b, s0 + 92, shadersAt), PutU32(b, s0 + 96, stAt);
  PutU32(b, s0 + 100, xyzAt), PutU32(b, s0 + 104, static_cast<std::uint32_t>(surfaceEnd));
  std::memcpy(&b[s0 + shadersAt], shader.data(), std::min<std::size_t>(shader.size(), 63));
  for (int i = 0; i < 3; ++i) PutU32(b, s0 + trisAt + 4 * i, static_cast<std::uint32_t>(i));
  const float st[3][2] = {{0, 0}, {1, 0}, {0, 1}};
  for (int i = 0; i < 3; ++i) PutF32(b, s0 + stAt + 8 * i, st[i][0]), PutF32(b, s0 + stAt + 8 * i + 4, st[i][1]);
  for (int f = 0; f < frames; ++f)
    for (int i = 0; i < 3; ++i) {
      const std::size_t at = s0 + xyzAt + (static_cast<std::size_t>(f) * 3 + i) * 8;
      PutI16(b, at, static_cast<std::int16_t>(64 * (i + f))), PutI16(b, at + 2, static_cast<std::int16_t>(128 * i));
      PutI16(b, at + 4, static_cast<std::int16_t>(192 * i));
    }
  return b;
}

// An uncompressed 24-bit TGA of w × h pixels, all of one colour.
inline Bytes SolidTga(int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t bl) {
  Bytes b(18, 0);
  b[2] = 2, b[16] = 24, b[17] = 0x20;  // true colour, top row first
  b[12] = static_cast<std::uint8_t>(w), b[14] = static_cast<std::uint8_t>(h);
  for (int i = 0; i < w * h; ++i) b.insert(b.end(), {bl, g, r});
  return b;
}

// A 16 × 16 TGA of one colour with a white top-left quarter, to tell its sides apart.
inline Bytes MarkedTga(std::uint8_t r, std::uint8_t g, std::uint8_t bl) {
  Bytes b(18, 0);
  b[2] = 2, b[12] = 16, b[14] = 16, b[16] = 24, b[17] = 0x20;  // true colour, top row first
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const bool mark = x < 8 && y < 8;
      b.insert(b.end(), {mark ? std::uint8_t{255} : bl, mark ? std::uint8_t{255} : g, mark ? std::uint8_t{255} : r});
    }
  return b;
}

}  // namespace tarn::test
