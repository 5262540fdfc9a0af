// A tiny Half-Life studio model for the tests (version 10, laid out as the Half-Life SDK's
// engine/studio.h describes): one bone, one body part of one submodel with one mesh (a strip of
// three vertices), one sequence and one texture with its own palette; the textures may be kept in
// NAMEt.mdl and the sequence in group 1 (NAME01.mdl), as studiomdl splits them.
#pragma once

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace tarn::test {

struct StudioSpec {
  std::vector<std::array<float, 3>> vertices = {{{0, 0, 0}}, {{8, 0, 0}}, {{0, 8, 0}}};
  // One strip over the vertices in this order; a negative count makes it a fan.
  std::vector<std::int16_t> strip = {0, 1, 2};
  bool fan = false;
  int textureWidth = 4, textureHeight = 4;
  // More than one: a mesh each, all drawing the same strip, texture t's palette giving index i
  // the colour (i, t, 0).
  int textures = 1;
  bool externalTextures = false;  // textures in the T file, none in the model
  int group = 0;                  // the sequence's group: 0 in the model, 1 in the 01 file
  std::string sequence = "idle";
  float fps = 10;
  // Each frame: the bone's x (in units) and its turn about z (in hundredths of a right angle).
  std::vector<std::array<std::int16_t, 2>> frames = {{{0, 0}}, {{10, 100}}};
};

struct StudioBuild {
  Bytes model, textures, group;  // NAME.mdl, NAMEt.mdl (when external), NAME01.mdl (group 1)
};

// Offsets in what BuildStudio makes, for the tests that damage it.
inline constexpr std::size_t kStudioNumBones = 140, kStudioNumSeq = 164, kStudioNumTextures = 180,
                             kStudioBodyPartIndex = 208;

namespace studio {

class CWriter {
 public:
  Bytes bytes;
  std::size_t Here() const { return bytes.size(); }
  void I32(std::int32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i)));
  }
  void F32(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, 4);
    I32(static_cast<std::int32_t>(u));
  }
  void I16(std::int16_t v) {
    bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((static_cast<std::uint16_t>(v) >> 8) & 0xFF));
  }
  void Text(const std::string& s, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) bytes.push_back(i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0);
  }
  void Zeros(std::size_t n) { bytes.insert(bytes.end(), n, 0); }
  void Set32(std::size_t at, std::int32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i));
  }
  void Set16(std::size_t at, std::uint16_t v) {
    bytes[at] = static_cast<std::uint8_t>(v & 0xFF);
    bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }
};

// A studio header (IDST, version 10) with every count zero; the fields are set as tables follow.
inline void Header(CWriter& w, const std::string& name) {
  w.Text("IDST", 4);
  w.I32(10);
  w.Text(name, 64);
  w.Zeros(244 - 72);
}

// The texture table and skin family 0 at the writer's end, the pixels (a gradient) and palette
// (index i is grey i) after them.
inline void Textures(CWriter& w, const StudioSpec& s) {
  const std::size_t table = w.Here();
  std::vector<std::size_t> indexFields;
  for (int t = 0; t < s.textures; ++t) {
    w.Text("skin" + std::to_string(t) + ".bmp", 64);
    w.I32(0);  // flags
    w.I32(s.textureWidth);
    w.I32(s.textureHeight);
    indexFields.push_back(w.Here());
    w.I32(0);
  }
  const std::size_t skins = w.Here();
  for (int t = 0; t < s.textures; ++t) w.I16(static_cast<std::int16_t>(t));
  if (s.textures % 2) w.Zeros(2);
  for (int t = 0; t < s.textures; ++t) {
    w.Set32(indexFields[static_cast<std::size_t>(t)], static_cast<std::int32_t>(w.Here()));
    for (int i = 0; i < s.textureWidth * s.textureHeight; ++i) w.bytes.push_back(static_cast<std::uint8_t>(i * 16));
    for (int i = 0; i < 256; ++i) {
      w.bytes.push_back(static_cast<std::uint8_t>(i));
      w.bytes.push_back(static_cast<std::uint8_t>(t == 0 ? i : t));
      w.bytes.push_back(static_cast<std::uint8_t>(t == 0 ? i : 0));
    }
  }
  w.Set32(180, s.textures);
  w.Set32(184, static_cast<std::int32_t>(table));
  w.Set32(188, static_cast<std::int32_t>(table));
  w.Set32(192, s.textures);  // skin references
  w.Set32(196, 1);           // families
  w.Set32(200, static_cast<std::int32_t>(skins));
}

// The sequence's values for its bone: channel x and channel z-rotation, each one run of all
// its frames; offsets from the start of the block.
inline void Animation(CWriter& w, const StudioSpec& s) {
  const std::size_t at = w.Here();
  w.Zeros(12);
  const auto n = static_cast<std::uint8_t>(s.frames.size());
  w.Set16(at + 0, static_cast<std::uint16_t>(w.Here() - at));
  w.bytes.push_back(n), w.bytes.push_back(n);
  for (const auto& f : s.frames) w.I16(f[0]);
  w.Set16(at + 10, static_cast<std::uint16_t>(w.Here() - at));
  w.bytes.push_back(n), w.bytes.push_back(n);
  for (const auto& f : s.frames) w.I16(f[1]);
}

}  // namespace studio

