// Half-Life's studio models (".mdl" starting "IDST", version 10) read by Tarn itself. The layout
// is the one the Half-Life SDK's engine/studio.h describes (read for the layout only: its licence
// lets no code be taken). Assimp 5.2.5 has an importer for these too, but Tarn does not use it:
// Tarn lets Assimp read four formats only, after altered files crashed its other importers, and a
// studio model's textures ("NAMEt.mdl") and sequence groups ("NAME01.mdl") are files of their own
// that come from inside an archive, which Assimp's file system would not see without plumbing of
// its own. Every offset and count is checked against the file it points into.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "models/ModelBuild.h"
#include "pictures/ImageDecode.h"

namespace tarn {

// What the first bytes say a studio file is: a model, the textures of one kept apart
// ("NAMEt.mdl": textures and no body), or one of its sequence groups ("NAME01.mdl", "IDSQ").
enum class StudioFileKind { None, Model, Textures, SequenceGroup };
StudioFileKind SniffStudioFile(std::span<const std::uint8_t> bytes);

// Why a file starting "IDST" or "IDSQ" is not a model to show on its own; empty when it is one.
std::string StudioFileProblem(std::span<const std::uint8_t> bytes);

// The counts "info" shows.
struct StudioCounts {
  std::size_t bones = 0, bodyParts = 0, meshes = 0, triangles = 0, textures = 0, skinFamilies = 0, sequences = 0,
              sequenceGroups = 0;
};

struct StudioModel {
  // Submodel 0 of each body part: the vertices the meshes' strips and fans use, posed by each
  // sequence's frames (in Half-Life's axes, which are Quake's: z up).
  SourceModel source;
  std::vector<std::string> animations;  // the sequences sampled, by their names
  RgbaImage skin;                       // skin family 0's texture that most triangles use
  bool textured = false;
  StudioCounts counts;
  std::vector<std::string> warnings;  // what was read but left out, and why
};

// A file kept beside the model, by its name alone ("manT.mdl", "man01.mdl"); false when there is
// none.
using StudioFiles = std::function<bool(const std::string& name, std::vector<std::uint8_t>& out)>;

struct StudioReadOptions {
  std::string stem;    // the model's file name without ".mdl": the other files are named after it
  double fps = 10;     // how often each sequence is sampled; 0: each of its frames once
  bool frames = true;  // false: the structure and counts only, no frame posed
};

// False with a one-line reason, "Half-Life model: ...", when the bytes are not a studio model
// this reads whole.
bool ReadStudioModel(std::span<const std::uint8_t> bytes, const StudioReadOptions& options, const StudioFiles& files,
                     StudioModel& out, std::string* error);

}  // namespace tarn
