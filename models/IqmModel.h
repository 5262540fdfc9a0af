// Inter-Quake models (".iqm", version 2, as the format's iqm.txt lays it out) read by Tarn
// itself: Assimp 5.2.5 reads none of their skeletal animations and checks none of their
// offsets. Every table is checked against the file before it is read.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "models/ModelBuild.h"

namespace tarn {

// More frames than this is a file asking for more than any engine loads (Quake II's 512 is the
// most); it would only fill memory.
inline constexpr std::size_t kMaxImportFrames = 1024;
// Positions held while sampling (vertices times frames): far past any model the games load,
// and short of filling memory with a file that asks for more.
inline constexpr std::size_t kMaxImportPositions = std::size_t{1} << 25;
// Files keep times in single precision: an animation of 4.2 s may end at 4.1999976 s, and
// still has its sample at 4.2 s.
inline constexpr double kSampleSlack = 1e-3;

struct IqmModel {
  // The vertices the meshes' triangles use, in the games' axes (IQM's own: z up); frames as
  // the animations are sampled, or the model at rest when it has none.
  SourceModel source;
  std::vector<std::string> animations;
  std::string material;               // the material (a texture's name) most triangles use
  std::vector<std::string> warnings;  // what was read but left out, and why
};

// The model with each animation sampled fps times a second (both ends included) into frames
// named after it, the skeleton's poses blended between the file's frames. False with a
// one-line reason when the bytes are not an IQM this reads whole.
bool ReadIqm(std::span<const std::uint8_t> bytes, double fps, IqmModel& out, std::string* error);

}  // namespace tarn
