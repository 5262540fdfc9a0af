// Builders of small models of modelling programs for the tests: an Inter-Quake model and glTF
// files of the shapes hostile downloads take.
#pragma once

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "fileio/ByteIO.h"

namespace tarn::test {

// An Inter-Quake model (".iqm", version 2, laid out as iqm.txt says): one mesh of the given
// triangles over the given positions and texture coordinates, with material as its texture.
// With joints > 0, joint 0 is the root and the others its children, all at rest at the origin,
// vertex i follows joint boundTo[i] alone, and one animation (name, rate frames a second) moves
// joint j of frame f by frames[f][j] (in steps of 1/2 unit).
struct IqmSpec {
  std::vector<std::array<float, 3>> positions;
  std::vector<std::array<float, 2>> uv;
  std::vector<std::array<std::uint32_t, 3>> triangles;
  std::string material = "skin.tga";
  int joints = 0;
  std::vector<std::uint8_t> boundTo;
  std::string animation = "wave";
  float rate = 10;
  std::vector<std::vector<std::array<float, 3>>> frames;
};

// Offsets of the vertex arrays' records in what Iqm builds (each 20 bytes: type, flags, format,
// size, offset): the tests damage them.
inline constexpr std::size_t kIqmArraysAt = 124 + 64;

inline Bytes Iqm(const IqmSpec& s) {
  Bytes b(124, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  auto add32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  auto addF = [&](float f) {
    std::uint32_t v;
    std::memcpy(&v, &f, 4);
    add32(v);
  };
  std::memcpy(b.data(), "INTERQUAKEMODEL", 16);
  put32(16, 2);
  // Names: "" first, then the material and the animation, padded to 64 bytes.
  std::string text(1, '\0');
  const auto material = static_cast<std::uint32_t>(text.size());
  text += s.material + '\0';
  const auto animation = static_cast<std::uint32_t>(text.size());
  text += s.animation + '\0';
  text.resize(64, '\0');
  put32(28, 64), put32(32, 124);
  b.insert(b.end(), text.begin(), text.end());
  const bool skinned = s.joints > 0;
  const std::uint32_t vertices = static_cast<std::uint32_t>(s.positions.size()), arrays = skinned ? 4 : 2;
  // The vertex arrays' records, then their data.
  const std::uint32_t dataAt = static_cast<std::uint32_t>(b.size() + arrays * 20);
  const std::uint32_t uvAt = dataAt + vertices * 12, indexAt = uvAt + vertices * 8, weightAt = indexAt + vertices * 4;
  put32(44, arrays), put32(48, vertices), put32(52, static_cast<std::uint32_t>(b.size()));
  for (auto [type, format, size, at] :
       {std::array<std::uint32_t, 4>{0, 7, 3, dataAt}, {1, 7, 2, uvAt}, {4, 1, 4, indexAt}, {5, 1, 4, weightAt}}) {
    if (type >= 4 && !skinned) break;
    add32(type), add32(0), add32(format), add32(size), add32(at);
  }
  for (const auto& p : s.positions)
    for (float f : p) addF(f);
  for (std::uint32_t v = 0; v < vertices; ++v)
    for (int k = 0; k < 2; ++k) addF(v < s.uv.size() ? s.uv[v][k] : 0);
  if (skinned) {
    for (std::uint32_t v = 0; v < vertices; ++v) add32(v < s.boundTo.size() ? s.boundTo[v] : 0);
    for (std::uint32_t v = 0; v < vertices; ++v) add32(255);
  }
  put32(56, static_cast<std::uint32_t>(s.triangles.size())), put32(60, static_cast<std::uint32_t>(b.size()));
  for (const auto& t : s.triangles)
    for (std::uint32_t v : t) add32(v);
  put32(36, 1), put32(40, static_cast<std::uint32_t>(b.size()));
  add32(0), add32(material), add32(0), add32(vertices), add32(0), add32(static_cast<std::uint32_t>(s.triangles.size()));
  if (skinned) {
    const auto joints = static_cast<std::uint32_t>(s.joints);
    put32(68, joints), put32(72, static_cast<std::uint32_t>(b.size()));
    for (std::uint32_t j = 0; j < joints; ++j) {
      add32(0), add32(j == 0 ? 0xFFFFFFFFu : 0);
      for (float f : {0.f, 0.f, 0.f, 0.f, 0.f, 0.f, 1.f, 1.f, 1.f, 1.f}) addF(f);
    }
    // Poses: the translation in channels of their own (half units), the rest fixed at rest.
    put32(76, joints), put32(80, static_cast<std::uint32_t>(b.size()));
    for (std::uint32_t j = 0; j < joints; ++j) {
      add32(j == 0 ? 0xFFFFFFFFu : 0), add32(0x7);
      for (float f : {0.f, 0.f, 0.f, 0.f, 0.f, 0.f, 1.f, 1.f, 1.f, 1.f}) addF(f);
      for (float f : {0.5f, 0.5f, 0.5f, 0.f, 0.f, 0.f, 0.f, 0.f, 0.f, 0.f}) addF(f);
    }
    put32(84, 1), put32(88, static_cast<std::uint32_t>(b.size()));
    add32(animation), add32(0), add32(static_cast<std::uint32_t>(s.frames.size())), addF(s.rate), add32(0);
    put32(92, static_cast<std::uint32_t>(s.frames.size())), put32(96, joints * 3);
    put32(100, static_cast<std::uint32_t>(b.size()));
    for (const auto& frame : s.frames) {
      for (const auto& t : frame)
        for (float f : t) b.push_back(static_cast<std::uint8_t>(static_cast<int>(f * 2))), b.push_back(0);
    }
    while (b.size() % 4) b.push_back(0);
  }
  put32(20, static_cast<std::uint32_t>(b.size()));
  return b;
}

// A glTF 2.0 document of the given nodes (JSON text of the array) around one mesh of one
// triangle, its buffer at uri (inside the file when empty).
inline std::string Gltf(const std::string& nodes, const std::string& uri = "") {
  // Three positions (0 0 0), (1 0 0), (0 1 0) as 36 bytes in base 64.
  const std::string data = "data:application/octet-stream;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA";
  return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":)" + nodes +
         R"(,"meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],)"
         R"("accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3",)"
         R"("min":[0,0,0],"max":[1,1,0]}],"bufferViews":[{"buffer":0,"byteLength":36}],)"
         R"("buffers":[{"byteLength":36,"uri":")" +
         (uri.empty() ? data : uri) + R"("}]})";
}

}  // namespace tarn::test
