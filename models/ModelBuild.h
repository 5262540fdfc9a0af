// Quake (".mdl") and Quake II (".md2") models made from a model of floating-point frames: the
// positions quantised to the formats' byte grid, normals matched to the games' 162, texture
// coordinates turned into skin pixels (with MDL's seam flag), frames named after their
// animation, and the files written. The reading of modelling programs' files is elsewhere
// (ModelImport); everything here works on plain numbers, so it can be fuzzed without them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "models/Model.h"

namespace tarn {

// A corner of a source triangle: the vertex it stands on and its texture coordinate (0 to 1,
// v growing downwards, as the skin's rows do).
struct SourceCorner {
  std::uint32_t vertex = 0;
  float u = 0, v = 0;
};

struct SourceFrame {
  std::string name;
  std::vector<float> positions;  // x, y, z for each vertex, in the games' axes (z up)
};

struct SourceModel {
  std::size_t vertexCount = 0;
  std::vector<std::array<SourceCorner, 3>> triangles;  // wound as the games wind them
  std::vector<SourceFrame> frames;
};

// A vertex on the byte grid with the index of its normal.
struct PackedVertex {
  std::uint8_t v[3] = {0, 0, 0};
  std::uint8_t normal = 0;
};

struct PackedFrame {
  std::string name;
  float scale[3] = {1, 1, 1}, origin[3] = {0, 0, 0};
  std::vector<PackedVertex> vertices;
};

// A model ready to write. For an MDL, texCoords has one entry a vertex (with onseam) and the
// triangles carry facesFront; for an MD2, triangles name a texture coordinate per corner.
struct PackedModel {
  int format = ModelData::kMdl;
  int skinWidth = 0, skinHeight = 0;
  std::vector<std::uint8_t> skin;  // MDL: skinWidth × skinHeight palette indices
  std::string skinPath;            // MD2: the PCX file the game loads
  std::vector<ModelVertex> texCoords;
  std::vector<ModelTriangle> triangles;
  std::size_t vertexCount = 0;
  std::vector<PackedFrame> frames;
  // Limits of the games' own engines the model goes past: it is still written, as source
  // ports load more.
  std::vector<std::string> warnings;
};

// The nearest of the 162 normals to a direction (index 0 for a zero or non-finite one).
int NearestNormal(float x, float y, float z);

// Names for count frames of an animation: its name kept to letters and '_' (the games' frame
// macros and Tarn's animation list cut a frame's name at its first digit), with no '_' at
// either end, lower case, cut so that the number fits 15 characters, then numbered from 1:
// run1, run2, ... An empty name becomes "frame". taken holds the stems used so far; a stem
// already taken gets a letter.
std::vector<std::string> FrameNames(const std::string& animation, std::size_t count, std::vector<std::string>& taken);

// The model on the format's grid: one scale and origin for every frame of an MDL, one per frame
// for an MD2, each filling the 0-255 range of every axis. Vertices that land on the same bytes
// in every frame become one. skinWidth and skinHeight give texture coordinates their pixels.
// False with a reason when the model cannot be written (no triangles, a vertex that is not a
// finite number, more than the format can count).
bool PackModel(const SourceModel& source, int format, int skinWidth, int skinHeight, PackedModel& out,
               std::string* error);

// The files. The MD2 carries drawing commands (one strip per triangle) since Quake II's GL
// renderer draws from them.
std::vector<std::uint8_t> WriteMdl(const PackedModel& model);
std::vector<std::uint8_t> WriteMd2(const PackedModel& model);

}  // namespace tarn
