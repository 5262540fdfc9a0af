// MD5 models (".md5mesh" with its ".md5anim", MD5Version 10, the text files the 2021 Quake
// re-release ships beside its MDLs) read by Tarn itself. Assimp 5.2.5 has an MD5 importer, but
// its own test files of broken MD5s (test/models/MD5/invalid: a vertex, weight or triangle index
// past its array) are read past their arrays by it, and it finds the animation only by opening
// the mesh's name with ".md5anim" through its file system. Here every count is held against a
// limit before anything is made for it and every index against its array.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "models/ModelBuild.h"

namespace tarn {

// Far past any model the games draw, and short of what a few bytes of text could make a reader
// allocate.
inline constexpr std::size_t kMaxMd5Joints = 1024;
inline constexpr std::size_t kMaxMd5Meshes = 256;
inline constexpr std::size_t kMaxMd5Vertices = std::size_t{1} << 20;  // all meshes together
inline constexpr std::size_t kMaxMd5Weights = std::size_t{1} << 22;
inline constexpr std::size_t kMaxMd5Triangles = std::size_t{1} << 21;

// An animation file and the name its frames go by (the file's name without its extension).
struct Md5Animation {
  std::string name;
  std::span<const std::uint8_t> bytes;
};

struct Md5Model {
  // Every mesh's vertices, skinned at each frame of each animation that fits the mesh's
  // skeleton (one frame a frame of the file, as the ports draw the re-release's: frame N of the
  // MDL is pose N of the .md5anim), or the mesh as it is bound when none does. MD5 is z up, the
  // games' axes.
  SourceModel source;
  std::vector<std::string> animations;      // the animations read, as named
  std::vector<std::string> shaders;         // each mesh's shader, in the file's order
  std::vector<std::uint32_t> triangleMesh;  // the mesh each of source's triangles is of
  std::string material;                     // the shader of the mesh with the most triangles
  std::size_t joints = 0, meshes = 0;
  std::vector<std::string> warnings;  // animations left out, and why
};

// The mesh posed by each of anims in turn. An animation that cannot be read or poses another
// skeleton is left out with a warning. False with a one-line reason when the mesh is not one
// this reads.
bool ReadMd5(std::span<const std::uint8_t> mesh, const std::vector<Md5Animation>& anims, Md5Model& out,
             std::string* error);

// The .md5anim a mesh comes with: the mesh's path with ".md5anim" in place of its extension
// (progs/ogre.md5mesh, progs/ogre.md5anim), where the re-release puts it and the ports that draw
// it (Ironwail's MD5Anim_Begin, vkQuake, FTE) open it; the re-release has one animation a model,
// its frames those of the MDL.
std::string Md5AnimationPath(const std::string& meshPath);

// The re-release's names for a mesh's skin pictures: "SHADER_SS_FF" in the mesh's folder (SS
// the skin, FF its frame; Ironwail's Mod_LoadMD5Skins), without an extension.
std::string Md5SkinName(const std::string& shader, int skin);

}  // namespace tarn