inline StudioBuild BuildStudio(const StudioSpec& s) {
  using studio::CWriter;
  StudioBuild out;
  CWriter w;
  studio::Header(w, "tiny.mdl");

  // One bone at the origin; its x channel moves a unit a step, its z-rotation a hundredth of a
  // right angle.
  w.Set32(140, 1);
  w.Set32(144, static_cast<std::int32_t>(w.Here()));
  w.Text("root", 32);
  w.I32(-1);
  w.I32(0);
  for (int i = 0; i < 6; ++i) w.I32(-1);
  for (int i = 0; i < 6; ++i) w.F32(0);
  const float scale[6] = {1, 1, 1, 0, 0, static_cast<float>(3.14159265358979 / 200)};
  for (float f : scale) w.F32(f);

  // Sequence groups: 0, the model itself, and 1 when the sequence is kept apart.
  w.Set32(172, s.group == 0 ? 1 : 2);
  w.Set32(176, static_cast<std::int32_t>(w.Here()));
  for (int g = 0; g <= s.group; ++g) {
    w.Text(g == 0 ? "default" : "group1", 32);
    w.Text(g == 0 ? "" : "models/tiny01.mdl", 64);
    w.I32(0);
    w.I32(0);
  }

  // The sequence.
  w.Set32(164, 1);
  w.Set32(168, static_cast<std::int32_t>(w.Here()));
  const std::size_t seq = w.Here();
  w.Text(s.sequence, 32);
  w.F32(s.fps);
  w.Zeros(176 - 36);
  w.Set32(seq + 56, static_cast<std::int32_t>(s.frames.size()));
  w.Set32(seq + 72, 0);   // motion bone
  w.Set32(seq + 120, 1);  // blends
  w.Set32(seq + 156, s.group);
  if (s.group == 0) {
    w.Set32(seq + 124, static_cast<std::int32_t>(w.Here()));
    studio::Animation(w, s);
  } else {
    CWriter g;
    g.Text("IDSQ", 4);
    g.I32(10);
    g.Text("tiny01.mdl", 64);
    g.I32(0);
    w.Set32(seq + 124, static_cast<std::int32_t>(g.Here()));
    studio::Animation(g, s);
    g.Set32(72, static_cast<std::int32_t>(g.bytes.size()));
    out.group = std::move(g.bytes);
  }

  // The body part, its submodel, mesh, vertices and strip.
  w.Set32(204, 1);
  w.Set32(208, static_cast<std::int32_t>(w.Here()));
  w.Text("body", 64);
  w.I32(1);
  w.I32(1);
  w.I32(static_cast<std::int32_t>(w.Here() + 4));
  const std::size_t submodel = w.Here();
  w.Text("body0", 64);
  w.Zeros(112 - 64);
  w.Set32(submodel + 72, s.textures);
  w.Set32(submodel + 76, static_cast<std::int32_t>(w.Here()));
  const std::size_t mesh = w.Here();
  w.Zeros(20 * static_cast<std::size_t>(s.textures));
  for (int t = 0; t < s.textures; ++t) {
    w.Set32(mesh + 20 * t, static_cast<std::int32_t>(s.strip.size() >= 2 ? s.strip.size() - 2 : 0));
    w.Set32(mesh + 20 * t + 8, t);  // skin reference
  }
  w.Set32(submodel + 80, static_cast<std::int32_t>(s.vertices.size()));
  w.Set32(submodel + 84, static_cast<std::int32_t>(w.Here()));
  w.Zeros(s.vertices.size());  // every vertex on bone 0
  w.Set32(submodel + 88, static_cast<std::int32_t>(w.Here()));
  for (const auto& v : s.vertices)
    for (float c : v) w.F32(c);
  for (int t = 0; t < s.textures; ++t) w.Set32(mesh + 20 * t + 4, static_cast<std::int32_t>(w.Here()));
  const auto count = static_cast<std::int16_t>(s.strip.size());
  w.I16(s.fan ? static_cast<std::int16_t>(-count) : count);
  for (std::size_t i = 0; i < s.strip.size(); ++i) {
    w.I16(s.strip[i]);
    w.I16(0);
    w.I16(static_cast<std::int16_t>(i % 2 ? s.textureWidth : 0));  // s, in pixels
    w.I16(static_cast<std::int16_t>(i >= 2 ? s.textureHeight : 0));
  }
  w.I16(0);

  if (s.externalTextures) {
    CWriter t;
    studio::Header(t, "tinyT.mdl");
    studio::Textures(t, s);
    t.Set32(72, static_cast<std::int32_t>(t.bytes.size()));
    out.textures = std::move(t.bytes);
  } else {
    studio::Textures(w, s);
  }
  w.Set32(72, static_cast<std::int32_t>(w.bytes.size()));
  out.model = std::move(w.bytes);
  return out;
}

}  // namespace tarn::test
